#pragma once
// The bench's settings file (bench.ini): how many ports the bench has, the
// device on each port and how fast bench time runs. A small INI dialect:
//
//   [bench]
//   version = 1
//   ports = 2
//   time_scale = 20
//
//   [port 1]
//   chip = KRV8574
//   link = USB3
//   speed = Gen2x1        (optional: the link's fastest common speed)
//   disk_size = 256G      (bytes, or K/M/G/T in powers of 1024)
//   present = yes         (optional: plugged in)
//   revision = 10         (optional: the chip revision register 0xC8FF, hex)
//   registers = C895:02, E495:14   (optional: register values, hex)
//   cdrom = no            (optional: also shows a CD-ROM unit)
//   renumber = no         (optional: comes back from a reset under a new number;
//                         stale-name: and its old drive name still leads to it)
//   relink_ms = 3000      (optional: reset to re-enumeration, bench ms)
//   drop_ms = 0           (optional: reset to leaving the bus, bench ms)
//   location = 0-8.3      (optional: where it sits on the USB tree, below)
//   usb_strings = normal  (optional: normal, no-serial, unreadable, no-languages)
//   usb_status = connected (optional: connected, failed-enumeration,
//                         general-failure, overcurrent, not-enough-power)
//   max_transfer = 65280  (optional: the most bytes the host adapter moves in
//                         one command; a larger one fails at the transport)
//   command_ms = 0        (optional: bench ms every command and disk transfer
//                         takes before the device answers it)
//   link_mbps = 320       (optional: the payload rate of the line to the host,
//                         Mbit/s, as a slower cable or host port gives; default:
//                         what the link carries at its speed, LinkLine.h)
//   sector_size = 512     (optional: the drive's logical sector, 512 or 4096
//                         bytes; the disk size is a whole number of them)
//   usb_serial = text     (optional: text, lower, hex: how the bridge writes its
//                         serial into its USB serial-number string)
//   unit_serial = serial  (optional: serial, disk, reversed, none: what it answers
//                         as its unit serial number, INQUIRY page 0x80)
//   storage_driver = bot  (optional: bot, uas: the host's mass-storage driver)
//   storage_serial = text (optional: text, hex: how the host reports the serial
//                         of the storage device descriptor)
//   bus_type = usb        (optional: usb, scsi, sata, spaces: the bus type the
//                         host reports in the storage device descriptor)
//   pd = none             (optional: none, richtek, cypress, ccg3, ccg, ite: the
//                         power-delivery controller behind the bridge)
//   mcu = none            (optional: none, stm: the MCU beside it)
//
// The USB tree, in [bench] (all optional):
//   controllers = 1       host controllers, each with a root hub
//   root_ports = 8        ports of every root hub
//   hubs = auto           external hubs chained from the last root port of
//                         controller 0, each on the last port of the one
//                         before; auto: as many as the devices need
//   hub_ports = 7         ports of every external hub
// A location is the controller, '-', then the port path from the root hub:
// "0-3" is root port 3 of controller 0, "0-8.7.2" port 2 of the hub on port 7
// of the hub on root port 8. Devices without one fill the free ports in
// order: root ports first, then the chained hubs'. A location through a
// port that holds no chained hub puts another hub there.
//
// Disks beside the bridges' (optional sections):
//   [system disk]         the PC's own disk, PhysicalDrive0, volume C:
//   disk_size = 256G
//   other_disks = 0       (optional: the PC's other disks, PhysicalDrive1..N;
//                         the devices' drives are numbered after them)
//   [usb disk]            a USB flash disk without a bridge
//   disk_size = 16G
//   location = 0-2        (optional)
//   present = yes         (optional)
//
// Comments are whole lines starting with '#' or ';'. Keys that later bench
// versions will read (PD controller...) are refused by name, so a file
// written for a newer bench never loads here with those parts silently
// ignored. The firmware and configuration a device starts from are not
// settings: they are the stored state in the port's folder.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::bench {

constexpr int kSettingsVersion = 1;
constexpr uint64_t kMinDiskSize = 1ULL << 20;   // 1 MiB
constexpr uint64_t kMaxDiskSize = 64ULL << 40;  // 64 TiB
constexpr double kMinTimeScale = 1.0;
constexpr double kMaxTimeScale = 1000.0;

constexpr uint32_t kDefaultRelinkMs = 3000;
// A drive's logical sector: 512 bytes, or 4096 on an "advanced format 4Kn" drive.
constexpr uint32_t kDefaultSectorSize = 512;
constexpr uint32_t kMaxDelayMs = 3'600'000;  // an hour of bench time
constexpr uint32_t kMinLinkMbps = 1;
constexpr uint32_t kMaxLinkMbps = 100'000;   // 100 Gbit/s, beyond every link of the bench

// Where a device sits on the USB tree (see above).
struct UsbLocation {
    int controller = 0;
    std::vector<int> path;   // port numbers from the root hub, each from 1

    bool operator==(const UsbLocation&) const = default;
    bool operator<(const UsbLocation& other) const
    {
        return controller != other.controller ? controller < other.controller : path < other.path;
    }
};

constexpr int kMaxControllers = 4;
constexpr int kMaxHubPorts = 255;
constexpr int kMaxHubTiers = 5;         // external hubs between a root hub and a device
constexpr int kAutoHubs = -1;

bool parseUsbLocation(std::string_view text, UsbLocation& location, std::string& why);
std::string formatUsbLocation(const UsbLocation& location);

// How a device answers string-descriptor requests: as its configuration
// says, without a serial-number string (index 0), stalling every string
// request but the language table, or stalling the language table too.
enum class UsbStrings { Normal, NoSerial, Unreadable, NoLanguages };
std::string_view usbStringsName(UsbStrings strings);
bool parseUsbStrings(std::string_view text, UsbStrings& strings);

// How the host fares with the device on its port: it works, or the port
// reports one of the hub's failures (and the host never reaches the device).
enum class UsbPortStatus { Connected, FailedEnumeration, GeneralFailure, Overcurrent, NotEnoughPower };
std::string_view usbPortStatusName(UsbPortStatus status);
bool parseUsbPortStatus(std::string_view text, UsbPortStatus& status);

// How the bridge's firmware writes the serial it goes by into its USB
// serial-number string: as it is, in lower case, or as the hex digits of its
// bytes ("AB" as "4142").
enum class UsbSerialForm { Text, Lower, Hex };
// What the bridge answers as its unit serial number (INQUIRY page 0x80): the
// serial it goes by, its drive's own serial, the serial it goes by with its
// characters in reverse order, or no such page.
enum class UnitSerial { Serial, Disk, Reversed, None };
// The host's mass-storage driver for the bridge. Bulk-only: the disk is named
// by the USB serial (USBSTOR\...\SERIAL&0) and the storage descriptor reports
// the USB serial. UAS: the disk is named by where it sits (SCSI\...\7&..&0&000000)
// and the storage descriptor reports the unit serial number.
enum class StorageDriver { Bot, Uas };
// How the host reports the serial of the storage device descriptor: as it
// came, or as the hex digits of its bytes (as some hosts report ATA and USB
// serials).
enum class StorageSerialForm { Text, Hex };
// The bus type the host reports in the storage device descriptor: USB (7),
// SCSI (1), SATA (11) or Storage Spaces (16).
enum class StorageBus { Usb, Scsi, Sata, Spaces };
// The USB-C power-delivery controller behind the bridge (platform/bench/BenchPd.h):
// none, a Richtek MTP part, a Cypress CCG2, a CCG3 with two firmware banks,
// another CCG-type part, or an ITE part flashed through the I2C tunnel.
enum class PdChip { None, Richtek, Cypress, Ccg3, Ccg, Ite };
// The small MCU beside it: none, or an STM part with a bootloader.
enum class McuChip { None, Stm };

// Names of these settings' values, as bench.ini and krvbench spell them;
// parsing ignores case and surrounding blanks.
template <typename Choice>
std::string_view choiceName(Choice value);
template <typename Choice>
bool parseChoice(std::string_view text, Choice& value);
template <typename Choice>
std::string choiceList();   // "text, lower or hex"

struct TopologySettings {
    int controllers = 1;
    int rootPorts = 8;
    int hubs = kAutoHubs;
    int hubPorts = 7;

    bool operator==(const TopologySettings&) const = default;
};

constexpr uint64_t kDefaultSystemDiskSize = 256ULL << 30;
constexpr int kMaxOtherDisks = 1000;
constexpr uint64_t kDefaultUsbDiskSize = 16ULL << 30;

// The USB flash disk without a bridge.
struct UsbDiskSettings {
    uint64_t diskSize = kDefaultUsbDiskSize;
    std::optional<UsbLocation> location;
    bool present = true;

    bool operator==(const UsbDiskSettings&) const = default;
};

struct PortSettings {
    std::string chip = "KRV8574";
    std::string link = "USB3";
    std::string speed;                 // empty until checked: the link's default
    uint64_t diskSize = 256ULL << 30;  // bytes
    bool present = true;
    int revision = -1;                 // 0xC8FF; -1 until checked: the chip's default
    std::map<uint32_t, uint8_t> registers;  // register values that differ from the model's
    bool cdrom = false;                // enumerates a CD-ROM unit beside the disk
    bool renumber = false;             // a reset brings it back under another drive number
    bool staleName = false;            // ... and the host keeps its old drive name leading to it
    uint32_t relinkMs = kDefaultRelinkMs;  // CPU reset to re-enumeration
    uint32_t dropMs = 0;               // CPU reset to leaving the bus
    uint32_t commandMs = 0;            // how long each command takes the device
    uint32_t linkMbps = 0;             // the line's payload rate; 0: the link's own at its speed
    std::optional<UsbLocation> location;   // none: the next free port
    UsbStrings usbStrings = UsbStrings::Normal;
    UsbPortStatus usbStatus = UsbPortStatus::Connected;
    uint32_t maxTransfer = 0;          // the host adapter's limit per command; 0: none of its own
    uint32_t sectorSize = kDefaultSectorSize;  // the drive's logical sector in bytes
    UsbSerialForm usbSerial = UsbSerialForm::Text;
    UnitSerial unitSerial = UnitSerial::Serial;
    StorageDriver storageDriver = StorageDriver::Bot;
    StorageSerialForm storageSerial = StorageSerialForm::Text;
    StorageBus busType = StorageBus::Usb;
    PdChip pd = PdChip::None;
    McuChip mcu = McuChip::None;

    bool operator==(const PortSettings&) const = default;
};

struct BenchSettings {
    double timeScale = 1.0;
    std::vector<PortSettings> ports;
    TopologySettings topology;
    uint64_t systemDiskSize = kDefaultSystemDiskSize;
    int otherDisks = 0;                       // PhysicalDrive1..N belong to the PC
    std::optional<UsbDiskSettings> usbDisk;   // none: no such disk

    bool operator==(const BenchSettings&) const = default;
};

// Disk sizes: a whole number of bytes, or a number with K, M, G or T (binary
// multiples; a trailing "B" or "iB" is accepted). Whole 512-byte sectors.
bool parseDiskSize(std::string_view text, uint64_t& bytes, std::string& why);
std::string formatDiskSize(uint64_t bytes);  // "256G" where exact, else bytes
bool parseTimeScale(std::string_view text, double& scale, std::string& why);
std::string formatTimeScale(double scale);
bool parseYesNo(std::string_view text, bool& value);
// Register presets: "ADDR:VALUE" pairs in hex separated by commas or blanks
// ("C895:02, 20000:06"); addresses up to 0x2FFFF, values one byte.
bool parseRegisterList(std::string_view text, std::map<uint32_t, uint8_t>& out, std::string& why);
std::string formatRegisterList(const std::map<uint32_t, uint8_t>& registers);
bool parseRevision(std::string_view text, int& revision, std::string& why);
bool parseDelayMs(std::string_view text, const char* what, uint32_t& ms, std::string& why);
bool parseMaxTransfer(std::string_view text, uint32_t& bytes, std::string& why);
bool parseLinkMbps(std::string_view text, const char* what, uint32_t& mbps, std::string& why);
bool parseSectorSize(std::string_view text, uint32_t& bytes, std::string& why);

// renumber: yes/no, or stale-name (renumbers, and the old name stays).
bool parseRenumber(std::string_view text, bool& renumber, bool& staleName);

// Validates one port's device and puts names in their canonical spelling
// (filling in the link's default speed). Empty on success, else the reason.
enum class PortField { Chip, Link, Speed, Revision, Delay, SectorSize, StorageDriver };
std::string checkPort(PortSettings& port, PortField* culprit = nullptr);

// Parses the text of a settings file; errors read "LABEL:LINE: reason" (or
// "LABEL: reason" for what no single line holds).
bool parseBenchSettings(std::string_view text, const std::string& label, BenchSettings& out, std::string& error);
std::string formatBenchSettings(const BenchSettings& settings);

bool loadBenchSettings(const std::string& path, BenchSettings& out, std::string& error);
bool saveBenchSettings(const std::string& path, const BenchSettings& settings, std::string& error);

}  // namespace krv::bench
