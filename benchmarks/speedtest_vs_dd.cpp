// The speed test of a production run against the bare transfers dd would
// make: the same blocks at the same places of the same disk image.
//
// Makes a bench with one bridge drive on its real-time clock (time scale 1),
// finds the drive with the scan and runs the speed test on its volume once
// per test area at the production run's size (1 MiB, so 256 KiB per
// transfer; --test-mib 128 gives the largest block one transfer moves,
// 32 MiB). The anchor moves the same bytes at the same offsets of the drive's image file
// in the same order, one pread or pwrite per block, and times the same
// transfers the speed test times (the second write of the pattern and the
// second read of each area).
//
// Like with like:
// - all cached: the bench's image keeps its writes in the page cache as a
//   disk keeps them in its write cache, and nothing is flushed on any side;
//   the timed reads find the blocks just written, in the cache;
// - warm buffers: the anchor's blocks are touched before any timing, as the
//   speed test's are by its untimed first pass (dd itself cannot do this:
//   the first touch of its fresh buffer costs more than the copy it
//   times, so the anchor is dd's loop done here);
// - the anchor keeps its blocks for the whole run; a second anchor makes
//   them afresh for each area, as the speed test does for each call (and dd
//   for each run). Memory only just handed out copies slower on some
//   machines (virtual ones) for a while, touched or not; the second ratio
//   tells that cost from the system's own;
// - each side runs in a process of its own, so the peak resident memory of
//   each (getrusage) is its own; the sides take turns area by area, after
//   one untimed round that settles the image's allocation.
//
// Prints the min and median time of each side's round (three blocks each
// way) with its throughput, the ratios speed test / anchor for write and
// read, and each side's peak resident memory.
//
//   speedtest_vs_dd [--rounds N] [--test-mib 1..128] [--folder DIR] [--keep]
//
// DIR must not exist yet (default: a new folder under the system's temporary
// folder). --keep leaves it.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "benchmarks/OneDriveBench.h"
#include "benchmarks/SideProcess.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "platform/bench/Bench.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchPlatform.h"
#include "platform/bench/disk/DiskLayoutPlan.h"

namespace {

using namespace krv::benchmark;

// The production run's speed test: 1 MiB, moved a quarter per transfer.
constexpr uint32_t kRunTestSizeMiB = 1;
// The test's size and the block one transfer moves (a quarter of it), as
// given on the command line; set before the sides start.
uint32_t testSizeMiB = kRunTestSizeMiB;
uint64_t blockBytes = kRunTestSizeMiB * (1ULL << 20) / 4;
constexpr uint8_t kAreas[] = {0, 1, 2};
constexpr uint64_t kAreaSectors[] = {SPEED_TEST_AREA_0, SPEED_TEST_AREA_1, SPEED_TEST_AREA_OTHER};
constexpr size_t kPageBytes = 4096;

// A page-aligned block, every page touched.
struct Block {
    explicit Block(uint8_t fill) : data(static_cast<uint8_t*>(std::aligned_alloc(kPageBytes, blockBytes)))
    {
        if (!data)
            fail("no memory");
        std::memset(data, fill, blockBytes);
    }
    ~Block() { std::free(data); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    uint8_t* data;
};

// One pread or pwrite of a whole block, as dd with bs= the block makes it.
double transfer(int fd, bool write, uint8_t* block, uint64_t offset)
{
    const auto start = std::chrono::steady_clock::now();
    const ssize_t n = write ? ::pwrite(fd, block, blockBytes, static_cast<off_t>(offset))
                            : ::pread(fd, block, blockBytes, static_cast<off_t>(offset));
    const double seconds = secondsSince(start);
    if (n != static_cast<ssize_t>(blockBytes))
        fail(std::string("anchor ") + (write ? "write" : "read") + " failed: " + std::strerror(errno));
    return seconds;
}

void printLine(const char* what, const Figures& f)
{
    const double mib = static_cast<double>(blockBytes * sizeof kAreas) / (1 << 20);
    std::printf("%-30s %8.2f ms %8.0f MiB/s   %8.2f ms %8.0f MiB/s\n", what, f.min * 1e3, mib / f.min,
                f.median * 1e3, mib / f.median);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string folder;
    std::string made;   // what this run made and removes again
    bool keep = false;
    int rounds = 41;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc)
            folder = argv[++i];
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0)
            rounds = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--test-mib") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0 &&
                 std::atoi(argv[i + 1]) <= 128)
            testSizeMiB = static_cast<uint32_t>(std::atoi(argv[++i]));
        else
            fail(std::string("unknown argument ") + argv[i] +
                 " (use --rounds N, --test-mib 1..128, --folder DIR, --keep)");
    }
    blockBytes = testSizeMiB * (1ULL << 20) / 4;
    // One bridge drive on USB 3 with a volume over its disk.
    const krv::benchmark::BenchFolders folders =
        krv::benchmark::makeOneDriveBench(folder, "krv-speedtest", "raw:rest", 512ULL << 20);
    made = folders.made;
    folder = folders.folder;
    std::string why;
    const std::string image = krv::bench::diskImagePath(krv::bench::portStatePath(folder, 1));

    // The speed test's side: the system on the bench platform.
    std::unique_ptr<krv::BenchPlatform> platform;
    std::unique_ptr<CKrvnUSBDev> dev;
    std::unique_ptr<DevList> list;
    auto testSetUp = [&]() -> uint64_t {
        platform = krv::BenchPlatform::open(folder, why);
        if (!platform)
            fail("cannot open the bench: " + why);
        krv::Platform::setCurrent(platform.get());
        vDEBUG_Initial_printf();
        vDEBUG_SetLevel(0);
        dev = std::make_unique<CKrvnUSBDev>();
        list = std::make_unique<DevList>();
        if (dev->Open(list.get(), "0", BRIDGE_TYPE_857X) != 0)
            fail("the scan found no drive");
        DevInfo& rec = list->Devs[0];
        if (dev->nObtainDiSKInfo(strDrivePath(krv::DriveKind::PhysicalDrive, rec.m_ucPhysicalAddress), rec) !=
                DISK_INFO_OK ||
            rec.m_cDriveLetter == DEV_DRIVE_LETTER_NONE)
            fail("the drive has no disk information or no letter");
        std::vector<krv::DiskExtent> extents;
        if (!krv::Platform::current().volumes().diskExtents(rec.m_cDriveLetter, extents) || extents.empty())
            fail("the volume has no extent");
        return extents[0].startingOffset;
    };
    auto testArea = [&](size_t index) {
        const DevInfo& rec = list->Devs[0];
        double read = 0;
        double write = 0;
        if (dev->vReadWriteSpeedTest(rec.m_cDriveLetter, DiskInfoBlock::of(rec), read, write, kAreas[index],
                                     testSizeMiB) != SPEED_TEST_OK ||
            read <= 0 || write <= 0)
            fail("the speed test failed on area " + std::to_string(kAreas[index]));
        return Timed{blockBytes / (write * (1 << 20)), blockBytes / (read * (1 << 20))};
    };
    Side test(testSetUp, testArea);
    const uint64_t volumeStart = test.setUpValue();

    // The anchor's sides: the image file and the speed test's three blocks,
    // kept for the whole run, or made afresh for each area as the speed test
    // makes its own for each call (and dd its buffer for each run).
    auto anchorSide = [&](bool freshBlocks) {
        // The child lives inside Side's constructor: these stay in scope.
        std::array<std::unique_ptr<Block>, 3> blocks;
        int fd = -1;
        auto makeBlocks = [&]() {
            for (auto& block : blocks)
                block.reset();   // the old ones go first, as at the end of a speed test's call
            blocks[0] = std::make_unique<Block>(0);
            blocks[1] = std::make_unique<Block>(SPEED_TEST_PATTERN);
            blocks[2] = std::make_unique<Block>(0);
        };
        auto setUp = [&]() -> uint64_t {
            fd = ::open(image.c_str(), O_RDWR | O_CLOEXEC);
            if (fd < 0)
                fail("cannot open " + image + ": " + std::strerror(errno));
            makeBlocks();
            return 0;
        };
        // Each area as the speed test moves it: two passes of back up,
        // write, read, restore, each transfer made twice; the second pass's
        // second write and read are timed.
        auto area = [&](size_t index) {
            if (freshBlocks)
                makeBlocks();
            uint8_t* const backup = blocks[0]->data;
            uint8_t* const pattern = blocks[1]->data;
            uint8_t* const readBack = blocks[2]->data;
            const uint64_t offset = volumeStart + kAreaSectors[index] * DISK_SECTOR_UNIT;
            Timed r;
            for (int pass = 0; pass < 2; ++pass) {
                for (int i = 0; i < 2; ++i)
                    transfer(fd, false, backup, offset);
                for (int i = 0; i < 2; ++i) {
                    const double s = transfer(fd, true, pattern, offset);
                    if (pass == 1 && i == 1)
                        r.first = s;
                }
                for (int i = 0; i < 2; ++i) {
                    const double s = transfer(fd, false, readBack, offset);
                    if (pass == 1 && i == 1)
                        r.second = s;
                }
                for (int i = 0; i < 2; ++i)
                    transfer(fd, true, backup, offset);
            }
            return r;
        };
        return std::make_unique<Side>(setUp, area);
    };
    std::unique_ptr<Side> anchor = anchorSide(false);
    std::unique_ptr<Side> fresh = anchorSide(true);

    // A round is the three areas on each side. The sides take turns area by
    // area, each leading in turn, so a load on the machine that comes and
    // goes falls on all alike.
    Side* const sides[] = {&test, anchor.get(), fresh.get()};
    constexpr size_t kSides = sizeof sides / sizeof sides[0];
    std::vector<double> write[kSides];
    std::vector<double> read[kSides];
    for (int round = -1; round < rounds; ++round) {   // round -1 settles the image and is not counted
        Timed sum[kSides];
        for (size_t index = 0; index < sizeof kAreas; ++index)
            for (size_t turn = 0; turn < kSides; ++turn) {
                const size_t side = (static_cast<size_t>(round + 1) + index + turn) % kSides;
                const Timed t = sides[side]->run(index);
                sum[side].first += t.first;
                sum[side].second += t.second;
            }
        if (round < 0)
            continue;
        for (size_t side = 0; side < kSides; ++side) {
            write[side].push_back(sum[side].first);
            read[side].push_back(sum[side].second);
        }
    }
    double peakMiB[kSides];
    for (size_t side = 0; side < kSides; ++side)
        peakMiB[side] = static_cast<double>(sides[side]->finish()) / 1024.0;

    const Figures tw = figuresOf(write[0]), tr = figuresOf(read[0]);
    const Figures aw = figuresOf(write[1]), ar = figuresOf(read[1]);
    const Figures fw = figuresOf(write[2]), fr = figuresOf(read[2]);
    std::printf("%zu blocks of %llu KiB each way per round, %d rounds; all sides cached (no flush), warm buffers\n",
                sizeof kAreas, static_cast<unsigned long long>(blockBytes >> 10), rounds);
    std::printf("%-30s %26s   %26s\n", "", "min", "median");
    printLine("write  speed test", tw);
    printLine("write  anchor pwrite", aw);
    printLine("write  anchor, fresh blocks", fw);
    printLine("read   speed test", tr);
    printLine("read   anchor pread", ar);
    printLine("read   anchor, fresh blocks", fr);
    // Time over time: the speed test's share of the anchor's throughput.
    std::printf("ratio speed test / anchor:               write min %.2f median %.2f; read min %.2f median %.2f\n",
                aw.min / tw.min, aw.median / tw.median, ar.min / tr.min, ar.median / tr.median);
    std::printf("ratio speed test / anchor, fresh blocks: write min %.2f median %.2f; read min %.2f median %.2f\n",
                fw.min / tw.min, fw.median / tw.median, fr.min / tr.min, fr.median / tr.median);
    std::printf("peak resident memory: speed test %.1f MiB, anchor %.1f MiB, anchor, fresh blocks %.1f MiB "
                "(three blocks: %llu KiB)\n",
                peakMiB[0], peakMiB[1], peakMiB[2], static_cast<unsigned long long>(3 * blockBytes >> 10));

    if (!keep)
        std::filesystem::remove_all(made);
    return 0;
}
