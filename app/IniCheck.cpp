#include "app/IniCheck.h"

namespace {

bool bIsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

void vFail(IniCheckResult& result, EIniCheckFailure eFailure, uint8_t ucCode, const char* pszKey, size_t nLength,
           uint8_t ucLimit)
{
    result.ucCode = ucCode;
    result.findings.push_back({eFailure, ucCode, pszKey, nLength, ucLimit});
}

// Clears the text when it is longer than the limit.
bool bTooLong(IniText& text, uint8_t ucLimit, IniCheckResult& result, EIniCheckFailure eFailure,
              uint8_t ucCode, const char* pszKey)
{
    const size_t nLength = text.length();
    if (nLength <= ucLimit)
        return false;
    text.clear();
    vFail(result, eFailure, ucCode, pszKey, nLength, ucLimit);
    return true;
}

}  // namespace

IniCheckResult IniCheckRecord(IniRecord& r, CConfigFieldLength& lengths)
{
    IniCheckResult result;
    lengths.m_ucDevice_DiskLabel_Len = ucDiskLabelLength(r.format_drive_type);
    if (!lengths.vSetDefaultConfigFieldLength(r.config_format)) {
        r = IniRecordCleared();
        vFail(result, EIniCheckFailure::eConfigType, INI_CHECK_CONFIG_TYPE, "config_format", 0, 0);
        return result;
    }

    if (!bTooLong(r.serial_number, lengths.m_ucConfig_SN_Len, result, EIniCheckFailure::eSNSize, INI_CHECK_SIZE,
                  "serial_number") &&
        r.Check_SerialNumber != 0) {
        for (char c : r.serial_number.view()) {
            if (!bIsHexDigit(c)) {
                vFail(result, EIniCheckFailure::eSNString, INI_CHECK_SN_STRING, "serial_number",
                      r.serial_number.length(), 0);
                r.serial_number.clear();
                break;
            }
        }
    }
    bTooLong(r.manufacturer_string, lengths.m_ucConfig_Manufacturer_Len, result,
             EIniCheckFailure::eManufacturerSize, INI_CHECK_SIZE, "manufacturer_string");
    bTooLong(r.product_string, lengths.m_ucConfig_Product_Len, result, EIniCheckFailure::eProductSize,
             INI_CHECK_SIZE, "product_string");
    bTooLong(r.drive_label_name, lengths.m_ucDevice_DiskLabel_Len, result, EIniCheckFailure::eDiskLabelSize,
             INI_CHECK_DISK_LABEL, "drive_label_name");
    return result;
}
