#include "platform/bench/BenchLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/bench/BenchFiles.h"
#include "platform/bench/BenchLayout.h"

namespace krv::bench {

namespace {

std::string processName()
{
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

bool processRuns(uint32_t pid)
{
    return pid != 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

BenchLock::Result BenchLock::tryTake(const std::string& folder, std::unique_ptr<BenchLock>& lock, std::string& error)
{
    std::string path = lockPath(folder);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open the lock file " + path + ": " + std::strerror(errno);
        return Result::Failed;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            error = "bench " + folder + " is owned by another process (" + describeOwner(recordedOwner(folder)) +
                    "); only one program may own a bench at a time";
            return Result::Busy;
        }
        error = "cannot lock " + path + ": " + std::strerror(err);
        return Result::Failed;
    }
    std::string record = std::to_string(::getpid()) + " " + processName() + "\n";
    // Should this fail, the lock still holds; others only cannot name us.
    [[maybe_unused]] bool recorded =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, record.data(), record.size(), 0) == static_cast<ssize_t>(record.size());
    lock.reset(new BenchLock(fd));
    return Result::Taken;
}

std::optional<OwnerInfo> BenchLock::recordedOwner(const std::string& folder)
{
    std::string text, ignored;
    if (!readTextFile(lockPath(folder), text, ignored))
        return std::nullopt;
    const std::string line = text.substr(0, text.find('\n'));
    std::istringstream fields(line);
    OwnerInfo owner;
    if (!(fields >> owner.pid) || !processRuns(owner.pid))
        return std::nullopt;
    std::getline(fields >> std::ws, owner.name);
    return owner;
}

BenchLock::~BenchLock()
{
    // Clear the record first so nobody names a process that has let go.
    [[maybe_unused]] int cleared = ::ftruncate(fd_, 0);
    ::close(fd_);
}

std::string describeOwner(const std::optional<OwnerInfo>& owner)
{
    if (!owner)
        return "owner pid unknown";
    std::string text = "pid " + std::to_string(owner->pid);
    if (!owner->name.empty())
        text += ", " + owner->name;
    return text;
}

}  // namespace krv::bench
