#include "tools/krvbench/OwnerHandOff.h"

#include <thread>

#include "platform/bench/Bench.h"
#include "platform/bench/BenchLayout.h"
#include "tools/krvbench/Commands.h"

namespace krv::tool {

namespace {

constexpr std::chrono::milliseconds kOwnerPoll{20};

// Waits for the owner to apply a posted command. Should the owner go away
// meanwhile, the bench is taken here, which applies the inbox at once.
int awaitOwner(const std::string& folder, const std::string& id, const bench::BenchCommand& command,
               const std::string& done, std::ostream& out, std::ostream& err)
{
    bench::Inbox inbox(bench::inboxPath(folder));
    auto owner = bench::BenchLock::recordedOwner(folder);
    auto deadline = std::chrono::steady_clock::now() + kOwnerWait;
    for (;;) {
        std::string reason;
        switch (inbox.fate(id, reason)) {
        case bench::Inbox::Fate::Done:
            out << done << " (applied by the bench's owner, " << bench::describeOwner(owner) << ")\n";
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

bool benchHasPort(const std::string& folder, int port, const std::string& verb, std::ostream& err)
{
    bench::BenchSettings settings;
    bench::BenchError error;
    if (!bench::readBenchSettings(folder, settings, error)) {
        err << "krvbench: " << error.message << "\n";
        return false;
    }
    if (port > static_cast<int>(settings.ports.size())) {
        err << "krvbench: " << verb << ": no port " << port << ": the bench has ports 1.." << settings.ports.size()
            << "\n";
        return false;
    }
    return true;
}

int carryOut(const std::string& folder, const bench::BenchCommand& command, bool wait, const std::string& done,
             std::ostream& out, std::ostream& err)
{
    bench::BenchError error;
    if (auto owned = bench::Bench::open(folder, error)) {
        std::string outcome;
        bool applied = owned->apply(command, outcome);
        (applied ? out : err) << (applied ? "" : "krvbench: ") << outcome << "\n";
        return applied ? exitcode::kOk : exitcode::kFailed;
    }
    if (error.kind != bench::BenchError::Kind::Owned) {
        err << "krvbench: " << error.message << "\n";
        return exitcode::kFailed;
    }
    std::string id, why;
    if (!bench::Inbox(bench::inboxPath(folder)).post(command, id, why)) {
        err << "krvbench: cannot hand " << command.verb << " to the bench's owner: " << why << "\n";
        return exitcode::kFailed;
    }
    if (!wait) {
        out << command.verb << " of port " << command.port << " queued for the bench's owner ("
            << bench::describeOwner(bench::BenchLock::recordedOwner(folder)) << ")\n";
        return exitcode::kOk;
    }
    return awaitOwner(folder, id, command, done, out, err);
}

}  // namespace krv::tool
