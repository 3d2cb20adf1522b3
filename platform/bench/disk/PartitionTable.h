#pragma once
// The partition table as a disk driver reads it from the disk's first
// sectors (MBR with its extended boot records, or GPT behind a protective
// MBR), in the window system's layout form; and the tables the bench writes
// itself when it makes a disk that already carries partitions.
#include <string>
#include <vector>

#include "platform/BlockDevices.h"
#include "platform/bench/disk/ByteSource.h"
#include "platform/bench/disk/DiskImage.h"

namespace krv::bench {

constexpr uint32_t kSectorSize = 512;

// {EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}: a GPT basic-data partition.
extern const Guid kGptBasicData;
// {E3C9E316-0B5C-4DB8-817D-F92DF00215AE}: the reserved partition the window
// system puts first on every GPT disk it converts.
extern const Guid kGptMicrosoftReserved;

// The layout of `disk`: Raw with no entries when sector 0 holds no boot
// signature (or cannot be read); GPT when the MBR protects a valid GPT
// header; else the MBR entries in groups of four (partitions numbered 1.. in
// table order, primaries first, then the logical ones; unused entries and the
// extended container with number 0).
// `sectorSize` is the disk's logical sector: the tables count in it.
DriveLayout readDriveLayout(const ByteSource& disk, uint32_t sectorSize = kSectorSize);

// True when a layout entry carries a volume: an MBR type other than 0, the
// extended containers (05, 0F, 85) and GPT-protective EE; a GPT basic-data
// partition.
bool carriesVolume(const PartitionInfo& partition);

struct NewPartition {
    uint64_t offset = 0;       // bytes, whole sectors
    uint64_t length = 0;
    uint8_t mbrType = 0x0C;    // MBR tables
    std::string name;          // GPT tables
    Guid gptType;              // GPT tables; all zero: basic data
};

// Writes a fresh table over the disk's first (and, for GPT, last) sectors:
// an MBR with up to four primary partitions, or a protective MBR with a GPT
// of basic-data partitions (the disk and partition ids derived from `seed`).
bool writeMbr(const DiskImage& disk, uint32_t signature, const std::vector<NewPartition>& partitions,
              std::string& error, uint32_t sectorSize = kSectorSize);
bool writeGpt(const DiskImage& disk, const std::string& seed, const std::vector<NewPartition>& partitions,
              std::string& error, uint32_t sectorSize = kSectorSize);
// The sectors a GPT's 128 entries take (after the header at LBA 1).
uint64_t gptEntrySectors(uint32_t sectorSize);

// A stable identifier made from a text (the same text, the same id).
Guid guidFromText(const std::string& text);

}  // namespace krv::bench
