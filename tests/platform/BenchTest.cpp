// A bench folder as its owner sees it: making and opening one, the one-owner
// rule, and the inbox through which others change it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/bench/Bench.h"
#include "platform/bench/BenchLayout.h"
#include "tests/support/TestPlatform.h"

namespace krv::bench {
namespace {

BenchSettings threePorts()
{
    BenchSettings s;
    s.timeScale = 20;
    s.ports.resize(3);
    s.ports[1].chip = "KRV8575";
    s.ports[1].link = "USB4";
    s.ports[2].present = false;
    return s;
}

class BenchFolder : public ::testing::Test {
protected:
    std::unique_ptr<Bench> make()
    {
        BenchError error;
        auto bench = Bench::create(folder, threePorts(), error);
        EXPECT_TRUE(bench) << error.message;
        return bench;
    }

    std::unique_ptr<Bench> open(BenchError& error) { return Bench::open(folder, error); }

    BenchSettings onDisk()
    {
        BenchSettings s;
        std::string error;
        EXPECT_TRUE(loadBenchSettings(settingsPath(folder), s, error)) << error;
        return s;
    }

    test::TempDir dir;
    std::string folder = dir.path() + "/bench";
};

TEST_F(BenchFolder, CreateLaysOutTheFolderAndOpenReadsItBack)
{
    make().reset();
    for (int port = 1; port <= 3; ++port)
        EXPECT_TRUE(std::filesystem::is_directory(portStatePath(folder, port))) << port;
    EXPECT_TRUE(std::filesystem::is_directory(inboxPath(folder)));

    BenchError error;
    auto bench = open(error);
    ASSERT_TRUE(bench) << error.message;
    BenchSettings expected = threePorts();
    std::string why;
    ASSERT_TRUE(checkBenchSettings(expected, why)) << why;
    EXPECT_EQ(bench->settings(), expected);
    EXPECT_EQ(bench->portCount(), 3);
    EXPECT_EQ(bench->timeScale(), 20);
}

TEST_F(BenchFolder, CreateRefusesToOverwriteOrLitter)
{
    make().reset();
    BenchError error;
    EXPECT_FALSE(Bench::create(folder, threePorts(), error));
    EXPECT_NE(error.message.find("already holds a bench"), std::string::npos) << error.message;

    std::ofstream(dir.file("junk")) << "x";
    EXPECT_FALSE(Bench::create(dir.path(), threePorts(), error));
    EXPECT_NE(error.message.find("is not empty"), std::string::npos) << error.message;

    BenchSettings bad = threePorts();
    bad.ports[0].chip = "KRV752A";
    bad.ports[0].link = "TBT3";
    EXPECT_FALSE(Bench::create(dir.path() + "/other", bad, error));
    EXPECT_EQ(error.kind, BenchError::Kind::BadSettings);
    EXPECT_EQ(error.message.rfind("port 1: link TBT3 needs a KRV857x", 0), 0u) << error.message;
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/other")) << "refused settings must not leave a folder";
}

TEST_F(BenchFolder, OpenErrorsSayWhatIsWrong)
{
    BenchError error;
    EXPECT_FALSE(open(error));
    EXPECT_EQ(error.kind, BenchError::Kind::NoFolder);
    EXPECT_NE(error.message.find(folder + " does not exist"), std::string::npos) << error.message;

    std::filesystem::create_directory(folder);
    EXPECT_FALSE(open(error));
    EXPECT_EQ(error.kind, BenchError::Kind::NotABench);

    std::ofstream(settingsPath(folder)) << "[bench]\nports = 1\n[port 1]\nchip = KRV9\n";
    EXPECT_FALSE(open(error));
    EXPECT_EQ(error.kind, BenchError::Kind::BadSettings);
    EXPECT_EQ(error.message.rfind(folder + "/bench.ini:4: unknown chip 'KRV9'", 0), 0u) << error.message;
}

TEST_F(BenchFolder, OneOwnerAtATime)
{
    auto owner = make();
    BenchError error;
    // flock belongs to the open file description, so a second open in this
    // very process is refused as another process would be.
    EXPECT_FALSE(open(error));
    EXPECT_EQ(error.kind, BenchError::Kind::Owned);
    EXPECT_NE(error.message.find(folder), std::string::npos) << error.message;
    EXPECT_NE(error.message.find("pid " + std::to_string(::getpid())), std::string::npos) << error.message;
    auto recorded = BenchLock::recordedOwner(folder);
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->pid, static_cast<uint32_t>(::getpid()));

    owner.reset();
    EXPECT_FALSE(BenchLock::recordedOwner(folder)) << "a released bench names no owner";
    EXPECT_TRUE(open(error)) << error.message;
}

TEST_F(BenchFolder, AnOwnerThatDiesLetsGo)
{
    make().reset();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        BenchError error;
        auto bench = Bench::open(folder, error);
        char c = bench ? 'y' : 'n';
        if (::write(ready[1], &c, 1) != 1)
            ::_exit(2);
        ::pause();  // hold the bench until killed
        ::_exit(0);
    }
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(c, 'y');

    BenchError error;
    EXPECT_FALSE(open(error));
    EXPECT_NE(error.message.find("pid " + std::to_string(child)), std::string::npos) << error.message;

    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(open(error)) << error.message;
}

TEST_F(BenchFolder, OwnerAppliesInboxCommandsInOrderAndSavesThem)
{
    auto bench = make();
    Inbox inbox(inboxPath(folder));
    std::string unplugId, plugId, error;
    ASSERT_TRUE(inbox.post({"unplug", 1, {}}, unplugId, error)) << error;
    ASSERT_TRUE(inbox.post({"plug", 3, {}}, plugId, error)) << error;
    ASSERT_TRUE(inbox.post({"plug", 1, {}}, plugId, error)) << error;  // after the unplug: port 1 ends plugged
    std::string lastId;
    ASSERT_TRUE(inbox.post({"unplug", 2, {}}, lastId, error)) << error;
    EXPECT_EQ(inbox.pending().size(), 4u);

    EXPECT_EQ(bench->processInbox(), 4);
    EXPECT_TRUE(inbox.pending().empty());
    std::string reason;
    EXPECT_EQ(inbox.fate(lastId, reason), Inbox::Fate::Done);

    for (const BenchSettings& s : {bench->settings(), onDisk()}) {
        EXPECT_TRUE(s.ports[0].present);
        EXPECT_FALSE(s.ports[1].present);
        EXPECT_TRUE(s.ports[2].present);
    }
}

TEST_F(BenchFolder, CommandsTheOwnerCannotApplyAreRejectedWithAReason)
{
    auto bench = make();
    Inbox inbox(inboxPath(folder));
    struct Case {
        BenchCommand command;
        const char* reason;
    } cases[] = {
        {{"plug", 4, {}}, "no port 4: the bench has ports 1..3"},
        {{"melt", 1, {}}, "unknown bench command 'melt'"},
        {{"unplug", 1, {{"after_ms", "5"}}}, "unplug: unexpected field 'after_ms'"},
    };
    std::vector<std::string> ids;
    for (const auto& c : cases) {
        std::string id, error;
        ASSERT_TRUE(inbox.post(c.command, id, error)) << error;
        ids.push_back(id);
    }
    std::ofstream(inboxPath(folder) + "/9999999999999999999-1-1.cmd") << "port = 2\n";  // no verb
    EXPECT_EQ(bench->processInbox(), 0);
    for (size_t i = 0; i < ids.size(); ++i) {
        std::string reason;
        EXPECT_EQ(inbox.fate(ids[i], reason), Inbox::Fate::Rejected);
        EXPECT_EQ(reason, cases[i].reason);
        EXPECT_EQ(inbox.fate(ids[i], reason), Inbox::Fate::Done) << "a rejection is reported once";
    }
    std::string reason;
    EXPECT_EQ(inbox.fate("9999999999999999999-1-1.cmd", reason), Inbox::Fate::Rejected);
    EXPECT_EQ(reason, "unreadable command: no 'command' line");
    EXPECT_EQ(onDisk(), bench->settings());
    EXPECT_TRUE(bench->settings().ports[0].present);
}

TEST_F(BenchFolder, CommandsLeftWhileNobodyOwnedTheBenchApplyOnOpen)
{
    make().reset();
    std::string id, error;
    ASSERT_TRUE(Inbox(inboxPath(folder)).post({"plug", 3, {}}, id, error)) << error;
    BenchError openError;
    auto bench = open(openError);
    ASSERT_TRUE(bench) << openError.message;
    EXPECT_TRUE(bench->settings().ports[2].present);
    EXPECT_TRUE(onDisk().ports[2].present);
}

TEST(BenchCommandText, RoundTripsAndRefusesNonsense)
{
    BenchCommand original{"fault", 7, {{"kind", "timeout"}, {"count", "3"}}};
    BenchCommand parsed;
    std::string error;
    ASSERT_TRUE(parseCommand(formatCommand(original), parsed, error)) << error;
    EXPECT_EQ(parsed, original);
    EXPECT_FALSE(parseCommand("command = plug\nport = x\n", parsed, error));
    EXPECT_FALSE(parseCommand("command = plug\nport = 0\n", parsed, error));
    EXPECT_FALSE(parseCommand("plug 3\n", parsed, error));
}

}  // namespace
}  // namespace krv::bench
