#include <optional>
#include <ostream>

#include "platform/bench/Bench.h"
#include "platform/bench/BenchLayout.h"
#include "tools/krvbench/Arguments.h"
#include "tools/krvbench/Commands.h"
#include "tools/krvbench/OwnerHandOff.h"

namespace krv::tool {

int runPlug(const Args& args, bool plug, std::ostream& out, std::ostream& err)
{
    const std::string verb = plug ? "plug" : "unplug";
    std::vector<std::string> positional;
    bool wait = true;
    if (std::optional<int> usage = takeWordsAndWait(args, verb, positional, wait, err))
        return *usage;
    if (positional.size() != 2)
        return usageError(err, verb + ": expected DIR PORT");
    const std::string& folder = positional[0];
    bench::BenchCommand command;
    command.verb = verb;
    bool usbDisk = positional[1] == "usb-disk";
    if (usbDisk)
        command.port = bench::kUsbDisk;
    else if (!parsePortNumber(positional[1], command.port))
        return usageError(err, verb + ": bad port '" + positional[1] + "' (a number from 1, or usb-disk)");

    if (usbDisk) {
        bench::BenchSettings settings;
        bench::BenchError error;
        if (!bench::readBenchSettings(folder, settings, error)) {
            err << "krvbench: " << error.message << "\n";
            return exitcode::kFailed;
        }
        if (!settings.usbDisk) {
            err << "krvbench: " << verb << ": the bench has no USB disk (create it with --usb-disk)\n";
            return exitcode::kFailed;
        }
    } else if (!benchHasPort(folder, command.port, verb, err)) {
        return exitcode::kFailed;
    }
    std::string what = usbDisk ? std::string("the USB disk") : "port " + std::to_string(command.port);
    return carryOut(folder, command, wait, what + " " + verb + "ged", out, err);
}

}  // namespace krv::tool
