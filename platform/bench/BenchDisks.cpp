#include "platform/bench/BenchDisks.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/LastError.h"
#include "platform/bench/BenchFiles.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/disk/Fat32Writer.h"
#include "platform/bench/disk/PartitionTable.h"

namespace krv::bench {

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kErrorNotLocked = 158;

std::vector<int> devicesOf(const BenchSettings& settings)
{
    std::vector<int> devices = {kSystemDisk};
    for (size_t i = 0; i < settings.ports.size(); ++i)
        devices.push_back(static_cast<int>(i + 1));
    if (settings.usbDisk)
        devices.push_back(kUsbDisk);
    return devices;
}

uint64_t sizeOf(const BenchSettings& settings, int device)
{
    if (device == kSystemDisk)
        return settings.systemDiskSize;
    if (device == kUsbDisk)
        return settings.usbDisk ? settings.usbDisk->diskSize : 0;
    return settings.ports[static_cast<size_t>(device - 1)].diskSize;
}

uint32_t sectorSizeOf(const BenchSettings& settings, int device)
{
    return device >= 1 && static_cast<size_t>(device) <= settings.ports.size()
               ? settings.ports[static_cast<size_t>(device - 1)].sectorSize
               : kDefaultSectorSize;
}

DiskLayoutPlan defaultSystemLayout(uint64_t size)
{
    DiskLayoutPlan spec;
    Fat32Layout fat;
    spec.volumes.push_back(VolumeSpec{fat32Layout((size >> 9) - 2048, fat) ? "fat32" : "raw", 0,
                                      fat32Layout((size >> 9) - 2048, fat) ? "SYSTEM" : "", 0});
    return spec;
}

std::string hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
    return text;
}

bool sameExtent(const PartitionInfo& a, const PartitionInfo& b)
{
    // A new type byte alone keeps the volume (as setting a partition's type
    // does not make its volume leave).
    return a.startingOffset == b.startingOffset && a.length == b.length && a.style == b.style;
}

}  // namespace

BenchDisks::BenchDisks(std::string benchFolder, bool readOnly) : folder_(std::move(benchFolder)), readOnly_(readOnly) {}

BenchDisks::~BenchDisks() = default;

bool BenchDisks::initialise(const std::string& benchFolder, const BenchSettings& settings,
                            const std::map<int, DiskLayoutPlan>& layouts, std::string& error)
{
    for (int device : devicesOf(settings)) {
        std::string folder = deviceFolderPath(benchFolder, device);
        std::error_code ec;
        fs::create_directories(folder, ec);
        DiskImage image;
        if (!image.open(diskImagePath(folder), sizeOf(settings, device), error))
            return false;
        auto it = layouts.find(device);
        if (it != layouts.end() && sectorSizeOf(settings, device) != kDefaultSectorSize) {
            error = deviceName(device) + ": a disk layout to start from is written in 512-byte sectors";
            return false;
        }
        DiskLayoutPlan spec = it != layouts.end() ? it->second
                            : device == kSystemDisk ? defaultSystemLayout(image.size())
                                                    : DiskLayoutPlan{};
        if (!applyDiskLayout(image, spec, benchFolder + "/" + deviceName(device), error)) {
            error = deviceName(device) + ": " + error;
            return false;
        }
    }
    return true;
}

bool BenchDisks::open(const BenchSettings& settings, std::string& error)
{
    std::lock_guard<std::mutex> guard(mutex_);
    for (int device : devicesOf(settings)) {
        Disk disk;
        disk.folder = deviceFolderPath(folder_, device);
        std::error_code ec;
        if (!readOnly_)
            fs::create_directories(disk.folder, ec);
        disk.image = std::make_unique<DiskImage>();
        disk.sectorSize = sectorSizeOf(settings, device);
        bool fresh = !readOnly_ && !fs::exists(diskImagePath(disk.folder), ec);
        if (!disk.image->open(diskImagePath(disk.folder), sizeOf(settings, device), error, readOnly_))
            return false;
        // A bench made before it had disks gets them now, the system disk
        // with its C: volume, as a new bench would.
        if (fresh && device == kSystemDisk &&
            !applyDiskLayout(*disk.image, defaultSystemLayout(disk.image->size()), folder_ + "/" + deviceName(device),
                             error))
            return false;
        disks_[device] = std::move(disk);
    }
    std::string text, why;
    if (readTextFile(lettersPath(folder_), text, why)) {
        size_t at = 0;
        while (at < text.size()) {
            size_t nl = text.find('\n', at);
            std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
            at = nl == std::string::npos ? text.size() : nl + 1;
            auto eq = line.rfind('=');
            if (line.empty() || line[0] == '#' || eq == std::string::npos || eq < 2)
                continue;
            std::string key = line.substr(0, eq - 1);
            std::string value = line.substr(eq + 1);
            while (!value.empty() && value.front() == ' ')
                value.erase(0, 1);
            if (value.size() >= 1 && value[0] >= 'D' && value[0] <= 'Z')
                remembered_[key] = value[0];
        }
    }
    return true;
}

BenchDisks::Disk* BenchDisks::diskLocked(int device)
{
    auto it = disks_.find(device);
    return it == disks_.end() ? nullptr : &it->second;
}

const DiskImage* BenchDisks::image(int device) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = disks_.find(device);
    return it == disks_.end() ? nullptr : it->second.image.get();
}

uint32_t BenchDisks::sectorSize(int device) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = disks_.find(device);
    return it == disks_.end() ? kDefaultSectorSize : it->second.sectorSize;
}

uint64_t BenchDisks::size(int device) const
{
    const DiskImage* i = image(device);
    return i ? i->size() : 0;
}

ByteSource BenchDisks::diskSource(int device) const
{
    const DiskImage* disk = image(device);
    ByteSource source;
    if (!disk)
        return source;
    source.size = disk->size();
    source.read = [disk](uint64_t offset, void* buffer, size_t length) { return disk->read(offset, buffer, length); };
    source.nextData = [disk](uint64_t from) { return disk->nextData(from); };
    return source;
}

ByteSource BenchDisks::volumeSource(const BenchVolume& volume) const
{
    const DiskImage* disk = image(volume.device);
    ByteSource source;
    if (!disk)
        return source;
    uint64_t base = volume.partition.startingOffset;
    source.size = std::min(volume.partition.length, disk->size() > base ? disk->size() - base : 0);
    source.read = [disk, base](uint64_t offset, void* buffer, size_t length) {
        return disk->read(base + offset, buffer, length);
    };
    source.nextData = [disk, base](uint64_t from) { return disk->nextData(base + from) - base; };
    return source;
}

void BenchDisks::readLayoutLocked(int device, Disk& disk)
{
    ByteSource source;
    const DiskImage* image = disk.image.get();
    source.size = image->size();
    source.read = [image](uint64_t offset, void* buffer, size_t length) { return image->read(offset, buffer, length); };
    disk.layout = readDriveLayout(source, disk.sectorSize);
    (void)device;
}

char BenchDisks::pickLetterLocked(const std::string& key, bool systemFirst)
{
    bool used[26] = {};
    used['C' - 'A'] = true;  // the system's, whether or not its disk shows it
    for (const auto& [k, v] : volumes_)
        if (v.letter)
            used[v.letter - 'A'] = true;
    if (systemFirst)
        return 'C';
    auto it = remembered_.find(key);
    if (it != remembered_.end() && !used[it->second - 'A'])
        return it->second;
    for (char c = 'D'; c <= 'Z'; ++c)
        if (!used[c - 'A'])
            return c;
    return 0;
}

void BenchDisks::volumesArriveLocked(int device, Disk& disk)
{
    bool first = true, changed = false;
    for (const PartitionInfo& p : disk.layout.partitions) {
        if (!carriesVolume(p))
            continue;
        std::string key = deviceName(device) + "@" + std::to_string(p.startingOffset);
        auto existing = volumes_.find(key);
        if (existing != volumes_.end() && sameExtent(existing->second.partition, p)) {
            existing->second.partition = p;  // its number may have changed
            first = false;
            continue;
        }
        BenchVolume v;
        v.device = device;
        v.diskNumber = disk.number;
        v.partition = p;
        v.key = key;
        v.volumeGuid = guidFromText(folder_ + "/volume/" + key);
        v.arrival = ++arrivals_;
        v.letter = pickLetterLocked(key, device == kSystemDisk && first);
        if (v.letter && v.letter != 'C' && remembered_[key] != v.letter) {
            remembered_[key] = v.letter;
            changed = true;
        }
        volumes_[key] = v;
        first = false;
    }
    if (changed)
        saveLettersLocked();
}

void BenchDisks::volumesLeaveLocked(int device)
{
    for (auto it = volumes_.begin(); it != volumes_.end();)
        it = it->second.device == device ? volumes_.erase(it) : std::next(it);
}

void BenchDisks::saveLettersLocked()
{
    if (readOnly_)
        return;
    std::string text = "# The drive letter each volume had, by device and partition offset.\n";
    for (const auto& [key, letter] : remembered_)
        text += key + " = " + std::string(1, letter) + "\n";
    std::string error;
    writeFileAtomically(lettersPath(folder_), text, error);
}

void BenchDisks::arrived(int device, int diskNumber)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Disk* disk = diskLocked(device);
    if (!disk)
        return;
    disk->present = true;
    disk->number = diskNumber;
    readLayoutLocked(device, *disk);
    volumesLeaveLocked(device);
    volumesArriveLocked(device, *disk);
}

void BenchDisks::left(int device)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Disk* disk = diskLocked(device);
    if (!disk)
        return;
    disk->present = false;
    disk->number = -1;
    volumesLeaveLocked(device);
}

void BenchDisks::reread(int device)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Disk* disk = diskLocked(device);
    if (!disk || !disk->present)
        return;
    readLayoutLocked(device, *disk);
    // Volumes whose partition is unchanged stay (their handles with them);
    // the others leave, and the new ones arrive.
    for (auto it = volumes_.begin(); it != volumes_.end();) {
        bool kept = false;
        if (it->second.device == device)
            for (const PartitionInfo& p : disk->layout.partitions)
                kept = kept || (carriesVolume(p) && sameExtent(p, it->second.partition));
        it = it->second.device == device && !kept ? volumes_.erase(it) : std::next(it);
    }
    volumesArriveLocked(device, *disk);
}

std::optional<DriveLayout> BenchDisks::layout(int device)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Disk* disk = diskLocked(device);
    if (!disk || !disk->present)
        return std::nullopt;
    return disk->layout;
}

std::vector<BenchVolume> BenchDisks::volumes()
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<BenchVolume> list;
    for (const auto& [key, v] : volumes_)
        list.push_back(v);
    std::sort(list.begin(), list.end(), [](const BenchVolume& a, const BenchVolume& b) {
        if ((a.letter == 0) != (b.letter == 0))
            return a.letter != 0;
        return a.letter != b.letter ? a.letter < b.letter : a.key < b.key;
    });
    return list;
}

std::optional<BenchVolume> BenchDisks::volumeByLetter(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& [key, v] : volumes_)
        if (letter && v.letter == letter)
            return v;
    return std::nullopt;
}

std::optional<BenchVolume> BenchDisks::volumeByGuid(const Guid& guid)
{
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& [key, v] : volumes_)
        if (v.volumeGuid == guid)
            return v;
    return std::nullopt;
}

std::optional<BenchVolume> BenchDisks::volumeByKey(const std::string& key)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = volumes_.find(key);
    return it == volumes_.end() ? std::nullopt : std::optional<BenchVolume>(it->second);
}

bool BenchDisks::letterInUse(char letter) { return letter == 'C' || letter == 'c' || volumeByLetter(letter).has_value(); }

bool BenchDisks::assignLetter(const std::string& key, char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = volumes_.find(key);
    if (it == volumes_.end() || letter < 'D' || letter > 'Z')
        return false;
    for (const auto& [k, v] : volumes_)
        if (k != key && v.letter == letter)
            return false;
    it->second.letter = letter;
    remembered_[key] = letter;
    saveLettersLocked();
    return true;
}

FileSystemView BenchDisks::fileSystem(const BenchVolume& volume, bool countFree)
{
    FileSystemView view;
    probeFileSystem(volumeSource(volume), view, countFree);
    return view;
}

std::string BenchDisks::filesFolder(const BenchVolume& volume, bool create)
{
    FileSystemView view = fileSystem(volume, false);
    if (view.kind == FileSystemKind::None)
        return {};
    std::string folder;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        Disk* disk = diskLocked(volume.device);
        if (!disk)
            return {};
        // A new format brings a new serial number, and with it an empty folder.
        folder = volumesPath(disk->folder) + "/" + hex(volume.partition.startingOffset) + "-" + hex(view.serialNumber);
    }
    if (create) {
        std::error_code ec;
        fs::create_directories(folder, ec);
    }
    return folder;
}

int BenchDisks::deviceOfFilesPath(const std::string& path) const
{
    const std::string file = fs::path(path).lexically_normal().string();
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& [device, disk] : disks_) {
        const std::string folder = fs::path(volumesPath(disk.folder)).lexically_normal().string() + "/";
        if (file.compare(0, folder.size(), folder) == 0)
            return device;
    }
    return 0;
}

bool BenchDisks::handleGoneLocked(const Handle& h) const
{
    auto it = volumes_.find(h.key);
    return it == volumes_.end() || it->second.arrival != h.arrival;
}

bool BenchDisks::openHandle(const std::string& key, uint64_t arrival, bool exclusive, uint64_t& handle)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto v = volumes_.find(key);
    if (v == volumes_.end() || v->second.arrival != arrival) {
        setLastError(winerr::kDeviceNotConnected);
        return false;
    }
    for (const auto& [id, h] : handles_)
        if (h.key == key && h.arrival == arrival && (exclusive || h.exclusive)) {
            setLastError(winerr::kSharingViolation);
            return false;
        }
    handle = nextHandle_++;
    handles_[handle] = Handle{key, arrival, exclusive, false};
    return true;
}

void BenchDisks::closeHandle(uint64_t handle)
{
    std::lock_guard<std::mutex> guard(mutex_);
    handles_.erase(handle);
}

bool BenchDisks::lock(uint64_t handle)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || handleGoneLocked(it->second)) {
        setLastError(winerr::kDeviceNotConnected);
        return false;
    }
    if (it->second.locked)
        return true;
    for (const auto& [id, h] : handles_)
        if (id != handle && h.key == it->second.key && h.arrival == it->second.arrival) {
            setLastError(winerr::kAccessDenied);  // another handle has the volume open
            return false;
        }
    it->second.locked = true;
    return true;
}

bool BenchDisks::unlock(uint64_t handle)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || !it->second.locked) {
        setLastError(kErrorNotLocked);
        return false;
    }
    it->second.locked = false;
    return true;
}

bool BenchDisks::dismount(uint64_t handle)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || handleGoneLocked(it->second)) {
        setLastError(winerr::kDeviceNotConnected);
        return false;
    }
    volumes_[it->second.key].dismounted = true;
    return true;
}

bool BenchDisks::mayWrite(uint64_t handle)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || handleGoneLocked(it->second))
        return false;
    return it->second.locked || volumes_[it->second.key].dismounted;
}

void BenchDisks::touch(const std::string& key)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto v = volumes_.find(key);
    if (v == volumes_.end())
        return;
    for (const auto& [id, h] : handles_)
        if (h.key == key && h.locked)
            return;  // a locked volume stays as it is
    v->second.dismounted = false;
}

std::vector<VolumeFile> filesIn(const std::string& folder)
{
    std::vector<VolumeFile> list;
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec))
        return list;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        VolumeFile f;
        f.path = fs::relative(it->path(), folder, ec).generic_string();
        f.size = it->file_size(ec);
        list.push_back(std::move(f));
    }
    std::sort(list.begin(), list.end(), [](const VolumeFile& a, const VolumeFile& b) { return a.path < b.path; });
    return list;
}

}  // namespace krv::bench
