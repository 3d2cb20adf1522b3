#pragma once
// Benches for the discovery tests: drives on a root hub and chained external
// hubs, the scan as the scan thread runs it (the walk, then each record's
// disk information), and what the bench itself says of a port, to compare
// the device table with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "platform/Platform.h"
#include "platform/bench/BenchTopology.h"
#include "platform/bench/disk/DiskLayoutPlan.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {

// A USB serial for port `port` of a test bench.
inline std::string serialOfPort(int port)
{
    char text[32];
    std::snprintf(text, sizeof text, "KRVTEST%013d", port);
    return text;
}

// Starts for `ports` ports: each with its own serial and, unless `volume` is
// empty, its disk laid out so ("fat32:rest:P01" and the like).
inline std::vector<bench::PortStart> portStarts(int ports, const std::string& volume = "fat32:rest")
{
    std::vector<bench::PortStart> starts(static_cast<size_t>(ports));
    for (int i = 0; i < ports; ++i) {
        starts[static_cast<size_t>(i)].serial = serialOfPort(i + 1);
        if (!volume.empty()) {
            bench::DiskLayoutPlan spec;
            std::string why;
            if (!bench::parseDiskLayoutPlan(volume, spec, why))
                throw std::runtime_error("bad layout " + volume + ": " + why);
            starts[static_cast<size_t>(i)].disk = spec;
        }
    }
    return starts;
}

// A bench of small drives, chip and link by port, and a small system disk.
inline bench::BenchSettings benchOf(std::vector<std::pair<std::string, std::string>> chipsAndLinks)
{
    bench::BenchSettings settings;
    settings.systemDiskSize = 256ULL << 20;
    for (const auto& [chip, link] : chipsAndLinks) {
        bench::PortSettings port;
        port.chip = chip;
        port.link = link;
        port.diskSize = 64ULL << 20;
        settings.ports.push_back(port);
    }
    return settings;
}

// The scan as the scan thread runs it: the walk, then each record's disk
// information. The walk's result.
inline int scanBench(CKrvnUSBDev& dev, DevList& list, const std::string& targetChip = "0", int bridgeType = 2)
{
    const int result = dev.Open(&list, targetChip, bridgeType);
    for (int i = 0; i < list.DevNums; ++i) {
        DevInfo& slot = list.Devs[i];
        dev.nObtainDiSKInfo(strDrivePath(DriveKind::PhysicalDrive, slot.m_ucPhysicalAddress), slot);
    }
    return result;
}

inline bench::Topology topologyOf(BenchFixture& bench)
{
    bench::Topology topology;
    std::string why;
    if (!bench::buildTopology(bench.bench().settings(), topology, why))
        throw std::runtime_error(why);
    return topology;
}

// The slot whose record holds `serial`; -1 when none does.
inline int slotOfSerial(const DevList& list, const std::string& serial)
{
    for (int i = 0; i < MAX_DEV_SLOTS; ++i)
        if (list.Devs[i].m_ucPortIndex != DEV_PORT_INDEX_EMPTY && list.Devs[i].m_strSerialNumber == serial)
            return i;
    return -1;
}

}  // namespace krv::test
