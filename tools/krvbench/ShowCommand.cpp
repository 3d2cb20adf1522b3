#include <cstdio>
#include <iomanip>
#include <optional>
#include <ostream>

#include "platform/bench/Bench.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/ChipCatalog.h"
#include "tools/krvbench/Arguments.h"
#include "tools/krvbench/Commands.h"
#include "tools/krvbench/JsonWriter.h"

namespace krv::tool {

namespace {

// What `show` reports: the settings as saved, plus who owns the bench and
// what waits in its inbox. Read without taking the bench.
struct BenchView {
    std::string folder;
    bench::BenchSettings settings;
    std::optional<bench::OwnerInfo> owner;
    size_t pendingCommands = 0;
};

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
        << std::setw(8) << "Speed" << std::setw(8) << "Disk"
        << "Identity\n";
    for (size_t i = 0; i < view.settings.ports.size(); ++i) {
        const auto& p = view.settings.ports[i];
        out << std::setw(6) << i + 1 << std::setw(9) << (p.present ? "yes" : "no") << std::setw(9) << p.chip
            << std::setw(9) << p.link << std::setw(8) << p.speed << std::setw(8) << bench::formatDiskSize(p.diskSize)
            << identityText(identityOf(p)) << "\n";
    }
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
        json.key("state_folder").value(bench::portStatePath(view.folder, number));
        json.endObject();
    }
    json.endArray();
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
    if (asJson)
        printJson(view, out);
    else
        printText(view, out);
    return exitcode::kOk;
}

}  // namespace krv::tool
