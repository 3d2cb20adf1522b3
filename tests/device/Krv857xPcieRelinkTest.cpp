// The byte-wise image commands and the CPU reset that waits for its bridge
// to come back, against the bench's PCIe fabric: which bridge is found again
// by which signature, how long the wait lasts, and that the other targets
// keep their numbers while one bridge is away.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/Krv857xPcieCtrl.h"
#include "platform/bench/BenchPcie.h"
#include "tests/device/DeviceBenchSupport.h"

namespace krv::test {
namespace {

constexpr int kPorts = 3;

bench::BenchSettings usb4Bench()
{
    bench::BenchSettings s;
    for (int i = 0; i < kPorts; ++i) {
        bench::PortSettings p;
        p.link = "USB4";
        s.ports.push_back(p);
    }
    return s;
}

bench::BenchKernelIo& benchIo() { return dynamic_cast<bench::BenchKernelIo&>(Platform::current().kernelIo()); }

struct PcieRelink : ::testing::Test {
    PcieRelink() : PcieRelink(usb4Bench()) {}
    explicit PcieRelink(bench::BenchSettings settings) : bench(std::move(settings))
    {
        EXPECT_EQ(ctrl.InitPcie(), 1);
        EXPECT_EQ(ctrl.nScanPcieTargets(0, 0), kPorts);
    }
    ~PcieRelink() override { ctrl.UnInitPcie(); }

    // Target t's USB4 image of `image` signed (relink byte, target number).
    void sign(uint8_t t, uint8_t ucImage, uint8_t ucRelink, uint8_t ucTarget)
    {
        uint8_t image[128];
        ASSERT_EQ(ctrl.pcie_AccessConfigEEPROM2(t, 0, image, 128, ucImage, 1), 0);
        image[124] = ucRelink;
        image[125] = ucTarget;
        ASSERT_EQ(ctrl.pcie_AccessConfigEEPROM2(t, 1, image, 128, ucImage, 1), 0);
    }
    uint8_t busOfPort(int port) { return *benchIo().fabric().upstreamBus(port); }
    uint64_t nowMs() { return bench.clock().monotonicMs(); }

    BenchFixture bench;
    CKrv857xPcieCtrl ctrl;
    DebugLevel level{4};
};

TEST_F(PcieRelink, ByteWiseCommandsCarryTheirBlockAndReachTheStoredImages)
{
    std::vector<uint8_t> config(128);
    for (size_t i = 0; i < config.size(); ++i)
        config[i] = uint8_t(0xA0 + i);
    std::vector<uint8_t> firmware(98016, 0x5C);
    std::vector<uint8_t> back(128, 0);
    const struct {
        const char* name;
        std::function<int()> call;
        std::vector<uint8_t> cdb;
    } cases[] = {
        {"config write image 1 USB4", [&] { return ctrl.pcie_AccessConfigEEPROM(1, 1, config.data(), 128, 1, 1); },
         {0xE1, 0x51, 0x01, 0, 0, 0, 0, 0}},
        {"config read image 1 USB4", [&] { return ctrl.pcie_AccessConfigEEPROM(1, 0, back.data(), 128, 1, 1); },
         {0xE0, 0x51, 0x01, 0, 0, 0, 0, 0}},
        {"firmware read 256", [&] { return ctrl.pcie_AccessFirmwareEEPROM(1, 0, back.data(), 128, 0); },
         {0xE2, 0x50, 0, 0, 0, 0x80, 0, 0}},
        {"firmware write 98016", [&] {
             return ctrl.pcie_AccessFirmwareEEPROM(1, 1, firmware.data(), uint32_t(firmware.size()), 0);
         },
         {0xE3, 0x50, 0x00, 0x01, 0x7E, 0xE0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), 0);
        const std::vector<bench::LogEntry> log = commandsOf(bench, 2);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().cdb, c.cdb);
    }
    EXPECT_EQ(bench.devices().state(2).stored.config[1][1], config);
    // A target past the list is refused before any mailbox is touched.
    EXPECT_EQ(ctrl.pcie_AccessConfigEEPROM(3, 0, back.data(), 128, 0, 0), pcie::kBadTarget);
    EXPECT_EQ(ctrl.pcie_AccessFirmwareEEPROM(3, 1, firmware.data(), 128, 0), pcie::kBadTarget);
}

// The reset bridge is not the first on the bus; the others carry the relink
// byte too but another target number. The wait ends on the first rescan
// after the bridge is back, and its number then addresses that bridge.
TEST_F(PcieRelink, TheResetBridgeIsFoundByItsOwnSignature)
{
    sign(0, 0, 3, 0);
    sign(1, 0, 3, 1);
    sign(2, 0, 3, 2);
    const uint64_t start = nowMs();
    EXPECT_EQ(ctrl.CPURST(1, 3, 0x50, 0, 0, 1, 0), 0);
    const uint64_t tookMs = nowMs() - start;
    EXPECT_GE(tookMs, bench.bench().settings().ports[1].relinkMs);
    EXPECT_LE(tookMs, bench.bench().settings().ports[1].relinkMs + 2 * 1500 + 1000);
    for (int port = 1; port <= kPorts; ++port) {
        int resets = 0;
        for (const bench::LogEntry& e : commandsOf(bench, port))
            resets += !e.cdb.empty() && e.cdb[0] == 0xE8;
        EXPECT_EQ(resets, port == 2 ? 1 : 0) << port;
    }
    EXPECT_TRUE(bench.capture().contains("found device BDF:" + std::to_string(busOfPort(2)) + ",0,0"))
        << bench.capture().joined();
    EXPECT_EQ(ctrl.targetAddress(1).ucBus, busOfPort(2));
    EXPECT_EQ(ctrl.targetInfo(1).m_ucU4Config[125], 1);
}

TEST_F(PcieRelink, ASignatureOfAnotherTargetIsNoMatchAndTheWaitEndsAfterAMinute)
{
    const struct {
        const char* name;
        uint8_t image;  // which image carries the signature, and is read
        uint8_t target;
    } cases[] = {{"image 0, slot 2", 0, 2}, {"image 1, slot 2", 1, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sign(0, c.image, 3, c.target);
        bench.capture().clear();
        const uint64_t start = nowMs();
        EXPECT_EQ(ctrl.CPURST(0, 3, 0x50, 0, 0, c.image == 0, c.image == 1), pcie::kNoAnswer);
        const uint64_t tookMs = nowMs() - start;
        EXPECT_GT(tookMs, 61'500u);
        EXPECT_LT(tookMs, 66'000u);
        EXPECT_TRUE(bench.capture().contains("relink time out:6")) << bench.capture().joined();
        // It is still the first target: back on the bus and in the list.
        EXPECT_EQ(ctrl.targetAddress(0).ucBus, busOfPort(1));
    }
}

// With neither image read the cleared buffer is compared: only relink byte
// 0 and target 0 match it.
TEST_F(PcieRelink, WithoutAnImageReadOnlyTheZeroSignatureMatches)
{
    EXPECT_EQ(ctrl.CPURST(0, 0, 0x50, 0, 0, 0, 0), 0);
    const uint64_t start = nowMs();
    EXPECT_EQ(ctrl.CPURST(1, 2, 0x50, 0, 0, 0, 0), pcie::kNoAnswer);
    EXPECT_GT(nowMs() - start, 60'000u);
}

// A bridge that never comes back: the wait gives up, and the targets after
// it keep their numbers, as the ports working on them expect, though a fresh
// scan would number them anew.
TEST_F(PcieRelink, WhileABridgeIsAwayTheOthersKeepTheirNumbers)
{
    addFault(bench, 1, bench::FaultKind::NoReturn, {0xE8, 0x50});
    sign(0, 0, 3, 0);
    EXPECT_EQ(ctrl.CPURST(0, 3, 0x50, 0, 0, 1, 0), pcie::kNoAnswer);
    EXPECT_EQ(ctrl.ucTargetCount(), kPorts);
    EXPECT_EQ(ctrl.targetAddress(1).ucBus, busOfPort(2));
    EXPECT_EQ(ctrl.targetAddress(2).ucBus, busOfPort(3));
    uint8_t fw[6] = {};
    EXPECT_EQ(ctrl.pcie_AccessRegister(2, 0, 0x7F0, fw, 6), 0);
    EXPECT_EQ(commandsOf(bench, 3).back().cdb[0], 0xE4);
}

// A bridge that refuses its reset stays on the bus and runs its old
// firmware, yet its EEPROM already holds the signature: it is never taken
// for one that came back.
TEST_F(PcieRelink, ARefusedResetIsNeverARelink)
{
    addFault(bench, 1, bench::FaultKind::Fail, {0xE8, 0x50});
    sign(0, 0, 3, 0);
    bench.capture().clear();
    EXPECT_EQ(ctrl.CPURST(0, 3, 0x50, 0, 0, 1, 0), pcie::kNoAnswer);
    EXPECT_TRUE(bench.capture().contains("target:0 never left the bus")) << bench.capture().joined();
    EXPECT_FALSE(bench.capture().contains("found device")) << bench.capture().joined();
}

// Bridges that leave the bus only some time after their reset: a rescan
// while they are still there sees the signature their EEPROM holds, but
// only the bridge back from its restart ends the wait.
bench::BenchSettings lateLeavingBench()
{
    bench::BenchSettings s = usb4Bench();
    for (bench::PortSettings& p : s.ports) {
        p.dropMs = 2500;
        p.relinkMs = 4000;
    }
    return s;
}

struct PcieLateLeave : PcieRelink {
    PcieLateLeave() : PcieRelink(lateLeavingBench()) {}
};

TEST_F(PcieLateLeave, TheWaitEndsOnlyOnceTheBridgeLeftAndCameBack)
{
    const struct {
        const char* name;
        uint8_t image;
    } cases[] = {{"image 0", 0}, {"image 1", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sign(1, c.image, 3, 1);
        bench.capture().clear();
        const uint64_t start = nowMs();
        EXPECT_EQ(ctrl.CPURST(1, 3, 0x50, 0, 0, c.image == 0, c.image == 1), 0);
        EXPECT_GE(nowMs() - start, 4000u);
        EXPECT_TRUE(bench.capture().contains("target:1 left the bus")) << bench.capture().joined();
        // Back from the restart: it runs what its EEPROM holds.
        EXPECT_EQ(ctrl.targetInfo(1).m_ucU4Config[125], 1);
    }
}

// The production worker's check of the same: the reset bridge's old place
// reads absent once it has left; a refusing one is still there at the end.
TEST_F(PcieLateLeave, LeavingTheBusIsSeenAtTheTargetsOldPlace)
{
    addFault(bench, 1, bench::FaultKind::Fail, {0xE8, 0x50});
    const PcieTargetAddress refused = ctrl.targetAddress(0);
    const PcieTargetAddress taken = ctrl.targetAddress(2);
    EXPECT_EQ(ctrl.pcie_CPURST(0, 0x50), 0);
    EXPECT_EQ(ctrl.pcie_CPURST(2, 0x50), 0);
    const uint64_t start = nowMs();
    EXPECT_FALSE(ctrl.bWaitLeftBus(taken, 1000)) << "still there before it drops";
    EXPECT_TRUE(ctrl.bWaitLeftBus(taken, 10'000));
    EXPECT_GE(nowMs() - start, 2500u);
    EXPECT_LT(nowMs() - start, 2600u);
    EXPECT_FALSE(ctrl.bWaitLeftBus(refused, 10'000));
    EXPECT_GE(nowMs() - start, 12'500u);
}

}  // namespace
}  // namespace krv::test
