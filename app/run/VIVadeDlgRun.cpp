// The run supervisor: one run from the start of its port workers to the
// end-of-run bookkeeping (serial number, counters, result log, pass or fail,
// the automatic safe removal and, on the command line, the exit code).
#include <algorithm>
#include <cstdio>
#include <string>

#include "app/GUIText.h"
#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "controls/TextProgressCtrl.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace {

constexpr uint32_t kSupervisorPollMs = 500;
// About 9 hours of polls: a run that has not ended by then is given up.
constexpr uint32_t kSupervisorGiveUpPolls = 0x10000;
constexpr uint32_t kEndOfRunPauseMs = 1000;
constexpr krv::ui::ColorRef kBarRed = 0x0000FF;
constexpr krv::ui::ColorRef kBarGreen = 0x00FF00;

krv::Clock& runClock() { return krv::Platform::current().clock(); }

int nLastError() { return static_cast<int>(krv::lastError()); }

// The test items a run with reload saves at its start and puts back at its
// end, in the order of m_ucSavedItems.
constexpr uint8_t DevList::*kSavedItems[8] = {
    &DevList::m_bDoUpdateFW, &DevList::m_bDoReload,         &DevList::m_bDoFormat,      &DevList::m_bDoWrRdTest,
    &DevList::m_bDoPreload,  &DevList::m_bDoUSBStatusCheck, &DevList::m_bDoExtUpdateFW, &DevList::m_bDoConfigCheck,
};

}  // namespace

void CVIVadeDlg::vStartMainThread()
{
    MainThreadParam* pParam = &m_MainThreadParam;
    m_pMainThread = m_Threads.pStart("MainThreadFun",
                                     [this, pParam](const krv::StopSource& stop) { MainThreadFun(pParam, stop); });
}

int CVIVadeDlg::MainThreadFun(MainThreadParam* pParam, const krv::StopSource& stop)
{
    static const char* const kWho = "CVIVadeDlg::MainThreadFun";
    DevList& devList = m_DevList;
    const uint8_t ucThreadCount = pParam->m_ucThreadCount;
    // The run's workers: started, joined and let go by this thread only.
    std::shared_ptr<CWorkerThread> workers[MAX_DEV_SLOTS];
    // A worker that has said it is done only returns: it is waited for. One
    // that was given up on (asked to stop at the give-up or after an
    // exception, or stopped with this thread) gets the bounded join of any
    // stopped thread, which waits on while a write is under way. Then this
    // thread lets go of them: their objects go on the GUI thread, when the
    // next Start lets go of m_pChildThread[], never on a thread of a run.
    const auto joinWorkers = [this, &workers] {
        for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
            if (workers[slot] && m_ChildThreadParam[slot].m_ucStatus == THREAD_STATUS_FINISHED)
                workers[slot]->bJoin(UINT32_MAX);
            else if (workers[slot])
                bJoinStopped(*workers[slot], THREAD_STOP_JOIN_MS);
            workers[slot].reset();
        }
    };
    try {
        vUnRegisterDeviceNotification();
        for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
            // The results an earlier run may have left standing are
            // cleared too: a port is judged only on what this run found.
            DevInfo& dev = devList.Devs[slot];
            dev.vClearRunResults();
            dev.m_bPreloadResult = 0;
            dev.m_bUSBStatusResult = 0;
            dev.m_bConfigCheckResult = 0;
            dev.m_bConfigReadBackOK = 0;
            m_ChildThreadParam[slot].m_Results = DevResults();
            m_ChildThreadParam[slot].m_ucVerdict = 0;
            m_ChildThreadParam[slot].m_ucDevSlot = static_cast<uint8_t>(slot);
        }
        vClearMainResultSubItemStatusTable();
        vOnGui([this] { m_ProgressRun->SetPos(0); });

        bool bSavedItems = false;
        if (devList.m_bDoReload) {
            for (size_t i = 0; i < std::size(kSavedItems); ++i)
                m_ucSavedItems[i] = devList.*kSavedItems[i];
            bSavedItems = true;
        }

        for (uint8_t slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
            ChildThreadParam& child = m_ChildThreadParam[slot];
            child.hWnd = pParam->hWnd;
            child.m_ucPort = slot;
            child.m_ucThreadCount = pParam->m_ucThreadCount;
            child.m_ucDiskCount = pParam->m_ucDiskCount;
            child.m_fProgress = 0.0f;
            if (pParam->m_ucPortEnable[slot] == 1) {
                child.m_ucStatus = THREAD_STATUS_STARTED;
                child.m_ucItemCount = pParam->m_ucItemCount;
                ChildThreadParam* pChild = &child;
                workers[slot] = m_Threads.pStart(
                    "ChildThreadFun", [this, pChild](const krv::StopSource& childStop) { ChildThreadFun(pChild, childStop); });
                if (!workers[slot])
                    child.m_ucStatus = THREAD_STATUS_FINISHED;  // the window is closing
            } else {
                child.m_ucStatus = THREAD_STATUS_IDLE;
                child.m_ucItemCount = 0;
            }
        }

        // Shown to the window's stop path (the lock button), which reads
        // them on the GUI thread: written there too. Start let go of the
        // last run's before this one began. A stop that comes first leaves
        // them to this thread, which stops and joins them itself.
        vOnGui([this, &workers] {
            for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot)
                m_pChildThread[slot] = workers[slot];
        });

        // Polling: the bar runs as an activity indicator; the figure, in
        // the text and on the bar, is the mean progress of the ports.
        for (uint32_t nPolls = 0;; ++nPolls) {
            if (!runClock().sleepMs(kSupervisorPollMs, &stop)) {
                // Stopped (the window closes, or the lock button): the
                // workers are stopped and joined here, a write under way
                // waited for, before this thread lets go of them.
                vStopRunningWorkers(pParam, workers, "MainThreadFun");
                joinWorkers();
                return 1;
            }
            vOnGui([this] {
                const int nPos = m_ProgressRun->GetPos();
                if (!m_pProfile->bShowStatusTrace)
                    vDEBUG_MSG_printf("%s:%d: progress show progress get pos:%d", "CVIVadeDlg::MainThreadFun",
                                      __LINE__, nPos);
                m_ProgressRun->SetPos(nPos >= 100 ? 0 : nPos + 1);
            });
            float fSum = 0.0f;
            int nDone = 0;
            for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
                if (pParam->m_ucPortEnable[slot] != 1)
                    continue;
                fSum += m_ChildThreadParam[slot].m_fProgress;
                if (m_ChildThreadParam[slot].m_ucStatus == THREAD_STATUS_FINISHED)
                    ++nDone;
            }
            const int nPercent = ucThreadCount ? std::min(100, static_cast<int>(fSum / ucThreadCount)) : 100;
            char szPercent[16];
            std::snprintf(szPercent, sizeof szPercent, "%3d %%", nPercent);
            vShowRunProgress(szPercent);
            if (nDone >= ucThreadCount)
                break;
            if (nPolls + 1 >= kSupervisorGiveUpPolls) {
                // Results count as they stand (a step not done is a zero).
                vStopRunningWorkers(pParam, workers, "MainThreadFun");
                vDEBUG_ERR_printf("%s:%d: MainThreadFun: TimeOut dwErrorCode %d", kWho, __LINE__, nLastError());
                break;
            }
        }
        joinWorkers();

        ucEndOfRun(pParam, bSavedItems, stop);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: MainThreadFun: dwErrorCode %d", kWho, __LINE__, nLastError());
        vStopRunningWorkers(pParam, workers, "ChildThreadFun");
        joinWorkers();
        // The run ends as failed, with everything a run's end gives back:
        // the serial numbers counted, the controls, the notices, the token
        // and, on the command line, an exit code.
        try {
            vAdvanceSerialNumber(ucThreadCount);
        } catch (...) {
            vDEBUG_ERR_printf("%s:%d: MainThreadFun: dwErrorCode %d", kWho, __LINE__, nLastError());
        }
        vOnGui([this] { m_ProgressRun->SetBarColor(kBarRed); });
        vEndRunControls();
        if (m_iRunMode == 0)
            vCmdLineClose(CMDLINE_EXIT_FAILED, &stop);
        return 0;
    }
    return 1;
}

void CVIVadeDlg::vStopRunningWorkers(MainThreadParam* pParam, std::shared_ptr<CWorkerThread> (&workers)[MAX_DEV_SLOTS],
                                     const char* pszWhere)
{
    // Workers are never killed: each is asked to stop and joined.
    for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
        if (pParam->m_ucPortEnable[slot] != 1 || !workers[slot] ||
            m_ChildThreadParam[slot].m_ucStatus == THREAD_STATUS_FINISHED)
            continue;
        workers[slot]->vRequestStop();
        const bool bJoined = bJoinStopped(*workers[slot], THREAD_STOP_JOIN_MS);
        vDEBUG_ERR_printf("%s:%d: %s: TerminateThread[%d] , dwErrorCode %d", "CVIVadeDlg::MainThreadFun", __LINE__,
                          pszWhere, slot, bJoined ? 0 : nLastError());
    }
}

void CVIVadeDlg::vEndRunControls()
{
    // The controls and the device notices come back only when the run has
    // done everything it does, so no new run can start under this one.
    if (pIni.m_pINI.auto_mp == 1)
        vSetLockedGUI();
    else
        vSetUnlockedGUI();
    vRegisterDeviceNotification();
    // Last: once the token is back a new run may start at once.
    m_bRunning = 0;
}

uint8_t CVIVadeDlg::ucEndOfRun(MainThreadParam* pParam, bool bSavedItems, const krv::StopSource& stop)
{
    static const char* const kWho = "CVIVadeDlg::MainThreadFun";
    DevList& devList = m_DevList;
    IniRecord& ini = pIni.m_pINI;
    const uint8_t ucThreadCount = pParam->m_ucThreadCount;

    vOnGui([this] { m_ProgressRun->SetPos(100); });
    vAdvanceSerialNumber(ucThreadCount);

    if (bSavedItems && m_ucSavedItems[1] == 1) {
        for (size_t i = 0; i < std::size(kSavedItems); ++i)
            devList.*kSavedItems[i] = m_ucSavedItems[i];
    }

    // Each port is judged on its own results, whatever slot its device
    // ended in, and on its worker's verdict: a step without a result byte
    // (the SHA-256 key) fails the port too.
    uint8_t ucRunResult = 1;
    for (uint8_t slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
        if (pParam->m_ucPortEnable[slot] != 1)
            continue;
        const ChildThreadParam& child = m_ChildThreadParam[slot];
        const DevResults& r = child.m_Results;
        const bool bUpdateFail = devList.m_bDoUpdateFW && !r.m_bUpdateFWResult;
        const bool bReloadFail = devList.m_bDoReload && !r.m_bReloadFWResult;
        const bool bFail = bUpdateFail || bReloadFail ||
                           (devList.m_bDoFormat && (!r.m_bPartitionResult || !r.m_bFormatResult)) ||
                           (devList.m_bDoWrRdTest && !r.m_bWrRdTestResult) ||
                           (devList.m_bDoPreload && !r.m_bPreloadResult) ||
                           (devList.m_bDoUSBStatusCheck && !r.m_bUSBStatusResult) ||
                           (devList.m_bDoExtUpdateFW && !r.m_bExtUpdateFWResult) ||
                           (devList.m_bDoConfigCheck && !r.m_bConfigCheckResult) || child.m_ucVerdict != 1;
        if (bFail) {
            ++devList.m_iFailCount;
            ucRunResult = 2;
            if (bUpdateFail && !m_pProfile->bShowStatusTrace)
                vDEBUG_MSG_printf("%s:%d: [%d] m_bUpdateFWResult = FALSE", kWho, __LINE__, slot);
            if (bReloadFail && !m_pProfile->bShowStatusTrace)
                vDEBUG_MSG_printf("%s:%d: [%d] m_bReloadFWResult = FALSE", kWho, __LINE__, slot);
        } else {
            ++devList.m_iPassCount;
        }
        ++devList.m_iTotalCount;
        setControlText(IDC_EDIT_PASS_COUNT, std::to_string(devList.m_iPassCount.load()));
        setControlText(IDC_EDIT_FAIL_COUNT, std::to_string(devList.m_iFailCount.load()));
        setControlText(IDC_EDIT_TOTAL_COUNT, std::to_string(devList.m_iTotalCount.load()));
    }

    if (m_iRunMode == 1) {
        // A row per port, from the port's own record: the drive it worked on
        // (as it last found it) with the port's own results, never a slot of
        // the table that a rescan may have given to another drive.
        for (uint8_t slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
            if (pParam->m_ucPortEnable[slot] != 1)
                continue;
            DevInfo row = m_PortRun[slot].m_Device;
            static_cast<DevResults&>(row) = m_ChildThreadParam[slot].m_Results;
            pIni.vLogMPResult(m_ChildThreadParam[slot].m_ucDevSlot, row);
        }
    }

    runClock().sleepMs(kEndOfRunPauseMs, &stop);

    vOnGui([this, ucRunResult] {
        showControl(ucRunResult == 2 ? IDC_PICTURE_FAIL : IDC_PICTURE_PASS, true);
        m_ProgressRun->SetBarColor(ucRunResult == 2 ? kBarRed : kBarGreen);
    });

    if (devList.m_bAutoSafeRemove && !stop.stopRequested()) {
        runClock().sleepMs(static_cast<uint64_t>(std::max(ini.uiRemove_after_finish, 0)) * 1000, &stop);
        sendCommand(IDC_BUTTON_SAFELY_REMOVE, &stop);
        // The drives are parked before the run ends: no new run may start
        // on drives the removal is about to disconnect, and on the command
        // line the process ends next.
        std::shared_ptr<CWorkerThread> pRemove;
        vOnGui([this, &pRemove] { pRemove = m_pRemoveThread; });
        while (pRemove && !pRemove->bJoin(kSupervisorPollMs) && !stop.stopRequested()) {
        }
    }

    vOnGui([this, ucRunResult] { m_ProgressRun->SetBarColor(ucRunResult == 2 ? kBarRed : kBarGreen); });
    vEndRunControls();

    if (m_iRunMode == 0)
        vCmdLineClose(ucRunResult == 2 ? CMDLINE_EXIT_FAILED : CMDLINE_EXIT_OK, &stop);
    return ucRunResult;
}
