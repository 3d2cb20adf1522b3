// The tool's FAT32 writer against mkfs.fat on the same 2 TiB sparse image,
// both with 64 KiB clusters, 32 reserved sectors and two FATs, both flushed
// to the medium inside the timing (mkfs.fat ends with an fsync of its
// image; the tool's image is fsync'd once its format returns): several
// rounds of each, a fresh image every round, min and median wall time and
// their ratio (tool / mkfs.fat). Every round's tool image is checked with
// `fsck.fat -n`; a format it does not pass ends the benchmark.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/KrvnUSBDev.h"
#include "format/Fat32Format.h"
#include "tests/format/ImageVolumePlatform.h"

namespace {

constexpr uint64_t kBytes = (2ull << 40) - 512 * 2;   // the largest FAT32 volume of 512-byte sectors
constexpr int kRounds = 5;

double seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double runTool(krv::test::ImageVolumePlatform& platform, const std::string& path)
{
    krv::test::ImageVolumeSpec spec;
    spec.path = path;
    spec.bytes = kBytes;
    if (!platform.attach(spec)) {
        std::perror("image");
        std::exit(1);
    }
    auto start = std::chrono::steady_clock::now();
    CFat32Format format(g_UsbDev);
    format.bSetFormatParam('D', 128, 0);
    if (!format.bFormatVolume("BENCH")) {
        std::fprintf(stderr, "the tool's format failed\n");
        std::exit(1);
    }
    // On the medium, as mkfs.fat's image is when it returns.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        std::perror("fsync of the tool's image");
        std::exit(1);
    }
    ::close(fd);
    double s = seconds(start);
    platform.close();
    return s;
}

// fsck.fat's read-only check of the image; ends the benchmark when it finds
// anything wrong.
void checkImage(const std::string& path)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execl("/usr/sbin/fsck.fat", "fsck.fat", "-n", path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "fsck.fat -n %s found the tool's format wrong (exit %d)\n", path.c_str(),
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        std::exit(1);
    }
}

double runMkfs(const std::string& path)
{
    // A fresh sparse image, as the tool's round gets.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(kBytes)) != 0) {
        std::perror("image");
        std::exit(1);
    }
    ::close(fd);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execl("/usr/sbin/mkfs.fat", "mkfs.fat", "-F", "32", "-s", "128", "-S", "512", "-R", "32", "-n", "BENCH",
                path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "mkfs.fat failed\n");
        std::exit(1);
    }
    return seconds(start);
}

void stats(std::vector<double> v, double& min, double& median)
{
    std::sort(v.begin(), v.end());
    min = v.front();
    median = v[v.size() / 2];
}

}  // namespace

int main()
{
    char folder[] = "/tmp/fat32benchXXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    const std::string tool = std::string(folder) + "/tool.img", peer = std::string(folder) + "/mkfs.img";
    krv::test::ImageVolumePlatform platform;
    std::vector<double> toolTimes, mkfsTimes;
    runTool(platform, tool);   // warm the buffers once for both
    runMkfs(peer);
    for (int i = 0; i < kRounds; ++i) {
        toolTimes.push_back(runTool(platform, tool));
        checkImage(tool);
        mkfsTimes.push_back(runMkfs(peer));
    }
    ::unlink(tool.c_str());
    ::unlink(peer.c_str());
    ::rmdir(folder);
    double toolMin, toolMedian, mkfsMin, mkfsMedian;
    stats(toolTimes, toolMin, toolMedian);
    stats(mkfsTimes, mkfsMin, mkfsMedian);
    std::printf("FAT32 format of a 2 TiB sparse image, %d rounds, both flushed; fsck.fat -n clean every round\n",
                kRounds);
    std::printf("  tool writer : min %.3f s  median %.3f s\n", toolMin, toolMedian);
    std::printf("  mkfs.fat    : min %.3f s  median %.3f s\n", mkfsMin, mkfsMedian);
    std::printf("  ratio tool/mkfs.fat: min %.2f  median %.2f\n", toolMin / mkfsMin, toolMedian / mkfsMedian);
    return 0;
}
