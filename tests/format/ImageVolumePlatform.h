#pragma once
// A platform whose only volume, D:, is a sparse image file of any sector
// size: the whole file is the partition. The FAT32 writer's sweep formats
// thousands of sizes through it without a bench, and the outside checkers
// (fsck.fat, mtools) read the file as it is. A write over a chosen byte can
// be made to fail, or to move fewer bytes than asked.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/CaptureDebugOutput.h"
#include "platform/LastError.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"

namespace krv::test {

struct ImageVolumeSpec {
    std::string path;
    uint64_t bytes = 0;
    uint32_t bytesPerSector = 512;
    uint64_t startingOffset = 1 << 20;   // where the partition would sit on its disk
    PartitionStyle style = PartitionStyle::Mbr;
    // A write over this byte fails (or, with shortWrite, reports fewer bytes).
    uint64_t faultOffset = UINT64_MAX;
    bool shortWrite = false;
};

struct ImageVolumeState {
    ImageVolumeSpec spec;
    int fd = -1;
    uint8_t partitionType = 0x07;
    uint64_t writes = 0;
    bool locked = false;
    bool dismounted = false;
};

class ImageVolume : public BlockDevice {
public:
    explicit ImageVolume(std::shared_ptr<ImageVolumeState> s) : s_(std::move(s)) {}
    bool read(uint64_t offset, void* buffer, size_t length, size_t& done) override
    {
        done = 0;
        if (!inside(offset, length))
            return false;
        done = static_cast<size_t>(::pread(s_->fd, buffer, length, static_cast<off_t>(offset)));
        return done == length;
    }
    bool write(uint64_t offset, const void* buffer, size_t length, size_t& done) override
    {
        done = 0;
        if (!inside(offset, length))
            return false;
        if (!s_->locked && !s_->dismounted) {
            setLastError(winerr::kAccessDenied);
            return false;
        }
        ++s_->writes;
        const bool hit = s_->spec.faultOffset >= offset && s_->spec.faultOffset < offset + length;
        if (hit && !s_->spec.shortWrite) {
            setLastError(winerr::kIoDevice);
            return false;
        }
        size_t n = hit ? length - s_->spec.bytesPerSector : length;
        ssize_t w = ::pwrite(s_->fd, buffer, n, static_cast<off_t>(offset));
        done = w < 0 ? 0 : static_cast<size_t>(w);
        return w >= 0;
    }
    bool geometry(DiskGeometry& g) override
    {
        g = DiskGeometry{};
        g.bytesPerSector = s_->spec.bytesPerSector;
        g.tracksPerCylinder = 255;
        g.sectorsPerTrack = 63;
        g.diskSize = s_->spec.bytes + s_->spec.startingOffset;
        g.mediaType = mediatype::kFixed;
        return true;
    }
    bool partitionInfo(PartitionInfo& info) override
    {
        info = PartitionInfo{};
        info.style = s_->spec.style;
        info.startingOffset = s_->spec.startingOffset;
        info.length = s_->spec.bytes;
        info.partitionNumber = 1;
        info.mbrType = s_->partitionType;
        info.hiddenSectors =
            s_->spec.style == PartitionStyle::Mbr ? uint32_t(s_->spec.startingOffset / s_->spec.bytesPerSector) : 0;
        return true;
    }
    bool setPartitionType(uint8_t type) override
    {
        if (s_->spec.style != PartitionStyle::Mbr) {
            setLastError(winerr::kInvalidFunction);
            return false;
        }
        s_->partitionType = type;
        return true;
    }
    bool driveLayout(DriveLayout&) override { return false; }
    bool updateProperties() override { return true; }
    bool lock() override { return s_->locked = true; }
    bool unlock() override
    {
        if (!s_->locked) {
            setLastError(158);
            return false;
        }
        s_->locked = false;
        return true;
    }
    bool dismount() override { return s_->dismounted = true; }
    bool volumeDiskExtents(std::vector<DiskExtent>&) override { return false; }
    bool deviceNumber(StorageDeviceNumber&) override { return false; }
    bool deviceDescriptor(StorageDeviceDescriptor&) override { return false; }

private:
    bool inside(uint64_t offset, size_t length)
    {
        const uint32_t bps = s_->spec.bytesPerSector;
        if (offset % bps || length % bps) {
            setLastError(winerr::kInvalidParameter);
            return false;
        }
        if (offset > s_->spec.bytes || length > s_->spec.bytes - offset) {
            setLastError(27);
            return false;
        }
        return true;
    }
    std::shared_ptr<ImageVolumeState> s_;
};

class ImageVolumes : public BlockDevices {
public:
    std::shared_ptr<ImageVolumeState> state;
    std::unique_ptr<BlockDevice> openDisk(int, BlockAccess, BlockShare) override { return none(); }
    std::unique_ptr<BlockDevice> openVolume(char letter, BlockAccess, BlockShare) override
    {
        if (!state || (letter != 'D' && letter != 'd'))
            return none();
        return std::make_unique<ImageVolume>(state);
    }
    std::unique_ptr<BlockDevice> open(const std::string&, BlockAccess, BlockShare) override { return none(); }

private:
    static std::unique_ptr<BlockDevice> none()
    {
        setLastError(winerr::kFileNotFound);
        return nullptr;
    }
};

class ImageVolumePlatform : public Platform {
public:
    ImageVolumePlatform() : Platform("test", services()), previous_(Platform::currentOrNull())
    {
        volumes_ = static_cast<ImageVolumes*>(&blockDevices());
        Platform::setCurrent(this);
    }
    ~ImageVolumePlatform() override
    {
        close();
        Platform::setCurrent(previous_);
    }
    // Makes the image (sparse, `spec.bytes` long) and shows it as D:.
    bool attach(const ImageVolumeSpec& spec)
    {
        close();
        auto s = std::make_shared<ImageVolumeState>();
        s->spec = spec;
        s->fd = ::open(spec.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (s->fd < 0 || ::ftruncate(s->fd, static_cast<off_t>(spec.bytes)) != 0)
            return false;
        volumes_->state = s;
        return true;
    }
    void close()
    {
        if (volumes_->state && volumes_->state->fd >= 0)
            ::close(volumes_->state->fd);
        volumes_->state.reset();
    }
    ImageVolumeState& state() { return *volumes_->state; }
    CaptureDebugOutput& capture() { return static_cast<CaptureDebugOutput&>(debugOutput()); }
    VirtualClock& virtualClock() { return static_cast<VirtualClock&>(clock()); }

private:
    static PlatformServices services()
    {
        PlatformServices s;
        s.clock = std::make_unique<VirtualClock>();
        s.debugOutput = std::make_unique<CaptureDebugOutput>();
        s.volumes = std::make_unique<LetterTable>();
        s.blockDevices = std::make_unique<ImageVolumes>();
        return s;
    }
    ImageVolumes* volumes_ = nullptr;
    Platform* previous_;
};

}  // namespace krv::test
