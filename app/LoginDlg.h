#pragma once
// The login dialog that unlocks the settings of the main window: one masked
// password edit, OK and Cancel. OK with the right password sets
// m_bChangeMode; any other text leaves it as it was. Cancel changes nothing.
#include <cstdint>
#include <string>

#include "ui/Dialog.h"

// The password edit of the login dialog.
constexpr int IDC_EDIT_LOGIN_PASSWORD = 1050;
constexpr int IDC_STATIC_LOGIN_PASSWORD = 1051;
constexpr int IDOK_LOGIN = 1;
constexpr int IDCANCEL_LOGIN = 2;
// The edit takes at most this many characters.
constexpr int LOGIN_PASSWORD_MAX = 7;

class CLoginDlg : public krv::ui::Dialog {
    Q_OBJECT
public:
    explicit CLoginDlg(QWidget* parent = nullptr);

    // Empties the password for this opening; the texts from the GUI table.
    bool OnInitDialog();
    void OnBnClickedOk();
    // True when the text, trimmed, is the unlock password in any case.
    static bool bIsUnlockPassword(const std::string& strTyped);

    std::string m_LoginDialogPassword;
    uint8_t m_bChangeMode = 0;

protected:
    void onCommand(int id) override;
};
