#include "platform/bench/BenchDiskPart.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <sstream>

#include "platform/bench/BenchDevices.h"
#include "platform/bench/BenchFiles.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/disk/PartitionTable.h"

namespace krv::bench {

namespace {

// diskpart's exit codes.
constexpr uint32_t kExitOk = 0;
constexpr uint32_t kExitBadArguments = 2;
constexpr uint32_t kExitNoScript = 3;
constexpr uint32_t kExitSyntax = 5;
constexpr uint32_t kExitScriptFailed = 6;

constexpr uint64_t kMiB = 1 << 20;
constexpr uint64_t kReservedBytes = 16 * kMiB;

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> out;
    std::istringstream in(lower(line));
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

bool number(const std::string& text, uint64_t& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// The disk as the script leaves it, built up line by line before anything
// is written.
struct DiskPlan {
    int device = -1;
    int number = -1;
    uint64_t size = 0;
    uint64_t sector = 512;                  // the disk's logical sector
    PartitionStyle style = PartitionStyle::Raw;
    std::vector<NewPartition> partitions;   // in partition-number order
    bool changed = false;                   // clean, convert or create ran
    bool cleaned = false;
    std::vector<size_t> created;            // indexes of new partitions
    int selectedPartition = 0;              // from 1
    std::vector<std::pair<int, char>> letters;
};

std::vector<NewPartition> currentPartitions(const DriveLayout& layout)
{
    std::vector<NewPartition> list;
    for (const PartitionInfo& p : layout.partitions)
        if (p.partitionNumber != 0 && p.length != 0) {
            NewPartition n;
            n.offset = p.startingOffset;
            n.length = p.length;
            n.mbrType = p.mbrType;
            n.gptType = p.gptType;
            n.name = p.gptName;
            list.push_back(n);
        }
    return list;
}

struct Run {
    BenchDevices& devices;
    ConsoleResult result;
    std::optional<DiskPlan> disk;

    bool fail(uint32_t code, const std::string& message)
    {
        result.exitCode = code;
        result.output += "\r\n" + message + "\r\n";
        return false;
    }

    // The first sector a GPT partition may use: after the protective MBR,
    // the header and the entries.
    uint64_t gptFirstUsable() const { return 2 + gptEntrySectors(static_cast<uint32_t>(disk->sector)); }

    bool needDisk()
    {
        return disk ? true : fail(kExitScriptFailed, "There is no disk selected to perform this operation.");
    }

    bool selectDisk(uint64_t n)
    {
        auto target = devices.openDisk(static_cast<int>(n));
        if (!target)
            return fail(kExitScriptFailed, "The disk you specified is not valid.");
        DiskPlan plan;
        plan.device = target->device;
        plan.number = static_cast<int>(n);
        plan.size = devices.disks().size(target->device);
        plan.sector = devices.disks().sectorSize(target->device);
        if (auto layout = devices.disks().layout(target->device)) {
            plan.style = layout->style;
            plan.partitions = currentPartitions(*layout);
        }
        disk = plan;
        result.output += "\r\nDisk " + std::to_string(n) + " is now the selected disk.\r\n";
        return true;
    }

    bool mayChange()
    {
        if (!needDisk())
            return false;
        if (disk->device == kSystemDisk)
            return fail(kExitScriptFailed, "Virtual Disk Service error:\r\nClean is not allowed on the disk containing "
                                           "the current boot, system, pagefile, crashdump or hibernation volume.");
        return true;
    }

    bool clean()
    {
        if (!mayChange())
            return false;
        disk->style = PartitionStyle::Raw;
        disk->partitions.clear();
        disk->created.clear();
        disk->changed = disk->cleaned = true;
        result.output += "\r\nDiskPart succeeded in cleaning the disk.\r\n";
        return true;
    }

    bool convert(PartitionStyle style)
    {
        if (!mayChange())
            return false;
        if (!disk->partitions.empty())
            return fail(kExitScriptFailed, "Virtual Disk Service error:\r\nThe specified disk is not convertible.");
        disk->style = style;
        disk->changed = true;
        if (style == PartitionStyle::Gpt) {
            NewPartition reserved;
            reserved.offset = gptFirstUsable() * disk->sector;
            reserved.length = kReservedBytes;
            reserved.gptType = kGptMicrosoftReserved;
            reserved.name = "Microsoft reserved partition";
            disk->partitions.push_back(reserved);
        }
        result.output += "\r\nDiskPart successfully converted the selected disk to the requested format.\r\n";
        return true;
    }

    bool create(std::optional<uint64_t> offsetKB)
    {
        if (!mayChange())
            return false;
        if (disk->style == PartitionStyle::Raw)
            disk->style = PartitionStyle::Mbr;  // a new partition initialises a blank disk
        const uint64_t sector = disk->sector;
        const uint64_t sectors = disk->size / sector;
        const bool gpt = disk->style == PartitionStyle::Gpt;
        const uint64_t end = gpt ? (sectors - gptFirstUsable()) * sector
                                 : std::min<uint64_t>(sectors, 0xFFFFFFFFull) * sector;
        uint64_t used = gpt ? gptFirstUsable() * sector : 0;
        for (const NewPartition& p : disk->partitions)
            used = std::max(used, p.offset + p.length);
        uint64_t start = offsetKB ? (*offsetKB * 1024 + sector - 1) / sector * sector
                                  : (used + kMiB - 1) / kMiB * kMiB;
        if (!offsetKB && start < kMiB)
            start = kMiB;
        if (start < used || start >= end || (gpt ? disk->partitions.size() >= 128 : disk->partitions.size() >= 4))
            return fail(kExitScriptFailed, "Virtual Disk Service error:\r\nThere is not enough usable space for this "
                                           "operation.");
        NewPartition p;
        p.offset = start;
        p.length = end - start;
        p.mbrType = 0x07;
        disk->partitions.push_back(p);
        disk->created.push_back(disk->partitions.size() - 1);
        disk->selectedPartition = static_cast<int>(disk->partitions.size());
        disk->changed = true;
        result.output += "\r\nDiskPart succeeded in creating the specified partition.\r\n";
        return true;
    }

    bool selectPartition(uint64_t n)
    {
        if (!needDisk())
            return false;
        if (n == 0 || n > disk->partitions.size())
            return fail(kExitScriptFailed, "The partition you specified is not valid.");
        disk->selectedPartition = static_cast<int>(n);
        result.output += "\r\nPartition " + std::to_string(n) + " is now the selected partition.\r\n";
        return true;
    }

    bool assign(char letter)
    {
        if (!needDisk())
            return false;
        letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
        if (disk->selectedPartition == 0)
            return fail(kExitScriptFailed, "There is no volume selected.");
        const NewPartition& p = disk->partitions[static_cast<size_t>(disk->selectedPartition - 1)];
        const std::string key = deviceName(disk->device) + "@" + std::to_string(p.offset);
        auto owner = devices.disks().volumeByLetter(letter);
        if (letter < 'D' || letter > 'Z' || (owner && owner->key != key) || (letter == 'C'))
            return fail(kExitScriptFailed, "Virtual Disk Service error:\r\nThe specified drive letter is not free to "
                                           "be assigned.");
        disk->letters.push_back({disk->selectedPartition, letter});
        result.output += "\r\nDiskPart successfully assigned the drive letter or mount point.\r\n";
        return true;
    }

    bool line(const std::vector<std::string>& w)
    {
        auto is = [&](std::initializer_list<const char*> want, bool noerrAllowed) {
            size_t i = 0;
            for (const char* x : want)
                if (i >= w.size() || w[i++] != x)
                    return false;
            return i == w.size() || (noerrAllowed && i + 1 == w.size() && w[i] == "noerr");
        };
        uint64_t n = 0;
        if (is({"list", "disk"}, false)) {
            listDisks();
            return true;
        }
        if (w.size() == 3 && w[0] == "select" && w[1] == "disk")
            return number(w[2], n) ? selectDisk(n) : fail(kExitSyntax, "The arguments specified are not valid.");
        if (is({"online", "disk"}, true) || is({"attributes", "disk", "clear", "readonly"}, true))
            return needDisk();
        if (is({"clean"}, false))
            return clean();
        if (is({"convert", "mbr"}, false))
            return convert(PartitionStyle::Mbr);
        if (is({"convert", "gpt"}, false))
            return convert(PartitionStyle::Gpt);
        if (is({"create", "partition", "primary"}, false))
            return create(std::nullopt);
        if (w.size() == 4 && w[0] == "create" && w[1] == "partition" && w[2] == "primary" &&
            w[3].rfind("offset=", 0) == 0)
            return number(w[3].substr(7), n) ? create(n) : fail(kExitSyntax, "The arguments specified are not valid.");
        if (w.size() == 3 && w[0] == "select" && w[1] == "partition")
            return number(w[2], n) ? selectPartition(n) : fail(kExitSyntax, "The arguments specified are not valid.");
        if (w.size() == 2 && w[0] == "assign" && w[1].size() == 8 && w[1].rfind("letter=", 0) == 0 &&
            std::isalpha(static_cast<unsigned char>(w[1][7])))
            return assign(w[1][7]);
        return fail(kExitSyntax, "The arguments specified for this command are not valid.");
    }

    void listDisks()
    {
        result.output += "\r\n  Disk ###  Status         Size     Free     Dyn  Gpt\r\n";
        for (const DeviceView& v : devices.views()) {
            if (v.physicalDrive < 0)
                continue;
            auto layout = devices.disks().layout(v.device);
            result.output += "  Disk " + std::to_string(v.physicalDrive) + "    Online        " +
                             std::to_string(devices.disks().size(v.device) >> 30) + " GB" +
                             (layout && layout->style == PartitionStyle::Gpt ? "            *" : "") + "\r\n";
        }
    }

    // Writes what the script asked for.
    bool commit()
    {
        if (!disk || !disk->changed)
            return true;
        const DiskImage* image = devices.disks().image(disk->device);
        if (!image)
            return fail(kExitScriptFailed, "The disk you specified is not valid.");
        std::string error;
        static const std::vector<uint8_t> zeros(kMiB, 0);
        const uint64_t size = image->size();
        bool ok = true;
        if (disk->cleaned)
            ok = image->write(0, zeros.data(), std::min<uint64_t>(kMiB, size)) &&
                 image->write(size - std::min<uint64_t>(kMiB, size), zeros.data(), std::min<uint64_t>(kMiB, size));
        const std::string seed = image->path() + "/" + std::to_string(++generation());
        if (ok && disk->style == PartitionStyle::Mbr)
            ok = writeMbr(*image, guidFromText(seed).Data1, disk->partitions, error,
                          static_cast<uint32_t>(disk->sector));
        else if (ok && disk->style == PartitionStyle::Gpt)
            ok = writeGpt(*image, seed, disk->partitions, error, static_cast<uint32_t>(disk->sector));
        // A new partition starts blank, so no earlier file system shows through.
        for (size_t i : disk->created) {
            const NewPartition& p = disk->partitions[i];
            ok = ok && image->write(p.offset, zeros.data(), std::min<uint64_t>(kMiB, p.length));
        }
        if (!ok)
            return fail(kExitScriptFailed, "Virtual Disk Service error:\r\nThe I/O operation failed. " + error);
        devices.disks().reread(disk->device);
        for (const auto& [partition, letter] : disk->letters) {
            const NewPartition& p = disk->partitions[static_cast<size_t>(partition - 1)];
            if (!devices.disks().assignLetter(deviceName(disk->device) + "@" + std::to_string(p.offset), letter))
                return fail(kExitScriptFailed, "Virtual Disk Service error:\r\nThe volume cannot take a letter.");
        }
        return true;
    }

    static uint64_t& generation()
    {
        static uint64_t counter = 0;
        return counter;
    }
};

}  // namespace

ConsoleResult runDiskPart(BenchDevices& devices, const std::vector<std::string>& args)
{
    Run run{devices, {}, std::nullopt};
    run.result.started = true;
    run.result.finished = true;
    run.result.output = "\r\nMicrosoft DiskPart version 10.0.19041.964\r\n\r\nOn computer: KRVBENCH\r\n";
    if (args.size() != 2 || lower(args[0]) != "/s") {
        run.fail(kExitBadArguments, "The arguments specified for this command are not valid.");
        return run.result;
    }
    std::string script, why;
    if (!readTextFile(args[1], script, why)) {
        run.fail(kExitNoScript, "DiskPart was unable to open or read the script file " + args[1] + ".");
        return run.result;
    }
    std::istringstream lines(script);
    for (std::string text; std::getline(lines, text);) {
        std::vector<std::string> w = words(text);
        if (!w.empty() && !run.line(w))
            return run.result;   // nothing has been written yet
    }
    if (run.commit())
        run.result.exitCode = kExitOk;
    return run.result;
}

}  // namespace krv::bench
