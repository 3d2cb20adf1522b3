#pragma once
// The console programs of the bench machine. powercfg reads and switches the
// bench's power scheme (BenchSystemInfo) and prints what the real program
// prints; PnPUtil lists the PCI functions of the bridges that reach the host
// over PCIe (each KRV857x shows two, its upstream and its downstream port,
// both with the subsystem 8573:2C4B). Every run is recorded, so a test can
// see which programs a run started and with what.
//
// diskpart works on the bench's disks (BenchDiskPart); format and label put
// file systems and labels on their volumes (BenchFormat).
//
// A program the bench does not have does not start (last error 2).
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ConsolePrograms.h"
#include "platform/bench/BenchSettings.h"

namespace krv::bench {

class BenchDevices;
class BenchSystemInfo;

struct BenchPciFunction {
    std::string instanceId;   // "PCI\VEN_2C4B&DEV_8574&SUBSYS_85732C4B&REV_01\4&..."
    std::string description;
};

// The PCI functions of the bridges on `ports` that are on the bus now.
std::vector<BenchPciFunction> connectedPciFunctions(const std::vector<PortSettings>& ports, BenchDevices& devices);

struct ConsoleCall {
    std::string program;             // as the caller named it
    std::vector<std::string> args;
    bool started = false;
    uint32_t exitCode = 0;
};

class BenchConsolePrograms : public ConsolePrograms {
public:
    using PciFunctions = std::function<std::vector<BenchPciFunction>()>;

    // `pciFunctions` may be empty: then no PCI function is connected.
    // Without `devices` there are no disks for diskpart to work on.
    BenchConsolePrograms(BenchSystemInfo& system, PciFunctions pciFunctions,
                         std::shared_ptr<BenchDevices> devices = nullptr);

    ConsoleResult run(const ConsoleCommand& command, const StopSource* stop = nullptr) override;

    std::vector<ConsoleCall> calls() const;
    void clearCalls();

private:
    ConsoleResult powercfg(const std::vector<std::string>& args);
    ConsoleResult pnputil(const std::vector<std::string>& args);

    BenchSystemInfo& system_;
    PciFunctions pciFunctions_;
    std::shared_ptr<BenchDevices> devices_;
    mutable std::mutex mutex_;
    std::vector<ConsoleCall> calls_;  // guarded by mutex_
};

}  // namespace krv::bench
