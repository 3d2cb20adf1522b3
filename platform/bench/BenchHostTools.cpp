#include "platform/bench/BenchHostTools.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

extern char** environ;

namespace krv::bench {

namespace {

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> list;
    for (std::string& t : texts)
        list.push_back(t.data());
    list.push_back(nullptr);
    return list;
}

}  // namespace

std::vector<std::string> environmentWith(const std::vector<std::string>& changes)
{
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        env.emplace_back(*e);
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('=') + 1);
        std::erase_if(env, [&](const std::string& v) { return v.compare(0, name.size(), name) == 0; });
        env.push_back(change);
    }
    return env;
}

std::string findHostTool(const std::string& program)
{
    if (program.find('/') != std::string::npos)
        return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    dirs += ":/usr/sbin:/sbin";
    size_t at = 0;
    while (at <= dirs.size()) {
        size_t colon = dirs.find(':', at);
        std::string dir = dirs.substr(at, colon == std::string::npos ? std::string::npos : colon - at);
        at = colon == std::string::npos ? dirs.size() + 1 : colon + 1;
        if (dir.empty())
            continue;
        std::string path = dir + "/" + program;
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

HostToolRun runHostTool(const std::string& program, const std::vector<std::string>& args, uint64_t timeoutMs,
                        const std::vector<std::string>& env)
{
    HostToolRun run;
    const std::string path = findHostTool(program);
    if (path.empty()) {
        run.output = program + ": not found on this machine";
        return run;
    }
    std::vector<std::string> argvText = {path};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<std::string> changes = env;
    changes.push_back("LC_ALL=C");
    std::vector<std::string> envText = environmentWith(changes);
    std::vector<char*> argv = pointers(argvText), envp = pointers(envText);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        run.output = "no pipe for " + program;
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned != 0) {
        ::close(pipeEnds[0]);
        run.output = program + ": cannot start";
        return run;
    }
    run.started = true;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool killed = false;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 && !killed) {
            ::kill(child, SIGKILL);
            killed = true;
        }
        pollfd wait{pipeEnds[0], POLLIN, 0};
        const int ready = ::poll(&wait, 1, killed ? 1000 : static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready == 0 && killed)
            break;   // something it started still holds the output: stop reading
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;   // end of output: the program (and whatever it started) has closed it
        run.output.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeEnds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.finished = !killed;
    run.exitCode = run.finished && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace krv::bench
