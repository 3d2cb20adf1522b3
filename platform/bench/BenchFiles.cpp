#include "platform/bench/BenchFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
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

// Makes the rename itself durable.
void syncFolder(const std::string& folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

bool readTextFile(const std::string& path, std::string& content, std::string& error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = describe("cannot open", path, errno);
        return false;
    }
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

bool writeFileAtomically(const std::string& path, std::string_view content, std::string& error)
{
    // Unique per process and call, so two writers never share a temporary.
    static std::atomic<unsigned> counter{0};
    std::string temp = folderOf(path) + "/.tmp-" + std::to_string(::getpid()) + "-" +
                       std::to_string(counter.fetch_add(1)) + "-" + path.substr(path.find_last_of('/') + 1);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = describe("cannot write", path, errno);
        return false;
    }
    bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
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
    syncFolder(folderOf(path));
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
