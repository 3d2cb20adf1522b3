#include "platform/bench/disk/DiskLayoutPlan.h"

#include <algorithm>
#include <cctype>

#include "platform/bench/BenchSettings.h"
#include "platform/bench/disk/Fat32Writer.h"
#include "platform/bench/disk/PartitionTable.h"

namespace krv::bench {

namespace {

constexpr uint64_t kAlign = 1 << 20;

std::vector<std::string_view> split(std::string_view text, char at)
{
    std::vector<std::string_view> parts;
    while (true) {
        auto cut = text.find(at);
        parts.push_back(text.substr(0, cut));
        if (cut == std::string_view::npos)
            return parts;
        text = text.substr(cut + 1);
    }
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (auto& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

uint32_t stableNumber(const std::string& seed)
{
    Guid g = guidFromText(seed);
    return g.Data1 ? g.Data1 : 1;
}

}  // namespace

bool parseDiskLayoutPlan(std::string_view text, DiskLayoutPlan& spec, std::string& why)
{
    DiskLayoutPlan result;
    std::string t = lower(text);
    if (t == "none") {
        spec = result;
        return true;
    }
    if (t.rfind("gpt:", 0) == 0 || t.rfind("mbr:", 0) == 0) {
        result.gpt = t[0] == 'g';
        text.remove_prefix(4);
    }
    auto bad = [&](const std::string& reason) {
        why = "bad volume list '" + std::string(text) + "': " + reason +
              " (FS[:SIZE[:LABEL]] separated by commas, FS fat32 or raw, SIZE such as 1G or rest)";
        return false;
    };
    auto items = split(text, ',');
    for (size_t i = 0; i < items.size(); ++i) {
        auto fields = split(items[i], ':');
        if (fields.size() > 3)
            return bad("too many ':' in '" + std::string(items[i]) + "'");
        VolumeSpec v;
        v.fileSystem = lower(fields[0]);
        if (v.fileSystem != "fat32" && v.fileSystem != "raw")
            return bad("unknown file system '" + std::string(fields[0]) + "'");
        if (fields.size() > 1 && lower(fields[1]) != "rest") {
            std::string sizeWhy;
            if (!parseDiskSize(fields[1], v.size, sizeWhy))
                return bad(sizeWhy);
            v.size = (v.size + kAlign - 1) / kAlign * kAlign;
        }
        if ((fields.size() == 1 || v.size == 0) && i + 1 != items.size())
            return bad("only the last volume may take the rest of the disk");
        if (fields.size() > 2) {
            v.label = std::string(fields[2]);
            if (v.label.size() > 11 || v.fileSystem == "raw")
                return bad(v.fileSystem == "raw" ? "a raw volume has no label" : "a label has 11 characters at most");
        }
        result.volumes.push_back(std::move(v));
    }
    if (!result.gpt && result.volumes.size() > 4)
        return bad("an MBR disk holds four partitions (use gpt:)");
    spec = std::move(result);
    return true;
}

std::string formatDiskLayoutPlan(const DiskLayoutPlan& spec)
{
    if (spec.volumes.empty())
        return "none";
    std::string text = spec.gpt ? "gpt:" : "";
    for (size_t i = 0; i < spec.volumes.size(); ++i) {
        const VolumeSpec& v = spec.volumes[i];
        text += (i ? "," : "") + v.fileSystem + ":" + (v.size ? formatDiskSize(v.size) : std::string("rest"));
        if (!v.label.empty())
            text += ":" + v.label;
    }
    return text;
}

bool applyDiskLayout(const DiskImage& disk, const DiskLayoutPlan& spec, const std::string& seed, std::string& error)
{
    if (spec.volumes.empty())
        return true;
    // A GPT keeps its backup in the last 33 sectors.
    uint64_t end = (spec.gpt ? disk.size() - 34 * kSectorSize : disk.size()) / kAlign * kAlign;
    std::vector<NewPartition> partitions;
    uint64_t at = kAlign;
    for (const VolumeSpec& v : spec.volumes) {
        uint64_t length = v.size ? v.size : (end > at ? end - at : 0);
        if (length == 0 || at + length > end) {
            error = "the volumes " + formatDiskLayoutPlan(spec) + " do not fit a disk of " + formatDiskSize(disk.size());
            return false;
        }
        NewPartition p;
        p.offset = at;
        p.length = length;
        p.mbrType = v.mbrType ? v.mbrType : v.fileSystem == "fat32" ? 0x0C : 0x07;
        partitions.push_back(p);
        at += length;
    }
    bool ok = spec.gpt ? writeGpt(disk, seed, partitions, error) : writeMbr(disk, stableNumber(seed), partitions, error);
    for (size_t i = 0; ok && i < partitions.size(); ++i)
        if (spec.volumes[i].fileSystem == "fat32")
            ok = writeFat32(disk, partitions[i].offset, partitions[i].length / kSectorSize, spec.volumes[i].label,
                            stableNumber(seed + "/volume/" + std::to_string(i + 1)), error);
    return ok;
}

}  // namespace krv::bench
