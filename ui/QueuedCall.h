#pragma once
// A call queued for the thread of a QObject, through that object's event
// queue: the thread that posts it never touches it again, and the receiving
// thread runs it and deletes it. (A functor queued with
// QMetaObject::invokeMethod is reference-counted and may be freed by the
// posting thread after the receiver ran it, an order the thread sanitizer
// cannot see inside a Qt that is not built for it.)
//
// The receiving class passes its events through runQueuedCall first:
//     bool event(QEvent* e) override { return runQueuedCall(e) || QObject::event(e); }
// Calls to one receiver run in the order they were posted. Calls still
// queued when the receiver is destroyed are dropped without running.
#include <functional>

class QEvent;
class QObject;

namespace krv::ui {

// Any thread.
void postQueuedCall(QObject* receiver, std::function<void()> fn);
// On the receiver's thread: runs the call when `event` is one and says so.
bool runQueuedCall(QEvent* event);
// An application-wide event filter sees every queued call before its
// receiver does: it takes the hand-off first, before it reads the event.
void takeQueuedCall(const QEvent* event);

}  // namespace krv::ui
