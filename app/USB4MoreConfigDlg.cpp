#include "app/USB4MoreConfigDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "device/DebugLog.h"

namespace {

constexpr int IDOK_U4MORE = 1;
constexpr int IDCANCEL_U4MORE = 2;

// Every push button of the dialog is made here.
QPushButton* pNewPushButton(const char* pszCaption, QWidget* parent)
{
    auto* button = new QPushButton(pszCaption, parent);
    button->setAutoDefault(false);
    return button;
}

// Both lists carry the sort style; their texts sort into index order, so
// an item's index is still its stored value.
void vSetSortedItems(QComboBox* combo, std::initializer_list<const char*> items)
{
    combo->clear();
    for (const char* pszItem : items)
        combo->addItem(pszItem);
    combo->model()->sort(0);
}

}  // namespace

USB4_MoreConfig::USB4_MoreConfig(QWidget* parent) : krv::ui::Dialog(parent)
{
    setObjectName("USB4_MoreConfig");
    setWindowTitle("USB4_More_Config");
    auto* grid = new QGridLayout(this);
    const std::pair<int, const char*> kBoxes[] = {{IDC_U4MORE_20G, "20G"},
                                                  {IDC_U4MORE_X2, "x2"},
                                                  {IDC_U4MORE_PO, "PO"},
                                                  {IDC_U4MORE_FALLBACK, "Fallback Legacy"}};
    for (auto [id, pszCaption] : kBoxes)
        addControl(id, new QCheckBox(pszCaption, this));
    auto* cl = new QComboBox(this);
    auto* fallback = new QComboBox(this);
    addControl(IDC_U4MORE_COMBO_CL, cl);
    addControl(IDC_U4MORE_COMBO_FALLBACK, fallback);
    addControl(IDC_U4MORE_FALLBACK_LABEL, new QLabel("Fallback Legacy", this));

    grid->addWidget(control(IDC_U4MORE_20G), 0, 0);
    grid->addWidget(control(IDC_U4MORE_X2), 0, 1);
    grid->addWidget(cl, 1, 0, 1, 2);
    grid->addWidget(control(IDC_U4MORE_PO), 2, 0);
    grid->addWidget(control(IDC_U4MORE_FALLBACK), 2, 1);
    grid->addWidget(control(IDC_U4MORE_FALLBACK_LABEL), 3, 0);
    grid->addWidget(fallback, 3, 1);
    // The template never shows the fallback box; the list stands for it.
    control(IDC_U4MORE_FALLBACK)->hide();

    auto* ok = pNewPushButton("OK", this);
    auto* cancel = pNewPushButton("Cancel", this);
    ok->setDefault(true);
    addControl(IDOK_U4MORE, ok);
    addControl(IDCANCEL_U4MORE, cancel);
    grid->addWidget(ok, 4, 0);
    grid->addWidget(cancel, 4, 1);

    connect(cl, &QComboBox::activated, this, &USB4_MoreConfig::OnCbnSelchangeComboCl);
    connect(fallback, &QComboBox::activated, this, &USB4_MoreConfig::OnCbnSelchangeComboUsb4MoreConfigFl);
}

void USB4_MoreConfig::vSetLinkOnly(bool bLinkOnly)
{
    m_bLinkOnly = bLinkOnly;
    for (int id : {IDC_U4MORE_PO, IDC_U4MORE_FALLBACK_LABEL, IDC_U4MORE_COMBO_FALLBACK})
        showControl(id, !bLinkOnly);
}

bool USB4_MoreConfig::OnInitDialog()
{
    setWindowTitle("USB4_More_Config");
    // The values as they stand: a box shows checked for any value but 0.
    setCheck(IDC_U4MORE_20G, m_uc20G);
    setCheck(IDC_U4MORE_X2, m_ucX2);
    auto* cl = control<QComboBox>(IDC_U4MORE_COMBO_CL);
    vSetSortedItems(cl, {"0:CL0s/CL1", "1:CL0s/CL1/CL2", "2:Reserved", "3:Disable"});
    cl->setCurrentIndex(m_iCLIndex >= 0 && m_iCLIndex < cl->count() ? m_iCLIndex : -1);
    if (m_bLinkOnly)
        return true;
    setCheck(IDC_U4MORE_PO, m_ucPO);
    setCheck(IDC_U4MORE_FALLBACK, m_ucFallbackLegacy);
    auto* fallback = control<QComboBox>(IDC_U4MORE_COMBO_FALLBACK);
    vSetSortedItems(fallback, {"Disable", "Enable"});
    // Always "Enable", whatever fallback legacy holds.
    m_iFallbackIndex = 1;
    fallback->setCurrentIndex(m_iFallbackIndex);
    return true;
}

void USB4_MoreConfig::OnBnClickedCheck(int id)
{
    const uint8_t ucChecked = checkState(id) == krv::ui::check::kChecked ? 1 : 0;
    switch (id) {
    case IDC_U4MORE_20G: m_uc20G = ucChecked; break;
    case IDC_U4MORE_X2: m_ucX2 = ucChecked; break;
    case IDC_U4MORE_PO: m_ucPO = ucChecked; break;
    case IDC_U4MORE_FALLBACK: m_ucFallbackLegacy = ucChecked; break;
    default: break;
    }
}

void USB4_MoreConfig::OnCbnSelchangeComboCl() { m_iCLIndex = control<QComboBox>(IDC_U4MORE_COMBO_CL)->currentIndex(); }

void USB4_MoreConfig::OnCbnSelchangeComboUsb4MoreConfigFl()
{
    const bool bEnable = control<QComboBox>(IDC_U4MORE_COMBO_FALLBACK)->currentIndex() != 0;
    m_ucFallbackLegacy = bEnable ? 1 : 0;
    vDEBUG_MSG_printf(bEnable ? "%s:%d: fall back legacy: enable" : "%s:%d: fall back legacy: disable",
                      "USB4_MoreConfig::OnCbnSelchangeComboUsb4MoreConfigFl", __LINE__);
}

void USB4_MoreConfig::onCommand(int id)
{
    switch (id) {
    case IDOK_U4MORE: accept(); return;
    case IDCANCEL_U4MORE: reject(); return;
    case IDC_U4MORE_20G:
    case IDC_U4MORE_X2:
    case IDC_U4MORE_PO:
    case IDC_U4MORE_FALLBACK: OnBnClickedCheck(id); return;
    default: krv::ui::Dialog::onCommand(id); return;
    }
}
