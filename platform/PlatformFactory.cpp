#include <cstdlib>

#include "platform/Platform.h"
#include "platform/bench/BenchPlatform.h"

namespace krv {

std::unique_ptr<Platform> createPlatform(const std::string& programName, std::string& error)
{
    const char* benchDir = std::getenv("KRV_BENCH");
    if (benchDir && *benchDir)
        return createBenchPlatform(benchDir, programName, error);
    error =
        "no host backend in this build: real bridge drives cannot be reached yet. "
        "Set KRV_BENCH to a bench folder (see 'krvbench create') to run on the emulated bench.";
    return nullptr;
}

}  // namespace krv
