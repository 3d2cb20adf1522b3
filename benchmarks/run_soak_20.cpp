// Twenty runs in one window on a 16-drive bench, as a line works a shift:
// the automatic start after each scan, and one drive swapped (unplugged and
// plugged in again) between runs, its notices bringing the scan that starts
// the next run. After each run it prints the process's threads
// (/proc/self/task), open descriptors (/proc/self/fd) and resident memory,
// and at the end the growth from the first run to the last. What a run
// leaves behind (a thread, a descriptor, a buffer) shows as growth.
//
//   run_soak_20 [--runs N]
//
// Built with the tests (it drives the window the way the window tests do);
// benchmarks/run_soak_20.sh builds it without sanitizers and runs it.
#include <dirent.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>

#include "app/VIVadeDlg.h"
#include "tests/app/VIVadeDlgRunSupport.h"

namespace {

using namespace krv;
using namespace krv::test;

constexpr int kDrives = 16;

int nEntries(const char* pszFolder)
{
    DIR* dir = ::opendir(pszFolder);
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            ++n;
    ::closedir(dir);
    return n;
}

long lResidentKiB()
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

struct Sample {
    int nThreads;
    int nFds;
    long lRssKiB;
    size_t nBenchLog;  // entries the in-process bench's command logs hold
};

// The descriptor list counts the one it is read through. The bench runs in
// this process and keeps each drive's command log in memory, so its growth
// is printed beside the resident memory.
Sample sample(RunFixture& f)
{
    size_t nBenchLog = 0;
    for (int port = 1; port <= kDrives; ++port)
        nBenchLog += f.bench.devices().log(port).size();
    return {nEntries("/proc/self/task"), nEntries("/proc/self/fd") - 1, lResidentKiB(), nBenchLog};
}

bool bApply(RunFixture& f, const char* pszVerb, int port)
{
    std::string outcome;
    if (!f.bench.bench().apply(bench::BenchCommand{pszVerb, port, {}}, outcome)) {
        std::fprintf(stderr, "%s %d: %s\n", pszVerb, port, outcome.c_str());
        return false;
    }
    return true;
}

int nSoak(int nRuns)
{
    // Partition and format: every port works its drive, and the run is
    // short enough for twenty of them.
    RunFixture f(kDrives);
    f.writeSettings([&](IniRecord& r) {
        setRunSettings(r, f.programDir.path());
        r.fw_enable = 0;
        r.fw_reload = 0;
        r.preload_enable = 0;
        r.wr_test_enable = 0;
        r.auto_mp = 1;
        r.auto_mp_DevNum = kDrives;
    });
    f.dlg->OnInitDialog();
    f.dlg->show();
    std::vector<Sample> samples;
    std::printf("soak: %d runs in one window, %d drives, automatic start, one drive swapped between runs\n", nRuns,
                kDrives);
    std::printf("%4s %8s %8s %10s %12s %8s\n", "run", "threads", "fds", "RSS KiB", "bench log", "PASS");
    const CWorkerThread* pLast = nullptr;
    int nRescans = 0;
    for (int run = 1; run <= nRuns; ++run) {
        if (run > 1) {
            // The operator swaps a drive: its notices bring the scans, the
            // one that finds all sixteen starts the run.
            const int port = 1 + (run - 2) % kDrives;
            const auto unplugSeen = [&] { return f.scanOver() && f.dlg->m_DevList.DevNums == kDrives - 1; };
            if (!bApply(f, "unplug", port))
                return 1;
            if (!runEventsUntil(unplugSeen, std::chrono::seconds(10))) {
                // A swap whose notices brought no scan that saw it: the
                // operator's rescan, counted.
                ++nRescans;
                f.dlg->TriggerScanThread();
                if (!runEventsUntil(unplugSeen, std::chrono::seconds(60))) {
                    std::fprintf(stderr, "run %d: the unplug of port %d was not seen\n", run, port);
                    return 1;
                }
            }
            if (!bApply(f, "plug", port))
                return 1;
        }
        const auto started = [&] { return f.dlg->m_pMainThread && f.dlg->m_pMainThread.get() != pLast; };
        if (!runEventsUntil(started, std::chrono::seconds(10))) {
            ++nRescans;
            f.dlg->TriggerScanThread();
        }
        if (!runEventsUntil(started, std::chrono::seconds(120))) {
            std::fprintf(stderr, "run %d did not start\n", run);
            return 1;
        }
        pLast = f.dlg->m_pMainThread.get();
        if (!runEventsUntil([&] { return f.dlg->m_bRunning == 0 && !f.dlg->m_pMainThread->bIsRunning(); },
                            std::chrono::seconds(600)) ||
            !runEventsUntil([&] { return f.scanOver(); }, std::chrono::seconds(60))) {
            std::fprintf(stderr, "run %d did not end\n", run);
            return 1;
        }
        samples.push_back(sample(f));
        const Sample& s = samples.back();
        std::printf("%4d %8d %8d %10ld %12zu %8s\n", run, s.nThreads, s.nFds, s.lRssKiB, s.nBenchLog,
                    f.dlg->controlText(IDC_EDIT_PASS_COUNT).c_str());
        std::fflush(stdout);
    }
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    const double dRuns = nRuns > 1 ? nRuns - 1 : 1;
    std::printf("growth run 1 -> run %d: threads %+d, fds %+d, RSS %+ld KiB (%.0f KiB per run), bench log %+zd "
                "entries (%.0f per run)\n",
                nRuns, last.nThreads - first.nThreads, last.nFds - first.nFds, last.lRssKiB - first.lRssKiB,
                static_cast<double>(last.lRssKiB - first.lRssKiB) / dRuns,
                static_cast<ptrdiff_t>(last.nBenchLog - first.nBenchLog),
                static_cast<double>(last.nBenchLog - first.nBenchLog) / dRuns);
    std::printf("rescans asked for by hand (a swap its own notices did not bring a scan for): %d\n", nRescans);
    const std::string strFail = f.dlg->controlText(IDC_EDIT_FAIL_COUNT);
    if (strFail != "0") {
        std::fprintf(stderr, "%s drives failed\n", strFail.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int nRuns = 20;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0)
            nRuns = std::max(1, std::atoi(argv[i + 1]));
    return nSoak(nRuns);
}
