#include "app/VIVadeApp.h"

#include <cstdlib>

#include <QApplication>

#include "app/ProgramMain.h"
#include "app/VIVadeDlg.h"
#include "platform/Platform.h"
#include "ui/FilePickers.h"
#include "ui/MessageBoxPresenter.h"

CVIVadeApp theApp;

std::string strJoinCommandLine(int argc, char** argv)
{
    std::string strLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            strLine += ' ';
        strLine += argv[i];
    }
    std::erase_if(strLine, [](char c) { return c == '\t' || c == '\n'; });
    return strLine;
}

bool CVIVadeApp::InitInstance(const ProgramInfo& info, int argc, char** argv)
{
    const std::string strCmdLine = strJoinCommandLine(argc, argv);
    // A command-line job never shows its window and must run without a
    // display; so must anything on a machine that has none.
    const bool bNoDisplay = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const MainDlgProfile& profile = info.pDlgProfile ? *info.pDlgProfile : MainDlgProfileProduction();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        (bNoDisplay || CVIVadeDlg::bIsCommandLineJob(strCmdLine, profile)))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // The framework sees only the program's name: the tool's options are the
    // window's to read, not the framework's.
    std::string strProgram = argc > 0 && argv[0] ? argv[0] : info.pszName;
    int nQtArgc = 1;
    char* qtArgv[] = {strProgram.data(), nullptr};
    QApplication application(nQtArgc, qtArgv);

    krv::ui::MessageBoxPresenter messages(krv::ui::Presentation::Interactive);
    messages.install(krv::Platform::current());
    krv::ui::FilePickers pickers(krv::ui::Presentation::Interactive);
    {
        CVIVadeDlg dlg;
        g_pMainDlg = &dlg;
        dlg.vSetProgramName(info.pszName);
        dlg.vSetDlgProfile(profile);
        dlg.vSetPresenters(&messages, &pickers);
        dlg.m_strCmdLine = strCmdLine;
        m_nExitCode = dlg.DoModal();
    }
    g_pMainDlg = nullptr;
    messages.uninstall();
    return false;
}

int nRunVIVadeMainWindow(const ProgramInfo& info, int argc, char** argv)
{
    theApp.InitInstance(info, argc, argv);
    return theApp.m_nExitCode;
}
