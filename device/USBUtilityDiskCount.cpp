// The processor type and the registry value the variant's reload takes its
// probe range from. The registry holds, of what this program reads, one
// value: the disk driver's count of the disks it has enumerated, which here
// is the configuration manager's present disk-drive nodes, numbered as the
// drives the probe opens. Any other key is not there.
#include <strings.h>

#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint16_t kArchX86 = 0;
constexpr uint16_t kArchIA64 = 6;
constexpr uint16_t kArchX64 = 9;

uint32_t dwDiskEnumCount()
{
    uint32_t nDisks = 0;
    for (const krv::DeviceNode& node : krv::Platform::current().deviceSetup().devices())
        if (node.classGuid == krv::setupclass::kDiskDrive)
            ++nDisks;
    return nDisks;
}

struct RegistryValue {
    RegistryRoot root;
    const char* pszKeyPath;
    const char* pszValueName;
    uint32_t (*pfnRead)();
};

const RegistryValue kRegistry[] = {
    {RegistryRoot::LocalMachine, DISK_ENUM_KEY_PATH, DISK_ENUM_COUNT_NAME, dwDiskEnumCount},
};

// The registry's names ignore letter case.
bool bKeyThere(RegistryRoot root, const std::string& strKeyPath)
{
    for (const RegistryValue& value : kRegistry)
        if (value.root == root && ::strcasecmp(value.pszKeyPath, strKeyPath.c_str()) == 0)
            return true;
    return false;
}

const RegistryValue* pFindValue(RegistryRoot root, const std::string& strKeyPath, const std::string& strKeyName)
{
    for (const RegistryValue& value : kRegistry)
        if (value.root == root && ::strcasecmp(value.pszKeyPath, strKeyPath.c_str()) == 0 &&
            ::strcasecmp(value.pszValueName, strKeyName.c_str()) == 0)
            return &value;
    return nullptr;
}

const char* pszRootName(RegistryRoot root)
{
    switch (root) {
    case RegistryRoot::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case RegistryRoot::CurrentUser: return "HKEY_CURRENT_USER";
    case RegistryRoot::LocalMachine: return "HKEY_LOCAL_MACHINE";
    }
    return "";
}

}  // namespace

uint16_t CUSBUtility::wGetProcessorType()
{
    static const char* const kWho = "CUSBUtility::wGetProcessorType";
    try {
        const krv::ProcessorInfo info = krv::Platform::current().systemInfo().processorInfo();
        vDEBUG_MSG_printf("%s:%d: wGetProcessorType: dwMajorVersion %d", kWho, __LINE__, int(info.majorVersion));
        vDEBUG_MSG_printf("%s:%d: wGetProcessorType: dwMinorVersion %d", kWho, __LINE__, int(info.minorVersion));
        vDEBUG_MSG_printf("%s:%d: wGetProcessorType: wProductType %d", kWho, __LINE__, info.productType);
        vDEBUG_MSG_printf("%s:%d: wGetProcessorType: wProcessorArchitecture %d", kWho, __LINE__, info.architecture);
        return info.architecture;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: wGetProcessorType: dwErrorCode %d", kWho, __LINE__, int(krv::lastError()));
        return 0xFFFF;
    }
}

uint8_t CUSBUtility::GetDiskRegisterCount(RegistryRoot root, const std::string& strKeyPath,
                                          const std::string& strKeyName)
{
    static const char* const kWho = "CUSBUtility::GetDiskRegisterCount";
    try {
        const uint16_t wArch = wGetProcessorType();
        bool bOpened = false;
        if (wArch == kArchX64 || wArch == kArchIA64 || wArch == kArchX86) {
            bOpened = bKeyThere(root, strKeyPath);
            const uint32_t dwOpen = bOpened ? 0 : kErrorFileNotFound;
            vDEBUG_ERR_printf(wArch == kArchX86 ? "%s:%d: RegOpenKeyEx , _WIN32 ,  dwErrorCode:%d"
                                                : "%s:%d: RegOpenKeyEx , _WIN64 ,  dwErrorCode:%d",
                              kWho, __LINE__, int(dwOpen));
            if (!bOpened) {
                krv::setLastError(dwOpen);
                vDEBUG_ERR_printf("%s:%d: RegOpenKeyEx RootKey Fail , strKeyPath[%s] strKeyName[%s] Fail, ErrorCode:%d",
                                  kWho, __LINE__, strKeyPath.c_str(), strKeyName.c_str(), int(dwOpen));
                return 0;
            }
        }
        const RegistryValue* pValue = bOpened ? pFindValue(root, strKeyPath, strKeyName) : nullptr;
        if (!pValue) {
            const uint32_t dwQuery = bOpened ? kErrorFileNotFound : kErrorInvalidHandle;
            krv::setLastError(dwQuery);
            vDEBUG_ERR_printf(
                "%s:%d: RegQueryValueEx RootKey Fail , strKeyPath[%s] strKeyName[%s] bValueData[%d], ErrorCode:%d",
                kWho, __LINE__, strKeyPath.c_str(), strKeyName.c_str(), 0, int(dwQuery));
            return 0;
        }
        return static_cast<uint8_t>(pValue->pfnRead() & 0xFF);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: RootKey[%s] strKeyPath[%s] strKeyName[%s] Fail, ErrorCode:%d", kWho, __LINE__,
                          pszRootName(root), strKeyPath.c_str(), strKeyName.c_str(), int(krv::lastError()));
        return 0;
    }
}
