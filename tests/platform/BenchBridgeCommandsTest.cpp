// The bench's bridges from the host's side: the command bytes the system
// sends, and what each family answers. No system code is involved.
#include <gtest/gtest.h>

#include <thread>

#include "tests/platform/BenchBridgeSupport.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kInvalidOpcode = 0x20;
constexpr uint8_t kInvalidField = 0x24;

bench::PortSettings portOf(const char* chip, const char* link, const char* speed = "")
{
    bench::PortSettings p;
    p.chip = chip;
    p.link = link;
    p.speed = speed;
    p.diskSize = 1ULL << 30;
    return p;
}

bench::BenchSettings benchOf(std::vector<bench::PortSettings> ports)
{
    bench::BenchSettings s;
    s.ports = std::move(ports);
    return s;
}

// A firmware image as the maker builds one: version bytes at 0x204 and the
// signature byte of the chip revision six bytes before the end.
Bytes firmwareImage(std::initializer_list<uint8_t> version, uint8_t signature, uint8_t fill)
{
    Bytes image(98016);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(fill + i * 7);
    std::copy(version.begin(), version.end(), image.begin() + 0x204);
    image[98016 - 6] = signature;
    return image;
}

Bytes part(const Bytes& image, int which)
{
    return which == 0 ? Bytes(image.begin(), image.begin() + 65280) : Bytes(image.begin() + 65280, image.end());
}

TEST(BenchBridge, InquiryTellsEachFamilyByItsChipBytes)
{
    BenchFixture bench(benchOf({portOf("KRV8574", "USB3"), portOf("KRV8575", "USB4-U3"), portOf("KRV752A", "USB3"),
                                portOf("KRV752B", "USB3"), portOf("KRV6390", "USB2"), portOf("KRV419x", "USB3")}));
    const char* expected[] = {"8574", "8576", "7520", "7520", "6390", "6390"};
    for (int port = 1; port <= 6; ++port) {
        SCOPED_TRACE("port " + std::to_string(port));
        auto drive = openDrive(bench.physicalDrive(port));
        ASSERT_TRUE(drive);
        Answer a = inquiry(*drive);
        ASSERT_TRUE(a.good());
        EXPECT_EQ(a.transferred, 38u);
        EXPECT_EQ(chipText(a), expected[port - 1]);
        EXPECT_EQ(a.data[0], 0x00) << "a disk";
        EXPECT_EQ(std::string(a.data.begin() + 8, a.data.begin() + 16), "KRV     ") << "T10 vendor of the image";
    }
    // The revisions the status readers tell apart sit in 0xC8FF.
    auto b = openDrive(bench.physicalDrive(4));
    EXPECT_EQ(registerByte(*b, 0xC8FF, true) >> 4 & 7, 1) << "KRV752B";
    auto e = openDrive(bench.physicalDrive(6));
    EXPECT_EQ(registerByte(*e, 0xC8FF, true) >> 4 & 7, 5) << "KRV419x is an E part";
    auto a857 = openDrive(bench.physicalDrive(1));
    EXPECT_EQ(registerByte(*a857, 0xC8FF), 0x10) << "857B, revision digit 0";
}

TEST(BenchBridge, SystemDiskAndPcieTunnelledDrivesAreNoBridges)
{
    BenchFixture bench(benchOf({portOf("KRV8574", "USB4")}));
    auto system = openDrive(0);
    ASSERT_TRUE(system) << "the system disk is PhysicalDrive0";
    EXPECT_TRUE(inquiry(*system).good());
    EXPECT_TRUE(readRegisters(*system, 0xC8FF, 1).checkCondition(kIllegalRequest, kInvalidOpcode));
    EXPECT_TRUE(send(*system, {0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE7, 0, 0}).good()) << "ATA flush";

    // Over a PCIe tunnel the host's disk is the NVMe drive itself.
    int drive = bench.physicalDrive(1);
    ASSERT_GE(drive, 1);
    auto nvme = openDrive(drive);
    Answer id = inquiry(*nvme);
    ASSERT_TRUE(id.good());
    EXPECT_EQ(chipText(id), "0000");
    EXPECT_TRUE(readConfig(*nvme, 0, 0).checkCondition(kIllegalRequest, kInvalidOpcode));

    EXPECT_FALSE(openDrive(9));
    EXPECT_EQ(lastError(), winerr::kFileNotFound);
}

TEST(BenchBridge, ConfigurationImagesPerImageAndType)
{
    BenchFixture bench;
    auto d = openDrive(bench.physicalDrive(1));
    ASSERT_TRUE(d);
    Bytes images[2][2];
    for (int image = 0; image < 2; ++image)
        for (int type = 0; type < 2; ++type) {
            images[image][type] = Bytes(128, static_cast<uint8_t>(0x10 * (image * 2 + type + 1)));
            ASSERT_TRUE(writeConfig(*d, image, type, images[image][type]).good());
        }
    for (int image = 0; image < 2; ++image)
        for (int type = 0; type < 2; ++type) {
            SCOPED_TRACE("image " + std::to_string(image) + " type " + std::to_string(type));
            Answer a = readConfig(*d, image, type);
            ASSERT_TRUE(a.good());
            EXPECT_EQ(a.transferred, 128u);
            EXPECT_EQ(a.data, images[image][type]);
        }
    // Fields and lengths the system never sends.
    EXPECT_TRUE(send(*d, {0xE0, 0x52, 0, 0, 0, 0}, {}, 128).checkCondition(kIllegalRequest, kInvalidField));
    EXPECT_TRUE(send(*d, {0xE0, 0x50, 2, 0, 0, 0}, {}, 128).checkCondition(kIllegalRequest, kInvalidField));
    EXPECT_TRUE(send(*d, {0xE1, 0x50, 0, 0, 0, 0}, Bytes(127, 1)).checkCondition(kIllegalRequest, kInvalidField));
    EXPECT_TRUE(send(*d, {0xE0, 0x00, 0x00, 0x5A, 0, 0}, {}, 128).checkCondition(kIllegalRequest, kInvalidField))
        << "the KRV6390 form is not the KRV857x's";
    EXPECT_EQ(readConfig(*d, 1, 1).data, images[1][1]) << "a refused write changes nothing";
}

TEST(BenchBridge, OlderBridgesKeepOneImageInTheirOwnForm)
{
    BenchFixture bench(benchOf({portOf("KRV752B", "USB3")}));
    auto d = openDrive(bench.physicalDrive(1));
    Bytes image(128, 0x42);
    EXPECT_TRUE(send(*d, {0xE1, 0x00, 0x00, 0x5A, 0, 0}, image).good());
    Answer back = send(*d, {0xE0, 0x00, 0x00, 0x5A, 0, 0}, {}, 128);
    ASSERT_TRUE(back.good());
    EXPECT_EQ(back.data, image);
    EXPECT_TRUE(readConfig(*d, 0, 0).checkCondition(kIllegalRequest, kInvalidField));
    EXPECT_TRUE(send(*d, {0xE2, 0x50, 0, 0, 0xFF, 0}, {}, 0xFF00).checkCondition(kIllegalRequest, kInvalidOpcode))
        << "no firmware banks to read";
}

TEST(BenchBridge, FirmwareTravelsInTwoPartsPerBank)
{
    BenchFixture bench;
    auto d = openDrive(bench.physicalDrive(1));
    Bytes image = firmwareImage({0x24, 0x01, 0x31, 0x80, 0x02, 0x03}, 0x4B, 1);
    ASSERT_TRUE(firmware(*d, true, 1, 0, part(image, 0), 65280).good());
    bench.clock().sleepMs(1000);
    ASSERT_TRUE(firmware(*d, true, 1, 1, part(image, 1), 32736).good());
    bench.clock().sleepMs(1000);
    Answer first = firmware(*d, false, 1, 0, {}, 65280);
    Answer second = firmware(*d, false, 1, 1, {}, 32736);
    ASSERT_TRUE(first.good() && second.good());
    EXPECT_EQ(first.data, part(image, 0));
    EXPECT_EQ(second.data, part(image, 1));
    EXPECT_NE(firmware(*d, false, 0, 0, {}, 65280).data, part(image, 0)) << "bank 0 untouched";
    // A read of a shorter length reads the start of the part.
    EXPECT_EQ(firmware(*d, false, 1, 1, {}, 256).data, Bytes(image.begin() + 65280, image.begin() + 65536));

    // The first part takes up to the 64 KiB transfer buffer from the image's
    // start, running on into the second region; more than that, a part 1
    // longer than its 32736, or nothing, are refused.
    bench.clock().sleepMs(1000);
    Bytes start(image.begin(), image.begin() + 65536);
    ASSERT_TRUE(firmware(*d, true, 0, 0, start, 65536).good());
    bench.clock().sleepMs(1000);
    EXPECT_EQ(firmware(*d, false, 0, 0, {}, 65536).data, start);
    EXPECT_EQ(firmware(*d, false, 0, 1, {}, 256).data, Bytes(image.begin() + 65280, image.begin() + 65536));
    EXPECT_TRUE(firmware(*d, true, 0, 0, Bytes(65537, 0), 65537).checkCondition(kIllegalRequest, kInvalidField));
    EXPECT_TRUE(firmware(*d, false, 0, 1, {}, 32737).checkCondition(kIllegalRequest, kInvalidField));
    EXPECT_TRUE(send(*d, {0xE2, 0x50, 0, 0, 0, 0}, {}, 16).checkCondition(kIllegalRequest, kInvalidField));
    EXPECT_TRUE(send(*d, {0xE2, 0x00, 0, 0, 0x01, 0}, {}, 256).checkCondition(kIllegalRequest, kInvalidField))
        << "selector 00 (a part other than 0 and 1)";
}

TEST(BenchBridge, TheEepromIsBusyWhileItProgramsFirmware)
{
    BenchFixture bench;
    auto d = openDrive(bench.physicalDrive(1));
    Bytes image = firmwareImage({0x24, 0x01, 0x31, 0x80, 0x02, 0x03}, 0x4B, 1);
    ASSERT_TRUE(firmware(*d, true, 0, 0, part(image, 0), 65280).good());
    EXPECT_TRUE(firmware(*d, true, 0, 1, part(image, 1), 32736).checkCondition(0x02, 0x04)) << "not ready";
    EXPECT_TRUE(inquiry(*d).good()) << "INQUIRY is answered meanwhile";
    bench.clock().sleepMs(300);
    EXPECT_TRUE(firmware(*d, true, 0, 1, part(image, 1), 32736).good());
}

TEST(BenchBridge, RegistersInBothAddressForms)
{
    BenchFixture bench(benchOf({portOf("KRV8574", "USB4-U3", "Gen3x2"), portOf("KRV752B", "USB3", "Gen2x2")}));
    auto d = openDrive(bench.physicalDrive(1));
    // The wire form: page 50 for 16-bit addresses, page 51 for the second
    // page at 0x20000, and the KRV6390 form with 00 for the low page.
    Answer wide = send(*d, {0xE4, 0x01, 0x51, 0x00, 0x00, 0x00}, {}, 1);
    ASSERT_TRUE(wide.good());
    EXPECT_EQ(wide.data[0], 0x06) << "USB4 link, USB 3 tunnel";
    EXPECT_EQ(registerByte(*d, 0x22805), 0x80);
    EXPECT_EQ(registerByte(*d, 0xC8D1, true), 0x00) << "SHA-256 supported, read in the 00 form";
    EXPECT_EQ(registerByte(*d, 0xC8D1), registerByte(*d, 0xC8D1, true));

    // A 256-byte read sends 00 as its length.
    Answer all = send(*d, {0xE4, 0x00, 0x50, 0x07, 0x00, 0x00}, {}, 256);
    ASSERT_TRUE(all.good());
    EXPECT_EQ(all.transferred, 256u);
    EXPECT_EQ(all.data[0xF0], 0x23) << "0x07F0 holds the running version";

    // A write sets one byte, which the next CPU reset forgets.
    ASSERT_TRUE(writeRegister(*d, 0x2601A, 0x5C).good());
    EXPECT_EQ(registerByte(*d, 0x2601A), 0x5C);
    EXPECT_TRUE(send(*d, {0xE5, 0x01, 0x50, 0x90, 0x00, 0x00}, Bytes(4, 1)).checkCondition(kIllegalRequest, kInvalidField))
        << "a register write moves no data";
    EXPECT_TRUE(send(*d, {0xE4, 0x02, 0x51, 0xFF, 0xFF, 0x00}, {}, 2).checkCondition(kIllegalRequest, kInvalidField))
        << "past the end of the page";
    EXPECT_TRUE(send(*d, {0xE4, 0x01, 0x52, 0x00, 0x00, 0x00}, {}, 1).checkCondition(kIllegalRequest, kInvalidField));

    auto old = openDrive(bench.physicalDrive(2));
    EXPECT_EQ(registerByte(*old, 0x92B8, true), 0x14) << "752B: SuperSpeed Plus on two lanes";
    EXPECT_TRUE(readRegisters(*old, 0xC8FF, 1).checkCondition(kIllegalRequest, kInvalidField))
        << "16-bit bridges know only the 00 form";
}

struct LinkCase {
    const char* link;
    const char* speed;
    uint8_t usbSpeed;       // 0x9100
    uint8_t plus;           // 0x92F8
    uint8_t usb4Link;       // 0x20000
    uint8_t usb4Generation; // 0x22865
    uint8_t laneSelect;     // 0xB404
};

TEST(BenchBridge, StatusRegistersFollowTheLink)
{
    const LinkCase cases[] = {
        {"USB2", "High", 1, 0x00, 0x00, 0x00, 0x00},
        {"USB3", "Gen1x1", 2, 0x00, 0x00, 0x00, 0x01},
        {"USB3", "Gen2x2", 2, 0x14, 0x00, 0x00, 0x03},
        {"USB4-U3", "Gen2x1", 2, 0x04, 0x06, 0x00, 0x01},
        {"USB4-U3", "Gen3x2", 2, 0x04, 0x06, 0x10, 0x03},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.link) + " " + c.speed);
        BenchFixture bench(benchOf({portOf("KRV8574", c.link, c.speed)}));
        auto d = openDrive(bench.physicalDrive(1));
        EXPECT_EQ(registerByte(*d, 0x9100), c.usbSpeed);
        EXPECT_EQ(registerByte(*d, 0x92F8), c.plus);
        EXPECT_EQ(registerByte(*d, 0x20000), c.usb4Link);
        EXPECT_EQ(registerByte(*d, 0x22865), c.usb4Generation);
        EXPECT_EQ(registerByte(*d, 0xB404), c.laneSelect);
        bool twoLanes = c.laneSelect == 0x03;
        EXPECT_EQ(registerByte(*d, 0xE76D) & 0x02, twoLanes ? 0x02 : 0x00) << "lane 1 status";
        EXPECT_EQ(registerByte(*d, 0x24492) != 0, twoLanes) << "lane 1 value";
        EXPECT_EQ(registerByte(*d, 0x9000), std::string(c.link) == "USB2" ? 0x00 : 0x80) << "UAS but on USB 2";
    }
}

TEST(BenchBridge, PresetRegistersStandInForTheModel)
{
    bench::PortSettings port = portOf("KRV8574", "USB3");
    port.registers = {{0x20000, 0x02}, {0x22805, 0x00}, {0xE795, 0x00}};  // a TBT3 look, a PDX controller
    BenchFixture bench(benchOf({port}));
    auto d = openDrive(bench.physicalDrive(1));
    EXPECT_EQ(registerByte(*d, 0x20000), 0x02);
    EXPECT_EQ(registerByte(*d, 0x22805), 0x00);
    EXPECT_EQ(registerByte(*d, 0xE795), 0x00);
}

TEST(BenchBridge, CommandsAndFieldsNeverSentAreRefused)
{
    BenchFixture bench(benchOf({portOf("KRV8574", "USB3"), portOf("KRV6390", "USB3")}));
    auto d = openDrive(bench.physicalDrive(1));
    struct Case {
        const char* what;
        std::initializer_list<uint8_t> cdb;
        uint32_t in;
        uint8_t asc;
    } cases[] = {
        {"READ(10)", {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, kInvalidOpcode},
        {"vendor EA", {0xEA, 0, 0, 0, 0, 0}, 0, kInvalidOpcode},
        {"INQUIRY EVPD page 83", {0x12, 0x01, 0x83, 0x00, 0x40, 0x00}, 64, kInvalidField},
        {"INQUIRY EVPD C8 on a KRV857x", {0x12, 0x01, 0xC8, 0x00, 0x81, 0x00}, 512, kInvalidField},
        {"INQUIRY with control byte", {0x12, 0, 0, 0, 38, 0x01}, 38, kInvalidField},
        {"reset code 52", {0xE8, 0x52, 0, 0, 0, 0}, 0, kInvalidField},
        {"register read with byte 5", {0xE4, 0x01, 0x50, 0xC8, 0xFF, 0x01}, 1, kInvalidField},
        {"register read past the buffer", {0xE4, 0x10, 0x50, 0xC8, 0x00, 0x00}, 8, kInvalidField},
        {"256 registers into 255 bytes", {0xE4, 0x00, 0x50, 0xC8, 0x00, 0x00}, 255, kInvalidField},
        {"firmware read past the buffer", {0xE2, 0x50, 0x00, 0x00, 0x02, 0x00}, 256, kInvalidField},
        {"Identify CNS 2", {0xE6, 0x06, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 4096, kInvalidField},
        {"Identify as 6 bytes", {0xE6, 0x06, 0x00, 0x01, 0, 0}, 4096, kInvalidField},
        {"SHA-256 verify of bank 2", {0xE9, 0x01, 0x02, 0, 0, 0}, 1, kInvalidField},
        {"ATA READ SECTORS", {0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0x20, 0, 0}, 512, kInvalidField},
        {"power configuration on a KRV857x", {0xC3, 0x30, 0x0C, 0, 0, 0, 0, 0, 0x01, 0x30, 0}, 0, kInvalidOpcode},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(send(*d, c.cdb, {}, c.in).checkCondition(kIllegalRequest, c.asc));
    }
    auto old = openDrive(bench.physicalDrive(2));
    EXPECT_TRUE(send(*old, {0xE6, 0x06, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}, 4096)
                    .checkCondition(kIllegalRequest, kInvalidOpcode))
        << "a SATA bridge has no NVMe drive";
    EXPECT_TRUE(send(*old, {0xE9, 0x00, 0, 0, 0, 0}, Bytes(32, 0)).checkCondition(kIllegalRequest, kInvalidOpcode));
    EXPECT_EQ(registerByte(*old, 0xC8D1, true) & 0x08, 0x08) << "and says so in 0xC8D1";

    // A request that is not one never reaches the device.
    ScsiCommand broken;
    broken.cdbLength = 3;
    EXPECT_FALSE(d->execute(broken));
    EXPECT_EQ(lastError(), winerr::kInvalidParameter);
}

TEST(BenchBridge, Sha256KeyAndFirmwareVerdict)
{
    BenchFixture bench;
    auto d = openDrive(bench.physicalDrive(1));
    Bytes key = {0x6A, 0x09, 0xE6, 0x67, 0xBB, 0x67, 0xAE, 0x85, 0x3C, 0x6E, 0xF3, 0x72, 0xA5, 0x4F, 0xF5, 0x3A,
                 0x51, 0x0E, 0x52, 0x7F, 0x9B, 0x05, 0x68, 0x8C, 0x1F, 0x83, 0xD9, 0xAB, 0x5B, 0xE0, 0xCD, 0x19};
    auto verdict = [&](int bank) {
        Answer a = send(*d, {0xE9, 0x01, static_cast<uint8_t>(bank), 0, 0, 0}, {}, 1, 60);
        EXPECT_TRUE(a.good());
        return a.data[0];
    };
    EXPECT_EQ(verdict(0), 0) << "no key yet";
    Bytes wrong = key;
    wrong[31] ^= 1;
    ASSERT_TRUE(send(*d, {0xE9, 0x00, 0, 0, 0, 0}, wrong, 0, 60).good());
    EXPECT_EQ(verdict(0), 0) << "a key it does not check with";
    ASSERT_TRUE(send(*d, {0xE9, 0x00, 0, 0, 0, 0}, key, 0, 60).good());
    EXPECT_NE(verdict(0), 0);
    // An image of another chip revision fails the check.
    Bytes foreign = firmwareImage({0x24, 0, 0, 0, 0, 0}, 0x5A, 3);  // revision 0's signature
    ASSERT_TRUE(firmware(*d, true, 1, 0, part(foreign, 0), 65280).good());
    bench.clock().sleepMs(1000);
    ASSERT_TRUE(firmware(*d, true, 1, 1, part(foreign, 1), 32736).good());
    bench.clock().sleepMs(1000);
    EXPECT_EQ(verdict(1), 0);
    EXPECT_NE(verdict(0), 0);
}

TEST(BenchBridge, DriveIdentityThroughNvmeAndAta)
{
    BenchFixture bench;
    auto d = openDrive(bench.physicalDrive(1));
    Answer controller = send(*d, {0xE6, 0x06, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}, 4096, 60);
    ASSERT_TRUE(controller.good());
    std::string serial(controller.data.begin() + 4, controller.data.begin() + 24);
    std::string revision(controller.data.begin() + 64, controller.data.begin() + 72);
    EXPECT_EQ(serial.find_first_not_of(' '), 0u);
    EXPECT_FALSE(revision.empty());
    Answer ns = send(*d, {0xE6, 0x06, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}, 4096, 60);
    ASSERT_TRUE(ns.good());
    uint64_t blocks = 0;
    for (int i = 7; i >= 0; --i)
        blocks = blocks << 8 | ns.data[static_cast<size_t>(i)];
    EXPECT_EQ(blocks * 512, 256ULL << 30);

    // ATA IDENTIFY: words hold their first character in the high byte.
    Answer ata = send(*d, {0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00}, {}, 512, 65535);
    ASSERT_TRUE(ata.good());
    std::string ataSerial;
    for (size_t word = 10; word < 20; ++word) {
        ataSerial += static_cast<char>(ata.data[word * 2 + 1]);
        ataSerial += static_cast<char>(ata.data[word * 2]);
    }
    EXPECT_EQ(ataSerial, serial);
    for (uint8_t command : {0xE0, 0xE7})
        EXPECT_TRUE(send(*d, {0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, command, 0, 0}, {}, 0, 65535).good());
}

TEST(BenchBridge, UnitSerialNumberAsSet)
{
    // The last bridge's configuration holds no serial: it goes by its drive's.
    struct Case {
        bench::UnitSerial unit;
        const char* page;   // nullptr: no such page
    } cases[] = {
        {bench::UnitSerial::Serial, "KRVBENCH000000000001"},
        {bench::UnitSerial::Disk, "KRVNVME0000000000002"},
        {bench::UnitSerial::Reversed, "300000000000HCNEBVRK"},
        {bench::UnitSerial::None, nullptr},
        {bench::UnitSerial::Serial, "KRVNVME0000000000005"},
    };
    std::vector<bench::PortSettings> ports;
    for (const Case& c : cases) {
        ports.push_back(portOf("KRV8574", "USB3"));
        ports.back().unitSerial = c.unit;
    }
    std::vector<bench::PortStart> starts(ports.size());
    starts.back().serial = "";
    BenchFixture bench(benchOf(ports), starts);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i + 1);
        auto d = openDrive(bench.physicalDrive(static_cast<int>(i + 1)));
        Answer pages = send(*d, {0x12, 0x01, 0x00, 0x00, 0x40, 0x00}, {}, 64);
        ASSERT_TRUE(pages.good());
        EXPECT_EQ(Bytes(pages.data.begin() + 3, pages.data.begin() + 4 + pages.data[3]),
                  cases[i].page ? Bytes({2, 0x00, 0x80}) : Bytes({1, 0x00}));
        Answer page = send(*d, {0x12, 0x01, 0x80, 0x00, 0x40, 0x00}, {}, 64);
        if (!cases[i].page) {
            EXPECT_TRUE(page.checkCondition(kIllegalRequest, kInvalidField));
            continue;
        }
        ASSERT_TRUE(page.good());
        EXPECT_EQ(page.data[1], 0x80);
        EXPECT_EQ(std::string(page.data.begin() + 4, page.data.begin() + 4 + page.data[3]), cases[i].page);
    }
}

TEST(BenchBridge, FactoryPageAndPowerConfigurationOf752x)
{
    BenchFixture bench(benchOf({portOf("KRV752A", "USB3")}));
    auto d = openDrive(bench.physicalDrive(1));
    // The page command asks 0x81 bytes into a 512-byte buffer.
    Answer page = send(*d, {0x12, 0x01, 0xC8, 0x00, 0x81, 0x00}, {}, 512, 60);
    ASSERT_TRUE(page.good());
    EXPECT_EQ(page.transferred, 0x81u);
    EXPECT_EQ(page.data[1], 0xC8);
    Answer config = send(*d, {0xE0, 0x00, 0x00, 0x5A, 0, 0}, {}, 128);
    EXPECT_TRUE(std::equal(page.data.begin() + 9, page.data.begin() + 29, config.data.begin() + 4))
        << "the factory serial is the USB serial";

    Bytes power(304, 0xFF);
    power[0] = 0x60;
    power[1] = 0x01;
    power[2] = power[3] = 0x00;
    power[4] = 0x01;
    std::initializer_list<uint8_t> cdb = {0xC3, 0x30, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x30, 0x00};
    EXPECT_TRUE(send(*d, cdb, power, 0, 60).good());
    EXPECT_EQ(bench.devices().state(1).stored.powerConfig, power);
    Bytes noHeader = power;
    noHeader[0] = 0;
    EXPECT_TRUE(send(*d, cdb, noHeader, 0, 60).checkCondition(kIllegalRequest, 0x26));
    EXPECT_TRUE(send(*d, cdb, Bytes(300, 0), 0, 60).checkCondition(kIllegalRequest, kInvalidField));
}

TEST(BenchBridge, PortsAnswerTheirWorkersInParallel)
{
    BenchFixture bench(4);
    std::vector<std::thread> workers;
    std::vector<int> failures(4, 0);
    for (int port = 1; port <= 4; ++port)
        workers.emplace_back([&bench, &failures, port] {
            auto d = openDrive(bench.physicalDrive(port));
            Bytes image(128, static_cast<uint8_t>(port));
            for (int i = 0; i < 50 && d; ++i) {
                failures[port - 1] += !readRegisters(*d, 0xC8FF, 1).good();
                failures[port - 1] += !writeConfig(*d, i % 2, 0, image).good();
                failures[port - 1] += readConfig(*d, i % 2, 0).data != image;
            }
            failures[port - 1] += !d;
        });
    for (auto& w : workers)
        w.join();
    for (int port = 1; port <= 4; ++port) {
        EXPECT_EQ(failures[port - 1], 0) << "port " << port;
        EXPECT_EQ(bench.devices().log(port).size(), 150u);
    }
}

}  // namespace
}  // namespace krv::test
