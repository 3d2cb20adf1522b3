#include <ostream>

#include "platform/bench/bridge/Faults.h"
#include "tools/krvbench/Arguments.h"
#include "tools/krvbench/Commands.h"
#include "tools/krvbench/OwnerHandOff.h"

namespace krv::tool {

int runFault(const Args& args, std::ostream& out, std::ostream& err)
{
    Arguments words(args);
    std::vector<std::string> positional;
    std::map<std::string, std::string> fields;
    bool wait = true;
    while (!words.done()) {
        if (!words.isOption()) {
            positional.push_back(words.take());
            continue;
        }
        std::string name = words.take();
        if (name == "--no-wait") {
            wait = false;
            continue;
        }
        if (name == "--files") {
            fields["files"] = "yes";
            continue;
        }
        static const std::map<std::string, std::string> keys = {
            {"--cdb", "cdb"}, {"--after", "after"}, {"--byte", "byte"}, {"--sense", "sense"}, {"--offset", "offset"}};
        auto key = keys.find(name);
        if (key == keys.end())
            return usageError(err, "fault: unknown option '" + name + "'");
        std::optional<std::string> value = words.value();
        if (!value)
            return usageError(err, "fault: " + name + " needs a value");
        fields[key->second] = *value;
    }
    if (positional.size() < 3 || positional.size() > 4)
        return usageError(err, "fault: expected DIR PORT KIND [COUNT] (KIND: fail, check, timeout, corrupt, corrupt-store, drop, no-return, stuck, clear)");
    const std::string& folder = positional[0];
    bench::BenchCommand command;
    command.verb = "fault";
    if (!parsePortNumber(positional[1], command.port))
        return usageError(err, "fault: bad port '" + positional[1] + "' (a number from 1)");
    const std::string& kind = positional[2];
    std::string done = "port " + positional[1] + ": ";
    if (kind == "clear") {
        if (positional.size() > 3 || !fields.empty())
            return usageError(err, "fault: clear takes no count and no options");
        command.fields["kind"] = "clear";
        done += "faults cleared";
    } else {
        fields["kind"] = kind;
        if (positional.size() == 4)
            fields["count"] = positional[3];
        // Judged here, so that a fault the bench would refuse never reaches it.
        bench::Fault fault;
        std::string why;
        if (!bench::faultFromFields(fields, fault, why))
            return usageError(err, "fault: " + why);
        command.fields = bench::faultFields(fault);
        done += fault.immediate() ? "dropped off the bus" : "fault set: " + bench::describeFault(fault);
    }
    if (!benchHasPort(folder, command.port, "fault", err))
        return exitcode::kFailed;
    return carryOut(folder, command, wait, done, out, err);
}

}  // namespace krv::tool
