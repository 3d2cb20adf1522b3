#pragma once
// The bench's own FAT32 writer, for disks that arrive already formatted
// (the system disk's C:, and volumes `krvbench create` lays out). It lays
// down what a format leaves: boot sector, FS information sector and their
// backups, both allocation tables (their first entries; the rest of a fresh
// image is a hole, which reads as free clusters), and the root folder with
// the label entry.
#include <cstdint>
#include <string>

#include "platform/bench/disk/DiskImage.h"

namespace krv::bench {

struct Fat32Layout {
    uint32_t sectorsPerCluster = 0;
    uint32_t reservedSectors = 32;
    uint32_t fatSectors = 0;
    uint64_t clusters = 0;
};

// The layout of a FAT32 volume of `sectors` 512-byte sectors, clusters sized
// by the usual table (up to 260 MiB 1 sector, 8 GiB 8, 16 GiB 16, 32 GiB 32,
// then 64). False when the volume is too small or too large for FAT32.
bool fat32Layout(uint64_t sectors, Fat32Layout& layout);

// Formats the volume at `offset` (bytes, `sectors` long) of the image.
bool writeFat32(const DiskImage& disk, uint64_t offset, uint64_t sectors, const std::string& label, uint32_t serial,
                std::string& error);

}  // namespace krv::bench
