#include "platform/bench/BenchFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <cerrno>
#include <cstring>

namespace krv::bench {

namespace {

std::string describe(const char* what, const std::string& path, int err)
{
    return std::string(what) + " " + path + ": " + std::strerror(err);
}

bool writeAll(int fd, std::string_view content)
{
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool readTextFile(const std::string& path, std::string& content, std::string& error)
{
    // Never waits in open(): a named pipe where a file belongs is refused.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = describe("cannot open", path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + " is not a regular file";
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    content.clear();
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = describe("cannot read", path, errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        content.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

// A process killed between writing a temporary and renaming it leaves the
// temporary in the bench's folders. The next writer in that folder removes
// those of processes that are gone, never a live one's.
void removeLeftoverTemporaries(const std::string& folder)
{
    static std::mutex s_mutex;
    static std::set<std::string> s_cleaned;
    {
        std::lock_guard<std::mutex> guard(s_mutex);
        if (!s_cleaned.insert(folder).second)
            return;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    static const std::string kPrefix = ".tmp-";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, kPrefix.size(), kPrefix) != 0)
            continue;
        const size_t dash = name.find('-', kPrefix.size());
        const std::string digits = name.substr(kPrefix.size(), dash == std::string::npos ? 0 : dash - kPrefix.size());
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (::kill(static_cast<pid_t>(std::stol(digits)), 0) != 0 && errno == ESRCH)
            ::unlink((folder + "/" + name).c_str());
    }
    ::closedir(dir);
}

bool writeFileAtomically(const std::string& path, std::string_view content, std::string& error)
{
    removeLeftoverTemporaries(folderOf(path));
    // Unique per process and call, so two writers never share a temporary.
    static std::atomic<unsigned> counter{0};
    std::string temp = folderOf(path) + "/.tmp-" + std::to_string(::getpid()) + "-" +
                       std::to_string(counter.fetch_add(1)) + "-" + path.substr(path.find_last_of('/') + 1);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = describe("cannot write", path, errno);
        return false;
    }
    bool ok = writeAll(fd, content);
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        error = describe("cannot write", path, err);
        return false;
    }
    return true;
}

bool appendToTextFile(const std::string& path, std::string_view content, std::string& error)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = describe("cannot append to", path, errno);
        return false;
    }
    bool ok = writeAll(fd, content);
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok)
        error = describe("cannot append to", path, err);
    return ok;
}

}  // namespace krv::bench
