// Exit pressed while a port writes its bridge's firmware, with both images
// chosen: the image under way is written and verified whole, the next one is
// never begun, and the window waits for the write (saying so) however long
// it takes, rather than ending the process in the middle of it.
#include <gtest/gtest.h>

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

TEST(ExitDuringUpdate, TheImageUnderWayIsWrittenWholeNoNewOneBeginsAndTheExitWaitsForIt)
{
    // Real time and a slow bridge: one image's write and verify takes
    // several seconds, far longer than the exit gives a thread that will
    // not stop.
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
    const size_t nAtExit = f.bench.devices().log(1).size();
    f.dlg->OnBnClickedOk();

    std::string strShownWhileWaiting;
    ASSERT_TRUE(runEventsUntil(
        [&] {
            if (f.dlg->isControlShown(IDC_STATIC_WARNING))
                strShownWhileWaiting = f.dlg->controlText(IDC_STATIC_WARNING);
            return !f.endCodes.empty() || f.nFinished > 0;
        },
        std::chrono::seconds(60)));
    // The window left its loop: every thread ended, none was given up on.
    EXPECT_TRUE(f.endCodes.empty()) << ::testing::PrintToString(f.endCodes);
    EXPECT_EQ(f.nFinished, 1);
    EXPECT_EQ(strShownWhileWaiting, "Finishing the firmware write...");

    // Image 0 was written and read back after the exit was asked for;
    // image 1 was never touched.
    const std::vector<bench::LogEntry> log = f.bench.devices().log(1);
    std::string strAfterExit;
    bool bImage0Verified = false;
    for (size_t i = nAtExit; i < log.size(); ++i) {
        strAfterExit += bench::formatLogEntry(log[i]) + "\n";
        bImage0Verified = bImage0Verified || bIsFirmwareTransfer(log[i], 0xE2, 0x50);
        EXPECT_FALSE(bIsFirmwareTransfer(log[i], 0xE3, 0x51) || bIsFirmwareTransfer(log[i], 0xE3, 0xD1))
            << "image 1 begun after the exit:\n" << strAfterExit;
    }
    EXPECT_TRUE(bImage0Verified) << strAfterExit;
}

}  // namespace
}  // namespace krv::test
