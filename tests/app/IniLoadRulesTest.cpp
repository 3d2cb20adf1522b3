// The line grammar and the per-key load rules, one short text per case.
#include <gtest/gtest.h>

#include <functional>

#include "tests/app/IniTestSupport.h"

namespace krv::test {
namespace {

struct RuleCase {
    const char* name;
    bool variant;
    const char* text;
    std::function<void(const IniParseResult&)> expect;
};

void PrintTo(const RuleCase& c, std::ostream* os)
{
    *os << c.name;
}

const IniProfile& profileOf(const RuleCase& c)
{
    return c.variant ? IniProfileVariant() : IniProfileProduction();
}

const RuleCase kCases[] = {
    // ---- grammar --------------------------------------------------------
    {"RemarkAfterValueIsDropped", false, "fw_binary_name=abc//note\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.fw_binary_name, "abc"); }},
    {"SlashesOpeningTheValueStay", false, "fw_binary_name=//abc\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.fw_binary_name, "//abc"); }},
    {"BlanksAroundKeyAndValueAreDropped", false, "  fw_binary_name \t=  a b \r\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.fw_binary_name, "a b"); }},
    {"ValueKeepsFurtherEqualsSigns", false, "fw_binary_name=a=b\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.fw_binary_name, "a=b"); }},
    {"LineWithoutEqualsIsKeyWithEmptyValue", false, "fw_enable=1\nfw_enable\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.fw_enable, 0);
         EXPECT_EQ(p.nCountedLines, 2);
         EXPECT_TRUE(p.unrecognised.empty());
     }},
    {"KeysAreCaseSensitive", false, "Fw_enable=1\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.fw_enable, 0);
         ASSERT_EQ(p.unrecognised.size(), 1u);
         EXPECT_EQ(p.unrecognised[0].strKey, "Fw_enable");
     }},
    {"SectionsDoNotScopeKeys", false, "[usb_mode]\nconfig_format=3\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.config_format, 3); }},
    {"LaterDuplicateWinsAndBothCount", false, "wr_test_count=2\nwr_test_count=7\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.wr_test_count, 7);
         EXPECT_EQ(p.nCountedLines, 2);
     }},
    {"EmptyLinesAndTheFirstTwoSectionsAreNotCounted", false, "\n\r\n[ini_version]\n[usb_func]\n[usb_fw]\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.nCountedLines, 1); }},
    {"BlankOnlyLineIsUnrecognisedAndCounted", false, "cd_rom_mode=1\n   \n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.nCountedLines, 2);
         ASSERT_EQ(p.unrecognised.size(), 1u);
         EXPECT_EQ(p.unrecognised[0].nCountedBefore, 1);
         EXPECT_EQ(p.unrecognised[0].nLine, 2);
     }},
    {"UnknownSectionIsUnrecognised", false, "[Foo]\n",
     [](const IniParseResult& p) { ASSERT_EQ(p.unrecognised.size(), 1u); }},
    {"CommentLineCountsOnlyWhenExact", false,
     "//4191, 4193, 4283, 4381, 4382, 597QN, 0 for all\n//another remark\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.nCountedLines, 2);
         ASSERT_EQ(p.unrecognised.size(), 1u);
         EXPECT_EQ(p.unrecognised[0].strKey, "//another remark");
     }},
    {"NoVersionLineLeavesVersionZero", false, "cd_rom_mode=1\n",
     [](const IniParseResult& p) {
         EXPECT_FALSE(p.bWrongVersion);
         EXPECT_EQ(p.record.version, 0);
     }},
    {"WrongVersionStopsReading", false, "cd_rom_mode=1\nversion=1008\nwr_test_count=3\n",
     [](const IniParseResult& p) {
         EXPECT_TRUE(p.bWrongVersion);
         EXPECT_EQ(p.nVersionRead, 1008);
         EXPECT_EQ(p.record.cd_rom_mode, 1);
         EXPECT_EQ(p.record.wr_test_count, 0);
     }},
    // ---- numbers ----------------------------------------------------------
    {"ByteKeepsLowEightBits", false, "cd_rom_mode=256\nwr_test_count=-1\nauto_mp_DevNum=257\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.cd_rom_mode, 0);
         EXPECT_EQ(p.record.wr_test_count, 255);
         EXPECT_EQ(p.record.auto_mp_DevNum, 1);
         EXPECT_EQ(p.notes.size(), 3u);
     }},
    {"NumberEndsAtTheFirstOtherCharacter", false, "CmdLineTimeOut=12abc\nReload_Waiting=abc\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.CmdLineTimeOut, 12);
         EXPECT_EQ(p.record.Reload_Waiting, 0);
         ASSERT_EQ(p.notes.size(), 2u);
         EXPECT_EQ(p.notes[0].eKind, EIniNote::eNotANumber);
         EXPECT_EQ(p.notes[0].strKey, "CmdLineTimeOut");
     }},
    {"HugeNumbersSaturate", false, "CmdLineTimeOut=99999999999999999999\nReload_Waiting=-99999999999\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.CmdLineTimeOut, 2147483647);
         EXPECT_EQ(p.record.Reload_Waiting, -2147483647 - 1);
         ASSERT_EQ(p.notes.size(), 2u);
         EXPECT_EQ(p.notes[0].eKind, EIniNote::eNumberTooLarge);
     }},
    {"SignedAndBlankNumbers", false, "CmdLineTimeOut=+35\nReload_Waiting=-2147483648\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.CmdLineTimeOut, 35);
         EXPECT_EQ(p.record.Reload_Waiting, -2147483647 - 1);
         EXPECT_TRUE(p.notes.empty());
     }},
    // ---- per-key rules ----------------------------------------------------
    {"FwReloadNeedsAnEarlierFwEnable", false, "fw_reload=1\nfw_enable=1\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.fw_reload, 0); }},
    {"FwReloadAfterFwEnableStays", false, "fw_enable=2\nfw_reload=1\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.fw_reload, 1); }},
    {"FwReloadAfterZeroFwEnableIsZero", false, "fw_enable=0\nfw_reload=1\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.fw_reload, 0); }},
    {"RemainLengthAtMost20Unsigned", false, "SN_remain_value_length=-1\nSN_fix_length=11\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.SN_remain_value_length, 20);
         EXPECT_EQ(p.record.SN_fix_length, 0);
     }},
    {"FixLengthKeeps0And12To20", false, "SN_fix_length=21\nSN_remain_value_length=20\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.SN_fix_length, 0);
         EXPECT_EQ(p.record.SN_remain_value_length, 20);
     }},
    {"FixLengthTwelveStays", false, "SN_fix_length=12\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.SN_fix_length, 12); }},
    {"U4ModeAtMost3AndPcieScan", false, "USB4_U4Mode=7\nPCIE_Scan=5\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.USB4_U4Mode, 3);
         EXPECT_EQ(p.record.PCIE_Scan, 1);
     }},
    {"NegativeU4ModeAndPcieScan", false, "USB4_U4Mode=-1\nPCIE_Scan=-1\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.USB4_U4Mode, 3);
         EXPECT_EQ(p.record.PCIE_Scan, 1);
     }},
    {"ForcedKeysIgnoreTheirValues", false,
     "image0=0\nimage1=1\ncrc32=1\nhdd_standby=1\nUSB4_ComponentID_EditType=2\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.image0, 1);
         EXPECT_EQ(p.record.image1, 0);
         EXPECT_EQ(p.record.crc32, 0);
         EXPECT_EQ(p.record.hdd_standby, 0);
         EXPECT_EQ(p.record.USB4_ComponentID_EditType, 5);
         EXPECT_TRUE(p.notes.empty());
     }},
    {"ForcedKeysAbsentStayZero", false, "cd_rom_mode=0\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.image0, 0);
         EXPECT_EQ(p.record.USB4_ComponentID_EditType, 0);
     }},
    {"ProductionSetsTheKeylessFields", false, "cd_rom_mode=0\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.USB4_ComponentID, "FFFFFFFFFFF");
         EXPECT_EQ(p.record.USB4_MinorFWVersion, "FF");
         EXPECT_EQ(p.record.LPIfIdle, 0);
         EXPECT_EQ(p.record.LPIfU3, 3);
         EXPECT_EQ(p.record.PCIELane, 3);
         EXPECT_EQ(p.record.USB4_20G, 1);
         EXPECT_EQ(p.record.USB4_X2, 1);
         EXPECT_EQ(p.record.USB4_CLx, 3);
     }},
    {"ProductionHasNoOptionKeys", false, "[PCIE_USB_Config]\nLPIfU3=0\nUSB4_CLx=1\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.unrecognised.size(), 3u);
         EXPECT_EQ(p.record.LPIfU3, 3);
         EXPECT_EQ(p.record.USB4_CLx, 3);
     }},
    // ---- the variant's keys -------------------------------------------------
    {"VariantLinkOptionRules", true, "USB4_20G=2\nUSB4_X2=0\nUSB4_CLx=9\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.USB4_20G, 1);
         EXPECT_EQ(p.record.USB4_X2, 0);
         EXPECT_EQ(p.record.USB4_CLx, 3);
     }},
    {"VariantNegativeCLx", true, "USB4_CLx=-1\nUSB4_X2=-1\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.USB4_CLx, 3);
         EXPECT_EQ(p.record.USB4_X2, 1);
     }},
    {"VariantMinorVersionShortBecomesFF", true, "USB4_MinorFWVersion=12\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.USB4_MinorFWVersion, "FF"); }},
    {"VariantMinorVersionLongKeepsTheRest", true, "USB4_MinorFWVersion=1234\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.USB4_MinorFWVersion, "FF34"); }},
    {"VariantMinorVersionEmptyBecomesFF", true, "USB4_MinorFWVersion=\n",
     [](const IniParseResult& p) { EXPECT_EQ(p.record.USB4_MinorFWVersion, "FF"); }},
    {"VariantOptionBytes", true, "[PCIE_USB_Config]\n2TB_enable=1\nPCIESpeed=2\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record._2TB_enable, 1);
         EXPECT_EQ(p.record.PCIESpeed, 2);
         EXPECT_TRUE(p.unrecognised.empty());
     }},
    {"VariantSetsNoKeylessFields", true, "cd_rom_mode=0\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.record.LPIfU3, 0);
         EXPECT_EQ(p.record.PCIELane, 0);
         EXPECT_TRUE(p.record.USB4_ComponentID.empty());
         EXPECT_EQ(p.record.USB4_20G, 0);
     }},
    {"VariantHasNoStartupKeys", true, "Reload_Waiting=5\nUSB4_BcdSync=1\n",
     [](const IniParseResult& p) {
         EXPECT_EQ(p.unrecognised.size(), 2u);
         EXPECT_EQ(p.nCountedLines, 2);
         EXPECT_EQ(p.record.Reload_Waiting, 0);
     }},
};

class IniLoadRulesTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(IniLoadRulesTest, Reads)
{
    const RuleCase& c = GetParam();
    c.expect(IniParseText(c.text, profileOf(c)));
}

INSTANTIATE_TEST_SUITE_P(Lines, IniLoadRulesTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IniLoadRules, TextsAreCutToTheSlotAndReadBackAsStored)
{
    const std::string longValue(300, 'x');
    const IniParseResult p = IniParseText("fw_binary_name=" + longValue + "\n", IniProfileProduction());
    EXPECT_EQ(p.record.fw_binary_name.view(), longValue.substr(0, IniText::kCapacity));
    ASSERT_EQ(p.notes.size(), 1u);
    EXPECT_EQ(p.notes[0].eKind, EIniNote::eValueTooLong);

    // A cut that ends in a blank is trimmed, so the stored text reads back
    // the same.
    const std::string blanks = std::string(IniText::kCapacity - 1, 'y') + "  zz";
    const IniParseResult q = IniParseText("fw_binary_name=" + blanks + "\n", IniProfileProduction());
    EXPECT_EQ(q.record.fw_binary_name.view(), std::string(IniText::kCapacity - 1, 'y'));
}

TEST(IniLoadRules, ZeroByteEndsAText)
{
    using namespace std::string_literals;
    const IniParseResult p = IniParseText("fw_binary_name=ab\0cd\n"s, IniProfileProduction());
    EXPECT_EQ(p.record.fw_binary_name, "ab");
    ASSERT_EQ(p.notes.size(), 1u);
    EXPECT_EQ(p.notes[0].eKind, EIniNote::eValueHasZero);
}

TEST(IniLoadRules, GarbageKeepsFewNotes)
{
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += "garbage " + std::to_string(i) + "\nwr_test_count=x\n";
    const IniParseResult p = IniParseText(text, IniProfileProduction());
    EXPECT_EQ(p.nCountedLines, 2000);
    EXPECT_EQ(p.unrecognised.size(), INI_MAX_NOTES);
    EXPECT_EQ(p.nUnrecognisedLeftOut, 1000 - static_cast<int>(INI_MAX_NOTES));
    EXPECT_EQ(p.notes.size(), INI_MAX_NOTES);
}

}  // namespace
}  // namespace krv::test
