// The USB topology walk of a full scan: every host controller, its root hub
// port by port, external hubs recursively; every connected device of the USB
// or disk-drive class goes to the identification, which fills the next
// record of the device table. The walk's state is a CUSBWalkState of its
// own; only its hub table is published to the object at the end, for the
// re-link detection.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// The configuration manager reads a node property into a 127-byte buffer.
constexpr size_t DEVICE_PROPERTY_TEXT_MAX = 126;
// A driver key starts with its setup class, braces included.
constexpr size_t SETUP_CLASS_TEXT_LENGTH = 38;
constexpr uint16_t CONFIGURATION_DESCRIPTOR_MAX = 2048;

const char* pszConnectionStatusName(uint32_t dwStatus)
{
    static const char* const kNames[] = {
        "No device connected",        "Device connected",          "Device FAILED enumeration",
        "Device general FAILURE",     "Device caused overcurrent", "Not enough power for device",
    };
    if (dwStatus < sizeof kNames / sizeof kNames[0])
        return kNames[dwStatus];
    return "Unknown connection status";
}

bool bStartsWithNoCase(const std::string& strText, const std::string& strPrefix)
{
    return strText.size() >= strPrefix.size() && strncasecmp(strText.c_str(), strPrefix.c_str(), strPrefix.size()) == 0;
}

// A driver key of the USB or the disk-drive setup class.
bool bIsStorageClassKey(const std::string& strDriverKey)
{
    if (strDriverKey.size() < SETUP_CLASS_TEXT_LENGTH)
        return false;
    return bStartsWithNoCase(strDriverKey, krv::guidText(krv::setupclass::kUsb)) ||
           bStartsWithNoCase(strDriverKey, krv::guidText(krv::setupclass::kDiskDrive));
}

// The device node whose driver key is the given one. The node list is in
// depth-first order (child before sibling), the order the search visits.
bool bFindNodeByDriverKey(const std::string& strDriverKeyName, krv::DeviceNode& found)
{
    for (krv::DeviceNode& node : krv::Platform::current().deviceSetup().devices()) {
        if (!node.driverKey.empty() && strcasecmp(node.driverKey.c_str(), strDriverKeyName.c_str()) == 0) {
            found = std::move(node);
            return true;
        }
    }
    return false;
}

std::string strCut(const std::string& strText, size_t nMax) { return strText.substr(0, nMax); }

void vMarkPort(CUSBWalkState& walk, const std::string& strHubName, uint32_t ulPort)
{
    if (ulPort >= WALK_HUB_PORT_MARKS)
        return;   // a row holds the marks of ports below WALK_HUB_PORT_MARKS only
    for (CUSBWalkState::HUB_ENTRY& entry : walk.m_HubTable)
        if (entry.ulPortCount != 0 && entry.strHubName == strHubName)
            entry.ucPortMark[ulPort] = 1;
}

void vRegisterHub(CUSBWalkState& walk, const std::string& strHubName, uint32_t ulPortCount)
{
    for (CUSBWalkState::HUB_ENTRY& entry : walk.m_HubTable) {
        if (entry.ulPortCount == 0) {
            entry.strHubName = strHubName;
            entry.ulPortCount = ulPortCount;
            return;
        }
    }
}

}  // namespace

// ---- entry -------------------------------------------------------------------

int CKrvnUSBDev::Open(DevList* pDevList, const std::string& strTargetChip, int iBridgeType)
{
    static const char* const kMethod = "CKrvnUSBDev::Open";
    m_bOpen = 1;
    m_pDevList = pDevList;
    try {
        CUSBWalkState walk;
        Enum(walk, strTargetChip, iBridgeType);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...) Open:  Error:%d", kMethod, __LINE__, nLastError());
    }
    return pDevList && pDevList->DevNums != 0 ? 0 : OPEN_NO_DEVICE;
}

void CKrvnUSBDev::Enum(CUSBWalkState& walk, const std::string& strTargetChip, int iBridgeType)
{
    static const char* const kMethod = "CKrvnUSBDev::Enum";
    try {
        pUtility.g_bScanInterrupt = 0;
        if (m_bOpen == 1) {
            vClearPrivateData();
            walk.vReset();
        } else {
            walk.m_ucDevIndex = 0;
        }
        if (pUtility.g_bScanInterrupt) {
            vDEBUG_WRN_printf("%s:%d: Scan Interrupt after GetDeviceList()", kMethod, __LINE__);
            return;
        }
        std::vector<std::unique_ptr<krv::UsbHostController>> hostControllers;
        OpenDevice(hostControllers, WALK_HOST_CONTROLLER_MAX, false);
        for (size_t i = 0; i < hostControllers.size(); ++i) {
            EnumerateHostController(walk, *hostControllers[i], static_cast<uint8_t>(i), strTargetChip, iBridgeType);
            hostControllers[i].reset();
        }
        if (m_bOpen == 1) {
            std::lock_guard<std::mutex> guard(m_HubTableCriticalSection);
            for (int i = 0; i < WALK_HUB_TABLE_SIZE; ++i)
                m_HubTable[i] = walk.m_HubTable[i];
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...) Enum: dwErrorCode : %d", kMethod, __LINE__, nLastError());
    }
}

void CKrvnUSBDev::vGetHubTable(CUSBWalkState::HUB_ENTRY (&table)[WALK_HUB_TABLE_SIZE])
{
    std::lock_guard<std::mutex> guard(m_HubTableCriticalSection);
    for (int i = 0; i < WALK_HUB_TABLE_SIZE; ++i)
        table[i] = m_HubTable[i];
}

bool CKrvnUSBDev::OpenDevice(std::vector<std::unique_ptr<krv::UsbHostController>>& hostControllers,
                             uint8_t ucMaxCount, bool bOverlapped)
{
    static const char* const kMethod = "CKrvnUSBDev::OpenDevice";
    (void)bOverlapped;   // the platform's requests all complete before they return
    krv::UsbTree& tree = krv::Platform::current().usbTree();
    for (const std::string& strPath : tree.hostControllerPaths()) {
        if (hostControllers.size() >= ucMaxCount)
            break;
        std::unique_ptr<krv::UsbHostController> hostController = tree.openHostController(strPath);
        if (!hostController) {
            vDEBUG_ERR_printf("%s:%d: CreateFile Fail: dwErrorCode = %d, DevicePath:%s", kMethod, __LINE__,
                              nLastError(), strPath.c_str());
            continue;
        }
        hostControllers.push_back(std::move(hostController));
    }
    return !hostControllers.empty();
}

// ---- host controllers ----------------------------------------------------------

uint32_t CKrvnUSBDev::EnumerateHostController(CUSBWalkState& walk, krv::UsbHostController& hostController,
                                              uint8_t ucIndex, const std::string& strTargetChip, int iBridgeType)
{
    static const char* const kMethod = "CKrvnUSBDev::EnumerateHostController";
    if (!GetHCDDriverKeyName(walk, hostController)) {
        const uint32_t dwError = krv::lastError();
        vDEBUG_ERR_printf("%s:%d: EnumerateHostController: GetHCDDriverKeyName Fail , dwErrorCode : %d ", kMethod,
                          __LINE__, static_cast<int>(dwError));
        return dwError;
    }
    vDEBUG_MSG_printf("%s:%d: EnumerateHostController: HCD DriverKey Name is %s ", kMethod, __LINE__,
                      walk.m_strHCDriverKeyName.c_str());
    vDEBUG_MSG_printf("%s:%d: EnumerateHostController: HCD Device Desc is %s ", kMethod, __LINE__,
                      walk.m_strHCDeviceDesc.c_str());
    vDEBUG_MSG_printf("%s:%d: EnumerateHostController: HARDWARE ID is %s ", kMethod, __LINE__,
                      walk.m_strHCHardwareID.c_str());

    if (!GetRootHubName(walk, hostController)) {
        const uint32_t dwError = krv::lastError();
        vDEBUG_ERR_printf("%s:%d: EnumerateHostController: GetRootHubName Fail , dwErrorCode : %d", kMethod, __LINE__,
                          static_cast<int>(dwError));
        return dwError;
    }
    std::unique_ptr<krv::UsbHub> rootHub = krv::Platform::current().usbTree().openHub(walk.strRootHubName);
    if (!rootHub) {
        const uint32_t dwError = krv::lastError();
        vDEBUG_ERR_printf("%s:%d: EnumerateHostController: CreateFile[%s] fail , dwErrorCode : %d", kMethod, __LINE__,
                          walk.strRootHubName.c_str(), static_cast<int>(dwError));
        return dwError;
    }
    krv::UsbNodeInformation info;
    if (!rootHub->nodeInformation(info)) {
        const uint32_t dwError = krv::lastError();
        vDEBUG_ERR_printf("%s:%d: EnumerateHostController: IOCTL_USB_GET_NODE_INFORMATION fail , dwErrorCode : %d",
                          kMethod, __LINE__, static_cast<int>(dwError));
        return dwError;
    }
    // A CD-ROM found earlier in the scan does not end the walk: drives on
    // the remaining controllers would vanish from the table.
    walk.m_iHubPortOffset = 0;
    const std::string strRootHubName = walk.strRootHubName;
    GetPortData(walk, *rootHub, info.numberOfPorts, 0, ucIndex, strRootHubName, strTargetChip, iBridgeType);
    return 0;
}

bool CKrvnUSBDev::GetHCDDriverKeyName(CUSBWalkState& walk, krv::UsbHostController& hostController)
{
    std::string strKey;
    if (!hostController.driverKeyName(strKey))
        return false;
    walk.m_strHCDriverKeyName = strKey;
    walk.m_strHCDeviceDesc = DriverNameToDeviceDesc(strKey);
    walk.m_strHCHardwareID = DriverNameToHARDWARE(strKey);
    return true;
}

bool CKrvnUSBDev::GetRootHubName(CUSBWalkState& walk, krv::UsbHostController& hostController)
{
    std::string strName;
    if (!hostController.rootHubName(strName))
        return false;
    walk.strRootHubName = "\\\\.\\" + strName;
    return true;
}

bool CKrvnUSBDev::GetDriverKeyName(CUSBWalkState& walk, krv::UsbHub& hub, uint32_t ulPort)
{
    std::string strKey;
    if (!hub.driverKeyName(ulPort, strKey)) {
        walk.m_strDevDriverKeyName.clear();
        return false;
    }
    walk.m_strDevDriverKeyName = strKey;
    return true;
}

// ---- device nodes ----------------------------------------------------------------

std::string CKrvnUSBDev::DriverNameToDeviceDesc(const std::string& strDriverKeyName)
{
    static const char* const kMethod = "CKrvnUSBDev::DriverNameToDeviceDesc";
    krv::DeviceNode node;
    if (!bFindNodeByDriverKey(strDriverKeyName, node)) {
        vDEBUG_MSG_printf("%s:%d: DriverNameToDeviceDesc: No Find any one , dwErrorCode %d", kMethod, __LINE__,
                          nLastError());
        return std::string();
    }
    if (node.description.empty()) {
        vDEBUG_MSG_printf("%s:%d: DriverNameToDeviceDesc: Not Find Device Descriptor , dwErrorCode %d", kMethod,
                          __LINE__, nLastError());
        return std::string();
    }
    return strCut(node.description, DEVICE_PROPERTY_TEXT_MAX);
}

std::string CKrvnUSBDev::DriverNameToHARDWARE(const std::string& strDriverKeyName)
{
    static const char* const kMethod = "CKrvnUSBDev::DriverNameToDeviceDesc";
    krv::DeviceNode node;
    if (!bFindNodeByDriverKey(strDriverKeyName, node)) {
        vDEBUG_MSG_printf("%s:%d: DriverNameToDeviceDesc: No Find any one , dwErrorCode %d", kMethod, __LINE__,
                          nLastError());
        return std::string();
    }
    if (node.hardwareIds.empty()) {
        vDEBUG_MSG_printf("%s:%d: DriverNameToDeviceDesc: Not Find Device Descriptor , dwErrorCode %d", kMethod,
                          __LINE__, nLastError());
        return std::string();
    }
    return node.hardwareIds.front();
}

// ---- descriptors -------------------------------------------------------------------

std::string CKrvnUSBDev::GetStringDescriptor(krv::UsbHub& hub, uint32_t ulPort, uint16_t& usLanguageID,
                                             uint8_t ucIndex)
{
    static const char* const kMethod = "CKrvnUSBDev::GetStringDescriptor";
    ++pUtility.g_ucFoundCount;
    std::vector<uint8_t> languages;
    if (!hub.descriptor(ulPort, krv::usbdesc::value(krv::usbdesc::kString, 0), 0, 4, languages)) {
        vDEBUG_MSG_printf("%s:%d: GetStringDescriptor : IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION Get "
                          "uspLanguageID Fail , dwErrorCode %d",
                          kMethod, __LINE__, nLastError());
        return std::string();
    }
    // A language table without an entry reads as "no language".
    usLanguageID = languages.size() >= 4 ? static_cast<uint16_t>(languages[2] | languages[3] << 8) : 0xFFFF;
    ++pUtility.g_ucFoundCount;
    if (usLanguageID == 0xFFFF)
        return std::string();
    std::vector<uint8_t> descriptor;
    if (!hub.descriptor(ulPort, krv::usbdesc::value(krv::usbdesc::kString, ucIndex), usLanguageID, 255,
                        descriptor)) {
        vDEBUG_MSG_printf("%s:%d: GetStringDescriptor : IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION Fail , "
                          "dwErrorCode %d",
                          kMethod, __LINE__, nLastError());
        return std::string();
    }
    return strStringDescriptorText(descriptor.data(), descriptor.size());
}

void CKrvnUSBDev::GetConfigurationDescriptor(krv::UsbHub& hub, uint32_t ulPort, uint16_t usLanguageID)
{
    static const char* const kMethod = "CKrvnUSBDev::GetConfigurationDescriptor";
    std::vector<uint8_t> config;
    if (!hub.descriptor(ulPort, krv::usbdesc::value(krv::usbdesc::kConfiguration, 0), 0,
                        CONFIGURATION_DESCRIPTOR_MAX, config) ||
        config.size() < 9) {
        vDEBUG_MSG_printf("%s:%d: GetConfigurationDescriptor Fail , ulPortIndex %u , dwErrorCode %d", kMethod, __LINE__,
                          ulPort, nLastError());
        return;
    }
    // The configuration's own string, then each interface's.
    auto logString = [&](const char* pszWhat, uint8_t ucIndex) {
        if (ucIndex == 0)
            return;
        uint16_t usLanguage = usLanguageID;
        const std::string strText = GetStringDescriptor(hub, ulPort, usLanguage, ucIndex);
        vDEBUG_MSG_printf("%s:%d: %s[%d] : %s", kMethod, __LINE__, pszWhat, ucIndex, strText.c_str());
    };
    logString("iConfiguration", config[6]);
    for (size_t i = config[0]; i + 1 < config.size() && config[i] >= 2; i += config[i]) {
        if (config[i + 1] == 4 && i + 8 < config.size())
            logString("iInterface", config[i + 8]);
    }
}

// ---- ports -----------------------------------------------------------------------------

void CKrvnUSBDev::GetPortData(CUSBWalkState& walk, krv::UsbHub& hub, uint32_t ulPortCount, int iHubDepth,
                              int iHCIndex, const std::string& strHubName, const std::string& strTargetChip,
                              int iBridgeType)
{
    static const char* const kMethod = "CKrvnUSBDev::GetPortData";
    vRegisterHub(walk, strHubName, ulPortCount);
    ++pUtility.g_ucFoundCount;
    vDEBUG_MSG_printf("%s:%d: In GetPortData with fHandle = %p, ulPortCount = %x, iHubDepth = %x ", kMethod, __LINE__,
                      static_cast<void*>(&hub), ulPortCount, iHubDepth);
    // Devices on this hub are labelled with the port the hub sits on.
    const int32_t iHubPortOffset = walk.m_iHubPortOffset;

    for (uint32_t p = 1; p <= ulPortCount; ++p) {
        ++pUtility.g_ucFoundCount;
        walk.m_ulPortIndex = p;
        walk.m_strCurrentHubName = strHubName;
        walk.m_ulPortCount = ulPortCount;
        walk.m_iHubPortOffset = iHubPortOffset;
        walk.m_bIsCDROM = 0;

        krv::UsbConnectionInfo info;
        uint32_t dwStatus = static_cast<uint32_t>(krv::UsbConnectionStatus::DeviceGeneralFailure);
        if (hub.connectionInformation(p, info))
            dwStatus = static_cast<uint32_t>(info.status);

        if (dwStatus != static_cast<uint32_t>(krv::UsbConnectionStatus::DeviceConnected)) {
            if (dwStatus == static_cast<uint32_t>(krv::UsbConnectionStatus::DeviceFailedEnumeration)) {
                GetDriverKeyName(walk, hub, p);
                const uint32_t dwError = krv::lastError();
                walk.m_strDevDeviceDesc =
                    walk.m_strDevDriverKeyName.empty() ? std::string() : DriverNameToDeviceDesc(walk.m_strDevDriverKeyName);
                vDEBUG_MSG_printf("%s:%d:  Port[%d] iHubDepth[%d] ulPortCount[%d]= %s , DeviceFailedEnumeration , "
                                  "strDriverKeyName : %s , strDeviceDesc : %s , dwErrorCode = %d",
                                  kMethod, __LINE__, p, iHubDepth, ulPortCount, pszConnectionStatusName(dwStatus),
                                  walk.m_strDevDriverKeyName.c_str(), walk.m_strDevDeviceDesc.c_str(),
                                  static_cast<int>(dwError));
            } else {
                vDEBUG_MSG_printf("%s:%d: iHubDepth[%d]  ulPortCount[%d] Port[%d]  = %s ,", kMethod, __LINE__,
                                  iHubDepth, ulPortCount, p, pszConnectionStatusName(dwStatus));
            }
            continue;
        }

        if (info.deviceIsHub) {
            vWalkExternalHub(walk, hub, p, iHubDepth, iHCIndex, strHubName, strTargetChip, iBridgeType);
            continue;
        }
        vExamineDevice(walk, hub, info, iHubDepth, iHCIndex, strHubName, strTargetChip, iBridgeType);
    }
    walk.m_iHubPortOffset = iHubPortOffset;
}

void CKrvnUSBDev::vExamineDevice(CUSBWalkState& walk, krv::UsbHub& hub, const krv::UsbConnectionInfo& info,
                                 int iHubDepth, int iHCIndex, const std::string& strHubName,
                                 const std::string& strTargetChip, int iBridgeType)
{
    static const char* const kMethod = "CKrvnUSBDev::GetPortData";
    const uint32_t p = walk.m_ulPortIndex;
    const uint32_t ulPortCount = walk.m_ulPortCount;

    ++pUtility.g_ucFoundCount;
    if (GetDriverKeyName(walk, hub, p))
        walk.m_strDevDeviceDesc = DriverNameToDeviceDesc(walk.m_strDevDriverKeyName);
    else
        walk.m_strDevDeviceDesc.clear();   // and the key: never the previous port's
    vDEBUG_MSG_printf("%s:%d: GetPortData: DriverKeyName = %s , Desc = %s , ", kMethod, __LINE__,
                      walk.m_strDevDriverKeyName.c_str(), walk.m_strDevDeviceDesc.c_str());
    ++pUtility.g_ucFoundCount;

    uint16_t usLanguageID = 0;
    if (GetDeviceDescriptor(walk, hub, p, usLanguageID, info.deviceDescriptor) == DESCRIPTOR_NO_SERIAL) {
        vDEBUG_ERR_printf("%s:%d:  Invalid GetDeviceDescriptor , ulPortIndex [%d] , iHubDepth[%d] ulPortCount[%d] , "
                          "usLanguageID:%d , strVID:%s , strPID:%s , strIManufacture:%s , strIProduct:%s , "
                          "strSerialNumber:%s",
                          kMethod, __LINE__, p, iHubDepth, ulPortCount, usLanguageID, walk.m_strVID.c_str(),
                          walk.m_strPID.c_str(), walk.m_strManufacturer.c_str(), walk.m_strProduct.c_str(),
                          walk.m_strSerialNumber.c_str());
        vMarkPort(walk, strHubName, p);
        return;
    }

    if (!bIsStorageClassKey(walk.m_strDevDriverKeyName)) {
        vDEBUG_MSG_printf("%s:%d: ucPhysicalAddress [%d] Fail, strDriverKeyNaemLimit:%s", kMethod, __LINE__,
                          PHYSICAL_ADDRESS_NONE, strCut(walk.m_strDevDriverKeyName, SETUP_CLASS_TEXT_LENGTH).c_str());
        return;
    }

    walk.m_iPortLocation = static_cast<int32_t>(p) + 10 * walk.m_iHubPortOffset + 100 * iHubDepth + 1000 * iHCIndex;

    DevList* pDevList = m_pDevList.load();
    if (walk.m_ucDevIndex >= MAX_DEV_SLOTS || !pDevList) {
        if (!walk.m_bTableFullLogged)
            vDEBUG_WRN_printf("%s:%d: device table full (%d records), port %d of %s and later devices not taken",
                              kMethod, __LINE__, MAX_DEV_SLOTS, p, strHubName.c_str());
        walk.m_bTableFullLogged = true;
        if (m_bOpen == 1 && pDevList && bBridgeBeyondFullTable(walk, iBridgeType))
            vCountUnidentified(*pDevList, walk.m_strDevDriverKeyName, "the device table is full");
        return;
    }

    uint8_t ucPhysicalAddress = PHYSICAL_ADDRESS_NONE;
    if (m_bOpen == 1) {
        ucPhysicalAddress = ucGetPhysicalAddressFromSN(walk, SN_SEARCH_DISK, iBridgeType);
        if (ucPhysicalAddress == PHYSICAL_ADDRESS_NONE && iBridgeType != BRIDGE_TYPE_752X &&
            iBridgeType != BRIDGE_TYPE_857X) {
            vDEBUG_WRN_printf("%s:%d: Get ucPhysicalAddress[%d] failed, Try CD-ROM iBridgeType[%d]", kMethod, __LINE__,
                              ucPhysicalAddress, iBridgeType);
            ucPhysicalAddress = ucGetPhysicalAddressFromSN(walk, SN_SEARCH_CDROM, iBridgeType);
            if (ucPhysicalAddress != PHYSICAL_ADDRESS_NONE) {
                walk.m_bIsCDROM = 1;
                vDEBUG_MSG_printf("%s:%d: this  ucPhysicalAddress[%d] is CDROM", kMethod, __LINE__, ucPhysicalAddress);
            } else {
                vDEBUG_MSG_printf("%s:%d: Get ucPhysicalAddress[%d] failed ", kMethod, __LINE__, ucPhysicalAddress);
            }
        }
    } else {
        const DevInfo& slot = pDevList->Devs[walk.m_ucDevIndex];
        walk.m_bIsCDROM = slot.m_bIsCDROM;
        ucPhysicalAddress = slot.m_bIsCDROM ? slot.m_ucCDROMAddress : slot.m_ucPhysicalAddress;
    }

    GetConfigurationDescriptor(hub, p, usLanguageID);

    if (ucPhysicalAddress == PHYSICAL_ADDRESS_NONE) {
        vDEBUG_MSG_printf("%s:%d: Invalid  ucPhysicalAddress:%d, usLanguageID=%d, strSerialNumber:%s", kMethod,
                          __LINE__, ucPhysicalAddress, usLanguageID, walk.m_strSerialNumber.c_str());
        if (m_bOpen == 1 && bOwnDiskOutOfTable(walk.m_strDevDriverKeyName))
            vCountUnidentified(*pDevList, walk.m_strDevDriverKeyName, "its drive number does not fit the device table");
        return;
    }
    ++pUtility.g_ucFoundCount;
    const std::string strPath =
        strDrivePath(walk.m_bIsCDROM ? krv::DriveKind::CdRom : krv::DriveKind::PhysicalDrive, ucPhysicalAddress);
    if (!vTestHandleFromPhysicalAddress(walk, strPath, strHubName, strTargetChip, iBridgeType)) {
        vDEBUG_MSG_printf("%s:%d: vTestHandleFromPhysicalAddress Fail , ulPortIndex [%d] iHubDepth[%d] "
                          "ulPortCount[%d] , strPhysicalAddress:%s",
                          kMethod, __LINE__, p, iHubDepth, ulPortCount, strPath.c_str());
    }
}

void CKrvnUSBDev::vWalkExternalHub(CUSBWalkState& walk, krv::UsbHub& hub, uint32_t ulPort, int iHubDepth,
                                   int iHCIndex, const std::string& strHubName, const std::string& strTargetChip,
                                   int iBridgeType)
{
    static const char* const kMethod = "CKrvnUSBDev::GetPortData";
    vMarkPort(walk, strHubName, ulPort);

    std::string strName;
    if (!hub.connectionName(ulPort, strName)) {
        vDEBUG_MSG_printf("%s:%d: IOCTL_USB_GET_NODE_CONNECTION_NAME Get Len Fail , dwErrorCode %d", kMethod, __LINE__,
                          nLastError());
        vDEBUG_MSG_printf("%s:%d:  Not Find ConnectedHubName[%s] , dwErrorCode %d", kMethod, __LINE__, "",
                          nLastError());
        return;
    }
    if (strName.empty()) {
        vDEBUG_MSG_printf("%s:%d: IOCTL_USB_GET_NODE_CONNECTION_NAME dwRet[%d] < siizeof(extHubName)[%d] , "
                          "dwErrorCode %d",
                          kMethod, __LINE__, 0, 10, nLastError());
        vDEBUG_MSG_printf("%s:%d:  Not Find ConnectedHubName[%s] , dwErrorCode %d", kMethod, __LINE__, "",
                          nLastError());
        return;
    }
    const std::string strConnectedHubName = "\\\\?\\" + strName;
    vDEBUG_MSG_printf("%s:%d: strConnectedHubName %s", kMethod, __LINE__, strConnectedHubName.c_str());

    ++pUtility.g_ucFoundCount;
    std::unique_ptr<krv::UsbHub> childHub = krv::Platform::current().usbTree().openHub(strConnectedHubName);
    if (!childHub) {
        vDEBUG_MSG_printf("%s:%d: hubInfo ALLOC() fail , dwErrorCode : %d", kMethod, __LINE__, nLastError());
        return;
    }
    krv::UsbNodeInformation childInfo;
    if (!childHub->nodeInformation(childInfo)) {
        vDEBUG_MSG_printf("%s:%d: IOCTL_USB_GET_NODE_INFORMATION (ConnectedHubHandle) Fail , dwErrorCode %d", kMethod,
                          __LINE__, nLastError());
        return;
    }
    pUtility.g_ucFoundCount += 2;
    walk.m_iHubPortOffset = static_cast<int32_t>(ulPort);
    GetPortData(walk, *childHub, childInfo.numberOfPorts, iHubDepth + 1, iHCIndex, strConnectedHubName,
                strTargetChip, iBridgeType);
}
