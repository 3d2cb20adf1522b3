#pragma once
// The kernel I/O service: what the service control manager and the KrvIo
// kernel driver offer a user-mode program. A driver is installed as a
// kernel service from a file, started, stopped and deleted by name; its
// device is opened by path and takes buffered control codes, each with a
// request record in and a reply out. What a control code does is the
// driver's business: the backend is the driver.
//
// The firmware tables (EnumSystemFirmwareTables / GetSystemFirmwareTable)
// come with it: the one table the system reads, ACPI "MCFG", tells where the
// driver's physical memory holds PCIe configuration space.
#include <cstdint>
#include <memory>
#include <string>

namespace krv {

// An open driver device. Destroying it closes the handle.
class KernelIoDevice {
public:
    virtual ~KernelIoDevice() = default;
    // One DeviceIoControl: false with the last error set when the driver
    // refused it; `returned` is the reply's byte count.
    virtual bool control(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                         uint32_t& returned) = 0;
};

class KernelIo {
public:
    virtual ~KernelIo() = default;
    // GetSystemWow64DirectoryW's verdict: the system runs 64-bit code.
    virtual bool is64BitSystem() = 0;
    // The service control manager. Each is false with the last error set:
    // 1060 no such service, 1073 it exists already, 1056 already running
    // (start), 1062 not running (stop), 2 the driver file is missing (start).
    virtual bool createService(const std::string& name, const std::string& driverPath) = 0;
    virtual bool startService(const std::string& name) = 0;
    virtual bool stopService(const std::string& name) = 0;
    virtual bool deleteService(const std::string& name) = 0;
    // The driver's device by its path ("\\.\KrvIO"); null with the last error
    // set (2) while no running driver offers it.
    virtual std::unique_ptr<KernelIoDevice> openDevice(const std::string& path) = 0;

    // Firmware tables of `provider` (a four-character code, e.g. 'ACPI'):
    // the list of table ids, or one table by id; both return the size the
    // whole answer needs and copy it only when `size` takes it all (0 with
    // the last error set when there is none).
    virtual uint32_t enumFirmwareTables(uint32_t provider, void* buffer, uint32_t size) = 0;
    virtual uint32_t getFirmwareTable(uint32_t provider, uint32_t tableId, void* buffer, uint32_t size) = 0;
};

// A four-character code as the firmware table calls take it: 'A' in the
// highest byte ("ACPI" -> 0x41435049), as Windows spells provider ids; table
// ids are the signature's bytes in memory order ("MCFG" -> 0x4746434D).
constexpr uint32_t firmwareProvider(const char (&code)[5])
{
    return uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16 | uint32_t(uint8_t(code[2])) << 8 |
           uint8_t(code[3]);
}
constexpr uint32_t firmwareTableId(const char (&code)[5])
{
    return uint32_t(uint8_t(code[3])) << 24 | uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[1])) << 8 |
           uint8_t(code[0]);
}

}  // namespace krv
