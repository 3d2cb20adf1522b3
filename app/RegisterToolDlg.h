#pragma once
// The "Register Tool" dialog: OK and Cancel only. No command of either
// program opens it; opening it gives the login dialog it serves the login
// texts of the GUI text table, which is also how the login dialog gets them.
#include "ui/Dialog.h"

class CLoginDlg;

class CRegisterToolDlg : public krv::ui::Dialog {
    Q_OBJECT
public:
    // `login`: the login dialog whose texts it sets.
    explicit CRegisterToolDlg(CLoginDlg& login, QWidget* parent = nullptr);

    bool OnInitDialog();
    // Caption, password label, OK and Cancel of the login dialog.
    static void vSetLoginDlgTexts(CLoginDlg& login);

protected:
    void onCommand(int id) override;

private:
    CLoginDlg& m_LoginDlg;
};
