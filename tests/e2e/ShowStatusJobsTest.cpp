// KRV857xShowStatus's command-line jobs as a production script runs them:
// its four options, each ending at the first scan, with the exit code the
// shell sees, the report files and the bench's commands afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "tests/e2e/CmdLineRun.h"

namespace {

using krv::test::CmdLineRun;
using krv::test::countOf;
using krv::test::ToolRun;

int shell(int32_t code) { return code & 0xFF; }

class ShowStatusJobsTest : public ::testing::Test {
protected:
    // Two drives, the first a USB4 drive on a USB 3 tunnel.
    void SetUp() override
    {
        run.createBench({"--ports", "2", "--link", "1=USB4-U3", "--speed", "1=Gen2x2", "--firmware",
                         "1=23091501ABCD", "--serial", "1=SERIAL0001", "--firmware", "2=240102030405", "--serial",
                         "2=SERIAL0002", "--registers", "2=E302:80"});
        run.writeSettings();
    }

    CmdLineRun run{CmdLineRun::Program::ShowStatus};
};

TEST_F(ShowStatusJobsTest, EachJobEndsWithItsCodeAndReport)
{
    const struct {
        std::vector<std::string> args;
        int32_t code;
    } cases[] = {
        {{"/C:23091501abcd"}, CVIVadeDlg::CMDLINE_EXIT_OK},  // letter case does not count
        {{"/C:23091501ABCD"}, CVIVadeDlg::CMDLINE_EXIT_OK},
        {{"/C:240102030405"}, CVIVadeDlg::CMDLINE_EXIT_FW_DIFFERS},  // the first drive decides
        {{"/C:            "}, CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION},
        {{"/O"}, CVIVadeDlg::CMDLINE_EXIT_OK},
        {{"/O4"}, CVIVadeDlg::CMDLINE_EXIT_OK},
    };
    for (const auto& c : cases) {
        ToolRun r = run.run(c.args);
        EXPECT_FALSE(r.timedOut) << c.args[0];
        EXPECT_EQ(r.exitCode, shell(c.code)) << c.args[0] << "\n" << r.err;
    }
    // The rows' refresh left the first drive's USB4 link name as its speed.
    EXPECT_EQ(run.currentFile("KRV857xDeviceInfo.txt"),
              "Port[0]\r\nStatus[Gen2x2]\r\nVID[2C4B]\r\nPID[8574]\r\nSN[SERIAL0001]\r\nFW[23091501abcd]\r\nCC[1]\r\n"
              "U4[U3 TNL]\r\n\r\n"
              "Port[1]\r\nStatus[PLUSx1]\r\nVID[2C4B]\r\nPID[8574]\r\nSN[SERIAL0002]\r\nFW[240102030405]\r\nCC[2]\r\n"
              "U4[Legacy]\r\n\r\n");
    bool bCsv = false;
    for (const auto& entry : std::filesystem::directory_iterator(run.currentFolder()))
        bCsv = bCsv || entry.path().filename().string().rfind("U4Data_", 0) == 0;
    EXPECT_TRUE(bCsv);
    // Its settings file is its own: nothing told of factory settings.
    EXPECT_FALSE(run.hasCurrentFile("ProgramMSG.txt")) << run.currentFile("ProgramMSG.txt");
}

// The production tool's other options are no options here: the program
// stays in its window (which a script sees as a program that never ends),
// so they are checked by the window tests; what a script must see is that
// "/PC" sends the power configuration drive by drive and stops at the first
// failure, whose result is the exit code.
TEST_F(ShowStatusJobsTest, PowerConfigurationStopsAtTheFirstFailure)
{
    krv::test::writeFile(run.currentFolder() + "/" + CVIVadeDlg::CMDLINE_POWER_CONFIG_FILE, "PWR,01,02,A0\r\n");
    ToolRun r = run.run({"/PC"});
    EXPECT_EQ(r.exitCode, 255) << r.err;
    EXPECT_EQ(countOf(run.krvbench("log", {"1"}).out, "C3 30 0C"), 1);
    EXPECT_EQ(countOf(run.krvbench("log", {"2"}).out, "C3 30 0C"), 0);
}

// Bridges tunnelled through PCIe: the jobs read them through their
// mailboxes and write nothing to them. With PCIe only, the first target is
// slot 0 and "/PC" has no USB drive to send to, which is no success; mixed, the USB drive comes
// first and is the only one "/PC" sends to.
TEST(ShowStatusJobsPcieTest, JobsOnTunnelledBridges)
{
    CmdLineRun run{CmdLineRun::Program::ShowStatus};
    run.createBench({"--ports", "3", "--link", "2=USB4", "--link", "3=TBT3", "--firmware", "1=240102030405",
                     "--firmware", "2=23091501ABCD", "--serial", "2=PCIESERIAL2", "--serial", "3=PCIESERIAL3"});
    krv::test::writeFile(run.currentFolder() + "/" + CVIVadeDlg::CMDLINE_POWER_CONFIG_FILE, "PWR,01,02,A0\r\n");
    const struct {
        int32_t pcieScan;
        std::vector<std::string> args;
        int32_t code;
    } cases[] = {
        {2, {"/C:23091501ABCD"}, CVIVadeDlg::CMDLINE_EXIT_OK},
        {2, {"/C:240102030405"}, CVIVadeDlg::CMDLINE_EXIT_FW_DIFFERS},
        {2, {"/O"}, CVIVadeDlg::CMDLINE_EXIT_OK},
        {2, {"/O4"}, CVIVadeDlg::CMDLINE_EXIT_OK},
        {2, {"/PC"}, CVIVadeDlg::CMDLINE_EXIT_NO_DEVICE},  // nothing configured is no success
        {1, {"/C:240102030405"}, CVIVadeDlg::CMDLINE_EXIT_OK},
        {1, {"/PC"}, -1},  // a KRV857x bridge refuses the command
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " PCIE_Scan=" + std::to_string(c.pcieScan));
        run.writeSettings([&](IniRecord& ini) { ini.PCIE_Scan = c.pcieScan; });
        ToolRun r = run.run(c.args);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, shell(c.code)) << r.err;
        if (c.args[0] == "/O") {
            EXPECT_EQ(run.currentFile("KRV857xDeviceInfo.txt").rfind("Port[0]\r\nStatus[Gen3x2]\r\nVID[2C4B]\r\n"
                                                                     "PID[8574]\r\nSN[PCIESERIAL2]\r\n"
                                                                     "FW[23091501abcd]\r\n",
                                                                     0),
                      0u)
                << run.currentFile("KRV857xDeviceInfo.txt");
            EXPECT_NE(run.currentFile("KRV857xDeviceInfo.txt").find("SN[PCIESERIAL3]"), std::string::npos);
        }
    }
    // Only the mixed "/PC" reached a drive, the USB one; the bridges behind
    // PCIe were read, never written.
    EXPECT_EQ(countOf(run.krvbench("log", {"1"}).out, "C3 30 0C"), 1);
    for (const char* port : {"2", "3"}) {
        const std::string log = run.krvbench("log", {port}).out;
        EXPECT_GE(countOf(log, "mailbox"), 1) << port;
        for (const char* write : {"C3 30", "E1 5", "E3 5", "E8 50"})
            EXPECT_EQ(countOf(log, write), 0) << port << " " << write;
    }
}

// No drive: every job ends at the first scan with the no-device code, even
// with a time-out in the settings far longer than the test allows, and
// writes no report.
TEST(ShowStatusJobsOtherTest, WithoutADriveEveryJobEndsAtTheFirstScan)
{
    CmdLineRun run{CmdLineRun::Program::ShowStatus};
    run.createBench({"--ports", "1", "--present", "no"});
    run.writeSettings([](IniRecord& ini) { ini.CmdLineTimeOut = 1000000; });
    for (const char* option : {"/C:0123456789ab", "/O", "/O4", "/PC"}) {
        ToolRun r = run.run({option});
        EXPECT_FALSE(r.timedOut) << option;
        EXPECT_EQ(r.exitCode, shell(CVIVadeDlg::CMDLINE_EXIT_NO_DEVICE)) << option << "\n" << r.err;
        EXPECT_EQ(countOf(r.err, "Start Scan USB Port"), 1) << option;
    }
    EXPECT_FALSE(run.hasCurrentFile("KRV857xDeviceInfo.txt"));
}

// Each program refuses the other's settings file by its version and runs
// its job on the factory settings, saying so.
TEST(ShowStatusJobsOtherTest, TheProductionToolsSettingsFileIsRefused)
{
    CmdLineRun run{CmdLineRun::Program::ShowStatus};
    run.createBench({"--ports", "1"});
    CmdLineRun production;
    production.writeSettings();
    std::filesystem::copy_file(production.settingsPath(), run.settingsPath());
    ToolRun r = run.run({"/O"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string message = run.currentFile("ProgramMSG.txt");
    EXPECT_NE(message.find("the factory settings are used"), std::string::npos) << message;
    EXPECT_NE(message.find("1009"), std::string::npos) << message;
}

}  // namespace
