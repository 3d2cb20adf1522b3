#include "tests/tools/RunTool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/TestPlatform.h"

namespace krv::test {

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string builtProgram(const std::string& relativePath)
{
    const char* build = std::getenv("KRV_BUILD_DIR");
    if (build && *build)
        return std::string(build) + "/" + relativePath;
#ifdef KRV_BUILD_DIR
    return std::string(KRV_BUILD_DIR) + "/" + relativePath;
#endif
    // Run by hand: test executables live in BUILD/tests.
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        throw std::runtime_error("KRV_BUILD_DIR is not set and the test's own path is unknown");
    return (self.parent_path().parent_path() / relativePath).string();
}

ToolRun runProgram(const std::string& path, const std::vector<std::string>& args)
{
    TempDir capture;
    std::string outPath = capture.file("out"), errPath = capture.file("err");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    return run;
}

}  // namespace krv::test
