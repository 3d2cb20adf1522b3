#include "tests/support/RunTool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/bench/BenchHostTools.h"
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

struct RunningProgram::Impl {
    TempDir capture;
    std::string outPath = capture.file("out");
    std::string errPath = capture.file("err");
    pid_t child = -1;
    bool ended = false;
    int status = 0;
    int timeoutSeconds = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

RunningProgram::RunningProgram(const std::string& path, const std::vector<std::string>& args,
                               const RunOptions& options)
    : impl_(std::make_unique<Impl>())
{
    impl_->timeoutSeconds = options.timeoutSeconds;
    // Everything the child needs is made before the fork: between fork and
    // exec only async-signal-safe calls are allowed.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::vector<std::string> env = bench::environmentWith(options.env);
    std::vector<char*> envp;
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const char* workingDir = options.workingDir.empty() ? nullptr : options.workingDir.c_str();
    const std::string& outPath = impl_->outPath;
    const std::string& errPath = impl_->errPath;

    pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        if (workingDir && ::chdir(workingDir) != 0)
            ::_exit(125);
        ::execve(path.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    impl_->child = child;
}

RunningProgram::~RunningProgram()
{
    if (impl_->child > 0 && !impl_->ended) {
        ::kill(impl_->child, SIGKILL);
        while (::waitpid(impl_->child, &impl_->status, 0) < 0 && errno == EINTR) {
        }
    }
}

ToolRun RunningProgram::wait()
{
    ToolRun run;
    if (!impl_->ended) {
        using namespace std::chrono;
        const auto deadline = impl_->started + seconds(impl_->timeoutSeconds);
        for (;;) {
            pid_t done = ::waitpid(impl_->child, &impl_->status, impl_->timeoutSeconds > 0 ? WNOHANG : 0);
            if (done == impl_->child)
                break;
            if (done < 0 && errno != EINTR)
                throw std::runtime_error("waitpid failed");
            if (impl_->timeoutSeconds > 0 && steady_clock::now() >= deadline) {
                ::kill(impl_->child, SIGKILL);
                while (::waitpid(impl_->child, &impl_->status, 0) < 0 && errno == EINTR) {
                }
                run.timedOut = true;
                break;
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
        impl_->ended = true;
    }
    run.exitCode = !run.timedOut && WIFEXITED(impl_->status) ? WEXITSTATUS(impl_->status) : -1;
    run.out = slurp(impl_->outPath);
    run.err = slurp(impl_->errPath);
    return run;
}

std::string RunningProgram::outSoFar() const { return slurp(impl_->outPath); }

std::string RunningProgram::errSoFar() const { return slurp(impl_->errPath); }

ToolRun runProgram(const std::string& path, const std::vector<std::string>& args, const RunOptions& options)
{
    return RunningProgram(path, args, options).wait();
}

}  // namespace krv::test
