#include "platform/bench/BenchPlatform.h"

#include "platform/RealClock.h"
#include "platform/host/LinuxProcesses.h"
#include "platform/host/StderrDebugOutput.h"

namespace krv {

std::unique_ptr<Platform> createBenchPlatform(const std::string& folder, std::string& error)
{
    // Placeholder until the bench folder, its settings and its lock are in.
    (void)folder;
    (void)error;
    PlatformServices s;
    s.clock = std::make_unique<RealClock>(1.0);
    s.debugOutput = std::make_unique<StderrDebugOutput>();
    s.processes = std::make_unique<LinuxProcesses>();
    s.volumes = std::make_unique<LetterTable>();
    return std::make_unique<Platform>("bench", std::move(s));
}

}  // namespace krv
