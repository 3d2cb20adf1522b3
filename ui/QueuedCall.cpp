#include "ui/QueuedCall.h"

#include <QCoreApplication>
#include <QEvent>

// The sanitizer cannot see the lock inside Qt's event queue when Qt is not
// built for it: the poster releases the event before it posts it and the
// receiver acquires it before it runs it, the order the queue really gives.
#if defined(__SANITIZE_THREAD__)
#define KRV_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KRV_THREAD_SANITIZER 1
#endif
#endif
#ifdef KRV_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace krv::ui {

namespace {

const QEvent::Type kQueuedCallType = static_cast<QEvent::Type>(QEvent::registerEventType());

class QueuedCallEvent : public QEvent {
public:
    explicit QueuedCallEvent(std::function<void()> f) : QEvent(kQueuedCallType), fn(std::move(f)) {}
    std::function<void()> fn;
};

}  // namespace

void postQueuedCall(QObject* receiver, std::function<void()> fn)
{
    auto* event = new QueuedCallEvent(std::move(fn));
#ifdef KRV_THREAD_SANITIZER
    __tsan_release(event);
#endif
    QCoreApplication::postEvent(receiver, event);
}

void takeQueuedCall(const QEvent* event)
{
#ifdef KRV_THREAD_SANITIZER
    __tsan_acquire(const_cast<QEvent*>(event));
#else
    (void)event;
#endif
}

bool runQueuedCall(QEvent* event)
{
    takeQueuedCall(event);
    if (event->type() != kQueuedCallType)
        return false;
    static_cast<QueuedCallEvent*>(event)->fn();
    return true;
}

}  // namespace krv::ui
