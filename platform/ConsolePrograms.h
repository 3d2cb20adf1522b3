#pragma once
// The operating system's console programs (diskpart, format, label,
// powercfg, PnPUtil) as the system's code starts them: by name, with their
// arguments and, for a scripted program, the text it reads; the caller waits
// for the end and reads the exit code and what the program printed. The
// backend carries out the program's effect on the machine it stands for.
//
// Every run is bounded: a program still running at its time-out, or when the
// caller's stop request comes, is ended and reported as not finished.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace krv {

class StopSource;

// A run without a time-out of its own waits at most this long.
constexpr uint64_t kConsoleDefaultTimeoutMs = 60'000;

struct ConsoleCommand {
    ConsoleCommand() = default;
    ConsoleCommand(std::string programName, std::vector<std::string> arguments = {}, std::string inputText = {},
                   uint64_t timeout = 0)
        : program(std::move(programName)), args(std::move(arguments)), input(std::move(inputText)), timeoutMs(timeout)
    {
    }

    std::string program;             // "powercfg", "PnPUtil", ... (case does not matter; ".exe" or ".com" may follow)
    std::vector<std::string> args;   // one entry per argument, never split again
    std::string input;               // what the program reads from its input (a diskpart script), may be empty
    uint64_t timeoutMs = 0;          // monotonic ms; 0: kConsoleDefaultTimeoutMs
};

struct ConsoleResult {
    bool started = false;    // false: it could not be started (the last error says why)
    bool finished = false;   // false: it was ended at the time-out or the stop request
    uint32_t exitCode = 0;   // valid when finished
    std::string output;      // what it printed, standard output then standard error
};

class ConsolePrograms {
public:
    virtual ~ConsolePrograms() = default;
    virtual ConsoleResult run(const ConsoleCommand& command, const StopSource* stop = nullptr) = 0;
};

// A machine without console programs: nothing starts, the last error is 2
// (file not found).
class NoConsolePrograms : public ConsolePrograms {
public:
    ConsoleResult run(const ConsoleCommand& command, const StopSource* stop = nullptr) override;
};

// The program name without a folder or ".exe" (".com"), lower case: what a
// backend compares with ("PnPUtil.exe" -> "pnputil", "format.com" -> "format").
std::string consoleProgramKey(const std::string& program);

}  // namespace krv
