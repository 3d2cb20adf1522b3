// The bridge CPU reset and the wait for its drive, on bench bridges that
// leave the bus and come back (under a new number when set to renumber) on
// the virtual clock: the record follows the drive it finds, and only that
// drive. The disconnect before removal parks the disk first.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/StopSource.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/device/DiscoveryBenchSupport.h"

namespace krv::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kRelinkMs = 5000;

bench::BenchSettings resetBench(int ports)
{
    std::vector<std::pair<std::string, std::string>> chips(static_cast<size_t>(ports), {"KRV8574", "USB3"});
    bench::BenchSettings settings = benchOf(chips);
    for (auto& port : settings.ports)
        port.relinkMs = kRelinkMs;
    return settings;
}

// A bench scanned into a device table, as a run finds it before its resets.
class ResetBench {
public:
    explicit ResetBench(const bench::BenchSettings& settings, const std::string& volume = "")
        : bench(settings, portStarts(static_cast<int>(settings.ports.size()), volume))
    {
    }
    // Fills the table; true when every port's drive is in it. The trace
    // starts afresh after it.
    bool scan()
    {
        scanBench(dev, list);
        dev.m_ucImage0Enable = 1;
        bench.capture().clear();
        return list.DevNums == static_cast<int>(bench.bench().settings().ports.size());
    }
    // The slot the drive of `port` was given.
    uint8_t slotOf(int port) const { return static_cast<uint8_t>(slotOfSerial(list, serialOfPort(port))); }
    // Writes the re-link signature (count, slot) into the USB4 image 0 of
    // the drive in `slot`, as a run's configuration step leaves it.
    void sign(uint8_t slot, uint8_t ucCount, uint8_t ucForSlot)
    {
        uint8_t image[CONFIG_BIN_SIZE] = {};
        ASSERT_EQ(dev.b8574WrRdConfiguration(slot, 0, image, 0, CONFIG_TYPE_U4), 1);
        image[RELINK_SIG_OFFSET] = ucCount;
        image[RELINK_SIG_OFFSET + 1] = ucForSlot;
        unsigned sum = 0;
        for (size_t i = 4; i < 127; ++i)
            sum += image[i];
        image[127] = static_cast<uint8_t>(sum);
        ASSERT_EQ(dev.b8574WrRdConfiguration(slot, 1, image, 0, CONFIG_TYPE_U4), 1);
    }
    uint64_t nowMs() { return bench.clock().monotonicMs(); }
    int linesWith(const std::string& text)
    {
        int n = 0;
        for (const std::string& line : bench.capture().lines())
            n += line.find(text) != std::string::npos;
        return n;
    }
    // The CPU resets and disconnects the drive of `port` received.
    int resetsOf(int port, uint8_t code = CPURST_CPU_RESET)
    {
        int n = 0;
        for (const bench::LogEntry& e : commandsOf(bench, port))
            n += e.cdb.size() == 6 && e.cdb[0] == 0xE8 && e.cdb[1] == code;
        return n;
    }

    BenchFixture bench;
    CKrvnUSBDev dev;
    DevList list;
    DebugLevel level;
};

TEST(RelinkWait, TheDriveComesBackUnderANewNumberAndTheRecordFollowsIt)
{
    bench::BenchSettings settings = resetBench(2);
    settings.ports[0].renumber = true;
    ResetBench rb(settings, "fat32:rest");
    ASSERT_TRUE(rb.scan());
    const uint8_t slot = rb.slotOf(1);
    const DevInfo before = rb.list.Devs[slot];
    ASSERT_NE(before.m_cDriveLetter, DEV_DRIVE_LETTER_NONE);
    rb.sign(slot, 2, slot);
    rb.list.Devs[slot].m_strFWVersion.clear();
    rb.list.Devs[slot].m_cDriveLetter = DEV_DRIVE_LETTER_NONE;
    rb.list.Devs[slot].m_dwDiskInfo[2] = 0;
    pUtility.g_nHighestCDROMNumber = 4;

    const uint64_t start = rb.nowMs();
    EXPECT_EQ(rb.dev.v8574CPURST(slot, 2, 4, CPURST_CPU_RESET, BRIDGE_TYPE_857X), 1);
    const uint64_t took = rb.nowMs() - start;

    const DevInfo& after = rb.list.Devs[slot];
    const int newDrive = rb.bench.physicalDrive(1);
    EXPECT_EQ(newDrive, 3) << "PhysicalDrive1 was left behind, PhysicalDrive2 is the other port's";
    EXPECT_EQ(after.m_ucPhysicalAddress, newDrive);
    EXPECT_EQ(after.m_strFWVersion, before.m_strFWVersion) << "read again from the drive";
    EXPECT_EQ(after.m_strSerialNumber, serialOfPort(1));
    EXPECT_EQ(after.m_dwDiskInfo[2], 512u);
    EXPECT_EQ(after.m_cDriveLetter, before.m_cDriveLetter) << "its volume's letter, found on the new number";
    EXPECT_EQ(pUtility.g_nHighestCDROMNumber.load(), 5);
    EXPECT_GE(took, kRelinkMs);
    EXPECT_LT(took, kRelinkMs + 4000) << "found in the first sweeps after it came back";
    EXPECT_EQ(rb.linesWith("assign new  PhysicalAddress [3]"), 1);
    EXPECT_EQ(rb.linesWith("Found device!!!"), 1);
    EXPECT_EQ(rb.linesWith("857x USB Mode: Legacy"), 1);
    EXPECT_EQ(rb.resetsOf(1), 1);
    EXPECT_EQ(rb.resetsOf(2), 0);
    for (const bench::LogEntry& e : commandsOf(rb.bench, 1))
        if (e.cdb[0] == 0xE8) {
            EXPECT_EQ(e.timeoutSeconds, 6u) << "the reset's time-out";
        }
    // The lock was left.
    ASSERT_TRUE(pUtility.m_ReloadFWCriticalSection.try_lock());
    pUtility.m_ReloadFWCriticalSection.unlock();
    pUtility.g_nHighestCDROMNumber = 0;
}

TEST(RelinkWait, ADriveStillAnsweringAsBeforeTheResetIsNotTakenForTheNewOne)
{
    // It leaves only 4 s after the reset and comes back under its old
    // number: by the first sweep it still answers, and its EEPROM already
    // holds the signature.
    bench::BenchSettings settings = resetBench(1);
    settings.ports[0].dropMs = 4000;
    settings.ports[0].relinkMs = 9000;
    ResetBench rb(settings);
    ASSERT_TRUE(rb.scan());
    rb.sign(0, 1, 0);

    const uint64_t start = rb.nowMs();
    EXPECT_EQ(rb.dev.v8574CPURST(0, 1, 2, CPURST_CPU_RESET, BRIDGE_TYPE_857X), 1);
    EXPECT_GE(rb.nowMs() - start, 9000u) << "taken only once it had come back";
    EXPECT_EQ(rb.list.Devs[0].m_ucPhysicalAddress, rb.bench.physicalDrive(1));
    EXPECT_GE(rb.linesWith("still answers as it did before the reset"), 1);
}

// Waits that must end in the time-out: nothing the wait finds is the slot's
// drive back from its reset. Port 1's drive is in slot 0, port 2's in slot 1.
TEST(RelinkWait, NothingButTheSlotsOwnRestartedDriveEndsTheWait)
{
    struct Case {
        const char* name;
        void (*setUp)(ResetBench& rb);
        uint8_t ucTotal;       // the wait is for (ucTotal, 0)
        uint8_t ucProbeLimit;
        uint8_t ucKind;
        bool bRenumber;        // port 1 comes back as PhysicalDrive3
        const char* pszSkipLine;  // a line that tells why a drive was passed over
    };
    const Case cases[] = {
        {"another slot's signature", [](ResetBench& rb) { rb.sign(0, 2, 1); }, 2, 4, BRIDGE_TYPE_857X, false, nullptr},
        {"a blank (all zero) image, waited for as (0, 0)",
         [](ResetBench& rb) {
             uint8_t zero[CONFIG_BIN_SIZE] = {};
             ASSERT_EQ(rb.dev.b8574WrRdConfiguration(0, 1, zero, 0, CONFIG_TYPE_U4), 1);
         },
         0, 4, BRIDGE_TYPE_857X, false, nullptr},
        {"the chip of another kind", [](ResetBench& rb) { rb.sign(0, 2, 0); }, 2, 4, BRIDGE_TYPE_752X, false,
         nullptr},
        {"probe limit 0: only PhysicalDrive1 is probed", [](ResetBench& rb) { rb.sign(0, 2, 0); }, 2, 0,
         BRIDGE_TYPE_857X, true, nullptr},
        {"the reset never reached the bridge",
         [](ResetBench& rb) {
             rb.sign(0, 2, 0);
             addFault(rb.bench, 1, bench::FaultKind::Fail, cdbOf({0xE8, 0x50}));
         },
         2, 4, BRIDGE_TYPE_857X, false, "still answers as it did before the reset"},
        {"it never comes back, and another port's drive carries this slot's old signature",
         [](ResetBench& rb) {
             rb.sign(0, 2, 0);
             rb.sign(1, 2, 0);
             addFault(rb.bench, 1, bench::FaultKind::NoReturn, cdbOf({0xE8, 0x50}));
         },
         2, 4, BRIDGE_TYPE_857X, false, "carries the signature but is no drive of the port's device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bench::BenchSettings settings = resetBench(2);
        settings.ports[0].renumber = c.bRenumber;
        ResetBench rb(settings);
        ASSERT_TRUE(rb.scan());
        ASSERT_EQ(rb.slotOf(1), 0);
        ASSERT_EQ(rb.slotOf(2), 1);
        c.setUp(rb);
        const uint8_t ucOldDrive = rb.list.Devs[0].m_ucPhysicalAddress;
        const size_t nOtherCommands = commandsOf(rb.bench, 2).size();

        const uint64_t start = rb.nowMs();
        EXPECT_EQ(rb.dev.v8574CPURST(0, c.ucTotal, c.ucProbeLimit, CPURST_CPU_RESET, c.ucKind), 0);
        const uint64_t took = rb.nowMs() - start;
        EXPECT_GT(took, 480'000u);
        EXPECT_LT(took, 490'000u);
        EXPECT_EQ(rb.linesWith("*** Timeout *** iRelinkTimeOut[480]"), 1);
        EXPECT_EQ(rb.linesWith("Found device!!!"), 0);
        if (c.pszSkipLine) {
            EXPECT_GE(rb.linesWith(c.pszSkipLine), 1);
        }
        EXPECT_EQ(rb.list.Devs[0].m_ucPhysicalAddress, ucOldDrive) << "the record stays";
        EXPECT_EQ(rb.list.Devs[1].m_ucPhysicalAddress, rb.bench.physicalDrive(2));
        EXPECT_EQ(rb.resetsOf(2), 0) << "the other port's bridge is never reset";
        if (c.bRenumber) {
            EXPECT_EQ(rb.bench.physicalDrive(1), 3);
            EXPECT_EQ(commandsOf(rb.bench, 2).size(), nOtherCommands) << "PhysicalDrive2 is never probed";
        }
    }
}

TEST(RelinkWait, ADriveFoundOnlyAfterTheTimeOutIsAFailure)
{
    bench::BenchSettings settings = resetBench(1);
    settings.ports[0].relinkMs = 481'000;
    ResetBench rb(settings);
    ASSERT_TRUE(rb.scan());
    rb.sign(0, 1, 0);
    EXPECT_EQ(rb.dev.v8574CPURST(0, 1, 2, CPURST_CPU_RESET, BRIDGE_TYPE_857X), 0);
    EXPECT_EQ(rb.linesWith("*** Timeout *** iRelinkTimeOut[480]"), 1);
    EXPECT_EQ(rb.linesWith("Found device!!!"), 0);
}

TEST(RelinkWait, ACdRomRecordTriesTheRunsNextCdRomNumberFirst)
{
    bench::BenchSettings settings = resetBench(2);
    for (auto& port : settings.ports) {
        port.cdrom = true;
        port.renumber = true;
    }
    ResetBench rb(settings);
    ASSERT_TRUE(rb.scan());
    const uint8_t slot = rb.slotOf(1);
    rb.sign(slot, 2, slot);
    // The scan never takes a bridge for a CD-ROM; a record that enumerated
    // as one looks so. Start raised the counter to the highest in use.
    DevInfo& record = rb.list.Devs[slot];
    record.m_bIsCDROM = 1;
    record.m_ucCDROMAddress = static_cast<uint8_t>(rb.bench.cdrom(1));
    const uint8_t ucOldDrive = record.m_ucPhysicalAddress;
    const char cOldLetter = record.m_cDriveLetter;
    pUtility.g_nHighestCDROMNumber = 1;

    EXPECT_EQ(rb.dev.v8574CPURST(slot, 2, 0, CPURST_CPU_RESET, BRIDGE_TYPE_857X), 1);
    EXPECT_EQ(rb.bench.cdrom(1), 2);
    EXPECT_EQ(record.m_ucCDROMAddress, 2);
    EXPECT_EQ(record.m_ucPhysicalAddress, ucOldDrive) << "a CD-ROM record keeps its disk number";
    EXPECT_EQ(record.m_cDriveLetter, cOldLetter) << "and gets no other disk's letter";
    EXPECT_EQ(pUtility.g_nHighestCDROMNumber.load(), 2);
    // The probes alternate, the run's next number first.
    std::vector<std::string> probed;
    for (const std::string& line : rb.bench.capture().lines())
        if (line.find("createfile strPhysicalAddress[") != std::string::npos)
            probed.push_back(line.substr(line.find('[', line.find("strPhysicalAddress"))));
    ASSERT_GE(probed.size(), 2u);
    EXPECT_EQ(probed[0].substr(0, 11), "[\\\\.\\CDROM2") << probed[0];
    EXPECT_EQ(probed[1].substr(0, 11), "[\\\\.\\CDROM0") << probed[1];
    EXPECT_EQ(rb.linesWith("assign new CDROM PhysicalAddress [2]"), 1);
    pUtility.g_nHighestCDROMNumber = 0;
}

TEST(RelinkWait, TheResetWithoutTheWaitUsesThePhysicalDriveAndCountsTheCdRomNumber)
{
    bench::BenchSettings settings = resetBench(1);
    settings.ports[0].cdrom = true;
    ResetBench rb(settings);
    ASSERT_TRUE(rb.scan());
    DevInfo& record = rb.list.Devs[0];
    record.m_bIsCDROM = 1;
    record.m_ucCDROMAddress = static_cast<uint8_t>(rb.bench.cdrom(1));
    pUtility.g_nHighestCDROMNumber = 0;

    const uint64_t start = rb.nowMs();
    EXPECT_EQ(rb.dev.v8574CPURSTwithoutCheck(0, 1, 0, CPURST_CPU_RESET, BRIDGE_TYPE_857X), 1);
    EXPECT_EQ(rb.nowMs(), start) << "no wait";
    const std::vector<bench::LogEntry> commands = commandsOf(rb.bench, 1);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back().cdb, cdbOf({0xE8, 0x50, 0, 0, 0, 0}));
    EXPECT_FALSE(commands.back().cdrom) << "sent to the PhysicalDrive, not the CD-ROM unit";
    EXPECT_EQ(pUtility.g_nHighestCDROMNumber.load(), 1);

    // Gone now: the next reset cannot open it and counts nothing.
    EXPECT_EQ(rb.dev.v8574CPURSTwithoutCheck(0, 1, 0, CPURST_CPU_RESET, BRIDGE_TYPE_857X), 0);
    EXPECT_EQ(rb.linesWith("vCPURST: [0] CreateFile Fail"), 1);
    EXPECT_EQ(pUtility.g_nHighestCDROMNumber.load(), 1);
    pUtility.g_nHighestCDROMNumber = 0;
}

// Holds the reset lock on a thread of its own until released.
class LockHolder {
public:
    LockHolder()
        : m_thread([this] {
              std::lock_guard hold(pUtility.m_ReloadFWCriticalSection);
              std::unique_lock<std::mutex> lock(m_gate);
              m_bHeld = true;
              m_cv.notify_all();
              m_cv.wait(lock, [this] { return m_bRelease; });
          })
    {
        std::unique_lock<std::mutex> lock(m_gate);
        m_cv.wait(lock, [this] { return m_bHeld; });
    }
    ~LockHolder()
    {
        {
            std::lock_guard<std::mutex> lock(m_gate);
            m_bRelease = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_gate;
    std::condition_variable m_cv;
    bool m_bHeld = false;
    bool m_bRelease = false;
    std::thread m_thread;
};

TEST(RelinkWait, AStopRequestEndsTheWaitForTheLockAndTheWaitForTheDrive)
{
    ResetBench rb(resetBench(1));
    ASSERT_TRUE(rb.scan());
    rb.sign(0, 1, 0);
    addFault(rb.bench, 1, bench::FaultKind::NoReturn, cdbOf({0xE8, 0x50}));
    StopSource stop;
    StopSource::CurrentScope scope(&stop);
    uint64_t stopAtMs = 0;
    rb.bench.clock().setOnAdvance([&](uint64_t now) {
        rb.bench.devices().poll();
        if (now >= stopAtMs)
            stop.requestStop();
    });

    {
        LockHolder holder;  // another port's reset and wait
        stopAtMs = rb.nowMs() + 60'000;
        EXPECT_EQ(rb.dev.v8574CPURST(0, 1, 2, CPURST_CPU_RESET, BRIDGE_TYPE_857X), 0);
        EXPECT_EQ(rb.resetsOf(1), 0) << "never reset while another holds the lock";
    }
    stop.reset();
    const uint64_t start = rb.nowMs();
    stopAtMs = start + 60'000;
    EXPECT_EQ(rb.dev.v8574CPURST(0, 1, 2, CPURST_CPU_RESET, BRIDGE_TYPE_857X), 0);
    EXPECT_EQ(rb.resetsOf(1), 1);
    EXPECT_LT(rb.nowMs() - start, 62'000u) << "the wait ends with the stop, not the time-out";
    EXPECT_EQ(rb.linesWith("*** Timeout ***"), 0);
    ASSERT_TRUE(pUtility.m_ReloadFWCriticalSection.try_lock());
    pUtility.m_ReloadFWCriticalSection.unlock();
    rb.bench.clock().setOnAdvance([&](uint64_t) { rb.bench.devices().poll(); });
}

TEST(Disconnect, FlushesAndParksTheDiskThenTheBridgeLeavesTheBus)
{
    ResetBench rb(resetBench(2));
    ASSERT_TRUE(rb.scan());
    const uint8_t slot = rb.slotOf(2);
    EXPECT_EQ(rb.dev.vDisconnectAllDevice(slot), 1);
    std::vector<std::pair<uint8_t, uint64_t>> seen;  // the ATA command or E8's code, and when
    for (const bench::LogEntry& e : commandsOf(rb.bench, 2)) {
        if (e.cdb[0] == 0xA1 && e.cdb.size() == 12)
            seen.push_back({e.cdb[9], e.ms});
        if (e.cdb[0] == 0xE8) {
            seen.push_back({e.cdb[1], e.ms});
            EXPECT_EQ(e.timeoutSeconds, 6u) << "the disconnect's time-out";
        }
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, 0xE7) << "FLUSH CACHE";
    EXPECT_EQ(seen[1].first, 0xE0) << "STANDBY IMMEDIATE";
    EXPECT_EQ(seen[2].first, 0x51) << "disconnect";
    EXPECT_GE(seen[1].second - seen[0].second, 1000u);
    EXPECT_GE(seen[2].second - seen[1].second, 2000u);
    rb.bench.clock().sleepMs(60'000);
    EXPECT_FALSE(rb.bench.devices().onBus(2)) << "parked: away until plugged in again";
    EXPECT_TRUE(rb.bench.devices().onBus(1));
    EXPECT_EQ(rb.resetsOf(1, CPURST_DISCONNECT), 0);
}

TEST(Disconnect, TheDiskIsParkedEvenWhenTheBridgeCannotBeOpened)
{
    ResetBench rb(resetBench(1));
    ASSERT_TRUE(rb.scan());
    // The record names the disk by its number but a CD-ROM unit that is not there.
    rb.list.Devs[0].m_bIsCDROM = 1;
    rb.list.Devs[0].m_ucCDROMAddress = 9;
    EXPECT_EQ(rb.dev.vDisconnectAllDevice(0), 0);
    int ata = 0;
    for (const bench::LogEntry& e : commandsOf(rb.bench, 1))
        ata += e.cdb[0] == 0xA1;
    EXPECT_EQ(ata, 2) << "flush and standby still went to the disk";
    EXPECT_EQ(rb.resetsOf(1, CPURST_DISCONNECT), 0);
    EXPECT_EQ(rb.linesWith("vDisconnectAllDevice: [0] CreateFile Fail"), 1);
    EXPECT_TRUE(rb.bench.devices().onBus(1));
}

}  // namespace
}  // namespace krv::test
