#pragma once
// Stand-ins a test puts in front of one service of the running platform (the
// bench's): console programs that fail, hang until they are stopped, or
// report another end than they had; a medium that loses the tail of a file.
// Each stand-in wraps the platform's own service and calls on it for all it
// does not change; its scope puts the platform's own service back.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace krv::test
