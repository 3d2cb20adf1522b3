#include "platform/Platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/DeviceEventQueue.h"
#include "platform/NoDevices.h"
#include "platform/host/HostKernelIo.h"

namespace krv {

namespace {
std::atomic<Platform*> g_current{nullptr};
}

Platform::Platform(std::string backendName, PlatformServices services)
    : backendName_(std::move(backendName)), services_(std::move(services))
{
    if (!services_.usbTree)
        services_.usbTree = std::make_unique<NoUsbTree>();
    if (!services_.deviceSetup)
        services_.deviceSetup = std::make_unique<NoDeviceSetup>();
    if (!services_.blockDevices)
        services_.blockDevices = std::make_unique<NoBlockDevices>();
    if (!services_.deviceEvents)
        services_.deviceEvents = std::make_unique<DeviceEventQueue>();
    if (!services_.consolePrograms)
        services_.consolePrograms = std::make_unique<NoConsolePrograms>();
    if (!services_.systemInfo)
        services_.systemInfo = std::make_unique<NoSystemInfo>();
    if (!services_.kernelIo)
        services_.kernelIo = std::make_unique<HostKernelIo>();
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
