#include "app/SNDlg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Ini.h"
#include "device/DebugLog.h"
#include "device/DevList.h"
#include "device/KrvnUSBDev.h"
#include "platform/LastError.h"

namespace {

bool bIsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

}  // namespace

CSNDlg::CSNDlg(DevList& devList, QWidget* parent) : krv::ui::Dialog(parent), m_DevList(devList)
{
    setObjectName("CSNDlg");
    setWindowTitle("Serial Number Entering");
    auto* label = new QLabel("Serial Number : ", this);
    auto* edit = new QLineEdit(this);
    addControl(IDC_EDIT_DEVICE_ARRIVAL_PCB_SN, edit);
    // OK and Cancel exist but are not shown: Enter and Escape end the entry.
    auto* ok = new QPushButton("OK", this);
    auto* cancel = new QPushButton("Cancel", this);
    ok->hide();
    cancel->hide();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(edit, 1);
    connect(edit, &QLineEdit::textEdited, this, [this] { OnEnChangeEditDeviceArrivalDialogPcbSn(); });
    edit->installEventFilter(this);
    resize(420, 60);
}

bool CSNDlg::OnInitDialog()
{
    auto* edit = control<QLineEdit>(IDC_EDIT_DEVICE_ARRIVAL_PCB_SN);
    edit->clear();
    m_strSNandPStringDlgPCBSN.clear();
    edit->setMaxLength(g_UsbDev.m_ucConfig_SN_Len > 0 ? g_UsbDev.m_ucConfig_SN_Len : 20);
    edit->setFocus();
    raise();
    activateWindow();
    return true;
}

void CSNDlg::OnEnChangeEditDeviceArrivalDialogPcbSn()
{
    auto* edit = control<QLineEdit>(IDC_EDIT_DEVICE_ARRIVAL_PCB_SN);
    try {
        bool bDevice = false;
        for (const DevInfo& dev : m_DevList.Devs)
            if (dev.m_ucPortIndex < 255 && !dev.m_strFWVersion.empty())
                bDevice = true;
        if (!bDevice) {
            edit->clear();
            m_strSNandPStringDlgPCBSN.clear();
            pIni.m_pINI.serial_number.clear();
            return;
        }
        const int nCaret = edit->cursorPosition();
        const std::string strTyped = edit->text().left(127).toStdString();
        std::string strKept;
        for (char c : strTyped)
            if (pIni.m_pINI.Check_SerialNumber == 0 || bIsHex(c))
                strKept.push_back(c);
        // The serial keeps the case it was typed or scanned in.
        m_strSNandPStringDlgPCBSN = strKept;
        if (strKept != strTyped) {
            edit->setText(QString::fromStdString(strKept));
            edit->setCursorPosition(std::min(nCaret, static_cast<int>(strKept.size())));
        }
        pIni.m_pINI.serial_number.set(m_strSNandPStringDlgPCBSN);
    } catch (...) {
        vDEBUG_MSG_printf("%s:%d: OnEnChangeEditSNandPStringDlgPCBSN: m_strSNandPStringDlgPCBSN : %s , dwErrorCode %d",
                          "CSNDlg::OnEnChangeEditDeviceArrivalDialogPcbSn", __LINE__,
                          m_strSNandPStringDlgPCBSN.c_str(), static_cast<int>(krv::lastError()));
    }
}

bool CSNDlg::bAcceptsLength(size_t nLength, int32_t iSNNumbers)
{
    if (iSNNumbers != 0)
        return iSNNumbers > 0 && nLength == static_cast<size_t>(iSNNumbers);
    return nLength >= SN_ENTRY_MIN_LENGTH;
}

void CSNDlg::vOnEnter()
{
    auto* edit = control<QLineEdit>(IDC_EDIT_DEVICE_ARRIVAL_PCB_SN);
    if (bAcceptsLength(edit->text().toStdString().size(), pIni.m_pINI.SN_Numbers)) {
        m_strSNandPStringDlgPCBSN = edit->text().toStdString();
        accept();
        return;
    }
    m_strSNandPStringDlgPCBSN.clear();
    edit->clear();
}

bool CSNDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int nKey = static_cast<QKeyEvent*>(event)->key();
        if (nKey == Qt::Key_Return || nKey == Qt::Key_Enter) {
            vOnEnter();
            return true;
        }
    }
    return krv::ui::Dialog::eventFilter(watched, event);
}
