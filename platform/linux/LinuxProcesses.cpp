#include "platform/linux/LinuxProcesses.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/LastError.h"

namespace krv {

namespace {

std::string baseNameOf(const std::string& path)
{
    auto slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // A replaced executable reads back as "name (deleted)".
    const std::string deleted = " (deleted)";
    if (base.size() > deleted.size() && base.compare(base.size() - deleted.size(), deleted.size(), deleted) == 0)
        base.erase(base.size() - deleted.size());
    return base;
}

std::string readExeBaseName(const std::string& dir)
{
    char buf[4096];
    ssize_t n = ::readlink((dir + "/exe").c_str(), buf, sizeof buf - 1);
    if (n > 0) {
        buf[n] = '\0';
        return baseNameOf(buf);
    }
    std::ifstream cmdline(dir + "/cmdline", std::ios::binary);
    std::string argv0;
    if (cmdline && std::getline(cmdline, argv0, '\0') && !argv0.empty())
        return baseNameOf(argv0);
    std::ifstream comm(dir + "/comm");
    std::string name;
    if (comm && std::getline(comm, name))
        return name;
    return {};
}

}  // namespace

LinuxProcesses::LinuxProcesses(std::string procRoot) : procRoot_(std::move(procRoot)) {}

std::vector<ProcessInfo> LinuxProcesses::list()
{
    std::vector<ProcessInfo> result;
    DIR* d = ::opendir(procRoot_.c_str());
    if (!d) {
        setLastErrorFromErrno(errno);
        return result;
    }
    while (dirent* e = ::readdir(d)) {
        char* end = nullptr;
        unsigned long pid = std::strtoul(e->d_name, &end, 10);
        if (!end || *end != '\0' || pid == 0)
            continue;
        std::string name = readExeBaseName(procRoot_ + "/" + e->d_name);
        if (name.empty())
            continue;  // kernel threads and processes that ended meanwhile
        result.push_back({static_cast<uint32_t>(pid), std::move(name)});
    }
    ::closedir(d);
    std::sort(result.begin(), result.end(), [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
    return result;
}

bool LinuxProcesses::terminate(uint32_t pid, uint32_t /*exitCode: Linux cannot impose one from outside*/)
{
    if (pid == 0 || ::kill(static_cast<pid_t>(pid), SIGKILL) != 0) {
        setLastErrorFromErrno(pid == 0 ? EINVAL : errno);
        return false;
    }
    return true;
}

uint32_t LinuxProcesses::currentPid() { return static_cast<uint32_t>(::getpid()); }

}  // namespace krv
