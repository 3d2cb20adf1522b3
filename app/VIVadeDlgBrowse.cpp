// The firmware and preload pickers of the window, each combo keeping the
// five most recent choices, and the engineering buttons for bench work on
// the drive in slot 0.
#include <algorithm>
#include <vector>

#include <QComboBox>

#include "app/DebugDlg.h"
#include "app/FWFileRules.h"
#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/Platform.h"
#include "ui/FilePickers.h"
#include "ui/RecentPaths.h"

namespace {

constexpr const char* FW_READ_DUMP_FILE = "./uReadFW.bin";
constexpr const char* POWER_CONFIG_FILE = "PowerConfiguration.bin";
constexpr const char* FW_FILE_FILTER = "Firmware .bin File (*.bin)|*.bin||";
constexpr const char* FOLDER_DIALOG_TITLE = "Select A Directory:";

int nLastError() { return static_cast<int>(krv::lastError()); }

// The engineering buttons' lines go straight to the debugger output.
void vDebuggerLine(const char* pszLine)
{
    if (krv::Platform* platform = krv::Platform::currentOrNull())
        platform->debugOutput().write(pszLine);
}

// A folder path without one trailing separator, as the picker starts there.
std::string strWithoutTrailingSeparator(std::string strPath)
{
    if (!strPath.empty() && (strPath.back() == '\\' || strPath.back() == '/') && strPath.size() > 1)
        strPath.pop_back();
    return strPath;
}

}  // namespace

void CVIVadeDlg::OnBnClickedButtonDevicwfirmwareFwbrowse()
{
    try {
        if (!m_pPickers)
            return;
        const std::string strPath = m_pPickers->openFile("", pUtility.m_szProgramFolder, FW_FILE_FILTER);
        if (strPath.empty() || !pUtility.vCheckFilePathExists(strPath, 0))
            return;
        const std::vector<std::string> entries = krv::ui::addRecentPath(control<QComboBox>(IDC_COMBO_FW_PATH), strPath);
        std::string strList;
        for (const std::string& strEntry : entries)
            strList += strEntry + "\r\n";
        pUtility.vSaveBINBrowseList(strList);
        pIni.m_pINI.fw_binary_name.set(strPath);
        m_strComboBoxDeviceFirmwareFWBrowse = strPath;
        if (pIni.m_pINI.USB4_BcdSync == 1) {
            const std::string strRevision = strMakeFWFileName(pIni.m_pINI);
            if (!strRevision.empty()) {
                m_strEditU4BcdProductFWRevision = strRevision;
                setControlText(IDC_EDIT_U4_BCD_PRODUCT_FW, strRevision);
            }
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnBnClickedButtonDevicwfirmwareFwbrowse: dwErrorCode %d", "CVIVadeDlg", __LINE__,
                          nLastError());
    }
}

void CVIVadeDlg::OnBnClickedButtonDevicwfirmwarePreloadPath()
{
    try {
        if (!m_pPickers)
            return;
        const std::string strStart = strWithoutTrailingSeparator(pIni.m_pINI.preload_folder_path.str());
        const std::string strFolder = m_pPickers->chooseFolder(FOLDER_DIALOG_TITLE, strStart);
        if (strFolder.empty())
            return;
        krv::ui::addRecentPath(control<QComboBox>(IDC_COMBO_PRELOAD_PATH), strFolder);
        pIni.m_pINI.preload_folder_path.set(strFolder);
        m_strComboBoxDeviceFunctionPreloadPath = strFolder;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnBnClickedButtonDevicwfirmwarePreloadPath: dwErrorCode %d", "CVIVadeDlg", __LINE__,
                          nLastError());
    }
}

void CVIVadeDlg::OnBnClickedButton1()
{
    if (m_pProfile->bPcieImageButtons) {
        vPcieImageRead(false);
        return;
    }
    vDebuggerLine("btn 1\n");
    if (ScanForHardwareChanges())
        vDEBUG_MSG_printf("%s:%d: ScanForHardwareChanges success", "CVIVadeDlg::OnBnClickedButton1", __LINE__);
}

void CVIVadeDlg::OnBnClickedButton2()
{
    if (m_pProfile->bPcieImageButtons) {
        vPcieImageRead(true);
        return;
    }
    vDebuggerLine("btn 2\n");
    std::vector<uint8_t> probe(1);
    // Opens the firmware file and closes it again: a reachability probe.
    pUtility.vReadFile(m_strComboBoxDeviceFirmwareFWBrowse, probe.data(), 0);
}

void CVIVadeDlg::OnBnClickedButton3()
{
    if (m_pProfile->bPcieImageButtons) {
        vPcieImageWrite(false);
        return;
    }
    vDebuggerLine("btn 3\n");
}

void CVIVadeDlg::OnBnClickedButton4()
{
    if (m_pProfile->bPcieImageButtons) {
        vPcieImageWrite(true);
        return;
    }
    vDebuggerLine("btn 4\n");
    std::vector<uint8_t> image(FW_PART0_SIZE + FW_PART1_SIZE, 0);
    // Whatever the read gives (zeros when it failed) is written whole.
    g_UsbDev.v8574ReadFirmware(0, 0, image.data(), image.data() + FW_PART0_SIZE);
    pUtility.vWriteFile(FW_READ_DUMP_FILE, image.data(), static_cast<uint32_t>(image.size()));
}

void CVIVadeDlg::OnBnClickedButtonRst()
{
    vDebuggerLine("btn RST\n");
    const auto ucProbeLimit = static_cast<uint8_t>(std::clamp(m_iRelinkCount, 0, 0xFF));
    g_UsbDev.v8574CPURST(0, 1, ucProbeLimit, CPURST_CPU_RESET, BRIDGE_TYPE_857X);
}

void CVIVadeDlg::OnBnClickedButtonPcTest()
{
    const int nResult = g_UsbDev.vFactoryConfigure_PowerConfigWrite(0, POWER_CONFIG_FILE);
    vDEBUG_MSG_printf("%s:%d: ret:%d PC", "CVIVadeDlg", __LINE__, nResult);
}

void CVIVadeDlg::OnBnClickedDEBUG()
{
    // Nothing modal ever opens in command-line mode.
    if (m_iRunMode.load() == 0)
        return;
    CDebugDlg debug(m_DevList, this);
    debug.vSetProfile(dlgProfile().toolDlgs);
    debug.OnInitDialog();
    guiCalls().execModal(debug);
}
