// The full scan on a bench: the USB walk over root hub and chained hubs, the
// identification of every bridge, and the records it fills.
#include <gtest/gtest.h>

#include <set>

#include "device/USBUtility.h"
#include "tests/device/DiscoveryBenchSupport.h"
#include "tests/device/DeviceBenchSupport.h"

namespace krv::test {
namespace {

struct LinkCase {
    const char* chip;
    const char* link;
    const char* speed;
    uint8_t u4Mode;
    uint8_t linkSpeed;
    const char* usbSpeed;
};

// Every chip of the family the scan looks for, on every USB link and speed.
const LinkCase kLinks[] = {
    {"KRV8571", "USB3", "Gen1x1", U4_MODE_LEGACY, USB_SPEED_SUPER, "SUPERx1"},
    {"KRV8572", "USB3", "Gen1x2", U4_MODE_LEGACY, USB_SPEED_SUPER_X2, "SUPERx2"},
    {"KRV8573", "USB3", "Gen2x1", U4_MODE_LEGACY, USB_SPEED_PLUS, "PLUSx1"},
    {"KRV8574", "USB3", "Gen2x2", U4_MODE_LEGACY, USB_SPEED_PLUS_X2, "PLUSx2"},
    {"KRV8575", "USB2", "High", U4_MODE_LEGACY, USB_SPEED_HIGH, "HIGH"},
    {"KRV8571", "USB2", "Full", U4_MODE_LEGACY, USB_SPEED_FULL, "FULL"},
    {"KRV8572", "USB4-U3", "Gen2x1", U4_MODE_U3_TNL, U4_SPEED_GEN2X1, ""},
    {"KRV8573", "USB4-U3", "Gen2x2", U4_MODE_U3_TNL, U4_SPEED_GEN2X2, ""},
    {"KRV8574", "USB4-U3", "Gen3x1", U4_MODE_U3_TNL, U4_SPEED_GEN3X1, ""},
    {"KRV8575", "USB4-U3", "Gen3x2", U4_MODE_U3_TNL, U4_SPEED_GEN3X2, ""},
};
constexpr int kLinkCases = sizeof kLinks / sizeof kLinks[0];

bench::BenchSettings sixteenDrives()
{
    bench::BenchSettings settings;
    settings.systemDiskSize = 256ULL << 20;
    settings.ports.resize(16);
    for (int i = 0; i < 16; ++i) {
        const LinkCase& c = kLinks[i % kLinkCases];
        bench::PortSettings& port = settings.ports[static_cast<size_t>(i)];
        port.chip = c.chip;
        port.link = c.link;
        port.speed = c.speed;
        port.diskSize = (64ULL + 8ULL * static_cast<uint64_t>(i)) << 20;
    }
    // 8 root ports, 7 per hub: the drives and the USB disk fill root ports
    // 1-7, the first hub's ports 1-6 and the second hub's first four.
    // The plain USB disk sits early on the root hub, so the walk meets it
    // before the table is full.
    settings.usbDisk = bench::UsbDiskSettings{};
    settings.usbDisk->diskSize = 64ULL << 20;
    settings.usbDisk->location = bench::UsbLocation{0, {2}};
    return settings;
}

class FullScan : public ::testing::Test {
protected:
    FullScan() : bench(sixteenDrives(), portStarts(16, "raw:rest")) {}
    void SetUp() override { vDEBUG_SetLevel(4); }
    void TearDown() override { vDEBUG_SetLevel(0); }

    BenchFixture bench;
    CKrvnUSBDev dev;
    DevList list;
};

TEST_F(FullScan, SixteenDrivesOnRootAndChainedHubsFillTheTableAndNothingElse)
{
    ASSERT_EQ(scanBench(dev, list), 0);
    ASSERT_EQ(list.DevNums, 16);

    const bench::Topology topology = topologyOf(bench);
    // Root ports 1 and 3-7 (the USB disk has 2), the hub on root port 8
    // (ports 1-6), the hub on its port 7 (ports 1-4): port + 10 x the
    // port the hub sits on + 100 x depth.
    const int kLocations[16] = {1, 3, 4, 5, 6, 7, 181, 182, 183, 184, 185, 186, 271, 272, 273, 274};
    std::set<int> hubsSeen;
    std::set<std::string> hubNames;
    int previousLocation = -1;
    for (int port = 1; port <= 16; ++port) {
        SCOPED_TRACE("port " + std::to_string(port));
        const int slot = slotOfSerial(list, serialOfPort(port));
        ASSERT_GE(slot, 0);
        const DevInfo& rec = list.Devs[slot];
        const LinkCase& link = kLinks[(port - 1) % kLinkCases];
        const bench::UsbLocation& location = topology.ports[static_cast<size_t>(port - 1)];

        EXPECT_EQ(rec.m_ucPortIndex, slot);
        EXPECT_EQ(rec.m_ucPhysicalAddress, bench.physicalDrive(port));
        EXPECT_EQ(rec.m_iPortLocation, kLocations[port - 1]);
        EXPECT_EQ(rec.m_ulPortIndex, static_cast<uint32_t>(location.path.back()));
        EXPECT_EQ(rec.m_ulPortCount, location.path.size() == 1 ? 8u : 7u);
        hubsSeen.insert(static_cast<int>(location.path.size()));
        hubNames.insert(rec.m_strHubName);

        // Identity and link.
        // On a USB 3 tunnel the bridge answers "8576", which names no chip
        // type; its disk is still identified.
        const bool bTunnel = std::string(link.link) == "USB4-U3";
        EXPECT_EQ(rec.m_ucDevType, bTunnel ? DEV_TYPE_UNKNOWN : DEV_TYPE_8574);
        EXPECT_EQ(rec.m_strChipText, bTunnel ? "Not Defined" : "857B");
        EXPECT_EQ(rec.m_ucU4Mode, link.u4Mode);
        EXPECT_EQ(rec.m_ucLinkSpeed, link.linkSpeed);
        EXPECT_EQ(rec.m_strUSBSpeed, link.usbSpeed);
        EXPECT_EQ(rec.m_strFWVersion.size(), 12u);
        EXPECT_FALSE(rec.m_strHDDSN.empty());

        // The disk and its volume.
        const uint64_t size = bench.bench().settings().ports[static_cast<size_t>(port - 1)].diskSize;
        EXPECT_EQ(rec.m_ullCapacity, size);
        EXPECT_EQ(rec.m_dwDiskInfo[2], 512u);
        EXPECT_EQ(uint64_t{rec.m_dwDiskInfo[6]} | uint64_t{rec.m_dwDiskInfo[7]} << 32, size);
        const std::vector<char> letters = Platform::current().volumes().lettersOfDisk(rec.m_ucPhysicalAddress);
        ASSERT_EQ(letters.size(), 1u);
        EXPECT_EQ(rec.m_cDriveLetter, letters[0]);

        // Slots follow the walk: root ports, then the hubs' in order.
        EXPECT_GT(rec.m_iPortLocation, previousLocation);
        previousLocation = rec.m_iPortLocation;
    }
    EXPECT_EQ(hubsSeen, (std::set<int>{1, 2, 3}));   // root hub and both chained hubs
    EXPECT_EQ(hubNames.size(), 3u);

    // Only the bridges' disks: never the system disk (0), never the plain
    // USB disk that sits among them on the root hub.
    std::set<int> drives;
    std::set<int> bridges;
    for (int port = 1; port <= 16; ++port) {
        drives.insert(list.Devs[port - 1].m_ucPhysicalAddress);
        bridges.insert(bench.physicalDrive(port));
    }
    EXPECT_EQ(drives, bridges);
    EXPECT_EQ(drives.count(0), 0u);
    EXPECT_TRUE(bench.capture().contains("This USB is not KRVN 857x Chip"));
}

TEST_F(FullScan, ASecondScanFindsTheSameTableAndTheHubTableIsKept)
{
    ASSERT_EQ(scanBench(dev, list), 0);
    DevList again;
    ASSERT_EQ(scanBench(dev, again), 0);
    ASSERT_EQ(again.DevNums, 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(again.Devs[i].m_strSerialNumber, list.Devs[i].m_strSerialNumber) << i;
        EXPECT_EQ(again.Devs[i].m_ucPhysicalAddress, list.Devs[i].m_ucPhysicalAddress) << i;
    }
    CUSBWalkState::HUB_ENTRY hubs[WALK_HUB_TABLE_SIZE];
    dev.vGetHubTable(hubs);
    EXPECT_EQ(hubs[0].ulPortCount, 8u);
    EXPECT_EQ(hubs[1].ulPortCount, 7u);
    EXPECT_EQ(hubs[2].ulPortCount, 7u);
    EXPECT_EQ(hubs[3].ulPortCount, 0u);
    // Each hub's last port holds the next hub in the chain.
    EXPECT_EQ(hubs[0].ucPortMark[8], 1);
    EXPECT_EQ(hubs[1].ucPortMark[7], 1);
}

// ---- smaller benches -----------------------------------------------------------------

class Walk : public ::testing::Test {
protected:
    void SetUp() override { vDEBUG_SetLevel(4); }
    void TearDown() override { vDEBUG_SetLevel(0); }
    CKrvnUSBDev dev;
    DevList list;
};

TEST_F(Walk, NoBridgeDriveOnTheTreeGivesAnEmptyTable)
{
    bench::BenchSettings settings = benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB4"}});
    settings.ports[0].present = false;   // unplugged; the other is a PCIe function
    settings.usbDisk = bench::UsbDiskSettings{};
    BenchFixture bench(settings, portStarts(2, ""));
    list.Devs[3].m_ucPortIndex = 3;   // left from an earlier scan

    EXPECT_EQ(dev.Open(&list, "0", BRIDGE_TYPE_857X), OPEN_NO_DEVICE);
    EXPECT_EQ(list.DevNums, 0);
    for (const DevInfo& rec : list.Devs) {
        EXPECT_EQ(rec.m_ucPortIndex, DEV_PORT_INDEX_EMPTY);
        EXPECT_EQ(rec.m_iPortLocation, DEV_PORT_LOCATION_NONE);
    }
}

TEST_F(Walk, PortsWithoutAReadableSerialAreSkippedAndMarked)
{
    bench::BenchSettings settings = benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB3"}, {"KRV8574", "USB3"},
                                             {"KRV8574", "USB3"}});
    settings.ports[1].usbStrings = bench::UsbStrings::NoSerial;
    settings.ports[2].usbStrings = bench::UsbStrings::Unreadable;
    settings.ports[3].usbStrings = bench::UsbStrings::NoLanguages;
    BenchFixture bench(settings, portStarts(4, ""));

    ASSERT_EQ(dev.Open(&list, "0", BRIDGE_TYPE_857X), 0);
    ASSERT_EQ(list.DevNums, 1);
    EXPECT_EQ(list.Devs[0].m_strSerialNumber, serialOfPort(1));
    EXPECT_EQ(list.Devs[0].m_ucPhysicalAddress, bench.physicalDrive(1));

    const bench::Topology topology = topologyOf(bench);
    CUSBWalkState::HUB_ENTRY hubs[WALK_HUB_TABLE_SIZE];
    dev.vGetHubTable(hubs);
    for (int port = 2; port <= 4; ++port)
        EXPECT_EQ(hubs[0].ucPortMark[topology.ports[static_cast<size_t>(port - 1)].path.back()], 1) << port;
    EXPECT_EQ(hubs[0].ucPortMark[topology.ports[0].path.back()], 0);
    size_t invalid = 0;
    for (const std::string& line : bench.capture().lines())
        invalid += line.find("Invalid GetDeviceDescriptor") != std::string::npos;
    EXPECT_EQ(invalid, 3u);
}

TEST_F(Walk, LocationCodesOnASecondControllerAndBehindHubs)
{
    const struct {
        bench::UsbLocation location;
        int code;
        uint32_t portCount;
    } cases[] = {
        // Port 3 of the first controller's root hub.
        {{0, {3}}, 3, 8},
        // Port 3 of a hub on root port 2 of the second controller.
        {{1, {2, 3}}, 1123, 4},
        // Port 2 of a 4-port hub on root port 5 of the second controller.
        {{1, {5, 2}}, 1152, 4},
        // Port 1 of a hub on port 4 of that hub.
        {{1, {5, 4, 1}}, 1241, 4},
        // A root port after those hubs: its code is its own, whatever hubs
        // the walk went through before it.
        {{1, {6}}, 1006, 8},
    };
    constexpr int kCases = sizeof cases / sizeof cases[0];
    bench::BenchSettings settings = benchOf(std::vector<std::pair<std::string, std::string>>(kCases, {"KRV8574", "USB3"}));
    settings.topology.controllers = 2;
    settings.topology.hubPorts = 4;
    for (int i = 0; i < kCases; ++i)
        settings.ports[static_cast<size_t>(i)].location = cases[i].location;
    BenchFixture bench(settings, portStarts(kCases, ""));

    ASSERT_EQ(dev.Open(&list, "0", BRIDGE_TYPE_857X), 0);
    ASSERT_EQ(list.DevNums, kCases);
    for (int port = 1; port <= kCases; ++port) {
        const int slot = slotOfSerial(list, serialOfPort(port));
        ASSERT_GE(slot, 0) << port;
        EXPECT_EQ(list.Devs[slot].m_iPortLocation, cases[port - 1].code) << port;
        EXPECT_EQ(list.Devs[slot].m_ulPortCount, cases[port - 1].portCount) << port;
    }
}

}  // namespace
}  // namespace krv::test
