#pragma once
// The longest text each field of the USB-3 configuration image takes, and the
// longest volume label the chosen file system takes. The device-access object
// holds these as its field-length members (it may simply derive from this
// class, which keeps the members' names); the settings check sets them and
// the window's edit limits read them.
#include <cstdint>

class CConfigFieldLength {
public:
    // Sets the eight field lengths for the configuration format. Every
    // format has the same fields, so every format is accepted.
    bool vSetDefaultConfigFieldLength(uint8_t ucConfigFormat);

    uint8_t m_ucConfig_VID_Len = 0;
    uint8_t m_ucConfig_PID_Len = 0;
    uint8_t m_ucConfig_Revision_Len = 0;
    uint8_t m_ucConfig_SN_Len = 0;
    uint8_t m_ucConfig_Manufacturer_Len = 0;
    uint8_t m_ucConfig_Product_Len = 0;
    uint8_t m_ucConfig_T10Vendor_Len = 0;
    uint8_t m_ucConfig_T10Product_Len = 0;
    // The volume-label limit: set by the settings check and the format
    // choice of the window.
    uint8_t m_ucDevice_DiskLabel_Len = 0;
};

// The field lengths of a configuration format: VID, PID and revision 4,
// serial 20, manufacturer 36, product 32, T10 vendor 8, T10 product 16. The
// result is false only for a format that needs other lengths; there is none.
bool bDefaultConfigFieldLength(uint8_t ucConfigFormat, CConfigFieldLength& lengths);

// Volume labels: FAT32 and exFAT (any non-zero format type) take 11
// characters, NTFS (0) takes 32.
constexpr uint8_t DISK_LABEL_LEN_FAT = 11;
constexpr uint8_t DISK_LABEL_LEN_NTFS = 32;
uint8_t ucDiskLabelLength(uint8_t ucFormatDriveType);
