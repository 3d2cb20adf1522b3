#include "platform/bench/BenchPlatform.h"

#include "platform/RealClock.h"
#include "platform/Volumes.h"
#include "platform/bench/BenchScsi.h"
#include "platform/host/LinuxProcesses.h"
#include "platform/host/StderrDebugOutput.h"

namespace krv {

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
    s.debugOutput = options.debugOutput ? std::move(options.debugOutput) : std::make_unique<StderrDebugOutput>();
    s.scsi = std::make_unique<bench::BenchScsi>(bench->sharedDevices());
    s.processes = std::make_unique<LinuxProcesses>();
    auto letters = std::make_unique<LetterTable>();
    letters->setInUse('C', true);  // the system disk, as on any PC the tool runs on
    s.volumes = std::move(letters);
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
    // The bench closes (saving its devices) while the clock still lives.
    bench_.reset();
}

void BenchPlatform::inboxLoop()
{
    while (stop_.waitFor(kInboxPollPeriod))
        bench_->processInbox();
}

std::unique_ptr<Platform> createBenchPlatform(const std::string& folder, std::string& error)
{
    return BenchPlatform::open(folder, error);
}

}  // namespace krv
