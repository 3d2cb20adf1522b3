// The lock button pressed in the automatic mode while a port writes its
// bridge's firmware, with both images chosen: the run's threads are stopped
// before the login is asked for, and that stop keeps the rule the exit
// keeps: the image under way is written and verified whole, the next one is
// never begun, and the button waits for the write however long it takes
// rather than leaving the worker writing on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/app/SlowUpdateRun.h"

namespace krv::test {
namespace {

TEST(LockDuringUpdate, TheStopWaitsForTheImageUnderWayAndBeginsNoNewOne)
{
    SlowUpdateRun run;
    RunFixture& f = run.f;
    ASSERT_TRUE(run.bStartAndReachTheFirstImage()) << ::testing::PrintToString(f.boxes());
    const size_t nAtLock = run.nLogged();

    // The automatic mode, locked: the button stops the run first.
    pIni.m_pINI.auto_mp = 1;
    int nWritesAtLogin = -1;
    std::vector<std::string> runningAtLogin;
    f.dlg->vSetLoginPrompt([&] {
        nWritesAtLogin = f.dlg->m_nEepromWrites.load();
        runningAtLogin = f.dlg->m_Threads.vecRunningNames();
        return false;
    });
    f.dlg->sendCommand(IDC_BUTTON_UNLOCK_VIVADE);
    EXPECT_EQ(nWritesAtLogin, 0);
    EXPECT_EQ(std::count(runningAtLogin.begin(), runningAtLogin.end(), "ChildThreadFun"), 0)
        << ::testing::PrintToString(runningAtLogin);
    EXPECT_EQ(std::count(runningAtLogin.begin(), runningAtLogin.end(), "MainThreadFun"), 0)
        << ::testing::PrintToString(runningAtLogin);

    // Image 0 was written and read back after the press; image 1 was never
    // touched.
    ASSERT_TRUE(runEventsUntil([&] { return f.dlg->m_Threads.vecRunningNames().empty(); }, std::chrono::seconds(60)));
    run.vExpectImageUnderWayFinishedAndNoNewOne(nAtLock, "lock");

    // The stopped run gave back its token and the device notices: the
    // window sees a drive leave and could start the next run.
    EXPECT_EQ(f.dlg->m_bRunning.load(), 0);
    std::string outcome;
    ASSERT_TRUE(f.bench.bench().apply(bench::BenchCommand{"unplug", 1, {}}, outcome)) << outcome;
    EXPECT_TRUE(runEventsUntil([&] { return f.scanOver() && f.dlg->m_DevList.DevNums == 0; },
                               std::chrono::seconds(60)));
}

}  // namespace
}  // namespace krv::test
