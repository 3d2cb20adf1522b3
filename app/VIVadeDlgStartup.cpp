// Start-up of the main window, once per process, and Load INI.
//
// Start-up dresses the window, keeps the one instance, loads the settings
// from the program folder (the factory defaults only when that fails), reads
// the command line, switches the power scheme, reads the limitation table,
// fills the window from the settings, listens for device changes and asks
// for the first scan. Whether the line runs a command-line job is settled
// first of all, so that nothing before the job's parse (the settings load
// among it) can ever put up a window an operator would have to answer.
#include <QComboBox>

#include "app/FWFileRules.h"
#include "app/GUIText.h"
#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "controls/ColorStaticST.h"
#include "controls/TextProgressCtrl.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "ui/FilePickers.h"
#include "ui/MessageBoxPresenter.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

constexpr const char* kDebugOption = "/DBG";
constexpr int kDebugLevelMax = 4;
constexpr size_t kDebugDigitsMax = 254;

std::string strTrim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool CVIVadeDlg::bIsCommandLineJob(const std::string& strCmdLine)
{
    return !strCmdLine.empty() && strCmdLine.find(kDebugOption) == std::string::npos;
}

bool CVIVadeDlg::bIsCommandLineJob(const std::string& strCmdLine, const MainDlgProfile& profile)
{
    if (!bIsCommandLineJob(strCmdLine))
        return false;
    if (profile.bUnknownOptionExits)
        return true;
    const CCmdLineOption option = stParseCmdLine(strCmdLine, profile.options);
    return option.iCmdIndex != CMD_JOB_NONE || option.bEmptyVersion;
}

bool CVIVadeDlg::bTakeDebugOption(std::string& strCmdLine, int& nLevel)
{
    const size_t nAt = strCmdLine.find(kDebugOption);
    if (nAt == std::string::npos)
        return false;
    // The option runs up to the next option, if one follows.
    std::string strOption = strCmdLine.substr(nAt);
    const size_t nNext = strOption.rfind('/');
    if (nNext != std::string::npos && nNext > 0)
        strOption.resize(nNext);
    strCmdLine.erase(nAt, strOption.size());
    for (size_t n; (n = strOption.find(kDebugOption)) != std::string::npos;)
        strOption.erase(n, std::char_traits<char>::length(kDebugOption));
    const std::string strDigits = strTrim(strOption).substr(0, kDebugDigitsMax);
    const uint32_t dwLevel = pUtility.vCharToHex(strDigits);
    nLevel = dwLevel > static_cast<uint32_t>(kDebugLevelMax) ? kDebugLevelMax : static_cast<int>(dwLevel);
    return true;
}

void CVIVadeDlg::vEnterCommandLineMode()
{
    // From here on nothing waits for an operator: messages go to the message
    // file, pickers answer "cancelled", and the window never shows.
    m_iRunMode = 0;
    pUtility.m_bCommandLineMode = true;
    if (m_pMessages)
        m_pMessages->setMode(krv::ui::Presentation::CommandLine);
    if (m_pPickers)
        m_pPickers->setMode(krv::ui::Presentation::CommandLine);
    hide();
}

namespace {

// The loader's first few reasons, each naming the settings file by its name:
// a file of garbage has one per missing key, and the message file is read
// on other machines than this one.
std::string strSettingsReasons(const std::string& strProblem, const std::string& strPath)
{
    constexpr int kReasonsShown = 3;
    std::string strReasons;
    size_t nFrom = 0;
    int nShown = 0;
    for (; nFrom < strProblem.size() && nShown < kReasonsShown; ++nShown) {
        const size_t nEnd = strProblem.find('\n', nFrom);
        std::string strReason = strProblem.substr(nFrom, nEnd - nFrom);
        if (!strPath.empty() && strReason.compare(0, strPath.size() + 2, strPath + ": ") == 0)
            strReason.erase(0, strPath.size() + 2);
        strReasons += (nShown ? "; " : "") + strReason;
        nFrom = nEnd == std::string::npos ? strProblem.size() : nEnd + 1;
    }
    if (nFrom < strProblem.size())
        strReasons += "; ...";
    return strReasons.empty() ? std::string("its values were refused") : strReasons;
}

}  // namespace

void CVIVadeDlg::vReportFactorySettings(const std::string& strProblem)
{
    const std::string strText = std::string("Settings file ") + VIVADE_INI_FILE +
                                " not loaded: the factory settings are used (" +
                                strSettingsReasons(strProblem, m_strINIFilePath) + ")";
    vDEBUG_ERR_printf("%s:%d: %s: %s", "CVIVadeDlg::OnInitDialog", __LINE__, m_strINIFilePath.c_str(),
                      strText.c_str());
    pUtility.nShowProgramMessage(strText, MSG_TYPE_WARNING, 0, CUSBUtility::EMessageTarget::eMessageFile);
}

bool CVIVadeDlg::bRefuseJobOnFactorySettings(const std::string& strProblem)
{
    // The factory settings switch every step off and carry no identity of
    // the line's: a job that writes to drives would report a run that did
    // nothing, or write the factory's configuration. It ends before the
    // first scan. The jobs that only read go on, saying so.
    const int32_t iJob = iCmdJob();
    if (iJob != CMD_JOB_START && iJob != CMD_JOB_POWER_CONFIG && iJob != CMD_JOB_CPU_RESET) {
        vReportFactorySettings(strProblem);
        return false;
    }
    const CmdLineOptionEntry* pOption = m_pProfile->pFindCmdIndex(m_iCmdIndex.load());
    const std::string strText = std::string("Settings file ") + VIVADE_INI_FILE + " not loaded: " +
                                (pOption ? pOption->pszOption : "the job") + " writes no drive (" +
                                strSettingsReasons(strProblem, m_strINIFilePath) + ")";
    vDEBUG_ERR_printf("%s:%d: %s: %s", "CVIVadeDlg::OnInitDialog", __LINE__, m_strINIFilePath.c_str(),
                      strText.c_str());
    pUtility.nShowProgramMessage(strText, MSG_TYPE_ERROR, 0, CUSBUtility::EMessageTarget::eMessageFile);
    vCmdLineClose(CMDLINE_EXIT_BAD_OPTION, nullptr);
    return true;
}

bool CVIVadeDlg::bClaimSingleInstance()
{
    // Another instance may be in the middle of writing a bridge's firmware:
    // it is never ended. The one that comes second leaves instead.
    if (krv::Platform::current().systemInfo().claimProgramInstance(m_strProgramName))
        return true;
    const int iProcessCount = pUtility.DetectProcess(m_strProgramName);
    vDEBUG_ERR_printf("%s:%d: OnInitDialog: iProcessCount: %d , dwProcessID : %d dwErrorCode %d", "CVIVadeDlg",
                      __LINE__, iProcessCount, 0, nLastError());
    pUtility.nShowProgramMessage(m_strProgramName + " is already running; this one closes.", MSG_TYPE_ERROR, 0,
                                 m_iRunMode == 0 ? CUSBUtility::EMessageTarget::eMessageFile
                                                 : CUSBUtility::EMessageTarget::eMessageBox);
    m_iExitCode = CMDLINE_EXIT_ALREADY_RUNNING;
    OnBnClickedOk();
    return false;
}

bool CVIVadeDlg::OnInitDialog()
{
    static const char* const kWho = "CVIVadeDlg::OnInitDialog";
    try {
        m_iRunMode = 1;
        m_ucArrivalCount = 0;
        m_ucDevChangeCount = 0;
        m_bRescanArmed = 0;
        m_bRunning = 0;

        if (!m_strCmdLine.empty())
            vDEBUG_MSG_printf("%s:%d: AfxGetApp: m_lpCmdLine = %s ", kWho, __LINE__, m_strCmdLine.c_str());
        if (bIsCommandLineJob(m_strCmdLine, *m_pProfile))
            vEnterCommandLineMode();

        showControl(IDC_PICTURE_FAIL, false);
        showControl(IDC_PICTURE_PASS, false);

        // The title: red, bold.
        m_fontTitle = QFont("Arial");
        m_fontTitle.setPixelSize(14);
        m_fontTitle.setBold(true);
        m_StaticTitle->setFont(m_fontTitle);
        m_StaticTitle->SetTextColor(krv::ui::rgb(255, 0, 0));
        m_StaticTitle->setText(m_pProfile->pszTitle);
        m_font15 = QFont("Arial");
        m_font15.setPixelSize(15);
        m_font15.setBold(true);

        pUtility.g_bScanWaiting = 0;
        pUtility.vSetProgress(0);

        m_ProgressScan->SetRange(0, 100);
        m_ProgressScan->SetStep(1);
        m_ProgressScan->SetPos(0);
        m_ProgressScan->SetBarColor(krv::ui::rgb(20, 232, 20));
        showControl(IDC_STATIC_WARNING, false);

        m_strINIFilePath = krv::joinPath(pUtility.m_szProgramFolder, VIVADE_INI_FILE);

        if (!bClaimSingleInstance())
            return true;
        vDEBUG_MSG_printf("%s:%d: [%s]", kWho, __LINE__, m_pProfile->pszTitle);

        vInitialPrivateData();
        vInitButtonStyles();
        vInitGUITexts();
        showControl(IDC_BUTTON_SHA256, false);

        const bool bSettingsLoaded = pIni.vLoadINIFile(m_strINIFilePath);
        const std::string strSettingsProblem = pIni.strLastProblem();
        if (!bSettingsLoaded) {
            vDEBUG_MSG_printf("%s:%d: factory settings", kWho, __LINE__);
            pIni.vSetDefaultSettings();
        }
        if (pIni.m_pINI.USB4_BcdSync == 1)
            strMakeFWFileName(pIni.m_pINI);
        // Neither test can be started from the window; a settings file that
        // has one on does not switch it on.
        pIni.m_pINI.wr_test_enable = 0;
        pIni.m_pINI.Check_USBStatus_enable = 0;

        if (!m_strCmdLine.empty()) {
            int nLevel = 0;
            if (bTakeDebugOption(m_strCmdLine, nLevel)) {
                vDEBUG_SetLevel(nLevel);
                vDEBUG_MSG_printf("%s:%d: debug level %d", kWho, __LINE__, nLevel);
            } else {
                vCmdLinePreHandler(m_strCmdLine);
                // A malformed option or "/?" has ended the run already.
                if (m_bExitStarted.load())
                    return true;
                // The loader spoke before the job's trace was on, and no one
                // sees a box here: the job says what it runs with, or ends.
                if (!bSettingsLoaded && bRefuseJobOnFactorySettings(strSettingsProblem))
                    return true;
            }
        }

        if (m_pProfile->bPowerScheme) {
            vGetWinPwrMode(m_strSavedPowerScheme);
            vSetWinPwrMode(POWER_SCHEME_HIGH_PERFORMANCE);
        }

        if (pIni.m_pINI.PCIE_Scan == 0) {
            g_PcieCtrl.UnInitPcie();
        } else {
            vDEBUG_MSG_printf("%s:%d: init pcie", kWho, __LINE__);
            g_PcieCtrl.InitPcie();
        }

        if (m_pProfile->bLimitationTable) {
            m_strLimitationTablePath = krv::joinPath(pUtility.m_szProgramFolder, LIMITATION_TABLE_FILE);
            m_bLimitationTableLoaded = m_LimitationTable.vLoadFeatureINI(m_strLimitationTablePath);
            m_LimitationTable.m_bLimitationTableLoaded = m_bLimitationTableLoaded.load();
        }

        g_UsbDev.m_ucImage0Enable = pIni.m_pINI.image0;
        g_UsbDev.m_ucCDROMMode = pIni.m_pINI.cd_rom_mode;
        g_UsbDev.m_ucImage1Enable = pIni.m_pINI.image1;

        vSetDeviceDescriptorGUIByINIFile();
        vSetDeviceFunctionGUIByINIFile();
        vSetDeviceFirmwareGUIByINIFile();
        vSetPreloadPathGUIByINIFile();
        vCopyGlobalFlagsToDlg();
        vSetTargetChipByINIFile();
        vSetUSB4ConfigGUIByINIFile();
        vInitResultTableColumns();

        setControlText(IDC_EDIT_PASS_COUNT, "0");
        setControlText(IDC_EDIT_FAIL_COUNT, "0");
        setControlText(IDC_EDIT_TOTAL_COUNT, "0");

        vResetProgress();
        vRegisterDeviceNotification();
        vSetMainResultItemTable();
        TriggerScanThread();

        if (pIni.m_pINI.auto_mp == 1)
            vSetLockedGUI();
        else
            vSetUnlockedGUI();

        for (int id : {IDC_BUTTON_MORE_CONFIG, IDC_BUTTON_U4_MORE_CONFIG, IDC_BUTTON_BTN1, IDC_BUTTON_BTN2,
                       IDC_BUTTON_BTN3, IDC_BUTTON_BTN4, IDC_BUTTON_RST, IDC_BUTTON_TEST, IDC_BUTTON_PD_TEST,
                       IDC_BUTTON_PC, IDC_BUTTON_U4_DATA})
            showControl(id, false);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnInitDialog , dwErrorCode %d", kWho, __LINE__, nLastError());
    }
    return true;
}

void CVIVadeDlg::OnBnClickedButtonLoadini()
{
    try {
        if (!m_pPickers)
            return;
        // The picker opens in the program folder; the process's current
        // folder is left alone (reports and messages are written there).
        const std::string strPath =
            m_pPickers->openFile("Load INI", pUtility.m_szProgramFolder, "Config .ini File (*.ini)|*.ini||");
        if (strPath.empty() || !pUtility.vCheckFilePathExists(strPath, 1))
            return;
        vClearDeviceDescriptorGUI();
        vResetGUIControls();
        vClearComboList();
        // A file that does not load leaves the settings as they were, and
        // the window is filled from them again below.
        const bool bLoaded = pIni.vLoadINIFile(strPath);
        vApplyCDROMModeToDevice();
        pIni.m_pINI.wr_test_enable = 0;
        pIni.m_pINI.Check_USBStatus_enable = 0;
        vSetDeviceDescriptorGUIByINIFile();
        vSetDeviceFunctionGUIByINIFile();
        vSetDeviceFirmwareGUIByINIFile();
        vSetPreloadPathGUIByINIFile();
        vCopyGlobalFlagsToDlg();
        vSetTargetChipByINIFile();
        vSetUSB4ConfigGUIByINIFile();
        TriggerScanThread();
        if (bLoaded) {
            if (m_bChangeMode == 1)
                vSetUnlockedGUI();
            else if (pIni.m_pINI.auto_mp == 1)
                vSetLockedGUI();
            else
                vSetUnlockedGUI();
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnBnClickedButtonLoadini: dwErrorCode %d", "CVIVadeDlg", __LINE__, nLastError());
    }
}
