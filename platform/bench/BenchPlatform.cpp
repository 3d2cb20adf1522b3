#include "platform/bench/BenchPlatform.h"

#include "platform/RealClock.h"
#include "platform/Volumes.h"
#include "platform/host/LinuxProcesses.h"
#include "platform/host/StderrDebugOutput.h"

namespace krv {

std::unique_ptr<BenchPlatform> BenchPlatform::open(const std::string& folder, std::string& error)
{
    bench::BenchError benchError;
    auto bench = bench::Bench::open(folder, benchError);
    if (!bench) {
        error = benchError.message;
        return nullptr;
    }
    PlatformServices s;
    s.clock = std::make_unique<RealClock>(bench->timeScale());
    s.debugOutput = std::make_unique<StderrDebugOutput>();
    s.processes = std::make_unique<LinuxProcesses>();
    auto letters = std::make_unique<LetterTable>();
    letters->setInUse('C', true);  // the system disk, as on any PC the tool runs on
    s.volumes = std::move(letters);
    return std::unique_ptr<BenchPlatform>(new BenchPlatform(std::move(bench), std::move(s)));
}

BenchPlatform::BenchPlatform(std::unique_ptr<bench::Bench> bench, PlatformServices services)
    : Platform("bench", std::move(services)), bench_(std::move(bench))
{
    inboxThread_ = std::thread([this] { inboxLoop(); });
}

BenchPlatform::~BenchPlatform()
{
    stop_.requestStop();
    if (inboxThread_.joinable())
        inboxThread_.join();
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
