#pragma once
// Reading a port's command log (as `krvbench log` prints it) for what a
// failed drive went through.
#include <sstream>
#include <string>

namespace krv::test {

// Whether the drive took a write after the first fault hit it: a line past
// the one that names the fault that sends data out and was answered good.
inline bool bWriteTakenAfterFault(const std::string& log)
{
    const size_t fault = log.find("fault:");
    if (fault == std::string::npos)
        return false;
    const size_t next = log.find('\n', fault);
    if (next == std::string::npos)
        return false;
    std::istringstream rest(log.substr(next + 1));
    for (std::string line; std::getline(rest, line);)
        if (line.find(" out ") != std::string::npos && line.find("-> good") != std::string::npos)
            return true;
    return false;
}

}  // namespace krv::test
