// A bridge's stored state apart from its running state: a CPU reset makes
// it run what its EEPROMs hold, after it left the bus and came back; all of
// it lasts from one run of a program to the next.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/bridge/PortState.h"
#include "tests/platform/BenchBridgeSupport.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

Bytes firmwareImage(std::initializer_list<uint8_t> version, uint8_t signature)
{
    Bytes image(98016, 0x3C);
    std::copy(version.begin(), version.end(), image.begin() + 0x204);
    image[98016 - 6] = signature;
    return image;
}

// Writes a whole image into `bank` as the system does: two parts, a second
// apart.
void flash(BenchFixture& bench, ScsiDevice& d, int bank, const Bytes& image)
{
    ASSERT_TRUE(firmware(d, true, bank, 0, Bytes(image.begin(), image.begin() + 65280), 65280).good());
    bench.clock().sleepMs(1000);
    ASSERT_TRUE(firmware(d, true, bank, 1, Bytes(image.begin() + 65280, image.end()), 32736).good());
    bench.clock().sleepMs(1000);
}

bench::BenchSettings twoPorts(bool renumber)
{
    bench::BenchSettings s;
    s.ports.resize(2);
    s.ports[0].renumber = renumber;
    s.ports[0].relinkMs = 4000;
    s.ports[0].dropMs = 200;
    return s;
}

TEST(BenchBridgeReset, ACpuResetRunsTheStoredImagesAfterReEnumerating)
{
    BenchFixture bench(twoPorts(true));
    int before = bench.physicalDrive(1);
    EXPECT_EQ(before, 1);
    EXPECT_EQ(bench.physicalDrive(2), 2);
    auto d = openDrive(before);
    ASSERT_TRUE(d);
    EXPECT_EQ(runningVersion(*d), "230601800100");

    flash(bench, *d, 0, firmwareImage({0x24, 0x05, 0x17, 0x80, 0x02, 0x01}, 0x4B));
    Bytes u4(128, 0xFF);
    u4[124] = 2;
    u4[125] = 0;
    ASSERT_TRUE(writeConfig(*d, 0, 1, u4).good());
    EXPECT_EQ(runningVersion(*d), "230601800100") << "written, not yet running";
    EXPECT_EQ(readConfig(*d, 0, 1).data, u4) << "E0 reads the EEPROM";

    ASSERT_TRUE(cpuReset(*d).good()) << "the bridge answers before it leaves";
    bench.clock().sleepMs(199);
    EXPECT_TRUE(inquiry(*d).good()) << "still there before its drop time";
    bench.clock().sleepMs(1);
    Answer gone = inquiry(*d);
    EXPECT_FALSE(gone.sent);
    EXPECT_EQ(gone.lastError, 1167u);
    EXPECT_FALSE(openDrive(before));
    EXPECT_EQ(bench.physicalDrive(1), -1);

    bench.clock().sleepMs(3799);
    EXPECT_EQ(bench.physicalDrive(1), -1);
    bench.clock().sleepMs(1);
    int after = bench.physicalDrive(1);
    EXPECT_EQ(after, 3) << "set to come back under a new number: the lowest free one but its old";
    EXPECT_FALSE(inquiry(*d).sent) << "an old handle does not follow the device";
    auto again = openDrive(after);
    ASSERT_TRUE(again);
    EXPECT_EQ(runningVersion(*again), "240517800201");
    EXPECT_EQ(registerByte(*again, 0xCA02), 2) << "re-link signature from the image it booted";
}

TEST(BenchBridgeReset, AStaleNameLeadsToTheRenumberedDeviceUntilItLeaves)
{
    bench::BenchSettings settings = twoPorts(true);
    settings.ports[0].staleName = true;
    BenchFixture bench(settings);
    const int before = bench.physicalDrive(1);
    {
        auto d = openDrive(before);
        ASSERT_TRUE(cpuReset(*d).good());
    }
    bench.clock().sleepMs(4000);
    const int after = bench.physicalDrive(1);
    ASSERT_EQ(after, 3);
    // The old name opens the device, which reports its new number.
    auto old = openDrive(before);
    ASSERT_TRUE(old);
    EXPECT_TRUE(inquiry(*old).good());
    StorageDeviceNumber number;
    ASSERT_TRUE(old->deviceNumber(number));
    EXPECT_EQ(number.deviceNumber, static_cast<uint32_t>(after));
    EXPECT_TRUE(bench.devices().openDisk(before));
    bool logged = false;
    for (const bench::LogEntry& e : bench.devices().log(1))
        logged = logged || e.note.find("PhysicalDrive1 still leads to it") != std::string::npos;
    EXPECT_TRUE(logged);

    ASSERT_TRUE(bench.unplug(1));
    EXPECT_FALSE(openDrive(before)) << "the name went with the device";
}

TEST(BenchBridgeReset, ResetFallsBackToABootableBankAndForgetsRegisterWrites)
{
    BenchFixture bench;  // returns under its old number
    auto d = openDrive(1);
    // Bank 1 gets an image of another chip revision: not bootable, so the
    // bridge keeps booting bank 0.
    flash(bench, *d, 1, firmwareImage({0x25, 0x01, 0x01, 0x80, 0x00, 0x00}, 0x5A));
    ASSERT_TRUE(writeRegister(*d, 0x9000, 0x00).good());
    ASSERT_TRUE(cpuReset(*d).good());
    bench.clock().sleepMs(bench::kDefaultRelinkMs);
    EXPECT_EQ(bench.physicalDrive(1), 1);
    auto again = openDrive(1);
    EXPECT_EQ(runningVersion(*again), "230601800100");
    EXPECT_EQ(registerByte(*again, 0x9000), 0x80);
    EXPECT_EQ(bench.devices().state(1).running.bank, 0);
}

TEST(BenchBridgeReset, ACdRomUnitComesBackUnderANewNumberWhenSetToRenumber)
{
    bench::BenchSettings settings;
    settings.ports.resize(3);
    for (auto& port : settings.ports)
        port.cdrom = true;
    settings.ports[1].renumber = true;
    BenchFixture bench(settings);
    EXPECT_EQ(bench.cdrom(2), 1);
    EXPECT_EQ(bench.physicalDrive(2), 2);
    auto cd = openDrive(1, DriveKind::CdRom);
    ASSERT_TRUE(cd);
    ASSERT_TRUE(cpuReset(*cd).good()) << "the reset reaches the bridge by its CD-ROM unit";
    bench.clock().sleepMs(bench::kDefaultRelinkMs);
    EXPECT_EQ(bench.cdrom(2), 3) << "the CD-ROM number after the highest in use";
    EXPECT_EQ(bench.physicalDrive(2), 4);
    EXPECT_FALSE(openDrive(1, DriveKind::CdRom));
    EXPECT_TRUE(openDrive(3, DriveKind::CdRom));
    EXPECT_EQ(bench.cdrom(1), 0) << "without renumbering it keeps its number";
}

TEST(BenchBridgeReset, DisconnectLeavesTheBusUntilPluggedInAgain)
{
    BenchFixture bench(2);
    auto d = openDrive(bench.physicalDrive(2));
    // Parking first: the disk's cache is flushed and it goes to standby.
    EXPECT_TRUE(send(*d, {0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE7, 0, 0}).good()) << "ATA FLUSH CACHE";
    EXPECT_TRUE(send(*d, {0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE0, 0, 0}).good()) << "ATA STANDBY IMMEDIATE";
    ASSERT_TRUE(cpuReset(*d, 0x51).good());
    bench.clock().sleepMs(60'000);
    EXPECT_EQ(bench.physicalDrive(2), -1);
    EXPECT_FALSE(bench.devices().onBus(2));
    std::string outcome;
    ASSERT_TRUE(bench.bench().apply({"plug", 2, {}}, outcome)) << outcome;
    EXPECT_EQ(outcome, "port 2 plugged in again");
    EXPECT_EQ(bench.physicalDrive(2), 2);
}

TEST(BenchBridgeReset, StateOutlivesTheProgramRun)
{
    bench::BenchSettings settings;
    settings.ports.resize(2);
    settings.ports[1].cdrom = true;
    BenchFixture bench(settings);
    EXPECT_EQ(bench.cdrom(2), 0);
    EXPECT_EQ(bench.cdrom(1), -1);
    Bytes config(128, 0x77);
    {
        auto d = openDrive(bench.physicalDrive(1));
        flash(bench, *d, 0, firmwareImage({0x24, 0x07, 0x01, 0x80, 0x00, 0x09}, 0xB4));
        ASSERT_TRUE(writeConfig(*d, 1, 0, config).good());
        ASSERT_TRUE(writeRegister(*d, 0xE795, 0x00).good());
        ASSERT_TRUE(cpuReset(*d).good());
        bench.clock().sleepMs(100);  // the program ends while the bridge is away
    }
    bench.reopen();
    EXPECT_EQ(bench.physicalDrive(1), 1) << "it came back while nobody looked";
    EXPECT_EQ(bench.physicalDrive(2), 2);
    EXPECT_EQ(bench.cdrom(2), 0);
    auto d = openDrive(1);
    ASSERT_TRUE(d);
    EXPECT_EQ(runningVersion(*d), "240701800009");
    EXPECT_EQ(readConfig(*d, 1, 0).data, config);
    // Port 2's CD-ROM unit is the same bridge as its disk.
    auto cd = openDrive(0, DriveKind::CdRom);
    ASSERT_TRUE(cd);
    EXPECT_EQ(inquiry(*cd).data[0], 0x05);
    ASSERT_TRUE(writeConfig(*cd, 0, 1, config).good());
    EXPECT_EQ(readConfig(*openDrive(2), 0, 1).data, config);

    // A register written before the program ends is still set in the next.
    ASSERT_TRUE(writeRegister(*d, 0xE795, 0x00).good());
    bench.reopen();
    EXPECT_EQ(registerByte(*openDrive(1), 0xE795), 0x00);
}

TEST(BenchBridgeReset, AFreshBenchStartsFromTheGivenFirmwareAndSerial)
{
    bench::BenchSettings settings;
    settings.ports.resize(2);
    settings.ports[1].chip = "KRV752B";
    bench::PortStart start;
    bench::FirmwareVersion version = {0x22, 0x12, 0x31, 0x00, 0x01, 0x02};
    start.firmware = version;
    start.serial = "SERIAL-0001";
    BenchFixture bench(settings, {start, start});
    for (int port : {1, 2}) {
        SCOPED_TRACE(port);
        auto d = openDrive(bench.physicalDrive(port));
        bool legacy = port == 2;
        Answer v = readRegisters(*d, 0x07F0, 6, legacy);
        ASSERT_TRUE(v.good());
        EXPECT_EQ(v.data, Bytes(version.begin(), version.end()));
        Answer config = legacy ? send(*d, {0xE0, 0, 0, 0x5A, 0, 0}, {}, 128) : readConfig(*d, 0, 0);
        EXPECT_EQ(std::string(config.data.begin() + 4, config.data.begin() + 15), "SERIAL-0001");
    }
    EXPECT_TRUE(std::filesystem::exists(bench::portStatePath(bench.folder(), 1) + "/firmware-0.bin"));
    EXPECT_FALSE(std::filesystem::exists(bench::portStatePath(bench.folder(), 2) + "/firmware-0.bin"));
}

TEST(BenchBridgeReset, ADamagedStateFileIsNamed)
{
    BenchFixture bench;
    std::string folder = bench.folder();
    bench.close();
    std::filesystem::resize_file(bench::portStatePath(folder, 1) + "/firmware-1.bin", 100);
    std::string error;
    EXPECT_FALSE(BenchPlatform::open(folder, error));
    EXPECT_NE(error.find("firmware-1.bin holds 100 bytes"), std::string::npos) << error;
}

}  // namespace
}  // namespace krv::test
