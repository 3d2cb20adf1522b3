// The port workers: one per port of a run, each carrying its port through
// the steps its test items switch on.
#include <functional>

#include "app/GUIText.h"
#include "app/PortWork.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "platform/Platform.h"

void CVIVadeDlg::vSetStepCell(const CPortWork& work, uint8_t ucColumn, uint8_t ucPass)
{
    vUpdateMainResultItemTable(work.m_ucRow, ucColumn, ucPass ? g_GUIText.m_strPass : g_GUIText.m_strFail,
                               ucPass ? CELL_MODE_GREEN : CELL_MODE_RED);
}

bool CVIVadeDlg::bWaitForPorts(CPortWork& work, uint32_t dwPollMs,
                               const std::function<bool(const ChildThreadParam&)>& bArrived)
{
    for (;;) {
        if (!krv::Platform::current().clock().sleepMs(dwPollMs, &work.m_Stop))
            return false;
        int nCount = 0;
        for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
            const ChildThreadParam& param = m_ChildThreadParam[slot];
            if (m_MainThreadParam.m_ucPortEnable[slot] != 1)
                continue;
            // A worker that has ended, however, never comes: it counts as here.
            if (param.m_ucStatus == THREAD_STATUS_FINISHED || bArrived(param))
                ++nCount;
        }
        if (nCount >= work.m_Param.m_ucThreadCount)
            return true;
    }
}
