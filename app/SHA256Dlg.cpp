#include "app/SHA256Dlg.h"

#include <algorithm>
#include <cstdio>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "device/DebugLog.h"
#include "device/SHA256.h"
#include "device/TextUtil.h"
#include "platform/LastError.h"

namespace {

constexpr int IDOK_SHA256 = 1;
constexpr int IDCANCEL_SHA256 = 2;
constexpr int kTypedMax = 127;
constexpr size_t kKeyDigits = 8;

using KeyHandler = void (SHA256_Dlg::*)();
constexpr KeyHandler kKeyHandlers[SHA256_DLG_KEYS] = {
    &SHA256_Dlg::OnEnChangeEditSha256Key1, &SHA256_Dlg::OnEnChangeEditSha256Key2,
    &SHA256_Dlg::OnEnChangeEditSha256Key3, &SHA256_Dlg::OnEnChangeEditSha256Key4,
    &SHA256_Dlg::OnEnChangeEditSha256Key5, &SHA256_Dlg::OnEnChangeEditSha256Key6,
    &SHA256_Dlg::OnEnChangeEditSha256Key7, &SHA256_Dlg::OnEnChangeEditSha256Key8};

}  // namespace

SHA256_Dlg::SHA256_Dlg(QWidget* parent) : krv::ui::Dialog(parent)
{
    setObjectName("SHA256_Dlg");
    setWindowTitle("SHA-256 Initial Key");
    auto* group = new QGroupBox("Key", this);
    auto* grid = new QGridLayout(group);
    for (int k = 0; k < SHA256_DLG_KEYS; ++k) {
        auto* label = new QLabel(QString("Key %1 : ").arg(k + 1), group);
        auto* edit = new QLineEdit(group);
        edit->setMinimumWidth(110);
        // Keys 1 to 4 on the left, 5 to 8 on the right.
        const int row = k % 4, column = k < 4 ? 0 : 2;
        grid->addWidget(label, row, column);
        grid->addWidget(edit, row, column + 1);
        addControl(IDC_EDIT_SHA256_KEY1 + k, edit);
        // Typing and pasting only; the dialog's own fills are no edits.
        connect(edit, &QLineEdit::textEdited, this, kKeyHandlers[k]);
    }
    auto* send = new QCheckBox("Send initial key", this);
    addControl(IDC_CHECK_SEND_INITIAL_KEY, send);
    auto* ok = new QPushButton("確定", this);
    auto* cancel = new QPushButton("取消", this);
    ok->setDefault(true);
    addControl(IDOK_SHA256, ok);
    addControl(IDCANCEL_SHA256, cancel);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(send);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
}

std::string& SHA256_Dlg::strKey(int nKey)
{
    std::string* const keys[SHA256_DLG_KEYS] = {&m_strEditSHA256Key1, &m_strEditSHA256Key2, &m_strEditSHA256Key3,
                                                &m_strEditSHA256Key4, &m_strEditSHA256Key5, &m_strEditSHA256Key6,
                                                &m_strEditSHA256Key7, &m_strEditSHA256Key8};
    return *keys[nKey];
}

bool SHA256_Dlg::OnInitDialog()
{
    const CSHA256 standard;
    for (int k = 0; k < SHA256_DLG_KEYS; ++k) {
        char szWord[12];
        std::snprintf(szWord, sizeof szWord, "%x", standard.nGetKeyWord(k + 1));
        strKey(k) = szWord;
    }
    raise();
    activateWindow();
    setCheck(IDC_CHECK_SEND_INITIAL_KEY, m_ucSendInitialKey ? 1 : 0);
    vShowKeys();
    return true;
}

void SHA256_Dlg::vShowKeys()
{
    for (int k = 0; k < SHA256_DLG_KEYS; ++k)
        setControlText(IDC_EDIT_SHA256_KEY1 + k, strKey(k));
}

std::string SHA256_Dlg::strFilterKeyText(const std::string& strTyped)
{
    return strHexDigitsOnly(strTyped, kKeyDigits);
}

void SHA256_Dlg::vOnKeyEdited(int nKey)
{
    auto* edit = control<QLineEdit>(IDC_EDIT_SHA256_KEY1 + nKey);
    try {
        // The selection as it was, restored after the text is rewritten.
        const int nStart = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
        const int nEnd = edit->hasSelectedText() ? edit->selectionEnd() : nStart;
        strKey(nKey) = strFilterKeyText(edit->text().left(kTypedMax).toStdString());
        vShowKeys();
        // A dropped character leaves the caret past the end: it stops there.
        const int nLength = static_cast<int>(strKey(nKey).size());
        const int nFrom = std::min(nStart, nLength), nTo = std::min(nEnd, nLength);
        edit->setSelection(nFrom, nTo - nFrom);
    } catch (...) {
        char szWho[48];
        std::snprintf(szWho, sizeof szWho, "SHA256_Dlg::OnEnChangeEditSha256Key%d", nKey + 1);
        vDEBUG_MSG_printf("%s:%d: OnEnChangeEditSha256Key%d: m_strEditSHA256Key%d : %s , dwErrorCode %d", szWho,
                          __LINE__, nKey + 1, nKey + 1, strKey(nKey).c_str(), static_cast<int>(krv::lastError()));
    }
}

void SHA256_Dlg::OnBnClickedCheckSendInitialKey()
{
    m_ucSendInitialKey = checkState(IDC_CHECK_SEND_INITIAL_KEY) == 1 ? 1 : 0;
}

void SHA256_Dlg::onCommand(int id)
{
    switch (id) {
    case IDOK_SHA256: accept(); return;
    case IDCANCEL_SHA256: reject(); return;
    case IDC_CHECK_SEND_INITIAL_KEY: OnBnClickedCheckSendInitialKey(); return;
    default: krv::ui::Dialog::onCommand(id); return;
    }
}
