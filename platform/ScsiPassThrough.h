#pragma once
// SCSI pass-through to a drive (IOCTL_SCSI_PASS_THROUGH(_DIRECT) on
// "\\.\PHYSICALDRIVEn" / "\\.\CDROMn"). One command record carries
// everything down and back up; the backend is the only place that turns it
// into a real transfer. Transport success, the SCSI status and the last
// error are kept apart, as the system's code judges them separately.
#include <cstdint>
#include <memory>

#include "platform/StorageInfo.h"

namespace krv {

enum class DriveKind { PhysicalDrive, CdRom };

enum class DataDirection { None, In, Out };

struct ScsiCommand {
    uint8_t cdb[16] = {};
    uint8_t cdbLength = 0;          // 6..16
    DataDirection direction = DataDirection::None;
    uint8_t* data = nullptr;        // caller's buffer for In/Out
    uint32_t dataLength = 0;
    uint32_t timeoutSeconds = 0;

    // Filled by the transfer.
    uint8_t scsiStatus = 0;         // 0 good, 2 check condition ...
    uint8_t sense[32] = {};
    uint8_t senseLength = 0;
    uint32_t transferred = 0;       // bytes really moved
};

// An open drive. Destroying it closes it.
class ScsiDevice {
public:
    virtual ~ScsiDevice() = default;
    // Sends one command. Returns the transport's success (the DeviceIoControl
    // result); on false the thread's last error says why. A true result with
    // a non-zero scsiStatus is the device refusing the command.
    virtual bool execute(ScsiCommand& command) = 0;
    // IOCTL_STORAGE_GET_DEVICE_NUMBER and IOCTL_STORAGE_QUERY_PROPERTY on
    // this handle: the number and descriptor of the drive it reaches (see
    // platform/StorageInfo.h). False with the last error set; 1167 once the
    // drive has left. A backend without them fails with 1.
    virtual bool deviceNumber(StorageDeviceNumber& number);
    virtual bool deviceDescriptor(StorageDeviceDescriptor& descriptor);
};

class ScsiPassThrough {
public:
    virtual ~ScsiPassThrough() = default;
    // Opens a drive by its number; null with the last error set (2 for no
    // such drive) when it cannot.
    virtual std::unique_ptr<ScsiDevice> open(DriveKind kind, int number) = 0;
};

}  // namespace krv
