#include "platform/bench/BenchStorageQueries.h"

#include "platform/LastError.h"
#include "platform/bench/BenchLayout.h"

namespace krv::bench {

namespace {

bool there(const std::optional<DeviceView>& view, uint64_t generation)
{
    if (view && view->connected && view->generation == generation)
        return true;
    setLastError(winerr::kDeviceNotConnected);
    return false;
}

std::string padded(std::string text, size_t width)
{
    text.resize(width, ' ');
    return text;
}

bool serialUsable(const UsbIdentity& usb)
{
    if (usb.descriptor.iSerialNumber == 0 || usb.serial.empty() || usb.strings != UsbStrings::Normal)
        return false;
    for (char c : usb.serial)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

}  // namespace

bool storageNumberOf(const std::optional<DeviceView>& view, uint64_t generation, bool cdrom,
                     StorageDeviceNumber& number)
{
    if (!there(view, generation))
        return false;
    if (cdrom && view->cdrom < 0) {
        setLastError(winerr::kDeviceNotConnected);
        return false;
    }
    number.deviceType = cdrom ? devicetype::kCdRom : devicetype::kDisk;
    number.deviceNumber = static_cast<uint32_t>(cdrom ? view->cdrom : view->physicalDrive);
    number.partitionNumber = cdrom ? 0xFFFFFFFF : 0;
    return true;
}

bool storageDescriptorOf(const std::optional<DeviceView>& view, uint64_t generation, bool cdrom,
                         StorageDeviceDescriptor& d)
{
    if (!there(view, generation))
        return false;
    d = StorageDeviceDescriptor{};
    d.scsiDeviceType = cdrom ? 5 : 0;
    d.removableMedia = cdrom || view->device == kUsbDisk;
    d.vendorId = padded(view->inquiry.vendor, 8);
    d.productId = padded(view->inquiry.product, 16);
    d.productRevision = padded(view->inquiry.revision, 4);
    switch (view->attachment) {
    case Attachment::Usb:
        d.busType = bustype::kUsb;
        if (serialUsable(view->usb))
            d.serialNumber = view->usb.serial;
        break;
    case Attachment::Sata:
        d.busType = bustype::kSata;
        d.serialNumber = view->disk.serial;
        break;
    case Attachment::Pcie:
        d.busType = bustype::kNvme;
        d.serialNumber = view->disk.serial;
        break;
    }
    return true;
}

}  // namespace krv::bench
