#include "platform/ScsiPassThrough.h"

#include "platform/LastError.h"

namespace krv {

bool ScsiDevice::deviceNumber(StorageDeviceNumber&)
{
    setLastError(winerr::kInvalidFunction);
    return false;
}

bool ScsiDevice::deviceDescriptor(StorageDeviceDescriptor&)
{
    setLastError(winerr::kInvalidFunction);
    return false;
}

}  // namespace krv
