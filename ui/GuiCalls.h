#pragma once
// Calls onto the GUI thread from any thread: the synchronous form stands in
// for SendMessage (the caller waits until the GUI thread has run the call),
// the posted form for PostMessage.
//
// A synchronous call must never hang the program's exit. Once shutdown is
// marked (the exit path does it first), calls still waiting and new ones
// return Cancelled at once and queued calls are dropped; modal windows run
// through execModal() are closed. A caller's StopSource cancels its own wait
// the same way; a caller that passes none is given its thread's current one
// (StopSource::current()), so a worker asked to stop never stays in a wait
// for the GUI thread, whichever call it made. A call the GUI thread has already begun runs to its end
// before the caller returns, because it may use the caller's stack.
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include <QObject>
#include <QPointer>

class QDialog;

namespace krv {
class StopSource;
}

namespace krv::ui {

enum class CallResult {
    Done,       // the function ran on the GUI thread
    Cancelled,  // shutdown or a stop request came first; the function did not run
};

class GuiCalls : public QObject {
    Q_OBJECT
public:
    // The GUI thread is the thread that builds the object.
    explicit GuiCalls(QObject* parent = nullptr);
    ~GuiCalls() override;

    bool onGuiThread() const;

    // Runs `fn` on the GUI thread and returns when it has run. On the GUI
    // thread itself it runs at once. An exception `fn` throws is rethrown in
    // the caller's thread.
    CallResult call(std::function<void()> fn, const StopSource* stop = nullptr);
    // Queues `fn` for the GUI thread (also when called there) and returns.
    // False after shutdown: nothing was queued.
    bool post(std::function<void()> fn);

    // Runs a modal dialog on the GUI thread (only there) so that shutdown can
    // close it. After shutdown it does not open and gives QDialog::Rejected.
    int execModal(QDialog& dialog);

    // Any thread. Irreversible.
    void markShutdown();
    bool shuttingDown() const;

    // Callers blocked in call() right now (for diagnostics and tests).
    int waitingCallers() const;

protected:
    bool event(QEvent* event) override;

private:
    struct Shared;
    struct Job;
    static void runJob(Shared& shared, Job& job);
    void closeModals();

    std::shared_ptr<Shared> shared_;
    std::vector<QPointer<QDialog>> modals_;  // GUI thread only
};

}  // namespace krv::ui
