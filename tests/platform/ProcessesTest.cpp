// The process table as the system sees it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/LastError.h"
#include "platform/linux/LinuxProcesses.h"
#include "tests/support/TestPlatform.h"

namespace krv {
namespace {

const ProcessInfo* findPid(const std::vector<ProcessInfo>& list, uint32_t pid)
{
    auto it = std::find_if(list.begin(), list.end(), [&](const ProcessInfo& p) { return p.pid == pid; });
    return it == list.end() ? nullptr : &*it;
}

TEST(LinuxProcesses, ListsThisProcessByItsExecutableName)
{
    LinuxProcesses processes;
    auto list = processes.list();
    const ProcessInfo* self = findPid(list, processes.currentPid());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->baseName, "platform_tests");
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                               [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; }));
}

TEST(LinuxProcesses, EndsAChildProcess)
{
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    LinuxProcesses processes;
    EXPECT_TRUE(findPid(processes.list(), static_cast<uint32_t>(child)));
    EXPECT_TRUE(processes.terminate(static_cast<uint32_t>(child), 1));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));

    setLastError(0);
    EXPECT_FALSE(processes.terminate(static_cast<uint32_t>(child), 1)) << "already gone";
    EXPECT_EQ(lastError(), winerr::kInvalidParameter);
    EXPECT_FALSE(processes.terminate(0, 1));
}

TEST(LinuxProcesses, NamesFromAFakeProcTree)
{
    test::TempDir proc;
    namespace fs = std::filesystem;
    fs::create_directories(proc.file("12"));
    fs::create_symlink("/opt/tool/KRV857xVIVade (deleted)", proc.file("12/exe"));
    fs::create_directories(proc.file("7"));
    std::ofstream(proc.file("7/cmdline"), std::ios::binary) << std::string("/usr/bin/mkfs.exfat\0-n\0", 23);
    fs::create_directories(proc.file("9"));
    std::ofstream(proc.file("9/comm")) << "kworker\n";
    fs::create_directories(proc.file("self"));
    fs::create_directories(proc.file("30"));  // nothing readable: ended meanwhile

    auto list = LinuxProcesses(proc.path()).list();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].pid, 7u);
    EXPECT_EQ(list[0].baseName, "mkfs.exfat");
    EXPECT_EQ(list[1].baseName, "kworker");
    EXPECT_EQ(list[2].baseName, "KRV857xVIVade");
}

TEST(LastError, ErrnoMapsToTheWindowsNumbersTheSystemBranchesOn)
{
    const std::pair<int, uint32_t> cases[] = {
        {0, 0},          {ENOENT, 2},      {ENOTDIR, 3},      {EACCES, 5},      {EBADF, 6},
        {ENOMEM, 8},     {EEXIST, 183},    {EINVAL, 87},      {ENOSPC, 112},    {ENAMETOOLONG, 206},
        {ETIMEDOUT, 1460}, {ENODEV, 1167}, {EIO, 1117},       {EOPNOTSUPP, 50}, {EBUSY, 170},
        {ECANCELED, 995}, {EXDEV, 31},
    };
    for (auto [err, win] : cases)
        EXPECT_EQ(winErrorFromErrno(err), win) << "errno " << err;
}

TEST(LastError, IsKeptPerThread)
{
    EXPECT_EQ(setLastErrorFromErrno(ENOENT), winerr::kFileNotFound);
    uint32_t seenByOther = 99;
    std::thread other([&] { seenByOther = lastError(); });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(lastError(), winerr::kFileNotFound);
}

}  // namespace
}  // namespace krv
