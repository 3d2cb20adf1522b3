// The target scan: every bus, device and function in ECAM for the bridges'
// switch upstream ports, and what each target found tells of itself.
#include <cstring>

#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "platform/LastError.h"

namespace {

constexpr uint16_t PCIE_BRIDGE_VENDOR = 0x2C4B;
constexpr uint16_t PCIE_BRIDGE_DEVICES[5] = {0x8571, 0x8572, 0x8573, 0x8574, 0x8575};
constexpr uint16_t PCIE_CHIP_ID_OFFSET = 0x788;
constexpr uint8_t PCIE_CAP_EXPRESS = 0x10;
constexpr uint8_t PCIE_PORT_UPSTREAM = 5;
// A capability list is at most this long: 48 capabilities of 4 bytes fill
// the space after the header. A longer walk is a list that loops.
constexpr int PCIE_CAP_WALK_MAX = 48;

bool bRecognisedDevice(uint16_t wDeviceID)
{
    for (uint16_t id : PCIE_BRIDGE_DEVICES)
        if (id == wDeviceID)
            return true;
    return false;
}

int nLastError() { return static_cast<int>(krv::lastError()); }

}  // namespace

bool CKrv857xPcieCtrl::bSwitchUpstreamPort(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction)
{
    uint8_t header[64];
    vConfigReadBlock(ucBus, ucDevice, ucFunction, 0, header, sizeof header);
    if (!(header[6] & 0x10) || header[0x34] == 0)
        return false;
    uint8_t ucPointer = header[0x34];
    for (int step = 0;; ++step) {
        // A pointer into the header, off the dword grid or a walk longer than
        // any list ends it: all-ones space or a looping list is no port.
        if (step >= PCIE_CAP_WALK_MAX || ucPointer < 0x40 || (ucPointer & 3) != 0)
            return false;
        uint16_t wCap = wConfigReadWord(ucBus, ucDevice, ucFunction, ucPointer);
        if ((wCap & 0xFF) == PCIE_CAP_EXPRESS)
            break;
        ucPointer = uint8_t(wCap >> 8);
        if (ucPointer == 0)
            return false;
    }
    uint16_t wCaps = wConfigReadWord(ucBus, ucDevice, ucFunction, uint16_t(ucPointer + 2));
    return ((wCaps >> 4) & 0xF) == PCIE_PORT_UPSTREAM;
}

int CKrv857xPcieCtrl::nScanPcieTargets(uint16_t wVendorID, uint16_t wDeviceID)
{
    m_ucTargetCount = 0;
    m_ucTargetCount = uint8_t(nScanTargetsInto(wVendorID, wDeviceID, m_TargetAddress, m_TargetInfo));
    return m_ucTargetCount;
}

int CKrv857xPcieCtrl::nScanTargetsInto(uint16_t wVendorID, uint16_t wDeviceID, PcieTargetAddress* pAddress,
                                       PcieTargetInfo* pInfo)
{
    int nCount = 0;
    for (int bus = 0; bus < 256; ++bus) {
        for (int dev = 0; dev < 32; ++dev) {
            for (int fn = 0; fn < 8; ++fn) {
                if (nCount >= PCIE_MAX_TARGETS)
                    return nCount;
                const uint8_t b = uint8_t(bus), d = uint8_t(dev), f = uint8_t(fn);
                const uint16_t vid = wConfigReadWord(b, d, f, 0);
                const uint16_t did = wConfigReadWord(b, d, f, 2);
                if (fn == 0 && (vid == 0xFFFF || did == 0xFFFF))
                    break;
                const bool chosen =
                    (vid == wVendorID && did == wDeviceID) || (vid == PCIE_BRIDGE_VENDOR && bRecognisedDevice(did));
                if (!chosen) {
                    if (fn == 0 && !(ucConfigReadByte(b, d, f, 0x0E) & 0x80))
                        break;
                    continue;
                }
                const uint16_t wChip = wConfigReadWord(b, d, f, PCIE_CHIP_ID_OFFSET);
                if (bSwitchUpstreamPort(b, d, f) && wChip >= 0x8571 && wChip <= 0x8575) {
                    PcieTargetAddress& at = pAddress[nCount];
                    at = {b, d, f};
                    PcieTargetInfo info;
                    if (nRegisterRead(at, 0x7F0, info.m_ucFWVersion, 6) == 0) {
                        vReadTargetInfo(at, info);
                        pInfo[nCount] = info;
                        ++nCount;
                    }
                }
                break;  // one function per device
            }
        }
    }
    return nCount;
}

void CKrv857xPcieCtrl::vReadTargetInfo(const PcieTargetAddress& at, PcieTargetInfo& info)
{
    nConfigRead(at, info.m_ucUSBConfig, 0, 0);
    nConfigRead(at, info.m_ucU4Config, 0, 1);
    std::memcpy(info.m_ucSerialNumber, info.m_ucUSBConfig + 4, sizeof info.m_ucSerialNumber);
    const uint8_t identityCdb[8] = {0xEC, 0x50, 0, 0, 0, 0, 0, 0};
    uint8_t identity[4] = {};
    if (nTransfer(at, "CKrv857xPcieCtrl::pcie_R", Direction::In, false, identityCdb, identity, 4) == 0) {
        info.m_wVID = uint16_t(identity[0] << 8 | identity[1]);
        info.m_wPID = uint16_t(identity[2] << 8 | identity[3]);
    } else {
        info.m_wVID = uint16_t(info.m_ucUSBConfig[116] | info.m_ucUSBConfig[117] << 8);
        info.m_wPID = uint16_t(info.m_ucUSBConfig[118] | info.m_ucUSBConfig[119] << 8);
    }
    uint8_t value = 0;
    nRegisterRead(at, 0xE302, &value, 1);
    info.m_ucCCOrientation = uint8_t(value >> 6);
    value = 0;
    nRegisterRead(at, 0xC8FF, &value, 1);
    info.m_ucChipRevision = uint8_t((value >> 4) & 7);

    uint8_t a = 0, bReg = 0;
    nRegisterRead(at, 0x20000, &a, 1);
    nRegisterRead(at, 0x22805, &bReg, 1);
    info.m_ucU4Mode = !(a & 0x02) ? 0 : !(bReg & 0x80) ? 1 : !(a & 0x04) ? 2 : 3;

    uint8_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    nRegisterRead(at, 0x22865, &s0, 1);
    nRegisterRead(at, 0x22871, &s1, 1);
    nRegisterRead(at, 0x228A0, &s2, 1);
    nRegisterRead(at, 0x228A1, &s3, 1);
    info.m_ucLinkSpeed = uint8_t(((s0 & 0x10) ? 6 : 4) + (s1 == 1 && s2 == 2 && s3 == 2 ? 1 : 0));

    uint8_t pd = 0xFF;
    if (nPDTypeAt(at, &pd) != 0)
        pd = 0xFF;
    info.m_ucPDType = pd;
}

int CKrv857xPcieCtrl::nPDTypeAt(const PcieTargetAddress& at, uint8_t* pucPDType)
{
    uint8_t value = 0;
    int iRet = nRegisterRead(at, 0xE795, &value, 1);
    if (iRet == 0)
        *pucPDType = uint8_t((value >> 1) & 1);
    return iRet;
}

int CKrv857xPcieCtrl::nGet8574PDType(uint8_t ucTargetNumber, uint8_t* pucPDType)
{
    if (!bTargetAccepted(ucTargetNumber))
        return krv::pcie::kBadTarget;
    try {
        return nPDTypeAt(m_TargetAddress[ucTargetNumber], pucPDType);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: err:0x%x", "CKrv857xPcieCtrl::nGet8574PDType", __LINE__, nLastError());
        return -1;
    }
}

int CKrv857xPcieCtrl::nGet8574PCIeErrorRecoveryCount(uint8_t ucTargetNumber, uint32_t* pdwCount)
{
    if (!bTargetAccepted(ucTargetNumber))
        return krv::pcie::kBadTarget;
    try {
        uint8_t value = 0;
        int iRet = nRegisterRead(m_TargetAddress[ucTargetNumber], 0x2601A, &value, 1);
        if (iRet == 0)
            *pdwCount = value;
        return iRet;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: err:0x%x", "CKrv857xPcieCtrl::nGet8574PCIeErrorRecoveryCount", __LINE__,
                          nLastError());
        return -1;
    }
}
