#pragma once
// The outside checkers that judge a volume the tool wrote: fsck.fat for the
// FAT32 structure, mtools for reading and writing files on it, the exFAT and
// NTFS checkers for the volumes format.com made. A volume is an image file,
// or a byte range of one ("file@@offset" for mtools).
#include <string>

#include "tests/support/RunTool.h"

namespace krv::test {

inline ToolRun runChecker(const std::string& program, const std::vector<std::string>& args)
{
    RunOptions options;
    options.timeoutSeconds = 120;
    options.env = {"MTOOLS_SKIP_CHECK=1", "MTOOLS_NO_VFAT=0", "LC_ALL=C"};
    return runProgram(program, args, options);
}

inline ToolRun fsckFat(const std::string& image) { return runChecker("/usr/sbin/fsck.fat", {"-n", "-v", image}); }

inline ToolRun ntfsCheck(const std::string& image) { return runChecker("/usr/bin/ntfsfix", {"-n", image}); }
inline ToolRun exfatCheck(const std::string& image) { return runChecker("/usr/sbin/fsck.exfat", {"-n", image}); }

// The label as the file system's own tools read it from the volume's bytes.
inline std::string ntfsLabel(const std::string& image)
{
    ToolRun run = runChecker("/usr/sbin/ntfslabel", {image});
    return run.exitCode == 0 ? run.out : "(ntfslabel failed: " + run.err + ")";
}
inline std::string exfatLabel(const std::string& image)
{
    ToolRun run = runChecker("/usr/sbin/exfatlabel", {image});
    return run.exitCode == 0 ? run.out : "(exfatlabel failed: " + run.err + ")";
}

// mtools' label line, e.g. " Volume label is STORE"; empty when none.
inline std::string mtoolsLabel(const std::string& image)
{
    ToolRun run = runChecker("/usr/bin/mlabel", {"-s", "-i", image, "::"});
    return run.exitCode == 0 ? run.out : std::string();
}

}  // namespace krv::test

#include <fcntl.h>
#include <unistd.h>

namespace krv::test {

// Copies bytes [offset, offset + length) of a sparse image into a new
// sparse file, reading only the parts that hold data: a checker then reads
// the volume as a file of its own.
inline bool extractRegion(const std::string& image, uint64_t offset, uint64_t length, const std::string& out)
{
    int in = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    int to = ::open(out.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = in >= 0 && to >= 0 && ::ftruncate(to, static_cast<off_t>(length)) == 0;
    std::vector<char> buffer(1 << 20);
    for (uint64_t at = offset; ok && at < offset + length;) {
        off_t data = ::lseek(in, static_cast<off_t>(at), SEEK_DATA);
        if (data < 0 || static_cast<uint64_t>(data) >= offset + length)
            break;
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(hole), offset + length);
        for (uint64_t p = static_cast<uint64_t>(data); ok && p < end;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), end - p));
            ok = ::pread(in, buffer.data(), n, static_cast<off_t>(p)) == static_cast<ssize_t>(n) &&
                 ::pwrite(to, buffer.data(), n, static_cast<off_t>(p - offset)) == static_cast<ssize_t>(n);
            p += n;
        }
        at = end;
    }
    if (in >= 0)
        ::close(in);
    if (to >= 0)
        ::close(to);
    return ok;
}

}  // namespace krv::test
