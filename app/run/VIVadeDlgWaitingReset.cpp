// The reload of a program whose profile waits at the reset: each port's
// worker resets its own bridge and waits, under the reset lock, until its
// drive answers again with the relink signature its update wrote (the run's
// thread count and the port's slot), probing the drive numbers up to the
// disk count Start read; the device layer then moves the port's record to
// the drive's new numbers. A PCIe target is reset through its mailbox and
// looked for on the bus by the same signature (VIVadeDlgPcieRelink.cpp).
// No rescan of the whole table runs, so no port loses its record to another
// while the others still work on theirs. Then the run's reload barrier, as
// in the other reload.
#include "app/run/PortWork.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/Platform.h"
#include "platform/StopAwareLock.h"

namespace {

constexpr uint32_t kReloadBarrierPollMs = 500;
constexpr uint64_t kRelinkSettleMs = 500;
constexpr uint8_t kCpuResetCode = 0x50;
constexpr uint8_t kChipKind857x = 2;

}  // namespace

void CVIVadeDlg::vChildStepWaitingReset(CPortWork& work, const CPortRunInputs& inputs)
{
    DevList& devList = m_DevList;
    if (!devList.m_bDoReload) {
        vUpdateMainResultItemTable(work.ucRow(), RESULT_COL_RELINK, "", CELL_MODE_PLAIN);
        return;
    }
    ChildThreadParam& param = work.m_Param;
    const bool bReset = work.m_ucResult == 1;
    if (bReset) {
        if (work.m_Run.m_Device.m_bPCIE) {
            work.m_ucResult = ucChildPcieWaitingReset(work, inputs);
        } else {
            const uint8_t ucProbeLimit = static_cast<uint8_t>(m_iDiskCountBaseline.load() & 0xFF);
            work.m_ucResult = g_UsbDev.v8574CPURST(work.m_ucSlot, param.m_ucThreadCount, ucProbeLimit, kCpuResetCode,
                                                   kChipKind857x);
            vDEBUG_MSG_printf("%s:%d: [%d] reload:%d, probe limit:%d", "CVIVadeDlg::ChildThreadFun", __LINE__,
                              param.m_ucPort, work.m_ucResult, ucProbeLimit);
            if (krv::Platform::current().clock().sleepMs(kRelinkSettleMs, &work.m_Stop))
                vRefreshRowsAfterRelink(work);
        }
        if (work.m_ucResult == 1) {
            // The device layer moved the port's record to the drive's new
            // numbers (under the reset lock): the later steps and the log
            // take the drive as it is now.
            krv::StopAwareLock lock(pUtility.m_ReloadFWCriticalSection, &work.m_Stop);
            if (lock)
                work.m_Run.vTakeIdentity(devList.Devs[work.m_ucSlot]);
        }
        work.vSetResult(devList, &DevResults::m_bReloadFWResult, work.m_ucResult);
        vSetStepCell(work, RESULT_COL_RELINK, work.m_ucResult);
    } else {
        vUpdateMainResultItemTable(work.ucRow(), RESULT_COL_RELINK, "", CELL_MODE_PLAIN);
    }
    param.m_ucStatus = THREAD_STATUS_AT_RELOAD;
    const bool bGoOn = bWaitForPorts(work, kReloadBarrierPollMs, [](const ChildThreadParam& p) {
        return p.m_ucStatus >= THREAD_STATUS_AT_RELOAD;
    }) && krv::Platform::current().clock().sleepMs(kReloadBarrierPollMs, &work.m_Stop);
    // The reload's two shares of the progress: the reset and the barrier.
    if (bReset) {
        work.vAddShare();
        work.vAddShare();
    }
    if (!bGoOn)
        work.m_ucResult = 0;
}
