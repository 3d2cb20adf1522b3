// The command-line report files, byte for byte: CR LF, upper-case hex,
// multi-byte fields from their highest byte down, the csv's one header per
// day, and a report that cannot be written left as it was.
#include <gtest/gtest.h>


#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/CmdLineReport.h"
#include "tests/support/TestPlatform.h"

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

krv::LocalTime day(int year, int month, int dayOfMonth)
{
    krv::LocalTime t;
    t.year = year;
    t.month = month;
    t.day = dayOfMonth;
    return t;
}

// A USB4 image whose fields are all different, so a byte taken from the
// wrong place or in the wrong order shows.
void setImage(DevInfo& dev)
{
    uint8_t* p = dev.m_ucU4Config;
    const uint8_t componentId[] = {0x9A, 0x78, 0x56, 0x34, 0x12, 0x30};  // bytes 84..89
    std::copy(std::begin(componentId), std::end(componentId), p + 84);
    p[92] = 0x9A, p[93] = 0x3E;                          // U4 vendor ID 3E9A
    p[94] = 0x73, p[95] = 0x85;                          // U4 product ID 8573
    p[96] = 0x66, p[97] = 0x06, p[98] = 0x0b, p[99] = 0xa0;  // test ID A00B0666
    p[100] = 0x15, p[101] = 0x39;                        // BCD 3915
    p[102] = 0x5a;                                       // HW 5A
    p[108] = 0xE7, p[109] = 0x00;                        // TBT3 vendor 00E7
    p[110] = 0x74, p[111] = 0x85;                        // TBT3 model 8574
    p[112] = 0xe3;                                       // TBT3 revision E3
    p[116] = 0x4B, p[117] = 0x2C;                        // PCIe vendor 2C4B
    p[118] = 0x73, p[119] = 0x85, p[120] = 0x11, p[121] = 0x22;  // PCIe device 8573 (low half only)
}

TEST(CmdLineReportTest, ComponentIdAndVersionForms)
{
    DevInfo dev;
    setImage(dev);
    EXPECT_EQ(strCmdComponentIdText(dev.m_ucU4Config), "0123456789A");
    // The mode bits in the high digit of byte 89 are not part of the ID.
    dev.m_ucU4Config[89] = 0xF0;
    EXPECT_EQ(strCmdComponentIdText(dev.m_ucU4Config), "0123456789A");

    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"230915010203", "230915_01_02_03"},
        {"", "___"},
        {"12345", "12345___"},
        {"1234567", "123456_7__"},
        {"2309150102", "230915_01_02_"},
        {"2309150102030", "230915_01_02_030"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(strCmdVersionWithUnderscores(c.in), c.out) << c.in;
}

TEST(CmdLineReportTest, TextsOfTwoDevices)
{
    DevList devList;
    devList.DevNums = 2;
    DevInfo& a = devList.Devs[0];
    a.m_strUSBSpeed = "SUPERx2";
    a.m_strVID = "3E9A";
    a.m_strPID = "8573";
    a.m_strSerialNumber = "AAAABBBB0001";
    a.m_strFWVersion = "230915010203";
    a.m_ucCCOrientation = 2;
    a.m_ucU4Mode = 3;
    setImage(a);
    DevInfo& b = devList.Devs[1];
    b.m_strUSBSpeed = "HIGH";
    b.m_ucU4Mode = 7;  // none of the four modes

    EXPECT_EQ(strCmdDeviceInfoText(devList, 2),
              "Port[0]\r\nStatus[SUPERx2]\r\nVID[3E9A]\r\nPID[8573]\r\nSN[AAAABBBB0001]\r\nFW[230915010203]\r\n"
              "CC[2]\r\nU4[U3 TNL]\r\n\r\n"
              "Port[1]\r\nStatus[HIGH]\r\nVID[]\r\nPID[]\r\nSN[]\r\nFW[]\r\nCC[255]\r\nU4[UNKNOW]\r\n\r\n");
    EXPECT_EQ(strCmdVersionText(devList, 2), "0:230915_01_02_03\r\n1:___\r\n");
    EXPECT_EQ(strCmdU4DataRows(devList, 1),
              "0123456789A,3E9A,8573,A00B0666,3915,5A,00E7,8574,E3,2C4B,8573,3E9A-0123456789A-0\r\n");
    // Never past the table, whatever count a caller passes.
    EXPECT_EQ(strCmdVersionText(devList, 40).size(), strCmdVersionText(devList, MAX_DEV_SLOTS).size());
    EXPECT_EQ(strCmdVersionText(devList, 0), "");
}

TEST(CmdLineReportTest, PcieLinesTakeTheirOwnRecordsUuid)
{
    DevList devList;
    devList.DevNums = 2;  // two USB devices before the PCIe targets
    setImage(devList.Devs[2]);
    devList.Devs[3].m_ucU4Config[84] = 0x01;  // component ID 00000000001

    CmdReportPcieTarget first;
    first.ucBus = 3;
    first.ucDevice = 0;
    first.ucFunction = 1;
    const char serial[] = "SN\0\0" "123\x7f" "4";
    std::copy(serial, serial + sizeof serial - 1, first.ucSerial);
    CmdReportPcieTarget second;
    second.ucBus = 4;
    EXPECT_EQ(strCmdPcieInfoText(devList, {first, second}),
              "Bus:3,Device:0,Function:1,SN:SN1234,UUID:3E9A0123456789A0\r\n"
              "Bus:4,Device:0,Function:0,SN:,UUID:3E9A000000000010\r\n");
}

TEST(CmdLineReportTest, OneCsvPerDayWithOneHeader)
{
    krv::test::TempDir dir;
    EXPECT_EQ(std::string(CMD_REPORT_U4DATA_HEADER).size(), 160u);
    EXPECT_EQ(strCmdU4DataFileName(day(2026, 3, 7)), "U4Data_20260307.csv");

    const std::string header = std::string(CMD_REPORT_U4DATA_HEADER) + "\r\n";
    ASSERT_TRUE(bCmdAppendU4DataCsv(dir.path(), "row1\r\n", day(2026, 3, 7)));
    ASSERT_TRUE(bCmdAppendU4DataCsv(dir.path(), "row2\r\n", day(2026, 3, 7)));
    EXPECT_EQ(readAll(dir.file("U4Data_20260307.csv")), header + "row1\r\nrow2\r\n");
    // After midnight: a new file with its own header.
    ASSERT_TRUE(bCmdAppendU4DataCsv(dir.path(), "row3\r\n", day(2026, 3, 8)));
    EXPECT_EQ(readAll(dir.file("U4Data_20260308.csv")), header + "row3\r\n");
    // Only a new file gets the header: one that is there, even empty, is
    // appended to as it is.
    writeAll(dir.file("U4Data_20260309.csv"), "");
    ASSERT_TRUE(bCmdAppendU4DataCsv(dir.path(), "row4\r\n", day(2026, 3, 9)));
    EXPECT_EQ(readAll(dir.file("U4Data_20260309.csv")), "row4\r\n");
}

TEST(CmdLineReportTest, WritersAppendingToOneDayFileLoseNoRow)
{
    // Two tools that share a current folder (two benches on one PC) write
    // the day's csv at the same time.
    krv::test::TempDir dir;
    constexpr int kRuns = 40;
    auto writer = [&](char who) {
        for (int i = 0; i < kRuns; ++i) {
            const std::string rows = std::string(1, who) + std::to_string(i) + "a\r\n" + std::string(1, who) +
                                     std::to_string(i) + "b\r\n";
            EXPECT_TRUE(bCmdAppendU4DataCsv(dir.path(), rows, day(2026, 3, 7)));
        }
    };
    std::thread first(writer, 'x');
    std::thread second(writer, 'y');
    first.join();
    second.join();

    // Each row whole on a line of its own (the header may come after the
    // other writer's first rows).
    const std::string text = "\n" + readAll(dir.file("U4Data_20260307.csv"));
    const std::string header = std::string(CMD_REPORT_U4DATA_HEADER) + "\r\n";
    size_t headers = 0;
    for (size_t at = text.find(header); at != std::string::npos; at = text.find(header, at + 1))
        ++headers;
    EXPECT_EQ(headers, 1u);
    for (char who : {'x', 'y'})
        for (int i = 0; i < kRuns; ++i)
            for (const char* half : {"a", "b"}) {
                const std::string row = "\n" + std::string(1, who) + std::to_string(i) + half + "\r\n";
                EXPECT_NE(text.find(row), std::string::npos) << row;
            }
}

TEST(CmdLineReportTest, FilesThatCannotBeWrittenAreLeftAlone)
{
    krv::test::TempDir dir;
    // A report whose folder is a regular file cannot be written.
    writeAll(dir.file("plain"), "x");
    EXPECT_FALSE(bCmdWriteReportFile(dir.file("plain"), CMD_REPORT_VERSION_FILE, "0:___\r\n"));
    EXPECT_FALSE(bCmdAppendU4DataCsv(dir.file("plain"), "row\r\n", day(2026, 3, 7)));

    // A day file that is no file is left as it is.
    std::filesystem::create_directory(dir.file("U4Data_20260307.csv"));
    EXPECT_FALSE(bCmdAppendU4DataCsv(dir.path(), "row\r\n", day(2026, 3, 7)));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("U4Data_20260307.csv")));

    // A rewrite replaces the whole file and leaves no temporary behind.
    writeAll(dir.file(CMD_REPORT_VERSION_FILE), "0:old and longer than the new one\r\n");
    ASSERT_TRUE(bCmdWriteReportFile(dir.path(), CMD_REPORT_VERSION_FILE, "0:___\r\n"));
    EXPECT_EQ(readAll(dir.file(CMD_REPORT_VERSION_FILE)), "0:___\r\n");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 3);  // plain, the csv folder, the report
}

}  // namespace
