// The speed test of a production run against the bare transfers dd would
// make: the same blocks at the same places of the same disk image.
//
// Makes a bench with one bridge drive on its real-time clock (time scale 1),
// finds the drive with the scan and runs the speed test on its volume once
// per test area with the largest block one transfer moves (32 MiB). The
// anchor moves the same bytes at the same offsets of the drive's image file
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
//   the first touch of its fresh 32 MiB buffer costs more than the copy it
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
//   speedtest_vs_dd [--rounds N] [--folder DIR] [--keep]
//
// DIR must not exist yet (default: a new folder under the system's temporary
// folder). --keep leaves it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "platform/bench/Bench.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchPlatform.h"
#include "platform/bench/disk/DiskLayoutPlan.h"

namespace {

constexpr uint32_t kTestSizeMiB = 128;                    // the test moves a quarter of it per transfer
constexpr uint64_t kBlockBytes = kTestSizeMiB * (1ULL << 20) / 4;
constexpr uint8_t kAreas[] = {0, 1, 2};
constexpr uint64_t kAreaSectors[] = {SPEED_TEST_AREA_0, SPEED_TEST_AREA_1, SPEED_TEST_AREA_OTHER};
constexpr size_t kPageBytes = 4096;

// One area of one side: the seconds its timed transfers took.
struct Timed {
    double writeSeconds = 0;
    double readSeconds = 0;
};

[[noreturn]] void fail(const std::string& why)
{
    std::fprintf(stderr, "speedtest_vs_dd: %s\n", why.c_str());
    std::exit(1);
}

void writeAll(int fd, const void* data, size_t length)
{
    if (::write(fd, data, length) != static_cast<ssize_t>(length))
        fail("lost touch with a side");
}

bool readAll(int fd, void* data, size_t length)
{
    auto* p = static_cast<char*>(data);
    while (length > 0) {
        const ssize_t n = ::read(fd, p, length);
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// One side in a child process of its own: `setUp` runs first and its value
// goes back to the parent; then one area per request until the parent
// closes the request pipe.
class Side {
public:
    Side(const std::function<uint64_t()>& setUp, const std::function<Timed(size_t)>& area)
    {
        int request[2];
        int answer[2];
        if (::pipe(request) != 0 || ::pipe(answer) != 0)
            fail("no pipe");
        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ < 0)
            fail("no fork");
        if (pid_ == 0) {
            ::close(request[1]);
            ::close(answer[0]);
            // The other sides' pipes are theirs: kept open here, a side
            // would never see its parent close its requests.
            for (int fd : parentEnds())
                ::close(fd);
            const uint64_t value = setUp();
            writeAll(answer[1], &value, sizeof value);
            uint8_t index = 0;
            while (readAll(request[0], &index, 1)) {
                const Timed r = area(index);
                writeAll(answer[1], &r, sizeof r);
            }
            std::fflush(nullptr);
            ::_exit(0);
        }
        ::close(request[0]);
        ::close(answer[1]);
        request_ = request[1];
        answer_ = answer[0];
        parentEnds().push_back(request_);
        parentEnds().push_back(answer_);
        if (!readAll(answer_, &setUpValue_, sizeof setUpValue_))
            fail("a side could not start");
    }

    uint64_t setUpValue() const { return setUpValue_; }

    Timed area(size_t index)
    {
        const uint8_t byte = static_cast<uint8_t>(index);
        writeAll(request_, &byte, 1);
        Timed r;
        if (!readAll(answer_, &r, sizeof r))
            fail("a side stopped in a transfer");
        return r;
    }

    // Ends the child; its peak resident memory in KiB.
    long finish()
    {
        ::close(request_);
        ::close(answer_);
        int status = 0;
        rusage usage{};
        if (::wait4(pid_, &status, 0, &usage) != pid_ || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            fail("a side did not end well");
        return usage.ru_maxrss;
    }

private:
    static std::vector<int>& parentEnds()
    {
        static std::vector<int> fds;
        return fds;
    }

    pid_t pid_ = -1;
    int request_ = -1;
    int answer_ = -1;
    uint64_t setUpValue_ = 0;
};

// A page-aligned block, every page touched.
struct Block {
    explicit Block(uint8_t fill) : data(static_cast<uint8_t*>(std::aligned_alloc(kPageBytes, kBlockBytes)))
    {
        if (!data)
            fail("no memory");
        std::memset(data, fill, kBlockBytes);
    }
    ~Block() { std::free(data); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    uint8_t* data;
};

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One pread or pwrite of a whole block, as dd with bs= the block makes it.
double transfer(int fd, bool write, uint8_t* block, uint64_t offset)
{
    const auto start = std::chrono::steady_clock::now();
    const ssize_t n = write ? ::pwrite(fd, block, kBlockBytes, static_cast<off_t>(offset))
                            : ::pread(fd, block, kBlockBytes, static_cast<off_t>(offset));
    const double seconds = secondsSince(start);
    if (n != static_cast<ssize_t>(kBlockBytes))
        fail(std::string("anchor ") + (write ? "write" : "read") + " failed: " + std::strerror(errno));
    return seconds;
}

// Min and median over the rounds of the seconds a side's timed transfers
// took, all areas.
struct Figures {
    double min = 0;
    double median = 0;
};

Figures figuresOf(std::vector<double> seconds)
{
    std::sort(seconds.begin(), seconds.end());
    return {seconds.front(), seconds[seconds.size() / 2]};
}

void printLine(const char* what, const Figures& f)
{
    const double mib = static_cast<double>(kBlockBytes * sizeof kAreas) / (1 << 20);
    std::printf("%-30s %8.2f ms %8.0f MiB/s   %8.2f ms %8.0f MiB/s\n", what, f.min * 1e3, mib / f.min,
                f.median * 1e3, mib / f.median);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string folder;
    std::string made;   // what this run made and removes again
    bool keep = false;
    int rounds = 21;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc)
            folder = argv[++i];
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0)
            rounds = std::atoi(argv[++i]);
        else
            fail(std::string("unknown argument ") + argv[i] + " (use --rounds N, --folder DIR, --keep)");
    }
    if (folder.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "krv-speedtest-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            fail("cannot make a temporary folder");
        made = pattern;
        folder = pattern + "/bench";
    } else {
        made = folder;
    }

    // One bridge drive on USB 3 with a volume over its disk.
    krv::bench::BenchSettings settings;
    settings.timeScale = 1.0;
    settings.systemDiskSize = 256ULL << 20;
    settings.ports.resize(1);
    settings.ports[0].diskSize = 512ULL << 20;
    std::vector<krv::bench::PortStart> starts(1);
    krv::bench::DiskLayoutPlan layout;
    std::string why;
    if (!krv::bench::parseDiskLayoutPlan("raw:rest", layout, why))
        fail(why);
    starts[0].disk = layout;
    {
        krv::bench::BenchError error;
        if (!krv::bench::Bench::create(folder, settings, error, starts))
            fail("cannot make the bench: " + error.message);
    }
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
                                     kTestSizeMiB) != SPEED_TEST_OK ||
            read <= 0 || write <= 0)
            fail("the speed test failed on area " + std::to_string(kAreas[index]));
        return Timed{kBlockBytes / (write * (1 << 20)), kBlockBytes / (read * (1 << 20))};
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
                        r.writeSeconds = s;
                }
                for (int i = 0; i < 2; ++i) {
                    const double s = transfer(fd, false, readBack, offset);
                    if (pass == 1 && i == 1)
                        r.readSeconds = s;
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
                const Timed t = sides[side]->area(index);
                sum[side].writeSeconds += t.writeSeconds;
                sum[side].readSeconds += t.readSeconds;
            }
        if (round < 0)
            continue;
        for (size_t side = 0; side < kSides; ++side) {
            write[side].push_back(sum[side].writeSeconds);
            read[side].push_back(sum[side].readSeconds);
        }
    }
    double peakMiB[kSides];
    for (size_t side = 0; side < kSides; ++side)
        peakMiB[side] = static_cast<double>(sides[side]->finish()) / 1024.0;

    const Figures tw = figuresOf(write[0]), tr = figuresOf(read[0]);
    const Figures aw = figuresOf(write[1]), ar = figuresOf(read[1]);
    const Figures fw = figuresOf(write[2]), fr = figuresOf(read[2]);
    std::printf("%zu blocks of %llu MiB each way per round, %d rounds; all sides cached (no flush), warm buffers\n",
                sizeof kAreas, static_cast<unsigned long long>(kBlockBytes >> 20), rounds);
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
                "(three blocks: %llu MiB)\n",
                peakMiB[0], peakMiB[1], peakMiB[2], static_cast<unsigned long long>(3 * kBlockBytes >> 20));

    if (!keep)
        std::filesystem::remove_all(made);
    return 0;
}
