#pragma once
// The bridge's 128-byte USB-3 configuration image (ConfigTable): serial
// number, manufacturer and product strings, T10 vendor and product strings,
// VID, PID, bcdDevice, standby timer, power and PCIe link options, a mark and
// a byte-sum checksum. config_format picks the layout: A for format 1, B for
// formats 3 and 4; format 0 builds nothing, and 2 and above 4 are invalid.
//
// Layout (little-endian numbers; unused bytes 0xFF; texts without a
// terminator, each cut at its field's end):
//   0-3     0xFF
//   4-23    serial number
//   24-67   A: manufacturer (44)      B: manufacturer 24-59, T10 vendor 60-67
//   68-115  A: product (48)           B: product 68-99, T10 product 100-115
//   116/118/120  VID / PID / bcdDevice
//   122     standby code (A: bit 4 cleared with WTG; B: LPIfIdle in bits 4-5
//           and LPIfU3 in bits 6-7 ANDed in)
//   123     A: 0xFF   B: ASPM bits 0-1, PCIe speed bits 2-3, lanes bits 4-5
//   124     0x02
//   125     option bits, a set option clears its bit (see below)
//   126     0x5A
//   127     sum of bytes 4..126, modulo 256
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/IniRecord.h"
#include "device/DevList.h"

using ConfigImage = uint8_t[DEV_CONFIG_SIZE];

// Field places of the USB-3 image.
constexpr size_t CONFIG_SERIAL_OFFSET = 4;
constexpr size_t CONFIG_SERIAL_LENGTH = 20;
constexpr size_t CONFIG_MANUFACTURER_OFFSET = 24;
constexpr size_t CONFIG_A_MANUFACTURER_LENGTH = 44;
constexpr size_t CONFIG_B_MANUFACTURER_LENGTH = 36;
constexpr size_t CONFIG_B_T10_VENDOR_OFFSET = 60;
constexpr size_t CONFIG_B_T10_VENDOR_LENGTH = 8;
constexpr size_t CONFIG_PRODUCT_OFFSET = 68;
constexpr size_t CONFIG_A_PRODUCT_LENGTH = 48;
constexpr size_t CONFIG_B_PRODUCT_LENGTH = 32;
constexpr size_t CONFIG_B_T10_PRODUCT_OFFSET = 100;
constexpr size_t CONFIG_B_T10_PRODUCT_LENGTH = 16;
constexpr size_t CONFIG_VID_OFFSET = 116;
constexpr size_t CONFIG_PID_OFFSET = 118;
constexpr size_t CONFIG_REVISION_OFFSET = 120;
constexpr size_t CONFIG_STANDBY_OFFSET = 122;
constexpr size_t CONFIG_LINK_OFFSET = 123;
constexpr size_t CONFIG_FIXED_OFFSET = 124;
constexpr size_t CONFIG_OPTIONS_OFFSET = 125;
constexpr size_t CONFIG_MARK_OFFSET = 126;
constexpr size_t CONFIG_CHECKSUM_OFFSET = 127;
// The checksum sums the bytes from here to the mark.
constexpr size_t CONFIG_CHECKSUM_FROM = 4;

constexpr uint8_t CONFIG_FIXED_BYTE = 0x02;
constexpr uint8_t CONFIG_U3_MARK = 0x5A;

enum class EConfigLayout : uint8_t {
    eNone,      // format 0: the image is not built
    eLayoutA,   // format 1
    eLayoutB,   // formats 3 and 4
    eInvalid,   // format 2 and above 4
};

EConfigLayout eConfigLayoutOf(uint8_t ucConfigFormat);

// Byte 122's standby code: 0xF0 + timer for 1..11, else 0xFF.
uint8_t ucStandbyCode(uint8_t ucStandbyTimer);

// Sum of bytes 4..126 modulo 256: the checksum of both 128-byte images.
uint8_t ucConfigChecksum(const ConfigImage& ucImage);

// What one port's image is built from besides the settings.
struct ConfigTableSource {
    // The count this port's serial number is advanced by: its slot.
    uint8_t ucSerialCount = 0;
    // The serial typed into the serial-number entry dialog; layout A uses it
    // as it stands when it is not empty.
    std::string strEnteredSerialNumber;
    // The serial number of the port's disk (SN_EditType 4).
    std::string strHDDSN;
    // The variant's Start: its trace names the handler in these lines and
    // also shows the serial increment.
    bool bStartTrace = false;
    // The trace shows the standby byte.
    bool bStandbyTrace = false;
};

// What the variant's Start puts before its lines' texts.
constexpr const char* START_TRACE_PREFIX = "OnBnClickedButtonStart: ";
// START_TRACE_PREFIX under bStartTrace, else "".
const char* pszStartTracePrefix(const ConfigTableSource& source);

struct ConfigTableResult {
    EConfigLayout eLayout = EConfigLayout::eNone;
    // The serial number could not be advanced to a new one (its digits
    // wrapped around, or it has none to count): the image repeats a number.
    bool bSerialOverflow = false;
    // A text was longer than its field and was cut.
    bool bTextCut = false;
};

// Builds the image of config_format from the settings (the window's texts
// are written into them as the operator types). Format 0 leaves the image
// untouched; an invalid format fills it with 0xFF and logs it.
ConfigTableResult BuildConfigTable(const IniRecord& ini, const ConfigTableSource& source, ConfigImage& ucImage);

// The serial text a port's image carries (before it is cut to its field).
std::string strConfigSerialNumber(const IniRecord& ini, const ConfigTableSource& source, EConfigLayout eLayout,
                                  bool& bOverflow);

// Stores a "%X" reading of the text as a 32-bit little-endian number at
// `nOffset` (its four bytes, never past the image); a text that is no hex
// number stores nothing. Both images lay their numbers down this way, so a
// later field overwrites the upper bytes of the one before.
void vStoreHex32(ConfigImage& ucImage, size_t nOffset, std::string_view strText);
