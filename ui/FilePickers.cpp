#include "ui/FilePickers.h"

#include <sstream>

#include <QApplication>
#include <QFileDialog>

#include "ui/Text.h"

namespace krv::ui {

namespace {

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    return parts;
}

// "*.bin;*.hex" as "*.bin *.hex"; "*.*" as "*" (Qt's "*.*" wants a dot).
std::string qtPatterns(const std::string& patterns)
{
    std::string out;
    for (const std::string& p : split(patterns, ';')) {
        if (p.empty())
            continue;
        if (!out.empty())
            out += ' ';
        out += p == "*.*" ? "*" : p;
    }
    return out;
}

}  // namespace

std::string qtFileFilter(const std::string& windowsFilter)
{
    if (windowsFilter.find('|') == std::string::npos)
        return windowsFilter;
    // Pairs of description and patterns; an empty description ends the list.
    const std::vector<std::string> parts = split(windowsFilter, '|');
    std::string out;
    for (size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
        // Qt reads the patterns from the last parentheses of an entry, so the
        // description's own "(*.bin)" gives way to the real patterns.
        std::string description = parts[i];
        const size_t open = description.rfind('(');
        if (open != std::string::npos && description.back() == ')') {
            description.erase(open);
            while (!description.empty() && description.back() == ' ')
                description.pop_back();
        }
        if (!out.empty())
            out += ";;";
        out += description + " (" + qtPatterns(parts[i + 1]) + ")";
    }
    return out;
}

FilePickers::FilePickers(Presentation mode) : mode_(mode) {}

void FilePickers::setMode(Presentation mode) { mode_.store(mode, std::memory_order_release); }

Presentation FilePickers::mode() const { return mode_.load(std::memory_order_acquire); }

void FilePickers::queueAnswer(std::string path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(std::move(path));
}

std::vector<PickerRequest> FilePickers::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string FilePickers::openFile(const std::string& caption, const std::string& startDir,
                                  const std::string& filter)
{
    return pick({PickerRequest::Kind::OpenFile, caption, startDir, filter}, {});
}

std::string FilePickers::saveFile(const std::string& caption, const std::string& startDir,
                                  const std::string& filter, const std::string& defaultSuffix)
{
    return pick({PickerRequest::Kind::SaveFile, caption, startDir, filter}, defaultSuffix);
}

std::string FilePickers::chooseFolder(const std::string& caption, const std::string& startDir)
{
    return pick({PickerRequest::Kind::Folder, caption, startDir, {}}, {});
}

void FilePickers::markShutdown() { calls_.markShutdown(); }

std::string FilePickers::pick(const PickerRequest& request, const std::string& defaultSuffix)
{
    switch (mode()) {
    case Presentation::Scripted: {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        if (answers_.empty())
            return {};
        std::string answer = std::move(answers_.front());
        answers_.pop_front();
        return answer;
    }
    case Presentation::CommandLine: return {};
    case Presentation::Interactive: break;
    }
    return pickInteractive(request, defaultSuffix);
}

std::string FilePickers::pickInteractive(const PickerRequest& request, const std::string& defaultSuffix)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return {};
    std::string chosen;
    const CallResult result = calls_.call([&] {
        QFileDialog dialog(nullptr, toQt(request.caption), toQt(request.startDir),
                           toQt(qtFileFilter(request.filter)));
        switch (request.kind) {
        case PickerRequest::Kind::OpenFile: dialog.setFileMode(QFileDialog::ExistingFile); break;
        case PickerRequest::Kind::SaveFile:
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setDefaultSuffix(toQt(defaultSuffix));
            break;
        case PickerRequest::Kind::Folder:
            dialog.setFileMode(QFileDialog::Directory);
            dialog.setOption(QFileDialog::ShowDirsOnly);
            break;
        }
        if (calls_.execModal(dialog) != QDialog::Accepted)
            return;
        const QStringList files = dialog.selectedFiles();
        if (!files.isEmpty())
            chosen = fromQt(files.first());
    });
    if (result != CallResult::Done || calls_.shuttingDown())
        return {};
    return chosen;
}

}  // namespace krv::ui
