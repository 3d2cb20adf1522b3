#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <map>
#include <optional>
#include <set>
#include <ostream>

#include "platform/bench/Bench.h"
#include "platform/bench/BenchPd.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/ChipCatalog.h"
#include "platform/bench/LinkLine.h"
#include "platform/DeviceClasses.h"
#include "platform/bench/BenchNames.h"
#include "platform/bench/BenchSurvey.h"
#include "platform/bench/BenchTopology.h"
#include "platform/bench/bridge/Bridge.h"
#include "platform/bench/bridge/PortState.h"
#include "tools/krvbench/Arguments.h"
#include "tools/krvbench/Commands.h"
#include "tools/krvbench/JsonWriter.h"

namespace krv::tool {

namespace {

// What `show` reports: the settings as saved, plus who owns the bench and
// what waits in its inbox. Read without taking the bench.
struct PortView {
    std::optional<bench::PortState> state;  // none when the folder's state is damaged
    std::string stateError;
};

struct BenchView {
    std::string folder;
    bench::BenchSettings settings;
    std::optional<bench::OwnerInfo> owner;
    size_t pendingCommands = 0;
    std::vector<PortView> ports;
    bench::Topology topology;
    std::vector<bench::SurveyHub> tree;
    std::vector<bench::SurveyDisk> disks;
};

// Which devices are there now and under which drive numbers, and what the
// USB-connected ones show of themselves, as their saved state says.
void surveyDevices(BenchView& view)
{
    std::map<int, int> drives = {{bench::kSystemDisk, 0}};
    std::map<int, bench::UsbIdentity> usb;
    std::set<int> used = {0};
    for (size_t i = 0; i < view.ports.size(); ++i) {
        const auto& p = view.settings.ports[i];
        const auto& state = view.ports[i].state;
        int port = static_cast<int>(i + 1);
        if (!p.present || !state || state->connection != bench::Connection::OnBus || state->physicalDrive < 0)
            continue;
        drives[port] = state->physicalDrive;
        used.insert(state->physicalDrive);
        bench::Bridge bridge(port, p, *state, bench::portStatePath(view.folder, port));
        if (bridge.onUsb())
            usb[port] = bench::bridgeUsbIdentity(bridge);
    }
    if (view.settings.usbDisk && view.settings.usbDisk->present) {
        int n = 1;
        while (used.count(n))
            ++n;
        drives[bench::kUsbDisk] = n;
        usb[bench::kUsbDisk] = bench::plainUsbDiskIdentity();
    }
    std::string why;
    if (bench::buildTopology(view.settings, view.topology, why))
        view.tree = bench::surveyTree(view.topology, usb);
    view.disks = bench::surveyDisks(view.folder, view.settings, drives);
}

std::string speedText(const bench::UsbIdentity& usb)
{
    switch (usb.speed) {
    case krv::UsbDeviceSpeed::Low: return "low";
    case krv::UsbDeviceSpeed::Full: return "full";
    case krv::UsbDeviceSpeed::High: return "high";
    case krv::UsbDeviceSpeed::Super: return usb.superSpeedPlus ? "super+" : "super";
    }
    return "?";
}

std::string occupantText(const bench::SurveyPort& p)
{
    if (p.hub >= 0)
        return "hub";
    if (p.device)
        return p.device == bench::kUsbDisk ? "usb disk" : "port " + std::to_string(p.device);
    return "";
}

std::string hexWord(uint32_t value, int digits)
{
    char buf[12];
    std::snprintf(buf, sizeof buf, "%0*X", digits, value);
    return buf;
}

std::string partitionType(const PartitionInfo& p)
{
    return p.style == PartitionStyle::Gpt ? guidText(p.gptType) : hexWord(p.mbrType, 2);
}

std::string styleText(PartitionStyle style)
{
    return style == PartitionStyle::Mbr ? "MBR" : style == PartitionStyle::Gpt ? "GPT" : "RAW";
}

uint64_t freeMiB(const bench::FileSystemView& fs)
{
    return fs.freeClusters * fs.sectorsPerCluster * fs.bytesPerSector >> 20;
}

// A port's device state as its folder holds it. The owner writes stored
// images as they change and the rest when it changes, so this is the bench
// as it stands (registers written since the last save excepted).
PortView readPort(const std::string& folder, int port, const bench::PortSettings& settings)
{
    PortView view;
    bench::PortState state;
    if (bench::loadPortState(bench::portStatePath(folder, port), port, settings, state, view.stateError))
        view.state = std::move(state);
    return view;
}

std::string connectionOf(const bench::PortSettings& settings, const PortView& view)
{
    if (!settings.present)
        return "unplugged";
    return view.state ? std::string(bench::connectionName(view.state->connection)) : "?";
}

std::string runningVersion(const bench::PortState& state)
{
    bench::FirmwareVersion version{};
    std::copy_n(state.running.header.begin(), version.size(), version.begin());
    return bench::formatFirmwareVersion(version);
}

std::string revisionText(int revision)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X", revision & 0xFF);
    return text;
}

// The PD controller and MCU behind a port: what they are and the version
// their flash makes them report at the next power-up.
void pdJson(JsonWriter& json, const bench::PortSettings& p, const std::string& stateFolder)
{
    json.key("pd").beginObject();
    json.key("chip").value(bench::choiceName(p.pd));
    json.key("mcu").value(bench::choiceName(p.mcu));
    json.key("version");
    bench::PdController pd(p.pd, p.mcu, stateFolder);
    std::string error;
    if (p.pd != bench::PdChip::None && pd.load(error) && !pd.versionText().empty())
        json.value(pd.versionText());
    else
        json.null();
    json.endObject();
}

void numberOrNull(JsonWriter& json, int value)
{
    if (value >= 0)
        json.value(value);
    else
        json.null();
}

void configList(JsonWriter& json, const bench::ConfigSet& set)
{
    json.beginArray();
    for (int image = 0; image < 2; ++image)
        for (int type = 0; type < 2; ++type) {
            const bench::Bytes& config = set[static_cast<size_t>(image)][static_cast<size_t>(type)];
            if (config.empty())
                continue;
            json.beginObject();
            json.key("image").value(image);
            json.key("type").value(type);
            json.key("hex").value(bench::toHex(config));
            json.endObject();
        }
    json.endArray();
}

void deviceJson(JsonWriter& json, const bench::PortSettings& settings, const PortView& view)
{
    const bench::ChipModel* chip = bench::findChip(settings.chip);
    json.key("revision").value(revisionText(settings.revision));
    json.key("connection").value(connectionOf(settings, view));
    if (!view.state) {
        json.key("state_error").value(view.stateError);
        return;
    }
    const bench::PortState& s = *view.state;
    json.key("physical_drive");
    numberOrNull(json, s.physicalDrive);
    json.key("cdrom");
    numberOrNull(json, s.cdrom);
    json.key("firmware").beginObject();
    json.key("running").value(runningVersion(s));
    json.key("running_bank");
    numberOrNull(json, s.running.bank);
    json.key("active_bank");
    numberOrNull(json, s.stored.activeBank);
    json.key("banks").beginArray();
    for (size_t bank = 0; bank < s.stored.firmware.size(); ++bank) {
        if (s.stored.firmware[bank].empty())
            continue;
        json.beginObject();
        json.key("bank").value(static_cast<int>(bank));
        json.key("version").value(bench::formatFirmwareVersion(bench::firmwareVersionOf(s.stored.firmware[bank])));
        json.key("bootable").value(bench::firmwareBootable(s.stored.firmware[bank], bench::majorRevisionOf(settings)));
        json.endObject();
    }
    json.endArray();
    json.endObject();
    json.key("config").beginObject();
    json.key("stored");
    configList(json, s.stored.config);
    json.key("running");
    configList(json, s.running.config);
    json.endObject();
    json.key("sha256").beginObject();
    json.key("supported").value(chip && chip->sha256);
    json.key("key");
    if (s.stored.shaKey)
        json.value(bench::toHex(s.stored.shaKey->data(), s.stored.shaKey->size()));
    else
        json.null();
    json.endObject();
    json.key("power_config");
    if (s.stored.powerConfig.empty())
        json.null();
    else
        json.value(bench::toHex(s.stored.powerConfig));
    json.key("disk").beginObject();
    json.key("serial").value(s.disk.serial);
    json.key("model").value(s.disk.model);
    json.key("firmware").value(s.disk.firmware);
    json.endObject();
    json.key("faults").beginArray();
    for (const auto& fault : s.faults.all())
        json.value(bench::describeFault(fault));
    json.endArray();
}

std::string hex4(uint16_t value)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", value);
    return buf;
}

bench::ChipIdentity identityOf(const bench::PortSettings& port)
{
    const bench::ChipModel* chip = bench::findChip(port.chip);
    const bench::LinkModel* link = bench::findLink(port.link);
    return chip && link ? bench::identityOf(*chip, *link) : bench::ChipIdentity{};
}

std::string identityText(const bench::ChipIdentity& id)
{
    if (id.pcieDeviceId)
        return "PCIe " + hex4(*id.pcieVendorId) + ":" + hex4(*id.pcieDeviceId);
    return "INQUIRY " + id.inquiry;
}

void printText(const BenchView& view, std::ostream& out)
{
    out << "Bench " << view.folder << "\n";
    out << "Time scale: " << bench::formatTimeScale(view.settings.timeScale) << "\n";
    out << "Owner: " << (view.owner ? bench::describeOwner(view.owner) : std::string("none")) << "\n";
    out << "Inbox: " << view.pendingCommands << " command" << (view.pendingCommands == 1 ? "" : "s") << " waiting\n";
    out << "\n" << std::left;
    out << std::setw(6) << "Port" << std::setw(9) << "Present" << std::setw(9) << "Chip" << std::setw(9) << "Link"
        << std::setw(8) << "Speed" << std::setw(8) << "Disk" << std::setw(18) << "Identity" << std::setw(8) << "Drive"
        << std::setw(14) << "Firmware" << "Faults\n";
    for (size_t i = 0; i < view.settings.ports.size(); ++i) {
        const auto& p = view.settings.ports[i];
        const PortView& v = view.ports[i];
        std::string drive = "-", firmware = "?", faults = "-";
        if (v.state) {
            if (v.state->physicalDrive >= 0)
                drive = std::to_string(v.state->physicalDrive);
            else
                drive = connectionOf(p, v) == "on-bus" ? "-" : connectionOf(p, v);
            firmware = runningVersion(*v.state);
            if (!v.state->faults.empty())
                faults = std::to_string(v.state->faults.all().size());
        }
        out << std::setw(6) << i + 1 << std::setw(9) << (p.present ? "yes" : "no") << std::setw(9) << p.chip
            << std::setw(9) << p.link << std::setw(8) << p.speed << std::setw(8) << bench::formatDiskSize(p.diskSize)
            << std::setw(18) << identityText(identityOf(p)) << std::setw(8) << drive << std::setw(14) << firmware
            << faults << "\n";
        if (!v.state)
            out << "      state: " << v.stateError << "\n";
    }
    out << "\nUSB tree (" << view.topology.controllers << " controller" << (view.topology.controllers == 1 ? "" : "s")
        << ", " << view.topology.chainedHubs << " chained hub" << (view.topology.chainedHubs == 1 ? "" : "s") << ")\n";
    for (const auto& h : view.tree)
        for (const auto& p : h.ports) {
            std::string occupant = occupantText(p);
            if (occupant.empty())
                continue;
            out << "  " << std::setw(12) << bench::formatUsbLocation(p.location) << std::setw(10) << occupant;
            if (p.usb)
                out << hexWord(p.usb->descriptor.idVendor, 4) << ":" << hexWord(p.usb->descriptor.idProduct, 4) << "  "
                    << std::setw(7) << speedText(*p.usb)
                    << (p.usb->descriptor.iSerialNumber ? p.usb->serial : std::string("(no serial)"));
            else if (p.hub < 0)
                out << "(not on USB)";
            out << "\n";
        }
    out << "\nDisks\n";
    for (const auto& d : view.disks) {
        std::string name = d.device == bench::kSystemDisk ? "system disk"
                         : d.device == bench::kUsbDisk  ? "usb disk"
                                                        : "port " + std::to_string(d.device);
        out << "  " << std::setw(18)
            << (d.physicalDrive >= 0 ? "PhysicalDrive" + std::to_string(d.physicalDrive) : std::string("-"))
            << std::setw(13) << name << std::setw(8) << bench::formatDiskSize(d.size) << styleText(d.layout.style)
            << "\n";
        for (const auto& v : d.volumes) {
            out << "      " << (v.volume.letter ? std::string(1, v.volume.letter) + ":" : std::string("--"))
                << " partition " << v.volume.partition.partitionNumber << "  " << v.fileSystem.name;
            if (!v.fileSystem.label.empty())
                out << " \"" << v.fileSystem.label << "\"";
            if (v.fileSystem.kind != bench::FileSystemKind::None)
                out << "  " << freeMiB(v.fileSystem) << " MiB free";
            out << "  " << v.files.size() << " file" << (v.files.size() == 1 ? "" : "s") << "\n";
        }
    }
}

void treeJson(JsonWriter& json, const BenchView& view)
{
    json.key("usb_tree").beginObject();
    json.key("controllers").value(view.topology.controllers);
    json.key("chained_hubs").value(view.topology.chainedHubs);
    json.key("hubs").beginArray();
    for (const auto& h : view.tree) {
        json.beginObject();
        json.key("location").value(bench::formatUsbLocation(h.hub.location));
        json.key("depth").value(h.hub.depth());
        json.key("name").value(bench::hubName(view.topology, h.index));
        json.key("port_count").value(h.hub.ports);
        json.key("ports").beginArray();
        for (const auto& p : h.ports) {
            std::string occupant = occupantText(p);
            if (occupant.empty())
                continue;
            json.beginObject();
            json.key("port").value(p.location.path.back());
            json.key("location").value(bench::formatUsbLocation(p.location));
            json.key("device").value(occupant);
            json.key("connected").value(p.hub >= 0 || p.usb.has_value());
            if (p.usb) {
                json.key("vid").value(hexWord(p.usb->descriptor.idVendor, 4));
                json.key("pid").value(hexWord(p.usb->descriptor.idProduct, 4));
                json.key("bcd_device").value(hexWord(p.usb->descriptor.bcdDevice, 4));
                json.key("manufacturer").value(p.usb->manufacturer);
                json.key("product").value(p.usb->product);
                json.key("serial");
                if (p.usb->descriptor.iSerialNumber)
                    json.value(p.usb->serial);
                else
                    json.null();
                json.key("speed").value(speedText(*p.usb));
            }
            json.endObject();
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
    json.endObject();
}

void disksJson(JsonWriter& json, const BenchView& view)
{
    json.key("disks").beginArray();
    for (const auto& d : view.disks) {
        json.beginObject();
        json.key("device").value(d.device == bench::kSystemDisk ? std::string("system disk")
                                 : d.device == bench::kUsbDisk  ? std::string("usb disk")
                                                                : "port " + std::to_string(d.device));
        json.key("physical_drive");
        numberOrNull(json, d.physicalDrive);
        json.key("size").value(d.size);
        json.key("image").value(d.image);
        json.key("partition_style").value(styleText(d.layout.style));
        json.key("partitions").beginArray();
        for (const auto& p : d.layout.partitions) {
            if (p.length == 0)
                continue;
            json.beginObject();
            json.key("number").value(static_cast<int>(p.partitionNumber));
            json.key("offset").value(p.startingOffset);
            json.key("length").value(p.length);
            json.key("type").value(partitionType(p));
            json.endObject();
        }
        json.endArray();
        json.key("volumes").beginArray();
        for (const auto& v : d.volumes) {
            json.beginObject();
            json.key("letter");
            if (v.volume.letter)
                json.value(std::string(1, v.volume.letter));
            else
                json.null();
            json.key("partition").value(static_cast<int>(v.volume.partition.partitionNumber));
            json.key("offset").value(v.volume.partition.startingOffset);
            json.key("length").value(v.volume.partition.length);
            json.key("file_system").value(v.fileSystem.name);
            json.key("label").value(v.fileSystem.label);
            json.key("serial").value(hexWord(v.fileSystem.serialNumber, 8));
            json.key("free_mib");
            if (v.fileSystem.kind == bench::FileSystemKind::None)
                json.null();
            else
                json.value(freeMiB(v.fileSystem));
            json.key("files").beginArray();
            for (const auto& f : v.files) {
                json.beginObject();
                json.key("path").value(f.path);
                json.key("size").value(f.size);
                json.endObject();
            }
            json.endArray();
            json.endObject();
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
}

void printJson(const BenchView& view, std::ostream& out)
{
    JsonWriter json;
    json.beginObject();
    json.key("folder").value(view.folder);
    json.key("settings_version").value(bench::kSettingsVersion);
    json.key("time_scale").value(view.settings.timeScale);
    json.key("owner");
    if (view.owner) {
        json.beginObject();
        json.key("pid").value(static_cast<int64_t>(view.owner->pid));
        json.key("name").value(view.owner->name);
        json.endObject();
    } else {
        json.null();
    }
    json.key("pending_commands").value(static_cast<uint64_t>(view.pendingCommands));
    json.key("ports").beginArray();
    for (size_t i = 0; i < view.settings.ports.size(); ++i) {
        const auto& p = view.settings.ports[i];
        const bench::ChipModel* chip = bench::findChip(p.chip);
        bench::ChipIdentity id = identityOf(p);
        int number = static_cast<int>(i + 1);
        json.beginObject();
        json.key("port").value(number);
        json.key("present").value(p.present);
        json.key("chip").value(p.chip);
        json.key("family").value(chip ? bench::familyName(chip->family) : std::string_view("?"));
        json.key("link").value(p.link);
        json.key("speed").value(p.speed);
        json.key("link_mbps").value(static_cast<uint64_t>(bench::portLineMbps(p)));
        json.key("identity").beginObject();
        json.key("inquiry");
        if (id.inquiry.empty())
            json.null();
        else
            json.value(id.inquiry);
        json.key("pcie_vendor_id");
        if (id.pcieVendorId)
            json.value(hex4(*id.pcieVendorId));
        else
            json.null();
        json.key("pcie_device_id");
        if (id.pcieDeviceId)
            json.value(hex4(*id.pcieDeviceId));
        else
            json.null();
        json.endObject();
        json.key("disk_size").value(p.diskSize);
        json.key("usb_location");
        if (i < view.topology.ports.size())
            json.value(bench::formatUsbLocation(view.topology.ports[i]));
        else
            json.null();
        json.key("usb_strings").value(bench::usbStringsName(p.usbStrings));
        json.key("usb_status").value(bench::usbPortStatusName(p.usbStatus));
        json.key("state_folder").value(bench::portStatePath(view.folder, number));
        json.key("log_file").value(bench::commandLogPath(bench::portStatePath(view.folder, number)));
        deviceJson(json, p, view.ports[i]);
        pdJson(json, p, bench::portStatePath(view.folder, number));
        json.endObject();
    }
    json.endArray();
    treeJson(json, view);
    disksJson(json, view);
    json.endObject();
    out << json.text();
}


}  // namespace

int runShow(const Args& args, std::ostream& out, std::ostream& err)
{
    Arguments words(args);
    std::optional<std::string> folder;
    bool asJson = false;
    while (!words.done()) {
        if (!words.isOption()) {
            if (folder)
                return usageError(err, "show: unexpected argument '" + words.take() + "'");
            folder = words.take();
            continue;
        }
        std::string name = words.take();
        if (name != "--json")
            return usageError(err, "show: unknown option '" + name + "'");
        asJson = true;
    }
    if (!folder)
        return usageError(err, "show: no bench folder given");

    BenchView view;
    view.folder = bench::absoluteFolder(*folder);
    bench::BenchError error;
    if (!bench::readBenchSettings(*folder, view.settings, error)) {
        err << "krvbench: " << error.message << "\n";
        return exitcode::kFailed;
    }
    view.owner = bench::BenchLock::recordedOwner(*folder);
    view.pendingCommands = bench::Inbox(bench::inboxPath(*folder)).pending().size();
    for (size_t i = 0; i < view.settings.ports.size(); ++i)
        view.ports.push_back(readPort(view.folder, static_cast<int>(i + 1), view.settings.ports[i]));
    surveyDevices(view);
    if (asJson)
        printJson(view, out);
    else
        printText(view, out);
    return exitcode::kOk;
}

}  // namespace krv::tool
