// Batch after batch in one window, as a line works: Start pressed again when
// a run has ended, a scan between two runs (drives swapped), and the
// automatic start that each scan sends. Every run ends and counts its drives;
// the window never has to be restarted between batches.
#include <gtest/gtest.h>

#include <string>

#include "app/VIVadeDlg.h"
#include "tests/app/VIVadeDlgRunSupport.h"

namespace krv::test {
namespace {

constexpr int kDrives = 2;
constexpr int kRuns = 5;

// Partition and format only: the shortest run that still works every port.
void setFormatOnlySettings(IniRecord& r, const std::string& prog)
{
    setRunSettings(r, prog);
    r.fw_enable = 0;
    r.fw_reload = 0;
    r.preload_enable = 0;
    r.wr_test_enable = 0;
}

enum class NextRun { StartPressed, ScanThenStart, AutomaticStart };

TEST(RunAfterRun, EveryRunInOneWindowRunsToItsEnd)
{
    const struct {
        const char* name;
        NextRun next;
    } cases[] = {
        {"Start pressed again", NextRun::StartPressed},
        {"a scan between the runs", NextRun::ScanThenStart},
        {"the automatic start of each scan", NextRun::AutomaticStart},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunFixture f(kDrives);
        f.writeSettings([&](IniRecord& r) {
            setFormatOnlySettings(r, f.programDir.path());
            if (c.next == NextRun::AutomaticStart) {
                r.auto_mp = 1;
                r.auto_mp_DevNum = kDrives;
            }
        });
        f.dlg->OnInitDialog();
        f.dlg->show();
        for (int run = 1; run <= kRuns; ++run) {
            SCOPED_TRACE("run " + std::to_string(run));
            const CWorkerThread* pLastSupervisor = f.dlg->m_pMainThread.get();
            if (run == 1 || c.next != NextRun::StartPressed) {
                // Start-up's own scan, or one asked for between the runs; with
                // the automatic start the scan itself starts the run.
                if (run > 1)
                    f.dlg->TriggerScanThread();
                ASSERT_TRUE(runEventsUntil([&] {
                    return f.scanOver() && f.dlg->m_DevList.DevNums == kDrives &&
                           (c.next == NextRun::AutomaticStart ? f.dlg->m_pMainThread.get() != pLastSupervisor
                                                              : f.dlg->isControlEnabled(IDC_BUTTON_START));
                }));
            }
            if (c.next != NextRun::AutomaticStart)
                f.dlg->sendCommand(IDC_BUTTON_START);
            ASSERT_NE(f.dlg->m_pMainThread.get(), pLastSupervisor) << ::testing::PrintToString(f.boxes());
            f.waitForTheEnd();
            EXPECT_EQ(f.dlg->controlText(IDC_EDIT_PASS_COUNT), std::to_string(run * kDrives));
            EXPECT_EQ(f.dlg->controlText(IDC_EDIT_FAIL_COUNT), "0");
            EXPECT_EQ(f.dlg->controlText(IDC_EDIT_TOTAL_COUNT), std::to_string(run * kDrives));
        }
    }
}

}  // namespace
}  // namespace krv::test
