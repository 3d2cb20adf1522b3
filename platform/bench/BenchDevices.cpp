#include "platform/bench/BenchDevices.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/LastError.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/bridge/Sense.h"

namespace krv::bench {

namespace {

std::string driveText(int drive, int cdrom)
{
    std::string text = "PhysicalDrive" + std::to_string(drive);
    if (cdrom >= 0)
        text += " and CDROM" + std::to_string(cdrom);
    return text;
}

bool wellFormed(const ScsiCommand& command)
{
    if (command.cdbLength < 6 || command.cdbLength > 16)
        return false;
    if (command.dataLength > 0 && (!command.data || command.direction == DataDirection::None))
        return false;
    return true;
}

LogEntry entryFor(uint64_t ms, const DeviceTarget& target, const ScsiCommand& command)
{
    LogEntry entry;
    entry.ms = ms;
    entry.cdrom = target.unit == Unit::CdRom;
    entry.cdb.assign(command.cdb, command.cdb + command.cdbLength);
    entry.direction = command.direction;
    entry.dataLength = command.dataLength;
    return entry;
}

void noteResult(LogEntry& entry, const ScsiCommand& command)
{
    if (command.scsiStatus == scsi::kGood) {
        entry.result = LogEntry::Result::Good;
    } else {
        entry.result = LogEntry::Result::CheckCondition;
        entry.sense = {command.sense[2], command.sense[12], command.sense[13]};
    }
    entry.transferred = command.transferred;
}

void failTransport(LogEntry& entry, uint32_t error, std::string note)
{
    entry.result = LogEntry::Result::TransportFailed;
    entry.lastError = error;
    entry.note = std::move(note);
}

}  // namespace

BenchDevices::BenchDevices(std::string benchFolder, Clock& clock) : folder_(std::move(benchFolder)), clock_(clock)
{
    systemDisk_.serial = "KRVSYSTEMDISK0000001";
    systemDisk_.model = "KRV Bench System Disk";
    systemDisk_.firmware = "SYS00100";
    systemDisk_.sizeBytes = 256ULL << 30;
}

BenchDevices::~BenchDevices() { close(); }

std::string BenchDevices::portFolder(int port) const { return portStatePath(folder_, port); }

bool BenchDevices::initialise(const std::string& benchFolder, const BenchSettings& settings,
                              const std::vector<PortStart>& starts, std::string& error)
{
    for (size_t i = 0; i < settings.ports.size(); ++i) {
        int port = static_cast<int>(i + 1);
        PortState state = factoryState(port, settings.ports[i], i < starts.size() ? starts[i] : PortStart{});
        if (!savePortState(portStatePath(benchFolder, port), state, error))
            return false;
    }
    return true;
}

bool BenchDevices::load(const BenchSettings& settings, std::string& error)
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<Port> ports(settings.ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        int number = static_cast<int>(i + 1);
        PortState state;
        std::string folder = portStatePath(folder_, number);
        if (!loadPortState(folder, number, settings.ports[i], state, error)) {
            error = "port " + std::to_string(number) + ": " + error;
            return false;
        }
        ports[i].bridge = std::make_unique<Bridge>(number, settings.ports[i], std::move(state), folder);
        ports[i].present = settings.ports[i].present;
    }
    ports_ = std::move(ports);
    // The numbers the devices had stay theirs where they still can; a device
    // that has none (or one another took) gets the lowest free one.
    std::set<int> drives, cdroms;
    std::vector<Port*> unnumbered;
    for (Port& p : ports_) {
        PortState& s = p.bridge->state();
        int drive = s.physicalDrive, cdrom = s.cdrom;
        s.physicalDrive = s.cdrom = -1;
        if (!onBusLocked(p))
            continue;
        bool wantsCdrom = p.bridge->settings().cdrom && p.bridge->onUsb();
        if (drive >= 1 && !drives.count(drive) && (!wantsCdrom || (cdrom >= 0 && !cdroms.count(cdrom)))) {
            s.physicalDrive = drive;
            drives.insert(drive);
            if (wantsCdrom) {
                s.cdrom = cdrom;
                cdroms.insert(cdrom);
            }
        } else {
            unnumbered.push_back(&p);
        }
    }
    for (Port* p : unnumbered)
        assignNumbersLocked(*p, -1, -1);
    for (Port& p : ports_)
        saveStateLocked(p);
    return true;
}

bool BenchDevices::onBusLocked(const Port& p) const
{
    return p.present && !p.away && p.bridge->state().connection == Connection::OnBus;
}

BenchDevices::Port* BenchDevices::portLocked(int port)
{
    if (port < 1 || port > static_cast<int>(ports_.size()))
        return nullptr;
    return &ports_[static_cast<size_t>(port - 1)];
}

void BenchDevices::assignNumbersLocked(Port& p, int previousDrive, int previousCdrom)
{
    std::set<int> drives = {0}, cdroms;
    for (const Port& other : ports_) {
        if (&other == &p)
            continue;
        if (other.bridge->state().physicalDrive >= 0)
            drives.insert(other.bridge->state().physicalDrive);
        if (other.bridge->state().cdrom >= 0)
            cdroms.insert(other.bridge->state().cdrom);
    }
    // A device set to renumber never comes back under the number it left with.
    if (p.bridge->settings().renumber) {
        if (previousDrive >= 0)
            drives.insert(previousDrive);
        if (previousCdrom >= 0)
            cdroms.insert(previousCdrom);
    }
    PortState& s = p.bridge->state();
    s.physicalDrive = 1;
    while (drives.count(s.physicalDrive))
        ++s.physicalDrive;
    s.cdrom = -1;
    if (p.bridge->settings().cdrom && p.bridge->onUsb()) {
        s.cdrom = 0;
        while (cdroms.count(s.cdrom))
            ++s.cdrom;
    }
}

void BenchDevices::saveStateLocked(Port& p)
{
    std::string error;
    if (!saveStateFile(p.bridge->folder(), p.bridge->state(), error))
        p.log.event(clock_.monotonicMs(), "cannot save the device state: " + error);
}

void BenchDevices::advanceLocked(uint64_t nowMs)
{
    // Events fire in time order across the ports: a leave before a return
    // at the same moment, lower ports first.
    for (;;) {
        Port* next = nullptr;
        uint64_t when = 0;
        bool leaving = false;
        for (Port& p : ports_) {
            if (p.leaveAtMs && *p.leaveAtMs <= nowMs && (!next || *p.leaveAtMs < when || (*p.leaveAtMs == when && !leaving))) {
                next = &p;
                when = *p.leaveAtMs;
                leaving = true;
            }
            if (!p.leaveAtMs && p.returnAtMs && *p.returnAtMs <= nowMs && (!next || *p.returnAtMs < when)) {
                next = &p;
                when = *p.returnAtMs;
                leaving = false;
            }
        }
        if (!next)
            return;
        if (leaving)
            leaveLocked(*next, when);
        else
            returnLocked(*next, when);
    }
}

void BenchDevices::leaveLocked(Port& p, uint64_t atMs)
{
    p.leaveAtMs.reset();
    PortState& s = p.bridge->state();
    std::string numbers = s.physicalDrive >= 0 ? driveText(s.physicalDrive, s.cdrom) : "no drive";
    ++p.generation;
    if (p.resetting) {
        // The CPU restarts on what its EEPROMs hold.
        p.bridge->boot();
        p.away = true;
        p.log.event(atMs, "left the bus for a CPU reset (was " + numbers + "), running the stored images");
    } else {
        s.connection = Connection::Disconnected;
        p.returnAtMs.reset();
        p.log.event(atMs, "disconnected itself from the bus (was " + numbers + ")");
    }
    p.previousNumbers = {s.physicalDrive, s.cdrom};
    s.physicalDrive = s.cdrom = -1;
    saveStateLocked(p);
}

void BenchDevices::returnLocked(Port& p, uint64_t atMs)
{
    p.returnAtMs.reset();
    p.away = false;
    ++p.generation;
    assignNumbersLocked(p, p.previousNumbers.first, p.previousNumbers.second);
    const PortState& s = p.bridge->state();
    p.log.event(atMs, "came back on the bus as " + driveText(s.physicalDrive, s.cdrom));
    saveStateLocked(p);
}

void BenchDevices::dropLocked(Port& p, uint64_t atMs, const char* why)
{
    PortState& s = p.bridge->state();
    std::string numbers = s.physicalDrive >= 0 ? driveText(s.physicalDrive, s.cdrom) : "no drive";
    s.connection = Connection::Dropped;
    s.physicalDrive = s.cdrom = -1;
    p.away = false;
    p.leaveAtMs.reset();
    p.returnAtMs.reset();
    ++p.generation;
    p.log.event(atMs, std::string("dropped off the bus (") + why + "; was " + numbers +
                          "); it stays away until it is plugged in again");
    saveStateLocked(p);
}

std::optional<DeviceTarget> BenchDevices::open(DriveKind kind, int number)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!closed_) {
        advanceLocked(clock_.monotonicMs());
        if (kind == DriveKind::PhysicalDrive && number == 0)
            return DeviceTarget{0, Unit::Disk, 0};
        for (size_t i = 0; number >= 0 && i < ports_.size(); ++i) {
            Port& p = ports_[i];
            const PortState& s = p.bridge->state();
            int has = kind == DriveKind::PhysicalDrive ? s.physicalDrive : s.cdrom;
            if (onBusLocked(p) && has == number)
                return DeviceTarget{static_cast<int>(i + 1), kind == DriveKind::CdRom ? Unit::CdRom : Unit::Disk,
                                    p.generation};
        }
    }
    setLastError(winerr::kFileNotFound);
    return std::nullopt;
}

bool BenchDevices::execute(const DeviceTarget& target, ScsiCommand& command)
{
    if (!wellFormed(command)) {
        setLastError(transport::kInvalidParameter);
        return false;
    }
    command.scsiStatus = 0;
    command.senseLength = 0;
    command.transferred = 0;
    uint64_t timeoutMs = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (closed_) {
            setLastError(transport::kInvalidHandle);
            return false;
        }
        uint64_t now = clock_.monotonicMs();
        advanceLocked(now);
        if (target.port == 0) {
            answerPlainDisk(command, systemDisk_, true, "ATA");
            return true;
        }
        Port* p = portLocked(target.port);
        if (!p) {
            setLastError(winerr::kFileNotFound);
            return false;
        }
        LogEntry entry = entryFor(now, target, command);
        if (!onBusLocked(*p) || p->generation != target.generation) {
            failTransport(entry, transport::kDeviceNotConnected, "the device is not on the bus");
            recordLocked(*p, std::move(entry));
            setLastError(transport::kDeviceNotConnected);
            return false;
        }
        bool bringsDataIn = command.direction == DataDirection::In && command.dataLength > 0;
        std::optional<Fault> fault =
            p->bridge->state().faults.hit(command.cdb, command.cdbLength, bringsDataIn);
        if (fault && fault->kind == FaultKind::Fail) {
            failTransport(entry, transport::kIoDeviceError, "fault: fail");
            recordLocked(*p, std::move(entry));
            setLastError(transport::kIoDeviceError);
            return false;
        }
        if (fault && fault->kind == FaultKind::Drop) {
            failTransport(entry, transport::kDeviceNotConnected, "fault: drop");
            recordLocked(*p, std::move(entry));
            dropLocked(*p, now, "fault at a command");
            setLastError(transport::kDeviceNotConnected);
            return false;
        }
        if (fault && fault->kind == FaultKind::Check) {
            endWithCheckCondition(command, fault->sense);
            noteResult(entry, command);
            entry.note = "fault: check";
            recordLocked(*p, std::move(entry));
            return true;
        }
        if (fault && fault->kind == FaultKind::Timeout) {
            timeoutMs = uint64_t{command.timeoutSeconds} * 1000;
            failTransport(entry, transport::kSemaphoreTimeout,
                          "fault: timeout after " + std::to_string(command.timeoutSeconds) + " s");
            recordLocked(*p, std::move(entry));
        } else {
            std::string note;
            Bridge::Reaction reaction = p->bridge->answer(command, target.unit, now, note);
            if (fault && fault->kind == FaultKind::Corrupt && command.scsiStatus == scsi::kGood &&
                command.transferred > 0) {
                uint32_t at = fault->byteIndex % command.transferred;
                command.data[at] ^= 0xFF;
                note += (note.empty() ? "" : "; ") + std::string("fault: corrupt byte ") + std::to_string(at);
            }
            noteResult(entry, command);
            entry.note = std::move(note);
            recordLocked(*p, std::move(entry));
            if (reaction != Bridge::Reaction::None) {
                const PortSettings& settings = p->bridge->settings();
                p->resetting = reaction == Bridge::Reaction::CpuReset;
                p->leaveAtMs = now + settings.dropMs;
                if (p->resetting) {
                    p->returnAtMs = now + settings.relinkMs;
                    p->log.event(now, "CPU reset: leaves the bus in " + std::to_string(settings.dropMs) +
                                          " ms, comes back in " + std::to_string(settings.relinkMs) + " ms");
                } else {
                    p->returnAtMs.reset();
                    p->log.event(now, "disconnect: leaves the bus in " + std::to_string(settings.dropMs) + " ms");
                }
            }
            return true;
        }
    }
    // A command that times out holds its caller for its whole time-out, with
    // the bench free for everyone else meanwhile.
    clock_.sleepMs(timeoutMs);
    setLastError(transport::kSemaphoreTimeout);
    return false;
}

void BenchDevices::setPresent(int port, bool present, std::string& outcome)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    if (!p || closed_) {
        outcome = "no port " + std::to_string(port);
        return;
    }
    uint64_t now = clock_.monotonicMs();
    advanceLocked(now);
    std::string name = "port " + std::to_string(port);
    PortState& s = p->bridge->state();
    if (present) {
        if (onBusLocked(*p) || (p->present && p->away)) {
            outcome = name + " was already plugged";
            return;
        }
        bool again = p->present;
        p->present = true;
        p->leaveAtMs.reset();
        p->returnAtMs.reset();
        p->away = false;
        s.connection = Connection::OnBus;
        ++p->generation;
        p->bridge->boot();  // power comes on: the stored images run
        assignNumbersLocked(*p, -1, -1);
        p->log.event(now, std::string(again ? "plugged in again" : "plugged in") + " as " +
                              driveText(s.physicalDrive, s.cdrom));
        outcome = name + (again ? " plugged in again" : " plugged");
    } else {
        if (!p->present) {
            outcome = name + " was already unplugged";
            return;
        }
        p->present = false;
        p->leaveAtMs.reset();
        p->returnAtMs.reset();
        p->away = false;
        s.connection = Connection::OnBus;  // what it will be when plugged in again
        s.physicalDrive = s.cdrom = -1;
        ++p->generation;
        p->log.event(now, "unplugged");
        outcome = name + " unplugged";
    }
    saveStateLocked(*p);
}

bool BenchDevices::addFault(int port, const Fault& fault, std::string& outcome)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    if (!p || closed_) {
        outcome = "no port " + std::to_string(port);
        return false;
    }
    uint64_t now = clock_.monotonicMs();
    advanceLocked(now);
    std::string name = "port " + std::to_string(port);
    if (fault.immediate()) {
        if (!onBusLocked(*p) && !p->away) {
            outcome = name + " has no device on the bus to drop";
            return false;
        }
        dropLocked(*p, now, "fault set");
        outcome = name + " dropped off the bus";
        return true;
    }
    p->bridge->state().faults.add(fault);
    std::string error;
    if (!saveFaults(p->bridge->folder(), p->bridge->state(), error)) {
        outcome = name + ": " + error;
        return false;
    }
    p->log.event(now, "fault set: " + describeFault(fault));
    outcome = name + ": fault set: " + describeFault(fault);
    return true;
}

void BenchDevices::clearFaults(int port, std::string& outcome)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    if (!p || closed_) {
        outcome = "no port " + std::to_string(port);
        return;
    }
    p->bridge->state().faults.clear();
    std::string error;
    saveFaults(p->bridge->folder(), p->bridge->state(), error);
    p->log.event(clock_.monotonicMs(), "faults cleared");
    outcome = "port " + std::to_string(port) + ": faults cleared";
}

void BenchDevices::recordLocked(Port& p, LogEntry entry)
{
    p.log.add(std::move(entry));
    std::string error;
    if (p.log.wantsSpill() && flushLogLocked(p, error))
        p.log.forgetFlushed();
}

bool BenchDevices::flushLogLocked(Port& p, std::string& error)
{
    return p.log.flush(commandLogPath(p.bridge->folder()), error);
}

bool BenchDevices::flushLog(int port, std::string& error)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    if (!p) {
        error = "no port " + std::to_string(port);
        return false;
    }
    if (!closed_)
        advanceLocked(clock_.monotonicMs());
    return flushLogLocked(*p, error);
}

void BenchDevices::close()
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (closed_)
        return;
    uint64_t now = clock_.monotonicMs();
    advanceLocked(now);
    for (Port& p : ports_) {
        // A device on its way back from a reset gets there while nobody looks.
        if (p.leaveAtMs)
            leaveLocked(p, now);
        if (p.returnAtMs)
            returnLocked(p, now);
        std::string error;
        if (!saveStateFile(p.bridge->folder(), p.bridge->state(), error) ||
            !saveFaults(p.bridge->folder(), p.bridge->state(), error) || !flushLogLocked(p, error))
            std::fprintf(stderr, "bench: port %d: %s\n", p.bridge->port(), error.c_str());
    }
    closed_ = true;
}

std::optional<int> BenchDevices::physicalDrive(int port)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    if (!p)
        return std::nullopt;
    if (!closed_)
        advanceLocked(clock_.monotonicMs());
    int drive = p->bridge->state().physicalDrive;
    return drive >= 0 ? std::optional<int>(drive) : std::nullopt;
}

std::optional<int> BenchDevices::cdrom(int port)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    if (!p)
        return std::nullopt;
    if (!closed_)
        advanceLocked(clock_.monotonicMs());
    int cdrom = p->bridge->state().cdrom;
    return cdrom >= 0 ? std::optional<int>(cdrom) : std::nullopt;
}

bool BenchDevices::onBus(int port)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    if (!p)
        return false;
    if (!closed_)
        advanceLocked(clock_.monotonicMs());
    return onBusLocked(*p);
}

std::vector<LogEntry> BenchDevices::log(int port)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    if (!p)
        return {};
    if (!closed_)
        advanceLocked(clock_.monotonicMs());
    return p->log.entries();
}

PortState BenchDevices::state(int port)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    if (!p)
        return {};
    if (!closed_)
        advanceLocked(clock_.monotonicMs());
    return p->bridge->state();
}

uint8_t BenchDevices::registerValue(int port, uint32_t address)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    return p ? p->bridge->registerValue(address) : 0;
}

}  // namespace krv::bench
