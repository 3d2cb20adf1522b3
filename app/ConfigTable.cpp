#include "app/ConfigTable.h"

#include <algorithm>
#include <cstring>

#include "device/DebugLog.h"
#include "device/USBUtility.h"

namespace {

// Copies at most `nField` bytes of the text to `nOffset`, without a
// terminator; the field's other bytes keep what they hold. True when the
// text fit.
bool bCopyText(ConfigImage& ucImage, size_t nOffset, size_t nField, std::string_view strText)
{
    const size_t nCopy = std::min({strText.size(), nField, sizeof(ConfigImage) - nOffset});
    std::memcpy(ucImage + nOffset, strText.data(), nCopy);
    return nCopy == strText.size();
}

// A clear bit for every option that is set (0 = feature on).
uint8_t ucOptionBits(const uint8_t (&ucFlags)[8])
{
    uint8_t ucBits = 0xFF;
    for (int nBit = 0; nBit < 8; ++nBit)
        if (ucFlags[nBit] != 0)
            ucBits = static_cast<uint8_t>(ucBits & ~(1u << nBit));
    return ucBits;
}

std::string strAdvance(const std::string& strText, uint8_t ucCount, bool bHex, bool& bOverflow)
{
    bool bWrapped = false;
    std::string strResult = pUtility.vAddLimitSN(strText, ucCount, bHex ? 1 : 0, &bWrapped);
    bOverflow = bOverflow || bWrapped;
    return strResult;
}

}  // namespace

EConfigLayout eConfigLayoutOf(uint8_t ucConfigFormat)
{
    switch (ucConfigFormat) {
    case 0:
        return EConfigLayout::eNone;
    case 1:
        return EConfigLayout::eLayoutA;
    case 3:
    case 4:
        return EConfigLayout::eLayoutB;
    default:
        return EConfigLayout::eInvalid;
    }
}

const char* pszStartTracePrefix(const ConfigTableSource& source)
{
    return source.bStartTrace ? START_TRACE_PREFIX : "";
}

uint8_t ucStandbyCode(uint8_t ucStandbyTimer)
{
    return (ucStandbyTimer >= 1 && ucStandbyTimer <= 11) ? static_cast<uint8_t>(0xF0 + ucStandbyTimer) : 0xFF;
}

uint8_t ucConfigChecksum(const ConfigImage& ucImage)
{
    unsigned nSum = 0;
    for (size_t i = CONFIG_CHECKSUM_FROM; i < CONFIG_CHECKSUM_OFFSET; ++i)
        nSum += ucImage[i];
    return static_cast<uint8_t>(nSum);
}

void vStoreHex32(ConfigImage& ucImage, size_t nOffset, std::string_view strText)
{
    // "%X": blanks, an optional 0x, then the hex digits up to the first
    // other character; at least one digit or nothing is stored.
    size_t i = 0;
    while (i < strText.size() && (strText[i] == ' ' || strText[i] == '\t'))
        ++i;
    const auto bIsHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    };
    if (i + 2 < strText.size() && strText[i] == '0' && (strText[i + 1] == 'x' || strText[i + 1] == 'X') &&
        bIsHex(strText[i + 2]))
        i += 2;
    uint32_t dwValue = 0;
    size_t nDigits = 0;
    for (; i < strText.size(); ++i, ++nDigits) {
        const char c = strText[i];
        uint32_t dwDigit;
        if (c >= '0' && c <= '9')
            dwDigit = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            dwDigit = static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            dwDigit = static_cast<uint32_t>(c - 'a' + 10);
        else
            break;
        dwValue = (dwValue << 4) | dwDigit;
    }
    if (nDigits == 0)
        return;
    for (size_t n = 0; n < 4 && nOffset + n < sizeof(ConfigImage); ++n)
        ucImage[nOffset + n] = static_cast<uint8_t>(dwValue >> (8 * n));
}

std::string strConfigSerialNumber(const IniRecord& ini, const ConfigTableSource& source, EConfigLayout eLayout,
                                  bool& bOverflow)
{
    bOverflow = false;
    if (eLayout == EConfigLayout::eLayoutA && !source.strEnteredSerialNumber.empty())
        return source.strEnteredSerialNumber;
    if (ini.SN_EditType == 4)
        return source.strHDDSN;

    const std::string strWindow = ini.serial_number.str();
    const bool bHex = ini.SN_EditType == 1;
    std::string strSerial = strWindow;
    if (ini.SN_EditType == 1 || ini.SN_EditType == 2)
        strSerial = strAdvance(strWindow, source.ucSerialCount, bHex, bOverflow);
    else
        vDEBUG_ERR_printf("%s:%d: %sucThreadCount[%d] , pIni.m_pINI.ucConfig_format[%d] , ucSN_EditType[%d]",
                          "BuildConfigTable", __LINE__, pszStartTracePrefix(source), source.ucSerialCount,
                          ini.config_format, ini.SN_EditType);
    if (source.bStartTrace)
        vDEBUG_MSG_printf(
            "%s:%d: OnBnClickedButtonStart: ucThreadCount[%d] , pIni.m_pINI.ucConfig_format[%d] , "
            "ucSerial_number_increase[%d]",
            "BuildConfigTable", __LINE__, source.ucSerialCount, ini.config_format, ini.serial_number_increase);

    if (ini.SN_remain_value_enable == 1) {
        // The kept prefix stays as typed; only the rest counts up.
        const size_t nPrefix =
            std::min(static_cast<size_t>(std::max(ini.SN_remain_value_length, 0)), strWindow.size());
        bOverflow = false;
        strSerial = strWindow.substr(0, nPrefix) +
                    strAdvance(strWindow.substr(nPrefix), source.ucSerialCount, bHex, bOverflow);
    }
    return strSerial;
}

ConfigTableResult BuildConfigTable(const IniRecord& ini, const ConfigTableSource& source, ConfigImage& ucImage)
{
    ConfigTableResult result;
    result.eLayout = eConfigLayoutOf(ini.config_format);
    if (result.eLayout == EConfigLayout::eNone)
        return result;
    std::memset(ucImage, 0xFF, sizeof(ConfigImage));
    if (result.eLayout == EConfigLayout::eInvalid) {
        vDEBUG_ERR_printf("%s:%d: %sInValid Config Table[%d]", "BuildConfigTable", __LINE__,
                          pszStartTracePrefix(source), ini.config_format);
        return result;
    }
    const bool bLayoutA = result.eLayout == EConfigLayout::eLayoutA;

    vStoreHex32(ucImage, CONFIG_VID_OFFSET, ini.vendor_id.view());
    vStoreHex32(ucImage, CONFIG_PID_OFFSET, ini.product_id.view());
    vStoreHex32(ucImage, CONFIG_REVISION_OFFSET, ini.device_revision.view());

    const std::string strSerial = strConfigSerialNumber(ini, source, result.eLayout, result.bSerialOverflow);
    bool bFit = bCopyText(ucImage, CONFIG_SERIAL_OFFSET, CONFIG_SERIAL_LENGTH, strSerial);

    if (bLayoutA) {
        bFit &= bCopyText(ucImage, CONFIG_MANUFACTURER_OFFSET, CONFIG_A_MANUFACTURER_LENGTH,
                          ini.manufacturer_string.view());
        bFit &= bCopyText(ucImage, CONFIG_PRODUCT_OFFSET, CONFIG_A_PRODUCT_LENGTH, ini.product_string.view());
    } else {
        bFit &= bCopyText(ucImage, CONFIG_MANUFACTURER_OFFSET, CONFIG_B_MANUFACTURER_LENGTH,
                          ini.manufacturer_string.view());
        bFit &= bCopyText(ucImage, CONFIG_PRODUCT_OFFSET, CONFIG_B_PRODUCT_LENGTH, ini.product_string.view());
        bFit &= bCopyText(ucImage, CONFIG_B_T10_VENDOR_OFFSET, CONFIG_B_T10_VENDOR_LENGTH,
                          ini.manufacturer_string_T10.view());
        bFit &= bCopyText(ucImage, CONFIG_B_T10_PRODUCT_OFFSET, CONFIG_B_T10_PRODUCT_LENGTH,
                          ini.product_string_T10.view());
    }
    result.bTextCut = !bFit;

    const uint8_t ucStandby = ucStandbyCode(ini.standby_timer);
    if (source.bStandbyTrace)
        vDEBUG_MSG_printf(bLayoutA ? "%s:%d: ucStandbyTimer: [0x%x]" : "%s:%d: ucStandbyTimer_Type4: [0x%x]",
                          "BuildConfigTable", __LINE__, ucStandby);
    if (bLayoutA) {
        ucImage[CONFIG_STANDBY_OFFSET] = ucStandby;
        ucImage[CONFIG_LINK_OFFSET] = 0xFF;
    } else {
        // The option values are two bits each; the shifts stay in 8 bits.
        const auto u8 = [](unsigned v) { return static_cast<uint8_t>(v); };
        ucImage[CONFIG_STANDBY_OFFSET] =
            u8(ucStandby & u8((ini.LPIfIdle << 4) | 0xCF) & u8((ini.LPIfU3 << 6) | 0x3F));
        ucImage[CONFIG_LINK_OFFSET] = u8(u8((ini.PCIESpeed << 2) | 0xF3) & u8((ini.PCIELane << 4) | 0xCF) &
                                         u8(ini.PCIEASPM | 0xFC));
    }
    ucImage[CONFIG_FIXED_OFFSET] = CONFIG_FIXED_BYTE;
    const uint8_t ucFlags[8] = {
        bLayoutA ? uint8_t{0} : ini.USBRemovable_enable,
        ini.eup_enable,
        ini.two_leds_enable,
        bLayoutA ? ini.hdd_standby : ini.WTG_enable,
        ini.U1U2_enable,
        ini.low_power_mode_enable,
        ini._2TB_enable,
        ini.slow_enumeration_enable,
    };
    ucImage[CONFIG_OPTIONS_OFFSET] = ucOptionBits(ucFlags);
    if (bLayoutA && ini.WTG_enable != 0)
        ucImage[CONFIG_STANDBY_OFFSET] &= static_cast<uint8_t>(~0x10u);

    ucImage[CONFIG_MARK_OFFSET] = CONFIG_U3_MARK;
    ucImage[CONFIG_CHECKSUM_OFFSET] = ucConfigChecksum(ucImage);
    return result;
}
