// The write/read test of a production run against the same system calls
// made directly: the same file, the same bytes, the same folders.
//
// Makes a bench with one bridge drive on its real-time clock (time scale 1)
// with a FAT32 volume, finds the drive with the scan and its volume, and puts
// the test's source file (the run's wrtest.bin, of --size-mib, 1 unless
// given) in the program's folder. One pass of the test side is what the run's
// write/read test does once, call for call: the source read into one buffer
// through the system's file layer, copied to the other, the volume's copy
// removed, written from the second buffer (through the drive, which takes
// and answers the file data), read back into the first, the two compared,
// the copy removed. The anchor makes the same system calls on the same
// paths itself: open, fstat, read, close of the source; the copy; unlink;
// open, write, fstat, close of the target; open, fstat, read, close of it;
// memcmp; unlink.
//
// Like with like:
// - both cached: the drive's flush of a file on the bench is its own (it
//   stores each write before it answers), and nothing reaches the host's
//   disk inside the timing on either side; the anchor does not fsync;
// - warm buffers: each side keeps its two buffers for all its passes, as
//   the run keeps them for all the repetitions of a test, and one untimed
//   round comes first;
// - each side in a process of its own; the sides take turns round by round,
//   each leading in turn.
//
// Prints the min and median time of a round (--passes passes, 20 unless
// given) for each side with its throughput (file bytes written and read
// back), the ratio of the anchor's time to the test's (1.00: the anchor's
// speed), and each side's peak resident memory.
//
//   wrtest_vs_syscalls [--rounds N] [--passes N] [--size-mib N] [--folder DIR] [--keep]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "device/USBUtility.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/bench/Bench.h"
#include "platform/bench/BenchPlatform.h"
#include "platform/bench/disk/DiskLayoutPlan.h"

namespace {

using namespace krv::benchmark;

constexpr size_t kMarkBytes = 4;   // the run clears these of each buffer before a pass

// The test side's pass: the run's repetition, through the system's own calls.
bool testPass(const std::string& source, const std::string& target, std::vector<uint8_t>& write,
              std::vector<uint8_t>& read)
{
    const uint32_t size = static_cast<uint32_t>(write.size());
    std::memset(write.data(), 0, kMarkBytes);
    std::memset(read.data(), 0, kMarkBytes);
    if (!pUtility.vReadFile(source, write.data(), size))
        return false;
    read = write;
    std::error_code ec;
    std::filesystem::remove(target, ec);
    bool ok = pUtility.vWriteFile(target, read.data(), size);
    if (ok) {
        std::memset(write.data(), 0, kMarkBytes);
        ok = pUtility.vReadFile(target, write.data(), size);
    }
    ok = ok && write == read;
    std::filesystem::remove(target, ec);
    return ok;
}

bool readWhole(const std::string& path, std::vector<uint8_t>& buffer)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) == buffer.size() &&
              ::read(fd, buffer.data(), buffer.size()) == static_cast<ssize_t>(buffer.size());
    return ::close(fd) == 0 && ok;
}

// The anchor's pass: the same system calls, made directly.
bool anchorPass(const std::string& source, const std::string& target, std::vector<uint8_t>& write,
                std::vector<uint8_t>& read)
{
    std::memset(write.data(), 0, kMarkBytes);
    std::memset(read.data(), 0, kMarkBytes);
    if (!readWhole(source, write))
        return false;
    read = write;
    ::unlink(target.c_str());
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::write(fd, read.data(), read.size()) == static_cast<ssize_t>(read.size()) && ::fstat(fd, &st) == 0 &&
              static_cast<size_t>(st.st_size) == read.size();
    ok = ::close(fd) == 0 && ok;
    if (ok) {
        std::memset(write.data(), 0, kMarkBytes);
        ok = readWhole(target, write);
    }
    ok = ok && std::memcmp(write.data(), read.data(), read.size()) == 0;
    ::unlink(target.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string folder;
    std::string made;   // what this run made and removes again
    bool keep = false;
    int rounds = 9;
    int passes = 20;
    uint32_t sizeMiB = 1;
    for (int i = 1; i < argc; ++i) {
        auto number = [&](int most) {
            const int n = i + 1 < argc ? std::atoi(argv[i + 1]) : 0;
            if (n <= 0 || n > most)
                fail(std::string(argv[i]) + " wants a number from 1 to " + std::to_string(most));
            ++i;
            return n;
        };
        if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc)
            folder = argv[++i];
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = number(10000);
        else if (std::strcmp(argv[i], "--passes") == 0)
            passes = number(10000);
        else if (std::strcmp(argv[i], "--size-mib") == 0)
            sizeMiB = static_cast<uint32_t>(number(256));
        else
            fail(std::string("unknown argument ") + argv[i] +
                 " (use --rounds N, --passes N, --size-mib N, --folder DIR, --keep)");
    }
    const size_t bytes = size_t{sizeMiB} << 20;
    // One bridge drive on USB 3 with a FAT32 volume over its disk, large
    // enough for the test's free-space rule.
    const krv::benchmark::BenchFolders folders =
        krv::benchmark::makeOneDriveBench(folder, "krv-wrtest", "fat32:rest", std::max<uint64_t>(512ULL << 20, uint64_t{bytes} * 16));
    made = folders.made;
    folder = folders.folder;
    std::string why;
    // The test's source, in the program's folder (on the host's own disk).
    const std::string source = made + "/wrtest.bin";
    {
        std::vector<uint8_t> content(bytes);
        for (size_t i = 0; i < bytes; ++i)
            content[i] = static_cast<uint8_t>(i * 131 + (i >> 12));
        const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, content.data(), bytes) != static_cast<ssize_t>(bytes) || ::close(fd) != 0)
            fail("cannot write " + source);
    }

    // Where the volume keeps its files: the test side finds it and tells
    // the anchor, which works in the same folder.
    std::string volumeRoot;
    const std::string rootNote = made + "/volume-folder";
    std::unique_ptr<krv::BenchPlatform> platform;
    auto testSetUp = [&]() -> uint64_t {
        platform = krv::BenchPlatform::open(folder, why);
        if (!platform)
            fail("cannot open the bench: " + why);
        krv::Platform::setCurrent(platform.get());
        vDEBUG_Initial_printf();
        vDEBUG_SetLevel(0);
        CKrvnUSBDev dev;
        DevList list;
        if (dev.Open(&list, "0", BRIDGE_TYPE_857X) != 0)
            fail("the scan found no drive");
        DevInfo& rec = list.Devs[0];
        if (dev.nObtainDiSKInfo(strDrivePath(krv::DriveKind::PhysicalDrive, rec.m_ucPhysicalAddress), rec) !=
                DISK_INFO_OK ||
            rec.m_cDriveLetter == DEV_DRIVE_LETTER_NONE)
            fail("the drive has no disk information or no letter");
        volumeRoot = krv::Platform::current().volumes().mountPath(rec.m_cDriveLetter);
        std::FILE* f = std::fopen(rootNote.c_str(), "w");
        if (volumeRoot.empty() || !f || std::fputs(volumeRoot.c_str(), f) < 0 || std::fclose(f) != 0)
            fail("the volume takes no files");
        return 0;
    };
    auto pathsSide = [&](bool test) {
        auto buffers = std::make_shared<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>>();
        auto setUp = [=, &volumeRoot]() -> uint64_t {
            const uint64_t value = test ? testSetUp() : 0;
            buffers->first.assign(bytes, 0);
            buffers->second.assign(bytes, 0);
            return value;
        };
        auto round = [=, &volumeRoot, &source](size_t) {
            const std::string target = krv::joinPath(volumeRoot, "wrtest.bin");
            const auto start = std::chrono::steady_clock::now();
            for (int pass = 0; pass < passes; ++pass) {
                const bool ok = test ? testPass(source, target, buffers->first, buffers->second)
                                     : anchorPass(source, target, buffers->first, buffers->second);
                if (!ok)
                    fail(std::string(test ? "the write/read test" : "the anchor") + " failed a pass");
            }
            return Timed{secondsSince(start), 0};
        };
        return std::make_unique<Side>(setUp, round);
    };
    std::unique_ptr<Side> test = pathsSide(true);
    // The anchor works in the volume's folder the test side found.
    {
        std::FILE* f = std::fopen(rootNote.c_str(), "r");
        char text[4096] = {};
        if (!f || !std::fgets(text, sizeof text, f))
            fail("the test side did not tell the volume's folder");
        std::fclose(f);
        volumeRoot = text;
    }
    std::unique_ptr<Side> anchor = pathsSide(false);

    Side* const sides[] = {test.get(), anchor.get()};
    std::vector<double> seconds[2];
    for (int round = -1; round < rounds; ++round) {   // round -1 warms both and is not counted
        for (size_t turn = 0; turn < 2; ++turn) {
            const size_t side = (static_cast<size_t>(round + 1) + turn) % 2;
            const double s = sides[side]->run(0).first;
            if (round >= 0)
                seconds[side].push_back(s);
        }
    }
    const double peakMiB[] = {static_cast<double>(test->finish()) / 1024.0,
                              static_cast<double>(anchor->finish()) / 1024.0};

    const Figures t = figuresOf(seconds[0]);
    const Figures a = figuresOf(seconds[1]);
    const double mib = 2.0 * sizeMiB * passes;   // written and read back per round
    std::printf("write/read test of a %u MiB file, %d passes per round, %d rounds; both cached (no flush), warm "
                "buffers\n",
                sizeMiB, passes, rounds);
    std::printf("%-28s %26s   %26s\n", "", "min", "median");
    auto line = [&](const char* what, const Figures& f) {
        std::printf("%-28s %8.2f ms %8.0f MiB/s   %8.2f ms %8.0f MiB/s\n", what, f.min * 1e3, mib / f.min,
                    f.median * 1e3, mib / f.median);
    };
    line("write/read test", t);
    line("anchor, system calls", a);
    std::printf("ratio write/read test / anchor: min %.2f median %.2f\n", a.min / t.min, a.median / t.median);
    std::printf("peak resident memory: write/read test %.1f MiB, anchor %.1f MiB (two buffers: %u MiB)\n", peakMiB[0],
                peakMiB[1], 2 * sizeMiB);
    if (!keep)
        std::filesystem::remove_all(made);
    return 0;
}
