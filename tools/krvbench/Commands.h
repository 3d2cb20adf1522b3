#pragma once
// The commands of krvbench. Each takes the words after its name, prints its
// result on `out` and its complaints on `err`, and returns the exit status.
#include <ostream>
#include <string>
#include <vector>

namespace krv::tool {

namespace exitcode {
constexpr int kOk = 0;
constexpr int kFailed = 1;      // the bench refused or could not be read or written
constexpr int kUsage = 2;       // bad command line
constexpr int kQueued = 3;      // handed to the bench's owner, not applied yet
}  // namespace exitcode

using Args = std::vector<std::string>;

int runCreate(const Args& args, std::ostream& out, std::ostream& err);
int runShow(const Args& args, std::ostream& out, std::ostream& err);
int runPlug(const Args& args, bool plug, std::ostream& out, std::ostream& err);
int runFault(const Args& args, std::ostream& out, std::ostream& err);
int runLog(const Args& args, std::ostream& out, std::ostream& err);
int runPowerCycle(const Args& args, std::ostream& out, std::ostream& err);

std::string usageText();
// Prints "krvbench: MESSAGE" and a pointer to --help; returns kUsage.
int usageError(std::ostream& err, const std::string& message);

}  // namespace krv::tool
