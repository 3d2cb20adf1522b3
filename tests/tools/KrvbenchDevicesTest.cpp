// krvbench and the bench's devices: what a bench starts from, faults and
// command logs, and the device state that `show` reads back from the folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/LastError.h"
#include "platform/bench/BenchPlatform.h"
#include "tests/support/RunTool.h"
#include "tests/support/TestPlatform.h"
#include "tests/tools/MiniJson.h"

namespace krv::test {
namespace {

class KrvbenchDevices : public ::testing::Test {
protected:
    ToolRun run(std::vector<std::string> args) { return runProgram(builtProgram("tools/krvbench/krvbench"), args); }

    Json port(int number)
    {
        ToolRun shown = run({"show", folder, "--json"});
        EXPECT_EQ(shown.exitCode, 0) << shown.err;
        return parseJson(shown.out)["ports"][static_cast<size_t>(number - 1)];
    }

    void create(std::vector<std::string> options)
    {
        std::vector<std::string> args = {"create", folder};
        args.insert(args.end(), options.begin(), options.end());
        ToolRun made = run(args);
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    // One command through the platform's pass-through, as the system sends it.
    static bool sendInquiry(Platform& platform, int drive, uint8_t& status)
    {
        auto device = platform.scsi().open(DriveKind::PhysicalDrive, drive);
        if (!device)
            return false;
        uint8_t data[38] = {};
        ScsiCommand command;
        const uint8_t cdb[6] = {0x12, 0, 0, 0, 38, 0};
        std::copy(cdb, cdb + 6, command.cdb);
        command.cdbLength = 6;
        command.direction = DataDirection::In;
        command.data = data;
        command.dataLength = sizeof data;
        command.timeoutSeconds = 3;
        bool sent = device->execute(command);
        status = command.scsiStatus;
        return sent;
    }

    TempDir dir;
    std::string folder = dir.path() + "/bench";
};

TEST_F(KrvbenchDevices, CreateStartsPortsFromTheGivenStateAndShowReadsItBack)
{
    std::string image = dir.file("u3.bin");
    {
        std::ofstream out(image, std::ios::binary);
        for (int i = 0; i < 128; ++i)
            out.put(static_cast<char>(i));
    }
    create({"--ports", "3", "--firmware", "2=240102_80_01_02", "--serial", "1=SN-0042", "--config", "3=" + image,
            "--chip", "3=KRV752B", "--revision", "1=30", "--cdrom", "2=yes", "--registers", "1=E795:00"});
    Json one = port(1);
    EXPECT_EQ(one["revision"].string, "30");
    EXPECT_EQ(one["physical_drive"].number, 1);
    EXPECT_TRUE(one["cdrom"].isNull());
    EXPECT_EQ(one["connection"].string, "on-bus");
    EXPECT_EQ(one["firmware"]["running"].string, "230601800100") << "the default firmware";
    // A major revision 3 bridge boots an image signed for revision 3 only:
    // the bench's own images carry its chip's signature.
    EXPECT_TRUE(one["firmware"]["banks"][0]["bootable"].boolean);
    std::string u3 = one["config"]["stored"][0]["hex"].string;
    EXPECT_EQ(u3.substr(8, 14), "534E2D30303432") << "SN-0042 at byte 4";
    EXPECT_EQ(one["config"]["running"][0]["hex"].string, u3);
    EXPECT_TRUE(one["sha256"]["supported"].boolean);
    EXPECT_TRUE(one["sha256"]["key"].isNull());

    Json two = port(2);
    EXPECT_EQ(two["firmware"]["running"].string, "240102800102");
    EXPECT_EQ(two["firmware"]["banks"][1]["version"].string, "240102800102");
    EXPECT_EQ(two["cdrom"].number, 0);
    EXPECT_EQ(two["physical_drive"].number, 2);

    Json three = port(3);
    EXPECT_EQ(three["config"]["stored"].items.size(), 1u) << "a KRV752x keeps one image";
    EXPECT_EQ(three["config"]["stored"][0]["hex"].string.substr(0, 8), "00010203");
    EXPECT_EQ(three["firmware"]["banks"].items.size(), 0u);
    EXPECT_FALSE(three["sha256"]["supported"].boolean);

    ToolRun text = run({"show", folder});
    EXPECT_NE(text.out.find("240102800102"), std::string::npos) << text.out;
}

TEST_F(KrvbenchDevices, CreateSetsHowTheBridgeAndTheHostShowASerial)
{
    create({"--ports", "2", "--serial", "2=", "--disk-serial", "2=S4EWNX0R123456K", "--usb-serial", "1=lower", "--storage-serial", "1=hex",
            "--storage-driver", "2=uas", "--unit-serial", "2=disk", "--bus-type", "spaces", "--renumber",
            "2=stale-name"});
    std::ifstream in(folder + "/bench.ini");
    const std::string ini((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string one = ini.substr(ini.find("[port 1]"), ini.find("[port 2]") - ini.find("[port 1]"));
    const std::string two = ini.substr(ini.find("[port 2]"));
    for (const char* line : {"usb_serial = lower\n", "storage_serial = hex\n", "bus_type = spaces\n"})
        EXPECT_NE(one.find(line), std::string::npos) << line << one;
    for (const char* line : {"storage_driver = uas\n", "unit_serial = disk\n", "bus_type = spaces\n",
                             "renumber = stale-name\n"})
        EXPECT_NE(two.find(line), std::string::npos) << line << two;
    EXPECT_EQ(one.find("renumber"), std::string::npos) << one;

    ToolRun shown = run({"show", folder, "--json"});
    const Json root = parseJson(shown.out);
    EXPECT_EQ(root["ports"][1]["config"]["stored"][0]["hex"].string.substr(8, 40), std::string(40, 'F'))
        << "a blank serial";
    const Json& tree = root["usb_tree"]["hubs"][0]["ports"];
    EXPECT_EQ(tree[0]["serial"].string, "krvbench000000000001");
    EXPECT_EQ(tree[1]["serial"].string, "S4EWNX0R123456K") << "a blank bridge goes by its drive's own serial";
}

TEST_F(KrvbenchDevices, FaultsAndLogsOnABenchNobodyOwns)
{
    create({"--ports", "2"});
    ToolRun set = run({"fault", folder, "1", "fail", "2", "--cdb", "E4 50", "--after", "1"});
    EXPECT_EQ(set.exitCode, 0) << set.err;
    EXPECT_EQ(set.out, "port 1: fault set: fail x2 on E4 50 after 1\n");
    ToolRun check = run({"fault", folder, "1", "check", "--sense", "03/11/00"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
    Json faults = port(1)["faults"];
    ASSERT_EQ(faults.items.size(), 2u);
    EXPECT_EQ(faults[1].string, "check sense 03/11/00 on any command");

    ToolRun cleared = run({"fault", folder, "1", "clear"});
    EXPECT_EQ(cleared.out, "port 1: faults cleared\n");
    EXPECT_EQ(port(1)["faults"].items.size(), 0u);

    ToolRun dropped = run({"fault", folder, "2", "drop"});
    EXPECT_EQ(dropped.exitCode, 0) << dropped.err;
    Json two = port(2);
    EXPECT_EQ(two["connection"].string, "dropped");
    EXPECT_TRUE(two["physical_drive"].isNull());
    ToolRun plugged = run({"plug", folder, "2"});
    EXPECT_EQ(plugged.out, "port 2 plugged in again\n");
    EXPECT_EQ(port(2)["physical_drive"].number, 2);

    ToolRun log = run({"log", folder, "2"});
    EXPECT_EQ(log.exitCode, 0) << log.err;
    EXPECT_NE(log.out.find("event dropped off the bus"), std::string::npos) << log.out;
    EXPECT_NE(log.out.find("event plugged in again as PhysicalDrive2"), std::string::npos) << log.out;
}

TEST_F(KrvbenchDevices, FaultsReachARunningOwnerAndItsLogComesOut)
{
    create({"--ports", "1", "--time-scale", "50"});
    std::string error;
    auto platform = BenchPlatform::open(folder, error);
    ASSERT_TRUE(platform) << error;
    uint8_t status = 0xFF;
    ASSERT_TRUE(sendInquiry(*platform, 1, status));

    ToolRun set = run({"fault", folder, "1", "check"});
    EXPECT_EQ(set.exitCode, 0) << set.err;
    EXPECT_NE(set.out.find("fault set: check sense 04/44/00 on any command (applied by the bench's owner"),
              std::string::npos)
        << set.out;
    ASSERT_TRUE(sendInquiry(*platform, 1, status));
    EXPECT_EQ(status, 2);

    ToolRun log = run({"log", folder, "1"});
    EXPECT_EQ(log.exitCode, 0) << log.err;
    EXPECT_NE(log.out.find("disk  12 00 00 00 26 00 in 38 t/o 3s -> good 38"), std::string::npos) << log.out;
    EXPECT_NE(log.out.find("-> check 04/44/00 (fault: check)"), std::string::npos) << log.out;
}

TEST_F(KrvbenchDevices, AnotherProcessSeesWhatARunLeftOnTheBridge)
{
    create({"--ports", "1", "--time-scale", "50"});
    {
        std::string error;
        auto platform = BenchPlatform::open(folder, error);
        ASSERT_TRUE(platform) << error;
        auto device = platform->scsi().open(DriveKind::PhysicalDrive, 1);
        ASSERT_TRUE(device);
        // A USB 3 configuration image, then a CPU reset.
        std::vector<uint8_t> image(128, 0xAB);
        ScsiCommand write;
        const uint8_t cdb[6] = {0xE1, 0x50, 0x00, 0x00, 0x00, 0x00};
        std::copy(cdb, cdb + 6, write.cdb);
        write.cdbLength = 6;
        write.direction = DataDirection::Out;
        write.data = image.data();
        write.dataLength = 128;
        ASSERT_TRUE(device->execute(write));
        ScsiCommand reset;
        const uint8_t resetCdb[6] = {0xE8, 0x50, 0, 0, 0, 0};
        std::copy(resetCdb, resetCdb + 6, reset.cdb);
        reset.cdbLength = 6;
        reset.direction = DataDirection::In;
        ASSERT_TRUE(device->execute(reset));
        EXPECT_EQ(reset.scsiStatus, 0);
    }
    Json one = port(1);
    std::string written;
    for (int i = 0; i < 128; ++i)
        written += "AB";
    EXPECT_EQ(one["config"]["stored"][0]["hex"].string, written);
    EXPECT_EQ(one["config"]["running"][0]["hex"].string, one["config"]["stored"][0]["hex"].string)
        << "the reset made it the running image";
    EXPECT_EQ(one["physical_drive"].number, 1);
}

TEST_F(KrvbenchDevices, PdControllersAndTheOperatorsPowerCycle)
{
    create({"--ports", "2", "--pd", "1=richtek", "--pd", "2=ccg3", "--mcu", "2=stm"});
    EXPECT_EQ(port(1)["pd"]["chip"].string, "richtek");
    EXPECT_EQ(port(1)["pd"]["version"].string, "0001");
    EXPECT_EQ(port(2)["pd"]["mcu"].string, "stm");
    EXPECT_EQ(port(2)["pd"]["version"].string, "0001000000000001");
    ToolRun cycled = run({"power-cycle", folder, "2"});
    EXPECT_EQ(cycled.exitCode, 0) << cycled.err;
    ToolRun log = run({"log", folder, "2"});
    EXPECT_NE(log.out.find("power cycle"), std::string::npos) << log.out;
    EXPECT_EQ(run({"power-cycle", folder, "3"}).exitCode, 1);
    EXPECT_EQ(run({"create", dir.path() + "/other", "--ports", "1", "--pd", "zilog"}).exitCode, 2);
}

TEST_F(KrvbenchDevices, BadInputIsRefusedClearly)
{
    create({"--ports", "1"});
    std::string fresh = dir.file("fresh");
    std::ofstream(dir.file("short.bin")) << "short";
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } cases[] = {
        {{"fault", folder, "1"}, 2, "expected DIR PORT KIND"},
        {{"fault", folder, "1", "melt"}, 2, "fault kind 'melt' is not one of"},
        {{"fault", folder, "1", "fail", "0"}, 2, "fault count '0'"},
        {{"fault", folder, "1", "fail", "--cdb", "XY"}, 2, "fault CDB prefix 'XY'"},
        {{"fault", folder, "1", "check", "--sense", "4/44/0"}, 2, "fault sense '4/44/0'"},
        {{"fault", folder, "1", "fail", "--colour", "red"}, 2, "unknown option '--colour'"},
        {{"fault", folder, "1", "clear", "2"}, 2, "clear takes no count"},
        {{"fault", folder, "x", "fail"}, 2, "bad port 'x'"},
        {{"fault", folder, "2", "fail"}, 1, "no port 2: the bench has ports 1..1"},
        {{"log", folder}, 2, "expected DIR PORT"},
        {{"log", folder, "3"}, 1, "no port 3"},
        {{"log", fresh, "1"}, 1, "does not exist"},
        {{"create", fresh, "--ports", "1", "--firmware", "1234"}, 2, "bad firmware version '1234'"},
        {{"create", fresh, "--ports", "1", "--serial", std::string(21, 'S')}, 2, "at most 20 characters"},
        {{"create", fresh, "--ports", "1", "--bus-type", "pci"}, 2, "bad value 'pci' for --bus-type (usb, scsi"},
        {{"create", fresh, "--ports", "1", "--renumber", "later"}, 2, "bad value 'later' for --renumber"},
        {{"create", fresh, "--ports", "1", "--link", "USB2", "--storage-driver", "uas"}, 2,
         "storage_driver uas needs a USB 3 link"},
        {{"create", fresh, "--ports", "1", "--config", dir.file("short.bin")}, 2, "holds 5 bytes"},
        {{"create", fresh, "--ports", "1", "--config", dir.file("none.bin")}, 2, "cannot open"},
        {{"create", fresh, "--ports", "1", "--registers", "C895"}, 2, "bad register preset 'C895'"},
        {{"create", fresh, "--ports", "1", "--chip", "KRV752B", "--revision", "00"}, 2, "revision 00 has major revision 0"},
        {{"create", fresh, "--ports", "1", "--relink-ms", "100", "--drop-ms", "200"}, 2, "drop_ms 200 is later"},
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
    EXPECT_FALSE(std::filesystem::exists(fresh));
}

}  // namespace
}  // namespace krv::test
