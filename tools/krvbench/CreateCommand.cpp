#include <functional>
#include <map>
#include <optional>
#include <ostream>

#include "platform/bench/Bench.h"
#include "platform/bench/BenchLayout.h"
#include "tools/krvbench/Arguments.h"
#include "tools/krvbench/Commands.h"

namespace krv::tool {

namespace {

// One per-port option as given: a value for every port and values for some.
struct PerPortValues {
    std::optional<std::string> all;
    std::map<int, std::string> byPort;
};

using Setter = std::function<bool(bench::PortSettings&, const std::string& value, std::string& why)>;

struct PerPortOption {
    Setter set;
    PerPortValues values;
};

std::map<std::string, PerPortOption> perPortOptions()
{
    std::map<std::string, PerPortOption> options;
    options["--chip"].set = [](bench::PortSettings& p, const std::string& v, std::string&) {
        p.chip = v;  // judged with the link once the port is complete
        return true;
    };
    options["--link"].set = [](bench::PortSettings& p, const std::string& v, std::string&) {
        p.link = v;
        return true;
    };
    options["--speed"].set = [](bench::PortSettings& p, const std::string& v, std::string&) {
        p.speed = v;
        return true;
    };
    options["--disk-size"].set = [](bench::PortSettings& p, const std::string& v, std::string& why) {
        return bench::parseDiskSize(v, p.diskSize, why);
    };
    options["--present"].set = [](bench::PortSettings& p, const std::string& v, std::string& why) {
        if (bench::parseYesNo(v, p.present))
            return true;
        why = "bad value '" + v + "' for --present (yes or no)";
        return false;
    };
    return options;
}

}  // namespace

int runCreate(const Args& args, std::ostream& out, std::ostream& err)
{
    Arguments words(args);
    auto options = perPortOptions();
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
        if (name != "--ports" && name != "--time-scale" && !options.count(name))
            return usageError(err, "create: unknown option '" + name + "'");
        if (!value)
            return usageError(err, "create: " + name + " needs a value");
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
            if (v && !option.set(settings.ports[static_cast<size_t>(port - 1)], *v, why))
                return usageError(err, "create: " + name + ": " + why);
        }
    }
    std::string why;
    if (!bench::checkBenchSettings(settings, why))
        return usageError(err, "create: " + why);

    bench::BenchError error;
    auto created = bench::Bench::create(*folder, settings, error);
    if (!created) {
        err << "krvbench: " << error.message << "\n";
        return exitcode::kFailed;
    }
    out << "created bench " << *folder << " with " << *portCount << " port" << (*portCount == 1 ? "" : "s") << "\n";
    return exitcode::kOk;
}

}  // namespace krv::tool
