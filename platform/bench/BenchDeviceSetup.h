#pragma once
// The device-setup service on the bench: the device-node tree of the bench
// machine (its PCI root, the USB host controllers, hubs and devices as the
// topology places them, the USB bridges' disks and CD-ROM units, the NVMe
// functions of bridges on a PCIe tunnel, the system disk under its SATA
// controller), as it is at the moment of the call; and the interfaces'
// device paths opened for the storage queries.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/DeviceSetup.h"
#include "platform/bench/BenchDevices.h"
#include "platform/bench/BenchTopology.h"

namespace krv::bench {

class BenchDeviceSetup : public DeviceSetup {
public:
    BenchDeviceSetup(std::shared_ptr<BenchDevices> devices, Topology topology);

    std::vector<DeviceNode> devices() override;
    std::unique_ptr<StorageHandle> openInterface(const std::string& devicePath) override;

private:
    std::unique_ptr<StorageHandle> openOnDevice(const DeviceView& v, const std::string& devicePath);

    std::shared_ptr<BenchDevices> devices_;
    Topology topology_;
    // The device each interface path was last found on. A scan opens every interface of every device many times
    // over; the device is asked first, the whole listing only when it no
    // longer offers the path.
    std::mutex foundMutex_;
    std::map<std::string, int> foundOn_;
    // The tree last built and the device views it was built from: the tree
    // follows from them alone, and a scan asks for it again and again
    // while nothing changes.
    std::mutex treeMutex_;
    std::vector<DeviceView> treeViews_;
    std::vector<DeviceNode> tree_;
};

}  // namespace krv::bench
