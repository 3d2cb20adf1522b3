#pragma once
// File and folder pickers (the open/save file dialogs and the folder
// browser). Interactive: a modal QFileDialog on the GUI thread, a worker's
// picker shown there while it waits. Command line: there is no picker and
// the answer is empty, as if the operator cancelled. Scripted (tests):
// answers come from a queue (then empty) and every request is recorded.
// An empty path always means "cancelled".
//
// Filters are given the way the system's code writes them:
// "Firmware .bin File (*.bin)|*.bin||".
#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "ui/GuiCalls.h"
#include "ui/Presentation.h"

namespace krv::ui {

struct PickerRequest {
    enum class Kind { OpenFile, SaveFile, Folder };
    Kind kind = Kind::OpenFile;
    std::string caption;
    std::string startDir;
    std::string filter;  // as given; empty for folders
};

// "Text (*.a;*.b)|*.a;*.b|All (*.*)|*.*||" as Qt's "Text (*.a *.b);;All (*)".
// A pattern "*.*" means every file. A filter without bars is taken as Qt's.
std::string qtFileFilter(const std::string& windowsFilter);

class FilePickers {
public:
    // Build it on the GUI thread.
    explicit FilePickers(Presentation mode = Presentation::Interactive);

    void setMode(Presentation mode);
    Presentation mode() const;

    // Scripted mode: the next answers, empty for "cancelled".
    void queueAnswer(std::string path);
    std::vector<PickerRequest> requests() const;

    std::string openFile(const std::string& caption, const std::string& startDir,
                         const std::string& filter);
    // Asks before overwriting; `defaultSuffix` (without dot) is added to a
    // name typed without one.
    std::string saveFile(const std::string& caption, const std::string& startDir,
                         const std::string& filter, const std::string& defaultSuffix);
    std::string chooseFolder(const std::string& caption, const std::string& startDir);

    // Any thread: an open picker closes as cancelled, later ones answer empty.
    void markShutdown();

private:
    std::string pick(const PickerRequest& request, const std::string& defaultSuffix);
    std::string pickInteractive(const PickerRequest& request, const std::string& defaultSuffix);

    std::atomic<Presentation> mode_;
    GuiCalls calls_;
    mutable std::mutex mutex_;
    std::deque<std::string> answers_;     // guarded by mutex_
    std::vector<PickerRequest> requests_;  // guarded by mutex_
};

}  // namespace krv::ui
