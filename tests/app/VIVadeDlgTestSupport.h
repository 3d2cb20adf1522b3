#pragma once
// A main window on a test bench: the program folder and the current folder
// are a temporary folder, message boxes and pickers are scripted, the
// settings and the utility object start clean, and the end of the process is
// recorded instead of done. The window's scan requests and command-line
// parse are recorded too (TestDlg), so these tests watch the window's own
// decisions without a scan thread running beside them.
#include <unistd.h>

#include "device/Krv857xPcieCtrl.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/GUIText.h"
#include "app/Ini.h"
#include "app/IniProfile.h"
#include "app/ResultColumns.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/bench/BenchConsolePrograms.h"
#include "platform/bench/BenchSystemInfo.h"
#include "tests/support/BenchFixture.h"
#include "tests/ui/UiTestSupport.h"
#include "variant/ShowStatusProfile.h"
#include "ui/FilePickers.h"
#include "ui/MessageBoxPresenter.h"

namespace krv::test {

// A bench of `drives` drives of 1 GiB at 50 times real time: small enough
// for whole runs.
inline bench::BenchSettings runBenchSettings(int drives)
{
    bench::BenchSettings settings;
    settings.timeScale = 50;
    settings.ports.resize(drives);
    for (bench::PortSettings& port : settings.ports)
        port.diskSize = 1ull << 30;
    return settings;
}

class TestDlg : public CVIVadeDlg {
public:
    void TriggerScanThread() override
    {
        ++nScanRequests;
        if (bRealScans)
            CVIVadeDlg::TriggerScanThread();
    }
    void vCmdLinePreHandler(const std::string& strCmdLine) override
    {
        cmdLines.push_back(strCmdLine);
        m_iRunMode = 0;
    }

    int nScanRequests = 0;
    // When set, each request also starts the window's own scan.
    bool bRealScans = false;
    std::vector<std::string> cmdLines;
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

class DlgFixture {
public:
    explicit DlgFixture(int ports = 1, const std::string& link = "USB3") : bench(ports, "KRV8574", link) { vSetUp(); }
    // A window on any bench, on virtual or real time.
    DlgFixture(bench::BenchSettings settings, BenchTime time) : bench(std::move(settings), {}, {}, time) { vSetUp(); }
    // ... with the ports' devices starting from `starts`.
    DlgFixture(bench::BenchSettings settings, std::vector<bench::PortStart> starts, BenchTime time)
        : bench(std::move(settings), std::move(starts), {}, time)
    {
        vSetUp();
    }

    ~DlgFixture()
    {
        // The device object keeps the table its last scan filled.
        if (dlg && g_UsbDev.m_pDevList.load() == &dlg->m_DevList)
            g_UsbDev.m_pDevList = nullptr;
        dlg.reset();
        // The PCIe target list is process-wide and outlives the bench it
        // was scanned on: a later window's Start would count those targets
        // (and judge them): without the driver every read is all ones, so
        // a scan finds none.
        g_PcieCtrl.UnInitPcie();
        g_PcieCtrl.nScanPcieTargets(0, 0);
        messages.uninstall();
        pUtility.m_bCommandLineMode = false;
        pUtility.vShutdown();
        pIni.m_pINI = IniRecordCleared();
        if (!oldCwd.empty())
            [[maybe_unused]] int rc = ::chdir(oldCwd.c_str());
    }

private:
    void vSetUp()
    {
        char cwd[4096];
        oldCwd = ::getcwd(cwd, sizeof cwd) ? cwd : "";
        [[maybe_unused]] int rc = ::chdir(programDir.path().c_str());
        vDEBUG_SetLevel(4);
        pUtility.vInitialize();
        pUtility.m_szProgramFolder = programDir.path();
        pUtility.m_bCommandLineMode = false;
        pIni.vSetProfile(IniProfileProduction());
        pIni.m_pINI = IniRecordCleared();
        vInitListColumnHeaders();
        messages.install(bench.platform());
        dlg = std::make_unique<TestDlg>();
        dlg->vSetPresenters(&messages, &pickers);
        dlg->vSetEndProcess([this](int code) { endCodes.push_back(code); });
        QObject::connect(dlg.get(), &QDialog::finished, [this] { ++nFinished; });
    }

public:
    std::string iniPath() const { return programDir.file(VIVADE_INI_FILE); }

    // Writes the settings file the window starts from: the factory defaults
    // with `change` applied.
    template <class Change>
    void writeSettings(Change change)
    {
        pIni.vSetDefaultSettings();
        change(pIni.m_pINI);
        if (!pIni.vStoreINIFile(iniPath()))
            throw std::runtime_error("cannot write the test settings: " + pIni.strLastProblem());
        pIni.m_pINI = IniRecordCleared();
    }

    bench::BenchConsolePrograms& console()
    {
        return dynamic_cast<bench::BenchConsolePrograms&>(bench.platform().consolePrograms());
    }
    SystemInfo& system() { return bench.platform().systemInfo(); }

    // The programs start-up and exit ran, as "program arg arg".
    std::vector<std::string> consoleCalls()
    {
        std::vector<std::string> calls;
        for (const auto& call : console().calls()) {
            std::string line = call.program;
            for (const auto& arg : call.args)
                line += " " + arg;
            calls.push_back(line);
        }
        return calls;
    }

    // Runs the GUI thread until the exit path has finished: the process end
    // was asked for (command-line mode) or the window left its loop.
    bool runUntilEnded()
    {
        return runEventsUntil([this] { return !endCodes.empty() || nFinished > 0; });
    }

    BenchFixture bench;
    TempDir programDir;
    std::string oldCwd;
    ui::MessageBoxPresenter messages{ui::Presentation::Scripted};
    ui::FilePickers pickers{ui::Presentation::Scripted};
    std::unique_ptr<TestDlg> dlg;
    std::vector<int> endCodes;
    int nFinished = 0;
};

// Puts a settings profile in force for the process while it lives and the
// production one back when it goes, however the test leaves its scope (a
// failed ASSERT returns early): the profile decides how every later test's
// settings file is read and written.
class IniProfileScope {
public:
    explicit IniProfileScope(const IniProfile& profile) { pIni.vSetProfile(profile); }
    ~IniProfileScope() { pIni.vSetProfile(IniProfileProduction()); }
    IniProfileScope(const IniProfileScope&) = delete;
    IniProfileScope& operator=(const IniProfileScope&) = delete;
};

// The window as KRV857xShowStatus makes it: the variant's settings file,
// results table and window profile.
struct ShowStatusDlgFixture : DlgFixture {
    explicit ShowStatusDlgFixture(int ports = 1) : DlgFixture(ports) { vMakeVariant(); }
    ShowStatusDlgFixture(bench::BenchSettings settings, BenchTime time) : DlgFixture(std::move(settings), time)
    {
        vMakeVariant();
    }
    ~ShowStatusDlgFixture() { vInitListColumnHeaders(); }

private:
    void vMakeVariant()
    {
        vInitListColumnHeaders(MainDlgProfileShowStatus().resultColumns);
        dlg->vSetDlgProfile(MainDlgProfileShowStatus());
    }

public:
    IniProfileScope profile{IniProfileVariant()};
};

}  // namespace krv::test
