#pragma once
// The window layer's answer to the system's message boxes (MessageBoxA by
// flags). Interactive: a modal QMessageBox with the caption, the icon and
// the buttons the flags ask for, on the GUI thread; a worker's box is shown
// there while the worker waits. Command line: nothing is modal; the text
// goes to the application's sink and the unattended answer comes back at
// once. Scripted (tests): answers come from a queue (then the unattended
// answer) and every box is recorded.
//
// Build, configure and install it on the GUI thread before other threads
// run; uninstall (or destroy) it after they are joined and before the
// platform it was installed in goes.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MessageBoxes.h"
#include "ui/GuiCalls.h"
#include "ui/Presentation.h"

class QMessageBox;

namespace krv {
class Platform;
}

namespace krv::ui {

struct MessageRecord {
    std::string text;
    std::string caption;
    uint32_t flags = 0;
};

class MessageBoxPresenter : public MessageBoxes {
public:
    // Called on the asking thread; must be safe to call from several threads.
    using Sink = std::function<void(const MessageRecord&)>;

    explicit MessageBoxPresenter(Presentation mode = Presentation::Interactive);
    ~MessageBoxPresenter() override;

    void setMode(Presentation mode);
    Presentation mode() const;
    void setCommandLineSink(Sink sink);

    // Scripted mode.
    void queueAnswer(int answer);
    std::vector<MessageRecord> records() const;

    int show(const std::string& text, const std::string& caption, uint32_t flags) override;

    // The platform then hands its message boxes to this presenter.
    void install(Platform& platform);
    // Gives the platform back its unattended presenter, if this one is still
    // installed there.
    void uninstall();

    // Any thread: open boxes close, waiting and later boxes get the
    // unattended answer.
    void markShutdown();

    // How a box looks for the flags (exposed so the mapping can be checked
    // without running a box).
    static void configure(QMessageBox& box, uint32_t flags);
    // The answer (IDOK...) of the button pressed, or 0 for none.
    static int answerOf(const QMessageBox& box);

private:
    int showInteractive(const std::string& text, const std::string& caption, uint32_t flags);

    std::atomic<Presentation> mode_;
    GuiCalls calls_;
    Platform* installedIn_ = nullptr;
    mutable std::mutex mutex_;
    Sink sink_;                       // guarded by mutex_
    std::deque<int> answers_;         // guarded by mutex_
    std::vector<MessageRecord> records_;  // guarded by mutex_
};

}  // namespace krv::ui
