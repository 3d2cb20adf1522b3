// The disk count the variant's reload takes its probe range from. The
// system keeps it with the disk driver's own data; here the configuration
// manager's present disk-drive nodes are that count, numbered as the drives
// the probe opens.
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

uint8_t CUSBUtility::GetDiskRegisterCount()
{
    static const char* const kWho = "CUSBUtility::GetDiskRegisterCount";
    try {
        unsigned nDisks = 0;
        for (const krv::DeviceNode& node : krv::Platform::current().deviceSetup().devices())
            if (node.classGuid == krv::setupclass::kDiskDrive)
                ++nDisks;
        vDEBUG_ERR_printf("%s:%d: disk count %u", kWho, __LINE__, nDisks);
        return static_cast<uint8_t>(nDisks & 0xFF);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: disk count not read, ErrorCode:%d", kWho, __LINE__,
                          static_cast<int>(krv::lastError()));
        return 0;
    }
}
