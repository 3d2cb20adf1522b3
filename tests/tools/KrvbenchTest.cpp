// krvbench as people and scripts use it: the built binary, run as a process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/bench/Bench.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchPlatform.h"
#include "tests/support/RunTool.h"
#include "tests/support/TestPlatform.h"
#include "tests/tools/MiniJson.h"

namespace krv::test {
namespace {

class Krvbench : public ::testing::Test {
protected:
    ToolRun run(std::vector<std::string> args) { return runProgram(builtProgram("tools/krvbench/krvbench"), args); }

    Json showJson()
    {
        ToolRun shown = run({"show", folder, "--json"});
        EXPECT_EQ(shown.exitCode, 0) << shown.err;
        return parseJson(shown.out);
    }

    void createTwoPorts()
    {
        ToolRun made = run({"create", folder, "--ports", "2"});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    TempDir dir;
    std::string folder = dir.path() + "/bench";
};

TEST_F(Krvbench, CreateThenShowAsJsonAndAsText)
{
    ToolRun made = run({"create", folder, "--ports=4", "--chip", "2=KRV752B", "--chip", "KRV8575", "--link", "3=USB4",
                        "--link", "4=USB4-U3", "--speed", "4=Gen2x2", "--disk-size", "512G", "--disk-size", "2=1000000000",
                        "--present", "4=no", "--time-scale", "20"});
    ASSERT_EQ(made.exitCode, 0) << made.err;

    Json bench = showJson();
    EXPECT_EQ(bench["time_scale"].number, 20);
    EXPECT_EQ(bench["folder"].string, folder);
    EXPECT_TRUE(bench["owner"].isNull());
    EXPECT_EQ(bench["pending_commands"].number, 0);
    const Json& ports = bench["ports"];
    ASSERT_EQ(ports.items.size(), 4u);

    struct Expected {
        const char* chip;
        const char* family;
        const char* link;
        const char* speed;
        double diskSize;
        bool present;
        const char* inquiry;   // null: none
        const char* pcieId;    // null: none
    } expected[] = {
        {"KRV8575", "KRV857x", "USB3", "Gen2x1", 512.0 * (1 << 30), true, "8574", nullptr},
        {"KRV752B", "KRV752x", "USB3", "Gen2x1", 1000000000.0, true, "7520", nullptr},
        {"KRV8575", "KRV857x", "USB4", "Gen3x2", 512.0 * (1 << 30), true, nullptr, "8575"},
        {"KRV8575", "KRV857x", "USB4-U3", "Gen2x2", 512.0 * (1 << 30), false, "8576", nullptr},
    };
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE("port " + std::to_string(i + 1));
        const Json& p = ports[i];
        const Expected& e = expected[i];
        EXPECT_EQ(p["port"].number, static_cast<double>(i + 1));
        EXPECT_EQ(p["chip"].string, e.chip);
        EXPECT_EQ(p["family"].string, e.family);
        EXPECT_EQ(p["link"].string, e.link);
        EXPECT_EQ(p["speed"].string, e.speed);
        EXPECT_EQ(p["disk_size"].number, e.diskSize);
        EXPECT_EQ(p["present"].boolean, e.present);
        EXPECT_EQ(p["present"].type, Json::Type::Bool);
        EXPECT_EQ(p["identity"]["inquiry"].isNull(), e.inquiry == nullptr);
        if (e.inquiry) {
            EXPECT_EQ(p["identity"]["inquiry"].string, e.inquiry);
        }
        EXPECT_EQ(p["identity"]["pcie_device_id"].isNull(), e.pcieId == nullptr);
        if (e.pcieId) {
            EXPECT_EQ(p["identity"]["pcie_device_id"].string, e.pcieId);
            EXPECT_EQ(p["identity"]["pcie_vendor_id"].string, "2C4B");
        }
        EXPECT_TRUE(std::filesystem::is_directory(p["state_folder"].string));
    }

    // What krvbench wrote is what the bench loads.
    bench::BenchSettings saved;
    std::string error;
    ASSERT_TRUE(bench::loadBenchSettings(bench::settingsPath(folder), saved, error)) << error;
    EXPECT_EQ(saved.ports[1].diskSize, 1000000000u);
    EXPECT_FALSE(saved.ports[3].present);

    ToolRun text = run({"show", folder});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("Time scale: 20"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Owner: none"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("PCIe 2C4B:8575"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("1000000000"), std::string::npos) << "a size of no whole unit shows in bytes";
}

// A port's line: the rate its link carries at its speed, or the slower one
// --link-mbps gives it, kept in bench.ini and shown back.
TEST_F(Krvbench, ALinesRateIsTheLinksOrTheOneGivenAndComesBack)
{
    ToolRun made = run({"create", folder, "--ports", "4", "--link", "2=USB2", "--link", "3=USB4", "--speed", "3=Gen2x2",
                        "--link-mbps", "4=80"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const Json bench = showJson();
    const Json& ports = bench["ports"];
    ASSERT_EQ(ports.items.size(), 4u);
    const double expected[] = {8400, 320, 14400, 80};   // USB3 Gen2x1, USB2 High, USB4 Gen2x2, given
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(ports[i]["link_mbps"].number, expected[i]) << "port " << i + 1;

    bench::BenchSettings saved;
    std::string error;
    ASSERT_TRUE(bench::loadBenchSettings(bench::settingsPath(folder), saved, error)) << error;
    EXPECT_EQ(saved.ports[3].linkMbps, 80u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(saved.ports[i].linkMbps, 0u) << "port " << i + 1 << " goes by its link";
}

TEST_F(Krvbench, PlugAndUnplugABenchNobodyOwns)
{
    createTwoPorts();
    ToolRun off = run({"unplug", folder, "2"});
    EXPECT_EQ(off.exitCode, 0) << off.err;
    EXPECT_EQ(off.out, "port 2 unplugged\n");
    EXPECT_FALSE(showJson()["ports"][1]["present"].boolean);
    EXPECT_TRUE(showJson()["ports"][0]["present"].boolean);

    ToolRun again = run({"unplug", folder, "2"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, "port 2 was already unplugged\n");

    ToolRun on = run({"plug", folder, "2"});
    EXPECT_EQ(on.exitCode, 0) << on.err;
    EXPECT_TRUE(showJson()["ports"][1]["present"].boolean);
    EXPECT_FALSE(bench::BenchLock::recordedOwner(folder)) << "krvbench lets go when done";
}

TEST_F(Krvbench, ChangesARunningOwnersBenchThroughItsInbox)
{
    createTwoPorts();
    std::string error;
    auto platform = BenchPlatform::open(folder, error);
    ASSERT_TRUE(platform) << error;

    ToolRun off = run({"unplug", folder, "1"});
    EXPECT_EQ(off.exitCode, 0) << off.err;
    EXPECT_NE(off.out.find("applied by the bench's owner, pid " + std::to_string(::getpid())), std::string::npos)
        << off.out;
    EXPECT_FALSE(platform->bench().settings().ports[0].present);

    Json shown = showJson();
    EXPECT_EQ(shown["owner"]["pid"].number, static_cast<double>(::getpid()));
    EXPECT_FALSE(shown["ports"][0]["present"].boolean) << "the owner saved the change";
}

TEST_F(Krvbench, QueuesForAnOwnerWithoutWaiting)
{
    createTwoPorts();
    bench::BenchError error;
    auto owner = bench::Bench::open(folder, error);  // an owner that reads its inbox only when asked
    ASSERT_TRUE(owner) << error.message;

    ToolRun queued = run({"unplug", folder, "2", "--no-wait"});
    EXPECT_EQ(queued.exitCode, 0) << queued.err;
    EXPECT_NE(queued.out.find("queued"), std::string::npos) << queued.out;
    EXPECT_EQ(showJson()["pending_commands"].number, 1);
    EXPECT_TRUE(owner->settings().ports[1].present);

    EXPECT_EQ(owner->processInbox(), 1);
    EXPECT_FALSE(owner->settings().ports[1].present);
    EXPECT_EQ(showJson()["pending_commands"].number, 0);
}

TEST_F(Krvbench, HelpListsEveryCommandAndOption)
{
    for (auto args : {std::vector<std::string>{"--help"}, {"help"}, {"create", "-h"}}) {
        ToolRun help = run(args);
        EXPECT_EQ(help.exitCode, 0);
        for (const char* word : {"create", "show", "plug", "unplug", "fault", "log", "--ports", "--chip", "--link",
                                 "--speed", "--disk-size", "--present", "--revision", "--registers", "--cdrom",
                                 "--renumber", "--relink-ms", "--drop-ms", "--link-mbps", "--firmware", "--serial", "--config",
                                 "--usb4-config", "--usb-serial", "--unit-serial", "--storage-driver",
                                 "--storage-serial", "--bus-type", "stale-name", "--time-scale", "--json", "--no-wait", "--cdb", "--after", "--byte",
                                 "--sense", "fail", "check", "timeout", "corrupt", "drop", "no-return", "clear", "KRV8574",
                                 "KRV752A", "KRV419x", "USB4-U3", "Gen3x2", "Exit status"})
            EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
}

TEST_F(Krvbench, BadInputIsRefusedClearly)
{
    createTwoPorts();
    std::filesystem::create_directory(dir.file("empty"));
    std::ofstream(dir.file("plain")) << "x";
    std::ofstream(dir.file("image.bin"), std::ios::binary) << std::string(128, '\0');
    std::string fresh = dir.file("fresh");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } cases[] = {
        {{}, 2, "no command given"},
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {{"create", fresh}, 2, "--ports N is required"},
        {{"create", "--ports", "2"}, 2, "no bench folder given"},
        {{"create", fresh, "--ports", "33"}, 2, "--ports needs a number 1..32, got '33'"},
        {{"create", fresh, "--ports"}, 2, "--ports needs a value"},
        {{"create", fresh, "--ports", "2", "--chip", "KRV9999"}, 2, "unknown chip 'KRV9999'"},
        {{"create", fresh, "--ports", "2", "--chip", "2=KRV752A", "--link", "2=USB4"}, 2, "port 2: link USB4 needs a KRV857x"},
        {{"create", fresh, "--ports", "2", "--chip", "KRV752A", "--speed", "Gen1x2"}, 2, "port 1: KRV752A runs USB3 on one lane"},
        {{"create", fresh, "--ports", "2", "--chip", "3=KRV8574"}, 2, "no port 3 (the bench has 2 ports)"},
        {{"create", fresh, "--ports", "2", "--chip", "x=KRV8574"}, 2, "expected VALUE or PORT=VALUE"},
        {{"create", fresh, "--ports", "2", "--chip", "1=KRV8574", "--chip", "1=KRV8575"}, 2, "--chip given twice for port 1"},
        {{"create", fresh, "--ports", "2", "--disk-size", "12Q"}, 2, "bad disk size '12Q'"},
        {{"create", fresh, "--ports", "2", "--present", "maybe"}, 2, "bad value 'maybe' for --present"},
        {{"create", fresh, "--ports", "2", "--time-scale", "0"}, 2, "time scale 0 out of range"},
        {{"create", fresh, "--ports", "2", "--link-mbps", "2=0"}, 2, "bad --link-mbps '0' (whole Mbit/s of payload, 1..100000)"},
        {{"create", fresh, "--ports", "2", "--colour", "red"}, 2, "unknown option '--colour'"},
        {{"create", fresh, "--ports", "2", "--serial", "2=ABC", "--config", dir.file("image.bin")}, 2,
         "port 2: --serial and --config both set its USB serial"},
        {{"create", fresh, "extra", "--ports", "2"}, 2, "unexpected argument 'extra'"},
        {{"create", folder, "--ports", "2"}, 1, "already holds a bench"},
        {{"create", dir.path(), "--ports", "2"}, 1, "is not empty"},
        {{"create", dir.file("plain") + "/bench", "--ports", "2"}, 1, "cannot make bench folder"},
        {{"show", fresh}, 1, "does not exist"},
        {{"show", dir.file("empty")}, 1, "is not a bench"},
        {{"show", folder, "--yaml"}, 2, "unknown option '--yaml'"},
        {{"plug", folder}, 2, "expected DIR PORT"},
        {{"plug", folder, "0"}, 2, "bad port '0'"},
        {{"unplug", folder, "3"}, 1, "no port 3: the bench has ports 1..2"},
        {{"plug", fresh, "1"}, 1, "does not exist"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.args)
            line += " " + a;
        SCOPED_TRACE("krvbench" + line);
        ToolRun r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_FALSE(std::filesystem::exists(fresh)) << "a refused create leaves nothing behind";
}

TEST_F(Krvbench, ABrokenSettingsFileIsNamedWithItsLine)
{
    createTwoPorts();
    std::ofstream(bench::settingsPath(folder), std::ios::app) << "serial = X1\n";
    for (auto args : {std::vector<std::string>{"show", folder}, {"plug", folder, "1"}}) {
        ToolRun r = run(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(folder + "/bench.ini:21: key 'serial' is reserved"), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace krv::test
