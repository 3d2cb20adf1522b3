// Settings files an operator should never have, and what each one gets: the
// load fails or succeeds as the file's rules say, the reason names the file
// and the key, and a failed load never touches the record.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "app/LimitationTable.h"
#include "tests/app/IniTestSupport.h"

namespace krv::test {
namespace {

std::string sample()
{
    return readFileBytes(goldenPath("production_sample.ini"));
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

struct BadFile {
    const char* name;
    // The file's bytes; null: no file at all.
    std::function<std::string(IniFixture&)> bytes;
    bool loads;
    // Texts the reason (the problem text) must hold; the file's name always.
    std::vector<std::string> reason;
    // A text one box must hold; empty: no box.
    std::string box;
};

void PrintTo(const BadFile& c, std::ostream* os)
{
    *os << c.name;
}

const BadFile kBadFiles[] = {
    {"Missing", nullptr, false, {"does not exist"}, ""},
    {"Empty", [](IniFixture&) { return std::string(); }, false, {"holds no settings"}, ""},
    {"OnlySections", [](IniFixture&) { return std::string("[ini_version]\r\n[usb_func]\r\n"); }, false,
     {"holds no settings"}, ""},
    {"CutInTheMiddleOfALine",
     [](IniFixture&) {
         const std::string s = sample();
         return s.substr(0, s.find("serial_number=") + 18);
     },
     false, {"cut short", "serial_number_increase"}, ""},
    {"CutAtALineEnd",
     [](IniFixture&) {
         const std::string s = sample();
         return s.substr(0, s.find("[USB4_Config]"));
     },
     true, {"USB4_VendorName is missing"}, ""},
    {"UnknownSectionInAPartialFile",
     [](IniFixture&) { return std::string("version=1009\r\n[Factory]\r\nwr_test_count=2\r\n"); }, true,
     {"line 2: \"[Factory]\" is not a setting"}, "1 Line of Configuration String in INI file is invalid !"},
    {"UnknownSectionInAFullFile", [](IniFixture&) { return sample() + "[Factory]\r\n"; }, false,
     {"87 counted lines", "[Factory]"}, "86 Line of Configuration String in INI file is invalid !"},
    {"OverlongTextIsCut",
     [](IniFixture&) { return replaced(sample(), "pd/ccg3.cyacd", std::string(400, 'p')); }, true,
     {"pd_binary_name is 400 characters long"}, "pd_binary_name is 400 characters long"},
    {"OverlongSerialFailsTheCheck",
     [](IniFixture&) { return replaced(sample(), "0123456789ABCDEF", std::string(300, 'A')); }, false,
     {"serial_number: Invalid SN Size"}, "Invalid SN Size"},
    {"NotANumber", [](IniFixture&) { return replaced(sample(), "cd_rom_mode=34", "cd_rom_mode=yes"); }, true,
     {"cd_rom_mode, \"yes\", is not a number; read as 0"}, ""},
    {"WrongVersion", [](IniFixture&) { return replaced(sample(), "version=1009", "version=1006"); }, false,
     {"line 2: version 1006"}, "Loaded INI file Versoin[1006] is not suit for current version of VIVade"},
    {"NonNumericVersion", [](IniFixture&) { return replaced(sample(), "version=1009", "version=x"); }, false,
     {"version 0"}, "Versoin[0]"},
    {"BinaryGarbage",
     [](IniFixture& f) {
         // Random bytes from the platform's random source, pinned by seed.
         f.platform.virtualClock().seed(4711);
         std::string s(8192, '\0');
         for (char& c : s)
             c = static_cast<char>(f.platform.virtualClock().random() & 0xFF);
         return s;
     },
     false, {}, "Line of Configuration String in INI file is invalid !"},
    {"GarbageAfterAGoodFile",
     [](IniFixture&) { return sample() + std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10) + "\n"; }, false,
     {"87 counted lines"}, "Line of Configuration String"},
    {"LargerThanASettingsFileCanBe",
     [](IniFixture&) { return sample() + std::string(INI_MAX_FILE_SIZE, '\n'); }, false,
     {"more than 1048576 bytes"}, ""},
};

class IniBadInputTest : public ::testing::TestWithParam<BadFile> {};

TEST_P(IniBadInputTest, Load)
{
    const BadFile& c = GetParam();
    IniFixture f;
    const std::string path = f.dir.file("kv_mp_Toolv0.6.ini");
    if (c.bytes)
        writeFileBytes(path, c.bytes(f));

    // The record holds the operator's settings before the load.
    f.ini.vSetDefaultSettings();
    const IniRecord before = f.ini.m_pINI;

    EXPECT_EQ(f.ini.vLoadINIFile(path), c.loads) << f.ini.strLastProblem();
    if (!c.loads) {
        EXPECT_EQ(f.ini.m_pINI, before);
    }
    const std::string& problem = f.ini.strLastProblem();
    EXPECT_NE(problem.find(path), std::string::npos) << problem;
    for (const std::string& text : c.reason)
        EXPECT_NE(problem.find(text), std::string::npos) << "'" << text << "' not in:\n" << problem;
    if (c.box.empty()) {
        EXPECT_TRUE(f.boxes.texts.empty()) << f.boxes.texts.front();
    } else {
        EXPECT_TRUE(f.boxed(c.box)) << (f.boxes.texts.empty() ? "no box" : f.boxes.texts.front());
    }
}

INSTANTIATE_TEST_SUITE_P(Files, IniBadInputTest, ::testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IniBadInput, AFolderIsNoSettingsFile)
{
    IniFixture f;
    EXPECT_FALSE(f.ini.vLoadINIFile(f.dir.path()));
    EXPECT_NE(f.ini.strLastProblem().find("could not be read"), std::string::npos) << f.ini.strLastProblem();
}

TEST(IniBadInput, OverlongTextKeepsItsFirstCharacters)
{
    IniFixture f;
    const std::string path = f.dir.file("k.ini");
    writeFileBytes(path, replaced(sample(), "pd/ccg3.cyacd", std::string(400, 'p')));
    ASSERT_TRUE(f.ini.vLoadINIFile(path));
    EXPECT_EQ(f.ini.m_pINI.pd_binary_name.view(), std::string(IniText::kCapacity, 'p'));
}

TEST(IniBadInput, UnrecognisedLinesAreLoggedWithKeyAndValue)
{
    IniFixture f;
    const std::string path = f.dir.file("k.ini");
    writeFileBytes(path, "version=1009\r\nColour = blue // remark\r\n");
    ASSERT_TRUE(f.ini.vLoadINIFile(path));
    EXPECT_TRUE(f.platform.capture().contains("INI file Setting, strItemName=Colour, strItemValue=blue"));
}

TEST(OutsideFilesTest, APipeWhereTheSettingsOrTheLimitationTableBelongsIsRefusedAtOnce)
{
    // Without a writer at its other end, an ordinary open of a named pipe
    // waits forever: the tool would never start.
    IniFixture f;
    const std::string settings = f.dir.file("kv_mp_Toolv0.6.ini");
    ASSERT_EQ(::mkfifo(settings.c_str(), 0644), 0);
    EXPECT_FALSE(f.ini.vLoadINIFile(settings));
    EXPECT_NE(f.ini.strLastProblem().find(settings), std::string::npos);

    const std::string table = f.dir.file(LIMITATION_TABLE_FILE);
    ASSERT_EQ(::mkfifo(table.c_str(), 0644), 0);
    CLimitationTable limitation;
    limitation.vLoadFeatureINI(table);
    EXPECT_EQ(limitation.m_iCheckVID, 0);
}

}  // namespace
}  // namespace krv::test
