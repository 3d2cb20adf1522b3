#pragma once
// A change to a bench asked for from outside its owner: plug or unplug a port
// now; later bench versions add more verbs (faults) with fields of their own.
// On disk one command is a small text of "key = value" lines:
//   command = plug
//   port = 3
#include <map>
#include <string>
#include <string_view>

namespace krv::bench {

struct BenchCommand {
    std::string verb;
    int port = 0;                               // 1-based; 0: not about one port
    std::map<std::string, std::string> fields;  // any further arguments

    bool operator==(const BenchCommand&) const = default;
};

std::string formatCommand(const BenchCommand& command);
bool parseCommand(std::string_view text, BenchCommand& command, std::string& error);

}  // namespace krv::bench
