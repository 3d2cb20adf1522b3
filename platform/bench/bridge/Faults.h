#pragma once
// Faults on demand for one device: the next commands (or the next commands
// that start with given CDB bytes) fail at the transport, end with CHECK
// CONDITION, time out, come back with one data byte corrupted, store one byte
// other than was sent while answering the write good, or the device
// drops off the bus and stays away until it is plugged in again; or the next
// CPU reset (E8 50) is answered and carried out, but the device never comes
// back on the bus from it (until it is plugged in again); or the power-delivery
// controller (or MCU) behind the bridge never leaves its flash mode: its next
// power-up or reset keeps it there, and an erase stays busy. The disk's
// sector reads and writes count as commands (READ(16) 88 and WRITE(16) 8A),
// and a fault with an offset hits only a transfer over that byte of the disk.
// The file data that the host's file system moves to and from the device's
// volumes goes as such transfers too; a fault marked `files` hits only those
// (and no other fault does), so a fault can wait past the sector writes of a
// format for the first file written.
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bench/bridge/Sense.h"

namespace krv::bench {

enum class FaultKind { Fail, Check, Timeout, Corrupt, Drop, NoReturn, Stuck, CorruptStore };

struct Fault {
    FaultKind kind = FaultKind::Fail;
    uint32_t count = 1;               // commands it hits (a drop hits one)
    uint32_t after = 0;               // matching commands let through first
    std::vector<uint8_t> cdbPrefix;   // only commands starting so; empty: any
    uint32_t byteIndex = 0;           // corrupt: the data byte (modulo what moved)
    SenseCode sense = kInternalFailure;  // check: the sense it answers with
    std::optional<uint64_t> offset;   // only disk transfers over this byte of the disk
    bool files = false;               // only transfers of file data

    bool operator==(const Fault&) const = default;

    // A drop with no CDB and no "after" happens as it is set, not at a command.
    bool immediate() const { return kind == FaultKind::Drop && cdbPrefix.empty() && after == 0 && !offset && !files; }
};

std::string_view faultKindName(FaultKind kind);
bool parseFaultKind(std::string_view text, FaultKind& kind);

// A fault as "key = value" fields, the form of the inbox and of faults.ini:
// kind, count, after, cdb (hex), byte, sense (KK/AA/QQ in hex), offset (bytes,
// decimal or 0x hex).
std::map<std::string, std::string> faultFields(const Fault& fault);
bool faultFromFields(const std::map<std::string, std::string>& fields, Fault& fault, std::string& why);
// One line for people: "fail x2 on E2 50 after 1".
std::string describeFault(const Fault& fault);

// Faults waiting on one device, in the order they were set.
class FaultList {
public:
    void add(Fault fault) { faults_.push_back(std::move(fault)); }
    void clear() { faults_.clear(); }
    bool empty() const { return faults_.empty(); }
    const std::vector<Fault>& all() const { return faults_; }

    // The fault that hits a command with these CDB bytes, if any; its count
    // is used up. Corruption waits for a command that brings data in, a
    // corrupted store for one of the bridge's own that sends data out, a
    // no-return for a CPU reset. A disk
    // transfer gives the bytes of the disk it covers, [first, first + length).
    std::optional<Fault> hit(const uint8_t* cdb, size_t cdbLength, bool bringsDataIn, bool sendsDataOut,
                             std::optional<std::pair<uint64_t, uint64_t>> diskRange = std::nullopt,
                             bool fileData = false);

    // Uses up one fault of `kind` that waits for a device event rather than
    // a command (a stuck controller); none when no such fault waits.
    std::optional<Fault> hitEvent(FaultKind kind);

    std::string format() const;  // faults.ini
    bool parse(std::string_view text, std::string& why);

private:
    std::vector<Fault> faults_;
};

}  // namespace krv::bench
