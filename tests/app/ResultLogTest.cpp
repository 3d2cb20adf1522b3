#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/Ini.h"
#include "app/ResultLog.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "tests/support/TestPlatform.h"

namespace {

const std::string kHeader =
    "Date\tTime\tTarget\tPort#\tHDD_SN\tVID\tPID\tiVersion\tiManugacturer\tiProduct\tSerialNumber\tFWVersion\t"
    "USB Speed\tPhysicalAddress\tLogicalAddress\tConfigTableFormat\tUpdateVID\tUpdatePID\tUpdateRevision\t"
    "UpdateManufacturerString\tUpdateProductString\tUpdateSerialNumber\tUpdateSerialIncrease\tUpdateFWFile\t"
    "FormatDriveType\tFormatLabelName\tWrRdTestBinary\tWrRdTestCount\tUpdateFWResult\tReloadFWResult\t"
    "DoPartitionFormatResult\tDoWrRdTestResult\tDoPreloadResult\t";

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

krv::LocalTime at(int year, int month, int day, int hour, int minute, int second)
{
    krv::LocalTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return t;
}

// Every step on.
IniRecord runSettings()
{
    IniRecord ini{};
    ini.fw_enable = 1;
    ini.fw_reload = 1;
    ini.format_enable = 1;
    ini.wr_test_enable = 1;
    ini.preload_enable = 1;
    ini.config_format = 3;
    ini.vendor_id.set("3E9A");
    ini.product_id.set("8573");
    ini.device_revision.set("0100");
    ini.manufacturer_string.set("Korvane");
    ini.product_string.set("KRV857X series");
    ini.serial_number.set("0000000000AB");
    ini.serial_number_increase = 1;
    ini.fw_binary_name.set("KV_USB4_230915_01_02_03.bin");
    ini.format_drive_type = 1;
    ini.drive_label_name.set("KRVDISK");
    ini.wr_test_binary_name.set("rwtest.bin");
    ini.wr_test_count = 2;
    return ini;
}

void fillDevice(DevInfo& device)
{
    device.m_iPortLocation = 1312;
    device.m_strHDDSN = "WD-WX12";
    device.m_strVID = "3E9A";
    device.m_strPID = "8573";
    device.m_strVersion = "0100";
    device.m_strManufacturer = "Korvane";
    device.m_strProduct = "KRV857X series";
    device.m_strSerialNumber = "0000000000AE";
    device.m_strFWVersion = "230915010203";
    device.m_strUSBSpeed = "SUPER";
    device.m_ucPhysicalAddress = 5;
    device.m_cDriveLetter = 'E';
    device.m_bUpdateFWResult = 1;
    device.m_bReloadFWResult = 1;
    device.m_bPartitionResult = 1;
    device.m_bFormatResult = 0;
    device.m_bWrRdTestResult = 2;  // anything but exactly 1 fails
    device.m_bPreloadResult = 1;
}

class ResultLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        vDEBUG_SetLevel(4);
        fillDevice(device);
    }
    void TearDown() override { vDEBUG_SetLevel(0); }

    krv::test::TestPlatform platform;
    krv::test::TempDir dir;
    DevInfo device;
};

TEST_F(ResultLog, HeaderAndRowMatchTheFormat)
{
    EXPECT_EQ(strMPResultHeader(), kHeader);
    EXPECT_EQ(std::count(kHeader.begin(), kHeader.end(), '\t'), 33);

    const std::string row = strMPResultRow(runSettings(), device, 2, at(2024, 3, 5, 9, 7, 3));
    EXPECT_EQ(row,
              "\r\n20240305\t09:07:03\t02\t1312\tWD-WX12\t3E9A\t8573\t0100\tKorvane\tKRV857X series\t"
              "0000000000AE\t230915010203\tSUPER\t05\tE\t3\t3E9A\t8573\t0100\tKorvane\tKRV857X series\t \t1\t"
              "KV_USB4_230915_01_02_03.bin\t1\tKRVDISK\trwtest.bin\t2\tPASS\tPASS\tFAIL\tFAIL\tPASS\t \t");
    // One cell per header name, and the closing blank.
    EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 34);
}

TEST_F(ResultLog, StepsThatAreOffGiveBlankCells)
{
    IniRecord ini = runSettings();
    ini.fw_enable = 0;
    ini.fw_reload = 2;  // only exactly 1 is on
    ini.format_enable = 0;
    ini.wr_test_enable = 0;
    ini.preload_enable = 0;
    device.m_cDriveLetter = DEV_DRIVE_LETTER_NONE;
    std::string blanks;
    for (int i = 0; i < 19; ++i)
        blanks += " \t";
    EXPECT_EQ(strMPResultRow(ini, device, 0, at(2024, 12, 31, 23, 59, 59)),
              "\r\n20241231\t23:59:59\t00\t1312\tWD-WX12\t3E9A\t8573\t0100\tKorvane\tKRV857X series\t"
              "0000000000AE\t230915010203\tSUPER\t05\t \t" +
                  blanks);

    // Each result on its own: the partition and format cell passes only when both did.
    ini = runSettings();
    device.m_bFormatResult = 1;
    device.m_bWrRdTestResult = 1;
    std::string row = strMPResultRow(ini, device, 0, at(2024, 1, 1, 0, 0, 0));
    EXPECT_NE(row.find("\tPASS\tPASS\tPASS\tPASS\tPASS\t \t"), std::string::npos) << row;
    device.m_bUpdateFWResult = 0;
    device.m_bPartitionResult = 0;
    row = strMPResultRow(ini, device, 0, at(2024, 1, 1, 0, 0, 0));
    EXPECT_NE(row.find("\tFAIL\tPASS\tFAIL\tPASS\tPASS\t \t"), std::string::npos) << row;
}

TEST_F(ResultLog, TextsCannotBreakTheColumns)
{
    IniRecord ini = runSettings();
    ini.drive_label_name.set("A\tB");
    device.m_strProduct = "two\r\nlines";
    device.m_strHDDSN = "";
    const std::string row = strMPResultRow(ini, device, 0, at(2024, 1, 1, 0, 0, 0));
    EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 34);
    EXPECT_EQ(std::count(row.begin(), row.end(), '\n'), 1);
    EXPECT_NE(row.find("\ttwo  lines\t"), std::string::npos);
    EXPECT_NE(row.find("\tA B\t"), std::string::npos);
    // An empty text is an empty cell.
    EXPECT_NE(row.find("\t1312\t\t3E9A\t"), std::string::npos);
}

TEST_F(ResultLog, OneFilePerDayWithItsHeaderOnce)
{
    DevList devList;
    fillDevice(devList.Devs[0]);
    fillDevice(devList.Devs[1]);
    devList.Devs[1].m_iPortLocation = 7;
    DevList* const previousList = g_UsbDev.m_pDevList.exchange(&devList);
    const std::string previousFolder = pUtility.m_szProgramFolder;
    pUtility.m_szProgramFolder = dir.path();

    Ini ini;
    ini.m_pINI = runSettings();
    platform.virtualClock().pinLocalTime(at(2024, 3, 5, 23, 59, 58));
    EXPECT_TRUE(ini.vLogMPResult(0));
    EXPECT_TRUE(ini.vLogMPResult(1));
    platform.virtualClock().pinLocalTime(at(2024, 3, 6, 0, 0, 1));
    EXPECT_TRUE(ini.vLogMPResult(1));
    // A slot outside the table is refused.
    EXPECT_FALSE(ini.vLogMPResult(MAX_DEV_SLOTS));

    g_UsbDev.m_pDevList = previousList;
    pUtility.m_szProgramFolder = previousFolder;

    const std::string first = readAll(dir.file("20240305.log"));
    const std::string second = readAll(dir.file("20240306.log"));
    EXPECT_EQ(first, kHeader + strMPResultRow(ini.m_pINI, devList.Devs[0], 0, at(2024, 3, 5, 23, 59, 58)) +
                         strMPResultRow(ini.m_pINI, devList.Devs[1], 1, at(2024, 3, 5, 23, 59, 58)));
    EXPECT_EQ(second, kHeader + strMPResultRow(ini.m_pINI, devList.Devs[1], 1, at(2024, 3, 6, 0, 0, 1)));
    EXPECT_EQ(second.substr(second.size() - 2), " \t");  // no line end after the last row
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator{}), 2);
}

TEST_F(ResultLog, AnEmptyFileOfTheDayGetsTheHeader)
{
    const krv::LocalTime now = at(2024, 3, 5, 12, 0, 0);
    std::ofstream{dir.file("20240305.log")};
    EXPECT_TRUE(bAppendMPResult(dir.path(), runSettings(), device, 4, now));
    EXPECT_EQ(readAll(dir.file("20240305.log")), kHeader + strMPResultRow(runSettings(), device, 4, now));
}

TEST_F(ResultLog, AnUnwritableFolderFailsAndSaysSo)
{
    // A "folder" that is a regular file can hold no log.
    const std::string notAFolder = dir.file("plain");
    std::ofstream{notAFolder} << "x";
    platform.capture().clear();
    EXPECT_FALSE(bAppendMPResult(notAFolder, runSettings(), device, 3, at(2024, 3, 5, 12, 0, 0)));
    EXPECT_TRUE(platform.capture().contains("vLogMPResult: [3]"));
    EXPECT_EQ(readAll(notAFolder), "x");

    EXPECT_FALSE(bAppendMPResult(dir.file("missing/sub"), runSettings(), device, 3, at(2024, 3, 5, 12, 0, 0)));
}

}  // namespace
