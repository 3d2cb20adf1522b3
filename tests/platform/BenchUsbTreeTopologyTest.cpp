// Where the bench's devices sit on its USB tree: laid out from the settings
// (chained hubs as the devices need them, explicit locations, their limits),
// and kept in bench.ini.
#include <gtest/gtest.h>

#include "platform/bench/BenchSettings.h"
#include "platform/bench/BenchTopology.h"

namespace krv::bench {
namespace {

UsbLocation at(const std::string& text)
{
    UsbLocation l;
    std::string why;
    EXPECT_TRUE(parseUsbLocation(text, l, why)) << why;
    return l;
}

BenchSettings ports(int n)
{
    BenchSettings s;
    s.ports.resize(static_cast<size_t>(n));
    return s;
}

std::vector<std::string> locations(const Topology& t)
{
    std::vector<std::string> list;
    for (const auto& l : t.ports)
        list.push_back(formatUsbLocation(l));
    return list;
}

TEST(BenchUsbTreeTopology, ChainedHubsComeAsTheDevicesNeedThem)
{
    struct Case {
        int ports;
        int chained;
        const char* last;
    };
    for (Case c : {Case{8, 0, "0-8"}, Case{9, 1, "0-8.2"}, Case{14, 1, "0-8.7"}, Case{15, 2, "0-8.7.2"},
                   Case{16, 2, "0-8.7.3"}}) {
        Topology t;
        std::string why;
        ASSERT_TRUE(buildTopology(ports(c.ports), t, why)) << why;
        EXPECT_EQ(t.chainedHubs, c.chained) << c.ports << " ports";
        EXPECT_EQ(formatUsbLocation(t.ports.back()), c.last) << c.ports << " ports";
        EXPECT_EQ(t.hubs.size(), static_cast<size_t>(1 + c.chained));
    }
}

TEST(BenchUsbTreeTopology, ExplicitLocationsAndTheirHubs)
{
    BenchSettings s = ports(4);
    s.topology.controllers = 2;
    s.topology.hubs = 0;
    s.ports[0].location = at("1-2.4");  // a hub on root port 2 of controller 1
    s.ports[2].location = at("0-1");
    s.usbDisk = UsbDiskSettings{};
    Topology t;
    std::string why;
    ASSERT_TRUE(buildTopology(s, t, why)) << why;
    EXPECT_EQ(locations(t), (std::vector<std::string>{"1-2.4", "0-2", "0-1", "0-3"}));
    ASSERT_TRUE(t.usbDisk);
    EXPECT_EQ(formatUsbLocation(*t.usbDisk), "0-4");
    EXPECT_GE(t.hubIndex(at("1-2")), 2) << "after the two root hubs";
    EXPECT_EQ(t.portAt(at("0-3")), 4);
}

TEST(BenchUsbTreeTopology, LocationsThatCannotBeAreRefused)
{
    struct Case {
        const char* name;
        std::function<void(BenchSettings&)> change;
        const char* says;
    };
    const Case cases[] = {
        {"shared port", [](BenchSettings& s) { s.ports[0].location = s.ports[1].location = at("0-2"); }, "two devices"},
        {"where a hub is", [](BenchSettings& s) {
             s.ports[0].location = at("0-3");
             s.ports[1].location = at("0-3.1");
         }, "holds a hub"},
        {"past the root hub", [](BenchSettings& s) { s.ports[0].location = at("0-9"); }, "has 8 ports"},
        {"past a hub", [](BenchSettings& s) { s.ports[0].location = at("0-2.8"); }, "has 7 ports"},
        {"no such controller", [](BenchSettings& s) { s.ports[0].location = at("1-1"); }, "controllers 0..0"},
        {"no room", [](BenchSettings& s) {
             s.ports.resize(9);
             s.topology.hubs = 0;
         }, "do not fit"},
    };
    for (const auto& c : cases) {
        BenchSettings s = ports(2);
        c.change(s);
        Topology t;
        std::string why;
        EXPECT_FALSE(buildTopology(s, t, why)) << c.name;
        EXPECT_NE(why.find(c.says), std::string::npos) << c.name << ": " << why;
    }
    UsbLocation l;
    std::string why;
    for (const char* bad : {"3", "0-", "0-0", "4-1", "0-1.2.3.4.5.6.7", "a-1", "0-1..2"})
        EXPECT_FALSE(parseUsbLocation(bad, l, why)) << bad;
}

TEST(BenchUsbTreeTopology, TheTreeAndTheOtherDisksKeepInBenchIni)
{
    BenchSettings s = ports(2);
    s.topology = {2, 10, 1, 4};
    s.ports[1].location = at("1-3.2");
    s.ports[0].usbStrings = UsbStrings::NoSerial;
    s.systemDiskSize = 64ULL << 30;
    s.usbDisk = UsbDiskSettings{8ULL << 30, at("0-5"), false};
    std::string text = formatBenchSettings(s);
    BenchSettings back;
    std::string error;
    ASSERT_TRUE(parseBenchSettings(text, "bench.ini", back, error)) << error << "\n" << text;
    for (auto& p : back.ports)
        checkPort(p);
    for (auto& p : s.ports)
        checkPort(p);
    EXPECT_EQ(back, s) << text;

    EXPECT_FALSE(parseBenchSettings("[bench]\nports = 1\nhubs = 6\n[port 1]\nchip = KRV8574\nlink = USB3\n"
                                    "disk_size = 1G\n",
                                    "b.ini", back, error));
    EXPECT_NE(error.find("b.ini:3"), std::string::npos) << error;
    EXPECT_FALSE(parseBenchSettings("[bench]\nports = 1\n[port 1]\nchip = KRV8574\nlink = USB3\ndisk_size = 1G\n"
                                    "[usb disk]\nlocation = 9\n",
                                    "b.ini", back, error));
    EXPECT_NE(error.find("b.ini:8"), std::string::npos) << error;
}

}  // namespace
}  // namespace krv::bench
