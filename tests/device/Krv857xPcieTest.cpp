// The PCIe side object against the bench: discovery through the kernel I/O
// driver and ECAM, the mailbox commands, and what the bridges' faults make
// of them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "device/KrvnUSBDevHandle.h"
#include "platform/bench/BenchPcie.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/support/FirmwareFile.h"

namespace krv::test {
namespace {

using bench::FaultKind;

// USB 3, USB4 (PCIe tunnel), TBT3, USB4 with a USB 3 tunnel, USB4 again.
bench::BenchSettings mixedBench()
{
    bench::BenchSettings s;
    for (const char* link : {"USB3", "USB4", "TBT3", "USB4-U3", "USB4"}) {
        bench::PortSettings p;
        p.link = link;
        s.ports.push_back(p);
    }
    return s;
}

bench::BenchKernelIo& benchIo() { return dynamic_cast<bench::BenchKernelIo&>(Platform::current().kernelIo()); }

struct PcieBench : ::testing::Test {
    PcieBench() : bench(mixedBench()) {}
    ~PcieBench() override { ctrl.UnInitPcie(); }
    void init()
    {
        ASSERT_EQ(ctrl.InitPcie(), 1);
        ASSERT_EQ(ctrl.nScanPcieTargets(0, 0), 3);
    }
    // The commands the bridge of `port` received through its mailbox.
    std::vector<bench::LogEntry> mailbox(int port) { return commandsOf(bench, port); }

    BenchFixture bench;
    CKrv857xPcieCtrl ctrl;
    DebugLevel level{4};
};

TEST_F(PcieBench, FindsTheTunnelledBridgesInBusOrderWithTheirState)
{
    init();
    const int ports[] = {2, 3, 5};
    for (uint8_t t = 0; t < 3; ++t) {
        SCOPED_TRACE(t);
        const int port = ports[t];
        EXPECT_EQ(ctrl.targetAddress(t).ucBus, *benchIo().fabric().upstreamBus(port));
        const PcieTargetInfo& info = ctrl.targetInfo(t);
        for (uint32_t i = 0; i < 6; ++i)
            EXPECT_EQ(info.m_ucFWVersion[i], bench.devices().registerValue(port, 0x7F0 + i));
        bench::PortState state = bench.devices().state(port);
        EXPECT_EQ(0, std::memcmp(info.m_ucUSBConfig, state.stored.config[0][0].data(), 128));
        EXPECT_EQ(0, std::memcmp(info.m_ucU4Config, state.stored.config[0][1].data(), 128));
        EXPECT_EQ(0, std::memcmp(info.m_ucSerialNumber, state.stored.config[0][0].data() + 4, 20));
        EXPECT_EQ(info.m_wVID, 0x2C4B);
        EXPECT_EQ(info.m_wPID, 0x8574);
        EXPECT_EQ(info.m_ucCCOrientation, bench.devices().registerValue(port, 0xE302) >> 6);
        EXPECT_EQ(info.m_ucPDType, (bench.devices().registerValue(port, 0xE795) >> 1) & 1);
        EXPECT_EQ(info.m_ucLaneStatus[0], 0xFF);
    }
    // USB4 with a PCIe tunnel and Thunderbolt 3 tell their modes apart; both run Gen3 x2.
    EXPECT_EQ(ctrl.targetInfo(0).m_ucU4Mode, 2);
    EXPECT_EQ(ctrl.targetInfo(1).m_ucU4Mode, 1);
    EXPECT_EQ(ctrl.targetInfo(0).m_ucLinkSpeed, 7);
    // The USB-linked bridges never saw a mailbox command.
    for (int port : {1, 4})
        for (const bench::LogEntry& e : mailbox(port))
            EXPECT_EQ(e.note.find("mailbox"), std::string::npos);
}

TEST_F(PcieBench, RefusesATargetIndexAtOrPastTheCount)
{
    uint8_t buf[128] = {};
    const uint8_t cdb[8] = {0xE4, 1, 0x50, 0x07, 0xF0, 0, 0, 0};
    // Before any scan the list is empty: index 0 is the cleared slot, not a target.
    EXPECT_EQ(ctrl.pcie_R(0, cdb, buf, 1), pcie::kBadTarget);
    init();
    const size_t before = mailbox(2).size() + mailbox(3).size() + mailbox(5).size();
    for (uint8_t t : {uint8_t(3), uint8_t(15), uint8_t(16), uint8_t(255)}) {
        SCOPED_TRACE(int(t));
        EXPECT_EQ(ctrl.pcie_R(t, cdb, buf, 1), pcie::kBadTarget);
        EXPECT_EQ(ctrl.pcie_Rdw(t, cdb, buf, 4), pcie::kBadTarget);
        EXPECT_EQ(ctrl.pcie_W(t, cdb, buf, 1), pcie::kBadTarget);
        EXPECT_EQ(ctrl.pcie_Wdw(t, cdb, buf, 4), pcie::kBadTarget);
        EXPECT_EQ(ctrl.pcie_CPURST(t, 0x50), pcie::kBadTarget);
        uint8_t pd = 7;
        uint32_t count = 7;
        EXPECT_EQ(ctrl.nGet8574PDType(t, &pd), pcie::kBadTarget);
        EXPECT_EQ(ctrl.nGet8574PCIeErrorRecoveryCount(t, &count), pcie::kBadTarget);
        EXPECT_EQ(pd, 7);
    }
    EXPECT_EQ(mailbox(2).size() + mailbox(3).size() + mailbox(5).size(), before);
    EXPECT_TRUE(bench.capture().contains("target:3 > host:3"));
}

TEST_F(PcieBench, PutsEachCommandBlockOnTheMailbox)
{
    init();
    std::vector<uint8_t> buf(256, 0);
    struct Case {
        const char* name;
        std::function<int()> call;
        std::vector<uint8_t> cdb;
    } cases[] = {
        {"register read 6 at 0x7F0", [&] { return ctrl.pcie_AccessRegister(0, 0, 0x7F0, buf.data(), 6); },
         {0xE4, 0x06, 0x50, 0x07, 0xF0, 0, 0, 0}},
        {"register read at 0x2601A", [&] { return ctrl.pcie_AccessRegister(0, 0, 0x2601A, buf.data(), 1); },
         {0xE4, 0x01, 0x51, 0x60, 0x1A, 0, 0, 0}},
        {"register write", [&] { buf[0] = 0x3C; return ctrl.pcie_AccessRegister(0, 1, 0xE302, buf.data(), 1); },
         {0xE5, 0x3C, 0x50, 0xE3, 0x02, 0, 0, 0}},
        {"config read image 1 USB4", [&] { return ctrl.pcie_AccessConfigEEPROM2(0, 0, buf.data(), 128, 1, 1); },
         {0xE0, 0x51, 0x01, 0, 0, 0, 0, 0}},
        {"firmware read 256", [&] { return ctrl.pcie_AccessFirmwareEEPROM2(0, 0, buf.data(), 256, 0); },
         {0xE2, 0x50, 0, 0, 0x01, 0x00, 0, 0}},
        {"error recovery count", [&] { uint32_t n = 0; return ctrl.nGet8574PCIeErrorRecoveryCount(0, &n); },
         {0xE4, 0x01, 0x51, 0x60, 0x1A, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), 0);
        ASSERT_FALSE(mailbox(2).empty());
        EXPECT_EQ(mailbox(2).back().cdb, c.cdb);
        EXPECT_EQ(mailbox(2).back().result, bench::LogEntry::Result::Good);
    }
    EXPECT_EQ(bench.devices().state(2).running.registerWrites.at(0xE302), 0x3C);
}

// Configuration and firmware written through the mailbox land in the
// bridge's EEPROMs as the same bytes the USB path stores.
TEST_F(PcieBench, WritesTheSameStoredImagesAsTheUsbPath)
{
    init();
    std::vector<uint8_t> config(128);
    for (size_t i = 0; i < config.size(); ++i)
        config[i] = uint8_t(i * 3 + 1);
    std::string file = firmwareFile({0x26, 0x12, 0x11, 0x01, 0x02, 0x03});
    std::vector<uint8_t> firmware(file.begin(), file.end());

    ASSERT_EQ(ctrl.pcie_AccessConfigEEPROM2(0, 1, config.data(), 128, 0, 0), 0);
    ASSERT_EQ(ctrl.pcie_AccessFirmwareEEPROM2(0, 1, firmware.data(), uint32_t(firmware.size()), 1), 0);
    // 98016 bytes: 765 full chunks and one of 96, one command on the bridge.
    EXPECT_EQ(mailbox(2).back().cdb, (std::vector<uint8_t>{0xE3, 0x51, 0, 0x01, 0x7E, 0xE0, 0, 0}));

    CDriveHandle usb(CreateDriveHandle(DriveKind::PhysicalDrive, bench.physicalDrive(1)));
    ASSERT_TRUE(usb.bIsValid());
    ASSERT_EQ(CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(usb.get(), 1, config.data(), 128, 0, 0), 0);
    ASSERT_EQ(CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(usb.get(), 1, firmware.data(), 65280, 1, 0), 0);
    bench.clock().sleepMs(1000);  // the bridge programs its flash
    ASSERT_EQ(CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(usb.get(), 1, firmware.data() + 65280, 32736, 1, 1),
              0);

    bench::PortState overPcie = bench.devices().state(2), overUsb = bench.devices().state(1);
    EXPECT_EQ(overPcie.stored.config[0][0], overUsb.stored.config[0][0]);
    EXPECT_EQ(overPcie.stored.firmware[1], overUsb.stored.firmware[1]);
    EXPECT_EQ(overPcie.stored.activeBank, overUsb.stored.activeBank);

    bench.clock().sleepMs(1000);
    std::vector<uint8_t> back(firmware.size());
    ASSERT_EQ(ctrl.pcie_AccessFirmwareEEPROM2(0, 0, back.data(), uint32_t(back.size()), 1), 0);
    EXPECT_EQ(back, firmware);
}

TEST_F(PcieBench, CpuResetReturnsAtOnceAndTheFunctionComesBack)
{
    init();
    EXPECT_EQ(ctrl.pcie_CPURST(1, 0x50), 0);
    EXPECT_EQ(mailbox(3).back().cdb, (std::vector<uint8_t>{0xE8, 0x50, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(bench.capture().contains("CPU reset skip polling"));
    EXPECT_EQ(ctrl.nScanPcieTargets(0, 0), 2);  // away while it resets
    bench.clock().sleepMs(bench.bench().settings().ports[2].relinkMs + 100);
    EXPECT_EQ(ctrl.nScanPcieTargets(0, 0), 3);
}

// Each fault fails its own target, within the routine's poll limit.
TEST_F(PcieBench, AnUnansweredOrWrongDoorbellIsATimeOut)
{
    init();
    struct Case {
        const char* name;
        FaultKind kind;
        std::vector<uint8_t> prefix;
        std::function<int()> call;
        const char* line;
        uint64_t maxMs;
    };
    std::vector<uint8_t> buf(128, 0);
    const Case cases[] = {
        {"config read never answered", FaultKind::Timeout, {0xE0},
         [&] { return ctrl.pcie_AccessConfigEEPROM2(0, 0, buf.data(), 128, 0, 0); }, "polling limit:50000", 6000},
        {"config write answered wrongly", FaultKind::Fail, {0xE1},
         [&] { return ctrl.pcie_AccessConfigEEPROM2(0, 1, buf.data(), 128, 0, 0); }, "polling limit:5000", 1000},
        {"register read never answered", FaultKind::Timeout, {0xE4},
         [&] { return ctrl.pcie_AccessRegister(0, 0, 0x7F0, buf.data(), 6); }, "time out:500", 1000},
        {"register write refused", FaultKind::Check, {0xE5},
         [&] { return ctrl.pcie_AccessRegister(0, 1, 0x7F0, buf.data(), 1); }, "time out:300", 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bench.capture().clear();
        addFault(bench, 2, c.kind, c.prefix);
        const uint64_t start = bench.clock().monotonicMs();
        EXPECT_EQ(c.call(), pcie::kNoAnswer);
        EXPECT_LE(bench.clock().monotonicMs() - start, c.maxMs);
        EXPECT_TRUE(bench.capture().contains(c.line)) << bench.capture().joined();
        if (c.prefix[0] == 0xE1) {
            EXPECT_TRUE(bench.capture().contains("ucTargetNumber:0, bWriteRead:1, dwBufLen:128, ucImage:0, ucConfigType:0"));
        }
        // The other targets are untouched and the next command goes through.
        EXPECT_EQ(ctrl.pcie_AccessRegister(1, 0, 0x7F0, buf.data(), 6), 0);
        EXPECT_EQ(c.call(), 0);
    }
}

TEST_F(PcieBench, AFunctionThatNeverComesBackFromResetIsGone)
{
    init();
    addFault(bench, 5, FaultKind::NoReturn, {0xE8, 0x50});
    EXPECT_EQ(ctrl.pcie_CPURST(2, 0x50), 0);
    bench.clock().sleepMs(60'000);
    EXPECT_EQ(ctrl.nScanPcieTargets(0, 0), 2);
    EXPECT_EQ(ctrl.targetAddress(1).ucBus, *benchIo().fabric().upstreamBus(3));
}

// A requested pair of all ones matches every absent function of a
// multi-function device; its all-ones capability list must not hold the scan.
TEST_F(PcieBench, AnAllOnesFunctionEndsTheCapabilityWalk)
{
    ASSERT_EQ(ctrl.InitPcie(), 1);
    EXPECT_EQ(ctrl.nScanPcieTargets(0xFFFF, 0xFFFF), 3);
}

TEST_F(PcieBench, KeepsA64BitEcamBaseWholeAndNeverCutsIt)
{
    const struct {
        const char* name;
        uint64_t base;
        uint8_t bus;  // a bus whose window the base puts out of reach
    } cases[] = {
        // The cut address would be 0xE0000000.
        {"above 4 GiB", 0x1E0000000ull, 2},
        // Bus 1's window would wrap round to physical address 0.
        {"near the top of the address space", 0xFFFFFFFFFFF00000ull, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        benchIo().fabric().setEcamBase(c.base);
        ASSERT_EQ(ctrl.InitPcie(), 1);
        EXPECT_EQ(ctrl.mcfgAllocation(0).ullBaseAddress, c.base);
        // Out of the driver's 32-bit reach: no request at all.
        const uint64_t calls = benchIo().controlCalls();
        EXPECT_EQ(ctrl.nScanPcieTargets(0, 0), 0);
        EXPECT_EQ(ctrl.ucConfigReadByte(c.bus, 0, 0, 0), 0xFF);
        ctrl.vConfigWriteByte(c.bus, 0, 0, 0x790, 0x5A);
        EXPECT_EQ(benchIo().controlCalls(), calls);
    }
}

// The register block carries its length in one byte, 0 standing for 256:
// lengths it cannot carry are refused before any mailbox byte is written.
TEST_F(PcieBench, ARegisterTransferCarriesOneTo256Bytes)
{
    init();
    std::vector<uint8_t> buf(300, 0);
    const size_t before = mailbox(2).size();
    const struct {
        const char* name;
        uint8_t write;
        uint8_t* data;
        uint32_t length;
    } refused[] = {
        {"read of 0", 0, buf.data(), 0},
        {"write of 0", 1, buf.data(), 0},
        {"write of 0 with no buffer", 1, nullptr, 0},
        {"read with no buffer", 0, nullptr, 6},
        {"read of 257", 0, buf.data(), 257},
        {"write of 257", 1, buf.data(), 257},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        const uint64_t calls = benchIo().controlCalls();
        EXPECT_EQ(ctrl.pcie_AccessRegister(0, c.write, 0x7F0, c.data, c.length), pcie::kBadTarget);
        EXPECT_EQ(benchIo().controlCalls(), calls);
    }
    EXPECT_EQ(mailbox(2).size(), before);
    // 256 goes out as 0, which the bridge reads as 256: all of them arrive.
    std::fill(buf.begin(), buf.end(), 0xEE);
    EXPECT_EQ(ctrl.pcie_AccessRegister(0, 0, 0x7F0, buf.data(), 256), 0);
    EXPECT_EQ(mailbox(2).back().cdb, (std::vector<uint8_t>{0xE4, 0x00, 0x50, 0x07, 0xF0, 0, 0, 0}));
    EXPECT_EQ(mailbox(2).back().dataLength, 256u);
    EXPECT_NE(std::vector<uint8_t>(buf.begin(), buf.begin() + 6), std::vector<uint8_t>(6, 0xEE));
    EXPECT_EQ(buf[256], 0xEE);
}

TEST(PcieHost, WithoutTheDriverNothingIsFound)
{
    TestPlatform platform;  // the host backend: no kernel I/O driver, no firmware table
    DebugLevel level{1};
    CKrv857xPcieCtrl ctrl;
    EXPECT_EQ(ctrl.InitPcie(), 0);
    EXPECT_TRUE(platform.capture().contains("CKrv857xPcieCtrl::InitPcie") &&
                platform.capture().contains("load krvio driver fail"));
    EXPECT_EQ(ctrl.nScanPcieTargets(0, 0), 0);
}

}  // namespace
}  // namespace krv::test
