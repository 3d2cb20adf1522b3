// The scan thread and the window's timers: one scan at a time, the rescan
// decision, the command-line give-up that never cuts a scan short, the
// automatic start, and the timer ids of each program. The scan runs on its own thread against a bench on real
// time at the bench's scale; where the order matters, the test holds the
// scan lock so that the scan waits where the test wants it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/CmdLineReport.h"
#include "app/Ini.h"
#include "app/IniProfile.h"
#include "app/ResultColumns.h"
#include "app/VIVadeDlg.h"
#include "controls/ListCtrlEx.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/CaptureDebugOutput.h"
#include "platform/DeviceClasses.h"
#include "platform/VirtualClock.h"
#include "platform/bench/BenchPlatform.h"
#include "tests/support/RunTool.h"
#include "tests/support/TestPlatform.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/FilePickers.h"
#include "ui/Timers.h"
#include "variant/ShowStatusProfile.h"

namespace krv::test {
namespace {

constexpr double kScale = 50;

// The window with its scan requests counted (and, when asked, not carried out).
class CountingDlg : public CVIVadeDlg {
public:
    void TriggerScanThread() override
    {
        ++nRequests;
        if (bRealScans)
            CVIVadeDlg::TriggerScanThread();
    }
    bool bRealScans = true;
    int nRequests = 0;
    // When set, a Start command runs this instead of Start.
    std::function<void()> onStart;

protected:
    void onCommand(int id) override
    {
        if (id == IDC_BUTTON_START && onStart) {
            onStart();
            return;
        }
        CVIVadeDlg::onCommand(id);
    }
};

class ScanFixture {
public:
    explicit ScanFixture(int ports, bool present = true, double scale = kScale,
                         const std::function<void(bench::BenchSettings&)>& adjust = {})
    {
        char cwd[4096];
        oldCwd_ = ::getcwd(cwd, sizeof cwd) ? cwd : "";
        bench::BenchSettings settings;
        settings.timeScale = scale;
        settings.ports.resize(static_cast<size_t>(ports));
        for (auto& port : settings.ports)
            port.present = present;
        if (adjust)
            adjust(settings);
        {
            bench::BenchError error;
            VirtualClock clock;
            if (!bench::Bench::create(dir_.file("bench"), settings, error, {}, &clock))
                throw std::runtime_error("cannot make the bench: " + error.message);
        }
        auto capture = std::make_unique<CaptureDebugOutput>();
        capture_ = capture.get();
        BenchPlatformOptions options;
        options.debugOutput = std::move(capture);
        std::string error;
        platform_ = BenchPlatform::open(dir_.file("bench"), error, std::move(options));
        if (!platform_)
            throw std::runtime_error("cannot open the bench: " + error);
        previous_ = Platform::currentOrNull();
        Platform::setCurrent(platform_.get());

        [[maybe_unused]] int rc = ::chdir(dir_.path().c_str());
        vDEBUG_SetLevel(4);
        pUtility.vInitialize();
        pUtility.m_szProgramFolder = dir_.path();
        g_UsbDev.vInitialize();
        pIni.vSetProfile(IniProfileProduction());
        pIni.m_pINI = IniRecordCleared();
        pIni.vSetDefaultSettings();
        pIni.m_pINI.PCIE_Scan = 0;
        vInitListColumnHeaders();
        dlg = std::make_unique<CountingDlg>();
        dlg->vSetEndProcess([this](int code) { endCodes.push_back(code); });
        dlg->vInitResultTableColumns();
        dlg->vSetMainResultItemTable();
    }

    ~ScanFixture()
    {
        dlg.reset();
        g_UsbDev.vShutdown();
        pUtility.m_bSafelyRemoving = 0;
        pUtility.m_bCommandLineMode = false;
        pUtility.vShutdown();
        pIni.m_pINI = IniRecordCleared();
        vDEBUG_SetLevel(0);
        Platform::setCurrent(previous_);
        platform_.reset();
        if (!oldCwd_.empty())
            [[maybe_unused]] int rc = ::chdir(oldCwd_.c_str());
    }

    void commandLine(int32_t iCmdIndex)
    {
        dlg->m_iRunMode = 0;
        dlg->m_iCmdIndex = iCmdIndex;
        pUtility.m_bCommandLineMode = true;
    }
    bool scanOver() { return runEventsUntil([this] { return !dlg->bScanActive(); }); }
    bool ended() { return runEventsUntil([this] { return !endCodes.empty(); }); }
    int linesWith(const std::string& text) const
    {
        int n = 0;
        for (const auto& line : capture_->lines())
            n += line.find(text) != std::string::npos;
        return n;
    }
    std::string file(const std::string& name) const { return dir_.file(name); }
    // The place of the nth (from 0) line holding `text` in the log, or -1.
    int lineOf(const std::string& text, int nth = 0) const
    {
        const auto lines = capture_->lines();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos && nth-- == 0)
                return static_cast<int>(i);
        return -1;
    }

    std::unique_ptr<CountingDlg> dlg;
    std::vector<int> endCodes;

private:
    TempDir dir_;
    std::string oldCwd_;
    std::unique_ptr<BenchPlatform> platform_;
    CaptureDebugOutput* capture_ = nullptr;
    Platform* previous_ = nullptr;
};

int scaled(uint32_t ms) { return ui::TimerSet::scaledPeriod(ms, kScale); }

TEST(ScanThread, OneScanAtATimeAndTheRescanTimerWaitsForIt)
{
    ScanFixture f(1);
    {
        // The scan waits for the lock the test holds.
        std::lock_guard hold(pUtility.m_ScanCriticalSection);
        f.dlg->TriggerScanThread();
        ASSERT_TRUE(runEventsUntil([] { return pUtility.g_bScanWaiting == 1; }));
        f.dlg->TriggerScanThread();
        EXPECT_EQ(f.linesWith("Already waiting for criticalsection"), 1);
        EXPECT_TRUE(f.dlg->bScanActive());
        EXPECT_FALSE(f.dlg->isControlEnabled(IDC_BUTTON_START));

        // The rescan decision waits too, every 800 ms.
        f.dlg->OnTimer(TIMER_RESCAN);
        EXPECT_EQ(f.dlg->timerPeriod(TIMER_RESCAN), scaled(800));
        EXPECT_EQ(f.dlg->m_bRescanArmed.load(), 1);
    }
    ASSERT_TRUE(f.scanOver());
    EXPECT_EQ(f.linesWith("Start Scan USB Port"), 1);
    EXPECT_EQ(f.dlg->m_DevList.DevNums.load(), 1);
    EXPECT_EQ(f.dlg->m_ucScanPhase.load(), 8);
    EXPECT_TRUE(f.dlg->isControlEnabled(IDC_BUTTON_START));
    EXPECT_EQ(f.dlg->m_ListMainResult->GetItemText(0, RESULT_COL_FW), f.dlg->m_DevList.Devs[0].m_strFWVersion);
    EXPECT_FALSE(f.dlg->m_DevList.Devs[0].m_strFWVersion.empty());
    // After the scan the rescan decision comes 500 ms later (armed by the
    // scan thread just after it marked the scan over).
    EXPECT_TRUE(runEventsUntil([&] { return f.dlg->timerPeriod(TIMER_RESCAN) == scaled(500); }))
        << f.dlg->timerPeriod(TIMER_RESCAN);

    // Once it is over, a request starts the next scan.
    f.dlg->TriggerScanThread();
    ASSERT_TRUE(f.scanOver());
    EXPECT_EQ(f.linesWith("Start Scan USB Port"), 2);
}

// A second request while a scan is under way: dropped while the scan waits
// for the scan lock or walks; carried out after it when it comes during the
// scan's start delay (the walk is told so) or during its follow-up. The next
// walk never starts before the earlier scan's follow-up is over.
TEST(ScanThread, ARequestDuringAScanIsDroppedOnlyWhileTheScanWaitsOrWalks)
{
    enum class When { StartDelay, LockWait, FollowUp };
    const struct {
        const char* name;
        When when;
        int running;  // "ScanThreadFun is running" lines
        int dropped;  // "Already waiting" lines
        int walks;
    } cases[] = {
        {"during the start delay", When::StartDelay, 1, 0, 2},
        {"while it waits for the scan lock", When::LockWait, 0, 1, 1},
        {"during its follow-up", When::FollowUp, 0, 0, 2},
    };
    for (const auto& c : cases) {
        // Real time for the start delay, so that the second request surely
        // falls into it.
        ScanFixture f(1, true, c.when == When::StartDelay ? 1.0 : kScale);
        int starts = 0;
        if (c.when == When::FollowUp) {
            // The automatic start is sent from the follow-up; its handler asks for a scan.
            pIni.m_pINI.auto_mp = 1;
            pIni.m_pINI.auto_mp_DevNum = 1;
            f.dlg->onStart = [&] {
                if (++starts == 1)
                    f.dlg->TriggerScanThread();
            };
            f.dlg->TriggerScanThread();
        } else {
            std::lock_guard hold(pUtility.m_ScanCriticalSection);
            f.dlg->TriggerScanThread();
            if (c.when == When::LockWait) {
                ASSERT_TRUE(runEventsUntil([] { return pUtility.g_bScanWaiting == 1; })) << c.name;
            }
            f.dlg->TriggerScanThread();
            EXPECT_EQ(pUtility.g_bScanInterrupt.load(), c.running) << c.name;
        }
        ASSERT_TRUE(runEventsUntil([&] { return !f.dlg->bScanActive() && f.linesWith("Start Scan USB Port") == c.walks; }))
            << c.name;
        ASSERT_TRUE(f.scanOver()) << c.name;
        EXPECT_EQ(f.linesWith("ScanThreadFun is running...Exit!!!"), c.running) << c.name;
        EXPECT_EQ(f.linesWith("Already waiting for criticalsection"), c.dropped) << c.name;
        EXPECT_EQ(f.linesWith("Start Scan USB Port"), c.walks) << c.name;
        EXPECT_EQ(pUtility.g_bScanInterrupt.load(), 0) << c.name;
        EXPECT_EQ(pUtility.g_bScanWaiting.load(), 0) << c.name;
        EXPECT_EQ(f.dlg->m_DevList.DevNums.load(), 1) << c.name;
        if (c.walks == 2) {
            // The second walk begins after the first scan's follow-up ended.
            EXPECT_LT(f.lineOf("rescan timer enabled"), f.lineOf("Start Scan USB Port", 1)) << c.name;
        }
    }
}

// Load INI while a scan runs: the scan keeps the settings and the target
// chip it was asked with; the next scan has the loaded ones.
TEST(ScanThread, LoadIniDuringAScanLeavesTheScanItsOwnSettings)
{
    ScanFixture f(1);
    ui::FilePickers pickers{ui::Presentation::Scripted};
    f.dlg->vSetPresenters(nullptr, &pickers);
    pIni.m_pINI.auto_mp = 1;
    pIni.m_pINI.auto_mp_DevNum = 1;
    pIni.m_pINI.cd_rom_mode = 0;
    g_UsbDev.m_ucCDROMMode = 0;
    const IniRecord before = pIni.m_pINI;
    pIni.m_pINI.auto_mp = 0;
    pIni.m_pINI.cd_rom_mode = 1;
    pIni.m_pINI.target_chip.set("4191");
    const std::string other = f.file("other.ini");
    ASSERT_TRUE(pIni.vStoreINIFile(other)) << pIni.strLastProblem();
    pIni.m_pINI = before;
    int starts = 0;
    f.dlg->onStart = [&starts] { ++starts; };

    {
        std::lock_guard hold(pUtility.m_ScanCriticalSection);
        f.dlg->TriggerScanThread();
        ASSERT_TRUE(runEventsUntil([] { return pUtility.g_bScanWaiting == 1; }));
        pickers.queueAnswer(other);
        f.dlg->OnBnClickedButtonLoadini();
        ASSERT_EQ(pIni.m_pINI.auto_mp, 0);
        ASSERT_EQ(f.dlg->m_strTargetChipCode, "00");
        // The device object keeps what the waiting scan walks with.
        EXPECT_EQ(g_UsbDev.m_ucCDROMMode, 0);
    }
    ASSERT_TRUE(f.scanOver());
    EXPECT_EQ(f.dlg->m_DevList.DevNums.load(), 1);
    EXPECT_EQ(starts, 1);  // started as the settings it was asked with say
    EXPECT_TRUE(runEventsUntil([] { return g_UsbDev.m_ucCDROMMode == 1; }));

    f.dlg->TriggerScanThread();
    ASSERT_TRUE(f.scanOver());
    EXPECT_EQ(starts, 1);  // the loaded settings start nothing
}

TEST(ScanThread, RescanDecision)
{
    const struct {
        const char* name;
        uint8_t arrivals;
        int32_t devNums;
        uint8_t running;
        bool rescan;
        int period;  // of the rescan timer afterwards; -1 killed
    } cases[] = {
        {"four notices, two drives: nothing new", 4, 2, 0, false, -1},
        {"five notices: odd", 5, 2, 0, true, scaled(500)},
        {"three notices: odd", 3, 2, 0, true, scaled(500)},
        {"six notices, two drives: more than two each", 6, 2, 0, true, scaled(500)},
        {"nothing at all", 0, 0, 0, false, -1},
        {"a run on: asked again in 800 ms", 5, 2, 1, false, scaled(800)},
    };
    for (const auto& c : cases) {
        ScanFixture f(1, false);
        f.dlg->bRealScans = false;
        f.dlg->m_DevList.DevNums = c.devNums;
        f.dlg->m_ucArrivalCount = c.arrivals;
        f.dlg->m_bRunning = c.running;
        f.dlg->m_bRescanArmed = 1;
        f.dlg->setTimer(TIMER_RESCAN, 500);
        f.dlg->OnTimer(TIMER_RESCAN);
        EXPECT_EQ(f.dlg->nRequests, c.rescan ? 1 : 0) << c.name;
        EXPECT_EQ(f.dlg->m_ucArrivalCount.load(), c.rescan ? 0 : c.arrivals) << c.name;
        EXPECT_EQ(f.dlg->timerPeriod(TIMER_RESCAN), c.period) << c.name;
        EXPECT_EQ(f.dlg->m_bRescanArmed.load(), c.period < 0 ? 0 : 1) << c.name;
        f.dlg->m_bRunning = 0;
    }
}

// Timer 4 firing while a scan is under way does not end the run: the scan's
// end decides, and a drive it finds still gets its job.
TEST(ScanThread, TheGiveUpWaitsForTheScanUnderWay)
{
    const struct {
        bool present;
        int code;
    } cases[] = {{false, CVIVadeDlg::CMDLINE_EXIT_NO_DEVICE}, {true, CVIVadeDlg::CMDLINE_EXIT_OK}};
    for (const auto& c : cases) {
        ScanFixture f(1, c.present);
        f.commandLine(CVIVadeDlg::CMD_JOB_VERSION);
        {
            std::lock_guard hold(pUtility.m_ScanCriticalSection);
            f.dlg->TriggerScanThread();
            f.dlg->OnTimer(TIMER_CMDLINE_GIVE_UP);
            EXPECT_TRUE(f.endCodes.empty()) << c.present;
        }
        ASSERT_TRUE(f.ended()) << c.present;
        EXPECT_EQ(f.endCodes, std::vector<int>{c.code}) << c.present;
        EXPECT_EQ(f.linesWith("cmd idx:4"), c.present ? 1 : 0);
        EXPECT_EQ(access(f.file(CMD_REPORT_VERSION_FILE).c_str(), F_OK) == 0, c.present);
        // A command-line scan keeps its automatic start out of the settings.
        EXPECT_EQ(pIni.m_pINI.auto_mp, 0);
    }
}

TEST(ScanThread, AutomaticStartOnlyInTheWindowAndNeverOverARun)
{
    const struct {
        const char* name;
        bool commandLine;
        uint8_t running;
        uint8_t devNum;
        int starts;
    } cases[] = {
        {"the window, one drive wanted and found", false, 0, 1, 1},
        {"two drives wanted", false, 0, 2, 0},
        {"a run on", false, 1, 1, 0},
        {"command line", true, 0, 1, 0},
    };
    for (const auto& c : cases) {
        ScanFixture f(1);
        pIni.m_pINI.auto_mp = 1;
        pIni.m_pINI.auto_mp_DevNum = c.devNum;
        if (c.commandLine)
            f.commandLine(CVIVadeDlg::CMD_JOB_NONE);
        f.dlg->m_bRunning = c.running;
        int starts = 0;
        f.dlg->onStart = [&starts] { ++starts; };
        f.dlg->TriggerScanThread();
        ASSERT_TRUE(f.scanOver()) << c.name;
        EXPECT_EQ(starts, c.starts) << c.name;
        f.dlg->m_bRunning = 0;
    }
}

// The PCIe half of the rescan decision: PnPUtil lists two functions of each
// bridge on a PCIe tunnel; while the last scan found another number of
// targets, the timer asks for a scan again, and once they agree it ends.
TEST(ScanThread, RescanWhilePnPUtilListsOtherPcieBridgesThanTheScanFound)
{
    ScanFixture f(3, true, kScale, [](bench::BenchSettings& s) {
        s.ports[0].link = "USB4";
        s.ports[2].link = "TBT3";
    });
    pIni.m_pINI.PCIE_Scan = 1;
    g_PcieCtrl.InitPcie();
    EXPECT_EQ(f.dlg->nGet8574PcieCntByPnpUtil(), 2);

    f.dlg->bRealScans = false;
    f.dlg->m_bRescanArmed = 1;
    f.dlg->setTimer(TIMER_RESCAN, 500);
    f.dlg->OnTimer(TIMER_RESCAN);  // no scan yet: no targets
    EXPECT_EQ(f.dlg->nRequests, 1);
    EXPECT_EQ(f.dlg->m_bRescanArmed.load(), 1);

    f.dlg->bRealScans = true;
    f.dlg->TriggerScanThread();
    ASSERT_TRUE(f.scanOver());
    EXPECT_EQ(g_PcieCtrl.ucTargetCount(), 2);
    EXPECT_EQ(f.dlg->m_DevList.DevNums.load(), 1);
    f.dlg->bRealScans = false;
    f.dlg->m_ucArrivalCount = 0;
    f.dlg->OnTimer(TIMER_RESCAN);
    EXPECT_EQ(f.dlg->nRequests, 2);  // only the scan asked for above
    EXPECT_EQ(f.dlg->timerPeriod(TIMER_RESCAN), -1);
    EXPECT_EQ(f.dlg->m_bRescanArmed.load(), 0);
    g_PcieCtrl.UnInitPcie();
}

TEST(ScanThread, NoUsbWalkForPcieOnlyNorDuringASafeRemoval)
{
    for (bool pcieOnly : {true, false}) {
        ScanFixture f(1);
        if (pcieOnly)
            pIni.m_pINI.PCIE_Scan = 2;
        else
            pUtility.m_bSafelyRemoving = 1;
        f.dlg->TriggerScanThread();
        ASSERT_TRUE(f.scanOver());
        EXPECT_EQ(f.dlg->m_DevList.DevNums.load(), 0) << pcieOnly;
        EXPECT_EQ(f.linesWith("Start Scan USB Port"), pcieOnly ? 0 : 1);
        EXPECT_EQ(f.linesWith("scan pcie end"), pcieOnly ? 1 : 0);
    }
}

// The window as an operator sees it: `krvbench plug` from another process
// while the window runs; the notices reach the window, the debounced rescan
// runs, and the drive's row shows; unplugged, the row goes again.
TEST(ScanThread, ADrivePluggedWhileTheWindowRunsShowsAfterTheRescan)
{
    ScanFixture f(2, false);
    f.dlg->vRegisterDeviceNotification();
    f.dlg->TriggerScanThread();
    ASSERT_TRUE(f.scanOver());
    ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 0);

    const std::string krvbench = builtProgram("tools/krvbench/krvbench");
    auto rowShown = [&] {
        return !f.dlg->bScanActive() && f.dlg->m_DevList.DevNums.load() == 1 &&
               f.dlg->m_ListMainResult->GetItemText(0, RESULT_COL_SN) == f.dlg->m_DevList.Devs[0].m_strSerialNumber;
    };
    ToolRun plug = runProgram(krvbench, {"plug", f.file("bench"), "2"});
    ASSERT_EQ(plug.exitCode, 0) << plug.err;
    ASSERT_TRUE(runEventsUntil(rowShown));
    EXPECT_NE(f.dlg->m_DevList.Devs[0].m_strSerialNumber.find("0002"), std::string::npos);
    EXPECT_GE(f.linesWith("trigger scan thread, DBT_DEVICEARRIVAL"), 1);

    ToolRun unplug = runProgram(krvbench, {"unplug", f.file("bench"), "2"});
    ASSERT_EQ(unplug.exitCode, 0) << unplug.err;
    ASSERT_TRUE(runEventsUntil([&] { return !f.dlg->bScanActive() && f.dlg->m_DevList.DevNums.load() == 0; }));
    EXPECT_TRUE(runEventsUntil([&] { return f.dlg->m_ListMainResult->GetItemText(0, RESULT_COL_SN).empty(); }));
}

}  // namespace
}  // namespace krv::test

namespace krv::test {
namespace {

// With the external PD/MCU update on, the scan reads each drive's PD version
// into its own row; with it off, the PD column stays empty.
TEST(ScanThread, TheScanShowsEachDrivesPdVersionWhenTheExternalUpdateIsOn)
{
    for (const uint8_t ucExt : {1, 0}) {
        ScanFixture f(2, true, kScale, [](bench::BenchSettings& s) {
            s.ports[0].pd = bench::PdChip::Richtek;
            s.ports[1].pd = bench::PdChip::Ccg3;
            s.ports[1].mcu = bench::McuChip::Stm;
        });
        pIni.m_pINI.pd_fw_enable = 1;
        pIni.m_pINI.mcu_fw_enable = 1;
        f.dlg->m_DevList.m_bDoExtUpdateFW = ucExt;
        f.dlg->TriggerScanThread();
        ASSERT_TRUE(f.scanOver());
        ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 2);
        std::set<std::string> shown;
        for (int row = 0; row < 2; ++row)
            shown.insert(f.dlg->m_ListMainResult->GetItemText(row, RESULT_COL_PD));
        if (ucExt)
            EXPECT_EQ(shown, (std::set<std::string>{"0001/NULL", "0001000000000001/FFFF"}));
        else
            EXPECT_EQ(shown, (std::set<std::string>{""}));
    }
}

// The window's timers 2 to 5, id -> real-time period, of those armed.
std::map<int, int> armedTimers(const CVIVadeDlg& dlg)
{
    std::map<int, int> armed;
    for (int id = 2; id <= 5; ++id)
        if (dlg.timerPeriod(id) >= 0)
            armed[id] = dlg.timerPeriod(id);
    return armed;
}

// Which timers each program arms: after a scan, after a device's notices,
// for a command-line run, and what firing them does. The production tool
// decides on a rescan with timer 3 and gives up a command-line run with 4;
// KRV857xShowStatus decides with 4, and its parser's timer 3 fires for
// nothing.
TEST(ScanThread, TimersOfEachProgram)
{
    enum class Event { Scan, Notices, CmdLine, FireIdle, FireRescanBusy, FireRescanArrivals };
    const struct {
        const char* name;
        bool variant;
        Event event;
        std::map<int, int> armed;
        int scans;  // scan requests the event made
    } cases[] = {
        {"production: after a scan", false, Event::Scan, {{3, scaled(500)}}, 1},
        {"variant: after a scan", true, Event::Scan, {{4, scaled(500)}}, 1},
        {"production: a drive's notices", false, Event::Notices, {{3, scaled(RESCAN_DEBOUNCE_MS)}}, 1},
        {"variant: a drive's notices", true, Event::Notices, {{4, scaled(RESCAN_DEBOUNCE_MS)}}, 1},
        {"production: a command line gives up after its time-out", false, Event::CmdLine, {{4, scaled(7000)}}, 0},
        {"variant: a command line arms timer 3", true, Event::CmdLine, {{3, scaled(7000)}}, 0},
        {"variant: timer 3 fires for nothing", true, Event::FireIdle, {{3, scaled(7000)}}, 0},
        {"production: busy, the rescan asks again", false, Event::FireRescanBusy, {{3, scaled(800)}}, 0},
        {"variant: busy, the rescan asks again", true, Event::FireRescanBusy, {{4, scaled(800)}}, 0},
        {"production: odd notices rescan", false, Event::FireRescanArrivals, {{3, scaled(500)}}, 1},
        {"variant: odd notices rescan", true, Event::FireRescanArrivals, {{4, scaled(500)}}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScanFixture f(1);
        if (c.variant)
            f.dlg->vSetDlgProfile(MainDlgProfileShowStatus());
        const int rescanId = c.variant ? 4 : 3;
        pIni.m_pINI.CmdLineTimeOut = 7;
        pIni.m_pINI.CmdLineNoDevRetryMax = 0;
        f.dlg->bRealScans = c.event == Event::Scan;
        switch (c.event) {
        case Event::Scan:
            f.dlg->TriggerScanThread();
            ASSERT_TRUE(f.scanOver());
            ASSERT_TRUE(runEventsUntil([&] { return f.dlg->timerPeriod(rescanId) >= 0; }));
            break;
        case Event::Notices:
            for (const Guid& cls : {interfaceclass::kUsbDevice, interfaceclass::kDisk}) {
                DEV_BROADCAST_DEVICEINTERFACE hdr;
                hdr.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
                hdr.dbcc_classguid = cls;
                hdr.dbcc_name = "\\\\?\\test";
                f.dlg->OnUSBDeviceChange(DBT_DEVICEARRIVAL, &hdr);
            }
            break;
        case Event::CmdLine:
        case Event::FireIdle:
            f.dlg->vCmdLinePreHandler("/O");
            if (c.event == Event::FireIdle) {
                f.dlg->m_ucArrivalCount = 1;  // a rescan decision here would scan
                f.dlg->OnTimer(3);
            }
            break;
        case Event::FireRescanBusy:
        case Event::FireRescanArrivals:
            f.dlg->setTimer(rescanId, 500);
            f.dlg->m_bRunning = c.event == Event::FireRescanBusy ? 1 : 0;
            f.dlg->m_ucArrivalCount = 1;
            f.dlg->OnTimer(rescanId);
            f.dlg->m_bRunning = 0;
            break;
        }
        EXPECT_EQ(armedTimers(*f.dlg), c.armed);
        EXPECT_EQ(f.dlg->nRequests, c.scans);
        EXPECT_TRUE(f.endCodes.empty());
    }
}

// The PCIe targets' fill in each program: its trace line, and the PD type
// that only the production tool copies into the records.
TEST(ScanThread, PcieFillOfEachProgram)
{
    for (const bool variant : {false, true}) {
        SCOPED_TRACE(variant ? "variant" : "production");
        ScanFixture f(1, true, kScale, [](bench::BenchSettings& s) { s.ports[0].link = "USB4"; });
        if (variant)
            f.dlg->vSetDlgProfile(MainDlgProfileShowStatus());
        pIni.m_pINI.PCIE_Scan = 1;
        g_PcieCtrl.InitPcie();
        f.dlg->TriggerScanThread();
        ASSERT_TRUE(f.scanOver());
        ASSERT_EQ(g_PcieCtrl.ucTargetCount(), 1);
        const uint8_t ucPDType = g_PcieCtrl.targetInfo(0).m_ucPDType;
        ASSERT_NE(ucPDType, 0);
        const DevInfo& dev = f.dlg->m_DevList.Devs[f.dlg->m_DevList.DevNums.load()];
        EXPECT_EQ(dev.m_bPCIE, 1);
        EXPECT_EQ(dev.m_ucPDType, variant ? 0 : ucPDType);
        EXPECT_EQ(f.linesWith("find pcie 8574 host:1"), variant ? 1 : 0);
        EXPECT_EQ(f.linesWith("find pcie 8574:1"), variant ? 0 : 1);
        g_PcieCtrl.UnInitPcie();
    }
}

}  // namespace
}  // namespace krv::test
