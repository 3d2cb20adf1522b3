#include "platform/host/SyslogJournal.h"

#include <syslog.h>

#include <climits>

namespace krv {

SyslogJournal::~SyslogJournal()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_)
        ::closelog();
}

void SyslogJournal::open(const std::string& tag)
{
    std::lock_guard<std::mutex> lock(mutex_);
    tag_ = tag;
    // LOG_PID: two runs of one program on a day stay apart.
    ::openlog(tag_.c_str(), LOG_PID, LOG_USER);
    open_ = true;
}

void SyslogJournal::write(std::string_view line)
{
    // The trace is the debugger output of the original tool, so its lines
    // go in at debug priority; the text is never a format.
    const int length = line.size() > INT_MAX ? INT_MAX : static_cast<int>(line.size());
    ::syslog(LOG_USER | LOG_DEBUG, "%.*s", length, line.data());
}

}  // namespace krv
