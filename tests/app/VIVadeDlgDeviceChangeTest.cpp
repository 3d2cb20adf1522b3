// Device-change notices: the debounce that arms the rescan timer, the notices
// that ask for a scan at once, the states that silence them, and their way
// from the platform to the GUI thread.
#include <gtest/gtest.h>

#include "platform/DeviceClasses.h"
#include "platform/DeviceEventQueue.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

using interfaceclass::kDisk;
using interfaceclass::kUsbDevice;
using interfaceclass::kUsbHostController;
using interfaceclass::kUsbHub;

struct Notice {
    uint32_t event;
    Guid cls;
    bool isInterface = true;
};

enum class Supervisor { None, Running, Ended };

struct Case {
    const char* name;
    std::vector<Notice> notices;
    Supervisor supervisor = Supervisor::None;
    bool safelyRemoving = false;
    bool inputDlgOpen = false;
    bool running = false;
    // what follows
    int scans;
    bool timerArmed;
    uint8_t arrivals;
    uint8_t changeCount;
    bool picturesHidden = false;
    uint32_t timerMs = RESCAN_DEBOUNCE_MS;
};

const Notice kDiskIn{DBT_DEVICEARRIVAL, kDisk};
const Notice kUsbIn{DBT_DEVICEARRIVAL, kUsbDevice};
const Notice kHidIn{DBT_DEVICEARRIVAL, GUID_DEVINTERFACE_HID};
const Notice kNetIn{DBT_DEVICEARRIVAL, GUID_DEVINTERFACE_NET};
const Notice kHubIn{DBT_DEVICEARRIVAL, kUsbHub};
const Notice kHostIn{DBT_DEVICEARRIVAL, kUsbHostController};
const Notice kDiskOut{DBT_DEVICEREMOVECOMPLETE, kDisk};
const Notice kVolumeOut{DBT_DEVICEREMOVECOMPLETE, kDisk, false};
const Notice kNodes{DBT_DEVNODES_CHANGED, {}, false};

const Case kCases[] = {
    {"one notice arms nothing", {kUsbIn}, Supervisor::None, false, false, false, 0, false, 1, 1},
    {"a plug-in: every second notice arms the timer", {kUsbIn, kDiskIn}, Supervisor::None, false, false, false, 1,
     true, 2, 0},
    {"armed once: the counter goes on but arms nothing more", {kUsbIn, kDiskIn, kUsbIn, kDiskIn}, Supervisor::None,
     false, false, false, 2, true, 4, 2},
    {"HID and network count but start no scan", {kHidIn, kNetIn}, Supervisor::None, false, false, false, 0, true, 2,
     0},
    {"hub and host controller arrivals scan", {kHubIn, kHostIn}, Supervisor::None, false, false, false, 2, true, 2,
     0},
    {"every completed removal scans, of any type", {kDiskOut, kVolumeOut}, Supervisor::None, false, false, false, 2,
     true, 0, 0},
    {"device nodes changed only counts", {kNodes}, Supervisor::None, false, false, false, 0, false, 0, 1},
    {"an unknown event only counts", {{0x1234, kDisk}}, Supervisor::None, false, false, false, 0, false, 0, 1},
    {"a safe removal silences the scans, not the counting", {kDiskIn, kDiskOut}, Supervisor::None, true, false,
     false, 0, true, 1, 0},
    {"the serial-number entry open: not even counted", {kDiskIn, kDiskOut}, Supervisor::None, false, true, false, 0,
     false, 0, 0},
    {"a run on: not counted, no scan; the rescan timer looks again after the run", {kDiskIn, kDiskOut},
     Supervisor::None, false, false, true, 0, true, 0, 0, false, RESCAN_BUSY_MS},
    {"a supervisor still at work: no scan, pictures hidden on removal; the rescan timer looks again",
     {kDiskIn, kDiskOut}, Supervisor::Running, false, false, false, 0, true, 1, 2, true, RESCAN_BUSY_MS},
    {"a supervisor that ended: scans, pictures hidden on removal", {kDiskIn, kDiskOut}, Supervisor::Ended, false,
     false, false, 2, true, 1, 0, true},
};

TEST(VIVadeDlgDeviceChange, NoticesTurnIntoScansAndARescanTimer)
{
    for (const Case& c : kCases) {
        DlgFixture f;
        f.dlg->OnInitDialog();
        f.dlg->nScanRequests = 0;
        f.dlg->showControl(IDC_PICTURE_PASS, true);
        f.dlg->showControl(IDC_PICTURE_FAIL, true);
        pUtility.m_bSafelyRemoving = c.safelyRemoving ? 1 : 0;
        f.dlg->m_bInputDlgOpen = c.inputDlgOpen ? 1 : 0;
        f.dlg->m_bRunning = c.running ? 1 : 0;
        if (c.supervisor != Supervisor::None) {
            f.dlg->m_pMainThread = f.dlg->m_Threads.pStart("supervisor", [](const StopSource& stop) {
                while (!stop.stopRequested())
                    stop.waitFor(std::chrono::milliseconds(1));
            });
            if (c.supervisor == Supervisor::Ended) {
                f.dlg->m_pMainThread->vRequestStop();
                ASSERT_TRUE(f.dlg->m_pMainThread->bJoin(THREAD_STOP_JOIN_MS));
            }
        }

        for (const Notice& n : c.notices) {
            DEV_BROADCAST_DEVICEINTERFACE hdr;
            hdr.dbcc_devicetype = n.isInterface ? DBT_DEVTYP_DEVICEINTERFACE : DBT_DEVTYP_VOLUME;
            hdr.dbcc_classguid = n.cls;
            hdr.dbcc_name = "\\\\?\\test";
            EXPECT_EQ(f.dlg->OnUSBDeviceChange(n.event, &hdr), 0);
        }

        EXPECT_EQ(f.dlg->nScanRequests, c.scans) << c.name;
        EXPECT_EQ(f.dlg->isTimerArmed(TIMER_RESCAN), c.timerArmed) << c.name;
        if (c.timerArmed) {
            EXPECT_EQ(f.dlg->timerPeriod(TIMER_RESCAN), static_cast<int>(c.timerMs)) << c.name;
        }
        EXPECT_EQ(f.dlg->m_bRescanArmed.load(), c.timerArmed ? 1 : 0) << c.name;
        EXPECT_EQ(f.dlg->m_ucArrivalCount.load(), c.arrivals) << c.name;
        EXPECT_EQ(f.dlg->m_ucDevChangeCount.load(), c.changeCount) << c.name;
        EXPECT_EQ(!f.dlg->isControlShown(IDC_PICTURE_PASS), c.picturesHidden) << c.name;
        pUtility.m_bSafelyRemoving = 0;
    }
}

TEST(VIVadeDlgDeviceChange, TheCounterWrapsAndArmsAgainOnceTheTimerIsDone)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    DEV_BROADCAST_DEVICEINTERFACE hdr;
    hdr.dbcc_classguid = GUID_DEVINTERFACE_HID;
    f.dlg->m_ucDevChangeCount = 254;
    f.dlg->m_bRescanArmed = 1;  // the timer is still deciding
    f.dlg->OnUSBDeviceChange(DBT_DEVICEARRIVAL, &hdr);
    f.dlg->OnUSBDeviceChange(DBT_DEVICEARRIVAL, &hdr);
    EXPECT_EQ(f.dlg->m_ucDevChangeCount.load(), 0);  // 256 wraps to 0: zero never arms
    // The timer's handler has cleared the flag: the next even count arms.
    f.dlg->m_bRescanArmed = 0;
    f.dlg->OnUSBDeviceChange(DBT_DEVICEARRIVAL, &hdr);
    EXPECT_FALSE(f.dlg->isTimerArmed(TIMER_RESCAN));
    f.dlg->OnUSBDeviceChange(DBT_DEVICEARRIVAL, &hdr);
    EXPECT_TRUE(f.dlg->isTimerArmed(TIMER_RESCAN));
}

TEST(VIVadeDlgDeviceChange, ThePlatformsNoticesReachTheHandlerOnTheGuiThread)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    f.dlg->nScanRequests = 0;
    auto& queue = dynamic_cast<DeviceEventQueue&>(f.bench.platform().deviceEvents());
    // From another thread, as the platform notices a plug-in.
    std::thread platformThread([&] {
        queue.post({DeviceEventKind::Arrival, kUsbDevice, "\\\\?\\usb#1", 0});
        queue.post({DeviceEventKind::Arrival, kDisk, "\\\\?\\disk#1", 0});
        // Not registered: never queued.
        queue.post({DeviceEventKind::Arrival, interfaceclass::kVolume, "\\\\?\\volume#1", 0});
    });
    platformThread.join();
    ASSERT_TRUE(runEventsUntil([&] { return f.dlg->nScanRequests == 1; }));
    EXPECT_EQ(f.dlg->m_ucArrivalCount.load(), 2);
    EXPECT_TRUE(f.dlg->isTimerArmed(TIMER_RESCAN));

    // Unregistered (as for a run): nothing more arrives.
    f.dlg->vUnRegisterDeviceNotification();
    EXPECT_FALSE(queue.post({DeviceEventKind::RemoveComplete, kDisk, "\\\\?\\disk#1", 0}));
    for (uint32_t handle : f.dlg->m_hDevNotify)
        EXPECT_EQ(handle, 0u);
}

}  // namespace
}  // namespace krv::test
