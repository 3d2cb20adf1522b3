// The platform the programs get on a bench, and how the environment picks it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/Platform.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchPlatform.h"
#include "tests/platform/RecordingJournal.h"
#include "tests/support/TestPlatform.h"

namespace krv {
namespace {

// Sets or clears one environment variable for a test's life.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class BenchPlatformTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bench::BenchSettings s;
        s.timeScale = 40;
        s.ports.resize(2);
        bench::BenchError error;
        ASSERT_TRUE(bench::Bench::create(folder, s, error)) << error.message;
    }

    test::TempDir dir;
    std::string folder = dir.path() + "/bench";
};

TEST_F(BenchPlatformTest, OwnsTheBenchAndRunsAtItsTimeScale)
{
    std::string error;
    auto platform = BenchPlatform::open(folder, error);
    ASSERT_TRUE(platform) << error;
    EXPECT_TRUE(platform->isBench());
    EXPECT_EQ(platform->clock().scale(), 40);
    EXPECT_TRUE(platform->volumes().driveLetterInUse('C'));
    EXPECT_FALSE(platform->volumes().driveLetterInUse('D'));
    EXPECT_EQ(platform->bench().portCount(), 2);

    bench::BenchError second;
    EXPECT_FALSE(bench::Bench::open(folder, second));
    EXPECT_EQ(second.kind, bench::BenchError::Kind::Owned);
    std::string again;
    EXPECT_FALSE(BenchPlatform::open(folder, again));
    EXPECT_NE(again.find("owned by another process (pid " + std::to_string(::getpid())), std::string::npos) << again;

    platform.reset();
    EXPECT_TRUE(bench::Bench::open(folder, second)) << "the platform lets go of the bench when it ends";
}

TEST_F(BenchPlatformTest, AppliesInboxCommandsWithoutBeingAsked)
{
    std::string error;
    auto platform = BenchPlatform::open(folder, error);
    ASSERT_TRUE(platform) << error;
    std::string id;
    bench::Inbox inbox(bench::inboxPath(folder));
    ASSERT_TRUE(inbox.post({"unplug", 2, {}}, id, error)) << error;

    // Bounded: the poll thread looks every few tens of milliseconds.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string reason;
    while (inbox.fate(id, reason) == bench::Inbox::Fate::Pending && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(inbox.fate(id, reason), bench::Inbox::Fate::Done);
    EXPECT_FALSE(platform->bench().settings().ports[1].present);

    // On demand, whoever gets there first applies it; the result is the same.
    ASSERT_TRUE(inbox.post({"plug", 2, {}}, id, error)) << error;
    platform->processInboxNow();
    EXPECT_EQ(inbox.fate(id, reason), bench::Inbox::Fate::Done);
    EXPECT_TRUE(platform->bench().settings().ports[1].present);
}

TEST_F(BenchPlatformTest, RefusesABrokenBenchByFileAndLine)
{
    std::ofstream(bench::settingsPath(folder)) << "[bench]\nports = 1\n[port 1]\nchip = KRV8574\nlink = USB9\n";
    std::string error;
    EXPECT_FALSE(BenchPlatform::open(folder, error));
    EXPECT_EQ(error.rfind(folder + "/bench.ini:5: unknown link 'USB9'", 0), 0u) << error;
}

// A program's trace must reach the journal under its name: started from the
// desktop, its stderr is read by nobody.
TEST_F(BenchPlatformTest, AProgramsDebugOutputReachesTheJournalUnderItsName)
{
    auto record = std::make_shared<test::JournalRecord>();
    BenchPlatformOptions options;
    options.programName = "KRV857xShowStatus";
    options.journal = std::make_unique<test::RecordingJournal>(record);
    std::string error;
    auto platform = BenchPlatform::open(folder, error, std::move(options));
    ASSERT_TRUE(platform) << error;
    platform->debugOutput().write("\r\nERR::MainThreadFun:12: TimeOut dwErrorCode 0");
    EXPECT_EQ(record->tags, std::vector<std::string>{"KRV857xShowStatus"});
    EXPECT_EQ(record->entries, std::vector<std::string>{"ERR::MainThreadFun:12: TimeOut dwErrorCode 0"});
}

TEST_F(BenchPlatformTest, EnvironmentChoosesTheBackend)
{
    {
        ScopedEnv env("KRV_BENCH", nullptr);
        std::string error;
        EXPECT_FALSE(createPlatform("BenchPlatformTest", error));
        EXPECT_NE(error.find("no host backend"), std::string::npos) << error;
        EXPECT_NE(error.find("KRV_BENCH"), std::string::npos) << error;
    }
    {
        ScopedEnv env("KRV_BENCH", folder.c_str());
        std::string error;
        auto platform = createPlatform("BenchPlatformTest", error);
        ASSERT_TRUE(platform) << error;
        EXPECT_EQ(platform->backendName(), "bench");
        auto* onBench = dynamic_cast<BenchPlatform*>(platform.get());
        ASSERT_TRUE(onBench);
        EXPECT_EQ(onBench->bench().folder(), folder);
    }
    {
        std::string missing = dir.path() + "/nowhere";
        ScopedEnv env("KRV_BENCH", missing.c_str());
        std::string error;
        EXPECT_FALSE(createPlatform("BenchPlatformTest", error));
        EXPECT_NE(error.find(missing + " does not exist"), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace krv
