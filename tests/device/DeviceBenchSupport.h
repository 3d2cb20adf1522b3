#pragma once
// What the device-layer tests need of the bench beside the system code under
// test: faults set on a port, the commands a port received, and the device
// table pointed at the bench's drives. The bench is the one device model;
// nothing here answers a command.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "platform/bench/bridge/CommandLog.h"
#include "platform/bench/bridge/Faults.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {

inline void addFault(BenchFixture& bench, int port, bench::FaultKind kind, std::vector<uint8_t> cdbPrefix = {},
                     uint32_t count = 1, uint32_t after = 0)
{
    bench::Fault fault;
    fault.kind = kind;
    fault.count = count;
    fault.after = after;
    fault.cdbPrefix = std::move(cdbPrefix);
    std::string outcome;
    ASSERT_TRUE(bench.devices().addFault(port, fault, outcome)) << outcome;
}

// The commands (not the events) the device on `port` received, in order.
inline std::vector<bench::LogEntry> commandsOf(BenchFixture& bench, int port)
{
    std::vector<bench::LogEntry> out;
    for (const bench::LogEntry& e : bench.devices().log(port))
        if (e.kind == bench::LogEntry::Kind::Command)
            out.push_back(e);
    return out;
}

inline std::vector<uint8_t> cdbOf(std::initializer_list<uint8_t> bytes) { return std::vector<uint8_t>(bytes); }

// A device table whose slot i is the drive of bench port i + 1, and the
// device-access object pointed at it.
struct DeviceTable {
    explicit DeviceTable(BenchFixture& bench, CKrvnUSBDev& dev, int ports = 1)
    {
        for (int i = 0; i < ports; ++i) {
            list.Devs[i].m_ucPortIndex = static_cast<uint8_t>(i);
            list.Devs[i].m_ucPhysicalAddress = static_cast<uint8_t>(bench.physicalDrive(i + 1));
        }
        list.DevNums = ports;
        dev.m_pDevList = &list;
    }
    DevList list;
};

// Debug output at the level command-line mode runs with, for the tests that
// check a line; back to silent afterwards.
struct DebugLevel {
    explicit DebugLevel(int level = 4) { vDEBUG_SetLevel(level); }
    ~DebugLevel() { vDEBUG_SetLevel(0); }
};

}  // namespace krv::test
