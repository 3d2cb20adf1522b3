#pragma once
// The settings record's own checks: the lengths the configuration image and
// the volume label allow, and a hexadecimal serial number when asked for. A
// failing check clears the offending field (a refused configuration format
// clears the whole record); the last failure decides the code.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/IniRecord.h"
#include "device/ConfigFieldLength.h"

// Codes of Ini::vCheckINIType.
enum : uint8_t {
    INI_CHECK_OK = 0,
    INI_CHECK_CONFIG_TYPE = 1,   // config_format refused; record cleared
    INI_CHECK_SIZE = 2,          // serial, manufacturer or product text too long; cleared
    INI_CHECK_EXCEPTION = 3,     // the check itself failed
    INI_CHECK_SN_STRING = 4,     // serial not hexadecimal while Check_SerialNumber is set; cleared
    INI_CHECK_DISK_LABEL = 5,    // volume label too long for the file system; cleared
};

enum class EIniCheckFailure : uint8_t {
    eConfigType,
    eSNSize,
    eSNString,
    eManufacturerSize,
    eProductSize,
    eDiskLabelSize,
};

struct IniCheckFinding {
    EIniCheckFailure eFailure;
    uint8_t ucCode;
    const char* pszKey;     // the field that failed (null for the whole record)
    size_t nLength;         // its length before it was cleared
    uint8_t ucLimit;        // the limit it broke (0 where none applies)
};

struct IniCheckResult {
    uint8_t ucCode = INI_CHECK_OK;
    std::vector<IniCheckFinding> findings;
};

// Sets the volume-label limit and the field lengths in `lengths` from the
// record, then checks the record against them.
IniCheckResult IniCheckRecord(IniRecord& record, CConfigFieldLength& lengths);
