#pragma once
// A run that spends seconds inside one firmware image: one bridge on real
// time, 400 ms per bridge command, both images chosen and no other step.
// For the tests that stop a run (Exit, the lock button) while an image is
// being written.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/VIVadeDlg.h"
#include "platform/bench/bridge/CommandLog.h"
#include "tests/app/VIVadeDlgRunSupport.h"

namespace krv::test {

inline bool bIsFirmwareTransfer(const bench::LogEntry& entry, uint8_t ucOpcode, uint8_t ucSelector)
{
    return entry.kind == bench::LogEntry::Kind::Command && entry.cdb.size() >= 2 && entry.cdb[0] == ucOpcode &&
           entry.cdb[1] == ucSelector;
}

struct SlowUpdateRun {
    SlowUpdateRun()
        : f(1, [](bench::BenchSettings& s) {
              s.timeScale = 1;
              for (auto& port : s.ports)
                  port.commandMs = 400;
          })
    {
    }

    // Starts the run and waits until image 0's write has begun. False when
    // it never did. A thread that will not stop is given 2 s: less than
    // what is left of the image's write and verify (its pauses alone take
    // 5 s), and enough for a loaded machine to let the thread end after it.
    bool bStartAndReachTheFirstImage()
    {
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
        if (!runEventsUntil([&] { return f.scanOver() && f.dlg->isControlEnabled(IDC_BUTTON_START); },
                            std::chrono::seconds(60)))
            return false;
        f.dlg->m_PCIEUSBConfigDlg.m_ucImage0 = 1;
        f.dlg->m_PCIEUSBConfigDlg.m_ucImage1 = 1;
        f.dlg->vSetStopJoinMs(2000);
        f.dlg->sendCommand(IDC_BUTTON_START);
        if (f.dlg->m_pMainThread == nullptr)
            return false;
        return runEventsUntil(
            [&] {
                for (const bench::LogEntry& entry : f.bench.devices().log(1))
                    if (bIsFirmwareTransfer(entry, 0xE3, 0x50))
                        return true;
                return false;
            },
            std::chrono::seconds(60));
    }

    size_t nLogged() { return f.bench.devices().log(1).size(); }

    // After a stop asked for when the log held nFrom entries: image 0 was
    // written and read back whole, image 1 never begun.
    void vExpectImageUnderWayFinishedAndNoNewOne(size_t nFrom, const char* pszStop)
    {
        const std::vector<bench::LogEntry> log = f.bench.devices().log(1);
        std::string strAfter;
        bool bImage0Verified = false;
        for (size_t i = nFrom; i < log.size(); ++i) {
            strAfter += bench::formatLogEntry(log[i]) + "\n";
            bImage0Verified = bImage0Verified || bIsFirmwareTransfer(log[i], 0xE2, 0x50);
            EXPECT_FALSE(bIsFirmwareTransfer(log[i], 0xE3, 0x51) || bIsFirmwareTransfer(log[i], 0xE3, 0xD1))
                << "image 1 begun after the " << pszStop << ":\n" << strAfter;
        }
        EXPECT_TRUE(bImage0Verified) << strAfter;
    }

    RunFixture f;
};

}  // namespace krv::test
