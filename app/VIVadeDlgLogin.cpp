// The login that unlocks the settings, run from the lock button.
#include "app/LoginDlg.h"
#include "app/VIVadeDlg.h"

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
