#include <optional>
#include <ostream>

#include "platform/bench/Bench.h"
#include "tools/krvbench/Arguments.h"
#include "tools/krvbench/Commands.h"
#include "tools/krvbench/OwnerHandOff.h"

namespace krv::tool {

// The power cycle an operator is asked for: the device's power is cut and
// restored, so the bridge, its PD controller and its MCU all start afresh.
int runPowerCycle(const Args& args, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> positional;
    bool wait = true;
    if (std::optional<int> usage = takeWordsAndWait(args, "power-cycle", positional, wait, err))
        return *usage;
    if (positional.size() != 2)
        return usageError(err, "power-cycle: expected DIR PORT");
    const std::string& folder = positional[0];
    bench::BenchCommand command;
    command.verb = "power-cycle";
    if (!parsePortNumber(positional[1], command.port))
        return usageError(err, "power-cycle: bad port '" + positional[1] + "' (a number from 1)");
    if (!benchHasPort(folder, command.port, "power-cycle", err))
        return exitcode::kFailed;
    return carryOut(folder, command, wait, "port " + std::to_string(command.port) + " power-cycled", out, err);
}

}  // namespace krv::tool
