// The login that unlocks the settings, run from the lock button, and the
// serial-number entry run when a drive arrives with SN_EditType 3.
#include "app/LoginDlg.h"
#include "app/SNDlg.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"

bool CVIVadeDlg::bRunLoginDlg()
{
    // Nothing modal ever opens in command-line mode.
    if (m_iRunMode.load() == 0)
        return false;
    CLoginDlg login(this);
    login.m_bChangeMode = m_bChangeMode.load();
    guiCalls().execModal(login);
    return login.m_bChangeMode == 1;
}

bool CVIVadeDlg::bRunInputDlg()
{
    // Nothing modal ever opens in command-line mode: the serial number
    // then comes from the settings.
    if (m_iRunMode.load() == 0) {
        vDEBUG_MSG_printf("%s:%d: bRunInputDlg: command-line mode, no entry dialog", "CVIVadeDlg", __LINE__);
        return false;
    }
    m_bInputDlgOpen = 1;
    bool bOK = false;
    runOnGui([&] {
        CSNDlg entry(m_DevList, this);
        entry.OnInitDialog();
        bOK = guiCalls().execModal(entry) == QDialog::Accepted;
        m_strEnteredSerialNumber = entry.m_strSNandPStringDlgPCBSN;
        m_strEditDeviceConfigurationSerialNumber = entry.m_strSNandPStringDlgPCBSN;
        setControlText(IDC_EDIT_SERIAL_NUMBER, entry.m_strSNandPStringDlgPCBSN);
    });
    m_bInputDlgOpen = 0;
    return bOK;
}
