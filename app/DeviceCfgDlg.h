#pragma once
// The older device-configuration dialog: check boxes for the bridge's
// option flags. Only Customized String and HDD SlowEnumeration are ever
// shown; each box writes its flag the moment it is clicked, and checking
// HDD SlowEnumeration empties the main window's serial number and its
// setting at once.
#include <cstdint>

#include "ui/Dialog.h"

class CVIVadeDlg;
class QAbstractButton;

// Control ids of the dialog.
enum : int {
    IDC_DEVCFG_CUSTOMIZED_STRING = 1059,
    IDC_DEVCFG_EUP = 1060,
    IDC_DEVCFG_TWO_LEDS = 1061,
    IDC_DEVCFG_HDD_STANDBY = 1066,
    IDC_DEVCFG_U1U2 = 1062,
    IDC_DEVCFG_LOW_POWER = 1064,
    IDC_DEVCFG_2TB = 1065,
    IDC_DEVCFG_SLOW_ENUMERATION = 1074,
    IDC_DEVCFG_WIN8_WTG = 1075,
    IDC_DEVCFG_HDPC = 1101,
    IDC_DEVCFG_QD32 = 1102,
    IDC_DEVCFG_IMAGE0 = 1056,
    IDC_DEVCFG_IMAGE1 = 1067,
    IDC_DEVCFG_CRC32 = 1063,
    IDC_DEVCFG_GROUP_FLAGS = 1098,
    IDC_DEVCFG_GROUP_DUAL_IMAGE = 1070,
};

class CDeviceCfgDlg : public krv::ui::Dialog {
    Q_OBJECT
public:
    // The main window whose serial number and "Update F/W" box it uses.
    explicit CDeviceCfgDlg(CVIVadeDlg& mainDlg, QWidget* parent = nullptr);

    bool OnInitDialog();
    // A box's click: its flag := checked (and the slow-enumeration action).
    void OnBnClickedCheck(int id);
    void OnBnClickedCheckDeviceConfigurationSlowEnumeration();

    uint8_t ucCustomizedString = 0;
    uint8_t m_bEupEnableMode = 0;
    uint8_t m_bTwoLEDSMode = 0;
    uint8_t m_bHDDStandby = 0;
    uint8_t m_bU1U2Mode = 0;
    uint8_t m_bLowPowerMode = 0;
    uint8_t m_b2TB = 0;
    uint8_t m_bSlowEnumeration = 0;
    uint8_t m_bWin8WTG = 0;
    uint8_t m_bHDPC = 0;
    uint8_t m_bQD32 = 0;
    uint8_t m_bImage0 = 0;
    uint8_t m_bImage1 = 0;
    uint8_t m_moreConfigDlg = 0;  // the CRC32 box

protected:
    void onCommand(int id) override;

private:
    CVIVadeDlg& m_MainDlg;
};
