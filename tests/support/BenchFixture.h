#pragma once
// A bench in a temporary folder, opened as the current platform on a
// virtual clock: a sleep of the system code advances bench time, and a
// device's reset, its leaving and coming back happen as that time passes.
// Debug output is captured; the inbox is read only when a test asks
// (processInboxNow), so nothing runs beside the test's own thread.
//
//   test::BenchFixture bench(2);                       // two KRV8574 on USB 3
//   int drive = bench.physicalDrive(1);                // PhysicalDrive of port 1
//   auto device = krv::Platform::current().scsi().open(krv::DriveKind::PhysicalDrive, drive);
//
// The bench's USB tree, disks and volumes are the platform's services
// (usbTree(), deviceSetup(), blockDevices(), volumes(), deviceEvents()); a
// bench of 16 drives by default spreads them over the root hub and two
// chained hubs. plug/unplug change the bench as `krvbench` does while a
// program runs: the devices' notices reach deviceEvents().
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/CaptureDebugOutput.h"
#include "platform/VirtualClock.h"
#include "platform/bench/BenchPlatform.h"
#include "tests/support/TestPlatform.h"

namespace krv::test {

// How bench time passes: on a virtual clock that only sleeps move (one
// thread), or on real time at the bench's time scale (several threads).
enum class BenchTime { Virtual, Real };

class BenchFixture {
public:
    // `ports` ports with `chip` on `link`, everything else as krvbench's defaults.
    explicit BenchFixture(int ports = 1, const std::string& chip = "KRV8574", const std::string& link = "USB3");
    // Any bench; `starts` give ports firmware, configuration and disk layout
    // to start from, `layouts` the system disk's and the USB disk's (by
    // bench::kSystemDisk, bench::kUsbDisk).
    explicit BenchFixture(bench::BenchSettings settings, std::vector<bench::PortStart> starts = {},
                          std::map<int, bench::DiskLayoutPlan> layouts = {}, BenchTime time = BenchTime::Virtual);
    ~BenchFixture();
    BenchFixture(const BenchFixture&) = delete;
    BenchFixture& operator=(const BenchFixture&) = delete;

    BenchPlatform& platform() { return *platform_; }
    // Only on virtual time.
    VirtualClock& clock() { return *clock_; }
    CaptureDebugOutput& capture() { return *capture_; }
    bench::Bench& bench() { return platform_->bench(); }
    bench::BenchDevices& devices() { return platform_->bench().devices(); }
    const std::string& folder() const { return folder_; }
    std::string portFolder(int port) const;

    // The drive numbers the host sees for the device on `port`; -1 when it
    // is not on the bus (or has no CD-ROM unit).
    int physicalDrive(int port);
    int cdrom(int port);

    // Plugs or unplugs the device on `port` (bench::kUsbDisk: the USB disk)
    // through the bench's inbox, as `krvbench plug` does while a program
    // owns the bench. True when the bench carried it out.
    bool plug(int port);
    bool unplug(int port);

    // Ends the platform (the bench saves and closes) and opens a new one on
    // the same folder with a new virtual clock, as the next program run would.
    void reopen();
    // Ends the platform for good; the folder stays until the fixture goes.
    void close();

private:
    void openPlatform();

    TempDir dir_;
    std::string folder_;
    std::unique_ptr<BenchPlatform> platform_;
    VirtualClock* clock_ = nullptr;
    CaptureDebugOutput* capture_ = nullptr;
    Platform* previous_ = nullptr;
    BenchTime time_ = BenchTime::Virtual;
};

}  // namespace krv::test
