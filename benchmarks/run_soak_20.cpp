// Twenty runs in one window on a 16-drive bench, as a line works a shift:
// the automatic start after each scan, and one drive swapped (unplugged and
// plugged in again) between runs, its notices bringing the scan that starts
// the next run. After each run it prints the process's threads
// (/proc/self/task), open descriptors (/proc/self/fd) and resident memory,
// and at the end the growth from the first run to the last. What a run
// leaves behind (a thread, a descriptor, a buffer) shows as growth.
//
// The bench runs in this process and keeps every drive's command log in
// memory, so resident memory grows with the bench as well. The tool's own
// figure is the heap in use (mallinfo2) less what the bench's logs take
// (measured as the heap a copy of them takes; their vectors' spare capacity
// is not counted, at most sizeof(LogEntry) per entry). Each sample is taken
// at a quiet point: the run token given back, the supervisor ended, no scan
// under way and the window's other threads (removal, scans) ended, so the
// thread list holds only the threads that stay (their names are printed
// when the count changes). The harness's in-memory copy of the debug trace
// is cleared before each sample.
//
//   run_soak_20 [--runs N]
//
// Built with the tests (it drives the window the way the window tests do);
// benchmarks/run_soak_20.sh builds it without sanitizers and runs it.
#include <dirent.h>
#include <malloc.h>

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

// The names of the process's threads, sorted.
std::vector<std::string> threadNames()
{
    std::vector<std::string> names;
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream in(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(in, name);
        names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

long lHeapInUseKiB()
{
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

struct Sample {
    std::vector<std::string> threads;
    int nFds;
    long lRssKiB;
    long lHeapKiB;       // heap in use, the bench's logs included
    long lBenchLogKiB;   // what the bench's logs take of it
    size_t nBenchLog;    // entries the in-process bench's command logs hold
    long lToolKiB() const { return lHeapKiB - lBenchLogKiB; }
};

// The descriptor list counts the one it is read through. Freed memory is
// given back first (malloc_trim), so the resident figure is not left with
// what a run freed.
Sample sample(RunFixture& f)
{
    // The harness keeps every line of the window's debug trace in memory
    // (level 4): a copy of the trace, not the tool's; let go before measuring.
    f.bench.capture().clear();
    ::malloc_trim(0);
    size_t nBenchLog = 0;
    const long lBefore = lHeapInUseKiB();
    long lBenchLogKiB = 0;
    {
        std::vector<std::vector<bench::LogEntry>> copies;
        copies.reserve(kDrives);
        for (int port = 1; port <= kDrives; ++port) {
            copies.push_back(f.bench.devices().log(port));
            nBenchLog += copies.back().size();
        }
        lBenchLogKiB = lHeapInUseKiB() - lBefore;
    }
    return {threadNames(), nEntries("/proc/self/fd") - 1, lResidentKiB(), lHeapInUseKiB(), lBenchLogKiB, nBenchLog};
}

// Waits with the event loop until the window is quiet: the run token back,
// the supervisor ended, no scan under way or asked for by the rescan timer,
// and no other thread of the window running.
bool bQuiet(RunFixture& f)
{
    return runEventsUntil(
        [&] {
            return f.dlg->m_bRunning == 0 && !f.dlg->m_pMainThread->bIsRunning() && f.scanOver() &&
                   f.dlg->m_bRescanArmed == 0 && f.dlg->m_Threads.vecRunningNames().empty();
        },
        std::chrono::seconds(60));
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
    std::printf("%4s %8s %5s %10s %10s %10s %10s %10s %6s\n", "run", "threads", "fds", "RSS KiB", "heap KiB",
                "log KiB", "tool KiB", "log ents", "PASS");
    const CWorkerThread* pLast = nullptr;
    // Scans asked for by hand because a swap's own notices brought none that
    // saw it: the window must never need one.
    int nRescans = 0;
    for (int run = 1; run <= nRuns; ++run) {
        if (run > 1) {
            // The operator swaps a drive: its notices bring the scans, the
            // one that finds all sixteen starts the run.
            const int port = 1 + (run - 2) % kDrives;
            const auto unplugSeen = [&] { return f.scanOver() && f.dlg->m_DevList.DevNums == kDrives - 1; };
            if (!bApply(f, "unplug", port))
                return 1;
            if (!runEventsUntil(unplugSeen, std::chrono::seconds(30))) {
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
        if (!runEventsUntil(started, std::chrono::seconds(30))) {
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
            !bQuiet(f)) {
            std::fprintf(stderr, "run %d did not end\n", run);
            return 1;
        }
        samples.push_back(sample(f));
        const Sample& s = samples.back();
        std::printf("%4d %8zu %5d %10ld %10ld %10ld %10ld %10zu %6s\n", run, s.threads.size(), s.nFds, s.lRssKiB,
                    s.lHeapKiB, s.lBenchLogKiB, s.lToolKiB(), s.nBenchLog,
                    f.dlg->controlText(IDC_EDIT_PASS_COUNT).c_str());
        if (samples.size() == 1 || s.threads != samples[samples.size() - 2].threads) {
            std::string strNames;
            for (const std::string& name : s.threads)
                strNames += " " + name;
            std::printf("     threads:%s\n", strNames.c_str());
        }
        std::fflush(stdout);
    }
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    const double dRuns = nRuns > 1 ? nRuns - 1 : 1;
    const auto perRun = [&](long lFirst, long lLast) { return static_cast<double>(lLast - lFirst) / dRuns; };
    std::printf("growth run 1 -> run %d: threads %+d, fds %+d, RSS %+ld KiB (%.0f per run), heap %+ld KiB (%.0f per "
                "run), bench logs %+ld KiB / %+zd entries, tool %+ld KiB (%.0f per run)\n",
                nRuns, static_cast<int>(last.threads.size()) - static_cast<int>(first.threads.size()),
                last.nFds - first.nFds, last.lRssKiB - first.lRssKiB, perRun(first.lRssKiB, last.lRssKiB),
                last.lHeapKiB - first.lHeapKiB, perRun(first.lHeapKiB, last.lHeapKiB),
                last.lBenchLogKiB - first.lBenchLogKiB, static_cast<ptrdiff_t>(last.nBenchLog - first.nBenchLog),
                last.lToolKiB() - first.lToolKiB(), perRun(first.lToolKiB(), last.lToolKiB()));
    std::printf("the bench logs' spare vector capacity, not counted above: at most %zu KiB\n",
                last.nBenchLog * sizeof(bench::LogEntry) / 1024);
    std::printf("scans asked for by hand (a swap its own notices brought no scan for): %d\n", nRescans);
    if (nRescans != 0) {
        std::fprintf(stderr, "the window missed a swap's notices %d times\n", nRescans);
        return 1;
    }
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
