// Identification of the drive behind a port and the fill of its record: the
// bridge families, the chip filter, reads that fail, a refused device, the
// end of the table, and the re-read of a known port after a reset.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/USBUtility.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/device/DiscoveryBenchSupport.h"

namespace krv::test {
namespace {

class Identification : public ::testing::Test {
protected:
    void SetUp() override { vDEBUG_SetLevel(4); }
    void TearDown() override { vDEBUG_SetLevel(0); }
    CKrvnUSBDev dev;
    DevList list;
};

TEST_F(Identification, EachBridgeTypeTakesItsOwnFamilyOnly)
{
    BenchFixture bench(benchOf({{"KRV752B", "USB3"}, {"KRV6390", "USB3"}, {"KRV8574", "USB3"}}), portStarts(3, ""));
    struct Case {
        int bridgeType;
        int port;
        const char* chipText;
        uint8_t devType;
    } cases[] = {
        {BRIDGE_TYPE_857X, 3, "857B", DEV_TYPE_8574},
        {BRIDGE_TYPE_752X, 1, "752B", DEV_TYPE_752B},
        {BRIDGE_TYPE_6390, 2, "A", DEV_TYPE_A},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("bridge type " + std::to_string(c.bridgeType));
        DevList table;
        ASSERT_EQ(scanBench(dev, table, "0", c.bridgeType), 0);
        ASSERT_EQ(table.DevNums, 1);
        const DevInfo& rec = table.Devs[0];
        EXPECT_EQ(rec.m_strSerialNumber, serialOfPort(c.port));
        EXPECT_EQ(rec.m_ucPhysicalAddress, bench.physicalDrive(c.port));
        EXPECT_EQ(rec.m_strChipText, c.chipText);
        EXPECT_EQ(rec.m_ucDevType, c.devType);
        EXPECT_FALSE(rec.m_strUSBSpeed.empty());
        EXPECT_EQ(rec.m_ullCapacity, 64ULL << 20);
        EXPECT_FALSE(rec.m_strHDDSN.empty());
    }
}

TEST_F(Identification, TargetChipFiltersTheOlderBridgesByRevision)
{
    BenchFixture bench(benchOf({{"KRV752B", "USB3"}}), portStarts(1, ""));
    // The revision text of a first-silicon 752B (register 0xC8FF = 10).
    EXPECT_EQ(dev.Open(&list, "001_B0", BRIDGE_TYPE_752X), 0);
    EXPECT_EQ(dev.Open(&list, "101", BRIDGE_TYPE_752X), OPEN_NO_DEVICE);
    EXPECT_TRUE(bench.capture().contains("ct0[101],ct1[001_B0]"));
    EXPECT_EQ(dev.Open(&list, "0", BRIDGE_TYPE_752X), 0);
}

TEST_F(Identification, AnyExpectedChipOtherThanZeroRefusesThe857xFamily)
{
    // An 857x has no revision text to match: a tool set up for another chip
    // must not program these drives.
    BenchFixture bench(benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB4-U3"}}), portStarts(2, ""));
    EXPECT_EQ(dev.Open(&list, "101", BRIDGE_TYPE_857X), OPEN_NO_DEVICE);
    EXPECT_EQ(list.DevNums, 0);
    EXPECT_TRUE(bench.capture().contains("ct0[101],ct1[]"));
    EXPECT_EQ(dev.Open(&list, "0", BRIDGE_TYPE_857X), 0);
    EXPECT_EQ(list.DevNums, 2);
}

TEST_F(Identification, FailedVersionAndPowerDeliveryReadsStillAcceptTheDrive)
{
    BenchFixture bench(benchOf({{"KRV8574", "USB3"}}), portStarts(1, ""));
    // Enough refusals to outlast the register command's own retries.
    addFault(bench, 1, bench::FaultKind::Check, cdbOf({0xE4, 0x07, 0x50, 0x07, 0xF0}), 64);
    addFault(bench, 1, bench::FaultKind::Check, cdbOf({0xE4, 0x01, 0x50, 0xE7, 0x95}), 64);

    ASSERT_EQ(dev.Open(&list, "0", BRIDGE_TYPE_857X), 0);
    ASSERT_EQ(list.DevNums, 1);
    EXPECT_EQ(list.Devs[0].m_strFWVersion, "");
    EXPECT_EQ(list.Devs[0].m_ucPDType, 0xFF);
    EXPECT_EQ(list.Devs[0].m_strSerialNumber, serialOfPort(1));
}

TEST_F(Identification, ARefusedDriveLeavesNothingInTheSlotTheNextOneFills)
{
    std::vector<bench::PortStart> starts = portStarts(2, "");
    bench::Bytes usb4(CONFIG_BIN_SIZE, 0);
    usb4[RELINK_SIG_OFFSET] = 0x02;   // a relink signature: total 2, port slot 1
    usb4[RELINK_SIG_OFFSET + 1] = 0x01;
    starts[0].usb4Config = usb4;
    BenchFixture bench(benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB3"}}), starts);
    // The first drive leaves the bus at the last of the bridge reads that
    // come before its device number is checked.
    addFault(bench, 1, bench::FaultKind::Drop, cdbOf({0xE4, 0x01, 0x50, 0xE7, 0x95}));

    ASSERT_EQ(dev.Open(&list, "0", BRIDGE_TYPE_857X), 0);
    ASSERT_EQ(list.DevNums, 1);
    const DevInfo& rec = list.Devs[0];
    EXPECT_EQ(rec.m_strSerialNumber, serialOfPort(2));
    const bench::Bytes own = bench.devices().state(2).stored.config[0][CONFIG_TYPE_U4];
    EXPECT_TRUE(std::equal(own.begin(), own.end(), rec.m_ucU4Config));
    EXPECT_NE(rec.m_ucU4Config[RELINK_SIG_OFFSET + 1], 0x01);
    const DevInfo& empty = list.Devs[1];
    EXPECT_EQ(empty.m_ucPortIndex, DEV_PORT_INDEX_EMPTY);
    EXPECT_TRUE(std::all_of(std::begin(empty.m_ucU4Config), std::end(empty.m_ucU4Config),
                            [](uint8_t b) { return b == 0; }));
}

TEST_F(Identification, NoRecordIsWrittenPastTheTable)
{
    BenchFixture bench(benchOf({{"KRV8574", "USB3"}}), portStarts(1, ""));
    dev.m_pDevList = &list;
    dev.m_bOpen = 1;
    CUSBWalkState walk;
    walk.m_ucDevIndex = MAX_DEV_SLOTS;
    walk.m_strSerialNumber = serialOfPort(1);
    EXPECT_FALSE(dev.vTestHandleFromPhysicalAddress(
        walk, strDrivePath(DriveKind::PhysicalDrive, bench.physicalDrive(1)), "hub", "0", BRIDGE_TYPE_857X));
    EXPECT_EQ(walk.m_ucDevIndex, MAX_DEV_SLOTS);
    EXPECT_EQ(list.DevNums, 0);
    EXPECT_TRUE(commandsOf(bench, 1).empty());   // the drive was not even opened
}

TEST_F(Identification, TheDrivePathMustNameTheDriveItOpens)
{
    // After a reset the drive is back under another number, while the host
    // still leads its old name to it.
    bench::BenchSettings settings = benchOf({{"KRV8574", "USB3"}});
    settings.ports[0].renumber = settings.ports[0].staleName = true;
    BenchFixture bench(settings, portStarts(1, ""));
    const int before = bench.physicalDrive(1);
    {
        CDriveHandle hDev(CreateDriveHandle(DriveKind::PhysicalDrive, before));
        ASSERT_EQ(CKrvnUSBDev::SCSI8574_CPURST(hDev.get(), CPURST_CPU_RESET), SCSI_RESULT_OK);
    }
    bench.clock().sleepMs(bench::kDefaultRelinkMs);
    const int after = bench.physicalDrive(1);
    ASSERT_NE(after, before);
    dev.m_pDevList = &list;
    dev.m_bOpen = 1;

    CUSBWalkState walk;
    walk.m_strSerialNumber = serialOfPort(1);
    const std::string old = strDrivePath(DriveKind::PhysicalDrive, before);
    EXPECT_FALSE(dev.vTestHandleFromPhysicalAddress(walk, old, "hub", "0", BRIDGE_TYPE_857X));
    EXPECT_TRUE(bench.capture().contains("strPhysicalAddress[" + old + "] != StoDevNum.DeviceNumber[" +
                                         std::to_string(after) + "]"));
    EXPECT_EQ(walk.m_ucDevIndex, 0);
    EXPECT_EQ(list.DevNums, 0);
    EXPECT_EQ(list.Devs[0].m_ucPortIndex, DEV_PORT_INDEX_EMPTY);
    // The compare ignores case.
    EXPECT_TRUE(dev.vTestHandleFromPhysicalAddress(walk, "\\\\.\\physicaldrive" + std::to_string(after), "hub",
                                                   "0", BRIDGE_TYPE_857X));
    EXPECT_EQ(list.DevNums, 1);
    EXPECT_EQ(list.Devs[0].m_ucPhysicalAddress, after);
    EXPECT_EQ(list.Devs[0].m_strHubName, "hub");
}

// ---- a known port after a reset --------------------------------------------------

class KnownPort : public Identification {
protected:
    KnownPort() : bench(threeOnAHub(), portStarts(3, "")) {}
    static bench::BenchSettings threeOnAHub()
    {
        bench::BenchSettings settings = benchOf({{"KRV8574", "USB3"}, {"KRV8574", "USB3"}, {"KRV8574", "USB3"}});
        settings.topology.hubPorts = 4;
        for (int i = 0; i < 3; ++i)
            settings.ports[static_cast<size_t>(i)].location = bench::UsbLocation{0, {1, i + 1}};
        return settings;
    }
    void SetUp() override
    {
        Identification::SetUp();
        ASSERT_EQ(dev.Open(&list, "0", BRIDGE_TYPE_857X), 0);
        ASSERT_EQ(list.DevNums, 3);
        hubName = list.Devs[0].m_strHubName;
    }
    bool update(uint32_t port, CUSBWalkState& walk) { return dev.bUpdateDeviceInfo(walk, hubName, port, 4); }

    BenchFixture bench;
    std::string hubName;
};

TEST_F(KnownPort, ItsOwnPortGivesItsTexts)
{
    CUSBWalkState walk;
    EXPECT_TRUE(update(2, walk));
    EXPECT_EQ(walk.m_strSerialNumber, serialOfPort(2));
    EXPECT_EQ(walk.m_ulPortIndex, 2u);
}

TEST_F(KnownPort, AnEmptyPortNeverBorrowsAnotherRecordsDrive)
{
    std::string outcome;
    bench.devices().setPresent(2, false, outcome);
    CUSBWalkState walk;
    EXPECT_FALSE(update(2, walk));
    EXPECT_NE(walk.m_strSerialNumber, serialOfPort(1));
    EXPECT_NE(walk.m_strSerialNumber, serialOfPort(3));
}

TEST_F(KnownPort, TheSearchTakesAConfiguredDeviceNoRecordHolds)
{
    std::string outcome;
    bench.devices().setPresent(2, false, outcome);
    list.Devs[slotOfSerial(list, serialOfPort(3))].m_ucPortIndex = DEV_PORT_INDEX_EMPTY;
    CUSBWalkState walk;
    EXPECT_TRUE(update(4, walk));
    EXPECT_EQ(walk.m_ulPortIndex, 3u);
    EXPECT_EQ(walk.m_strSerialNumber, serialOfPort(3));
}

TEST_F(KnownPort, APortHoldingAHubIsSteppedOver)
{
    CUSBWalkState::HUB_ENTRY hubs[WALK_HUB_TABLE_SIZE];
    dev.vGetHubTable(hubs);
    ASSERT_EQ(hubs[0].ucPortMark[1], 1);   // the hub on root port 1
    CUSBWalkState walk;
    EXPECT_FALSE(dev.bUpdateDeviceInfo(walk, hubs[0].strHubName, 1, hubs[0].ulPortCount));
}

}  // namespace
}  // namespace krv::test
