#pragma once
// A bench folder opened by its owner. Holding a Bench means owning the bench:
// the folder's lock is held for the object's life. The owner changes the
// bench through commands (its own or those `krvbench` leaves in the inbox);
// every change is saved at once, atomically, so the folder always shows the
// bench as it is.
#include <memory>
#include <mutex>
#include <string>

#include "platform/bench/BenchCommand.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchLock.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/Inbox.h"

namespace krv::bench {

struct BenchError {
    enum class Kind { None, NoFolder, NotABench, BadSettings, Owned, Io };
    Kind kind = Kind::None;
    std::string message;
};

class Bench {
public:
    // Opens an existing bench and takes ownership; applies any commands left
    // waiting in the inbox.
    static std::unique_ptr<Bench> open(const std::string& folder, BenchError& error);
    // Makes a new bench in `folder` (absent or empty) and takes ownership.
    static std::unique_ptr<Bench> create(const std::string& folder, BenchSettings settings, BenchError& error);

    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    const std::string& folder() const { return folder_; }
    BenchSettings settings() const;
    int portCount() const;
    double timeScale() const;
    // The folder that keeps the stored state of the device on `port` (1-based).
    std::string portStateFolder(int port) const { return portStatePath(folder_, port); }

    // Carries out one command and saves the bench. True when it was carried
    // out; `outcome` says what happened, or why nothing did.
    bool apply(const BenchCommand& command, std::string& outcome);
    // Applies the inbox's waiting commands in posting order; returns how many
    // were carried out. Safe to call from any thread.
    int processInbox();

private:
    Bench(std::string folder, std::unique_ptr<BenchLock> lock, BenchSettings settings);
    bool setPresent(int port, bool present, std::string& outcome);
    static bool makeSubfolders(const std::string& folder, int ports, std::string& error);

    std::string folder_;
    std::unique_ptr<BenchLock> lock_;
    Inbox inbox_;
    std::mutex inboxMutex_;     // one inbox pass at a time; taken before settingsMutex_
    mutable std::mutex settingsMutex_;
    BenchSettings settings_;
};

// A bench's settings read without taking ownership (to show a bench, or to
// check a command before posting it to a running owner).
bool readBenchSettings(const std::string& folder, BenchSettings& settings, BenchError& error);
// Checks that a whole settings record can make a bench; canonicalises names.
bool checkBenchSettings(BenchSettings& settings, std::string& error);

}  // namespace krv::bench
