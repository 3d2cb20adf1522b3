#pragma once
// What a storage handle tells of its device, whatever opened it (a drive by
// number, a disk interface's device path, a volume): its device number
// (IOCTL_STORAGE_GET_DEVICE_NUMBER) and its storage device descriptor
// (IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty).
#include <cstdint>
#include <optional>
#include <string>

namespace krv {

// DEVICE_TYPE values of a device number.
namespace devicetype {
constexpr uint32_t kCdRom = 0x02;   // FILE_DEVICE_CD_ROM
constexpr uint32_t kDisk = 0x07;    // FILE_DEVICE_DISK
}  // namespace devicetype

// STORAGE_BUS_TYPE values.
namespace bustype {
constexpr uint32_t kUnknown = 0x00;
constexpr uint32_t kScsi = 0x01;
constexpr uint32_t kAtapi = 0x02;
constexpr uint32_t kAta = 0x03;
constexpr uint32_t kUsb = 0x07;
constexpr uint32_t kSata = 0x0B;
constexpr uint32_t kSpaces = 0x10;
constexpr uint32_t kNvme = 0x11;
}  // namespace bustype

// STORAGE_DEVICE_NUMBER.
struct StorageDeviceNumber {
    uint32_t deviceType = 0;       // devicetype::kDisk or kCdRom
    uint32_t deviceNumber = 0;     // the N of PhysicalDriveN / CdRomN
    // 0 for a whole disk, the partition's number (from 1) for a volume on a
    // disk, 0xFFFFFFFF for a device that cannot be partitioned (a CD-ROM).
    uint32_t partitionNumber = 0;
};

// STORAGE_DEVICE_DESCRIPTOR, its texts taken out. Texts are as the device
// reports them, blank-padded to their field (vendor 8, product 16, revision
// 4 characters); the serial number as the port driver has it. A text the
// descriptor does not carry (offset 0) is none.
struct StorageDeviceDescriptor {
    uint8_t scsiDeviceType = 0;    // SCSI peripheral type: 0 disk, 5 CD-ROM
    bool removableMedia = false;
    uint32_t busType = bustype::kUnknown;
    std::optional<std::string> vendorId;
    std::optional<std::string> productId;
    std::optional<std::string> productRevision;
    std::optional<std::string> serialNumber;
};

// A handle that answers the two queries. Destroying it closes it.
class StorageHandle {
public:
    virtual ~StorageHandle() = default;
    // False with the last error set: 1 (ERROR_INVALID_FUNCTION) when the
    // device is no storage device (a USB device interface, a hub), 1167 when
    // the device has left since the handle was opened.
    virtual bool deviceNumber(StorageDeviceNumber& number) = 0;
    virtual bool deviceDescriptor(StorageDeviceDescriptor& descriptor) = 0;
};

}  // namespace krv
