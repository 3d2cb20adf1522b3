// Which disk (or CD-ROM) belongs to a USB serial number: the storage
// interfaces of the machine are listed, each candidate drive is opened and
// its bridge checked, up to eight serial texts are gathered from the bridge,
// the drive and the system, and the USB serial is looked for in them.
//
// Every text of a candidate belongs to that candidate's own device node and
// interface. A candidate that holds the serial exactly wins over one that
// only contains it, so a short serial never claims a drive whose serial
// merely contains it; and a drive another record already holds is never
// taken, so two ports never share a disk.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <strings.h>
#include <utility>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/TextUtil.h"
#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// Registry value types and the SPDRP_* codes of the device properties.
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;

enum : uint32_t {
    SPDRP_DEVICEDESC = 0,
    SPDRP_HARDWAREID = 1,
    SPDRP_COMPATIBLEIDS = 2,
    SPDRP_SERVICE = 4,
    SPDRP_CLASS = 7,
    SPDRP_CLASSGUID = 8,
    SPDRP_DRIVER = 9,
    SPDRP_CONFIGFLAGS = 10,
    SPDRP_MFG = 11,
    SPDRP_FRIENDLYNAME = 12,
    SPDRP_LOCATION_INFORMATION = 13,
    SPDRP_PHYSICAL_DEVICE_OBJECT_NAME = 14,
    SPDRP_CAPABILITIES = 15,
    SPDRP_UPPERFILTERS = 17,
    SPDRP_LOWERFILTERS = 18,
    SPDRP_BUSTYPEGUID = 19,
    SPDRP_LEGACYBUSTYPE = 20,
    SPDRP_BUSNUMBER = 21,
    SPDRP_ENUMERATOR_NAME = 22,
    SPDRP_SECURITY_SDS = 24,
    SPDRP_ADDRESS = 28,
    SPDRP_UI_NUMBER_DESC_FORMAT = 29,
    SPDRP_DEVICE_POWER_DATA = 30,
    SPDRP_REMOVAL_POLICY = 31,
    SPDRP_REMOVAL_POLICY_HW_DEFAULT = 32,
    SPDRP_REMOVAL_POLICY_OVERRIDE = 33,
    SPDRP_INSTALL_STATE = 34,
    SPDRP_LOCATION_PATHS = 35,
};

// The properties a candidate's node is logged with, after its class.
struct PropertyName {
    uint32_t dwCode;
    const char* pszName;
};
constexpr PropertyName kLoggedProperties[] = {
    {SPDRP_ADDRESS, "SPDRP_ADDRESS"},
    {SPDRP_BUSNUMBER, "SPDRP_BUSNUMBER"},
    {SPDRP_BUSTYPEGUID, "SPDRP_BUSTYPEGUID"},
    {SPDRP_CAPABILITIES, "SPDRP_CAPABILITIES"},
    {SPDRP_CLASS, "SPDRP_CLASS"},
    {SPDRP_COMPATIBLEIDS, "SPDRP_COMPATIBLEIDS"},
    {SPDRP_CONFIGFLAGS, "SPDRP_CONFIGFLAGS"},
    {SPDRP_DEVICE_POWER_DATA, "SPDRP_DEVICE_POWER_DATA"},
    {SPDRP_DEVICEDESC, "SPDRP_DEVICEDESC"},
    {SPDRP_DRIVER, "SPDRP_DRIVER"},
    {SPDRP_ENUMERATOR_NAME, "SPDRP_ENUMERATOR_NAME"},
    {SPDRP_FRIENDLYNAME, "SPDRP_FRIENDLYNAME"},
    {SPDRP_HARDWAREID, "SPDRP_HARDWAREID"},
    {SPDRP_INSTALL_STATE, "SPDRP_INSTALL_STATE"},
    {SPDRP_LEGACYBUSTYPE, "SPDRP_LEGACYBUSTYPE"},
    {SPDRP_LOCATION_INFORMATION, "SPDRP_LOCATION_INFORMATION"},
    {SPDRP_LOCATION_PATHS, "SPDRP_LOCATION_PATHS"},
    {SPDRP_LOWERFILTERS, "SPDRP_LOWERFILTERS"},
    {SPDRP_MFG, "SPDRP_MFG"},
    {SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, "SPDRP_PHYSICAL_DEVICE_OBJECT_NAME"},
    {SPDRP_REMOVAL_POLICY, "SPDRP_REMOVAL_POLICY"},
    {SPDRP_REMOVAL_POLICY_HW_DEFAULT, "SPDRP_REMOVAL_POLICY_HW_DEFAULT"},
    {SPDRP_REMOVAL_POLICY_OVERRIDE, "SPDRP_REMOVAL_POLICY_OVERRIDE"},
    {SPDRP_SECURITY_SDS, "SPDRP_SECURITY_SDS"},
    {SPDRP_SERVICE, "SPDRP_SERVICE"},
    {SPDRP_UI_NUMBER_DESC_FORMAT, "SPDRP_UI_NUMBER_DESC_FORMAT"},
    {SPDRP_UPPERFILTERS, "SPDRP_UPPERFILTERS"},
};

constexpr size_t CONFIG_SERIAL_OFFSET = 4;
constexpr size_t CONFIG_SERIAL_LENGTH = 20;
constexpr size_t FACTORY_SERIAL_OFFSET = 9;
constexpr size_t FACTORY_SERIAL_CHECKED = 20;

// A registry value: its type and its bytes.
struct RegistryValue {
    uint32_t dwType = REG_NONE;
    std::vector<uint8_t> data;
};

RegistryValue regText(const std::string& strText)
{
    RegistryValue value;
    if (strText.empty())
        return value;
    value.dwType = REG_SZ;
    value.data.assign(strText.begin(), strText.end());
    value.data.push_back(0);
    return value;
}

RegistryValue regMultiText(const std::vector<std::string>& texts)
{
    RegistryValue value;
    if (texts.empty())
        return value;
    value.dwType = REG_MULTI_SZ;
    for (const std::string& strText : texts) {
        value.data.insert(value.data.end(), strText.begin(), strText.end());
        value.data.push_back(0);
    }
    value.data.push_back(0);
    return value;
}

RegistryValue regDword(uint32_t dwValue)
{
    RegistryValue value;
    value.dwType = REG_DWORD;
    for (int i = 0; i < 4; ++i)
        value.data.push_back(static_cast<uint8_t>(dwValue >> (8 * i)));
    return value;
}

RegistryValue registryValue(const krv::DeviceNode& node, uint32_t dwProperty)
{
    switch (dwProperty) {
    case SPDRP_DEVICEDESC: return regText(node.description);
    case SPDRP_HARDWAREID: return regMultiText(node.hardwareIds);
    case SPDRP_COMPATIBLEIDS: return regMultiText(node.compatibleIds);
    case SPDRP_SERVICE: return regText(node.service);
    case SPDRP_CLASS: return regText(node.className);
    case SPDRP_CLASSGUID: return regText(krv::guidText(node.classGuid, true));
    case SPDRP_DRIVER: return regText(node.driverKey);
    case SPDRP_MFG: return regText(node.manufacturer);
    case SPDRP_FRIENDLYNAME: return regText(node.friendlyName);
    case SPDRP_LOCATION_INFORMATION: return regText(node.locationInformation);
    case SPDRP_PHYSICAL_DEVICE_OBJECT_NAME: return regText(node.physicalDeviceObjectName);
    case SPDRP_ENUMERATOR_NAME: return regText(node.enumeratorName);
    case SPDRP_BUSNUMBER: return regDword(node.busNumber);
    case SPDRP_ADDRESS: return regDword(node.address);
    case SPDRP_REMOVAL_POLICY: return regDword(node.removalPolicy);
    default: return RegistryValue();   // a property the node does not have
    }
}

bool bContains(const std::string& strText, const std::string& strPart)
{
    return !strPart.empty() && strText.find(strPart) != std::string::npos;
}

bool bSameNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The characters between the second and the last '#' of a device path,
// without the last two of them ("&0", the unit), upper case.
std::string strDriverSerialOf(const std::string& strDevicePath)
{
    const size_t nFirst = strDevicePath.find('#');
    const size_t nSecond = nFirst == std::string::npos ? std::string::npos : strDevicePath.find('#', nFirst + 1);
    const size_t nLast = strDevicePath.rfind('#');
    if (nSecond == std::string::npos || nLast <= nSecond)
        return std::string();
    std::string strSerial = strDevicePath.substr(nSecond + 1, nLast - nSecond - 1);
    strSerial.resize(strSerial.size() >= 2 ? strSerial.size() - 2 : 0);
    return strUpper(strSerial);
}

}  // namespace

// One storage interface that might be the drive behind the USB serial.
struct CSerialCandidate {
    // Whose drive it is, as the device tree tells: the USB device on the port
    // being identified, another USB device, or not known.
    enum EOwner { eUnknown, eOwn, eOther };
    EOwner eOwner = eUnknown;
    std::string strNodeInstance;
    std::string strParentInstance;
    std::string strDevicePath;
    uint32_t dwDeviceType = 0;
    uint32_t dwReportedNumber = 0;
    std::string strConfigSerial;
    std::string strDescriptorSerial;
    std::string strReversedSerial;
    std::string strInstanceSerial;
    std::string strDriverSerial;
    std::string strFactorySerial;
    std::string strNvmeSerial;
    std::string strASCIISerial;
    // The drive's NVMe serial, once a search has read it (a read is made
    // only for a search whose serial the other texts do not hold).
    bool bNvmeSerialRead = false;
};

// The candidates of each kind of search (by bridge type and interface class),
// and the device tree they come from, as one walk read them.
struct CSerialCandidateCache {
    bool bHaveNodes = false;
    std::vector<krv::DeviceNode> nodes;
    std::map<std::pair<int, int>, std::vector<CSerialCandidate>> candidates;
};

namespace {

bool bExactMatch(const CSerialCandidate& c, const std::string& strSerial)
{
    std::string strPadded = strSerial;
    if (strPadded.size() < CONFIG_SERIAL_LENGTH)
        strPadded.append(CONFIG_SERIAL_LENGTH - strPadded.size(), '0');
    return c.strConfigSerial == strPadded || strUpper(c.strDescriptorSerial) == strSerial ||
           strUpper(c.strInstanceSerial) == strSerial || c.strDriverSerial == strSerial ||
           c.strFactorySerial == strSerial || c.strNvmeSerial == strSerial;
}

bool bSubstringMatch(const CSerialCandidate& c, const std::string& strSerial, bool bCdRomSearch)
{
    if (bCdRomSearch)
        return bContains(c.strConfigSerial, strSerial) || bContains(c.strReversedSerial, strSerial) ||
               bContains(c.strDescriptorSerial, strSerial) || bContains(c.strInstanceSerial, strSerial) ||
               bContains(c.strDriverSerial, strSerial);
    return bContains(c.strConfigSerial, strSerial) || bContains(c.strReversedSerial, strSerial) ||
           bContains(c.strDescriptorSerial, strSerial) || bContains(c.strInstanceSerial, strSerial) ||
           (!c.strASCIISerial.empty() && (bContains(c.strDescriptorSerial, c.strASCIISerial) ||
                                          bContains(c.strInstanceSerial, c.strASCIISerial))) ||
           bContains(c.strDriverSerial, strSerial) || bContains(c.strFactorySerial, strSerial) ||
           bContains(c.strNvmeSerial, strSerial);
}

// Bytes 4..23 of a configuration image, 0x00 and 0xFF read as '0'; true when
// all twenty were blank.
bool bConfigSerialText(const uint8_t* pImage, std::string& strSerial)
{
    bool bBlank = true;
    strSerial.clear();
    for (size_t i = CONFIG_SERIAL_OFFSET; i < CONFIG_SERIAL_OFFSET + CONFIG_SERIAL_LENGTH; ++i) {
        const uint8_t b = pImage[i];
        if (b == 0x00 || b == 0xFF) {
            strSerial += '0';
        } else {
            strSerial += static_cast<char>(b);
            bBlank = false;
        }
    }
    return bBlank;
}

}  // namespace

// ---- the system's device queries ----------------------------------------------------

bool CKrvnUSBDev::GetDisksProperty(krv::StorageHandle& handle, krv::StorageDeviceDescriptor& descriptor)
{
    if (handle.deviceDescriptor(descriptor))
        return true;
    vDEBUG_ERR_printf("%s:%d: GetDisksProperty Failed!!dwOutBytes: %d  , dwErrorCode: %d",
                      "CKrvnUSBDev::GetDisksProperty", __LINE__, 0, nLastError());
    return false;
}

std::string CKrvnUSBDev::vGetSetupDiDeviceRegistryProperty(const krv::DeviceNode& node, uint32_t dwProperty)
{
    const RegistryValue value = registryValue(node, dwProperty);
    return strRegistryPropertyText(value.dwType, dwProperty, value.data.data(), value.data.size());
}

// ---- the search -------------------------------------------------------------------------

bool CKrvnUSBDev::bNumberTaken(uint32_t dwNumber, bool bCdRom) const
{
    const DevList* pDevList = m_pDevList.load();
    if (!pDevList)
        return false;
    const uint8_t ucNumber = static_cast<uint8_t>(dwNumber);
    for (const DevInfo& devInfo : pDevList->Devs)
        if ((bCdRom ? devInfo.m_ucCDROMAddress : devInfo.m_ucPhysicalAddress) == ucNumber)
            return true;
    return false;
}

uint8_t CKrvnUSBDev::ucGetPhysicalAddressFromSN(std::string strValidSerialNumber, uint8_t ucMode, int iBridgeType,
                                                const std::string& strDriverKeyName)
{
    CSerialCandidateCache cache;
    return ucMatchSerial(strValidSerialNumber, ucMode, iBridgeType, strDriverKeyName, cache);
}

uint8_t CKrvnUSBDev::ucGetPhysicalAddressFromSN(CUSBWalkState& walk, uint8_t ucMode, int iBridgeType)
{
    if (!walk.m_pSerialCandidates)
        walk.m_pSerialCandidates = std::make_shared<CSerialCandidateCache>();
    return ucMatchSerial(walk.m_strSerialNumber, ucMode, iBridgeType, walk.m_strDevDriverKeyName,
                         *walk.m_pSerialCandidates);
}

uint8_t CKrvnUSBDev::ucMatchSerial(const std::string& strValidSerialNumber, uint8_t ucMode, int iBridgeType,
                                   const std::string& strDriverKeyName, CSerialCandidateCache& cache)
{
    static const char* const kMethod = "CKrvnUSBDev::ucGetPhysicalAddressFromSN";
    const bool bCdRomSearch = ucMode == SN_SEARCH_CDROM;
    uint8_t ucResult = PHYSICAL_ADDRESS_NONE;
    try {
        if (!cache.bHaveNodes) {
            cache.nodes = krv::Platform::current().deviceSetup().devices();
            cache.bHaveNodes = true;
        }
        const std::vector<krv::DeviceNode>& nodes = cache.nodes;
        // The serial spelt as the ASCII of its hex digits, for the drives
        // whose other texts do not hold it.
        std::string strASCIISerial;
        if (!bCdRomSearch && !strValidSerialNumber.empty()) {
            strASCIISerial = strHexToASCII(strValidSerialNumber);
            vDEBUG_MSG_printf("%s:%d: strASCIISN: %s\n\n", kMethod, __LINE__, strASCIISerial.c_str());
        }
        for (int nPass = 0; nPass < 2 && ucResult == PHYSICAL_ADDRESS_NONE; ++nPass) {
            const int nKind = bCdRomSearch ? 2 : nPass;
            const krv::Guid interfaceClass = nKind == 2   ? krv::interfaceclass::kCdRom
                                             : nKind == 0 ? krv::interfaceclass::kUsbDevice
                                                          : krv::interfaceclass::kDisk;
            auto [entry, bNew] = cache.candidates.try_emplace({iBridgeType, nKind});
            if (bNew)
                for (const krv::DeviceNode& node : nodes)
                    vCollectCandidates(node, interfaceClass, bCdRomSearch, iBridgeType, entry->second);
            std::vector<CSerialCandidate> candidates;
            candidates.reserve(entry->second.size());
            for (CSerialCandidate& c : entry->second)
                candidates.push_back(candidateFor(c, bCdRomSearch ? std::string() : strValidSerialNumber,
                                                  strASCIISerial, iBridgeType));
            vSetOwners(nodes, strDriverKeyName, candidates);

            if (strValidSerialNumber.empty())
                continue;   // an empty serial matches nothing
            if (bCdRomSearch && m_ucCDROMMode == 0)
                continue;   // CD-ROM units are matched only when the settings ask for them
            // The port's own drive first; then, by exact serial before a
            // serial that merely contains it, any drive not known to be
            // another USB device's.
            const CSerialCandidate* pMatch = nullptr;
            for (int nRule = 0; nRule < 3 && !pMatch; ++nRule) {
                for (const CSerialCandidate& c : candidates) {
                    if (c.eOwner == CSerialCandidate::eOther || (nRule == 0 && c.eOwner != CSerialCandidate::eOwn))
                        continue;
                    const bool bHit = nRule == 1 ? bExactMatch(c, strValidSerialNumber)
                                      : nRule == 2 ? bSubstringMatch(c, strValidSerialNumber, bCdRomSearch)
                                                   : bExactMatch(c, strValidSerialNumber) ||
                                                         bSubstringMatch(c, strValidSerialNumber, bCdRomSearch);
                    if (!bHit)
                        continue;
                    if (bNumberTaken(c.dwReportedNumber, bCdRomSearch)) {
                        vDEBUG_MSG_printf("%s:%d: bSameDevFound , strValidSerialNumber %s , Physical Address = %d",
                                          kMethod, __LINE__, strValidSerialNumber.c_str(), c.dwReportedNumber);
                        continue;
                    }
                    pMatch = &c;
                    break;
                }
            }
            if (pMatch) {
                // The whole node of the drive taken; the others' would flood
                // the log once per port of every scan.
                for (const krv::DeviceNode& node : nodes)
                    if (node.instanceId == pMatch->strNodeInstance)
                        for (const PropertyName& property : kLoggedProperties)
                            vDEBUG_MSG_printf("%s:%d:  : %s %s", kMethod, __LINE__, property.pszName,
                                              vGetSetupDiDeviceRegistryProperty(node, property.dwCode).c_str());
                ucResult = static_cast<uint8_t>(pMatch->dwReportedNumber);
                vDEBUG_MSG_printf("%s:%d:  Get ucPhysicalAddress: %d", kMethod, __LINE__, ucResult);
            }
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d:  : catch(...) dwErrorCode : %d", kMethod, __LINE__, nLastError());
    }
    return ucResult;
}

bool CKrvnUSBDev::bOwnDiskOutOfTable(const std::string& strDriverKeyName)
{
    if (strDriverKeyName.empty())
        return false;
    const std::vector<krv::DeviceNode> nodes = krv::Platform::current().deviceSetup().devices();
    std::string strOwnInstance;
    for (const krv::DeviceNode& node : nodes)
        if (!node.driverKey.empty() && strcasecmp(node.driverKey.c_str(), strDriverKeyName.c_str()) == 0)
            strOwnInstance = node.instanceId;
    if (strOwnInstance.empty())
        return false;
    for (const krv::DeviceNode& node : nodes) {
        if (node.instanceId != strOwnInstance && node.parentInstanceId != strOwnInstance)
            continue;
        for (const krv::DeviceInterface& deviceInterface : node.interfaces) {
            if (deviceInterface.interfaceClass != krv::interfaceclass::kDisk &&
                deviceInterface.interfaceClass != krv::interfaceclass::kUsbDevice)
                continue;
            std::unique_ptr<krv::StorageHandle> handle =
                krv::Platform::current().deviceSetup().openInterface(deviceInterface.devicePath);
            krv::StorageDeviceNumber number;
            if (handle && handle->deviceNumber(number) && number.deviceType == krv::devicetype::kDisk &&
                number.deviceNumber >= DEV_ADDRESS_NONE)
                return true;
        }
    }
    return false;
}

void CKrvnUSBDev::vCountUnidentified(DevList& devList, const std::string& strWhich, const char* pszWhy)
{
    vDEBUG_ERR_printf("%s:%d: %s left out of the device table: %s", "CKrvnUSBDev::GetPortData", __LINE__,
                      strWhich.c_str(), pszWhy);
    if (devList.m_ucUnidentified < UINT8_MAX)
        ++devList.m_ucUnidentified;
}

void CKrvnUSBDev::vSetOwners(const std::vector<krv::DeviceNode>& nodes, const std::string& strDriverKeyName,
                             std::vector<CSerialCandidate>& candidates)
{
    // The USB device on the port being identified, by its driver key.
    std::string strOwnInstance;
    if (!strDriverKeyName.empty())
        for (const krv::DeviceNode& node : nodes)
            if (!node.driverKey.empty() && strcasecmp(node.driverKey.c_str(), strDriverKeyName.c_str()) == 0)
                strOwnInstance = node.instanceId;
    if (strOwnInstance.empty())
        return;   // not known: the serial alone decides
    auto isUsbDevice = [&nodes](const std::string& strInstance) {
        for (const krv::DeviceNode& node : nodes)
            if (node.instanceId == strInstance)
                return node.classGuid == krv::setupclass::kUsb;
        return false;
    };
    for (CSerialCandidate& c : candidates) {
        if (c.strNodeInstance == strOwnInstance || c.strParentInstance == strOwnInstance)
            c.eOwner = CSerialCandidate::eOwn;
        else if (isUsbDevice(c.strNodeInstance) || isUsbDevice(c.strParentInstance))
            c.eOwner = CSerialCandidate::eOther;
    }
}

void CKrvnUSBDev::vCollectCandidates(const krv::DeviceNode& node, const krv::Guid& interfaceClass, bool bCdRomSearch,
                                     int iBridgeType, std::vector<CSerialCandidate>& candidates)
{
    static const char* const kMethod = "CKrvnUSBDev::ucGetPhysicalAddressFromSN";
    // Each interface is taken with its own node, so a CD-ROM unit's node (a
    // class of its own) is let through when CD-ROM units are looked for.
    const std::string strClass = vGetSetupDiDeviceRegistryProperty(node, SPDRP_CLASSGUID);
    if (!bSameNoCase(strClass, krv::guidText(krv::setupclass::kUsb).c_str()) &&
        !bSameNoCase(strClass, krv::guidText(krv::setupclass::kDiskDrive).c_str()) &&
        !(bCdRomSearch && bSameNoCase(strClass, krv::guidText(krv::setupclass::kCdRom).c_str())))
        return;
    const bool bOffersClass = std::any_of(node.interfaces.begin(), node.interfaces.end(),
                                          [&](const krv::DeviceInterface& i) { return i.interfaceClass == interfaceClass; });
    if (!bOffersClass)
        return;

    vDEBUG_MSG_printf("%s:%d:  : SPDRP_CLASSGUID %s", kMethod, __LINE__, strClass.c_str());
    const size_t nSlash = node.instanceId.rfind('\\');
    const std::string strInstanceSerial =
        nSlash == std::string::npos ? node.instanceId : node.instanceId.substr(nSlash + 1);
    vDEBUG_MSG_printf("%s:%d:  : SetupDiGetDeviceInstanceId %s", kMethod, __LINE__, node.instanceId.c_str());

    for (const krv::DeviceInterface& deviceInterface : node.interfaces) {
        if (deviceInterface.interfaceClass != interfaceClass)
            continue;
        CSerialCandidate candidate;
        candidate.strDevicePath = deviceInterface.devicePath;
        candidate.strNodeInstance = node.instanceId;
        candidate.strParentInstance = node.parentInstanceId;
        candidate.strInstanceSerial = strInstanceSerial;
        if (bReadCandidate(candidate, bCdRomSearch, iBridgeType))
            candidates.push_back(std::move(candidate));
    }
}

bool CKrvnUSBDev::bReadCandidate(CSerialCandidate& c, bool bCdRomSearch, int iBridgeType)
{
    static const char* const kMethod = "CKrvnUSBDev::ucGetPhysicalAddressFromSN";
    {
        std::unique_ptr<krv::StorageHandle> handle =
            krv::Platform::current().deviceSetup().openInterface(c.strDevicePath);
        krv::StorageDeviceNumber number;
        if (!handle || !handle->deviceNumber(number) ||
            (number.deviceType != krv::devicetype::kDisk && number.deviceType != krv::devicetype::kCdRom))
            return false;
        vDEBUG_MSG_printf("%s:%d: pspdidd->DevicePath: %s Device type: %d  number: %d  partition: %d, returned=%x",
                          kMethod, __LINE__, c.strDevicePath.c_str(), number.deviceType, number.deviceNumber,
                          number.partitionNumber, 12);
        krv::StorageDeviceDescriptor descriptor;
        if (!GetDisksProperty(*handle, descriptor))
            return false;
        if (descriptor.busType != krv::bustype::kUsb && descriptor.busType != krv::bustype::kScsi &&
            descriptor.busType != krv::bustype::kSpaces)
            return false;
        // The table keeps a drive number in one byte and 127 means "none":
        // a number that does not fit is refused, never cut down to the
        // number of another drive.
        if (number.deviceNumber >= DEV_ADDRESS_NONE) {
            vDEBUG_ERR_printf("%s:%d: %s: drive number %u does not fit the device table, not taken", kMethod,
                              __LINE__, c.strDevicePath.c_str(), number.deviceNumber);
            return false;
        }
        c.dwDeviceType = number.deviceType;
        c.dwReportedNumber = number.deviceNumber;
        c.strDescriptorSerial = descriptor.serialNumber ? strTrim(*descriptor.serialNumber) : "(NULL)";
        c.strReversedSerial.assign(c.strDescriptorSerial.rbegin(), c.strDescriptorSerial.rend());
    }

    // The drive itself, by the number the system reported for this very
    // interface (never another number: that would be another disk).
    const krv::DriveKind eKind = bCdRomSearch ? krv::DriveKind::CdRom : krv::DriveKind::PhysicalDrive;
    const std::string strPath = strDrivePath(eKind, static_cast<int>(c.dwReportedNumber));
    {
        CDriveHandle hDev(CreateDriveHandle(eKind, static_cast<int>(c.dwReportedNumber)));
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: CreateFile Failed: \t strPhysicalAddress: %s ", kMethod, __LINE__,
                              strPath.c_str());
            vDEBUG_ERR_printf("%s:%d:  : Win8 78 Fail dwErrorCode : %d", kMethod, __LINE__, nLastError());
            return false;
        }
        uint8_t ucInquiry[INQUIRY_CHIP_ID_LENGTH];
        if (SCSI6390_Inquiry(hDev.get(), ucInquiry, sizeof ucInquiry) == SCSI_RESULT_OK) {
            char szChip[8];
            std::snprintf(szChip, sizeof szChip, "%02X%02X", ucInquiry[37], ucInquiry[36]);
            const std::string strChip = szChip;
            if (iBridgeType == BRIDGE_TYPE_752X && !bSameNoCase(strChip, "7520")) {
                vDEBUG_WRN_printf("%s:%d: This Device is not KRVN 7522 Chip: \t pspdidd->DevicePath: %s ", kMethod,
                                  __LINE__, c.strDevicePath.c_str());
                return false;
            }
            if (iBridgeType == BRIDGE_TYPE_6390 && !bSameNoCase(strChip, "6390")) {
                vDEBUG_WRN_printf("%s:%d: This USB is not KRVN Chip: \t pspdidd->DevicePath: %s ", kMethod, __LINE__,
                                  c.strDevicePath.c_str());
                return false;
            }
            if (iBridgeType == BRIDGE_TYPE_857X && !bSameNoCase(strChip, "8574") && !bSameNoCase(strChip, "8576")) {
                vDEBUG_WRN_printf("%s:%d: This USB is not KRVN 857x Chip: \t pspdidd->DevicePath: %s ,BridgeType:%d, "
                                  "DevID:%s",
                                  kMethod, __LINE__, c.strDevicePath.c_str(), iBridgeType, strChip.c_str());
                return false;
            }
            uint8_t ucImage[CONFIG_BIN_SIZE] = {};
            const int iRead =
                iBridgeType == BRIDGE_TYPE_857X
                    ? SCSI8574_AccessConfigEEPROM(hDev.get(), ACCESS_READ, ucImage, CONFIG_BIN_SIZE, 0, CONFIG_TYPE_U3)
                    : SCSI6390_AccessConfigEEPROM(hDev.get(), ACCESS_READ, ucImage, CONFIG_BIN_SIZE, 0, 0);
            if (iRead == SCSI_RESULT_OK) {
                if (bConfigSerialText(ucImage, c.strConfigSerial) && !bCdRomSearch)
                    ATAPassThrough_GetHDSerialNumber(hDev.get(), c.strConfigSerial);
                c.strConfigSerial = strUpper(c.strConfigSerial);
            }
        }
    }
    c.strDriverSerial = strDriverSerialOf(c.strDevicePath);
    vDEBUG_MSG_printf("%s:%d: Get KRVN Device: %s Device type: %d  PhysicalAddress: %d  strDriverSerial: %s", kMethod,
                      __LINE__, c.strDevicePath.c_str(), c.dwDeviceType, c.dwReportedNumber,
                      c.strConfigSerial.c_str());

    if (!bCdRomSearch && iBridgeType == BRIDGE_TYPE_752X) {
        uint8_t ucPage[FACTORY_PAGE_SIZE] = {};
        CDriveHandle hFactory(CreateDriveHandle(krv::DriveKind::PhysicalDrive, static_cast<int>(c.dwReportedNumber)));
        if (hFactory.bIsValid() && vFactoryConfigure_Read(0, ucPage, std::move(hFactory))) {
            const uint8_t* pText = ucPage + FACTORY_SERIAL_OFFSET;
            const bool bPrintable = std::all_of(pText, pText + FACTORY_SERIAL_CHECKED,
                                                [](uint8_t b) { return b >= 0x20 && b <= 0x7A; });
            if (bPrintable) {
                const uint8_t* pEnd = std::find(pText, static_cast<const uint8_t*>(ucPage + FACTORY_PAGE_SIZE), uint8_t{0});
                c.strFactorySerial = strUpper(std::string(pText, pEnd));
            }
        }
    }
    return true;
}

CSerialCandidate CKrvnUSBDev::candidateFor(CSerialCandidate& c, const std::string& strSerial,
                                           const std::string& strASCIISerial, int iBridgeType)
{
    CSerialCandidate found = c;
    if (strSerial.empty())
        return found;
    const bool bFound = bContains(c.strConfigSerial, strSerial) || bContains(c.strReversedSerial, strSerial) ||
                        bContains(c.strDescriptorSerial, strSerial) || bContains(c.strInstanceSerial, strSerial) ||
                        bContains(c.strDriverSerial, strSerial) || bContains(c.strFactorySerial, strSerial);
    if (bFound)
        return found;
    if (iBridgeType == BRIDGE_TYPE_752X) {
        if (!c.bNvmeSerialRead)
            ATAPassThrough_GetSSDSerialNumber(static_cast<int>(c.dwReportedNumber), c.strNvmeSerial);
        c.bNvmeSerialRead = true;
        found.strNvmeSerial = c.strNvmeSerial;
    }
    found.strASCIISerial = strASCIISerial;
    return found;
}
