// The disk behind a USB serial number: which texts match, the texts a drive
// is found by when the host or the bridge shows its serial otherwise, the bus
// type, a bridge of the wrong family, drives that share a serial, CD-ROM
// units, and the device properties as text.
#include <gtest/gtest.h>

#include "platform/DeviceClasses.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/device/DiscoveryBenchSupport.h"

namespace krv::test {
namespace {

std::vector<bench::PortStart> serials(std::initializer_list<const char*> texts)
{
    std::vector<bench::PortStart> starts;
    for (const char* text : texts) {
        bench::PortStart start;
        start.serial = text;
        starts.push_back(start);
    }
    return starts;
}

class DiskMatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        vDEBUG_SetLevel(4);
        dev.m_pDevList = &list;
        dev.m_bOpen = 1;
    }
    void TearDown() override { vDEBUG_SetLevel(0); }
    // A record holds the drive, as the identification leaves it.
    void hold(int slot, uint8_t drive)
    {
        list.Devs[slot].m_ucPortIndex = static_cast<uint8_t>(slot);
        list.Devs[slot].m_ucPhysicalAddress = drive;
    }

    CKrvnUSBDev dev;
    DevList list;
};

TEST_F(DiskMatch, SerialTextsThatFindADriveAndThoseThatDoNot)
{
    BenchFixture bench(benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB3"}}), serials({"AB12CD", "AB12"}));
    struct Case {
        const char* serial;
        int port;   // 0: none
    } cases[] = {
        {"AB12", 2},     // exact, though the first drive's serial contains it
        {"AB12CD", 1},
        {"B12C", 1},     // only contained
        {"", 0},         // an empty serial matches nothing
        {"ZZ99", 0},
    };
    for (const Case& c : cases) {
        const uint8_t drive = dev.ucGetPhysicalAddressFromSN(c.serial, SN_SEARCH_DISK, BRIDGE_TYPE_857X);
        EXPECT_EQ(drive, c.port ? bench.physicalDrive(c.port) : PHYSICAL_ADDRESS_NONE) << c.serial;
    }
}

TEST_F(DiskMatch, ADriveOfAnotherBridgeFamilyIsNeverTaken)
{
    BenchFixture bench(benchOf({{"KRV8574", "USB3"}}), portStarts(1, ""));
    EXPECT_EQ(dev.ucGetPhysicalAddressFromSN(serialOfPort(1), SN_SEARCH_DISK, BRIDGE_TYPE_752X),
              PHYSICAL_ADDRESS_NONE);
    EXPECT_TRUE(bench.capture().contains("This Device is not KRVN 7522 Chip"));
    EXPECT_EQ(dev.ucGetPhysicalAddressFromSN(serialOfPort(1), SN_SEARCH_DISK, BRIDGE_TYPE_857X),
              bench.physicalDrive(1));
}

TEST_F(DiskMatch, AServedDriveIsNotTakenAgain)
{
    BenchFixture bench(benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB3"}}), serials({"AB12CD", "AB12"}));
    hold(0, static_cast<uint8_t>(bench.physicalDrive(2)));
    // "AB12" is the second drive's, which a record holds; the first drive
    // only contains it.
    EXPECT_EQ(dev.ucGetPhysicalAddressFromSN("AB12", SN_SEARCH_DISK, BRIDGE_TYPE_857X), bench.physicalDrive(1));
    EXPECT_TRUE(bench.capture().contains("bSameDevFound , strValidSerialNumber AB12"));
    hold(1, static_cast<uint8_t>(bench.physicalDrive(1)));
    EXPECT_EQ(dev.ucGetPhysicalAddressFromSN("AB12", SN_SEARCH_DISK, BRIDGE_TYPE_857X), PHYSICAL_ADDRESS_NONE);
}

TEST_F(DiskMatch, APortIsNeverGivenTheDiskOfAnotherUsbDevice)
{
    BenchFixture bench(benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB3"}}), serials({"AB12", "AB12CD"}));
    // The second drive's serial reads short, as "AB12": by the serial alone
    // that is the first drive's; by the device tree the second port's own
    // disk is the one under its USB device.
    std::string driverKey;
    for (const DeviceNode& node : Platform::current().deviceSetup().devices())
        if (node.enumeratorName == "USB" && node.instanceId.size() > 7 &&
            node.instanceId.compare(node.instanceId.size() - 7, 7, "\\AB12CD") == 0)
            driverKey = node.driverKey;
    ASSERT_FALSE(driverKey.empty());
    EXPECT_EQ(dev.ucGetPhysicalAddressFromSN("AB12", SN_SEARCH_DISK, BRIDGE_TYPE_857X), bench.physicalDrive(1));
    EXPECT_EQ(dev.ucGetPhysicalAddressFromSN("AB12", SN_SEARCH_DISK, BRIDGE_TYPE_857X, driverKey),
              bench.physicalDrive(2));
}

TEST_F(DiskMatch, CdRomUnitsOnlyWhenTheSettingsAskForThem)
{
    bench::BenchSettings settings = benchOf({{"KRV8574", "USB3"}});
    settings.ports[0].cdrom = true;
    BenchFixture bench(settings, portStarts(1, ""));
    ASSERT_GE(bench.cdrom(1), 0);
    dev.m_ucCDROMMode = 0;
    EXPECT_EQ(dev.ucGetPhysicalAddressFromSN(serialOfPort(1), SN_SEARCH_CDROM, BRIDGE_TYPE_857X),
              PHYSICAL_ADDRESS_NONE);
    dev.m_ucCDROMMode = 1;
    EXPECT_EQ(dev.ucGetPhysicalAddressFromSN(serialOfPort(1), SN_SEARCH_CDROM, BRIDGE_TYPE_857X), bench.cdrom(1));
    // The disk search still finds the disk, never the CD-ROM unit.
    EXPECT_EQ(dev.ucGetPhysicalAddressFromSN(serialOfPort(1), SN_SEARCH_DISK, BRIDGE_TYPE_857X),
              bench.physicalDrive(1));
}

TEST(DeviceProperties, RegistryValuesReadAsText)
{
    DeviceNode node;
    node.description = "USB Mass Storage Device";
    node.hardwareIds = {"USB\\VID_2C4B&PID_8574&REV_0100", "USB\\VID_2C4B&PID_8574"};
    node.address = 0x00030002;
    node.busNumber = 0x01020304;
    node.removalPolicy = 3;
    node.classGuid = setupclass::kDiskDrive;
    struct Case {
        uint32_t property;
        const char* text;
    } cases[] = {
        {0, "USB Mass Storage Device"},               // DEVICEDESC
        {1, "USB\\VID_2C4B&PID_8574&REV_0100"},       // HARDWAREID: the first of them
        {8, "{4d36e967-e325-11ce-bfc1-08002be10318}"},  // CLASSGUID
        {28, "2 3"},                                  // ADDRESS: the two words
        {21, "16909060"},                             // BUSNUMBER: the whole value
        {31, "3"},                                    // REMOVAL_POLICY: its first byte
        {12, ""},                                     // FRIENDLYNAME the node has not
        {15, ""},                                     // CAPABILITIES, not kept
    };
    for (const Case& c : cases)
        EXPECT_EQ(CKrvnUSBDev::vGetSetupDiDeviceRegistryProperty(node, c.property), c.text) << c.property;
}

TEST_F(DiskMatch, ADriveNumberTheTableCannotHoldIsRefusedNeverCutDown)
{
    // A PC with many disks of its own numbers the bridge's drive past what a
    // record's byte holds: 127 is the table's "none", 258 would read as 2.
    for (int otherDisks : {126, 257}) {
        SCOPED_TRACE(otherDisks);
        bench::BenchSettings settings = benchOf({{"KRV8574", "USB3"}});
        settings.otherDisks = otherDisks;
        BenchFixture bench(settings, portStarts(1, ""));
        ASSERT_EQ(bench.physicalDrive(1), otherDisks + 1);
        EXPECT_EQ(dev.ucGetPhysicalAddressFromSN(serialOfPort(1), SN_SEARCH_DISK, BRIDGE_TYPE_857X),
                  PHYSICAL_ADDRESS_NONE);
        EXPECT_TRUE(bench.capture().contains("does not fit the device table"));
    }
}

TEST_F(DiskMatch, BridgesThatShareOneSerialEachGetTheirOwnDrive)
{
    // Factory-fresh bridges all carry one serial number: the host names the
    // later ones by their place, and each port's search takes its own disk.
    bench::BenchSettings settings = benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB3"}, {"KRV8574", "USB3"}});
    settings.ports[1].diskSize = 128ULL << 20;
    settings.ports[2].diskSize = 96ULL << 20;
    BenchFixture bench(settings, serials({"FRESH0001", "FRESH0001", "FRESH0001"}));
    DevList table;
    ASSERT_EQ(scanBench(dev, table), 0);
    ASSERT_EQ(table.DevNums, 3);
    // The ports sit on root ports 1..3, so the walk fills the slots in
    // port order: each slot holds its own port's drive and disk.
    const uint64_t sizes[] = {64ULL << 20, 128ULL << 20, 96ULL << 20};
    for (int slot = 0; slot < 3; ++slot) {
        const DevInfo& rec = table.Devs[slot];
        EXPECT_EQ(rec.m_strSerialNumber, "FRESH0001") << slot;
        EXPECT_EQ(rec.m_ucPhysicalAddress, bench.physicalDrive(slot + 1)) << slot;
        EXPECT_EQ(rec.m_ullCapacity, sizes[slot]) << slot;
    }
}

// The configuration reads (E0) the drive on `port` has taken.
size_t configReads(BenchFixture& bench, int port)
{
    size_t n = 0;
    for (const bench::LogEntry& e : commandsOf(bench, port))
        n += !e.cdb.empty() && e.cdb[0] == 0xE0;
    return n;
}

// A scan reads each drive's serial texts once, however many devices it
// identifies; the next scan reads the machine afresh and finds the disks
// that have come or gone since.
TEST_F(DiskMatch, EachScanReadsTheDrivesOnceAndTheNextScanSeesWhatChanged)
{
    size_t alone = 0;
    {
        BenchFixture one(benchOf({{"KRV8574", "USB3"}}), portStarts(1, ""));
        DevList table;
        ASSERT_EQ(scanBench(dev, table), 0);
        alone = configReads(one, 1);
    }
    BenchFixture bench(benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB3"}, {"KRV8574", "USB3"}}), portStarts(3, ""));
    auto scan = [&] {
        DevList table;
        EXPECT_EQ(scanBench(dev, table), 0);
        std::vector<int> drives;
        for (int slot = 0; slot < table.DevNums; ++slot)
            drives.push_back(table.Devs[slot].m_ucPhysicalAddress);
        dev.m_pDevList = nullptr;
        return drives;
    };
    const std::vector<int> all = {bench.physicalDrive(1), bench.physicalDrive(2), bench.physicalDrive(3)};
    EXPECT_EQ(scan(), all);
    for (int port = 1; port <= 3; ++port)
        EXPECT_EQ(configReads(bench, port), alone) << port;

    ASSERT_TRUE(bench.unplug(2));
    EXPECT_EQ(scan(), (std::vector<int>{bench.physicalDrive(1), bench.physicalDrive(3)}));
    ASSERT_TRUE(bench.plug(2));
    ASSERT_GE(bench.physicalDrive(2), 0);
    EXPECT_EQ(scan(), (std::vector<int>{bench.physicalDrive(1), bench.physicalDrive(2), bench.physicalDrive(3)}));
}

// ---- the texts a drive is found by ----------------------------------------------

// One way the bridge or the host shows a drive's serial, with the one text of
// the search that then holds the USB serial, and what takes that text away.
struct FoundBy {
    const char* text;
    const char* chip;
    int bridgeType;
    bool blankSerial;                   // the configuration's serial left blank
    void (*set)(bench::PortSettings&);
    std::vector<std::vector<uint8_t>> failing;   // commands both bridges refuse
    void (*spoilSetting)(bench::PortSettings&);  // or:
    std::vector<uint8_t> spoilCommand;
};

const std::vector<uint8_t> kReadConfig = {0xE0};
const std::vector<uint8_t> kFactoryPage = {0x12, 0x01, 0xC8};

void uasWithoutUnitSerial(bench::PortSettings& p)
{
    p.storageDriver = bench::StorageDriver::Uas;
    p.unitSerial = bench::UnitSerial::None;
}

const FoundBy kFoundBy[] = {
    {"configuration serial", "KRV8574", BRIDGE_TYPE_857X, false,
     [](bench::PortSettings& p) {
         p.storageDriver = bench::StorageDriver::Uas;
         p.unitSerial = bench::UnitSerial::Disk;   // the storage serial is the drive's, not the USB serial
     },
     {}, nullptr, kReadConfig},
    {"blank configuration serial followed by the drive's ATA serial", "KRV8574", BRIDGE_TYPE_857X, true,
     uasWithoutUnitSerial, {}, nullptr, {0xA1, 0x08}},
    {"reversed storage serial", "KRV8574", BRIDGE_TYPE_857X, false,
     [](bench::PortSettings& p) {
         p.storageDriver = bench::StorageDriver::Uas;
         p.unitSerial = bench::UnitSerial::Reversed;
     },
     {kReadConfig}, [](bench::PortSettings& p) { p.unitSerial = bench::UnitSerial::None; }, {}},
    {"storage serial", "KRV8574", BRIDGE_TYPE_857X, false,
     [](bench::PortSettings& p) { p.storageDriver = bench::StorageDriver::Uas; }, {kReadConfig},
     [](bench::PortSettings& p) { p.unitSerial = bench::UnitSerial::None; }, {}},
    // The driver serial, made from the same name, holds the serial too: the
    // instance serial is never alone.
    {"instance serial, the storage serial reported as hex", "KRV8574", BRIDGE_TYPE_857X, false,
     [](bench::PortSettings& p) { p.storageSerial = bench::StorageSerialForm::Hex; }, {kReadConfig},
     [](bench::PortSettings& p) { p.storageDriver = bench::StorageDriver::Uas; }, {}},
    {"storage serial spelt by a USB serial of hex digits", "KRV8574", BRIDGE_TYPE_857X, false,
     [](bench::PortSettings& p) {
         p.storageDriver = bench::StorageDriver::Uas;
         p.usbSerial = bench::UsbSerialForm::Hex;
     },
     {}, [](bench::PortSettings& p) { p.unitSerial = bench::UnitSerial::None; }, {}},
    {"driver serial, the USB serial in lower case", "KRV8574", BRIDGE_TYPE_857X, false,
     [](bench::PortSettings& p) {
         p.usbSerial = bench::UsbSerialForm::Lower;
         p.storageSerial = bench::StorageSerialForm::Hex;
     },
     {kReadConfig}, [](bench::PortSettings& p) { p.storageDriver = bench::StorageDriver::Uas; }, {}},
    {"factory serial", "KRV752B", BRIDGE_TYPE_752X, false, uasWithoutUnitSerial, {kReadConfig}, nullptr,
     kFactoryPage},
    {"NVMe serial", "KRV752B", BRIDGE_TYPE_752X, true, uasWithoutUnitSerial, {kReadConfig, kFactoryPage}, nullptr,
     {0xE6}},
};

// Two bridges set up as `c` says (spoilt: without the text it is about); the
// drive each port's USB serial finds, by the scan (on the scan's own table)
// and by a search of its own. `serials` are the USB serials the walk read
// (read when empty).
struct Found {
    std::vector<int> byScan, bySearch, own;
};

Found findDrives(CKrvnUSBDev& dev, const FoundBy& c, bool spoilt, std::vector<std::string>& serials)
{
    bench::BenchSettings settings = benchOf({{c.chip, "USB3"}, {c.chip, "USB3"}});
    std::vector<bench::PortStart> starts = portStarts(2, "");
    for (int i = 0; i < 2; ++i) {
        c.set(settings.ports[i]);
        if (spoilt && c.spoilSetting)
            c.spoilSetting(settings.ports[i]);
        if (c.blankSerial)
            starts[i].serial = "";
    }
    BenchFixture bench(settings, starts);
    for (int port = 1; port <= 2; ++port) {
        for (const std::vector<uint8_t>& prefix : c.failing)
            addFault(bench, port, bench::FaultKind::Check, prefix, 1000);
        if (spoilt && !c.spoilCommand.empty())
            addFault(bench, port, bench::FaultKind::Check, c.spoilCommand, 1000);
    }
    Found found;
    DevList table;
    dev.Open(&table, "0", c.bridgeType);
    // The ports sit on root ports 1 and 2: the walk fills the slots in port order.
    for (int slot = 0; slot < table.DevNums; ++slot)
        found.byScan.push_back(table.Devs[slot].m_ucPhysicalAddress);
    if (serials.empty())
        for (int slot = 0; slot < table.DevNums; ++slot)
            serials.push_back(table.Devs[slot].m_strSerialNumber);
    DevList fresh;
    dev.m_pDevList = &fresh;
    for (const std::string& serial : serials)
        found.bySearch.push_back(dev.ucGetPhysicalAddressFromSN(serial, SN_SEARCH_DISK, c.bridgeType));
    found.own = {bench.physicalDrive(1), bench.physicalDrive(2)};
    dev.m_pDevList = nullptr;
    return found;
}

TEST_F(DiskMatch, EachTextTheSearchLooksInFindsItsOwnDriveAlone)
{
    for (const FoundBy& c : kFoundBy) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> serials;
        const Found found = findDrives(dev, c, false, serials);
        ASSERT_EQ(serials.size(), 2u);
        EXPECT_NE(serials[0], serials[1]);
        EXPECT_EQ(found.byScan, found.own);
        EXPECT_EQ(found.bySearch, found.own);
        // Without that one text (the instance serial: and the name it comes
        // from) no other holds the serial: nothing is found, least of all the
        // other port's drive.
        const Found spoilt = findDrives(dev, c, true, serials);
        EXPECT_TRUE(spoilt.byScan.empty());
        EXPECT_EQ(spoilt.bySearch, std::vector<int>(2, PHYSICAL_ADDRESS_NONE));
    }
}

TEST_F(DiskMatch, TheDriveIsTheNumberItsInterfaceReportsWhateverTheBus)
{
    // On Storage Spaces' bus type the number the host reports is still the
    // drive's own; one less would be the first port's drive (or the system
    // disk). Bus types the search does not know are left alone.
    struct Case {
        bench::StorageBus bus;
        bool found;
    } cases[] = {
        {bench::StorageBus::Usb, true},
        {bench::StorageBus::Scsi, true},
        {bench::StorageBus::Spaces, true},
        {bench::StorageBus::Sata, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(bench::choiceName(c.bus)));
        bench::BenchSettings settings = benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB3"}});
        for (bench::PortSettings& port : settings.ports)
            port.busType = c.bus;
        BenchFixture bench(settings, portStarts(2, ""));
        ASSERT_EQ(bench.physicalDrive(1), 1);
        for (int port = 1; port <= 2; ++port)
            EXPECT_EQ(dev.ucGetPhysicalAddressFromSN(serialOfPort(port), SN_SEARCH_DISK, BRIDGE_TYPE_857X),
                      c.found ? bench.physicalDrive(port) : PHYSICAL_ADDRESS_NONE)
                << port;
    }
}

}  // namespace
}  // namespace krv::test
