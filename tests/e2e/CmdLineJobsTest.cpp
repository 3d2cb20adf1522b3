// The production tool's command-line jobs, run as a production script runs
// them: one option, no window, the exit code as the shell sees it, the report
// files byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/VIVadeDlg.h"
#include "tests/e2e/CmdLineRun.h"
#include "tests/support/ProductionRunSetup.h"

namespace {

using krv::test::CmdLineRun;
using krv::test::countOf;
using krv::test::ToolRun;

// The shell's view of an exit code.
int shell(int32_t code) { return code & 0xFF; }

// A USB4 image whose identity fields all differ, so that a field taken from
// the wrong bytes or in the wrong order shows in the csv.
std::string usb4Image()
{
    std::string image(128, '\xFF');
    const unsigned char fields[][2] = {
        {84, 0x9A}, {85, 0x78}, {86, 0x56}, {87, 0x34}, {88, 0x12}, {89, 0x30},  // component ID 0123456789A
        {92, 0x9A}, {93, 0x3E},                                                  // U4 vendor ID 3E9A
        {94, 0x73}, {95, 0x85},                                                  // U4 product ID 8573
        {96, 0x66}, {97, 0x06}, {98, 0x0B}, {99, 0xA0},                          // test ID A00B0666
        {100, 0x15}, {101, 0x39},                                                // BCD product ID 3915
        {102, 0x5A},                                                             // product HW 5A
        {108, 0xE7}, {109, 0x00},                                                // TBT3 vendor ID 00E7
        {110, 0x74}, {111, 0x85},                                                // TBT3 model ID 8574
        {112, 0xE3},                                                             // TBT3 model revision
        {116, 0x4B}, {117, 0x2C},                                                // PCIe vendor ID 2C4B
        {118, 0x75}, {119, 0x85},                                                // PCIe device ID 8575
    };
    for (const auto& f : fields)
        image[f[0]] = static_cast<char>(f[1]);
    return image;
}

class CmdLineJobsTest : public ::testing::Test {
protected:
    // Two drives: a USB4 drive on a USB 3 tunnel, and a plain USB 3 one.
    void SetUp() override
    {
        krv::test::writeFile(run.programFolder() + "/u4.bin", usb4Image());
        run.createBench({"--ports", "2", "--link", "1=USB4-U3", "--speed", "1=Gen2x2", "--firmware",
                         "1=230915010203", "--serial", "1=SERIAL0001", "--usb4-config",
                         "1=" + run.programFolder() + "/u4.bin", "--firmware", "2=240102030405", "--serial",
                         "2=SERIAL0002", "--registers", "2=E302:80"});
        run.writeSettings();
    }

    CmdLineRun run;
};

TEST_F(CmdLineJobsTest, ReportsOfEveryDrive)
{
    const std::string settings = krv::test::readFile(run.settingsPath());

    ToolRun version = run.run({"/V"});
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_EQ(run.currentFile("KRV8574Version.txt"), "0:230915_01_02_03\r\n1:240102_03_04_05\r\n");

    ToolRun info = run.run({"/O"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(run.currentFile("KRV857xDeviceInfo.txt"),
              "Port[0]\r\nStatus[]\r\nVID[2C4B]\r\nPID[8574]\r\nSN[SERIAL0001]\r\nFW[230915010203]\r\nCC[1]\r\n"
              "U4[U3 TNL]\r\n\r\n"
              "Port[1]\r\nStatus[PLUSx1]\r\nVID[2C4B]\r\nPID[8574]\r\nSN[SERIAL0002]\r\nFW[240102030405]\r\nCC[2]\r\n"
              "U4[Legacy]\r\n\r\n");

    // Two runs on one day: one file, one header, the rows of both runs.
    for (int i = 0; i < 2; ++i) {
        ToolRun csv = run.run({"/O4"});
        EXPECT_EQ(csv.exitCode, 0) << csv.err;
    }
    std::string csvName;
    for (const auto& entry : std::filesystem::directory_iterator(run.currentFolder()))
        if (entry.path().filename().string().rfind("U4Data_", 0) == 0)
            csvName = entry.path().filename().string();
    ASSERT_FALSE(csvName.empty());
    const std::string csv = run.currentFile(csvName);
    const std::string header =
        "Component ID,U4 Vendor ID,U4 Product ID,U4 Test ID,BCD Product ID,Product HW,TBT3 Vendor ID,TBT3 Model ID,"
        "TBT3 Model Revision,PCIE Vendor ID,PCIE Device ID,UUID\r\n";
    const std::string row0 = "0123456789A,3E9A,8573,A00B0666,3915,5A,00E7,8574,E3,2C4B,8575,3E9A-0123456789A-0\r\n";
    EXPECT_EQ(csv.rfind(header, 0), 0u) << csv;
    EXPECT_EQ(countOf(csv, "Component ID"), 1);
    EXPECT_EQ(countOf(csv, row0), 2);
    EXPECT_EQ(countOf(csv, "\r\n"), 5);
    EXPECT_EQ(countOf(csv, "\n"), 5);

    // A command-line run writes nothing into the operator's settings file.
    EXPECT_EQ(krv::test::readFile(run.settingsPath()), settings);
}

TEST_F(CmdLineJobsTest, TheFirstDriveDecides)
{
    const struct {
        std::vector<std::string> args;
        int32_t code;
    } first[] = {
        {{"/CC"}, CVIVadeDlg::CMDLINE_EXIT_CC_FLIP1},
        {{"/SPD"}, 6},  // USB 3 tunnel, Gen2x2
        {{"/C:230915010203"}, CVIVadeDlg::CMDLINE_EXIT_OK},
        {{"/C:230915010204"}, CVIVadeDlg::CMDLINE_EXIT_FW_DIFFERS},
        {{"/C:ZZZZZZZZZZZZ"}, CVIVadeDlg::CMDLINE_EXIT_FW_DIFFERS},  // no version a bridge has, still compared
        // What stands before "/C:" is dropped: the shorter version is compared.
        {{"X/C:23091501020"}, CVIVadeDlg::CMDLINE_EXIT_FW_DIFFERS},
    };
    for (const auto& c : first) {
        ToolRun r = run.run(c.args);
        EXPECT_EQ(r.exitCode, shell(c.code)) << c.args[0] << "\n" << r.err;
    }
    // With the first drive gone, the second is the first.
    ASSERT_EQ(run.krvbench("unplug", {"1"}).exitCode, 0);
    const struct {
        std::vector<std::string> args;
        int32_t code;
    } second[] = {
        {{"/CC"}, CVIVadeDlg::CMDLINE_EXIT_CC_FLIP2},
        {{"/SPD"}, 3},  // legacy USB, SuperSpeed Plus
        {{"/C:240102030405"}, CVIVadeDlg::CMDLINE_EXIT_OK},
    };
    for (const auto& c : second) {
        ToolRun r = run.run(c.args);
        EXPECT_EQ(r.exitCode, shell(c.code)) << c.args[0] << "\n" << r.err;
    }
}

TEST(CmdLineJobsOtherTest, VersionCheckIgnoresCaseAndCcWithoutOrientationFails)
{
    CmdLineRun run;
    run.createBench({"--ports", "1", "--firmware", "23091501ABCD", "--speed", "Gen1x1", "--registers", "E302:00"});
    run.writeSettings();
    EXPECT_EQ(run.run({"/C:23091501abcd"}).exitCode, 0);
    EXPECT_EQ(run.run({"/C:23091501ABCD"}).exitCode, 0);
    EXPECT_EQ(run.run({"/CC"}).exitCode, shell(CVIVadeDlg::CMDLINE_EXIT_FAILED));
    EXPECT_EQ(run.run({"/SPD"}).exitCode, 1);  // legacy USB, SuperSpeed
}

TEST(CmdLineJobsOtherTest, AJobOnTheFactorySettingsSaysSo)
{
    CmdLineRun run;
    run.createBench({"--ports", "1"});
    krv::test::writeFile(run.settingsPath(), "this is no settings file\r\n");
    ToolRun r = run.run({"/V"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string message = run.currentFile("ProgramMSG.txt");
    EXPECT_NE(message.find("not loaded"), std::string::npos) << message;
    EXPECT_NE(message.find("the factory settings are used"), std::string::npos) << message;
    EXPECT_NE(r.err.find("the factory settings are used"), std::string::npos) << r.err;
}

// A settings file that is there but does not load: the jobs that write to
// drives end with the settings' code before any scan, saying why without the
// machine's paths; a job that only reads goes on with the factory settings.
TEST(CmdLineJobsOtherTest, AWritingJobOnASettingsFileThatDidNotLoadEndsBeforeTouchingADrive)
{
    const struct {
        const char* name;
        std::function<void(CmdLineRun&)> damage;
    } cases[] = {
        {"random bytes",
         [](CmdLineRun& run) {
             std::string bytes(20000, '\0');
             for (size_t i = 0; i < bytes.size(); ++i)
                 bytes[i] = static_cast<char>((i * 7919 + 13) % 251);
             krv::test::writeFile(run.settingsPath(), bytes);
         }},
        {"another version",
         [](CmdLineRun& run) {
             std::string text = krv::test::readFile(run.settingsPath());
             text.replace(text.find("version=1009"), 12, "version=99999");
             krv::test::writeFile(run.settingsPath(), text);
         }},
        {"a bad field",
         [](CmdLineRun& run) {
             std::string text = krv::test::readFile(run.settingsPath());
             text.replace(text.find("serial_number=AAAABBBB0001"), 26, "serial_number=" + std::string(60, '7'));
             krv::test::writeFile(run.settingsPath(), text);
         }},
        {"a named pipe",
         [](CmdLineRun& run) {
             std::filesystem::remove(run.settingsPath());
             ::mkfifo(run.settingsPath().c_str(), 0644);
         }},
        {"3 GiB",
         [](CmdLineRun& run) { std::filesystem::resize_file(run.settingsPath(), 3ULL << 30); }},
        {"missing", [](CmdLineRun& run) { std::filesystem::remove(run.settingsPath()); }},
    };
    for (const auto& c : cases) {
        CmdLineRun run;
        run.createBench({"--ports", "1"});
        krv::test::writeRunFiles(run.programFolder());
        run.writeSettings([&](IniRecord& r) { krv::test::setRunSettings(r, run.programFolder()); });
        c.damage(run);
        for (const char* option : {"/S", "/PC", "/RST"}) {
            std::filesystem::remove(run.currentFolder() + "/ProgramMSG.txt");
            ToolRun r = run.run({option});
            EXPECT_FALSE(r.timedOut) << c.name << " " << option;
            EXPECT_EQ(r.exitCode, shell(CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION)) << c.name << " " << option << "\n"
                                                                               << r.err;
            EXPECT_EQ(countOf(r.err, "Start Scan USB Port"), 0) << c.name << " " << option;
            const std::string message = run.currentFile("ProgramMSG.txt");
            EXPECT_NE(message.find(std::string("Settings file kv_mp_Toolv0.6.ini not loaded: ") + option +
                                   " writes no drive"),
                      std::string::npos)
                << c.name << "\n"
                << message;
            EXPECT_EQ(message.find(run.programFolder()), std::string::npos) << c.name << "\n" << message;
        }
        // Nothing reached the bridge, not even a scan's question.
        EXPECT_EQ(run.krvbench("log", {"1"}).out.find("E3"), std::string::npos) << c.name;
        EXPECT_EQ(countOf(run.krvbench("log", {"1"}).out, "E8 50"), 0) << c.name;
        // A reading job still runs, on the factory settings.
        std::filesystem::remove(run.currentFolder() + "/ProgramMSG.txt");
        ToolRun version = run.run({"/V"});
        EXPECT_EQ(version.exitCode, 0) << c.name << "\n" << version.err;
        const std::string message = run.currentFile("ProgramMSG.txt");
        EXPECT_NE(message.find("the factory settings are used"), std::string::npos) << c.name << "\n" << message;
        EXPECT_EQ(message.find(run.programFolder()), std::string::npos) << c.name << "\n" << message;
    }
}

// Drives the scan has to leave out: with 118 other disks, ports 9 and 10 get
// drive numbers 127 and 128, which do not fit the device table. A "/S" over the rest would end 0 with drives on the
// bench untouched; it is refused before any write.
TEST(CmdLineJobsOtherTest, ARunWithDrivesTheScanLeftOutIsRefused)
{
    CmdLineRun run;
    run.createBench({"--ports", "10", "--present", "no"});
    {
        std::ofstream ini(run.benchFolder() + "/bench.ini", std::ios::app);
        ini << "\n[system disk]\nother_disks = 118\n";
    }
    for (int port = 1; port <= 10; ++port)
        ASSERT_EQ(run.krvbench("plug", {std::to_string(port)}).exitCode, 0);
    krv::test::writeRunFiles(run.programFolder());
    run.writeSettings([&](IniRecord& r) { krv::test::setRunSettings(r, run.programFolder()); });
    ToolRun r = run.run({"/S"});
    EXPECT_EQ(r.exitCode, shell(CVIVadeDlg::CMDLINE_EXIT_REFUSED)) << r.err.substr(r.err.size() > 8000 ? r.err.size() - 8000 : 0);
    EXPECT_NE(run.currentFile("ProgramMSG.txt").find("2 drive(s) on the bus are not in the run"), std::string::npos)
        << run.currentFile("ProgramMSG.txt");
    EXPECT_EQ(countOf(run.krvbench("show").out, "240517800201"), 0);
}

TEST(CmdLineJobsOtherTest, PowerConfigurationGoesToEveryDriveAndItsFailureIsTheExitCode)
{
    CmdLineRun run;
    run.createBench({"--ports", "1"});
    run.writeSettings();
    // No file: nothing is sent.
    ToolRun noFile = run.run({"/PC"});
    EXPECT_EQ(noFile.exitCode, 255) << noFile.err;
    EXPECT_EQ(countOf(run.krvbench("log", {"1"}).out, "C3 30 0C"), 0);
    // With the file the payload goes out; a KRV857x bridge refuses the
    // KRV752x command, and its failure is what the shell sees.
    krv::test::writeFile(run.currentFolder() + "/" + CVIVadeDlg::CMDLINE_POWER_CONFIG_FILE, "PWR,01,02,A0\r\n");
    ToolRun sent = run.run({"/PC"});
    EXPECT_EQ(sent.exitCode, 255) << sent.err;
    EXPECT_EQ(countOf(run.krvbench("log", {"1"}).out, "C3 30 0C"), 1);
}

// "/RST" resets the first drive's bridge; a reset that never reached the
// bridge fails the job.
TEST(CmdLineJobsOtherTest, ResetReachesTheFirstBridgeAndItsFailureIsTheExitCode)
{
    CmdLineRun run;
    run.createBench({"--ports", "2"});
    run.writeSettings();
    ToolRun done = run.run({"/RST"});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_EQ(countOf(run.krvbench("log", {"1"}).out, "E8 50"), 1);
    EXPECT_EQ(countOf(run.krvbench("log", {"2"}).out, "E8 50"), 0);
    ASSERT_EQ(run.krvbench("fault", {"1", "fail", "1", "--cdb", "E850"}).exitCode, 0);
    ToolRun failed = run.run({"/RST"});
    EXPECT_EQ(failed.exitCode, shell(CVIVadeDlg::CMDLINE_EXIT_FAILED)) << failed.err;
}

// "/S" reaches Start once the scan found the drive; a Start that refuses
// the run ends the process with its code and says why in the message file.
TEST(CmdLineJobsOtherTest, StartRefusalEndsTheRunWithItsCode)
{
    CmdLineRun run;
    run.createBench({"--ports", "1"});
    // The factory settings switch every step off: nothing to run.
    run.writeSettings();
    ToolRun noItem = run.run({"/S"});
    EXPECT_FALSE(noItem.timedOut);
    EXPECT_EQ(noItem.exitCode, shell(CVIVadeDlg::CMDLINE_EXIT_REFUSED)) << noItem.err;
    EXPECT_EQ(countOf(noItem.err, "Start Scan USB Port"), 1) << noItem.err;
    EXPECT_NE(run.currentFile("ProgramMSG.txt").find("Please check following setting"), std::string::npos);

    // A firmware update with a file that is not there.
    run.writeSettings([](IniRecord& ini) {
        ini.fw_enable = 1;
        ini.fw_binary_name.set("KV_USB4_240517_80_02_01.bin");
    });
    std::filesystem::remove(run.currentFolder() + "/ProgramMSG.txt");
    ToolRun noFile = run.run({"/S"});
    EXPECT_FALSE(noFile.timedOut);
    EXPECT_EQ(noFile.exitCode, shell(CVIVadeDlg::CMDLINE_EXIT_REFUSED)) << noFile.err;
    EXPECT_EQ(run.currentFile("ProgramMSG.txt"), "KV_USB4_240517_80_02_01.bin File/Path Not Read/Write\r\n");
}

// Lines that are no option and "/?" end
// without waiting for a device: the settings make any wait longer than the
// test's time-out for a run, and the bench has none to find.
TEST(CmdLineJobsOtherTest, EndsAtOnceWithoutADevice)
{
    CmdLineRun run;
    run.createBench({"--ports", "1", "--present", "no"});
    run.writeSettings([](IniRecord& ini) { ini.CmdLineTimeOut = 1000000; });

    ToolRun usage = run.run({"/?"});
    EXPECT_EQ(usage.exitCode, 0);
    EXPECT_EQ(usage.out, CVIVadeDlg::strUsageText());

    const struct {
        std::vector<std::string> args;
        int32_t code;
    } cases[] = {
        {{"/L"}, CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION},
        {{"/v"}, CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION},
        {{"/V", "/O"}, CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION},
        {{"/C:"}, CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION},
        {{"/C:            "}, CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION},
        {{"/C:", "0123456789ab"}, CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION},
    };
    for (const auto& c : cases) {
        ToolRun r = run.run(c.args);
        EXPECT_FALSE(r.timedOut) << c.args[0];
        EXPECT_EQ(r.exitCode, shell(c.code)) << c.args[0] << "\n" << r.err;
        EXPECT_EQ(countOf(r.err, "Start Scan USB Port"), 0) << c.args[0];
    }
}

}  // namespace
