// The mailbox in a bridge's switch upstream port: an 8-byte command block,
// a 128-byte data window and a doorbell. The host writes the block, then
// for each chunk fills the window (data out) and rings, or rings and reads
// the window (data in); the bridge answers 0xA5 at the doorbell when the
// chunk is done. Every wait for the answer is bounded by a poll limit.
#include <algorithm>
#include <cstring>

#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "platform/Platform.h"

namespace {

constexpr uint16_t MAILBOX_WINDOW = 0x700;
constexpr uint16_t MAILBOX_CDB = 0x780;
constexpr uint16_t MAILBOX_DOORBELL = 0x790;
constexpr uint32_t MAILBOX_CHUNK = 128;
constexpr uint8_t DOORBELL_RING = 0x5A;
constexpr uint8_t DOORBELL_DONE = 0xA5;
constexpr uint8_t CMD_CPU_RESET = 0xE8;

// How each transfer polls the doorbell: the pause, on which polls it is
// taken, what a poll adds to the counter and the counter's limit.
struct PollRule {
    uint64_t ulPauseMs;
    uint32_t dwPauseEvery;
    uint32_t dwStep;
    uint32_t dwLimit;
    bool bTimeOutLine;  // "time out:%d" with the limit, else "polling limit:%d" with the count
};
constexpr PollRule POLL_W{1, 1, 1, 300, true};
constexpr PollRule POLL_WDW{1, 10, 1, 5000, false};
constexpr PollRule POLL_R{100, 1, 100, 500, true};
constexpr PollRule POLL_RDW{1, 10, 1, 50000, false};

}  // namespace

bool CKrv857xPcieCtrl::bTargetAccepted(uint8_t ucTargetNumber) const
{
    return ucTargetNumber < m_ucTargetCount && ucTargetNumber < PCIE_MAX_TARGETS;
}

int CKrv857xPcieCtrl::nTransfer(const PcieTargetAddress& at, const char* pszMethod, Direction dir, bool bDword,
                                const uint8_t* pucCdb, uint8_t* pucData, uint32_t dwLength)
{
    const uint8_t b = at.ucBus, d = at.ucDevice, f = at.ucFunction;
    std::lock_guard<std::mutex> mailbox(m_MailboxLock[b]);
    for (uint16_t i = 0; i < 8; ++i)
        vConfigWriteByte(b, d, f, uint16_t(MAILBOX_CDB + i), pucCdb[i]);
    if (dwLength == 0)
        return krv::pcie::kDone;
    const PollRule& rule = dir == Direction::Out ? (bDword ? POLL_WDW : POLL_W) : (bDword ? POLL_RDW : POLL_R);
    krv::Clock& clock = krv::Platform::current().clock();
    auto waitDone = [&]() {
        uint32_t dwPoll = 0;
        while (ucConfigReadByte(b, d, f, MAILBOX_DOORBELL) != DOORBELL_DONE) {
            if (dwPoll >= rule.dwLimit) {
                vDEBUG_MSG_printf(rule.bTimeOutLine ? "%s:%d: time out:%d" : "%s:%d: polling limit:%d", pszMethod,
                                  __LINE__, int(rule.bTimeOutLine ? rule.dwLimit : dwPoll));
                return false;
            }
            dwPoll += rule.dwStep;
            if ((dwPoll / rule.dwStep) % rule.dwPauseEvery == 0)
                clock.sleepMs(rule.ulPauseMs);
        }
        return true;
    };
    for (uint32_t offset = 0; offset < dwLength; offset += MAILBOX_CHUNK) {
        const uint32_t n = std::min(MAILBOX_CHUNK, dwLength - offset);
        uint8_t* chunk = pucData + offset;
        if (dir == Direction::Out) {
            uint32_t i = 0;
            if (bDword)
                for (; i + 4 <= n; i += 4)
                    vConfigWriteDword(b, d, f, uint16_t(MAILBOX_WINDOW + i),
                                      uint32_t(chunk[i]) | uint32_t(chunk[i + 1]) << 8 | uint32_t(chunk[i + 2]) << 16 |
                                          uint32_t(chunk[i + 3]) << 24);
            for (; i < n; ++i)
                vConfigWriteByte(b, d, f, uint16_t(MAILBOX_WINDOW + i), chunk[i]);
            vConfigWriteByte(b, d, f, MAILBOX_DOORBELL, DOORBELL_RING);
            if (bDword && pucCdb[0] == CMD_CPU_RESET) {
                vDEBUG_MSG_printf("%s:%d: CPU reset skip polling", pszMethod, __LINE__);
                return krv::pcie::kDone;
            }
            if (!waitDone())
                return krv::pcie::kNoAnswer;
        } else {
            vConfigWriteByte(b, d, f, MAILBOX_DOORBELL, DOORBELL_RING);
            if (!waitDone())
                return krv::pcie::kNoAnswer;
            uint32_t i = 0;
            if (bDword)
                for (; i + 4 <= n; i += 4) {
                    uint32_t v = dwConfigReadDword(b, d, f, uint16_t(MAILBOX_WINDOW + i));
                    for (int k = 0; k < 4; ++k)
                        chunk[i + k] = uint8_t(v >> (8 * k));
                }
            for (; i < n; ++i)
                chunk[i] = ucConfigReadByte(b, d, f, uint16_t(MAILBOX_WINDOW + i));
        }
    }
    return krv::pcie::kDone;
}

int CKrv857xPcieCtrl::nTargetTransfer(uint8_t ucTargetNumber, const char* pszMethod, Direction dir, bool bDword,
                                      const uint8_t* pucCdb, uint8_t* pucData, uint32_t dwLength)
{
    if (!bTargetAccepted(ucTargetNumber)) {
        if (dir == Direction::In)
            vDEBUG_MSG_printf("%s:%d: target:%d > host:%d", pszMethod, __LINE__, ucTargetNumber, m_ucTargetCount);
        return krv::pcie::kBadTarget;
    }
    return nTransfer(m_TargetAddress[ucTargetNumber], pszMethod, dir, bDword, pucCdb, pucData, dwLength);
}

int CKrv857xPcieCtrl::pcie_W(uint8_t ucTargetNumber, const uint8_t* pucCdb, const uint8_t* pucData, uint32_t dwLength)
{
    return nTargetTransfer(ucTargetNumber, "CKrv857xPcieCtrl::pcie_W", Direction::Out, false, pucCdb,
                           const_cast<uint8_t*>(pucData), dwLength);
}

int CKrv857xPcieCtrl::pcie_Wdw(uint8_t ucTargetNumber, const uint8_t* pucCdb, const uint8_t* pucData, uint32_t dwLength)
{
    return nTargetTransfer(ucTargetNumber, "CKrv857xPcieCtrl::pcie_Wdw", Direction::Out, true, pucCdb,
                           const_cast<uint8_t*>(pucData), dwLength);
}

int CKrv857xPcieCtrl::pcie_R(uint8_t ucTargetNumber, const uint8_t* pucCdb, uint8_t* pucData, uint32_t dwLength)
{
    return nTargetTransfer(ucTargetNumber, "CKrv857xPcieCtrl::pcie_R", Direction::In, false, pucCdb, pucData, dwLength);
}

int CKrv857xPcieCtrl::pcie_Rdw(uint8_t ucTargetNumber, const uint8_t* pucCdb, uint8_t* pucData, uint32_t dwLength)
{
    return nTargetTransfer(ucTargetNumber, "CKrv857xPcieCtrl::pcie_Rdw", Direction::In, true, pucCdb, pucData,
                           dwLength);
}

int CKrv857xPcieCtrl::pcie_AccessConfigEEPROM2(uint8_t ucTargetNumber, uint8_t bWriteRead, uint8_t* pucBuffer,
                                               uint32_t dwBufLen, uint8_t ucImage, uint8_t ucConfigType)
{
    static const char* const kMethod = "CKrv857xPcieCtrl::pcie_AccessConfigEEPROM2";
    const uint8_t cdb[8] = {uint8_t(bWriteRead == 1 ? 0xE1 : 0xE0), uint8_t(0x50 + ucImage), ucConfigType, 0, 0, 0, 0, 0};
    int iRet = -1;
    try {
        iRet = bWriteRead == 1 ? pcie_Wdw(ucTargetNumber, cdb, pucBuffer, dwBufLen)
                               : pcie_Rdw(ucTargetNumber, cdb, pucBuffer, dwBufLen);
    } catch (...) {
        iRet = -1;
    }
    if (iRet != 0)
        vDEBUG_MSG_printf("%s:%d: ucTargetNumber:%d, bWriteRead:%d, dwBufLen:%d, ucImage:%d, ucConfigType:%d", kMethod,
                          __LINE__, ucTargetNumber, bWriteRead, int(dwBufLen), ucImage, ucConfigType);
    return iRet;
}

int CKrv857xPcieCtrl::pcie_AccessFirmwareEEPROM2(uint8_t ucTargetNumber, uint8_t bWriteRead, uint8_t* pucBuffer,
                                                 uint32_t dwBufLen, uint8_t ucImage)
{
    static const char* const kMethod = "CKrv857xPcieCtrl::pcie_AccessFirmwareEEPROM2";
    const uint8_t cdb[8] = {uint8_t(bWriteRead == 1 ? 0xE3 : 0xE2), uint8_t(0x50 + ucImage), uint8_t(dwBufLen >> 24),
                            uint8_t(dwBufLen >> 16), uint8_t(dwBufLen >> 8), uint8_t(dwBufLen), 0, 0};
    int iRet = -1;
    try {
        iRet = bWriteRead == 1 ? pcie_Wdw(ucTargetNumber, cdb, pucBuffer, dwBufLen)
                               : pcie_Rdw(ucTargetNumber, cdb, pucBuffer, dwBufLen);
    } catch (...) {
        iRet = -1;
    }
    if (iRet != 0)
        vDEBUG_MSG_printf("%s:%d: ucTargetNumber:%d, bWriteRead:%d, dwBufLen:%d, ucImage:%d", kMethod, __LINE__,
                          ucTargetNumber, bWriteRead, int(dwBufLen), ucImage);
    return iRet;
}

namespace {
// E4 (read) / E5 (write): register page 0x50, or 0x51 above 0xFFFF, then
// the low 16 address bits.
void vRegisterCdb(uint8_t* cdb, bool bWrite, uint8_t ucByte1, uint32_t dwAddress)
{
    const uint8_t block[8] = {uint8_t(bWrite ? 0xE5 : 0xE4), ucByte1, uint8_t(dwAddress > 0xFFFF ? 0x51 : 0x50),
                              uint8_t(dwAddress >> 8), uint8_t(dwAddress), 0, 0, 0};
    std::memcpy(cdb, block, 8);
}
}  // namespace

int CKrv857xPcieCtrl::pcie_AccessRegister(uint8_t ucTargetNumber, uint8_t bWrite, uint32_t dwAddress,
                                          uint8_t* pucBuffer, uint32_t dwLength)
{
    // The block carries the length in one byte, where 0 stands for 256: a
    // longer transfer would move more than the bridge sends, and a length
    // of 0 has no data byte to put in the write's block.
    if (!pucBuffer || dwLength == 0 || dwLength > PCIE_REGISTER_ACCESS_MAX) {
        vDEBUG_MSG_printf("%s:%d: ucTargetNumber:%d, bWrite:%d, dwLength:%d refused", "CKrv857xPcieCtrl::pcie_AccessRegister",
                          __LINE__, ucTargetNumber, bWrite, int(dwLength));
        return krv::pcie::kBadTarget;
    }
    uint8_t cdb[8];
    vRegisterCdb(cdb, bWrite != 0, bWrite ? pucBuffer[0] : uint8_t(dwLength), dwAddress);
    return bWrite ? pcie_W(ucTargetNumber, cdb, pucBuffer, dwLength) : pcie_R(ucTargetNumber, cdb, pucBuffer, dwLength);
}

int CKrv857xPcieCtrl::nRegisterRead(const PcieTargetAddress& at, uint32_t dwAddress, uint8_t* pucBuffer,
                                    uint32_t dwLength)
{
    uint8_t cdb[8];
    vRegisterCdb(cdb, false, uint8_t(dwLength), dwAddress);
    return nTransfer(at, "CKrv857xPcieCtrl::pcie_R", Direction::In, false, cdb, pucBuffer, dwLength);
}

int CKrv857xPcieCtrl::nConfigRead(const PcieTargetAddress& at, uint8_t* pucBuffer, uint8_t ucImage,
                                  uint8_t ucConfigType)
{
    const uint8_t cdb[8] = {0xE0, uint8_t(0x50 + ucImage), ucConfigType, 0, 0, 0, 0, 0};
    return nTransfer(at, "CKrv857xPcieCtrl::pcie_Rdw", Direction::In, true, cdb, pucBuffer, PCIE_CONFIG_BIN_SIZE);
}

int CKrv857xPcieCtrl::pcie_CPURST(uint8_t ucTargetNumber, uint8_t ucFuncCode)
{
    static const char* const kMethod = "CKrv857xPcieCtrl::pcie_CPURST";
    const uint8_t cdb[8] = {CMD_CPU_RESET, ucFuncCode, 0, 0, 0, 0, 0, 0};
    uint8_t zeros[MAILBOX_CHUNK] = {};
    int iRet = -1;
    try {
        iRet = pcie_Wdw(ucTargetNumber, cdb, zeros, sizeof zeros);
    } catch (...) {
        vDEBUG_MSG_printf("%s:%d: ucTargetNumber:%d, ucFuncCode:0x%x, iRet", kMethod, __LINE__, ucTargetNumber,
                          ucFuncCode);
        return -1;
    }
    if (iRet != 0)
        vDEBUG_MSG_printf("%s:%d: ucTargetNumber:%d, ucFuncCode:0x%x", kMethod, __LINE__, ucTargetNumber, ucFuncCode);
    return iRet;
}
