#include "app/LoginDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/RegisterToolDlg.h"
#include "device/DebugLog.h"
#include "device/TextUtil.h"
#include "platform/LastError.h"

namespace {

constexpr const char* LOGIN_UNLOCK_PASSWORD = "quorbel";

}  // namespace

CLoginDlg::CLoginDlg(QWidget* parent) : krv::ui::Dialog(parent)
{
    setObjectName("CLoginDlg");
    auto* password = new QLineEdit(this);
    password->setEchoMode(QLineEdit::Password);
    password->setMaxLength(LOGIN_PASSWORD_MAX);
    auto* label = new QLabel(this);
    auto* ok = new QPushButton(this);
    auto* cancel = new QPushButton(this);
    ok->setDefault(true);
    addControl(IDC_EDIT_LOGIN_PASSWORD, password);
    addControl(IDC_STATIC_LOGIN_PASSWORD, label);
    addControl(IDOK_LOGIN, ok);
    addControl(IDCANCEL_LOGIN, cancel);
    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(password, 0, 1, 1, 2);
    grid->addWidget(ok, 1, 1);
    grid->addWidget(cancel, 1, 2);
    OnInitDialog();
}

bool CLoginDlg::OnInitDialog()
{
    m_LoginDialogPassword.clear();
    setControlText(IDC_EDIT_LOGIN_PASSWORD, m_LoginDialogPassword);
    CRegisterToolDlg::vSetLoginDlgTexts(*this);
    return true;
}

bool CLoginDlg::bIsUnlockPassword(const std::string& strTyped)
{
    const std::string strTrimmed = strTrim(strTyped);
    return !strTrimmed.empty() && strUpper(strTrimmed) == strUpper(LOGIN_UNLOCK_PASSWORD);
}

void CLoginDlg::OnBnClickedOk()
{
    try {
        m_LoginDialogPassword = strTrim(controlText(IDC_EDIT_LOGIN_PASSWORD));
        if (bIsUnlockPassword(m_LoginDialogPassword)) {
            m_bChangeMode = 1;
        } else {
            // The typed text stays out of the log: it is often the password
            // with a typing slip.
            vDEBUG_MSG_printf("%s:%d: OnBnClickedOk: Loing Password Fail , m_LoginDialogPassword : %s , m_bChangeMode : "
                              "%d , dwErrorCode : %d ",
                              "CLoginDlg::OnBnClickedOk", __LINE__, "(not logged)", m_bChangeMode,
                              static_cast<int>(krv::lastError()));
            if (QWidget* edit = control(IDC_EDIT_LOGIN_PASSWORD))
                edit->setFocus();
        }
    } catch (...) {
        vDEBUG_MSG_printf("%s:%d: OnBnClickedOk: Loing Password Fail , m_LoginDialogPassword : %s , m_bChangeMode : "
                          "%d , dwErrorCode : %d ",
                          "CLoginDlg::OnBnClickedOk", __LINE__, "(not logged)", m_bChangeMode,
                          static_cast<int>(krv::lastError()));
    }
    accept();
}

void CLoginDlg::onCommand(int id)
{
    if (id == IDOK_LOGIN)
        OnBnClickedOk();
    else if (id == IDCANCEL_LOGIN)
        reject();
    else
        krv::ui::Dialog::onCommand(id);
}
