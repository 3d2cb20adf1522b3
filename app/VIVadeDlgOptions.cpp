// The option dialogs opened from the main window: the settings go into the
// dialog, the dialog runs modally, and only OK brings its values back into
// the settings (which Save INI then stores).
#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "platform/LastError.h"

void CVIVadeDlg::OnBnClickedMoreConfig()
{
    // Nothing modal ever opens in command-line mode.
    if (m_iRunMode.load() == 0)
        return;
    try {
        PCIEUSBConfigDlg& dlg = m_PCIEUSBConfigDlg;
        vCopySettingsToOptionBlock(pIni.m_pINI, dlg, m_pProfile->bOptionBlockImages);
        dlg.vSetLPIfIdleItems(m_pProfile->lpIfIdleItems);
        dlg.OnInitDialog();
        if (guiCalls().execModal(dlg) == QDialog::Accepted)
            vCopyOptionBlockToSettings(dlg, pIni.m_pINI, m_pProfile->bOptionBlockImages);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnBnClickedMoreConfig: dwErrorCode : %d ", "CVIVadeDlg", __LINE__,
                          static_cast<int>(krv::lastError()));
    }
}

void CVIVadeDlg::OnBnClickedButtonUsb4MoreConfig()
{
    if (m_iRunMode.load() == 0)
        return;
    try {
        USB4_MoreConfig& dlg = m_USB4MoreConfigDlg;
        IniRecord& ini = pIni.m_pINI;
        // The two link values go in as their low bytes.
        dlg.m_uc20G = static_cast<uint8_t>(ini.USB4_20G);
        dlg.m_ucX2 = static_cast<uint8_t>(ini.USB4_X2);
        dlg.m_iCLIndex = ini.USB4_CLx;
        dlg.vSetLinkOnly(m_pProfile->bU4MoreConfigLinkOnly);
        dlg.OnInitDialog();
        if (guiCalls().execModal(dlg) == QDialog::Accepted) {
            ini.USB4_20G = dlg.m_uc20G;
            ini.USB4_X2 = dlg.m_ucX2;
            ini.USB4_CLx = dlg.m_iCLIndex;
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnBnClickedButtonUsb4MoreConfig: dwErrorCode : %d ", "CVIVadeDlg", __LINE__,
                          static_cast<int>(krv::lastError()));
    }
}
