// Disk and volume I/O on bench drives: drive letters, raw sectors and their
// guards, sizes, partition count, free space, the disk information of a
// record, and the speed test (its figures and its restore).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/device/DiscoveryBenchSupport.h"
#include "tests/device/TimedDiskPlatform.h"

namespace krv::test {
namespace {

bench::BenchSettings drives(int ports, uint64_t size = 512ULL << 20)
{
    bench::BenchSettings settings;
    settings.systemDiskSize = 256ULL << 20;
    settings.ports.resize(static_cast<size_t>(ports));
    for (auto& port : settings.ports)
        port.diskSize = size;
    return settings;
}

std::vector<bench::PortStart> layouts(std::initializer_list<const char*> specs)
{
    std::vector<bench::PortStart> starts;
    int port = 0;
    for (const char* spec : specs)
        starts.push_back(portStarts(++port, spec).back());
    return starts;
}

// A bench whose drives are scanned into a table the object points at.
class ScannedBench : public ::testing::Test {
protected:
    explicit ScannedBench(bench::BenchSettings settings, std::vector<bench::PortStart> starts)
        : bench(std::move(settings), std::move(starts))
    {
    }
    void SetUp() override
    {
        vDEBUG_SetLevel(4);
        ASSERT_EQ(scanBench(dev, list), 0);
    }
    void TearDown() override { vDEBUG_SetLevel(0); }

    DevInfo& record(int port) { return list.Devs[slotOfSerial(list, serialOfPort(port))]; }
    char letterOf(int port) { return record(port).m_cDriveLetter; }

    BenchFixture bench;
    CKrvnUSBDev dev;
    DevList list;
};

// ---- letters, sizes, layout ------------------------------------------------------

class DiskQueries : public ScannedBench {
protected:
    DiskQueries()
        : ScannedBench(drives(3), layouts({"fat32:300M:DATA,raw:rest", "none", "raw:rest"}))
    {
    }
};

TEST_F(DiskQueries, LetterOfAPhysicalDrive)
{
    const char cLetter = dev.vGetLogicalAddressFromPhysicalAddress(static_cast<uint8_t>(bench.physicalDrive(1)), 0);
    EXPECT_EQ(cLetter, Platform::current().volumes().lettersOfDisk(bench.physicalDrive(1)).front());
    EXPECT_EQ(letterOf(1), cLetter);
    EXPECT_EQ(letterOf(2), DEV_DRIVE_LETTER_NONE);   // no partition table, no volume
}

TEST_F(DiskQueries, DriveWithoutAVolumeHasNoLetterAtOnceOrAfterTheWait)
{
    const auto drive = static_cast<uint8_t>(bench.physicalDrive(2));
    const uint64_t start = bench.clock().monotonicMs();
    EXPECT_EQ(dev.vGetLogicalAddressFromPhysicalAddress(drive, 0), DEV_DRIVE_LETTER_NONE);
    EXPECT_EQ(bench.clock().monotonicMs(), start);

    EXPECT_EQ(dev.vGetLogicalAddressFromPhysicalAddress(drive, 1), DEV_DRIVE_LETTER_NONE);
    const uint64_t waited = bench.clock().monotonicMs() - start;
    EXPECT_GT(waited, DRIVE_LETTER_WAIT_MS);
    EXPECT_LE(waited, DRIVE_LETTER_WAIT_MS + DRIVE_LETTER_RETRY_MS);
    EXPECT_TRUE(bench.capture().contains("Wait Disk Letter Time Out"));
}

TEST_F(DiskQueries, SizesAndPartitionCounts)
{
    EXPECT_EQ(dev.vGetDiskPhysicalSize(static_cast<uint8_t>(bench.physicalDrive(1))), 512u);
    EXPECT_EQ(dev.vGetDiskPhysicalSize(99), DISK_SIZE_FAILED);

    EXPECT_EQ(dev.vGetPartitionCount(static_cast<uint8_t>(bench.physicalDrive(1))), 2);
    EXPECT_EQ(dev.vGetPartitionCount(static_cast<uint8_t>(bench.physicalDrive(3))), 1);
    EXPECT_EQ(dev.vGetPartitionCount(static_cast<uint8_t>(bench.physicalDrive(2))), PARTITION_COUNT_NONE);
    EXPECT_EQ(dev.vGetPartitionCount(99), PARTITION_COUNT_NONE);
}

TEST_F(DiskQueries, FreeSpaceOfAFormattedAndOfAnUnformattedVolume)
{
    const uint64_t freeMiB = dev.vGetDiskFreeSpace(letterOf(1));
    EXPECT_GT(freeMiB, 290u);   // a fresh 300 MiB FAT32 volume, less its FATs
    EXPECT_LT(freeMiB, 300u);
    // A volume without a file system yet is all free: its own size, in MiB.
    EXPECT_EQ(dev.vGetDiskFreeSpace(letterOf(3)), 511u);
    EXPECT_EQ(dev.vGetDiskFreeSpace('Y'), DISK_FREE_SPACE_FAILED);
}

TEST_F(DiskQueries, DiskInformationOfARecord)
{
    struct Case {
        const char* what;
        std::string path;
        int result;
    } cases[] = {
        {"empty path", "", DISK_INFO_BAD_ARGUMENT},
        {"no such drive", "\\\\.\\PHYSICALDRIVE99", DISK_INFO_OPEN_FAILED},
    };
    for (const Case& c : cases) {
        DevInfo rec;
        EXPECT_EQ(dev.nObtainDiSKInfo(c.path, rec), c.result) << c.what;
        EXPECT_EQ(rec.m_ullCapacity, DEV_CAPACITY_UNKNOWN) << c.what;
    }
    // Every case starts from another drive's texts and a known capacity: a
    // drive that cannot be identified keeps neither.
    auto dirty = [&](int port) {
        DevInfo rec = record(port);
        rec.m_strHDDSN = "OTHER-DRIVE-SN";
        rec.m_strHDDFW = "OTHERFW";
        rec.m_ullCapacity = DEV_CAPACITY_UNKNOWN;
        std::memset(rec.m_dwDiskInfo, 0, sizeof rec.m_dwDiskInfo);
        rec.m_cDriveLetter = DEV_DRIVE_LETTER_NONE;
        return rec;
    };
    auto pathOf = [](const DevInfo& rec) { return strDrivePath(DriveKind::PhysicalDrive, rec.m_ucPhysicalAddress); };

    DevInfo unknown = dirty(1);
    unknown.m_ucDevType = DEV_TYPE_UNKNOWN;
    EXPECT_EQ(dev.nObtainDiSKInfo(pathOf(unknown), unknown), DISK_INFO_BAD_ARGUMENT);

    // The disk does not answer its identify command.
    addFault(bench, 2, bench::FaultKind::Check, {0xE6}, 4);
    DevInfo silent = dirty(2);
    EXPECT_EQ(dev.nObtainDiSKInfo(pathOf(silent), silent), DISK_INFO_IDENTIFY_FAILED);

    DevInfo missing = dirty(3);
    EXPECT_EQ(dev.nObtainDiSKInfo("\\\\.\\PHYSICALDRIVE99", missing), DISK_INFO_OPEN_FAILED);

    for (const DevInfo* rec : {&unknown, &silent, &missing}) {
        EXPECT_TRUE(rec->m_strHDDSN.empty());
        EXPECT_TRUE(rec->m_strHDDFW.empty());
        EXPECT_EQ(rec->m_ullCapacity, DEV_CAPACITY_UNKNOWN);
        EXPECT_EQ(rec->m_dwDiskInfo[2], 0u);
        EXPECT_EQ(rec->m_cDriveLetter, DEV_DRIVE_LETTER_NONE);
    }

    DevInfo known = dirty(1);
    EXPECT_EQ(dev.nObtainDiSKInfo(pathOf(known), known), DISK_INFO_OK);
    EXPECT_NE(known.m_strHDDSN, "OTHER-DRIVE-SN");
    EXPECT_FALSE(known.m_strHDDSN.empty());
    EXPECT_EQ(known.m_ullCapacity, 512ULL << 20);
    EXPECT_EQ(known.m_dwDiskInfo[2], 512u);
    EXPECT_STREQ(reinterpret_cast<const char*>(known.m_ucDiskInfoBuf), "Fixed hard disk media.");
}

// ---- raw sectors -------------------------------------------------------------------

class RawSectors : public ScannedBench {
protected:
    RawSectors() : ScannedBench(drives(2), layouts({"raw:rest", "raw:rest"})) {}

    std::vector<uint8_t> readBack(char letter, uint64_t sector, uint32_t bytes)
    {
        std::vector<uint8_t> data(bytes);
        EXPECT_TRUE(dev.vReadSectors(letter, data.data(), sector, bytes));
        return data;
    }
};

TEST_F(RawSectors, AByteCountIsWrittenAsWholeSectorsPaddedWithZeros)
{
    const char cLetter = letterOf(1);
    std::vector<uint8_t> fill(1536, 0xAA);
    ASSERT_TRUE(dev.vWriteSectors(cLetter, fill.data(), 100, 1536));
    std::vector<uint8_t> data(1000, 0x11);
    ASSERT_TRUE(dev.vWriteSectors(cLetter, data.data(), 100, 1000));

    const std::vector<uint8_t> back = readBack(cLetter, 100, 1536);
    EXPECT_EQ(std::count(back.begin(), back.begin() + 1000, 0x11), 1000);
    EXPECT_EQ(std::count(back.begin() + 1000, back.begin() + 1024, 0x00), 24);
    EXPECT_EQ(std::count(back.begin() + 1024, back.end(), 0xAA), 512);
}

TEST_F(RawSectors, ReadGivesTheCallerItsByteCountAndNoMore)
{
    std::vector<uint8_t> buffer(700, 0xEE);
    ASSERT_TRUE(dev.vReadSectors(letterOf(1), buffer.data(), 0, 600));
    EXPECT_EQ(std::count(buffer.begin() + 600, buffer.end(), 0xEE), 100);
}

TEST_F(RawSectors, AlignedAndUnalignedBuffersMoveTheSameBytes)
{
    // Whole sectors from aligned memory move in place; an odd address or
    // byte count goes through a copy. Either way the disk and the caller
    // see the same bytes, at the right place.
    struct Case {
        size_t shift;     // from a page boundary
        uint32_t bytes;
    } cases[] = {{0, 2048}, {8, 2048}, {0, 1000}, {8, 1000}};
    const char cLetter = letterOf(1);
    std::vector<uint8_t> memory(4096 * 3);
    uint8_t* const page = memory.data() + (4096 - reinterpret_cast<uintptr_t>(memory.data()) % 4096) % 4096;
    uint64_t sector = 200;
    uint8_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.shift) + " + " + std::to_string(c.bytes));
        uint8_t* const buffer = page + c.shift;
        for (uint32_t i = 0; i < c.bytes; ++i)
            buffer[i] = static_cast<uint8_t>(seed + i * 13);
        ASSERT_TRUE(dev.vWriteSectors(cLetter, buffer, sector, c.bytes));
        const std::vector<uint8_t> expected(buffer, buffer + c.bytes);

        std::memset(page, 0xEE, 4096 * 2);
        ASSERT_TRUE(dev.vReadSectors(cLetter, buffer, sector, c.bytes));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer));
        EXPECT_EQ(std::count(page, buffer, 0xEE), static_cast<long>(c.shift));
        EXPECT_EQ(std::count(buffer + c.bytes, page + 4096 * 2, 0xEE), static_cast<long>(4096 * 2 - c.shift - c.bytes));
        EXPECT_EQ(readBack(cLetter, sector, c.bytes), expected);
        sector += 8;
        seed += 50;
    }
}

TEST_F(RawSectors, WritesReachOnlyVolumesOfTheTablesDrives)
{
    std::vector<uint8_t> data(512, 0x5A);
    EXPECT_FALSE(dev.vWriteSectors('C', data.data(), 0, 512));
    EXPECT_FALSE(dev.vWriteSectors('c', data.data(), 0, 512));
    EXPECT_TRUE(bench.capture().contains("It will damage System"));

    // Drive 2 leaves the table: its volume is nobody's drive any more.
    const char cOther = letterOf(2);
    record(2).m_ucPortIndex = DEV_PORT_INDEX_EMPTY;
    const std::vector<uint8_t> before = readBack(cOther, 8, 512);
    EXPECT_FALSE(dev.vWriteSectors(cOther, data.data(), 8, 512));
    EXPECT_EQ(readBack(cOther, 8, 512), before);
}

// ---- speed test ------------------------------------------------------------------------

class SpeedTest : public ScannedBench {
protected:
    SpeedTest() : ScannedBench(drives(2), layouts({"fat32:rest:ONE", "fat32:rest:TWO"})) {}

    // The test area of code 0 and 4 MiB: 1 MiB at sector 0x41000.
    static constexpr uint64_t kArea = SPEED_TEST_AREA_0;
    static constexpr uint32_t kLength = 1 << 20;

    std::vector<uint8_t> area(char letter)
    {
        std::vector<uint8_t> data(kLength);
        EXPECT_TRUE(dev.vReadSectors(letter, data.data(), kArea, kLength));
        return data;
    }
    void fillArea(char letter)
    {
        std::vector<uint8_t> data(kLength);
        for (uint32_t i = 0; i < kLength; ++i)
            data[i] = static_cast<uint8_t>(i * 7 + i / 512);
        ASSERT_TRUE(dev.vWriteSectors(letter, data.data(), kArea, kLength));
    }
};

TEST_F(SpeedTest, ReportsTheSpeedsItMeasuredOnEachDrive)
{
    TimedDiskPlatform timed(bench);
    // 1 MiB moves in whole milliseconds at these rates.
    timed.setRate(record(1).m_ucPhysicalAddress, {125ULL << 20, 50ULL << 20});
    timed.setRate(record(2).m_ucPhysicalAddress, {200ULL << 20, 100ULL << 20});

    for (int port : {1, 2}) {
        SCOPED_TRACE("port " + std::to_string(port));
        const DiskRate rate = timed.rateOf(record(port).m_ucPhysicalAddress);
        double dRead = -1;
        double dWrite = -1;
        ASSERT_EQ(dev.vReadWriteSpeedTest(letterOf(port), DiskInfoBlock::of(record(port)), dRead, dWrite, 0, 4),
                  SPEED_TEST_OK);
        EXPECT_DOUBLE_EQ(dRead, static_cast<double>(rate.readBytesPerSecond >> 20));
        EXPECT_DOUBLE_EQ(dWrite, static_cast<double>(rate.writeBytesPerSecond >> 20));
    }
}

TEST_F(SpeedTest, AreaCodesAndTheBlockWithoutASectorSize)
{
    struct Case {
        uint8_t area;
        uint64_t sector;
    } cases[] = {{0, SPEED_TEST_AREA_0}, {1, SPEED_TEST_AREA_1}, {2, SPEED_TEST_AREA_OTHER}, {7, SPEED_TEST_AREA_OTHER}};
    for (const Case& c : cases) {
        double dRead = 0;
        double dWrite = 0;
        ASSERT_EQ(dev.vReadWriteSpeedTest(letterOf(1), DiskInfoBlock::of(record(1)), dRead, dWrite, c.area, 1),
                  SPEED_TEST_OK);
        const std::string line = "dwlWriteLocationSector : " + std::to_string(c.sector);
        EXPECT_TRUE(bench.capture().contains(line)) << int(c.area);
    }
    DiskInfoBlock noSectorSize = DiskInfoBlock::of(record(1));
    noSectorSize.m_dwDiskInfo[2] = 0;
    double dRead = 0;
    double dWrite = 0;
    EXPECT_EQ(dev.vReadWriteSpeedTest(letterOf(1), noSectorSize, dRead, dWrite, 0, 1), SPEED_TEST_NO_SECTOR_SIZE);
}

TEST_F(SpeedTest, WhateverFailsTheAreaGetsItsBytesBack)
{
    // Transfers over the test area, in the test's order: per pass the backup
    // (two reads), the pattern (two writes), the read-back (two reads), the
    // restore (two writes).
    struct Case {
        const char* what;
        uint8_t opcode;   // 0x88 read, 0x8A write
        uint32_t after;   // such transfers over the area let through first
        const char* line;
    } cases[] = {
        {"backup read fails", 0x88, 0, "1ST::backup data Fail"},
        {"first pattern write fails", 0x8A, 0, "OD R/W Test , TestCount[0], Fail"},
        {"read-back fails", 0x88, 2, "OD R/W Test , TestCount[0], Fail"},
        {"timed pattern write fails", 0x8A, 5, "OD R/W Test , TestCount[1], Fail"},
        {"timed read-back fails", 0x88, 7, "OD R/W Test , TestCount[1], Fail"},
    };
    TimedDiskPlatform timed(bench);   // so a test that ran on would measure speeds
    const char cLetter = letterOf(1);
    std::vector<DiskExtent> extents;
    ASSERT_TRUE(Platform::current().volumes().diskExtents(cLetter, extents));
    const uint64_t areaOnDisk = extents[0].startingOffset + kArea * 512;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fillArea(cLetter);
        const std::vector<uint8_t> before = area(cLetter);
        bench::Fault fault;
        fault.kind = bench::FaultKind::Fail;
        fault.cdbPrefix = {c.opcode};
        fault.after = c.after;
        fault.offset = areaOnDisk + 4096;
        std::string outcome;
        ASSERT_TRUE(bench.devices().addFault(1, fault, outcome)) << outcome;

        double dRead = 7;
        double dWrite = 7;
        const size_t linesBefore = bench.capture().lines().size();
        EXPECT_EQ(dev.vReadWriteSpeedTest(cLetter, DiskInfoBlock::of(record(1)), dRead, dWrite, 0, 4), SPEED_TEST_OK);
        const std::vector<std::string> lines = bench.capture().lines();
        EXPECT_TRUE(std::any_of(lines.begin() + static_cast<long>(linesBefore), lines.end(),
                                [&](const std::string& l) { return l.find(c.line) != std::string::npos; }));
        EXPECT_EQ(dRead, 0.0);   // a test that stopped measured nothing
        EXPECT_EQ(dWrite, 0.0);
        EXPECT_TRUE(area(cLetter) == before);
        bench.devices().clearFaults(1, outcome);
    }
}

TEST_F(SpeedTest, AFailedRestoreIsReportedAsSuch)
{
    const char cLetter = letterOf(1);
    std::vector<DiskExtent> extents;
    ASSERT_TRUE(Platform::current().volumes().diskExtents(cLetter, extents));
    bench::Fault fault;
    fault.kind = bench::FaultKind::Fail;
    fault.cdbPrefix = {0x8A};
    fault.after = 2;   // the pattern is written, its restore fails
    fault.offset = extents[0].startingOffset + kArea * 512;
    std::string outcome;
    ASSERT_TRUE(bench.devices().addFault(1, fault, outcome)) << outcome;

    double dRead = 0;
    double dWrite = 0;
    EXPECT_EQ(dev.vReadWriteSpeedTest(cLetter, DiskInfoBlock::of(record(1)), dRead, dWrite, 0, 4),
              SPEED_TEST_RESTORE_FAILED);
    EXPECT_TRUE(bench.capture().contains("recovery data Fail"));
    const std::vector<uint8_t> left = area(cLetter);
    EXPECT_EQ(std::count(left.begin(), left.end(), SPEED_TEST_PATTERN), static_cast<long>(kLength));
}

}  // namespace
}  // namespace krv::test
