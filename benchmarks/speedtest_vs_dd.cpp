// The speed test of a production run against dd with direct I/O.
//
// Makes a bench with one bridge drive on its real-time clock (time scale 1),
// finds the drive with the scan, runs the speed test on its volume once per
// test area with the largest transfer one test moves (32 MiB), then has dd
// move the same blocks at the same places of the same disk image with
// oflag=direct / iflag=direct. Prints both throughputs and their ratio.
//
//   speedtest_vs_dd [--folder DIR] [--keep]
//
// DIR must not exist yet (default: a new folder under the system's temporary
// folder); it needs a file system that takes direct I/O. --keep leaves it.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

struct Throughput {
    double bytes = 0;
    double seconds = 0;
    double mibPerSecond() const { return seconds > 0 ? bytes / seconds / (1 << 20) : 0; }
};

[[noreturn]] void fail(const std::string& why)
{
    std::fprintf(stderr, "speedtest_vs_dd: %s\n", why.c_str());
    std::exit(1);
}

std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs dd and returns the seconds it reports for its copy.
double runDd(const std::string& arguments)
{
    const std::string command = "dd " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        fail("cannot run dd");
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("dd " + arguments + " failed:\n" + output);
    // "33554432 bytes (34 MB, 32 MiB) copied, 0.0213 s, 1.6 GB/s"
    const size_t at = output.find("copied, ");
    if (at == std::string::npos)
        fail("dd said nothing of its time:\n" + output);
    return std::strtod(output.c_str() + at + 8, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string folder;
    std::string made;   // what this run made and removes again
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc)
            folder = argv[++i];
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else
            fail(std::string("unknown argument ") + argv[i] + " (use --folder DIR, --keep)");
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
    std::unique_ptr<krv::BenchPlatform> platform = krv::BenchPlatform::open(folder, why);
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
    std::vector<krv::DiskExtent> extents;
    if (!krv::Platform::current().volumes().diskExtents(rec.m_cDriveLetter, extents) || extents.empty())
        fail("the volume has no extent");
    const uint64_t volumeStart = extents[0].startingOffset;
    const std::string image = krv::bench::diskImagePath(krv::bench::portStatePath(platform->bench().folder(), 1));

    // The speed test: each timed transfer moves one block.
    Throughput testWrite;
    Throughput testRead;
    for (uint8_t area : kAreas) {
        double read = 0;
        double write = 0;
        if (dev.vReadWriteSpeedTest(rec.m_cDriveLetter, DiskInfoBlock::of(rec), read, write, area, kTestSizeMiB) !=
                SPEED_TEST_OK ||
            read <= 0 || write <= 0)
            fail("the speed test failed on area " + std::to_string(area));
        testWrite.bytes += kBlockBytes;
        testWrite.seconds += kBlockBytes / (write * (1 << 20));
        testRead.bytes += kBlockBytes;
        testRead.seconds += kBlockBytes / (read * (1 << 20));
    }

    // dd: the same blocks at the same places, through the page cache's back
    // door. A first untimed round settles the image's allocation, as the
    // speed test's own first pass does.
    Throughput ddWrite;
    Throughput ddRead;
    const std::string bs = "bs=" + std::to_string(kBlockBytes) + " count=1";
    for (int round = 0; round < 2; ++round) {
        for (uint64_t sector : kAreaSectors) {
            const std::string offset = std::to_string(volumeStart + sector * 512);
            const double w = runDd("if=/dev/zero of=" + quoted(image) + " " + bs + " seek=" + offset +
                                   " oflag=direct,seek_bytes conv=notrunc");
            const double r =
                runDd("if=" + quoted(image) + " of=/dev/null " + bs + " skip=" + offset + " iflag=direct,skip_bytes");
            if (round == 1) {
                ddWrite.bytes += kBlockBytes;
                ddWrite.seconds += w;
                ddRead.bytes += kBlockBytes;
                ddRead.seconds += r;
            }
        }
    }

    std::printf("block %llu MiB, %zu blocks each way (%llu MiB)\n", static_cast<unsigned long long>(kBlockBytes >> 20),
                sizeof kAreas, static_cast<unsigned long long>((kBlockBytes >> 20) * sizeof kAreas));
    std::printf("write: speed test %.1f MiB/s, dd oflag=direct %.1f MiB/s, ratio %.2f\n", testWrite.mibPerSecond(),
                ddWrite.mibPerSecond(), testWrite.mibPerSecond() / ddWrite.mibPerSecond());
    std::printf("read:  speed test %.1f MiB/s, dd iflag=direct %.1f MiB/s, ratio %.2f\n", testRead.mibPerSecond(),
                ddRead.mibPerSecond(), testRead.mibPerSecond() / ddRead.mibPerSecond());

    krv::Platform::setCurrent(nullptr);
    platform.reset();
    if (!keep)
        std::filesystem::remove_all(made);
    return 0;
}
