// The main window's controls and where they sit: the title and run buttons,
// then the results table across the whole width (an operator sees every
// step column of all sixteen ports without scrolling), the run buttons,
// counters and progress; below them the settings side by side (USB-3
// identity, device functions, USB4 identity, TBT3 and the firmware and
// preload pickers) in a band that scrolls when the window is too low for
// them. Every control the code names is registered under its id; captions
// that start-up sets later start empty here.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/GUIText.h"
#include "app/VIVadeDlg.h"
#include "controls/ButtonST.h"
#include "controls/ColorStaticST.h"
#include "controls/ListCtrlEx.h"
#include "controls/TextProgressCtrl.h"
#include "ui/DialogUnits.h"

namespace {

// The window's size in dialog units: measured in the font the window has,
// it holds the same text whatever font the desktop gives it (in a common
// 9-point sans about 1250 x 620 pixels, room for the results table's columns
// up to the last step column, 1152 pixels, with the window's margins).
constexpr int kWindowWidthUnits = 716;
constexpr int kWindowHeightUnits = 356;
// The identity fields' width in dialog units: sixteen characters of the
// font and the field's frame (or a list's arrow), so a serial number, a
// product string or a list's choice shows whole; the TBT3 identity has four
// characters at most.
constexpr int kFieldWidthUnits = 80;
constexpr int kShortFieldWidthUnits = 32;
// The settings band's share of the height; the rest goes to the results.
constexpr int kSettingsBandHeight = 230;

QString qs(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

void CVIVadeDlg::vCreateControls()
{
    resize(krv::ui::DialogUnits(font()).toPixels(kWindowWidthUnits, kWindowHeightUnits));
    setWindowTitle(VIVADE_TITLE_TEXT);

    auto add = [this](int id, QWidget* widget) {
        addControl(id, widget);
        return widget;
    };
    auto edit = [&](int id) {
        auto* e = new QLineEdit(this);
        add(id, e);
        return e;
    };
    auto combo = [&](int id, bool bEditable = false) {
        auto* c = new QComboBox(this);
        c->setEditable(bEditable);
        add(id, c);
        return c;
    };
    auto check = [&](int id, const std::string& caption) {
        auto* c = new CButtonST(qs(caption), this, CButtonST::BS_AUTOCHECKBOX);
        add(id, c);
        return c;
    };
    auto button = [&](int id, const std::string& caption) {
        auto* b = new CButtonST(qs(caption), this);
        // Enter never presses a button by itself: the key map decides.
        b->setAutoDefault(false);
        b->setDefault(false);
        add(id, b);
        return b;
    };
    auto label = [&](const std::string& text, int id = 0) {
        auto* l = new QLabel(qs(text), this);
        if (id != 0)
            add(id, l);
        return l;
    };
    auto group = [&](int id, const std::string& title) {
        auto* g = new QGroupBox(qs(title), this);
        add(id, g);
        return g;
    };
    auto row = [](QGridLayout* grid, QWidget* left, QWidget* right) {
        const int r = grid->rowCount();
        grid->addWidget(left, r, 0);
        if (right)
            grid->addWidget(right, r, 1);
    };
    auto hidden = [](QWidget* widget) {
        widget->setVisible(false);
        return widget;
    };

    // ---- left: USB-3 identity and device functions ----
    auto* devCfg = group(IDC_GROUP_DEVICE_CONFIG, g_GUIText.m_strDevDescGroup);
    auto* devCfgGrid = new QGridLayout(devCfg);
    hidden(combo(IDC_COMBO_FORMAT));
    row(devCfgGrid, label(g_GUIText.m_strDevDescVendorID), edit(IDC_EDIT_VENDOR_ID));
    row(devCfgGrid, label(g_GUIText.m_strDevDescProductID), edit(IDC_EDIT_PRODUCT_ID));
    row(devCfgGrid, label(g_GUIText.m_strDevDescRevision), edit(IDC_EDIT_DEVICE_REVISION));
    row(devCfgGrid, label(g_GUIText.m_strDevDescSerialNumber), edit(IDC_EDIT_SERIAL_NUMBER));
    row(devCfgGrid, check(IDC_CHECK_SN_HEX, "S/N CHK HEX"), combo(IDC_COMBO_SN_EDIT_TYPE));
    hidden(combo(IDC_COMBO_SN_INCREASE));
    hidden(check(IDC_CHECK_BARCODE, "Input From Barcode"));
    hidden(check(IDC_CHECK_SN_INCREASE, g_GUIText.m_strDevDescSNIncrease));
    hidden(check(IDC_CHECK_HDDSN, "Input From HDDSN"));
    hidden(check(IDC_CHECK_HEX, "Hex"));
    hidden(check(IDC_CHECK_DEC, "Dec"));
    row(devCfgGrid, label(g_GUIText.m_strDevDescEP0MString), edit(IDC_EDIT_EP0_MSTRING));
    row(devCfgGrid, label(g_GUIText.m_strDevDescEP0PString), edit(IDC_EDIT_EP0_PSTRING));
    row(devCfgGrid, label("T10 M.String"), edit(IDC_EDIT_T10_MSTRING));
    row(devCfgGrid, label("T10 P.String"), edit(IDC_EDIT_T10_PSTRING));
    row(devCfgGrid, label("Idle Timer"), combo(IDC_COMBO_IDLE_TIMER));

    // Two columns of functions, so that the group is no taller than the others.
    auto* devFunc = group(IDC_GROUP_DEVICE_FUNCTION, g_GUIText.m_strDevFuncGroup);
    auto* devFuncColumns = new QHBoxLayout(devFunc);
    auto* devFuncGrid = new QGridLayout;
    auto* devFuncGrid2 = new QGridLayout;
    devFuncColumns->addLayout(devFuncGrid);
    devFuncColumns->addLayout(devFuncGrid2);
    devFuncColumns->setAlignment(devFuncGrid, Qt::AlignTop);
    devFuncColumns->setAlignment(devFuncGrid2, Qt::AlignTop);
    row(devFuncGrid, check(IDC_CHECK_MP_AUTO, ""), combo(IDC_COMBO_AUTO_DEV_NUM));
    hidden(check(IDC_CHECK_UPDATE_CONFIG, ""));
    row(devFuncGrid, check(IDC_CHECK_UPDATE_FW, ""), nullptr);
    hidden(check(IDC_CHECK_EXT_UPDATE_FW, ""));
    row(devFuncGrid, check(IDC_CHECK_RELOAD_FW, ""), nullptr);
    row(devFuncGrid, check(IDC_CHECK_CONFIG_CHECK, "Config Check"), nullptr);
    row(devFuncGrid, check(IDC_CHECK_USB_STATUS, ""), combo(IDC_COMBO_USB_STATUS));
    row(devFuncGrid, check(IDC_CHECK_PARTITION_FORMAT, ""), nullptr);
    row(devFuncGrid, label("Partition Type", IDC_STATIC_PARTITION_TYPE), combo(IDC_COMBO_PARTITION_TYPE));
    row(devFuncGrid, label("", IDC_STATIC_FORMAT_TYPE), combo(IDC_COMBO_FORMAT_TYPE));
    row(devFuncGrid, label("", IDC_STATIC_DRIVE_LABEL), edit(IDC_EDIT_DRIVE_LABEL));
    row(devFuncGrid2, check(IDC_CHECK_WR_TEST, ""), nullptr);
    row(devFuncGrid2, check(IDC_CHECK_SPEED_TEST, "Speed Test"), nullptr);
    row(devFuncGrid2, label("Read", IDC_STATIC_READ), edit(IDC_EDIT_READ_SPEED));
    row(devFuncGrid2, label("Write", IDC_STATIC_WRITE), edit(IDC_EDIT_WRITE_SPEED));
    row(devFuncGrid2, check(IDC_CHECK_PRELOAD, "Preload Files"), nullptr);
    row(devFuncGrid2, check(IDC_CHECK_AUTO_SAFE_REMOVE, "Auto Safe Remove After"), edit(IDC_EDIT_SECONDS));
    row(devFuncGrid2, label("Seconds", IDC_STATIC_SECONDS), nullptr);

    // ---- middle: title, run buttons, results, counters, progress ----
    m_StaticTitle = new CColorStaticST(this);
    add(IDC_STATIC_TITLE, m_StaticTitle);

    auto* tools = new QHBoxLayout;
    for (auto [id, caption] : {std::pair{IDC_BUTTON_LOADINI, g_GUIText.m_strBtnLoadINI},
                               std::pair{IDC_BUTTON_SAVEINI, g_GUIText.m_strBtnSaveINI},
                               std::pair{IDC_BUTTON_UNLOCK_VIVADE, g_GUIText.m_strBtnUnlock},
                               std::pair{IDC_BUTTON_DEBUG, std::string("Check_Config")},
                               std::pair{IDC_BUTTON_SHA256, std::string("SHA256 Key")}})
        tools->addWidget(button(id, caption));
    // The "pd" button is made without a visible style: the lock enables it
    // with the external update, but nothing shows it, so the PD/MCU update
    // dialog is not an operator's step in either program.
    tools->addWidget(hidden(button(IDC_BUTTON_PD, "PD Key")));
    tools->addStretch(1);
    tools->addWidget(button(IDC_BUTTON_MIN, "Min"));
    tools->addWidget(button(IDOK, "Exit"));

    m_ListMainResult = new CListCtrlEx(this);
    add(IDC_LIST_MAIN_RESULT, m_ListMainResult);
    // Tall enough for every port's row, the headings (about a row high) and
    // a scroll bar for the empty columns at the end.
    constexpr int kHeadingSlack = 6;
    m_ListMainResult->setMinimumHeight(m_ListMainResult->verticalHeader()->defaultSectionSize() * (MAX_DEV_SLOTS + 1) +
                                       kHeadingSlack + m_ListMainResult->horizontalScrollBar()->sizeHint().height() +
                                       2 * m_ListMainResult->frameWidth());

    auto* run = new QHBoxLayout;
    run->addWidget(button(IDC_BUTTON_START, "Start"));
    run->addWidget(button(IDC_BUTTON_SAFELY_REMOVE, "Safely Remove"));
    run->addWidget(button(IDC_BUTTON_CLEARCOUNT, "Clear Count"));
    auto* pass = label("PASS", IDC_PICTURE_PASS);
    pass->setStyleSheet("QLabel { color: white; background: rgb(0,200,0); font: bold 20px; padding: 2px 12px; }");
    auto* fail = label("FAIL", IDC_PICTURE_FAIL);
    fail->setStyleSheet("QLabel { color: white; background: rgb(255,0,0); font: bold 20px; padding: 2px 12px; }");
    run->addWidget(pass);
    run->addWidget(fail);
    run->addStretch(1);

    auto* counts = new QHBoxLayout;
    for (auto [id, caption] : {std::pair{IDC_EDIT_PASS_COUNT, g_GUIText.m_strCountPass},
                               std::pair{IDC_EDIT_FAIL_COUNT, g_GUIText.m_strCountFail},
                               std::pair{IDC_EDIT_TOTAL_COUNT, g_GUIText.m_strCountTotal},
                               std::pair{IDC_EDIT_PROGRESS, g_GUIText.m_strProgress}}) {
        counts->addWidget(label(caption));
        counts->addWidget(edit(id));
    }

    m_ProgressRun = new CTextProgressCtrl(this);
    add(IDC_PROGRESS_RUN, m_ProgressRun);
    m_ProgressRun->setMinimumHeight(22);
    // The bar's position runs round while a run is alive; its text is the
    // run's progress figure (vShowRunProgress), never that position.
    m_ProgressRun->SetShowPercent(false);
    auto* runBar = new QHBoxLayout;
    runBar->addWidget(label(g_GUIText.m_strProgressBar));
    runBar->addWidget(m_ProgressRun, 1);

    m_ProgressScan = new CTextProgressCtrl(this);
    add(IDC_PROGRESS_SCAN, m_ProgressScan);
    m_ProgressScan->setMinimumHeight(14);
    auto* scanBar = new QHBoxLayout;
    scanBar->addWidget(label("USB Searching", IDC_STATIC_USB_SEARCHING));
    scanBar->addWidget(m_ProgressScan, 1);

    auto* warning = new CColorStaticST(this);
    warning->SetTextColor(krv::ui::rgb(255, 0, 0));
    warning->setText("Warning message");
    add(IDC_STATIC_WARNING, warning);

    auto* bench = new QHBoxLayout;
    for (auto [id, caption] :
         {std::pair{IDC_BUTTON_MORE_CONFIG, "More Config"}, std::pair{IDC_BUTTON_U4_MORE_CONFIG, "U4 More Config"},
          std::pair{IDC_BUTTON_BTN1, "Btn 1"}, std::pair{IDC_BUTTON_BTN2, "Btn2"}, std::pair{IDC_BUTTON_BTN3, "Btn3"},
          std::pair{IDC_BUTTON_BTN4, "Btn4"}, std::pair{IDC_BUTTON_RST, "RST"}, std::pair{IDC_BUTTON_TEST, "test"},
          std::pair{IDC_BUTTON_PD_TEST, "PD"}, std::pair{IDC_BUTTON_U4_DATA, "U4 Data"},
          std::pair{IDC_BUTTON_PC, "PC"}})
        bench->addWidget(button(id, caption));
    bench->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(m_StaticTitle);
    top->addLayout(tools, 1);

    auto* status = new QVBoxLayout;
    status->addLayout(counts);
    status->addLayout(runBar);
    status->addLayout(scanBar);
    auto* runRow = new QHBoxLayout;
    runRow->addLayout(run);
    runRow->addLayout(status, 1);

    // ---- right: USB4 identity, TBT3, the pickers ----
    auto* u4 = group(IDC_GROUP_U4_CONFIG, g_GUIText.m_strU4Group);
    auto* u4Grid = new QGridLayout(u4);
    row(u4Grid, label(g_GUIText.m_strU4VendorName), edit(IDC_EDIT_U4_VENDOR_NAME));
    row(u4Grid, label(g_GUIText.m_strU4ModelName), edit(IDC_EDIT_U4_MODEL_NAME));
    row(u4Grid, label(g_GUIText.m_strU4ComponentID, IDC_STATIC_U4_COMPONENT_ID), edit(IDC_EDIT_U4_COMPONENT_ID));
    row(u4Grid, combo(IDC_COMBO_U4_COMPONENT_ID_TYPE), nullptr);
    row(u4Grid, label(g_GUIText.m_strU4VendorID), edit(IDC_EDIT_U4_VENDOR_ID));
    row(u4Grid, label(g_GUIText.m_strU4ProductID), edit(IDC_EDIT_U4_PRODUCT_ID));
    row(u4Grid, label(g_GUIText.m_strU4TestID), edit(IDC_EDIT_U4_TEST_ID));
    row(u4Grid, label(g_GUIText.m_strU4BcdProductFW), edit(IDC_EDIT_U4_BCD_PRODUCT_FW));
    row(u4Grid, label(g_GUIText.m_strU4ProductHW), edit(IDC_EDIT_U4_PRODUCT_HW));
    row(u4Grid, label(g_GUIText.m_strU4MinFW, IDC_STATIC_U4_MIN_FW), edit(IDC_EDIT_U4_MIN_FW));
    row(u4Grid, label(g_GUIText.m_strU4Mode), combo(IDC_COMBO_U4_MODE));
    row(u4Grid, label(g_GUIText.m_strU4PCIVID, IDC_STATIC_PCI_VID), edit(IDC_EDIT_PCI_VID));
    row(u4Grid, label(g_GUIText.m_strU4PCIDID, IDC_STATIC_PCI_DID), edit(IDC_EDIT_PCI_DID));

    auto* tbt3 = group(IDC_GROUP_TBT3, g_GUIText.m_strU4TBT3);
    auto* tbt3Grid = new QGridLayout(tbt3);
    row(tbt3Grid, label(g_GUIText.m_strU4TBT3VendorID), edit(IDC_EDIT_TBT3_VENDOR_ID));
    row(tbt3Grid, label(g_GUIText.m_strU4TBT3ModelID), edit(IDC_EDIT_TBT3_MODEL_ID));
    row(tbt3Grid, label(g_GUIText.m_strU4TBT3ModelRev), edit(IDC_EDIT_TBT3_MODEL_REV));

    auto* fw = group(IDC_GROUP_FW_BROWSER, "FW Browser");
    auto* fwRow = new QHBoxLayout(fw);
    fwRow->addWidget(combo(IDC_COMBO_FW_PATH, true), 1);
    fwRow->addWidget(button(IDC_BUTTON_FW_BROWSE, "..."));

    auto* preload = group(IDC_GROUP_PRELOAD_BROWSER, "Preload Browser");
    auto* preloadRow = new QHBoxLayout(preload);
    preloadRow->addWidget(combo(IDC_COMBO_PRELOAD_PATH, true), 1);
    preloadRow->addWidget(button(IDC_BUTTON_PRELOAD_BROWSE, "..."));

    auto* pickers = new QVBoxLayout;
    pickers->addWidget(tbt3);
    pickers->addWidget(fw);
    pickers->addWidget(preload);
    pickers->addStretch(1);

    const krv::ui::DialogUnits units(font());
    for (auto [identity, widthUnits] : {std::pair{devCfg, kFieldWidthUnits}, std::pair{u4, kFieldWidthUnits},
                                        std::pair{tbt3, kShortFieldWidthUnits}})
        for (QWidget* field : identity->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (qobject_cast<QLineEdit*>(field) || qobject_cast<QComboBox*>(field))
                field->setMinimumWidth(units.toPixelsX(widthUnits));

    auto* settings = new QWidget;
    auto* settingsRow = new QHBoxLayout(settings);
    settingsRow->setContentsMargins(0, 0, 0, 0);
    for (QWidget* g : {static_cast<QWidget*>(devCfg), static_cast<QWidget*>(devFunc), static_cast<QWidget*>(u4)}) {
        auto* column = new QVBoxLayout;
        column->addWidget(g);
        column->addStretch(1);
        settingsRow->addLayout(column, 1);
    }
    settingsRow->addLayout(pickers, 1);
    auto* settingsBand = new QScrollArea(this);
    settingsBand->setWidgetResizable(true);
    settingsBand->setFrameShape(QFrame::NoFrame);
    settingsBand->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    settingsBand->setWidget(settings);
    settingsBand->setFixedHeight(kSettingsBandHeight);

    auto* root = new QVBoxLayout(this);
    root->addLayout(top);
    root->addWidget(m_ListMainResult, 1);
    root->addLayout(runRow);
    root->addWidget(warning);
    root->addLayout(bench);
    root->addWidget(settingsBand);
    root->addWidget(label(VIVADE_TITLE_TEXT, IDC_STATIC_VERSION));
}
