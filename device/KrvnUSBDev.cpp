// The device-access object itself: start-up and exit, the configuration
// images and field lengths, the string-descriptor cache, the scan-start
// reset of the device table, and the open rule of the per-target operations.
#include "device/KrvnUSBDev.h"
#include "device/TextUtil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

CKrvnUSBDev g_UsbDev;

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// Registry value types and the device properties the formatting treats apart.
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;
constexpr uint32_t SPDRP_BUSNUMBER = 21;
constexpr uint32_t SPDRP_ADDRESS = 28;

bool bAllZero(const uint8_t* pBytes, size_t nSize)
{
    return std::all_of(pBytes, pBytes + nSize, [](uint8_t b) { return b == 0; });
}

}  // namespace

void CKrvnUSBDev::vInitialize() { vClearStringDescriptorCache(); }

void CKrvnUSBDev::vShutdown()
{
    // Only ever below a known program folder: with an unknown one the path
    // would point somewhere else entirely.
    const std::string strFolder = pUtility.m_szProgramFolder;
    if (strFolder.empty() || strFolder[0] != '/')
        return;
    pUtility.vDeleteFolderTree(krv::joinPath(strFolder, KRV_FW_TEMP_FOLDER));
}

bool CKrvnUSBDev::vSetMConfigInfo(uint8_t bClear, uint8_t ucSelectConfigType)
{
    static const char* const kMethod = "CKrvnUSBDev::vSetMConfigInfo";
    std::memset(m_ucConfigTable, 0, sizeof m_ucConfigTable);
    if (bClear == 1)
        return true;
    int nTemplate = -1;
    switch (ucSelectConfigType) {
    case 0:
    case 1: nTemplate = 0; break;
    case 2: nTemplate = 1; break;
    case 3:
    case 4: nTemplate = 2; break;
    default: break;
    }
    if (nTemplate < 0) {
        vDEBUG_MSG_printf("%s:%d: vSetMConfigInfo: ConfigType not accure, ucSelectConfigType : %x ", kMethod, __LINE__,
                          ucSelectConfigType);
        return false;
    }
    if (bAllZero(m_ucConfigTableTemplate[nTemplate], CONFIG_BIN_SIZE)) {
        vDEBUG_MSG_printf("%s:%d: vSetMConfigInfo: template %d of ConfigType %x never built", kMethod, __LINE__,
                          nTemplate, ucSelectConfigType);
        return false;
    }
    std::memcpy(m_ucConfigTable, m_ucConfigTableTemplate[nTemplate], CONFIG_BIN_SIZE);
    return true;
}

// ---- string-descriptor cache ------------------------------------------------

void CKrvnUSBDev::vAddStringDescriptorCache(const std::string& strVID, const std::string& strPID,
                                            const std::string& strManufacturer, const std::string& strProduct,
                                            const std::string& strSerialNumber, const std::string& strLocation)
{
    if (strVID.empty() || strPID.empty() || strManufacturer.empty() || strProduct.empty() || strSerialNumber.empty())
        return;
    std::lock_guard<std::mutex> guard(m_CacheCriticalSection);
    for (const STRING_DESCRIPTOR_CACHE& entry : m_StringDescriptorCache) {
        if (entry.bUsed && entry.strVID == strVID && entry.strPID == strPID &&
            entry.strManufacturer == strManufacturer && entry.strProduct == strProduct &&
            entry.strSerialNumber == strSerialNumber && entry.strLocation == strLocation)
            return;
    }
    for (STRING_DESCRIPTOR_CACHE& entry : m_StringDescriptorCache) {
        if (!entry.bUsed) {
            entry = {true, strVID, strPID, strManufacturer, strProduct, strSerialNumber, strLocation};
            return;
        }
    }
}

std::string CKrvnUSBDev::bFindStringDescriptorCache(const std::string& strVID, const std::string& strPID,
                                                    const std::string& strManufacturer,
                                                    const std::string& strProduct, const std::string& strLocation)
{
    std::lock_guard<std::mutex> guard(m_CacheCriticalSection);
    for (const STRING_DESCRIPTOR_CACHE& entry : m_StringDescriptorCache) {
        if (entry.bUsed && entry.strVID == strVID && entry.strPID == strPID &&
            entry.strManufacturer == strManufacturer && entry.strProduct == strProduct &&
            entry.strLocation == strLocation)
            return entry.strSerialNumber;
    }
    return std::string();
}

void CKrvnUSBDev::vClearStringDescriptorCache()
{
    std::lock_guard<std::mutex> guard(m_CacheCriticalSection);
    for (STRING_DESCRIPTOR_CACHE& entry : m_StringDescriptorCache)
        entry = STRING_DESCRIPTOR_CACHE();
}

// ---- scan-start reset --------------------------------------------------------

void CKrvnUSBDev::vClearPrivateData()
{
    static const char* const kMethod = "CKrvnUSBDev::vClearPrivateData";
    vClearStringDescriptorCache();
    DevList* pDevList = m_pDevList.load();
    if (!pDevList) {
        vDEBUG_ERR_printf("%s:%d: m_pDevList : %p , dwErrorCode %d", kMethod, __LINE__, static_cast<void*>(pDevList),
                          nLastError());
        return;
    }
    for (DevInfo& devInfo : pDevList->Devs)
        devInfo.vResetForScan();
    pDevList->DevNums = 0;
    pDevList->m_bScanFoundCDROMOnly = 0;
    pDevList->m_ucUnidentified = 0;
    std::memset(m_ucConfigTable, 0, sizeof m_ucConfigTable);
    std::memset(m_ucConfigTableTemplate[0], 0, sizeof m_ucConfigTableTemplate[0]);
}

// ---- text conversions --------------------------------------------------------

std::string CKrvnUSBDev::strHexToASCII(const std::string& strHex)
{
    std::string strText;
    for (size_t i = 0; i + 1 < strHex.size(); i += 2) {
        int nHigh = nHexDigit(strHex[i]);
        int nLow = nHexDigit(strHex[i + 1]);
        if (nHigh < 0 || nLow < 0)
            break;
        strText += static_cast<char>(nHigh * 16 + nLow);
    }
    return strText;
}

std::string CKrvnUSBDev::strStringDescriptorText(const uint8_t* pDescriptor, size_t nReceived)
{
    std::string strText;
    if (!pDescriptor || nReceived < 2)
        return strText;
    const size_t nEnd = std::min<size_t>(pDescriptor[0], nReceived);
    for (size_t i = 2; i < nEnd; i += 2) {
        const uint8_t ucByte = pDescriptor[i];
        if (ucByte == 0)
            break;
        strText += (ucByte >= 0x20 && ucByte <= 0x7E) ? static_cast<char>(ucByte) : '2';
    }
    return strText;
}

std::string CKrvnUSBDev::strRegistryPropertyText(uint32_t dwRegType, uint32_t dwProperty, const uint8_t* pData,
                                                 size_t nSize)
{
    static const char* const kMethod = "CKrvnUSBDev::vGetSetupDiDeviceRegistryProperty";
    if (!pData || nSize == 0 || dwRegType == REG_NONE)
        return std::string();
    if (dwRegType == REG_SZ || dwRegType == REG_MULTI_SZ) {
        const uint8_t* pEnd = std::find(pData, pData + nSize, 0);
        return std::string(reinterpret_cast<const char*>(pData), static_cast<size_t>(pEnd - pData));
    }
    if (dwRegType == REG_DWORD && nSize >= 4) {
        char szText[32];
        if (dwProperty == SPDRP_ADDRESS) {
            std::snprintf(szText, sizeof szText, "%d %d", pData[1] * 65536 + pData[0], pData[3] * 65536 + pData[2]);
        } else if (dwProperty == SPDRP_BUSNUMBER) {
            const uint32_t dwValue = static_cast<uint32_t>(pData[0]) | static_cast<uint32_t>(pData[1]) << 8 |
                                     static_cast<uint32_t>(pData[2]) << 16 | static_cast<uint32_t>(pData[3]) << 24;
            std::snprintf(szText, sizeof szText, "%d", static_cast<int32_t>(dwValue));
        } else {
            std::snprintf(szText, sizeof szText, "%d", pData[0]);
        }
        return szText;
    }
    vDEBUG_MSG_printf("%s:%d: vGetSetupDiDeviceRegistryProperty: Type[%u] Not Valid dwPropertyRegDataType %u", kMethod,
                      __LINE__, dwProperty, dwRegType);
    return std::string();
}

// ---- open rule ------------------------------------------------------------------

std::string CKrvnUSBDev::strTargetPath(uint8_t ucTargetNumber, bool bPhysicalDriveOnly) const
{
    const DevList* pDevList = m_pDevList.load();
    if (!pDevList || ucTargetNumber >= MAX_DEV_SLOTS)
        return std::string();
    const DevInfo& devInfo = pDevList->Devs[ucTargetNumber];
    // A slot whose drive number was never found has no drive to open.
    if (devInfo.m_bIsCDROM && !bPhysicalDriveOnly) {
        if (devInfo.m_ucCDROMAddress == DEV_ADDRESS_NONE)
            return std::string();
        return strDrivePath(krv::DriveKind::CdRom, devInfo.m_ucCDROMAddress);
    }
    if (devInfo.m_ucPhysicalAddress == DEV_ADDRESS_NONE)
        return std::string();
    return strDrivePath(krv::DriveKind::PhysicalDrive, devInfo.m_ucPhysicalAddress);
}

CDriveHandle CKrvnUSBDev::hOpenTarget(uint8_t ucTargetNumber, bool bPhysicalDriveOnly) const
{
    const std::string strPath = strTargetPath(ucTargetNumber, bPhysicalDriveOnly);
    if (strPath.empty()) {
        krv::setLastError(krv::winerr::kFileNotFound);
        return CDriveHandle(INVALID_HANDLE_VALUE);
    }
    return CDriveHandle(CreateDriveHandle(strPath));
}
