#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <cerrno>
#include <utility>
#include <vector>

#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace krv {

namespace {

bool fail(int err)
{
    setLastErrorFromErrno(err);
    return false;
}

int openFlags(File::Mode mode)
{
    switch (mode) {
    case File::Mode::Read: return O_RDONLY;
    case File::Mode::ReadWrite: return O_RDWR;
    case File::Mode::CreateTruncate: return O_WRONLY | O_CREAT | O_TRUNC;
    case File::Mode::Append: return O_WRONLY | O_CREAT | O_APPEND;
    case File::Mode::CreateNew: return O_WRONLY | O_CREAT | O_EXCL | O_APPEND;
    }
    return O_RDONLY;
}

bool writeAll(int fd, const void* buffer, size_t size, size_t& done)
{
    const char* p = static_cast<const char*>(buffer);
    done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, p + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0)
            return fail(ENOSPC);
        done += static_cast<size_t>(n);
    }
    return true;
}

void syncFolderOf(const std::string& path)
{
    std::string folder = parentFolder(path);
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The platform's file media, when a backend has them.
FileMedia* fileMedia()
{
    Platform* platform = Platform::currentOrNull();
    return platform ? platform->fileMedia() : nullptr;
}

}  // namespace

File::~File() { close(); }

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)), device_(std::exchange(other.device_, 0)) {}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        device_ = std::exchange(other.device_, 0);
    }
    return *this;
}

bool File::open(const std::string& path, Mode mode)
{
    close();
    // Never blocks in open(): a named pipe put where a file is expected
    // would otherwise wait for a writer forever.
    int fd;
    do {
        fd = ::open(path.c_str(), openFlags(mode) | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return fail(err);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(EISDIR);
    }
    // What the system reads comes from files; a pipe, socket or device node
    // in their place is refused, judged on the descriptor itself so nothing
    // can be swapped in between the check and the open.
    const bool reading = mode == Mode::Read || mode == Mode::ReadWrite;
    if (reading && !S_ISREG(st.st_mode)) {
        ::close(fd);
        setLastError(winerr::kAccessDenied);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    fd_ = fd;
    if (FileMedia* media = fileMedia())
        device_ = media->deviceOf(path);
    return true;
}

bool File::read(void* buffer, size_t size, size_t& done)
{
    done = 0;
    if (fd_ < 0)
        return fail(EBADF);
    char* p = static_cast<char*>(buffer);
    while (done < size) {
        ssize_t n = ::read(fd_, p + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (device_ && done > 0) {
        FileMedia* media = fileMedia();
        if (media && !media->readTransfer(device_, reinterpret_cast<uint8_t*>(p), done)) {
            done = 0;
            return false;
        }
    }
    return true;
}

bool File::write(const void* buffer, size_t size, size_t& done)
{
    done = 0;
    if (fd_ < 0)
        return fail(EBADF);
    FileMedia* media = device_ ? fileMedia() : nullptr;
    if (!media || size == 0)
        return writeAll(fd_, buffer, size, done);
    // The device hands back other bytes only when it stores other bytes
    // than it was given; otherwise the caller's buffer is written as it is.
    std::vector<uint8_t> stored;
    if (!media->writeTransfer(device_, static_cast<const uint8_t*>(buffer), size, stored))
        return false;
    if (stored.empty())
        return writeAll(fd_, buffer, size, done);
    return writeAll(fd_, stored.data(), stored.size(), done);
}

bool File::seek(uint64_t offset)
{
    if (fd_ < 0)
        return fail(EBADF);
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        return fail(errno);
    return true;
}

bool File::size(uint64_t& bytes)
{
    bytes = 0;
    if (fd_ < 0)
        return fail(EBADF);
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return fail(errno);
    bytes = static_cast<uint64_t>(st.st_size);
    return true;
}

bool File::sync()
{
    if (fd_ < 0)
        return fail(EBADF);
    // A file on an emulated volume is flushed by the device that holds it.
    if (FileMedia* media = device_ ? fileMedia() : nullptr)
        return media->flush(device_);
    if (::fsync(fd_) != 0)
        return fail(errno);
    return true;
}

void File::adviseSequential()
{
    if (fd_ >= 0)
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool File::close()
{
    if (fd_ < 0)
        return true;
    int fd = std::exchange(fd_, -1);
    device_ = 0;
    if (::close(fd) != 0)
        return fail(errno);
    return true;
}

std::string executablePath()
{
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) {
            fail(errno);
            return {};
        }
        if (static_cast<size_t>(n) < buf.size())
            return std::string(buf.data(), static_cast<size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

bool pathAccessible(const std::string& path, bool needRead, bool needWrite)
{
    int mode = F_OK;
    if (needRead)
        mode |= R_OK;
    if (needWrite)
        mode |= W_OK;
    if (::access(path.c_str(), mode) != 0)
        return fail(errno);
    return true;
}

namespace {

bool processGone(const std::string& digits)
{
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long pid = std::stol(digits);
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// A writer killed between its temporary file and the rename leaves the
// temporary behind (a report can be large). The next write of the same
// file removes those of writers that are gone, never a live one's.
void removeLeftoverTemporaries(const std::string& path)
{
    static std::mutex s_mutex;
    static std::set<std::string> s_cleaned;
    {
        std::lock_guard<std::mutex> guard(s_mutex);
        if (!s_cleaned.insert(path).second)
            return;
    }
    const std::string folder = parentFolder(path);
    const std::string prefix = path.substr(path.find_last_of('/') + 1) + ".tmp";
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const size_t dot = name.find('.', prefix.size());
        if (dot == std::string::npos || !processGone(name.substr(prefix.size(), dot - prefix.size())))
            continue;
        ::unlink(joinPath(folder.empty() ? "." : folder, name).c_str());
    }
    ::closedir(dir);
}

}  // namespace

bool writeFileAtomic(const std::string& path, std::string_view data)
{
    removeLeftoverTemporaries(path);
    static std::atomic<unsigned> s_counter{0};
    const std::string temp =
        path + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(s_counter.fetch_add(1));

    mode_t mode = 0666;
    struct stat old {};
    bool keepMode = ::stat(path.c_str(), &old) == 0;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        return fail(errno);
    size_t done = 0;
    bool ok = writeAll(fd, data.data(), data.size(), done);
    if (ok && keepMode && ::fchmod(fd, old.st_mode & 07777) != 0)
        ok = fail(errno);
    if (ok && ::fsync(fd) != 0)
        ok = fail(errno);
    if (::close(fd) != 0 && ok)
        ok = fail(errno);
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0)
        ok = fail(errno);
    if (!ok) {
        uint32_t err = lastError();
        ::unlink(temp.c_str());
        setLastError(err);
        return false;
    }
    syncFolderOf(path);
    return true;
}

bool appendToFile(const std::string& path, std::string_view data)
{
    File f;
    if (!f.open(path, File::Mode::Append))
        return false;
    size_t done = 0;
    if (!f.write(data.data(), data.size(), done))
        return false;
    return f.close();
}

bool copyTimesAndMode(const std::string& from, const std::string& to)
{
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0)
        return fail(errno);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::utimensat(AT_FDCWD, to.c_str(), times, 0) != 0)
        return fail(errno);
    if (::chmod(to.c_str(), st.st_mode & 07777) != 0)
        return fail(errno);
    return true;
}

}  // namespace krv
