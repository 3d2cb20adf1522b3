// The bench's volumes: letters for the partitions that carry one (C: on the
// system disk), the file system and label read from the volume's own bytes,
// free space counted from its allocation records, the raw-write rules of a
// mounted volume, the partition table read again on request, and the files
// a volume keeps.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/bridge/Faults.h"
#include "platform/bench/disk/DiskLayoutPlan.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

using Bytes = std::vector<uint8_t>;

bench::DiskLayoutPlan layout(const std::string& text)
{
    bench::DiskLayoutPlan spec;
    std::string why;
    EXPECT_TRUE(bench::parseDiskLayoutPlan(text, spec, why)) << why;
    return spec;
}

// Port 1 bare, port 2 with a FAT32 and a raw volume, the USB disk with one
// FAT32 volume.
std::unique_ptr<BenchFixture> partitionedBench()
{
    bench::BenchSettings s;
    s.ports.resize(2);
    s.ports[1].diskSize = 1ULL << 30;
    s.usbDisk = bench::UsbDiskSettings{};
    s.usbDisk->diskSize = 256ULL << 20;
    std::vector<bench::PortStart> starts(2);
    starts[1].disk = layout("fat32:64M:DATA,raw:32M");
    return std::make_unique<BenchFixture>(s, starts,
                                          std::map<int, bench::DiskLayoutPlan>{{bench::kUsbDisk, layout("fat32:rest:FLASH")}});
}

std::string info(char letter)
{
    VolumeInformation v;
    setLastError(0);
    if (!Platform::current().volumes().volumeInformation(letter, v))
        return "error " + std::to_string(lastError());
    return v.fileSystem + " " + v.label;
}

TEST(BenchVolume, PartitionsWithVolumesGetLettersAndTheSystemDiskIsC)
{
    auto bench = partitionedBench();
    Volumes& volumes = Platform::current().volumes();
    EXPECT_EQ(volumes.letters(), (std::vector<char>{'C', 'D', 'E', 'F'}));
    EXPECT_EQ(volumes.lettersOfDisk(0), std::vector<char>{'C'});
    EXPECT_EQ(volumes.lettersOfDisk(bench->physicalDrive(2)), (std::vector<char>{'D', 'E'}));
    EXPECT_TRUE(volumes.lettersOfDisk(bench->physicalDrive(1)).empty());
    EXPECT_EQ(volumes.lettersOfDisk(3), std::vector<char>{'F'}) << "the USB disk comes after the ports";

    EXPECT_EQ(info('C'), "FAT32 SYSTEM");
    EXPECT_EQ(info('d'), "FAT32 DATA");
    EXPECT_EQ(info('E'), "error 1005") << "a partition without a file system";
    EXPECT_EQ(info('F'), "FAT32 FLASH");
    EXPECT_EQ(info('G'), "error 2");
    EXPECT_TRUE(volumes.driveLetterInUse('c'));
    EXPECT_FALSE(volumes.driveLetterInUse('G'));

    std::vector<DiskExtent> extents;
    ASSERT_TRUE(volumes.diskExtents('E', extents));
    ASSERT_EQ(extents.size(), 1u);
    EXPECT_EQ(extents[0].diskNumber, 2u);
    EXPECT_EQ(extents[0].startingOffset, 65ULL << 20);
    EXPECT_EQ(extents[0].length, 32ULL << 20);
    std::string name;
    ASSERT_TRUE(volumes.volumeName('D', name));
    EXPECT_EQ(name.substr(0, 11), "\\\\?\\Volume{");
    EXPECT_EQ(name.back(), '\\');
    auto byName = Platform::current().blockDevices().open(name.substr(0, name.size() - 1), BlockAccess::Query);
    ASSERT_TRUE(byName);
    StorageDeviceNumber number;
    ASSERT_TRUE(byName->deviceNumber(number));
    EXPECT_EQ(number.deviceNumber, 2u);
    EXPECT_EQ(number.partitionNumber, 1u);

    VolumeFreeSpace space;
    ASSERT_TRUE(volumes.freeSpace('D', space));
    EXPECT_EQ(space.bytesPerSector, 512u);
    EXPECT_EQ(space.freeClusters, space.totalClusters - 1) << "all but the root folder";
    EXPECT_EQ(space.freeMiB(), 62u);
    EXPECT_FALSE(volumes.freeSpace('E', space));
    EXPECT_EQ(lastError(), winerr::kUnrecognizedVolume);
}

TEST(BenchVolume, LettersGoWithTheDiskAndComeBackWithIt)
{
    auto bench = partitionedBench();
    Volumes& volumes = Platform::current().volumes();
    ASSERT_TRUE(bench->unplug(2));
    EXPECT_EQ(volumes.letters(), (std::vector<char>{'C', 'F'}));
    ASSERT_TRUE(bench->unplug(bench::kUsbDisk));
    ASSERT_TRUE(bench->plug(bench::kUsbDisk));
    EXPECT_EQ(volumes.lettersOfDisk(bench->devices().view(bench::kUsbDisk)->physicalDrive), std::vector<char>{'F'})
        << "its own letter again, though D: is free";
    ASSERT_TRUE(bench->plug(2));
    EXPECT_EQ(volumes.letters(), (std::vector<char>{'C', 'D', 'E', 'F'}));
    bench->reopen();
    EXPECT_EQ(Platform::current().volumes().letters(), (std::vector<char>{'C', 'D', 'E', 'F'}));
    EXPECT_EQ(info('D'), "FAT32 DATA");
}

TEST(BenchVolume, RawWritesNeedTheVolumeLockedOrDismounted)
{
    auto bench = partitionedBench();
    BlockDevices& blocks = Platform::current().blockDevices();
    auto volume = blocks.openVolume('E', BlockAccess::ReadWrite);
    ASSERT_TRUE(volume);
    Bytes sector(512, 0x55);
    size_t done = 0;
    setLastError(0);
    EXPECT_FALSE(volume->write(0, sector.data(), 512, done));
    EXPECT_EQ(lastError(), winerr::kAccessDenied) << "mounted and not locked";

    auto other = blocks.openVolume('E', BlockAccess::Read);
    ASSERT_TRUE(other);
    EXPECT_FALSE(volume->lock());
    EXPECT_EQ(lastError(), winerr::kAccessDenied) << "another handle has it open";
    EXPECT_FALSE(blocks.openVolume('E', BlockAccess::ReadWrite, BlockShare::None));
    EXPECT_EQ(lastError(), winerr::kSharingViolation);
    other.reset();
    ASSERT_TRUE(volume->lock());
    ASSERT_TRUE(volume->write(0, sector.data(), 512, done));
    ASSERT_TRUE(volume->unlock());
    EXPECT_FALSE(volume->unlock());
    EXPECT_EQ(lastError(), 158u);
    EXPECT_FALSE(volume->write(512, sector.data(), 512, done));
    ASSERT_TRUE(volume->dismount());
    EXPECT_TRUE(volume->write(512, sector.data(), 512, done)) << "dismounted, raw writes go through";
    EXPECT_FALSE(volume->write(32ULL << 20, sector.data(), 512, done)) << "not past its partition";
    EXPECT_EQ(lastError(), 27u);

    // The bytes landed in the partition, 65 MiB into the disk.
    auto whole = blocks.openDisk(bench->physicalDrive(2), BlockAccess::Read);
    Bytes back(1024);
    ASSERT_TRUE(whole->read(65ULL << 20, back.data(), back.size(), done));
    EXPECT_EQ(back, Bytes(1024, 0x55));
    std::vector<DiskExtent> extents;
    EXPECT_FALSE(whole->volumeDiskExtents(extents));
    EXPECT_EQ(lastError(), winerr::kInvalidFunction);
}

TEST(BenchVolume, ThePartitionTableIsReadAgainOnlyWhenAsked)
{
    auto bench = partitionedBench();
    Volumes& volumes = Platform::current().volumes();
    auto disk = Platform::current().blockDevices().openDisk(bench->physicalDrive(2), BlockAccess::ReadWrite);
    ASSERT_TRUE(disk);
    DriveLayout before;
    ASSERT_TRUE(disk->driveLayout(before));
    ASSERT_EQ(before.style, PartitionStyle::Mbr);
    ASSERT_EQ(before.partitions.size(), 4u) << "the four entries of the MBR";
    EXPECT_EQ(before.partitions[0].partitionNumber, 1u);
    EXPECT_EQ(before.partitions[1].partitionNumber, 2u);
    EXPECT_EQ(before.partitions[2].partitionNumber, 0u);
    EXPECT_EQ(before.partitions[0].mbrType, 0x0C);
    EXPECT_EQ(before.partitions[0].hiddenSectors, 2048u);

    Bytes zero(512, 0);
    size_t done = 0;
    ASSERT_TRUE(disk->write(0, zero.data(), 512, done));
    DriveLayout stale;
    ASSERT_TRUE(disk->driveLayout(stale));
    EXPECT_EQ(stale.partitions.size(), 4u) << "as last read";
    EXPECT_EQ(volumes.lettersOfDisk(2), (std::vector<char>{'D', 'E'}));
    ASSERT_TRUE(disk->updateProperties());
    DriveLayout now;
    ASSERT_TRUE(disk->driveLayout(now));
    EXPECT_EQ(now.style, PartitionStyle::Raw);
    EXPECT_TRUE(volumes.lettersOfDisk(2).empty());
    PartitionInfo whole;
    ASSERT_TRUE(disk->partitionInfo(whole));
    EXPECT_EQ(whole.partitionNumber, 0u);
    EXPECT_EQ(whole.length, 1ULL << 30);

    // Put the table back: the volumes arrive again, with their letters.
    Bytes mbr(512, 0);
    for (int i = 0; i < 2; ++i) {
        uint8_t* e = &mbr[446 + 16 * i];
        e[4] = before.partitions[static_cast<size_t>(i)].mbrType;
        uint32_t start = static_cast<uint32_t>(before.partitions[static_cast<size_t>(i)].startingOffset / 512);
        uint32_t count = static_cast<uint32_t>(before.partitions[static_cast<size_t>(i)].length / 512);
        for (int b = 0; b < 4; ++b) {
            e[8 + b] = static_cast<uint8_t>(start >> (8 * b));
            e[12 + b] = static_cast<uint8_t>(count >> (8 * b));
        }
    }
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    ASSERT_TRUE(disk->write(0, mbr.data(), 512, done));
    ASSERT_TRUE(disk->updateProperties());
    EXPECT_EQ(volumes.lettersOfDisk(2), (std::vector<char>{'D', 'E'}));
    EXPECT_EQ(info('D'), "FAT32 DATA");

    // A new type byte keeps the volume and its handles.
    auto volume = Platform::current().blockDevices().openVolume('E', BlockAccess::ReadWrite);
    ASSERT_TRUE(volume && volume->setPartitionType(0x0C));
    PartitionInfo e;
    ASSERT_TRUE(volume->partitionInfo(e));
    EXPECT_EQ(e.mbrType, 0x0C);
}

// Sets a FAT32 volume's FAT entry `cluster` (the first FAT) and, with a
// label, the root folder's first entry; through the locked volume, as any
// raw writer must.
void editFat32(char letter, uint32_t cluster, uint32_t value, const std::string& label = {})
{
    auto v = Platform::current().blockDevices().openVolume(letter, BlockAccess::ReadWrite);
    ASSERT_TRUE(v && v->lock());
    Bytes boot(512);
    size_t done = 0;
    ASSERT_TRUE(v->read(0, boot.data(), 512, done));
    uint32_t reserved = boot[14] | boot[15] << 8;
    uint32_t fatSectors = boot[36] | boot[37] << 8 | boot[38] << 16 | static_cast<uint32_t>(boot[39]) << 24;
    uint64_t entry = uint64_t{reserved} * 512 + uint64_t{cluster} * 4;
    Bytes sector(512);
    ASSERT_TRUE(v->read(entry / 512 * 512, sector.data(), 512, done));
    for (int b = 0; b < 4; ++b)
        sector[entry % 512 + static_cast<size_t>(b)] = static_cast<uint8_t>(value >> (8 * b));
    ASSERT_TRUE(v->write(entry / 512 * 512, sector.data(), 512, done));
    if (!label.empty()) {
        uint64_t root = (uint64_t{reserved} + 2ULL * fatSectors) * 512;
        ASSERT_TRUE(v->read(root, sector.data(), 512, done));
        std::string name = label;
        name.resize(11, ' ');
        std::copy(name.begin(), name.end(), sector.begin());
        sector[11] = 0x08;
        ASSERT_TRUE(v->write(root, sector.data(), 512, done));
    }
}

TEST(BenchVolume, FileSystemAndFreeSpaceAreReadFromTheBytes)
{
    auto bench = partitionedBench();
    Volumes& volumes = Platform::current().volumes();
    VolumeFreeSpace before, after;
    ASSERT_TRUE(volumes.freeSpace('D', before));
    editFat32('D', 100, 0x0FFFFFFF, "RENAMED");
    editFat32('D', 101, 0x0FFFFFFF);
    ASSERT_TRUE(volumes.freeSpace('D', after));
    EXPECT_EQ(after.freeClusters, before.freeClusters - 2);
    EXPECT_EQ(info('D'), "FAT32 RENAMED");

    // A boot sector wiped: the volume is there and has no file system.
    auto v = Platform::current().blockDevices().openVolume('D', BlockAccess::ReadWrite);
    ASSERT_TRUE(v && v->lock());
    Bytes zero(512, 0);
    size_t done = 0;
    ASSERT_TRUE(v->write(0, zero.data(), 512, done));
    v.reset();
    EXPECT_EQ(info('D'), "error 1005");
    EXPECT_EQ(volumes.mountPath('D'), "");
}

// A volume formatted by the real tools, written into the bench's disk the
// way the bench takes NTFS and exFAT: made on a sparse file of the
// partition's size, then its data copied in.
bool formatWithTool(const std::string& tool, char letter, uint64_t length, const std::string& label)
{
    TempDir dir;
    std::string file = dir.file("volume.img");
    {
        std::ofstream create(file);
    }
    if (::truncate(file.c_str(), static_cast<off_t>(length)) != 0)
        return false;
    std::string command = tool == "ntfs" ? "mkntfs -F -Q -q -L " + label + " " + file + " >/dev/null 2>&1"
                                         : "mkfs.exfat -L " + label + " " + file + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return false;
    auto v = Platform::current().blockDevices().openVolume(letter, BlockAccess::ReadWrite);
    if (!v || !v->lock())
        return false;
    int fd = ::open(file.c_str(), O_RDONLY);
    Bytes chunk(1 << 20);
    for (off_t at = 0; at < static_cast<off_t>(length);) {
        off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0)
            break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        for (off_t p = data / 512 * 512; p < hole; p += static_cast<off_t>(chunk.size())) {
            size_t n = static_cast<size_t>(std::min<off_t>(static_cast<off_t>(chunk.size()), hole - p));
            n = (n + 511) / 512 * 512;
            ssize_t got = ::pread(fd, chunk.data(), n, p);
            size_t done = 0;
            if (got < 0 || !v->write(static_cast<uint64_t>(p), chunk.data(), n, done)) {
                ::close(fd);
                return false;
            }
        }
        at = hole;
    }
    ::close(fd);
    return true;
}

TEST(BenchVolume, NtfsAndExFatAreRecognisedWithTheirLabels)
{
    if (std::system("command -v mkntfs >/dev/null && command -v mkfs.exfat >/dev/null") != 0)
        GTEST_SKIP() << "mkntfs or mkfs.exfat is not installed";
    bench::BenchSettings s;
    s.ports.resize(1);
    s.ports[0].diskSize = 1ULL << 30;
    std::vector<bench::PortStart> starts(1);
    starts[0].disk = layout("raw:256M,raw:256M");
    BenchFixture bench(s, starts);
    ASSERT_TRUE(formatWithTool("ntfs", 'D', 256ULL << 20, "NTFSVOL"));
    ASSERT_TRUE(formatWithTool("exfat", 'E', 256ULL << 20, "EXVOL"));
    EXPECT_EQ(info('D'), "NTFS NTFSVOL");
    EXPECT_EQ(info('E'), "exFAT EXVOL");
    VolumeFreeSpace ntfs, exfat;
    ASSERT_TRUE(Platform::current().volumes().freeSpace('D', ntfs));
    ASSERT_TRUE(Platform::current().volumes().freeSpace('E', exfat));
    // A fresh file system keeps a few MiB for itself.
    EXPECT_GT(ntfs.freeMiB(), 230u);
    EXPECT_LT(ntfs.freeMiB(), 256u);
    EXPECT_LT(ntfs.freeClusters, ntfs.totalClusters);
    EXPECT_GT(exfat.freeMiB(), 240u);
    EXPECT_LT(exfat.freeClusters, exfat.totalClusters);
}

TEST(BenchVolume, FilesAreKeptPerVolumeAndPerFormat)
{
    auto bench = partitionedBench();
    Volumes& volumes = Platform::current().volumes();
    std::string path = volumes.mountPath('D');
    ASSERT_FALSE(path.empty());
    std::filesystem::create_directories(path + "/preload");
    std::ofstream(path + "/preload/readme.txt") << "hello";
    std::ofstream(path + "/TEST.BIN") << std::string(1000, 'x');
    auto files = volumes.files('D');
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].path, "TEST.BIN");
    EXPECT_EQ(files[0].size, 1000u);
    EXPECT_EQ(files[1].path, "preload/readme.txt");
    EXPECT_TRUE(volumes.files('F').empty()) << "another volume";
    EXPECT_EQ(volumes.mountPath('E'), "") << "no file system, no files";
    EXPECT_EQ(lastError(), winerr::kUnrecognizedVolume);

    bench->reopen();
    EXPECT_EQ(Platform::current().volumes().files('D').size(), 2u) << "kept between runs";

    // A new format (a new serial number) starts with no files.
    auto v = Platform::current().blockDevices().openVolume('D', BlockAccess::ReadWrite);
    ASSERT_TRUE(v && v->lock());
    Bytes boot(512);
    size_t done = 0;
    ASSERT_TRUE(v->read(0, boot.data(), 512, done));
    boot[67] ^= 0x5A;
    ASSERT_TRUE(v->write(0, boot.data(), 512, done));
    v.reset();
    EXPECT_TRUE(Platform::current().volumes().files('D').empty());
}

// A file's sync on a volume is the drive's flush: done while the drive is
// there, refused once it has gone.
TEST(BenchVolume, AFileOnAVolumeIsFlushedByItsDrive)
{
    auto bench = partitionedBench();
    const std::string path = Platform::current().volumes().mountPath('D') + "/SYNC.BIN";
    File file;
    size_t done = 0;
    ASSERT_TRUE(file.open(path, File::Mode::CreateTruncate));
    ASSERT_TRUE(file.write("abc", 3, done));
    EXPECT_TRUE(file.sync());
    ASSERT_TRUE(bench->unplug(2));
    setLastError(0);
    EXPECT_FALSE(file.sync());
    EXPECT_EQ(lastError(), winerr::kDeviceNotConnected);
}

// A file written to a volume holds the bytes it was given, and the caller's
// buffer is never touched, unless the drive stores one byte wrong: then the
// file holds that byte, the caller's buffer is still as it was, and the
// next write, the fault used up, lands as given.
TEST(BenchVolume, AFileWriteLandsAsGivenUnlessTheDriveStoresAByteWrong)
{
    auto bench = partitionedBench();
    const std::string path = Platform::current().volumes().mountPath('D') + "/WRTEST.BIN";
    const auto writeAndReadBack = [&](const Bytes& given) {
        File file;
        size_t done = 0;
        EXPECT_TRUE(file.open(path, File::Mode::CreateTruncate));
        EXPECT_TRUE(file.write(given.data(), given.size(), done));
        EXPECT_EQ(done, given.size());
        EXPECT_TRUE(file.close());
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    Bytes given(5000);
    for (size_t i = 0; i < given.size(); ++i)
        given[i] = static_cast<uint8_t>(i * 7 + 1);
    const Bytes original = given;

    EXPECT_EQ(writeAndReadBack(given), original) << "no fault";

    bench::Fault fault;
    fault.kind = bench::FaultKind::CorruptStore;
    fault.files = true;
    fault.byteIndex = 4097;
    std::string outcome;
    ASSERT_TRUE(bench->devices().addFault(2, fault, outcome)) << outcome;
    Bytes expected = original;
    expected[4097] ^= 0xFF;
    EXPECT_EQ(writeAndReadBack(given), expected) << "the drive stored one byte wrong";
    EXPECT_EQ(given, original) << "the caller's buffer";

    EXPECT_EQ(writeAndReadBack(given), original) << "the fault used up";
}

}  // namespace
}  // namespace krv::test
