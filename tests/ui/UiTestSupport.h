#pragma once
// Helpers for tests that need the GUI thread's event loop running.
#include <chrono>
#include <functional>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

namespace krv::test {

// Runs the event loop until `done` holds, at most `bound` (a safety net so a
// broken build fails instead of hanging; not a speed check). Returns whether
// `done` held at some point.
inline bool runEventsUntil(const std::function<bool()>& done,
                           std::chrono::milliseconds bound = std::chrono::seconds(30))
{
    if (done())
        return true;
    // Remember that the condition held: events still queued when the loop
    // is asked to quit may change it again (a blinking colour, say).
    bool reached = false;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!reached && done()) {
            reached = true;
            loop.quit();
        }
    });
    poll.start(1);
    QTimer::singleShot(bound, &loop, &QEventLoop::quit);
    loop.exec();
    return reached || done();
}

// Shows the window with every nested layout settled: a layout inside a
// scroll area, say, takes its widgets' new sizes only on its own posted
// request, after the window is already shown.
inline void showSettled(QWidget& window)
{
    window.show();
    for (int round = 0; round < 3; ++round)
        QApplication::processEvents();
}

// Calls `act` with the modal window of type T once one is open (from inside
// that window's own event loop). Returns at once; `act` runs later.
template <class T>
void whenModalOpens(std::function<void(T&)> act)
{
    auto* poll = new QTimer(qApp);  // owned by the application if never used
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(*window);
        }
    });
    poll->start(1);
}

}  // namespace krv::test
