#pragma once
// What file system a volume carries, read from its own bytes the way a file
// system driver recognises it at mount: FAT12/16/32 and exFAT by their boot
// sector's fields, NTFS by its boot sector and its master file table. The
// label, the serial number and the free clusters come from the same bytes
// (FAT: the root folder's label entry and the allocation table; exFAT: the
// root folder's label entry and allocation bitmap; NTFS: the $Volume name
// and the $Bitmap file). Nothing is remembered between calls.
#include <cstdint>
#include <string>

#include "platform/bench/disk/ByteSource.h"

namespace krv::bench {

enum class FileSystemKind { None, Fat12, Fat16, Fat32, ExFat, Ntfs };

struct FileSystemView {
    FileSystemKind kind = FileSystemKind::None;
    std::string name;            // "FAT", "FAT32", "exFAT", "NTFS"; "RAW" when none is recognised
    std::string label;           // trailing blanks removed; UTF-8
    uint32_t serialNumber = 0;
    uint32_t bytesPerSector = 0;
    uint32_t sectorsPerCluster = 0;
    uint64_t totalClusters = 0;
    uint64_t freeClusters = 0;   // counted only when asked
};

// False (with view.name "RAW") when no file system is recognised. With
// `countFree` the allocation records are read to count the free clusters.
bool probeFileSystem(const ByteSource& volume, FileSystemView& view, bool countFree);

}  // namespace krv::bench
