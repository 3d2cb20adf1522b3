#pragma once
// What a bridge firmware file must be before a run may write it: its name
// carries the version the image holds, its signature byte belongs to the
// drive's chip revision, and the PD-type bits of its version fit every drive's
// PD controller. Also the USB4 BCD product firmware revision that the file
// name dates. The rules read only the bytes they need, and a file too short
// to hold them is refused, never read past its end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/IniRecord.h"
#include "device/DevList.h"

// Layout of a firmware file: two images back to back.
constexpr size_t FWFILE_IMAGE0_SIZE = 65280;
constexpr size_t FWFILE_IMAGE1_SIZE = 32736;
constexpr size_t FWFILE_SIZE = FWFILE_IMAGE0_SIZE + FWFILE_IMAGE1_SIZE;
// The six version bytes YY MM DD SS CC TT; SS is the PD-type byte.
constexpr size_t FWFILE_VERSION_OFFSET = 0x204;
constexpr size_t FWFILE_VERSION_LENGTH = 6;
constexpr size_t FWFILE_PD_TYPE_OFFSET = 0x207;
// The signature byte stands this many bytes before the end of the file.
constexpr size_t FWFILE_SIGNATURE_FROM_END = 6;
// The signature of a file that could not be read; no revision accepts it.
constexpr uint8_t FWFILE_NO_SIGNATURE = 0xFF;
// SS bits: PD controller (else PDX), external PD controller (else internal).
constexpr uint8_t FWFILE_PD_TYPE_PD = 0x80;
constexpr uint8_t FWFILE_PD_TYPE_EXTERNAL = 0x02;

// Every firmware file name starts with this; the version follows it.
constexpr std::string_view FWFILE_NAME_PREFIX = "KV_USB4_";

// Signatures by chip major revision 0..7: images with a byte-sum and with a
// CRC32 check.
extern const uint8_t g_ucFWChecksumSignature[8];
extern const uint8_t g_ucFWCRC32Signature[8];

// ---- on bytes in memory ---------------------------------------------------
// The signature byte of an image of `nSize` bytes; FWFILE_NO_SIGNATURE when
// it is too short to have one.
uint8_t ucFWSignatureOfImage(const uint8_t* pucImage, size_t nSize);
// The version as twelve lower-case hex digits; false when the image is too
// short to hold it.
bool bFWVersionOfImage(const uint8_t* pucImage, size_t nSize, std::string& strVersion);
// The name the tool gives a file of this version:
// "KV_USB4_YYMMDD_SS_CC_TT.bin" with upper-case hex digits.
std::string strFWFileNameOfVersion(const uint8_t (&ucVersion)[FWFILE_VERSION_LENGTH]);

// ---- on a firmware file -----------------------------------------------------
// The file's signature byte; FWFILE_NO_SIGNATURE when the file is missing,
// unreadable or shorter than the signature's offset.
uint8_t uGet8574FWSignatureFromeBin(const std::string& strFWFileName);
// True when the signature belongs to the chip major revision.
bool bCmp8574ChipAndFWVersion(uint8_t ucChipMajorRev, uint8_t ucFWSignature);
// The version the file holds as twelve lower-case hex digits; empty when the
// file is missing, unreadable or too short.
std::string strGetFWVersionFromBin(const std::string& strFWFileName);
// True when the file's name carries the version its content holds. With
// nNameTail, only the path's last nNameTail characters are searched for the
// name, and a shorter path fails.
bool bCheckFWFile(const std::string& strFWFileName, size_t nNameTail = 0);

// ---- PD type --------------------------------------------------------------
// What the PD-type rule reads of one device found.
struct FWDevicePDInfo {
    std::string strFWVersion;  // the running version, twelve hex digits
    uint8_t ucPDType = 0;      // 1 = PD controller, 0 = PDX controller
};
// Empty when the PD-type bits of the file named by the path fit every
// device; otherwise the refusal's message.
std::string strFWPDTypeMismatch(const std::string& strFWFileName, const std::vector<FWDevicePDInfo>& devices);
// The rule with its report: a refusal is logged and shown to the operator
// (in command-line mode it goes to the message file).
bool bIsFWmatchPDtype(const std::string& strFWFileName, const std::vector<FWDevicePDInfo>& devices);
// The same for the devices found: slots 0 .. nDeviceCount - 1 of the table
// (the USB devices, then the PCIe targets).
bool bIsFWmatchPDtype(const std::string& strFWFileName, const DevList& devList, int nDeviceCount);

// ---- USB4 BCD product firmware revision -----------------------------------
// The four-character revision dated by a firmware file name: the year's last
// digit, the month as one hex digit, the day ("KV_USB4_230915_..." gives
// "3915", a 15 December gives "3C15"). False when the name holds no prefix
// or no valid date after it.
bool bBcdRevisionFromFWFileName(const std::string& strFWFileName, std::string& strRevision);
// The same for the firmware file a setting names, which must exist.
bool bBcdRevisionFromFWFile(const std::string& strFWFileName, std::string& strRevision);
// USB4_BcdProductFWRevision from the file fw_binary_name names (run when
// USB4_BcdSync is 1): the new revision, for the window to show, or empty
// when the file gives none and the setting is left as it was.
std::string strMakeFWFileName(IniRecord& ini);
