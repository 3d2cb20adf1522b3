#include "device/KRV752xNVME.h"

#include <cstring>
#include <vector>

#include "device/DebugLog.h"
#include "device/KrvnUSBDevIdentify.h"
#include "device/KrvnUSBDevRequest.h"
#include "platform/LastError.h"

CKRV752xNVME g_NvmeDev;

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// One field of the Identify Controller data of the drive behind the bridge.
std::string strIdentifyField(const char* pszMethod, int nPhysicalDrive, size_t nOffset, size_t nLength)
{
    CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nPhysicalDrive));
    if (!hDev.bIsValid()) {
        vDEBUG_ERR_printf("%s:%d: CreateFile Fail [%d] , dwErrorCode %d", pszMethod, __LINE__, nPhysicalDrive,
                          nLastError());
        return std::string();
    }
    try {
        std::vector<uint8_t> identify(NVME_IDENTIFY_SIZE);
        if (CKRV752xNVME::NVME_GetIdentify(hDev.get(), identify.data(), NVME_CNS_CONTROLLER) != SCSI_RESULT_OK)
            return std::string();
        return strNvmeIdentifyText(identify.data(), nOffset, nLength);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", pszMethod, __LINE__, nLastError());
        return std::string();
    }
}

}  // namespace

int CKRV752xNVME::NVME_GetIdentify(HANDLE hDev, uint8_t* pBuf, uint8_t ucCNS)
{
    static const char* const kMethod = "CKRV752xNVME::NVME_GetIdentify";
    if (!pBuf)
        return SCSI_RESULT_BAD_ARGUMENT;
    try {
        CPassThroughRequest request;
        request.vSetCdb({0xE6, 0x06, 0x00, ucCNS}, 16);
        request.vSetTransfer(krv::DataDirection::In, NVME_IDENTIFY_SIZE, SCSI_TIMEOUT_WRITE);
        request.bSend(hDev);
        if (!request.bSucceeded()) {
            vDEBUG_ERR_printf("%s:%d: NVME_GetIdentify: (status = FAIL) hDev:%p , status:%x , ScsiStatus:%x , "
                              "dwErrorCode:%x  ",
                              kMethod, __LINE__, static_cast<void*>(hDev), request.bTransportOk(),
                              request.ucScsiStatus(), nLastError());
            return SCSI_RESULT_FAIL;
        }
        std::memcpy(pBuf, request.data(), NVME_IDENTIFY_SIZE);
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

std::string CKRV752xNVME::strGetNVMEFirmwareRevision(int nPhysicalDrive)
{
    return strIdentifyField("CKRV752xNVME::strGetNVMEFirmwareRevision", nPhysicalDrive, NVME_FIRMWARE_OFFSET,
                            NVME_FIRMWARE_LENGTH);
}

std::string CKRV752xNVME::strGetNVMESerialNumber(int nPhysicalDrive)
{
    return strIdentifyField("CKRV752xNVME::strGetNVMESerialNumber", nPhysicalDrive, NVME_SERIAL_OFFSET,
                            NVME_SERIAL_LENGTH);
}
