// The exit path. The Exit button, the command 1 that any thread may send and
// the window's close all take it, once:
//   1. restore the power scheme start-up saved, delete the firmware file the
//      tool itself made (only that file);
//   2. mark shutdown: every thread waiting in a synchronous call into the
//      window is let go, timers and modal windows close; stop listening for
//      device notices; ask every thread of the window to stop;
//   3. on the next turn of the GUI thread, when the command that started the
//      exit has returned to its sender, join every thread with a bound (the
//      sender included: it waits for nothing any more); a worker inside an
//      EEPROM write is waited for without one, with the window saying so;
//      once every thread has ended, reset the run state;
//   4. in command-line mode hand the exit code to the end-process function;
//      in GUI mode leave the window's loop, unless a thread would not stop:
//      then the end-process function gets 0, as the window must not go (nor
//      the device objects and the platform after it) while a thread still
//      uses them.
// Joining in step 3 rather than inside the command is what keeps the exit
// from ever waiting for the thread that asked for it.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include <QMetaObject>

#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "platform/LastError.h"
#include "platform/Platform.h"
#include "ui/FilePickers.h"
#include "ui/MessageBoxPresenter.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// The pause after switching the power scheme back, as the tool has always
// made it.
constexpr uint64_t kAfterPowerSchemeMs = 100;

// How long one turn of the exit's join keeps the GUI thread.
constexpr int64_t kExitJoinSliceMs = 50;

// Shown while the exit waits for a bridge's EEPROM write to end.
constexpr const char* kFinishingWriteText = "Finishing the firmware write...";

}  // namespace

void CVIVadeDlg::OnBnClickedOk()
{
    if (m_bExitStarted.exchange(true))
        return;
    try {
        vDEBUG_MSG_printf("%s:%d: OnClose", "CVIVadeDlg::OnBnClickedOk", __LINE__);
        if (m_pProfile->bPowerScheme) {
            vSetWinPwrMode(std::string(m_strSavedPowerScheme));
            krv::Platform::current().clock().sleepMs(kAfterPowerSchemeMs);
        }
        vDeleteFWFileMadeByTool();
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnClose: dwErrorCode %d", "CVIVadeDlg::OnBnClickedOk", __LINE__, nLastError());
    }

    vUnRegisterDeviceNotification();
    markShutdown();
    if (m_pMessages)
        m_pMessages->markShutdown();
    if (m_pPickers)
        m_pPickers->markShutdown();
    m_Threads.vClose();
    m_Threads.vRequestStopAll();
    QMetaObject::invokeMethod(this, [this] { vFinishExit(); }, Qt::QueuedConnection);
}

// The window manager's close takes the same path as Exit: one shutdown that
// always restores the power scheme and stops every thread.
void CVIVadeDlg::OnClose() { OnBnClickedOk(); }

void CVIVadeDlg::vFinishExit()
{
    const auto now = std::chrono::steady_clock::now();
    if (!m_bExitWaitStarted) {
        m_bExitWaitStarted = true;
        m_tExitGiveUp = now + std::chrono::milliseconds(m_dwStopJoinMs);
    }
    // A worker inside an EEPROM write is waited for without a bound: cut
    // off, the bridge would keep a half-written image. The bound for a
    // thread that will not stop counts from the end of the last write.
    const bool bWriting = m_nEepromWrites.load() > 0;
    if (bWriting) {
        m_tExitGiveUp = now + std::chrono::milliseconds(m_dwStopJoinMs);
        if (!m_bExitWaitShown) {
            m_bExitWaitShown = true;
            setControlText(IDC_STATIC_WARNING, kFinishingWriteText);
            showControl(IDC_STATIC_WARNING, true);
        }
    }
    // Joined in slices, each from a new turn of the GUI thread, so the window
    // still paints (and shows why it waits).
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_tExitGiveUp - now).count();
    const uint32_t dwSliceMs = static_cast<uint32_t>(std::clamp<int64_t>(left, 0, kExitJoinSliceMs));
    m_bAllThreadsJoined = m_Threads.bJoinAll(dwSliceMs, false);
    if (!m_bAllThreadsJoined.load() && (m_nEepromWrites.load() > 0 || std::chrono::steady_clock::now() < m_tExitGiveUp)) {
        QMetaObject::invokeMethod(this, [this] { vFinishExit(); }, Qt::QueuedConnection);
        return;
    }
    if (!m_bAllThreadsJoined.load()) {
        for (const std::string& strName : m_Threads.vecRunningNames())
            vDEBUG_ERR_printf("%s:%d: thread [%s] still runs at exit", "CVIVadeDlg::vFinishExit", __LINE__,
                              strName.c_str());
    }
    // The I/O driver and the device table go only once no thread can use
    // them any more; a thread left running keeps them until the process ends.
    if (m_bAllThreadsJoined.load()) {
        g_PcieCtrl.UnInitPcie();
        vInitialPrivateData();
    }
    std::fflush(nullptr);
    if (m_iRunMode.load() == 0) {
        const int iExitCode = m_iExitCode.load();
        vDEBUG_MSG_printf("%s:%d: exit code %d", "CVIVadeDlg::vFinishExit", __LINE__, iExitCode);
        m_fnEndProcess(iExitCode);
        return;
    }
    if (!m_bAllThreadsJoined.load()) {
        vDEBUG_ERR_printf("%s:%d: the window stays until the process ends", "CVIVadeDlg::vFinishExit", __LINE__);
        m_fnEndProcess(0);
        return;
    }
    vEndModal(0);
}

void CVIVadeDlg::vDeleteFWFileMadeByTool()
{
    // With config_format 3 the tool may have written a firmware file from a
    // device; only that file, by the full path it was written to, goes.
    // A file the operator chose is never deleted.
    if (pIni.m_pINI.config_format != 3 || m_bFWFileExisted != 0 || m_strFWFileMadeByTool.empty())
        return;
    vDEBUG_MSG_printf("%s:%d: delete %s", "CVIVadeDlg::OnBnClickedOk", __LINE__, m_strFWFileMadeByTool.c_str());
    if (std::remove(m_strFWFileMadeByTool.c_str()) != 0)
        vDEBUG_ERR_printf("%s:%d: delete %s failed", "CVIVadeDlg::OnBnClickedOk", __LINE__,
                          m_strFWFileMadeByTool.c_str());
    m_strFWFileMadeByTool.clear();
}

bool CVIVadeDlg::bJoinStopped(CWorkerThread& thread, uint32_t dwBoundMs)
{
    constexpr uint32_t kJoinSliceMs = 50;
    if (thread.bIsCurrentThread())
        return false;
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwBoundMs);
    for (;;) {
        if (thread.bJoin(std::min(kJoinSliceMs, dwBoundMs)))
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (m_nEepromWrites.load() > 0)
            giveUp = now + std::chrono::milliseconds(dwBoundMs);
        else if (now >= giveUp)
            return false;
    }
}

// The lock button and the automatic-mode box stop the run's threads here, on
// the GUI thread, with the exit's rule: a write under way is waited for.
// The supervisor, asked to stop, stops and joins its own workers the same
// way, so no worker is let go while it writes.
bool CVIVadeDlg::bDeleteAllThread()
{
    try {
        // True when the thread is no longer running.
        auto stop = [this](std::shared_ptr<CWorkerThread>& pThread, const char* pszWhat, int nSlot) {
            bool bJoined = true;
            if (pThread && pThread->bIsRunning()) {
                pThread->vRequestStop();
                bJoined = bJoinStopped(*pThread, m_dwStopJoinMs);
                if (nSlot < 0)
                    vDEBUG_MSG_printf("%s:%d: bDeleteAllThread: stop %s , joined %d , dwErrorCode %d", "CVIVadeDlg",
                                      __LINE__, pszWhat, bJoined ? 1 : 0, nLastError());
                else
                    vDEBUG_MSG_printf("%s:%d: bDeleteAllThread: stop %s[%d] , joined %d , dwErrorCode %d",
                                      "CVIVadeDlg", __LINE__, pszWhat, nSlot, bJoined ? 1 : 0, nLastError());
                pThread.reset();
            }
            return bJoined;
        };
        stop(m_pAutoThread, "m_pAutoThread", -1);
        for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot)
            stop(m_pChildThread[slot], "m_pChildThread", slot);
        const bool bRunStopped = m_pMainThread && m_pMainThread->bIsRunning();
        const bool bRunEnded = stop(m_pMainThread, "m_pMainThread", -1);
        // A stopped supervisor ends without its end of run (its calls to
        // this thread are cancelled by the stop): the window takes back what
        // that end gives back, so it can scan and start again. Its serial
        // numbers were reserved at Start. A supervisor that did not end
        // keeps the token: no run may start beside it.
        if (bRunStopped && bRunEnded && !bExitStarted()) {
            vRegisterDeviceNotification();
            m_bRunning = 0;
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: bDeleteAllThread: ucWr_test_enable : %d , dwErrorCode %d", "CVIVadeDlg", __LINE__,
                          pIni.m_pINI.wr_test_enable, nLastError());
    }
    return true;
}
