// The waiting reset of a port whose bridge is a PCIe target: the bridge's
// CPU is reset through its mailbox, the bus rescanned until the bridge shows
// the relink signature the update wrote, and the port's record is read back
// from it: firmware version, link, both images of image 0 and the identity
// they carry. The drive behind the bridge then gets its settle time.
//
// Records and the table's rows are written under the reset lock, which the
// USB reset holds while it moves a record, so no port's refresh reads a
// record another port is writing.
#include <cstdio>

#include "app/CmdLineReport.h"
#include "app/run/PortWork.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/Platform.h"
#include "platform/StopAwareLock.h"

namespace {

const char* const kWho = "CVIVadeDlg::ChildThreadFun";
constexpr uint8_t kCpuResetCode = 0x50;
constexpr uint64_t kRelinkSettleMs = 500;
constexpr int kSerialOffset = 4;
constexpr int kSerialLength = 20;

std::string strHexPair(uint8_t ucHigh, uint8_t ucLow)
{
    char szText[8];
    std::snprintf(szText, sizeof szText, "%02X%02X", ucHigh, ucLow);
    return szText;
}

}  // namespace

void CVIVadeDlg::vRefreshRowsAfterRelink(CPortWork& work)
{
    krv::StopAwareLock lock(pUtility.m_ReloadFWCriticalSection, &work.m_Stop);
    if (lock)
        vUpdateMainResultSubItemTable(0);
}

uint8_t CVIVadeDlg::ucChildPcieWaitingReset(CPortWork& work, const CPortRunInputs& inputs)
{
    krv::Clock& clock = krv::Platform::current().clock();
    const uint8_t ucIdx = ucPcieIndex(work.m_ucSlot);
    if (g_PcieCtrl.CPURST(ucIdx, work.m_Param.m_ucThreadCount, kCpuResetCode, inputs.wPcieVendorID,
                          inputs.wPcieDeviceID, inputs.ucImage0, inputs.ucImage1, &work.m_Stop) != 0)
        return 0;
    if (!clock.sleepMs(kRelinkSettleMs, &work.m_Stop))
        return 0;
    {
        krv::StopAwareLock lock(pUtility.m_ReloadFWCriticalSection, &work.m_Stop);
        if (!lock)
            return 0;
        DevInfo& dev = m_DevList.Devs[work.m_ucSlot];
        const PcieTargetInfo& info = g_PcieCtrl.targetInfo(ucIdx);
        const uint8_t* v = info.m_ucFWVersion;
        char szVersion[16];
        std::snprintf(szVersion, sizeof szVersion, "%02x%02x%02x%02x%02x%02x", v[0], v[1], v[2], v[3], v[4], v[5]);
        vDEBUG_MSG_printf("%s:%d: pcie rlnk fw:%s", kWho, __LINE__, szVersion);
        dev.m_strFWVersion = szVersion;
        dev.m_ucU4Mode = info.m_ucU4Mode;
        dev.m_ucLinkSpeed = info.m_ucLinkSpeed;
        // The images as the bridge runs them now; what they say is taken as
        // read.
        g_PcieCtrl.pcie_AccessConfigEEPROM2(ucIdx, 0, dev.m_ucU3Config, DEV_CONFIG_SIZE, 0, CONFIG_TYPE_U3);
        g_PcieCtrl.pcie_AccessConfigEEPROM2(ucIdx, 0, dev.m_ucU4Config, DEV_CONFIG_SIZE, 0, CONFIG_TYPE_U4);
        const uint8_t* u3 = dev.m_ucU3Config;
        dev.m_strSerialNumber = strCmdPrintableSerial(u3 + kSerialOffset, kSerialLength);
        dev.m_strVID = strHexPair(u3[117], u3[116]);
        dev.m_strPID = strHexPair(u3[119], u3[118]);
        vDEBUG_MSG_printf("%s:%d: pcie rst, relink ok, sleep:%d s for ssd ready", kWho, __LINE__,
                          inputs.iSSDRelinkTime);
        vUpdateMainResultSubItemTable(0);
    }
    const uint64_t ullReadyMs = static_cast<uint64_t>(inputs.iSSDRelinkTime > 0 ? inputs.iSSDRelinkTime : 0) * 1000;
    return clock.sleepMs(ullReadyMs, &work.m_Stop) ? 1 : 0;
}
