#pragma once
// The per-device record of every command a device received and of what
// happened to the device (reset, left the bus, came back), with the bench's
// monotonic time, so tests and people can check order and spacing. Kept in
// memory while the bench runs; written to the port's folder on request and
// when the bench closes.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ScsiPassThrough.h"
#include "platform/bench/bridge/Sense.h"

namespace krv::bench {

struct LogEntry {
    enum class Kind { Command, Event };
    enum class Result { Good, CheckCondition, TransportFailed };

    Kind kind = Kind::Command;
    uint64_t ms = 0;                  // the bench clock's monotonic milliseconds
    // Commands:
    bool cdrom = false;               // sent to the CD-ROM unit rather than the disk
    std::vector<uint8_t> cdb;
    DataDirection direction = DataDirection::None;
    uint32_t dataLength = 0;
    uint32_t timeoutSeconds = 0;      // what the host allowed the command
    Result result = Result::Good;
    SenseCode sense;                  // for CHECK CONDITION
    uint32_t transferred = 0;
    uint32_t lastError = 0;           // for a failed transport
    // Both: what a fault did, or what the event was.
    std::string note;
};

// "  1500 disk E2 50 00 00 FF 00 in 65280 t/o 3s -> good 65280" or
// "  4500 event connected as PhysicalDrive2".
std::string formatLogEntry(const LogEntry& entry);

class CommandLog {
public:
    // A long-running owner writes its log out and forgets what it wrote once
    // this many entries wait in memory.
    static constexpr size_t kSpillEntries = 20'000;
    // Should the file stay unwritable, the oldest entries go beyond this.
    static constexpr size_t kMaxEntries = 100'000;

    void add(LogEntry entry);
    void event(uint64_t ms, std::string what);
    const std::vector<LogEntry>& entries() const { return entries_; }
    size_t dropped() const { return dropped_; }

    // Appends what is new since the last flush to the log file; a header
    // line opens each session. A file past its bound is cut to its last lines.
    bool flush(const std::string& path, std::string& error);
    // Drops from memory what the file already holds.
    void forgetFlushed();
    bool wantsSpill() const { return entries_.size() >= kSpillEntries; }

private:
    std::vector<LogEntry> entries_;
    size_t dropped_ = 0;
    size_t flushed_ = 0;     // entries_ already in the file
    bool sessionOpened_ = false;
};

}  // namespace krv::bench
