#pragma once
// The USB tree service on the bench: the host controllers, root hubs and
// external hubs of the bench's topology (always there), and on their ports
// the bench's USB devices as they are now: a bridge on a USB link while it
// is on the bus, the USB disk while it is plugged in. A bridge on a PCIe
// tunnel shows nothing on its port. Descriptors and strings come from what
// each device shows of itself (BenchUsbIdentity).
#include <memory>

#include "platform/UsbTree.h"
#include "platform/bench/BenchDevices.h"
#include "platform/bench/BenchTopology.h"

namespace krv::bench {

class BenchUsbTree : public UsbTree {
public:
    BenchUsbTree(std::shared_ptr<BenchDevices> devices, Topology topology);

    std::vector<std::string> hostControllerPaths() override;
    std::unique_ptr<UsbHostController> openHostController(const std::string& devicePath) override;
    std::unique_ptr<UsbHub> openHub(const std::string& name) override;

private:
    std::shared_ptr<BenchDevices> devices_;
    std::shared_ptr<const Topology> topology_;
};

}  // namespace krv::bench
