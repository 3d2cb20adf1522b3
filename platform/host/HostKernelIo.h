#pragma once
// The kernel I/O service on a Linux host: there is no KrvIo driver and no
// service control manager, so every request fails plainly (last error 50,
// not supported) and no firmware table is offered. The PCIe path then finds
// nothing; the bench backend is the one that models the driver.
#include "platform/KernelIo.h"

namespace krv {

class HostKernelIo : public KernelIo {
public:
    bool is64BitSystem() override { return sizeof(void*) == 8; }
    bool createService(const std::string&, const std::string&) override;
    bool startService(const std::string&) override;
    bool stopService(const std::string&) override;
    bool deleteService(const std::string&) override;
    std::unique_ptr<KernelIoDevice> openDevice(const std::string&) override;
    uint32_t enumFirmwareTables(uint32_t, void*, uint32_t) override;
    uint32_t getFirmwareTable(uint32_t, uint32_t, void*, uint32_t) override;
};

}  // namespace krv
