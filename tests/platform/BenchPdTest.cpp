// The PD controllers and the MCU behind the bench's bridges, driven by
// hand-built commands: flash written in flash mode is what the controller
// runs after a power cycle (not before), is kept in the port's folder, and a
// stuck controller stays in flash mode. Controllers answer only their own
// vendor's commands.
#include <gtest/gtest.h>

#include "platform/bench/Bench.h"
#include "tests/platform/BenchBridgeSupport.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

bench::BenchSettings onePort(bench::PdChip pd, bench::McuChip mcu = bench::McuChip::None)
{
    bench::BenchSettings settings;
    settings.ports.resize(1);
    settings.ports[0].pd = pd;
    settings.ports[0].mcu = mcu;
    settings.ports[0].relinkMs = 2000;
    return settings;
}

Answer pd(ScsiDevice& d, uint8_t sub, uint16_t value, uint16_t index, uint8_t b6, uint8_t b7, const Bytes& out = {},
          uint32_t in = 0)
{
    return send(d,
                {0xEC, sub, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value),
                 static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index), b6, b7},
                out, in, out.empty() && !in ? 60 : 3);
}

bool powerCycle(BenchFixture& fixture)
{
    bench::BenchCommand command;
    command.verb = "power-cycle";
    command.port = 1;
    std::string outcome;
    return fixture.bench().apply(command, outcome);
}

TEST(BenchPd, RichtekRunsWhatItWasGivenAfterAPowerCycle)
{
    BenchFixture fixture(onePort(bench::PdChip::Richtek));
    auto d = openDrive(fixture.physicalDrive(1));
    EXPECT_FALSE(pd(*d, 0x07, 0x1000, 0, 0, 0, {}, 16).good()) << "the bus is closed";
    ASSERT_TRUE(pd(*d, 0x04, 0, 0, 0, 0).good());
    Answer block = pd(*d, 0x07, 0x1000, 0, 0, 0, {}, 16);
    ASSERT_TRUE(block.good());
    EXPECT_EQ(block.data[0], 0x5A);
    EXPECT_EQ(block.data[1], 1);
    EXPECT_EQ(block.data[8], 0);
    EXPECT_EQ(pd(*d, 0x03, 0, 0, 0, 0, {}, 2).data, (Bytes{0x01, 0x00}));
    EXPECT_FALSE(pd(*d, 0x01, 0x0400, 0x5678, 0, 0).good()) << "writes need the MTP area";
    ASSERT_TRUE(pd(*d, 0x00, 0, 0x3FFF, 0, 0).good());
    ASSERT_TRUE(pd(*d, 0x01, 0x0400, 0x7856, 0x00, 0x00).good());  // word 0x400: bytes 0x1000..0x1003
    EXPECT_FALSE(pd(*d, 0x22, 0, 0, 0, 0).good()) << "a Cypress command";
    EXPECT_EQ(pd(*d, 0x06, 0x1000, 0x1000, 0, 4, {}, 4).data, (Bytes{0x78, 0x56, 0x00, 0x00}));

    ASSERT_TRUE(powerCycle(fixture));
    EXPECT_EQ(fixture.physicalDrive(1), -1) << "it left the bus";
    fixture.clock().sleepMs(2500);
    d = openDrive(fixture.physicalDrive(1));
    ASSERT_TRUE(d);
    ASSERT_TRUE(pd(*d, 0x04, 0, 0, 0, 0).good());
    EXPECT_EQ(pd(*d, 0x03, 0, 0, 0, 0, {}, 2).data, (Bytes{0x78, 0x56}));

    // Kept by the bench, and lost to nobody.
    fixture.reopen();
    d = openDrive(fixture.physicalDrive(1));
    ASSERT_TRUE(pd(*d, 0x04, 0, 0, 0, 0).good());
    EXPECT_EQ(pd(*d, 0x03, 0, 0, 0, 0, {}, 2).data, (Bytes{0x78, 0x56}));
}

TEST(BenchPd, Ccg3RowsAndBanksAndTheMcu)
{
    BenchFixture fixture(onePort(bench::PdChip::Ccg3, bench::McuChip::Stm));
    auto d = openDrive(fixture.physicalDrive(1));
    ASSERT_TRUE(pd(*d, 0x04, 0, 0, 0, 0).good());
    EXPECT_EQ(pd(*d, 0x29, 0x100, 0, 0, 0, {}, 1).data, Bytes{1});
    EXPECT_EQ(pd(*d, 0x07, 0x1000, 0, 0, 0, {}, 16).data[8], 1) << "an MCU";
    ASSERT_TRUE(pd(*d, 0x2D, 0, 0, 0, 0).good());
    // Bank 2 gets a newer image; rows are addressed by their number.
    Bytes first(128, 0x22), second(128, 0x33);
    std::fill(second.begin() + 96, second.begin() + 104, 0x09);
    ASSERT_TRUE(pd(*d, 0x2B, 0x200, 0, 0, 0, first).good());
    ASSERT_TRUE(pd(*d, 0x2B, 0x201, 0, 0, 0, second).good());
    EXPECT_EQ(pd(*d, 0x2A, 0x201, 0, 0, 0, {}, 128).data, second);
    EXPECT_FALSE(pd(*d, 0x2B, 0x400, 0, 0, 0, first).good()) << "past the flash";
    EXPECT_FALSE(pd(*d, 0x23, 0x200, 0, 0, 0, first).good()) << "a CCG2 command";

    ASSERT_TRUE(pd(*d, 0x32, 0, 0, 0, 0).good());
    Bytes piece = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_TRUE(pd(*d, 0x34, 0x0800, 0x0100, 12, 0, piece).good());
    EXPECT_EQ(pd(*d, 0x35, 0, 0x0100, 12, 0, {}, 12).data, piece);
    EXPECT_FALSE(pd(*d, 0x34, 0x0800, 0xBFF8, 12, 0, piece).good()) << "past the MCU's 48 KiB";

    ASSERT_TRUE(powerCycle(fixture));
    fixture.clock().sleepMs(2500);
    d = openDrive(fixture.physicalDrive(1));
    ASSERT_TRUE(pd(*d, 0x04, 0, 0, 0, 0).good());
    EXPECT_EQ(pd(*d, 0x29, 0x100, 0, 0, 0, {}, 1).data, Bytes{2}) << "runs the newer bank";
    Answer version = pd(*d, 0x2C, 0x1000, 0, 0, 0, {}, 16);
    EXPECT_EQ(Bytes(version.data.begin() + 8, version.data.end()), Bytes(8, 0x09));
    EXPECT_EQ(Bytes(version.data.begin(), version.data.begin() + 8), Bytes(8, 0x09));
}

TEST(BenchPd, AStuckControllerStaysInFlashMode)
{
    BenchFixture fixture(onePort(bench::PdChip::Cypress));
    bench::Fault stuck;
    stuck.kind = bench::FaultKind::Stuck;
    std::string outcome;
    ASSERT_TRUE(fixture.devices().addFault(1, stuck, outcome)) << outcome;
    ASSERT_TRUE(powerCycle(fixture));
    fixture.clock().sleepMs(2500);
    auto d = openDrive(fixture.physicalDrive(1));
    ASSERT_TRUE(pd(*d, 0x04, 0, 0, 0, 0).good());
    EXPECT_FALSE(pd(*d, 0x21, 0x1000, 0, 0, 0, {}, 16).good());
    // It still takes rows, and the next power cycle brings it back.
    EXPECT_TRUE(pd(*d, 0x23, 0x30, 0, 0, 0, Bytes(128, 0x44)).good());
    ASSERT_TRUE(powerCycle(fixture));
    fixture.clock().sleepMs(2500);
    d = openDrive(fixture.physicalDrive(1));
    ASSERT_TRUE(pd(*d, 0x04, 0, 0, 0, 0).good());
    EXPECT_TRUE(pd(*d, 0x21, 0x1000, 0, 0, 0, {}, 16).good());
}

TEST(BenchPd, ABridgeWithoutAControllerRefusesThePdCommands)
{
    BenchFixture fixture(onePort(bench::PdChip::None));
    auto d = openDrive(fixture.physicalDrive(1));
    EXPECT_TRUE(pd(*d, 0x04, 0, 0, 0, 0).checkCondition(5, 0x20));
    EXPECT_TRUE(send(*d, {0xEE, 0x02, 0xFF, 0xC0, 0x00, 0x00, 0x04, 0x00}, {}, 4).checkCondition(5, 0x20));
}

}  // namespace
}  // namespace krv::test
