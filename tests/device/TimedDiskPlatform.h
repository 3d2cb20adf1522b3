#pragma once
// The bench as the current platform, with disks that take time: every raw
// read and write through the block-device service lets the bench's virtual
// clock run for as long as the disk needs to move those bytes at its rate.
// The bench's drives take only the time their line needs, and the disk works
// while the line carries: the slower of the two sets the time, so with a disk
// slower than its line a test knows exactly what time a transfer took.
#include <map>
#include <memory>

#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {

struct DiskRate {
    uint64_t readBytesPerSecond = 100ULL << 20;
    uint64_t writeBytesPerSecond = 50ULL << 20;
};

class TimedDiskPlatform : public Platform {
public:
    explicit TimedDiskPlatform(BenchFixture& bench);
    ~TimedDiskPlatform() override;

    // Rates of the disk with that PhysicalDrive number (others: the default).
    void setRate(int diskNumber, DiskRate rate) { rates_[diskNumber] = rate; }
    DiskRate rateOf(int diskNumber) const
    {
        auto it = rates_.find(diskNumber);
        return it == rates_.end() ? DiskRate() : it->second;
    }
    VirtualClock& clock() { return clock_; }

private:
    static PlatformServices forwardingServices(BenchFixture& bench, TimedDiskPlatform& self);

    VirtualClock& clock_;
    std::map<int, DiskRate> rates_;
    Platform* previous_;
};

// ---- implementation -----------------------------------------------------------

namespace timed {

class ClockRef : public Clock {
public:
    explicit ClockRef(VirtualClock& clock) : c_(clock) {}
    uint64_t monotonicMs() override { return c_.monotonicMs(); }
    uint64_t ticks() override { return c_.ticks(); }
    uint64_t tickFrequency() override { return c_.tickFrequency(); }
    bool sleepMs(uint64_t ms, const StopSource* stop) override { return c_.sleepMs(ms, stop); }
    LocalTime localTime() override { return c_.localTime(); }
    uint32_t random() override { return c_.random(); }
    void seed(uint32_t value) override { c_.seed(value); }
    bool runsByItself() const override { return c_.runsByItself(); }

private:
    VirtualClock& c_;
};

class DebugRef : public DebugOutput {
public:
    explicit DebugRef(DebugOutput& out) : out_(out) {}
    void write(std::string_view text) override { out_.write(text); }

private:
    DebugOutput& out_;
};

class ScsiRef : public ScsiPassThrough {
public:
    explicit ScsiRef(ScsiPassThrough& s) : s_(s) {}
    std::unique_ptr<ScsiDevice> open(DriveKind kind, int number) override { return s_.open(kind, number); }

private:
    ScsiPassThrough& s_;
};

class UsbTreeRef : public UsbTree {
public:
    explicit UsbTreeRef(UsbTree& t) : t_(t) {}
    std::vector<std::string> hostControllerPaths() override { return t_.hostControllerPaths(); }
    std::unique_ptr<UsbHostController> openHostController(const std::string& p) override
    {
        return t_.openHostController(p);
    }
    std::unique_ptr<UsbHub> openHub(const std::string& name) override { return t_.openHub(name); }

private:
    UsbTree& t_;
};

class DeviceSetupRef : public DeviceSetup {
public:
    explicit DeviceSetupRef(DeviceSetup& d) : d_(d) {}
    std::vector<DeviceNode> devices() override { return d_.devices(); }
    std::unique_ptr<StorageHandle> openInterface(const std::string& p) override { return d_.openInterface(p); }

private:
    DeviceSetup& d_;
};

class VolumesRef : public Volumes {
public:
    explicit VolumesRef(Volumes& v) : v_(v) {}
    bool driveLetterInUse(char l) override { return v_.driveLetterInUse(l); }
    std::vector<char> letters() override { return v_.letters(); }
    bool volumeName(char l, std::string& n) override { return v_.volumeName(l, n); }
    bool diskExtents(char l, std::vector<DiskExtent>& e) override { return v_.diskExtents(l, e); }
    std::vector<char> lettersOfDisk(int d) override { return v_.lettersOfDisk(d); }
    bool volumeInformation(char l, VolumeInformation& i) override { return v_.volumeInformation(l, i); }
    bool freeSpace(char l, VolumeFreeSpace& s) override { return v_.freeSpace(l, s); }
    std::string mountPath(char l) override { return v_.mountPath(l); }
    std::vector<VolumeFile> files(char l) override { return v_.files(l); }

private:
    Volumes& v_;
};

// A block device whose transfers take the disk's time.
class TimedBlockDevice : public BlockDevice {
public:
    TimedBlockDevice(std::unique_ptr<BlockDevice> inner, VirtualClock& clock, DiskRate rate)
        : inner_(std::move(inner)), clock_(clock), rate_(rate)
    {
    }
    bool deviceNumber(StorageDeviceNumber& n) override { return inner_->deviceNumber(n); }
    bool deviceDescriptor(StorageDeviceDescriptor& d) override { return inner_->deviceDescriptor(d); }
    bool read(uint64_t offset, void* buffer, size_t length, size_t& done) override
    {
        const uint64_t startUs = clock_.ticks();
        const bool ok = inner_->read(offset, buffer, length, done);
        take(startUs, done, rate_.readBytesPerSecond);
        return ok;
    }
    bool write(uint64_t offset, const void* buffer, size_t length, size_t& done) override
    {
        const uint64_t startUs = clock_.ticks();
        const bool ok = inner_->write(offset, buffer, length, done);
        take(startUs, done, rate_.writeBytesPerSecond);
        return ok;
    }
    bool geometry(DiskGeometry& g) override { return inner_->geometry(g); }
    bool partitionInfo(PartitionInfo& i) override { return inner_->partitionInfo(i); }
    bool setPartitionType(uint8_t t) override { return inner_->setPartitionType(t); }
    bool driveLayout(DriveLayout& l) override { return inner_->driveLayout(l); }
    bool updateProperties() override { return inner_->updateProperties(); }
    bool lock() override { return inner_->lock(); }
    bool unlock() override { return inner_->unlock(); }
    bool dismount() override { return inner_->dismount(); }
    bool volumeDiskExtents(std::vector<DiskExtent>& e) override { return inner_->volumeDiskExtents(e); }

private:
    // The disk's time from the transfer's start, of which the line has
    // already taken its share.
    void take(uint64_t startUs, size_t bytes, uint64_t rate)
    {
        const uint64_t endUs = startUs + bytes * 1'000'000 / rate;
        if (const uint64_t nowUs = clock_.ticks(); bytes && endUs > nowUs)
            clock_.advanceUs(endUs - nowUs);
    }

    std::unique_ptr<BlockDevice> inner_;
    VirtualClock& clock_;
    DiskRate rate_;
};

class TimedBlockDevices : public BlockDevices {
public:
    TimedBlockDevices(BlockDevices& inner, VirtualClock& clock, const TimedDiskPlatform& rates)
        : inner_(inner), clock_(clock), rates_(rates)
    {
    }
    std::unique_ptr<BlockDevice> openDisk(int number, BlockAccess a, BlockShare s) override
    {
        return wrap(inner_.openDisk(number, a, s));
    }
    std::unique_ptr<BlockDevice> openVolume(char letter, BlockAccess a, BlockShare s) override
    {
        return wrap(inner_.openVolume(letter, a, s));
    }
    std::unique_ptr<BlockDevice> open(const std::string& path, BlockAccess a, BlockShare s) override
    {
        return wrap(inner_.open(path, a, s));
    }

private:
    std::unique_ptr<BlockDevice> wrap(std::unique_ptr<BlockDevice> device)
    {
        if (!device)
            return device;
        StorageDeviceNumber number;
        const int disk = device->deviceNumber(number) ? static_cast<int>(number.deviceNumber) : -1;
        return std::make_unique<TimedBlockDevice>(std::move(device), clock_, rates_.rateOf(disk));
    }

    BlockDevices& inner_;
    VirtualClock& clock_;
    const TimedDiskPlatform& rates_;
};

}  // namespace timed

inline PlatformServices TimedDiskPlatform::forwardingServices(BenchFixture& bench, TimedDiskPlatform& self)
{
    BenchPlatform& b = bench.platform();
    PlatformServices s;
    s.clock = std::make_unique<timed::ClockRef>(bench.clock());
    s.debugOutput = std::make_unique<timed::DebugRef>(b.debugOutput());
    s.scsi = std::make_unique<timed::ScsiRef>(b.scsi());
    s.usbTree = std::make_unique<timed::UsbTreeRef>(b.usbTree());
    s.deviceSetup = std::make_unique<timed::DeviceSetupRef>(b.deviceSetup());
    s.volumes = std::make_unique<timed::VolumesRef>(b.volumes());
    s.blockDevices = std::make_unique<timed::TimedBlockDevices>(b.blockDevices(), bench.clock(), self);
    return s;
}

inline TimedDiskPlatform::TimedDiskPlatform(BenchFixture& bench)
    : Platform("bench", forwardingServices(bench, *this)), clock_(bench.clock()), previous_(Platform::currentOrNull())
{
    Platform::setCurrent(this);
}

inline TimedDiskPlatform::~TimedDiskPlatform() { Platform::setCurrent(previous_); }

}  // namespace krv::test
