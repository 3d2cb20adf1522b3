#include "device/SHA256.h"

#include <cstring>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/KrvnUSBDevRequest.h"
#include "platform/LastError.h"

namespace {

// FIPS 180-4, 5.3.3.
constexpr uint32_t kInitialHash[SHA256_KEY_WORDS] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                                     0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};

int nLastError() { return static_cast<int>(krv::lastError()); }

}  // namespace

CSHA256::CSHA256() : m_dwCount{}, m_ucBlock{}
{
    std::memcpy(m_dwKey, kInitialHash, sizeof m_dwKey);
    std::memcpy(m_dwInitial, kInitialHash, sizeof m_dwInitial);
}

uint32_t CSHA256::nGetKeyWord(int nIndex) const
{
    if (nIndex < 1 || nIndex > SHA256_KEY_WORDS)
        return 0xFFFFFFFF;
    return m_dwKey[nIndex - 1];
}

void CSHA256::vGetKeyBytes(uint8_t* pKey) const
{
    for (int i = 0; i < SHA256_KEY_WORDS; ++i) {
        const uint32_t dwWord = nGetKeyWord(i + 1);
        pKey[4 * i] = static_cast<uint8_t>(dwWord >> 24);
        pKey[4 * i + 1] = static_cast<uint8_t>(dwWord >> 16);
        pKey[4 * i + 2] = static_cast<uint8_t>(dwWord >> 8);
        pKey[4 * i + 3] = static_cast<uint8_t>(dwWord);
    }
}

int CSHA256::SCSI6390_SHA256_SendKey(HANDLE hDev, const uint8_t* pKey)
{
    static const char* const kMethod = "CSHA256::SCSI6390_SHA256_SendKey";
    if (!bIsValidHandle(hDev) || !pKey)
        return SCSI_RESULT_BAD_ARGUMENT;
    try {
        CPassThroughRequest request;
        request.vSetCdb({0xE9, 0x00, 0x00, 0x00, 0x00, 0x00}, 6);
        request.vSetTransfer(krv::DataDirection::Out, SHA256_KEY_SIZE, SCSI_TIMEOUT_WRITE);
        std::memcpy(request.data(), pKey, SHA256_KEY_SIZE);
        request.bSend(hDev);
        if (!request.bSucceeded()) {
            vDEBUG_ERR_printf("%s:%d:  (status = FAIL) hDev:%p , status:%x , ScsiStatus:%x , dwErrorCode:%x  ", kMethod,
                              __LINE__, static_cast<void*>(hDev), request.bTransportOk(), request.ucScsiStatus(),
                              nLastError());
            return SCSI_RESULT_FAIL;
        }
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}

int CSHA256::SCSI6390_SHA256_VerifyKey(HANDLE hDev, uint8_t* pucVerdict, uint8_t ucImage)
{
    static const char* const kMethod = "CSHA256::SCSI6390_SHA256_VerifyKey";
    if (!pucVerdict)
        return SCSI_RESULT_BAD_ARGUMENT;
    // No answer is a failed check, never a verdict left from before.
    *pucVerdict = 0;
    if (!bIsValidHandle(hDev) || ucImage > 1)
        return SCSI_RESULT_BAD_ARGUMENT;
    try {
        CPassThroughRequest request;
        request.vSetCdb({0xE9, 0x01, ucImage, 0x00, 0x00, 0x00}, 6);
        request.vSetTransfer(krv::DataDirection::In, 1, SCSI_TIMEOUT_WRITE);
        request.bSend(hDev);
        if (!request.bSucceeded()) {
            vDEBUG_ERR_printf("%s:%d: SCSI6390_SHA256_VerifyKey: (status = FAIL) hDev:%p , status:%x , ScsiStatus:%x , "
                              "dwErrorCode:%x  ",
                              kMethod, __LINE__, static_cast<void*>(hDev), request.bTransportOk(),
                              request.ucScsiStatus(), nLastError());
            return SCSI_RESULT_FAIL;
        }
        *pucVerdict = request.data()[0];
        return SCSI_RESULT_OK;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kMethod, __LINE__, nLastError());
        return SCSI_RESULT_FAIL;
    }
}
