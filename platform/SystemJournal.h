#pragma once
// The system's log, where a desktop program's messages outlive the program
// (the journal or the syslog file on Linux). Entries carry the program's
// name as their tag, so an operator can pick one program's lines out.
#include <string>
#include <string_view>

namespace krv {

class SystemJournal {
public:
    virtual ~SystemJournal() = default;
    // Names the program every later entry is tagged with; called once,
    // before the first entry.
    virtual void open(const std::string& tag) = 0;
    // One entry: a single line without its line break.
    virtual void write(std::string_view line) = 0;
};

}  // namespace krv
