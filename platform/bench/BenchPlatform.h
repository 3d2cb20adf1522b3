#pragma once
// The platform on the emulated bench in a folder. It owns the bench for its
// whole life (the folder's lock), runs the clock at the bench's time scale,
// reaches the bench's devices through the SCSI pass-through service and, on
// a small thread of its own, applies the changes `krvbench` leaves in the
// bench's inbox.
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/Platform.h"
#include "platform/StopSource.h"
#include "platform/SystemJournal.h"
#include "platform/bench/Bench.h"

namespace krv {

// What a program or a test may choose of the bench platform; left empty,
// the clock runs on real time at the bench's scale and debug output goes to
// stderr.
struct BenchPlatformOptions {
    std::unique_ptr<Clock> clock;              // e.g. a VirtualClock for single-threaded tests
    std::unique_ptr<DebugOutput> debugOutput;  // in place of stderr and the journal
    // A program's name: its debug output goes to the system journal too,
    // tagged with it (through `journal`, or syslog when that is empty).
    std::string programName;
    std::unique_ptr<SystemJournal> journal;
    bool inboxThread = true;                   // false: the inbox is read only on processInboxNow
};

class BenchPlatform : public Platform {
public:
    // How often the inbox is looked at, in real time.
    static constexpr std::chrono::milliseconds kInboxPollPeriod{50};

    // Opens the bench in `folder` and takes it; null with `error` set when the
    // folder is missing, its settings or state are bad or another process owns it.
    static std::unique_ptr<BenchPlatform> open(const std::string& folder, std::string& error,
                                               BenchPlatformOptions options = {});
    ~BenchPlatform() override;

    bench::Bench& bench() { return *bench_; }
    // Applies waiting inbox commands now rather than at the next poll.
    int processInboxNow() { return bench_->processInbox(); }

private:
    BenchPlatform(std::unique_ptr<bench::Bench> bench, PlatformServices services, bool inboxThread);
    void inboxLoop();

    std::unique_ptr<bench::Bench> bench_;
    StopSource stop_;
    std::thread inboxThread_;
};

// The platform a program runs on, its debug output in the journal under
// `programName`.
std::unique_ptr<Platform> createBenchPlatform(const std::string& folder, const std::string& programName,
                                              std::string& error);

}  // namespace krv
