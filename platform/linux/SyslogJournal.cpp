#include "platform/linux/SyslogJournal.h"

#include <sys/stat.h>
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
    struct stat st {};
    if (::stat(_PATH_LOG, &st) != 0 || !S_ISSOCK(st.st_mode))
        return;
    // LOG_PID: two runs of one program on a day stay apart. LOG_NDELAY:
    // connected once, here, not at the first line.
    ::openlog(tag_.c_str(), LOG_PID | LOG_NDELAY, LOG_USER);
    open_ = true;
    present_ = true;
}

void SyslogJournal::write(std::string_view line)
{
    if (!present_)
        return;
    // The trace is the program's debugger output, so its lines go in at
    // debug priority; the text is never a format.
    const int length = line.size() > INT_MAX ? INT_MAX : static_cast<int>(line.size());
    ::syslog(LOG_USER | LOG_DEBUG, "%.*s", length, line.data());
}

}  // namespace krv
