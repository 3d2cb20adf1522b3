#pragma once
// The block-device service on the bench: disks by PhysicalDrive number and
// volumes by letter or volume name, reading and writing the disks' images
// through the devices (so faults, logs and presence hold for them), with the
// partition and volume control codes on BenchDisks.
#include <memory>

#include "platform/BlockDevices.h"
#include "platform/bench/BenchDevices.h"

namespace krv::bench {

class BenchBlockDevices : public BlockDevices {
public:
    explicit BenchBlockDevices(std::shared_ptr<BenchDevices> devices) : devices_(std::move(devices)) {}

    std::unique_ptr<BlockDevice> openDisk(int number, BlockAccess access, BlockShare share) override;
    std::unique_ptr<BlockDevice> openVolume(char letter, BlockAccess access, BlockShare share) override;
    std::unique_ptr<BlockDevice> open(const std::string& path, BlockAccess access, BlockShare share) override;

private:
    std::unique_ptr<BlockDevice> openVolumeRecord(const BenchVolume& volume, BlockAccess access, BlockShare share);

    std::shared_ptr<BenchDevices> devices_;
};

}  // namespace krv::bench
