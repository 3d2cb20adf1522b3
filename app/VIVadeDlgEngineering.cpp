// Two engineering buttons for bench work: how many PCIe functions of the
// bridges the system lists, and an ITE PD controller update of the drive in
// slot 0. Both answer in a message box. Where the profile makes them idle
// they do nothing.
#include <cstdio>

#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"

void CVIVadeDlg::OnBnClickedButtonTest()
{
    if (m_pProfile->bPDAndTestButtonsIdle)
        return;
    char szText[64];
    std::snprintf(szText, sizeof szText, "pcie dev cnt:%d", nGet8574PcieCntByPnpUtil());
    pUtility.nShowMessage(szText, 0, 0);
}

void CVIVadeDlg::OnBnClickedButtonPdTest()
{
    static const char* const kWho = "CVIVadeDlg::OnBnClickedButtonPdTest";
    if (m_pProfile->bPDAndTestButtonsIdle)
        return;
    UpdateData(true);
    vDEBUG_MSG_printf("%s:%d: PD fw:%s", kWho, __LINE__, pIni.m_pINI.pd_binary_name.c_str());
    // The controller is flashed from the file the firmware box names.
    uint16_t wVersion = 0;
    const int32_t iResult = g_UsbDev.iITE_PD_FWUpdate(0, m_strComboBoxDeviceFirmwareFWBrowse, wVersion);
    char szText[64];
    if (iResult == 0)
        // The two bytes the controller reports after the update, in the
        // order it reports them.
        std::snprintf(szText, sizeof szText, "ITE PD FW pass:%02x%02x.%02x.%02x", 0, wVersion & 0xFF, wVersion >> 8, 0);
    else
        std::snprintf(szText, sizeof szText, "ITE PD FW Update fail:%d", iResult);
    pUtility.nShowMessage(szText, 0, 0);
}
