#pragma once
// The debug log's sink on Linux: every line to stderr, as a console user
// and the tests see it, and, when a journal is given, to the system journal
// too, where the lines of a program started from the desktop (whose stderr
// nobody reads) can still be read after a failed step.
#include <memory>
#include <string>

#include "platform/DebugOutput.h"
#include "platform/SystemJournal.h"

namespace krv {

class LinuxDebugOutput : public DebugOutput {
public:
    // Without a journal the lines go to stderr only. With one, it is opened
    // under `programName` at once.
    LinuxDebugOutput() = default;
    LinuxDebugOutput(const std::string& programName, std::unique_ptr<SystemJournal> journal);

    // One write(2) per line so threads never interleave on stderr.
    void write(std::string_view text) override;

private:
    std::unique_ptr<SystemJournal> journal_;
};

}  // namespace krv
