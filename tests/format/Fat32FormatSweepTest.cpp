// The FAT32 writer over volume sizes and both sector sizes: every volume it
// writes must pass fsck.fat and take files with mtools; sizes that cannot
// be FAT32 are refused with nothing written.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "format/Fat32Format.h"
#include "device/KrvnUSBDev.h"
#include "tests/format/FormatCheckers.h"
#include "tests/format/ImageVolumePlatform.h"
#include "tests/support/TestPlatform.h"

namespace krv::test {
namespace {

constexpr uint64_t MiB = 1ull << 20;
constexpr uint64_t kFsckMostClusters = 1ull << 27;

struct SweepCase {
    const char* name;
    uint64_t sectors;
    uint32_t bytesPerSector;
    uint32_t askedClusterSectors;   // 0: the writer chooses by size
    uint32_t expectedClusterSectors; // 0: the format is refused
};

// The sizes where something changes: the writer's own cluster-size table
// (512 MiB, 8, 16 and 32 GiB, counted in whole MiB, so one sector more
// changes nothing and one MiB more does), the production step's (140,288,
// 280,576 and 562,176 MiB), the smallest and largest volumes FAT32 allows,
// sizes where the first guess of the FAT size is one sector short, and
// clusters asked larger than FAT's 32 KiB, which get 32 KiB.
const SweepCase kCases[] = {
    {"Below64KSectors", 65535, 512, 0, 0},
    {"TooFewClustersAtOneSector", 65536, 512, 0, 0},
    {"SmallestFat32", 66600, 512, 0, 1},
    {"ShortFirstGuess70101", 70101, 512, 0, 1},
    {"TableSizeOnTinyVolumeShrinks", 70101, 512, 16, 1},
    {"At512MiB", 512 * MiB / 512, 512, 0, 1},
    {"Above512MiBBySector", 512 * MiB / 512 + 1, 512, 0, 1},
    {"At513MiB", 513 * MiB / 512, 512, 0, 8},
    {"At8GiB", 8192 * MiB / 512, 512, 0, 8},
    {"Above8GiBBySector", 8192 * MiB / 512 + 1, 512, 0, 8},
    {"At8GiBPlus1MiB", 8193 * MiB / 512, 512, 0, 16},
    {"At16GiB", 16384 * MiB / 512, 512, 0, 16},
    {"Above16GiBBySector", 16384 * MiB / 512 + 1, 512, 0, 16},
    {"At16GiBPlus1MiB", 16385 * MiB / 512, 512, 0, 32},
    {"At32GiB", 32768 * MiB / 512, 512, 0, 32},
    {"Above32GiBBySector", 32768 * MiB / 512 + 1, 512, 0, 32},
    {"At32GiBPlus1MiB", 32769 * MiB / 512, 512, 0, 64},
    {"Disk8GiBTable", 8192 * MiB / 512, 512, 16, 16},
    {"Disk140288MiB", 140288 * MiB / 512, 512, 16, 16},
    {"Disk140288MiBPlus", 140288 * MiB / 512 + 1, 512, 32, 32},
    {"Disk280576MiB", 280576 * MiB / 512, 512, 32, 32},
    {"Disk280576MiBPlus", 280576 * MiB / 512 + 1, 512, 64, 64},
    {"Disk562176MiB", 562176 * MiB / 512, 512, 64, 64},
    {"Disk562176MiBPlus", 562176 * MiB / 512 + 1, 512, 64, 64},
    {"Asked64KiBClustersGets32KiB", 562176 * MiB / 512 + 1, 512, 128, 64},
    {"Below2TiB", 0xFFFFFFFEull, 512, 128, 64},
    {"Last32BitCount", 0xFFFFFFFFull, 512, 128, 0},
    {"At2TiB", 0x100000000ull, 512, 128, 0},
    {"Sector4K_TooFewClusters", 65536, 4096, 0, 0},
    {"Sector4K_Smallest", 66000, 4096, 0, 1},
    {"Sector4K_70101", 70101, 4096, 0, 1},
    {"Sector4K_512MiB", 512 * MiB / 4096, 4096, 0, 1},
    {"Sector4K_Above512MiB", 512 * MiB / 4096 + 1, 4096, 0, 1},
    {"Sector4K_At8GiBPlus1MiB", 8193 * MiB / 4096, 4096, 0, 2},
    {"Sector4K_At32GiBPlus1MiB", 32769 * MiB / 4096, 4096, 0, 8},
    {"Sector4K_8GiBTable", 8192 * MiB / 4096, 4096, 2, 2},
    {"Sector4K_140288MiBPlus", 140288 * MiB / 4096 + 1, 4096, 4, 4},
    {"Sector4K_562176MiBPlus", 562176 * MiB / 4096 + 1, 4096, 8, 8},
    {"Sector4K_Asked512KiBClustersGets32KiB", 562176 * MiB / 4096 + 1, 4096, 128, 8},
    {"Sector4K_Below2TiB", (2ull << 40) / 4096 - 1, 4096, 128, 8},
    {"Sector4K_Above2TiB", (2ull << 40) / 4096 + 1, 4096, 128, 8},
    {"Sector4K_Below8TiB", (8ull << 40) / 4096 - 1, 4096, 128, 8},
    {"Sector4K_Above8TiB", (8ull << 40) / 4096 + 1, 4096, 128, 8},
};

class Fat32SweepTest : public ::testing::TestWithParam<SweepCase> {};

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

std::vector<uint8_t> readAt(const std::string& path, uint64_t offset, size_t length)
{
    std::vector<uint8_t> bytes(length);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    return bytes;
}

TEST_P(Fat32SweepTest, VolumePassesTheCheckersOrIsRefused)
{
    const SweepCase& c = GetParam();
    TempDir dir;
    ImageVolumePlatform platform;
    ImageVolumeSpec spec;
    spec.path = dir.file("volume.img");
    spec.bytes = c.sectors * c.bytesPerSector;
    spec.bytesPerSector = c.bytesPerSector;
    ASSERT_TRUE(platform.attach(spec));

    CFat32Format format(g_UsbDev);
    ASSERT_TRUE(format.bSetFormatParam('D', static_cast<int32_t>(c.askedClusterSectors), 0));
    const bool ok = format.bFormatVolume("STORE");
    if (c.expectedClusterSectors == 0) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(platform.state().writes, 0u) << "a refused volume gets nothing written";
        return;
    }
    ASSERT_TRUE(ok) << platform.capture().joined();
    EXPECT_EQ(format.m_dwSectorsPerCluster, c.expectedClusterSectors);
    EXPECT_EQ(platform.state().partitionType, 0x0C);
    platform.close();

    // FSInfo: every cluster but the root folder's is free.
    std::vector<uint8_t> info = readAt(spec.path, c.bytesPerSector, 512);
    EXPECT_EQ(le32(info, 488), format.m_ullClusterCount - 1);
    EXPECT_GE(uint64_t{format.m_dwFatSize} * c.bytesPerSector / 4, format.m_ullClusterCount + 2);

    // fsck.fat does not get through a FAT of nearly 2^28 entries (a 4096-byte
    // sector volume near 8 TiB in 32 KiB clusters): it ends on a signal. Such
    // a volume is judged by mtools alone.
    const bool bFsckCan = format.m_ullClusterCount <= kFsckMostClusters;
    if (bFsckCan) {
        ToolRun fsck = fsckFat(spec.path);
        EXPECT_EQ(fsck.exitCode, 0) << fsck.out << fsck.err;
    }
    EXPECT_EQ(mtoolsLabel(spec.path), " Volume label is STORE      \n");

    const std::string source = dir.file("in.txt"), back = dir.file("out.txt");
    std::ofstream(source) << "production line\n";
    ToolRun copyIn = runChecker("/usr/bin/mcopy", {"-i", spec.path, source, "::/IN.TXT"});
    ASSERT_EQ(copyIn.exitCode, 0) << copyIn.err;
    ToolRun list = runChecker("/usr/bin/mdir", {"-i", spec.path, "::"});
    EXPECT_NE(list.out.find("IN       TXT"), std::string::npos) << list.out << list.err;
    ToolRun copyOut = runChecker("/usr/bin/mcopy", {"-i", spec.path, "::/IN.TXT", back});
    ASSERT_EQ(copyOut.exitCode, 0) << copyOut.err;
    std::stringstream text;
    text << std::ifstream(back).rdbuf();
    EXPECT_EQ(text.str(), "production line\n");
    if (bFsckCan) {
        ToolRun again = fsckFat(spec.path);
        EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Fat32SweepTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace krv::test
