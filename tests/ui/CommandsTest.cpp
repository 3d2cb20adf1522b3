#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include <QThread>

#include "platform/StopSource.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Dialog.h"

namespace krv::ui {
namespace {

constexpr int kStart = 1022;
constexpr int kOk = 1;

class CommandDialog : public Dialog {
public:
    std::atomic<int> handled{0};
    std::vector<int> order;          // GUI thread only
    QThread* ranOn = nullptr;        // GUI thread only
    std::function<void(int)> hook;

protected:
    void onCommand(int id) override
    {
        order.push_back(id);
        ranOn = QThread::currentThread();
        if (hook)
            hook(id);
        handled.fetch_add(1);
    }
};

// Waits, without running the event loop, until `n` callers are blocked in a
// synchronous call to the dialog.
bool waitForBlockedCallers(Dialog& dialog, int n)
{
    for (int i = 0; i < 30'000 && dialog.guiCalls().waitingCallers() < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return dialog.guiCalls().waitingCallers() == n;
}

TEST(Commands, AWorkersSendRunsTheHandlerOnTheGuiThreadBeforeItReturns)
{
    CommandDialog dialog;
    std::atomic<bool> returned{false};
    CallResult result = CallResult::Cancelled;
    int handledWhenReturned = -1;
    std::thread worker([&] {
        result = dialog.sendCommand(kStart);
        handledWhenReturned = dialog.handled.load();
        returned = true;
    });
    ASSERT_TRUE(krv::test::runEventsUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(result, CallResult::Done);
    EXPECT_EQ(handledWhenReturned, 1);
    EXPECT_EQ(dialog.order, std::vector<int>{kStart});
    EXPECT_EQ(dialog.ranOn, QThread::currentThread());
}

TEST(Commands, OnTheGuiThreadASendRunsAtOnceAndAPostWaitsForTheLoopInOrder)
{
    CommandDialog dialog;
    EXPECT_EQ(dialog.sendCommand(5), CallResult::Done);
    EXPECT_EQ(dialog.order, std::vector<int>{5});

    EXPECT_TRUE(dialog.postCommand(6));
    EXPECT_TRUE(dialog.postCommand(7));
    EXPECT_EQ(dialog.order.size(), 1u);
    ASSERT_TRUE(krv::test::runEventsUntil([&] { return dialog.order.size() == 3; }));
    EXPECT_EQ(dialog.order, (std::vector<int>{5, 6, 7}));
}

TEST(Commands, HandlersRegisteredByIdServeTheDefaultOnCommand)
{
    Dialog dialog;
    std::vector<int> seen;
    dialog.setCommandHandler(10, [&] { seen.push_back(10); });
    dialog.setCommandHandler(11, [&] { seen.push_back(11); });
    dialog.sendCommand(11);
    dialog.sendCommand(12);  // nobody handles it; still no harm
    dialog.sendCommand(10);
    EXPECT_EQ(seen, (std::vector<int>{11, 10}));
}

// Shutdown arrives while the worker's send waits for a GUI thread that is
// busy elsewhere (here: not running its loop, as in the exit path's join).
TEST(Commands, ShutdownReleasesAWaitingSendAndTheHandlerNeverRuns)
{
    CommandDialog dialog;
    CallResult result = CallResult::Done;
    std::thread worker([&] { result = dialog.sendCommand(kStart); });
    ASSERT_TRUE(waitForBlockedCallers(dialog, 1));
    dialog.markShutdown();
    worker.join();
    EXPECT_EQ(result, CallResult::Cancelled);

    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(dialog.handled.load(), 0);
}

TEST(Commands, AfterShutdownEverySendPostAndCallIsCancelledAtOnce)
{
    CommandDialog dialog;
    dialog.markShutdown();
    EXPECT_TRUE(dialog.isShuttingDown());
    EXPECT_EQ(dialog.sendCommand(kStart), CallResult::Cancelled);
    EXPECT_FALSE(dialog.postCommand(kStart));
    EXPECT_EQ(dialog.runOnGui([] {}), CallResult::Cancelled);
    EXPECT_FALSE(dialog.postToGui([] {}));
    CallResult fromWorker = CallResult::Done;
    std::thread worker([&] { fromWorker = dialog.sendCommand(kStart); });
    worker.join();
    EXPECT_EQ(fromWorker, CallResult::Cancelled);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(dialog.handled.load(), 0);
}

TEST(Commands, PostsQueuedBeforeShutdownAreDropped)
{
    CommandDialog dialog;
    dialog.postCommand(kStart);
    dialog.markShutdown();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(dialog.handled.load(), 0);
}

TEST(Commands, AStopRequestReleasesOnlyItsOwnCaller)
{
    CommandDialog dialog;
    StopSource stop;
    CallResult stopped = CallResult::Done;
    CallResult other = CallResult::Cancelled;
    std::thread stoppable([&] { stopped = dialog.sendCommand(kStart, &stop); });
    std::thread plain([&] { other = dialog.sendCommand(kOk); });
    ASSERT_TRUE(waitForBlockedCallers(dialog, 2));
    stop.requestStop();
    stoppable.join();
    EXPECT_EQ(stopped, CallResult::Cancelled);

    ASSERT_TRUE(krv::test::runEventsUntil([&] { return dialog.handled.load() == 1; }));
    plain.join();
    EXPECT_EQ(other, CallResult::Done);
    EXPECT_EQ(dialog.order, std::vector<int>{kOk});
}

// The OK path: a worker sends OK, whose handler marks shutdown on the GUI
// thread. The send was already running, so it completes rather than being
// cancelled, and a second worker's pending send is released.
TEST(Commands, TheOkPathMarkingShutdownCompletesItsOwnSend)
{
    CommandDialog dialog;
    CallResult okResult = CallResult::Cancelled;
    CallResult otherResult = CallResult::Done;
    std::unique_ptr<std::thread> other;
    dialog.hook = [&](int id) {
        if (id != kOk)
            return;
        other = std::make_unique<std::thread>([&] { otherResult = dialog.sendCommand(kStart); });
        ASSERT_TRUE(waitForBlockedCallers(dialog, 2));
        dialog.markShutdown();
        other->join();  // never joins its own sender, only the released one
    };
    std::atomic<bool> returned{false};
    std::thread sender([&] {
        okResult = dialog.sendCommand(kOk);
        returned = true;
    });
    ASSERT_TRUE(krv::test::runEventsUntil([&] { return returned.load(); }));
    sender.join();
    EXPECT_EQ(okResult, CallResult::Done);
    EXPECT_EQ(otherResult, CallResult::Cancelled);
    EXPECT_EQ(dialog.order, std::vector<int>{kOk});
}

TEST(Commands, DestroyingTheDialogReleasesAWaitingCaller)
{
    auto dialog = std::make_unique<CommandDialog>();
    CallResult result = CallResult::Done;
    Dialog* target = dialog.get();
    std::thread worker([&] { result = target->runOnGui([] {}); });
    ASSERT_TRUE(waitForBlockedCallers(*dialog, 1));
    dialog.reset();
    worker.join();
    EXPECT_EQ(result, CallResult::Cancelled);
}

TEST(Commands, AnExceptionOnTheGuiThreadReachesTheCaller)
{
    Dialog dialog;
    std::atomic<bool> returned{false};
    std::string caught;
    std::thread worker([&] {
        try {
            dialog.runOnGui([] { throw std::runtime_error("row 3 is gone"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        returned = true;
    });
    ASSERT_TRUE(krv::test::runEventsUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(caught, "row 3 is gone");
}

}  // namespace
}  // namespace krv::ui
