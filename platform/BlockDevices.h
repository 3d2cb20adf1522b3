#pragma once
// Disks and volumes opened for raw I/O, as CreateFile on "\\.\PhysicalDriveN",
// "\\.\X:" or a volume name "\\?\Volume{GUID}" gives them, with the disk and
// volume control codes the system sends: geometry, partition information,
// the drive layout, lock, unlock and dismount, update properties, the
// volume's disk extents and the storage queries.
//
// Offsets are bytes from the start of what was opened: the whole disk, or
// the volume's partition. Reads and writes go straight to the medium, as
// with FILE_FLAG_NO_BUFFERING: offset and length must be whole sectors
// (else last error 87), and a transfer that would run past the end moves
// nothing and fails with 27 (ERROR_SECTOR_NOT_FOUND).
//
// Every failing call returns false (or null) and sets the thread's last
// error; a handle whose device has left fails every call with 1167.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "platform/StorageInfo.h"

namespace krv {

// DISK_GEOMETRY_EX.
struct DiskGeometry {
    uint64_t cylinders = 0;
    uint32_t mediaType = 0;          // MEDIA_TYPE: 11 removable media, 12 fixed hard disk
    uint32_t tracksPerCylinder = 0;
    uint32_t sectorsPerTrack = 0;
    uint32_t bytesPerSector = 0;
    uint64_t diskSize = 0;           // bytes
};

namespace mediatype {
constexpr uint32_t kRemovable = 11;
constexpr uint32_t kFixed = 12;
}  // namespace mediatype

enum class PartitionStyle : uint32_t { Mbr = 0, Gpt = 1, Raw = 2 };

// PARTITION_INFORMATION_EX.
struct PartitionInfo {
    PartitionStyle style = PartitionStyle::Raw;
    uint64_t startingOffset = 0;     // bytes from the disk's start
    uint64_t length = 0;             // bytes
    uint32_t partitionNumber = 0;    // from 1; 0 for an unused layout entry and for the whole disk
    bool rewritePartition = false;
    // MBR partitions
    uint8_t mbrType = 0;             // 0x07 NTFS/exFAT, 0x0C FAT32 LBA, 0xEE GPT protective ...
    bool bootIndicator = false;
    bool recognizedPartition = false;
    uint32_t hiddenSectors = 0;      // sectors before the partition
    // GPT partitions
    Guid gptType;
    Guid gptId;
    uint64_t gptAttributes = 0;
    std::string gptName;
};

// DRIVE_LAYOUT_INFORMATION_EX. An MBR layout lists its table entries in
// groups of four, as the window system does: the four primary entries, then
// four per extended boot record; unused entries have partition number 0 and
// length 0. A GPT layout lists only the partitions in use, numbered from 1.
// A disk with neither table is Raw with no entries.
struct DriveLayout {
    PartitionStyle style = PartitionStyle::Raw;
    uint32_t mbrSignature = 0;
    Guid gptDiskId;
    std::vector<PartitionInfo> partitions;
};

// One extent of VOLUME_DISK_EXTENTS.
struct DiskExtent {
    uint32_t diskNumber = 0;
    uint64_t startingOffset = 0;     // bytes from the disk's start
    uint64_t length = 0;
};

enum class BlockAccess {
    Query,       // no access rights: the queries only
    Read,
    ReadWrite,
};

enum class BlockShare {
    ReadWrite,   // FILE_SHARE_READ | FILE_SHARE_WRITE
    None,        // exclusive: fails with 32 (ERROR_SHARING_VIOLATION) while others have it open, and keeps them out
};

class BlockDevice : public StorageHandle {
public:
    // Reads `length` bytes at `offset` into `buffer`; `done` the bytes read.
    // Needs Read access (else 5). A failing medium fails with 1117
    // (ERROR_IO_DEVICE) or, once its device has left, 1167.
    virtual bool read(uint64_t offset, void* buffer, size_t length, size_t& done) = 0;
    // Writes; needs ReadWrite access (else 5). Through a volume handle the
    // volume must be locked by this handle or dismounted (else 5, as raw
    // writes under a mounted file system are refused). The system disk
    // refuses every write with 5.
    virtual bool write(uint64_t offset, const void* buffer, size_t length, size_t& done) = 0;

    // IOCTL_DISK_GET_DRIVE_GEOMETRY(_EX): the disk's, also through a volume.
    virtual bool geometry(DiskGeometry& geometry) = 0;
    // IOCTL_DISK_GET_PARTITION_INFO_EX: through a volume its partition;
    // through a whole disk partition number 0 spanning the disk, in the
    // disk's style.
    virtual bool partitionInfo(PartitionInfo& info) = 0;
    // IOCTL_DISK_SET_PARTITION_INFO on a volume of an MBR disk: the entry's
    // type byte in the partition table on the disk. Fails with 1 on a whole
    // disk or a GPT partition; needs ReadWrite access.
    virtual bool setPartitionType(uint8_t mbrType) = 0;
    // IOCTL_DISK_GET_DRIVE_LAYOUT_EX of the whole disk (also through a volume),
    // as the partition table was last read (at arrival, or at the last
    // updateProperties): not what a raw write since then has put on the disk.
    virtual bool driveLayout(DriveLayout& layout) = 0;
    // IOCTL_DISK_UPDATE_PROPERTIES: the partition table is read again from
    // the disk; volumes come and go with it (a volume whose partition is
    // gone or moved leaves, its letter with it; a new partition's volume
    // arrives and gets a letter).
    virtual bool updateProperties() = 0;

    // FSCTL_LOCK_VOLUME on a volume: fails with 5 while another handle has
    // the volume open or locked. On a whole disk it succeeds and does nothing.
    virtual bool lock() = 0;
    // FSCTL_UNLOCK_VOLUME: fails with 158 (ERROR_NOT_LOCKED) when this handle
    // holds no lock. Closing the handle unlocks too.
    virtual bool unlock() = 0;
    // FSCTL_DISMOUNT_VOLUME: the file system lets go of the volume until the
    // next access through a path; on the bench the volume's file-system view
    // is read again from the disk's bytes at the next look.
    virtual bool dismount() = 0;
    // IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS of a volume (one extent on the
    // bench); fails with 1 on a whole disk.
    virtual bool volumeDiskExtents(std::vector<DiskExtent>& extents) = 0;
};

class BlockDevices {
public:
    virtual ~BlockDevices() = default;
    // "\\.\PhysicalDriveN": fails with 2 when no disk has that number.
    virtual std::unique_ptr<BlockDevice> openDisk(int number, BlockAccess access,
                                                  BlockShare share = BlockShare::ReadWrite) = 0;
    // "\\.\X:": the volume with that drive letter; fails with 2 when no
    // volume has it.
    virtual std::unique_ptr<BlockDevice> openVolume(char letter, BlockAccess access,
                                                    BlockShare share = BlockShare::ReadWrite) = 0;
    // Any of the names above, or a volume name "\\?\Volume{GUID}" (without
    // a trailing backslash), case ignored, '/' taken for '\'. Fails with 2
    // when nothing has that name, 123 (ERROR_INVALID_NAME) when it is no
    // such name at all.
    virtual std::unique_ptr<BlockDevice> open(const std::string& path, BlockAccess access,
                                              BlockShare share = BlockShare::ReadWrite) = 0;
};

}  // namespace krv
