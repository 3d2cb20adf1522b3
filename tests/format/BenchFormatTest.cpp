// The bench's format, label and volume-label request as a program on the
// machine meets them: what they refuse with the disk untouched, a volume in
// use, a drive whose writes fail, the label rules per file system, and
// drives of 4096-byte sectors seen through the disk services.
#include <gtest/gtest.h>

#include "device/KrvnUSBDev.h"
#include "format/Fat32Format.h"
#include "platform/LastError.h"
#include "platform/bench/bridge/Faults.h"
#include "tests/format/FormatCheckers.h"
#include "tests/format/PartitionBenchSupport.h"

namespace krv::test {
namespace {

constexpr uint64_t MiB = 1ull << 20, GiB = 1ull << 30;

ConsoleResult run(const std::string& program, std::vector<std::string> args, const std::string& input = {})
{
    return Platform::current().consolePrograms().run(ConsoleCommand(program, std::move(args), input));
}

std::string fileSystemOf(char letter)
{
    VolumeInformation info;
    if (!Platform::current().volumes().volumeInformation(letter, info))
        return "RAW";
    return info.fileSystem + "/" + info.label;
}

// A bench drive with one partition, E:, and nothing on it yet.
struct PartitionedDrive {
    explicit PartitionedDrive(uint64_t size = GiB, uint32_t sectorSize = 512)
        : here(work.path()), bench(drives({size}, sectorSize))
    {
        drive = static_cast<uint8_t>(bench.physicalDrive(1));
        CFat32Format format(g_UsbDev);
        ok = format.vCreatePartition('E', drive, PARTITION_STYLE_MBR, sectorSize, 0);
    }
    std::string image() { return bench.portFolder(1) + "/disk.img"; }

    TempDir work;
    InFolder here;
    BenchFixture bench;
    uint8_t drive = 0;
    bool ok = false;
};

TEST(BenchFormat, WhatFormatRefusesLeavesTheVolumeAsItWas)
{
    PartitionedDrive d;
    ASSERT_TRUE(d.ok);
    const std::vector<uint8_t> before = imageBytes(d.image(), MiB, 64 * 1024);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string input;
        uint32_t exitCode;
        const char* says;
    } cases[] = {
        {"no quick format", {"E:", "/FS:NTFS", "/y"}, "", 1, "Only a quick format"},
        {"a file system it does not make", {"E:/Q", "/FS:FAT32", "/y"}, "", 1, "Invalid parameter - /FS:FAT32"},
        {"no drive", {"/Q", "/FS:NTFS", "/y"}, "", 1, "Required parameter missing"},
        {"no such volume", {"Q:/Q", "/FS:NTFS", "/y"}, "", 4, "Invalid drive: no volume has that letter."},
        {"the question answered no", {"E:/Q", "/FS:NTFS"}, "n\r\n", 5, "Proceed with Format (Y/N)?"},
        {"the question not answered", {"E:/Q", "/FS:EXFAT"}, "", 5, "Proceed with Format (Y/N)?"},
        {"the system volume", {"C:/Q", "/FS:NTFS", "/y"}, "", 4, "system volume"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ConsoleResult r = run("format.com", c.args, c.input);
        EXPECT_TRUE(r.started && r.finished);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        EXPECT_EQ(imageBytes(d.image(), MiB, 64 * 1024), before);
    }
    ConsoleResult yes = run("FORMAT", {"e:", "/fs:exfat", "/q"}, "Y\r\n");
    EXPECT_EQ(yes.exitCode, 0u) << yes.output;
    EXPECT_EQ(fileSystemOf('E'), "exFAT/");
}

TEST(BenchFormat, AVolumeInUseTakesNoFormatOrLabel)
{
    PartitionedDrive d;
    ASSERT_TRUE(d.ok);
    {
        std::unique_ptr<BlockDevice> open = Platform::current().blockDevices().openVolume('E', BlockAccess::Read);
        ASSERT_TRUE(open);
        ConsoleResult r = run("format.com", {"E:/Q", "/FS:NTFS", "/y"});
        EXPECT_EQ(r.exitCode, 4u);
        EXPECT_NE(r.output.find("Cannot lock current drive."), std::string::npos) << r.output;
        EXPECT_EQ(fileSystemOf('E'), "RAW");
    }
    ConsoleResult r = run("format.com", {"E:/Q", "/FS:NTFS", "/V:SHIP", "/y"});
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(fileSystemOf('E'), "NTFS/SHIP");
    // A volume someone holds alone takes no new label either.
    std::unique_ptr<BlockDevice> alone =
        Platform::current().blockDevices().openVolume('E', BlockAccess::ReadWrite, BlockShare::None);
    ASSERT_TRUE(alone);
    EXPECT_FALSE(Platform::current().volumes().setVolumeLabel('E', "OTHER"));
    EXPECT_EQ(lastError(), winerr::kSharingViolation);
    alone.reset();
    EXPECT_EQ(fileSystemOf('E'), "NTFS/SHIP");
}

TEST(BenchFormat, ADriveWhoseWritesFailFailsTheFormat)
{
    PartitionedDrive d;
    ASSERT_TRUE(d.ok);
    bench::Fault fault;
    fault.kind = bench::FaultKind::Fail;
    fault.count = 1000;
    fault.offset = MiB;            // the volume's boot sector
    fault.cdbPrefix = {0x8A};      // WRITE(16): reading it still works
    std::string outcome;
    ASSERT_TRUE(d.bench.devices().addFault(1, fault, outcome)) << outcome;
    ConsoleResult r = run("format.com", {"E:/Q", "/FS:NTFS", "/y"});
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_NE(r.output.find("Format failed. the write to the disk failed"), std::string::npos) << r.output;
    EXPECT_EQ(fileSystemOf('E'), "RAW");
}

// The label request per file system: what each holds, FAT's refused
// characters, and an empty label that removes it; the volume stays clean.
TEST(BenchFormat, VolumeLabelRulesPerFileSystem)
{
    struct Case {
        const char* what;
        uint8_t formatType;
        std::string label;
        uint32_t error;       // 0: set
        std::string reads;    // what the volume then reports
    } cases[] = {
        {"NTFS, 32 characters", FORMAT_TYPE_NTFS, "Thirty-two characters, just fits", 0, "NTFS/Thirty-two characters, just fits"},
        {"NTFS, 33 characters", FORMAT_TYPE_NTFS, "Thirty-three characters, too many", 154, "NTFS/"},
        {"exFAT keeps case", FORMAT_TYPE_EXFAT, "Line 7", 0, "exFAT/Line 7"},
        {"exFAT, 12 characters", FORMAT_TYPE_EXFAT, "Twelve chars", 154, "exFAT/"},
        {"FAT32 in capitals", FORMAT_TYPE_FAT32, "line 7", 0, "FAT32/LINE 7"},
        {"FAT32 refuses a dot", FORMAT_TYPE_FAT32, "V1.0", 123, "FAT32/START"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PartitionedDrive d;
        ASSERT_TRUE(d.ok);
        Volumes& volumes = Platform::current().volumes();
        EXPECT_FALSE(volumes.setVolumeLabel('E', "RAW")) << "no file system yet";
        EXPECT_EQ(lastError(), winerr::kUnrecognizedVolume);
        CFat32Format format(g_UsbDev);
        const char* start = c.formatType == FORMAT_TYPE_FAT32 ? "START" : "";
        ASSERT_TRUE(format.vLowLevelFormatTracks(d.drive, c.formatType, start, PARTITION_STYLE_MBR, 'E'));
        EXPECT_EQ(volumes.setVolumeLabel('E', c.label), c.error == 0);
        if (c.error) {
            EXPECT_EQ(lastError(), c.error);
        }
        EXPECT_EQ(fileSystemOf('E'), c.reads);

        std::vector<DiskExtent> extents;
        ASSERT_TRUE(volumes.diskExtents('E', extents));
        const std::string volume = d.work.file("volume.img");
        ASSERT_TRUE(extractRegion(d.image(), extents[0].startingOffset, extents[0].length, volume));
        ToolRun check = c.formatType == FORMAT_TYPE_NTFS    ? ntfsCheck(volume)
                        : c.formatType == FORMAT_TYPE_EXFAT ? exfatCheck(volume)
                                                            : fsckFat(volume);
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

        ASSERT_TRUE(volumes.setVolumeLabel('E', ""));
        EXPECT_EQ(fileSystemOf('E'), c.reads.substr(0, c.reads.find('/') + 1));
    }
}

// A 4Kn drive through the disk services: geometry, transfers in whole
// sectors, and diskpart's tables counted in 4096-byte sectors.
TEST(BenchFormat, FourKSectorDriveThroughTheDiskServices)
{
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({GiB}, 4096));
    const uint8_t drive = static_cast<uint8_t>(bench.physicalDrive(1));
    std::unique_ptr<BlockDevice> disk = Platform::current().blockDevices().openDisk(drive, BlockAccess::ReadWrite);
    ASSERT_TRUE(disk);
    DiskGeometry geometry;
    ASSERT_TRUE(disk->geometry(geometry));
    EXPECT_EQ(geometry.bytesPerSector, 4096u);
    std::vector<uint8_t> buffer(4096);
    size_t done = 0;
    EXPECT_FALSE(disk->read(512, buffer.data(), 512, done)) << "half a sector";
    EXPECT_EQ(lastError(), winerr::kInvalidParameter);
    EXPECT_TRUE(disk->read(4096, buffer.data(), 4096, done));
    disk.reset();

    CFat32Format format(g_UsbDev);
    ASSERT_TRUE(format.vCreatePartition('E', drive, PARTITION_STYLE_GPT, 4096, 0)) << bench.capture().joined();
    const std::string image = bench.portFolder(1) + "/disk.img";
    const std::vector<uint8_t> header = imageBytes(image, 4096, 92);
    EXPECT_EQ(std::string(header.begin(), header.begin() + 8), "EFI PART") << "the header at LBA 1";
    EXPECT_EQ(le32At(header, 40), 6u) << "first usable LBA: the entries take 4 sectors";
    auto layout = bench.devices().disks().layout(1);
    ASSERT_TRUE(layout);
    ASSERT_EQ(layout->partitions.size(), 2u);
    EXPECT_EQ(layout->partitions[0].startingOffset, 6u * 4096) << "the reserved partition";
    EXPECT_EQ(layout->partitions[1].startingOffset, 17 * MiB);
}

}  // namespace
}  // namespace krv::test
