// The main window's use of the PD controllers behind the drives: the scan
// reads each drive's PD version when the external PD/MCU update is on, and
// Start checks the PD and MCU files against what the scan detected and
// builds their images before the run.
#include <mutex>

#include "app/Ini.h"
#include "app/PDUpdateDlg.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"

void CVIVadeDlg::vScanPDVersions(const CScanSettings& settings, int iDevNums)
{
    static const char* const kWho = "CVIVadeDlg::vScanUSBPort";
    if (settings.ucExtUpdateFW != 1)
        return;
    std::lock_guard<std::mutex> lock(m_PowerDeliveryMutex);
    CPowerDelivery& pd = *m_pPowerDelivery;
    pd.m_ucPDUpdateEnable = settings.ucPDFwEnable;
    pd.m_ucMCUUpdateEnable = settings.ucMCUFwEnable;
    for (int i = 0; i < iDevNums; ++i) {
        DevInfo& dev = m_DevList.Devs[i];
        int iResult = pd.nInitializedPDI2CBus(dev.m_ucPhysicalAddress);
        if (iResult != 0) {
            vDEBUG_MSG_printf("%s:%d: device[%d], nInitializedPDI2CBus Failed[%d]", kWho, __LINE__, i, iResult);
            continue;
        }
        iResult = pd.nGetPDFWVersion(dev.m_ucPhysicalAddress);
        if (iResult != 0) {
            vDEBUG_MSG_printf("%s:%d: device[%d], nGetPDFWVersion Failed[%d]", kWho, __LINE__, i, iResult);
            continue;
        }
        // The version belongs to the drive it was read from.
        dev.m_strExtFWVersion = pd.m_strVersion;
    }
}

bool CVIVadeDlg::bPrepareExternalFirmware()
{
    static const char* const kWho = "CVIVadeDlg::OnBnClickedButtonStart";
    if (!bCreatePDUpdateWindow()) {
        vDEBUG_ERR_printf("%s:%d: vCheck PD FW path failed[%s].", kWho, __LINE__, pIni.m_pINI.pd_binary_name.c_str());
        return false;
    }
    const IniRecord& ini = pIni.m_pINI;
    std::lock_guard<std::mutex> lock(m_PowerDeliveryMutex);
    CPowerDelivery& pd = *m_pPowerDelivery;
    pd.m_ucPDUpdateEnable = static_cast<uint8_t>(ini.pd_fw_enable);
    pd.m_ucMCUUpdateEnable = static_cast<uint8_t>(ini.mcu_fw_enable);
    if (ini.pd_fw_enable == 1) {
        const std::string strPath = ini.pd_binary_name.str();
        if (!pUtility.vCheckFilePathExists(strPath, 1)) {
            vDEBUG_ERR_printf("%s:%d: vCheck PD FW path failed[%s].", kWho, __LINE__, strPath.c_str());
            return false;
        }
        pd.m_strPDFWFileVersion = pd.strGetPDFWVersionFromFile(strPath);
        if (pd.m_nPDChipVendor == PD_VENDOR_NONE) {
            pUtility.nShowMessage("The PD device is Unknow or Failed detection!!!", 0, MSG_TYPE_ERROR);
            return false;
        }
        if (pd.nCreatePDSPIROMBuffer(strPath) != 0) {
            vDEBUG_ERR_printf("%s:%d: nCreatePDSPIROMBuffer failed...[%s]!!!", kWho, __LINE__, strPath.c_str());
            return false;
        }
    }
    if (ini.mcu_fw_enable == 1) {
        const std::string strPath = ini.mcu_binary_name.str();
        if (!pUtility.vCheckFilePathExists(strPath, 1)) {
            vDEBUG_ERR_printf("%s:%d: vCheck MCU FW path failed[%s].", kWho, __LINE__, strPath.c_str());
            return false;
        }
        (void)pd.strGetPDFWVersionFromFile(strPath);
        if (pd.m_nMCUChipVendor != MCU_VENDOR_STM) {
            pUtility.nShowMessage("The MCU device is Unknow or Failed detection!!!", 0, MSG_TYPE_ERROR);
            return false;
        }
        if (pd.nCreatePDSPIROMBuffer(strPath) != 0) {
            vDEBUG_ERR_printf("%s:%d: nCreatePDSPIROMBuffer failed...[%s]!!!", kWho, __LINE__, strPath.c_str());
            return false;
        }
    }
    return true;
}

bool CVIVadeDlg::bPDUpdateWindowBusy(const char* pszWho)
{
    // Its workers are flashing controllers: the window stays until they end.
    if (!m_pPDUpdateDlg || m_pPDUpdateDlg->nRunningWorkers() == 0)
        return false;
    vDEBUG_ERR_printf("%s:%d: the PD update window still runs %d workers", pszWho, __LINE__,
                      m_pPDUpdateDlg->nRunningWorkers());
    if (m_iRunMode.load() != 0) {
        m_pPDUpdateDlg->show();
        m_pPDUpdateDlg->raise();
    }
    return true;
}

bool CVIVadeDlg::bCreatePDUpdateWindow()
{
    const IniRecord& ini = pIni.m_pINI;
    if (bPDUpdateWindowBusy("CVIVadeDlg::bCreatePDUpdateWindow"))
        return false;
    try {
        // A window left from an earlier Start or the pd button goes first.
        m_pPDUpdateDlg.reset();
        m_pPDUpdateDlg = std::make_shared<CPDUpdateDlg>(m_DevList, m_pPickers, nullptr, &m_Threads);
        CPDUpdateDlg& dlg = *m_pPDUpdateDlg;
        dlg.m_strMCUFilePath = ini.mcu_binary_name.str();
        dlg.m_strPDFilePath = ini.pd_binary_name.str();
        dlg.m_ucPDEnable = static_cast<uint8_t>(ini.pd_fw_enable);
        dlg.m_ucMCUEnable = static_cast<uint8_t>(ini.mcu_fw_enable);
        dlg.OnInitDialog();
        // Modeless: the run goes on beside it. A command-line run has no
        // window to show it next to.
        if (m_iRunMode.load() != 0)
            dlg.show();
        return true;
    } catch (...) {
        m_pPDUpdateDlg.reset();
        return false;
    }
}

void CVIVadeDlg::OnBnClickedButtonPd()
{
    static const char* const kWho = "CVIVadeDlg::OnBnClickedButtonPd";
    // Nothing modal ever opens in command-line mode.
    if (m_iRunMode.load() == 0)
        return;
    IniRecord& ini = pIni.m_pINI;
    if (bPDUpdateWindowBusy(kWho))
        return;
    try {
        m_pPDUpdateDlg.reset();
        m_pPDUpdateDlg = std::make_shared<CPDUpdateDlg>(m_DevList, m_pPickers, this, &m_Threads);
        CPDUpdateDlg& dlg = *m_pPDUpdateDlg;
        dlg.m_ucPDEnable = static_cast<uint8_t>(ini.pd_fw_enable);
        dlg.m_ucMCUEnable = static_cast<uint8_t>(ini.mcu_fw_enable);
        dlg.m_strPDFilePath = ini.pd_binary_name.str();
        dlg.m_strMCUFilePath = ini.mcu_binary_name.str();
        dlg.OnInitDialog();
        guiCalls().execModal(dlg);
        // Whatever the dialog ended with.
        ini.pd_binary_name.set(dlg.m_strPDFilePath);
        ini.mcu_binary_name.set(dlg.m_strMCUFilePath);
        ini.pd_fw_enable = dlg.m_ucPDEnable;
        ini.mcu_fw_enable = dlg.m_ucMCUEnable;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...):  dwErrorCode %d", kWho, __LINE__, static_cast<int>(krv::lastError()));
    }
}
