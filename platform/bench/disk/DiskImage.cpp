#include "platform/bench/disk/DiskImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace krv::bench {

DiskImage::~DiskImage() { close(); }

bool DiskImage::open(const std::string& path, uint64_t size, std::string& error, bool readOnly)
{
    close();
    if (readOnly) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0 && errno != ENOENT) {
            error = "cannot open disk image " + path + ": " + std::strerror(errno);
            return false;
        }
        if (fd_ < 0)
            fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        size_ = size;
        path_ = path;
        return fd_ >= 0;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open disk image " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || (static_cast<uint64_t>(st.st_size) != size && ::ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        error = "cannot size disk image " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = size;
    path_ = path;
    return true;
}

void DiskImage::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool DiskImage::read(uint64_t offset, void* buffer, size_t length) const
{
    if (fd_ < 0 || offset > size_ || length > size_ - offset) {
        errno = EINVAL;
        return false;
    }
    auto* p = static_cast<char*>(buffer);
    while (length > 0) {
        ssize_t n = ::pread(fd_, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {  // a short file reads as zeros up to its set length
            std::memset(p, 0, length);
            return true;
        }
        p += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool DiskImage::write(uint64_t offset, const void* buffer, size_t length) const
{
    if (fd_ < 0 || offset > size_ || length > size_ - offset) {
        errno = EINVAL;
        return false;
    }
    const auto* p = static_cast<const char*>(buffer);
    while (length > 0) {
        ssize_t n = ::pwrite(fd_, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

uint64_t DiskImage::nextData(uint64_t from) const
{
    if (fd_ < 0 || from >= size_)
        return size_;
    off_t at = ::lseek(fd_, static_cast<off_t>(from), SEEK_DATA);
    if (at < 0)
        return errno == ENXIO ? size_ : from;  // no data after it, or no hole support: assume data
    return static_cast<uint64_t>(at) < size_ ? static_cast<uint64_t>(at) : size_;
}

uint64_t DiskImage::nextHole(uint64_t from) const
{
    if (fd_ < 0 || from >= size_)
        return size_;
    off_t at = ::lseek(fd_, static_cast<off_t>(from), SEEK_HOLE);
    if (at < 0)
        return size_;  // no hole support: all of it may hold data
    return static_cast<uint64_t>(at) < size_ ? static_cast<uint64_t>(at) : size_;
}

}  // namespace krv::bench
