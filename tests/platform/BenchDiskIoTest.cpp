// Sector I/O on a bench drive's disk: whole sectors into and out of its
// sparse image, as the drive's own READ(16)/WRITE(16) commands in its log,
// refused outside the rules, failing where a fault says, and taking the
// time its port's line needs to carry the bytes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <numeric>

#include "platform/LastError.h"
#include "platform/bench/BenchLayout.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kSpeedArea = 0x41000ULL * 512;

Bytes pattern(size_t length, uint8_t seed)
{
    Bytes b(length);
    std::iota(b.begin(), b.end(), seed);
    return b;
}

std::unique_ptr<BlockDevice> disk(int number, BlockAccess access = BlockAccess::ReadWrite)
{
    return Platform::current().blockDevices().openDisk(number, access);
}

TEST(BenchDiskIo, SectorsGoIntoTheSparseImageAndComeBack)
{
    BenchFixture bench(2);
    auto d = disk(bench.physicalDrive(2));
    ASSERT_TRUE(d);
    Bytes out = pattern(1 << 20, 7), in(1 << 20, 0);
    size_t done = 0;
    ASSERT_TRUE(d->write(kSpeedArea, out.data(), out.size(), done));
    EXPECT_EQ(done, out.size());
    ASSERT_TRUE(d->read(kSpeedArea, in.data(), in.size(), done));
    EXPECT_EQ(in, out);

    // Another disk, or the other handle of the same one, sees the same bytes.
    Bytes other(512, 0xAA);
    ASSERT_TRUE(disk(bench.physicalDrive(1), BlockAccess::Read)->read(kSpeedArea, other.data(), 512, done));
    EXPECT_EQ(other, Bytes(512, 0)) << "port 1's disk is another image";
    ASSERT_TRUE(disk(bench.physicalDrive(2), BlockAccess::Read)->read(kSpeedArea, other.data(), 512, done));
    EXPECT_TRUE(std::equal(other.begin(), other.end(), out.begin()));

    struct stat st{};
    ASSERT_EQ(::stat(bench::diskImagePath(bench.portFolder(2)).c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 256ULL << 30);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 8ULL << 20) << "only what was written takes room";

    DiskGeometry g;
    ASSERT_TRUE(d->geometry(g));
    EXPECT_EQ(g.diskSize, 256ULL << 30);
    EXPECT_EQ(g.bytesPerSector, 512u);
    EXPECT_EQ(g.tracksPerCylinder, 255u);
    EXPECT_EQ(g.sectorsPerTrack, 63u);
    EXPECT_EQ(g.cylinders, (256ULL << 30) / (255 * 63 * 512));
    EXPECT_EQ(g.mediaType, mediatype::kFixed);

    // The drive received them as commands: WRITE(16), then READ(16), each
    // with its LBA and block count.
    std::vector<std::vector<uint8_t>> cdbs;
    for (const auto& e : bench.devices().log(2))
        if (!e.cdb.empty())
            cdbs.push_back(e.cdb);
    ASSERT_EQ(cdbs.size(), 3u);
    EXPECT_EQ(cdbs[0], (std::vector<uint8_t>{0x8A, 0, 0, 0, 0, 0, 0, 0x04, 0x10, 0x00, 0, 0, 0x08, 0x00, 0, 0}));
    EXPECT_EQ(cdbs[1][0], 0x88);
}

TEST(BenchDiskIo, TransfersOutsideTheRulesAreRefused)
{
    bench::BenchSettings s;
    s.ports.resize(1);
    s.ports[0].diskSize = 1ULL << 30;
    BenchFixture bench(s);
    Bytes buffer(4096);
    size_t done = 0;
    struct Case {
        const char* name;
        int drive;
        BlockAccess access;
        bool write;
        uint64_t offset;
        size_t length;
        uint32_t error;
    };
    const Case cases[] = {
        {"offset inside a sector", 1, BlockAccess::ReadWrite, false, 100, 512, winerr::kInvalidParameter},
        {"part of a sector", 1, BlockAccess::ReadWrite, true, 0, 1000, winerr::kInvalidParameter},
        {"past the end", 1, BlockAccess::ReadWrite, false, (1ULL << 30) - 512, 1024, 27},
        {"query access", 1, BlockAccess::Query, false, 0, 512, winerr::kAccessDenied},
        {"read access", 1, BlockAccess::Read, true, 0, 512, winerr::kAccessDenied},
        {"the system disk", 0, BlockAccess::ReadWrite, true, 1 << 20, 512, winerr::kAccessDenied},
    };
    for (const auto& c : cases) {
        auto d = disk(c.drive, c.access);
        ASSERT_TRUE(d) << c.name;
        setLastError(0);
        bool moved = c.write ? d->write(c.offset, buffer.data(), c.length, done) : d->read(c.offset, buffer.data(), c.length, done);
        EXPECT_FALSE(moved) << c.name;
        EXPECT_EQ(lastError(), c.error) << c.name;
        EXPECT_EQ(done, 0u) << c.name;
    }
    EXPECT_FALSE(disk(7));
    EXPECT_EQ(lastError(), winerr::kFileNotFound);
    EXPECT_FALSE(Platform::current().blockDevices().open("\\\\.\\PhysicalDriveX", BlockAccess::Read));
    EXPECT_EQ(lastError(), winerr::kInvalidName);
    EXPECT_TRUE(Platform::current().blockDevices().open("//./physicaldrive1", BlockAccess::Read));
}

TEST(BenchDiskIo, AWriteFaultAtAnOffsetHitsTheTransferOverIt)
{
    BenchFixture bench(1);
    auto d = disk(1);
    bench::Fault fault;
    fault.kind = bench::FaultKind::Fail;
    fault.offset = kSpeedArea + 4096;
    fault.cdbPrefix = {0x8A};
    std::string outcome;
    ASSERT_TRUE(bench.devices().addFault(1, fault, outcome)) << outcome;

    Bytes out = pattern(8192, 1), in(8192, 0xEE);
    size_t done = 0;
    EXPECT_TRUE(d->read(kSpeedArea, in.data(), in.size(), done)) << "a read over it is no write";
    EXPECT_TRUE(d->write(kSpeedArea - 8192, out.data(), out.size(), done)) << "a write before it passes";
    setLastError(0);
    EXPECT_FALSE(d->write(kSpeedArea, out.data(), out.size(), done));
    EXPECT_EQ(lastError(), winerr::kIoDevice);
    ASSERT_TRUE(d->read(kSpeedArea, in.data(), in.size(), done));
    EXPECT_EQ(in, Bytes(8192, 0)) << "nothing of the failed write reached the disk";
    EXPECT_TRUE(d->write(kSpeedArea, out.data(), out.size(), done)) << "the fault hit once";
}

TEST(BenchDiskIo, AHandleDoesNotFollowADeviceThatLeft)
{
    BenchFixture bench(1);
    auto d = disk(1);
    Bytes buffer(512);
    size_t done = 0;
    ASSERT_TRUE(bench.unplug(1));
    setLastError(0);
    EXPECT_FALSE(d->read(0, buffer.data(), 512, done));
    EXPECT_EQ(lastError(), winerr::kDeviceNotConnected);
    DiskGeometry g;
    EXPECT_FALSE(d->geometry(g));
    ASSERT_TRUE(bench.plug(1));
    EXPECT_FALSE(d->read(0, buffer.data(), 512, done));
    EXPECT_TRUE(disk(bench.physicalDrive(1))->read(0, buffer.data(), 512, done));
}

// A transfer takes the bench time its bytes need on the port's line: the
// link's payload rate at its speed, or the slower rate a cable gives.
TEST(BenchDiskIo, ATransferTakesTheTimeOfItsPortsLine)
{
    struct Port {
        const char* name;
        const char* link;
        const char* speed;
        uint32_t linkMbps;
        uint64_t expectedUs;   // for 1 MiB
    } ports[] = {
        {"USB 2 High Speed, ~40 MB/s", "USB2", "High", 0, 26215},
        {"USB 3 Gen1x1, ~450 MB/s", "USB3", "Gen1x1", 0, 2331},
        {"USB 3 Gen2x1, ~1050 MB/s", "USB3", "Gen2x1", 0, 999},
        {"USB 3 Gen2x1 through a 10 MB/s cable", "USB3", "Gen2x1", 80, 104858},
    };
    bench::BenchSettings settings;
    for (const Port& p : ports) {
        bench::PortSettings port;
        port.link = p.link;
        port.speed = p.speed;
        port.linkMbps = p.linkMbps;
        settings.ports.push_back(port);
    }
    BenchFixture bench(settings);
    Bytes out = pattern(1 << 20, 3), in(1 << 20, 0);
    for (size_t i = 0; i < std::size(ports); ++i) {
        SCOPED_TRACE(ports[i].name);
        auto d = disk(bench.physicalDrive(static_cast<int>(i + 1)));
        ASSERT_TRUE(d);
        size_t done = 0;
        for (bool write : {true, false}) {
            const uint64_t before = bench.clock().ticks();
            ASSERT_TRUE(write ? d->write(kSpeedArea, out.data(), out.size(), done)
                              : d->read(kSpeedArea, in.data(), in.size(), done));
            EXPECT_EQ(bench.clock().ticks() - before, ports[i].expectedUs) << (write ? "write" : "read");
        }
        EXPECT_EQ(in, out);
        // A refused transfer never reaches the line.
        const uint64_t before = bench.clock().ticks();
        EXPECT_FALSE(d->read(256ULL << 30, in.data(), in.size(), done));
        EXPECT_EQ(bench.clock().ticks(), before);
    }
}

}  // namespace
}  // namespace krv::test
