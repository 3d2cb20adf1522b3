// The device scan: a request on the GUI thread starts one scan thread, which
// walks the USB tree into the device table under the scan lock, refreshes the
// results table and then decides what follows: a command-line retry or
// give-up, the command-line job, an automatic start, the rescan timer.
//
// One scan at a time. A request is accepted only when no scan is under way
// (from the request until the scan's follow-up is done); any other request is
// dropped, and the rescan timer, which keeps re-arming itself while a scan or
// a run is busy, looks at the device changes again once the scan is over. An
// accepted request starts its scan 500 ms later, on the scan thread, so a
// burst of notices from one plug-in settles first and the GUI thread never
// waits.
//
// The command-line timers: 4 gives up when no device came (after
// CmdLineTimeOut, or 100 ms after the last retry), 5 retries a scan that
// found nothing. Both stop when the job starts, and the job runs once. A
// give-up never cuts a scan short: when timer 4 fires during a scan, the
// scan's end decides.
#include <algorithm>
#include <cstdint>
#include <mutex>

#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "controls/TextProgressCtrl.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/Platform.h"
#include "platform/StopAwareLock.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

constexpr uint64_t kScanStartDelayMs = 500;
constexpr uint32_t kScanProgressMs = 80;
constexpr uint32_t kRescanAfterScanMs = 500;
constexpr uint32_t kRescanBusyMs = 800;
constexpr uint32_t kGiveUpAfterRetriesMs = 100;
constexpr uint8_t kScanPhaseStarted = 1;
constexpr uint8_t kScanPhaseDone = 8;

// PCIE_Scan values.
constexpr int32_t kPcieScanUsbOnly = 0;
constexpr int32_t kPcieScanPcieOnly = 2;

}  // namespace

// What a scan leaves to do once it no longer counts as under way: timers
// that must find no scan running when they fire.
struct CVIVadeDlg::CScanFollowUp {
    bool bArmRetry = false;    // timer 5 at CmdLineNoDevDelayms
    bool bArmGiveUp = false;   // timer 4 at 100 ms
    bool bArmRescan = false;   // timer 3 at 500 ms
};

bool CVIVadeDlg::bScanActive() const
{
    std::lock_guard<std::mutex> lock(m_ScanStateMutex);
    return m_bScanActive;
}

int CVIVadeDlg::nDevicesFound() const
{
    // The PCIe targets join the count when the PCIe access comes.
    return nAllDevCount(m_DevList, 0);
}

void CVIVadeDlg::TriggerScanThread()
{
    static const char* const kWho = "CVIVadeDlg::TriggerScanThread";
    if (bExitStarted() || isShuttingDown())
        return;
    {
        std::lock_guard<std::mutex> lock(m_ScanStateMutex);
        if (m_bScanActive) {
            vDEBUG_MSG_printf("%s:%d:   Already waiting for criticalsection...Exit!!!, dwErrorCode =%d", kWho,
                              __LINE__, nLastError());
            return;
        }
        m_bScanActive = true;
    }
    enableControl(IDC_BUTTON_START, false);
    vSetScanProgress(0);
    m_ucScanPhase = kScanPhaseStarted;
    m_pScanThread = m_Threads.pStart("scan", [this](const krv::StopSource& stop) { ScanThreadFun(stop); });
    if (!m_pScanThread) {
        // The window is closing: no thread may start any more.
        std::lock_guard<std::mutex> lock(m_ScanStateMutex);
        m_bScanActive = false;
    }
}

int CVIVadeDlg::ScanThreadFun(const krv::StopSource& stop)
{
    static const char* const kWho = "CVIVadeDlg::ScanThreadFun";
    CScanFollowUp followUp;
    try {
        krv::Clock& clock = krv::Platform::current().clock();
        if (!clock.sleepMs(kScanStartDelayMs, &stop)) {
            vEndScan(followUp);
            return 1;
        }
        const int32_t iPcieScan = pIni.m_pINI.PCIE_Scan;
        pUtility.g_bScanWaiting = 1;
        {
            krv::StopAwareLock<> scanLock(pUtility.m_ScanCriticalSection, &stop);
            if (!scanLock) {
                pUtility.g_bScanWaiting = 0;
                vEndScan(followUp);
                return 1;
            }
            if (iPcieScan != kPcieScanPcieOnly) {
                setTimer(TIMER_SCAN_PROGRESS, kScanProgressMs);
                vDEBUG_MSG_printf("%s:%d:  Start Scan USB Port , dwErrorCode= %d, ar=%d", kWho, __LINE__,
                                  nLastError(), m_ucArrivalCount.load());
                vScanUSBPort();
                killTimer(TIMER_SCAN_PROGRESS);
                vSetScanProgress(100);
            }
            if (iPcieScan != kPcieScanUsbOnly)
                vDEBUG_MSG_printf("%s:%d: PCIE_Scan %d: the PCIe scan is not available in this build; skipped", kWho,
                                  __LINE__, iPcieScan);
            // A clear first, so that a drive that has gone leaves its row.
            vUpdateMainResultSubItemTable(1);
            m_ucScanPhase = kScanPhaseDone;
            pUtility.g_bScanInterrupt = 0;
        }
        pUtility.g_bScanWaiting = 0;
        enableControl(IDC_BUTTON_START, true);
        vAfterScan(stop, followUp);
    } catch (...) {
        pUtility.g_bScanWaiting = 0;
        vDEBUG_ERR_printf("%s:%d: catch(...) dwErrorCode %d", kWho, __LINE__, nLastError());
    }
    vEndScan(followUp);
    return 1;
}

void CVIVadeDlg::vAfterScan(const krv::StopSource& stop, CScanFollowUp& followUp)
{
    static const char* const kWho = "CVIVadeDlg::ScanThreadFun";
    const int nFound = nDevicesFound();
    const int32_t iDevNums = m_DevList.DevNums;
    const bool bCommandLine = m_iRunMode.load() == 0;

    if (bCommandLine && nFound == 0) {
        const int32_t iRetryMax = pIni.m_pINI.CmdLineNoDevRetryMax;
        if (iRetryMax > 0) {
            if (m_iRescanCount.load() < iRetryMax) {
                ++m_iRescanCount;
                followUp.bArmRetry = true;
            } else {
                m_iExitCode = CMDLINE_EXIT_NO_DEVICE;
                vDEBUG_MSG_printf("%s:%d: no dev, ret:%d", kWho, __LINE__, m_iExitCode.load());
                ++m_iRescanCount;
                followUp.bArmGiveUp = true;
            }
        }
    }

    if (nFound > 0 && m_iCmdIndex.load() > 0 && !m_bCmdJobStarted.exchange(true)) {
        // The job runs once; no retry or give-up may follow it.
        killTimer(TIMER_CMDLINE_GIVE_UP);
        killTimer(TIMER_CMDLINE_RETRY);
        {
            std::lock_guard<std::mutex> lock(m_ScanStateMutex);
            m_bGiveUpPending = false;
        }
        vCmdLineHandler();
        // The job has closed the window; nothing more is done.
        return;
    }
    if (stop.stopRequested())
        return;

    // An automatic start, in the window only: a command-line run starts
    // nothing of its own, and no run starts over one already under way.
    if (!bCommandLine && pIni.m_pINI.auto_mp == 1 && pIni.m_pINI.auto_mp_DevNum == iDevNums && iDevNums > 0 &&
        m_bRunning.load() == 0 && m_bLoginDlgOpen.load() == 0) {
        vDEBUG_MSG_printf("%s:%d: auto start, devices:%d", kWho, __LINE__, iDevNums);
        sendCommand(IDC_BUTTON_START, &stop);
    }

    m_bRescanArmed = 1;
    vDEBUG_MSG_printf("%s:%d: rescan timer enabled:%d", kWho, __LINE__, m_bRescanArmed.load());
    followUp.bArmRescan = true;
}

void CVIVadeDlg::vEndScan(const CScanFollowUp& followUp)
{
    bool bGiveUp = followUp.bArmGiveUp;
    {
        std::lock_guard<std::mutex> lock(m_ScanStateMutex);
        m_bScanActive = false;
        bGiveUp = bGiveUp || m_bGiveUpPending;
        m_bGiveUpPending = false;
    }
    if (m_bCmdJobStarted.load())
        return;
    // Armed only now, so that they find this scan over when they fire.
    if (followUp.bArmRescan)
        setTimer(TIMER_RESCAN, kRescanAfterScanMs);
    if (followUp.bArmRetry) {
        const int32_t iDelay = pIni.m_pINI.CmdLineNoDevDelayms;
        setTimer(TIMER_CMDLINE_RETRY, static_cast<uint32_t>(std::max<int32_t>(iDelay, 0)));
    }
    if (bGiveUp)
        setTimer(TIMER_CMDLINE_GIVE_UP, kGiveUpAfterRetriesMs);
}

int CVIVadeDlg::vScanUSBPort()
{
    static const char* const kWho = "CVIVadeDlg::vScanUSBPort";
    if (pUtility.m_bSafelyRemoving == 1)
        return 1;
    m_DevList.m_bScanFoundCDROMOnly = 0;
    g_UsbDev.Open(&m_DevList, m_strTargetChipCode, BRIDGE_TYPE_857X);
    const int iDevNums = std::min<int>(m_DevList.DevNums, MAX_DEV_SLOTS);
    for (int i = 0; i < iDevNums; ++i) {
        DevInfo& dev = m_DevList.Devs[i];
        const int iResult =
            g_UsbDev.nObtainDiSKInfo(strDrivePath(krv::DriveKind::PhysicalDrive, dev.m_ucPhysicalAddress), dev);
        if (iResult != 0)
            vDEBUG_MSG_printf("%s:%d: obtain disk info fail:%d", kWho, __LINE__, iResult);
    }
    // A command-line run behaves as with automatic start on (the locked
    // window), without writing that into the operator's settings.
    if (iDevNums == 0) {
        if (pIni.m_pINI.auto_mp == 1 || m_iRunMode.load() == 0)
            vSetLockedGUI();
        else
            vSetUnlockedGUI();
    }
    return 1;
}

void CVIVadeDlg::vSetScanProgress(int nPos)
{
    vOnGui([this, nPos] { m_ProgressScan->SetPos(nPos); });
}

void CVIVadeDlg::onTimer(int id) { OnTimer(id); }

void CVIVadeDlg::OnTimer(int nIDEvent)
{
    static const char* const kWho = "CVIVadeDlg::OnTimer";
    switch (nIDEvent) {
    case TIMER_SCAN_PROGRESS: {
        uint8_t ucProgress = pUtility.ucGetProgress();
        if (ucProgress >= 100) {
            pUtility.vSetProgress(0);
            ucProgress = 0;
        }
        m_ProgressScan->SetPos(ucProgress);
        return;
    }
    case TIMER_RESCAN: {
        if (bScanActive() || pUtility.g_bScanWaiting == 1 || m_bRunning == 1) {
            m_bRescanArmed = 1;
            setTimer(TIMER_RESCAN, kRescanBusyMs);
            return;
        }
        const uint8_t ucArrivals = m_ucArrivalCount.load();
        const int32_t iDevNums = m_DevList.DevNums;
        if (ucArrivals % 2 == 1 || ucArrivals > 2 * iDevNums) {
            showControl(IDC_PICTURE_FAIL, false);
            showControl(IDC_PICTURE_PASS, false);
            TriggerScanThread();
            m_ucArrivalCount = 0;
            return;  // the timer stays armed and decides again
        }
        m_bRescanArmed = 0;
        killTimer(TIMER_RESCAN);
        return;
    }
    case TIMER_CMDLINE_RETRY: {
        // Each scan that finds nothing arms the retry again.
        killTimer(TIMER_CMDLINE_RETRY);
        if (m_bCmdJobStarted.load())
            return;
        if (m_iRescanCount.load() <= pIni.m_pINI.CmdLineNoDevRetryMax) {
            vDEBUG_MSG_printf("%s:%d: rescan cnt:%d", kWho, __LINE__, m_iRescanCount.load());
            TriggerScanThread();
        }
        return;
    }
    case TIMER_CMDLINE_GIVE_UP: {
        killTimer(TIMER_CMDLINE_GIVE_UP);
        if (m_bCmdJobStarted.load())
            return;
        {
            std::lock_guard<std::mutex> lock(m_ScanStateMutex);
            if (m_bScanActive) {
                // Its end decides: a device it finds still gets its job.
                m_bGiveUpPending = true;
                return;
            }
        }
        if (nDevicesFound() == 0)
            vCmdLineGiveUp();
        return;
    }
    default:
        return;
    }
}

void CVIVadeDlg::vCmdLineGiveUp()
{
    vDEBUG_MSG_printf("%s:%d: no device, time out:%d s, retry:%d, delay:%d", "CVIVadeDlg::OnTimer", __LINE__,
                      pIni.m_pINI.CmdLineTimeOut, pIni.m_pINI.CmdLineNoDevRetryMax, pIni.m_pINI.CmdLineNoDevDelayms);
    if (m_bCmdJobStarted.exchange(true))
        return;
    vCmdLineClose(CMDLINE_EXIT_NO_DEVICE, nullptr);
}
