#pragma once
// Programs of the Linux machine the bench runs on (mkntfs, mkfs.exfat, the
// label tools, losetup), started by the bench where it lets a real tool do
// what the emulated machine's own program would: lay down a file system. A
// run is bounded: at its time-out the program is killed and the run reported
// as not finished.
#include <cstdint>
#include <string>
#include <vector>

namespace krv::bench {

struct HostToolRun {
    bool started = false;    // false: the program was not found or could not start
    bool finished = false;   // false: killed at the time-out
    int exitCode = -1;       // valid when finished; -1 after a signal
    std::string output;      // standard output and standard error, interleaved

    bool ok() const { return started && finished && exitCode == 0; }
};

// `program` is a name looked up on PATH and then in /usr/sbin and /sbin (the
// file-system tools live there), or a path. `env` entries ("NAME=value") are
// added to the bench's own environment; LC_ALL is C.
HostToolRun runHostTool(const std::string& program, const std::vector<std::string>& args, uint64_t timeoutMs,
                        const std::vector<std::string>& env = {});

// This process's environment with `changes` ("NAME=value") put in: each
// replaces the variable of its name or is added.
std::vector<std::string> environmentWith(const std::vector<std::string>& changes);

// Where `program` would be run from; empty when it is not on this machine.
std::string findHostTool(const std::string& program);

}  // namespace krv::bench
