#pragma once
// The firmware file a drive makes of itself: a bridge's whole firmware image
// read over USB (or through a PCIe target's mailbox) and written out as a firmware file (the first region's bytes,
// then the second's: 98016 bytes), so that a run can write the same image to
// other drives. The file's name comes from the firmware file rules (the
// version the image holds); this side reads, checks and writes the bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "device/KrvnUSBDev.h"

class CKrv857xPcieCtrl;

// Offset and length of the six version bytes in an image.
constexpr uint32_t FW_DUMP_VERSION_OFFSET = 0x204;
constexpr uint32_t FW_DUMP_VERSION_LENGTH = 6;

// Reads image ucImage of the slot's bridge whole into `image`. False, with
// `image` empty, when the drive or a read failed, or when the image holds no
// version (an erased or never-programmed EEPROM): no bytes that did not come
// from a programmed bridge ever reach a file.
bool bReadDeviceFirmware(CKrvnUSBDev& usbDev, uint8_t ucTargetNumber, uint8_t ucImage, std::vector<uint8_t>& image);
// The same of PCIe target ucTargetNumber, read whole (98016 bytes) in one
// mailbox command.
bool bReadPcieTargetFirmware(CKrv857xPcieCtrl& pcieCtrl, uint8_t ucTargetNumber, uint8_t ucImage,
                             std::vector<uint8_t>& image);

// The image's six version bytes (YY MM DD SS CC TT), from which the file
// rules form the file's name.
void vDeviceFirmwareVersion(const std::vector<uint8_t>& image, uint8_t (&ucVersion)[FW_DUMP_VERSION_LENGTH]);

enum class EFirmwareDumpResult {
    eWritten,        // the file was made from the image
    eExisted,        // a file of that name already held exactly this image
    eDiffers,        // a file of that name holds something else; left alone
    eWriteFailed,    // the file could not be written (or read to compare)
};

// Writes the image as the file strPath, unless a file is already there: an
// existing file is only accepted when it holds exactly these bytes. The file
// is written whole or not at all.
EFirmwareDumpResult eWriteDeviceFirmwareFile(const std::string& strPath, const std::vector<uint8_t>& image);
