// Command-line mode: started with one option, the tool runs one job without
// showing its window and ends with an exit code that carries the result.
//
// The option is read at start-up (vCmdLinePreHandler); the job runs once, on
// the scan thread, at the end of the first scan that found a device
// (vCmdLineHandler, called by the scan); while none is found the scan's
// timers retry and finally give up with CMDLINE_EXIT_NO_DEVICE.
//
// Every job ends by sending the window its OK command, which in command-line
// mode ends the process with m_iExitCode; nothing after that close may run,
// so each path returns at once after it.
//
// The command line is the program's arguments joined by single blanks (TAB
// and LF removed), so "/C: 0123456789ab" as two arguments is 16 characters
// long and therefore no option.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "app/CmdLineReport.h"
#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/TextUtil.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/Platform.h"

namespace {

// The pause "/CC" and "/RST" make before they end, as the tool always has.
constexpr uint64_t kCcSettleMs = 800;
constexpr uint64_t kJobSettleMs = kCcSettleMs;

bool bEqualsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// Upstream speed index by USB4 mode code (rows) and link speed code 1..7.
constexpr int32_t U = CVIVadeDlg::UPSTREAM_SPEED_UNKNOWN;
constexpr int32_t kUpstreamSpeed[4][7] = {
    {0, 1, 2, 3, 4, U, U},     // mode 0, legacy USB
    {U, U, U, 13, 14, 15, 16}, // mode 1, TBT3
    {U, U, U, 9, 10, 11, 12},  // mode 2, PCIe tunnel
    {U, U, U, 5, 6, 7, 8},     // mode 3, USB 3 tunnel
};

}  // namespace

CVIVadeDlg::CCmdLineOption CVIVadeDlg::stParseCmdLine(const std::string& strCmdLine)
{
    return stParseCmdLine(strCmdLine, MainDlgProfileProduction().options);
}

CVIVadeDlg::CCmdLineOption CVIVadeDlg::stParseCmdLine(const std::string& strCmdLine,
                                                      std::span<const CmdLineOptionEntry> options)
{
    CCmdLineOption option;
    for (const CmdLineOptionEntry& entry : options) {
        if (strCmdLine.size() != entry.nLength || strCmdLine.find(entry.pszOption) == std::string::npos)
            continue;
        if (entry.iJob == CMD_JOB_CHECK_FW) {
            // The version is the line from "/C:" on, less every "/C:" and
            // the blanks at its ends: what stands before "/C:" is dropped
            // (and leaves a shorter version to compare). Only an empty
            // version is no job.
            std::string strVersion = strCmdLine.substr(strCmdLine.find("/C:"), entry.nLength);
            for (size_t nAt; (nAt = strVersion.find("/C:")) != std::string::npos;)
                strVersion.erase(nAt, 3);
            strVersion = strTrim(strVersion);
            if (strVersion.empty()) {
                option.bEmptyVersion = true;
                return option;
            }
            option.strFWVersion = strVersion;
        }
        option.iCmdIndex = entry.iCmdIndex;
        return option;
    }
    return option;
}

const char* CVIVadeDlg::pszCmdJobOption(int32_t iCmdIndex)
{
    const CmdLineOptionEntry* pEntry = MainDlgProfileProduction().pFindCmdIndex(iCmdIndex);
    return pEntry ? pEntry->pszOption : "";
}

int32_t CVIVadeDlg::iCmdJob() const
{
    const CmdLineOptionEntry* pEntry = m_pProfile->pFindCmdIndex(m_iCmdIndex.load());
    return pEntry ? pEntry->iJob : CMD_JOB_NONE;
}

std::string CVIVadeDlg::strUsageText()
{
    std::string strText = "KRV8574VIVade.exe" + std::string(VIVADE_TITLE_TEXT);
    strText += "Usage: KRV857xVIVade  [/? | | /L] \r\n";
    strText += "OPTIONS\r\n";
    strText += " /DBG\tSet Debug Message Level (0-4)\r\n";
    strText += " /S\tSet MPT Run DOS Mode \r\n";
    strText += " /C\tCheck Korvane usb mass storage Firmware Version and then RETURN IMMEDIATELY.\r\n";
    strText += " /SPD\tGet upstream speed.\r\n";
    return strText;
}

int32_t CVIVadeDlg::iGetUpstreamSpeed(uint8_t ucU4Mode, uint8_t ucLinkSpeed)
{
    vDEBUG_MSG_printf("%s:%d: u4 mode:%d, spd:%d", "CVIVadeDlg::iGetUpstreamSpeed", __LINE__, ucU4Mode, ucLinkSpeed);
    if (ucU4Mode > 3 || ucLinkSpeed < 1 || ucLinkSpeed > 7)
        return UPSTREAM_SPEED_UNKNOWN;
    return kUpstreamSpeed[ucU4Mode][ucLinkSpeed - 1];
}

void CVIVadeDlg::vShowUsage()
{
    const std::string strText = strUsageText();
    if (m_iRunMode.load() == 0) {
        // Nobody is there to close a box: the text goes to the console that
        // asked for it.
        std::fwrite(strText.data(), 1, strText.size(), stdout);
        std::fflush(stdout);
        return;
    }
    pUtility.nShowProgramMessage(strText, MSG_TYPE_INFORMATION, 0, CUSBUtility::EMessageTarget::eMessageBox);
}

void CVIVadeDlg::vCmdLinePreHandler(const std::string& strCmdLine)
{
    static const char* const kWho = "CVIVadeDlg::vCmdLinePreHandler";
    if (strCmdLine.empty())
        return;
    vDEBUG_SetLevel(4);
    vDEBUG_MSG_printf("%s:%d: cmd line[%s]", kWho, __LINE__, strCmdLine.c_str());
    const CCmdLineOption option = stParseCmdLine(strCmdLine, m_pProfile->options);
    if (option.iCmdIndex == CMD_JOB_NONE && !option.bEmptyVersion && !m_pProfile->bUnknownOptionExits) {
        // A program that takes a line it does not know as no line at all.
        vDEBUG_MSG_printf("%s:%d: cmd line[%s] is no option; GUI mode", kWho, __LINE__, strCmdLine.c_str());
        return;
    }
    // From here the line ends in a job or an exit code, which only a
    // command-line run passes on.
    m_iRunMode = 0;
    pUtility.m_bCommandLineMode = true;
    if (option.iCmdIndex == CMD_JOB_NONE) {
        vDEBUG_ERR_printf("%s:%d: cmd line[%s] is no option", kWho, __LINE__, strCmdLine.c_str());
        std::fprintf(stderr, "%s: '%s' is no option; '/?' lists them\n", m_strProgramName.c_str(),
                     strCmdLine.c_str());
        vCmdLineClose(CMDLINE_EXIT_BAD_OPTION, nullptr);
        return;
    }
    m_iCmdIndex = option.iCmdIndex;
    const int32_t iJob = iCmdJob();
    if (iJob == CMD_JOB_USAGE) {
        vShowUsage();
        vCmdLineClose(CMDLINE_EXIT_OK, nullptr);
        return;
    }
    if (iJob == CMD_JOB_CHECK_FW) {
        m_strCmdFWVersion = option.strFWVersion;
        vDEBUG_MSG_printf("%s:%d: Checked Firmware: %s", kWho, __LINE__, m_strCmdFWVersion.c_str());
    }
    hide();
    // The first scan ends the run, with a job or with the no-device code:
    // there is nothing to retry or give up on. The time-out timer is armed
    // all the same, and its firing does nothing.
    if (m_pProfile->bNoDeviceExitsAtOnce) {
        const int iIdle = m_pProfile->timers.iCmdLineIdle;
        const int64_t llTimeOut = std::max<int64_t>(0, pIni.m_pINI.CmdLineTimeOut);
        vDEBUG_MSG_printf("%s:%d: plug in timer: %d s", kWho, __LINE__, pIni.m_pINI.CmdLineTimeOut);
        if (iIdle != 0)
            setTimer(iIdle, static_cast<uint32_t>(std::min<int64_t>(llTimeOut * 1000, UINT32_MAX)));
        return;
    }

    // No retries: the give-up comes from the time-out. A negative count is
    // taken as no retries, so that some timer always ends the wait.
    const int32_t iRetryMax = pIni.m_pINI.CmdLineNoDevRetryMax;
    if (iRetryMax <= 0) {
        const int64_t llTimeOut = std::max<int64_t>(0, pIni.m_pINI.CmdLineTimeOut);
        vDEBUG_MSG_printf("%s:%d: [%d] plug in timer: %d s", kWho, __LINE__, option.iCmdIndex,
                          pIni.m_pINI.CmdLineTimeOut);
        setTimer(m_pProfile->timers.iCmdLineGiveUp, static_cast<uint32_t>(std::min<int64_t>(llTimeOut * 1000, UINT32_MAX)));
    } else {
        vDEBUG_MSG_printf("%s:%d: [%d] retry max: %d", kWho, __LINE__, option.iCmdIndex, iRetryMax);
    }
}

void CVIVadeDlg::vCmdLineHandler()
{
    static const char* const kWho = "CVIVadeDlg::vCmdLineHandler";
    const int32_t iCmdIndex = iCmdJob();
    const krv::StopSource* pStop = CWorkerThread::pCurrentStop();
    vDEBUG_MSG_printf("%s:%d: cmd idx:%i", kWho, __LINE__, m_iCmdIndex.load());

    // The jobs that read the first device need one.
    const bool bNeedsDevice = iCmdIndex == CMD_JOB_CHECK_FW || iCmdIndex == CMD_JOB_VERSION ||
                              iCmdIndex == CMD_JOB_DEVICE_INFO || iCmdIndex == CMD_JOB_CC ||
                              iCmdIndex == CMD_JOB_SPEED || iCmdIndex == CMD_JOB_CPU_RESET;
    if (bNeedsDevice && nDevicesFound() == 0) {
        vCmdLineClose(CMDLINE_EXIT_NO_DEVICE, pStop);
        return;
    }
    const DevInfo& first = m_DevList.Devs[0];
    switch (iCmdIndex) {
    case CMD_JOB_CHECK_FW:
        vCmdLineClose(bEqualsIgnoringCase(first.m_strFWVersion, m_strCmdFWVersion) ? CMDLINE_EXIT_OK
                                                                                   : CMDLINE_EXIT_FW_DIFFERS,
                      pStop);
        return;
    case CMD_JOB_START:
        // Start ends the process itself: its refusals with their codes, a
        // run through the supervisor with the run's result.
        sendCommand(IDC_BUTTON_START, pStop);
        return;
    case CMD_JOB_PCIE_INFO:
        if (g_PcieCtrl.ucTargetCount() == 0) {
            vCmdLineClose(CMDLINE_EXIT_NO_DEVICE, pStop);
            return;
        }
        vCmdLineClose(vCmdWritePcieInfo() ? CMDLINE_EXIT_OK : CMDLINE_EXIT_FAILED, pStop);
        return;
    case CMD_JOB_CPU_RESET: {
        if (first.m_bPCIE == 1) {
            vDEBUG_MSG_printf("%s:%d: pcie rst", kWho, __LINE__);
            // A reset the mailbox never took (no such target) fails the job, as on USB.
            const int iRet = g_PcieCtrl.pcie_CPURST(0, CPURST_CPU_RESET);
            krv::Platform::current().clock().sleepMs(kJobSettleMs, pStop);
            vCmdLineClose(iRet == 0 ? CMDLINE_EXIT_OK : CMDLINE_EXIT_FAILED, pStop);
            return;
        }
        vDEBUG_MSG_printf("%s:%d: usb rst", kWho, __LINE__);
        // A reset the bridge never got is a failed job, not a done one.
        const uint8_t ucDone = g_UsbDev.v8574CPURSTwithoutCheck(0, 0, 0, CPURST_CPU_RESET, BRIDGE_TYPE_857X);
        krv::Platform::current().clock().sleepMs(kJobSettleMs, pStop);
        vCmdLineClose(ucDone == 1 ? CMDLINE_EXIT_OK : CMDLINE_EXIT_FAILED, pStop);
        return;
    }
    case CMD_JOB_U4_DATA:
        vCmdLineClose(vCmdWriteU4DataCsv() ? CMDLINE_EXIT_OK : CMDLINE_EXIT_FAILED, pStop);
        return;
    case CMD_JOB_VERSION:
        vCmdLineClose(vCmdWriteVersion() ? CMDLINE_EXIT_OK : CMDLINE_EXIT_FAILED, pStop);
        return;
    case CMD_JOB_DEVICE_INFO:
        vCmdLineClose(vCmdWriteDeviceInfo() ? CMDLINE_EXIT_OK : CMDLINE_EXIT_FAILED, pStop);
        return;
    case CMD_JOB_POWER_CONFIG: {
        const int32_t iDevNums = m_DevList.DevNums;
        vDEBUG_MSG_printf("%s:%d: pwr config num:%i", kWho, __LINE__, iDevNums);
        // Only USB devices take the file; with none of them nothing was
        // configured, which must not read as success.
        if (iDevNums <= 0) {
            vCmdLineClose(CMDLINE_EXIT_NO_DEVICE, pStop);
            return;
        }
        for (int i = 0; i < std::min(iDevNums, MAX_DEV_SLOTS); ++i) {
            const int iResult = g_UsbDev.vFactoryConfigure_PowerConfigWrite(static_cast<uint8_t>(i),
                                                                            CMDLINE_POWER_CONFIG_FILE);
            if (iResult != 0) {
                vDEBUG_ERR_printf("%s:%d: power config write fail[%d]", kWho, __LINE__, iResult);
                vCmdLineClose(iResult, pStop);
                return;
            }
        }
        vCmdLineClose(CMDLINE_EXIT_OK, pStop);
        return;
    }
    case CMD_JOB_CC: {
        const uint8_t ucCC = first.m_ucCCOrientation;
        const int32_t iExitCode = ucCC == 1   ? CMDLINE_EXIT_CC_FLIP1
                                  : ucCC == 2 ? CMDLINE_EXIT_CC_FLIP2
                                              : CMDLINE_EXIT_FAILED;
        krv::Platform::current().clock().sleepMs(kCcSettleMs, pStop);
        vCmdLineClose(iExitCode, pStop);
        return;
    }
    case CMD_JOB_SPEED:
        vCmdLineClose(iGetUpstreamSpeed(first.m_ucU4Mode, first.m_ucLinkSpeed), pStop);
        return;
    default:
        return;
    }
}

bool CVIVadeDlg::vCmdWriteU4DataCsv()
{
    const krv::LocalTime now = krv::Platform::current().clock().localTime();
    return bCmdAppendU4DataCsv("", strCmdU4DataRows(m_DevList, nDevicesFound()), now);
}

bool CVIVadeDlg::vCmdWriteDeviceInfo()
{
    return bCmdWriteReportFile("", CMD_REPORT_DEVICE_INFO_FILE, strCmdDeviceInfoText(m_DevList, nDevicesFound()));
}

bool CVIVadeDlg::vCmdWriteVersion()
{
    return bCmdWriteReportFile("", CMD_REPORT_VERSION_FILE, strCmdVersionText(m_DevList, nDevicesFound()));
}

void CVIVadeDlg::vCmdLineClose(int32_t iExitCode, const krv::StopSource* pStop)
{
    m_iExitCode = iExitCode;
    vDEBUG_MSG_printf("%s:%d: close, exit code %d", "CVIVadeDlg::vCmdLineClose", __LINE__, iExitCode);
    sendCommand(IDOK, pStop);
}
