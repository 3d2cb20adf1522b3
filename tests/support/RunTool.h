#pragma once
// Runs a built program of this tree and collects what it printed: at once
// (runProgram), or in the background while the test does something else
// (RunningProgram), with its own working folder and environment, and with a
// time-out after which the program is killed so that a hung program fails
// the test instead of hanging it.
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace krv::test {

struct ToolRun {
    int exitCode = -1;  // -1: did not exit normally (signal, or killed after the time-out)
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct RunOptions {
    std::string workingDir;        // empty: the test's own
    std::vector<std::string> env;  // "NAME=value", added to the test's environment or replacing a variable
    int timeoutSeconds = 0;        // 0: no limit
};

// The path of a program under the build folder (KRV_BUILD_DIR, else the
// folder above the test executable), e.g.
// "tools/krvbench/krvbench".
std::string builtProgram(const std::string& relativePath);
ToolRun runProgram(const std::string& path, const std::vector<std::string>& args, const RunOptions& options = {});

// A program started in the background. Its destructor kills it when it still
// runs.
class RunningProgram {
public:
    RunningProgram(const std::string& path, const std::vector<std::string>& args, const RunOptions& options = {});
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // Waits for the end (or the time-out, counted from the start).
    ToolRun wait();
    // What it has printed to stdout / stderr so far.
    std::string outSoFar() const;
    std::string errSoFar() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace krv::test
