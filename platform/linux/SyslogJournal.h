#pragma once
// The system journal through syslog(3): journald takes the entries when it
// runs, a syslog daemon (into /var/log/syslog) otherwise; with neither the
// entries are dropped and the program goes on.
#include <atomic>
#include <mutex>
#include <string>

#include "platform/SystemJournal.h"

namespace krv {

class SyslogJournal : public SystemJournal {
public:
    ~SyslogJournal() override;
    void open(const std::string& tag) override;
    void write(std::string_view line) override;

private:
    std::mutex mutex_;
    // openlog keeps a pointer to the tag, so it lives here until closelog.
    std::string tag_;
    bool open_ = false;
    // Whether the machine has a system log to write to (its socket exists
    // when the program starts). Without one, syslog(3) would try to connect
    // again for every line of the trace.
    std::atomic<bool> present_{false};
};

}  // namespace krv
