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
//
// Comments are whole lines starting with '#' or ';'. Keys that later bench
// versions will read (PD controller, firmware and configuration to start
// from...) are refused by name, so a file written for a newer bench never
// loads here with those parts silently ignored.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace krv::bench {

constexpr int kSettingsVersion = 1;
constexpr uint64_t kMinDiskSize = 1ULL << 20;   // 1 MiB
constexpr uint64_t kMaxDiskSize = 64ULL << 40;  // 64 TiB
constexpr double kMinTimeScale = 1.0;
constexpr double kMaxTimeScale = 1000.0;

struct PortSettings {
    std::string chip = "KRV8574";
    std::string link = "USB3";
    std::string speed;                 // empty until checked: the link's default
    uint64_t diskSize = 256ULL << 30;  // bytes
    bool present = true;

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

// Validates one port's device and puts names in their canonical spelling
// (filling in the link's default speed). Empty on success, else the reason.
enum class PortField { Chip, Link, Speed };
std::string checkPort(PortSettings& port, PortField* culprit = nullptr);

// Parses the text of a settings file; errors read "LABEL:LINE: reason" (or
// "LABEL: reason" for what no single line holds).
bool parseBenchSettings(std::string_view text, const std::string& label, BenchSettings& out, std::string& error);
std::string formatBenchSettings(const BenchSettings& settings);

bool loadBenchSettings(const std::string& path, BenchSettings& out, std::string& error);
bool saveBenchSettings(const std::string& path, const BenchSettings& settings, std::string& error);

}  // namespace krv::bench
