#include "app/ReloadAvailability.h"

#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"

std::string strReloadRefusal(const IniRecord& ini, int nUsbDevices, int nPcieTargets)
{
    static const char* const kWho = "CVIVadeDlg::bIsReloadAvailable";
    if (ini.fw_reload == 0)
        return {};
    if (ini.fw_enable == 0)
        return "Cannot reload without FW update";
    vDEBUG_MSG_printf("%s:%d: usb:%d, pcie:%d", kWho, __LINE__, nUsbDevices, nPcieTargets);
    const int32_t iMode = ini.USB4_U4Mode;
    if (nUsbDevices > 0 && nPcieTargets > 0)
        return "Cannot reload with USB & PCIE device in the same time";
    if (nUsbDevices > 0 && nPcieTargets == 0 && (iMode == 0 || iMode == 3))
        return "Cannot reload with USB4 setting:\r\n0:PD+PCIe or\r\n3:auto";
    if (nUsbDevices == 0 && nPcieTargets > 0 && (iMode == 1 || iMode == 2))
        return "Cannot reload with USB4 setting:\r\n1:PD+PCIe+Legacy or\r\n2:PD+U3+Legacy";
    return {};
}

bool CVIVadeDlg::bIsReloadAvailable(int nPcieTargets)
{
    static const char* const kWho = "CVIVadeDlg::bIsReloadAvailable";
    const int nUsbDevices = m_DevList.DevNums;
    const std::string strRefusal = strReloadRefusal(pIni.m_pINI, nUsbDevices, nPcieTargets);
    if (strRefusal.empty())
        return true;
    if (nUsbDevices > 0 && nPcieTargets > 0)
        vDEBUG_ERR_printf("%s:%d: %s,usb:%d,pcie:%d", kWho, __LINE__, strRefusal.c_str(), nUsbDevices, nPcieTargets);
    else
        vDEBUG_ERR_printf("%s:%d: %s", kWho, __LINE__, strRefusal.c_str());
    pUtility.nShowProgramMessage(strRefusal, MSG_TYPE_INFORMATION, 0, CUSBUtility::EMessageTarget::eMessageBox);
    return false;
}
