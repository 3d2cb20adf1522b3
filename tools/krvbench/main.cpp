// krvbench: the command-line front door of the emulated bench.
#include <iostream>
#include <string>

#include "tools/krvbench/Commands.h"

int main(int argc, char** argv)
{
    using namespace krv::tool;
    Args args(argv + 1, argv + argc);
    for (const auto& a : args)
        if (a == "--help" || a == "-h") {
            std::cout << usageText();
            return exitcode::kOk;
        }
    if (args.empty())
        return usageError(std::cerr, "no command given");
    std::string command = args.front();
    Args rest(args.begin() + 1, args.end());
    if (command == "help") {
        std::cout << usageText();
        return exitcode::kOk;
    }
    if (command == "create")
        return runCreate(rest, std::cout, std::cerr);
    if (command == "show")
        return runShow(rest, std::cout, std::cerr);
    if (command == "fault")
        return runFault(rest, std::cout, std::cerr);
    if (command == "log")
        return runLog(rest, std::cout, std::cerr);
    if (command == "power-cycle")
        return runPowerCycle(rest, std::cout, std::cerr);
    if (command == "plug" || command == "unplug")
        return runPlug(rest, command == "plug", std::cout, std::cerr);
    return usageError(std::cerr, "unknown command '" + command + "'");
}
