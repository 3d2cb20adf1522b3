#include "platform/bench/BenchSurvey.h"

#include "platform/bench/BenchLayout.h"
#include "platform/bench/disk/PartitionTable.h"

namespace krv::bench {

std::vector<SurveyDisk> surveyDisks(const std::string& folder, const BenchSettings& settings,
                                    const std::map<int, int>& drives)
{
    BenchDisks disks(folder, true);
    std::string error;
    std::vector<SurveyDisk> list;
    if (!disks.open(settings, error))
        return list;
    // In the order the owner brings them up, so that letters come out alike.
    std::vector<int> devices = {kSystemDisk};
    for (size_t i = 0; i < settings.ports.size(); ++i)
        devices.push_back(static_cast<int>(i + 1));
    if (settings.usbDisk)
        devices.push_back(kUsbDisk);
    for (int device : devices) {
        auto it = drives.find(device);
        if (it != drives.end())
            disks.arrived(device, it->second);
    }
    std::vector<BenchVolume> volumes = disks.volumes();
    for (int device : devices) {
        SurveyDisk d;
        d.device = device;
        auto it = drives.find(device);
        d.physicalDrive = it != drives.end() ? it->second : -1;
        d.size = disks.size(device);
        d.image = diskImagePath(deviceFolderPath(folder, device));
        d.layout = readDriveLayout(disks.diskSource(device));
        for (const BenchVolume& v : volumes) {
            if (v.device != device)
                continue;
            SurveyVolume sv;
            sv.volume = v;
            sv.fileSystem = disks.fileSystem(v, true);
            sv.files = filesIn(disks.filesFolder(v, false));
            d.volumes.push_back(std::move(sv));
        }
        list.push_back(std::move(d));
    }
    return list;
}

std::vector<SurveyHub> surveyTree(const Topology& topology, const std::map<int, UsbIdentity>& connected)
{
    std::vector<SurveyHub> hubs;
    for (size_t i = 0; i < topology.hubs.size(); ++i) {
        SurveyHub h;
        h.index = static_cast<int>(i);
        h.hub = topology.hubs[i];
        for (int port = 1; port <= h.hub.ports; ++port) {
            SurveyPort p;
            p.location = h.hub.location;
            p.location.path.push_back(port);
            p.hub = topology.hubIndex(p.location);
            p.device = topology.portAt(p.location);
            if (!p.device && topology.usbDiskAt(p.location))
                p.device = kUsbDisk;
            if (auto it = connected.find(p.device); p.device && it != connected.end())
                p.usb = it->second;
            h.ports.push_back(std::move(p));
        }
        hubs.push_back(std::move(h));
    }
    return hubs;
}

}  // namespace krv::bench
