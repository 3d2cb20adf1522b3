// The device-access object's own state: configuration images, the string-
// descriptor cache, the scan-start reset, the text conversions, the open rule
// and the exit step.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "device/KrvnUSBDev.h"
#include "device/KrvnUSBDevWalkState.h"
#include "device/USBUtility.h"
#include "tests/device/UtilityTestSupport.h"

namespace {

class UsbDevObject : public ::testing::Test {
protected:
    void SetUp() override { vDEBUG_SetLevel(4); }
    void TearDown() override { vDEBUG_SetLevel(0); }

    krv::test::TestPlatform platform;
    CKrvnUSBDev dev;
};

TEST_F(UsbDevObject, SetMConfigInfoCopiesTheTemplateOfTheTypeAndRefusesAnEmptyOne)
{
    for (int t = 0; t < CONFIG_TEMPLATE_COUNT; ++t)
        std::memset(dev.m_ucConfigTableTemplate[t], 0x10 + t, CONFIG_BIN_SIZE);
    struct Case {
        uint8_t ucType;
        int nTemplate;
    } cases[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 2}};
    for (const Case& c : cases) {
        std::memset(dev.m_ucConfigTable, 0xEE, CONFIG_BIN_SIZE);
        EXPECT_TRUE(dev.vSetMConfigInfo(0, c.ucType)) << int(c.ucType);
        EXPECT_EQ(dev.m_ucConfigTable[0], 0x10 + c.nTemplate) << int(c.ucType);
        EXPECT_EQ(dev.m_ucConfigTable[127], 0x10 + c.nTemplate) << int(c.ucType);
    }

    EXPECT_TRUE(dev.vSetMConfigInfo(1, 3));
    EXPECT_EQ(dev.m_ucConfigTable[0], 0);

    std::memset(dev.m_ucConfigTable, 0xEE, CONFIG_BIN_SIZE);
    EXPECT_FALSE(dev.vSetMConfigInfo(0, 5));
    EXPECT_EQ(dev.m_ucConfigTable[64], 0);
    EXPECT_TRUE(platform.capture().contains("vSetMConfigInfo: ConfigType not accure, ucSelectConfigType : 5"));

    // The second template is never built by a format that uses it: no image
    // of zeros may be taken for a configuration.
    std::memset(dev.m_ucConfigTableTemplate[1], 0, CONFIG_BIN_SIZE);
    std::memset(dev.m_ucConfigTable, 0xEE, CONFIG_BIN_SIZE);
    EXPECT_FALSE(dev.vSetMConfigInfo(0, 2));
    EXPECT_EQ(dev.m_ucConfigTable[0], 0);
}

TEST_F(UsbDevObject, FieldLengthsAreTheSameForEveryFormat)
{
    for (uint8_t ucFormat : {0, 1, 3, 4}) {
        CKrvnUSBDev d;
        EXPECT_TRUE(d.vSetDefaultConfigFieldLength(ucFormat));
        EXPECT_EQ(d.m_ucConfig_SN_Len, 20);
        EXPECT_EQ(d.m_ucConfig_Manufacturer_Len, 36);
        EXPECT_EQ(d.m_ucConfig_Product_Len, 32);
    }
}

TEST_F(UsbDevObject, StringDescriptorCacheNeverLendsASerialToAnotherPlace)
{
    dev.vAddStringDescriptorCache("1D6B", "8574", "Maker", "Disk", "SN-A", "hub1:2");
    dev.vAddStringDescriptorCache("1D6B", "8574", "Maker", "Disk", "SN-A", "hub1:2");   // duplicate
    dev.vAddStringDescriptorCache("1D6B", "8574", "Maker", "Disk", "", "hub1:3");       // no serial

    EXPECT_EQ(dev.bFindStringDescriptorCache("1D6B", "8574", "Maker", "Disk", "hub1:2"), "SN-A");
    // Same model on another port: nothing borrowed.
    EXPECT_EQ(dev.bFindStringDescriptorCache("1D6B", "8574", "Maker", "Disk", "hub1:3"), "");
    // Case counts.
    EXPECT_EQ(dev.bFindStringDescriptorCache("1d6b", "8574", "Maker", "Disk", "hub1:2"), "");

    // Fifteen more distinct devices fill the cache; the seventeenth is not kept.
    for (int i = 0; i < 16; ++i)
        dev.vAddStringDescriptorCache("1D6B", "8574", "Maker", "Disk", "SN" + std::to_string(i),
                                      "p" + std::to_string(i));
    EXPECT_EQ(dev.bFindStringDescriptorCache("1D6B", "8574", "Maker", "Disk", "p14"), "SN14");
    EXPECT_EQ(dev.bFindStringDescriptorCache("1D6B", "8574", "Maker", "Disk", "p15"), "");

    dev.vClearStringDescriptorCache();
    EXPECT_EQ(dev.bFindStringDescriptorCache("1D6B", "8574", "Maker", "Disk", "hub1:2"), "");
}

TEST_F(UsbDevObject, ClearPrivateDataEmptiesEverySlotAndTheCurrentImage)
{
    DevList list;
    list.DevNums = 2;
    list.m_bScanFoundCDROMOnly = 1;
    for (DevInfo& d : list.Devs) {
        d.m_ucPortIndex = 1;
        d.m_iPortLocation = 12;
        d.m_ullCapacity = 100;
        d.m_bConfigCheckResult = 1;
    }
    dev.m_pDevList = &list;
    std::memset(dev.m_ucConfigTable, 0x33, CONFIG_BIN_SIZE);
    std::memset(dev.m_ucConfigTableTemplate[0], 0x33, CONFIG_BIN_SIZE);
    std::memset(dev.m_ucConfigTableTemplate[2], 0x44, CONFIG_BIN_SIZE);
    dev.vAddStringDescriptorCache("A", "B", "C", "D", "E", "F");

    dev.vClearPrivateData();

    EXPECT_EQ(list.DevNums, 0);
    EXPECT_EQ(list.m_bScanFoundCDROMOnly, 0);
    for (const DevInfo& d : list.Devs) {
        EXPECT_EQ(d.m_ucPortIndex, 0xFF);
        EXPECT_EQ(d.m_iPortLocation, -1);
        EXPECT_EQ(d.m_ullCapacity, DEV_CAPACITY_UNKNOWN);
        EXPECT_EQ(d.m_bConfigCheckResult, 1);
    }
    EXPECT_EQ(dev.m_ucConfigTable[9], 0);
    EXPECT_EQ(dev.m_ucConfigTableTemplate[0][9], 0);
    EXPECT_EQ(dev.m_ucConfigTableTemplate[2][9], 0x44);
    EXPECT_EQ(dev.bFindStringDescriptorCache("A", "B", "C", "D", "F"), "");

    // Without a table it only logs.
    CKrvnUSBDev noTable;
    noTable.vClearPrivateData();
}

TEST_F(UsbDevObject, HexTextBecomesTheCharactersItSpells)
{
    struct Case {
        const char* pszHex;
        const char* pszText;
    } cases[] = {{"414243", "ABC"}, {"41424", "AB"}, {"4", ""}, {"", ""}, {"6a6B", "jk"}, {"41G242", "A"}};
    for (const Case& c : cases)
        EXPECT_EQ(CKrvnUSBDev::strHexToASCII(c.pszHex), c.pszText) << c.pszHex;
}

TEST_F(UsbDevObject, StringDescriptorTextStaysInsideTheDescriptor)
{
    // "Ab" then a non-printable unit, then a zero unit.
    const uint8_t ucText[] = {10, 3, 'A', 0, 'b', 0, 0xE9, 0, 0, 0, 'X', 0};
    EXPECT_EQ(CKrvnUSBDev::strStringDescriptorText(ucText, sizeof ucText), "Ab2");
    // No terminator: bLength ends it, not the bytes after it.
    const uint8_t ucNoEnd[] = {6, 3, 'O', 0, 'K', 0, 'Z', 0, 'Z', 0};
    EXPECT_EQ(CKrvnUSBDev::strStringDescriptorText(ucNoEnd, sizeof ucNoEnd), "OK");
    // A short answer ends it too, whatever bLength claims.
    EXPECT_EQ(CKrvnUSBDev::strStringDescriptorText(ucNoEnd, 4), "O");
    EXPECT_EQ(CKrvnUSBDev::strStringDescriptorText(ucNoEnd, 1), "");
}

TEST_F(UsbDevObject, RegistryPropertiesAsText)
{
    const uint8_t ucSz[] = {'U', 'S', 'B', 0, 'x', 0};
    const uint8_t ucDword[] = {0x02, 0x01, 0x04, 0x03};
    EXPECT_EQ(CKrvnUSBDev::strRegistryPropertyText(1, 12, ucSz, sizeof ucSz), "USB");
    EXPECT_EQ(CKrvnUSBDev::strRegistryPropertyText(7, 1, ucSz, sizeof ucSz), "USB");
    EXPECT_EQ(CKrvnUSBDev::strRegistryPropertyText(4, 28, ucDword, 4), "65538 196612");
    EXPECT_EQ(CKrvnUSBDev::strRegistryPropertyText(4, 21, ucDword, 4), "50594050");
    EXPECT_EQ(CKrvnUSBDev::strRegistryPropertyText(4, 5, ucDword, 4), "2");
    EXPECT_EQ(CKrvnUSBDev::strRegistryPropertyText(3, 5, ucDword, 4), "");
    EXPECT_EQ(CKrvnUSBDev::strRegistryPropertyText(0, 5, ucDword, 4), "");
}

TEST_F(UsbDevObject, TargetPathFollowsTheCdromRule)
{
    DevList list;
    dev.m_pDevList = &list;
    list.Devs[0].m_ucPhysicalAddress = 3;
    list.Devs[1].m_ucPhysicalAddress = 4;
    list.Devs[1].m_ucCDROMAddress = 1;
    list.Devs[1].m_bIsCDROM = 1;
    EXPECT_EQ(dev.strTargetPath(0), "\\\\.\\PHYSICALDRIVE3");
    EXPECT_EQ(dev.strTargetPath(1), "\\\\.\\CDROM1");
    EXPECT_EQ(dev.strTargetPath(1, true), "\\\\.\\PHYSICALDRIVE4");
    // A slot without a drive number, and slots outside the table.
    EXPECT_EQ(dev.strTargetPath(2), "");
    EXPECT_EQ(dev.strTargetPath(16), "");
    CKrvnUSBDev noTable;
    EXPECT_EQ(noTable.strTargetPath(0), "");
}

TEST_F(UsbDevObject, DrivePathsParseInEitherCaseAndSeparator)
{
    struct Case {
        const char* pszPath;
        bool bOk;
        krv::DriveKind eKind;
        int nNumber;
    } cases[] = {
        {"\\\\.\\PHYSICALDRIVE3", true, krv::DriveKind::PhysicalDrive, 3},
        {"\\\\.\\PhysicalDrive12", true, krv::DriveKind::PhysicalDrive, 12},
        {"//./cdrom0", true, krv::DriveKind::CdRom, 0},
        {"\\\\.\\PHYSICALDRIVE", false, {}, 0},
        {"\\\\.\\PHYSICALDRIVE1x", false, {}, 0},
        {"\\\\.\\TAPE0", false, {}, 0},
        {"PHYSICALDRIVE1", false, {}, 0},
    };
    for (const Case& c : cases) {
        krv::DriveKind eKind = krv::DriveKind::PhysicalDrive;
        int nNumber = -1;
        EXPECT_EQ(bParseDrivePath(c.pszPath, eKind, nNumber), c.bOk) << c.pszPath;
        if (c.bOk) {
            EXPECT_EQ(eKind, c.eKind) << c.pszPath;
            EXPECT_EQ(nNumber, c.nNumber) << c.pszPath;
        }
    }
}

TEST_F(UsbDevObject, ShutdownRemovesTheTemporaryFirmwareFolderOfAKnownProgramFolderOnly)
{
    namespace fs = std::filesystem;
    krv::test::InTempCurrentFolder cwd;
    krv::test::TempDir program;
    krv::test::writeAll(program.file("KRVFW_Temp/a/fw.bin"), "x");
    krv::test::writeAll(cwd.dir().file("KRVFW_Temp/keep.bin"), "x");
    const std::string strSaved = pUtility.m_szProgramFolder;

    pUtility.m_szProgramFolder.clear();
    dev.vShutdown();
    EXPECT_TRUE(fs::exists(cwd.dir().file("KRVFW_Temp/keep.bin")));

    pUtility.m_szProgramFolder = program.path();
    dev.vShutdown();
    EXPECT_FALSE(fs::exists(program.file("KRVFW_Temp")));
    EXPECT_TRUE(fs::exists(cwd.dir().file("KRVFW_Temp/keep.bin")));
    pUtility.m_szProgramFolder = strSaved;
}

TEST(UsbWalkState, ResetEmptiesTheHubTable)
{
    CUSBWalkState state;
    state.m_ucDevIndex = 4;
    state.m_strSerialNumber = "X";
    state.m_HubTable[3].ulPortCount = 7;
    state.m_HubTable[3].ucPortMark[49] = 1;
    state.vReset();
    EXPECT_EQ(state.m_ucDevIndex, 0);
    EXPECT_TRUE(state.m_strSerialNumber.empty());
    EXPECT_EQ(state.m_HubTable[3].ulPortCount, 0u);
    EXPECT_EQ(state.m_HubTable[3].ucPortMark[49], 0);
}

}  // namespace
