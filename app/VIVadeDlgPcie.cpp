// The PCIe half of the scan: the bridges that the USB4 or Thunderbolt link
// tunnels as PCIe are found by the PCIe side object and copied into the
// device table after the USB devices; PnPUtil's count of their functions
// tells the rescan timer when they changed.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

#include "app/CmdLineReport.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "platform/DeviceSetup.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

constexpr char PCIE_SUBSYSTEM_TEXT[] = "SUBSYS_85732C4B";

}  // namespace

uint16_t CVIVadeDlg::wPcieIdSetting(const std::string& strText)
{
    unsigned int value = 0;
    if (std::sscanf(strText.c_str(), "%X", &value) != 1)
        return 0;
    return static_cast<uint16_t>(value);
}

void CVIVadeDlg::vScanPcie(const CScanSettings& settings)
{
    static const char* const kWho = "CVIVadeDlg::ScanThreadFun";
    const uint16_t wVendorID = wPcieIdSetting(settings.strPcieVendorID);
    const uint16_t wDeviceID = wPcieIdSetting(settings.strPcieDeviceID);
    ScanForHardwareChanges();
    vDEBUG_MSG_printf("%s:%d: scan pcie pid:%s, vid:%s\n", kWho, __LINE__, settings.strPcieVendorID.c_str(),
                      settings.strPcieDeviceID.c_str());
    g_PcieCtrl.nScanPcieTargets(wVendorID, wDeviceID);
    vDEBUG_MSG_printf("%s:%d: scan pcie end", kWho, __LINE__);
    vUpdatePcieInfoToDevList();
}

void CVIVadeDlg::vUpdatePcieInfoToDevList()
{
    static const char* const kWho = "CVIVadeDlg::vUpdatePcieInfoToDevList";
    const int nTargets = g_PcieCtrl.ucTargetCount();
    // Records of targets an earlier scan copied and that have gone since.
    for (int slot = m_DevList.DevNums.load(); slot < MAX_DEV_SLOTS; ++slot)
        if (m_DevList.Devs[slot].m_bPCIE == 1)
            m_DevList.Devs[slot].vResetForScan();
    const bool bShowStatus = m_pProfile->bShowStatusTrace;
    if (bShowStatus)
        vDEBUG_MSG_printf("%s:%d: find pcie 8574 host:%d", kWho, __LINE__, nTargets);
    else if (nTargets > 0)
        vDEBUG_MSG_printf("%s:%d: find pcie 8574:%d", kWho, __LINE__, nTargets);
    for (int t = 0; t < nTargets; ++t) {
        const int nSlot = nPcieDevSlot(m_DevList, t);
        if (nSlot < 0)
            break;
        const PcieTargetInfo& info = g_PcieCtrl.targetInfo(static_cast<uint8_t>(t));
        DevInfo& dev = m_DevList.Devs[nSlot];
        dev.m_bPCIE = 1;
        dev.m_strChipText = "8574";
        dev.m_ucPortIndex = static_cast<uint8_t>(nSlot);
        dev.m_strSerialNumber = strCmdPrintableSerial(info.m_ucSerialNumber, sizeof info.m_ucSerialNumber);
        char szText[16];
        std::snprintf(szText, sizeof szText, "%04X", info.m_wPID);
        dev.m_strPID = szText;
        std::snprintf(szText, sizeof szText, "%04X", info.m_wVID);
        dev.m_strVID = szText;
        dev.m_ucCCOrientation = info.m_ucCCOrientation;
        dev.m_ucChipMajorRev = info.m_ucChipRevision;
        dev.m_ucU4Mode = info.m_ucU4Mode;
        dev.m_ucLinkSpeed = info.m_ucLinkSpeed;
        // The variant's records carry no lane values or PD type; nothing
        // of it reads them.
        for (int lane = 0; lane < 4 && !bShowStatus; ++lane) {
            dev.m_ucLaneCS[lane] = info.m_ucLaneStatus[lane];
            dev.m_dwLaneDS[lane] = info.m_dwLaneValue[lane];
        }
        dev.m_strUSBSpeed = strGetPcieLinkName(info.m_ucLinkSpeed);
        char szVersion[16];
        std::snprintf(szVersion, sizeof szVersion, "%02x%02x%02x%02x%02x%02x", info.m_ucFWVersion[0],
                      info.m_ucFWVersion[1], info.m_ucFWVersion[2], info.m_ucFWVersion[3], info.m_ucFWVersion[4],
                      info.m_ucFWVersion[5]);
        dev.m_strFWVersion = szVersion;
        std::copy(std::begin(info.m_ucU4Config), std::end(info.m_ucU4Config), dev.m_ucU4Config);
        if (!bShowStatus)
            dev.m_ucPDType = info.m_ucPDType;
    }
}

int CVIVadeDlg::nGet8574PcieCntByPnpUtil()
{
    const krv::ConsoleResult result =
        krv::Platform::current().consolePrograms().run({"PnPUtil", {"/enum-devices", "/connected"}});
    krv::Platform::current().clock().sleepMs(10);
    if (!result.started || !result.finished) {
        vDEBUG_ERR_printf("%s:%d: PnPUtil did not run , dwErrorCode %d", "CVIVadeDlg::nGet8574PcieCntByPnpUtil",
                          __LINE__, static_cast<int>(krv::lastError()));
        return -1;
    }
    int nLines = 0;
    size_t begin = 0;
    while (begin < result.output.size()) {
        size_t end = result.output.find('\n', begin);
        if (end == std::string::npos)
            end = result.output.size();
        if (result.output.substr(begin, end - begin).find(PCIE_SUBSYSTEM_TEXT) != std::string::npos)
            ++nLines;
        begin = end + 1;
    }
    // Each bridge shows two functions, its upstream and its downstream port.
    return nLines / 2;
}

bool CVIVadeDlg::ScanForHardwareChanges()
{
    krv::DeviceSetup& setup = krv::Platform::current().deviceSetup();
    // The re-enumeration starts from the root node, which must be found first.
    const std::vector<krv::DeviceNode> nodes = setup.devices();
    if (nodes.empty() || !nodes.front().parentInstanceId.empty()) {
        vDEBUG_MSG_printf("%s:%d: CM_Locate_DevNode failed: %x", "CVIVadeDlg::ScanForHardwareChanges", __LINE__,
                          static_cast<unsigned>(krv::lastError()));
        return false;
    }
    if (!setup.reenumerate()) {
        vDEBUG_MSG_printf("%s:%d: CM_Reenumerate_DevNode failed: %x", "CVIVadeDlg::ScanForHardwareChanges", __LINE__,
                          static_cast<unsigned>(krv::lastError()));
        return false;
    }
    return true;
}

bool CVIVadeDlg::vCmdWritePcieInfo()
{
    std::vector<CmdReportPcieTarget> targets;
    for (uint8_t t = 0; t < g_PcieCtrl.ucTargetCount(); ++t) {
        CmdReportPcieTarget target;
        const PcieTargetAddress& at = g_PcieCtrl.targetAddress(t);
        target.ucBus = at.ucBus;
        target.ucDevice = at.ucDevice;
        target.ucFunction = at.ucFunction;
        std::copy(std::begin(g_PcieCtrl.targetInfo(t).m_ucSerialNumber),
                  std::end(g_PcieCtrl.targetInfo(t).m_ucSerialNumber), target.ucSerial);
        targets.push_back(target);
    }
    return bCmdWriteReportFile("", CMD_REPORT_PCIE_INFO_FILE, strCmdPcieInfoText(m_DevList, targets));
}
