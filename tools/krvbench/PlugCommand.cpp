#include <chrono>
#include <optional>
#include <ostream>
#include <thread>

#include "platform/bench/Bench.h"
#include "platform/bench/BenchLayout.h"
#include "tools/krvbench/Arguments.h"
#include "tools/krvbench/Commands.h"

namespace krv::tool {

namespace {

constexpr std::chrono::seconds kOwnerWait{10};
constexpr std::chrono::milliseconds kOwnerPoll{20};

// Waits for the owner to apply a posted command. Should the owner go away
// meanwhile, the bench is taken here, which applies the inbox at once.
int awaitOwner(const std::string& folder, const std::string& id, const bench::BenchCommand& command,
               std::ostream& out, std::ostream& err)
{
    bench::Inbox inbox(bench::inboxPath(folder));
    auto owner = bench::BenchLock::recordedOwner(folder);
    auto deadline = std::chrono::steady_clock::now() + kOwnerWait;
    std::string what = "port " + std::to_string(command.port) + " " + command.verb + "ged";
    for (;;) {
        std::string reason;
        switch (inbox.fate(id, reason)) {
        case bench::Inbox::Fate::Done:
            out << what << " (applied by the bench's owner, " << bench::describeOwner(owner) << ")\n";
            return exitcode::kOk;
        case bench::Inbox::Fate::Rejected:
            err << "krvbench: the bench's owner refused " << command.verb << " of port " << command.port << ": "
                << reason << "\n";
            return exitcode::kFailed;
        case bench::Inbox::Fate::Pending: break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        bench::BenchError ignored;
        if (bench::Bench::open(folder, ignored))
            continue;  // it was free: opening it applied the inbox; look again
        std::this_thread::sleep_for(kOwnerPoll);
    }
    err << "krvbench: " << command.verb << " of port " << command.port << " is queued, but the bench's owner ("
        << bench::describeOwner(owner) << ") has not applied it within " << kOwnerWait.count()
        << " s; it stays queued\n";
    return exitcode::kQueued;
}

}  // namespace

int runPlug(const Args& args, bool plug, std::ostream& out, std::ostream& err)
{
    const std::string verb = plug ? "plug" : "unplug";
    Arguments words(args);
    std::vector<std::string> positional;
    bool wait = true;
    while (!words.done()) {
        if (!words.isOption()) {
            positional.push_back(words.take());
            continue;
        }
        std::string name = words.take();
        if (name != "--no-wait")
            return usageError(err, verb + ": unknown option '" + name + "'");
        wait = false;
    }
    if (positional.size() != 2)
        return usageError(err, verb + ": expected DIR PORT");
    const std::string& folder = positional[0];
    bench::BenchCommand command;
    command.verb = verb;
    if (!parsePortNumber(positional[1], command.port))
        return usageError(err, verb + ": bad port '" + positional[1] + "' (a number from 1)");

    // Judge the port against the bench first, so a bad one is refused here
    // and not left for the owner.
    bench::BenchSettings settings;
    bench::BenchError error;
    if (!bench::readBenchSettings(folder, settings, error)) {
        err << "krvbench: " << error.message << "\n";
        return exitcode::kFailed;
    }
    if (command.port > static_cast<int>(settings.ports.size())) {
        err << "krvbench: " << verb << ": no port " << command.port << ": the bench has ports 1.."
            << settings.ports.size() << "\n";
        return exitcode::kFailed;
    }

    if (auto owned = bench::Bench::open(folder, error)) {
        std::string outcome;
        bool done = owned->apply(command, outcome);
        (done ? out : err) << (done ? "" : "krvbench: ") << outcome << "\n";
        return done ? exitcode::kOk : exitcode::kFailed;
    }
    if (error.kind != bench::BenchError::Kind::Owned) {
        err << "krvbench: " << error.message << "\n";
        return exitcode::kFailed;
    }
    std::string id, why;
    if (!bench::Inbox(bench::inboxPath(folder)).post(command, id, why)) {
        err << "krvbench: cannot hand " << verb << " to the bench's owner: " << why << "\n";
        return exitcode::kFailed;
    }
    if (!wait) {
        out << verb << " of port " << command.port << " queued for the bench's owner ("
            << bench::describeOwner(bench::BenchLock::recordedOwner(folder)) << ")\n";
        return exitcode::kOk;
    }
    return awaitOwner(folder, id, command, out, err);
}

}  // namespace krv::tool
