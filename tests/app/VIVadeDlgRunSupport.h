#pragma once
// The window on a bench of drives with every step of a production run
// switched on (update and reload, partition and format, the write/read test,
// preload), the window's own scans, and the files the run reads in the
// program folder; runToTheEnd scans, presses Start and waits for the run.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "controls/ListCtrlEx.h"
#include "device/KrvnUSBDev.h"
#include "tests/app/VIVadeDlgTestSupport.h"
#include "tests/support/ProductionRunSetup.h"

namespace krv::test {

class RunFixture : public DlgFixture {
public:
    explicit RunFixture(int drives) : DlgFixture(runBenchSettings(drives), BenchTime::Real), nDrives(drives)
    {
        g_UsbDev.vInitialize();
        const std::string prog = programDir.path();
        writeRunFiles(prog);
        std::ofstream(programDir.file("wrtest.bin"), std::ios::binary) << std::string(1 << 20, '\x5A');
        writeSettings([&](IniRecord& r) {
            setRunSettings(r, prog);
            r.wr_test_enable = 1;
            r.wr_test_binary_name.set("wrtest.bin");
            r.wr_test_count = 2;
        });
        dlg->bRealScans = true;
    }

    ~RunFixture() { g_UsbDev.vShutdown(); }

    bool scanOver() { return !dlg->bScanActive(); }

    // Start-up with the window shown, its scan, `beforeStart`, Start, and the
    // event loop until the supervisor has ended.
    void runToTheEnd(const std::function<void()>& beforeStart = {})
    {
        dlg->OnInitDialog();
        dlg->show();
        ASSERT_TRUE(runEventsUntil([&] {
            return dlg->m_DevList.DevNums == nDrives && scanOver() && dlg->isControlEnabled(IDC_BUTTON_START);
        }));
        // Start-up switches the write/read test off whatever the file says,
        // and its box cannot be checked: the window is shown as for a record
        // that carries it.
        pIni.m_pINI.wr_test_enable = 1;
        dlg->vSetDeviceFunctionGUIByINIFile();
        ASSERT_EQ(dlg->m_DevList.m_bDoWrRdTest, 1);
        if (beforeStart)
            beforeStart();
        dlg->sendCommand(IDC_BUTTON_START);
        ASSERT_NE(dlg->m_pMainThread, nullptr) << ::testing::PrintToString(boxes());
        // A run the command line started ends the window, which joins and
        // lets go of the supervisor.
        ASSERT_TRUE(runEventsUntil(
            [&] { return dlg->m_bRunning == 0 && (!dlg->m_pMainThread || !dlg->m_pMainThread->bIsRunning()); },
            std::chrono::seconds(120)));
    }

    std::string cell(int row, int column) { return dlg->m_ListMainResult->GetItemText(row, column); }

    std::vector<std::string> boxes() const
    {
        std::vector<std::string> texts;
        for (const auto& record : messages.records())
            texts.push_back(record.text);
        return texts;
    }

    const int nDrives;
};

}  // namespace krv::test
