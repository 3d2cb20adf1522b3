#include "platform/bench/BenchFormat.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/LastError.h"
#include "platform/bench/BenchDevices.h"
#include "platform/bench/BenchHostTools.h"
#include "platform/bench/BenchLayout.h"

namespace krv::bench {

namespace {

constexpr uint64_t kKiB = 1024, kMiB = kKiB * 1024, kGiB = kMiB * 1024, kTiB = kGiB * 1024;
constexpr size_t kChunk = 1 << 20;
// The file-system tools finish in seconds; a hung one is ended.
constexpr uint64_t kToolTimeoutMs = 10 * 60 * 1000;

constexpr uint32_t kFormatOk = 0;
constexpr uint32_t kFormatBadParameters = 1;
constexpr uint32_t kFormatFailed = 4;
constexpr uint32_t kFormatDeclined = 5;
constexpr uint32_t kLabelFailed = 1;

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

struct Extent {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The ranges of [0, size) of an open file that hold data.
std::vector<Extent> dataExtents(int fd, uint64_t size)
{
    std::vector<Extent> list;
    for (uint64_t at = 0; at < size;) {
        const off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
        if (data < 0) {
            if (errno != ENXIO)   // no hole support: all of it may hold data
                list.push_back({at, size - at});
            break;
        }
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        const uint64_t end = hole < 0 ? size : std::min<uint64_t>(static_cast<uint64_t>(hole), size);
        if (static_cast<uint64_t>(data) >= end)
            break;
        list.push_back({static_cast<uint64_t>(data), end - static_cast<uint64_t>(data)});
        at = end;
    }
    return list;
}

// A volume's bytes in a sparse file beside its disk image, for a tool that
// works on a file: load() copies what holds data, store() writes back the
// chunks that differ from the disk.
class ScratchVolume {
public:
    ScratchVolume(BenchDevices& devices, BenchDevices::DiskTarget target, const BenchVolume& volume)
        : devices_(devices), target_(target), base_(volume.partition.startingOffset)
    {
        image_ = devices_.disks().image(volume.device);
        if (image_)
            size_ = std::min(volume.partition.length, image_->size() > base_ ? image_->size() - base_ : 0);
    }
    ~ScratchVolume()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    ScratchVolume(const ScratchVolume&) = delete;
    ScratchVolume& operator=(const ScratchVolume&) = delete;

    const std::string& path() const { return path_; }
    uint64_t size() const { return size_; }

    bool load(std::string& why)
    {
        if (!image_ || size_ == 0)
            return why = "the volume's disk has no image", false;
        const std::string& image = image_->path();
        std::string pattern = image.substr(0, image.find_last_of('/') + 1) + "scratch-XXXXXX";
        fd_ = ::mkstemp(pattern.data());
        if (fd_ < 0)
            return why = "cannot make a scratch file beside " + image, false;
        path_ = pattern;
        if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0)
            return why = "cannot size the scratch file " + path_, false;
        std::vector<uint8_t> buffer(kChunk);
        for (uint64_t at = 0; at < size_;) {
            const uint64_t data = image_->nextData(base_ + at) - base_;
            if (data >= size_)
                break;
            const uint64_t end = std::min(image_->nextHole(base_ + data) - base_, size_);
            loaded_.push_back({data, end - data});
            for (uint64_t p = data; p < end;) {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, end - p));
                if (!devices_.diskTransfer(target_, base_ + p, buffer.data(), n, false) ||
                    ::pwrite(fd_, buffer.data(), n, static_cast<off_t>(p)) != static_cast<ssize_t>(n))
                    return why = "cannot read the volume", false;
                p += n;
            }
            at = end;
        }
        return true;
    }

    bool store(std::string& why)
    {
        std::vector<Extent> ranges = dataExtents(fd_, size_);
        // A range the tool turned into a hole reads as zeros and goes back too.
        ranges.insert(ranges.end(), loaded_.begin(), loaded_.end());
        std::sort(ranges.begin(), ranges.end(), [](const Extent& a, const Extent& b) { return a.offset < b.offset; });
        std::vector<uint8_t> fresh(kChunk), current(kChunk);
        uint64_t done = 0;   // everything below it is back on the disk
        for (const Extent& range : ranges) {
            for (uint64_t p = std::max(range.offset, done); p < range.offset + range.length;) {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, range.offset + range.length - p));
                if (::pread(fd_, fresh.data(), n, static_cast<off_t>(p)) != static_cast<ssize_t>(n))
                    return why = "cannot read the scratch file " + path_, false;
                if (image_->nextData(base_ + p) >= base_ + p + n)
                    std::fill_n(current.begin(), n, 0);
                else if (!image_->read(base_ + p, current.data(), n))
                    return why = "cannot read the disk image", false;
                if (std::memcmp(fresh.data(), current.data(), n) != 0 &&
                    !devices_.diskTransfer(target_, base_ + p, fresh.data(), n, true))
                    return why = "the write to the disk failed (error " + std::to_string(lastError()) + ")", false;
                p += n;
                done = p;
            }
        }
        return true;
    }

private:
    BenchDevices& devices_;
    BenchDevices::DiskTarget target_;
    const DiskImage* image_ = nullptr;
    uint64_t base_ = 0;
    uint64_t size_ = 0;
    std::string path_;
    int fd_ = -1;
    std::vector<Extent> loaded_;
};

// The cluster sizes the machine's format picks by default.
uint64_t ntfsClusterBytes(uint64_t size, uint32_t sectorSize)
{
    const uint64_t bytes = size <= 16 * kTiB ? 4 * kKiB : size <= 32 * kTiB ? 8 * kKiB : 16 * kKiB;
    return std::max<uint64_t>(bytes, sectorSize);
}

uint64_t exfatClusterBytes(uint64_t size)
{
    return size <= 256 * kMiB ? 4 * kKiB : size <= 32 * kGiB ? 32 * kKiB : 128 * kKiB;
}

std::string sizeText(uint64_t bytes)
{
    char text[32];
    if (bytes >= kTiB)
        std::snprintf(text, sizeof text, "%.1f TB", static_cast<double>(bytes) / static_cast<double>(kTiB));
    else if (bytes >= kGiB)
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / static_cast<double>(kGiB));
    else
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / static_cast<double>(kMiB));
    return text;
}

HostToolRun makeNtfs(const ScratchVolume& scratch, const BenchVolume& volume, uint32_t sectorSize,
                     const std::string& label)
{
    // The boot sector counts the sectors before the volume; a count past 32
    // bits is left at 0, as the field cannot hold it.
    const uint64_t before = volume.partition.startingOffset / sectorSize;
    std::vector<std::string> args = {"-F", "-Q", "-q", "-s", std::to_string(sectorSize),
                                     "-c", std::to_string(ntfsClusterBytes(scratch.size(), sectorSize)),
                                     "-p", std::to_string(before <= 0xFFFFFFFFull ? before : 0),
                                     "-H", "255", "-S", "63"};
    if (!label.empty())
        args.insert(args.end(), {"-L", label});
    args.push_back(scratch.path());
    return runHostTool("mkntfs", args, kToolTimeoutMs);
}

HostToolRun makeExfat(const ScratchVolume& scratch, uint32_t sectorSize, const std::string& label)
{
    std::vector<std::string> args = {"-c", std::to_string(exfatClusterBytes(scratch.size()))};
    if (!label.empty())
        args.insert(args.end(), {"-L", label});
    if (sectorSize == 512) {
        args.push_back(scratch.path());
        return runHostTool("mkfs.exfat", args, kToolTimeoutMs);
    }
    // mkfs.exfat asks the device for its sector size; a file has none.
    HostToolRun loop = runHostTool("losetup", {"--find", "--show", "--sector-size", std::to_string(sectorSize),
                                               scratch.path()},
                                   kToolTimeoutMs);
    const std::string device = trimmed(loop.output);
    if (!loop.ok() || device.rfind("/dev/", 0) != 0) {
        loop.exitCode = loop.ok() ? 1 : loop.exitCode;
        loop.output = "no loop device of " + std::to_string(sectorSize) + "-byte sectors (the bench needs root for "
                      "it): " + loop.output;
        return loop;
    }
    args.push_back(device);
    HostToolRun run = runHostTool("mkfs.exfat", args, kToolTimeoutMs);
    HostToolRun detach = runHostTool("losetup", {"--detach", device}, kToolTimeoutMs);
    if (run.ok() && !detach.ok()) {
        run.exitCode = 1;
        run.output += detach.output;
    }
    return run;
}

HostToolRun writeLabel(FileSystemKind kind, const std::string& file, const std::string& label)
{
    switch (kind) {
    case FileSystemKind::Ntfs:
        return runHostTool("ntfslabel", {"--force", file, label}, kToolTimeoutMs);
    case FileSystemKind::ExFat:
        return runHostTool("exfatlabel", {file, label}, kToolTimeoutMs);
    default: {
        // FAT keeps labels in capitals, in the root folder and the boot sector alike.
        std::vector<std::string> args = {"-i", file};
        if (label.empty())
            args.insert(args.begin(), "-c");
        args.push_back("::" + upper(label));
        return runHostTool("mlabel", args, kToolTimeoutMs, {"MTOOLS_SKIP_CHECK=1"});
    }
    }
}

struct FormatRequest {
    char letter = 0;
    std::string fileSystem = "NTFS";
    std::optional<std::string> label;
    bool quick = false;
    bool yes = false;
};

// Splits the command line as format reads it: blanks separate, and a switch
// may follow the drive or another switch directly ("E:/Q").
std::vector<std::string> formatTokens(const std::vector<std::string>& args)
{
    std::vector<std::string> tokens;
    for (const std::string& arg : args) {
        std::string token;
        for (char c : arg) {
            if (c == ' ' || c == '\t' || (c == '/' && !token.empty())) {
                if (!token.empty())
                    tokens.push_back(token);
                token = c == '/' ? "/" : "";
            } else {
                token += c;
            }
        }
        if (!token.empty())
            tokens.push_back(token);
    }
    return tokens;
}

bool parseFormat(const std::vector<std::string>& args, FormatRequest& request, std::string& why)
{
    for (const std::string& token : formatTokens(args)) {
        const std::string u = upper(token);
        if (u.size() == 2 && std::isalpha(static_cast<unsigned char>(u[0])) && u[1] == ':' && !request.letter)
            request.letter = u[0];
        else if (u == "/Q")
            request.quick = true;
        else if (u == "/Y")
            request.yes = true;
        else if (u.rfind("/FS:", 0) == 0 && (u.substr(4) == "NTFS" || u.substr(4) == "EXFAT"))
            request.fileSystem = u.substr(4);
        else if (u.rfind("/V:", 0) == 0)
            request.label = token.substr(3);
        else
            return why = "Invalid parameter - " + token, false;
    }
    if (!request.letter)
        return why = "Required parameter missing -", false;
    if (!request.quick)
        return why = "Only a quick format (/Q) is modelled on the bench.", false;
    return true;
}

ConsoleResult finished(uint32_t exitCode, std::string output)
{
    ConsoleResult result;
    result.started = true;
    result.finished = true;
    result.exitCode = exitCode;
    result.output = std::move(output);
    return result;
}

// The volume of a letter with the disk it is on, as a program opening "X:" finds them.
std::optional<std::pair<BenchVolume, BenchDevices::DiskTarget>> openVolume(BenchDevices& devices, char letter)
{
    devices.poll();
    std::optional<BenchVolume> volume = devices.disks().volumeByLetter(letter);
    if (!volume) {
        setLastError(winerr::kFileNotFound);
        return std::nullopt;
    }
    std::optional<BenchDevices::DiskTarget> target = devices.openDisk(volume->diskNumber);
    if (!target || target->device != volume->device) {
        setLastError(winerr::kFileNotFound);
        return std::nullopt;
    }
    return std::make_pair(*volume, *target);
}

}  // namespace

ConsoleResult runFormat(BenchDevices& devices, const std::vector<std::string>& args, const std::string& input)
{
    FormatRequest request;
    std::string why;
    if (!parseFormat(args, request, why))
        return finished(kFormatBadParameters, why + "\r\n");
    auto opened = openVolume(devices, request.letter);
    if (!opened)
        return finished(kFormatFailed, "Invalid drive: no volume has that letter.\r\n");
    const auto& [volume, target] = *opened;
    std::string out;
    const FileSystemView before = devices.disks().fileSystem(volume, false);
    out += "The type of the file system is " + (before.kind == FileSystemKind::None ? "RAW" : before.name) + ".\r\n";
    if (!request.yes) {
        out += std::string("WARNING, ALL DATA ON NON-REMOVABLE DISK\r\nDRIVE ") + request.letter +
               ": WILL BE LOST!\r\nProceed with Format (Y/N)? ";
        const std::string answer = trimmed(input);
        if (answer.empty() || std::toupper(static_cast<unsigned char>(answer[0])) != 'Y')
            return finished(kFormatDeclined, out + "\r\n");
        out += "Y\r\n";
    }
    if (volume.device == kSystemDisk)
        return finished(kFormatFailed, out + "Format cannot run on the system volume.\r\n");

    uint64_t handle = 0;
    if (!devices.disks().openHandle(volume.key, volume.arrival, true, handle))
        return finished(kFormatFailed, out + "Cannot lock current drive.\r\n");
    struct Release {
        BenchDisks& disks;
        uint64_t handle;
        ~Release() { disks.closeHandle(handle); }
    } release{devices.disks(), handle};
    if (!devices.disks().lock(handle))
        return finished(kFormatFailed, out + "Cannot lock current drive.\r\n");

    const uint32_t sectorSize = devices.disks().sectorSize(volume.device);
    const std::string label = request.label.value_or("");
    out += "QuickFormatting " + sizeText(volume.partition.length) + "\r\n";
    ScratchVolume scratch(devices, target, volume);
    bool ok = scratch.load(why);
    if (ok) {
        const HostToolRun made = request.fileSystem == "NTFS" ? makeNtfs(scratch, volume, sectorSize, label)
                                                              : makeExfat(scratch, sectorSize, label);
        ok = made.ok();
        if (!ok)
            why = made.output;
    }
    ok = ok && scratch.store(why);
    devices.disks().dismount(handle);
    devices.disks().unlock(handle);
    if (!ok)
        return finished(kFormatFailed, out + "Format failed. " + why + "\r\n");
    out += "Creating file system structures.\r\nFormat complete.\r\n";
    out += "     " + sizeText(volume.partition.length) + " total disk space.\r\n";
    return finished(kFormatOk, out);
}

ConsoleResult runLabel(BenchDevices& devices, const std::vector<std::string>& args)
{
    // label's own line: the drive, then the label (the rest of the line).
    std::string line;
    for (const std::string& arg : args)
        line += (line.empty() ? "" : " ") + arg;
    line = trimmed(line);
    if (line.size() < 2 || !std::isalpha(static_cast<unsigned char>(line[0])) || line[1] != ':')
        return finished(kLabelFailed, "The parameter is incorrect.\r\n");
    const std::string label = trimmed(line.substr(2));
    if (!setVolumeLabel(devices, line[0], label)) {
        const uint32_t error = lastError();
        return finished(kLabelFailed, error == winerr::kLabelTooLong   ? "The volume label is too long.\r\n"
                                      : error == winerr::kInvalidName  ? "Invalid characters in volume label\r\n"
                                      : error == winerr::kFileNotFound ? "The system cannot find the drive specified.\r\n"
                                                                       : "Cannot change label.\r\n");
    }
    return finished(kFormatOk, "");
}

bool setVolumeLabel(BenchDevices& devices, char letter, const std::string& label)
{
    auto opened = openVolume(devices, letter);
    if (!opened)
        return false;
    const auto& [volume, target] = *opened;
    devices.disks().touch(volume.key);
    const FileSystemView view = devices.disks().fileSystem(volume, false);
    if (view.kind == FileSystemKind::None) {
        setLastError(winerr::kUnrecognizedVolume);
        return false;
    }
    const size_t most = view.kind == FileSystemKind::Ntfs ? 32 : 11;
    if (label.size() > most) {
        setLastError(winerr::kLabelTooLong);
        return false;
    }
    const bool fat = view.kind != FileSystemKind::Ntfs && view.kind != FileSystemKind::ExFat;
    if (fat && label.find_first_of("*?.,;:/\\|+=<>[]\"") != std::string::npos) {
        setLastError(winerr::kInvalidName);
        return false;
    }
    // The label is written through a handle of the volume: one that someone
    // holds exclusively (a format) refuses it.
    uint64_t handle = 0;
    if (!devices.disks().openHandle(volume.key, volume.arrival, false, handle))
        return false;
    ScratchVolume scratch(devices, target, volume);
    std::string why;
    const bool ok = scratch.load(why) && writeLabel(view.kind, scratch.path(), label).ok() && scratch.store(why);
    devices.disks().closeHandle(handle);
    if (!ok)
        setLastError(winerr::kIoDevice);
    return ok;
}

}  // namespace krv::bench
