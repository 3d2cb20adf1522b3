// Partitioning a bench drive: the four scripts byte for byte, diskpart's
// effect on the disk's table, the MBR adjustment, and the drives the step
// never touches.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "device/KrvnUSBDev.h"
#include "format/Fat32Format.h"
#include "platform/bench/bridge/Faults.h"
#include "platform/bench/disk/PartitionTable.h"
#include "tests/format/FormatCheckers.h"
#include "tests/format/PartitionBenchSupport.h"

namespace krv::test {
namespace {

constexpr uint64_t MiB = 1ull << 20;

TEST(DiskPartScript, TheFourTemplatesByteForByte)
{
    EXPECT_EQ(strDiskPartScript(3, 'E', PARTITION_STYLE_MBR, 0),
              " list disk\n select disk 3\n online disk noerr \n attributes disk clear readonly noerr \n clean \n"
              "convert mbr \ncreate partition primary \n select partition 1\n assign letter=E\n");
    EXPECT_EQ(strDiskPartScript(3, 'E', PARTITION_STYLE_MBR, 2),
              " list disk\n select disk 3\n online disk noerr \n attributes disk clear readonly noerr \n clean \n"
              "convert mbr \ncreate partition primary offset=2048 \n select partition 1\n assign letter=E\n");
    EXPECT_EQ(strDiskPartScript(12, 'Q', PARTITION_STYLE_GPT, 0),
              " list disk\n select disk 12\n online disk noerr \n clean \n convert gpt\ncreate partition primary \n"
              " select partition 2\n assign letter=Q\n");
    EXPECT_EQ(strDiskPartScript(12, 'Q', PARTITION_STYLE_GPT, 100),
              " list disk\n select disk 12\n online disk noerr \n clean \n convert gpt\ncreate partition primary "
              "offset=102400 \n select partition 2\n assign letter=Q\n");
    EXPECT_EQ(strDiskPartScriptName(7), "DiskPartTarget7.sc");
}

TEST(DiskPartScript, DriveZeroIsRefusedAndAnOldScriptIsReplaced)
{
    DebugLevel level;
    TempDir dir;
    InFolder here(dir.path());
    TestPlatform platform;
    CFat32Format format(g_UsbDev);
    EXPECT_FALSE(format.vSetDiskPartSetupInfo('E', 0, PARTITION_STYLE_MBR, 0));
    EXPECT_TRUE(platform.capture().contains("ucPhysicalAddress is invalid, m_ucPhysicalAddress : 0"));
    EXPECT_FALSE(std::filesystem::exists("DiskPartTarget0.sc"));

    std::ofstream("DiskPartTarget2.sc") << "select disk 0\nclean\nsome longer text that must not survive\n";
    ASSERT_TRUE(format.vSetDiskPartSetupInfo('F', 2, PARTITION_STYLE_GPT, 0));
    std::stringstream text;
    text << std::ifstream("DiskPartTarget2.sc").rdbuf();
    EXPECT_EQ(text.str(), strDiskPartScript(2, 'F', PARTITION_STYLE_GPT, 0));
}

TEST(MbrAdjustment, CasesOfTheFirstEntry)
{
    auto sector = [](uint8_t boot, uint8_t type, uint32_t start, uint32_t count) {
        std::vector<uint8_t> s(512, 0);
        s[0x1BE] = boot;
        s[0x1BE + 4] = type;
        for (int i = 0; i < 4; ++i) {
            s[0x1C6 + i] = static_cast<uint8_t>(start >> (8 * i));
            s[0x1CA + i] = static_cast<uint8_t>(count >> (8 * i));
        }
        s[510] = 0x55;
        s[511] = 0xAA;
        return s;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> mbr;
        uint64_t diskSize;
        uint32_t bps;
        bool changed;
        uint32_t start, count;
    } cases[] = {
        {"active at 63 moves to 64", sector(0x80, 0x07, 63, 2000000), 1ull << 30, 512, true, 64, 1999936},
        {"not active, small disk", sector(0x00, 0x07, 63, 2000000), 1ull << 30, 512, false, 63, 2000000},
        {"aligned, small disk", sector(0x00, 0x07, 2048, 1000), 1ull << 30, 512, false, 2048, 1000},
        {"4K sectors over 2 TiB", sector(0x00, 0x07, 256, 100), 3ull << 40, 4096, true, 256,
         static_cast<uint32_t>(((3ull << 40) / 4096 - 256) & ~63ull)},
        {"512 over 2 TiB keeps the most 32 bits hold", sector(0x00, 0x07, 2048, 100), 3ull << 40, 512, true, 2048,
         0xFFFFFFC0u},
        {"protective MBR untouched", sector(0x00, 0xEE, 1, 0xFFFFFFFF), 3ull << 40, 512, false, 1, 0xFFFFFFFF},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bAdjustMbrSector(c.mbr, c.diskSize, c.bps), c.changed);
        EXPECT_EQ(le32At(c.mbr, 0x1C6), c.start);
        EXPECT_EQ(le32At(c.mbr, 0x1CA), c.count);
    }
}

struct LayoutCase {
    const char* name;
    uint8_t style;
    uint32_t offsetMB;
    uint64_t start;          // bytes
    int partitionCount;
};

class PartitionAndFat32 : public ::testing::TestWithParam<LayoutCase> {};

// The four scripts on a bench drive, then the FAT32 writer on the volume
// they made: the table is what the script asks, the volume is FAT32 with
// the label and passes fsck.fat.
TEST_P(PartitionAndFat32, TableIsWhatTheScriptAsksAndTheVolumePassesTheChecker)
{
    const LayoutCase& c = GetParam();
    DebugLevel level;
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({1ull << 30}));
    const int drive = bench.physicalDrive(1);
    ASSERT_GT(drive, 0);
    CFat32Format format(g_UsbDev);
    ASSERT_TRUE(format.vCreatePartition('E', static_cast<uint8_t>(drive), c.style, 512, c.offsetMB))
        << bench.capture().joined();
    EXPECT_FALSE(std::filesystem::exists(strDiskPartScriptName(drive))) << "the script is deleted";
    EXPECT_EQ(g_UsbDev.m_bOpen, 1);

    auto layout = bench.bench().devices().disks().layout(1);
    ASSERT_TRUE(layout);
    ASSERT_EQ(static_cast<int>(layout->partitions.size()), c.style == PARTITION_STYLE_GPT ? 2 : 4);
    const PartitionInfo& data = layout->partitions[c.style == PARTITION_STYLE_GPT ? 1 : 0];
    EXPECT_EQ(data.startingOffset, c.start);
    if (c.style == PARTITION_STYLE_GPT) {
        EXPECT_EQ(layout->style, PartitionStyle::Gpt);
        EXPECT_EQ(layout->partitions[0].gptType, bench::kGptMicrosoftReserved);
        EXPECT_EQ(data.gptType, bench::kGptBasicData);
    }
    std::vector<DiskExtent> extents;
    ASSERT_TRUE(Platform::current().volumes().diskExtents('E', extents));
    EXPECT_EQ(extents[0].startingOffset, c.start);

    ASSERT_TRUE(format.vLowLevelFormatTracks(static_cast<uint8_t>(drive), FORMAT_TYPE_FAT32, "KRVTEST", c.style, 'E'))
        << bench.capture().joined();
    VolumeInformation info;
    ASSERT_TRUE(Platform::current().volumes().volumeInformation('E', info));
    EXPECT_EQ(info.fileSystem, "FAT32");
    EXPECT_EQ(info.label, "KRVTEST");
    const std::string image = bench.portFolder(1) + "/disk.img";
    if (c.style == PARTITION_STYLE_MBR)
        EXPECT_EQ(imageBytes(image, 0x1BE + 4, 1)[0], 0x0C) << "the FAT32 writer sets the type";
    const std::string volume = work.file("volume.img");
    ASSERT_TRUE(extractRegion(image, data.startingOffset, data.length, volume));
    ToolRun fsck = fsckFat(volume);
    EXPECT_EQ(fsck.exitCode, 0) << fsck.out << fsck.err;
    EXPECT_EQ(le32At(imageBytes(volume, 0, 512), 28), c.start / 512) << "hidden sectors";
}

INSTANTIATE_TEST_SUITE_P(Scripts, PartitionAndFat32,
                         ::testing::Values(LayoutCase{"Mbr", PARTITION_STYLE_MBR, 0, MiB, 1},
                                           LayoutCase{"MbrOffset", PARTITION_STYLE_MBR, 4, 4 * MiB, 1},
                                           LayoutCase{"Gpt", PARTITION_STYLE_GPT, 0, 17 * MiB, 2},
                                           LayoutCase{"GptOffset", PARTITION_STYLE_GPT, 32, 32 * MiB, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// diskpart on the bench refuses what it cannot do and changes nothing.
TEST(BenchDiskPart, BadScriptsFailWithNothingChanged)
{
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({1ull << 30}));
    const int drive = bench.physicalDrive(1);
    const std::string image = bench.portFolder(1) + "/disk.img";
    const std::string good = strDiskPartScript(drive, 'E', PARTITION_STYLE_MBR, 0);
    struct Case {
        const char* name;
        std::string script;
    } cases[] = {
        {"unknown line", good + " format fs=ntfs quick\n"},
        {"missing disk", strDiskPartScript(9, 'E', PARTITION_STYLE_MBR, 0)},
        {"system disk", strDiskPartScript(0, 'E', PARTITION_STYLE_MBR, 0)},
        {"letter of the system", strDiskPartScript(drive, 'C', PARTITION_STYLE_MBR, 0)},
        {"offset past the end", strDiskPartScript(drive, 'E', PARTITION_STYLE_MBR, 4096)},
    };
    const std::vector<uint8_t> systemBefore = imageBytes(bench.folder() + "/system/disk.img", 0, 512);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream("s.sc") << c.script;
        ConsoleResult run = Platform::current().consolePrograms().run(ConsoleCommand("diskpart.exe", {"/s", "s.sc"}));
        EXPECT_TRUE(run.started && run.finished);
        EXPECT_NE(run.exitCode, 0u) << run.output;
        EXPECT_EQ(imageBytes(image, 0, 512), std::vector<uint8_t>(512, 0)) << "the drive is as it was";
        EXPECT_EQ(imageBytes(bench.folder() + "/system/disk.img", 0, 512), systemBefore);
    }
    std::ofstream("s.sc") << good;
    EXPECT_EQ(Platform::current().consolePrograms().run(ConsoleCommand("diskpart", {"/s", "s.sc"})).exitCode, 0u);
}

TEST(Partition, SystemDiskIsNeverPartitioned)
{
    DebugLevel level;
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({1ull << 30}));
    const std::vector<uint8_t> before = imageBytes(bench.folder() + "/system/disk.img", 0, 512);
    CFat32Format format(g_UsbDev);
    EXPECT_FALSE(format.vCreatePartition('E', 0, PARTITION_STYLE_MBR, 512, 0));
    EXPECT_EQ(imageBytes(bench.folder() + "/system/disk.img", 0, 512), before);
    EXPECT_FALSE(std::filesystem::exists("DiskPartTarget0.sc"));
}

TEST(Partition, DiskPartThatFailsEveryTryFailsTheStep)
{
    DebugLevel level;
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({1ull << 30}));
    CFat32Format format(g_UsbDev);
    // Drive 5 does not exist: diskpart refuses the script three times.
    EXPECT_FALSE(format.vCreatePartition('E', 5, PARTITION_STYLE_MBR, 512, 0));
    EXPECT_TRUE(bench.capture().contains("vCreatePartition: ucPhysicalAddress[5] PartitionParam: /s DiskPartTarget5.sc Fail"));
    EXPECT_FALSE(std::filesystem::exists("DiskPartTarget5.sc"));
}

TEST(FileSystemCapacity, EightTiBAndAboveIsNtfsOnly)
{
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({(8ull << 40) - MiB, 8ull << 40}));
    CFat32Format format(g_UsbDev);
    EXPECT_EQ(format.vCheckFileSystemCapacity(static_cast<uint8_t>(bench.physicalDrive(1))), FS_CAPACITY_ANY);
    EXPECT_EQ(format.vCheckFileSystemCapacity(static_cast<uint8_t>(bench.physicalDrive(2))), FS_CAPACITY_NTFS_ONLY);
    EXPECT_EQ(format.vCheckFileSystemCapacity(9), FS_CAPACITY_UNKNOWN);
}

}  // namespace
}  // namespace krv::test

namespace krv::test {
namespace {

// A disk that fails a write in its FAT area fails the port's format with
// the writer's log line; the next drive, formatted after it, is untouched
// by the fault and passes.
TEST(FormatFault, WriteFaultFailsThisDriveOnly)
{
    DebugLevel level;
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({1ull << 30, 1ull << 30}));
    const uint8_t first = static_cast<uint8_t>(bench.physicalDrive(1));
    const uint8_t second = static_cast<uint8_t>(bench.physicalDrive(2));
    CFat32Format format(g_UsbDev);
    ASSERT_TRUE(format.vCreatePartition('E', first, PARTITION_STYLE_MBR, 512, 0));
    ASSERT_TRUE(format.vCreatePartition('F', second, PARTITION_STYLE_MBR, 512, 0));
    const std::vector<uint8_t> secondBefore = imageBytes(bench.portFolder(2) + "/disk.img", 0, 1 << 20);

    bench::Fault fault;
    fault.kind = bench::FaultKind::Fail;
    fault.count = 100;
    fault.offset = MiB + 64 * 1024;   // the first FAT of the volume at 1 MiB
    std::string outcome;
    ASSERT_TRUE(bench.devices().addFault(1, fault, outcome)) << outcome;

    EXPECT_FALSE(format.vLowLevelFormatTracks(first, FORMAT_TYPE_FAT32, "KRVTEST", PARTITION_STYLE_MBR, 'E'));
    EXPECT_TRUE(bench.capture().contains("vZeroSectors: WriteFile Fail , dwNumberOfBytesToWrite"));
    EXPECT_TRUE(bench.capture().contains("vLowLevelFormatTracks: bFormatVolume Fail , ucPhysicalAddress:[" +
                                         std::to_string(first) + "]"));
    EXPECT_EQ(imageBytes(bench.portFolder(2) + "/disk.img", 0, 1 << 20), secondBefore);

    ASSERT_TRUE(format.vLowLevelFormatTracks(second, FORMAT_TYPE_FAT32, "KRVTEST", PARTITION_STYLE_MBR, 'F'));
    VolumeInformation info;
    ASSERT_TRUE(Platform::current().volumes().volumeInformation('F', info));
    EXPECT_EQ(info.fileSystem + " " + info.label, "FAT32 KRVTEST");
}

// The step formats only a volume of the drive it was given.
TEST(FormatGuard, LetterOfAnotherDriveOrTheSystemIsRefused)
{
    DebugLevel level;
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({1ull << 30, 1ull << 30}));
    const uint8_t first = static_cast<uint8_t>(bench.physicalDrive(1));
    const uint8_t second = static_cast<uint8_t>(bench.physicalDrive(2));
    CFat32Format format(g_UsbDev);
    ASSERT_TRUE(format.vCreatePartition('E', first, PARTITION_STYLE_MBR, 512, 0));
    EXPECT_FALSE(format.vLowLevelFormatTracks(second, FORMAT_TYPE_FAT32, "X", PARTITION_STYLE_MBR, 'E'));
    EXPECT_FALSE(format.vLowLevelFormatTracks(0, FORMAT_TYPE_FAT32, "X", PARTITION_STYLE_MBR, 'C'));
    EXPECT_TRUE(bench.capture().contains("vLowLevelFormatTracks: Pre-Check Fail , ucPhysicalAddress:[" +
                                         std::to_string(second) + "]"));
    VolumeInformation info;
    EXPECT_FALSE(Platform::current().volumes().volumeInformation('E', info)) << "E: stays unformatted";
}

// A drive of 4096-byte sectors formatted FAT32 by the step gets the cluster
// bytes a drive of 512-byte sectors of its size gets (8 KiB below 140,288
// MiB), not the table's sector count in its larger sectors, and the volume
// passes fsck.fat.
TEST(FormatFourK, Fat32ClustersAreTheTablesBytes)
{
    DebugLevel level;
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({8ull << 30}, 4096));
    const uint8_t drive = static_cast<uint8_t>(bench.physicalDrive(1));
    CFat32Format format(g_UsbDev);
    ASSERT_TRUE(format.vCreatePartition('E', drive, PARTITION_STYLE_MBR, 4096, 0)) << bench.capture().joined();
    ASSERT_TRUE(format.vLowLevelFormatTracks(drive, FORMAT_TYPE_FAT32, "KRV4K", PARTITION_STYLE_MBR, 'E'))
        << bench.capture().joined();
    auto layout = bench.devices().disks().layout(1);
    ASSERT_TRUE(layout && !layout->partitions.empty());
    const PartitionInfo& data = layout->partitions[0];
    const std::string image = bench.portFolder(1) + "/disk.img";
    const std::vector<uint8_t> boot = imageBytes(image, data.startingOffset, 512);
    EXPECT_EQ(boot[11] | boot[12] << 8, 4096);
    EXPECT_EQ(boot[13], 2) << "8 KiB clusters";
    const std::string volume = work.file("volume.img");
    ASSERT_TRUE(extractRegion(image, data.startingOffset, data.length, volume));
    ToolRun fsck = fsckFat(volume);
    EXPECT_EQ(fsck.exitCode, 0) << fsck.out << fsck.err;
}

}  // namespace
}  // namespace krv::test
