#include "platform/Platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace krv {

namespace {
std::atomic<Platform*> g_current{nullptr};
}

Platform::Platform(std::string backendName, PlatformServices services)
    : backendName_(std::move(backendName)), services_(std::move(services))
{
}

Platform::~Platform()
{
    Platform* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

Platform& Platform::current()
{
    Platform* p = g_current.load(std::memory_order_acquire);
    if (!p) {
        std::fputs("internal error: no platform installed\n", stderr);
        std::abort();
    }
    return *p;
}

Platform* Platform::currentOrNull() { return g_current.load(std::memory_order_acquire); }

void Platform::setCurrent(Platform* platform) { g_current.store(platform, std::memory_order_release); }

}  // namespace krv
