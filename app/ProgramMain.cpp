#include "app/ProgramMain.h"

#include <cstdio>
#include <string>

#include "app/GUIText.h"
#include "app/Ini.h"
#include "app/MainDlgProfile.h"
#include "app/ResultColumns.h"
#include "device/DebugLog.h"
#include "device/KRV752xNVME.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/Platform.h"

int nRunProgram(const ProgramInfo& info, int argc, char** argv)
{
    std::string strError;
    auto platform = krv::createPlatform(info.pszName, strError);
    if (!platform) {
        std::fprintf(stderr, "%s: %s\n", info.pszName, strError.c_str());
        return 2;
    }
    krv::Platform::setCurrent(platform.get());

    // Process-wide objects, in their order. Their constructors only zeroed
    // them. The list-column tables come first; the application object needs
    // nothing until it runs; the settings object learns its file's profile;
    // the text table is constant data. The utility object comes before the
    // device objects because it makes the debug log usable and knows the
    // program folder, which the device objects' exit step needs. The PCIe
    // access object and the owner-drawn menu's list of menus need nothing
    // here: the window's start-up loads the PCIe driver.
    vInitListColumnHeaders((info.pDlgProfile ? *info.pDlgProfile : MainDlgProfileProduction()).resultColumns);
    pIni.vSetProfile(*info.pIniProfile);
    pUtility.vInitialize();
    g_UsbDev.vInitialize();
    g_NvmeDev.vInitialize();
    vDEBUG_MSG_printf("%s:%d: %s %s started on the %s backend, program folder [%s]", "nRunProgram", __LINE__,
                      info.pszName, info.pszVersion, platform->backendName().c_str(),
                      pUtility.m_szProgramFolder.c_str());

    int nExitCode = 0;
    if (info.pfnMainWindow) {
        // Returns once every thread of the window has been joined.
        nExitCode = info.pfnMainWindow(info, argc, argv);
    } else {
        std::printf("%s %s on the %s backend (program folder %s).\n", info.pszName, info.pszVersion,
                    platform->backendName().c_str(), pUtility.m_szProgramFolder.c_str());
        std::printf("The main window of this program is not built yet; nothing was done.\n");
    }

    g_NvmeDev.vShutdown();
    g_UsbDev.vShutdown();
    pUtility.vShutdown();
    krv::Platform::setCurrent(nullptr);
    return nExitCode;
}
