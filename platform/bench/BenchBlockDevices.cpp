#include "platform/bench/BenchBlockDevices.h"

#include <cctype>
#include <charconv>

#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchStorageQueries.h"
#include "platform/bench/disk/PartitionTable.h"

namespace krv::bench {

namespace {

constexpr uint32_t kSectorNotFound = 27;
constexpr uint32_t kNotLocked = 158;
constexpr uint64_t kHeads = 255, kSectorsPerTrack = 63;

bool fail(uint32_t error)
{
    setLastError(error);
    return false;
}

class BenchBlockDevice : public BlockDevice {
public:
    // A whole disk (no volume), or the volume `volume` of it.
    BenchBlockDevice(std::shared_ptr<BenchDevices> devices, BenchDevices::DiskTarget target, BlockAccess access,
                     std::optional<BenchVolume> volume, uint64_t handle)
        : devices_(std::move(devices)), target_(target), access_(access), volume_(std::move(volume)), handle_(handle)
    {
    }
    ~BenchBlockDevice() override
    {
        if (volume_)
            devices_->disks().closeHandle(handle_);
    }

    bool read(uint64_t offset, void* buffer, size_t length, size_t& done) override
    {
        done = 0;
        if (access_ == BlockAccess::Query)
            return fail(winerr::kAccessDenied);
        if (!transferOk(offset, length))
            return false;
        if (!devices_->diskTransfer(target_, base() + offset, buffer, length, false))
            return false;
        done = length;
        return true;
    }

    bool write(uint64_t offset, const void* buffer, size_t length, size_t& done) override
    {
        done = 0;
        if (access_ != BlockAccess::ReadWrite)
            return fail(winerr::kAccessDenied);
        if (!transferOk(offset, length))
            return false;
        if (volume_ && !devices_->disks().mayWrite(handle_))
            return fail(winerr::kAccessDenied);
        if (!devices_->diskTransfer(target_, base() + offset, const_cast<void*>(buffer), length, true))
            return false;
        done = length;
        return true;
    }

    bool geometry(DiskGeometry& g) override
    {
        if (!present())
            return false;
        g = DiskGeometry{};
        g.diskSize = devices_->disks().size(target_.device);
        g.bytesPerSector = sectorSize();
        g.tracksPerCylinder = kHeads;
        g.sectorsPerTrack = kSectorsPerTrack;
        g.cylinders = g.diskSize / (kHeads * kSectorsPerTrack * g.bytesPerSector);
        g.mediaType = target_.device == kUsbDisk ? mediatype::kRemovable : mediatype::kFixed;
        return true;
    }

    bool partitionInfo(PartitionInfo& info) override
    {
        if (!present())
            return false;
        if (volume_) {
            info = volume_->partition;
            return true;
        }
        std::optional<DriveLayout> layout = devices_->disks().layout(target_.device);
        info = PartitionInfo{};
        info.style = layout ? layout->style : PartitionStyle::Raw;
        info.length = devices_->disks().size(target_.device);
        return true;
    }

    bool setPartitionType(uint8_t mbrType) override
    {
        if (!present())
            return false;
        if (!volume_ || volume_->partition.style != PartitionStyle::Mbr)
            return fail(winerr::kInvalidFunction);
        if (access_ != BlockAccess::ReadWrite)
            return fail(winerr::kAccessDenied);
        // The entry is one of the primary ones: find it in sector 0.
        std::vector<uint8_t> mbr(sectorSize());
        if (!devices_->diskTransfer(target_, 0, mbr.data(), mbr.size(), false))
            return false;
        for (int i = 0; i < 4; ++i) {
            const uint8_t* e = &mbr[446 + 16 * i];
            uint64_t start = uint64_t{e[8]} | uint64_t{e[9]} << 8 | uint64_t{e[10]} << 16 | uint64_t{e[11]} << 24;
            if (e[4] != 0 && start * sectorSize() == volume_->partition.startingOffset) {
                mbr[446 + 16 * i + 4] = mbrType;
                if (!devices_->diskTransfer(target_, 0, mbr.data(), mbr.size(), true))
                    return false;
                devices_->disks().reread(target_.device);
                if (auto fresh = devices_->disks().volumeByKey(volume_->key))
                    volume_->partition = fresh->partition;
                return true;
            }
        }
        return fail(winerr::kInvalidFunction);
    }

    bool driveLayout(DriveLayout& layout) override
    {
        if (!present())
            return false;
        std::optional<DriveLayout> current = devices_->disks().layout(target_.device);
        if (!current)
            return fail(winerr::kDeviceNotConnected);
        layout = *current;
        return true;
    }

    bool updateProperties() override
    {
        if (!present())
            return false;
        devices_->disks().reread(target_.device);
        return true;
    }

    bool lock() override
    {
        if (!present())
            return false;
        if (!volume_) {
            diskLocked_ = true;
            return true;
        }
        return devices_->disks().lock(handle_);
    }

    bool unlock() override
    {
        if (!volume_) {
            if (!diskLocked_)
                return fail(kNotLocked);
            diskLocked_ = false;
            return true;
        }
        return devices_->disks().unlock(handle_);
    }

    bool dismount() override
    {
        if (!present())
            return false;
        return volume_ ? devices_->disks().dismount(handle_) : true;
    }

    bool volumeDiskExtents(std::vector<DiskExtent>& extents) override
    {
        if (!present())
            return false;
        if (!volume_)
            return fail(winerr::kInvalidFunction);
        extents = {DiskExtent{static_cast<uint32_t>(volume_->diskNumber), volume_->partition.startingOffset,
                              volume_->partition.length}};
        return true;
    }

    bool deviceNumber(StorageDeviceNumber& number) override
    {
        if (!storageNumberOf(devices_->view(target_.device), target_.generation, false, number))
            return false;
        if (volume_)
            number.partitionNumber = volume_->partition.partitionNumber;
        return true;
    }

    bool deviceDescriptor(StorageDeviceDescriptor& descriptor) override
    {
        return storageDescriptorOf(devices_->view(target_.device), target_.generation, false, descriptor);
    }

private:
    uint64_t base() const { return volume_ ? volume_->partition.startingOffset : 0; }
    uint32_t sectorSize() const { return devices_->disks().sectorSize(target_.device); }

    // The device, and for a volume the volume, are still the ones opened.
    bool present()
    {
        if (!devices_->diskPresent(target_))
            return fail(winerr::kDeviceNotConnected);
        if (volume_) {
            auto now = devices_->disks().volumeByKey(volume_->key);
            if (!now || now->arrival != volume_->arrival)
                return fail(winerr::kDeviceNotConnected);
        }
        return true;
    }

    bool transferOk(uint64_t offset, size_t length)
    {
        if (offset % sectorSize() || length % sectorSize())
            return fail(winerr::kInvalidParameter);
        if (!present())
            return false;
        uint64_t limit = volume_ ? volume_->partition.length : devices_->disks().size(target_.device);
        if (offset > limit || length > limit - offset)
            return fail(kSectorNotFound);
        return true;
    }

    std::shared_ptr<BenchDevices> devices_;
    BenchDevices::DiskTarget target_;
    BlockAccess access_;
    std::optional<BenchVolume> volume_;
    uint64_t handle_ = 0;
    bool diskLocked_ = false;
};

std::string upper(std::string text)
{
    for (auto& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::unique_ptr<BlockDevice> BenchBlockDevices::openDisk(int number, BlockAccess access, BlockShare)
{
    auto target = devices_->openDisk(number);
    if (!target)
        return nullptr;
    return std::make_unique<BenchBlockDevice>(devices_, *target, access, std::nullopt, 0);
}

std::unique_ptr<BlockDevice> BenchBlockDevices::openVolumeRecord(const BenchVolume& volume, BlockAccess access,
                                                                 BlockShare share)
{
    auto target = devices_->openDisk(volume.diskNumber);
    uint64_t handle = 0;
    if (!target || target->device != volume.device ||
        !devices_->disks().openHandle(volume.key, volume.arrival, share == BlockShare::None, handle)) {
        if (!target || target->device != volume.device)
            setLastError(winerr::kFileNotFound);
        return nullptr;
    }
    return std::make_unique<BenchBlockDevice>(devices_, *target, access, volume, handle);
}

std::unique_ptr<BlockDevice> BenchBlockDevices::openVolume(char letter, BlockAccess access, BlockShare share)
{
    devices_->poll();
    auto volume = devices_->disks().volumeByLetter(letter);
    if (!volume) {
        setLastError(winerr::kFileNotFound);
        return nullptr;
    }
    return openVolumeRecord(*volume, access, share);
}

std::unique_ptr<BlockDevice> BenchBlockDevices::open(const std::string& given, BlockAccess access, BlockShare share)
{
    std::string path = given;
    for (auto& c : path)
        if (c == '/')
            c = '\\';
    std::string u = upper(path);
    const std::string drive = "\\\\.\\PHYSICALDRIVE";
    if (u.rfind(drive, 0) == 0) {
        int number = -1;
        auto [end, ec] = std::from_chars(u.data() + drive.size(), u.data() + u.size(), number);
        if (ec != std::errc() || end != u.data() + u.size() || u.size() == drive.size()) {
            setLastError(winerr::kInvalidName);
            return nullptr;
        }
        return openDisk(number, access, share);
    }
    if (u.size() == 6 && u.rfind("\\\\.\\", 0) == 0 && std::isalpha(static_cast<unsigned char>(u[4])) && u[5] == ':')
        return openVolume(u[4], access, share);
    const std::string volume = "\\\\?\\VOLUME";
    if (u.rfind(volume, 0) == 0) {
        std::optional<Guid> guid = parseGuid(std::string_view(path).substr(volume.size()));
        if (!guid) {
            setLastError(winerr::kInvalidName);
            return nullptr;
        }
        devices_->poll();
        auto record = devices_->disks().volumeByGuid(*guid);
        if (!record) {
            setLastError(winerr::kFileNotFound);
            return nullptr;
        }
        return openVolumeRecord(*record, access, share);
    }
    setLastError(winerr::kInvalidName);
    return nullptr;
}

}  // namespace krv::bench
