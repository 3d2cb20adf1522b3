// A writer killed between its temporary file and the rename leaves the
// temporary behind; the next writer of the same place removes those of
// processes that are gone and never touches a live process's.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/FileSystem.h"
#include "platform/bench/BenchFiles.h"
#include "tests/support/TestPlatform.h"

namespace krv::test {
namespace {

// The number of a process that has ended (and been reaped).
int deadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(LeftoverTemporaries, TheNextWriteRemovesThoseOfDeadWritersOnly)
{
    TempDir dir;
    const std::string dead = std::to_string(deadPid());
    const std::string live = std::to_string(::getppid());

    // The tool's report files.
    const std::string report = dir.file("U4Data.csv");
    const std::string deadReport = report + ".tmp" + dead + ".0";
    const std::string liveReport = report + ".tmp" + live + ".0";
    const std::string otherFile = dir.file("Other.csv.tmp" + dead + ".0");
    for (const std::string& path : {deadReport, liveReport, otherFile})
        std::ofstream(path) << std::string(4096, 'x');
    ASSERT_TRUE(writeFileAtomic(report, "row\r\n"));
    EXPECT_FALSE(std::filesystem::exists(deadReport));
    EXPECT_TRUE(std::filesystem::exists(liveReport));
    EXPECT_TRUE(std::filesystem::exists(otherFile)) << "another file's temporaries are its own writer's business";

    // The bench's state files.
    const std::string folder = dir.file("ports");
    std::filesystem::create_directory(folder);
    const std::string deadState = folder + "/.tmp-" + dead + "-3-state.ini";
    const std::string liveState = folder + "/.tmp-" + live + "-3-state.ini";
    for (const std::string& path : {deadState, liveState})
        std::ofstream(path) << "x";
    std::string error;
    ASSERT_TRUE(bench::writeFileAtomically(folder + "/state.ini", "state", error)) << error;
    EXPECT_FALSE(std::filesystem::exists(deadState));
    EXPECT_TRUE(std::filesystem::exists(liveState));
}

}  // namespace
}  // namespace krv::test
