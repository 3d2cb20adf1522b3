#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>

#include "platform/bench/Bench.h"
#include "platform/bench/BenchFiles.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/bridge/PortState.h"
#include "platform/bench/disk/DiskLayoutPlan.h"
#include "tools/krvbench/Arguments.h"
#include "tools/krvbench/Commands.h"

namespace krv::tool {

namespace {

// One per-port option as given: a value for every port and values for some.
struct PerPortValues {
    std::optional<std::string> all;
    std::map<int, std::string> byPort;
};

// Sets one port's settings or what it starts from.
using Setter =
    std::function<bool(bench::PortSettings&, bench::PortStart&, const std::string& value, std::string& why)>;

struct PerPortOption {
    Setter set;
    PerPortValues values;
};

bool readImageFile(const std::string& path, bench::Bytes& image, std::string& why)
{
    std::string text;
    if (!bench::readTextFile(path, text, why))
        return false;
    bench::Bytes bytes(text.begin(), text.end());
    if (bytes.size() != bench::image::kConfigSize) {
        why = path + " holds " + std::to_string(bytes.size()) + " bytes; a configuration image has " +
              std::to_string(bench::image::kConfigSize);
        return false;
    }
    image = std::move(bytes);
    return true;
}

bool yesNo(const std::string& option, const std::string& v, bool& flag, std::string& why)
{
    if (bench::parseYesNo(v, flag))
        return true;
    why = "bad value '" + v + "' for " + option + " (yes or no)";
    return false;
}

// A port key that takes one of a few words.
template <typename Choice, Choice bench::PortSettings::*field>
Setter choiceOption(const char* option)
{
    return [option](bench::PortSettings& p, bench::PortStart&, const std::string& v, std::string& why) {
        if (bench::parseChoice(v, p.*field))
            return true;
        why = "bad value '" + v + "' for " + option + " (" + bench::choiceList<Choice>() + ")";
        return false;
    };
}

std::map<std::string, PerPortOption> perPortOptions()
{
    using bench::PortSettings;
    using bench::PortStart;
    std::map<std::string, PerPortOption> options;
    // Chip, link and speed are judged together once the port is complete.
    options["--chip"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string&) {
        p.chip = v;
        return true;
    };
    options["--link"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string&) {
        p.link = v;
        return true;
    };
    options["--speed"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string&) {
        p.speed = v;
        return true;
    };
    options["--disk-size"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        return bench::parseDiskSize(v, p.diskSize, why);
    };
    options["--sector-size"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        return bench::parseSectorSize(v, p.sectorSize, why);
    };
    options["--present"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        return yesNo("--present", v, p.present, why);
    };
    options["--revision"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        return bench::parseRevision(v, p.revision, why);
    };
    options["--registers"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        return bench::parseRegisterList(v, p.registers, why);
    };
    options["--cdrom"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        return yesNo("--cdrom", v, p.cdrom, why);
    };
    options["--renumber"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        if (bench::parseRenumber(v, p.renumber, p.staleName))
            return true;
        why = "bad value '" + v + "' for --renumber (yes, no or stale-name)";
        return false;
    };
    options["--relink-ms"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        return bench::parseDelayMs(v, "--relink-ms", p.relinkMs, why);
    };
    options["--drop-ms"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        return bench::parseDelayMs(v, "--drop-ms", p.dropMs, why);
    };
    options["--command-ms"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        return bench::parseDelayMs(v, "--command-ms", p.commandMs, why);
    };
    options["--link-mbps"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        return bench::parseLinkMbps(v, "--link-mbps", p.linkMbps, why);
    };
    options["--disk-serial"].set = [](PortSettings&, PortStart& s, const std::string& v, std::string& why) {
        // NVMe Identify holds 20 ASCII characters, padded with blanks.
        const bool printable = std::all_of(v.begin(), v.end(), [](char c) { return c > ' ' && c < 0x7F; });
        if (v.empty() || v.size() > 20 || !printable) {
            why = "a drive serial is 1..20 printable characters without blanks, not '" + v + "'";
            return false;
        }
        s.diskSerial = v;
        return true;
    };
    options["--firmware"].set = [](PortSettings&, PortStart& s, const std::string& v, std::string& why) {
        bench::FirmwareVersion version{};
        if (!bench::parseFirmwareVersion(v, version, why))
            return false;
        s.firmware = version;
        return true;
    };
    options["--serial"].set = [](PortSettings&, PortStart& s, const std::string& v, std::string& why) {
        // Empty: the configuration's serial is left blank.
        if (v.size() > 20) {
            why = "a USB serial has at most 20 characters, not " + std::to_string(v.size());
            return false;
        }
        s.serial = v;
        return true;
    };
    options["--config"].set = [](PortSettings&, PortStart& s, const std::string& v, std::string& why) {
        bench::Bytes image;
        if (!readImageFile(v, image, why))
            return false;
        s.usb3Config = std::move(image);
        return true;
    };
    options["--usb4-config"].set = [](PortSettings&, PortStart& s, const std::string& v, std::string& why) {
        bench::Bytes image;
        if (!readImageFile(v, image, why))
            return false;
        s.usb4Config = std::move(image);
        return true;
    };
    options["--port-location"].set = [](PortSettings& p, PortStart&, const std::string& v, std::string& why) {
        p.location.emplace();
        return bench::parseUsbLocation(v, *p.location, why);
    };
    options["--usb-strings"].set = choiceOption<bench::UsbStrings, &PortSettings::usbStrings>("--usb-strings");
    options["--usb-status"].set = choiceOption<bench::UsbPortStatus, &PortSettings::usbStatus>("--usb-status");
    options["--usb-serial"].set = choiceOption<bench::UsbSerialForm, &PortSettings::usbSerial>("--usb-serial");
    options["--unit-serial"].set = choiceOption<bench::UnitSerial, &PortSettings::unitSerial>("--unit-serial");
    options["--storage-driver"].set =
        choiceOption<bench::StorageDriver, &PortSettings::storageDriver>("--storage-driver");
    options["--storage-serial"].set =
        choiceOption<bench::StorageSerialForm, &PortSettings::storageSerial>("--storage-serial");
    options["--bus-type"].set = choiceOption<bench::StorageBus, &PortSettings::busType>("--bus-type");
    options["--pd"].set = choiceOption<bench::PdChip, &PortSettings::pd>("--pd");
    options["--mcu"].set = choiceOption<bench::McuChip, &PortSettings::mcu>("--mcu");
    options["--volumes"].set = [](PortSettings&, PortStart& s, const std::string& v, std::string& why) {
        s.disk.emplace();
        return bench::parseDiskLayoutPlan(v, *s.disk, why);
    };
    return options;
}

// The options about the bench as a whole: its USB tree and its other disks.
using BenchSetter = std::function<bool(bench::BenchSettings&, std::map<int, bench::DiskLayoutPlan>&,
                                       const std::string& value, std::string& why)>;

bool count(const std::string& option, const std::string& v, int lowest, int highest, int& out, std::string& why)
{
    int n = 0;
    if (!parsePortNumber(v, n) && v != "0") {
        why = "bad value '" + v + "' for " + option;
        return false;
    }
    if (n < lowest || n > highest) {
        why = option + " takes " + std::to_string(lowest) + ".." + std::to_string(highest) + ", not " + v;
        return false;
    }
    out = n;
    return true;
}

std::map<std::string, BenchSetter> benchOptions()
{
    using bench::BenchSettings;
    using Layouts = std::map<int, bench::DiskLayoutPlan>;
    std::map<std::string, BenchSetter> options;
    options["--controllers"] = [](BenchSettings& b, Layouts&, const std::string& v, std::string& why) {
        return count("--controllers", v, 1, bench::kMaxControllers, b.topology.controllers, why);
    };
    options["--root-ports"] = [](BenchSettings& b, Layouts&, const std::string& v, std::string& why) {
        return count("--root-ports", v, 1, bench::kMaxHubPorts, b.topology.rootPorts, why);
    };
    options["--hub-ports"] = [](BenchSettings& b, Layouts&, const std::string& v, std::string& why) {
        return count("--hub-ports", v, 1, bench::kMaxHubPorts, b.topology.hubPorts, why);
    };
    options["--hubs"] = [](BenchSettings& b, Layouts&, const std::string& v, std::string& why) {
        if (v == "auto") {
            b.topology.hubs = bench::kAutoHubs;
            return true;
        }
        return count("--hubs", v, 0, bench::kMaxHubTiers, b.topology.hubs, why);
    };
    options["--system-disk-size"] = [](BenchSettings& b, Layouts&, const std::string& v, std::string& why) {
        return bench::parseDiskSize(v, b.systemDiskSize, why);
    };
    options["--system-volumes"] = [](BenchSettings&, Layouts& l, const std::string& v, std::string& why) {
        return bench::parseDiskLayoutPlan(v, l[bench::kSystemDisk], why);
    };
    options["--usb-disk"] = [](BenchSettings& b, Layouts&, const std::string& v, std::string& why) {
        bool yes = false;
        if (bench::parseYesNo(v, yes)) {
            b.usbDisk = yes ? std::optional<bench::UsbDiskSettings>(bench::UsbDiskSettings{}) : std::nullopt;
            return true;
        }
        bench::UsbDiskSettings disk;
        if (!bench::parseDiskSize(v, disk.diskSize, why))
            return false;
        b.usbDisk = disk;
        return true;
    };
    return options;
}

// Options that need the USB disk, applied once the others are in.
std::map<std::string, BenchSetter> usbDiskOptions()
{
    using bench::BenchSettings;
    using Layouts = std::map<int, bench::DiskLayoutPlan>;
    std::map<std::string, BenchSetter> options;
    options["--usb-disk-location"] = [](BenchSettings& b, Layouts&, const std::string& v, std::string& why) {
        b.usbDisk->location.emplace();
        return bench::parseUsbLocation(v, *b.usbDisk->location, why);
    };
    options["--usb-disk-volumes"] = [](BenchSettings&, Layouts& l, const std::string& v, std::string& why) {
        return bench::parseDiskLayoutPlan(v, l[bench::kUsbDisk], why);
    };
    return options;
}

}  // namespace

int runCreate(const Args& args, std::ostream& out, std::ostream& err)
{
    Arguments words(args);
    auto options = perPortOptions();
    auto wholeBench = benchOptions();
    auto usbDisk = usbDiskOptions();
    std::map<std::string, std::string> benchValues, usbDiskValues;
    std::map<int, bench::DiskLayoutPlan> layouts;
    std::optional<std::string> folder;
    std::optional<int> portCount;
    bench::BenchSettings settings;
    while (!words.done()) {
        if (!words.isOption()) {
            if (folder)
                return usageError(err, "create: unexpected argument '" + words.take() + "'");
            folder = words.take();
            continue;
        }
        std::string name = words.take();
        std::optional<std::string> value = words.value();
        if (name != "--ports" && name != "--time-scale" && !options.count(name) && !wholeBench.count(name) &&
            !usbDisk.count(name))
            return usageError(err, "create: unknown option '" + name + "'");
        if (!value)
            return usageError(err, "create: " + name + " needs a value");
        if (wholeBench.count(name) || usbDisk.count(name)) {
            auto& values = wholeBench.count(name) ? benchValues : usbDiskValues;
            if (!values.emplace(name, *value).second)
                return usageError(err, "create: " + name + " given twice");
            continue;
        }
        if (name == "--ports") {
            int n = 0;
            if (!parsePortNumber(*value, n) || n > bench::kMaxPorts)
                return usageError(err, "create: --ports needs a number 1.." + std::to_string(bench::kMaxPorts) +
                                           ", got '" + *value + "'");
            portCount = n;
            continue;
        }
        if (name == "--time-scale") {
            std::string why;
            if (!bench::parseTimeScale(*value, settings.timeScale, why))
                return usageError(err, "create: --time-scale: " + why);
            continue;
        }
        int port = 0;
        std::string v;
        if (!splitPortValue(*value, port, v))
            return usageError(err, "create: " + name + " " + *value + ": expected VALUE or PORT=VALUE");
        PerPortValues& values = options[name].values;
        bool twice = port == 0 ? values.all.has_value() : values.byPort.count(port) > 0;
        if (twice)
            return usageError(err, "create: " + name + " given twice for " +
                                       (port == 0 ? std::string("all ports") : "port " + std::to_string(port)));
        if (port == 0)
            values.all = v;
        else
            values.byPort[port] = v;
    }
    if (!folder)
        return usageError(err, "create: no bench folder given");
    if (!portCount)
        return usageError(err, "create: --ports N is required");

    settings.ports.resize(static_cast<size_t>(*portCount));
    std::vector<bench::PortStart> starts(settings.ports.size());
    for (auto& [name, option] : options) {
        for (const auto& [port, v] : option.values.byPort)
            if (port > *portCount)
                return usageError(err, "create: " + name + " " + std::to_string(port) + "=" + v + ": no port " +
                                           std::to_string(port) + " (the bench has " + std::to_string(*portCount) +
                                           " ports)");
        for (int port = 1; port <= *portCount; ++port) {
            auto it = option.values.byPort.find(port);
            const std::optional<std::string> v =
                it != option.values.byPort.end() ? std::optional<std::string>(it->second) : option.values.all;
            std::string why;
            size_t i = static_cast<size_t>(port - 1);
            if (v && !option.set(settings.ports[i], starts[i], *v, why))
                return usageError(err, "create: " + name + ": " + why);
        }
    }
    // The USB 3 image carries the serial number: both given for one port
    // would leave one of them silently unused.
    for (size_t i = 0; i < starts.size(); ++i)
        if (starts[i].serial && starts[i].usb3Config)
            return usageError(err, "create: port " + std::to_string(i + 1) +
                                       ": --serial and --config both set its USB serial (the image holds one); "
                                       "give one of them");
    std::string why;
    for (const auto& [name, v] : benchValues)
        if (!wholeBench[name](settings, layouts, v, why))
            return usageError(err, "create: " + name + ": " + why);
    for (const auto& [name, v] : usbDiskValues) {
        if (!settings.usbDisk)
            return usageError(err, "create: " + name + " needs --usb-disk");
        if (!usbDisk[name](settings, layouts, v, why))
            return usageError(err, "create: " + name + ": " + why);
    }
    if (!bench::checkBenchSettings(settings, why))
        return usageError(err, "create: " + why);

    bench::BenchError error;
    auto created = bench::Bench::create(*folder, settings, error, starts, nullptr, layouts);
    if (!created) {
        err << "krvbench: " << error.message << "\n";
        return exitcode::kFailed;
    }
    out << "created bench " << *folder << " with " << *portCount << " port" << (*portCount == 1 ? "" : "s") << "\n";
    return exitcode::kOk;
}

}  // namespace krv::tool
