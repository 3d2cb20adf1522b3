// The lock button pressed in the automatic mode while a port writes its
// bridge's firmware, with both images chosen: the run's threads are stopped
// before the login is asked for, and that stop keeps the rule the exit
// keeps: the image under way is written and verified whole, the next one is
// never begun, and the button waits for the write however long it takes
// rather than leaving the worker writing on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/VIVadeDlg.h"
#include "platform/bench/bridge/CommandLog.h"
#include "tests/app/VIVadeDlgRunSupport.h"

namespace krv::test {
namespace {

bool bIsFirmwareTransfer(const bench::LogEntry& entry, uint8_t ucOpcode, uint8_t ucSelector)
{
    return entry.kind == bench::LogEntry::Kind::Command && entry.cdb.size() >= 2 && entry.cdb[0] == ucOpcode &&
           entry.cdb[1] == ucSelector;
}

TEST(LockDuringUpdate, TheStopWaitsForTheImageUnderWayAndBeginsNoNewOne)
{
    // Real time and a slow bridge: one image's write and verify takes
    // several seconds, far longer than a thread that will not stop is given.
    RunFixture f(1, [](bench::BenchSettings& s) {
        s.timeScale = 1;
        for (auto& port : s.ports)
            port.commandMs = 400;
    });
    f.writeSettings([&](IniRecord& r) {
        setRunSettings(r, f.programDir.path());
        r.fw_reload = 0;
        r.format_enable = 0;
        r.preload_enable = 0;
        r.wr_test_enable = 0;
        r.image0 = 1;
        r.image1 = 1;
    });
    f.dlg->OnInitDialog();
    f.dlg->show();
    ASSERT_TRUE(runEventsUntil([&] { return f.scanOver() && f.dlg->isControlEnabled(IDC_BUTTON_START); },
                               std::chrono::seconds(60)));
    f.dlg->m_PCIEUSBConfigDlg.m_ucImage0 = 1;
    f.dlg->m_PCIEUSBConfigDlg.m_ucImage1 = 1;
    f.dlg->vSetStopJoinMs(200);
    f.dlg->sendCommand(IDC_BUTTON_START);
    ASSERT_NE(f.dlg->m_pMainThread, nullptr) << ::testing::PrintToString(f.boxes());

    const auto firstImageBegun = [&] {
        for (const bench::LogEntry& entry : f.bench.devices().log(1))
            if (bIsFirmwareTransfer(entry, 0xE3, 0x50))
                return true;
        return false;
    };
    ASSERT_TRUE(runEventsUntil(firstImageBegun, std::chrono::seconds(60)));
    const size_t nAtLock = f.bench.devices().log(1).size();

    // The automatic mode, locked: the button stops the run first.
    pIni.m_pINI.auto_mp = 1;
    int nWritesAtLogin = -1;
    std::vector<std::string> runningAtLogin;
    f.dlg->vSetLoginPrompt([&] {
        nWritesAtLogin = f.dlg->m_nEepromWrites.load();
        runningAtLogin = f.dlg->m_Threads.vecRunningNames();
        return false;
    });
    f.dlg->sendCommand(IDC_BUTTON_UNLOCK_VIVADE);
    EXPECT_EQ(nWritesAtLogin, 0);
    EXPECT_EQ(std::count(runningAtLogin.begin(), runningAtLogin.end(), "ChildThreadFun"), 0)
        << ::testing::PrintToString(runningAtLogin);
    EXPECT_EQ(std::count(runningAtLogin.begin(), runningAtLogin.end(), "MainThreadFun"), 0)
        << ::testing::PrintToString(runningAtLogin);

    // Image 0 was written and read back after the press; image 1 was never
    // touched.
    ASSERT_TRUE(runEventsUntil([&] { return f.dlg->m_Threads.vecRunningNames().empty(); }, std::chrono::seconds(60)));
    const std::vector<bench::LogEntry> log = f.bench.devices().log(1);
    std::string strAfterLock;
    bool bImage0Verified = false;
    for (size_t i = nAtLock; i < log.size(); ++i) {
        strAfterLock += bench::formatLogEntry(log[i]) + "\n";
        bImage0Verified = bImage0Verified || bIsFirmwareTransfer(log[i], 0xE2, 0x50);
        EXPECT_FALSE(bIsFirmwareTransfer(log[i], 0xE3, 0x51) || bIsFirmwareTransfer(log[i], 0xE3, 0xD1))
            << "image 1 begun after the lock:\n" << strAfterLock;
    }
    EXPECT_TRUE(bImage0Verified) << strAfterLock;

    // The stopped run gave back its token and the device notices: the
    // window sees a drive leave and could start the next run.
    EXPECT_EQ(f.dlg->m_bRunning.load(), 0);
    std::string outcome;
    ASSERT_TRUE(f.bench.bench().apply(bench::BenchCommand{"unplug", 1, {}}, outcome)) << outcome;
    EXPECT_TRUE(runEventsUntil([&] { return f.scanOver() && f.dlg->m_DevList.DevNums == 0; },
                               std::chrono::seconds(60)));
}

}  // namespace
}  // namespace krv::test
