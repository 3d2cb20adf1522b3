#pragma once
// The base of the system's dialogs, in the shape their code is written in:
// controls by numeric id, timers by id with onTimer(), and commands by id
// with onCommand() that any thread may send synchronously (SendMessage of
// WM_COMMAND) or post.
//
// The control calls may come from any thread: off the GUI thread they run
// there synchronously, and after shutdown they are cancelled and answer
// false or empty. Timers and commands follow TimerSet and GuiCalls.
//
// Exit: markShutdown() is the first step of the exit path. From then on no
// command, posted call or timer runs, and every thread waiting in a
// synchronous call gets Cancelled, so the GUI thread may join the workers.
// A subclass calls markShutdown() in its destructor before its own members
// go, as workers may still be trying to reach it.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include <QDialog>

#include "ui/Controls.h"
#include "ui/GuiCalls.h"
#include "ui/Timers.h"

namespace krv::ui {

class Dialog : public QDialog {
    Q_OBJECT
public:
    explicit Dialog(QWidget* parent = nullptr);
    ~Dialog() override;

    // --- controls (GUI thread for add/get; the rest from any thread) ---
    // A button added here sends its id as a command when clicked.
    bool addControl(int id, QWidget* control);
    QWidget* control(int id) const;
    template <class T>
    T* control(int id) const { return qobject_cast<T*>(control(id)); }

    bool setControlText(int id, const std::string& text);
    std::string controlText(int id);
    bool enableControl(int id, bool on = true);
    bool isControlEnabled(int id);
    bool showControl(int id, bool on = true);
    bool isControlShown(int id);
    bool setCheck(int id, int state);
    int checkState(int id);

    // --- timers (any thread) ---
    bool setTimer(int id, uint32_t periodMs);
    // Hides QObject::killTimer on purpose: ids here are the system's.
    bool killTimer(int id);
    bool isTimerArmed(int id) const;
    int timerPeriod(int id) const;  // real-time ms after scaling, -1 when not armed
    // 0 follows the platform clock's scale; tests give one.
    void setTimeScale(double scale);

    // --- commands (any thread) ---
    CallResult sendCommand(int id, const StopSource* stop = nullptr);
    bool postCommand(int id);
    // A handler for onCommand()'s default; GUI thread.
    void setCommandHandler(int id, std::function<void()> handler);

    // --- any function on the GUI thread (row updates from workers) ---
    CallResult runOnGui(std::function<void()> fn, const StopSource* stop = nullptr);
    bool postToGui(std::function<void()> fn);

    // --- exit ---
    void markShutdown();
    bool isShuttingDown() const;

    GuiCalls& guiCalls() { return calls_; }

protected:
    // GUI thread. The default runs the handler set for the id, if any.
    virtual void onCommand(int id);
    virtual void onTimer(int id);

private:
    template <class R, class F>
    R onGui(F f, R cancelled);

    GuiCalls calls_;
    TimerSet timers_;
    ControlMap controls_;
    std::map<int, std::function<void()>> handlers_;  // GUI thread only
};

}  // namespace krv::ui
