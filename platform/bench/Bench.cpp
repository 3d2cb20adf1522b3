#include "platform/bench/Bench.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/RealClock.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchTopology.h"

namespace krv::bench {

namespace {

namespace fs = std::filesystem;

bool setError(BenchError& error, BenchError::Kind kind, std::string message)
{
    error.kind = kind;
    error.message = std::move(message);
    return false;
}

// The folder must exist as a folder and hold a settings file.
bool checkBenchFolder(const std::string& folder, BenchError& error)
{
    struct stat st{};
    if (::stat(folder.c_str(), &st) != 0)
        return setError(error, BenchError::Kind::NoFolder,
                        "bench folder " + folder + " does not exist (make one with 'krvbench create " + folder +
                            " --ports N')");
    if (!S_ISDIR(st.st_mode))
        return setError(error, BenchError::Kind::NoFolder, "bench folder " + folder + " is not a folder");
    if (::access(settingsPath(folder).c_str(), F_OK) != 0)
        return setError(error, BenchError::Kind::NotABench,
                        folder + " is not a bench: it has no bench.ini (make one with 'krvbench create')");
    return true;
}

}  // namespace

bool checkBenchSettings(BenchSettings& settings, std::string& error)
{
    if (settings.ports.empty() || settings.ports.size() > static_cast<size_t>(kMaxPorts)) {
        error = "a bench has 1.." + std::to_string(kMaxPorts) + " ports, not " + std::to_string(settings.ports.size());
        return false;
    }
    if (!(settings.timeScale >= kMinTimeScale && settings.timeScale <= kMaxTimeScale)) {
        error = "time scale " + formatTimeScale(settings.timeScale) + " out of range " +
                formatTimeScale(kMinTimeScale) + ".." + formatTimeScale(kMaxTimeScale);
        return false;
    }
    for (size_t i = 0; i < settings.ports.size(); ++i) {
        PortSettings& port = settings.ports[i];
        std::string why = checkPort(port);
        if (why.empty() && (port.diskSize < kMinDiskSize || port.diskSize > kMaxDiskSize || port.diskSize % 512))
            why = "disk size " + std::to_string(port.diskSize) + " is not a whole number of sectors between " +
                  formatDiskSize(kMinDiskSize) + " and " + formatDiskSize(kMaxDiskSize);
        if (!why.empty()) {
            error = "port " + std::to_string(i + 1) + ": " + why;
            return false;
        }
    }
    auto sizeOk = [](uint64_t size) { return size >= kMinDiskSize && size <= kMaxDiskSize && size % 512 == 0; };
    if (!sizeOk(settings.systemDiskSize)) {
        error = "system disk: size " + std::to_string(settings.systemDiskSize) + " is not a whole number of sectors between " +
                formatDiskSize(kMinDiskSize) + " and " + formatDiskSize(kMaxDiskSize);
        return false;
    }
    if (settings.usbDisk && !sizeOk(settings.usbDisk->diskSize)) {
        error = "USB disk: size " + std::to_string(settings.usbDisk->diskSize) + " is not a whole number of sectors between " +
                formatDiskSize(kMinDiskSize) + " and " + formatDiskSize(kMaxDiskSize);
        return false;
    }
    Topology topology;
    std::string why;
    if (!buildTopology(settings, topology, why)) {
        error = why;
        return false;
    }
    return true;
}

bool readBenchSettings(const std::string& folder, BenchSettings& settings, BenchError& error)
{
    if (!checkBenchFolder(folder, error))
        return false;
    std::string why;
    if (!loadBenchSettings(settingsPath(folder), settings, why))
        return setError(error, BenchError::Kind::BadSettings, why);
    return true;
}

Bench::Bench(std::string folder, std::unique_ptr<BenchLock> lock, BenchSettings settings)
    : folder_(std::move(folder)), lock_(std::move(lock)), inbox_(inboxPath(folder_)), settings_(std::move(settings))
{
}

Bench::~Bench()
{
    if (devices_)
        devices_->close();
}

std::unique_ptr<Bench> Bench::finishOpening(std::unique_ptr<Bench> bench, Clock* clock, BenchError& error)
{
    if (!clock) {
        bench->ownClock_ = std::make_unique<RealClock>(bench->settings_.timeScale);
        clock = bench->ownClock_.get();
    }
    bench->devices_ = std::make_shared<BenchDevices>(bench->folder_, *clock);
    std::string why;
    if (!bench->devices_->load(bench->settings_, why)) {
        bench->devices_.reset();
        setError(error, BenchError::Kind::BadState, "bench " + bench->folder_ + ": " + why);
        return nullptr;
    }
    return bench;
}

bool Bench::makeSubfolders(const std::string& folder, int ports, std::string& error)
{
    std::error_code ec;
    fs::create_directories(inboxPath(folder), ec);
    for (int port = 1; !ec && port <= ports; ++port)
        fs::create_directories(portStatePath(folder, port), ec);
    if (ec) {
        error = "cannot make the folders of bench " + folder + ": " + ec.message();
        return false;
    }
    return true;
}

std::unique_ptr<Bench> Bench::open(const std::string& given, BenchError& error, Clock* clock)
{
    if (!checkBenchFolder(given, error))
        return nullptr;
    const std::string folder = absoluteFolder(given);
    std::unique_ptr<BenchLock> lock;
    std::string why;
    switch (BenchLock::tryTake(folder, lock, why)) {
    case BenchLock::Result::Taken: break;
    case BenchLock::Result::Busy: setError(error, BenchError::Kind::Owned, why); return nullptr;
    case BenchLock::Result::Failed: setError(error, BenchError::Kind::Io, why); return nullptr;
    }
    BenchSettings settings;
    if (!loadBenchSettings(settingsPath(folder), settings, why) || !checkBenchSettings(settings, why)) {
        setError(error, BenchError::Kind::BadSettings, why);
        return nullptr;
    }
    if (!makeSubfolders(folder, static_cast<int>(settings.ports.size()), why)) {
        setError(error, BenchError::Kind::Io, why);
        return nullptr;
    }
    std::unique_ptr<Bench> bench(new Bench(folder, std::move(lock), std::move(settings)));
    bench = finishOpening(std::move(bench), clock, error);
    // Whatever was posted while nobody owned the bench is due now.
    if (bench)
        bench->processInbox();
    return bench;
}

std::unique_ptr<Bench> Bench::create(const std::string& given, BenchSettings settings, BenchError& error,
                                     const std::vector<PortStart>& starts, Clock* clock,
                                     const std::map<int, DiskLayoutPlan>& layouts)
{
    const std::string folder = absoluteFolder(given);
    std::string why;
    if (!checkBenchSettings(settings, why)) {
        setError(error, BenchError::Kind::BadSettings, why);
        return nullptr;
    }
    std::error_code ec;
    auto status = fs::status(folder, ec);
    if (fs::exists(status)) {
        if (!fs::is_directory(status)) {
            setError(error, BenchError::Kind::NoFolder, folder + " exists and is not a folder");
            return nullptr;
        }
        if (fs::exists(settingsPath(folder), ec)) {
            setError(error, BenchError::Kind::Io, folder + " already holds a bench");
            return nullptr;
        }
        if (!fs::is_empty(folder, ec) || ec) {
            setError(error, BenchError::Kind::Io, folder + " is not empty; make a bench in a new or empty folder");
            return nullptr;
        }
    } else if (!fs::create_directories(folder, ec) || ec) {
        setError(error, BenchError::Kind::Io,
                 "cannot make bench folder " + folder + ": " + (ec ? ec.message() : std::string("unknown error")));
        return nullptr;
    }
    std::unique_ptr<BenchLock> lock;
    switch (BenchLock::tryTake(folder, lock, why)) {
    case BenchLock::Result::Taken: break;
    case BenchLock::Result::Busy: setError(error, BenchError::Kind::Owned, why); return nullptr;
    case BenchLock::Result::Failed: setError(error, BenchError::Kind::Io, why); return nullptr;
    }
    if (!makeSubfolders(folder, static_cast<int>(settings.ports.size()), why) ||
        !BenchDevices::initialise(folder, settings, starts, why, layouts) ||
        !saveBenchSettings(settingsPath(folder), settings, why)) {
        setError(error, BenchError::Kind::Io, why);
        return nullptr;
    }
    return finishOpening(std::unique_ptr<Bench>(new Bench(folder, std::move(lock), std::move(settings))), clock,
                         error);
}

BenchSettings Bench::settings() const
{
    std::lock_guard<std::mutex> guard(settingsMutex_);
    return settings_;
}

int Bench::portCount() const
{
    std::lock_guard<std::mutex> guard(settingsMutex_);
    return static_cast<int>(settings_.ports.size());
}

double Bench::timeScale() const
{
    std::lock_guard<std::mutex> guard(settingsMutex_);
    return settings_.timeScale;
}

bool Bench::checkPortNumber(int port, std::string& outcome) const
{
    int count = portCount();
    if (port >= 1 && port <= count)
        return true;
    outcome = "no port " + std::to_string(port) + ": the bench has ports 1.." + std::to_string(count);
    return false;
}

bool Bench::apply(const BenchCommand& command, std::string& outcome)
{
    bool known = command.verb == "plug" || command.verb == "unplug" || command.verb == "fault" ||
                 command.verb == "log" || command.verb == "power-cycle";
    if (!known) {
        outcome = "unknown bench command '" + command.verb + "'";
        return false;
    }
    if (command.verb != "fault" && !command.fields.empty()) {
        outcome = command.verb + ": unexpected field '" + command.fields.begin()->first + "'";
        return false;
    }
    if (command.verb == "plug" || command.verb == "unplug")
        return setPresent(command.port, command.verb == "plug", outcome);
    if (!checkPortNumber(command.port, outcome))
        return false;
    if (command.verb == "fault")
        return applyFault(command, outcome);
    if (command.verb == "power-cycle")
        return devices_->powerCycle(command.port, outcome);
    std::string why;
    if (!devices_->flushLog(command.port, why)) {
        outcome = "port " + std::to_string(command.port) + ": cannot write the command log: " + why;
        return false;
    }
    outcome = "port " + std::to_string(command.port) + ": command log written";
    return true;
}

bool Bench::applyFault(const BenchCommand& command, std::string& outcome)
{
    auto kind = command.fields.find("kind");
    if (kind != command.fields.end() && kind->second == "clear") {
        if (command.fields.size() != 1) {
            outcome = "fault clear takes no further fields";
            return false;
        }
        devices_->clearFaults(command.port, outcome);
        return true;
    }
    Fault fault;
    std::string why;
    if (!faultFromFields(command.fields, fault, why)) {
        outcome = "fault: " + why;
        return false;
    }
    return devices_->addFault(command.port, fault, outcome);
}

bool Bench::setPresent(int port, bool present, std::string& outcome)
{
    std::lock_guard<std::mutex> guard(settingsMutex_);
    int count = static_cast<int>(settings_.ports.size());
    if (port == kUsbDisk && settings_.usbDisk) {
        if (settings_.usbDisk->present != present) {
            BenchSettings changed = settings_;
            changed.usbDisk->present = present;
            std::string why;
            if (!saveBenchSettings(settingsPath(folder_), changed, why)) {
                outcome = std::string("the USB disk not ") + (present ? "plugged" : "unplugged") + ": " + why;
                return false;
            }
            settings_ = std::move(changed);
        }
        devices_->setPresent(port, present, outcome);
        return true;
    }
    if (port < 1 || port > count) {
        outcome = "no port " + std::to_string(port) + ": the bench has ports 1.." + std::to_string(count);
        return false;
    }
    const char* done = present ? "plugged" : "unplugged";
    std::string name = "port " + std::to_string(port);
    if (settings_.ports[static_cast<size_t>(port - 1)].present == present) {
        // Plugging in again brings back a device that dropped off the bus.
        devices_->setPresent(port, present, outcome);
        return true;
    }
    BenchSettings changed = settings_;
    changed.ports[static_cast<size_t>(port - 1)].present = present;
    std::string why;
    if (!saveBenchSettings(settingsPath(folder_), changed, why)) {
        outcome = name + " not " + done + ": " + why;
        return false;
    }
    settings_ = std::move(changed);
    devices_->setPresent(port, present, outcome);
    return true;
}

int Bench::processInbox()
{
    std::lock_guard<std::mutex> guard(inboxMutex_);
    int applied = 0;
    for (const std::string& id : inbox_.pending()) {
        BenchCommand command;
        std::string why;
        if (!inbox_.read(id, command, why)) {
            inbox_.markRejected(id, "unreadable command: " + why);
            continue;
        }
        if (apply(command, why)) {
            inbox_.markDone(id);
            ++applied;
        } else {
            inbox_.markRejected(id, why);
        }
    }
    return applied;
}

}  // namespace krv::bench
