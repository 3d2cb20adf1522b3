#pragma once
// A look at a bench's disks and USB tree from outside, without owning it
// (krvbench show): which devices are there comes from their saved state,
// the disks are read as they are, letters come out as the owner gives them.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/bench/BenchDisks.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/BenchTopology.h"
#include "platform/bench/BenchUsbIdentity.h"

namespace krv::bench {

struct SurveyVolume {
    BenchVolume volume;
    FileSystemView fileSystem;
    std::vector<VolumeFile> files;
};

struct SurveyDisk {
    int device = 0;
    int physicalDrive = -1;        // -1: not there now
    uint64_t size = 0;
    std::string image;
    DriveLayout layout;            // as on the disk now
    std::vector<SurveyVolume> volumes;
};

// `drives`: the PhysicalDrive number of each device that is there now.
std::vector<SurveyDisk> surveyDisks(const std::string& folder, const BenchSettings& settings,
                                    const std::map<int, int>& drives);

// One port of a hub and what sits on it now.
struct SurveyPort {
    UsbLocation location;
    int hub = -1;                  // an external hub: its index in the topology
    int device = 0;                // a bench device (port, kUsbDisk), else 0
    std::optional<UsbIdentity> usb;   // what the device shows while it is connected over USB
};

struct SurveyHub {
    int index = 0;
    TopologyHub hub;
    std::vector<SurveyPort> ports;
};

// `connected`: what each connected USB device shows of itself.
std::vector<SurveyHub> surveyTree(const Topology& topology, const std::map<int, UsbIdentity>& connected);

}  // namespace krv::bench
