#pragma once
// The running processes of this machine (PSAPI stand-in). Both backends use
// the real Linux process table.
#include <cstdint>
#include <string>
#include <vector>

namespace krv {

struct ProcessInfo {
    uint32_t pid = 0;
    std::string baseName;  // base name of the process's executable
};

class Processes {
public:
    virtual ~Processes() = default;
    // Processes in enumeration order (ascending pid on Linux); empty on failure.
    virtual std::vector<ProcessInfo> list() = 0;
    // Ends a process; false (and the last error set) when it cannot.
    virtual bool terminate(uint32_t pid, uint32_t exitCode) = 0;
    virtual uint32_t currentPid() = 0;
};

}  // namespace krv
