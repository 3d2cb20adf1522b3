#include "app/DeviceCfgDlg.h"

#include <QGridLayout>
#include <QGroupBox>

#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "controls/ButtonST.h"
#include "controls/ButtonSTLooks.h"
#include "device/DebugLog.h"
#include "platform/LastError.h"

namespace {

constexpr int IDOK_DEVCFG = 1;
constexpr int IDCANCEL_DEVCFG = 2;

int nLastError() { return static_cast<int>(krv::lastError()); }

// Every button of the dialog, the check boxes among them, is made here.
QAbstractButton* pNewButton(const char* pszCaption, bool bCheckBox, QWidget* parent)
{
    if (bCheckBox)
        return new CButtonST(pszCaption, parent, CButtonST::BS_AUTOCHECKBOX);
    auto* button = new CButtonST(pszCaption, parent);
    button->setAutoDefault(false);
    return button;
}

// The boxes in the order of their flags: id, flag, caption, tooltip (none
// for the image and CRC32 boxes), handler and flag names for the trace.
struct BoxEntry {
    int id;
    uint8_t CDeviceCfgDlg::*pFlag;
    const char* pszCaption;
    const char* pszTooltip;
    const char* pszHandler;
    const char* pszFlag;
};
using D = CDeviceCfgDlg;
constexpr BoxEntry kBoxes[] = {
    {IDC_DEVCFG_CUSTOMIZED_STRING, &D::ucCustomizedString, "Customized String", "CS",
     "CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationCustomizedString", "ucCustomizedString"},
    {IDC_DEVCFG_EUP, &D::m_bEupEnableMode, "Eup Enabled", "EE",
     "CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationEupEnable", "m_bEupEnableMode"},
    {IDC_DEVCFG_TWO_LEDS, &D::m_bTwoLEDSMode, "Two LEDS", "TL", "CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationTwoLEDS",
     "m_bTwoLEDSMode"},
    {IDC_DEVCFG_HDD_STANDBY, &D::m_bHDDStandby, "HDD Standby", "HS",
     "CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationHDDStandby", "m_bHDDStandby"},
    {IDC_DEVCFG_U1U2, &D::m_bU1U2Mode, "WHCK", "U1U2", "CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationU1U2",
     "m_bU1U2Mode"},
    {IDC_DEVCFG_LOW_POWER, &D::m_bLowPowerMode, "Low Power Mode", "LP",
     "CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationLowerPowerMode", "m_bLowPowerMode"},
    {IDC_DEVCFG_2TB, &D::m_b2TB, "2TB", "2TB", "CDeviceCfgDlg::OnBnClickedCheckDeviceConfiguration2TB", "m_b2TB"},
    {IDC_DEVCFG_SLOW_ENUMERATION, &D::m_bSlowEnumeration, "HDD SlowEnumeration", "SE",
     "CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationSlowEnumeration", "m_bSlowEnumeration"},
    {IDC_DEVCFG_WIN8_WTG, &D::m_bWin8WTG, "Win8 WTG", "WTG", "CDeviceCfgDlg::OnBnClickedWindowsToGo", "m_bWin8WTG"},
    {IDC_DEVCFG_HDPC, &D::m_bHDPC, "HDD Power Control", "HDPC", "CDeviceCfgDlg::OnBnClickedHddPowerControl", "m_bHDPC"},
    {IDC_DEVCFG_QD32, &D::m_bQD32, "QD32", "QD32", "CDeviceCfgDlg::OnBnClickedQd32", "m_bQD32"},
    {IDC_DEVCFG_IMAGE0, &D::m_bImage0, "Image 0", nullptr, "CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationImage0",
     "m_bImage0"},
    {IDC_DEVCFG_IMAGE1, &D::m_bImage1, "Image 1", nullptr, "CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationImage1",
     "m_bImage1"},
    {IDC_DEVCFG_CRC32, &D::m_moreConfigDlg, "Generate CRC32", nullptr,
     "CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationCRC32", "m_moreConfigDlg"},
};

const BoxEntry* pFindBox(int id)
{
    for (const BoxEntry& e : kBoxes)
        if (e.id == id)
            return &e;
    return nullptr;
}

}  // namespace

CDeviceCfgDlg::CDeviceCfgDlg(CVIVadeDlg& mainDlg, QWidget* parent) : krv::ui::Dialog(parent), m_MainDlg(mainDlg)
{
    setObjectName("CDeviceCfgDlg");
    auto* grid = new QGridLayout(this);
    auto* flags = new QGroupBox("Specified Flag", this);
    auto* flagsGrid = new QGridLayout(flags);
    auto* dual = new QGroupBox("Dual Image", this);
    auto* dualRow = new QHBoxLayout(dual);
    addControl(IDC_DEVCFG_GROUP_FLAGS, flags);
    addControl(IDC_DEVCFG_GROUP_DUAL_IMAGE, dual);
    int nBox = 0;
    for (const BoxEntry& e : kBoxes) {
        QAbstractButton* box = pNewButton(e.pszCaption, true, this);
        addControl(e.id, box);
        if (e.id == IDC_DEVCFG_IMAGE0 || e.id == IDC_DEVCFG_IMAGE1) {
            dualRow->addWidget(box);
        } else {
            flagsGrid->addWidget(box, nBox, 0);
            ++nBox;
        }
    }
    grid->addWidget(flags, 0, 0, 1, 2);
    grid->addWidget(dual, 1, 0, 1, 2);
    QAbstractButton* ok = pNewButton("OK", false, this);
    QAbstractButton* cancel = pNewButton("Cancel", false, this);
    addControl(IDOK_DEVCFG, ok);
    addControl(IDCANCEL_DEVCFG, cancel);
    grid->addWidget(ok, 2, 0);
    grid->addWidget(cancel, 2, 1);
}

bool CDeviceCfgDlg::OnInitDialog()
{
    QFont font("Arial");
    font.setPixelSize(16);
    font.setBold(true);
    for (const BoxEntry& e : kBoxes) {
        pSetButtonLook(control(e.id), {e.id, 175, 176, e.pszTooltip}, kLookTransparent);
        control(e.id)->setFont(font);
    }
    vSetButtonLooks(*this,
                    {{IDOK_DEVCFG, 186, CButtonST::SecondIconGrey, "OK"},
                     {IDCANCEL_DEVCFG, 185, CButtonST::SecondIconGrey, "Cancel"}},
                    kLookFlat);
    for (int id : std::initializer_list<int>{IDOK_DEVCFG, IDCANCEL_DEVCFG, IDC_DEVCFG_GROUP_FLAGS, IDC_DEVCFG_GROUP_DUAL_IMAGE})
        control(id)->setFont(font);

    using krv::ui::check::kChecked;
    using krv::ui::check::kUnchecked;
    setCheck(IDC_DEVCFG_CUSTOMIZED_STRING, ucCustomizedString == 1 ? kChecked : kUnchecked);
    for (int id : {IDC_DEVCFG_EUP, IDC_DEVCFG_TWO_LEDS, IDC_DEVCFG_HDD_STANDBY, IDC_DEVCFG_U1U2, IDC_DEVCFG_LOW_POWER,
                   IDC_DEVCFG_2TB, IDC_DEVCFG_IMAGE0, IDC_DEVCFG_IMAGE1, IDC_DEVCFG_CRC32, IDC_DEVCFG_WIN8_WTG,
                   IDC_DEVCFG_HDPC, IDC_DEVCFG_QD32}) {
        showControl(id, false);
        setCheck(id, id == IDC_DEVCFG_IMAGE0 ? kChecked : kUnchecked);
    }
    showControl(IDC_DEVCFG_GROUP_DUAL_IMAGE, false);
    setCheck(IDC_DEVCFG_SLOW_ENUMERATION, m_bSlowEnumeration == 1 ? kChecked : kUnchecked);

    // Editable only while the main window updates the firmware.
    const bool bUpdateFW = m_MainDlg.checkState(IDC_CHECK_UPDATE_FW) == kChecked;
    for (const BoxEntry& e : kBoxes)
        if (e.id != IDC_DEVCFG_QD32)
            enableControl(e.id, bUpdateFW);
    return true;
}

void CDeviceCfgDlg::OnBnClickedCheck(int id)
{
    const BoxEntry* pBox = pFindBox(id);
    if (!pBox)
        return;
    try {
        this->*pBox->pFlag = checkState(id) == krv::ui::check::kChecked ? 1 : 0;
        if (id == IDC_DEVCFG_SLOW_ENUMERATION)
            OnBnClickedCheckDeviceConfigurationSlowEnumeration();
    } catch (...) {
        vDEBUG_MSG_printf("%s:%d: %s : %d , dwErrorCode %d", pBox->pszHandler, __LINE__, pBox->pszFlag,
                          this->*pBox->pFlag, nLastError());
    }
}

void CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationSlowEnumeration()
{
    // A slow-enumerating drive takes no serial number from the window: the
    // number goes at once, and unchecking does not bring it back.
    if (m_bSlowEnumeration == 1) {
        m_MainDlg.m_strEditDeviceConfigurationSerialNumber.clear();
        m_MainDlg.setControlText(IDC_EDIT_SERIAL_NUMBER, "");
        m_MainDlg.enableControl(IDC_EDIT_SERIAL_NUMBER, false);
        pIni.m_pINI.serial_number.clear();
    } else {
        m_MainDlg.enableControl(IDC_EDIT_SERIAL_NUMBER, true);
    }
}

void CDeviceCfgDlg::onCommand(int id)
{
    switch (id) {
    case IDOK_DEVCFG: accept(); return;
    case IDCANCEL_DEVCFG: reject(); return;
    default:
        if (pFindBox(id))
            OnBnClickedCheck(id);
        else
            krv::ui::Dialog::onCommand(id);
        return;
    }
}
