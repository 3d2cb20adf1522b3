#include "platform/bench/BenchLayout.h"

#include <cstdio>
#include <filesystem>

namespace krv::bench {

std::string absoluteFolder(const std::string& folder)
{
    std::error_code ec;
    auto path = std::filesystem::absolute(folder, ec);
    std::string text = ec ? folder : path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::string settingsPath(const std::string& folder) { return folder + "/bench.ini"; }
std::string lockPath(const std::string& folder) { return folder + "/bench.lock"; }
std::string inboxPath(const std::string& folder) { return folder + "/inbox"; }
std::string portsPath(const std::string& folder) { return folder + "/ports"; }

std::string portStatePath(const std::string& folder, int port)
{
    char name[16];
    std::snprintf(name, sizeof name, "%02d", port);
    return portsPath(folder) + "/" + name;
}

std::string deviceFolderPath(const std::string& folder, int device)
{
    if (device == kSystemDisk)
        return folder + "/system";
    if (device == kUsbDisk)
        return folder + "/usbdisk";
    return portStatePath(folder, device);
}

std::string diskImagePath(const std::string& deviceFolder) { return deviceFolder + "/disk.img"; }
std::string volumesPath(const std::string& deviceFolder) { return deviceFolder + "/volumes"; }
std::string lettersPath(const std::string& folder) { return folder + "/letters.ini"; }

std::string deviceName(int device)
{
    if (device == kSystemDisk)
        return "system disk";
    if (device == kUsbDisk)
        return "USB disk";
    return "port " + std::to_string(device);
}

}  // namespace krv::bench
