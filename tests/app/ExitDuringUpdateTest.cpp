// Exit pressed while a port writes its bridge's firmware, with both images
// chosen: the image under way is written and verified whole, the next one is
// never begun, and the window waits for the write (saying so) however long
// it takes, rather than ending the process in the middle of it.
#include <gtest/gtest.h>

#include <string>

#include "tests/app/SlowUpdateRun.h"

namespace krv::test {
namespace {

TEST(ExitDuringUpdate, TheImageUnderWayIsWrittenWholeNoNewOneBeginsAndTheExitWaitsForIt)
{
    SlowUpdateRun run;
    RunFixture& f = run.f;
    ASSERT_TRUE(run.bStartAndReachTheFirstImage()) << ::testing::PrintToString(f.boxes());
    const size_t nAtExit = run.nLogged();
    f.dlg->OnBnClickedOk();

    std::string strShownWhileWaiting;
    ASSERT_TRUE(runEventsUntil(
        [&] {
            if (f.dlg->isControlShown(IDC_STATIC_WARNING))
                strShownWhileWaiting = f.dlg->controlText(IDC_STATIC_WARNING);
            return !f.endCodes.empty() || f.nFinished > 0;
        },
        std::chrono::seconds(60)));
    // The window left its loop: every thread ended, none was given up on.
    EXPECT_TRUE(f.endCodes.empty()) << ::testing::PrintToString(f.endCodes);
    EXPECT_EQ(f.nFinished, 1);
    EXPECT_EQ(strShownWhileWaiting, "Finishing the firmware write...");

    // Image 0 was written and read back after the exit was asked for;
    // image 1 was never touched.
    run.vExpectImageUnderWayFinishedAndNoNewOne(nAtExit, "exit");
}

}  // namespace
}  // namespace krv::test
