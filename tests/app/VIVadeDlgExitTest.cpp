// The exit path (Exit, command 1 from any thread, the window's close) and the
// window's own keys.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "tests/app/VIVadeDlgTestSupport.h"
#include "tests/device/DeviceBenchSupport.h"

namespace krv::test {
namespace {

// A worker that does what the window's threads do: it polls its stop request.
std::shared_ptr<CWorkerThread> startPollingWorker(CVIVadeDlg& dlg, std::atomic<bool>& ended)
{
    return dlg.m_Threads.pStart("worker", [&ended](const StopSource& stop) {
        while (!stop.stopRequested())
            stop.waitFor(std::chrono::milliseconds(1));
        ended = true;
    });
}

TEST(VIVadeDlgExit, OkFromAThreadEndsWithTheExitCodeAndNeverJoinsItsSender)
{
    DlgFixture f;
    f.writeSettings([](IniRecord& r) { r.PCIE_Scan = 1; });
    f.dlg->m_strCmdLine = "/V";
    f.dlg->OnInitDialog();
    ASSERT_EQ(f.system().activePowerScheme(), POWER_SCHEME_HIGH_PERFORMANCE);

    std::atomic<bool> workerEnded{false};
    startPollingWorker(*f.dlg, workerEnded);

    // The sender is one of the window's own threads (as the scan thread is
    // when its job closes the window). It waits in its synchronous command
    // for the GUI thread, so an exit path that joined it there would wait
    // for ever (or for its bound) before ending the process.
    std::atomic<bool> senderReturned{false};
    std::atomic<bool> senderReturnedBeforeEnd{false};
    f.dlg->vSetEndProcess([&](int code) {
        senderReturnedBeforeEnd = senderReturned.load();
        f.endCodes.push_back(code);
    });
    f.dlg->m_iExitCode = -4;
    CVIVadeDlg* dlg = f.dlg.get();
    f.dlg->m_Threads.pStart("sender", [dlg, &senderReturned](const StopSource& stop) {
        EXPECT_EQ(dlg->sendCommand(IDOK, &stop), ui::CallResult::Done);
        senderReturned = true;
    });

    ASSERT_TRUE(f.runUntilEnded());
    EXPECT_EQ(f.endCodes, std::vector<int>{-4});
    EXPECT_TRUE(senderReturnedBeforeEnd.load());
    EXPECT_TRUE(workerEnded.load());
    EXPECT_TRUE(f.dlg->m_Threads.vecRunningNames().empty());
    // The scheme start-up found is back.
    EXPECT_EQ(f.system().activePowerScheme(), bench::kSchemeBalanced);

    // A second OK (another thread's, or the window's close) changes nothing.
    f.dlg->OnBnClickedOk();
    runEventsUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(f.endCodes.size(), 1u);
}

TEST(VIVadeDlgExit, ClosingTheWindowTakesTheSameExitAsTheExitButton)
{
    DlgFixture f;
    f.writeSettings([](IniRecord& r) { r.PCIE_Scan = 1; });
    f.dlg->OnInitDialog();
    std::atomic<bool> workerEnded{false};
    startPollingWorker(*f.dlg, workerEnded);
    f.dlg->show();

    f.dlg->close();  // the window manager's close
    ASSERT_TRUE(f.runUntilEnded());
    EXPECT_TRUE(f.endCodes.empty());  // GUI mode: the window's loop ends, the process is not ended
    EXPECT_EQ(f.nFinished, 1);
    EXPECT_FALSE(f.dlg->isVisible());
    EXPECT_TRUE(workerEnded.load());
    EXPECT_EQ(f.system().activePowerScheme(), bench::kSchemeBalanced);
    ASSERT_FALSE(f.consoleCalls().empty());
    EXPECT_EQ(f.consoleCalls().back(), std::string("powercfg /setactive ") + bench::kSchemeBalanced);
    // The run state is reset and the settings locked again.
    EXPECT_EQ(f.dlg->m_bChangeMode.load(), 0);
    EXPECT_EQ(f.dlg->m_DevList.DevNums.load(), 0);
}

// A thread that will not stop: in either mode the window never leaves its
// loop under it (the program would then destroy the window, the device
// objects and the platform the thread still uses); the process is ended
// instead, with the run's code on the command line and 0 in the window.
TEST(VIVadeDlgExit, AThreadThatWillNotStopEndsTheProcessInsteadOfLeavingTheWindow)
{
    for (const bool commandLine : {false, true}) {
        DlgFixture f;
        if (commandLine)
            f.dlg->m_strCmdLine = "/V";
        f.dlg->OnInitDialog();
        f.dlg->vSetStopJoinMs(50);
        f.dlg->m_iExitCode = -4;
        std::atomic<bool> release{false};
        f.dlg->m_Threads.pStart("stubborn", [&release](const StopSource&) {
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });

        f.dlg->OnBnClickedOk();
        ASSERT_TRUE(f.runUntilEnded()) << commandLine;
        EXPECT_EQ(f.endCodes, std::vector<int>{commandLine ? -4 : 0}) << commandLine;
        EXPECT_EQ(f.nFinished, 0) << commandLine;
        release = true;
    }
}

// Stopping the run threads on the GUI thread (the lock button in automatic
// mode does) while one of them waits for the GUI thread in any of its calls:
// the stop request frees the wait, so the join never runs into its bound
// with the window frozen.
TEST(VIVadeDlgExit, StoppingAThreadFreesItsWaitForTheGuiThreadWhateverTheCall)
{
    const struct {
        const char* name;
        std::function<void(CVIVadeDlg&)> call;
    } cases[] = {
        {"a control's text", [](CVIVadeDlg& d) { d.setControlText(IDC_EDIT_TOTAL_COUNT, "9"); }},
        {"a control's state", [](CVIVadeDlg& d) { d.enableControl(IDC_BUTTON_START, false); }},
        {"reading a control", [](CVIVadeDlg& d) { (void)d.controlText(IDC_EDIT_TOTAL_COUNT); }},
        {"a device object's text", [](CVIVadeDlg& d) { d.pTextWindow()->setControlText(IDC_EDIT_PROGRESS, "1"); }},
        {"a command", [](CVIVadeDlg& d) { d.sendCommand(IDC_BUTTON_CLEARCOUNT); }},
        {"a results cell", [](CVIVadeDlg& d) { d.vUpdateMainResultItemTable(0, RESULT_COL_UPDATE, "PASS", 1); }},
        {"a message box", [](CVIVadeDlg&) { pUtility.nShowMessage("a worker's box", 0, MSG_TYPE_INFORMATION); }},
    };
    for (const auto& c : cases) {
        DlgFixture f;
        f.dlg->OnInitDialog();
        runEventsUntil([] { return false; }, std::chrono::milliseconds(20));
        f.messages.setMode(ui::Presentation::Interactive);
        std::atomic<bool> calling{false};
        std::atomic<bool> returned{false};
        CVIVadeDlg* dlg = f.dlg.get();
        auto thread = f.dlg->m_Threads.pStart("main", [&, dlg](const StopSource&) {
            calling = true;
            c.call(*dlg);
            returned = true;
        });
        f.dlg->m_pMainThread = thread;
        // The GUI thread runs no event from here on, as in a join.
        while (!calling.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

        f.dlg->bDeleteAllThread();
        EXPECT_FALSE(thread->bIsRunning()) << c.name;
        EXPECT_TRUE(returned.load()) << c.name;
        EXPECT_EQ(f.dlg->m_pMainThread, nullptr) << c.name;
    }
}

TEST(VIVadeDlgExit, DeletesOnlyTheFirmwareFileTheToolMadeItself)
{
    struct Case {
        int configFormat;
        bool madeByTool;
        bool deleted;
    };
    for (const Case c : {Case{3, true, true}, Case{3, false, false}, Case{4, true, false}}) {
        DlgFixture f;
        f.writeSettings([&](IniRecord& r) { r.config_format = static_cast<uint8_t>(c.configFormat); });
        f.dlg->OnInitDialog();
        const std::string file = f.programDir.file("KV_USB4_230601_80_01_00.bin");
        std::ofstream(file) << "image";
        // The operator's own file is what the firmware combo names either way.
        f.dlg->m_strComboBoxDeviceFirmwareFWBrowse = file;
        if (c.madeByTool) {
            f.dlg->m_bFWFileExisted = 0;
            f.dlg->m_strFWFileMadeByTool = file;
        } else {
            f.dlg->m_bFWFileExisted = 0;  // the flag alone deletes nothing
        }
        f.dlg->OnBnClickedOk();
        ASSERT_TRUE(f.runUntilEnded());
        EXPECT_EQ(!std::ifstream(file).good(), c.deleted) << c.configFormat << " " << c.madeByTool;
    }
}

TEST(VIVadeDlgExit, TheFirmwareFileMadeFromTheDeviceIsItsImageAndGoesAtExit)
{
    // The bench's drive runs firmware 230601800100: the file made of it is
    // named by that version, holds the bridge's whole image, and is the one
    // file the exit deletes.
    enum class Before { Nothing, OperatorsFile, UnreadableBridge };
    for (Before before : {Before::Nothing, Before::OperatorsFile, Before::UnreadableBridge}) {
        SCOPED_TRACE(static_cast<int>(before));
        DlgFixture f;
        f.writeSettings([](IniRecord& r) { r.config_format = 3; });
        f.dlg->OnInitDialog();
        f.dlg->m_Threads.vRequestStopAll();
        ASSERT_EQ(g_UsbDev.Open(&f.dlg->m_DevList, "0", BRIDGE_TYPE_857X), 0);
        const std::string name = "KV_USB4_230601_80_01_00.bin";
        const std::string file = f.programDir.file(name);   // the current folder
        if (before == Before::OperatorsFile)
            std::ofstream(file) << "operator's image";
        if (before == Before::UnreadableBridge)
            addFault(f.bench, 1, bench::FaultKind::Check, {0xE2}, 2);

        std::string path = "operator.bin";
        EXPECT_TRUE(f.dlg->bFindFWFileForDevice(path));
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        switch (before) {
        case Before::Nothing: {
            EXPECT_EQ(path, name);
            EXPECT_EQ(f.dlg->m_bFWFileExisted, 0);
            const bench::Bytes stored = f.bench.devices().state(1).stored.firmware[0];
            EXPECT_EQ(bytes, std::string(stored.begin(), stored.end()));
            break;
        }
        case Before::OperatorsFile:
            EXPECT_EQ(path, name);
            EXPECT_EQ(f.dlg->m_bFWFileExisted, 1);
            EXPECT_EQ(bytes, "operator's image");
            break;
        case Before::UnreadableBridge:
            EXPECT_EQ(path, "operator.bin") << "no name made of a failed read";
            EXPECT_TRUE(bytes.empty());
            break;
        }
        f.dlg->OnBnClickedOk();
        ASSERT_TRUE(f.runUntilEnded());
        EXPECT_EQ(std::ifstream(file).good(), before == Before::OperatorsFile);
    }
}

TEST(VIVadeDlgExit, EnterStartsAndEscapeRemovesOnlyWhileStartIsEnabledAndNeitherCloses)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    int starts = 0;
    int removals = 0;
    f.dlg->onStart = [&] { ++starts; };
    f.dlg->show();
    auto* edit = f.dlg->control<QLineEdit>(IDC_EDIT_SERIAL_NUMBER);
    ASSERT_NE(edit, nullptr);
    auto press = [&](int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(edit, &event);
    };

    struct Case {
        bool startEnabled;
        int key;
        int starts;
        int removals;
    };
    const Case cases[] = {
        {true, Qt::Key_Return, 1, 0},  {true, Qt::Key_Enter, 1, 0}, {true, Qt::Key_Escape, 0, 1},
        {false, Qt::Key_Return, 0, 0}, {false, Qt::Key_Escape, 0, 0}, {true, Qt::Key_A, 0, 0},
    };
    for (const Case& c : cases) {
        starts = removals = 0;
        f.dlg->enableControl(IDC_BUTTON_START, c.startEnabled);
        // The removal is the window's own: it starts its thread.
        const std::shared_ptr<CWorkerThread> pRemovalBefore = f.dlg->m_pRemoveThread;
        press(c.key);
        removals = f.dlg->m_pRemoveThread != pRemovalBefore ? 1 : 0;
        EXPECT_EQ(starts, c.starts) << c.key << " " << c.startEnabled;
        EXPECT_EQ(removals, c.removals) << c.key << " " << c.startEnabled;
        EXPECT_FALSE(f.dlg->bExitStarted());
        EXPECT_TRUE(f.dlg->isVisible());
    }
}

TEST(VIVadeDlgExit, ClearZeroesTheCounters)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    f.dlg->m_DevList.m_iPassCount = 5;
    f.dlg->m_DevList.m_iFailCount = 2;
    f.dlg->m_DevList.m_iTotalCount = 7;
    f.dlg->setControlText(IDC_EDIT_TOTAL_COUNT, "7");
    f.dlg->sendCommand(IDC_BUTTON_CLEARCOUNT);
    EXPECT_EQ(f.dlg->m_DevList.m_iTotalCount.load(), 0);
    EXPECT_EQ(f.dlg->m_DevList.m_iPassCount.load(), 0);
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_TOTAL_COUNT), "0");
}

}  // namespace
}  // namespace krv::test
