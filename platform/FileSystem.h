#pragma once
// What standard C++ lacks for the system's file work: descriptors that can be
// flushed to the medium, whole-file replacement that a crash cannot leave
// half-written, appends that other threads cannot split, and the path of the
// running program. Every failing call sets the per-thread last error
// (platform/LastError.h).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace krv {

class File {
public:
    enum class Mode {
        Read,             // existing file, read only
        ReadWrite,        // existing file, read and write
        CreateTruncate,   // write; created when missing, emptied when present
        Append,           // write at the end; created when missing, never emptied
        CreateNew,        // write at the end; fails when anything (a file, a link) is in the way
    };

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Read and ReadWrite open regular files only (a pipe, socket or device
    // node is refused with access denied); no mode ever blocks in open().
    bool open(const std::string& path, Mode mode);
    bool isOpen() const { return fd_ >= 0; }

    // Reads until `size` bytes or the end of the file; `done` is what was
    // read. False only on an error.
    bool read(void* buffer, size_t size, size_t& done);
    // Writes all `size` bytes, going on after partial writes; `done` is what
    // was written. False on an error.
    bool write(const void* buffer, size_t size, size_t& done);
    bool seek(uint64_t offset);
    bool size(uint64_t& bytes);
    // Flushes the file's data and metadata to the medium.
    bool sync();
    // The file will be read from start to end (a hint; never fails).
    void adviseSequential();
    bool close();

private:
    int fd_ = -1;
    int device_ = 0;  // the emulated device holding the file; 0: none
};

// Full path of the running program's executable; empty on failure.
std::string executablePath();

// True when the path exists and the process may read (and, when asked,
// write) it.
bool pathAccessible(const std::string& path, bool needRead, bool needWrite);

// Replaces `path` with `data`: written to a temporary file in the same
// folder, flushed, then renamed over the old file. Readers see the old or
// the new content, never a part. An existing file's permission bits are kept.
bool writeFileAtomic(const std::string& path, std::string_view data);

// Appends `data` to `path` (created when missing) in one write, so lines of
// concurrent writers never interleave.
bool appendToFile(const std::string& path, std::string_view data);

// Gives `to` the access and modification times and the permission bits of
// `from`.
bool copyTimesAndMode(const std::string& from, const std::string& to);

}  // namespace krv
