#pragma once
// A bench folder opened by its owner. Holding a Bench means owning the bench:
// the folder's lock is held for the object's life. The owner changes the
// bench through commands (its own or those `krvbench` leaves in the inbox);
// every change is saved at once, atomically, so the folder always shows the
// bench as it is. The bench's devices (BenchDevices) live as long as it does
// and are saved when it closes.
//
// Commands: plug and unplug (port; kUsbDisk for the USB disk), fault (port;
// fields of a Fault, or kind = clear), log (port: write the port's command
// log to its folder), power-cycle (port: the operator cuts and restores the
// device's power).
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/bench/BenchCommand.h"
#include "platform/bench/BenchDevices.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchLock.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/Inbox.h"

namespace krv::bench {

struct BenchError {
    enum class Kind { None, NoFolder, NotABench, BadSettings, BadState, Owned, Io };
    Kind kind = Kind::None;
    std::string message;
};

class Bench {
public:
    // Opens an existing bench and takes ownership; applies any commands left
    // waiting in the inbox. The devices keep time on `clock` (which must
    // outlive the bench), or without one on real time at the bench's scale.
    static std::unique_ptr<Bench> open(const std::string& folder, BenchError& error, Clock* clock = nullptr);
    // Makes a new bench in `folder` (absent or empty) and takes ownership;
    // `starts` give the ports' firmware, configuration and disk layout to
    // start from, `layouts` the disks' of other devices (kSystemDisk, whose
    // default is one FAT32 volume "SYSTEM", and kUsbDisk).
    static std::unique_ptr<Bench> create(const std::string& folder, BenchSettings settings, BenchError& error,
                                         const std::vector<PortStart>& starts = {}, Clock* clock = nullptr,
                                         const std::map<int, DiskLayoutPlan>& layouts = {});

    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    const std::string& folder() const { return folder_; }
    BenchSettings settings() const;
    int portCount() const;
    double timeScale() const;
    // The folder that keeps the stored state of the device on `port` (1-based).
    std::string portStateFolder(int port) const { return portStatePath(folder_, port); }
    BenchDevices& devices() { return *devices_; }
    std::shared_ptr<BenchDevices> sharedDevices() { return devices_; }

    // Carries out one command and saves the bench. True when it was carried
    // out; `outcome` says what happened, or why nothing did.
    bool apply(const BenchCommand& command, std::string& outcome);
    // Applies the inbox's waiting commands in posting order; returns how many
    // were carried out. Safe to call from any thread.
    int processInbox();

private:
    Bench(std::string folder, std::unique_ptr<BenchLock> lock, BenchSettings settings);
    static std::unique_ptr<Bench> finishOpening(std::unique_ptr<Bench> bench, Clock* clock, BenchError& error);
    bool setPresent(int port, bool present, std::string& outcome);
    bool applyFault(const BenchCommand& command, std::string& outcome);
    bool checkPortNumber(int port, std::string& outcome) const;
    static bool makeSubfolders(const std::string& folder, int ports, std::string& error);

    std::string folder_;
    std::unique_ptr<BenchLock> lock_;
    Inbox inbox_;
    std::mutex inboxMutex_;     // one inbox pass at a time; taken before settingsMutex_
    mutable std::mutex settingsMutex_;
    BenchSettings settings_;
    std::unique_ptr<Clock> ownClock_;
    std::shared_ptr<BenchDevices> devices_;
};

// A bench's settings read without taking ownership (to show a bench, or to
// check a command before posting it to a running owner).
bool readBenchSettings(const std::string& folder, BenchSettings& settings, BenchError& error);
// Checks that a whole settings record can make a bench; canonicalises names.
bool checkBenchSettings(BenchSettings& settings, std::string& error);

}  // namespace krv::bench
