// The ITE PD controller's flash update through the bridge's I2C tunnel, on a
// bench controller: the whole sequence leaves the flash equal to the file
// and the controller running it; a step that fails ends the update there; a
// file that cannot be right is refused before the controller is touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device/KrvnUSBDev.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/device/DiscoveryBenchSupport.h"

namespace krv::test {
namespace {

using Bytes = std::vector<uint8_t>;

class IteBench : public ::testing::Test {
protected:
    IteBench() : bench(settings()), table(bench, dev) {}

    static bench::BenchSettings settings()
    {
        bench::BenchSettings s = benchOf({{"KRV8574", "USB3"}});
        s.ports[0].pd = bench::PdChip::Ite;
        return s;
    }
    std::string file(const Bytes& bytes)
    {
        const std::string path = dir.file("ite.bin");
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    // The controller's flash as the bench keeps it.
    Bytes flash()
    {
        bench.reopen();
        refresh();
        std::ifstream in(bench.portFolder(1) + "/pd-flash.bin", std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    // The slot follows the drive after it came back.
    void refresh() { table.list.Devs[0].m_ucPhysicalAddress = static_cast<uint8_t>(bench.physicalDrive(1)); }
    size_t tunnelCommands()
    {
        size_t n = 0;
        for (const bench::LogEntry& e : commandsOf(bench, 1))
            n += !e.cdb.empty() && e.cdb[0] == 0xEE;
        return n;
    }

    TempDir dir;
    BenchFixture bench;
    CKrvnUSBDev dev;
    DeviceTable table;
    DebugLevel level;
};

Bytes firmware(size_t size)
{
    Bytes image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(0xA0 ^ (i * 13));
    if (size > 0x51) {
        image[0x50] = 0x34;   // the version the firmware reports
        image[0x51] = 0x12;
    }
    return image;
}

TEST_F(IteBench, AnUpdateLeavesTheFlashEqualToTheFileAndRunsIt)
{
    // 300 bytes: a page of 256 and one of 44.
    const Bytes image = firmware(300);
    uint16_t version = 0;
    ASSERT_EQ(dev.iITE_PD_FWUpdate(0, file(image), version), 0) << bench.capture().joined();
    EXPECT_EQ(version, 0x1234);
    for (const char* step : {"get FW before update: 0x1,0x0", "stop cpu end", "get chip id: 0x52,0x54,0x0,0x0",
                             "enter test mode end", "erase all end", "verify erase all end", "program end",
                             "verify program end", "program signature end", "exit test mode end", "WDT reset end",
                             "get FW after update: 0x34,0x12"})
        EXPECT_TRUE(bench.capture().contains(step)) << step;
    Bytes expected(65536, 0xFF);
    std::copy(image.begin(), image.end(), expected.begin());
    EXPECT_EQ(flash(), expected);
}

TEST_F(IteBench, AFailedStepEndsTheUpdate)
{
    const Bytes image = firmware(600);
    uint16_t version = 0;
    // A read-back that differs: the signature is never written, so the
    // controller would not run the half-checked image.
    addFault(bench, 1, bench::FaultKind::Corrupt, {0xEE, 0x02, 0x00, 0x00}, 1, 258);
    EXPECT_EQ(dev.iITE_PD_FWUpdate(0, file(image), version), -1);
    EXPECT_TRUE(bench.capture().contains("chk fail"));
    EXPECT_TRUE(bench.capture().contains("verify program fail"));
    EXPECT_FALSE(bench.capture().contains("program signature end"));
    Bytes flashed = flash();
    EXPECT_EQ(Bytes(flashed.begin() + 64, flashed.begin() + 80), Bytes(16, 0xFF));
    // Unsigned, the image does not run after a power cycle.
    EXPECT_EQ(dev.iITE_PD_FWUpdate(0, file(image), version), -1);
    EXPECT_TRUE(bench.capture().contains("get FW fail"));
}

TEST_F(IteBench, AFailedWriteEndsTheUpdate)
{
    const Bytes image = firmware(600);
    uint16_t version = 0;
    addFault(bench, 1, bench::FaultKind::Fail, {0xEE, 0x01, 0x00, 0x00, 0x00}, 1, 1);
    EXPECT_EQ(dev.iITE_PD_FWUpdate(0, file(image), version), -1);
    EXPECT_TRUE(bench.capture().contains("program: fail"));
    EXPECT_TRUE(bench.capture().contains("program fail, err:-1"));
}

// What the controller did not take fails the update, however well the
// command went: a signature stored one byte wrong (it would run half
// signed), a refused write enable or flash address before a page. A step
// that fails in test mode still leaves test mode.
TEST_F(IteBench, WhatTheFlashDidNotTakeFailsTheUpdateAndTestModeIsLeft)
{
    struct Case {
        const char* name;
        bench::FaultKind kind;
        std::vector<uint8_t> prefix;
        uint32_t after;
        const char* logged;
    } cases[] = {
        // 600 bytes: three page bursts, then the signature's.
        {"signature stored wrong", bench::FaultKind::CorruptStore, {0xEE, 0x01, 0x00, 0x00, 0x00}, 3, "sig chk fail"},
        // The erase's write enable, then the first page's.
        {"write enable refused", bench::FaultKind::Fail, {0xEE, 0x01, 0x02, 0xFF, 0xFE, 0x04}, 1,
         "write enable or address: fail"},
        // The verify-erase's 256 addresses, then the second page's.
        {"page address refused", bench::FaultKind::Fail, {0xEE, 0x01, 0x03, 0xFF, 0xFA}, 257,
         "write enable or address: fail"},
        {"read-back differs", bench::FaultKind::Corrupt, {0xEE, 0x02, 0x00, 0x00}, 258, "verify program fail"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case starts from the factory flash, which runs.
        bench.close();
        std::filesystem::remove(bench.portFolder(1) + "/pd-flash.bin");
        bench.reopen();
        refresh();
        bench.capture().clear();
        const size_t seen = commandsOf(bench, 1).size();
        addFault(bench, 1, c.kind, c.prefix, 1, c.after);
        uint16_t version = 0;
        EXPECT_NE(dev.iITE_PD_FWUpdate(0, file(firmware(600)), version), 0);
        EXPECT_TRUE(bench.capture().contains(c.logged)) << bench.capture().joined();
        const std::vector<bench::LogEntry> commands = commandsOf(bench, 1);
        ASSERT_GT(commands.size(), seen);
        const Bytes leave{0xEE, 0x01, 0x02, 0xFF, 0xF8, 0x00, 0x00};
        EXPECT_EQ(Bytes(commands.back().cdb.begin(), commands.back().cdb.begin() + 7), leave)
            << "the last command leaves test mode";
    }
}

TEST_F(IteBench, AnEraseThatNeverEndsIsGivenUpOn)
{
    // The controller powers up in flash mode: its firmware does not answer.
    addFault(bench, 1, bench::FaultKind::Stuck);
    bench.unplug(1);
    bench.plug(1);
    refresh();
    uint16_t version = 0;
    EXPECT_EQ(dev.iITE_PD_FWUpdate(0, file(firmware(300)), version), -1);
    EXPECT_TRUE(bench.capture().contains("get FW fail"));

    // With its firmware running again, the erase stays busy.
    bench.unplug(1);
    bench.plug(1);
    refresh();
    bench.capture().clear();
    const uint64_t start = bench.clock().monotonicMs();
    addFault(bench, 1, bench::FaultKind::Stuck);
    EXPECT_EQ(dev.iITE_PD_FWUpdate(0, file(firmware(300)), version), -1);
    EXPECT_TRUE(bench.capture().contains("erase all fail")) << bench.capture().joined();
    EXPECT_LT(bench.clock().monotonicMs() - start, 20000u);
}

TEST_F(IteBench, FilesThatCannotBeRightAreRefusedBeforeAnythingIsSent)
{
    const Bytes before = flash();
    uint16_t version = 0;
    for (size_t size : {size_t{0}, size_t{79}, size_t{65537}}) {
        EXPECT_EQ(dev.iITE_PD_FWUpdate(0, file(firmware(size)), version), -1) << size;
    }
    EXPECT_EQ(dev.iITE_PD_FWUpdate(0, dir.file("missing.bin"), version), -1);
    EXPECT_EQ(tunnelCommands(), 0u);
    EXPECT_EQ(flash(), before);
}

TEST_F(IteBench, TunnelArgumentsAreCheckedBeforeSending)
{
    CDriveHandle hDev(CreateDriveHandle(DriveKind::PhysicalDrive, bench.physicalDrive(1)));
    uint8_t buf[300] = {};
    EXPECT_EQ(dev.iITE_PD_I2C(hDev.get(), 2, 0, 0xFFC0, nullptr, buf, 257), -10);
    EXPECT_EQ(dev.iITE_PD_I2C(hDev.get(), 1, 4, 0xFFF8, buf, nullptr, 0), -10);
    EXPECT_EQ(dev.iITE_PD_I2C(hDev.get(), 4, 0, 0xFFC0, nullptr, buf, 4), -10);
    EXPECT_EQ(dev.iITE_PD_I2C_stop(hDev.get(), 3, 0, 0xFE, nullptr, buf, 1), -10);
    EXPECT_EQ(dev.iITE_PD_I2C_Burst(hDev.get(), 1, 0, 0x0000, nullptr, buf, 257), -10);
    EXPECT_EQ(tunnelCommands(), 0u);
    EXPECT_EQ(dev.iITE_PD_I2C(hDev.get(), 2, 0, 0xFFC0, nullptr, buf, 4), 0);
    EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0x52, 0x54, 0x00, 0x00}));
}

TEST(ITEFlashAccess, ChipIdsChooseTheDataPortAndAddressing)
{
    struct Case {
        uint8_t id[3];
        uint16_t port;
        uint8_t bytes, shift;
    } cases[] = {
        {{0x52, 0x54, 0x00}, 0x0000, 3, 1}, {{0x52, 0x60, 0x00}, 0xFFF7, 3, 0},
        {{0x88, 0x53, 0x00}, 0xFFF7, 2, 0}, {{0x88, 0x53, 0x01}, 0x0000, 2, 0},
        {{0x88, 0x57, 0x00}, 0xFFF7, 3, 0}, {{0x88, 0x40, 0x05}, 0x0000, 3, 1},
        {{0x88, 0x40, 0x85}, 0x0000, 3, 1}, {{0x88, 0x40, 0x04}, 0x0000, 2, 0},
        {{0x11, 0x59, 0x00}, 0xDEBF, 3, 0}, {{0x11, 0x22, 0x33}, 0xDEBF, 3, 1},
    };
    for (const Case& c : cases) {
        uint16_t port = 0;
        uint8_t bytes = 0, shift = 0;
        vITEFlashAccessOfChip(c.id, port, bytes, shift);
        EXPECT_EQ(port, c.port) << std::hex << int(c.id[0]) << " " << int(c.id[1]) << " " << int(c.id[2]);
        EXPECT_EQ(bytes, c.bytes) << std::hex << int(c.id[0]) << " " << int(c.id[1]);
        EXPECT_EQ(shift, c.shift) << std::hex << int(c.id[0]) << " " << int(c.id[1]);
    }
}

}  // namespace
}  // namespace krv::test
