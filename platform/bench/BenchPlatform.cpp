#include "platform/bench/BenchPlatform.h"

#include "platform/DeviceEventQueue.h"
#include "platform/RealClock.h"
#include "platform/VirtualClock.h"
#include "platform/Volumes.h"
#include "platform/bench/BenchBlockDevices.h"
#include "platform/bench/BenchDeviceEvents.h"
#include "platform/bench/BenchDeviceSetup.h"
#include "platform/bench/BenchFileMedia.h"
#include "platform/bench/BenchTopology.h"
#include "platform/bench/BenchUsbTree.h"
#include "platform/bench/BenchVolumes.h"
#include "platform/bench/BenchConsolePrograms.h"
#include "platform/bench/BenchPcie.h"
#include "platform/bench/BenchScsi.h"
#include "platform/bench/BenchSystemInfo.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxDebugOutput.h"
#include "platform/linux/SyslogJournal.h"

namespace krv {

namespace {

// The services that show the bench's devices as the operating system would:
// USB tree, device setup, disks and volumes, and their notices.
bool openDeviceServices(bench::Bench& bench, PlatformServices& s, std::string& error)
{
    bench::Topology topology;
    std::string why;
    if (!bench::buildTopology(bench.settings(), topology, why)) {
        error = "bench " + bench.folder() + ": " + why;
        return false;
    }
    std::shared_ptr<bench::BenchDevices> devices = bench.sharedDevices();
    s.volumes = std::make_unique<bench::BenchVolumes>(devices);
    s.usbTree = std::make_unique<bench::BenchUsbTree>(devices, topology);
    s.deviceSetup = std::make_unique<bench::BenchDeviceSetup>(devices, topology);
    s.blockDevices = std::make_unique<bench::BenchBlockDevices>(devices);
    s.fileMedia = std::make_unique<bench::BenchFileMedia>(devices);
    auto events = std::make_unique<DeviceEventQueue>();
    DeviceEventQueue* queue = events.get();
    s.deviceEvents = std::move(events);
    devices->setChangeListener([queue, topology](const std::vector<bench::PresenceChange>& changes) {
        bench::postPresenceChanges(*queue, topology, changes);
    });
    // On a virtual clock what falls due as a sleep passes happens then, so
    // its notices come in step with the sleeps of the code under test.
    if (auto* virtualClock = dynamic_cast<VirtualClock*>(s.clock.get())) {
        std::weak_ptr<bench::BenchDevices> weak = devices;
        virtualClock->setOnAdvance([weak](uint64_t) {
            if (auto d = weak.lock())
                d->poll();
        });
    }
    return true;
}

std::unique_ptr<DebugOutput> makeDebugOutput(BenchPlatformOptions& options)
{
    if (options.programName.empty())
        return std::make_unique<LinuxDebugOutput>();
    if (!options.journal)
        options.journal = std::make_unique<SyslogJournal>();
    return std::make_unique<LinuxDebugOutput>(options.programName, std::move(options.journal));
}

}  // namespace

std::unique_ptr<BenchPlatform> BenchPlatform::open(const std::string& folder, std::string& error,
                                                   BenchPlatformOptions options)
{
    bench::BenchError benchError;
    PlatformServices s;
    s.clock = std::move(options.clock);
    if (!s.clock) {
        // The clock runs at the bench's scale, so the settings are read first.
        bench::BenchSettings settings;
        if (!bench::readBenchSettings(folder, settings, benchError)) {
            error = benchError.message;
            return nullptr;
        }
        s.clock = std::make_unique<RealClock>(settings.timeScale);
    }
    auto bench = bench::Bench::open(folder, benchError, s.clock.get());
    if (!bench) {
        error = benchError.message;
        return nullptr;
    }
    s.debugOutput = options.debugOutput ? std::move(options.debugOutput) : makeDebugOutput(options);
    s.scsi = std::make_unique<bench::BenchScsi>(bench->sharedDevices());
    s.processes = std::make_unique<LinuxProcesses>();
    if (!openDeviceServices(*bench, s, error))
        return nullptr;
    auto system = std::make_unique<bench::BenchSystemInfo>(bench->folder());
    s.consolePrograms = std::make_unique<bench::BenchConsolePrograms>(
        *system, [ports = bench->settings().ports, devices = bench->sharedDevices()] {
            return bench::connectedPciFunctions(ports, *devices);
        },
        bench->sharedDevices());
    s.systemInfo = std::move(system);
    s.kernelIo = std::make_unique<bench::BenchKernelIo>(
        std::make_shared<bench::BenchPcieFabric>(bench->sharedDevices(), bench->settings().ports));
    return std::unique_ptr<BenchPlatform>(new BenchPlatform(std::move(bench), std::move(s), options.inboxThread));
}

BenchPlatform::BenchPlatform(std::unique_ptr<bench::Bench> bench, PlatformServices services, bool inboxThread)
    : Platform("bench", std::move(services)), bench_(std::move(bench))
{
    if (inboxThread)
        inboxThread_ = std::thread([this] { inboxLoop(); });
}

BenchPlatform::~BenchPlatform()
{
    stop_.requestStop();
    if (inboxThread_.joinable())
        inboxThread_.join();
    // Handles may keep the devices alive past the platform; they must not
    // reach the services that go with it.
    bench_->devices().setChangeListener({});
    if (auto* virtualClock = dynamic_cast<VirtualClock*>(&clock()))
        virtualClock->setOnAdvance({});
    // The bench closes (saving its devices) while the clock still lives.
    bench_.reset();
}

void BenchPlatform::inboxLoop()
{
    // It also lets a resetting device leave and come back on time when
    // nobody looks at it, so that its notices are not late.
    while (stop_.waitFor(kInboxPollPeriod)) {
        bench_->processInbox();
        bench_->devices().poll();
    }
}

std::unique_ptr<Platform> createBenchPlatform(const std::string& folder, const std::string& programName,
                                              std::string& error)
{
    BenchPlatformOptions options;
    options.programName = programName;
    return BenchPlatform::open(folder, error, std::move(options));
}

}  // namespace krv
