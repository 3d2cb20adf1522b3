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
    entry.timeoutSeconds = command.timeoutSeconds;
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

BenchDevices::BenchDevices(std::string benchFolder, Clock& clock)
    : folder_(std::move(benchFolder)), clock_(clock), disks_(std::make_unique<BenchDisks>(folder_))
{
    systemDisk_.serial = "KRVSYSTEMDISK0000001";
    systemDisk_.model = "KRV Bench System Disk";
    systemDisk_.firmware = "SYS00100";
    systemDisk_.sizeBytes = kDefaultSystemDiskSize;
    usbDisk_.identity.serial = plainUsbDiskIdentity().serial;
    usbDisk_.identity.model = "USB Flash Disk";
    usbDisk_.identity.firmware = "1.00";
}

BenchDevices::~BenchDevices() { close(); }

std::string BenchDevices::portFolder(int port) const { return portStatePath(folder_, port); }

bool BenchDevices::initialise(const std::string& benchFolder, const BenchSettings& settings,
                              const std::vector<PortStart>& starts, std::string& error,
                              const std::map<int, DiskLayoutPlan>& layouts)
{
    std::map<int, DiskLayoutPlan> disks = layouts;
    for (size_t i = 0; i < settings.ports.size(); ++i) {
        int port = static_cast<int>(i + 1);
        PortState state = factoryState(port, settings.ports[i], i < starts.size() ? starts[i] : PortStart{});
        if (!savePortState(portStatePath(benchFolder, port), state, error))
            return false;
        if (i < starts.size() && starts[i].disk)
            disks[port] = *starts[i].disk;
    }
    return BenchDisks::initialise(benchFolder, settings, disks, error);
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
        ports[i].line = LinkLine(portLineMbps(settings.ports[i]));
        if (!ports[i].bridge->loadPd(error)) {
            error = "port " + std::to_string(number) + ": " + error;
            return false;
        }
        ports[i].present = settings.ports[i].present;
    }
    ports_ = std::move(ports);
    firstDrive_ = 1 + settings.otherDisks;
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
        if (drive >= firstDrive_ && !drives.count(drive) && (!wantsCdrom || (cdrom >= 0 && !cdroms.count(cdrom)))) {
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
    systemDisk_.sizeBytes = settings.systemDiskSize;
    usbDisk_.exists = settings.usbDisk.has_value();
    usbDisk_.present = usbDisk_.exists && settings.usbDisk->present;
    if (usbDisk_.exists)
        usbDisk_.identity.sizeBytes = settings.usbDisk->diskSize;
    if (usbDisk_.present)
        usbDisk_.physicalDrive = lowestFreeDriveLocked(kUsbDisk);
    // The disks that are there when the bench opens were there before
    // anyone listened: their volumes arrive without notices.
    if (!disks_->open(settings, error))
        return false;
    disks_->arrived(kSystemDisk, 0);
    for (size_t i = 0; i < ports_.size(); ++i)
        if (onBusLocked(ports_[i]) && ports_[i].bridge->state().physicalDrive >= 0)
            disks_->arrived(static_cast<int>(i + 1), ports_[i].bridge->state().physicalDrive);
    if (usbDisk_.present)
        disks_->arrived(kUsbDisk, usbDisk_.physicalDrive);
    return true;
}

int BenchDevices::lowestFreeDriveLocked(int except) const
{
    std::set<int> drives = {0};
    for (size_t i = 0; i < ports_.size(); ++i)
        if (static_cast<int>(i + 1) != except && ports_[i].bridge->state().physicalDrive >= 0)
            drives.insert(ports_[i].bridge->state().physicalDrive);
    if (except != kUsbDisk && usbDisk_.physicalDrive >= 0)
        drives.insert(usbDisk_.physicalDrive);
    int n = firstDrive_;
    while (drives.count(n))
        ++n;
    return n;
}

bool BenchDevices::onBusLocked(const Port& p) const
{
    // A device its port fails with never reaches the host.
    return p.present && !p.away && p.bridge->state().connection == Connection::OnBus &&
           p.bridge->settings().usbStatus == UsbPortStatus::Connected;
}

int BenchDevices::portOfDriveLocked(int number) const
{
    if (number < 0)
        return 0;
    for (size_t i = 0; i < ports_.size(); ++i)
        if (onBusLocked(ports_[i]) && ports_[i].bridge->state().physicalDrive == number)
            return static_cast<int>(i + 1);
    // A name no device holds now may still lead to the device that left it.
    for (size_t i = 0; i < ports_.size(); ++i)
        if (onBusLocked(ports_[i]) && ports_[i].staleDrive == number)
            return static_cast<int>(i + 1);
    return 0;
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
    if (usbDisk_.physicalDrive >= 0)
        drives.insert(usbDisk_.physicalDrive);
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
    s.physicalDrive = firstDrive_;
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
    if (!saveStateFile(p.bridge->folder(), p.bridge->state(), error) || !p.bridge->savePd(error))
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
    DeviceView before = viewLocked(p.bridge->port());
    p.leaveAtMs.reset();
    PortState& s = p.bridge->state();
    std::string numbers = s.physicalDrive >= 0 ? driveText(s.physicalDrive, s.cdrom) : "no drive";
    ++p.generation;
    if (p.resetting && p.staysAway) {
        // The reset was taken, but the device never gets back on the bus.
        p.staysAway = false;
        s.connection = Connection::Dropped;
        p.returnAtMs.reset();
        p.log.event(atMs, "left the bus for a CPU reset (was " + numbers +
                              ") and does not come back; it stays away until it is plugged in again");
    } else if (p.resetting) {
        // The CPU restarts on what its EEPROMs hold; after a power cut the
        // PD controller and the MCU restart as well.
        if (p.powerCycling)
            p.bridge->powerUp();
        else
            p.bridge->boot();
        p.powerCycling = false;
        p.away = true;
        p.log.event(atMs, "left the bus for a CPU reset (was " + numbers + "), running the stored images");
    } else {
        s.connection = Connection::Disconnected;
        p.returnAtMs.reset();
        p.log.event(atMs, "disconnected itself from the bus (was " + numbers + ")");
    }
    p.previousNumbers = {s.physicalDrive, s.cdrom};
    p.staleDrive = -1;
    s.physicalDrive = s.cdrom = -1;
    saveStateLocked(p);
    leftLocked(before, atMs);
}

void BenchDevices::returnLocked(Port& p, uint64_t atMs)
{
    p.returnAtMs.reset();
    p.away = false;
    ++p.generation;
    assignNumbersLocked(p, p.previousNumbers.first, p.previousNumbers.second);
    const PortState& s = p.bridge->state();
    std::string stale;
    if (p.bridge->settings().staleName && p.previousNumbers.first >= 0) {
        p.staleDrive = p.previousNumbers.first;
        stale = " (PhysicalDrive" + std::to_string(p.staleDrive) + " still leads to it)";
    }
    p.log.event(atMs, "came back on the bus as " + driveText(s.physicalDrive, s.cdrom) + stale);
    saveStateLocked(p);
    arrivedLocked(p.bridge->port(), atMs);
}

void BenchDevices::dropLocked(Port& p, uint64_t atMs, const char* why)
{
    bool wasOn = onBusLocked(p);
    DeviceView before = viewLocked(p.bridge->port());
    PortState& s = p.bridge->state();
    std::string numbers = s.physicalDrive >= 0 ? driveText(s.physicalDrive, s.cdrom) : "no drive";
    s.connection = Connection::Dropped;
    s.physicalDrive = s.cdrom = -1;
    p.staleDrive = -1;
    p.away = false;
    p.leaveAtMs.reset();
    p.returnAtMs.reset();
    ++p.generation;
    p.log.event(atMs, std::string("dropped off the bus (") + why + "; was " + numbers +
                          "); it stays away until it is plugged in again");
    saveStateLocked(p);
    if (wasOn)
        leftLocked(before, atMs);
}

std::optional<DeviceTarget> BenchDevices::open(DriveKind kind, int number)
{
    Delivery delivery(*this);
    std::lock_guard<std::mutex> guard(mutex_);
    if (!closed_) {
        advanceLocked(clock_.monotonicMs());
        if (kind == DriveKind::PhysicalDrive && number == 0)
            return DeviceTarget{kSystemDisk, Unit::Disk, 0};
        if (kind == DriveKind::PhysicalDrive && usbDisk_.present && number == usbDisk_.physicalDrive)
            return DeviceTarget{kUsbDisk, Unit::Disk, usbDisk_.generation};
        for (size_t i = 0; kind == DriveKind::CdRom && number >= 0 && i < ports_.size(); ++i) {
            Port& p = ports_[i];
            if (onBusLocked(p) && p.bridge->state().cdrom == number)
                return DeviceTarget{static_cast<int>(i + 1), Unit::CdRom, p.generation};
        }
        if (int port = kind == DriveKind::PhysicalDrive ? portOfDriveLocked(number) : 0)
            return DeviceTarget{port, Unit::Disk, ports_[static_cast<size_t>(port - 1)].generation};
    }
    setLastError(winerr::kFileNotFound);
    return std::nullopt;
}

uint64_t BenchDevices::commandLatencyMs(int port)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = port >= 1 && port <= kMaxPorts ? portLocked(port) : nullptr;
    return p ? p->bridge->settings().commandMs : 0;
}

bool BenchDevices::execute(const DeviceTarget& target, ScsiCommand& command)
{
    Delivery delivery(*this);
    if (!wellFormed(command)) {
        setLastError(transport::kInvalidParameter);
        return false;
    }
    // A slow device holds its caller for as long as it takes, with the bench
    // free for everyone else meanwhile; the host gives up on one slower than
    // the command's time-out.
    if (const uint64_t latencyMs = commandLatencyMs(target.port)) {
        const uint64_t timeoutMs = uint64_t{command.timeoutSeconds} * 1000;
        if (latencyMs >= timeoutMs) {
            clock_.sleepMs(timeoutMs);
            setLastError(transport::kSemaphoreTimeout);
            return false;
        }
        clock_.sleepMs(latencyMs);
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
        if (target.port == kSystemDisk) {
            answerPlainDisk(command, systemDisk_, true, "ATA");
            return true;
        }
        if (target.port == kUsbDisk) {
            if (!usbDisk_.present || usbDisk_.generation != target.generation) {
                setLastError(transport::kDeviceNotConnected);
                return false;
            }
            answerPlainDisk(command, usbDisk_.identity, false, "BENCH");
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
        // A host adapter with a smaller limit than the device refuses the
        // request before anything reaches the bus.
        const uint32_t maxTransfer = p->bridge->settings().maxTransfer;
        if (maxTransfer != 0 && command.dataLength > maxTransfer) {
            failTransport(entry, transport::kInvalidParameter,
                          "the host adapter moves at most " + std::to_string(maxTransfer) + " bytes");
            recordLocked(*p, std::move(entry));
            setLastError(transport::kInvalidParameter);
            return false;
        }
        bool bringsDataIn = command.direction == DataDirection::In && command.dataLength > 0;
        bool sendsDataOut = command.direction == DataDirection::Out && command.dataLength > 0;
        std::optional<Fault> fault =
            p->bridge->state().faults.hit(command.cdb, command.cdbLength, bringsDataIn, sendsDataOut);
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
            // The EEPROM programs one byte wrong; the bridge knows nothing of
            // it and answers the write good. The host's buffer stays as sent.
            const bool corruptStore = fault && fault->kind == FaultKind::CorruptStore;
            const uint32_t storeAt = corruptStore ? fault->byteIndex % command.dataLength : 0;
            if (corruptStore)
                command.data[storeAt] ^= 0xFF;
            Bridge::Reaction reaction = p->bridge->answer(command, target.unit, now, note);
            if (corruptStore) {
                command.data[storeAt] ^= 0xFF;
                note += (note.empty() ? "" : "; ") + std::string("fault: stored byte ") + std::to_string(storeAt) +
                        " inverted";
            }
            if (fault && fault->kind == FaultKind::Corrupt && command.scsiStatus == scsi::kGood &&
                command.transferred > 0) {
                uint32_t at = fault->byteIndex % command.transferred;
                command.data[at] ^= 0xFF;
                note += (note.empty() ? "" : "; ") + std::string("fault: corrupt byte ") + std::to_string(at);
            }
            noteResult(entry, command);
            entry.note = std::move(note);
            recordLocked(*p, std::move(entry));
            reactLocked(*p, reaction, fault, now);
            return true;
        }
    }
    // A command that times out holds its caller for its whole time-out, with
    // the bench free for everyone else meanwhile.
    clock_.sleepMs(timeoutMs);
    setLastError(transport::kSemaphoreTimeout);
    return false;
}

void BenchDevices::reactLocked(Port& p, Bridge::Reaction reaction, const std::optional<Fault>& fault, uint64_t now)
{
    if (reaction == Bridge::Reaction::None)
        return;
    const PortSettings& settings = p.bridge->settings();
    p.resetting = reaction == Bridge::Reaction::CpuReset;
    p.staysAway = p.resetting && fault && fault->kind == FaultKind::NoReturn;
    p.leaveAtMs = now + settings.dropMs;
    if (p.staysAway) {
        p.returnAtMs.reset();
        p.log.event(now, "CPU reset: leaves the bus in " + std::to_string(settings.dropMs) +
                             " ms and does not come back (fault: no-return)");
    } else if (p.resetting) {
        p.returnAtMs = now + settings.relinkMs;
        p.log.event(now, "CPU reset: leaves the bus in " + std::to_string(settings.dropMs) + " ms, comes back in " +
                             std::to_string(settings.relinkMs) + " ms");
    } else {
        p.returnAtMs.reset();
        p.log.event(now, "disconnect: leaves the bus in " + std::to_string(settings.dropMs) + " ms");
    }
}

bool BenchDevices::powerCycle(int port, std::string& outcome)
{
    Delivery delivery(*this);
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    std::string name = "port " + std::to_string(port);
    if (!p || closed_) {
        outcome = "no port " + std::to_string(port);
        return false;
    }
    uint64_t now = clock_.monotonicMs();
    advanceLocked(now);
    if (!onBusLocked(*p) || p->leaveAtMs || p->returnAtMs) {
        outcome = name + " is not on the bus";
        return false;
    }
    p->resetting = true;
    p->staysAway = false;
    p->powerCycling = true;
    p->leaveAtMs = now;
    p->returnAtMs = now + p->bridge->settings().relinkMs;
    p->log.event(now, "power cycle: leaves the bus now, comes back in " +
                          std::to_string(p->bridge->settings().relinkMs) + " ms");
    advanceLocked(now);
    outcome = name + " power-cycled";
    return true;
}

void BenchDevices::setPresent(int port, bool present, std::string& outcome)
{
    Delivery delivery(*this);
    std::lock_guard<std::mutex> guard(mutex_);
    if (port == kUsbDisk && usbDisk_.exists && !closed_) {
        setUsbDiskPresentLocked(present, outcome);
        return;
    }
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
        if (p->present && s.connection == Connection::OnBus) {
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
        p->bridge->powerUp();  // power comes on: the stored images run
        if (!onBusLocked(*p)) {
            // Its port fails with it: the host never gets a drive of it.
            p->log.event(now, std::string(again ? "plugged in again" : "plugged in") + ", its port reports " +
                                  std::string(usbPortStatusName(p->bridge->settings().usbStatus)));
            outcome = name + (again ? " plugged in again" : " plugged");
            saveStateLocked(*p);
            return;
        }
        assignNumbersLocked(*p, -1, -1);
        p->log.event(now, std::string(again ? "plugged in again" : "plugged in") + " as " +
                              driveText(s.physicalDrive, s.cdrom));
        outcome = name + (again ? " plugged in again" : " plugged");
        arrivedLocked(port, now);
    } else {
        if (!p->present) {
            outcome = name + " was already unplugged";
            return;
        }
        bool wasOn = onBusLocked(*p);
        DeviceView before = viewLocked(port);
        p->present = false;
        p->leaveAtMs.reset();
        p->returnAtMs.reset();
        p->away = false;
        s.connection = Connection::OnBus;  // what it will be when plugged in again
        s.physicalDrive = s.cdrom = -1;
        p->staleDrive = -1;
        ++p->generation;
        p->log.event(now, "unplugged");
        outcome = name + " unplugged";
        if (wasOn)
            leftLocked(before, now);
    }
    saveStateLocked(*p);
}

void BenchDevices::setUsbDiskPresentLocked(bool present, std::string& outcome)
{
    uint64_t now = clock_.monotonicMs();
    advanceLocked(now);
    if (usbDisk_.present == present) {
        outcome = std::string("the USB disk was already ") + (present ? "plugged" : "unplugged");
        return;
    }
    if (present) {
        usbDisk_.present = true;
        ++usbDisk_.generation;
        usbDisk_.physicalDrive = lowestFreeDriveLocked(kUsbDisk);
        arrivedLocked(kUsbDisk, now);
        outcome = "the USB disk plugged as PhysicalDrive" + std::to_string(usbDisk_.physicalDrive);
    } else {
        DeviceView before = viewLocked(kUsbDisk);
        usbDisk_.present = false;
        ++usbDisk_.generation;
        usbDisk_.physicalDrive = -1;
        leftLocked(before, now);
        outcome = "the USB disk unplugged";
    }
}

bool BenchDevices::addFault(int port, const Fault& fault, std::string& outcome)
{
    Delivery delivery(*this);
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
    Delivery delivery(*this);
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
    Delivery delivery(*this);
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
        if (!saveStateFile(p.bridge->folder(), p.bridge->state(), error) || !p.bridge->savePd(error) ||
            !saveFaults(p.bridge->folder(), p.bridge->state(), error) || !flushLogLocked(p, error))
            std::fprintf(stderr, "bench: port %d: %s\n", p.bridge->port(), error.c_str());
    }
    closed_ = true;
}

std::optional<int> BenchDevices::physicalDrive(int port)
{
    Delivery delivery(*this);
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
    Delivery delivery(*this);
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
    Delivery delivery(*this);
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
    Delivery delivery(*this);
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
    Delivery delivery(*this);
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

DeviceView BenchDevices::viewLocked(int device)
{
    DeviceView v;
    v.device = device;
    if (device == kSystemDisk) {
        v.connected = v.plugged = true;
        v.physicalDrive = 0;
        v.attachment = Attachment::Sata;
        v.disk = systemDisk_;
        v.inquiry = {"ATA", systemDisk_.model.substr(0, 16), systemDisk_.firmware.substr(0, 4)};
        return v;
    }
    if (device == kUsbDisk) {
        v.connected = v.plugged = usbDisk_.present;
        v.generation = usbDisk_.generation;
        v.physicalDrive = usbDisk_.physicalDrive;
        v.attachment = Attachment::Usb;
        v.usb = plainUsbDiskIdentity();
        v.disk = usbDisk_.identity;
        v.inquiry = {"BENCH", usbDisk_.identity.model.substr(0, 16), usbDisk_.identity.firmware.substr(0, 4)};
        return v;
    }
    Port* p = portLocked(device);
    if (!p)
        return v;
    const Bridge& bridge = *p->bridge;
    const PortState& s = bridge.state();
    v.connected = onBusLocked(*p);
    v.plugged = p->present && !p->away && s.connection == Connection::OnBus;
    v.usbStatus = bridge.settings().usbStatus;
    v.generation = p->generation;
    v.physicalDrive = s.physicalDrive;
    v.cdrom = s.cdrom;
    v.disk = s.disk;
    v.chip = std::string(bridge.chip().name);
    v.revision = static_cast<uint8_t>(bridge.settings().revision);
    ChipIdentity id = identityOf(bridge.chip(), bridge.link());
    if (bridge.onUsb()) {
        v.attachment = Attachment::Usb;
        v.usb = usbIdentityLocked(*p);
        v.inquiry = bridge.inquiryTexts();
        v.serialTaken = serialTakenLocked(*p, v.usb);
        v.unitSerial = bridge.unitSerialNumber();
        v.storageDriver = bridge.settings().storageDriver;
        v.storageSerial = bridge.settings().storageSerial;
        v.busType = bridge.settings().busType;
    } else {
        v.attachment = Attachment::Pcie;
        v.pcieDeviceId = id.pcieDeviceId.value_or(bridge.chip().pcieDeviceId);
        v.inquiry = {"NVMe", s.disk.model.substr(0, 16), s.disk.firmware.substr(0, 4)};
    }
    return v;
}

const UsbIdentity& BenchDevices::usbIdentityLocked(const Port& p) const
{
    const Bridge& bridge = *p.bridge;
    const Bytes& config = bridge.runningUsb3Config();
    if (!p.usbKnown || p.usbFromConfig != config || p.usbFromDiskSerial != bridge.state().disk.serial) {
        p.usb = bridgeUsbIdentity(bridge);
        p.usbFromConfig = config;
        p.usbFromDiskSerial = bridge.state().disk.serial;
        p.usbKnown = true;
    }
    return p.usb;
}

bool BenchDevices::serialTakenLocked(const Port& p, const UsbIdentity& usb) const
{
    // Factory-fresh bridges share one serial number. The host keeps it for
    // the device on the lowest port and names the others by their place.
    if (usb.serial.empty())
        return false;
    for (const Port& other : ports_) {
        if (&other == &p)
            return false;
        if (!onBusLocked(other) || !other.bridge->onUsb())
            continue;
        const UsbIdentity& o = usbIdentityLocked(other);
        if (o.serial == usb.serial && o.descriptor.idVendor == usb.descriptor.idVendor &&
            o.descriptor.idProduct == usb.descriptor.idProduct)
            return true;
    }
    return false;
}

void BenchDevices::arrivedLocked(int device, uint64_t atMs)
{
    DeviceView now = viewLocked(device);
    if (now.physicalDrive >= 0)
        disks_->arrived(device, now.physicalDrive);
    changes_.push_back(PresenceChange{std::move(now), true, atMs});
}

void BenchDevices::leftLocked(const DeviceView& before, uint64_t atMs)
{
    disks_->left(before.device);
    changes_.push_back(PresenceChange{before, false, atMs});
}

namespace {
// Set while a thread hands changes to the listener, so that a listener that
// looks at the devices after all does not deadlock on the delivery (what it
// notices then goes out with the next delivery).
thread_local bool t_delivering = false;
}  // namespace

void BenchDevices::deliverChanges()
{
    if (t_delivering)
        return;
    std::lock_guard<std::mutex> order(deliveryMutex_);
    std::vector<PresenceChange> batch;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        batch.swap(changes_);
    }
    if (batch.empty() || !listener_)
        return;
    t_delivering = true;
    listener_(batch);
    t_delivering = false;
}

void BenchDevices::setChangeListener(std::function<void(const std::vector<PresenceChange>&)> listener)
{
    std::lock_guard<std::mutex> order(deliveryMutex_);
    listener_ = std::move(listener);
}

std::vector<DeviceView> BenchDevices::views()
{
    Delivery delivery(*this);
    std::lock_guard<std::mutex> guard(mutex_);
    if (!closed_)
        advanceLocked(clock_.monotonicMs());
    std::vector<DeviceView> list;
    list.push_back(viewLocked(kSystemDisk));
    for (size_t i = 0; i < ports_.size(); ++i)
        list.push_back(viewLocked(static_cast<int>(i + 1)));
    if (usbDisk_.exists)
        list.push_back(viewLocked(kUsbDisk));
    if (closed_)
        for (auto& v : list)
            v.connected = false;
    return list;
}

std::optional<DeviceView> BenchDevices::view(int device)
{
    Delivery delivery(*this);
    std::lock_guard<std::mutex> guard(mutex_);
    if (!closed_)
        advanceLocked(clock_.monotonicMs());
    if (device != kSystemDisk && !(device == kUsbDisk && usbDisk_.exists) && !portLocked(device))
        return std::nullopt;
    return viewLocked(device);
}

void BenchDevices::poll()
{
    Delivery delivery(*this);
    std::lock_guard<std::mutex> guard(mutex_);
    if (!closed_)
        advanceLocked(clock_.monotonicMs());
}

std::optional<BenchDevices::DiskTarget> BenchDevices::openDisk(int number)
{
    Delivery delivery(*this);
    std::lock_guard<std::mutex> guard(mutex_);
    if (!closed_ && number >= 0) {
        advanceLocked(clock_.monotonicMs());
        if (number == 0)
            return DiskTarget{kSystemDisk, 0};
        if (usbDisk_.present && usbDisk_.physicalDrive == number)
            return DiskTarget{kUsbDisk, usbDisk_.generation};
        if (int port = portOfDriveLocked(number))
            return DiskTarget{port, ports_[static_cast<size_t>(port - 1)].generation};
    }
    setLastError(winerr::kFileNotFound);
    return std::nullopt;
}

bool BenchDevices::diskPresent(const DiskTarget& target)
{
    Delivery delivery(*this);
    std::lock_guard<std::mutex> guard(mutex_);
    if (closed_)
        return false;
    advanceLocked(clock_.monotonicMs());
    if (target.device == kSystemDisk)
        return true;
    if (target.device == kUsbDisk)
        return usbDisk_.present && usbDisk_.generation == target.generation;
    Port* p = portLocked(target.device);
    return p && onBusLocked(*p) && p->generation == target.generation;
}

namespace {

constexpr uint32_t kSectorNotFound = 27;     // ERROR_SECTOR_NOT_FOUND
constexpr uint64_t kDiskTimeoutMs = 60'000;  // the disk class driver's time-out

// The command the storage stack sends for a transfer: READ(16) or WRITE(16).
std::vector<uint8_t> transferCdb(bool write, uint64_t offset, size_t length, uint32_t sectorSize)
{
    std::vector<uint8_t> cdb(16, 0);
    cdb[0] = write ? 0x8A : 0x88;
    uint64_t lba = offset / sectorSize;
    uint32_t blocks = static_cast<uint32_t>(length / sectorSize);
    for (int i = 0; i < 8; ++i)
        cdb[2 + i] = static_cast<uint8_t>(lba >> (56 - 8 * i));
    for (int i = 0; i < 4; ++i)
        cdb[10 + i] = static_cast<uint8_t>(blocks >> (24 - 8 * i));
    return cdb;
}

}  // namespace

bool BenchDevices::diskTransfer(const DiskTarget& target, uint64_t offset, void* buffer, size_t length, bool write)
{
    return transfer(target, offset, buffer, length, write, false);
}

BenchDevices::DiskTarget BenchDevices::fileTarget(int port)
{
    DiskTarget target{port, 0};
    std::lock_guard<std::mutex> guard(mutex_);
    if (Port* p = port >= 1 && port <= kMaxPorts ? portLocked(port) : nullptr)
        target.generation = p->generation;
    return target;
}

bool BenchDevices::fileRead(int port, uint8_t* data, size_t length)
{
    return transfer(fileTarget(port), 0, data, length, false, true);
}

bool BenchDevices::fileWrite(int port, const uint8_t* data, size_t length, std::vector<uint8_t>& stored)
{
    stored.clear();
    // File data moves no sectors and, given `stored`, the transfer only
    // reads the caller's bytes.
    return transfer(fileTarget(port), 0, const_cast<uint8_t*>(data), length, true, true, &stored);
}

bool BenchDevices::transfer(const DiskTarget& target, uint64_t offset, void* buffer, size_t length, bool write,
                            bool fileData, std::vector<uint8_t>* stored)
{
    Delivery delivery(*this);
    if (const uint64_t latencyMs = commandLatencyMs(target.device)) {
        if (latencyMs >= kDiskTimeoutMs) {
            clock_.sleepMs(kDiskTimeoutMs);
            setLastError(transport::kSemaphoreTimeout);
            return false;
        }
        clock_.sleepMs(latencyMs);
    }
    const DiskImage* image = nullptr;
    std::optional<Fault> fault;
    uint64_t crossedAtUs = 0;   // when the data has crossed the port's line
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (closed_) {
            setLastError(transport::kInvalidHandle);
            return false;
        }
        uint64_t now = clock_.monotonicMs();
        advanceLocked(now);
        Port* p = target.device >= 1 && target.device <= kMaxPorts ? portLocked(target.device) : nullptr;
        bool there = target.device == kSystemDisk ||
                     (target.device == kUsbDisk && usbDisk_.present && usbDisk_.generation == target.generation) ||
                     (p && onBusLocked(*p) && p->generation == target.generation);
        image = disks_->image(target.device);
        std::vector<uint8_t> cdb = transferCdb(write, offset, length, disks_->sectorSize(target.device));
        LogEntry entry;
        entry.ms = now;
        entry.cdb = cdb;
        entry.direction = write ? DataDirection::Out : DataDirection::In;
        entry.dataLength = static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX));
        // What the log says of the entry, marked when it carries file data.
        auto noted = [&](std::string why) { return fileData ? why + (why.empty() ? "" : ", ") + "file data" : why; };
        entry.note = noted("");
        auto refuse = [&](uint32_t error, const char* why) {
            if (p) {
                failTransport(entry, error, noted(why));
                recordLocked(*p, std::move(entry));
            }
            setLastError(error);
            return false;
        };
        if (!there || !image)
            return refuse(transport::kDeviceNotConnected, "the device is not on the bus");
        if (!fileData && (offset > image->size() || length > image->size() - offset))
            return refuse(kSectorNotFound, "past the end of the disk");
        if (write && target.device == kSystemDisk)
            return refuse(winerr::kAccessDenied, "the system disk is not written");
        if (p) {
            fault = p->bridge->state().faults.hit(
                cdb.data(), cdb.size(), !write && length > 0, write && length > 0,
                fileData ? std::nullopt : std::make_optional(std::make_pair(offset, uint64_t{length})), fileData);
            if (fault && (fault->kind == FaultKind::Fail || fault->kind == FaultKind::Check))
                return refuse(transport::kIoDeviceError, "fault: the transfer fails");
            if (fault && fault->kind == FaultKind::Drop) {
                refuse(transport::kDeviceNotConnected, "fault: drop");
                dropLocked(*p, now, "fault at a transfer");
                setLastError(transport::kDeviceNotConnected);
                return false;
            }
            if (fault && fault->kind == FaultKind::Timeout) {
                failTransport(entry, transport::kSemaphoreTimeout, noted("fault: timeout"));
                recordLocked(*p, std::move(entry));
            } else {
                entry.result = LogEntry::Result::Good;
                entry.transferred = entry.dataLength;
                crossedAtUs = p->line.carry(nowUs(), length);
                if (fault && (fault->kind == FaultKind::Corrupt || fault->kind == FaultKind::CorruptStore))
                    entry.note = noted("fault: " + std::string(faultKindName(fault->kind)) + " byte " +
                                       std::to_string(fault->byteIndex % length));
                recordLocked(*p, std::move(entry));
            }
        }
    }
    if (fault && fault->kind == FaultKind::Timeout) {
        clock_.sleepMs(kDiskTimeoutMs);
        setLastError(transport::kSemaphoreTimeout);
        return false;
    }
    // The sectors move outside the lock, so the ports' transfers overlap.
    // File data is in the volume's folder: the caller moves it.
    bool moved = fileData || (write ? image->write(offset, buffer, length) : image->read(offset, buffer, length));
    if (!moved) {
        setLastError(transport::kIoDeviceError);
        return false;
    }
    const bool corrupts = fault && length > 0 &&
                          ((fault->kind == FaultKind::Corrupt && !write) || (fault->kind == FaultKind::CorruptStore && write));
    if (corrupts) {
        uint8_t* bytes = static_cast<uint8_t*>(buffer);
        if (stored && write) {
            stored->assign(bytes, bytes + length);
            bytes = stored->data();
        }
        bytes[fault->byteIndex % length] ^= 0xFF;
    }
    // The bytes moved meanwhile: the caller waits only for what the line
    // takes beyond that.
    if (const uint64_t now = nowUs(); crossedAtUs > now)
        clock_.sleepUs(crossedAtUs - now);
    return true;
}

uint64_t BenchDevices::nowUs()
{
    const uint64_t frequency = clock_.tickFrequency();
    const uint64_t ticks = clock_.ticks();
    if (frequency >= 1'000'000)
        return ticks / (frequency / 1'000'000);
    return frequency ? static_cast<uint64_t>(static_cast<double>(ticks) * 1e6 / static_cast<double>(frequency))
                     : clock_.monotonicMs() * 1000;
}

}  // namespace krv::bench
