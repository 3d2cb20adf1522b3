#pragma once
#include <string>

#include "platform/Processes.h"

namespace krv {

// The real process table from /proc. The base name is that of the
// executable (/proc/PID/exe), falling back to argv[0] and then to comm when
// the link cannot be read.
class LinuxProcesses : public Processes {
public:
    explicit LinuxProcesses(std::string procRoot = "/proc");
    std::vector<ProcessInfo> list() override;
    bool terminate(uint32_t pid, uint32_t exitCode) override;
    uint32_t currentPid() override;

private:
    std::string procRoot_;
};

}  // namespace krv
