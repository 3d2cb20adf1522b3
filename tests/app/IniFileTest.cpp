// Whole settings files of both programs, byte for byte against files written
// by hand, and the round trip store -> load.
#include <gtest/gtest.h>

#include "tests/app/IniTestSupport.h"

namespace krv::test {
namespace {

struct ProfileCase {
    const char* name;
    const IniProfile& (*profile)();
    const char* defaultsGolden;
    const char* sampleGolden;
    const char* otherSampleGolden;   // the other program's file
    int countedLines;
};

const ProfileCase kProfiles[] = {
    {"production", &IniProfileProduction, "production_defaults.ini", "production_sample.ini", "variant_sample.ini", 86},
    {"variant", &IniProfileVariant, "variant_defaults.ini", "variant_sample.ini", "production_sample.ini", 101},
};

void PrintTo(const ProfileCase& c, std::ostream* os)
{
    *os << c.name;
}

// The record the sample files hold, field by field as the files spell them.
IniRecord expectedSample(bool bVariant)
{
    IniRecord r = IniRecordCleared();
    r.version = bVariant ? 1007 : 1009;
    r.format_enable = 1;
    r.format_drive_type = 2;
    r.partition_drive_type = 1;
    r.drive_label_name.set("PRODLABEL");
    r.wr_test_enable = 3;
    r.wr_test_binary_name.set("rw/test file.bin");
    r.wr_test_count = 4;
    r.auto_mp = 5;
    r.auto_mp_DevNum = 6;
    r.preload_enable = 7;
    r.preload_folder_path.set("/srv/preload data");
    r.Check_USBStatus_enable = 8;
    r.Check_USBStatus = 9;
    r.Check_SerialNumber = 10;
    r.Auto_Safe_Remove = 11;
    r.Scan_BarCode = 12;
    r.uiRemove_after_finish = -13;
    r.Speed_test_enable = 14;
    r.Scan_HDDSN = 15;
    r.check_config = 16;
    r.SN_EditType = 17;
    r.USB4_ComponentID_EditType = 5;
    r.CmdLineTimeOut = 180;
    if (!bVariant) {
        r.USB4_BcdSync = 19;
        r.Reload_Waiting = 20;
        r.CmdLineNoDevRetryMax = 21;
        r.CmdLineNoDevDelayms = 2200;
    }
    r.read_speed.set("350");
    r.write_speed.set("280");
    r.speed_test_file_size.set("1024");
    r.fw_enable = 23;
    r.fw_binary_name.set("fw\\KV_USB4_1.0.1.4.bin");
    r.fw_reload = 24;
    r.rescan_after_relink = 25;
    r.ext_fw_enable = 26;
    r.pd_fw_enable = 27;
    r.mcu_fw_enable = 28;
    r.pd_binary_name.set("pd/ccg3.cyacd");
    r.mcu_binary_name.set("mcu/mcu.hex");
    r.config_format = 3;
    r.vendor_id.set("1D6B");
    r.product_id.set("0A38");
    r.device_revision.set("0204");
    r.manufacturer_string.set("Maker Co");
    r.product_string.set("Portable SSD");
    r.manufacturer_string_T10.set("MAKERCO");
    r.product_string_T10.set("PSSD T10");
    r.SN_Numbers = 12;
    r.serial_number.set("0123456789ABCDEF");
    r.serial_number_increase = 29;
    r.serial_number_increase_HEX = 30;
    r.serial_number_increase_DEC = 31;
    r.SN_fix_length = 16;
    r.SN_remain_value_enable = 32;
    r.SN_remain_value_length = 4;
    r.standby_timer = 5;
    r.image0 = 1;
    r.USB4_VendorName.set("Maker USB4");
    r.USB4_ModelName.set("Model 9");
    r.USB4_VendorID.set("1D6C");
    r.USB4_ProductID.set("0A39");
    r.USB4_TestID.set("12345678");
    r.USB4_BcdProductFWRevision.set("0104");
    r.USB4_ProductHWRevision.set("7B");
    r.USB4_TBT3VendorID.set("00E8");
    r.USB4_TBT3ModelID.set("8574");
    r.USB4_TBT3ModelRevision.set("E4");
    r.USB4_U4Mode = 2;
    r.PCIE_Scan = 2;
    r.PCIE_VendorID.set("1B21");
    r.PCIE_DeviceID.set("2463");
    r.PCIE_SSDRelinkTime = 33;
    r.cd_rom_mode = 34;
    r.target_chip.set("4382");
    if (bVariant) {
        r.USBRemovable_enable = 41;
        r.eup_enable = 42;
        r.two_leds_enable = 43;
        r.WTG_enable = 44;
        r.U1U2_enable = 45;
        r.low_power_mode_enable = 46;
        r._2TB_enable = 47;
        r.slow_enumeration_enable = 48;
        r.LPIfIdle = 49;
        r.LPIfU3 = 50;
        r.PCIEASPM = 51;
        r.PCIESpeed = 52;
        r.PCIELane = 53;
        r.USB4_ComponentID.set("0123456789A");
        r.USB4_MinorFWVersion.set("FF12");
        r.USB4_20G = 0;
        r.USB4_X2 = 1;
        r.USB4_CLx = 2;
    } else {
        // The production file has no keys for these; every load sets them.
        r.USB4_ComponentID.set("FFFFFFFFFFF");
        r.USB4_MinorFWVersion.set("FF");
        r.LPIfU3 = 3;
        r.PCIEASPM = 3;
        r.PCIESpeed = 3;
        r.PCIELane = 3;
        r.USB4_20G = 1;
        r.USB4_X2 = 1;
        r.USB4_CLx = 3;
    }
    return r;
}

class IniFileTest : public ::testing::TestWithParam<ProfileCase> {
protected:
    IniFixture f{GetParam().profile()};
    bool variant() const { return GetParam().profile().nVersion == 1007; }
};

TEST_P(IniFileTest, FactoryDefaultsStoreAsTheHandWrittenFile)
{
    f.ini.vSetDefaultSettings();
    const std::string path = f.dir.file("kv_mp_Toolv0.6.ini");
    ASSERT_TRUE(f.ini.vStoreINIFile(path)) << f.ini.strLastProblem();
    EXPECT_EQ(readFileBytes(path), readFileBytes(goldenPath(GetParam().defaultsGolden)));
    EXPECT_TRUE(f.boxes.texts.empty());
}

TEST_P(IniFileTest, SampleLoadsFieldByFieldAndStoresBackByteForByte)
{
    const std::string golden = goldenPath(GetParam().sampleGolden);
    ASSERT_TRUE(f.ini.vLoadINIFile(golden)) << f.ini.strLastProblem();
    EXPECT_EQ(f.ini.m_pINI, expectedSample(variant()));
    EXPECT_TRUE(f.boxes.texts.empty());
    EXPECT_EQ(f.ini.strLastProblem(), "");

    const std::string path = f.dir.file("stored.ini");
    ASSERT_TRUE(f.ini.vStoreINIFile(path)) << f.ini.strLastProblem();
    EXPECT_EQ(readFileBytes(path), readFileBytes(golden));
}

TEST_P(IniFileTest, StoredFileHasExactlyTheCountedLinesTheLoadAllows)
{
    const std::string text = readFileBytes(goldenPath(GetParam().sampleGolden));
    EXPECT_EQ(IniParseText(text, GetParam().profile()).nCountedLines, GetParam().countedLines);

    // Lines that are not counted leave the file loadable...
    const std::string path = f.dir.file("k.ini");
    writeFileBytes(path, "\r\n[ini_version]\r\n" + text + "[usb_func]\r\n\r\n");
    EXPECT_TRUE(f.ini.vLoadINIFile(path)) << f.ini.strLastProblem();
    // ...one counted line more of any kind does not, and the record stays.
    for (const char* extra : {"[usb_mode]\r\n", "cd_rom_mode=1\r\n", "   \r\n", "Reload_Waiting=5\r\n"}) {
        f.ini.m_pINI = IniRecordCleared();
        writeFileBytes(path, text + extra);
        EXPECT_FALSE(f.ini.vLoadINIFile(path)) << extra;
        EXPECT_EQ(f.ini.m_pINI, IniRecordCleared()) << extra;
        EXPECT_NE(f.ini.strLastProblem().find("counted lines"), std::string::npos) << extra;
    }
}

TEST_P(IniFileTest, StoreThenLoadGivesTheSameRecord)
{
    // A record as an operator could have it, with values the file grammar
    // carries unchanged.
    IniRecord r = expectedSample(variant());
    r.serial_number.set("00000000000A");
    r.drive_label_name.set("");
    r.fw_binary_name.set("//starts with slashes");
    r.preload_folder_path.set(std::string(IniText::kCapacity, 'p'));
    r.CmdLineTimeOut = -2147483647 - 1;
    r.PCIE_SSDRelinkTime = 2147483647;
    r.standby_timer = 255;
    f.ini.m_pINI = r;
    const std::string path = f.dir.file("roundtrip.ini");
    ASSERT_TRUE(f.ini.vStoreINIFile(path)) << f.ini.strLastProblem();

    f.ini.m_pINI = IniRecordCleared();
    ASSERT_TRUE(f.ini.vLoadINIFile(path)) << f.ini.strLastProblem();
    EXPECT_EQ(f.ini.m_pINI, r);
}

TEST_P(IniFileTest, RefusesTheOtherProgramsFileAndKeepsItsRecord)
{
    f.ini.vSetDefaultSettings();
    const IniRecord before = f.ini.m_pINI;
    EXPECT_FALSE(f.ini.vLoadINIFile(goldenPath(GetParam().otherSampleGolden)));
    EXPECT_EQ(f.ini.m_pINI, before);
    const int otherVersion = variant() ? 1009 : 1007;
    EXPECT_TRUE(f.boxed("Loaded INI file Versoin[" + std::to_string(otherVersion) +
                        "] is not suit for current version of VIVade"));
    ASSERT_EQ(f.boxes.texts.size(), 1u);
    EXPECT_NE(f.ini.strLastProblem().find(GetParam().otherSampleGolden), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, IniFileTest, ::testing::ValuesIn(kProfiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IniFileDefaults, FactoryDefaultsLeaveUnlistedFieldsAndStoreTheFileVersion)
{
    IniFixture f;
    f.ini.m_pINI.config_format = 4;
    f.ini.m_pINI.preload_enable = 1;
    f.ini.vSetDefaultSettings();
    EXPECT_EQ(f.ini.m_pINI.config_format, 4);
    EXPECT_EQ(f.ini.m_pINI.preload_enable, 1);
    EXPECT_EQ(f.ini.m_pINI.version, 1006);
    EXPECT_EQ(f.ini.m_pINI.serial_number, "AAAABBBB0001");

    // The defaults round-trip except where the production file's own rules
    // say otherwise: the version and component-id source it writes, the
    // keyless component id every load sets, and a reload switch that needs
    // the firmware update on.
    const std::string path = f.dir.file("d.ini");
    ASSERT_TRUE(f.ini.vStoreINIFile(path));
    IniRecord expected = f.ini.m_pINI;
    expected.version = 1009;
    expected.USB4_ComponentID_EditType = 5;
    expected.USB4_ComponentID.set("FFFFFFFFFFF");
    expected.fw_reload = 0;
    ASSERT_TRUE(f.ini.vLoadINIFile(path)) << f.ini.strLastProblem();
    EXPECT_EQ(f.ini.m_pINI, expected);
}

}  // namespace
}  // namespace krv::test
