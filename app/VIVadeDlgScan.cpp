// The device scan: a request on the GUI thread starts one scan thread, which
// walks the USB tree into the device table under the scan lock, refreshes the
// results table and then decides what follows: a command-line retry or
// give-up, the command-line job, an automatic start, the rescan timer.
//
// Requests. A scan thread counts as waiting from the end of its 500 ms start
// delay until it has left the scan lock (g_bScanWaiting), and as registered
// from its request until it is about to leave the lock. A request while one
// waits is dropped ("Already waiting"); one while a scan is registered but
// not yet waiting sets the walk's interrupt and is still carried out. The
// 500 ms wait runs on the scan thread, so a burst of notices from one
// plug-in settles first and the GUI thread never waits.
//
// One scan works at a time: a scan starts its walk only when every scan
// requested before it has finished its follow-up, since the follow-up (the
// command-line job, an automatic start) reads the device table a walk
// rewrites. The rescan timer keeps re-arming itself while a scan or a run is
// busy and looks at the device changes again once the scan is over.
//
// A run owns the table: a scan that takes the scan lock while a run holds
// its token (m_bRunning) does not walk and does no follow-up; the run's own
// re-link rescans are the only walks until it ends.
//
// No change is lost: a request dropped while a walk is under way (which may
// have passed the drive already), or a device change the run's token turned
// away, leaves the count of requests ahead of the count the last walk began
// with; the rescan timer is armed for it and, once no scan and no run is
// busy, scans. Without that the table would show a drive that has gone, or
// the automatic start would wait for a drive it never saw come.
//
// A scan reads the settings and the target chip as they were when it was
// requested (CScanSettings, copied on the GUI thread): Load INI may change
// both while it runs, and asks for a scan of its own with the new ones.
//
// The command-line timers: 4 gives up when no device came (after
// CmdLineTimeOut, or 100 ms after the last retry), 5 retries a scan that
// found nothing. Both stop when the job starts, and the job runs once. A
// give-up never cuts a scan short: when timer 4 fires during a scan, the
// scan's end decides.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "controls/TextProgressCtrl.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
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

CVIVadeDlg::CScanSettings CVIVadeDlg::stScanSettings() const
{
    CScanSettings settings;
    settings.iPcieScan = pIni.m_pINI.PCIE_Scan;
    settings.ucAutoMp = pIni.m_pINI.auto_mp;
    settings.ucAutoMpDevNum = pIni.m_pINI.auto_mp_DevNum;
    settings.iCmdLineNoDevRetryMax = pIni.m_pINI.CmdLineNoDevRetryMax;
    settings.iCmdLineNoDevDelayms = pIni.m_pINI.CmdLineNoDevDelayms;
    settings.ucCDROMMode = pIni.m_pINI.cd_rom_mode;
    settings.ucSNEditType = pIni.m_pINI.SN_EditType;
    settings.strTargetChipCode = m_strTargetChipCode;
    settings.strPcieVendorID = pIni.m_pINI.PCIE_VendorID.str();
    settings.strPcieDeviceID = pIni.m_pINI.PCIE_DeviceID.str();
    settings.ucExtUpdateFW = m_DevList.m_bDoExtUpdateFW;
    settings.ucPDFwEnable = static_cast<uint8_t>(pIni.m_pINI.pd_fw_enable);
    settings.ucMCUFwEnable = static_cast<uint8_t>(pIni.m_pINI.mcu_fw_enable);
    return settings;
}

bool CVIVadeDlg::bScanActive() const
{
    std::lock_guard<std::mutex> lock(m_ScanStateMutex);
    return !m_setScansUnderWay.empty();
}

int CVIVadeDlg::nDevicesFound() const
{
    return nAllDevCount(m_DevList, g_PcieCtrl.ucTargetCount());
}

void CVIVadeDlg::TriggerScanThread()
{
    static const char* const kWho = "CVIVadeDlg::TriggerScanThread";
    if (bExitStarted() || isShuttingDown())
        return;
    uint64_t nTicket = 0;
    ++m_nScanAsks;
    {
        std::unique_lock<std::mutex> lock(m_ScanStateMutex);
        if (m_nScansWaiting > 0) {
            vDEBUG_MSG_printf("%s:%d:   Already waiting for criticalsection...Exit!!!, dwErrorCode =%d", kWho,
                              __LINE__, nLastError());
            lock.unlock();
            // The walk under way may have passed this change already.
            vLookAgainLater();
            return;
        }
        nTicket = m_nNextScanTicket++;
        m_setScansUnderWay.insert(nTicket);
    }
    enableControl(IDC_BUTTON_START, false);
    vSetScanProgress(0);
    {
        std::lock_guard<std::mutex> lock(m_ScanStateMutex);
        if (m_nScansRegistered > 0) {
            // The request stands: it is carried out after the scan under way.
            vDEBUG_MSG_printf("%s:%d:   ScanThreadFun is running...Exit!!!, dwErrorCode =%d", kWho, __LINE__,
                              nLastError());
            pUtility.g_bScanInterrupt = 1;
        }
        ++m_nScansRegistered;
    }
    m_ucScanPhase = kScanPhaseStarted;
    m_pScanThread = m_Threads.pStart(
        "scan", [this, nTicket, settings = stScanSettings()](const krv::StopSource& stop) {
            ScanThreadFun(stop, nTicket, settings);
        });
    if (!m_pScanThread) {
        // The window is closing: no thread may start any more.
        std::lock_guard<std::mutex> lock(m_ScanStateMutex);
        --m_nScansRegistered;
        m_setScansUnderWay.erase(nTicket);
        m_cvScanEnded.notify_all();
    }
}

void CVIVadeDlg::vUnregisterScan(bool& bRegistered)
{
    if (!bRegistered)
        return;
    bRegistered = false;
    std::lock_guard<std::mutex> lock(m_ScanStateMutex);
    --m_nScansRegistered;
}

void CVIVadeDlg::vSetScanWaiting(bool& bWaiting, bool bOn)
{
    if (bWaiting == bOn)
        return;
    bWaiting = bOn;
    std::lock_guard<std::mutex> lock(m_ScanStateMutex);
    m_nScansWaiting += bOn ? 1 : -1;
    pUtility.g_bScanWaiting = m_nScansWaiting > 0 ? 1 : 0;
}

bool CVIVadeDlg::bWaitForEarlierScans(const krv::StopSource& stop, uint64_t nTicket)
{
    constexpr auto kStopPollSlice = std::chrono::milliseconds(20);
    std::unique_lock<std::mutex> lock(m_ScanStateMutex);
    while (!m_setScansUnderWay.empty() && *m_setScansUnderWay.begin() != nTicket) {
        if (stop.stopRequested())
            return false;
        m_cvScanEnded.wait_for(lock, kStopPollSlice);
    }
    return !stop.stopRequested();
}

int CVIVadeDlg::ScanThreadFun(const krv::StopSource& stop, uint64_t nTicket, const CScanSettings& settings)
{
    static const char* const kWho = "CVIVadeDlg::ScanThreadFun";
    CScanFollowUp followUp;
    bool bRegistered = true;
    bool bWaiting = false;
    try {
        krv::Clock& clock = krv::Platform::current().clock();
        bool bScanned = false;
        if (clock.sleepMs(kScanStartDelayMs, &stop)) {
            vSetScanWaiting(bWaiting, true);
            if (bWaitForEarlierScans(stop, nTicket)) {
                krv::StopAwareLock scanLock(pUtility.m_ScanCriticalSection, &stop);
                if (scanLock && m_bRunning.load() != 0) {
                    // A run took the token while this scan waited: the
                    // table is the run's now, and only its own re-link
                    // rescans walk the bus until it ends.
                    vDEBUG_MSG_printf("%s:%d: a run is under way: the scan leaves the table alone", kWho, __LINE__);
                    vUnregisterScan(bRegistered);
                    pUtility.g_bScanInterrupt = 0;
                } else if (scanLock) {
                    // Every request so far is looked at by this walk.
                    m_nScanAsksAtWalk = m_nScanAsks.load();
                    vScanUnderLock(settings);
                    vUnregisterScan(bRegistered);
                    pUtility.g_bScanInterrupt = 0;
                    bScanned = true;
                }
            }
            vSetScanWaiting(bWaiting, false);
        }
        if (bScanned) {
            enableControl(IDC_BUTTON_START, true);
            vAfterScan(stop, settings, followUp);
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...) dwErrorCode %d", kWho, __LINE__, nLastError());
    }
    vUnregisterScan(bRegistered);
    vSetScanWaiting(bWaiting, false);
    vEndScan(nTicket, settings, followUp);
    return 1;
}

void CVIVadeDlg::vApplyCDROMModeToDevice()
{
    // Only while no scan is under way (scans start on this thread only): a
    // walk reads the device object's copy, which its scan set from its own
    // settings; the last scan to end has this run again.
    if (!bScanActive())
        g_UsbDev.m_ucCDROMMode = pIni.m_pINI.cd_rom_mode;
}

void CVIVadeDlg::vScanUnderLock(const CScanSettings& settings)
{
    static const char* const kWho = "CVIVadeDlg::ScanThreadFun";
    // The walk's input, from this scan's own copy of the settings.
    g_UsbDev.m_ucCDROMMode = settings.ucCDROMMode;
    if (settings.iPcieScan != kPcieScanPcieOnly) {
        setTimer(TIMER_SCAN_PROGRESS, kScanProgressMs);
        if (m_pProfile->bShowStatusTrace)
            vDEBUG_MSG_printf("%s:%d:  Start Scan USB Port , dwErrorCode= %d", kWho, __LINE__, nLastError());
        else
            vDEBUG_MSG_printf("%s:%d:  Start Scan USB Port , dwErrorCode= %d, ar=%d", kWho, __LINE__, nLastError(),
                              m_ucArrivalCount.load());
        vScanUSBPort(settings);
        killTimer(TIMER_SCAN_PROGRESS);
        vSetScanProgress(100);
    }
    if (settings.iPcieScan != kPcieScanUsbOnly)
        vScanPcie(settings);
    // A clear first, so that a drive that has gone leaves its row.
    vUpdateMainResultSubItemTable(1);
    m_ucScanPhase = kScanPhaseDone;
}

void CVIVadeDlg::vAfterScan(const krv::StopSource& stop, const CScanSettings& settings, CScanFollowUp& followUp)
{
    static const char* const kWho = "CVIVadeDlg::ScanThreadFun";
    const int nFound = nDevicesFound();
    const int32_t iDevNums = m_DevList.DevNums;
    const bool bCommandLine = m_iRunMode.load() == 0;

    if (bCommandLine && nFound == 0 && m_pProfile->bNoDeviceExitsAtOnce) {
        if (m_iCmdIndex.load() > 0 && !m_bCmdJobStarted.exchange(true))
            vCmdLineClose(CMDLINE_EXIT_NO_DEVICE, &stop);
        return;
    }
    if (bCommandLine && nFound == 0) {
        const int32_t iRetryMax = settings.iCmdLineNoDevRetryMax;
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
        vKillTimerIfAny(m_pProfile->timers.iCmdLineGiveUp);
        vKillTimerIfAny(m_pProfile->timers.iCmdLineRetry);
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

    // A serial number to be typed or scanned for the drives found: the run
    // starts once it is entered.
    if (iDevNums > 0 && settings.ucSNEditType == SN_EDIT_TYPE_FROM_BARCODE && m_bInputDlgOpen.load() == 0) {
        vDEBUG_MSG_printf("%s:%d: OpenSNAndPStringEnteringDialog: this->m_DevList.DevNums : %i", kWho, __LINE__,
                          iDevNums);
        if (bRunInputDlg())
            sendCommand(IDC_BUTTON_START, &stop);
    }

    // An automatic start, in the window only: a command-line run starts
    // nothing of its own, and no run starts over one already under way.
    if (!bCommandLine && m_pProfile->bAutoStart && settings.ucAutoMp == 1 && settings.ucAutoMpDevNum == iDevNums && iDevNums > 0 &&
        m_bRunning.load() == 0 && m_bLoginDlgOpen.load() == 0) {
        vDEBUG_MSG_printf("%s:%d: auto start, devices:%d", kWho, __LINE__, iDevNums);
        sendCommand(IDC_BUTTON_START, &stop);
    }

    m_bRescanArmed = 1;
    vDEBUG_MSG_printf("%s:%d: rescan timer enabled:%d", kWho, __LINE__, m_bRescanArmed.load());
    followUp.bArmRescan = true;
}

void CVIVadeDlg::vEndScan(uint64_t nTicket, const CScanSettings& settings, const CScanFollowUp& followUp)
{
    bool bGiveUp = followUp.bArmGiveUp;
    bool bLast = false;
    {
        std::lock_guard<std::mutex> lock(m_ScanStateMutex);
        m_setScansUnderWay.erase(nTicket);
        bLast = m_setScansUnderWay.empty();
        // A give-up that fell during the scans is decided by the last one.
        if (bLast) {
            bGiveUp = bGiveUp || m_bGiveUpPending;
            m_bGiveUpPending = false;
        }
    }
    m_cvScanEnded.notify_all();
    if (bLast)
        postToGui([this] { vApplyCDROMModeToDevice(); });
    if (m_bCmdJobStarted.load())
        return;
    // Armed only now, so that they find this scan over when they fire.
    const MainDlgTimerIds& timers = m_pProfile->timers;
    if (followUp.bArmRescan)
        setTimer(timers.iRescan, kRescanAfterScanMs);
    if (followUp.bArmRetry && timers.iCmdLineRetry != 0)
        setTimer(timers.iCmdLineRetry, static_cast<uint32_t>(std::max<int32_t>(settings.iCmdLineNoDevDelayms, 0)));
    if (bGiveUp && timers.iCmdLineGiveUp != 0)
        setTimer(timers.iCmdLineGiveUp, kGiveUpAfterRetriesMs);
}

int CVIVadeDlg::vScanUSBPort(const CScanSettings& settings)
{
    static const char* const kWho = "CVIVadeDlg::vScanUSBPort";
    if (pUtility.m_bSafelyRemoving == 1)
        return 1;
    m_DevList.m_bScanFoundCDROMOnly = 0;
    g_UsbDev.Open(&m_DevList, settings.strTargetChipCode, BRIDGE_TYPE_857X);
    const int iDevNums = std::min<int>(m_DevList.DevNums, MAX_DEV_SLOTS);
    for (int i = 0; i < iDevNums; ++i) {
        DevInfo& dev = m_DevList.Devs[i];
        const int iResult =
            g_UsbDev.nObtainDiSKInfo(strDrivePath(krv::DriveKind::PhysicalDrive, dev.m_ucPhysicalAddress), dev);
        if (iResult != 0)
            vDEBUG_MSG_printf("%s:%d: obtain disk info fail:%d", kWho, __LINE__, iResult);
    }
    vScanPDVersions(settings, iDevNums);
    // A command-line run behaves as with automatic start on (the locked
    // window), without writing that into the operator's settings. A re-link
    // rescan of a run that finds no drive while they restart leaves the
    // run's controls alone: Start must not come back under a running run.
    if (iDevNums == 0 && m_bRunning.load() == 0) {
        if (settings.ucAutoMp == 1 || m_iRunMode.load() == 0)
            vSetLockedGUI();
        else
            vSetUnlockedGUI();
    }
    return 1;
}

void CVIVadeDlg::vNoteChangeNotScanned()
{
    ++m_nScanAsks;
    vLookAgainLater();
}

void CVIVadeDlg::vLookAgainLater()
{
    const int iRescan = m_pProfile->timers.iRescan;
    if (iRescan == 0 || m_bRescanArmed.exchange(1) != 0)
        return;
    vDEBUG_MSG_printf("%s:%d: rescan timer enabled:%d", "CVIVadeDlg::vLookAgainLater", __LINE__, 1);
    setTimer(iRescan, RESCAN_BUSY_MS);
}

void CVIVadeDlg::vSetScanProgress(int nPos)
{
    vOnGui([this, nPos] { m_ProgressScan->SetPos(nPos); });
}

void CVIVadeDlg::onTimer(int id) { OnTimer(id); }

void CVIVadeDlg::vKillTimerIfAny(int nIDEvent)
{
    if (nIDEvent != 0)
        killTimer(nIDEvent);
}

void CVIVadeDlg::OnTimer(int nIDEvent)
{
    static const char* const kWho = "CVIVadeDlg::OnTimer";
    // The ids other than the progress are the program's own; an id it
    // does not name (the variant's command-line time-out) does nothing.
    const MainDlgTimerIds& timers = m_pProfile->timers;
    if (nIDEvent == 0)
        return;
    if (nIDEvent == TIMER_SCAN_PROGRESS) {
        uint8_t ucProgress = pUtility.ucGetProgress();
        if (ucProgress >= 100) {
            pUtility.vSetProgress(0);
            ucProgress = 0;
        }
        m_ProgressScan->SetPos(ucProgress);
        return;
    }
    if (nIDEvent == timers.iRescan) {
        if (bScanActive() || pUtility.g_bScanWaiting == 1 || m_bRunning == 1) {
            m_bRescanArmed = 1;
            setTimer(timers.iRescan, RESCAN_BUSY_MS);
            return;
        }
        const uint8_t ucArrivals = m_ucArrivalCount.load();
        const int32_t iDevNums = m_DevList.DevNums;
        if (ucArrivals % 2 == 1 || ucArrivals > 2 * iDevNums || bChangeNotScanned() ||
            (pIni.m_pINI.PCIE_Scan != 0 && nGet8574PcieCntByPnpUtil() != g_PcieCtrl.ucTargetCount())) {
            showControl(IDC_PICTURE_FAIL, false);
            showControl(IDC_PICTURE_PASS, false);
            TriggerScanThread();
            m_ucArrivalCount = 0;
            return;  // the timer stays armed and decides again
        }
        m_bRescanArmed = 0;
        killTimer(timers.iRescan);
        return;
    }
    if (nIDEvent == timers.iCmdLineRetry) {
        // Each scan that finds nothing arms the retry again.
        killTimer(timers.iCmdLineRetry);
        if (m_bCmdJobStarted.load())
            return;
        if (m_iRescanCount.load() <= pIni.m_pINI.CmdLineNoDevRetryMax) {
            vDEBUG_MSG_printf("%s:%d: rescan cnt:%d", kWho, __LINE__, m_iRescanCount.load());
            TriggerScanThread();
        }
        return;
    }
    if (nIDEvent == timers.iCmdLineGiveUp) {
        killTimer(timers.iCmdLineGiveUp);
        if (m_bCmdJobStarted.load())
            return;
        {
            std::lock_guard<std::mutex> lock(m_ScanStateMutex);
            if (!m_setScansUnderWay.empty()) {
                // Its end decides: a device it finds still gets its job.
                m_bGiveUpPending = true;
                return;
            }
        }
        if (nDevicesFound() == 0)
            vCmdLineGiveUp();
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
