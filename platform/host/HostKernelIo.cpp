#include "platform/host/HostKernelIo.h"

#include "platform/LastError.h"

namespace krv {

namespace {
template <typename T>
T notAvailable(T result)
{
    setLastError(winerr::kNotSupported);
    return result;
}
}  // namespace

bool HostKernelIo::createService(const std::string&, const std::string&) { return notAvailable(false); }
bool HostKernelIo::startService(const std::string&) { return notAvailable(false); }
bool HostKernelIo::stopService(const std::string&) { return notAvailable(false); }
bool HostKernelIo::deleteService(const std::string&) { return notAvailable(false); }
std::unique_ptr<KernelIoDevice> HostKernelIo::openDevice(const std::string&)
{
    return notAvailable(std::unique_ptr<KernelIoDevice>());
}
uint32_t HostKernelIo::enumFirmwareTables(uint32_t, void*, uint32_t) { return notAvailable(0u); }
uint32_t HostKernelIo::getFirmwareTable(uint32_t, uint32_t, void*, uint32_t) { return notAvailable(0u); }

}  // namespace krv
