#include "platform/bench/BenchVolumes.h"

#include <algorithm>

#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/bench/BenchFormat.h"

namespace krv::bench {

namespace {

bool unrecognised()
{
    setLastError(winerr::kUnrecognizedVolume);
    return false;
}
}  // namespace

std::optional<BenchVolume> BenchVolumes::find(char letter)
{
    devices_->poll();  // a device due to leave or arrive does so first
    auto volume = devices_->disks().volumeByLetter(letter);
    if (!volume)
        setLastError(winerr::kFileNotFound);
    return volume;
}

bool BenchVolumes::driveLetterInUse(char letter)
{
    devices_->poll();
    return devices_->disks().letterInUse(letter);
}

std::vector<char> BenchVolumes::letters()
{
    devices_->poll();
    std::vector<char> list;
    for (const BenchVolume& v : devices_->disks().volumes())
        if (v.letter)
            list.push_back(v.letter);
    std::sort(list.begin(), list.end());
    return list;
}

bool BenchVolumes::volumeName(char letter, std::string& name)
{
    auto v = find(letter);
    if (!v)
        return false;
    name = "\\\\?\\Volume" + guidText(v->volumeGuid, true) + "\\";
    return true;
}

bool BenchVolumes::diskExtents(char letter, std::vector<DiskExtent>& extents)
{
    auto v = find(letter);
    if (!v)
        return false;
    extents = {DiskExtent{static_cast<uint32_t>(v->diskNumber), v->partition.startingOffset, v->partition.length}};
    return true;
}

std::vector<char> BenchVolumes::lettersOfDisk(int diskNumber)
{
    devices_->poll();
    std::vector<BenchVolume> volumes = devices_->disks().volumes();
    std::sort(volumes.begin(), volumes.end(), [](const BenchVolume& a, const BenchVolume& b) {
        return a.partition.startingOffset < b.partition.startingOffset;
    });
    std::vector<char> list;
    for (const BenchVolume& v : volumes)
        if (v.diskNumber == diskNumber && v.letter)
            list.push_back(v.letter);
    return list;
}

bool BenchVolumes::volumeInformation(char letter, VolumeInformation& info)
{
    auto v = find(letter);
    if (!v)
        return false;
    devices_->disks().touch(v->key);
    FileSystemView view = devices_->disks().fileSystem(*v, false);
    if (view.kind == FileSystemKind::None)
        return unrecognised();
    info = VolumeInformation{};
    info.fileSystem = view.name;
    info.label = view.label;
    info.serialNumber = view.serialNumber;
    return true;
}

bool BenchVolumes::freeSpace(char letter, VolumeFreeSpace& space)
{
    auto v = find(letter);
    if (!v)
        return false;
    devices_->disks().touch(v->key);
    FileSystemView view = devices_->disks().fileSystem(*v, true);
    if (view.kind == FileSystemKind::None)
        return unrecognised();
    space.bytesPerSector = view.bytesPerSector;
    space.sectorsPerCluster = view.sectorsPerCluster;
    space.totalClusters = view.totalClusters;
    space.freeClusters = view.freeClusters;
    return true;
}

std::string BenchVolumes::mountPath(char letter)
{
    auto v = find(letter);
    if (!v)
        return {};
    devices_->disks().touch(v->key);
    std::string folder = devices_->disks().filesFolder(*v, true);
    if (folder.empty())
        unrecognised();
    return folder;
}

std::vector<VolumeFile> BenchVolumes::files(char letter)
{
    auto v = find(letter);
    if (!v)
        return {};
    return filesIn(devices_->disks().filesFolder(*v, false));
}

bool BenchVolumes::setVolumeLabel(char letter, const std::string& label)
{
    return krv::bench::setVolumeLabel(*devices_, letter, label);
}

}  // namespace krv::bench
