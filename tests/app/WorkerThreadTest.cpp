// The window's thread objects: one may be let go on any thread once its
// thread has ended, also on a thread started later that the system gave the
// ended thread's id.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "app/VIVadeDlgThreads.h"

namespace krv::test {
namespace {

TEST(WorkerThread, AnEndedThreadLetGoOnALaterThreadIsNotTakenForThatThread)
{
    // The system commonly hands a joined thread's id (and stack) to the next
    // thread; a few rounds make the reuse certain in practice.
    for (int round = 0; round < 20; ++round) {
        auto first = std::make_shared<CWorkerThread>("first", [](const StopSource&) {});
        ASSERT_TRUE(first->bJoin(10'000));
        std::atomic<bool> tookItForItself{false};
        CWorkerThread second("second", [&](const StopSource&) {
            tookItForItself = first->bIsCurrentThread();
            first.reset();  // the last owner lets go here
        });
        ASSERT_TRUE(second.bJoin(10'000)) << round;
        EXPECT_FALSE(tookItForItself.load()) << round;
    }
}

}  // namespace
}  // namespace krv::test
