#pragma once
// The one object through which the system code reaches the operating
// system. A backend (the emulated bench or the Linux host) fills in the
// services; the system code never includes a Linux or Qt header for device
// work. Services are added as the code that needs them is written.
#include <memory>
#include <string>

#include "platform/BlockDevices.h"
#include "platform/Clock.h"
#include "platform/ConsolePrograms.h"
#include "platform/DebugOutput.h"
#include "platform/DeviceEvents.h"
#include "platform/DeviceSetup.h"
#include "platform/FileMedia.h"
#include "platform/KernelIo.h"
#include "platform/MessageBoxes.h"
#include "platform/Processes.h"
#include "platform/ScsiPassThrough.h"
#include "platform/SystemInfo.h"
#include "platform/UsbTree.h"
#include "platform/Volumes.h"

namespace krv {

struct PlatformServices {
    std::unique_ptr<Clock> clock;
    std::unique_ptr<DebugOutput> debugOutput;
    std::unique_ptr<Processes> processes;
    std::unique_ptr<Volumes> volumes;
    std::unique_ptr<ScsiPassThrough> scsi;
    // Left empty, the device services see a machine with nothing attached:
    // no USB controller, no device node but the root, no disk, no notice.
    std::unique_ptr<UsbTree> usbTree;
    std::unique_ptr<DeviceSetup> deviceSetup;
    std::unique_ptr<BlockDevices> blockDevices;
    std::unique_ptr<DeviceEvents> deviceEvents;
    // Left empty: no power scheme, no shared claims, no console program
    // starts. (The console programs may act on the system info, so they go first.)
    std::unique_ptr<SystemInfo> systemInfo;
    std::unique_ptr<ConsolePrograms> consolePrograms;
    // Left empty: the host's answer, no kernel I/O driver and no firmware table.
    std::unique_ptr<KernelIo> kernelIo;
    // Left empty: files are the host's, with nothing between them and it.
    std::unique_ptr<FileMedia> fileMedia;
};

class Platform {
public:
    Platform(std::string backendName, PlatformServices services);
    virtual ~Platform();
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    const std::string& backendName() const { return backendName_; }
    bool isBench() const { return backendName_ == "bench"; }

    Clock& clock() { return *services_.clock; }
    DebugOutput& debugOutput() { return *services_.debugOutput; }
    Processes& processes() { return *services_.processes; }
    Volumes& volumes() { return *services_.volumes; }
    ScsiPassThrough& scsi() { return *services_.scsi; }
    UsbTree& usbTree() { return *services_.usbTree; }
    DeviceSetup& deviceSetup() { return *services_.deviceSetup; }
    BlockDevices& blockDevices() { return *services_.blockDevices; }
    DeviceEvents& deviceEvents() { return *services_.deviceEvents; }
    ConsolePrograms& consolePrograms() { return *services_.consolePrograms; }
    SystemInfo& systemInfo() { return *services_.systemInfo; }
    KernelIo& kernelIo() { return *services_.kernelIo; }
    FileMedia* fileMedia() { return services_.fileMedia.get(); }

    // Message boxes: the unattended presenter unless the window layer has
    // installed its own (not owned; the installer removes it before it dies).
    MessageBoxes& messageBoxes() { return presenter_ ? *presenter_ : unattended_; }
    void setMessageBoxes(MessageBoxes* presenter) { presenter_ = presenter; }

    // The platform the system code uses. Set once by main (or a test) before
    // anything else runs and cleared after every thread has been joined.
    static Platform& current();
    static Platform* currentOrNull();
    static void setCurrent(Platform* platform);

protected:
    PlatformServices& services() { return services_; }

private:
    std::string backendName_;
    PlatformServices services_;
    UnattendedMessageBoxes unattended_;
    MessageBoxes* presenter_ = nullptr;
};

// Builds the backend the environment asks for: the bench in the folder named
// by KRV_BENCH, otherwise the host. Returns null with `error` set when it
// cannot (a bad bench, or no host backend on this build). The debug output
// goes to stderr and to the system journal, tagged with `programName`.
std::unique_ptr<Platform> createPlatform(const std::string& programName, std::string& error);

}  // namespace krv
