// A drive swapped while the window cannot scan for it: while a run holds its
// token (its notices ask for no scan), or while a scan that the run then
// turns away waits for the scan lock (the notices' requests are dropped as
// already waiting). Once the run gives its token back the window must look
// at the devices again: the table shows the drive gone (or come), and the
// automatic start counts the drives that are really there.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>

#include "app/VIVadeDlg.h"
#include "device/USBUtility.h"
#include "platform/DeviceEventQueue.h"
#include "tests/app/VIVadeDlgRunSupport.h"

namespace krv::test {
namespace {

constexpr int kDrives = 2;

enum class Busy { RunToken, ScanTurnedAwayByTheRun };

bool bApply(RunFixture& f, const char* pszVerb, int port)
{
    std::string outcome;
    return f.bench.bench().apply(bench::BenchCommand{pszVerb, port, {}}, outcome);
}

TEST(ChangeAtTheRunsEdge, ADriveSwappedWhileTheWindowCannotScanIsSeenOnceTheRunEnds)
{
    const struct {
        const char* name;
        Busy busy;
        const char* verb;  // what happens to port 2
        int devicesAfter;
    } cases[] = {
        {"unplugged while a run holds its token", Busy::RunToken, "unplug", 1},
        {"plugged in while a run holds its token", Busy::RunToken, "plug", 2},
        {"unplugged while a scan waits that the run turns away", Busy::ScanTurnedAwayByTheRun, "unplug", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunFixture f(kDrives);
        f.dlg->OnInitDialog();
        f.dlg->show();
        ASSERT_TRUE(runEventsUntil([&] { return f.scanOver() && f.dlg->m_DevList.DevNums == kDrives; }));
        if (std::string(c.verb) == "plug") {
            ASSERT_TRUE(bApply(f, "unplug", 2));
            ASSERT_TRUE(runEventsUntil([&] { return f.scanOver() && f.dlg->m_DevList.DevNums == 1; }));
        }
        auto& notices = f.bench.platform().deviceEvents();
        const int nBefore = f.dlg->m_DevList.DevNums;
        if (c.busy == Busy::RunToken) {
            ASSERT_TRUE(f.dlg->bTakeRunToken());
            ASSERT_TRUE(bApply(f, c.verb, 2));
        } else {
            // The scan waits for the lock; the swap's requests are dropped
            // as already waiting; Start takes the token (under the scan
            // lock, as it does) before the scan gets the lock.
            std::lock_guard hold(pUtility.m_ScanCriticalSection);
            f.dlg->TriggerScanThread();
            ASSERT_TRUE(runEventsUntil([] { return pUtility.g_bScanWaiting == 1; }));
            ASSERT_TRUE(bApply(f, c.verb, 2));
            ASSERT_TRUE(runEventsUntil([&] { return notices.pending() == 0; }));
            f.dlg->m_bRunning = 1;
        }
        // The notices come and go while the run owns the table: no walk.
        ASSERT_TRUE(runEventsUntil([&] { return notices.pending() == 0 && f.scanOver(); }));
        runEventsUntil([] { return false; }, std::chrono::milliseconds(300));
        EXPECT_EQ(f.dlg->m_DevList.DevNums.load(), nBefore);

        // The run's last step gives the token back.
        f.dlg->m_bRunning = 0;
        EXPECT_TRUE(runEventsUntil(
            [&] { return f.scanOver() && f.dlg->m_DevList.DevNums == c.devicesAfter; }, std::chrono::seconds(20)))
            << "devices " << f.dlg->m_DevList.DevNums.load();
    }
}

}  // namespace
}  // namespace krv::test
