#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/U4ConfigTable.h"
#include "device/DebugLog.h"
#include "tests/support/TestPlatform.h"

namespace {

std::vector<uint8_t> bytes(const uint8_t* image) { return std::vector<uint8_t>(image, image + DEV_CONFIG_SIZE); }

IniRecord usb4Settings()
{
    IniRecord ini{};
    ini.config_format = 3;
    ini.USB4_VendorName.set("Korvane");
    ini.USB4_ModelName.set("857x");
    ini.USB4_ComponentID.set("FFFFFFFFFFF");
    ini.USB4_VendorID.set("ABCD");
    ini.USB4_ProductID.set("1234");
    ini.USB4_TestID.set("00000666");
    ini.USB4_BcdProductFWRevision.set("3915");
    ini.USB4_ProductHWRevision.set("5a");  // lower case reads as 0x5A
    ini.USB4_MinorFWVersion.set("FF");
    ini.USB4_TBT3VendorID.set("00E7");
    ini.USB4_TBT3ModelID.set("8573");
    ini.USB4_TBT3ModelRevision.set("E3");
    ini.PCIE_VendorID.set("2C4B");
    ini.PCIE_DeviceID.set("8573");
    ini.USB4_U4Mode = 5;  // above 3: mode code 3
    ini.USB4_20G = 1;
    ini.USB4_X2 = 1;
    ini.USB4_CLx = 3;
    return ini;
}

// A port image carrying the component ID `id` (bytes 84..89).
void carryID(DevInfo& port, const char* id, uint8_t topNibble = 0xC)
{
    std::memset(port.m_ucU4Config, 0xFF, sizeof port.m_ucU4Config);
    auto digit = [&](int i) { return uint8_t(id[i] <= '9' ? id[i] - '0' : id[i] - 'A' + 10); };
    port.m_ucU4Config[89] = uint8_t(topNibble << 4 | digit(0));
    for (int pair = 0; pair < 5; ++pair)
        port.m_ucU4Config[88 - pair] = uint8_t(digit(1 + 2 * pair) << 4 | digit(2 + 2 * pair));
}

class U4ConfigTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        vDEBUG_SetLevel(4);
        krv::LocalTime date;
        date.year = 2023;
        date.month = 9;
        date.day = 15;
        date.hour = 10;
        platform.virtualClock().pinLocalTime(date);
    }
    void TearDown() override { vDEBUG_SetLevel(0); }

    krv::test::TestPlatform platform;
    ConfigImage image;
};

TEST_F(U4ConfigTable, ImageByteForByteForADriveWithItsOwnID)
{
    // Component ID 123456789AB: d0 = 1 in byte 89 with mode 3 and both options
    // (1 + 0x30 + 0xC0 = 0xF1), pairs 23 45 67 89 AB in bytes 88 down to 84.
    // Each "%X" field is 32 bits wide, so 94 overwrites the VID's upper half,
    // 102/103 follow the BCD revision, 113-115 are 0xFF again after the TBT3
    // model ID. Built for port 3 while 3 devices are present.
    const std::vector<uint8_t> expected = {
        0xFF, 0xFF, 0xFF, 0xFF, 0x4B, 0x6F, 0x72, 0x76, 0x61, 0x6E, 0x65, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 0
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 16
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x38, 0x35, 0x37, 0x78,  // 32
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 48
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 64
        0xFF, 0xFF, 0xFF, 0xFF, 0xAB, 0x89, 0x67, 0x45, 0x23, 0xF1, 0xFF, 0xFF, 0xCD, 0xAB, 0x34, 0x12,  // 80
        0x66, 0x06, 0x00, 0x00, 0x15, 0x39, 0x5A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xE7, 0x00, 0x73, 0x85,  // 96
        0xE3, 0xFF, 0xFF, 0xFF, 0x4B, 0x2C, 0x73, 0x85, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x03, 0xA5, 0x43,  // 112
    };
    IniRecord ini = usb4Settings();
    U4ConfigTexts texts = U4ConfigTexts::FromIni(ini);
    DevInfo port;
    carryID(port, "123456789AB");
    vBuildU4ConfigForPort(ini, texts, port, 3, 3, image);
    EXPECT_EQ(bytes(image), expected);
    EXPECT_EQ(bytes(port.m_ucU4Config), expected);
    EXPECT_EQ(texts.m_strU4ComponentID, "123456789AB");
    EXPECT_EQ(ini.USB4_ComponentID_EditType, 0);
    EXPECT_TRUE(platform.capture().contains("kpcid[123456789AB]"));
}

TEST_F(U4ConfigTable, PlaceholderIDsGetANewDatedOne)
{
    for (const char* placeholder : {"00000000000", "FFFFFFFFFFF", "CCDDEEFF321", "AAAABBBBCCC"}) {
        IniRecord ini = usb4Settings();
        U4ConfigTexts texts = U4ConfigTexts::FromIni(ini);
        DevInfo port;
        carryID(port, placeholder);
        vBuildU4ConfigForPort(ini, texts, port, 1, 0, image);
        EXPECT_EQ(ini.USB4_ComponentID_EditType, 5) << placeholder;
        ASSERT_EQ(texts.m_strU4ComponentID.size(), 11u) << placeholder;
        EXPECT_EQ(texts.m_strU4ComponentID.substr(0, 4), "390F") << placeholder;
        EXPECT_EQ(texts.m_strU4ComponentID.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        // The image carries the new ID, and the mode bits of the settings.
        EXPECT_EQ(strComponentIDOfU4Config(image), texts.m_strU4ComponentID);
        EXPECT_EQ(image[89] >> 4, 0xF);
        EXPECT_EQ(image[89] & 0xF, 3);  // d0: the year's last digit
        EXPECT_EQ(image[88], 0x90);     // d1 d2: September, the day's first digit
        EXPECT_EQ(image[87] >> 4, 0xF); // d3: the day's second digit (15 = 0F)
    }

    // Two ports of one start get different IDs, though built in the same second.
    IniRecord ini = usb4Settings();
    U4ConfigTexts texts = U4ConfigTexts::FromIni(ini);
    DevInfo first, second;
    carryID(first, "FFFFFFFFFFF");
    carryID(second, "FFFFFFFFFFF");
    vBuildU4ConfigForPort(ini, texts, first, 2, 0, image);
    const std::string firstID = texts.m_strU4ComponentID;
    vBuildU4ConfigForPort(ini, texts, second, 2, 1, image);
    EXPECT_NE(texts.m_strU4ComponentID, firstID);
    // A second build finds the ID just given and keeps it.
    const std::string given = texts.m_strU4ComponentID;
    ini.USB4_ComponentID_EditType = 0;
    vBuildU4ConfigForPort(ini, texts, second, 2, 1, image);
    EXPECT_EQ(texts.m_strU4ComponentID, given);
    EXPECT_EQ(ini.USB4_ComponentID_EditType, 0);
}

TEST_F(U4ConfigTable, ModeAndOptionBits)
{
    const struct {
        int32_t mode;
        int32_t opt20G;
        int32_t optX2;
        int32_t clx;
        uint8_t byte89;
        uint8_t byte90;
    } cases[] = {
        {0, 0, 0, 4, 0x01, 0x00}, {1, 0, 0, 3, 0x11, 0xFF}, {2, 1, 0, 3, 0x61, 0xFF},
        {3, 0, 1, 3, 0xB1, 0xFF}, {7, 1, 1, 0, 0xF1, 0xFC}, {-1, 1, 1, 3, 0xF1, 0xFF},
    };
    for (const auto& c : cases) {
        IniRecord ini = usb4Settings();
        ini.USB4_U4Mode = c.mode;
        ini.USB4_20G = c.opt20G;
        ini.USB4_X2 = c.optX2;
        ini.USB4_CLx = c.clx;
        vFillU4ConfigTable(ini, U4ConfigTexts::FromIni(ini), "123456789AB", 1, 0, image);
        EXPECT_EQ(image[89], c.byte89) << c.mode;
        EXPECT_EQ(image[90], c.byte90) << c.mode;
        EXPECT_EQ(image[127], ucConfigChecksum(image));
    }
}

TEST_F(U4ConfigTable, NamesAreCutToTheirFields)
{
    IniRecord ini = usb4Settings();
    U4ConfigTexts texts = U4ConfigTexts::FromIni(ini);
    texts.m_strU4VendorName = std::string(45, 'V');
    texts.m_strU4ModelName = std::string(100, 'M');
    vFillU4ConfigTable(ini, texts, "123456789AB", 1, 0, image);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image + 4), 40), std::string(40, 'V'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image + 44), 40), std::string(40, 'M'));
    EXPECT_EQ(image[84], 0xAB);
}

TEST_F(U4ConfigTable, RelinkSignatureKeepsTheChecksumRight)
{
    IniRecord ini = usb4Settings();
    vFillU4ConfigTable(ini, U4ConfigTexts::FromIni(ini), "123456789AB", 3, 3, image);
    vSetRelinkSignatureAndChkSum(image, 5, 3);
    EXPECT_EQ(image[124], 5);
    EXPECT_EQ(image[125], 3);
    // 0x43 from the full image above, with byte 124 two higher.
    EXPECT_EQ(image[127], 0x45);
}

TEST_F(U4ConfigTable, FieldLengthCheck)
{
    const U4ConfigTexts good = U4ConfigTexts::FromIni(usb4Settings());
    EXPECT_EQ(strUSB4FieldLengthFailure(good), "");
    EXPECT_TRUE(bCheckUSB4FieldLength(good));

    struct Case {
        std::string U4ConfigTexts::*field;
        const char* value;
        const char* message;
    };
    const Case cases[] = {
        {&U4ConfigTexts::m_strU4ComponentID, "FFFFFFFFFF", "USB4 Component ID lenth check fail"},
        {&U4ConfigTexts::m_strU4VendorID, "ABC", "USB4 vendor ID lenth check fail"},
        {&U4ConfigTexts::m_strU4VendorID, "12G4", "USB4 vendor ID lenth check fail"},
        {&U4ConfigTexts::m_strU4ProductID, "12345", "USB4 product ID lenth check fail"},
        {&U4ConfigTexts::m_strU4TestID, "0666", "USB4 test ID lenth check fail"},
        {&U4ConfigTexts::m_strU4BcdProductFWRevision, "", "USB4 device release number lenth check fail"},
        {&U4ConfigTexts::m_strU4ProductHWRevision, "5", "USB4 major fw version lenth check fail"},
        {&U4ConfigTexts::m_strU4MinorFWVersion, "FFF", "USB4 minor fw version lenth check fail"},
        {&U4ConfigTexts::m_strU4TBT3VendorID, "0E7", "USB4 TBT3 vendor ID lenth check fail"},
        {&U4ConfigTexts::m_strU4TBT3ModelID, "85733", "USB4 TBT3 model ID lenth check fail"},
        {&U4ConfigTexts::m_strU4TBT3ModelRevision, "E", "USB4 TBT3 model revision lenth check fail"},
    };
    for (const Case& c : cases) {
        U4ConfigTexts texts = good;
        texts.*c.field = c.value;
        EXPECT_EQ(strUSB4FieldLengthFailure(texts), c.message) << c.value;
    }
    // The first failing field in table order is the one reported.
    U4ConfigTexts two = good;
    two.m_strU4ComponentID = "ABC";
    two.m_strU4TBT3ModelRevision = "";
    EXPECT_EQ(strUSB4FieldLengthFailure(two), "USB4 Component ID lenth check fail");
    EXPECT_FALSE(bCheckUSB4FieldLength(two));
    // Names and PCIe identities have no length of their own.
    U4ConfigTexts unchecked = good;
    unchecked.m_strU4VendorName = "";
    unchecked.m_strU4PcieDeviceID = "1";
    EXPECT_TRUE(bCheckUSB4FieldLength(unchecked));
}

}  // namespace
