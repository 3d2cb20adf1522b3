#include "platform/bench/BenchConsolePrograms.h"

#include <cctype>
#include <cstdio>

#include "platform/LastError.h"
#include "platform/StopSource.h"
#include "platform/bench/BenchDevices.h"
#include "platform/bench/BenchDiskPart.h"
#include "platform/bench/BenchFormat.h"
#include "platform/bench/BenchSystemInfo.h"
#include "platform/bench/ChipCatalog.h"

namespace krv::bench {

namespace {

constexpr const char* kPowercfgBadParameters = "Invalid Parameters -- try \"/?\" for help\r\n";
constexpr const char* kPowercfgNoScheme = "The power scheme, subgroup or setting specified does not exist.\r\n";
constexpr uint32_t kPowercfgFailed = 1;

constexpr const char* kPnpUtilBanner = "Microsoft PnP Utility\r\n\r\n";
constexpr uint32_t kPnpUtilBadCommand = 87;

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "/getactivescheme", "-getactivescheme" -> "getactivescheme"
std::string option(const std::string& arg)
{
    if (!arg.empty() && (arg[0] == '/' || arg[0] == '-'))
        return lowerCase(arg.substr(1));
    return {};
}

// PnPUtil pads each field name to one column.
std::string pnpField(const char* name, const std::string& value)
{
    std::string line = std::string(name) + ":";
    line.resize(28, ' ');
    return line + value + "\r\n";
}

}  // namespace

std::vector<BenchPciFunction> connectedPciFunctions(const std::vector<PortSettings>& ports, BenchDevices& devices)
{
    std::vector<BenchPciFunction> functions;
    for (size_t i = 0; i < ports.size(); ++i) {
        const int port = static_cast<int>(i) + 1;
        const ChipModel* chip = findChip(ports[i].chip);
        const LinkModel* link = findLink(ports[i].link);
        if (!chip || !link || !devices.onBus(port))
            continue;
        const ChipIdentity identity = identityOf(*chip, *link);
        if (!identity.pcieVendorId || !identity.pcieDeviceId)
            continue;
        const int revision = ports[i].revision >= 0 ? ports[i].revision & 0xFF : chip->defaultRevision;
        static const char* const kRoles[] = {"upstream", "downstream"};
        for (int function = 0; function < 2; ++function) {
            char id[128];
            std::snprintf(id, sizeof id, "PCI\\VEN_%04X&DEV_%04X&SUBSYS_85732C4B&REV_%02X\\4&%08X&0&%02X%02X",
                          *identity.pcieVendorId, *identity.pcieDeviceId, revision, 0x2C4B0000u + unsigned(port),
                          port, function);
            functions.push_back({id, std::string(chip->name) + " PCIe " + kRoles[function] + " port"});
        }
    }
    return functions;
}

BenchConsolePrograms::BenchConsolePrograms(BenchSystemInfo& system, PciFunctions pciFunctions,
                                           std::shared_ptr<BenchDevices> devices)
    : system_(system), pciFunctions_(std::move(pciFunctions)), devices_(std::move(devices))
{
}

ConsoleResult BenchConsolePrograms::run(const ConsoleCommand& command, const StopSource* stop)
{
    const std::string key = consoleProgramKey(command.program);
    ConsoleResult result;
    if (stop && stop->stopRequested()) {
        // Asked to stop before it began: it is started and ended at once.
        result.started = true;
    } else if (key == "powercfg") {
        result = powercfg(command.args);
    } else if (key == "pnputil") {
        result = pnputil(command.args);
    } else if (key == "diskpart" && devices_) {
        result = runDiskPart(*devices_, command.args);
    } else if (key == "format" && devices_) {
        result = runFormat(*devices_, command.args, command.input);
    } else if (key == "label" && devices_) {
        result = runLabel(*devices_, command.args);
    } else {
        setLastError(winerr::kFileNotFound);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({command.program, command.args, result.started, result.exitCode});
    return result;
}

ConsoleResult BenchConsolePrograms::powercfg(const std::vector<std::string>& args)
{
    ConsoleResult result;
    result.started = true;
    result.finished = true;
    const std::string what = args.empty() ? std::string() : option(args[0]);
    if (what == "getactivescheme" && args.size() == 1) {
        const std::string active = system_.activePowerScheme();
        for (const PowerScheme& scheme : system_.powerSchemes())
            if (scheme.guid == active)
                result.output = "Power Scheme GUID: " + scheme.guid + "  (" + scheme.name + ")\r\n";
        return result;
    }
    if ((what == "list" || what == "l") && args.size() == 1) {
        const std::string active = system_.activePowerScheme();
        result.output = "\r\nExisting Power Schemes (* Active)\r\n-----------------------------------\r\n";
        for (const PowerScheme& scheme : system_.powerSchemes())
            result.output += "Power Scheme GUID: " + scheme.guid + "  (" + scheme.name + ")" +
                             (scheme.guid == active ? " *" : "") + "\r\n";
        return result;
    }
    if ((what == "setactive" || what == "s") && args.size() == 2) {
        if (!system_.setActivePowerScheme(args[1])) {
            result.exitCode = kPowercfgFailed;
            result.output = kPowercfgNoScheme;
        }
        return result;
    }
    result.exitCode = kPowercfgFailed;
    result.output = kPowercfgBadParameters;
    return result;
}

ConsoleResult BenchConsolePrograms::pnputil(const std::vector<std::string>& args)
{
    ConsoleResult result;
    result.started = true;
    result.finished = true;
    result.output = kPnpUtilBanner;
    bool enumerate = false;
    for (const std::string& arg : args) {
        const std::string what = option(arg);
        if (what == "enum-devices")
            enumerate = true;
        else if (what != "connected") {
            enumerate = false;
            break;
        }
    }
    if (!enumerate) {
        result.exitCode = kPnpUtilBadCommand;
        result.output += "Invalid command line.\r\n";
        return result;
    }
    const std::vector<BenchPciFunction> functions = pciFunctions_ ? pciFunctions_() : std::vector<BenchPciFunction>();
    for (const BenchPciFunction& f : functions) {
        result.output += pnpField("Instance ID", f.instanceId);
        result.output += pnpField("Device Description", f.description);
        result.output += pnpField("Class Name", "System");
        result.output += pnpField("Class GUID", "{4d36e97d-e325-11ce-bfc1-08002be10318}");
        result.output += pnpField("Manufacturer Name", "Korvane");
        result.output += pnpField("Status", "Started");
        result.output += pnpField("Driver Name", "machine.inf");
        result.output += "\r\n";
    }
    return result;
}

std::vector<ConsoleCall> BenchConsolePrograms::calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void BenchConsolePrograms::clearCalls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

}  // namespace krv::bench
