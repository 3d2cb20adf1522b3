#pragma once
// Everything a bench device keeps, split as on the real part: the stored
// state (its EEPROMs: configuration images, firmware banks, the SHA-256 key,
// the power configuration) that survives resets and power cycles, and the
// running state (the firmware and configuration it loaded at its last reset,
// registers written since) that a CPU reset reloads from the stored state.
// Beside them, how the host sees the device: on the bus or not, and under
// which drive numbers. All of it lives in the port's folder:
//   config-I-T.bin   configuration image I (0, 1), type T (0 USB 3, 1 USB4)
//   firmware-B.bin   firmware bank B (0, 1), 98016 bytes (KRV857x only)
//   state.ini        the rest, as "key = value" lines
//   faults.ini       faults waiting on the device
//   commands.log     the command log
#include <array>
#include <map>
#include <optional>
#include <string>

#include "platform/bench/BenchSettings.h"
#include "platform/bench/ChipCatalog.h"
#include "platform/bench/bridge/DiskIdentity.h"
#include "platform/bench/bridge/Faults.h"
#include "platform/bench/bridge/Images.h"
#include "platform/bench/disk/DiskLayoutPlan.h"

namespace krv::bench {

using ConfigSet = std::array<std::array<Bytes, image::kConfigTypes>, image::kConfigBanks>;

struct StoredState {
    ConfigSet config;                      // 128 bytes each
    std::array<Bytes, image::kFirmwareBanks> firmware;  // KRV857x: 98016 bytes each; else empty
    int activeBank = 0;                    // the bank the bridge boots first; -1 none
    std::optional<std::array<uint8_t, image::kShaKeySize>> shaKey;
    Bytes powerConfig;                     // KRV752x: the 304 bytes last written; empty before
    FirmwareVersion romVersion{};          // KRV752x / KRV6390: the firmware they carry

    bool operator==(const StoredState&) const = default;
};

struct RunningState {
    int bank = -1;                         // firmware bank running; -1: none bootable (boot ROM)
    std::array<uint8_t, image::kHeaderLength> header{};  // running image bytes from 0x204
    ConfigSet config;
    std::map<uint32_t, uint8_t> registerWrites;

    bool operator==(const RunningState&) const = default;
};

enum class Connection { OnBus, Dropped, Disconnected };
std::string_view connectionName(Connection connection);

struct PortState {
    StoredState stored;
    RunningState running;
    Connection connection = Connection::OnBus;  // while plugged in
    int physicalDrive = -1;                // -1: none
    int cdrom = -1;
    DiskIdentity disk;
    FaultList faults;
};

// What a port starts from when a bench is made (krvbench create options).
struct PortStart {
    std::optional<FirmwareVersion> firmware;  // both banks (or the ROM) hold this version
    std::optional<std::string> serial;        // USB serial in the USB 3 images
    std::optional<Bytes> usb3Config;          // the USB 3 image of both banks, 128 bytes
    std::optional<Bytes> usb4Config;          // the USB4 image of both banks, 128 bytes
    std::optional<DiskLayoutPlan> disk;       // partitions its disk arrives with
    std::optional<std::string> diskSerial;    // the NVMe drive's own serial (Identify Controller)
};

int majorRevisionOf(const PortSettings& port);
// The factory state of the device on `port`, running what it stores.
PortState factoryState(int port, const PortSettings& settings, const PortStart& start = {});
// Loads stored state into running state: a CPU reset or a power-up.
void bootFromStored(PortState& state, const PortSettings& settings);

// Reads a port folder. A folder without state gives the factory state; a
// damaged one is refused with the file named.
bool loadPortState(const std::string& folder, int port, const PortSettings& settings, PortState& state,
                   std::string& error);
// Writes every file of the state (each atomically).
bool savePortState(const std::string& folder, const PortState& state, std::string& error);
bool saveConfigImage(const std::string& folder, const PortState& state, int image, int type, std::string& error);
bool saveFirmwareBank(const std::string& folder, const PortState& state, int bank, std::string& error);
bool saveStateFile(const std::string& folder, const PortState& state, std::string& error);
bool saveFaults(const std::string& folder, const PortState& state, std::string& error);

std::string configImagePath(const std::string& folder, int image, int type);
std::string firmwareBankPath(const std::string& folder, int bank);
std::string stateFilePath(const std::string& folder);
std::string faultsFilePath(const std::string& folder);
std::string commandLogPath(const std::string& folder);

}  // namespace krv::bench
