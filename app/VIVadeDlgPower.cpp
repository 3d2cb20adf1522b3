// The power scheme: start-up keeps the active scheme and switches to high
// performance for the PCIe work; the exit path switches back. Both only when
// the settings ask for the PCIe scan. powercfg's output is read directly (no
// capture file that a crashed run could leave stale), and only a text of a
// scheme identifier's form is ever handed back to powercfg.
#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "platform/LastError.h"
#include "platform/Platform.h"
#include "platform/SystemInfo.h"

namespace {

// powercfg answers at once; this bounds a machine where it hangs.
constexpr uint64_t kPowercfgTimeoutMs = 10'000;

std::string strTrimBlanks(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string CVIVadeDlg::strPowerSchemeFromOutput(const std::string& strOutput)
{
    std::string strLine = strOutput.substr(0, strOutput.find('\n'));
    const size_t nGuid = strLine.find("GUID:");
    if (nGuid != std::string::npos)
        strLine.erase(0, nGuid + 5);
    strLine = strTrimBlanks(strLine);
    return strTrimBlanks(strLine.substr(0, strLine.find(' ')));
}

void CVIVadeDlg::vGetWinPwrMode(std::string& strScheme)
{
    if (pIni.m_pINI.PCIE_Scan == 0)
        return;
    const krv::ConsoleResult result =
        krv::Platform::current().consolePrograms().run({"powercfg", {"/getactivescheme"}, "", kPowercfgTimeoutMs});
    if (!result.started || !result.finished) {
        vDEBUG_ERR_printf("%s:%d: powercfg /getactivescheme did not run , dwErrorCode %d", "CVIVadeDlg::vGetWinPwrMode",
                          __LINE__, static_cast<int>(krv::lastError()));
        strScheme.clear();
        return;
    }
    strScheme = strPowerSchemeFromOutput(result.output);
    vDEBUG_MSG_printf("%s:%d: active power scheme [%s]", "CVIVadeDlg::vGetWinPwrMode", __LINE__, strScheme.c_str());
}

void CVIVadeDlg::vSetWinPwrMode(const std::string& strScheme)
{
    if (pIni.m_pINI.PCIE_Scan == 0)
        return;
    if (!krv::isPowerSchemeGuid(strScheme)) {
        // What powercfg gave at start-up was no scheme; nothing to switch to.
        vDEBUG_ERR_printf("%s:%d: not a power scheme [%s]; left as it is", "CVIVadeDlg::vSetWinPwrMode", __LINE__,
                          strScheme.c_str());
        return;
    }
    const krv::ConsoleResult result =
        krv::Platform::current().consolePrograms().run({"powercfg", {"/setactive", strScheme}, "", kPowercfgTimeoutMs});
    if (!result.started || !result.finished || result.exitCode != 0)
        vDEBUG_ERR_printf("%s:%d: powercfg /setactive %s failed: %u %s , dwErrorCode %d", "CVIVadeDlg::vSetWinPwrMode",
                          __LINE__, strScheme.c_str(), result.exitCode, result.output.c_str(),
                          static_cast<int>(krv::lastError()));
}
