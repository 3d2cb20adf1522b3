#pragma once
// Where things live in a bench folder:
//   bench.ini       the settings (ports and their devices, time scale)
//   bench.lock      flock'd by the one process that owns the bench; holds its pid
//   inbox/          commands for the owner from `krvbench`, one file each
//   ports/NN/       stored state of the device on port NN (01..16)
#include <string>

namespace krv::bench {

constexpr int kMaxPorts = 16;

// The folder as an absolute, normal path without a trailing '/', so that a
// bench stays the same place when the working folder changes.
std::string absoluteFolder(const std::string& folder);

std::string settingsPath(const std::string& folder);
std::string lockPath(const std::string& folder);
std::string inboxPath(const std::string& folder);
std::string portsPath(const std::string& folder);
// Port numbers are 1-based, as on a hub.
std::string portStatePath(const std::string& folder, int port);

}  // namespace krv::bench
