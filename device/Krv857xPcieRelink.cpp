// Image access with the byte-wise mailbox transfers, and the CPU reset that
// waits until its bridge is back on the bus, found by the relink signature
// the run wrote into its USB4 image.
#include <cstring>

#include "device/DebugLog.h"
#include "device/DevList.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "platform/Platform.h"

namespace {

constexpr uint64_t kRelinkPauseMs = 1500;
constexpr uint64_t kRelinkLimitS = 60;

}  // namespace

int CKrv857xPcieCtrl::nByteImageTransfer(uint8_t ucTargetNumber, uint8_t bWriteRead, const uint8_t* pucCdb,
                                         uint8_t* pucBuffer, uint32_t dwBufLen)
{
    try {
        return bWriteRead == 1 ? pcie_W(ucTargetNumber, pucCdb, pucBuffer, dwBufLen)
                               : pcie_R(ucTargetNumber, pucCdb, pucBuffer, dwBufLen);
    } catch (...) {
        // A write that broke off is no write: the caller must not take the
        // image as stored.
        if (bWriteRead != 1 && pucBuffer && dwBufLen >= 4)
            std::memset(pucBuffer, 0, 4);
        return -1;
    }
}

int CKrv857xPcieCtrl::pcie_AccessConfigEEPROM(uint8_t ucTargetNumber, uint8_t bWriteRead, uint8_t* pucBuffer,
                                              uint32_t dwBufLen, uint8_t ucImage, uint8_t ucConfigType)
{
    const uint8_t cdb[8] = {uint8_t(bWriteRead == 1 ? 0xE1 : 0xE0), uint8_t(0x50 + ucImage), ucConfigType, 0, 0, 0, 0, 0};
    return nByteImageTransfer(ucTargetNumber, bWriteRead, cdb, pucBuffer, dwBufLen);
}

int CKrv857xPcieCtrl::pcie_AccessFirmwareEEPROM(uint8_t ucTargetNumber, uint8_t bWriteRead, uint8_t* pucBuffer,
                                                uint32_t dwBufLen, uint8_t ucImage)
{
    const uint8_t cdb[8] = {uint8_t(bWriteRead == 1 ? 0xE3 : 0xE2), uint8_t(0x50 + ucImage), uint8_t(dwBufLen >> 24),
                            uint8_t(dwBufLen >> 16), uint8_t(dwBufLen >> 8), uint8_t(dwBufLen), 0, 0};
    return nByteImageTransfer(ucTargetNumber, bWriteRead, cdb, pucBuffer, dwBufLen);
}

int CKrv857xPcieCtrl::CPURST(uint8_t ucTargetNumber, uint8_t ucRelink, uint8_t ucFuncCode, uint16_t wVendorID,
                             uint16_t wDeviceID, uint8_t bReadImage0, uint8_t bReadImage1, const krv::StopSource* pStop)
{
    static const char* const kMethod = "CKrv857xPcieCtrl::CPURST";
    krv::Clock& clock = krv::Platform::current().clock();
    // The bridge is reset whatever the command's answer: it is looked for
    // either way.
    pcie_CPURST(ucTargetNumber, ucFuncCode);
    bool bGoOn = clock.sleepMs(kRelinkPauseMs, pStop);
    const uint64_t ullStartS = clock.monotonicMs() / 1000;
    while (bGoOn) {
        PcieTargetAddress address[PCIE_MAX_TARGETS];
        PcieTargetInfo info[PCIE_MAX_TARGETS];
        const int nFound = nScanTargetsInto(wVendorID, wDeviceID, address, info);
        for (int t = 0; t < nFound; ++t) {
            uint8_t ucImage[PCIE_CONFIG_BIN_SIZE] = {};
            if ((bReadImage0 || bReadImage1) && nConfigRead(address[t], ucImage, bReadImage0 ? 0 : 1, CONFIG_TYPE_U4) != 0)
                break;
            if (ucImage[RELINK_SIG_OFFSET] != ucRelink || ucImage[RELINK_SIG_OFFSET + 1] != ucTargetNumber)
                continue;
            const PcieTargetAddress& at = address[t];
            vDEBUG_MSG_printf("%s:%d: found device BDF:%x,%x,%x", kMethod, __LINE__, at.ucBus, at.ucDevice,
                              at.ucFunction);
            if (bTargetAccepted(ucTargetNumber)) {
                m_TargetAddress[ucTargetNumber] = at;
                m_TargetInfo[ucTargetNumber] = info[t];
            }
            return krv::pcie::kDone;
        }
        const uint64_t ullElapsedS = clock.monotonicMs() / 1000 - ullStartS;
        if (ullElapsedS > kRelinkLimitS) {
            vDEBUG_MSG_printf("%s:%d: relink time out:%d", kMethod, __LINE__, int(ullElapsedS));
            return krv::pcie::kNoAnswer;
        }
        bGoOn = clock.sleepMs(kRelinkPauseMs, pStop);
    }
    vDEBUG_MSG_printf("%s:%d: relink stopped", kMethod, __LINE__);
    return krv::pcie::kNoAnswer;
}
