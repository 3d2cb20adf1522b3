#include "platform/bench/BenchStorageQueries.h"

#include "platform/LastError.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/bridge/Images.h"

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

uint32_t busTypeOf(StorageBus bus)
{
    switch (bus) {
    case StorageBus::Usb: return bustype::kUsb;
    case StorageBus::Scsi: return bustype::kScsi;
    case StorageBus::Sata: return bustype::kSata;
    case StorageBus::Spaces: return bustype::kSpaces;
    }
    return bustype::kUsb;
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
        d.busType = busTypeOf(view->busType);
        // The bulk-only driver reports the USB serial, the UAS driver the
        // unit serial number the device answers.
        if (view->storageDriver == StorageDriver::Uas)
            d.serialNumber = view->unitSerial;
        else if (serialUsable(view->usb))
            d.serialNumber = view->usb.serial;
        if (d.serialNumber && view->storageSerial == StorageSerialForm::Hex)
            d.serialNumber = toHex(reinterpret_cast<const uint8_t*>(d.serialNumber->data()), d.serialNumber->size());
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
