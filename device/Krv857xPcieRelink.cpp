// Image access with the byte-wise mailbox transfers, and the CPU reset that
// waits until its bridge has left the bus and is back, found by the relink
// signature the run wrote into its USB4 image.
#include <algorithm>
#include <cstring>

#include "device/DebugLog.h"
#include "device/DevList.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "platform/Platform.h"

namespace {

constexpr uint64_t kRelinkPauseMs = 1500;
constexpr uint64_t kRelinkLimitS = 60;
// How often a reset bridge's old place is read while it is still there.
constexpr uint64_t kLeavePollMs = 20;

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

bool CKrv857xPcieCtrl::bWaitLeftBus(const PcieTargetAddress& at, uint64_t ullLimitMs, const krv::StopSource* pStop)
{
    krv::Clock& clock = krv::Platform::current().clock();
    const uint64_t ullEndMs = clock.monotonicMs() + ullLimitMs;
    for (;;) {
        // An absent function reads all ones.
        if (wConfigReadWord(at.ucBus, at.ucDevice, at.ucFunction, 0) == 0xFFFF)
            return true;
        const uint64_t ullNowMs = clock.monotonicMs();
        if (ullNowMs >= ullEndMs || !clock.sleepMs(std::min(kLeavePollMs, ullEndMs - ullNowMs), pStop))
            return false;
    }
}

int CKrv857xPcieCtrl::CPURST(uint8_t ucTargetNumber, uint8_t ucRelink, uint8_t ucFuncCode, uint16_t wVendorID,
                             uint16_t wDeviceID, uint8_t bReadImage0, uint8_t bReadImage1, const krv::StopSource* pStop)
{
    static const char* const kMethod = "CKrv857xPcieCtrl::CPURST";
    krv::Clock& clock = krv::Platform::current().clock();
    // A target not in the list is not reset: there is nothing to wait for.
    if (!bTargetAccepted(ucTargetNumber))
        return pcie_CPURST(ucTargetNumber, ucFuncCode);
    const PcieTargetAddress before = m_TargetAddress[ucTargetNumber];
    // The reset's answer says nothing: it is not waited for. Whether the
    // bridge took it shows on the bus: it leaves and comes back. Until it
    // has left, its EEPROM already shows the signature while it still runs
    // the firmware it had, so nothing found before counts.
    pcie_CPURST(ucTargetNumber, ucFuncCode);
    bool bLeft = false;
    auto bPause = [&]() {
        const uint64_t ullEndMs = clock.monotonicMs() + kRelinkPauseMs;
        if (!bLeft && bWaitLeftBus(before, kRelinkPauseMs, pStop)) {
            bLeft = true;
            vDEBUG_MSG_printf("%s:%d: target:%d left the bus", kMethod, __LINE__, ucTargetNumber);
        }
        const uint64_t ullNowMs = clock.monotonicMs();
        return clock.sleepMs(ullNowMs >= ullEndMs ? 0 : ullEndMs - ullNowMs, pStop);
    };
    bool bGoOn = bPause();
    const uint64_t ullStartS = clock.monotonicMs() / 1000;
    while (bGoOn) {
        PcieTargetAddress address[PCIE_MAX_TARGETS];
        PcieTargetInfo info[PCIE_MAX_TARGETS];
        const int nFound = bLeft ? nScanTargetsInto(wVendorID, wDeviceID, address, info) : 0;
        for (int t = 0; t < nFound; ++t) {
            uint8_t ucImage[PCIE_CONFIG_BIN_SIZE] = {};
            if ((bReadImage0 || bReadImage1) && nConfigRead(address[t], ucImage, bReadImage0 ? 0 : 1, CONFIG_TYPE_U4) != 0)
                break;
            // The worker signs with its slot: a run never mixes USB and
            // PCIe ports, so the slot is the target number.
            if (ucImage[RELINK_SIG_OFFSET] != ucRelink || ucImage[RELINK_SIG_OFFSET + 1] != ucTargetNumber)
                continue;
            const PcieTargetAddress& at = address[t];
            vDEBUG_MSG_printf("%s:%d: found device BDF:%x,%x,%x", kMethod, __LINE__, at.ucBus, at.ucDevice,
                              at.ucFunction);
            m_TargetAddress[ucTargetNumber] = at;
            m_TargetInfo[ucTargetNumber] = info[t];
            return krv::pcie::kDone;
        }
        const uint64_t ullElapsedS = clock.monotonicMs() / 1000 - ullStartS;
        if (ullElapsedS > kRelinkLimitS) {
            if (!bLeft)
                vDEBUG_MSG_printf("%s:%d: target:%d never left the bus: the reset was not taken", kMethod, __LINE__,
                                  ucTargetNumber);
            vDEBUG_MSG_printf("%s:%d: relink time out:%d", kMethod, __LINE__, int(ullElapsedS));
            return krv::pcie::kNoAnswer;
        }
        bGoOn = bPause();
    }
    vDEBUG_MSG_printf("%s:%d: relink stopped", kMethod, __LINE__);
    return krv::pcie::kNoAnswer;
}
