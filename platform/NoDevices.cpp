#include "platform/NoDevices.h"

#include "platform/DeviceClasses.h"
#include "platform/LastError.h"

namespace krv {

namespace {
template <typename T>
std::unique_ptr<T> notFound()
{
    setLastError(winerr::kFileNotFound);
    return nullptr;
}
}  // namespace

std::unique_ptr<UsbHostController> NoUsbTree::openHostController(const std::string&)
{
    return notFound<UsbHostController>();
}

std::unique_ptr<UsbHub> NoUsbTree::openHub(const std::string&) { return notFound<UsbHub>(); }

DeviceNode rootDeviceNode()
{
    DeviceNode root;
    root.instanceId = "HTREE\\ROOT\\0";
    root.classGuid = setupclass::kSystem;
    root.className = "System";
    root.description = "Computer";
    root.enumeratorName = "HTREE";
    return root;
}

std::vector<DeviceNode> NoDeviceSetup::devices() { return {rootDeviceNode()}; }

std::unique_ptr<StorageHandle> NoDeviceSetup::openInterface(const std::string&) { return notFound<StorageHandle>(); }

std::unique_ptr<BlockDevice> NoBlockDevices::openDisk(int, BlockAccess, BlockShare) { return notFound<BlockDevice>(); }

std::unique_ptr<BlockDevice> NoBlockDevices::openVolume(char, BlockAccess, BlockShare)
{
    return notFound<BlockDevice>();
}

std::unique_ptr<BlockDevice> NoBlockDevices::open(const std::string&, BlockAccess, BlockShare)
{
    return notFound<BlockDevice>();
}

}  // namespace krv
