#include "app/SettingsValidation.h"

#include <algorithm>

#include "app/GUIText.h"

namespace {

bool bIsDecimal(char c) { return c >= '0' && c <= '9'; }

bool bInClass(char c, EEditCharClass eClass)
{
    const auto uc = static_cast<unsigned char>(c);
    switch (eClass) {
    case EEditCharClass::eHex: {
        uint8_t ucIgnored = 0;
        return bHexCharToValue(c, ucIgnored);
    }
    case EEditCharClass::eAlphanumeric:
        return bIsDecimal(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    case EEditCharClass::ePrintable:
        // DEL (0x7F) is no printable character, whatever older filters let by.
        return uc >= 0x20 && uc <= 0x7E;
    case EEditCharClass::eDigits:
        return bIsDecimal(c);
    case EEditCharClass::eSpeed:
        return bIsDecimal(c) || c == '.';
    case EEditCharClass::eAny:
        return true;
    }
    return false;
}

char cToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

EditFilterRule ruleForSettingsEdit(ESettingsEdit eEdit, uint8_t ucCheckSerialNumber, uint8_t ucFormatDriveType)
{
    using C = EEditCharClass;
    switch (eEdit) {
    case ESettingsEdit::eVendorID:
    case ESettingsEdit::eProductID:
        return {C::eHex, 4};
    case ESettingsEdit::eDeviceRevision:
        return {C::eAlphanumeric, 4};
    case ESettingsEdit::eSerialNumber:
        if (ucCheckSerialNumber == 1)
            return {C::eHex, 20, true};
        return {C::eAny, 20};
    case ESettingsEdit::eManufacturerString:
        return {C::ePrintable, 36};
    case ESettingsEdit::eProductString:
        return {C::ePrintable, 32};
    case ESettingsEdit::eT10ManufacturerString:
        return {C::ePrintable, 8};
    case ESettingsEdit::eT10ProductString:
        return {C::ePrintable, 16};
    case ESettingsEdit::eUSB4VendorName:
    case ESettingsEdit::eUSB4ModelName:
        return {C::ePrintable, 32};
    case ESettingsEdit::eSeconds:
        return {C::eDigits, 4};
    case ESettingsEdit::eReadSpeed:
    case ESettingsEdit::eWriteSpeed:
        return {C::eSpeed, 4};
    case ESettingsEdit::eDriveLabel:
        return {C::ePrintable, ucFormatDriveType != 0 ? DRIVE_LABEL_MAX_FAT : DRIVE_LABEL_MAX_NTFS, false, true};
    case ESettingsEdit::eUSB4ComponentID:
        return {C::eHex, 11};
    case ESettingsEdit::eUSB4VendorID:
    case ESettingsEdit::eUSB4ProductID:
    case ESettingsEdit::eUSB4BcdProductFWRevision:
    case ESettingsEdit::eUSB4TBT3VendorID:
    case ESettingsEdit::eUSB4TBT3ModelID:
    case ESettingsEdit::ePcieVendorID:
    case ESettingsEdit::ePcieDeviceID:
        return {C::eHex, 4};
    case ESettingsEdit::eUSB4TestID:
        return {C::eHex, 8};
    case ESettingsEdit::eUSB4ProductHWRevision:
    case ESettingsEdit::eUSB4MinorFWVersion:
    case ESettingsEdit::eUSB4TBT3ModelRevision:
        return {C::eHex, 2};
    }
    return {C::eAny, 0};
}

EditFilterResult filterEditText(const std::string& strTyped, size_t nCaret, const EditFilterRule& rule)
{
    const size_t nRead = std::min(strTyped.size(), SETTINGS_EDIT_READ_MAX);
    nCaret = std::min(nCaret, nRead);

    EditFilterResult result;
    size_t nKeptBeforeCaret = 0;
    for (size_t i = 0; i < nRead; ++i) {
        const char c = strTyped[i];
        if (!bInClass(c, rule.eClass))
            continue;
        if (result.strText.size() >= rule.nMaxLength) {
            if (rule.bRefuseOverflow) {
                result = EditFilterResult{};
                result.bRefused = true;
                return result;
            }
            break;
        }
        result.strText.push_back(rule.bUpperCase ? cToUpper(c) : c);
        if (i < nCaret)
            ++nKeptBeforeCaret;
    }
    result.nCaret = std::min(nKeptBeforeCaret, result.strText.size());
    return result;
}

bool bHexCharToValue(char cChar, uint8_t& ucValue)
{
    if (cChar >= '0' && cChar <= '9')
        ucValue = static_cast<uint8_t>(cChar - '0');
    else if (cChar >= 'A' && cChar <= 'F')
        ucValue = static_cast<uint8_t>(cChar - 'A' + 10);
    else if (cChar >= 'a' && cChar <= 'f')
        ucValue = static_cast<uint8_t>(cChar - 'a' + 10);
    else {
        ucValue = 0;
        return false;
    }
    return true;
}

bool bIsSNInCharset(const std::string& strSerialNumber, uint8_t ucSNEditType)
{
    const char* pszCharset = nullptr;
    if (ucSNEditType == 1)
        pszCharset = "0123456789ABCDEF";
    else if (ucSNEditType == 2)
        pszCharset = "0123456789";
    else
        return true;
    return strSerialNumber.find_first_not_of(pszCharset) == std::string::npos;
}

bool bValidateUSBIdentifiers(const std::string& strVendorID, const std::string& strProductID,
                             const std::string& strDeviceRevision, std::string& strMessage)
{
    strMessage.clear();
    const std::pair<const std::string*, const std::string*> checks[] = {
        {&strVendorID, &g_GUIText.m_strErrVIDFormat},
        {&strProductID, &g_GUIText.m_strErrPIDFormat},
        {&strDeviceRevision, &g_GUIText.m_strErrRevisionFormat},
    };
    for (const auto& [pValue, pText] : checks)
        if (pValue->size() != 4)
            strMessage += *pText + " \r\n";
    return strMessage.empty();
}

SNIncreaseBoxes snIncreaseBoxClicked(bool bHexBox, bool bChecked, const std::string& strSerialNumber,
                                     int32_t iRemainEnable, int32_t iRemainLength, uint8_t ucSNEditType)
{
    // The boxes are two views of one choice: the clicked one decides.
    const bool bHexOn = bHexBox == bChecked;
    SNIncreaseBoxes boxes;
    boxes.ucIncreaseHex = bHexOn ? 1 : 0;
    boxes.ucIncreaseDec = bHexOn ? 0 : 1;

    std::string strCounted = strSerialNumber;
    if (iRemainEnable != 0) {
        const size_t nPrefix = iRemainLength > 0 ? static_cast<size_t>(iRemainLength) : 0;
        strCounted = nPrefix < strCounted.size() ? strCounted.substr(nPrefix) : std::string();
    }
    if (bChecked && !bIsSNInCharset(strCounted, ucSNEditType)) {
        std::swap(boxes.ucIncreaseHex, boxes.ucIncreaseDec);
        boxes.bClearSerialNumber = true;
        boxes.strWarning = bHexBox ? "SN digits should be all heximal" : "SN digits should be all decimal";
    }
    return boxes;
}
