#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/ConfigTable.h"
#include "device/DebugLog.h"
#include "tests/support/TestPlatform.h"

namespace {

std::vector<uint8_t> bytes(const ConfigImage& image)
{
    return std::vector<uint8_t>(image, image + sizeof(ConfigImage));
}

// Settings of a format-1 run: serial counted up in hex, standby 5 with
// WTG, and options of both layouts set so that each layout shows it reads
// only its own.
IniRecord layoutASettings()
{
    IniRecord ini{};
    ini.config_format = 1;
    ini.vendor_id.set("3E9A");
    ini.product_id.set("8573");
    ini.device_revision.set("0100");
    ini.serial_number.set("0000000000AB");
    ini.SN_EditType = 1;
    ini.manufacturer_string.set("Korvane");
    ini.product_string.set("KRV857X series");
    ini.manufacturer_string_T10.set("KRVN");
    ini.product_string_T10.set("KRV857X");
    ini.standby_timer = 5;
    ini.WTG_enable = 1;
    ini.eup_enable = 1;
    ini.hdd_standby = 1;
    ini._2TB_enable = 1;
    ini.USBRemovable_enable = 1;
    ini.LPIfIdle = 3;
    ini.PCIELane = 1;
    return ini;
}

// Settings of a format-3 run: a kept prefix with a decimal count after it,
// a manufacturer string that fills its field exactly, link options.
IniRecord layoutBSettings()
{
    IniRecord ini{};
    ini.config_format = 3;
    ini.vendor_id.set("ABCD");
    ini.product_id.set("1234");
    ini.device_revision.set("0100");
    ini.serial_number.set("AAAABBBB0001");
    ini.SN_EditType = 2;
    ini.SN_remain_value_enable = 1;
    ini.SN_remain_value_length = 8;
    ini.manufacturer_string.set("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    ini.product_string.set("KRV857X series");
    ini.manufacturer_string_T10.set("KRVN");
    ini.product_string_T10.set("KRV857X");
    ini.standby_timer = 11;
    ini.LPIfIdle = 2;
    ini.LPIfU3 = 1;
    ini.PCIESpeed = 2;
    ini.PCIELane = 1;
    ini.PCIEASPM = 3;
    ini.USBRemovable_enable = 1;
    ini.WTG_enable = 1;
    ini.slow_enumeration_enable = 1;
    ini.hdd_standby = 1;
    return ini;
}

class ConfigTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        vDEBUG_SetLevel(4);
        std::memset(image, 0xEE, sizeof image);
    }
    void TearDown() override { vDEBUG_SetLevel(0); }

    krv::test::TestPlatform platform;
    ConfigImage image;
};

TEST_F(ConfigTable, LayoutAByteForByte)
{
    // Serial 0000000000AB + 3 (hex) = 0000000000AE; byte 122 = 0xF5 with bit 4
    // cleared for WTG; byte 125 = 0xFF less eup (1), hdd_standby (3), 2TB (6).
    const std::vector<uint8_t> expected = {
        0xFF, 0xFF, 0xFF, 0xFF, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x41, 0x45,  // 0
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x4B, 0x6F, 0x72, 0x76, 0x61, 0x6E, 0x65, 0xFF,  // 16
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 32
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 48
        0xFF, 0xFF, 0xFF, 0xFF, 0x4B, 0x52, 0x56, 0x38, 0x35, 0x37, 0x58, 0x20, 0x73, 0x65, 0x72, 0x69,  // 64
        0x65, 0x73, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 80
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 96
        0xFF, 0xFF, 0xFF, 0xFF, 0x9A, 0x3E, 0x73, 0x85, 0x00, 0x01, 0xE5, 0xFF, 0x02, 0xB5, 0x5A, 0x4D,  // 112
    };
    ConfigTableSource source;
    source.ucSerialCount = 3;
    const ConfigTableResult result = BuildConfigTable(layoutASettings(), source, image);
    EXPECT_EQ(result.eLayout, EConfigLayout::eLayoutA);
    EXPECT_FALSE(result.bSerialOverflow);
    EXPECT_FALSE(result.bTextCut);
    EXPECT_EQ(bytes(image), expected);
}

TEST_F(ConfigTable, LayoutBByteForByte)
{
    // Prefix AAAABBBB kept, 0001 + 2 (decimal); T10 vendor right after the
    // 36-byte manufacturer; 122 = 0xFB & 0xEF & 0x7F; 123 = ASPM 3, speed 2,
    // lanes 1; 125 = 0xFF less removable (0), WTG (3), slow enumeration (7).
    const std::vector<uint8_t> expected = {
        0xFF, 0xFF, 0xFF, 0xFF, 0x41, 0x41, 0x41, 0x41, 0x42, 0x42, 0x42, 0x42, 0x30, 0x30, 0x30, 0x33,  // 0
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,  // 16
        0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,  // 32
        0x59, 0x5A, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x4B, 0x52, 0x56, 0x4E,  // 48
        0xFF, 0xFF, 0xFF, 0xFF, 0x4B, 0x52, 0x56, 0x38, 0x35, 0x37, 0x58, 0x20, 0x73, 0x65, 0x72, 0x69,  // 64
        0x65, 0x73, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 80
        0xFF, 0xFF, 0xFF, 0xFF, 0x4B, 0x52, 0x56, 0x38, 0x35, 0x37, 0x58, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 96
        0xFF, 0xFF, 0xFF, 0xFF, 0xCD, 0xAB, 0x34, 0x12, 0x00, 0x01, 0x6B, 0xDB, 0x02, 0x76, 0x5A, 0x35,  // 112
    };
    ConfigTableSource source;
    source.ucSerialCount = 2;
    EXPECT_EQ(BuildConfigTable(layoutBSettings(), source, image).eLayout, EConfigLayout::eLayoutB);
    EXPECT_EQ(bytes(image), expected);

    // Format 4 is the same layout.
    IniRecord ini = layoutBSettings();
    ini.config_format = 4;
    ConfigImage four;
    BuildConfigTable(ini, source, four);
    EXPECT_EQ(bytes(four), expected);
}

TEST_F(ConfigTable, StandbyAndOptionBytes)
{
    const struct {
        uint8_t timer;
        uint8_t code;
    } standby[] = {{0, 0xFF}, {1, 0xF1}, {5, 0xF5}, {11, 0xFB}, {12, 0xFF}, {255, 0xFF}};
    for (const auto& c : standby)
        EXPECT_EQ(ucStandbyCode(c.timer), c.code) << int(c.timer);

    // Layout B with every option 0 and no flag.
    IniRecord ini{};
    ini.config_format = 3;
    ini.standby_timer = 3;
    BuildConfigTable(ini, {}, image);
    EXPECT_EQ(image[122], 0xF3 & 0x0F);
    EXPECT_EQ(image[123], 0xC0);
    EXPECT_EQ(image[125], 0xFF);
    // Layout A: standby 0 is all bits; without WTG nothing is cleared.
    ini.config_format = 1;
    ini.standby_timer = 0;
    BuildConfigTable(ini, {}, image);
    EXPECT_EQ(image[122], 0xFF);
    EXPECT_EQ(image[123], 0xFF);

    // Each flag clears exactly its bit; a flag counts when it is not zero.
    struct Flag {
        uint8_t IniRecord::*field;
        int bitA;  // -1: not read by layout A
        int bitB;
    };
    const Flag flags[] = {
        {&IniRecord::USBRemovable_enable, -1, 0}, {&IniRecord::eup_enable, 1, 1},
        {&IniRecord::two_leds_enable, 2, 2},      {&IniRecord::hdd_standby, 3, -1},
        {&IniRecord::WTG_enable, -1, 3},          {&IniRecord::U1U2_enable, 4, 4},
        {&IniRecord::low_power_mode_enable, 5, 5}, {&IniRecord::_2TB_enable, 6, 6},
        {&IniRecord::slow_enumeration_enable, 7, 7},
    };
    for (const Flag& flag : flags) {
        for (uint8_t format : {1, 3}) {
            IniRecord one{};
            one.config_format = format;
            one.*flag.field = 2;
            BuildConfigTable(one, {}, image);
            const int bit = format == 1 ? flag.bitA : flag.bitB;
            EXPECT_EQ(image[125], bit < 0 ? 0xFF : (0xFF & ~(1 << bit))) << "format " << int(format) << " bit " << bit;
            EXPECT_EQ(image[127], ucConfigChecksum(image));
        }
    }
}

TEST_F(ConfigTable, ChecksumCoversBytes4To126Only)
{
    ConfigImage sample;
    std::memset(sample, 0, sizeof sample);
    sample[0] = sample[1] = sample[2] = sample[3] = 0xFF;  // not summed
    sample[127] = 0x77;                                    // not summed
    sample[4] = 0x34;
    sample[126] = 0x12;
    sample[60] = 0xFF;
    sample[61] = 0xFF;
    sample[62] = 0xFF;
    sample[63] = 0xFF;
    // 0x34 + 0x12 + 4 * 0xFF = 0x442.
    EXPECT_EQ(ucConfigChecksum(sample), 0x42);
}

TEST_F(ConfigTable, FormatsThatBuildNothing)
{
    IniRecord ini = layoutASettings();
    ini.config_format = 0;
    EXPECT_EQ(BuildConfigTable(ini, {}, image).eLayout, EConfigLayout::eNone);
    EXPECT_EQ(bytes(image), std::vector<uint8_t>(128, 0xEE));

    for (uint8_t format : {2, 5, 255}) {
        ini.config_format = format;
        platform.capture().clear();
        EXPECT_EQ(BuildConfigTable(ini, {}, image).eLayout, EConfigLayout::eInvalid);
        EXPECT_EQ(bytes(image), std::vector<uint8_t>(128, 0xFF));
        EXPECT_TRUE(platform.capture().contains("InValid Config Table[" + std::to_string(format) + "]"));
    }
}

// The variant's Start words its lines with the handler's name and shows the
// standby byte of each layout; the production tool's shows neither.
TEST_F(ConfigTable, StartTraceOfTheVariant)
{
    const struct {
        IniRecord ini;
        bool trace;
        const char* line;  // present exactly when trace
    } cases[] = {
        {layoutASettings(), true, ": ucStandbyTimer: [0xf5]"},
        {layoutBSettings(), true, ": ucStandbyTimer_Type4: [0xfb]"},
        {layoutBSettings(), true, "OnBnClickedButtonStart: ucThreadCount[3] , pIni.m_pINI.ucConfig_format[3] , "
                                  "ucSerial_number_increase["},
        {layoutASettings(), false, "ucStandbyTimer"},
        {layoutBSettings(), false, "OnBnClickedButtonStart: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        platform.capture().clear();
        ConfigTableSource source;
        source.ucSerialCount = 3;
        source.bStartTrace = c.trace;
        source.bStandbyTrace = c.trace;
        BuildConfigTable(c.ini, source, image);
        EXPECT_EQ(platform.capture().contains(c.line), c.trace);
    }
    IniRecord ini = layoutASettings();
    ini.config_format = 2;
    ConfigTableSource source;
    source.bStartTrace = true;
    platform.capture().clear();
    BuildConfigTable(ini, source, image);
    EXPECT_TRUE(platform.capture().contains(": OnBnClickedButtonStart: InValid Config Table[2]"));
}

TEST_F(ConfigTable, SerialNumberSources)
{
    struct Case {
        uint8_t format;
        uint8_t editType;
        const char* serial;
        int remainEnable;
        int remainLength;
        uint8_t count;
        const char* entered;
        const char* hddsn;
        const char* expected;
        bool overflow;
    };
    const Case cases[] = {
        {1, 1, "0000000000AB", 0, 0, 3, "", "", "0000000000AE", false},
        {3, 2, "000000000099", 0, 0, 1, "", "", "000000000100", false},
        // Layout A takes a typed serial as it stands, for any edit type.
        {1, 1, "0000000000AB", 1, 4, 3, "TYPED-SN", "", "TYPED-SN", false},
        // Layout B ignores it.
        {3, 1, "0000000000AB", 0, 0, 3, "TYPED-SN", "", "0000000000AE", false},
        // Type 4: the disk's serial, no remain rule.
        {3, 4, "0000000000AB", 1, 4, 3, "", "WD-12345", "WD-12345", false},
        // Types 0 and 3 keep the text; the remain rule still counts the rest.
        {3, 0, "USERSN", 0, 0, 3, "", "", "USERSN", false},
        {3, 3, "ZZ12000000FF", 1, 4, 1, "", "", "ZZ12000000FF", true},  // decimal count, hex rest
        {3, 1, "ZZ12000000FF", 1, 4, 1, "", "", "ZZ1200000100", false},
        // A count that runs out of digits is reported.
        {3, 1, "FFFFFFFFFFFF", 0, 0, 1, "", "", "000000000000", true},
        {3, 2, "AAAABBBB0001", 0, 0, 1, "", "", "AAAABBBB0001", true},
        // A prefix longer than the serial keeps it all.
        {3, 1, "ABCD", 1, 20, 1, "", "", "ABCD", true},
    };
    for (const Case& c : cases) {
        IniRecord ini{};
        ini.config_format = c.format;
        ini.SN_EditType = c.editType;
        ini.serial_number.set(c.serial);
        ini.SN_remain_value_enable = c.remainEnable;
        ini.SN_remain_value_length = c.remainLength;
        ConfigTableSource source{c.count, c.entered, c.hddsn};
        const ConfigTableResult result = BuildConfigTable(ini, source, image);
        const std::string field(reinterpret_cast<const char*>(image + 4), std::strlen(c.expected));
        EXPECT_EQ(field, c.expected) << c.serial;
        EXPECT_EQ(image[4 + std::strlen(c.expected)], 0xFF) << c.serial;
        EXPECT_EQ(result.bSerialOverflow, c.overflow) << c.serial;
    }
}

TEST_F(ConfigTable, TextsNeverLeaveTheirFields)
{
    IniRecord ini = layoutBSettings();
    ini.SN_EditType = 4;
    ini.manufacturer_string.set(std::string(60, 'M'));
    ini.product_string.set(std::string(60, 'P'));
    ini.manufacturer_string_T10.set("VENDORXYZ");
    ini.product_string_T10.set(std::string(40, 'T'));
    ConfigTableSource source;
    source.strHDDSN = std::string(30, 'S');
    ConfigTableResult result = BuildConfigTable(ini, source, image);
    EXPECT_TRUE(result.bTextCut);
    const std::string text(reinterpret_cast<const char*>(image), sizeof image);
    EXPECT_EQ(text.substr(4, 20), std::string(20, 'S'));
    EXPECT_EQ(text.substr(24, 36), std::string(36, 'M'));
    EXPECT_EQ(text.substr(60, 8), "VENDORXY");
    EXPECT_EQ(text.substr(68, 32), std::string(32, 'P'));
    EXPECT_EQ(text.substr(100, 16), std::string(16, 'T'));
    EXPECT_EQ(image[116], 0xCD);

    // Layout A: a 36-character manufacturer leaves 60-67 alone; longer ones
    // stop at 67.
    ini = layoutASettings();
    ini.manufacturer_string.set(std::string(36, 'M'));
    BuildConfigTable(ini, {}, image);
    EXPECT_EQ(image[59], 'M');
    for (int i = 60; i < 68; ++i)
        EXPECT_EQ(image[i], 0xFF) << i;
    ini.manufacturer_string.set(std::string(50, 'M'));
    ini.product_string.set(std::string(50, 'P'));
    result = BuildConfigTable(ini, {}, image);
    EXPECT_TRUE(result.bTextCut);
    EXPECT_EQ(image[67], 'M');
    EXPECT_EQ(image[68], 'P');
    EXPECT_EQ(image[115], 'P');
    EXPECT_EQ(image[116], 0x9A);
}

TEST_F(ConfigTable, NumbersAreStoredAs32BitsInTheirOrder)
{
    const struct {
        const char* vid;
        const char* pid;
        const char* rev;
        std::vector<uint8_t> expected;  // bytes 116..121
    } cases[] = {
        {"3e9a", "8573", "0100", {0x9A, 0x3E, 0x73, 0x85, 0x00, 0x01}},
        // "%X" reads up to the first foreign character.
        {"12G4", "8573", "0100", {0x12, 0x00, 0x73, 0x85, 0x00, 0x01}},
        {" 0x3E9A", "8573", "0100", {0x9A, 0x3E, 0x73, 0x85, 0x00, 0x01}},
        // A text that is no number stores nothing: the VID's upper half stays.
        {"3E9A", "ZZZZ", "0100", {0x9A, 0x3E, 0x00, 0x00, 0x00, 0x01}},
        {"3E9A", "8573", "", {0x9A, 0x3E, 0x73, 0x85, 0x00, 0x00}},
        {"", "", "", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        // A number wider than 16 bits spills into the next field until that
        // one is stored.
        {"123456", "", "", {0x56, 0x34, 0x12, 0x00, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        IniRecord ini{};
        ini.config_format = 3;
        ini.vendor_id.set(c.vid);
        ini.product_id.set(c.pid);
        ini.device_revision.set(c.rev);
        BuildConfigTable(ini, {}, image);
        EXPECT_EQ(std::vector<uint8_t>(image + 116, image + 122), c.expected) << c.vid << "/" << c.pid;
        EXPECT_EQ(image[122], 0x0F) << "step 6 overwrites the revision's spill";
        EXPECT_EQ(image[123], 0xC0);
    }
}

}  // namespace
