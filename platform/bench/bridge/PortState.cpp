#include "platform/bench/bridge/PortState.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/bench/BenchFiles.h"

namespace krv::bench {

namespace {

bool isBridge857x(const PortSettings& settings)
{
    const ChipModel* chip = findChip(settings.chip);
    return chip && chip->family == ChipFamily::Krv857x;
}

// The configuration images a family keeps: the KRV857x two banks of both
// types, the others a single image.
std::vector<std::pair<int, int>> configSlots(const PortSettings& settings)
{
    if (isBridge857x(settings))
        return {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
    return {{0, 0}};
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool readBinary(const std::string& path, size_t expected, Bytes& out, std::string& error)
{
    std::string text;
    if (!readTextFile(path, text, error))
        return false;
    Bytes bytes(text.begin(), text.end());
    if (bytes.size() != expected) {
        error = path + " holds " + std::to_string(bytes.size()) + " bytes, not the " + std::to_string(expected) +
                " of its image";
        return false;
    }
    out = std::move(bytes);
    return true;
}

bool writeBinary(const std::string& path, const Bytes& bytes, std::string& error)
{
    return writeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                               error);
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool parseInt(std::string_view text, int& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

std::string numberOrNone(int value) { return value < 0 ? "none" : std::to_string(value); }

bool parseNumberOrNone(std::string_view text, int& value)
{
    if (text == "none") {
        value = -1;
        return true;
    }
    return parseInt(text, value) && value >= 0;
}

std::string runningConfigKey(int image, int type)
{
    return "running_config_" + std::to_string(image) + "_" + std::to_string(type);
}

std::string formatStateFile(const PortState& state)
{
    const StoredState& s = state.stored;
    const RunningState& r = state.running;
    std::string text = "# Bench device state (stored and running); the images are in the .bin files.\n";
    auto line = [&](const std::string& key, const std::string& value) { text += key + " = " + value + "\n"; };
    line("connection", std::string(connectionName(state.connection)));
    line("physical_drive", numberOrNone(state.physicalDrive));
    line("cdrom", numberOrNone(state.cdrom));
    line("active_bank", numberOrNone(s.activeBank));
    line("rom_version", formatFirmwareVersion(s.romVersion));
    line("sha256_key", s.shaKey ? toHex(s.shaKey->data(), s.shaKey->size()) : "none");
    line("power_config", s.powerConfig.empty() ? "none" : toHex(s.powerConfig));
    line("running_bank", numberOrNone(r.bank));
    line("running_header", toHex(r.header.data(), r.header.size()));
    for (int image = 0; image < 2; ++image)
        for (int type = 0; type < 2; ++type)
            if (!r.config[image][type].empty())
                line(runningConfigKey(image, type), toHex(r.config[image][type]));
    line("register_writes", formatRegisterList(r.registerWrites));
    line("disk_serial", state.disk.serial);
    line("disk_model", state.disk.model);
    line("disk_firmware", state.disk.firmware);
    return text;
}

class StateFileReader {
public:
    StateFileReader(std::string path, PortState& state) : path_(std::move(path)), state_(state) {}

    bool read(std::string& error)
    {
        std::string text;
        if (!readTextFile(path_, text, error))
            return false;
        std::string_view rest = text;
        int lineNo = 0;
        while (!rest.empty()) {
            auto nl = rest.find('\n');
            std::string_view line = trim(rest.substr(0, nl));
            rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
            ++lineNo;
            if (line.empty() || line.front() == '#')
                continue;
            auto eq = line.find('=');
            std::string why = "expected 'key = value'";
            if (eq != std::string_view::npos && apply(std::string(trim(line.substr(0, eq))), trim(line.substr(eq + 1)), why))
                continue;
            error = path_ + ":" + std::to_string(lineNo) + ": " + why;
            return false;
        }
        return true;
    }

private:
    bool apply(const std::string& key, std::string_view value, std::string& why)
    {
        StoredState& s = state_.stored;
        RunningState& r = state_.running;
        Bytes bytes;
        if (key == "connection") {
            for (Connection c : {Connection::OnBus, Connection::Dropped, Connection::Disconnected})
                if (connectionName(c) == value) {
                    state_.connection = c;
                    return true;
                }
            return fail(why, key, value);
        }
        if (key == "physical_drive")
            return parseNumberOrNone(value, state_.physicalDrive) || fail(why, key, value);
        if (key == "cdrom")
            return parseNumberOrNone(value, state_.cdrom) || fail(why, key, value);
        if (key == "active_bank")
            return (parseNumberOrNone(value, s.activeBank) && s.activeBank < 2) || fail(why, key, value);
        if (key == "running_bank")
            return (parseNumberOrNone(value, r.bank) && r.bank < 2) || fail(why, key, value);
        if (key == "rom_version")
            return parseFirmwareVersion(value, s.romVersion, why);
        if (key == "sha256_key") {
            if (value == "none") {
                s.shaKey.reset();
                return true;
            }
            if (!fromHex(value, bytes) || bytes.size() != image::kShaKeySize)
                return fail(why, key, value);
            s.shaKey.emplace();
            std::copy(bytes.begin(), bytes.end(), s.shaKey->begin());
            return true;
        }
        if (key == "power_config") {
            if (value == "none") {
                s.powerConfig.clear();
                return true;
            }
            if (!fromHex(value, bytes) || bytes.size() != image::kPowerConfigSize)
                return fail(why, key, value);
            s.powerConfig = std::move(bytes);
            return true;
        }
        if (key == "running_header") {
            if (!fromHex(value, bytes) || bytes.size() != r.header.size())
                return fail(why, key, value);
            std::copy(bytes.begin(), bytes.end(), r.header.begin());
            return true;
        }
        for (int image = 0; image < 2; ++image)
            for (int type = 0; type < 2; ++type)
                if (key == runningConfigKey(image, type)) {
                    if (!fromHex(value, bytes) || bytes.size() != image::kConfigSize)
                        return fail(why, key, value);
                    r.config[image][type] = std::move(bytes);
                    return true;
                }
        if (key == "register_writes")
            return parseRegisterList(value, r.registerWrites, why);
        if (key == "disk_serial") {
            state_.disk.serial = value;
            return true;
        }
        if (key == "disk_model") {
            state_.disk.model = value;
            return true;
        }
        if (key == "disk_firmware") {
            state_.disk.firmware = value;
            return true;
        }
        why = "unknown key '" + key + "'";
        return false;
    }

    static bool fail(std::string& why, const std::string& key, std::string_view value)
    {
        why = "bad " + key + " '" + std::string(value.substr(0, 40)) + (value.size() > 40 ? "...'" : "'");
        return false;
    }

    std::string path_;
    PortState& state_;
};

}  // namespace

std::string_view connectionName(Connection connection)
{
    switch (connection) {
    case Connection::OnBus: return "on-bus";
    case Connection::Dropped: return "dropped";
    case Connection::Disconnected: return "disconnected";
    }
    return "?";
}

int majorRevisionOf(const PortSettings& port)
{
    const ChipModel* chip = findChip(port.chip);
    int revision = port.revision >= 0 ? port.revision : chip ? chip->defaultRevision : 0;
    return (revision >> 4) & 7;
}

PortState factoryState(int port, const PortSettings& settings, const PortStart& start)
{
    const ChipModel* chip = findChip(settings.chip);
    PortState state;
    char serial[24];
    std::snprintf(serial, sizeof serial, "KRVBENCH%012d", port);
    uint16_t productId = chip && chip->pcieDeviceId ? chip->pcieDeviceId
                       : chip && chip->family == ChipFamily::Krv752x ? 0x7520
                                                                     : 0x6390;
    std::string product = std::string(chip ? chip->name : "KRV") + " Bench Drive";
    Bytes usb3 = start.usb3Config ? *start.usb3Config : makeUsb3Config(start.serial.value_or(serial), productId, product);
    Bytes usb4 = start.usb4Config ? *start.usb4Config : makeUsb4Config(productId);
    FirmwareVersion version = start.firmware.value_or(kDefaultFirmwareVersion);
    for (auto [imageIndex, type] : configSlots(settings))
        state.stored.config[imageIndex][type] = type == 0 ? usb3 : usb4;
    if (isBridge857x(settings)) {
        Bytes firmware = makeFirmwareImage(version, majorRevisionOf(settings));
        state.stored.firmware = {firmware, firmware};
        state.stored.activeBank = 0;
    } else {
        state.stored.activeBank = -1;
    }
    state.stored.romVersion = version;
    state.disk = benchDiskIdentity(port, settings.diskSize);
    if (start.diskSerial)
        state.disk.serial = *start.diskSerial;
    state.disk.sectorSize = settings.sectorSize;
    bootFromStored(state, settings);
    return state;
}

void bootFromStored(PortState& state, const PortSettings& settings)
{
    RunningState running;
    running.config = state.stored.config;
    if (isBridge857x(settings)) {
        int major = majorRevisionOf(settings);
        int first = state.stored.activeBank >= 0 ? state.stored.activeBank : 0;
        for (int bank : {first, 1 - first})
            if (firmwareBootable(state.stored.firmware[bank], major)) {
                running.bank = bank;
                running.header = firmwareHeaderOf(state.stored.firmware[bank]);
                break;
            }
        // With no bootable bank the boot ROM runs: it answers the vendor
        // commands so that firmware can be written, and reports version 0.
    } else {
        std::copy(state.stored.romVersion.begin(), state.stored.romVersion.end(), running.header.begin());
    }
    state.running = std::move(running);
}

std::string configImagePath(const std::string& folder, int image, int type)
{
    return folder + "/config-" + std::to_string(image) + "-" + std::to_string(type) + ".bin";
}
std::string firmwareBankPath(const std::string& folder, int bank)
{
    return folder + "/firmware-" + std::to_string(bank) + ".bin";
}
std::string stateFilePath(const std::string& folder) { return folder + "/state.ini"; }
std::string faultsFilePath(const std::string& folder) { return folder + "/faults.ini"; }
std::string commandLogPath(const std::string& folder) { return folder + "/commands.log"; }

bool loadPortState(const std::string& folder, int port, const PortSettings& settings, PortState& state,
                   std::string& error)
{
    PortState loaded = factoryState(port, settings);
    for (auto [imageIndex, type] : configSlots(settings)) {
        std::string path = configImagePath(folder, imageIndex, type);
        if (exists(path) && !readBinary(path, image::kConfigSize, loaded.stored.config[imageIndex][type], error))
            return false;
    }
    if (isBridge857x(settings))
        for (int bank = 0; bank < 2; ++bank) {
            std::string path = firmwareBankPath(folder, bank);
            if (exists(path) && !readBinary(path, image::kFirmwareSize, loaded.stored.firmware[bank], error))
                return false;
        }
    if (exists(stateFilePath(folder))) {
        if (!StateFileReader(stateFilePath(folder), loaded).read(error))
            return false;
    } else {
        // Stored images without a state file: the device powers up on them.
        bootFromStored(loaded, settings);
    }
    std::string text;
    if (exists(faultsFilePath(folder))) {
        if (!readTextFile(faultsFilePath(folder), text, error))
            return false;
        std::string why;
        if (!loaded.faults.parse(text, why)) {
            error = faultsFilePath(folder) + ": " + why;
            return false;
        }
    }
    state = std::move(loaded);
    return true;
}

bool saveConfigImage(const std::string& folder, const PortState& state, int image, int type, std::string& error)
{
    return writeBinary(configImagePath(folder, image, type), state.stored.config[image][type], error);
}

bool saveFirmwareBank(const std::string& folder, const PortState& state, int bank, std::string& error)
{
    return writeBinary(firmwareBankPath(folder, bank), state.stored.firmware[bank], error);
}

bool saveStateFile(const std::string& folder, const PortState& state, std::string& error)
{
    return writeFileAtomically(stateFilePath(folder), formatStateFile(state), error);
}

bool saveFaults(const std::string& folder, const PortState& state, std::string& error)
{
    return writeFileAtomically(faultsFilePath(folder), state.faults.format(), error);
}

bool savePortState(const std::string& folder, const PortState& state, std::string& error)
{
    for (int image = 0; image < 2; ++image)
        for (int type = 0; type < 2; ++type)
            if (!state.stored.config[image][type].empty() && !saveConfigImage(folder, state, image, type, error))
                return false;
    for (int bank = 0; bank < 2; ++bank)
        if (!state.stored.firmware[bank].empty() && !saveFirmwareBank(folder, state, bank, error))
            return false;
    return saveStateFile(folder, state, error) && saveFaults(folder, state, error);
}

}  // namespace krv::bench
