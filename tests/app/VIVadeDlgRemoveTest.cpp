// The safe removal from the window: the button starts a thread that parks
// every USB drive of the table that has a bridge firmware version (flush,
// standby, disconnect), keeps scans away meanwhile and switches the controls
// back at its end. The bench runs on the virtual clock, so the drives' pauses
// cost no real time.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "device/KrvnUSBDev.h"
#include "platform/bench/BenchDevices.h"
#include "platform/bench/bridge/Faults.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

class RemoveFixture : public DlgFixture {
public:
    explicit RemoveFixture(int ports) : DlgFixture(ports)
    {
        g_UsbDev.m_pDevList = &dlg->m_DevList;
        // The flag as the removal thread leaves it at each pause.
        bench.clock().setOnAdvance([this](uint64_t) {
            bench.devices().poll();
            if (pUtility.m_bSafelyRemoving == 1)
                bFlagSeen = true;
        });
    }
    ~RemoveFixture()
    {
        bench.clock().setOnAdvance([this](uint64_t) { bench.devices().poll(); });
        g_UsbDev.m_pDevList = nullptr;
        pUtility.m_bSafelyRemoving = 0;
    }

    void scan() { ASSERT_EQ(g_UsbDev.Open(&dlg->m_DevList, "0", BRIDGE_TYPE_857X), 0); }
    int portOfSlot(int slot)
    {
        for (int port = 1; port <= static_cast<int>(bench.bench().settings().ports.size()); ++port)
            if (bench.physicalDrive(port) == dlg->m_DevList.Devs[slot].m_ucPhysicalAddress)
                return port;
        return -1;
    }
    // What parked the drive of `port`: the ATA commands (E7 flush, E0
    // standby) and the E8 codes, in order.
    std::vector<uint8_t> parking(int port)
    {
        std::vector<uint8_t> seen;
        for (const bench::LogEntry& e : bench.devices().log(port)) {
            if (e.kind != bench::LogEntry::Kind::Command)
                continue;
            if (e.cdb.size() == 12 && e.cdb[0] == 0xA1 && e.cdb[1] == 0x06)
                seen.push_back(e.cdb[9]);
            if (e.cdb[0] == 0xE8)
                seen.push_back(e.cdb[1]);
        }
        return seen;
    }
    void press() { dlg->sendCommand(IDC_BUTTON_SAFELY_REMOVE); }
    bool removalOver()
    {
        return runEventsUntil([this] { return dlg->m_pRemoveThread && !dlg->m_pRemoveThread->bIsRunning(); });
    }
    int linesWith(const std::string& text)
    {
        int n = 0;
        for (const std::string& line : bench.capture().lines())
            n += line.find(text) != std::string::npos;
        return n;
    }

    std::atomic<bool> bFlagSeen{false};
};

const std::vector<uint8_t> kParked = {0xE7, 0xE0, 0x51};

TEST(SafeRemoval, WithoutDevicesTheFlagClearsAndTheControlsComeBackAtOnce)
{
    RemoveFixture f(1);
    f.dlg->vSetUnlockedGUI();
    const uint64_t start = f.bench.clock().monotonicMs();
    f.press();
    EXPECT_FALSE(f.dlg->isControlEnabled(IDC_BUTTON_START)) << "the run controls are off while it works";
    EXPECT_FALSE(f.dlg->isControlEnabled(IDC_BUTTON_SAFELY_REMOVE));
    ASSERT_TRUE(f.removalOver());
    EXPECT_EQ(pUtility.m_bSafelyRemoving.load(), 0);
    EXPECT_TRUE(f.dlg->isControlEnabled(IDC_BUTTON_START));
    EXPECT_TRUE(f.dlg->isControlEnabled(IDC_BUTTON_SAFELY_REMOVE));
    EXPECT_EQ(f.bench.clock().monotonicMs(), start) << "no pause without a drive";
    EXPECT_TRUE(f.parking(1).empty());
}

TEST(SafeRemoval, ParksEachBridgeDriveAndPassesOverTheRest)
{
    RemoveFixture f(4);
    f.scan();
    ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 4);
    const int failing = f.portOfSlot(0), noFirmware = f.portOfSlot(1), parked = f.portOfSlot(2),
              pcie = f.portOfSlot(3);
    // Slot 1 holds a drive that is no bridge of this family; slot 3 stands
    // for a PCIe target, which follows the USB drives in the table.
    f.dlg->m_DevList.Devs[1].m_strFWVersion.clear();
    f.dlg->m_DevList.DevNums = 3;
    f.dlg->m_DevList.Devs[3].m_bPCIE = 1;
    bench::Fault fault;
    fault.cdbPrefix = {0xE8, 0x51};
    std::string outcome;
    ASSERT_TRUE(f.bench.devices().addFault(failing, fault, outcome)) << outcome;

    f.press();
    ASSERT_TRUE(f.removalOver());
    EXPECT_EQ(f.parking(failing), kParked) << "tried, and failed at the disconnect";
    EXPECT_EQ(f.linesWith("USBRemoveThreadFun: vSafeRemoveUSB Fail , [0] "), 1);
    EXPECT_TRUE(f.parking(noFirmware).empty());
    EXPECT_EQ(f.parking(parked), kParked) << "the drive after a failed one is still parked";
    EXPECT_TRUE(f.parking(pcie).empty()) << "a PCIe target is never disconnected";
    EXPECT_TRUE(f.bFlagSeen.load()) << "scans and device notices are kept away while it works";
    EXPECT_EQ(pUtility.m_bSafelyRemoving.load(), 0);
    EXPECT_TRUE(f.dlg->isControlEnabled(IDC_BUTTON_START));
    f.bench.clock().sleepMs(1000);
    EXPECT_FALSE(f.bench.devices().onBus(parked));
    EXPECT_TRUE(f.bench.devices().onBus(noFirmware));
    EXPECT_EQ(f.dlg->m_DevList.Devs[2].m_ucPortIndex, 2) << "the records are left as they are";
}

// The test holds the scan lock, as a scan that is walking does.
TEST(SafeRemoval, AScanUnderWayEndsBeforeTheRemovalBegins)
{
    RemoveFixture f(1);
    f.scan();
    std::unique_lock scanLock(pUtility.m_ScanCriticalSection);
    f.press();
    const uint64_t start = f.bench.clock().monotonicMs();
    ASSERT_TRUE(runEventsUntil([&] { return f.bench.clock().monotonicMs() > start + 5000; }));
    EXPECT_FALSE(f.bFlagSeen.load());
    EXPECT_TRUE(f.parking(1).empty());
    scanLock.unlock();
    ASSERT_TRUE(f.removalOver());
    EXPECT_EQ(f.parking(1), kParked);
}

}  // namespace
}  // namespace krv::test
