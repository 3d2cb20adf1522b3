#include "driver_io/KrvIo.h"

#include <cstring>
#include <memory>
#include <string>

#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace {

constexpr char kServiceName[] = "KRVIO";
constexpr char kDevicePath[] = "\\\\.\\KrvIO";
constexpr size_t kMaxPath = 260;

constexpr uint32_t kMap = 0x80002000;
constexpr uint32_t kUnmap = 0x80002004;
constexpr uint32_t kReadPort = 0x80002008;
constexpr uint32_t kWritePort = 0x8000200C;
constexpr uint32_t kCommandWrite = 0x80002018;
constexpr uint32_t kCommandRead = 0x8000201C;
constexpr uint32_t kCommandWriteAll = 0x80002020;
constexpr uint32_t kCommandReadAll = 0x80002024;
constexpr uint32_t kReadMemory = 0x80002028;
constexpr uint32_t kWriteMemory = 0x8000202C;
constexpr uint32_t kDebugLevel = 0x80002030;

constexpr uint32_t kCommandWords = 11;
constexpr uint32_t kCommandBytes = kCommandWords * 4;

// Process-wide: the open device (none = the invalid handle) and whether the
// system is 64-bit, which sets the size of a mapped address in a reply.
std::unique_ptr<krv::KernelIoDevice> g_device;
int g_is64Bit = 0;

krv::KernelIo& kernelIo() { return krv::Platform::current().kernelIo(); }

bool request(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength, uint32_t& returned)
{
    returned = 0;
    return g_device && g_device->control(code, in, inLength, out, outLength, returned);
}

void stopAndDeleteService(bool& deleted)
{
    krv::KernelIo& io = kernelIo();
    io.stopService(kServiceName);
    deleted = io.deleteService(kServiceName);
}

uint32_t configAddress(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg)
{
    return 0x80000000u | uint32_t{bus} << 16 | uint32_t(device & 31) << 11 | uint32_t(function & 7) << 8 |
           (reg & 0xFCu);
}

uint32_t readPort(uint32_t port, uint32_t width)
{
    uint32_t req[3] = {port & 0xFFFF, width, 0};
    uint32_t value = 0;
    uint32_t returned = 0;
    request(kReadPort, req, sizeof req, &value, sizeof value, returned);
    return value;
}

bool writePort(uint32_t port, uint32_t width, uint32_t value, bool& succeeded)
{
    uint32_t req[3] = {port & 0xFFFF, width, value};
    uint32_t returned = 0;
    if (!g_device)
        return false;
    succeeded = request(kWritePort, req, sizeof req, nullptr, 0, returned);
    return true;
}

// The configuration-space mailbox's status byte and its reply bytes.
constexpr uint8_t kMailboxStatus = 0xE0;
constexpr uint8_t kMailboxReply = 0xF0;
constexpr uint8_t kCannotTake = 0x02;
constexpr uint8_t kReplyReady = 0x01;

int waitMailbox(uint32_t bus, uint32_t device, uint32_t function, bool awaitReady)
{
    auto awaited = [awaitReady](uint8_t v) { return awaitReady ? (v & kReplyReady) != 0 : (v & kCannotTake) == 0; };
    krv::Clock& clock = krv::Platform::current().clock();
    const uint64_t start = clock.monotonicMs();
    int absent = 0;
    uint8_t value = PCI_Read_BYTE(uint8_t(bus), uint8_t(device), uint8_t(function), kMailboxStatus);
    for (;;) {
        if (value == 0xFF) {
            if (++absent > 10)
                return -2;
        } else if (awaited(value)) {
            // Confirmed by the next read; a third read decides otherwise.
            value = PCI_Read_BYTE(uint8_t(bus), uint8_t(device), uint8_t(function), kMailboxStatus);
            if (awaited(value))
                return 0;
            value = PCI_Read_BYTE(uint8_t(bus), uint8_t(device), uint8_t(function), kMailboxStatus);
            continue;
        } else {
            if ((clock.monotonicMs() - start) / 1000 > 3)
                return -1;
            // A short pause keeps the wait from spinning a core (and lets a
            // virtual clock move).
            clock.sleepMs(1);
        }
        value = PCI_Read_BYTE(uint8_t(bus), uint8_t(device), uint8_t(function), kMailboxStatus);
    }
}

}  // namespace

extern "C" {

int LoadKrvIODriver(void)
{
    krv::KernelIo& io = kernelIo();
    g_is64Bit = io.is64BitSystem() ? 1 : 0;
    std::string exe = krv::executablePath();
    std::string path = krv::joinPath(krv::parentFolder(exe), g_is64Bit ? "KrvIo64.sys" : "krvio.sys");
    if (path.size() >= kMaxPath)
        path.resize(kMaxPath - 1);
    bool ignored = false;
    stopAndDeleteService(ignored);
    if (!io.createService(kServiceName, path))
        return 0;
    if (!io.startService(kServiceName) && krv::lastError() != krv::winerr::kServiceAlreadyRunning)
        return 0;
    auto device = io.openDevice(kDevicePath);
    if (!device)
        return 0;
    g_device = std::move(device);
    SET_DEBUG_LEVEL(0);
    return 1;
}

int UnloadKrvIODriver(void)
{
    g_device.reset();
    bool deleted = false;
    stopAndDeleteService(deleted);
    return deleted ? 1 : 0;
}

int SET_DEBUG_LEVEL(uint32_t level)
{
    uint32_t returned = 0;
    if (!request(kDebugLevel, &level, sizeof level, nullptr, 0, returned) || returned != 4)
        return -2;
    return 0;
}

uint32_t MapKrvIO(uint32_t physicalAddress, uint32_t size)
{
    uint32_t req[3] = {physicalAddress, size, 0};
    uint8_t reply[8] = {};
    uint32_t returned = 0;
    if (!request(kMap, req, sizeof req, reply, sizeof reply, returned) || returned != (g_is64Bit ? 8u : 4u))
        return 0;
    uint32_t address;
    std::memcpy(&address, reply, 4);
    return address;
}

uint64_t MapKrvIO64(uint32_t addressLow, uint32_t addressHigh, uint32_t size)
{
    uint32_t req[4] = {addressLow, addressHigh, size, 0};
    uint8_t reply[8] = {};
    uint32_t returned = 0;
    if (!request(kMap, req, sizeof req, reply, sizeof reply, returned) || returned != (g_is64Bit ? 8u : 4u))
        return 0;
    uint64_t address = 0;
    std::memcpy(&address, reply, returned);
    return address;
}

int UnmapKrvIO(uint32_t address, uint32_t size)
{
    uint32_t req[3] = {address, size, 0};
    uint32_t returned = 0;
    if (!g_device)
        return -1;
    return request(kUnmap, req, sizeof req, nullptr, 0, returned) ? 1 : 0;
}

int UnmapKrvIO64(uint32_t addressLow, uint32_t addressHigh, uint32_t size)
{
    uint32_t req[4] = {addressLow, addressHigh, size, 0};
    uint32_t returned = 0;
    if (!g_device)
        return -1;
    return request(kUnmap, req, sizeof req, nullptr, 0, returned) ? 1 : 0;
}

namespace {
int readMemory(const uint32_t* req, uint32_t reqLength, uint32_t length, void* destination)
{
    uint8_t reply[4] = {};
    uint32_t returned = 0;
    bool ok = length >= 1 && length <= 4 && request(kReadMemory, req, reqLength, reply, length, returned) &&
              returned == length;
    // The caller gets the reply area in every case: zeros after a failure.
    std::memcpy(destination, reply, length <= 4 ? length : 4);
    return ok ? 0 : -2;
}
}  // namespace

int ReadMEM(uint32_t physicalAddress, uint32_t length, void* destination)
{
    uint32_t req[3] = {physicalAddress, length, 0};
    return readMemory(req, sizeof req, length, destination);
}

int ReadMEM64(uint32_t addressLow, uint32_t addressHigh, uint32_t length, void* destination)
{
    uint32_t req[4] = {addressLow, addressHigh, length, 0};
    return readMemory(req, sizeof req, length, destination);
}

int WriteMEM(uint32_t physicalAddress, uint32_t length, const void* source)
{
    uint32_t req[3] = {physicalAddress, length, 0};
    if (length < 1 || length > 4)
        return -2;
    std::memcpy(&req[2], source, length);
    uint32_t returned = 0;
    if (!request(kWriteMemory, req, sizeof req, nullptr, 0, returned) || returned != length)
        return -2;
    return 0;
}

uint8_t ReadPortByte(uint32_t port) { return uint8_t(readPort(port, 1)); }
uint16_t ReadPortWord(uint32_t port) { return uint16_t(readPort(port, 2)); }
uint32_t ReadPortLong(uint32_t port) { return readPort(port, 4); }

int WritePortByte(uint32_t port, uint32_t value)
{
    bool succeeded = false;
    return writePort(port, 1, value & 0xFF, succeeded) ? 1 : 0;
}

int WritePortWord(uint32_t port, uint32_t value)
{
    bool succeeded = false;
    return writePort(port, 2, value & 0xFFFF, succeeded) ? 1 : 0;
}

int WritePortLong(uint32_t port, uint32_t value)
{
    bool succeeded = false;
    return writePort(port, 4, value, succeeded) && succeeded ? 1 : 0;
}

uint8_t PCI_Read_BYTE(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg)
{
    WritePortLong(0xCF8, configAddress(bus, device, function, reg));
    return ReadPortByte(0xCFC + (reg & 3));
}

uint32_t PCI_Read_DWORD(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg)
{
    WritePortLong(0xCF8, configAddress(bus, device, function, reg));
    return ReadPortLong(0xCFC + (reg & 3));
}

int PCI_Write_Byte(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint8_t value)
{
    if (!WritePortLong(0xCF8, configAddress(bus, device, function, reg)))
        return 0;
    WritePortByte(0xCFC + (reg & 3), value);
    return 1;
}

int PCI_Write_DWORD(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t value)
{
    // The register goes in whole: callers give a multiple of 4.
    uint32_t address = configAddress(bus, device, function, 0) | reg;
    WritePortLong(0xCF8, address);
    return WritePortLong(0xCFC, value);
}

int WriteCmd(uint32_t bus, uint32_t device, uint32_t function, uint32_t word0, uint32_t word1)
{
    uint32_t record[kCommandWords] = {bus, device, function, word0, word1};
    uint32_t returned = 0;
    return request(kCommandWrite, record, kCommandBytes, nullptr, 0, returned) ? 1 : 0;
}

int ReadCMD(uint32_t bus, uint32_t device, uint32_t function, uint32_t reply[11])
{
    uint32_t record[kCommandWords] = {bus, device, function, 0, 0};
    uint32_t answer[kCommandWords] = {};
    uint32_t returned = 0;
    bool ok = request(kCommandRead, record, kCommandBytes, answer, kCommandBytes, returned);
    std::memcpy(reply, answer, kCommandBytes);
    return ok && returned == kCommandBytes ? 1 : 0;
}

int WriteCmdALL(uint32_t bus, uint32_t device, uint32_t function, uint32_t command, uint32_t parameter, uint32_t word5,
                uint32_t word6, uint32_t word7, uint32_t word8)
{
    uint32_t record[kCommandWords] = {bus,          device,          function, 0,     0,     command & 0xFF,
                                      parameter & 0xFF, word5, word6, word7, word8};
    uint32_t returned = 0;
    return request(kCommandWriteAll, record, kCommandBytes, nullptr, 0, returned) && returned == kCommandBytes ? 1 : 0;
}

int ReadCMDAll(uint32_t bus, uint32_t device, uint32_t function, uint32_t parameter, uint32_t word4, uint32_t word5,
               uint32_t word6, uint32_t word7, uint32_t reply[2])
{
    uint32_t record[kCommandWords] = {bus, device, function, 0, 0, 0x40, parameter & 0xFF, word4, word5, word6, word7};
    uint32_t answer[kCommandWords] = {};
    uint32_t returned = 0;
    bool ok = request(kCommandReadAll, record, kCommandBytes, answer, kCommandBytes, returned);
    reply[0] = answer[3];
    reply[1] = answer[4];
    return ok && returned == kCommandBytes ? 1 : 0;
}

int Wait_Write_Ready(uint32_t bus, uint32_t device, uint32_t function) { return waitMailbox(bus, device, function, false); }

int Wait_Read_Ready(uint32_t bus, uint32_t device, uint32_t function) { return waitMailbox(bus, device, function, true); }

int KRVIO_Write_Command(uint32_t bus, uint32_t device, uint32_t function, uint32_t byte3, uint32_t byte4,
                        uint32_t word5, uint32_t word6, uint32_t word7, uint32_t word8)
{
    int r = Wait_Write_Ready(bus, device, function);
    if (r < 0)
        return r;
    WriteCmd(bus, device, function, (word5 & 0xFFFF) << 16 | (byte4 & 0xFF) << 8 | (byte3 & 0xFF), word6);
    r = Wait_Write_Ready(bus, device, function);
    if (r < 0)
        return r;
    WriteCmd(bus, device, function, word7, word8);
    return 0;
}

int KRVIO_Read_Memory(uint32_t bus, uint32_t device, uint32_t function, uint32_t parameter, uint32_t length,
                      uint32_t word5, uint32_t word6, uint32_t word7, void* destination)
{
    if (length > 8)
        return -4;
    WriteCmdALL(bus, device, function, 0x40, parameter, length, word5, word6, word7);
    int r = Wait_Read_Ready(bus, device, function);
    if (r < 0)
        return r;
    uint32_t reply[kCommandWords] = {};
    ReadCMD(bus, device, function, reply);
    r = Wait_Read_Ready(bus, device, function);
    if (r < 0)
        return r;
    uint8_t* out = static_cast<uint8_t*>(destination);
    if (length == 8) {
        ReadCMD(bus, device, function, reply);
        std::memcpy(out, &reply[3], 4);
        std::memcpy(out + 4, &reply[4], 4);
        return 0;
    }
    for (uint32_t i = 0; i < length; ++i)
        out[i] = PCI_Read_BYTE(uint8_t(bus), uint8_t(device), uint8_t(function), uint8_t(kMailboxReply + i));
    PCI_Write_Byte(uint8_t(bus), uint8_t(device), uint8_t(function), kMailboxStatus, 1);
    return 0;
}

}  // extern "C"
