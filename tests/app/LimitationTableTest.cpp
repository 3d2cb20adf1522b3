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
}

TEST_F(LimitationTable, LineRules)
{
    // Keys ignore case and sections; the value is cut at "//" unless nothing
    // would be left; both sides are trimmed.
    CLimitationTable t = parsed("CHECK_VID = 1 // on\n[other]\nVid= 0411 \nPID=03aa\n\ndisplay_result_FW_length=20\n");
    EXPECT_EQ(t.m_iCheckVID, 1);
    EXPECT_EQ(t.m_strLimitVID, "0411");
    EXPECT_EQ(t.m_strLimitPID, "03AA");
    EXPECT_EQ(t.m_iDisplayResultFWLength, 12);

    t = parsed("display_result_FW_length=-5\nmanufacture_string=A//B\n");
    EXPECT_EQ(t.m_iDisplayResultFWLength, -5);
    EXPECT_EQ(t.m_strLimitManufactureString, "A");

    // The list: lower case, split at commas as it stands, each line
    // replaces it.
    t = parsed("fw_version=AAA\nfw_version=2409130AFB07,2409130AFB08,\n");
    EXPECT_EQ(t.m_arrFWVersion, (std::vector<std::string>{"2409130afb07", "2409130afb08", ""}));
    t = parsed("fw_version=\n");
    EXPECT_EQ(t.m_arrFWVersion, std::vector<std::string>{""});

}

TEST_F(LimitationTable, OddLinesAreTakenAsTheyComeAndNeverStopTheRest)
{
    // Comments, sections, keys of another table version, a byte-order mark
    // and values that are no numbers: each line is read for what it holds
    // and the lines after it still count.
    const struct {
        std::string text;
        int32_t iCheckVID;
        std::string strVID;
    } cases[] = {
        {"\xEF\xBB\xBF" "check_vid=1\nvid=0411\n", 1, "0411"},   // a byte-order mark before the first key
        {"; comment\n# comment\n// comment\ncheck_vid=1\nvid=0411\n", 1, "0411"},
        {"[chk_item]\nchek_vid=1\nnew_key_of_v2=7\ncheck_vid=1\nvid=0411\n", 1, "0411"},
        {"check_vid=//1\nvid=0411\n", 0, "0411"},      // the value is "//1", which reads as 0
        {"check_vid 1\nvid=0411\n", 0, "0411"},        // no "=": all key, no such key
        {"check_vid=\nvid=0411\n", 0, "0411"},
        {"check_vid=1x\nvid=0411\n", 1, "0411"},       // the digits up to the first other character
        {"check_vid=  +1\nvid=04\x01" "1\n", 1, "04\x01" "1"},
    };
    for (const auto& c : cases) {
        CLimitationTable t = parsed(c.text);
        EXPECT_EQ(t.m_iCheckVID, c.iCheckVID) << c.text;
        EXPECT_EQ(t.m_strLimitVID, c.strVID) << c.text;
    }
    // Big numbers are held at the largest int32.
    CLimitationTable t = parsed("part_of_fw_version_length=99999999999\n");
    EXPECT_EQ(t.m_iPartOfFWVersionLength, 2147483647);

    // Each ignored line is named in the trace.
    parsed("[feature]\nchek_vid=1\n");
    EXPECT_TRUE(platform.capture().contains("line 2 ignored: chek_vid=1"));
}

TEST_F(LimitationTable, AnOversizedFileIsReadNoFurtherThanItsLimit)
{
    const std::string big = dir.file("big.ini");
    {
        std::ofstream out(big, std::ios::binary);
        out << "check_vid=1\nvid=0411\n";
    }
    std::filesystem::resize_file(big, LIMITATION_TABLE_SIZE_MAX + 1);
    CLimitationTable large;
    EXPECT_EQ(large.vLoadFeatureINI(big), 1);
    EXPECT_EQ(large.m_iCheckVID, 1);
    EXPECT_EQ(large.m_strLimitVID, "0411");
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
        EXPECT_EQ(t.iCheckLimitation({device(c.fw)}), c.result) << c.table;
    }
    // A switch other than exactly 1 is off.
    CLimitationTable t = parsed("check_part_of_fw_version=2\npart_of_fw_version=zz\n");
    EXPECT_EQ(t.iCheckLimitation({device("2409130a4f07")}), LIMITATION_PASS);
}

}  // namespace

namespace {

// A firmware-version list of 900,000 empty entries (a line of commas) is
// read whole, refuses a device, and the check logs a few of the entries it
// compared, not every one: a line logged per entry kept Start busy for
// minutes.
TEST_F(LimitationTable, AHugeFirmwareListIsCheckedWithoutALineForEachEntry)
{
    CLimitationTable t = parsed("check_fw_version=1\nfw_version=" + std::string(900000, ',') + "\n");
    EXPECT_EQ(t.m_arrFWVersion.size(), 900001u);
    platform.capture().clear();
    EXPECT_EQ(t.iCheckLimitation({device("2409130a4f07")}), LIMITATION_FW_NOT_LISTED);
    int nEntryLines = 0;
    for (const std::string& line : platform.capture().lines())
        nEntryLines += line.find("[0]fw:") != std::string::npos;
    EXPECT_LE(nEntryLines, 20);
    EXPECT_TRUE(platform.capture().contains("899985 more entries differ"));
}

}  // namespace
