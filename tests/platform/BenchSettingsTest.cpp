// The bench settings file: what loads, what is refused and where, and that
// what is saved loads back unchanged.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "platform/bench/BenchFiles.h"
#include "platform/bench/BenchSettings.h"
#include "tests/support/TestPlatform.h"

namespace krv::bench {
namespace {

const char* const kGoodFile =
    "# a bench\n"
    "[bench]\n"
    "version = 1\n"
    "ports = 3\n"
    "time_scale = 25.5\n"
    "\n"
    "[port 2]\n"
    "chip = krv752b\n"
    "link = usb3\n"
    "speed = gen1x2\n"
    "disk_size = 512M\n"
    "present = no\n"
    "revision = 0x1A\n"
    "registers = e495:14, 20000:6\n"
    "cdrom = yes\n"
    "renumber = Stale-Name\n"
    "relink_ms = 5000\n"
    "drop_ms = 250\n"
    "command_ms = 40\n"
    "link_mbps = 300\n"
    "usb_serial = HEX\n"
    "unit_serial = reversed\n"
    "storage_driver = uas\n"
    "storage_serial = hex\n"
    "bus_type = spaces\n"
    "[port 1]\n"
    "renumber = on\n"
    "; ports may come in any order\n"
    "chip = KRV8574\n"
    "link = USB4\n"
    "disk_size = 1073741824\n"
    "[port 3]\n"
    "chip = KRV419x\n"
    "link = USB2\n"
    "speed = Full\n"
    "disk_size = 2T\n"
    "sector_size = 4096\n";

PortSettings made(const char* chip, const char* link, const char* speed, uint64_t size, bool present, int revision)
{
    PortSettings p;
    p.chip = chip;
    p.link = link;
    p.speed = speed;
    p.diskSize = size;
    p.present = present;
    p.revision = revision;
    return p;
}

TEST(BenchSettings, LoadsAndCanonicalisesAHandWrittenFile)
{
    BenchSettings s;
    std::string error;
    ASSERT_TRUE(parseBenchSettings(kGoodFile, "bench.ini", s, error)) << error;
    EXPECT_EQ(s.timeScale, 25.5);
    ASSERT_EQ(s.ports.size(), 3u);
    // Revisions not given are the chip's as shipped.
    PortSettings first = made("KRV8574", "USB4", "Gen3x2", 1ULL << 30, true, 0x10);
    first.renumber = true;
    EXPECT_EQ(s.ports[0], first);
    PortSettings second = made("KRV752B", "USB3", "Gen1x2", 512ULL << 20, false, 0x1A);
    second.registers = {{0xE495, 0x14}, {0x20000, 0x06}};
    second.cdrom = true;
    second.renumber = second.staleName = true;
    second.relinkMs = 5000;
    second.dropMs = 250;
    second.commandMs = 40;
    second.linkMbps = 300;
    second.usbSerial = UsbSerialForm::Hex;
    second.unitSerial = UnitSerial::Reversed;
    second.storageDriver = StorageDriver::Uas;
    second.storageSerial = StorageSerialForm::Hex;
    second.busType = StorageBus::Spaces;
    EXPECT_EQ(s.ports[1], second);
    PortSettings third = made("KRV419x", "USB2", "Full", 2ULL << 40, true, 0x50);
    third.sectorSize = 4096;
    EXPECT_EQ(s.ports[2], third);
    EXPECT_EQ(s.ports[0].sectorSize, 512u) << "512-byte sectors unless the file says otherwise";
}

TEST(BenchSettings, SaveThenLoadGivesTheSameBench)
{
    test::TempDir dir;
    BenchSettings original;
    std::string error;
    ASSERT_TRUE(parseBenchSettings(kGoodFile, "bench.ini", original, error)) << error;
    // A size that is no whole unit must survive as bytes.
    original.ports[0].diskSize = (1ULL << 30) + 512;
    ASSERT_TRUE(saveBenchSettings(dir.file("bench.ini"), original, error)) << error;
    BenchSettings loaded;
    ASSERT_TRUE(loadBenchSettings(dir.file("bench.ini"), loaded, error)) << error;
    EXPECT_EQ(loaded, original);
}

TEST(BenchSettings, SaveReplacesTheWholeFileOrNothing)
{
    test::TempDir dir;
    std::string error;
    {
        std::ofstream(dir.file("bench.ini")) << "old content that is much longer than the new one\n";
    }
    ASSERT_TRUE(writeFileAtomically(dir.file("bench.ini"), "new\n", error)) << error;
    std::string text;
    ASSERT_TRUE(readTextFile(dir.file("bench.ini"), text, error));
    EXPECT_EQ(text, "new\n");

    // A folder that cannot exist (its parent is a regular file) fails cleanly.
    {
        std::ofstream(dir.file("plain")) << "x";
    }
    EXPECT_FALSE(writeFileAtomically(dir.file("plain") + "/bench.ini", "x", error));
    EXPECT_NE(error.find("plain/bench.ini"), std::string::npos) << error;
}

struct BadCase {
    const char* what;
    std::string text;
    std::string expected;  // "bench.ini:LINE: ..." prefix and a telling part
};

std::string bench1(const std::string& portBody, const std::string& extra = "")
{
    return "[bench]\nports = 1\n" + extra + "[port 1]\n" + portBody;
}

const std::string kPort = "chip = KRV8574\nlink = USB3\ndisk_size = 1G\n";

TEST(BenchSettings, BadFilesNameFileAndLine)
{
    const BadCase cases[] = {
        {"unknown chip", bench1("chip = X\nlink = USB3\ndisk_size = 1G\n"), "bench.ini:4: unknown chip 'X'"},
        {"unknown link", bench1("chip = KRV8574\nlink = FireWire\ndisk_size = 1G\n"), "bench.ini:5: unknown link 'FireWire'"},
        {"USB4 on a 752x", bench1("chip = KRV752A\nlink = USB4\ndisk_size = 1G\n"), "bench.ini:5: link USB4 needs a KRV857x"},
        {"speed of another link", bench1(kPort + "speed = Gen3x2\n"), "bench.ini:7: unknown speed 'Gen3x2' for link USB3"},
        {"x2 on a one-lane chip", bench1("chip = KRV752A\nlink = USB3\nspeed = Gen2x2\ndisk_size = 1G\n"), "bench.ini:6: KRV752A runs USB3 on one lane"},
        {"disk size suffix", bench1("chip = KRV8574\nlink = USB3\ndisk_size = 12Q\n"), "bench.ini:6: bad disk size '12Q'"},
        {"disk size not sectors", bench1("chip = KRV8574\nlink = USB3\ndisk_size = 1048577\n"), "bench.ini:6: disk size '1048577' is not a whole number of 512-byte sectors"},
        {"disk too small", bench1("chip = KRV8574\nlink = USB3\ndisk_size = 512K\n"), "bench.ini:6: disk size '512K' is smaller"},
        {"disk too large", bench1("chip = KRV8574\nlink = USB3\ndisk_size = 65T\n"), "bench.ini:6: disk size '65T' is larger"},
        {"present", bench1(kPort + "present = maybe\n"), "bench.ini:7: bad value 'maybe' for present"},
        {"reserved key", bench1(kPort + "serial = X1\n"), "bench.ini:7: key 'serial' is reserved"},
        {"pd", bench1(kPort + "pd = zilog\n"), "bench.ini:7: bad value 'zilog' for pd (none, richtek, cypress, ccg3, ccg or ite)"},
        {"unknown port key", bench1(kPort + "colour = red\n"), "bench.ini:7: unknown key 'colour' in [port 1]"},
        {"revision not hex", bench1(kPort + "revision = 1G\n"), "bench.ini:7: bad revision '1G'"},
        {"revision of another chip", bench1("chip = KRV752B\nlink = USB3\ndisk_size = 1G\nrevision = 00\n"),
         "bench.ini:7: chip KRV752B: revision 00 has major revision 0"},
        {"register without value", bench1(kPort + "registers = C895\n"), "bench.ini:7: bad register preset 'C895': no ':'"},
        {"register out of space", bench1(kPort + "registers = 30000:01\n"), "bench.ini:7: bad register preset '30000:01'"},
        {"register twice", bench1(kPort + "registers = C895:01,c895:02\n"), "bench.ini:7: bad register preset 'c895:02'"},
        {"delay text", bench1(kPort + "relink_ms = soon\n"), "bench.ini:7: bad relink_ms 'soon'"},
        {"drop after return", bench1(kPort + "relink_ms = 100\ndrop_ms = 200\n"), "bench.ini:8: drop_ms 200 is later"},
        {"cdrom", bench1(kPort + "cdrom = sometimes\n"), "bench.ini:7: bad value 'sometimes' for cdrom"},
        {"sector size", bench1(kPort + "sector_size = 1024\n"), "bench.ini:7: bad sector_size '1024' (512 or 4096)"},
        {"line of no rate", bench1(kPort + "link_mbps = 0\n"), "bench.ini:7: bad link_mbps '0' (whole Mbit/s of payload, 1..100000)"},
        {"line rate in words", bench1(kPort + "link_mbps = fast\n"), "bench.ini:7: bad link_mbps 'fast'"},
        {"disk size not whole 4K sectors", bench1("chip = KRV8574\nlink = USB3\ndisk_size = 1049088\nsector_size = 4096\n"),
         "bench.ini:7: disk size 1049088 is not a whole number of 4096-byte sectors"},
        {"renumber", bench1(kPort + "renumber = stale\n"), "bench.ini:7: bad value 'stale' for renumber (yes, no or stale-name)"},
        {"bus type", bench1(kPort + "bus_type = firewire\n"),
         "bench.ini:7: bad value 'firewire' for bus_type (usb, scsi, sata or spaces)"},
        {"unit serial", bench1(kPort + "unit_serial = usb\n"),
         "bench.ini:7: bad value 'usb' for unit_serial (serial, disk, reversed or none)"},
        {"UAS on USB 2", bench1("chip = KRV8574\nlink = USB2\ndisk_size = 1G\nstorage_driver = uas\n"),
         "bench.ini:7: storage_driver uas needs a USB 3 link"},
        {"unknown bench key", bench1(kPort, "hosts = 2\n"), "bench.ini:3: unknown key 'hosts' in [bench]"},
        {"duplicate key", bench1(kPort + "chip = KRV8575\n"), "bench.ini:7: duplicate key 'chip' (first on line 4)"},
        {"missing key", bench1("chip = KRV8574\nlink = USB3\n"), "bench.ini:3: [port 1] has no 'disk_size' key"},
        {"port beyond count", bench1(kPort) + "[port 2]\n" + kPort, "bench.ini:7: [port 2] but the bench has 1 port"},
        {"missing port section", "[bench]\nports = 2\n[port 1]\n" + kPort, "bench.ini: no [port 2] section"},
        {"port 0", "[bench]\nports = 1\n[port 0]\n", "bench.ini:3: bad port section [port 0]"},
        {"port count", "[bench]\nports = 33\n", "bench.ini:2: bad port count '33'"},
        {"no port count", "[bench]\ntime_scale = 2\n", "bench.ini:1: [bench] has no 'ports' key"},
        {"no bench section", "", "bench.ini: no [bench] section"},
        {"newer version", "[bench]\nversion = 2\n", "bench.ini:2: settings version 2 is newer"},
        {"time scale range", bench1(kPort, "time_scale = 0.5\n"), "bench.ini:3: time scale 0.5 out of range"},
        {"time scale text", bench1(kPort, "time_scale = fast\n"), "bench.ini:3: bad time scale 'fast'"},
        {"key outside section", "ports = 1\n", "bench.ini:1: key 'ports' outside a section"},
        {"not a key line", "[bench]\nports 1\n", "bench.ini:2: expected 'key = value'"},
        {"unknown section", "[host]\n", "bench.ini:1: unknown section [host]"},
        {"unclosed section", "[bench\n", "bench.ini:1: section header '[bench' lacks"},
        {"duplicate section", "[bench]\nports = 1\n[bench]\n", "bench.ini:3: duplicate section [bench] (first on line 1)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BenchSettings s;
        s.timeScale = 7;
        std::string error;
        EXPECT_FALSE(parseBenchSettings(c.text, "bench.ini", s, error));
        EXPECT_EQ(error.rfind(c.expected, 0), 0u) << error;
        EXPECT_EQ(s.timeScale, 7) << "a refused file must leave the record alone";
    }
}

TEST(BenchSettings, DiskSizesAndTheirSpelling)
{
    const std::pair<const char*, uint64_t> good[] = {
        {"256G", 256ULL << 30}, {"512m", 512ULL << 20}, {"1048576", 1ULL << 20},
        {"4KiB", 0}, {"2TB", 2ULL << 40}, {"64T", 64ULL << 40}, {"1536K", 1536ULL << 10},
    };
    for (auto [text, bytes] : good) {
        SCOPED_TRACE(text);
        uint64_t got = 0;
        std::string why;
        if (bytes == 0) {  // below the minimum
            EXPECT_FALSE(parseDiskSize(text, got, why));
            continue;
        }
        ASSERT_TRUE(parseDiskSize(text, got, why)) << why;
        EXPECT_EQ(got, bytes);
        uint64_t again = 0;
        ASSERT_TRUE(parseDiskSize(formatDiskSize(got), again, why));
        EXPECT_EQ(again, bytes);
    }
    EXPECT_EQ(formatDiskSize(1536ULL << 10), "1536K");
    EXPECT_EQ(formatDiskSize(1ULL << 40), "1T");
    uint64_t got = 0;
    std::string why;
    for (const char* bad : {"", "G", "-1G", "1.5G", "1GB2", "99999999999999999999999"})
        EXPECT_FALSE(parseDiskSize(bad, got, why)) << bad;
}

TEST(BenchSettings, APipeWhereABenchFileBelongsIsRefusedAtOnce)
{
    // Neither the settings nor a port's state may leave the bench (or
    // krvbench) waiting in open() for a writer that never comes.
    test::TempDir dir;
    const std::string settings = dir.file("bench.ini");
    ASSERT_EQ(::mkfifo(settings.c_str(), 0644), 0);
    BenchSettings loaded;
    std::string error;
    EXPECT_FALSE(loadBenchSettings(settings, loaded, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

    const std::string state = dir.file("state.ini");
    ASSERT_EQ(::mkfifo(state.c_str(), 0644), 0);
    std::string text;
    EXPECT_FALSE(readTextFile(state, text, error));
    EXPECT_NE(error.find(state), std::string::npos) << error;
}

}  // namespace
}  // namespace krv::bench
