// Plugging, unplugging and resetting a bench device while a program owns the
// bench reach the program as device notices: per interface class it asked
// for, named by the paths the device-setup service shows, in order, on the
// thread the program reads them on.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/DeviceClasses.h"
#include "platform/StopSource.h"
#include "platform/bench/BenchLayout.h"
#include "tests/platform/BenchBridgeSupport.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

struct Seen {
    DeviceEventKind kind;
    Guid interfaceClass;
    std::string path;
    bool operator==(const Seen&) const = default;
};

std::vector<Seen> drain()
{
    std::vector<Seen> list;
    DeviceEvent e;
    while (Platform::current().deviceEvents().take(e))
        list.push_back({e.kind, e.interfaceClass, e.devicePath});
    return list;
}

void PrintTo(const Seen& s, std::ostream* os)
{
    *os << (s.kind == DeviceEventKind::Arrival ? "arrival " : "removal ") << s.path;
}

// The interface path of a class that the device-setup service shows now for
// the device with USB serial `serial` (lower case in paths).
std::string pathOf(const Guid& interfaceClass, const std::string& serial)
{
    for (const auto& n : Platform::current().deviceSetup().devices())
        for (const auto& i : n.interfaces)
            if (i.interfaceClass == interfaceClass && i.devicePath.find(serial) != std::string::npos)
                return i.devicePath;
    return {};
}

TEST(BenchUsbTreeEvents, UnplugAndPlugReachTheOwnerAsNotices)
{
    BenchFixture bench(2);
    DeviceEvents& events = Platform::current().deviceEvents();
    std::atomic<int> wakeUps{0};
    events.setWakeUp([&] { ++wakeUps; });
    events.registerClass(interfaceclass::kDisk);
    events.registerClass(interfaceclass::kUsbDevice);
    std::string disk = pathOf(interfaceclass::kDisk, "krvbench000000000002");
    std::string usb = pathOf(interfaceclass::kUsbDevice, "krvbench000000000002");
    ASSERT_FALSE(disk.empty());
    ASSERT_FALSE(usb.empty());

    ASSERT_TRUE(bench.unplug(2));
    std::vector<Seen> removed = drain();
    EXPECT_EQ(removed, (std::vector<Seen>{{DeviceEventKind::RemoveComplete, interfaceclass::kDisk, disk},
                                          {DeviceEventKind::RemoveComplete, interfaceclass::kUsbDevice, usb}}))
        << "the disk goes before the USB device that carried it";
    EXPECT_EQ(wakeUps.load(), 2);

    ASSERT_TRUE(bench.plug(2));
    EXPECT_EQ(drain(), (std::vector<Seen>{{DeviceEventKind::Arrival, interfaceclass::kUsbDevice, usb},
                                          {DeviceEventKind::Arrival, interfaceclass::kDisk, disk}}));
    ASSERT_TRUE(bench.plug(2));
    EXPECT_TRUE(drain().empty()) << "already there: nothing changes";
}

TEST(BenchUsbTreeEvents, AResetIsARemovalAndLaterAnArrivalAsBenchTimePasses)
{
    bench::BenchSettings s;
    s.ports.resize(1);
    s.ports[0].dropMs = 500;
    s.ports[0].relinkMs = 3000;
    s.ports[0].cdrom = true;
    BenchFixture bench(s);
    DeviceEvents& events = Platform::current().deviceEvents();
    events.registerClass(interfaceclass::kCdRom);
    uint32_t disk = events.registerClass(interfaceclass::kDisk);
    auto d = openDrive(1);
    ASSERT_TRUE(d && cpuReset(*d).good());
    EXPECT_TRUE(drain().empty());
    bench.clock().sleepMs(500);  // nobody looks at the device: the sleep alone brings its change
    std::vector<Seen> gone = drain();
    ASSERT_EQ(gone.size(), 2u);
    EXPECT_EQ(gone[0].interfaceClass, interfaceclass::kCdRom);
    EXPECT_EQ(gone[1].interfaceClass, interfaceclass::kDisk);
    EXPECT_EQ(gone[1].kind, DeviceEventKind::RemoveComplete);
    bench.clock().sleepMs(2499);
    EXPECT_TRUE(drain().empty());
    EXPECT_TRUE(events.unregister(disk));
    EXPECT_FALSE(events.unregister(disk));
    bench.clock().sleepMs(1);
    std::vector<Seen> back = drain();
    ASSERT_EQ(back.size(), 1u) << "the disk class is no longer asked for";
    EXPECT_EQ(back[0].kind, DeviceEventKind::Arrival);
    EXPECT_EQ(back[0].interfaceClass, interfaceclass::kCdRom);
}

TEST(BenchUsbTreeEvents, AThreadWaitingForNoticesGetsThem)
{
    BenchFixture bench(1);
    DeviceEvents& events = Platform::current().deviceEvents();
    events.registerClass(interfaceclass::kUsbDevice);
    StopSource stop;
    std::atomic<bool> got{false};
    std::thread reader([&] {
        DeviceEvent e;
        got = events.take(e, 10'000, &stop) && e.kind == DeviceEventKind::RemoveComplete;
    });
    ASSERT_TRUE(bench.unplug(1));
    reader.join();
    EXPECT_TRUE(got.load());

    // A stop request ends a wait that no notice ends.
    std::thread waiter([&] {
        DeviceEvent e;
        got = events.take(e, 60'000, &stop);
    });
    stop.requestStop();
    waiter.join();
    EXPECT_FALSE(got.load());
}

}  // namespace
}  // namespace krv::test
