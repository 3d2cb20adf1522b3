#include "platform/linux/LinuxDebugOutput.h"

#include <unistd.h>

namespace krv {

namespace {

void writeToStderr(std::string_view text)
{
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// The debug log puts its line break in front of each line; a journal entry
// is a line of its own and wants none at either end.
std::string_view withoutLineBreaks(std::string_view text)
{
    const size_t first = text.find_first_not_of("\r\n");
    if (first == std::string_view::npos)
        return {};
    const size_t last = text.find_last_not_of("\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

LinuxDebugOutput::LinuxDebugOutput(const std::string& programName, std::unique_ptr<SystemJournal> journal)
    : journal_(std::move(journal))
{
    if (journal_)
        journal_->open(programName);
}

void LinuxDebugOutput::write(std::string_view text)
{
    writeToStderr(text);
    if (!journal_)
        return;
    const std::string_view line = withoutLineBreaks(text);
    if (!line.empty())
        journal_->write(line);
}

}  // namespace krv
