#pragma once
// The disks of a bench as the operating system's storage stack sees them:
// every device's sparse disk image, the partition table each was last read
// with, the volumes on them with their drive letters, and the volume
// handles' sharing, locks and dismounts.
//
// Presence comes from BenchDevices, which calls arrived/left under its own
// lock (so a disk's volumes come and go in step with the device; the lock
// order is always devices, then disks). Everything else is called from the
// platform services without the devices' lock.
//
// Letters: the system disk's first volume is C:. Every other volume gets the
// letter it had the last time it was present (letters.ini remembers them by
// device and partition offset) when that letter is free, else the lowest
// free letter from D:. A volume's letter goes with it when its disk leaves.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/BlockDevices.h"
#include "platform/Volumes.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/disk/ByteSource.h"
#include "platform/bench/disk/DiskImage.h"
#include "platform/bench/disk/DiskLayoutPlan.h"
#include "platform/bench/disk/FileSystems.h"

namespace krv::bench {

struct BenchVolume {
    int device = 0;
    int diskNumber = 0;           // the disk's PhysicalDrive number
    PartitionInfo partition;      // as the table was last read
    char letter = 0;
    std::string key;              // "port 3@1048576": device and partition offset
    Guid volumeGuid;              // its \\?\Volume{...} name
    uint64_t arrival = 0;         // changes each time the volume arrives
    bool dismounted = false;
};

class BenchDisks {
public:
    // `readOnly`: a look at a bench another process may own (krvbench show):
    // images opened as they are, nothing created or written, letters not saved.
    explicit BenchDisks(std::string benchFolder, bool readOnly = false);
    ~BenchDisks();
    BenchDisks(const BenchDisks&) = delete;
    BenchDisks& operator=(const BenchDisks&) = delete;

    // Writes the disks of a new bench: images at their sizes, the system
    // disk with its C: volume (FAT32, label "SYSTEM") unless `layouts` says
    // otherwise, and any layouts asked for (by device).
    static bool initialise(const std::string& benchFolder, const BenchSettings& settings,
                           const std::map<int, DiskLayoutPlan>& layouts, std::string& error);
    // Opens the images of every device the settings have (creating missing
    // ones) and reads the remembered letters.
    bool open(const BenchSettings& settings, std::string& error);

    // A device's disk became visible under `diskNumber` / went away.
    void arrived(int device, int diskNumber);
    void left(int device);
    // IOCTL_DISK_UPDATE_PROPERTIES: the device's table is read again.
    void reread(int device);

    const DiskImage* image(int device) const;
    uint64_t size(int device) const;
    // The disk's logical sector in bytes (512 or 4096).
    uint32_t sectorSize(int device) const;
    std::optional<DriveLayout> layout(int device);

    // The present volumes, by letter.
    std::vector<BenchVolume> volumes();
    std::optional<BenchVolume> volumeByLetter(char letter);
    std::optional<BenchVolume> volumeByGuid(const Guid& guid);
    std::optional<BenchVolume> volumeByKey(const std::string& key);
    bool letterInUse(char letter);
    // Gives the volume `key` the letter (as diskpart's assign does): false
    // when another volume has it or there is no such volume.
    bool assignLetter(const std::string& key, char letter);
    // Reading a volume's bytes (for the file-system view).
    ByteSource volumeSource(const BenchVolume& volume) const;
    ByteSource diskSource(int device) const;
    // The file system on a volume, read from its bytes now.
    FileSystemView fileSystem(const BenchVolume& volume, bool countFree);
    // The folder holding the files of the volume as it is formatted now;
    // empty when it has no file system. `create` makes it.
    std::string filesFolder(const BenchVolume& volume, bool create);
    // The device whose volumes' folders hold `path`; 0 when none does.
    int deviceOfFilesPath(const std::string& path) const;

    // Handle bookkeeping of a volume (by key and arrival). False with the
    // last error set (32 sharing, 5 lock refused, 158 not locked, 1167 the
    // volume has gone).
    bool openHandle(const std::string& key, uint64_t arrival, bool exclusive, uint64_t& handle);
    void closeHandle(uint64_t handle);
    bool lock(uint64_t handle);
    bool unlock(uint64_t handle);
    bool dismount(uint64_t handle);
    // May this handle write raw sectors of its volume now?
    bool mayWrite(uint64_t handle);
    // A path access (file system query, files) mounts a dismounted volume again.
    void touch(const std::string& key);

private:
    struct Disk {
        std::unique_ptr<DiskImage> image;
        std::string folder;
        bool present = false;
        int number = -1;
        uint32_t sectorSize = kDefaultSectorSize;
        DriveLayout layout;
    };
    struct Handle {
        std::string key;
        uint64_t arrival = 0;
        bool exclusive = false;
        bool locked = false;
    };

    Disk* diskLocked(int device);
    void readLayoutLocked(int device, Disk& disk);
    void volumesArriveLocked(int device, Disk& disk);
    void volumesLeaveLocked(int device);
    char pickLetterLocked(const std::string& key, bool systemFirst);
    void saveLettersLocked();
    bool handleGoneLocked(const Handle& h) const;

    std::string folder_;
    bool readOnly_ = false;
    mutable std::mutex mutex_;
    std::map<int, Disk> disks_;
    std::map<std::string, BenchVolume> volumes_;   // present volumes by key
    std::map<std::string, char> remembered_;       // letters.ini
    std::map<uint64_t, Handle> handles_;
    uint64_t nextHandle_ = 1;
    uint64_t arrivals_ = 0;
};

// The files under a volume's folder, sorted by path; empty when none.
std::vector<VolumeFile> filesIn(const std::string& folder);

}  // namespace krv::bench
