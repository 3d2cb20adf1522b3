#pragma once
// Runs a built program of this tree and collects what it printed.
#include <string>
#include <vector>

namespace krv::test {

struct ToolRun {
    int exitCode = -1;  // -1: did not exit normally
    std::string out;
    std::string err;
};

// The path of a program under the build folder (KRV_BUILD_DIR, else the
// folder above the test executable), e.g.
// "tools/krvbench/krvbench".
std::string builtProgram(const std::string& relativePath);
ToolRun runProgram(const std::string& path, const std::vector<std::string>& args);

}  // namespace krv::test
