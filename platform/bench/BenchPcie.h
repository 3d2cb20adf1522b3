#pragma once
// The bench's PCIe side as the host's kernel I/O driver reaches it: a
// physical address space whose ECAM window (announced by the ACPI MCFG
// table) holds the configuration space of every function, and the legacy
// port pair 0xCF8/0xCFC onto the same functions.
//
// The functions: a host bridge at 00:00.0, a multi-function chipset device
// at 00:1F (functions 0 and 3) and, for every port whose bridge the link
// tunnels as PCIe (in port order), a root port at 00:(1+k).0 and behind it
// the bridge's switch: its upstream port at bus 2+4k (the function whose
// configuration space carries the mailbox), its downstream port at the next
// bus and the NVMe drive after that. A bridge's functions are there while
// it is on the bus; after it leaves and comes back they start afresh.
//
// The mailbox (the bridge firmware's side): the host writes an 8-byte
// command block at 0x780, a 128-byte chunk at 0x700 for data going out, and
// 0x5A to the doorbell at 0x790; the bridge takes the chunk, or hands the
// next one in at 0x700, and answers 0xA5 at the doorbell (0xEE when the
// command failed, nothing when it never ran). Writing the command block
// starts a new command; a whole command runs on the bridge model once, so
// it is logged and meets faults as one command.
//
// Per-call work stays in memory: nothing here touches a file.
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/KernelIo.h"
#include "platform/bench/BenchDevices.h"
#include "platform/bench/BenchSettings.h"

namespace krv::bench {

class BenchPcieFabric {
public:
    static constexpr uint64_t kDefaultEcamBase = 0xE0000000;
    static constexpr size_t kConfigSize = 4096;

    BenchPcieFabric(std::shared_ptr<BenchDevices> devices, const std::vector<PortSettings>& ports);

    // Where the ECAM window lies (a machine may put it above 4 GiB).
    void setEcamBase(uint64_t base);
    uint64_t ecamBase() const;
    // The ACPI MCFG table: one allocation, segment 0, buses 0..255.
    std::vector<uint8_t> mcfgTable() const;

    // Physical memory: false where nothing answers (outside the window).
    bool readPhysical(uint64_t address, uint8_t* out, size_t length);
    bool writePhysical(uint64_t address, const uint8_t* in, size_t length);
    // Configuration space by address; an absent function reads all ones and
    // ignores writes.
    uint8_t configRead(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset);
    void configWrite(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, uint8_t value);

    // The bus of the upstream port of `port`'s bridge; none when the port's
    // bridge is no PCIe function.
    std::optional<uint8_t> upstreamBus(int port) const;

private:
    struct Mailbox {
        bool armed = false;          // a command block was written since the last doorbell of a new command
        std::vector<uint8_t> data;   // in: the command's whole answer; out: the chunks so far
        size_t offset = 0;           // in: bytes handed to the window so far
        bool in = false;
        size_t total = 0;
        bool failed = false;
        bool programming = false;    // the command is stored, the EEPROM still programs it
    };
    struct Function {
        int port = 0;                // 0: always there
        uint64_t generation = 0;     // the appearance its space belongs to
        bool mailbox = false;
        std::array<uint8_t, kConfigSize> initial{};
        std::array<uint8_t, kConfigSize> space{};
        Mailbox box;
    };
    static uint32_t key(uint8_t bus, uint8_t device, uint8_t function)
    {
        return uint32_t{bus} << 8 | uint32_t(device & 31) << 3 | (function & 7);
    }
    // Where a physical range lies in the ECAM window; false: outside it.
    bool ecamOffset(uint64_t address, size_t length, uint64_t& offset) const;
    Function* presentLocked(uint8_t bus, uint8_t device, uint8_t function);
    void doorbellLocked(Function& f);
    void add(uint8_t bus, uint8_t device, uint8_t function, int port, std::array<uint8_t, kConfigSize> space,
             bool mailbox);

    std::shared_ptr<BenchDevices> devices_;
    mutable std::mutex mutex_;
    std::atomic<uint64_t> ecamBase_{kDefaultEcamBase};
    // Which functions exist is fixed when the fabric is made; their state
    // is kept under mutex_.
    std::map<uint32_t, Function> functions_;
    std::map<int, uint8_t> upstreamBus_;
};

// The KrvIo driver and the service control manager on the bench. A service
// whose driver file is "krvio.sys" or "KrvIo64.sys" offers the device
// "\\.\KrvIO" while it runs; the device takes the driver's control codes
// over the fabric's physical memory and ports.
class BenchKernelIo : public KernelIo {
public:
    explicit BenchKernelIo(std::shared_ptr<BenchPcieFabric> fabric);

    bool is64BitSystem() override { return true; }
    bool createService(const std::string& name, const std::string& driverPath) override;
    bool startService(const std::string& name) override;
    bool stopService(const std::string& name) override;
    bool deleteService(const std::string& name) override;
    std::unique_ptr<KernelIoDevice> openDevice(const std::string& path) override;
    uint32_t enumFirmwareTables(uint32_t provider, void* buffer, uint32_t size) override;
    uint32_t getFirmwareTable(uint32_t provider, uint32_t tableId, void* buffer, uint32_t size) override;

    BenchPcieFabric& fabric() { return *fabric_; }
    // What the tests look at: services installed now, and the driver calls made.
    size_t serviceCount() const;
    uint64_t controlCalls() const { return controlCalls_; }

private:
    friend class BenchKrvIoDevice;
    struct Service {
        std::string driverPath;
        bool running = false;
    };
    bool driverRunning() const;

    std::shared_ptr<BenchPcieFabric> fabric_;
    mutable std::mutex mutex_;
    std::map<std::string, Service> services_;
    // Services running now, kept beside the map: every driver call asks.
    std::atomic<int> running_{0};
    std::atomic<uint64_t> controlCalls_{0};
};

}  // namespace krv::bench
