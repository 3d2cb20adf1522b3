#pragma once
// The device services of a machine with nothing attached: no USB host
// controller, no device node but the root, no disk. A platform that leaves
// a device service empty gets these (tests of code that needs no devices).
#include "platform/BlockDevices.h"
#include "platform/DeviceSetup.h"
#include "platform/UsbTree.h"

namespace krv {

class NoUsbTree : public UsbTree {
public:
    std::vector<std::string> hostControllerPaths() override { return {}; }
    std::unique_ptr<UsbHostController> openHostController(const std::string&) override;
    std::unique_ptr<UsbHub> openHub(const std::string&) override;
};

class NoDeviceSetup : public DeviceSetup {
public:
    std::vector<DeviceNode> devices() override;
    std::unique_ptr<StorageHandle> openInterface(const std::string&) override;
};

class NoBlockDevices : public BlockDevices {
public:
    std::unique_ptr<BlockDevice> openDisk(int, BlockAccess, BlockShare) override;
    std::unique_ptr<BlockDevice> openVolume(char, BlockAccess, BlockShare) override;
    std::unique_ptr<BlockDevice> open(const std::string&, BlockAccess, BlockShare) override;
};

// The root node every device tree starts with.
DeviceNode rootDeviceNode();

}  // namespace krv
