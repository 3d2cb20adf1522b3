#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/LimitationTable.h"
#include "device/DebugLog.h"
#include "tests/support/TestPlatform.h"

namespace {

// The table with every check off, as shipped.
const char* const kShippedTable =
    "[feature]\r\n"
    "display_result_FW_length=12\r\n"
    "update_componentID=0\r\n"
    "write_componentID_to_SN=0\r\n"
    "[chk_item]\r\n"
    "check_fw_version=0\r\n"
    "check_manufacture_string=0\r\n"
    "check_product_string=0\r\n"
    "check_vid=0\r\n"
    "check_pid=0\r\n"
    "check_part_of_fw_version=0\r\n"
    "[chk_value]\r\n"
    "fw_version=2409130AFB07\r\n"
    "manufacture_string=Korvane\r\n"
    "product_string=KRV857X series\r\n"
    "vid=0411\r\n"
    "pid=03AA\r\n"
    "part_of_fw_version=4F\r\n"
    "start_address_of_part_of_fw_version=8\r\n"
    "part_of_fw_version_length=2\r\n";

LimitationDevice device(const std::string& fw, const std::string& manufacturer = "Korvane",
                        const std::string& product = "KRV857X series", const std::string& vid = "0411",
                        const std::string& pid = "03AA")
{
    return {fw, manufacturer, product, vid, pid};
}

class LimitationTable : public ::testing::Test {
protected:
    void SetUp() override { vDEBUG_SetLevel(4); }
    void TearDown() override { vDEBUG_SetLevel(0); }

    CLimitationTable parsed(const std::string& text)
    {
        CLimitationTable table;
        table.vParseFeatureText(text);
        return table;
    }

    krv::test::TestPlatform platform;
    krv::test::TempDir dir;
};

TEST_F(LimitationTable, ShippedTableLoadsEveryField)
{
    const std::string path = dir.file(LIMITATION_TABLE_FILE);
    std::ofstream(path, std::ios::binary) << kShippedTable;
    CLimitationTable table;
    ASSERT_EQ(table.vLoadFeatureINI(path), 1);
    EXPECT_FALSE(table.bHasProblems());
    EXPECT_EQ(table.m_strLimitationTablePath, path);
    EXPECT_EQ(table.m_iDisplayResultFWLength, 12);
    EXPECT_EQ(table.m_arrFWVersion, std::vector<std::string>{"2409130afb07"});
    EXPECT_EQ(table.m_strLimitManufactureString, "Korvane");
    EXPECT_EQ(table.m_strLimitProductString, "KRV857X series");
    EXPECT_EQ(table.m_strLimitVID, "0411");
    EXPECT_EQ(table.m_strLimitPID, "03AA");
    EXPECT_EQ(table.m_strPartOfFWVersion, "4F");
    EXPECT_EQ(table.m_iStartOfPartOfFWVersion, 8);
    EXPECT_EQ(table.m_iPartOfFWVersionLength, 2);
    // Every check off: any device passes.
    EXPECT_EQ(table.iCheckLimitation({device("ffffffffffff", "Other", "Other", "1111", "2222")}), LIMITATION_PASS);
}

TEST_F(LimitationTable, MissingFileChangesNothing)
{
    CLimitationTable table;
    table.m_iCheckVID = 1;
    EXPECT_EQ(table.vLoadFeatureINI(dir.file("nothing.ini")), 0);
    EXPECT_EQ(table.m_iCheckVID, 1);
    EXPECT_FALSE(table.bHasProblems());
}

TEST_F(LimitationTable, LineRules)
{
    // Keys ignore case and sections; the value is cut at "//" unless nothing
    // would be left; both sides are trimmed.
    CLimitationTable t = parsed("CHECK_VID = 1 // on\n[other]\nVid= 0411 \nPID=03aa\n\ndisplay_result_FW_length=20\n");
    EXPECT_FALSE(t.bHasProblems());
    EXPECT_EQ(t.m_iCheckVID, 1);
    EXPECT_EQ(t.m_strLimitVID, "0411");
    EXPECT_EQ(t.m_strLimitPID, "03AA");
    EXPECT_EQ(t.m_iDisplayResultFWLength, 12);

    t = parsed("display_result_FW_length=-5\nmanufacture_string=A//B\n");
    EXPECT_EQ(t.m_iDisplayResultFWLength, -5);
    EXPECT_EQ(t.m_strLimitManufactureString, "A");

    // The list: lower case, split at commas, each line replaces it.
    t = parsed("fw_version=AAA\nfw_version=2409130AFB07, 2409130AFB08,\n");
    EXPECT_EQ(t.m_arrFWVersion, (std::vector<std::string>{"2409130afb07", "2409130afb08", ""}));
    t = parsed("fw_version=\n");
    EXPECT_EQ(t.m_arrFWVersion, std::vector<std::string>{""});

    // Comment lines and blank lines are nothing.
    t = parsed("// notes\n   \n\t\n");
    EXPECT_FALSE(t.bHasProblems());
}

TEST_F(LimitationTable, BrokenLinesAreReportedAndRefuseEveryRun)
{
    const struct {
        std::string text;
        const char* problem;
    } cases[] = {
        {"check_vid 1\n", "line 1: no '=': check_vid 1"},
        {"[chk_item]\nchek_vid=1\n", "line 2: unknown key: chek_vid=1"},
        // The value "//1" is no number: the switch reads 0, and that is a problem.
        {"check_vid=//1\n", "line 1: not a number: check_vid=//1"},
        {"check_vid=\n", "line 1: not a number"},
        {"check_vid=1x\n", "line 1: not a number"},
        {"part_of_fw_version_length=99999999999\n", "line 1: not a number"},
        {"vid=04\x01""1\n", "line 1: control characters: vid=04?1"},
        {std::string("pid=03\0AA\n", 10), "line 1: control characters: pid=03?AA"},
    };
    for (const auto& c : cases) {
        CLimitationTable t = parsed(c.text);
        ASSERT_TRUE(t.bHasProblems()) << c.text;
        EXPECT_NE(t.vecProblems().front().find(c.problem), std::string::npos) << t.vecProblems().front();
        EXPECT_EQ(t.iCheckLimitation({device("2409130afb07")}), LIMITATION_TABLE_BROKEN) << c.text;
        EXPECT_NE(t.strCheckFailure().find(c.problem), std::string::npos) << t.strCheckFailure();
    }
    // The value as read is still kept.
    CLimitationTable t = parsed("check_vid=//1\npart_of_fw_version_length=99999999999\n");
    EXPECT_EQ(t.m_iCheckVID, 0);
    EXPECT_EQ(t.m_iPartOfFWVersionLength, 2147483647);
    EXPECT_EQ(t.vecProblems().size(), 2u);
    // No device: nothing to refuse.
    EXPECT_EQ(t.iCheckLimitation({}), LIMITATION_PASS);

    // A file of garbage gives a bounded account.
    std::string garbage;
    for (int i = 0; i < 500; ++i)
        garbage += "junk\n";
    t = parsed(garbage);
    EXPECT_EQ(t.vecProblems().size(), LIMITATION_PROBLEMS_MAX + 1);
    EXPECT_NE(t.vecProblems().back().find("more lines cannot be used"), std::string::npos);
}

TEST_F(LimitationTable, UnreadableOrOversizedFileCountsAsBroken)
{
    CLimitationTable table;
    EXPECT_EQ(table.vLoadFeatureINI(dir.path()), 1);  // a folder cannot be read as a table
    EXPECT_TRUE(table.bHasProblems());

    const std::string big = dir.file("big.ini");
    std::ofstream{big};
    std::filesystem::resize_file(big, LIMITATION_TABLE_SIZE_MAX + 1);
    CLimitationTable large;
    EXPECT_EQ(large.vLoadFeatureINI(big), 1);
    ASSERT_TRUE(large.bHasProblems());
    EXPECT_NE(large.vecProblems().front().find("file too large"), std::string::npos);

    // A later good load clears the old problems.
    const std::string good = dir.file("good.ini");
    std::ofstream(good) << kShippedTable;
    EXPECT_EQ(large.vLoadFeatureINI(good), 1);
    EXPECT_FALSE(large.bHasProblems());
}

TEST_F(LimitationTable, ChecksInOrderFirstFailureWins)
{
    const std::string on =
        "check_fw_version=1\ncheck_manufacture_string=1\ncheck_product_string=1\ncheck_vid=1\ncheck_pid=1\n"
        "check_part_of_fw_version=1\nfw_version=2409130A4F07,2409130A4F08\nmanufacture_string=Korvane\n"
        "product_string=KRV857X series\nvid=0411\npid=03aa\npart_of_fw_version=4f\n"
        "start_address_of_part_of_fw_version=8\npart_of_fw_version_length=2\n";
    const struct {
        std::vector<LimitationDevice> devices;
        int32_t result;
        const char* failure;
    } cases[] = {
        {{}, LIMITATION_PASS, ""},
        {{device("2409130a4f08")}, LIMITATION_PASS, ""},
        {{device("2409130a4f09")}, LIMITATION_FW_NOT_LISTED, "Device 0: firmware version \"2409130a4f09\""},
        // The list holds lower case; the device texts are lower case too.
        {{device("2409130A4F08")}, LIMITATION_FW_NOT_LISTED, "Device 0"},
        {{device("")}, LIMITATION_FW_NOT_LISTED, "Device 0"},
        {{device("2409130a4f07"), device("2409130a4f07", "Other")}, LIMITATION_MISMATCH,
         "Device 1: manufacturer string \"Other\" is not \"Korvane\""},
        {{device("2409130a4f07", "Korvane", "X")}, LIMITATION_MISMATCH, "product string"},
        {{device("2409130a4f07", "Korvane", "KRV857X series", "0412")}, LIMITATION_MISMATCH, "VID"},
        {{device("2409130a4f07", "Korvane", "KRV857X series", "0411", "03aa")}, LIMITATION_MISMATCH, "PID"},
        // The firmware list comes first, before the strings.
        {{device("2409130a4f09", "Other")}, LIMITATION_FW_NOT_LISTED, "firmware version"},
    };
    for (const auto& c : cases) {
        CLimitationTable t = parsed(on);
        ASSERT_FALSE(t.bHasProblems());
        EXPECT_EQ(t.iCheckLimitation(c.devices), c.result) << c.failure;
        EXPECT_NE(t.strCheckFailure().find(c.failure), std::string::npos) << t.strCheckFailure();
        if (c.result == LIMITATION_PASS) {
            EXPECT_EQ(t.strCheckFailure(), "");
        }
    }
    CLimitationTable t = parsed(on);
    platform.capture().clear();
    EXPECT_EQ(t.iCheckLimitation({device("2409130a4f07"), device("2409130a4f07", "Other")}), LIMITATION_MISMATCH);
    EXPECT_TRUE(platform.capture().contains("[1]m str:Other,Korvane"));
}

TEST_F(LimitationTable, DevicesFoundAreTheFirstSlots)
{
    CLimitationTable t = parsed("check_vid=1\nvid=3e9a\n");
    DevList devList;
    devList.Devs[0].m_strVID = "3E9A";
    devList.Devs[1].m_strVID = "3E9A";
    devList.Devs[2].m_strVID = "0411";
    EXPECT_EQ(t.iCheckLimitation(devList, 2), LIMITATION_PASS);
    EXPECT_EQ(t.iCheckLimitation(devList, 3), LIMITATION_MISMATCH);
    EXPECT_NE(t.strCheckFailure().find("Device 2: VID \"0411\" is not \"3E9A\""), std::string::npos);
    EXPECT_EQ(t.iCheckLimitation(devList, 0), LIMITATION_PASS);
}

TEST_F(LimitationTable, PieceOfTheFirmwareVersion)
{
    const struct {
        const char* table;
        const char* fw;
        int32_t result;
    } cases[] = {
        {"part_of_fw_version=4f\nstart_address_of_part_of_fw_version=8\npart_of_fw_version_length=2\n",
         "2409130a4f07", LIMITATION_PASS},
        {"part_of_fw_version=4F\nstart_address_of_part_of_fw_version=8\npart_of_fw_version_length=2\n",
         "2409130a4e07", LIMITATION_MISMATCH},
        // Fewer characters when the version is shorter.
        {"part_of_fw_version=07\nstart_address_of_part_of_fw_version=10\npart_of_fw_version_length=5\n",
         "2409130a4f07", LIMITATION_PASS},
        // A start past the end compares an empty piece.
        {"part_of_fw_version=\nstart_address_of_part_of_fw_version=40\npart_of_fw_version_length=2\n",
         "2409130a4f07", LIMITATION_PASS},
        {"part_of_fw_version=4f\nstart_address_of_part_of_fw_version=40\npart_of_fw_version_length=2\n",
         "2409130a4f07", LIMITATION_MISMATCH},
        // Negative places count as 0.
        {"part_of_fw_version=24\nstart_address_of_part_of_fw_version=-3\npart_of_fw_version_length=2\n",
         "2409130a4f07", LIMITATION_PASS},
        {"part_of_fw_version=\nstart_address_of_part_of_fw_version=0\npart_of_fw_version_length=-2\n",
         "2409130a4f07", LIMITATION_PASS},
    };
    for (const auto& c : cases) {
        CLimitationTable t = parsed(std::string("check_part_of_fw_version=1\n") + c.table);
        ASSERT_FALSE(t.bHasProblems()) << c.table;
        EXPECT_EQ(t.iCheckLimitation({device(c.fw)}), c.result) << c.table;
    }
    // A switch other than exactly 1 is off.
    CLimitationTable t = parsed("check_part_of_fw_version=2\npart_of_fw_version=zz\n");
    EXPECT_EQ(t.iCheckLimitation({device("2409130a4f07")}), LIMITATION_PASS);
}

}  // namespace
