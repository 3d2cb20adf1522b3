#include "device/PowerDelivery.h"

#include <cstdio>
#include <cstring>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/KrvnUSBDevRequest.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }
unsigned uHandle(HANDLE hDev) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(hDev)); }

constexpr uint16_t PD_CONTROL_VALUE = 0x1000;
constexpr uint16_t PD_DEVICE_MODE_VALUE = 0x100;
constexpr uint32_t PD_CONTROL_LENGTH = 16;
constexpr uint32_t PD_VERSION_LENGTH = 16;
constexpr uint32_t RICHTEK_VERSION_LENGTH = 2;
constexpr size_t PD_CONTROL_MCU_BYTE = 8;

// The drive a PD operation works on, opened for its whole run.
class CPDDrive {
public:
    CPDDrive(int nPhysicalDrive, const char* pszMethod)
        : m_strPath(strPDDrivePath(nPhysicalDrive)), m_hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nPhysicalDrive))
    {
        if (!m_hDev.bIsValid())
            vDEBUG_ERR_printf("%s:%d: CreateFile Fail , strPhysicalAddress:[%s] ,  dwErrorCode %d", pszMethod, __LINE__,
                              m_strPath.c_str(), nLastError());
    }
    bool bIsOpen() const { return m_hDev.bIsValid(); }
    HANDLE get() const { return m_hDev.get(); }
    const std::string& path() const { return m_strPath; }

private:
    std::string m_strPath;
    CDriveHandle m_hDev;
};

}  // namespace

std::string strPDDrivePath(int nPhysicalDrive) { return "\\\\.\\PhysicalDrive" + std::to_string(nPhysicalDrive); }

CPowerDelivery::CPowerDelivery() : m_ucPDROMBuffer(PD_RICHTEK_ROM_SIZE, 0) {}

int CPowerDelivery::SCSI6390_PDVendorCmd(HANDLE hDev, uint8_t bWriteRead, uint8_t ucSubCode, uint16_t wValue,
                                         uint16_t wIndex, uint8_t* pBuf, uint32_t dwLen)
{
    const char* pszMethod = "CPowerDelivery::SCSI6390_PDVendorCmd";
    if (!bIsValidHandle(hDev) || dwLen > PD_VENDOR_CMD_MAX || (dwLen > 0 && !pBuf)) {
        vDEBUG_ERR_printf("%s:%d: (hDev == NULL) or (dwTotalLen != CONFIG_BIN_SIZE)  hDev:%x , ReadWrite:%x , "
                          "BufLen:%x , dwErrorCode:%x  ",
                          pszMethod, __LINE__, uHandle(hDev), bWriteRead, dwLen, nLastError());
        return SCSI_RESULT_BAD_ARGUMENT;
    }
    const bool bWrite = bWriteRead == ACCESS_WRITE;
    CPassThroughRequest request(PD_VENDOR_CMD_MAX);
    uint8_t ucB4 = static_cast<uint8_t>(wIndex >> 8), ucB5 = static_cast<uint8_t>(wIndex);
    uint8_t ucB6 = 0, ucB7 = 0;
    if (bWrite && ucSubCode == PD_WRITE_DATA && dwLen >= 4) {
        // The four data bytes travel in the block itself.
        ucB4 = pBuf[0];
        ucB5 = pBuf[1];
        ucB6 = pBuf[2];
        ucB7 = pBuf[3];
    }
    if ((bWrite && ucSubCode == ST_MCU_WRITE_DATA) || (!bWrite && ucSubCode == ST_MCU_READ_DATA))
        ucB6 = static_cast<uint8_t>(dwLen);
    if (!bWrite && ucSubCode == PD_READ_DATA)
        ucB7 = static_cast<uint8_t>(dwLen);
    request.vSetCdb({0xEC, ucSubCode, static_cast<uint8_t>(wValue >> 8), static_cast<uint8_t>(wValue), ucB4, ucB5,
                     ucB6, ucB7},
                    8);
    if (!bWrite) {
        std::memset(pBuf, 0, dwLen);
        if (dwLen == 0)
            return 0;
        const uint32_t dwTransfer = ucSubCode == PD_FW_VERSION ? RICHTEK_VERSION_LENGTH : dwLen;
        request.vSetTransfer(krv::DataDirection::In, dwTransfer, SCSI_TIMEOUT_READ);
        request.bSend(hDev);
        if (request.bSucceeded()) {
            std::memcpy(pBuf, request.data(), std::min(dwLen, dwTransfer));
            return 0;
        }
        std::memset(pBuf, 0, dwLen);
        vDEBUG_ERR_printf("%s:%d: (status = Fail) hDev:%x , ReadWrite:%x , BufLen:%x , status:%x , ScsiStatus:%x , "
                          "dwErrorCode:%x  ",
                          pszMethod, __LINE__, uHandle(hDev), bWriteRead, dwLen, request.bTransportOk() ? 1 : 0,
                          request.ucScsiStatus(), nLastError());
        return -1;
    }
    const bool bDataPhase = ucSubCode == CYPRESS_PD_WRITE_DATA || ucSubCode == CYPRESS_PD_CCG3_WRITE_DATA ||
                            ucSubCode == ST_MCU_WRITE_DATA;
    if (dwLen)
        std::memcpy(request.data(), pBuf, dwLen);
    request.vSetTransfer(krv::DataDirection::Out, bDataPhase ? dwLen : 0, SCSI_TIMEOUT_WRITE);
    request.bSend(hDev);
    if (request.bSucceeded())
        return 0;
    vDEBUG_ERR_printf("%s:%d: SCSI6390_AccessRegister: (status = Fail) hDev:%x , ReadWrite:%x , dwTotalLen:%x , "
                      "status:%x , ScsiStatus:%x , dwErrorCode:%d  ",
                      pszMethod, __LINE__, uHandle(hDev), bWriteRead, dwLen, request.bTransportOk() ? 1 : 0,
                      request.ucScsiStatus(), nLastError());
    return -1;
}

int CPowerDelivery::nReadWithRetries(const char* pszMethod, HANDLE hDev, uint8_t ucSubCode, uint16_t wValue,
                                     uint8_t* pBuf, uint32_t dwLen, const char* pszName, const std::string& strPath)
{
    int nResult = -1;
    for (int nTry = 0; nTry < PD_COMMAND_TRIES; ++nTry) {
        nResult = SCSI6390_PDVendorCmd(hDev, ACCESS_READ, ucSubCode, wValue, 0, pBuf, dwLen);
        if (nResult == 0)
            return 0;
        vDEBUG_ERR_printf("%s:%d: SCSI6390_PDVendorCmd %s Retry[%d] , strPhysicalAddress:[%s] ,  dwErrorCode %d",
                          pszMethod, __LINE__, pszName, nTry, strPath.c_str(), nLastError());
        krv::Platform::current().clock().sleepMs(PD_RETRY_DELAY_MS);
    }
    return nResult;
}

int CPowerDelivery::nGetPDChipVendor(int nPhysicalDrive)
{
    CPDDrive drive(nPhysicalDrive, "CPowerDelivery::nGetPDChipVendor");
    if (!drive.bIsOpen())
        return -1;
    uint8_t ucBlock[PD_CONTROL_LENGTH] = {};
    int nResult = nReadWithRetries("CPowerDelivery::nGetPDChipVendor", drive.get(), PD_GET_PD_CONTROL,
                                   PD_CONTROL_VALUE, ucBlock, sizeof ucBlock, "PD_GET_PD_CONTROL", drive.path());
    if (ucBlock[0] != PD_CONTROL_SIGNATURE) {
        vDEBUG_ERR_printf("%s:%d: SCSI6390_PDVendorCmd PD_GET_PD_CONTROL  , strPhysicalAddress:[%s] ,  dwErrorCode %d",
                          "CPowerDelivery::nGetPDChipVendor", __LINE__, drive.path().c_str(), nLastError());
        nResult = -3;
    }
    m_nPDChipVendor = ucBlock[1];
    m_nMCUChipVendor = ucBlock[PD_CONTROL_MCU_BYTE] ? MCU_VENDOR_STM : 0;
    vDEBUG_MSG_printf("%s:%d: m_nPDChipVendor=[%x], m_nMCUChipVendor=[%x]", "CPowerDelivery::nGetPDChipVendor",
                      __LINE__, m_nPDChipVendor, m_nMCUChipVendor);
    return nResult;
}

int CPowerDelivery::nGetCCG3DeviceMode(int nPhysicalDrive)
{
    CPDDrive drive(nPhysicalDrive, "CPowerDelivery::nGetCCG3DeviceMode");
    if (!drive.bIsOpen())
        return -1;
    uint8_t ucMode = 0;
    const int nResult = nReadWithRetries("CPowerDelivery::nGetCCG3DeviceMode", drive.get(), PD_GET_PD_CCG3_DeviceMode,
                                         PD_DEVICE_MODE_VALUE, &ucMode, 1, "PD_GET_PD_CCG3_DeviceMode", drive.path());
    m_ucCCG3DeviceMode = ucMode;
    return nResult;
}

int CPowerDelivery::nInitializedPDI2CBus(int nPhysicalDrive)
{
    const char* pszMethod = "CPowerDelivery::nInitializedPDI2CBus";
    std::string strPath = strPDDrivePath(nPhysicalDrive);
    {
        CPDDrive drive(nPhysicalDrive, pszMethod);
        if (!drive.bIsOpen())
            return -1;
        uint8_t ucZero[2] = {};
        const int nResult = SCSI6390_PDVendorCmd(drive.get(), ACCESS_WRITE, PD_INITIALIZE, 0, 0, ucZero, sizeof ucZero);
        if (nResult != 0) {
            vDEBUG_ERR_printf("%s:%d: SCSI6390_PDVendorCmd PD Initialization Fail , strPhysicalAddress:[%s] ,  "
                              "dwErrorCode %d",
                              pszMethod, __LINE__, strPath.c_str(), nLastError());
            return nResult;
        }
    }
    int nResult = nGetPDChipVendor(nPhysicalDrive);
    if (nResult != 0) {
        vDEBUG_ERR_printf("%s:%d: nGetPDChipVendor Fail , strPhysicalAddress:[%s] ,  dwErrorCode %d", pszMethod,
                          __LINE__, strPath.c_str(), nLastError());
        return nResult;
    }
    if (m_nPDChipVendor == PD_VENDOR_CCG3 || m_nPDChipVendor == PD_VENDOR_CCG) {
        nResult = nGetCCG3DeviceMode(nPhysicalDrive);
        if (nResult != 0)
            vDEBUG_ERR_printf("%s:%d: nGetCCG3DeviceMode Fail , strPhysicalAddress:[%s] ,  dwErrorCode %d", pszMethod,
                              __LINE__, strPath.c_str(), nLastError());
    }
    return nResult;
}

int CPowerDelivery::nGetPDFWVersion(int nPhysicalDrive)
{
    const char* pszMethod = "CPowerDelivery::nGetPDFWVersion";
    std::string strPDVersion = "NULL", strMCUVersion = "NULL";
    CPDDrive drive(nPhysicalDrive, pszMethod);
    if (!drive.bIsOpen())
        return -1;
    int nResult = 0;
    if (m_nPDChipVendor == PD_VENDOR_RICHTEK) {
        uint8_t ucVersion[RICHTEK_VERSION_LENGTH] = {};
        nResult = SCSI6390_PDVendorCmd(drive.get(), ACCESS_READ, PD_FW_VERSION, 0, 0, ucVersion, sizeof ucVersion);
        if (nResult == 0) {
            char szText[8];
            std::snprintf(szText, sizeof szText, "%02X%02X", ucVersion[1], ucVersion[0]);
            strPDVersion = szText;
        } else {
            vDEBUG_ERR_printf("%s:%d: SCSI6390_PDVendorCmd RichTek PD_FW_VERSION Fail , strPhysicalAddress:[%s] ,  "
                              "dwErrorCode %d",
                              pszMethod, __LINE__, drive.path().c_str(), nLastError());
        }
    } else if (m_nPDChipVendor == PD_VENDOR_CYPRESS || m_nPDChipVendor == PD_VENDOR_CCG3 ||
               m_nPDChipVendor == PD_VENDOR_CCG) {
        uint8_t ucSub = 0;
        if (m_nPDChipVendor == PD_VENDOR_CYPRESS || m_ucCCG3DeviceMode == 1)
            ucSub = CYPRESS_PD_FW_VERSION;
        else if (m_ucCCG3DeviceMode == 2)
            ucSub = CYPRESS_PD_CCG3_FW_VERSION;
        if (ucSub) {
            uint8_t ucVersion[PD_VERSION_LENGTH] = {};
            nResult = SCSI6390_PDVendorCmd(drive.get(), ACCESS_READ, ucSub, PD_CONTROL_VALUE, 0, ucVersion,
                                           sizeof ucVersion);
            if (nResult == 0) {
                char szText[20];
                std::snprintf(szText, sizeof szText, "%02X%02X%02X%02X%02X%02X%02X%02X", ucVersion[0], ucVersion[1],
                              ucVersion[2], ucVersion[3], ucVersion[4], ucVersion[5], ucVersion[6], ucVersion[7]);
                strPDVersion = szText;
            } else {
                vDEBUG_ERR_printf("%s:%d: SCSI6390_PDVendorCmd CYPress PD_FW_VERSION Fail , strPhysicalAddress:[%s] ,"
                                  "  dwErrorCode %d",
                                  pszMethod, __LINE__, drive.path().c_str(), nLastError());
            }
        }
    }
    if (m_ucMCUUpdateEnable && m_nMCUChipVendor == MCU_VENDOR_STM)
        strMCUVersion = "FFFF";
    m_strVersion = strPDVersion;
    if (m_ucMCUUpdateEnable)
        m_strVersion = m_ucPDUpdateEnable ? strPDVersion + "/" + strMCUVersion : strMCUVersion;
    return nResult;
}

std::string CPowerDelivery::strGetPDFWVersionFromFile(const std::string& strPath)
{
    const char* pszMethod = "CPowerDelivery::strGetPDFWVersionFromFile";
    if (m_ucPDUpdateEnable && !strPath.empty())
        m_ucPDFileKind = ucPDFileKindOfPath(strPath);
    if (m_ucMCUUpdateEnable && bIsMCUFilePath(strPath))
        m_ucMCUFileKind = MCU_FILE_HEX;
    std::string strContent;
    if (!bReadWholeFile(strPath, strContent))
        return PD_VERSION_NONE;
    bool bSizeRefused = false;
    const std::string strVersion =
        strPDVersionOfContent(m_ucPDFileKind, strContent, PDRulesOfPowerDelivery(m_nPDChipVendor), bSizeRefused);
    if (bSizeRefused) {
        vDEBUG_ERR_printf("%s:%d: The PD FW file size is uncompatibie!!! [%x]", pszMethod, __LINE__,
                          static_cast<unsigned>(strContent.size()));
        return PD_BIN_SIZE_MESSAGE;
    }
    return strVersion;
}

int CPowerDelivery::nCreatePDSPIROMBuffer(const std::string& strPath)
{
    const char* pszMethod = "CPowerDelivery::nCreatePDSPIROMBuffer";
    std::string strContent;
    if (!krv::pathAccessible(strPath, true, false) || !bReadWholeFile(strPath, strContent)) {
        vDEBUG_ERR_printf("%s:%d: The PD FW file is not exist[%s]", pszMethod, __LINE__, strPath.c_str());
        return -10;
    }
    // The kinds of the file given here, not of whichever file was examined
    // last: Start builds the PD image and then the MCU image through one
    // object, and a ".hex" read as a PD image would corrupt it.
    const uint8_t ucPDKind = m_ucPDUpdateEnable ? ucPDFileKindOfPath(strPath) : PD_FILE_UNKNOWN;
    const bool bMCU = m_ucMCUUpdateEnable && bIsMCUFilePath(strPath);
    if (ucPDKind == PD_FILE_UNKNOWN && !bMCU) {
        vDEBUG_ERR_printf("%s:%d: The PD FW file is Unknow", pszMethod, __LINE__);
        return -10;
    }
    if (ucPDKind == PD_FILE_BIN) {
        // A short or long image would be flashed with a hole or cut off.
        if (strContent.size() != PD_RICHTEK_ROM_SIZE) {
            vDEBUG_ERR_printf("%s:%d: The PD FW file size is uncompatibie!!! [%x]", pszMethod, __LINE__,
                              static_cast<unsigned>(strContent.size()));
            return -10;
        }
        m_ucPDROMBuffer.assign(strContent.begin(), strContent.end());
    } else if (ucPDKind == PD_FILE_CYACD &&
               (m_nPDChipVendor == PD_VENDOR_CCG3 || m_nPDChipVendor == PD_VENDOR_CCG)) {
        PDCypressImage& table = m_nPDChipVendor == PD_VENDOR_CCG3 ? m_RowTableA : m_RowTableB;
        PDCypressImage image;
        int nShortLine = 0;
        std::string strError;
        m_dwSiliconID = 0;
        m_ucSiliconRev = m_ucChecksumType = 0;
        table = PDCypressImage{};
        if (nParseCyacd(strContent, PDRulesOfPowerDelivery(m_nPDChipVendor), image, nShortLine, strError) != 0) {
            vDEBUG_ERR_printf("%s:%d: %s", pszMethod, __LINE__, strError.c_str());
            return -10;
        }
        m_dwSiliconID = image.dwSiliconID;
        m_ucSiliconRev = image.ucSiliconRev;
        m_ucChecksumType = image.ucChecksumType;
        m_ucShortRow = image.bShortRow ? 1 : 0;
        table = std::move(image);
    }
    if (bMCU) {
        std::vector<MCUHexRecord> records;
        std::string strError;
        if (nParseIntelHex(strContent, "CPowerDelivery", records, strError) != 0) {
            vDEBUG_ERR_printf("%s:%d: %s", pszMethod, __LINE__, strError.c_str());
            return -10;
        }
        m_MCUImage = std::move(records);
    }
    return 0;
}
