// NTFS and exFAT through format.com and the label on bench drives of both
// sector sizes, partitioned by diskpart: every volume passes its own file
// system's checker, carries the file system and label asked for (read from
// its bytes by the file system's own tools), and a drive of 8 TiB or more
// gets NTFS whatever the setting says.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>

#include "device/KrvnUSBDev.h"
#include "format/Fat32Format.h"
#include "platform/bench/BenchConsolePrograms.h"
#include "tests/format/FormatCheckers.h"
#include "tests/format/PartitionBenchSupport.h"

namespace krv::test {
namespace {

constexpr uint64_t MiB = 1ull << 20, GiB = 1ull << 30, TiB = 1ull << 40;

struct FileSystemCase {
    const char* name;
    uint64_t diskSize;
    uint32_t sectorSize;
    uint8_t style;
    uint8_t formatType;      // the setting format_drive_type
    const char* label;
    const char* fileSystem;  // what the volume must report
};

const FileSystemCase kCases[] = {
    {"Ntfs512Mbr1GiB", GiB, 512, PARTITION_STYLE_MBR, FORMAT_TYPE_NTFS, "KRVTEST", "NTFS"},
    {"Ntfs4KGpt64GiBLongestLabel", 64 * GiB, 4096, PARTITION_STYLE_GPT, FORMAT_TYPE_NTFS,
     "A label of thirty-two characters", "NTFS"},
    {"Exfat512Mbr1GiB", GiB, 512, PARTITION_STYLE_MBR, FORMAT_TYPE_EXFAT, "Shipping 01", "exFAT"},
    {"Exfat4KMbr256MiB", 256 * MiB, 4096, PARTITION_STYLE_MBR, FORMAT_TYPE_EXFAT, "krv", "exFAT"},
    {"Exfat512Gpt3TiB", 3 * TiB, 512, PARTITION_STYLE_GPT, FORMAT_TYPE_EXFAT, "BIG", "exFAT"},
    {"Exfat4KMbrBelow8TiB", 8 * TiB - MiB, 4096, PARTITION_STYLE_MBR, FORMAT_TYPE_EXFAT, "EDGE", "exFAT"},
    {"ExfatSettingAt8TiBGivesNtfs", 8 * TiB, 512, PARTITION_STYLE_GPT, FORMAT_TYPE_EXFAT, "EIGHT", "NTFS"},
    {"Fat32SettingOn4KMbrAt8TiBGivesNtfs", 8 * TiB, 4096, PARTITION_STYLE_MBR, FORMAT_TYPE_FAT32, "EIGHT", "NTFS"},
    // The class's own FAT32 writer on a 4Kn bench drive, for comparison: no format.com.
    {"Fat32On4KGpt1GiB", GiB, 4096, PARTITION_STYLE_GPT, FORMAT_TYPE_FAT32, "KRV4K", "FAT32"},
};

void PrintTo(const FileSystemCase& c, std::ostream* os) { *os << c.name; }

class FileSystemSweepTest : public ::testing::TestWithParam<FileSystemCase> {};

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST_P(FileSystemSweepTest, VolumePassesItsCheckerWithTheFileSystemAndLabelAsked)
{
    const FileSystemCase& c = GetParam();
    DebugLevel level;
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({c.diskSize}, c.sectorSize));
    const uint8_t drive = static_cast<uint8_t>(bench.physicalDrive(1));
    CFat32Format format(g_UsbDev);
    ASSERT_TRUE(format.vCreatePartition('E', drive, c.style, c.sectorSize, 0)) << bench.capture().joined();
    ASSERT_TRUE(format.vLowLevelFormatTracks(drive, c.formatType, c.label, c.style, 'E')) << bench.capture().joined();

    VolumeInformation info;
    ASSERT_TRUE(Platform::current().volumes().volumeInformation('E', info));
    EXPECT_EQ(info.fileSystem, c.fileSystem);
    EXPECT_EQ(info.label, c.label);
    auto& console = dynamic_cast<bench::BenchConsolePrograms&>(bench.platform().consolePrograms());
    std::vector<std::vector<std::string>> formats;
    for (const bench::ConsoleCall& call : console.calls())
        if (call.program == "format.com")
            formats.push_back(call.args);
    const std::string fileSystem = c.fileSystem;
    if (fileSystem == "FAT32")
        EXPECT_TRUE(formats.empty());
    else
        EXPECT_EQ(formats, (std::vector<std::vector<std::string>>{{"E:/Q", "/FS:" + upper(fileSystem), "/y"}}));

    // The volume's bytes, judged by the file system's own tools.
    std::vector<DiskExtent> extents;
    ASSERT_TRUE(Platform::current().volumes().diskExtents('E', extents));
    const std::string volume = work.file("volume.img");
    ASSERT_TRUE(extractRegion(bench.portFolder(1) + "/disk.img", extents[0].startingOffset, extents[0].length,
                              volume));
    const std::vector<uint8_t> boot = imageBytes(volume, 0, 512);
    if (fileSystem == "NTFS") {
        ToolRun check = ntfsCheck(volume);
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
        EXPECT_EQ(ntfsLabel(volume), std::string(c.label) + "\n");
        EXPECT_EQ(uint32_t{boot[11]} | uint32_t{boot[12]} << 8, c.sectorSize) << "bytes per sector";
        EXPECT_EQ(le32At(boot, 28), extents[0].startingOffset / c.sectorSize) << "hidden sectors";
    } else if (fileSystem == "FAT32") {
        ToolRun check = fsckFat(volume);
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
        EXPECT_EQ(mtoolsLabel(volume), " Volume label is " + std::string(c.label) + "      \n");
        EXPECT_EQ(uint32_t{boot[11]} | uint32_t{boot[12]} << 8, c.sectorSize) << "bytes per sector";
    } else {
        ToolRun check = exfatCheck(volume);
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
        EXPECT_NE(exfatLabel(volume).find("label: " + std::string(c.label) + "\n"), std::string::npos)
            << exfatLabel(volume);
        EXPECT_EQ(1u << boot[108], c.sectorSize) << "bytes-per-sector shift";
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileSystemSweepTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A label the file system cannot hold (exFAT takes 11 characters) fails the
// label request and label.exe alike; label.exe's failure fails the attempt,
// and only then the second attempt formats again, with the same outcome.
TEST(FileSystemFormat, ExfatLabelTooLongFailsBothAttempts)
{
    DebugLevel level;
    TempDir work;
    InFolder here(work.path());
    BenchFixture bench(drives({GiB}));
    const uint8_t drive = static_cast<uint8_t>(bench.physicalDrive(1));
    CFat32Format format(g_UsbDev);
    ASSERT_TRUE(format.vCreatePartition('E', drive, PARTITION_STYLE_MBR, 512, 0));
    EXPECT_FALSE(format.vLowLevelFormatTracks(drive, FORMAT_TYPE_EXFAT, "TWELVE CHARS", PARTITION_STYLE_MBR, 'E'));
    auto& console = dynamic_cast<bench::BenchConsolePrograms&>(bench.platform().consolePrograms());
    std::vector<std::string> programs;
    for (const bench::ConsoleCall& call : console.calls())
        if (call.program != "diskpart.exe")
            programs.push_back(call.program + (call.exitCode == 0 ? " ok" : " failed"));
    EXPECT_EQ(programs,
              (std::vector<std::string>{"format.com ok", "label.exe failed", "format.com ok", "label.exe failed"}));
    EXPECT_TRUE(bench.capture().contains("vLowLevelFormatTracks: SetVolumeLabel Fail , strLogicalAddress: E:\\ , "
                                         "strDriveLabelName TWELVE CHARS"));
    EXPECT_TRUE(bench.capture().contains("vLowLevelFormatTracks: SetVolumeLabel , strLogicalAddress: E:\\ , "
                                         "strDriveLabelName TWELVE CHARS , bResult 0"));
    VolumeInformation info;
    ASSERT_TRUE(Platform::current().volumes().volumeInformation('E', info));
    EXPECT_EQ(info.fileSystem + "/" + info.label, "exFAT/");
}

}  // namespace
}  // namespace krv::test
