// The SHA-256 initial key as the port workers use it: send the key to a
// bridge, ask its verdict on a written image, and ask whether it supports
// keys at all.
#include <memory>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/SHA256.h"
#include "platform/LastError.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// Bit 3 clear in this register: the bridge supports the key.
constexpr uint16_t REG_SHA256_FEATURE = 0xC8D1;

}  // namespace

uint8_t CKrvnUSBDev::vSHA256_SendKey(uint8_t ucTargetNumber)
{
    static const char* const kMethod = "CKrvnUSBDev::vSHA256_SendKey";
    try {
        auto pSHA256 = std::make_unique<CSHA256>();
        CDriveHandle hDev = hOpenTarget(ucTargetNumber);
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: vSHA256_SendKey: [%d] CreateFile Fail , dwErrorCode %d", kMethod, __LINE__,
                              ucTargetNumber, nLastError());
            return 0;
        }
        uint8_t ucKey[SHA256_KEY_SIZE];
        pSHA256->vGetKeyBytes(ucKey);
        int iResult = pSHA256->SCSI6390_SHA256_SendKey(hDev.get(), ucKey);
        if (iResult != SCSI_RESULT_OK) {
            vDEBUG_ERR_printf("%s:%d: vSHA256_SendKey: [%d] SCSI6390_AccessEEPROM Fail , iResult %d dwErrorCode %d",
                              kMethod, __LINE__, ucTargetNumber, iResult, nLastError());
            return 0;
        }
        return 1;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucTargetNumber : %d , dwErrorCode %d", kMethod, __LINE__,
                          ucTargetNumber, nLastError());
        return 0;
    }
}

uint8_t CKrvnUSBDev::vSHA256_VerifyKey(uint8_t ucTargetNumber, uint8_t ucImage)
{
    static const char* const kMethod = "CKrvnUSBDev::vSHA256_VerifyKey";
    try {
        auto pSHA256 = std::make_unique<CSHA256>();
        CDriveHandle hDev = hOpenTarget(ucTargetNumber);
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: vSHA256_VerifyKey: [%d] CreateFile Fail , dwErrorCode %d", kMethod, __LINE__,
                              ucTargetNumber, nLastError());
            return 0;
        }
        uint8_t ucVerdict = 0;
        int iResult = pSHA256->SCSI6390_SHA256_VerifyKey(hDev.get(), &ucVerdict, ucImage);
        if (iResult != SCSI_RESULT_OK) {
            vDEBUG_ERR_printf("%s:%d: vSHA256_VerifyKey: [%d] SCSI6390_AccessEEPROM Fail , iResult %d dwErrorCode %d",
                              kMethod, __LINE__, ucTargetNumber, iResult, nLastError());
            return 0;
        }
        vDEBUG_MSG_printf("%s:%d: vSHA256_VerifyKey: [%d], Image=[%d], Value=[%d]", kMethod, __LINE__, ucTargetNumber,
                          ucImage, ucVerdict);
        return ucVerdict;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucTargetNumber : %d , dwErrorCode %d", kMethod, __LINE__,
                          ucTargetNumber, nLastError());
        return 0;
    }
}

uint8_t CKrvnUSBDev::vCheckSupportSHA256(uint8_t ucTargetNumber)
{
    static const char* const kMethod = "CKrvnUSBDev::vCheckSupportSHA256";
    try {
        CDriveHandle hDev = hOpenTarget(ucTargetNumber);
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: vCheckSupportSHA256: [%d] CreateFile Fail , dwErrorCode %d", kMethod, __LINE__,
                              ucTargetNumber, nLastError());
            return 0;
        }
        // Every bridge family answers the 6390 register command here.
        uint8_t ucFeature = 0;
        int iResult = SCSI6390_AccessRegister(hDev.get(), ACCESS_READ, REG_SHA256_FEATURE, &ucFeature, 1);
        if (iResult != SCSI_RESULT_OK) {
            vDEBUG_ERR_printf("%s:%d: vCheckSupportSHA256: [%d] SCSI6390_AccessRegister Fail , iResult %d dwErrorCode "
                              "%d",
                              kMethod, __LINE__, ucTargetNumber, iResult, nLastError());
            return 0;
        }
        return (ucFeature & 0x08) ? 0 : 1;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...):  dwErrorCode %d", kMethod, __LINE__, nLastError());
        return 0;
    }
}
