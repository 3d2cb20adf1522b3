#include "platform/bench/BenchSettings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

#include "platform/bench/BenchFiles.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/ChipCatalog.h"

namespace krv::bench {

namespace {

// Keys later bench versions will read per port; refused by name until then.
constexpr std::array kReservedPortKeys = {"firmware", "config", "usb4_config", "serial"};

std::string_view trim(std::string_view s)
{
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (auto& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

template <typename T>
bool parseWhole(std::string_view text, T& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// The USB tree's counts: controllers 1..4, root and hub ports 1..255,
// chained hubs 0..5.
bool parseCount(const std::string& key, std::string_view text, int& value, std::string& why)
{
    int lowest = key == "hubs" || key == "other_disks" ? 0 : 1;
    int highest = key == "controllers"   ? kMaxControllers
                  : key == "hubs"        ? kMaxHubTiers
                  : key == "other_disks" ? kMaxOtherDisks
                                         : kMaxHubPorts;
    int n = 0;
    if (!parseWhole(trim(text), n) || n < lowest || n > highest) {
        why = "bad " + key + " '" + std::string(text) + "' (" + std::to_string(lowest) + ".." +
              std::to_string(highest) + (key == "hubs" ? " or auto)" : ")");
        return false;
    }
    value = n;
    return true;
}

// The port keys that take one of a few words.
struct PortChoiceKey {
    const char* key;
    bool (*set)(std::string_view text, PortSettings& port);
    std::string (*list)();
    std::string_view (*nameUnlessDefault)(const PortSettings& port);  // empty: the default
};

template <typename Choice, Choice PortSettings::*field>
PortChoiceKey choiceKey(const char* key)
{
    return {key, [](std::string_view text, PortSettings& port) { return parseChoice(text, port.*field); },
            [] { return choiceList<Choice>(); },
            [](const PortSettings& port) {
                return port.*field == PortSettings{}.*field ? std::string_view() : choiceName(port.*field);
            }};
}

const std::array<PortChoiceKey, 9>& portChoiceKeys()
{
    static const std::array<PortChoiceKey, 9> keys = {
        choiceKey<UsbStrings, &PortSettings::usbStrings>("usb_strings"),
        choiceKey<UsbPortStatus, &PortSettings::usbStatus>("usb_status"),
        choiceKey<UsbSerialForm, &PortSettings::usbSerial>("usb_serial"),
        choiceKey<UnitSerial, &PortSettings::unitSerial>("unit_serial"),
        choiceKey<StorageDriver, &PortSettings::storageDriver>("storage_driver"),
        choiceKey<StorageSerialForm, &PortSettings::storageSerial>("storage_serial"),
        choiceKey<StorageBus, &PortSettings::busType>("bus_type"),
        choiceKey<PdChip, &PortSettings::pd>("pd"),
        choiceKey<McuChip, &PortSettings::mcu>("mcu"),
    };
    return keys;
}

const PortChoiceKey* findPortChoiceKey(const std::string& key)
{
    for (const PortChoiceKey& choice : portChoiceKeys())
        if (key == choice.key)
            return &choice;
    return nullptr;
}

struct Entry {
    std::string value;
    int line = 0;
};

struct Section {
    int line = 0;
    std::map<std::string, Entry> keys;

    const Entry* find(const std::string& key) const
    {
        auto it = keys.find(key);
        return it == keys.end() ? nullptr : &it->second;
    }
};

class Parser {
public:
    explicit Parser(const std::string& label) : label_(label) {}

    bool parse(std::string_view text, BenchSettings& out, std::string& error)
    {
        int lineNo = 0;
        while (!text.empty()) {
            auto nl = text.find('\n');
            std::string_view raw = text.substr(0, nl);
            text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
            ++lineNo;
            if (!parseLine(trim(raw), lineNo))
                return fail(error);
        }
        if (!finish(out))
            return fail(error);
        return true;
    }

private:
    bool fail(std::string& error)
    {
        error = message_;
        return false;
    }

    bool errorAt(int line, const std::string& why)
    {
        message_ = label_ + ":" + std::to_string(line) + ": " + why;
        return false;
    }

    bool errorInFile(const std::string& why)
    {
        message_ = label_ + ": " + why;
        return false;
    }

    bool parseLine(std::string_view line, int lineNo)
    {
        if (line.empty() || line.front() == '#' || line.front() == ';')
            return true;
        if (line.front() == '[')
            return parseSectionHeader(line, lineNo);
        auto eq = line.find('=');
        if (eq == std::string_view::npos)
            return errorAt(lineNo, "expected 'key = value' or a [section], got '" + std::string(line) + "'");
        std::string key = lower(trim(line.substr(0, eq)));
        std::string value(trim(line.substr(eq + 1)));
        if (key.empty())
            return errorAt(lineNo, "missing key before '='");
        if (!current_)
            return errorAt(lineNo, "key '" + key + "' outside a section (start with [bench])");
        return addKey(key, value, lineNo);
    }

    bool parseSectionHeader(std::string_view line, int lineNo)
    {
        if (line.back() != ']')
            return errorAt(lineNo, "section header '" + std::string(line) + "' lacks its closing ']'");
        std::string name = lower(trim(line.substr(1, line.size() - 2)));
        if (name == "bench") {
            if (bench_)
                return errorAt(lineNo, "duplicate section [bench] (first on line " + std::to_string(bench_->line) + ")");
            bench_.emplace();
            bench_->line = lineNo;
            current_ = &*bench_;
            currentPort_ = 0;
            return true;
        }
        if (name == "system disk" || name == "usb disk") {
            std::optional<Section>& section = name == "system disk" ? systemDisk_ : usbDisk_;
            if (section)
                return errorAt(lineNo, "duplicate section [" + name + "] (first on line " +
                                           std::to_string(section->line) + ")");
            section.emplace();
            section->line = lineNo;
            current_ = &*section;
            currentPort_ = name == "system disk" ? kSystemDiskSection : kUsbDiskSection;
            return true;
        }
        if (name.rfind("port", 0) == 0) {
            std::string_view number = trim(std::string_view(name).substr(4));
            int port = 0;
            if (!parseWhole(number, port) || port < 1 || port > kMaxPorts)
                return errorAt(lineNo, "bad port section [" + name + "]: ports are numbered 1.." +
                                           std::to_string(kMaxPorts));
            auto [it, inserted] = ports_.try_emplace(port);
            if (!inserted)
                return errorAt(lineNo, "duplicate section [port " + std::to_string(port) + "] (first on line " +
                                           std::to_string(it->second.line) + ")");
            it->second.line = lineNo;
            current_ = &it->second;
            currentPort_ = port;
            return true;
        }
        return errorAt(lineNo, "unknown section [" + name +
                                   "] (expected [bench], [port N], [system disk] or [usb disk])");
    }

    bool addKey(const std::string& key, const std::string& value, int lineNo)
    {
        if (!checkKeyAndValue(key, value, lineNo))
            return false;
        auto [it, inserted] = current_->keys.try_emplace(key, Entry{value, lineNo});
        if (!inserted)
            return errorAt(lineNo, "duplicate key '" + key + "' (first on line " + std::to_string(it->second.line) + ")");
        return true;
    }

    bool checkKeyAndValue(const std::string& key, const std::string& value, int lineNo)
    {
        std::string why;
        if (currentPort_ == 0) {
            if (key == "version") {
                int v = 0;
                if (!parseWhole(std::string_view(value), v) || v < 1)
                    return errorAt(lineNo, "bad version '" + value + "'");
                if (v > kSettingsVersion)
                    return errorAt(lineNo, "settings version " + value + " is newer than this build reads (" +
                                               std::to_string(kSettingsVersion) + ")");
                return true;
            }
            if (key == "ports") {
                int n = 0;
                if (!parseWhole(std::string_view(value), n) || n < 1 || n > kMaxPorts)
                    return errorAt(lineNo, "bad port count '" + value + "' (1.." + std::to_string(kMaxPorts) + ")");
                return true;
            }
            if (key == "time_scale") {
                double scale = 0;
                if (!parseTimeScale(value, scale, why))
                    return errorAt(lineNo, why);
                return true;
            }
            if (key == "controllers" || key == "root_ports" || key == "hub_ports" || key == "hubs") {
                int n = 0;
                if (key == "hubs" && lower(value) == "auto")
                    return true;
                if (!parseCount(key, value, n, why))
                    return errorAt(lineNo, why);
                return true;
            }
            return errorAt(lineNo, "unknown key '" + key +
                                       "' in [bench] (known: version, ports, time_scale, controllers, root_ports, "
                                       "hubs, hub_ports)");
        }
        if (currentPort_ == kSystemDiskSection || currentPort_ == kUsbDiskSection) {
            bool usb = currentPort_ == kUsbDiskSection;
            if (key == "disk_size") {
                uint64_t bytes = 0;
                if (!parseDiskSize(value, bytes, why))
                    return errorAt(lineNo, why);
                return true;
            }
            if (usb && key == "location") {
                UsbLocation location;
                if (!parseUsbLocation(value, location, why))
                    return errorAt(lineNo, why);
                return true;
            }
            if (!usb && key == "other_disks") {
                int n = 0;
                if (!parseCount(key, value, n, why))
                    return errorAt(lineNo, why);
                return true;
            }
            if (usb && key == "present") {
                bool b = false;
                if (!parseYesNo(value, b))
                    return errorAt(lineNo, "bad value '" + value + "' for present (yes or no)");
                return true;
            }
            return errorAt(lineNo, "unknown key '" + key + "' in [" + (usb ? "usb disk" : "system disk") +
                                       "] (known: disk_size" + (usb ? ", location, present)" : ", other_disks)"));
        }
        if (key == "location") {
            UsbLocation location;
            if (!parseUsbLocation(value, location, why))
                return errorAt(lineNo, why);
            return true;
        }
        if (const PortChoiceKey* choice = findPortChoiceKey(key)) {
            PortSettings scratch;
            if (!choice->set(value, scratch))
                return errorAt(lineNo, "bad value '" + value + "' for " + key + " (" + choice->list() + ")");
            return true;
        }
        if (key == "chip") {
            if (!findChip(value))
                return errorAt(lineNo, "unknown chip '" + value + "' (known: " + chipNameList() + ")");
            return true;
        }
        if (key == "link") {
            if (!findLink(value))
                return errorAt(lineNo, "unknown link '" + value + "' (known: " + linkNameList() + ")");
            return true;
        }
        if (key == "speed")
            return true;  // judged against the link once the section is complete
        if (key == "disk_size") {
            uint64_t bytes = 0;
            if (!parseDiskSize(value, bytes, why))
                return errorAt(lineNo, why);
            return true;
        }
        if (key == "renumber") {
            bool renumber = false, staleName = false;
            if (!parseRenumber(value, renumber, staleName))
                return errorAt(lineNo, "bad value '" + value + "' for renumber (yes, no or stale-name)");
            return true;
        }
        if (key == "present" || key == "cdrom") {
            bool b = false;
            if (!parseYesNo(value, b))
                return errorAt(lineNo, "bad value '" + value + "' for " + key + " (yes or no)");
            return true;
        }
        if (key == "revision") {
            int revision = 0;
            if (!parseRevision(value, revision, why))
                return errorAt(lineNo, why);
            return true;
        }
        if (key == "registers") {
            std::map<uint32_t, uint8_t> registers;
            if (!parseRegisterList(value, registers, why))
                return errorAt(lineNo, why);
            return true;
        }
        if (key == "relink_ms" || key == "drop_ms" || key == "command_ms") {
            uint32_t ms = 0;
            if (!parseDelayMs(value, key.c_str(), ms, why))
                return errorAt(lineNo, why);
            return true;
        }
        if (key == "link_mbps") {
            uint32_t mbps = 0;
            if (!parseLinkMbps(value, key.c_str(), mbps, why))
                return errorAt(lineNo, why);
            return true;
        }
        if (key == "max_transfer") {
            uint32_t bytes = 0;
            if (!parseMaxTransfer(value, bytes, why))
                return errorAt(lineNo, why);
            return true;
        }
        if (key == "sector_size") {
            uint32_t bytes = 0;
            if (!parseSectorSize(value, bytes, why))
                return errorAt(lineNo, why);
            return true;
        }
        if (std::find(kReservedPortKeys.begin(), kReservedPortKeys.end(), key) != kReservedPortKeys.end())
            return errorAt(lineNo, "key '" + key + "' is reserved for a later bench version and not supported yet");
        return errorAt(lineNo, "unknown key '" + key + "' in [port " + std::to_string(currentPort_) +
                                   "] (known: chip, link, speed, disk_size, present, revision, registers, cdrom, "
                                   "renumber, relink_ms, drop_ms, command_ms, link_mbps, location, usb_strings, usb_status, max_transfer, "
                                   "sector_size, usb_serial, unit_serial, storage_driver, storage_serial, bus_type, pd, mcu)");
    }

    bool finish(BenchSettings& out)
    {
        if (!bench_)
            return errorInFile("no [bench] section");
        const Entry* portsEntry = bench_->find("ports");
        if (!portsEntry)
            return errorAt(bench_->line, "[bench] has no 'ports' key");
        int count = 0;
        parseWhole(std::string_view(portsEntry->value), count);
        std::string why;
        BenchSettings result;
        if (const Entry* scale = bench_->find("time_scale"))
            parseTimeScale(scale->value, result.timeScale, why);
        auto readCount = [&](const char* key, int& value) {
            if (const Entry* e = bench_->find(key))
                parseCount(key, e->value, value, why);
        };
        readCount("controllers", result.topology.controllers);
        readCount("root_ports", result.topology.rootPorts);
        readCount("hub_ports", result.topology.hubPorts);
        if (const Entry* hubs = bench_->find("hubs"); hubs && lower(hubs->value) != "auto")
            parseCount("hubs", hubs->value, result.topology.hubs, why);
        if (systemDisk_) {
            if (const Entry* size = systemDisk_->find("disk_size"))
                parseDiskSize(size->value, result.systemDiskSize, why);
            if (const Entry* others = systemDisk_->find("other_disks"))
                parseCount("other_disks", others->value, result.otherDisks, why);
        }
        if (usbDisk_) {
            UsbDiskSettings usb;
            if (const Entry* size = usbDisk_->find("disk_size"))
                parseDiskSize(size->value, usb.diskSize, why);
            if (const Entry* location = usbDisk_->find("location")) {
                usb.location.emplace();
                parseUsbLocation(location->value, *usb.location, why);
            }
            if (const Entry* present = usbDisk_->find("present"))
                parseYesNo(present->value, usb.present);
            result.usbDisk = usb;
        }
        for (const auto& [number, section] : ports_)
            if (number > count)
                return errorAt(section.line, "[port " + std::to_string(number) + "] but the bench has " +
                                                 std::to_string(count) + " port" + (count == 1 ? "" : "s"));
        for (int number = 1; number <= count; ++number) {
            auto it = ports_.find(number);
            if (it == ports_.end())
                return errorInFile("no [port " + std::to_string(number) + "] section (the bench has " +
                                   std::to_string(count) + " ports)");
            PortSettings port;
            if (!portFrom(number, it->second, port))
                return false;
            result.ports.push_back(std::move(port));
        }
        out = std::move(result);
        return true;
    }

    bool portFrom(int number, const Section& section, PortSettings& port)
    {
        for (const char* required : {"chip", "link", "disk_size"})
            if (!section.find(required))
                return errorAt(section.line,
                               "[port " + std::to_string(number) + "] has no '" + required + "' key");
        std::string why;
        port.chip = section.find("chip")->value;
        port.link = section.find("link")->value;
        const Entry* speed = section.find("speed");
        port.speed = speed ? speed->value : std::string();
        parseDiskSize(section.find("disk_size")->value, port.diskSize, why);
        if (const Entry* present = section.find("present"))
            parseYesNo(present->value, port.present);
        if (const Entry* cdrom = section.find("cdrom"))
            parseYesNo(cdrom->value, port.cdrom);
        if (const Entry* renumber = section.find("renumber"))
            parseRenumber(renumber->value, port.renumber, port.staleName);
        const Entry* revision = section.find("revision");
        if (revision)
            parseRevision(revision->value, port.revision, why);
        if (const Entry* registers = section.find("registers"))
            parseRegisterList(registers->value, port.registers, why);
        if (const Entry* relink = section.find("relink_ms"))
            parseDelayMs(relink->value, "relink_ms", port.relinkMs, why);
        if (const Entry* drop = section.find("drop_ms"))
            parseDelayMs(drop->value, "drop_ms", port.dropMs, why);
        if (const Entry* latency = section.find("command_ms"))
            parseDelayMs(latency->value, "command_ms", port.commandMs, why);
        if (const Entry* line = section.find("link_mbps"))
            parseLinkMbps(line->value, "link_mbps", port.linkMbps, why);
        if (const Entry* most = section.find("max_transfer"))
            parseMaxTransfer(most->value, port.maxTransfer, why);
        const Entry* sector = section.find("sector_size");
        if (sector)
            parseSectorSize(sector->value, port.sectorSize, why);
        if (const Entry* location = section.find("location")) {
            port.location.emplace();
            parseUsbLocation(location->value, *port.location, why);
        }
        for (const PortChoiceKey& choice : portChoiceKeys())
            if (const Entry* entry = section.find(choice.key))
                choice.set(entry->value, port);
        PortField culprit = PortField::Chip;
        why = checkPort(port, &culprit);
        if (why.empty())
            return true;
        const Entry* delay = section.find("drop_ms") ? section.find("drop_ms") : section.find("relink_ms");
        const Entry* at = culprit == PortField::Speed && speed             ? speed
                        : culprit == PortField::Revision && revision       ? revision
                        : culprit == PortField::Delay && delay             ? delay
                        : culprit == PortField::SectorSize && sector     ? sector
                        : culprit == PortField::Chip                       ? section.find("chip")
                        : culprit == PortField::StorageDriver              ? section.find("storage_driver")
                                                                           : section.find("link");
        return errorAt(at->line, why);
    }

    std::string label_;
    std::string message_;
    static constexpr int kSystemDiskSection = -1;
    static constexpr int kUsbDiskSection = -2;

    std::optional<Section> bench_;
    std::optional<Section> systemDisk_;
    std::optional<Section> usbDisk_;
    std::map<int, Section> ports_;
    Section* current_ = nullptr;
    int currentPort_ = 0;
};

}  // namespace

bool parseUsbLocation(std::string_view text, UsbLocation& location, std::string& why)
{
    std::string_view t = trim(text);
    auto bad = [&](const std::string& reason) {
        why = "bad USB location '" + std::string(text) + "': " + reason +
              " (controller-port[.port...], such as 0-3 or 0-8.7.2)";
        return false;
    };
    auto dash = t.find('-');
    if (dash == std::string_view::npos)
        return bad("no '-'");
    UsbLocation result;
    if (!parseWhole(t.substr(0, dash), result.controller) || result.controller < 0 ||
        result.controller >= kMaxControllers)
        return bad("the controller is not 0.." + std::to_string(kMaxControllers - 1));
    std::string_view rest = t.substr(dash + 1);
    while (true) {
        auto dot = rest.find('.');
        int port = 0;
        if (!parseWhole(rest.substr(0, dot), port) || port < 1 || port > kMaxHubPorts)
            return bad("a port is not 1.." + std::to_string(kMaxHubPorts));
        result.path.push_back(port);
        if (dot == std::string_view::npos)
            break;
        rest = rest.substr(dot + 1);
    }
    if (result.path.size() > static_cast<size_t>(kMaxHubTiers) + 1)
        return bad("more than " + std::to_string(kMaxHubTiers) + " hubs deep");
    location = std::move(result);
    return true;
}

std::string formatUsbLocation(const UsbLocation& location)
{
    std::string text = std::to_string(location.controller) + "-";
    for (size_t i = 0; i < location.path.size(); ++i)
        text += (i ? "." : "") + std::to_string(location.path[i]);
    return text;
}

namespace {

template <typename Choice>
struct Named {
    Choice value;
    std::string_view name;
};

template <typename Choice>
struct ChoiceTable;

template <>
struct ChoiceTable<UsbStrings> {
    static constexpr Named<UsbStrings> entries[] = {{UsbStrings::Normal, "normal"},
                                                    {UsbStrings::NoSerial, "no-serial"},
                                                    {UsbStrings::Unreadable, "unreadable"},
                                                    {UsbStrings::NoLanguages, "no-languages"}};
};
template <>
struct ChoiceTable<UsbPortStatus> {
    static constexpr Named<UsbPortStatus> entries[] = {{UsbPortStatus::Connected, "connected"},
                                                       {UsbPortStatus::FailedEnumeration, "failed-enumeration"},
                                                       {UsbPortStatus::GeneralFailure, "general-failure"},
                                                       {UsbPortStatus::Overcurrent, "overcurrent"},
                                                       {UsbPortStatus::NotEnoughPower, "not-enough-power"}};
};
template <>
struct ChoiceTable<UsbSerialForm> {
    static constexpr Named<UsbSerialForm> entries[] = {
        {UsbSerialForm::Text, "text"}, {UsbSerialForm::Lower, "lower"}, {UsbSerialForm::Hex, "hex"}};
};
template <>
struct ChoiceTable<UnitSerial> {
    static constexpr Named<UnitSerial> entries[] = {{UnitSerial::Serial, "serial"},
                                                    {UnitSerial::Disk, "disk"},
                                                    {UnitSerial::Reversed, "reversed"},
                                                    {UnitSerial::None, "none"}};
};
template <>
struct ChoiceTable<StorageDriver> {
    static constexpr Named<StorageDriver> entries[] = {{StorageDriver::Bot, "bot"}, {StorageDriver::Uas, "uas"}};
};
template <>
struct ChoiceTable<StorageSerialForm> {
    static constexpr Named<StorageSerialForm> entries[] = {{StorageSerialForm::Text, "text"},
                                                           {StorageSerialForm::Hex, "hex"}};
};
template <>
struct ChoiceTable<StorageBus> {
    static constexpr Named<StorageBus> entries[] = {
        {StorageBus::Usb, "usb"}, {StorageBus::Scsi, "scsi"}, {StorageBus::Sata, "sata"}, {StorageBus::Spaces, "spaces"}};
};
template <>
struct ChoiceTable<PdChip> {
    static constexpr Named<PdChip> entries[] = {{PdChip::None, "none"},       {PdChip::Richtek, "richtek"},
                                                {PdChip::Cypress, "cypress"}, {PdChip::Ccg3, "ccg3"},
                                                {PdChip::Ccg, "ccg"},         {PdChip::Ite, "ite"}};
};
template <>
struct ChoiceTable<McuChip> {
    static constexpr Named<McuChip> entries[] = {{McuChip::None, "none"}, {McuChip::Stm, "stm"}};
};

}  // namespace

template <typename Choice>
std::string_view choiceName(Choice value)
{
    for (const auto& entry : ChoiceTable<Choice>::entries)
        if (entry.value == value)
            return entry.name;
    return ChoiceTable<Choice>::entries[0].name;
}

template <typename Choice>
bool parseChoice(std::string_view text, Choice& value)
{
    const std::string t = lower(trim(text));
    for (const auto& entry : ChoiceTable<Choice>::entries)
        if (t == entry.name) {
            value = entry.value;
            return true;
        }
    return false;
}

template <typename Choice>
std::string choiceList()
{
    const auto& entries = ChoiceTable<Choice>::entries;
    const size_t count = std::size(entries);
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += std::string(i == 0 ? "" : i + 1 == count ? " or " : ", ") + std::string(entries[i].name);
    return text;
}

#define KRV_BENCH_CHOICE(Choice)                                  \
    template std::string_view choiceName<Choice>(Choice);        \
    template bool parseChoice<Choice>(std::string_view, Choice&); \
    template std::string choiceList<Choice>();
KRV_BENCH_CHOICE(UsbStrings)
KRV_BENCH_CHOICE(UsbPortStatus)
KRV_BENCH_CHOICE(UsbSerialForm)
KRV_BENCH_CHOICE(UnitSerial)
KRV_BENCH_CHOICE(StorageDriver)
KRV_BENCH_CHOICE(StorageSerialForm)
KRV_BENCH_CHOICE(StorageBus)
KRV_BENCH_CHOICE(PdChip)
KRV_BENCH_CHOICE(McuChip)
#undef KRV_BENCH_CHOICE

std::string_view usbStringsName(UsbStrings strings) { return choiceName(strings); }
bool parseUsbStrings(std::string_view text, UsbStrings& strings) { return parseChoice(text, strings); }
std::string_view usbPortStatusName(UsbPortStatus status) { return choiceName(status); }
bool parseUsbPortStatus(std::string_view text, UsbPortStatus& status) { return parseChoice(text, status); }

bool parseRenumber(std::string_view text, bool& renumber, bool& staleName)
{
    if (lower(trim(text)) == "stale-name") {
        renumber = staleName = true;
        return true;
    }
    if (!parseYesNo(text, renumber))
        return false;
    staleName = false;
    return true;
}

bool parseDiskSize(std::string_view text, uint64_t& bytes, std::string& why)
{
    std::string_view t = trim(text);
    size_t digits = 0;
    while (digits < t.size() && std::isdigit(static_cast<unsigned char>(t[digits])))
        ++digits;
    uint64_t number = 0;
    std::string suffix = lower(t.substr(digits));
    if (digits == 0 || !parseWhole(t.substr(0, digits), number)) {
        why = "bad disk size '" + std::string(text) + "' (bytes, or a number with K, M, G or T)";
        return false;
    }
    unsigned shift = 0;
    if (!suffix.empty()) {
        static const std::map<char, unsigned> shifts = {{'k', 10}, {'m', 20}, {'g', 30}, {'t', 40}};
        auto it = shifts.find(suffix[0]);
        std::string rest = suffix.substr(1);
        if (it == shifts.end() || !(rest.empty() || rest == "b" || rest == "ib")) {
            why = "bad disk size '" + std::string(text) + "' (bytes, or a number with K, M, G or T)";
            return false;
        }
        shift = it->second;
    }
    if (number > (kMaxDiskSize >> shift)) {
        why = "disk size '" + std::string(text) + "' is larger than the bench's limit of " + formatDiskSize(kMaxDiskSize);
        return false;
    }
    uint64_t value = number << shift;
    if (value < kMinDiskSize) {
        why = "disk size '" + std::string(text) + "' is smaller than the bench's minimum of " +
              formatDiskSize(kMinDiskSize);
        return false;
    }
    if (value % 512 != 0) {
        why = "disk size '" + std::string(text) + "' is not a whole number of 512-byte sectors";
        return false;
    }
    bytes = value;
    return true;
}

std::string formatDiskSize(uint64_t bytes)
{
    static const std::pair<unsigned, char> units[] = {{40, 'T'}, {30, 'G'}, {20, 'M'}, {10, 'K'}};
    for (auto [shift, unit] : units)
        if (bytes != 0 && bytes % (1ULL << shift) == 0)
            return std::to_string(bytes >> shift) + unit;
    return std::to_string(bytes);
}

bool parseTimeScale(std::string_view text, double& scale, std::string& why)
{
    std::string_view t = trim(text);
    double value = 0;
    if (!parseWhole(t, value) || !std::isfinite(value)) {
        why = "bad time scale '" + std::string(text) + "' (a number such as 20)";
        return false;
    }
    if (value < kMinTimeScale || value > kMaxTimeScale) {
        why = "time scale " + std::string(t) + " out of range " + formatTimeScale(kMinTimeScale) + ".." +
              formatTimeScale(kMaxTimeScale);
        return false;
    }
    scale = value;
    return true;
}

std::string formatTimeScale(double scale)
{
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, scale);
    return ec == std::errc() ? std::string(buf, end) : std::string("1");
}

bool parseRevision(std::string_view text, int& revision, std::string& why)
{
    std::string_view t = trim(text);
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        t.remove_prefix(2);
    unsigned value = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, 16);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size() || value > 0xFF) {
        why = "bad revision '" + std::string(text) + "' (the revision register byte in hex, such as 10)";
        return false;
    }
    revision = static_cast<int>(value);
    return true;
}

bool parseRegisterList(std::string_view text, std::map<uint32_t, uint8_t>& out, std::string& why)
{
    std::map<uint32_t, uint8_t> result;
    std::string_view rest = text;
    auto bad = [&](std::string_view item, const std::string& reason) {
        why = "bad register preset '" + std::string(item) + "': " + reason +
              " (ADDR:VALUE in hex, such as C895:02, separated by commas)";
        return false;
    };
    while (!rest.empty()) {
        size_t cut = rest.find_first_of(", \t");
        std::string_view item = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
        if (item.empty())
            continue;
        auto colon = item.find(':');
        if (colon == std::string_view::npos)
            return bad(item, "no ':'");
        uint32_t address = 0;
        unsigned value = 0;
        std::string_view a = item.substr(0, colon), v = item.substr(colon + 1);
        auto ra = std::from_chars(a.data(), a.data() + a.size(), address, 16);
        auto rv = std::from_chars(v.data(), v.data() + v.size(), value, 16);
        if (a.empty() || ra.ec != std::errc() || ra.ptr != a.data() + a.size() || address > 0x2FFFF)
            return bad(item, "the address is not a hex number up to 2FFFF");
        if (v.empty() || rv.ec != std::errc() || rv.ptr != v.data() + v.size() || value > 0xFF)
            return bad(item, "the value is not a hex byte");
        if (!result.emplace(address, static_cast<uint8_t>(value)).second)
            return bad(item, "the register is given twice");
    }
    out = std::move(result);
    return true;
}

std::string formatRegisterList(const std::map<uint32_t, uint8_t>& registers)
{
    std::string text;
    for (const auto& [address, value] : registers) {
        char item[24];
        std::snprintf(item, sizeof item, "%s%04X:%02X", text.empty() ? "" : ", ", address, value);
        text += item;
    }
    return text;
}

bool parseDelayMs(std::string_view text, const char* what, uint32_t& ms, std::string& why)
{
    std::string_view t = trim(text);
    uint32_t value = 0;
    if (!parseWhole(t, value) || value > kMaxDelayMs) {
        why = "bad " + std::string(what) + " '" + std::string(text) + "' (whole milliseconds of bench time, 0.." +
              std::to_string(kMaxDelayMs) + ")";
        return false;
    }
    ms = value;
    return true;
}

bool parseLinkMbps(std::string_view text, const char* what, uint32_t& mbps, std::string& why)
{
    uint32_t value = 0;
    if (!parseWhole(trim(text), value) || value < kMinLinkMbps || value > kMaxLinkMbps) {
        why = "bad " + std::string(what) + " '" + std::string(text) + "' (whole Mbit/s of payload, " +
              std::to_string(kMinLinkMbps) + ".." + std::to_string(kMaxLinkMbps) + ")";
        return false;
    }
    mbps = value;
    return true;
}

bool parseMaxTransfer(std::string_view text, uint32_t& bytes, std::string& why)
{
    uint32_t n = 0;
    const std::string_view t = trim(text);
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (ec != std::errc() || end != t.data() + t.size() || t.empty() || n < 512) {
        why = "bad max_transfer '" + std::string(text) + "' (bytes, at least 512)";
        return false;
    }
    bytes = n;
    return true;
}

bool parseSectorSize(std::string_view text, uint32_t& bytes, std::string& why)
{
    uint32_t n = 0;
    if (!parseWhole(trim(text), n) || (n != 512 && n != 4096)) {
        why = "bad sector_size '" + std::string(text) + "' (512 or 4096)";
        return false;
    }
    bytes = n;
    return true;
}

bool parseYesNo(std::string_view text, bool& value)
{
    std::string t = lower(trim(text));
    if (t == "yes" || t == "true" || t == "1" || t == "on") {
        value = true;
        return true;
    }
    if (t == "no" || t == "false" || t == "0" || t == "off") {
        value = false;
        return true;
    }
    return false;
}

std::string checkPort(PortSettings& port, PortField* culprit)
{
    auto blame = [&](PortField f, std::string why) {
        if (culprit)
            *culprit = f;
        return why;
    };
    const ChipModel* chip = findChip(port.chip);
    if (!chip)
        return blame(PortField::Chip, "unknown chip '" + port.chip + "' (known: " + chipNameList() + ")");
    const LinkModel* link = findLink(port.link);
    if (!link)
        return blame(PortField::Link, "unknown link '" + port.link + "' (known: " + linkNameList() + ")");
    if (auto why = linkRefusal(*chip, *link); !why.empty())
        return blame(PortField::Link, why);
    std::string_view speed = port.speed.empty() ? link->defaultSpeed : findSpeed(*link, port.speed);
    if (speed.empty())
        return blame(PortField::Speed, "unknown speed '" + port.speed + "' for link " + std::string(link->name) +
                                           " (known: " + speedNameList(*link) + ")");
    if (auto why = speedRefusal(*chip, *link, speed); !why.empty())
        return blame(PortField::Speed, why);
    int revision = port.revision < 0 ? chip->defaultRevision : port.revision;
    if (revision > 0xFF)
        return blame(PortField::Revision, "revision " + std::to_string(revision) + " is not a byte");
    if (auto why = revisionRefusal(*chip, static_cast<uint8_t>(revision)); !why.empty())
        return blame(PortField::Revision, "chip " + std::string(chip->name) + ": " + why);
    if (port.relinkMs > kMaxDelayMs || port.dropMs > kMaxDelayMs)
        return blame(PortField::Delay, "delays are 0.." + std::to_string(kMaxDelayMs) + " ms");
    if (port.dropMs > port.relinkMs)
        return blame(PortField::Delay, "drop_ms " + std::to_string(port.dropMs) + " is later than relink_ms " +
                                          std::to_string(port.relinkMs) + ": a device leaves before it comes back");
    if (port.sectorSize != 512 && port.sectorSize != 4096)
        return blame(PortField::SectorSize, "sector size " + std::to_string(port.sectorSize) + " is not 512 or 4096");
    if (port.diskSize % port.sectorSize)
        return blame(PortField::SectorSize, "disk size " + std::to_string(port.diskSize) +
                                                " is not a whole number of " + std::to_string(port.sectorSize) +
                                                "-byte sectors");
    // A UAS driver needs the bridge to offer UAS, which it does on USB 3 only.
    if (port.storageDriver == StorageDriver::Uas && link->kind == LinkKind::Usb2)
        return blame(PortField::StorageDriver, "storage_driver uas needs a USB 3 link: on " +
                                                   std::string(link->name) + " the bridge runs bulk-only");
    port.staleName = port.staleName && port.renumber;
    port.revision = revision;
    port.chip = chip->name;
    port.link = link->name;
    port.speed = speed;
    return {};
}

bool parseBenchSettings(std::string_view text, const std::string& label, BenchSettings& out, std::string& error)
{
    return Parser(label).parse(text, out, error);
}

std::string formatBenchSettings(const BenchSettings& settings)
{
    std::string text;
    text += "# KRV857x bench settings. Change them with krvbench, or edit by hand while no\n";
    text += "# program owns the bench (see bench.lock).\n";
    text += "[bench]\n";
    text += "version = " + std::to_string(kSettingsVersion) + "\n";
    text += "ports = " + std::to_string(settings.ports.size()) + "\n";
    text += "time_scale = " + formatTimeScale(settings.timeScale) + "\n";
    const TopologySettings defaults;
    const TopologySettings& t = settings.topology;
    if (t.controllers != defaults.controllers)
        text += "controllers = " + std::to_string(t.controllers) + "\n";
    if (t.rootPorts != defaults.rootPorts)
        text += "root_ports = " + std::to_string(t.rootPorts) + "\n";
    if (t.hubs != defaults.hubs)
        text += "hubs = " + std::to_string(t.hubs) + "\n";
    if (t.hubPorts != defaults.hubPorts)
        text += "hub_ports = " + std::to_string(t.hubPorts) + "\n";
    for (size_t i = 0; i < settings.ports.size(); ++i) {
        const PortSettings& p = settings.ports[i];
        text += "\n[port " + std::to_string(i + 1) + "]\n";
        text += "chip = " + p.chip + "\n";
        text += "link = " + p.link + "\n";
        if (!p.speed.empty())
            text += "speed = " + p.speed + "\n";
        text += "disk_size = " + formatDiskSize(p.diskSize) + "\n";
        text += std::string("present = ") + (p.present ? "yes" : "no") + "\n";
        // The rest only where it differs from the chip's and the bench's defaults.
        const ChipModel* chip = findChip(p.chip);
        if (p.revision >= 0 && (!chip || p.revision != chip->defaultRevision)) {
            char revision[8];
            std::snprintf(revision, sizeof revision, "%02X", p.revision);
            text += std::string("revision = ") + revision + "\n";
        }
        if (!p.registers.empty())
            text += "registers = " + formatRegisterList(p.registers) + "\n";
        if (p.cdrom)
            text += "cdrom = yes\n";
        if (p.renumber)
            text += std::string("renumber = ") + (p.staleName ? "stale-name" : "yes") + "\n";
        if (p.relinkMs != kDefaultRelinkMs)
            text += "relink_ms = " + std::to_string(p.relinkMs) + "\n";
        if (p.dropMs != 0)
            text += "drop_ms = " + std::to_string(p.dropMs) + "\n";
        if (p.commandMs != 0)
            text += "command_ms = " + std::to_string(p.commandMs) + "\n";
        if (p.linkMbps != 0)
            text += "link_mbps = " + std::to_string(p.linkMbps) + "\n";
        if (p.maxTransfer != 0)
            text += "max_transfer = " + std::to_string(p.maxTransfer) + "\n";
        if (p.sectorSize != kDefaultSectorSize)
            text += "sector_size = " + std::to_string(p.sectorSize) + "\n";
        if (p.location)
            text += "location = " + formatUsbLocation(*p.location) + "\n";
        for (const PortChoiceKey& choice : portChoiceKeys())
            if (std::string_view name = choice.nameUnlessDefault(p); !name.empty())
                text += std::string(choice.key) + " = " + std::string(name) + "\n";
    }
    if (settings.systemDiskSize != kDefaultSystemDiskSize || settings.otherDisks != 0) {
        text += "\n[system disk]\ndisk_size = " + formatDiskSize(settings.systemDiskSize) + "\n";
        if (settings.otherDisks != 0)
            text += "other_disks = " + std::to_string(settings.otherDisks) + "\n";
    }
    if (settings.usbDisk) {
        text += "\n[usb disk]\ndisk_size = " + formatDiskSize(settings.usbDisk->diskSize) + "\n";
        if (settings.usbDisk->location)
            text += "location = " + formatUsbLocation(*settings.usbDisk->location) + "\n";
        text += std::string("present = ") + (settings.usbDisk->present ? "yes" : "no") + "\n";
    }
    return text;
}

bool loadBenchSettings(const std::string& path, BenchSettings& out, std::string& error)
{
    std::string text;
    if (!readTextFile(path, text, error))
        return false;
    return parseBenchSettings(text, path, out, error);
}

bool saveBenchSettings(const std::string& path, const BenchSettings& settings, std::string& error)
{
    return writeFileAtomically(path, formatBenchSettings(settings), error);
}

}  // namespace krv::bench
