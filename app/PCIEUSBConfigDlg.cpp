#include "app/PCIEUSBConfigDlg.h"

#include <cstdio>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "app/IniRecord.h"
#include "device/DebugLog.h"
#include "device/DevList.h"
#include "device/KRV752xNVME.h"
#include "device/KrvnUSBDevHandle.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

constexpr int IDOK_PCIE = 1;
constexpr int IDCANCEL_PCIE = 2;

int nLastError() { return static_cast<int>(krv::lastError()); }

// Every push button of the dialog is made here.
QPushButton* pNewPushButton(const char* pszCaption, QWidget* parent)
{
    auto* button = new QPushButton(QString::fromUtf8(pszCaption), parent);
    button->setAutoDefault(false);
    return button;
}

// The settings field each block byte mirrors; the last three only where
// the block carries the image choice.
struct MirrorEntry {
    uint8_t PCIE_USB_Config::*pBlock;
    uint8_t IniRecord::*pIni;
};
constexpr MirrorEntry kMirror[] = {
    {&PCIE_USB_Config::m_ucUSBRemovable, &IniRecord::USBRemovable_enable},
    {&PCIE_USB_Config::m_ucEup, &IniRecord::eup_enable},
    {&PCIE_USB_Config::m_ucTwoLEDs, &IniRecord::two_leds_enable},
    {&PCIE_USB_Config::m_ucWin8WTG, &IniRecord::WTG_enable},
    {&PCIE_USB_Config::m_ucU1U2, &IniRecord::U1U2_enable},
    {&PCIE_USB_Config::m_ucLowPowerMode, &IniRecord::low_power_mode_enable},
    {&PCIE_USB_Config::m_uc2TB, &IniRecord::_2TB_enable},
    {&PCIE_USB_Config::m_ucSlowEnumeration, &IniRecord::slow_enumeration_enable},
    {&PCIE_USB_Config::m_ucLPIfIdle, &IniRecord::LPIfIdle},
    {&PCIE_USB_Config::m_ucLPIfU3, &IniRecord::LPIfU3},
    {&PCIE_USB_Config::m_ucASPM, &IniRecord::PCIEASPM},
    {&PCIE_USB_Config::m_ucPCIESPEED, &IniRecord::PCIESpeed},
    {&PCIE_USB_Config::m_ucPCIELane, &IniRecord::PCIELane},
    {&PCIE_USB_Config::m_ucImage0, &IniRecord::image0},
    {&PCIE_USB_Config::m_ucImage1, &IniRecord::image1},
    {&PCIE_USB_Config::m_ucCRC, &IniRecord::crc32},
};
constexpr size_t kMirrorOptionBytes = 13;

std::span<const MirrorEntry> mirror(bool bImages)
{
    return std::span(kMirror).first(bImages ? std::size(kMirror) : kMirrorOptionBytes);
}

// The check boxes: id, member, caption, in the order the open sets them.
struct CheckEntry {
    int id;
    uint8_t PCIE_USB_Config::*pMember;
    const char* pszCaption;
};
constexpr CheckEntry kChecks[] = {
    {IDC_PCIE_USB_REMOVABLE, &PCIE_USB_Config::m_ucUSBRemovable, "USB removable"},
    {IDC_PCIE_EUP, &PCIE_USB_Config::m_ucEup, "Eup"},
    {IDC_PCIE_TWO_LEDS, &PCIE_USB_Config::m_ucTwoLEDs, "Two LEDS"},
    {IDC_PCIE_WTG, &PCIE_USB_Config::m_ucWin8WTG, "WTG"},
    {IDC_PCIE_U1U2, &PCIE_USB_Config::m_ucU1U2, "U1/U2"},
    {IDC_PCIE_LOW_POWER_MODE, &PCIE_USB_Config::m_ucLowPowerMode, "Low Power Mode"},
    {IDC_PCIE_2TB, &PCIE_USB_Config::m_uc2TB, "2TB"},
    {IDC_PCIE_SLOW_ENUMERATION, &PCIE_USB_Config::m_ucSlowEnumeration, "Slow Enumeration"},
    {IDC_PCIE_IMAGE_1, &PCIE_USB_Config::m_ucImage0, "Image_1"},
    {IDC_PCIE_IMAGE_2, &PCIE_USB_Config::m_ucImage1, "Image_2"},
    {IDC_PCIE_CRC32, &PCIE_USB_Config::m_ucCRC, "Generate CRC32"},
};
constexpr size_t kConfigTableChecks = 8;

constexpr const char* kLPIfIdleItems[] = {"Reserved", "L3 + D3 cold", "L2/L3 Ready + D3 hot", "L1 + D3 hot"};
constexpr const char* kLPIfU3Items[] = {"Disable the feature", "L3 + D3 cold", "L2/L3 Ready + D3 hot", "L1 + D3 hot"};
constexpr const char* kASPMItems[] = {"ASPM L0s and ASPM L1", "ASPM L1", "ASPM L0s", "Disable the feature"};
constexpr const char* kSpeedItems[] = {"PCIE Gen 1", "PCIE Gen 2", "PCIE Gen 3", "Auto"};
constexpr const char* kLaneItems[] = {"PCIE x1", "PCIE x2", "PCIE x4", "Auto"};

// The combos: id, label, member, in the order the open selects them.
struct ComboEntry {
    int id;
    const char* pszLabel;
    uint8_t PCIE_USB_Config::*pMember;
};
constexpr ComboEntry kCombos[] = {
    {IDC_PCIE_COMBO_LP_IF_IDLE, "LP if Idle", &PCIE_USB_Config::m_ucLPIfIdle},
    {IDC_PCIE_COMBO_LP_IF_U3, "LP if U3", &PCIE_USB_Config::m_ucLPIfU3},
    {IDC_PCIE_COMBO_ASPM, "PCIE ASPM", &PCIE_USB_Config::m_ucASPM},
    {IDC_PCIE_COMBO_SPEED, "Force PCIE Speed", &PCIE_USB_Config::m_ucPCIESPEED},
    {IDC_PCIE_COMBO_LANE, "Force PCIE Lane", &PCIE_USB_Config::m_ucPCIELane},
};

void vSetItems(QComboBox* combo, std::span<const char* const> items)
{
    combo->clear();
    for (const char* pszItem : items)
        combo->addItem(QString::fromUtf8(pszItem));
}

// The debugger output, one call per text; like any C string a text ends at
// its first zero byte.
void vDebuggerText(const std::string& strText)
{
    if (krv::Platform* platform = krv::Platform::currentOrNull())
        platform->debugOutput().write(strText.c_str());
}

// "name[" + each byte as "%c " + "]\n".
std::string strCharField(const char* pszName, const uint8_t* pFirst, size_t nCount)
{
    std::string strText = std::string(pszName) + "[";
    for (size_t i = 0; i < nCount; ++i) {
        strText += static_cast<char>(pFirst[i]);
        strText += ' ';
    }
    return strText + "]\n";
}

std::string strHex(unsigned uValue)
{
    char szHex[16];
    std::snprintf(szHex, sizeof szHex, "%x", uValue);
    return szHex;
}

}  // namespace

void vCopySettingsToOptionBlock(const IniRecord& ini, PCIE_USB_Config& block, bool bImages)
{
    for (const MirrorEntry& e : mirror(bImages))
        block.*e.pBlock = ini.*e.pIni;
}

void vCopyOptionBlockToSettings(const PCIE_USB_Config& block, IniRecord& ini, bool bImages)
{
    for (const MirrorEntry& e : mirror(bImages))
        ini.*e.pIni = block.*e.pBlock;
}

std::span<const char* const> PCIEUSBConfigLPIfIdleItems() { return kLPIfIdleItems; }

PCIEUSBConfigDlg::PCIEUSBConfigDlg(DevList& devList, QWidget* parent)
    : krv::ui::Dialog(parent), m_DevList(devList), m_LPIfIdleItems(kLPIfIdleItems)
{
    setObjectName("PCIEUSBConfigDlg");
    setWindowTitle("PCIE_USB_Config");
    auto* grid = new QGridLayout(this);

    auto* table = new QGroupBox("Configuration Table", this);
    auto* tableGrid = new QGridLayout(table);
    auto* dual = new QGroupBox("Dual Image", this);
    auto* dualRow = new QHBoxLayout(dual);
    for (size_t i = 0; i < std::size(kChecks); ++i) {
        const CheckEntry& e = kChecks[i];
        auto* box = new QCheckBox(e.pszCaption, this);
        addControl(e.id, box);
        if (i < kConfigTableChecks)
            tableGrid->addWidget(box, static_cast<int>(i / 2), static_cast<int>(i % 2) * 2, 1, 2);
        else if (e.id != IDC_PCIE_CRC32)
            dualRow->addWidget(box);
        else
            grid->addWidget(box, 2, 0);
    }
    int nRow = tableGrid->rowCount();
    for (const ComboEntry& e : kCombos) {
        auto* combo = new QComboBox(this);
        addControl(e.id, combo);
        tableGrid->addWidget(new QLabel(e.pszLabel, table), nRow, 0);
        tableGrid->addWidget(combo, nRow++, 1, 1, 3);
    }
    grid->addWidget(table, 0, 0, 1, 3);
    grid->addWidget(dual, 1, 0, 1, 3);

    auto* button1 = pNewPushButton("Button1", this);
    addControl(IDC_PCIE_BUTTON1, button1);
    grid->addWidget(button1, 2, 0);
    // The template never shows these two.
    button1->hide();
    control(IDC_PCIE_CRC32)->hide();

    auto* ok = pNewPushButton("確定", this);
    auto* cancel = pNewPushButton("取消", this);
    ok->setDefault(true);
    addControl(IDOK_PCIE, ok);
    addControl(IDCANCEL_PCIE, cancel);
    grid->addWidget(ok, 3, 1);
    grid->addWidget(cancel, 3, 2);

    connect(control<QComboBox>(IDC_PCIE_COMBO_LP_IF_IDLE), &QComboBox::activated, this,
            &PCIEUSBConfigDlg::OnCbnSelchangeComboLpifidle);
    connect(control<QComboBox>(IDC_PCIE_COMBO_LP_IF_U3), &QComboBox::activated, this,
            &PCIEUSBConfigDlg::OnCbnSelchangeComboLpifu3);
    connect(control<QComboBox>(IDC_PCIE_COMBO_ASPM), &QComboBox::activated, this,
            &PCIEUSBConfigDlg::OnCbnSelchangeComboPcieaspm);
    connect(control<QComboBox>(IDC_PCIE_COMBO_SPEED), &QComboBox::activated, this,
            &PCIEUSBConfigDlg::OnCbnSelchangeComboForcepciespeed);
    connect(control<QComboBox>(IDC_PCIE_COMBO_LANE), &QComboBox::activated, this,
            &PCIEUSBConfigDlg::OnCbnSelchangeComboForcepcielane);
}

bool PCIEUSBConfigDlg::OnInitDialog()
{
    vSetItems(control<QComboBox>(IDC_PCIE_COMBO_LP_IF_IDLE), m_LPIfIdleItems);
    vSetItems(control<QComboBox>(IDC_PCIE_COMBO_LP_IF_U3), kLPIfU3Items);
    vSetItems(control<QComboBox>(IDC_PCIE_COMBO_ASPM), kASPMItems);
    vSetItems(control<QComboBox>(IDC_PCIE_COMBO_SPEED), kSpeedItems);
    vSetItems(control<QComboBox>(IDC_PCIE_COMBO_LANE), kLaneItems);
    for (const CheckEntry& e : kChecks)
        setCheck(e.id, this->*e.pMember == 1 ? krv::ui::check::kChecked : krv::ui::check::kUnchecked);
    // A value past the list selects nothing, as CB_SETCURSEL does.
    for (const ComboEntry& e : kCombos) {
        QComboBox* combo = control<QComboBox>(e.id);
        const int nIndex = this->*e.pMember;
        combo->setCurrentIndex(nIndex < combo->count() ? nIndex : -1);
    }
    return true;
}

uint8_t* PCIEUSBConfigDlg::pCheckMember(int id)
{
    for (const CheckEntry& e : kChecks)
        if (e.id == id)
            return &(this->*e.pMember);
    return nullptr;
}

void PCIEUSBConfigDlg::OnBnClickedCheck(int id)
{
    if (uint8_t* pMember = pCheckMember(id))
        *pMember = checkState(id) == krv::ui::check::kChecked ? 1 : 0;
}

void PCIEUSBConfigDlg::vComboSelChange(int id, uint8_t& ucMember, const char* pszHandler, const char* pszMember)
{
    try {
        // No selection (-1) is kept as its low byte, 255.
        ucMember = static_cast<uint8_t>(control<QComboBox>(id)->currentIndex());
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: %s: %s : %d , dwErrorCode %d", "PCIEUSBConfigDlg", __LINE__, pszHandler, pszMember,
                          ucMember, nLastError());
    }
}

void PCIEUSBConfigDlg::OnCbnSelchangeComboLpifidle()
{
    vComboSelChange(IDC_PCIE_COMBO_LP_IF_IDLE, m_ucLPIfIdle,
                    "OnCbnSelchangeComboLpifidle", "m_ucLPIfIdle");
}

void PCIEUSBConfigDlg::OnCbnSelchangeComboLpifu3()
{
    vComboSelChange(IDC_PCIE_COMBO_LP_IF_U3, m_ucLPIfU3,
                    "OnCbnSelchangeComboLpifu3", "m_ucLPIfU3");
}

void PCIEUSBConfigDlg::OnCbnSelchangeComboPcieaspm()
{
    // Its trace line has always named the LP-if-U3 handler.
    vComboSelChange(IDC_PCIE_COMBO_ASPM, m_ucASPM, "OnCbnSelchangeComboLpifu3", "m_ucASPM");
}

void PCIEUSBConfigDlg::OnCbnSelchangeComboForcepciespeed()
{
    vComboSelChange(IDC_PCIE_COMBO_SPEED, m_ucPCIESPEED,
                    "OnCbnSelchangeComboForcepciespeed", "m_ucPCIESPEED");
}

void PCIEUSBConfigDlg::OnCbnSelchangeComboForcepcielane()
{
    vComboSelChange(IDC_PCIE_COMBO_LANE, m_ucPCIELane,
                    "OnCbnSelchangeComboForcepcielane", "m_ucPCIELane");
}

void PCIEUSBConfigDlg::OnBnClickedButton1()
{
    if (m_DevList.DevNums.load() < 1)
        return;
    const int nDrive = m_DevList.Devs[0].m_ucPhysicalAddress;
    CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nDrive));
    if (!hDev.bIsValid()) {
        vDEBUG_MSG_printf("%s:%d: vCPURST: [%d] CreateFile Fail , dwErrorCode %d", "PCIEUSBConfigDlg::OnBnClickedButton1",
                          __LINE__, nDrive, nLastError());
        return;
    }
    std::vector<uint8_t> identify(NVME_IDENTIFY_SIZE);
    std::vector<uint8_t> data(NVME_IDENTIFY_SIZE, 0);
    if (CKRV752xNVME::NVME_GetIdentify(hDev.get(), identify.data(), NVME_CNS_CONTROLLER) == SCSI_RESULT_OK)
        data = identify;
    const uint8_t* p = data.data();
    vDebuggerText("vid[" + strHex(p[0] | p[1] << 8) + "]\nssvid[" + strHex(p[2] | p[3] << 8) + "]\n");
    vDebuggerText(strCharField("sn", p + 4, 20));
    vDebuggerText(strCharField("mn", p + 24, 40));
    vDebuggerText(strCharField("fr", p + 64, 8));
    vDebuggerText("rab[" + strHex(p[72]) + "]\n");
    vDebuggerText(strCharField("ieee", p + 73, 3));
}

void PCIEUSBConfigDlg::onCommand(int id)
{
    switch (id) {
    case IDOK_PCIE: accept(); return;
    case IDCANCEL_PCIE: reject(); return;
    case IDC_PCIE_BUTTON1: OnBnClickedButton1(); return;
    default:
        if (pCheckMember(id))
            OnBnClickedCheck(id);
        else
            krv::ui::Dialog::onCommand(id);
        return;
    }
}
