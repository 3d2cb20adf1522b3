#include "app/VIVadeDlg.h"

#include <cstdarg>
#include <cstdio>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>

#include "app/GUIText.h"
#include "app/VIVadeDlgAbout.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "ui/FilePickers.h"
#include "ui/MessageBoxPresenter.h"
#include "ui/QueuedCall.h"

CVIVadeDlg* g_pMainDlg = nullptr;

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// Value members and the longest text their control takes.
struct ExchangeEntry {
    int id;
    std::string CVIVadeDlg::*pMember;
    int nMax;  // 0: a combo exchanged by its text, no limit
};

const ExchangeEntry kExchange[] = {
    {IDC_EDIT_VENDOR_ID, &CVIVadeDlg::m_strEditDeviceConfigurationVendorID, 4},
    {IDC_EDIT_PRODUCT_ID, &CVIVadeDlg::m_strEditDeviceConfigurationProductID, 4},
    {IDC_EDIT_DEVICE_REVISION, &CVIVadeDlg::m_strEditDeviceConfigurationDeviceRevision, 4},
    {IDC_EDIT_SERIAL_NUMBER, &CVIVadeDlg::m_strEditDeviceConfigurationSerialNumber, 20},
    {IDC_EDIT_EP0_MSTRING, &CVIVadeDlg::m_strEditDeviceConfigurationManufacturerString, 36},
    {IDC_EDIT_EP0_PSTRING, &CVIVadeDlg::m_strEditDeviceConfigurationProductString, 32},
    {IDC_EDIT_T10_MSTRING, &CVIVadeDlg::m_strEditDeviceConfigurationT10MString, 8},
    {IDC_EDIT_T10_PSTRING, &CVIVadeDlg::m_strEditDeviceConfigurationP10MString, 16},
    {IDC_EDIT_SECONDS, &CVIVadeDlg::m_strEditDeviceFunctionRemoveSeconds, 20},
    {IDC_EDIT_DRIVE_LABEL, &CVIVadeDlg::m_strEditDeviceFunctionDriveLabelName, 32},
    {IDC_EDIT_U4_VENDOR_NAME, &CVIVadeDlg::m_strEditU4VendorName, 32},
    {IDC_EDIT_U4_MODEL_NAME, &CVIVadeDlg::m_strEditU4ModelName, 32},
    {IDC_EDIT_U4_COMPONENT_ID, &CVIVadeDlg::m_strEditU4ComponentID, 11},
    {IDC_EDIT_U4_VENDOR_ID, &CVIVadeDlg::m_strEditU4VendorID, 4},
    {IDC_EDIT_U4_PRODUCT_ID, &CVIVadeDlg::m_strEditU4ProductID, 4},
    {IDC_EDIT_U4_TEST_ID, &CVIVadeDlg::m_strEditU4TestID, 8},
    {IDC_EDIT_U4_BCD_PRODUCT_FW, &CVIVadeDlg::m_strEditU4BcdProductFWRevision, 4},
    {IDC_EDIT_U4_PRODUCT_HW, &CVIVadeDlg::m_strEditU4ProductHWRevision, 2},
    {IDC_EDIT_U4_MIN_FW, &CVIVadeDlg::m_strEditU4MinFW, 2},
    {IDC_EDIT_TBT3_VENDOR_ID, &CVIVadeDlg::m_strEditTBT3VendorID, 4},
    {IDC_EDIT_TBT3_MODEL_ID, &CVIVadeDlg::m_strEditTBT3ModelID, 4},
    {IDC_EDIT_TBT3_MODEL_REV, &CVIVadeDlg::m_strEditTBT3ModelRevision, 2},
    {IDC_EDIT_PCI_VID, &CVIVadeDlg::m_strEditPCIVID, 4},
    {IDC_EDIT_PCI_DID, &CVIVadeDlg::m_strEditPCIDID, 4},
    {IDC_EDIT_READ_SPEED, &CVIVadeDlg::m_strEditReadSpeed, 0},
    {IDC_EDIT_WRITE_SPEED, &CVIVadeDlg::m_strEditWriteSpeed, 0},
    {IDC_COMBO_FORMAT, &CVIVadeDlg::m_strComboBoxFormat, 0},
    {IDC_COMBO_FORMAT_TYPE, &CVIVadeDlg::m_strComboBoxFormatType, 0},
    {IDC_COMBO_USB_STATUS, &CVIVadeDlg::m_strComboBoxUSBStatus, 0},
    {IDC_COMBO_FW_PATH, &CVIVadeDlg::m_strComboBoxDeviceFirmwareFWBrowse, 0},
    {IDC_COMBO_PRELOAD_PATH, &CVIVadeDlg::m_strComboBoxDeviceFunctionPreloadPath, 0},
};

}  // namespace

CVIVadeDlg::CVIVadeDlg(QWidget* parent) : krv::ui::Dialog(parent)
{
    // A pop-up with a thin border and no caption; moved by dragging its face.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setObjectName("CVIVadeDlg");
    vCreateControls();
    vConnectSettingsHandlers();
    qApp->installEventFilter(this);
    m_fnEndProcess = [this](int iExitCode) {
        if (!m_bAllThreadsJoined.load()) {
            // A thread still runs: taking the program down in order would
            // destroy what it uses. The process ends here instead.
            std::fflush(nullptr);
            std::_Exit(iExitCode & 0xFF);
        }
        vEndModal(iExitCode);
    };
}

CVIVadeDlg::~CVIVadeDlg()
{
    qApp->removeEventFilter(this);
    markShutdown();
    vUnRegisterDeviceNotification();
    m_Threads.vClose();
    m_Threads.vRequestStopAll();
    m_Threads.bJoinAll(THREAD_STOP_JOIN_MS);
    if (g_pMainDlg == this)
        g_pMainDlg = nullptr;
}

void CVIVadeDlg::vSetPresenters(krv::ui::MessageBoxPresenter* pMessages, krv::ui::FilePickers* pPickers)
{
    m_pMessages = pMessages;
    m_pPickers = pPickers;
}

void CVIVadeDlg::vSetEndProcess(EndProcessFn fn)
{
    if (fn)
        m_fnEndProcess = std::move(fn);
}

int CVIVadeDlg::DoModal()
{
    OnInitDialog();
    if (!m_bModalEnded) {
        // Shown only in GUI mode and only when start-up did not end it.
        if (m_iRunMode.load() == 1 && !m_bExitStarted.load())
            show();
        QEventLoop loop;
        connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
        if (!m_bModalEnded)
            loop.exec(QEventLoop::DialogExec);
    }
    return m_nModalResult;
}

void CVIVadeDlg::vEndModal(int nResult)
{
    m_nModalResult = nResult;
    m_bModalEnded = true;
    done(QDialog::Accepted);
}

// ---- the run state's reset ---------------------------------------------------

void CVIVadeDlg::vInitialPrivateData()
{
    try {
        for (DevInfo& dev : m_DevList.Devs)
            dev = DevInfo();
        m_DevList.DevNums = 0;
        m_DevList.m_bUpdateFW = 0;
        m_DevList.m_bDoUpdateFW = 0;
        m_DevList.m_bDoReload = 0;
        m_DevList.m_bDoFormat = 0;
        m_DevList.m_bDoUSBStatusCheck = 0;
        m_DevList.m_bDoWrRdTest = 0;
        m_DevList.m_bDoSpeedTest = 0;
        m_DevList.m_bDoPreload = 0;
        m_DevList.m_bDoConfigReadBack = 0;
        m_DevList.m_bAutoSafeRemove = 0;
        m_DevList.m_bDoExtUpdateFW = 0;
        m_DevList.m_bDoConfigCheck = 0;
        m_DevList.m_bDoSHA256Key = 0;
        m_bCDROMMode = 0;
        m_DevList.m_iPassCount = 0;
        m_DevList.m_iFailCount = 0;
        m_DevList.m_iTotalCount = 0;

        // The thread records and handles; the threads themselves stay in
        // m_Threads, which the exit path stops and joins.
        m_MainThreadParam = MainThreadParam();
        m_pMainThread.reset();
        for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
            m_ChildThreadParam[slot] = ChildThreadParam();
            m_pChildThread[slot].reset();
        }
        m_pAutoThread.reset();
        m_pRemoveThread.reset();

        // Every start and every exit leaves the settings locked.
        m_bChangeMode = 0;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: vInitialPrivateData: m_pDevList : %x , dwErrorCode %d", "CVIVadeDlg", __LINE__,
                          0u, nLastError());
    }
}

// ---- commands ------------------------------------------------------------------

void CVIVadeDlg::onCommand(int id)
{
    switch (id) {
    case IDOK: OnBnClickedOk(); return;
    case IDC_BUTTON_START: OnBnClickedButtonStart(); return;
    case IDC_BUTTON_PD: OnBnClickedButtonPd(); return;
    case IDC_BUTTON_MIN: OnBnClickedButtonMin(); return;
    case IDC_BUTTON_CLEARCOUNT: OnBnClickedButtonClearcount(); return;
    case IDC_BUTTON_LOADINI: OnBnClickedButtonLoadini(); return;
    case IDC_BUTTON_UNLOCK_VIVADE: OnBnClickedButtonUnlockVivade(); return;
    case IDC_BUTTON_SAFELY_REMOVE: OnBnClickedButtonSafelyRemove(); return;
    // The production tool opens no dialog here.
    case IDC_BUTTON_MORE_CONFIG:
        if (m_pProfile->bOptionDialogs)
            OnBnClickedMoreConfig();
        return;
    case IDC_BUTTON_U4_MORE_CONFIG:
        if (m_pProfile->bOptionDialogs)
            OnBnClickedButtonUsb4MoreConfig();
        return;
    case IDM_ABOUTBOX: OnAboutBox(); return;
    default: krv::ui::Dialog::onCommand(id); return;
    }
}

void CVIVadeDlg::OnBnClickedButtonMin() { showMinimized(); }

void CVIVadeDlg::OnBnClickedButtonClearcount()
{
    try {
        m_DevList.m_iPassCount = 0;
        m_DevList.m_iFailCount = 0;
        m_DevList.m_iTotalCount = 0;
        setControlText(IDC_EDIT_PASS_COUNT, "0");
        setControlText(IDC_EDIT_FAIL_COUNT, "0");
        setControlText(IDC_EDIT_TOTAL_COUNT, "0");
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnBnClickedButtonClearcount: dwErrorCode %d", "CVIVadeDlg", __LINE__, nLastError());
    }
}

void CVIVadeDlg::OnAboutBox()
{
    CAboutDlg about(this);
    guiCalls().execModal(about);
}

// ---- keys, dragging, the window's own behaviour ---------------------------------

int CVIVadeDlg::nKeyCommand(int qtKey, bool bStartEnabled)
{
    if (!bStartEnabled)
        return 0;
    if (qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter)
        return IDC_BUTTON_START;
    if (qtKey == Qt::Key_Escape)
        return IDC_BUTTON_SAFELY_REMOVE;
    return 0;
}

bool CVIVadeDlg::eventFilter(QObject* watched, QEvent* event)
{
    krv::ui::takeQueuedCall(event);
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            const int nCommand =
                nKeyCommand(static_cast<QKeyEvent*>(event)->key(), isControlEnabled(IDC_BUTTON_START));
            if (nCommand != 0) {
                onCommand(nCommand);
                return true;
            }
        }
    }
    return krv::ui::Dialog::eventFilter(watched, event);
}

void CVIVadeDlg::closeEvent(QCloseEvent* event)
{
    // The window closes only through the exit path, which ends the loop.
    event->ignore();
    OnClose();
}

// Escape never closes the window; the key mapping gives it its meaning.
void CVIVadeDlg::reject() {}

void CVIVadeDlg::setVisible(bool visible)
{
    // A command-line run never shows its window.
    if (visible && m_iRunMode.load() == 0)
        return;
    krv::ui::Dialog::setVisible(visible);
}

void CVIVadeDlg::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_ptDragStart = event->globalPosition().toPoint();
        m_bDragging = true;
        grabMouse();
    }
    krv::ui::Dialog::mousePressEvent(event);
}

void CVIVadeDlg::mouseMoveEvent(QMouseEvent* event)
{
    if (m_bDragging) {
        const QPoint ptNow = event->globalPosition().toPoint();
        move(pos() + (ptNow - m_ptDragStart));
        m_ptDragStart = ptNow;
    }
    krv::ui::Dialog::mouseMoveEvent(event);
}

void CVIVadeDlg::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_bDragging && event->button() == Qt::LeftButton) {
        m_bDragging = false;
        releaseMouse();
    }
    krv::ui::Dialog::mouseReleaseEvent(event);
}

void CVIVadeDlg::contextMenuEvent(QContextMenuEvent* event)
{
    // The window has no caption and so no system menu; its one entry, the
    // About box, is offered here.
    QMenu menu(this);
    QAction* about = menu.addAction("&About VIVade...");
    if (menu.exec(event->globalPos()) == about)
        onCommand(IDM_ABOUTBOX);
}

// ---- the window's values ----------------------------------------------------------

bool CVIVadeDlg::UpdateData(bool bSaveAndValidate)
{
    for (const ExchangeEntry& entry : kExchange) {
        std::string& strValue = this->*entry.pMember;
        if (!bSaveAndValidate) {
            if (entry.nMax > 0)
                vSetEditLimit(entry.id, entry.nMax);
            setControlText(entry.id, strValue);
            continue;
        }
        std::string strText = controlText(entry.id);
        if (entry.nMax > 0 && static_cast<int>(strText.size()) > entry.nMax) {
            pUtility.nShowMessage(vSprintf127("Enter no more than %d characters.", entry.nMax), 0,
                                  MSG_TYPE_WARNING);
            return false;
        }
        strValue = std::move(strText);
    }
    return true;
}

// ---- small helpers on the GUI thread ------------------------------------------------

void CVIVadeDlg::vOnGui(const std::function<void()>& fn) { runOnGui(fn); }

void CVIVadeDlg::vEnable(std::initializer_list<int> ids, bool bOn)
{
    for (int id : ids)
        enableControl(id, bOn);
}

void CVIVadeDlg::vSetReadOnly(int id, bool bOn)
{
    vOnGui([&] {
        if (auto* edit = control<QLineEdit>(id))
            edit->setReadOnly(bOn);
    });
}

void CVIVadeDlg::vSelectComboIndex(int id, int nIndex)
{
    vOnGui([&] {
        if (auto* combo = control<QComboBox>(id))
            combo->setCurrentIndex(nIndex >= 0 && nIndex < combo->count() ? nIndex : -1);
    });
}

int CVIVadeDlg::nComboIndex(int id)
{
    int nIndex = -1;
    vOnGui([&] {
        if (auto* combo = control<QComboBox>(id))
            nIndex = combo->currentIndex();
    });
    return nIndex;
}

void CVIVadeDlg::vSetComboItems(int id, std::initializer_list<const std::string*> items)
{
    vOnGui([&] {
        auto* combo = control<QComboBox>(id);
        if (!combo)
            return;
        combo->clear();
        for (const std::string* item : items)
            combo->addItem(QString::fromStdString(*item));
    });
}

void CVIVadeDlg::vSetEditLimit(int id, int nMax)
{
    vOnGui([&] {
        if (auto* edit = control<QLineEdit>(id))
            edit->setMaxLength(nMax);
    });
}

bool CVIVadeDlg::bChecked(int id) { return checkState(id) == krv::ui::check::kChecked; }

std::string CVIVadeDlg::vSprintf127(const char* pszFormat, ...)
{
    char szText[128];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof szText, pszFormat, args);
    va_end(args);
    return szText;
}
