#pragma once
// The rules the settings window applies to what the operator types: which
// characters each edit keeps and how many, the serial number's character set
// for the edit types that count it up, the identifier check of Save INI, the
// Hex/Dec increase boxes and the hex-digit reader. Plain functions on text;
// the window calls them from its change handlers and writes the settings.
#include <cstddef>
#include <cstdint>
#include <string>

// An edit hands at most this many characters to its filter.
constexpr size_t SETTINGS_EDIT_READ_MAX = 127;

// Label lengths by file system: FAT32 and exFAT allow 11, NTFS 32.
constexpr size_t DRIVE_LABEL_MAX_FAT = 11;
constexpr size_t DRIVE_LABEL_MAX_NTFS = 32;

enum class EEditCharClass : uint8_t {
    eHex,           // 0-9, A-F, a-f
    eAlphanumeric,  // 0-9, A-Z, a-z
    ePrintable,     // 0x20-0x7E
    eDigits,        // 0-9
    eSpeed,         // 0-9 and '.'
    eAny,           // every character
};

// The filtered edits of the settings window.
enum class ESettingsEdit : uint8_t {
    eVendorID,
    eProductID,
    eDeviceRevision,
    eSerialNumber,
    eManufacturerString,
    eProductString,
    eT10ManufacturerString,
    eT10ProductString,
    eUSB4VendorName,
    eUSB4ModelName,
    eSeconds,
    eReadSpeed,
    eWriteSpeed,
    eDriveLabel,
    eUSB4ComponentID,
    eUSB4VendorID,
    eUSB4ProductID,
    eUSB4TestID,
    eUSB4BcdProductFWRevision,
    eUSB4ProductHWRevision,
    eUSB4MinorFWVersion,
    eUSB4TBT3VendorID,
    eUSB4TBT3ModelID,
    eUSB4TBT3ModelRevision,
    ePcieVendorID,
    ePcieDeviceID,
};

struct EditFilterRule {
    EEditCharClass eClass = EEditCharClass::eAny;
    size_t nMaxLength = 0;
    // Kept letters are made upper case (hex serials, so that Start's
    // upper-case character-set check accepts what the edit let through).
    bool bUpperCase = false;
    // A text longer than the maximum is refused whole instead of cut (the
    // drive label: a cut label would silently differ from what was meant).
    bool bRefuseOverflow = false;
};

// The rule of an edit under the settings that shape it: Check_SerialNumber
// (1 = the serial must be hex) and format_drive_type (0 = NTFS).
EditFilterRule ruleForSettingsEdit(ESettingsEdit eEdit, uint8_t ucCheckSerialNumber, uint8_t ucFormatDriveType);

struct EditFilterResult {
    // The cleaned text to put back into the edit (empty when refused).
    std::string strText;
    // Where the caret goes: behind the same kept character it followed.
    size_t nCaret = 0;
    // The text was refused (too long for a refusing edit): the edit is
    // emptied and the setting must keep its value.
    bool bRefused = false;
};

// Keeps the characters of the rule's class, in order, up to its maximum.
// nCaret is the caret position in the typed text.
EditFilterResult filterEditText(const std::string& strTyped, size_t nCaret, const EditFilterRule& rule);

// The value of a hex digit of either case; false (and 0) for anything else.
bool bHexCharToValue(char cChar, uint8_t& ucValue);

// Whether the serial number's characters fit the SN edit type: upper-case
// hex digits for type 1, decimal digits for type 2; any text otherwise. An
// empty text fits.
bool bIsSNInCharset(const std::string& strSerialNumber, uint8_t ucSNEditType);

// Save INI's identifier check: vendor id, product id and device revision
// must have exactly 4 characters. On failure strMessage gets one line
// ("%s \r\n") per bad identifier, in that order.
bool bValidateUSBIdentifiers(const std::string& strVendorID, const std::string& strProductID,
                             const std::string& strDeviceRevision, std::string& strMessage);

// What a click on the serial number's "Hex" or "Dec" increase box leaves.
struct SNIncreaseBoxes {
    uint8_t ucIncreaseHex = 0;  // serial_number_increase_HEX and the Hex box
    uint8_t ucIncreaseDec = 0;  // serial_number_increase_DEC and the Dec box
    bool bClearSerialNumber = false;
    std::string strWarning;     // shown as a warning when not empty
};

// bHexBox: the clicked box is "Hex" (else "Dec"); bChecked: its state after
// the click. The two boxes always end opposite. When the clicked box is
// checked and the serial's counted part (after a kept prefix of
// iRemainLength characters when iRemainEnable is not 0) does not fit the SN
// edit type, the click is undone, the serial emptied and a warning given.
SNIncreaseBoxes snIncreaseBoxClicked(bool bHexBox, bool bChecked, const std::string& strSerialNumber,
                                     int32_t iRemainEnable, int32_t iRemainLength, uint8_t ucSNEditType);
