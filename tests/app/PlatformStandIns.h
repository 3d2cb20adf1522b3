#pragma once
// Stand-ins a test puts in front of one service of the running platform (the
// bench's): console programs that fail, hang until they are stopped, or
// report another end than they had; a medium that loses the tail of a file.
// Each stand-in wraps the platform's own service and calls on it for all it
// does not change; its scope puts the platform's own service back.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/BlockDevices.h"
#include "platform/ConsolePrograms.h"
#include "platform/FileMedia.h"
#include "platform/Platform.h"

namespace krv::test {

// The services of a platform that is already running: a test swaps one for
// its stand-in while no thread of the system uses it.
struct PlatformServicesOf : Platform {
    static PlatformServices& of(Platform& platform)
    {
        PlatformServices& (Platform::*services)() = &PlatformServicesOf::services;
        return (platform.*services)();
    }
};

// Puts `standIn` in the place of a platform service and, at the end of the
// scope, the service it replaced back.
template <typename Service>
class ServiceSwap {
public:
    ServiceSwap(std::unique_ptr<Service> PlatformServices::*member, std::unique_ptr<Service> standIn)
        : member_(member)
    {
        PlatformServices& services = PlatformServicesOf::of(Platform::current());
        own_ = std::exchange(services.*member_, std::move(standIn));
    }
    ~ServiceSwap() { PlatformServicesOf::of(Platform::current()).*member_ = std::move(own_); }
    ServiceSwap(const ServiceSwap&) = delete;
    ServiceSwap& operator=(const ServiceSwap&) = delete;

    // The platform's own service, which the stand-in calls on.
    Service& own() { return *own_; }

private:
    std::unique_ptr<Service> PlatformServices::*member_;
    std::unique_ptr<Service> own_;
};

// The platform's console programs, with a test's program in the place of
// some (by consoleProgramKey: "diskpart", "format", "label"). A test's
// program gets the command, the stop request the caller gave and the
// platform's own programs.
class StandInPrograms {
public:
    using Program = std::function<ConsoleResult(const ConsoleCommand&, const StopSource*, ConsolePrograms& own)>;

    explicit StandInPrograms(std::map<std::string, Program> programs)
    {
        auto standIn = std::make_unique<Forwarder>(std::move(programs));
        Forwarder* forwarder = standIn.get();
        swap_ = std::make_unique<ServiceSwap<ConsolePrograms>>(&PlatformServices::consolePrograms, std::move(standIn));
        forwarder->own = &swap_->own();
    }

private:
    struct Forwarder : ConsolePrograms {
        explicit Forwarder(std::map<std::string, Program> p) : programs(std::move(p)) {}
        ConsoleResult run(const ConsoleCommand& command, const StopSource* stop = nullptr) override
        {
            const auto found = programs.find(consoleProgramKey(command.program));
            return found == programs.end() ? own->run(command, stop) : found->second(command, stop, *own);
        }
        std::map<std::string, Program> programs;
        ConsolePrograms* own = nullptr;
    };
    std::unique_ptr<ServiceSwap<ConsolePrograms>> swap_;
};

// The platform's file medium, with a test's look at every file opened: it
// gets the path before the file's first read or write.
class OpenWatchingMedia {
public:
    using Watch = std::function<void(const std::string& path)>;

    explicit OpenWatchingMedia(Watch watch)
    {
        auto standIn = std::make_unique<Forwarder>(std::move(watch));
        Forwarder* forwarder = standIn.get();
        swap_ = std::make_unique<ServiceSwap<FileMedia>>(&PlatformServices::fileMedia, std::move(standIn));
        forwarder->own = &swap_->own();
    }

private:
    struct Forwarder : FileMedia {
        explicit Forwarder(Watch w) : watch(std::move(w)) {}
        int deviceOf(const std::string& path) override
        {
            watch(path);
            return own->deviceOf(path);
        }
        bool readTransfer(int device, uint8_t* data, size_t size) override
        {
            return own->readTransfer(device, data, size);
        }
        bool writeTransfer(int device, const uint8_t* data, size_t size, std::vector<uint8_t>& stored) override
        {
            return own->writeTransfer(device, data, size, stored);
        }
        bool flush(int device) override { return own->flush(device); }
        Watch watch;
        FileMedia* own = nullptr;
    };
    std::unique_ptr<ServiceSwap<FileMedia>> swap_;
};

// The platform's block devices, with the opens of one volume made to cross:
// an exclusive open of it (a format's) waits until another thread holds the
// volume through a shared read open by name (as a letter search opens each
// volume), and that holder keeps it until the exclusive open has been tried.
// Each wait gives up after a second, so code that never crosses only runs
// slower. Counts the exclusive opens that were refused.
class CrossingVolumeOpens {
public:
    explicit CrossingVolumeOpens(char letter)
    {
        auto standIn = std::make_unique<Forwarder>(letter);
        forwarder_ = standIn.get();
        swap_ = std::make_unique<ServiceSwap<BlockDevices>>(&PlatformServices::blockDevices, std::move(standIn));
        forwarder_->own = &swap_->own();
    }

    // Until an exclusive open of the volume waits (at most `limit`).
    bool waitForExclusiveOpen(std::chrono::milliseconds limit = std::chrono::seconds(30))
    {
        std::unique_lock<std::mutex> lock(forwarder_->mutex);
        return forwarder_->changed.wait_for(lock, limit, [this] { return forwarder_->exclusiveWaiting; });
    }
    int refused() const
    {
        std::lock_guard<std::mutex> lock(forwarder_->mutex);
        return forwarder_->refusedCount;
    }

private:
    static constexpr std::chrono::seconds kCrossingWait{1};

    struct Forwarder : BlockDevices {
        explicit Forwarder(char c) : letter(c) {}
        std::unique_ptr<BlockDevice> openDisk(int number, BlockAccess access, BlockShare share) override
        {
            return own->openDisk(number, access, share);
        }
        std::unique_ptr<BlockDevice> openVolume(char c, BlockAccess access, BlockShare share) override
        {
            if (c != letter || share != BlockShare::None)
                return own->openVolume(c, access, share);
            std::unique_lock<std::mutex> lock(mutex);
            exclusiveWaiting = true;
            changed.notify_all();
            changed.wait_for(lock, kCrossingWait, [this] { return held; });
            std::unique_ptr<BlockDevice> device = own->openVolume(c, access, share);
            if (!device)
                ++refusedCount;
            exclusiveWaiting = false;
            ++exclusiveTries;
            changed.notify_all();
            return device;
        }
        std::unique_ptr<BlockDevice> open(const std::string& path, BlockAccess access, BlockShare share) override
        {
            std::unique_ptr<BlockDevice> device = own->open(path, access, share);
            std::string name;
            if (!device || access != BlockAccess::Read || !Platform::current().volumes().volumeName(letter, name) ||
                name.rfind(path, 0) != 0)
                return device;
            std::unique_lock<std::mutex> lock(mutex);
            if (!exclusiveWaiting)
                return device;
            const int tries = exclusiveTries;
            held = true;
            changed.notify_all();
            changed.wait_for(lock, kCrossingWait, [&] { return exclusiveTries != tries; });
            held = false;
            return device;
        }
        const char letter;
        BlockDevices* own = nullptr;
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool exclusiveWaiting = false;
        bool held = false;
        int exclusiveTries = 0;
        int refusedCount = 0;
    };
    Forwarder* forwarder_ = nullptr;
    std::unique_ptr<ServiceSwap<BlockDevices>> swap_;
};

}  // namespace krv::test
