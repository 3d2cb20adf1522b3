// The FAT32 writer's own rules: the FAT holds an entry for every cluster,
// failed writes fail the format, C: is never formatted, and the sectors
// carry the label, the volume id and the time as the production line sets
// them.
#include <gtest/gtest.h>

#include <fstream>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "format/Fat32Format.h"
#include "tests/format/FormatCheckers.h"
#include "tests/format/ImageVolumePlatform.h"
#include "tests/support/TestPlatform.h"

namespace krv::test {
namespace {

std::vector<uint8_t> readAt(const std::string& path, uint64_t offset, size_t length)
{
    std::vector<uint8_t> bytes(length);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    return bytes;
}

uint32_t le16(const std::vector<uint8_t>& b, size_t at) { return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8; }
uint32_t le32(const std::vector<uint8_t>& b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }

TEST(Fat32Layout, FatHasAnEntryForEveryClusterWhereTheFirstGuessIsShort)
{
    struct Case {
        uint64_t sectors;
        uint32_t bps, spc;
    } cases[] = {{70101, 512, 1}, {16777216, 512, 16}, {70000, 512, 1}, {1u << 29, 4096, 128}};
    int shortGuesses = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sectors);
        Fat32Layout layout;
        ASSERT_EQ(eComputeFat32Layout(c.sectors, c.bps, c.spc, layout), EFat32Fit::eOk);
        EXPECT_GE(uint64_t{layout.dwFatSize} * c.bps / 4, layout.ullClusterCount + 2);
        EXPECT_EQ(layout.ullClusterCount, (c.sectors - 32 - 2ull * layout.dwFatSize) / c.spc);
        EXPECT_EQ(layout.dwFreeClusters, layout.ullClusterCount - 1);
        EXPECT_EQ(layout.dwSectorsToClear, 32 + 2 * layout.dwFatSize + c.spc);
        // Where the first guess already fits, it is kept as it is.
        const uint32_t guess = dwFat32FirstGuessFatSize(c.sectors, 32, c.spc, 2, c.bps);
        const uint64_t guessClusters = (c.sectors - 32 - 2ull * guess) / c.spc;
        if ((guessClusters + 2) * 4 > uint64_t{guess} * c.bps)
            ++shortGuesses;
        else
            EXPECT_EQ(layout.dwFatSize, guess);
    }
    EXPECT_EQ(shortGuesses, 2) << "70,101 sectors and 8 GiB are the sizes the first guess misses";
}

TEST(Fat32Layout, ClusterCountOutsideFat32IsRefused)
{
    Fat32Layout layout;
    EXPECT_EQ(eComputeFat32Layout(70101, 512, 16, layout), EFat32Fit::eTooFewClusters);
    EXPECT_EQ(eFitFat32Layout(70101, 512, 16, layout), EFat32Fit::eOk);
    EXPECT_EQ(layout.dwSectorsPerCluster, 1u);
    EXPECT_EQ(eFitFat32Layout(65536, 512, 16, layout), EFat32Fit::eTooFewClusters);
    EXPECT_EQ(eComputeFat32Layout(0xFFFFFFFEull, 512, 1, layout), EFat32Fit::eTooManyClusters);
    EXPECT_EQ(eComputeFat32Layout(100000, 512, 3, layout), EFat32Fit::eBadParameter);
    EXPECT_EQ(eComputeFat32Layout(100000, 520, 1, layout), EFat32Fit::eBadParameter);
}

TEST(Fat32ClusterTables, SizesOfTheProductionStepAndOfTheWriter)
{
    // By the drive's MiB and sector size: the table's cluster bytes (a 125 GB
    // drive 8 KiB, 500 GB 32 KiB), never more than FAT's 32 KiB (1 TB, or a
    // size that cannot be read), in the drive's own sectors.
    struct Case {
        uint32_t mib, bytesPerSector, sectors;
    } cases[] = {
        {0, 512, 64},        {119209, 512, 16}, {140288, 512, 16}, {140289, 512, 32},  {280577, 512, 64},
        {476837, 512, 64},   {953869, 512, 64}, {0, 4096, 8},      {119209, 4096, 2},  {140289, 4096, 4},
        {280577, 4096, 8},   {953869, 4096, 8}, {119209, 1024, 8}, {953869, 2048, 16},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dwFat32ClusterSectorsForDisk(c.mib, c.bytesPerSector), c.sectors) << c.mib << " " << c.bytesPerSector;
    TestPlatform platform;
    CFat32Format format(g_UsbDev);
    EXPECT_EQ(format.ucGetSPC(32, 512), 64);
    EXPECT_EQ(format.ucGetSPC(4, 4096), 1);
    EXPECT_EQ(format.bGetSectorsPerCluster(512ull << 20, 512), 1);
    EXPECT_EQ(format.bGetSectorsPerCluster(8192ull << 20, 512), 8);
    EXPECT_EQ(format.bGetSectorsPerCluster(40ull << 30, 4096), 8);
}

// Lets the debug log through to the captured output for one test.
struct DebugLevel {
    DebugLevel() { vDEBUG_SetLevel(4); }
    ~DebugLevel() { vDEBUG_SetLevel(0); }
};

TEST(Fat32Param, MoreThan128SectorsPerClusterIsRefused)
{
    DebugLevel level;
    TestPlatform platform;
    CFat32Format format(g_UsbDev);
    EXPECT_TRUE(format.bSetFormatParam('E', 128, 1));
    EXPECT_FALSE(format.bSetFormatParam('E', 129, 1));
    EXPECT_EQ(format.m_cDriveLetter, FORMAT_NO_DRIVE_LETTER);
    EXPECT_EQ(format.m_iClusterSize, FORMAT_CLUSTER_SIZE_REFUSED);
    EXPECT_EQ(format.m_ucUseExtendedPartitionInfo, 0);
    EXPECT_TRUE(platform.capture().contains("bSetFormatParam: cDriveLetter E , iClusterSize 129"));
}

class Fat32WriterTest : public ::testing::Test {
protected:
    void attach(uint64_t bytes = 64ull << 20, uint32_t bps = 512)
    {
        spec.path = dir.file("volume.img");
        spec.bytes = bytes;
        spec.bytesPerSector = bps;
        ASSERT_TRUE(platform.attach(spec));
    }
    DebugLevel level;
    TempDir dir;
    ImageVolumePlatform platform;
    ImageVolumeSpec spec;
};

TEST_F(Fat32WriterTest, SectorsCarryTheLabelVolumeIdAndTime)
{
    LocalTime t;
    t.year = 2026, t.month = 3, t.day = 14, t.hour = 15, t.minute = 9, t.second = 26, t.millisecond = 530;
    platform.virtualClock().pinLocalTime(t);
    attach();
    CFat32Format format(g_UsbDev);
    ASSERT_TRUE(format.bSetFormatParam('D', 0, 0));
    ASSERT_TRUE(format.bFormatVolume("KRV01"));
    platform.close();

    const std::vector<uint8_t> boot = readAt(spec.path, 0, 512);
    EXPECT_EQ(std::string(boot.begin() + 3, boot.begin() + 11), "MSWIN4.1");
    EXPECT_EQ(le32(boot, 28), 2048u) << "hidden sectors: the partition's start";
    const uint32_t id = (2026 + 9 + (15 << 8)) << 16 | (14 + (3 << 8) + 53 + (26 << 8));
    EXPECT_EQ(le32(boot, 67), id);
    EXPECT_EQ(std::string(boot.begin() + 71, boot.begin() + 82), "KRV01      ");
    EXPECT_EQ(readAt(spec.path, 6 * 512, 512), boot) << "backup boot sector";
    EXPECT_EQ(readAt(spec.path, 7 * 512, 512), readAt(spec.path, 512, 512)) << "backup FS information";

    const uint64_t root = uint64_t{format.m_dwRootDirectorySector} * 512;
    const std::vector<uint8_t> entry = readAt(spec.path, root, 32);
    EXPECT_EQ(std::string(entry.begin(), entry.begin() + 11), "KRV01      ");
    EXPECT_EQ(entry[11], 0x08);
    EXPECT_EQ(le16(entry, 22), (15u << 11) | (9u << 5) | (26 % 16 + 1));
    EXPECT_EQ(le16(entry, 24), (46u << 9) | (3u << 5) | 14);
    for (uint32_t fat = 0; fat < 2; ++fat) {
        const std::vector<uint8_t> first = readAt(spec.path, (32ull + fat * format.m_dwFatSize) * 512, 12);
        EXPECT_EQ(le32(first, 0), 0x0FFFFFF8u);
        EXPECT_EQ(le32(first, 4), 0x0FFFFFFFu);
        EXPECT_EQ(le32(first, 8), 0x0FFFFFFFu);
    }
    EXPECT_TRUE(platform.capture().contains("Free Clusters"));
    EXPECT_EQ(fsckFat(spec.path).exitCode, 0);
}

TEST_F(Fat32WriterTest, DriveCIsNeverFormatted)
{
    attach();
    CFat32Format format(g_UsbDev);
    ASSERT_TRUE(format.bSetFormatParam('C', 0, 0));
    EXPECT_FALSE(format.bFormatVolume("X"));
    EXPECT_TRUE(platform.capture().contains("bFormatVolume: Force not to Do Format C"));
    EXPECT_EQ(platform.state().writes, 0u);
}

TEST_F(Fat32WriterTest, FailedOrShortWriteFailsTheFormat)
{
    struct Case {
        const char* name;
        uint64_t faultOffset;
        bool shortWrite;
    } cases[] = {{"boot area fails", 0, false},
                 {"second FAT fails", 1ull << 20, false},
                 {"short write", 512 * 1024, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spec.faultOffset = c.faultOffset;
        spec.shortWrite = c.shortWrite;
        attach(600ull << 20);
        CFat32Format format(g_UsbDev);
        ASSERT_TRUE(format.bSetFormatParam('D', 0, 0));
        EXPECT_FALSE(format.bFormatVolume("KRV01"));
        EXPECT_TRUE(platform.capture().contains("vZeroSectors: WriteFile Fail"));
        EXPECT_TRUE(platform.state().dismounted) << "the volume is still let go of";
        platform.capture().clear();
    }
}

}  // namespace
}  // namespace krv::test
