#pragma once
// A disk that arrives already partitioned: the partitions and what each
// carries, as `krvbench create` takes them ("fat32:1G:DATA,raw:rest"), and
// the writer that lays them onto a fresh image.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bench/disk/DiskImage.h"

namespace krv::bench {

struct VolumeSpec {
    std::string fileSystem = "fat32";   // "fat32", or "raw" (a partition without a file system)
    uint64_t size = 0;                  // bytes; 0: the rest of the disk
    std::string label;                  // 11 characters at most
    uint8_t mbrType = 0;                // 0: the file system's usual type (0C FAT32, 07 raw)

    bool operator==(const VolumeSpec&) const = default;
};

struct DiskLayoutPlan {
    bool gpt = false;
    std::vector<VolumeSpec> volumes;

    bool operator==(const DiskLayoutPlan&) const = default;
};

// "[gpt:|mbr:]VOLUME[,VOLUME...]" with VOLUME "FS[:SIZE[:LABEL]]", SIZE as a
// disk size or "rest" (only the last may be rest), e.g.
// "fat32:1G:DATA,raw:rest" or "gpt:fat32:rest:STORE". "none" is no table.
bool parseDiskLayoutPlan(std::string_view text, DiskLayoutPlan& spec, std::string& why);
std::string formatDiskLayoutPlan(const DiskLayoutPlan& spec);

// Writes the table and formats the volumes; partitions start at 1 MiB and
// follow each other on 1 MiB boundaries. `seed` makes the ids (disk
// signature, GPT ids, volume serial numbers) stable for a disk.
bool applyDiskLayout(const DiskImage& disk, const DiskLayoutPlan& spec, const std::string& seed, std::string& error);

}  // namespace krv::bench
