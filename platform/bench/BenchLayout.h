#pragma once
// Where things live in a bench folder:
//   bench.ini       the settings (ports and their devices, time scale)
//   bench.lock      flock'd by the one process that owns the bench; holds its pid
//   inbox/          commands for the owner from `krvbench`, one file each
//   ports/NN/       stored state of the device on port NN (01..32), its
//                   disk image (disk.img) and the files of its volumes
//   system/         the system disk (PhysicalDrive0): disk.img, volumes/
//   usbdisk/        the USB disk without a bridge, when the bench has one
//   letters.ini     the drive letters volumes had, so they get them back
#include <string>

namespace krv::bench {

// A bench may hold more bridges than a production table has rows, so that
// what a tool does with the ones past its table can be tried.
constexpr int kMaxPorts = 32;

// The bench's devices by number: the system disk, the ports' bridges, the
// USB disk without a bridge.
constexpr int kSystemDisk = 0;
constexpr int kUsbDisk = kMaxPorts + 1;

// The folder as an absolute, normal path without a trailing '/', so that a
// bench stays the same place when the working folder changes.
std::string absoluteFolder(const std::string& folder);

std::string settingsPath(const std::string& folder);
std::string lockPath(const std::string& folder);
std::string inboxPath(const std::string& folder);
std::string portsPath(const std::string& folder);
// Port numbers are 1-based, as on a hub.
std::string portStatePath(const std::string& folder, int port);
// The folder of any device (kSystemDisk, a port, kUsbDisk).
std::string deviceFolderPath(const std::string& folder, int device);
std::string diskImagePath(const std::string& deviceFolder);
std::string volumesPath(const std::string& deviceFolder);
std::string lettersPath(const std::string& folder);
// "system disk", "port 3", "USB disk"
std::string deviceName(int device);

}  // namespace krv::bench
