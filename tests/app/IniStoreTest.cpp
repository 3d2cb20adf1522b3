// Storing the settings: the whole file or nothing, a failure that says so,
// and a record that a refused store leaves as it was.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/app/IniTestSupport.h"

namespace krv::test {
namespace {

namespace fs = std::filesystem;

class IniStoreTest : public ::testing::Test {
protected:
    void SetUp() override { f.ini.vSetDefaultSettings(); }
    IniFixture f;
};

TEST_F(IniStoreTest, NewFileIsWrittenAndReportedWritten)
{
    const std::string path = f.dir.file("new.ini");
    EXPECT_TRUE(f.ini.vStoreINIFile(path));
    EXPECT_EQ(readFileBytes(path), readFileBytes(goldenPath("production_defaults.ini")));
    EXPECT_TRUE(f.boxes.texts.empty());
}

TEST_F(IniStoreTest, ReplacesTheOldFileWholeAndLeavesNoTemporaryFile)
{
    const std::string path = f.dir.file("kv_mp_Toolv0.6.ini");
    writeFileBytes(path, std::string(100000, 'o'));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(f.ini.vStoreINIFile(path));
    EXPECT_EQ(readFileBytes(path), readFileBytes(goldenPath("production_defaults.ini")));
    EXPECT_EQ(std::distance(fs::directory_iterator(f.dir.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(IniStoreTest, WindowsSeparatorsAndLinksAreFollowed)
{
    fs::create_directory(f.dir.file("sub"));
    const std::string real = f.dir.file("sub/real.ini");
    writeFileBytes(real, "old");
    fs::create_symlink(real, f.dir.file("link.ini"));
    ASSERT_TRUE(f.ini.vStoreINIFile(f.dir.path() + "\\link.ini"));
    EXPECT_TRUE(fs::is_symlink(f.dir.file("link.ini")));
    EXPECT_EQ(readFileBytes(real), readFileBytes(goldenPath("production_defaults.ini")));
}

TEST_F(IniStoreTest, FailedCheckWritesNothingAndKeepsTheRecord)
{
    const std::string path = f.dir.file("kv_mp_Toolv0.6.ini");
    writeFileBytes(path, "operator's file");
    f.ini.m_pINI.serial_number.set(std::string(21, '1'));
    EXPECT_FALSE(f.ini.vStoreINIFile(path));
    EXPECT_EQ(readFileBytes(path), "operator's file");
    EXPECT_EQ(f.ini.m_pINI.serial_number, std::string(21, '1'));
    EXPECT_TRUE(f.boxed("Invalid SN Size"));
    EXPECT_TRUE(f.platform.capture().contains("vStoreINIFile: Check INI Type Not Valid , strINIFilePath : " + path));
    EXPECT_NE(f.ini.strLastProblem().find("serial_number: Invalid SN Size"), std::string::npos);
}

struct Unwritable {
    const char* name;
    std::string (*path)(const TempDir&);
};

void PrintTo(const Unwritable& c, std::ostream* os)
{
    *os << c.name;
}

const Unwritable kUnwritable[] = {
    // A folder whose parent is a regular file cannot exist, whoever asks.
    {"ParentIsARegularFile",
     [](const TempDir& d) {
         writeFileBytes(d.file("plain"), "x");
         return d.file("plain/sub/kv_mp_Toolv0.6.ini");
     }},
    {"PathIsAFolder",
     [](const TempDir& d) {
         fs::create_directory(d.file("folder.ini"));
         return d.file("folder.ini");
     }},
    // A full device: written in place (never renamed over), and the write fails.
    {"FullDevice", [](const TempDir&) { return std::string("/dev/full"); }},
};

class IniStoreFailureTest : public ::testing::TestWithParam<Unwritable> {};

TEST_P(IniStoreFailureTest, FailsAndSaysSo)
{
    IniFixture f;
    f.ini.vSetDefaultSettings();
    const std::string path = GetParam().path(f.dir);
    const bool bDevice = path == "/dev/full";
    if (bDevice && !fs::is_character_file(path))
        GTEST_SKIP() << "no /dev/full here";

    EXPECT_FALSE(f.ini.vStoreINIFile(path));
    EXPECT_TRUE(f.boxed(path + " File/Path Not Read/Write"));
    EXPECT_TRUE(f.platform.capture().contains("vStoreINIFile: strINIFilePath : " + path));
    EXPECT_NE(f.ini.strLastProblem().find(path + ": the settings file could not be written"), std::string::npos)
        << f.ini.strLastProblem();
    if (bDevice) {
        EXPECT_TRUE(fs::is_character_file(path));
    }
}

INSTANTIATE_TEST_SUITE_P(Places, IniStoreFailureTest, ::testing::ValuesIn(kUnwritable),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace krv::test
