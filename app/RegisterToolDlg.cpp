#include "app/RegisterToolDlg.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "app/GUIText.h"
#include "app/LoginDlg.h"

namespace {

constexpr int IDOK_REGISTER = 1;
constexpr int IDCANCEL_REGISTER = 2;

}  // namespace

CRegisterToolDlg::CRegisterToolDlg(CLoginDlg& login, QWidget* parent) : krv::ui::Dialog(parent), m_LoginDlg(login)
{
    setObjectName("CRegisterToolDlg");
    setWindowTitle("Register Tool");
    auto* ok = new QPushButton("OK", this);
    auto* cancel = new QPushButton("Cancel", this);
    ok->setDefault(true);
    addControl(IDOK_REGISTER, ok);
    addControl(IDCANCEL_REGISTER, cancel);
    auto* layout = new QHBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(ok);
    layout->addWidget(cancel);
}

bool CRegisterToolDlg::OnInitDialog()
{
    vSetLoginDlgTexts(m_LoginDlg);
    return true;
}

void CRegisterToolDlg::vSetLoginDlgTexts(CLoginDlg& login)
{
    login.setWindowTitle(QString::fromStdString(g_GUIText.m_strLoginTitle));
    login.setControlText(IDC_STATIC_LOGIN_PASSWORD, g_GUIText.m_strLoginPassword);
    login.setControlText(IDOK_LOGIN, g_GUIText.m_strLoginOk);
    login.setControlText(IDCANCEL_LOGIN, g_GUIText.m_strLoginCancel);
}

void CRegisterToolDlg::onCommand(int id)
{
    if (id == IDOK_REGISTER)
        accept();
    else if (id == IDCANCEL_REGISTER)
        reject();
    else
        krv::ui::Dialog::onCommand(id);
}
