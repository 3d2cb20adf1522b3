// A command-line job waits for its first drive: it gives up after
// CmdLineTimeOut (or after CmdLineNoDevRetryMax retries) with the no-device
// code, and a drive plugged in during the wait lets the job run, once.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/VIVadeDlg.h"
#include "tests/e2e/CmdLineRun.h"

namespace {

using krv::test::CmdLineRun;
using krv::test::countOf;
using krv::test::RunningProgram;
using krv::test::ToolRun;

constexpr int kNoDevice = CVIVadeDlg::CMDLINE_EXIT_NO_DEVICE & 0xFF;

class CmdLineWaitTest : public ::testing::Test {
protected:
    void SetUp() override { run.createBench({"--ports", "1", "--present", "no"}); }

    // Waits (bounded) until the running tool has logged `line`.
    static bool waitForLine(const RunningProgram& program, const std::string& line)
    {
        for (int i = 0; i < 3000; ++i) {
            if (program.errSoFar().find(line) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Plugs the drive in while the tool waits for it, and returns the run.
    ToolRun plugDuringWait(const std::string& option, const std::string& waitingLine)
    {
        auto program = run.start({option});
        EXPECT_TRUE(waitForLine(*program, waitingLine)) << program->errSoFar();
        ToolRun plugged = run.krvbench("plug", {"1"});
        EXPECT_EQ(plugged.exitCode, 0) << plugged.err;
        return program->wait();
    }

    CmdLineRun run;
};

TEST_F(CmdLineWaitTest, GivesUpAfterTheTimeOut)
{
    run.writeSettings([](IniRecord& ini) { ini.CmdLineTimeOut = 35; });
    ToolRun r = run.run({"/V"});
    EXPECT_EQ(r.exitCode, kNoDevice) << r.err;
    EXPECT_NE(r.err.find("no device, time out:35 s, retry:0, delay:0"), std::string::npos) << r.err;
    EXPECT_FALSE(run.hasCurrentFile("KRV8574Version.txt"));
}

TEST_F(CmdLineWaitTest, GivesUpAfterTheRetries)
{
    run.writeSettings([](IniRecord& ini) {
        ini.CmdLineNoDevRetryMax = 3;
        ini.CmdLineNoDevDelayms = 1000;
    });
    ToolRun r = run.run({"/O"});
    EXPECT_EQ(r.exitCode, kNoDevice) << r.err;
    // The first scan and three retries, then the give-up.
    EXPECT_EQ(countOf(r.err, "Start Scan USB Port"), 4) << r.err;
    for (int n = 1; n <= 3; ++n)
        EXPECT_NE(r.err.find("rescan cnt:" + std::to_string(n)), std::string::npos) << n;
    EXPECT_NE(r.err.find("no dev, ret:-4"), std::string::npos);
    EXPECT_FALSE(run.hasCurrentFile("KRV857xDeviceInfo.txt"));
}

TEST_F(CmdLineWaitTest, ADrivePluggedDuringTheTimeOutLetsTheJobRunOnce)
{
    // Far longer than the test takes: only the plug can end the wait.
    run.writeSettings([](IniRecord& ini) { ini.CmdLineTimeOut = 100000; });
    ToolRun r = plugDuringWait("/O4", "rescan timer enabled");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(countOf(r.err, "cmd idx:3"), 1);
    // One run, one row under the header.
    std::string csv;
    for (const auto& entry : std::filesystem::directory_iterator(run.currentFolder()))
        if (entry.path().filename().string().rfind("U4Data_", 0) == 0)
            csv = run.currentFile(entry.path().filename().string());
    EXPECT_EQ(countOf(csv, "\r\n"), 2) << csv;
}

TEST_F(CmdLineWaitTest, ADrivePluggedDuringTheRetriesStopsThem)
{
    run.writeSettings([](IniRecord& ini) {
        ini.CmdLineNoDevRetryMax = 100000;
        ini.CmdLineNoDevDelayms = 1000;
    });
    ToolRun r = plugDuringWait("/V", "rescan cnt:2");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(run.currentFile("KRV8574Version.txt").rfind("0:", 0), 0u);
    // Once the job has started, no retry scans any more.
    const size_t job = r.err.find("cmd idx:4");
    ASSERT_NE(job, std::string::npos);
    EXPECT_EQ(r.err.find("rescan cnt:", job), std::string::npos);
    EXPECT_EQ(countOf(r.err, "cmd idx:"), 1);
}

}  // namespace
