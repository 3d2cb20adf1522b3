#include "ui/GuiCalls.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>

#include <QDialog>
#include <QThread>

#include "platform/StopSource.h"
#include "ui/QueuedCall.h"

namespace krv::ui {

// Lives as long as any caller still waits, so a caller woken by the
// destructor never touches a dead object.
struct GuiCalls::Shared {
    std::atomic<bool> shutdown{false};
    std::atomic<int> waiting{0};
    std::mutex mutex;
    std::condition_variable wake;
};

struct GuiCalls::Job {
    enum class State { Pending, Running, Done, Cancelled };
    explicit Job(std::function<void()> f) : fn(std::move(f)) {}
    std::function<void()> fn;
    State state = State::Pending;  // guarded by Shared::mutex
    std::exception_ptr error;
};

namespace {

// A StopSource cannot wake us, so a caller that passes one looks at it this
// often; shutdown and completion wake the caller at once.
constexpr auto kStopPollSlice = std::chrono::milliseconds(20);

}  // namespace

void GuiCalls::runJob(Shared& shared, Job& job)
{
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (job.state != Job::State::Pending)
            return;
        if (shared.shutdown.load(std::memory_order_acquire)) {
            job.state = Job::State::Cancelled;
            shared.wake.notify_all();
            return;
        }
        job.state = Job::State::Running;
    }
    try {
        job.fn();
    } catch (...) {
        job.error = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        job.state = Job::State::Done;
    }
    shared.wake.notify_all();
}

GuiCalls::GuiCalls(QObject* parent) : QObject(parent), shared_(std::make_shared<Shared>()) {}

GuiCalls::~GuiCalls() { markShutdown(); }

bool GuiCalls::event(QEvent* event) { return runQueuedCall(event) || QObject::event(event); }

bool GuiCalls::onGuiThread() const { return QThread::currentThread() == thread(); }

bool GuiCalls::shuttingDown() const { return shared_->shutdown.load(std::memory_order_acquire); }

int GuiCalls::waitingCallers() const { return shared_->waiting.load(std::memory_order_acquire); }

CallResult GuiCalls::call(std::function<void()> fn, const StopSource* stop)
{
    // A worker's wait for the GUI thread always ends with its stop request,
    // also where its caller passed none: the GUI thread may be joining it.
    if (!stop)
        stop = StopSource::current();
    if (shuttingDown() || (stop && stop->stopRequested()))
        return CallResult::Cancelled;
    if (onGuiThread()) {
        fn();
        return CallResult::Done;
    }

    std::shared_ptr<Shared> shared = shared_;
    auto job = std::make_shared<Job>(std::move(fn));
    postQueuedCall(this, [shared, job] { runJob(*shared, *job); });

    shared->waiting.fetch_add(1, std::memory_order_acq_rel);
    std::unique_lock<std::mutex> lock(shared->mutex);
    while (job->state != Job::State::Done) {
        const bool stopNow = shared->shutdown.load(std::memory_order_acquire) ||
                             (stop && stop->stopRequested());
        if (job->state == Job::State::Cancelled ||
            (job->state == Job::State::Pending && stopNow)) {
            job->state = Job::State::Cancelled;
            shared->waiting.fetch_sub(1, std::memory_order_acq_rel);
            return CallResult::Cancelled;
        }
        if (stop)
            shared->wake.wait_for(lock, kStopPollSlice);
        else
            shared->wake.wait(lock);
    }
    shared->waiting.fetch_sub(1, std::memory_order_acq_rel);
    // The exception goes with the caller: the GUI thread may drop the job
    // last, and must not be the one that frees an exception the caller
    // still reads.
    const std::exception_ptr error = std::move(job->error);
    lock.unlock();
    if (error)
        std::rethrow_exception(error);
    return CallResult::Done;
}

bool GuiCalls::post(std::function<void()> fn)
{
    if (shuttingDown())
        return false;
    std::shared_ptr<Shared> shared = shared_;
    postQueuedCall(this, [shared, fn = std::move(fn)] {
        if (!shared->shutdown.load(std::memory_order_acquire))
            fn();
    });
    return true;
}

int GuiCalls::execModal(QDialog& dialog)
{
    if (shuttingDown() || !onGuiThread())
        return QDialog::Rejected;
    modals_.emplace_back(&dialog);
    const int result = dialog.exec();
    std::erase_if(modals_, [&dialog](const QPointer<QDialog>& d) { return d.isNull() || d == &dialog; });
    return result;
}

void GuiCalls::markShutdown()
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->shutdown.store(true, std::memory_order_release);
    }
    shared_->wake.notify_all();
    if (onGuiThread())
        closeModals();
    else
        postQueuedCall(this, [this] { closeModals(); });
}

void GuiCalls::closeModals()
{
    // Copied first: closing one ends its exec(), which edits the list.
    const std::vector<QPointer<QDialog>> open = modals_;
    for (const QPointer<QDialog>& dialog : open) {
        if (dialog)
            dialog->done(QDialog::Rejected);
    }
}

}  // namespace krv::ui
