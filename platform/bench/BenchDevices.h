#pragma once
// The devices of a bench as the host sees them: the system disk as
// PhysicalDrive0 and, for every port that is plugged in and on the bus, its
// bridge under a physical-drive number (and a CD-ROM number when the port is
// set so). Commands reach a device through the numbers, as through the
// operating system's pass-through; faults set on a port hit its commands
// first, and every command and event goes into the port's log.
//
// Time comes from the bench's clock and is judged lazily: a reset schedules
// the bridge's leaving and coming back, and whatever is due has happened by
// the time anyone looks (a command, an open, a query, a poll). Nothing here
// writes a file for a read; EEPROM files are written when a write completes,
// the rest of the state when it changes and when the bench closes.
//
// Beside the bridges: the system disk (PhysicalDrive0, SATA) and, when the
// bench has one, a USB disk without a bridge. Every device has a disk
// (BenchDisks) whose sectors are read and written through diskTransfer; a
// transfer is a command of the device (logged as READ(16) / WRITE(16), hit by
// its faults) and moves its data over the port's line at the line's rate,
// the caller held on the bench clock until it has crossed. Every arrival and leaving of a device is handed, after the
// lock is released, to the change listener (the device-events service).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/ScsiPassThrough.h"
#include "platform/bench/BenchDisks.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/BenchUsbIdentity.h"
#include "platform/bench/LinkLine.h"
#include "platform/bench/bridge/Bridge.h"
#include "platform/bench/bridge/CommandLog.h"
#include "platform/bench/bridge/Faults.h"
#include "platform/bench/bridge/PortState.h"

namespace krv::bench {

// An open drive: which device, which unit, and which appearance of it on the
// bus (a handle does not follow a device that left and came back).
struct DeviceTarget {
    int port = 0;  // the device: kSystemDisk, a port, kUsbDisk
    Unit unit = Unit::Disk;
    uint64_t generation = 0;
};

enum class Attachment { Sata, Usb, Pcie };

// What the host sees of one device at a moment: whether it is there, its
// numbers, and what it tells of itself on its bus.
struct DeviceView {
    int device = 0;
    bool connected = false;        // on its bus now, working
    bool plugged = false;          // there on its port, working or not
    UsbPortStatus usbStatus = UsbPortStatus::Connected;  // how its port fares with it
    uint64_t generation = 0;       // its appearance on the bus
    int physicalDrive = -1;
    int cdrom = -1;
    Attachment attachment = Attachment::Usb;
    UsbIdentity usb;               // Usb attachment
    // Another device on the bus came first with the same VID, PID and
    // serial number: the host names this one by its place, not its serial.
    bool serialTaken = false;
    InquiryTexts inquiry;          // its disk unit's T10 texts
    std::optional<std::string> unitSerial;  // its unit serial number (INQUIRY page 0x80)
    // How the host's storage stack takes a USB-attached device (its port's settings).
    StorageDriver storageDriver = StorageDriver::Bot;
    StorageSerialForm storageSerial = StorageSerialForm::Text;
    StorageBus busType = StorageBus::Usb;
    DiskIdentity disk;
    std::string chip;              // ports: the bridge chip
    uint16_t pcieDeviceId = 0;     // Pcie attachment
    uint8_t revision = 0;
    bool operator==(const DeviceView&) const = default;
};

// A device arrived (its view as it arrived) or left (its view just before).
struct PresenceChange {
    DeviceView view;
    bool arrived = false;
    uint64_t atMs = 0;
};

class BenchDevices {
public:
    BenchDevices(std::string benchFolder, Clock& clock);
    ~BenchDevices();
    BenchDevices(const BenchDevices&) = delete;
    BenchDevices& operator=(const BenchDevices&) = delete;

    // Writes the starting state of every port of a new bench, and every
    // disk (`layouts`: the partitions a device's disk arrives with, by device).
    static bool initialise(const std::string& benchFolder, const BenchSettings& settings,
                           const std::vector<PortStart>& starts, std::string& error,
                           const std::map<int, DiskLayoutPlan>& layouts = {});
    // Loads every port's state and gives the devices on the bus their numbers.
    bool load(const BenchSettings& settings, std::string& error);

    // The pass-through. `open` sets the last error (2) when no such drive is there.
    std::optional<DeviceTarget> open(DriveKind kind, int number);
    bool execute(const DeviceTarget& target, ScsiCommand& command);

    // Changes asked of the bench. Plugging in also brings back a device that
    // dropped off or disconnected itself. The outcome is a sentence for people.
    void setPresent(int port, bool present, std::string& outcome);
    bool addFault(int port, const Fault& fault, std::string& outcome);
    void clearFaults(int port, std::string& outcome);
    // The operator cuts the device's power and restores it: it leaves the bus
    // at once and comes back after its relink time, the bridge running its
    // stored images and the PD controller and MCU their flash. False when
    // the device is not on the bus.
    bool powerCycle(int port, std::string& outcome);
    bool flushLog(int port, std::string& error);
    // Finishes what is under way (a device coming back), saves every port and
    // writes the logs; afterwards every command fails.
    void close();

    // Every device as the host sees it now (system disk, ports, USB disk).
    std::vector<DeviceView> views();
    std::optional<DeviceView> view(int device);
    // Lets whatever is due happen now (a reset device leaving or coming back).
    void poll();
    // Called with each batch of arrivals and leavings, in order, on the
    // thread that noticed them, with no lock held. Set before the devices
    // are shared; an empty function removes it.
    void setChangeListener(std::function<void(const std::vector<PresenceChange>&)> listener);
    BenchDisks& disks() { return *disks_; }

    // A disk opened by its PhysicalDrive number (last error 2 when none).
    struct DiskTarget {
        int device = 0;
        uint64_t generation = 0;
    };
    std::optional<DiskTarget> openDisk(int number);
    // True while the disk is the same appearance it was opened as.
    bool diskPresent(const DiskTarget& target);
    // Moves whole sectors between the disk and `buffer`. False with the last
    // error: 1167 the device has left, 27 past the end, 5 a write to the
    // system disk, and what a fault says (1117 fail, 121 time-out, 1167 drop).
    bool diskTransfer(const DiskTarget& target, uint64_t offset, void* buffer, size_t length, bool write);
    // File data the host's file system moves to or from a volume of the
    // device on `port` (the file's bytes are kept in the volume's folder,
    // not in the disk image): the same command, latency and faults as a
    // sector transfer (those marked for file data), on the device as it is
    // on the bus now. A corrupting fault changes a read's bytes as they come
    // in; a write's bytes stay the caller's, and when the drive stores other
    // bytes than it was given, all it stores is put in `stored` (left empty
    // otherwise).
    bool fileRead(int port, uint8_t* data, size_t length);
    bool fileWrite(int port, const uint8_t* data, size_t length, std::vector<uint8_t>& stored);

    // A vendor command through the PCIe mailbox of the bridge on `port` (a
    // bridge on a PCIe tunnel), with its faults and log as over USB: the
    // doorbell's answer. A time-out fault leaves the doorbell unanswered, a
    // failing or refused command answers with the bridge's error byte.
    // BenchDevicesMailbox.cpp.
    enum class MailboxAnswer { Done, Error, Silent };
    MailboxAnswer executeMailbox(int port, ScsiCommand& command);
    // True while the bridge of `port` still programs its EEPROM after a
    // write: its mailbox has not finished the command yet.
    bool mailboxBusy(int port);
    // Which appearance on the bus the PCIe function of `port` is; 0 while it
    // is not on the bus (or is no PCIe function).
    uint64_t pcieGeneration(int port);

    // What tests and tools look at.
    std::optional<int> physicalDrive(int port);
    std::optional<int> cdrom(int port);
    bool onBus(int port);
    // The port's log entries still in memory: all of this run's, unless a
    // very long run has spilled older ones to the log file.
    std::vector<LogEntry> log(int port);
    PortState state(int port);
    uint8_t registerValue(int port, uint32_t address);
    std::string portFolder(int port) const;

private:
    struct Port {
        std::unique_ptr<Bridge> bridge;
        CommandLog log;
        bool present = true;
        bool away = false;                    // left the bus for a reset, not back yet
        uint64_t generation = 1;
        std::optional<uint64_t> leaveAtMs;
        std::optional<uint64_t> returnAtMs;
        bool resetting = false;               // the pending leave is a CPU reset (else a disconnect)
        bool staysAway = false;               // the pending reset's device never comes back (fault)
        bool powerCycling = false;            // the pending leave is a power cut
        LinkLine line;                        // what its transfers' data crosses to the host
        std::pair<int, int> previousNumbers{-1, -1};  // drive and CD-ROM numbers before leaving
        // The drive number it left with, whose name the host still leads to
        // it (renumber = stale-name); -1: none.
        int staleDrive = -1;
        // The USB identity last worked out, with the running image and disk
        // serial it follows from (the bridge's settings never change).
        mutable UsbIdentity usb;
        mutable Bytes usbFromConfig;
        mutable std::string usbFromDiskSerial;
        mutable bool usbKnown = false;
    };

    // The USB disk without a bridge.
    struct PlainDisk {
        bool exists = false;
        bool present = false;
        int physicalDrive = -1;
        uint64_t generation = 1;
        DiskIdentity identity;
    };
    // Delivers the changes noticed so far, after the caller's lock is gone.
    class Delivery {
    public:
        explicit Delivery(BenchDevices& devices) : devices_(devices) {}
        ~Delivery() { devices_.deliverChanges(); }
        Delivery(const Delivery&) = delete;
        Delivery& operator=(const Delivery&) = delete;

    private:
        BenchDevices& devices_;
    };

    void deliverChanges();
    DeviceView viewLocked(int device);
    // The bridge's identity on USB, worked out again only when its running
    // image or its disk has changed: every scan asks for it many times.
    const UsbIdentity& usbIdentityLocked(const Port& p) const;
    void arrivedLocked(int device, uint64_t atMs);
    void leftLocked(const DeviceView& before, uint64_t atMs);
    int lowestFreeDriveLocked(int except) const;
    // The port whose disk the name PhysicalDrive`number` leads to; 0: none.
    int portOfDriveLocked(int number) const;
    bool serialTakenLocked(const Port& p, const UsbIdentity& usb) const;
    int firstDrive_ = 1;   // the PC's own disks take the numbers below
    void setUsbDiskPresentLocked(bool present, std::string& outcome);
    bool onBusLocked(const Port& p) const;
    // The device on `port` as it is on the bus now, for its file data.
    DiskTarget fileTarget(int port);
    // diskTransfer, fileRead and fileWrite: file data moves no sectors of the
    // image. With `stored`, a write's corrupted store goes there and `buffer`
    // is only read.
    bool transfer(const DiskTarget& target, uint64_t offset, void* buffer, size_t length, bool write, bool fileData,
                  std::vector<uint8_t>* stored = nullptr);
    Port* portLocked(int port);
    // The bench ms a command to `port` takes before the device answers it.
    uint64_t commandLatencyMs(int port);
    // Bench time in microseconds, from the clock's ticks.
    uint64_t nowUs();
    void advanceLocked(uint64_t nowMs);
    void leaveLocked(Port& p, uint64_t atMs);
    void returnLocked(Port& p, uint64_t atMs);
    void dropLocked(Port& p, uint64_t atMs, const char* why);
    void assignNumbersLocked(Port& p, int previousDrive, int previousCdrom);
    void saveStateLocked(Port& p);
    bool flushLogLocked(Port& p, std::string& error);
    void recordLocked(Port& p, LogEntry entry);
    // What a bridge's answer sets going: its reset or disconnect.
    void reactLocked(Port& p, Bridge::Reaction reaction, const std::optional<Fault>& fault, uint64_t now);

    std::string folder_;
    Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<Port> ports_;
    DiskIdentity systemDisk_;
    PlainDisk usbDisk_;
    std::unique_ptr<BenchDisks> disks_;
    bool closed_ = false;
    std::vector<PresenceChange> changes_;
    std::mutex deliveryMutex_;  // batches reach the listener in order; taken before mutex_
    std::function<void(const std::vector<PresenceChange>&)> listener_;
};

}  // namespace krv::bench
