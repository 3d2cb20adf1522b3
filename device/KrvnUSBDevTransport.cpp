// The bridges' vendor command set over SCSI pass-through. Every routine
// builds one request, sends it on an open drive and judges the answer: the
// transport must succeed and the SCSI status must be 0 (sense data is never
// examined). Nothing here keeps state; writes are never retried here (their
// callers own that policy), failed register reads are.
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "device/DebugLog.h"
#include "device/KRV752xNVME.h"
#include "device/KrvnUSBDev.h"
#include "device/KrvnUSBDevIdentify.h"
#include "device/KrvnUSBDevRequest.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }
void* pv(HANDLE hDev) { return static_cast<void*>(hDev); }

// An image read or write: a write's data goes out with the command, a read's
// comes back after it only when the command succeeded.
bool bSendImageTransfer(CPassThroughRequest& request, HANDLE hDev, uint8_t ReadWrite, uint8_t* pBuf, uint32_t dwLen)
{
    const bool bWrite = ReadWrite == ACCESS_WRITE;
    request.vSetTransfer(bWrite ? krv::DataDirection::Out : krv::DataDirection::In, dwLen,
                         bWrite ? SCSI_TIMEOUT_WRITE : SCSI_TIMEOUT_READ);
    if (bWrite)
        std::memcpy(request.data(), pBuf, dwLen);
    request.bSend(hDev);
    if (!request.bSucceeded())
        return false;
    if (!bWrite)
        std::memcpy(pBuf, request.data(), dwLen);
    return true;
}

// A register read: when the transport fails, the same request goes out up
// to REGISTER_READ_RETRIES more times, REGISTER_RETRY_DELAY_MS apart.
bool bSendRegisterRead(CPassThroughRequest& request, HANDLE hDev, const char* pszMethod)
{
    if (request.bSend(hDev))
        return true;
    for (int nRetry = 1; nRetry <= REGISTER_READ_RETRIES; ++nRetry) {
        krv::Platform::current().clock().sleepMs(REGISTER_RETRY_DELAY_MS);
        request.vZeroData();
        if (request.bSend(hDev)) {
            vDEBUG_MSG_printf("%s:%d: ::DeviceIoControl success after retry: %d", pszMethod, __LINE__, nRetry);
            return true;
        }
    }
    return false;
}

// The routine's own name, as its failure lines begin: the trace name
// without its class.
const char* pszRoutine(const char* pszMethod)
{
    const char* pszName = std::strrchr(pszMethod, ':');
    return pszName ? pszName + 1 : pszMethod;
}

int nAccessRegister(const char* pszMethod, HANDLE hDev, uint8_t ReadWrite, uint8_t ucPage, uint16_t wAddress,
                    uint8_t* pBuf, uint32_t dwLen)
{
    // A zero-length read would go out as the byte 00, which asks for 256
    // bytes; a write sends its one byte whatever the length says.
    if (!bIsValidHandle(hDev) || ReadWrite > ACCESS_WRITE || !pBuf || (ReadWrite == ACCESS_READ && dwLen == 0) ||
        dwLen > REGISTER_ACCESS_MAX) {
        vDEBUG_ERR_printf("%s:%d: (hDev == NULL) or (dwTotalLen != CONFIG_BIN_SIZE)  hDev:%p , ReadWrite:%x , "
                          "BufLen:%x , dwErrorCode:%x  ",
                          pszMethod, __LINE__, pv(hDev), ReadWrite, dwLen, nLastError());
        return SCSI_RESULT_BAD_ARGUMENT;
    }
    const uint8_t ucAddrH = static_cast<uint8_t>(wAddress >> 8);
    const uint8_t ucAddrL = static_cast<uint8_t>(wAddress);
    try {
        CPassThroughRequest request;
        if (ReadWrite == ACCESS_WRITE) {
            request.vSetCdb({0xE5, pBuf[0], ucPage, ucAddrH, ucAddrL, 0x00}, 6);
            request.vSetTransfer(krv::DataDirection::Out, 0, SCSI_TIMEOUT_WRITE);
            request.bSend(hDev);
            if (!request.bSucceeded()) {
                // The older bridges' write line never named its routine.
                const bool bNamed = ucPage != 0;
                vDEBUG_ERR_printf("%s:%d: %s%s(status = Fail) hDev:%p , ReadWrite:%x , dwTotalLen:%x , status:%x , "
                                  "ScsiStatus:%x , dwErrorCode:%x  ",
                                  pszMethod, __LINE__, bNamed ? pszRoutine(pszMethod) : "", bNamed ? ": " : "",
                                  pv(hDev), ReadWrite, dwLen, request.bTransportOk(), request.ucScsiStatus(),
                                  nLastError());
                return SCSI_RESULT_FAIL;
            }
            return SCSI_RESULT_OK;
        }
        std::memset(pBuf, 0, dwLen);
        request.vSetCdb({0xE4, static_cast<uint8_t>(dwLen & 0xFF), ucPage, ucAddrH, ucAddrL, 0x00}, 6);
        request.vSetTransfer(krv::DataDirection::In, dwLen, SCSI_TIMEOUT_READ);
        bSendRegisterRead(request, hDev, pszMethod);
        if (!request.bSucceeded()) {
            std::memset(pBuf, 0, dwLen);
            vDEBUG_ERR_printf("%s:%d: %s: (status = Fail) hDev:%p , ReadWrite:%x , BufLen:%x , status:%x , "
                              "ScsiStatus:%x , dwErrorCode:%x  ",
                              pszMethod, __LINE__, pszRoutine(pszMethod), pv(hDev), ReadWrite, dwLen,
                              request.bTransportOk(), request.ucScsiStatus(), nLastError());
            return SCSI_RESULT_FAIL;
        }
        std::memcpy(pBuf, request.data(), dwLen);
        return SCSI_RESULT_OK;
    } catch (...) {
        if (ReadWrite == ACCESS_READ)
            std::memset(pBuf, 0, dwLen);
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", pszMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

// A 128-byte configuration image, read or written, with the given CDB
// bytes 1 and 2 (and 3).
int nAccessConfig(const char* pszMethod, HANDLE hDev, uint8_t ReadWrite, uint8_t* pBuf, uint32_t dwLen,
                  std::initializer_list<uint8_t> readCdb, std::initializer_list<uint8_t> writeCdb)
{
    // A ReadWrite other than 0 or 1 would send a write of an empty image.
    if (!bIsValidHandle(hDev) || ReadWrite > ACCESS_WRITE || !pBuf || dwLen != CONFIG_BIN_SIZE) {
        vDEBUG_ERR_printf("%s:%d: %s: (hDev == NULL) or (BufLen != CONFIG_BIN_SIZE)  hDev:%p , ReadWrite:%x , "
                          "BufLen:%x , dwErrorCode:%x  ",
                          pszMethod, __LINE__, pszRoutine(pszMethod), pv(hDev), ReadWrite, dwLen, nLastError());
        return SCSI_RESULT_BAD_ARGUMENT;
    }
    try {
        CPassThroughRequest request;
        request.vSetCdb(ReadWrite == ACCESS_WRITE ? writeCdb : readCdb, 6);
        if (!bSendImageTransfer(request, hDev, ReadWrite, pBuf, CONFIG_BIN_SIZE)) {
            vDEBUG_ERR_printf("%s:%d: %s: (status = FAIL) hDev:%p , ReadWrite:%x , BufLen:%x , status:%x , "
                              "ScsiStatus:%x , dwErrorCode:%x  ",
                              pszMethod, __LINE__, pszRoutine(pszMethod), pv(hDev), ReadWrite, dwLen,
                              request.bTransportOk(), request.ucScsiStatus(), nLastError());
            return SCSI_RESULT_FAIL;
        }
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", pszMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

// STANDBY IMMEDIATE / FLUSH CACHE through ATA PASS-THROUGH(12), non-data,
// on a drive opened here.
bool bSendAtaNonData(const char* pszMethod, const char* pszName, int nPhysicalDrive, uint8_t ucAtaCommand)
{
    CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nPhysicalDrive));
    if (!hDev.bIsValid()) {
        vDEBUG_ERR_printf("%s:%d: %s: CreateFile Fail [%d] , dwErrorCode %d", pszMethod, __LINE__, pszName,
                          nPhysicalDrive, nLastError());
        return false;
    }
    try {
        CPassThroughRequest request;
        request.vSetCdb({0xA1, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, ucAtaCommand, 0x00, 0x00}, 12);
        request.vSetTransfer(krv::DataDirection::Out, 0, SCSI_TIMEOUT_ATA);
        request.bSend(hDev.get());
        if (!request.bSucceeded()) {
            vDEBUG_ERR_printf("%s:%d: %s: IOCTL_SCSI_PASS_THROUGH Fail [%d] , dwErrorCode %d", pszMethod, __LINE__,
                              pszName, nPhysicalDrive, nLastError());
            return false;
        }
        return true;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", pszMethod, __LINE__, nLastError());
        return false;
    }
}

// IDENTIFY DEVICE through ATA PASS-THROUGH(12) into a 512-byte buffer.
bool bAtaIdentify(HANDLE hDev, uint8_t* pIdentify)
{
    CPassThroughRequest request;
    request.vSetCdb({0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00}, 12);
    request.vSetTransfer(krv::DataDirection::In, ATA_IDENTIFY_SIZE, SCSI_TIMEOUT_ATA);
    request.bSend(hDev);
    if (!request.bSucceeded())
        return false;
    std::memcpy(pIdentify, request.data(), ATA_IDENTIFY_SIZE);
    return true;
}

}  // namespace

int CKrvnUSBDev::SCSI6390_Inquiry(HANDLE hDev, uint8_t* pBuf, uint8_t ucLen)
{
    static const char* const kMethod = "CKrvnUSBDev::SCSI6390_Inquiry";
    if (!pBuf)
        return SCSI_RESULT_BAD_ARGUMENT;
    std::memset(pBuf, 0, ucLen);
    try {
        CPassThroughRequest request;
        // The command goes out with a 12-byte CDB, as the bridges have
        // always been sent it.
        request.vSetCdb({0x12, 0x00, 0x00, 0x00, ucLen, 0x00}, 12);
        request.vSetTransfer(krv::DataDirection::In, ucLen, SCSI_TIMEOUT_READ);
        request.bSend(hDev);
        if (!request.bSucceeded()) {
            vDEBUG_ERR_printf("%s:%d: SCSI_Inquiry: IOCTL_SCSI_PASS_THROUGH Fail , sptwb.spt.ScsiStatus=%d,  "
                              "dwErrorCode %d",
                              kMethod, __LINE__, request.ucScsiStatus(), nLastError());
            return SCSI_RESULT_FAIL;
        }
        std::memcpy(pBuf, request.data(), ucLen);
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

int CKrvnUSBDev::SCSI6390_AccessConfigEEPROM(HANDLE hDev, uint8_t ReadWrite, uint8_t* pBuf, uint32_t dwLen,
                                             uint8_t ucCdb1, uint8_t ucCdb2)
{
    return nAccessConfig("CKrvnUSBDev::SCSI6390_AccessConfigEEPROM", hDev, ReadWrite, pBuf, dwLen,
                         {0xE0, ucCdb1, ucCdb2, 0x5A, 0x00, 0x00}, {0xE1, ucCdb1, ucCdb2, 0x5A, 0x00, 0x00});
}

int CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(HANDLE hDev, uint8_t ReadWrite, uint8_t* pBuf, uint32_t dwLen,
                                             uint8_t ucImage, uint8_t ucConfigType)
{
    static const char* const kMethod = "CKrvnUSBDev::SCSI8574_AccessConfigEEPROM";
    // Only the two banks and the two table types exist on the bridge.
    if (ucImage > 1 || ucConfigType > CONFIG_TYPE_U4) {
        vDEBUG_ERR_printf("%s:%d: SCSI8574_AccessConfigEEPROM: image %d / type %d not valid , hDev:%p", kMethod,
                          __LINE__, ucImage, ucConfigType, pv(hDev));
        return SCSI_RESULT_BAD_ARGUMENT;
    }
    const uint8_t ucBank = static_cast<uint8_t>(0x50 + ucImage);
    return nAccessConfig(kMethod, hDev, ReadWrite, pBuf, dwLen, {0xE0, ucBank, ucConfigType, 0x00, 0x00, 0x00},
                         {0xE1, ucBank, ucConfigType, 0x00, 0x00, 0x00});
}

int CKrvnUSBDev::SCSI7522_FactoryConfigure_Read(HANDLE hDev, uint8_t* pBuf)
{
    static const char* const kMethod = "CKrvnUSBDev::SCSI7522_FactoryConfigure_Read";
    if (!bIsValidHandle(hDev) || !pBuf)
        return SCSI_RESULT_BAD_ARGUMENT;
    try {
        CPassThroughRequest request;
        request.vSetCdb({0x12, 0x01, 0xC8, 0x00, 0x81, 0x00}, 6);
        request.vSetTransfer(krv::DataDirection::In, FACTORY_PAGE_SIZE, SCSI_TIMEOUT_WRITE);
        request.bSend(hDev);
        if (!request.bSucceeded()) {
            vDEBUG_ERR_printf("%s:%d: SCSI7522_FactoryConfigure_Read: (status = FAIL) hDev:%p , status:%x , "
                              "ScsiStatus:%x , dwErrorCode:%x  ",
                              kMethod, __LINE__, pv(hDev), request.bTransportOk(), request.ucScsiStatus(),
                              nLastError());
            return SCSI_RESULT_FAIL;
        }
        std::memcpy(pBuf, request.data(), FACTORY_PAGE_SIZE);
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

int CKrvnUSBDev::SCSI7522_FactoryConfigure_PowerConfigWrite(HANDLE hDev, const uint8_t* pBuf)
{
    static const char* const kMethod = "CKrvnUSBDev::SCSI7522_FactoryConfigure_PowerConfigWrite";
    if (!bIsValidHandle(hDev) || !pBuf)
        return SCSI_RESULT_BAD_ARGUMENT;
    try {
        CPassThroughRequest request;
        request.vSetCdb({0xC3, 0x30, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x30, 0x00}, 11);
        request.vSetTransfer(krv::DataDirection::Out, POWER_CONFIG_SIZE, SCSI_TIMEOUT_WRITE);
        std::memcpy(request.data(), pBuf, POWER_CONFIG_SIZE);
        request.bSend(hDev);
        if (!request.bSucceeded()) {
            vDEBUG_ERR_printf("%s:%d: SCSI7522_FactoryConfigure_PowerConfigWrite: (status = FAIL) hDev:%p , "
                              "status:%x , ScsiStatus:%x , dwErrorCode:%x  ",
                              kMethod, __LINE__, pv(hDev), request.bTransportOk(), request.ucScsiStatus(),
                              nLastError());
            return SCSI_RESULT_FAIL;
        }
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

int CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(HANDLE hDev, uint8_t ReadWrite, uint8_t* pBuf,
                                                      uint32_t dwLen, uint8_t ucImage, uint8_t ucPart)
{
    static const char* const kMethod = "CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct";
    // Only the two images' two regions exist, and one command moves at most
    // FW_TRANSFER_MAX bytes; anything else would reach the EEPROM as an
    // undefined selector or length.
    if (!bIsValidHandle(hDev) || ReadWrite > ACCESS_WRITE || !pBuf || dwLen == 0 || dwLen > FW_TRANSFER_MAX ||
        ucImage > 1 || ucPart > FW_PART_SECOND) {
        vDEBUG_ERR_printf("%s:%d: SCSI8574_AccessFirmwareEEPROM_Direct: (hDev == NULL) or (BufLen != "
                          "CONFIG_BIN_SIZE)  hDev:%p , ReadWrite:%x , BufLen:%x , dwErrorCode:%x  ",
                          kMethod, __LINE__, pv(hDev), ReadWrite, dwLen, nLastError());
        return SCSI_RESULT_BAD_ARGUMENT;
    }
    const uint8_t ucSelector =
        ucPart == FW_PART_FIRST ? static_cast<uint8_t>(0x50 + ucImage) : static_cast<uint8_t>(0xD0 + ucImage);
    const uint8_t ucOpcode = ReadWrite == ACCESS_WRITE ? 0xE3 : 0xE2;
    try {
        CPassThroughRequest request(dwLen);
        request.vSetCdb({ucOpcode, ucSelector, static_cast<uint8_t>(dwLen >> 24), static_cast<uint8_t>(dwLen >> 16),
                         static_cast<uint8_t>(dwLen >> 8), static_cast<uint8_t>(dwLen)},
                        6);
        if (!bSendImageTransfer(request, hDev, ReadWrite, pBuf, dwLen)) {
            vDEBUG_ERR_printf("%s:%d: SCSI8574_AccessFirmwareEEPROM_Direct: (status = FAIL) hDev:%p , ReadWrite:%x , "
                              "BufLen:%x , status:%x , ScsiStatus:%x , dwErrorCode:%x  ",
                              kMethod, __LINE__, pv(hDev), ReadWrite, dwLen, request.bTransportOk(),
                              request.ucScsiStatus(), nLastError());
            return SCSI_RESULT_FAIL;
        }
        return SCSI_RESULT_OK;
    } catch (...) {
        // An allocation that failed: nothing was sent, and that is a failure.
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

int CKrvnUSBDev::SCSI8574_CPURST(HANDLE hDev, uint8_t ucCode)
{
    static const char* const kMethod = "CKrvnUSBDev::SCSI8574_CPURST";
    if (!bIsValidHandle(hDev)) {
        vDEBUG_ERR_printf("%s:%d: SCSI8574_CPURST: hDev not valid , dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
    try {
        CPassThroughRequest request;
        request.vSetCdb({0xE8, ucCode, 0x00, 0x00, 0x00, 0x00}, 6);
        request.vSetTransfer(krv::DataDirection::In, 0, SCSI_TIMEOUT_CPURST);
        request.bSend(hDev);
        if (!request.bSucceeded()) {
            vDEBUG_ERR_printf("%s:%d: SCSI8574_CPURST: IOCTL_SCSI_PASS_THROUGH Fail , dwErrorCode %d, ScsiStatus:%d",
                              kMethod, __LINE__, nLastError(), request.ucScsiStatus());
            return SCSI_RESULT_FAIL;
        }
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

int CKrvnUSBDev::SCSI6390_AccessRegister(HANDLE hDev, uint8_t ReadWrite, uint16_t wAddress, uint8_t* pBuf,
                                         uint32_t dwLen)
{
    return nAccessRegister("CKrvnUSBDev::SCSI6390_AccessRegister", hDev, ReadWrite, 0x00, wAddress, pBuf, dwLen);
}

int CKrvnUSBDev::SCSI8574_AccessRegister(HANDLE hDev, uint8_t ReadWrite, uint32_t dwAddress, uint8_t* pBuf,
                                         uint32_t dwLen)
{
    // The 857x keeps registers above 0xFFFF in a second page; the command
    // carries the page and the low 16 bits of the address.
    const uint8_t ucPage = dwAddress > 0xFFFF ? 0x51 : 0x50;
    return nAccessRegister("CKrvnUSBDev::SCSI8574_AccessRegister", hDev, ReadWrite, ucPage,
                           static_cast<uint16_t>(dwAddress & 0xFFFF), pBuf, dwLen);
}

bool CKrvnUSBDev::bSendStandbyImmediate(int nPhysicalDrive)
{
    return bSendAtaNonData("CKrvnUSBDev::bSendStandbyImmediate", "bSendStandByImmediate", nPhysicalDrive, 0xE0);
}

bool CKrvnUSBDev::bSendFlushCache(int nPhysicalDrive)
{
    return bSendAtaNonData("CKrvnUSBDev::bSendFlushCache", "bSendFlushCache", nPhysicalDrive, 0xE7);
}

int CKrvnUSBDev::ATAPassThrough_GetHDSerialNumber(HANDLE hDev, std::string& strSN)
{
    static const char* const kMethod = "CKrvnUSBDev::ATAPassThrough_GetHDSerialNumber";
    if (!bIsValidHandle(hDev)) {
        vDEBUG_ERR_printf("%s:%d:  (hDev == NULL) ", kMethod, __LINE__);
        return SCSI_RESULT_BAD_ARGUMENT;
    }
    try {
        uint8_t ucIdentify[ATA_IDENTIFY_SIZE];
        if (!bAtaIdentify(hDev, ucIdentify)) {
            vDEBUG_ERR_printf("%s:%d: IDENTIFY DEVICE Fail , dwErrorCode %d", kMethod, __LINE__, nLastError());
            return SCSI_RESULT_FAIL;
        }
        strSN += strAtaIdentifyText(ucIdentify, ATA_SERIAL_WORD, ATA_SERIAL_WORDS);
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

int CKrvnUSBDev::ATAPassThrough_GetHDDFW(HANDLE hDev, std::string& strFW)
{
    static const char* const kMethod = "CKrvnUSBDev::ATAPassThrough_GetHDDFW";
    if (!bIsValidHandle(hDev)) {
        vDEBUG_ERR_printf("%s:%d: ATAPassThrough_GetHDDFW: (hDev == NULL) ", kMethod, __LINE__);
        return SCSI_RESULT_BAD_ARGUMENT;
    }
    try {
        uint8_t ucIdentify[ATA_IDENTIFY_SIZE];
        if (!bAtaIdentify(hDev, ucIdentify)) {
            vDEBUG_ERR_printf("%s:%d: IDENTIFY DEVICE Fail , dwErrorCode %d", kMethod, __LINE__, nLastError());
            return SCSI_RESULT_FAIL;
        }
        strFW += strAtaIdentifyText(ucIdentify, ATA_FIRMWARE_WORD, ATA_FIRMWARE_WORDS);
        if (strFW.empty()) {
            vDEBUG_ERR_printf("%s:%d: (strFW.GetLength()[%s] <= 0", kMethod, __LINE__, strFW.c_str());
            return SCSI_RESULT_FAIL;
        }
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

int CKrvnUSBDev::ATAPassThrough_GetSSDSerialNumber(int nPhysicalDrive, std::string& strSN)
{
    static const char* const kMethod = "CKrvnUSBDev::ATAPassThrough_GetSSDSerialNumber";
    strSN.clear();
    CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nPhysicalDrive));
    if (!hDev.bIsValid()) {
        // No drive is no serial number, and a failure, not an empty success.
        vDEBUG_MSG_printf("%s:%d: ATAPassThrough_GetSSDSerialNumber: CreateFile Fail [%d] , dwErrorCode %d", kMethod,
                          __LINE__, nPhysicalDrive, nLastError());
        return SCSI_RESULT_FAIL;
    }
    try {
        std::vector<uint8_t> identify(NVME_IDENTIFY_SIZE);
        int iResult = CKRV752xNVME::NVME_GetIdentify(hDev.get(), identify.data(), NVME_CNS_CONTROLLER);
        if (iResult != SCSI_RESULT_OK) {
            vDEBUG_MSG_printf("%s:%d: ATAPassThrough_GetSSDSerialNumber: (status = FAIL) fHandle:%p , status:%x , "
                              "ScsiStatus:%x , dwErrorCode:%x  ",
                              kMethod, __LINE__, pv(hDev.get()), iResult, 0, nLastError());
            return SCSI_RESULT_FAIL;
        }
        strSN = strNvmeIdentifyText(identify.data(), NVME_SERIAL_OFFSET, NVME_SERIAL_LENGTH);
        for (char& c : strSN)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}
