#pragma once
// The devices of a bench as the host sees them: the system disk as
// PhysicalDrive0 and, for every port that is plugged in and on the bus, its
// bridge under a physical-drive number (and a CD-ROM number when the port is
// set so). Commands reach a device through the numbers, as through the
// operating system's pass-through; faults set on a port hit its commands
// first, and every command and event goes into the port's log.
//
// Time comes from the bench's clock and is judged lazily: a reset schedules
// the bridge's leaving and coming back, and whatever is due has happened by
// the time anyone looks (a command, an open, a query). Nothing here writes a
// file for a read; EEPROM files are written when a write completes, the rest
// of the state when it changes and when the bench closes.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/ScsiPassThrough.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/bridge/Bridge.h"
#include "platform/bench/bridge/CommandLog.h"
#include "platform/bench/bridge/Faults.h"
#include "platform/bench/bridge/PortState.h"

namespace krv::bench {

// An open drive: which device, which unit, and which appearance of it on the
// bus (a handle does not follow a device that left and came back).
struct DeviceTarget {
    int port = 0;  // 0: the system disk
    Unit unit = Unit::Disk;
    uint64_t generation = 0;
};

class BenchDevices {
public:
    BenchDevices(std::string benchFolder, Clock& clock);
    ~BenchDevices();
    BenchDevices(const BenchDevices&) = delete;
    BenchDevices& operator=(const BenchDevices&) = delete;

    // Writes the starting state of every port of a new bench.
    static bool initialise(const std::string& benchFolder, const BenchSettings& settings,
                           const std::vector<PortStart>& starts, std::string& error);
    // Loads every port's state and gives the devices on the bus their numbers.
    bool load(const BenchSettings& settings, std::string& error);

    // The pass-through. `open` sets the last error (2) when no such drive is there.
    std::optional<DeviceTarget> open(DriveKind kind, int number);
    bool execute(const DeviceTarget& target, ScsiCommand& command);

    // Changes asked of the bench. Plugging in also brings back a device that
    // dropped off or disconnected itself. The outcome is a sentence for people.
    void setPresent(int port, bool present, std::string& outcome);
    bool addFault(int port, const Fault& fault, std::string& outcome);
    void clearFaults(int port, std::string& outcome);
    bool flushLog(int port, std::string& error);
    // Finishes what is under way (a device coming back), saves every port and
    // writes the logs; afterwards every command fails.
    void close();

    // What tests and tools look at.
    std::optional<int> physicalDrive(int port);
    std::optional<int> cdrom(int port);
    bool onBus(int port);
    // The port's log entries still in memory: all of this run's, unless a
    // very long run has spilled older ones to the log file.
    std::vector<LogEntry> log(int port);
    PortState state(int port);
    uint8_t registerValue(int port, uint32_t address);
    std::string portFolder(int port) const;

private:
    struct Port {
        std::unique_ptr<Bridge> bridge;
        CommandLog log;
        bool present = true;
        bool away = false;                    // left the bus for a reset, not back yet
        uint64_t generation = 1;
        std::optional<uint64_t> leaveAtMs;
        std::optional<uint64_t> returnAtMs;
        bool resetting = false;               // the pending leave is a CPU reset (else a disconnect)
        std::pair<int, int> previousNumbers{-1, -1};  // drive and CD-ROM numbers before leaving
    };

    bool onBusLocked(const Port& p) const;
    Port* portLocked(int port);
    void advanceLocked(uint64_t nowMs);
    void leaveLocked(Port& p, uint64_t atMs);
    void returnLocked(Port& p, uint64_t atMs);
    void dropLocked(Port& p, uint64_t atMs, const char* why);
    void assignNumbersLocked(Port& p, int previousDrive, int previousCdrom);
    void saveStateLocked(Port& p);
    bool flushLogLocked(Port& p, std::string& error);
    void recordLocked(Port& p, LogEntry entry);

    std::string folder_;
    Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<Port> ports_;
    DiskIdentity systemDisk_;
    bool closed_ = false;
};

}  // namespace krv::bench
