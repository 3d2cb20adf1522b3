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
//   renumber = no         (optional: comes back from a reset under a new number)
//   relink_ms = 3000      (optional: reset to re-enumeration, bench ms)
//   drop_ms = 0           (optional: reset to leaving the bus, bench ms)
//
// Comments are whole lines starting with '#' or ';'. Keys that later bench
// versions will read (PD controller...) are refused by name, so a file
// written for a newer bench never loads here with those parts silently
// ignored. The firmware and configuration a device starts from are not
// settings: they are the stored state in the port's folder.
#include <cstdint>
#include <map>
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
constexpr uint32_t kMaxDelayMs = 3'600'000;  // an hour of bench time

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
    uint32_t relinkMs = kDefaultRelinkMs;  // CPU reset to re-enumeration
    uint32_t dropMs = 0;               // CPU reset to leaving the bus

    bool operator==(const PortSettings&) const = default;
};

struct BenchSettings {
    double timeScale = 1.0;
    std::vector<PortSettings> ports;

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

// Validates one port's device and puts names in their canonical spelling
// (filling in the link's default speed). Empty on success, else the reason.
enum class PortField { Chip, Link, Speed, Revision, Delay };
std::string checkPort(PortSettings& port, PortField* culprit = nullptr);

// Parses the text of a settings file; errors read "LABEL:LINE: reason" (or
// "LABEL: reason" for what no single line holds).
bool parseBenchSettings(std::string_view text, const std::string& label, BenchSettings& out, std::string& error);
std::string formatBenchSettings(const BenchSettings& settings);

bool loadBenchSettings(const std::string& path, BenchSettings& out, std::string& error);
bool saveBenchSettings(const std::string& path, const BenchSettings& settings, std::string& error);

}  // namespace krv::bench
