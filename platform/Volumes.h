#pragma once
// The operating system's volumes as the system sees them: drive letters,
// volume names, the disk extents of a volume, the file system and label,
// free space, and where the volume's files can be reached for file I/O.
// (Linux has no drive letters; each backend keeps its own letter table.)
//
// A volume is a partition of a recognised type on a disk (MBR types other
// than 0, extended 05/0F/85 and GPT-protective EE; GPT basic-data
// partitions), as the partition table was last read. Every volume has a
// letter while its disk is present, whether or not it carries a file
// system. The file system type and label are read from the volume's own
// bytes at every call, never remembered from what a program asked for.
//
// Letters are upper case 'A'..'Z'; the calls take either case. Failing calls
// return false (or empty) and set the thread's last error: 2 when the letter
// names no volume, 1005 (ERROR_UNRECOGNIZED_VOLUME) when a call needs a file
// system and the volume has none that is recognised.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/BlockDevices.h"

namespace krv {

// GetVolumeInformation of a volume.
struct VolumeInformation {
    std::string fileSystem;      // "FAT32", "FAT", "NTFS", "exFAT"
    std::string label;           // without trailing blanks; empty when none
    uint32_t serialNumber = 0;   // the volume serial number of the boot sector
    uint32_t maxComponentLength = 255;
};

// GetDiskFreeSpace of a volume.
struct VolumeFreeSpace {
    uint32_t sectorsPerCluster = 0;
    uint32_t bytesPerSector = 0;
    uint64_t freeClusters = 0;
    uint64_t totalClusters = 0;

    uint64_t freeBytes() const { return freeClusters * sectorsPerCluster * bytesPerSector; }
    uint64_t freeMiB() const { return freeBytes() >> 20; }
};

// A file kept on a volume: its path inside the volume ('/' separated, no
// leading '/') and size.
struct VolumeFile {
    std::string path;
    uint64_t size = 0;
};

class Volumes {
public:
    virtual ~Volumes() = default;

    // True when the letter names a drive of any kind.
    virtual bool driveLetterInUse(char letter) = 0;

    // The letters of the present volumes, in alphabetical order.
    virtual std::vector<char> letters() = 0;
    // GetVolumeNameForVolumeMountPoint("X:\"): "\\?\Volume{GUID}\" (with its
    // trailing backslash). Fails with 2 when the letter has no volume.
    virtual bool volumeName(char letter, std::string& name) = 0;
    // The letter's volume's extents (IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS):
    // one on the bench. Fails with 2 when the letter has no volume.
    virtual bool diskExtents(char letter, std::vector<DiskExtent>& extents) = 0;
    // The letters of the volumes on disk `diskNumber`, in the order of their
    // partitions; empty when it has none (or there is no such disk).
    virtual std::vector<char> lettersOfDisk(int diskNumber) = 0;
    // GetVolumeInformation("X:\"): the file system and label from the
    // volume's boot sector (and, for FAT, the label entry of its root
    // folder). Fails with 1005 when the volume carries no recognised file
    // system ("RAW" to the people's eye), 2 when there is no such volume.
    virtual bool volumeInformation(char letter, VolumeInformation& info) = 0;
    // GetDiskFreeSpace("X:\"), counted from the file system's own allocation
    // records. Fails with 1005 on a volume without a recognised file system.
    virtual bool freeSpace(char letter, VolumeFreeSpace& space) = 0;
    // The folder through which the volume's files are read and written with
    // the ordinary file functions: "X:\dir\file" is mountPath(X) + "/dir/file".
    // Empty (last error 1005) when the volume has no recognised file system,
    // 2 when there is no such volume. The folder belongs to the volume as it
    // is formatted now: after a new format it is another, empty folder.
    virtual std::string mountPath(char letter) = 0;
    // The files kept on the volume, sorted by path. Empty when there are none
    // or the volume cannot hold files (see mountPath).
    virtual std::vector<VolumeFile> files(char letter) = 0;
    // SetVolumeLabel("X:\", label): the label written into the volume's file
    // system. Fails with 1005 on a volume without one, 2 when there is no
    // such volume, 50 where the backend cannot write labels.
    virtual bool setVolumeLabel(char letter, const std::string& label);
};

// A letter table of its own and no volumes: the letters given to it are in
// use; every volume query fails with 2 and the lists are empty. The platform
// of tests that need no disks.
class LetterTable : public Volumes {
public:
    bool driveLetterInUse(char letter) override;
    void setInUse(char letter, bool inUse);

    std::vector<char> letters() override { return {}; }
    bool volumeName(char letter, std::string& name) override;
    bool diskExtents(char letter, std::vector<DiskExtent>& extents) override;
    std::vector<char> lettersOfDisk(int) override { return {}; }
    bool volumeInformation(char letter, VolumeInformation& info) override;
    bool freeSpace(char letter, VolumeFreeSpace& space) override;
    std::string mountPath(char letter) override;
    std::vector<VolumeFile> files(char) override { return {}; }

private:
    bool used_[26] = {};
};

}  // namespace krv
