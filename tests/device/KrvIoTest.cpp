// The kernel I/O driver access library against the bench's KrvIo driver.
#include <gtest/gtest.h>

#include "driver_io/KrvIo.h"
#include "platform/bench/BenchPcie.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

struct KrvIo : ::testing::Test {
    ~KrvIo() override { UnloadKrvIODriver(); }
    bench::BenchKernelIo& io() { return dynamic_cast<bench::BenchKernelIo&>(Platform::current().kernelIo()); }
    BenchFixture bench{1, "KRV8574", "USB4"};
};

TEST_F(KrvIo, LoadReplacesAStaleServiceAndUnloadLeavesNone)
{
    ASSERT_TRUE(io().createService("KRVIO", "/old/place/krvio.sys"));
    ASSERT_TRUE(io().startService("KRVIO"));
    EXPECT_EQ(LoadKrvIODriver(), 1);
    EXPECT_EQ(io().serviceCount(), 1u);
    EXPECT_EQ(SET_DEBUG_LEVEL(2), 0);
    EXPECT_EQ(UnloadKrvIODriver(), 1);
    EXPECT_EQ(io().serviceCount(), 0u);
    EXPECT_EQ(UnloadKrvIODriver(), 0);  // nothing left to delete
}

TEST_F(KrvIo, RequestsOnAClosedDeviceFailWithoutARequest)
{
    const uint64_t calls = io().controlCalls();
    uint8_t dest[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(ReadMEM(0xE0000000, 4, dest), -2);
    EXPECT_EQ(dest[0] | dest[1] | dest[2] | dest[3], 0);
    EXPECT_EQ(MapKrvIO(0xE0000000, 4096), 0u);
    EXPECT_EQ(UnmapKrvIO(0xE0000000, 4096), -1);
    EXPECT_EQ(WriteMEM(0xE0000000, 1, dest), -2);
    EXPECT_EQ(SET_DEBUG_LEVEL(0), -2);
    EXPECT_EQ(ReadPortLong(0xCF8), 0u);
    EXPECT_EQ(WritePortLong(0xCF8, 0x80000000), 0);
    EXPECT_EQ(io().controlCalls(), calls);
}

TEST_F(KrvIo, MemoryAndLegacyConfigurationReachTheSameFunctions)
{
    ASSERT_EQ(LoadKrvIODriver(), 1);
    // The host bridge at 00:00.0 through ECAM and through the port pair.
    uint32_t mapped = MapKrvIO(0xE0000000, 4096);
    ASSERT_EQ(mapped, 0xE0000000u);
    uint8_t id[4] = {};
    ASSERT_EQ(ReadMEM(mapped, 4, id), 0);
    EXPECT_EQ(PCI_Read_DWORD(0, 0, 0, 0), uint32_t(id[0] | id[1] << 8 | id[2] << 16 | id[3] << 24));
    EXPECT_EQ(UnmapKrvIO(mapped, 4096), 1);
    // Outside any window the driver refuses and the caller gets zeros.
    id[0] = 0xAA;
    EXPECT_EQ(ReadMEM(0x1000, 1, id), -2);
    EXPECT_EQ(id[0], 0);

    PCI_Read_BYTE(0, 31, 7, 0x13);
    EXPECT_EQ(ReadPortLong(0xCF8), 0x8000FF10u);
}

TEST_F(KrvIo, MailboxWaitsEndOnAbsenceAndOnTime)
{
    ASSERT_EQ(LoadKrvIODriver(), 1);
    const uint64_t start = bench.clock().monotonicMs();
    EXPECT_EQ(Wait_Read_Ready(200, 0, 0), -2);  // nobody there: after 11 reads, at once
    EXPECT_EQ(bench.clock().monotonicMs(), start);
    EXPECT_EQ(Wait_Write_Ready(0, 0, 0), 0);
    EXPECT_EQ(Wait_Read_Ready(0, 0, 0), -1);  // a function that never has a reply
    EXPECT_GE(bench.clock().monotonicMs() - start, 4000u);
    EXPECT_LE(bench.clock().monotonicMs() - start, 4100u);
    const uint64_t calls = io().controlCalls();
    uint8_t dest[9];
    EXPECT_EQ(KRVIO_Read_Memory(0, 0, 0, 0, 9, 0, 0, 0, dest), -4);
    EXPECT_EQ(io().controlCalls(), calls);
}

}  // namespace
}  // namespace krv::test
