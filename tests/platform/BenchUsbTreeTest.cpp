// The bench's USB tree as the host-controller enumeration and the hub
// requests show it: hubs and ports where the topology puts them, and on the
// ports the bridges as they run now, with descriptors and strings taken from
// the configuration image each one booted.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/DeviceClasses.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/bridge/Images.h"
#include "tests/platform/BenchBridgeSupport.h"
#include "tests/platform/BenchUsbTreeSupport.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

// Sixteen drives of every family and USB link, the way a production bench
// holds them: a root hub and two chained hubs, by default.
bench::BenchSettings mixedSixteen()
{
    bench::BenchSettings s;
    s.ports.resize(16);
    s.ports[4].link = "USB4-U3";
    s.ports[6].chip = "KRV752B";
    s.ports[7].chip = "KRV6390";
    s.ports[7].link = "USB2";
    s.ports[9].chip = "KRV8572";
    s.ports[9].speed = "Gen1x1";
    s.ports[15].chip = "KRV752A";
    s.ports[15].link = "USB2";
    s.ports[15].speed = "Full";
    return s;
}

std::string benchSerial(int port)
{
    char text[24];
    std::snprintf(text, sizeof text, "KRVBENCH%012d", port);
    return text;
}

TEST(BenchUsbTree, SixteenDrivesSitOnARootHubAndTwoChainedHubs)
{
    BenchFixture bench(mixedSixteen());
    std::map<std::string, int> hubPorts;
    std::vector<SeenDevice> seen = walkTree(&hubPorts);

    EXPECT_EQ(hubPorts, (std::map<std::string, int>{{"0", 8}, {"0-8", 7}, {"0-8.7", 7}}));
    std::vector<std::string> expected;
    for (int p = 1; p <= 7; ++p)
        expected.push_back("0-" + std::to_string(p));
    expected.push_back("0-8");
    for (int p = 1; p <= 6; ++p)
        expected.push_back("0-8." + std::to_string(p));
    expected.push_back("0-8.7");
    for (int p = 1; p <= 3; ++p)
        expected.push_back("0-8.7." + std::to_string(p));
    std::vector<std::string> locations;
    for (const auto& d : seen)
        locations.push_back(d.location);
    EXPECT_EQ(locations, expected);

    // The drives in port order; each shows the identity its image gives it.
    int port = 0;
    for (const auto& d : seen) {
        if (d.info.deviceIsHub) {
            EXPECT_EQ(d.info.deviceDescriptor.bDeviceClass, 9);
            continue;
        }
        ++port;
        SCOPED_TRACE("port " + std::to_string(port));
        EXPECT_EQ(d.info.deviceDescriptor.idVendor, 0x2C4B);
        uint16_t pid = port == 7 || port == 16 ? 0x7520 : port == 8 ? 0x6390 : port == 10 ? 0x8572 : 0x8574;
        EXPECT_EQ(d.info.deviceDescriptor.idProduct, pid);
        EXPECT_EQ(d.info.deviceDescriptor.bcdDevice, 0x0100);
        EXPECT_EQ(d.driverKey.substr(0, 38), "{36fc9e60-c465-11cf-8056-444553540000}");
        EXPECT_GT(d.info.bytesReturned(), 35u) << "a configured device has its pipes open";
        auto hub = Platform::current().usbTree().openHub(d.hubName);
        ASSERT_TRUE(hub);
        uint32_t onHub = static_cast<uint32_t>(std::stoi(d.location.substr(d.location.find_last_of("-.") + 1)));
        std::string serial, manufacturer;
        ASSERT_TRUE(readString(*hub, onHub, d.info.deviceDescriptor.iSerialNumber, serial));
        EXPECT_EQ(serial, benchSerial(port));
        ASSERT_TRUE(readString(*hub, onHub, d.info.deviceDescriptor.iManufacturer, manufacturer));
        EXPECT_EQ(manufacturer, "KRV Bench");
    }
    EXPECT_EQ(port, 16);
}

TEST(BenchUsbTree, EachLinkRunsAtItsSpeed)
{
    struct Case {
        const char* link;
        const char* speed;
        bool onUsb;
        UsbDeviceSpeed expected;
        bool plus;
    };
    const Case cases[] = {
        {"USB2", "Full", true, UsbDeviceSpeed::Full, false},  {"USB2", "High", true, UsbDeviceSpeed::High, false},
        {"USB3", "Gen1x1", true, UsbDeviceSpeed::Super, false}, {"USB3", "Gen2x2", true, UsbDeviceSpeed::Super, true},
        {"USB4-U3", "Gen3x2", true, UsbDeviceSpeed::Super, true}, {"USB4", "Gen3x2", false, UsbDeviceSpeed::Super, false},
        {"TBT3", "Gen3x2", false, UsbDeviceSpeed::Super, false},
    };
    bench::BenchSettings s;
    for (const auto& c : cases) {
        bench::PortSettings p;
        p.link = c.link;
        p.speed = c.speed;
        s.ports.push_back(p);
    }
    BenchFixture bench(s);
    auto hub = Platform::current().usbTree().openHub(walkTree().empty() ? "" : walkTree().front().hubName);
    ASSERT_TRUE(hub);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string(cases[i].link) + " " + cases[i].speed);
        UsbConnectionInfo info;
        ASSERT_TRUE(hub->connectionInformation(static_cast<uint32_t>(i + 1), info));
        if (!cases[i].onUsb) {
            EXPECT_EQ(info.status, UsbConnectionStatus::NoDeviceConnected) << "a PCIe tunnel has no USB device";
            continue;
        }
        EXPECT_EQ(info.status, UsbConnectionStatus::DeviceConnected);
        EXPECT_EQ(info.speed, cases[i].expected);
        EXPECT_EQ(info.superSpeedPlus, cases[i].plus);
        EXPECT_EQ(info.deviceDescriptor.bcdUSB, cases[i].expected == UsbDeviceSpeed::Super ? 0x0320 : 0x0210);
    }
}

TEST(BenchUsbTree, DescriptorsFollowTheImageTheBridgeBootedNotTheOneStored)
{
    bench::BenchSettings s;
    s.ports.resize(1);
    s.ports[0].relinkMs = 2000;
    BenchFixture bench(s);
    auto d = openDrive(bench.physicalDrive(1));
    ASSERT_TRUE(d);
    Bytes config = readConfig(*d, 0, 0).data;
    const char serial[] = "NEWSERIAL00000000042";
    std::copy(serial, serial + 20, config.begin() + 4);
    config[118] = 0x76;  // product id 8576
    config[127] = bench::configChecksum(config);
    ASSERT_TRUE(writeConfig(*d, 0, 0, config).good());

    auto seenNow = [] {
        auto seen = walkTree();
        return seen.empty() ? UsbConnectionInfo{} : seen.front().info;
    };
    EXPECT_EQ(seenNow().deviceDescriptor.idProduct, 0x8574) << "stored, not yet running";
    ASSERT_TRUE(cpuReset(*d).good());
    bench.clock().sleepMs(1);
    EXPECT_EQ(seenNow().status, UsbConnectionStatus::NoDeviceConnected) << "away while it resets";
    bench.clock().sleepMs(2000);
    UsbConnectionInfo back = seenNow();
    EXPECT_EQ(back.deviceDescriptor.idProduct, 0x8576);
    auto hub = Platform::current().usbTree().openHub(walkTree().front().hubName);
    std::string text;
    ASSERT_TRUE(readString(*hub, 1, back.deviceDescriptor.iSerialNumber, text));
    EXPECT_EQ(text, serial);
}

// Strings missing or odd, as the walk must cope with them.
TEST(BenchUsbTree, MissingAndOddStrings)
{
    bench::BenchSettings s;
    s.ports.resize(5);
    s.ports[1].usbStrings = bench::UsbStrings::NoSerial;
    s.ports[2].usbStrings = bench::UsbStrings::Unreadable;
    s.ports[3].usbStrings = bench::UsbStrings::NoLanguages;
    std::vector<bench::PortStart> starts(5);
    starts[0].serial = " ab12cd ";
    Bytes odd = bench::makeUsb3Config("KRV\xE9X", 0x8574, "Bench\x7F" "Drive");
    starts[4].usb3Config = odd;
    BenchFixture bench(s, starts);
    auto hub = Platform::current().usbTree().openHub(walkTree().front().hubName);
    ASSERT_TRUE(hub);
    auto info = [&](uint32_t port) {
        UsbConnectionInfo i;
        hub->connectionInformation(port, i);
        return i.deviceDescriptor;
    };
    std::string text;
    ASSERT_TRUE(readString(*hub, 1, info(1).iSerialNumber, text));
    EXPECT_EQ(text, " ab12cd ") << "the string as the device holds it; trimming is the reader's";

    EXPECT_EQ(info(2).iSerialNumber, 0) << "no serial-number string";
    EXPECT_NE(info(2).iProduct, 0);

    std::vector<uint8_t> d;
    ASSERT_TRUE(hub->descriptor(3, usbdesc::value(usbdesc::kString, 0), 0, 255, d)) << "languages still readable";
    setLastError(0);
    EXPECT_FALSE(hub->descriptor(3, usbdesc::value(usbdesc::kString, info(3).iSerialNumber), 0x0409, 255, d));
    EXPECT_EQ(lastError(), winerr::kGenFailure);
    EXPECT_FALSE(hub->descriptor(4, usbdesc::value(usbdesc::kString, 0), 0, 255, d));

    std::vector<uint8_t> serial;
    ASSERT_TRUE(hub->descriptor(5, usbdesc::value(usbdesc::kString, info(5).iSerialNumber), 0x0409, 255, serial));
    ASSERT_EQ(serial.size(), 2u + 2 * 5);
    EXPECT_EQ(serial[2 + 2 * 3], 0xE9) << "a Latin-1 character as its UTF-16 unit";
    EXPECT_EQ(serial[2 + 2 * 3 + 1], 0x00);
    EXPECT_FALSE(hub->descriptor(5, usbdesc::value(usbdesc::kString, 9), 0x0409, 255, d)) << "no string 9";
}

// A port that fails with its device: the status the hub reports, and for a
// failed enumeration the node the host made of it; the host never gets a
// drive of such a device.
TEST(BenchUsbTree, PortsThatFailWithTheirDevice)
{
    const bench::UsbPortStatus statuses[] = {bench::UsbPortStatus::FailedEnumeration,
                                             bench::UsbPortStatus::GeneralFailure, bench::UsbPortStatus::Overcurrent,
                                             bench::UsbPortStatus::NotEnoughPower};
    bench::BenchSettings s;
    s.ports.resize(5);
    for (size_t i = 0; i < 4; ++i)
        s.ports[i].usbStatus = statuses[i];
    BenchFixture bench(s);
    auto hub = Platform::current().usbTree().openHub(walkTree().front().hubName);
    ASSERT_TRUE(hub);
    for (uint32_t port = 1; port <= 4; ++port) {
        UsbConnectionInfo info;
        ASSERT_TRUE(hub->connectionInformation(port, info));
        EXPECT_EQ(static_cast<uint32_t>(info.status), port + 1) << "status " << port + 1;
        EXPECT_EQ(info.deviceDescriptor.idVendor, 0);
        EXPECT_EQ(bench.physicalDrive(static_cast<int>(port)), -1);
    }
    std::string key;
    ASSERT_TRUE(hub->driverKeyName(1, key)) << "a failed enumeration leaves a node with a driver";
    EXPECT_FALSE(hub->driverKeyName(2, key));
    bool described = false;
    for (const auto& n : Platform::current().deviceSetup().devices())
        if (n.driverKey == key)
            described = n.description == "Unknown USB Device (Device Descriptor Request Failed)";
    EXPECT_TRUE(described);
    EXPECT_EQ(bench.physicalDrive(5), 1) << "the working drive is the first PhysicalDrive";
    ASSERT_TRUE(bench.unplug(1));
    UsbConnectionInfo info;
    ASSERT_TRUE(hub->connectionInformation(1, info));
    EXPECT_EQ(info.status, UsbConnectionStatus::NoDeviceConnected);
}

TEST(BenchUsbTree, RequestsOutsideTheTreeFailWithTheirErrors)
{
    BenchFixture bench(2);
    UsbTree& tree = Platform::current().usbTree();
    setLastError(0);
    EXPECT_FALSE(tree.openHub("\\\\?\\USB#VID_0000&PID_0000#nothing#{f18a0e88-c30c-11d0-8815-00a0c906bed8}"));
    EXPECT_EQ(lastError(), winerr::kFileNotFound);
    EXPECT_FALSE(tree.openHostController("\\\\?\\pci#nothing"));
    auto hub = tree.openHub(walkTree().front().hubName);
    ASSERT_TRUE(hub);
    UsbConnectionInfo info;
    EXPECT_FALSE(hub->connectionInformation(0, info));
    EXPECT_EQ(lastError(), winerr::kInvalidParameter);
    EXPECT_FALSE(hub->connectionInformation(9, info));
    ASSERT_TRUE(hub->connectionInformation(3, info));
    EXPECT_EQ(info.status, UsbConnectionStatus::NoDeviceConnected);
    std::string key;
    EXPECT_FALSE(hub->driverKeyName(3, key));
    EXPECT_EQ(lastError(), winerr::kDeviceNotConnected);
    std::string name = "unchanged";
    ASSERT_TRUE(hub->connectionName(1, name));
    EXPECT_EQ(name, "") << "a drive is no hub";

    ASSERT_TRUE(bench.unplug(1));
    ASSERT_TRUE(hub->connectionInformation(1, info));
    EXPECT_EQ(info.status, UsbConnectionStatus::NoDeviceConnected) << "an open hub sees the tree as it is now";
}

}  // namespace
}  // namespace krv::test
