// The safe removal: the "Safely Remove" button (also pressed by the run
// supervisor after a run) parks every USB drive of the table for unplugging:
// the device layer flushes the disk, puts it into standby and has its bridge
// leave the bus. The work runs on a thread of its own so the window stays
// responsive.
//
// While it runs, pUtility.m_bSafelyRemoving keeps the scan and the
// device-change handling away from the device table. The flag is raised
// under the scan lock, so a scan that was already walking ends first and no
// scan rewrites a record the removal reads.
#include <algorithm>

#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/StopAwareLock.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

}  // namespace

void CVIVadeDlg::OnBnClickedButtonSafelyRemove()
{
    static const char* const kWho = "CVIVadeDlg::OnBnClickedButtonSafelyRemove";
    try {
        vDisableRunControls();
        m_pRemoveThread = m_Threads.pStart("USBRemoveThreadFun",
                                           [this](const krv::StopSource& stop) { USBRemoveThreadFun(stop); });
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnBnClickedButtonSafelyRemove: dwErrorCode %d", kWho, __LINE__, nLastError());
    }
}

int CVIVadeDlg::USBRemoveThreadFun(const krv::StopSource& stop)
{
    static const char* const kWho = "CVIVadeDlg::USBRemoveThreadFun";
    int nResult = 1;
    try {
        {
            krv::StopAwareLock scanLock(pUtility.m_ScanCriticalSection, &stop);
            if (scanLock)
                pUtility.m_bSafelyRemoving = 1;
        }
        // USB drives only: the PCIe targets follow them in the table.
        const int iDevNums = std::clamp<int>(m_DevList.DevNums, 0, MAX_DEV_SLOTS);
        for (int slot = 0; pUtility.m_bSafelyRemoving == 1 && slot < iDevNums && !stop.stopRequested(); ++slot) {
            const DevInfo& dev = m_DevList.Devs[slot];
            if (dev.m_ucPortIndex == DEV_PORT_INDEX_EMPTY || dev.m_strFWVersion.empty())
                continue;
            if (g_UsbDev.vDisconnectAllDevice(static_cast<uint8_t>(slot)) == 0)
                vDEBUG_MSG_printf("%s:%d: USBRemoveThreadFun: vSafeRemoveUSB Fail , [%d] ", kWho, __LINE__, slot);
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: USBRemoveThreadFun: dwErrorCode %d", kWho, __LINE__, nLastError());
        nResult = 0;
    }
    pUtility.m_bSafelyRemoving = 0;
    // Also after a failure: a window left with its run controls disabled
    // could not even be closed.
    try {
        vSetUnlockedGUI();
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: USBRemoveThreadFun: dwErrorCode %d", kWho, __LINE__, nLastError());
        nResult = 0;
    }
    return nResult;
}
