#pragma once
// The PCIe/USB option dialog: the bridge's USB option flags, the PCIe
// link-power and link choices and the dual-image choice. Its option block is
// the main window's working copy of sixteen settings (copied in at start-up
// and Load INI, back before Save INI); each control writes its member the
// moment it changes, so OK and Cancel leave the members alone and the opener
// decides what to keep.
#include <cstdint>
#include <span>

#include "ui/Dialog.h"

class DevList;
class QComboBox;
struct IniRecord;

// The option block, in the settings' mirror order. Check-box bytes hold 1
// or 0; combo bytes hold the picked item's index (255 once nothing is
// picked).
struct PCIE_USB_Config {
    uint8_t m_ucUSBRemovable = 0;
    uint8_t m_ucEup = 0;
    uint8_t m_ucTwoLEDs = 0;
    uint8_t m_ucWin8WTG = 0;
    uint8_t m_ucU1U2 = 0;
    uint8_t m_ucLowPowerMode = 0;
    uint8_t m_uc2TB = 0;
    uint8_t m_ucSlowEnumeration = 0;
    uint8_t m_ucLPIfIdle = 0;
    uint8_t m_ucLPIfU3 = 0;
    uint8_t m_ucASPM = 0;
    uint8_t m_ucPCIESPEED = 0;
    uint8_t m_ucPCIELane = 0;
    uint8_t m_ucImage0 = 0;
    uint8_t m_ucImage1 = 0;
    uint8_t m_ucCRC = 0;
};

// Between the settings and the block: the thirteen option bytes, and with
// bImages also Image_1, Image_2 and CRC32.
void vCopySettingsToOptionBlock(const IniRecord& ini, PCIE_USB_Config& block, bool bImages);
void vCopyOptionBlockToSettings(const PCIE_USB_Config& block, IniRecord& ini, bool bImages);

// Control ids of the dialog.
enum : int {
    IDC_PCIE_USB_REMOVABLE = 1118,
    IDC_PCIE_EUP = 1146,
    IDC_PCIE_TWO_LEDS = 1147,
    IDC_PCIE_WTG = 1148,
    IDC_PCIE_U1U2 = 1149,
    IDC_PCIE_LOW_POWER_MODE = 1150,
    IDC_PCIE_2TB = 1151,
    IDC_PCIE_SLOW_ENUMERATION = 1152,
    IDC_PCIE_COMBO_LP_IF_IDLE = 1057,
    IDC_PCIE_COMBO_LP_IF_U3 = 1072,
    IDC_PCIE_COMBO_ASPM = 1142,
    IDC_PCIE_COMBO_SPEED = 1143,
    IDC_PCIE_COMBO_LANE = 1144,
    IDC_PCIE_IMAGE_1 = 1056,
    IDC_PCIE_IMAGE_2 = 1058,
    IDC_PCIE_CRC32 = 1157,
    IDC_PCIE_BUTTON1 = 1158,
};

// The production tool's "LP if Idle" items, index = stored value.
std::span<const char* const> PCIEUSBConfigLPIfIdleItems();

class PCIEUSBConfigDlg : public krv::ui::Dialog, public PCIE_USB_Config {
    Q_OBJECT
public:
    // The device table Button1 reads (the main window's).
    explicit PCIEUSBConfigDlg(DevList& devList, QWidget* parent = nullptr);

    // The "LP if Idle" items the next opens list (the production tool's
    // unless set).
    void vSetLPIfIdleItems(std::span<const char* const> items) { m_LPIfIdleItems = items; }

    bool OnInitDialog();
    // A check box's click: its member := checked.
    void OnBnClickedCheck(int id);
    void OnCbnSelchangeComboLpifidle();
    void OnCbnSelchangeComboLpifu3();
    void OnCbnSelchangeComboPcieaspm();
    void OnCbnSelchangeComboForcepciespeed();
    void OnCbnSelchangeComboForcepcielane();
    // The hidden engineering button: the NVMe Identify of the first drive
    // to the debugger output.
    void OnBnClickedButton1();

protected:
    void onCommand(int id) override;

private:
    uint8_t* pCheckMember(int id);
    void vComboSelChange(int id, uint8_t& ucMember, const char* pszHandler, const char* pszMember);

    DevList& m_DevList;
    std::span<const char* const> m_LPIfIdleItems;
};
