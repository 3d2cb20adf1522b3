#pragma once
// The device information dialog: the option and standby bytes of a drive's
// USB-3 configuration image decoded into one status row, the bridge's UASP
// state and its USB mode.
#include <cstdint>
#include <string>

#include "app/ToolDlgProfile.h"
#include "ui/Dialog.h"

class DevList;

enum : int {
    IDC_DEVINFO_LIST = 1090,
    IDC_DEVINFO_UASP = 1092,
    IDC_DEVINFO_USB_MODE = 1185,
};

class CDeviceInfoDlg : public krv::ui::Dialog {
    Q_OBJECT
public:
    explicit CDeviceInfoDlg(DevList& devList, QWidget* parent = nullptr);

    bool OnInitDialog();
    void vReadConfigTable();
    void strGetStandbyTimerText();
    void vSetConfigSettingHeader();
    void SetDeviceConfigStatic();
    void vSet857xUSBMode();

    // "X" for a set bit (the feature is off), "O" for a clear one.
    static std::string strFlagText(uint8_t ucOption, int nBit);
    static std::string strStandbyText(uint8_t ucStandby);

    // How this program's dialog differs (the production tool's: none).
    ToolDlgProfile m_Profile;
    int m_iSelectedPort = 0;
    int m_iSelectedImage = 0;
    uint8_t m_ucOption = 0;
    uint8_t m_ucStandby = 0;
    std::string m_strFlags[8];
    std::string m_strStandby;

private:
    void vShowError(const std::string& strText);
    DevList& m_DevList;
};
