#include "platform/bench/BenchScsi.h"

#include "platform/bench/BenchStorageQueries.h"

namespace krv::bench {

namespace {

class BenchScsiDevice : public ScsiDevice {
public:
    BenchScsiDevice(std::shared_ptr<BenchDevices> devices, DeviceTarget target)
        : devices_(std::move(devices)), target_(target)
    {
    }
    bool execute(ScsiCommand& command) override { return devices_->execute(target_, command); }
    bool deviceNumber(StorageDeviceNumber& number) override
    {
        return storageNumberOf(devices_->view(target_.port), target_.generation, target_.unit == Unit::CdRom, number);
    }
    bool deviceDescriptor(StorageDeviceDescriptor& descriptor) override
    {
        return storageDescriptorOf(devices_->view(target_.port), target_.generation, target_.unit == Unit::CdRom,
                                   descriptor);
    }

private:
    // Shared, so that a handle kept past the bench's end fails cleanly
    // rather than reaching freed memory.
    std::shared_ptr<BenchDevices> devices_;
    DeviceTarget target_;
};

}  // namespace

std::unique_ptr<ScsiDevice> BenchScsi::open(DriveKind kind, int number)
{
    std::optional<DeviceTarget> target = devices_->open(kind, number);
    if (!target)
        return nullptr;
    return std::make_unique<BenchScsiDevice>(devices_, *target);
}

}  // namespace krv::bench
