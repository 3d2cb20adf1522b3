#include <unistd.h>

#include <ostream>

#include "platform/bench/BenchFiles.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchLock.h"
#include "platform/bench/bridge/PortState.h"
#include "tools/krvbench/Arguments.h"
#include "tools/krvbench/Commands.h"
#include "tools/krvbench/OwnerHandOff.h"

namespace krv::tool {

int runLog(const Args& args, std::ostream& out, std::ostream& err)
{
    Arguments words(args);
    std::vector<std::string> positional;
    while (!words.done()) {
        if (words.isOption())
            return usageError(err, "log: unknown option '" + words.take() + "'");
        positional.push_back(words.take());
    }
    if (positional.size() != 2)
        return usageError(err, "log: expected DIR PORT");
    const std::string& folder = positional[0];
    int port = 0;
    if (!parsePortNumber(positional[1], port))
        return usageError(err, "log: bad port '" + positional[1] + "' (a number from 1)");
    if (!benchHasPort(folder, port, "log", err))
        return exitcode::kFailed;

    // A running owner keeps the newest entries in memory: it writes them out
    // first. A bench nobody owns has everything in the file already.
    int status = exitcode::kOk;
    if (bench::BenchLock::recordedOwner(folder)) {
        std::ostream discard(nullptr);
        status = carryOut(folder, bench::BenchCommand{"log", port, {}}, true, "", discard, err);
        if (status == exitcode::kFailed)
            return status;
    }
    std::string path = bench::commandLogPath(bench::portStatePath(folder, port));
    std::string text, why;
    if (::access(path.c_str(), F_OK) == 0 && !bench::readTextFile(path, text, why)) {
        err << "krvbench: " << why << "\n";
        return exitcode::kFailed;
    }
    out << text;
    return status;
}

}  // namespace krv::tool
