#pragma once
// A disk's sectors kept in a sparse image file: never-written areas are
// holes that read as zeros and take no space, so a 2 TiB disk costs what has
// been written to it. Reads and writes are positioned (pread/pwrite), so
// transfers of several threads at different places need no lock.
#include <cstddef>
#include <cstdint>
#include <string>

namespace krv::bench {

class DiskImage {
public:
    DiskImage() = default;
    ~DiskImage();
    DiskImage(const DiskImage&) = delete;
    DiskImage& operator=(const DiskImage&) = delete;

    // Opens the image at `path`, creating it sparse when missing and setting
    // its length to `size` when it differs. `readOnly` opens an existing
    // image as it is (a missing one reads as zeros) and never writes.
    bool open(const std::string& path, uint64_t size, std::string& error, bool readOnly = false);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }

    // Whole transfers inside the image; false with errno set otherwise
    // (EINVAL for a range outside it).
    bool read(uint64_t offset, void* buffer, size_t length) const;
    bool write(uint64_t offset, const void* buffer, size_t length) const;
    // The first offset at or after `from` that may hold data, or size() when
    // only holes follow: what lies between reads as zeros.
    uint64_t nextData(uint64_t from) const;
    // The first offset at or after `from` that starts a hole (or size()):
    // the data that nextData found runs up to it.
    uint64_t nextHole(uint64_t from) const;

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string path_;
};

}  // namespace krv::bench
