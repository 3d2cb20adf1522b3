// krvbench and the bench's USB tree, disks and volumes: what `create` lays
// out, what `show` reads back, and plugging through krvbench while a program
// owns the bench, which the program hears of as device notices.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/DeviceClasses.h"
#include "platform/bench/BenchPlatform.h"
#include "tests/support/RunTool.h"
#include "tests/support/TestPlatform.h"
#include "tests/tools/MiniJson.h"

namespace krv::test {
namespace {

class KrvbenchDisks : public ::testing::Test {
protected:
    ToolRun run(std::vector<std::string> args) { return runProgram(builtProgram("tools/krvbench/krvbench"), args); }

    Json show()
    {
        ToolRun shown = run({"show", folder, "--json"});
        EXPECT_EQ(shown.exitCode, 0) << shown.err;
        return parseJson(shown.out);
    }

    void create(std::vector<std::string> options)
    {
        std::vector<std::string> args = {"create", folder};
        args.insert(args.end(), options.begin(), options.end());
        ToolRun made = run(args);
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    TempDir dir;
    std::string folder = dir.path() + "/bench";
};

const Json* diskOf(const Json& shown, const std::string& device)
{
    for (const auto& d : shown["disks"].items)
        if (d["device"].string == device)
            return &d;
    return nullptr;
}

TEST_F(KrvbenchDisks, CreateLaysOutTheTreeAndTheDisksAndShowReadsThemBack)
{
    create({"--ports", "16", "--disk-size", "64M", "--link", "6=USB4", "--port-location", "16=0-8.7.7",
            "--volumes", "2=fat32:40M:DATA,raw:rest", "--volumes", "3=gpt:fat32:rest:STORE", "--system-disk-size",
            "1G", "--usb-disk", "256M", "--usb-disk-volumes", "fat32:rest:FLASH", "--usb-strings", "4=no-serial"});
    Json shown = show();

    const Json& tree = shown["usb_tree"];
    EXPECT_EQ(tree["chained_hubs"].number, 2);
    ASSERT_EQ(tree["hubs"].items.size(), 3u);
    EXPECT_EQ(tree["hubs"][0]["location"].string, "0-");
    EXPECT_EQ(tree["hubs"][1]["location"].string, "0-8");
    EXPECT_EQ(tree["hubs"][2]["location"].string, "0-8.7");
    EXPECT_EQ(shown["ports"][15]["usb_location"].string, "0-8.7.7");
    EXPECT_EQ(shown["ports"][14]["usb_location"].string, "0-8.7.2");
    const Json& root = tree["hubs"][0]["ports"];
    EXPECT_EQ(root[0]["serial"].string, "KRVBENCH000000000001");
    EXPECT_EQ(root[0]["vid"].string, "2C4B");
    EXPECT_EQ(root[0]["speed"].string, "super+");
    EXPECT_TRUE(root[3]["serial"].isNull()) << "no serial-number string";
    EXPECT_FALSE(root[5]["connected"].boolean) << "a PCIe tunnel is not on USB";
    EXPECT_EQ(root[7]["device"].string, "hub");
    const Json& last = tree["hubs"][2]["ports"];
    EXPECT_EQ(last[last.items.size() - 2]["device"].string, "usb disk");
    EXPECT_EQ(last[last.items.size() - 1]["device"].string, "port 16");

    const Json* system = diskOf(shown, "system disk");
    ASSERT_TRUE(system);
    EXPECT_EQ(system->operator[]("physical_drive").number, 0);
    EXPECT_EQ(system->operator[]("volumes")[0]["letter"].string, "C");
    EXPECT_EQ(system->operator[]("volumes")[0]["label"].string, "SYSTEM");
    const Json* two = diskOf(shown, "port 2");
    ASSERT_TRUE(two);
    EXPECT_EQ((*two)["partition_style"].string, "MBR");
    ASSERT_EQ((*two)["partitions"].items.size(), 2u);
    EXPECT_EQ((*two)["partitions"][0]["type"].string, "0C");
    EXPECT_EQ((*two)["volumes"][0]["letter"].string, "D");
    EXPECT_EQ((*two)["volumes"][0]["file_system"].string, "FAT32");
    EXPECT_EQ((*two)["volumes"][0]["free_mib"].number, 39);
    EXPECT_EQ((*two)["volumes"][1]["file_system"].string, "RAW");
    EXPECT_TRUE((*two)["volumes"][1]["free_mib"].isNull());
    const Json* three = diskOf(shown, "port 3");
    ASSERT_TRUE(three);
    EXPECT_EQ((*three)["partition_style"].string, "GPT");
    EXPECT_EQ((*three)["volumes"][0]["letter"].string, "F");
    EXPECT_EQ((*three)["volumes"][0]["label"].string, "STORE");
    const Json* flash = diskOf(shown, "usb disk");
    ASSERT_TRUE(flash);
    EXPECT_EQ((*flash)["physical_drive"].number, 17);
    EXPECT_EQ((*flash)["volumes"][0]["letter"].string, "G");

    ToolRun text = run({"show", folder});
    EXPECT_NE(text.out.find("0-8.7.7     port 16"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("D: partition 1  FAT32 \"DATA\""), std::string::npos) << text.out;
}

TEST_F(KrvbenchDisks, ShowListsTheFilesARunLeftOnAVolume)
{
    create({"--ports", "1", "--disk-size", "128M", "--volumes", "fat32:rest:DATA", "--system-disk-size", "512M"});
    {
        std::string error;
        auto platform = BenchPlatform::open(folder, error);
        ASSERT_TRUE(platform) << error;
        std::string path = platform->volumes().mountPath('D');
        ASSERT_FALSE(path.empty());
        std::ofstream(path + "/result.txt") << "PASS";
    }
    Json shown = show();
    const Json& volume = (*diskOf(shown, "port 1"))["volumes"][0];
    ASSERT_EQ(volume["files"].items.size(), 1u);
    EXPECT_EQ(volume["files"][0]["path"].string, "result.txt");
    EXPECT_EQ(volume["files"][0]["size"].number, 4);
}

TEST_F(KrvbenchDisks, PlugAndUnplugWhileAProgramRunsAreNoticesToIt)
{
    create({"--ports", "2", "--disk-size", "64M", "--system-disk-size", "512M", "--usb-disk", "128M"});
    std::string error;
    auto platform = BenchPlatform::open(folder, error);
    ASSERT_TRUE(platform) << error;
    DeviceEvents& events = platform->deviceEvents();
    events.registerClass(interfaceclass::kDisk);

    ToolRun unplug = run({"unplug", folder, "2"});
    ASSERT_EQ(unplug.exitCode, 0) << unplug.err;
    EXPECT_NE(unplug.out.find("applied by the bench's owner"), std::string::npos) << unplug.out;
    DeviceEvent e;
    ASSERT_TRUE(events.take(e, 5000));
    EXPECT_EQ(e.kind, DeviceEventKind::RemoveComplete);
    EXPECT_NE(e.devicePath.find("krvbench000000000002"), std::string::npos) << e.devicePath;

    ToolRun flash = run({"unplug", folder, "usb-disk"});
    ASSERT_EQ(flash.exitCode, 0) << flash.err;
    ASSERT_TRUE(events.take(e, 5000));
    EXPECT_NE(e.devicePath.find("bm20240601a0c3f9"), std::string::npos) << e.devicePath;

    ASSERT_EQ(run({"plug", folder, "2"}).exitCode, 0);
    ASSERT_TRUE(events.take(e, 5000));
    EXPECT_EQ(e.kind, DeviceEventKind::Arrival);
    EXPECT_EQ(platform->volumes().letters(), std::vector<char>{'C'});
}

TEST_F(KrvbenchDisks, BadTreeAndDiskOptionsAreRefused)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--ports", "9", "--hubs", "0"}, "do not fit"},
        {{"--ports", "2", "--port-location", "0-3", "--disk-size", "1G"}, "two devices at USB location 0-3"},
        {{"--ports", "1", "--port-location", "0-9"}, "has 8 ports"},
        {{"--ports", "1", "--usb-disk-location", "0-3"}, "--usb-disk-location needs --usb-disk"},
        {{"--ports", "1", "--volumes", "ntfs:1G"}, "unknown file system 'ntfs'"},
        {{"--ports", "1", "--volumes", "fat32:rest,raw:1G"}, "only the last volume may take the rest"},
        {{"--ports", "1", "--usb-strings", "loud"}, "bad value 'loud' for --usb-strings"},
        {{"--ports", "1", "--controllers", "5"}, "--controllers takes 1..4"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"create", dir.file("x")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ToolRun r = run(args);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    ToolRun tooSmall = run({"create", dir.file("y"), "--ports", "1", "--disk-size", "16M", "--volumes", "fat32:rest"});
    EXPECT_EQ(tooSmall.exitCode, 1) << "a disk too small for FAT32 is the bench's refusal";
    EXPECT_NE(tooSmall.err.find("too small"), std::string::npos) << tooSmall.err;

    create({"--ports", "1", "--disk-size", "64M", "--system-disk-size", "512M"});
    ToolRun noFlash = run({"plug", folder, "usb-disk"});
    EXPECT_EQ(noFlash.exitCode, 1);
    EXPECT_NE(noFlash.err.find("no USB disk"), std::string::npos) << noFlash.err;
    ToolRun fault = run({"fault", folder, "1", "fail", "--cdb", "8A", "--offset", "0x100000"});
    EXPECT_EQ(fault.exitCode, 0) << fault.err;
    Json shown = show();
    EXPECT_NE(shown["ports"][0]["faults"][0].string.find("at disk byte 1048576"), std::string::npos);
    // The file data on the drive's volumes, apart from its sectors.
    ToolRun files = run({"fault", folder, "1", "corrupt-store", "--cdb", "8A", "--files", "--byte", "7"});
    EXPECT_EQ(files.exitCode, 0) << files.err;
    EXPECT_NE(show()["ports"][0]["faults"][1].string.find("corrupt-store byte 7 on 8A of file data"), std::string::npos);
}

}  // namespace
}  // namespace krv::test
