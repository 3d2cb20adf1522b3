// The main window's SHA-256 key button: the key dialog shows the standard
// key and lets the operator switch the run's key step on or off.
#include "app/SHA256Dlg.h"
#include "app/VIVadeDlg.h"

void CVIVadeDlg::OnBnClickedButtonSha256()
{
    // Nothing modal ever opens in command-line mode.
    if (m_iRunMode.load() == 0)
        return;
    SHA256_Dlg key(this);
    key.m_ucSendInitialKey = m_DevList.m_bDoSHA256Key;
    key.OnInitDialog();
    // Cancel leaves the key item as it was.
    if (guiCalls().execModal(key) == QDialog::Accepted)
        m_DevList.m_bDoSHA256Key = key.m_ucSendInitialKey;
}
