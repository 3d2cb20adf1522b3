#pragma once
// What every fuzz target shares: the platform the system code reaches (a
// virtual clock, no debug output) and a check that stops the run.
#include <memory>
#include <string_view>

#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "platform/Volumes.h"
#include "platform/linux/LinuxProcesses.h"

namespace fuzz {

class DiscardDebugOutput : public krv::DebugOutput {
public:
    void write(std::string_view) override {}
};

// Installed once for the whole run.
inline void vInstallPlatform()
{
    static std::unique_ptr<krv::Platform> s_pPlatform = [] {
        krv::PlatformServices services;
        services.clock = std::make_unique<krv::VirtualClock>();
        services.debugOutput = std::make_unique<DiscardDebugOutput>();
        services.processes = std::make_unique<krv::LinuxProcesses>();
        services.volumes = std::make_unique<krv::LetterTable>();
        auto pPlatform = std::make_unique<krv::Platform>("fuzz", std::move(services));
        krv::Platform::setCurrent(pPlatform.get());
        return pPlatform;
    }();
}

inline void vCheck(bool bHolds)
{
    if (!bHolds)
        __builtin_trap();
}

}  // namespace fuzz
