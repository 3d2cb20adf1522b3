#pragma once
// The window on a bench of drives with every step of a production run
// switched on (update and reload, partition and format, the write/read test,
// preload), the window's own scans, and the files the run reads in the
// program folder; runToTheEnd scans, presses Start and waits for the run.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    // `tune` changes the bench before it is made (a slow port, say).
    explicit RunFixture(int drives, const std::function<void(bench::BenchSettings&)>& tune = {})
        : DlgFixture(tuned(runBenchSettings(drives), tune), BenchTime::Real), nDrives(drives)
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
        scanAndStart(beforeStart);
        waitForTheEnd();
    }

    // Start-up, its scan, `beforeStart` and Start; the run goes on.
    void scanAndStart(const std::function<void()>& beforeStart = {})
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
    }

    // The event loop until the run has ended.
    void waitForTheEnd()
    {
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

    // The rows of the day's result log (the header first).
    std::vector<std::string> dayLogLines() const
    {
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(programDir.path())) {
            const std::string name = entry.path().filename().string();
            if (name.size() == 12 && name.substr(8) == ".log") {
                std::ifstream in(entry.path(), std::ios::binary);
                text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
        }
        std::vector<std::string> lines;
        size_t from = 0;
        for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
            lines.push_back(text.substr(from, at - from));
        if (from < text.size())
            lines.push_back(text.substr(from));
        return lines;
    }

    const int nDrives;

private:
    static bench::BenchSettings tuned(bench::BenchSettings settings,
                                      const std::function<void(bench::BenchSettings&)>& tune)
    {
        if (tune)
            tune(settings);
        return settings;
    }
};

}  // namespace krv::test
