#pragma once
// Carries out a change on a bench: at once when nobody owns the bench, or
// through the owner's inbox, waiting for the owner to apply it.
#include <chrono>
#include <ostream>
#include <string>

#include "platform/bench/BenchCommand.h"

namespace krv::tool {

constexpr std::chrono::seconds kOwnerWait{10};

// Reads the bench's settings and checks that it has `port`, so that a bad
// port is refused here and not left for the owner. Prints why not.
bool benchHasPort(const std::string& folder, int port, const std::string& verb, std::ostream& err);

// `done` is what to say once the owner applied the command (the owner's own
// words stay in its process). Returns the exit status.
int carryOut(const std::string& folder, const bench::BenchCommand& command, bool wait, const std::string& done,
             std::ostream& out, std::ostream& err);

}  // namespace krv::tool
