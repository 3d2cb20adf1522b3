// A production run in KRV857xShowStatus's window, as its operator sees it:
// a scan of a bench of two drives, Start with the update, reload (on a USB4
// mode the reload can relink on), format and preload, to the end. Its table
// shows no step column: the overall result is the counters, the progress
// and the pass picture; the settings file the run stores is the variant's.
// A picture of the finished window is saved (build folder, screenshots/).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <QImage>

#include "controls/ButtonST.h"
#include "controls/ListCtrlEx.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "tests/app/VIVadeDlgTestSupport.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/support/ProductionRunSetup.h"
#include "variant/ShowStatusProfile.h"

namespace krv::test {
namespace {

constexpr int kDrives = 2;

// The device object lives as long as the window's run may use it.
struct DeviceObject {
    DeviceObject() { g_UsbDev.vInitialize(); }
    ~DeviceObject() { g_UsbDev.vShutdown(); }
};

std::vector<std::string> boxesOf(const DlgFixture& f)
{
    std::vector<std::string> boxes;
    for (const auto& record : f.messages.records())
        boxes.push_back(record.text);
    return boxes;
}

// The window as KRV857xShowStatus makes it, with the files a run needs in
// its program folder.
struct VariantRunFixture : ShowStatusDlgFixture {
    explicit VariantRunFixture(bench::BenchSettings settings)
        : ShowStatusDlgFixture(std::move(settings), BenchTime::Real)
    {
        writeRunFiles(programDir.path());
    }
};

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void vPcieRun(bool bFirstRefuses);

TEST(ShowStatusRun, StartOnTwoDrivesRunsToTheEnd)
{
    VariantRunFixture f(runBenchSettings(kDrives));
    DeviceObject device;
    f.writeSettings([&](IniRecord& r) {
        setRunSettings(r, f.programDir.path());
        r.USB4_U4Mode = 1;
    });
    f.dlg->bRealScans = true;
    CVIVadeDlg& dlg = *f.dlg;

    dlg.OnInitDialog();
    dlg.show();
    ASSERT_TRUE(runEventsUntil([&] {
        return dlg.m_DevList.DevNums == kDrives && !dlg.bScanActive() && dlg.isControlEnabled(IDC_BUTTON_START);
    }));
    dlg.sendCommand(IDC_BUTTON_START);
    std::vector<std::string> boxes;
    for (const auto& record : f.messages.records())
        boxes.push_back(record.text);
    ASSERT_NE(dlg.m_pMainThread, nullptr) << ::testing::PrintToString(boxes);
    ASSERT_TRUE(runEventsUntil([&] { return dlg.m_bRunning == 0 && !dlg.m_pMainThread->bIsRunning(); },
                               std::chrono::seconds(120)));

    EXPECT_EQ(dlg.controlText(IDC_EDIT_PASS_COUNT), std::to_string(kDrives));
    EXPECT_EQ(dlg.controlText(IDC_EDIT_FAIL_COUNT), "0");
    EXPECT_EQ(dlg.controlText(IDC_EDIT_PROGRESS), "100 %");
    EXPECT_TRUE(dlg.isControlShown(IDC_PICTURE_PASS));
    CListCtrlEx& list = *dlg.m_ListMainResult;
    ASSERT_EQ(list.GetColumnCount(), 12);
    for (int row = 0; row < kDrives; ++row) {
        EXPECT_EQ(list.GetItemText(row, 11), "PASS") << row;  // the update's, hidden
        EXPECT_EQ(list.GetItemText(row, 10), "") << row;
    }
    // The reload probed up to the system's disks: the system disk and the
    // two drives, less one.
    EXPECT_EQ(dlg.m_iDiskCountBaseline.load(), kDrives);
    // Each step of each drive passed, and its bridge runs the file's
    // firmware.
    for (int slot = 0; slot < kDrives; ++slot) {
        const DevInfo& d = dlg.m_DevList.Devs[slot];
        const int results[] = {d.m_bUpdateFWResult, d.m_bReloadFWResult, d.m_bPartitionResult, d.m_bFormatResult,
                               d.m_bPreloadResult};
        EXPECT_EQ(std::vector<int>(std::begin(results), std::end(results)), std::vector<int>(5, 1)) << slot;
        EXPECT_EQ(d.m_strFWVersion, "240517800201") << slot;
    }

    // The settings the run stored: the variant's file.
    const std::string settings = readText(f.iniPath());
    EXPECT_EQ(settings.rfind("[ini_version]\r\nversion=1007\r\n", 0), 0u) << settings.substr(0, 60);
    EXPECT_NE(settings.find("\r\n[PCIE_USB_Config]\r\n"), std::string::npos);

    const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
    std::filesystem::create_directories(folder);
    const QImage image = dlg.grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(QString::fromStdString(folder + "/showstatus-run.png")));
}

// The operator checks "W/R Test" in the window (the variant's box keeps
// it), and one of the two bridges never comes back from its reset: that
// port fails its reload and takes no disk step, the other runs every step,
// the write/read test among them, and the run ends one pass, one fail.
TEST(ShowStatusRun, ABridgeThatNeverComesBackFailsItsPortAndTheOtherRunsTheWriteReadTest)
{
    bench::BenchSettings settings = runBenchSettings(kDrives);
    settings.ports[1].relinkMs = 3'600'000;
    VariantRunFixture f(settings);
    DeviceObject device;
    std::ofstream(f.programDir.file("wrtest.bin"), std::ios::binary) << std::string(1 << 20, '\x5A');
    f.writeSettings([&](IniRecord& r) {
        setRunSettings(r, f.programDir.path());
        r.USB4_U4Mode = 1;
        r.preload_enable = 0;
        r.wr_test_binary_name.set("wrtest.bin");
        r.wr_test_count = 1;
    });
    f.dlg->bRealScans = true;
    CVIVadeDlg& dlg = *f.dlg;

    dlg.OnInitDialog();
    dlg.show();
    ASSERT_TRUE(runEventsUntil([&] {
        return dlg.m_DevList.DevNums == kDrives && !dlg.bScanActive() && dlg.isControlEnabled(IDC_BUTTON_START);
    }));
    dlg.m_bChangeMode = 1;
    dlg.vSetGUIByLockState();
    ASSERT_TRUE(dlg.isControlEnabled(IDC_CHECK_WR_TEST));
    dlg.control<CButtonST>(IDC_CHECK_WR_TEST)->click();
    ASSERT_EQ(dlg.m_DevList.m_bDoWrRdTest, 1);
    dlg.sendCommand(IDC_BUTTON_START);
    ASSERT_NE(dlg.m_pMainThread, nullptr) << ::testing::PrintToString(boxesOf(f));
    ASSERT_TRUE(runEventsUntil([&] { return dlg.m_bRunning == 0 && !dlg.m_pMainThread->bIsRunning(); },
                               std::chrono::seconds(120)));

    EXPECT_EQ(dlg.controlText(IDC_EDIT_PASS_COUNT), "1");
    EXPECT_EQ(dlg.controlText(IDC_EDIT_FAIL_COUNT), "1");
    EXPECT_FALSE(dlg.isControlShown(IDC_PICTURE_PASS));
    const DevInfo& good = dlg.m_DevList.Devs[0];
    EXPECT_EQ(good.m_bReloadFWResult, 1);
    EXPECT_EQ(good.m_bFormatResult, 1);
    EXPECT_EQ(good.m_bWrRdTestResult, 1);
    const DevInfo& lost = dlg.m_DevList.Devs[1];
    EXPECT_EQ(lost.m_bUpdateFWResult, 1);
    EXPECT_EQ(lost.m_bReloadFWResult, 0);
    EXPECT_EQ(lost.m_bWrRdTestResult, 0);
}

// Two USB4 drives reached through PCIe only: each port's bridge takes its
// images and firmware through the mailbox, is reset and found again on the
// bus by the signature its worker wrote (the run's two ports, its slot),
// and its record is read back from the bridge that came back.
TEST(ShowStatusRun, APcieRunResetsEachBridgeAndFindsItAgainBySignature)
{
    vPcieRun(false);
}

// The first bridge refuses its reset: it stays on the bus running its old
// firmware, its EEPROM already holding the signature. Its port fails; the
// other passes.
TEST(ShowStatusRun, ABridgeThatRefusesItsResetFailsItsPort)
{
    vPcieRun(true);
}

void vPcieRun(bool bFirstRefuses)
{
    bench::BenchSettings settings = runBenchSettings(kDrives);
    // Each rescan walks the whole configuration space, which on this fast
    // bench clock takes most of the minute the wait allows: the bridges are
    // back before the first one.
    for (bench::PortSettings& port : settings.ports) {
        port.link = "USB4";
        port.relinkMs = 500;
    }
    VariantRunFixture f(settings);
    DeviceObject device;
    if (bFirstRefuses)
        addFault(f.bench, 1, bench::FaultKind::Fail, {0xE8, 0x50});
    f.writeSettings([&](IniRecord& r) {
        setRunSettings(r, f.programDir.path());
        r.format_enable = 0;
        r.preload_enable = 0;
        r.PCIE_Scan = 2;
        r.USB4_U4Mode = 0;
        r.PCIE_SSDRelinkTime = 0;
        // Each bridge keeps the images it holds, read before they are
        // written back, the USB4 one signed by the worker; the component id
        // typed in the window stays the operator's.
        r.config_format = 0;
        r.USB4_ComponentID.set("0000000001A");
    });
    f.dlg->bRealScans = true;
    CVIVadeDlg& dlg = *f.dlg;

    dlg.OnInitDialog();
    dlg.show();
    // The target list is the scan thread's while a scan is under way: read
    // it only once none is.
    ASSERT_TRUE(runEventsUntil([&] {
        return !dlg.bScanActive() && g_PcieCtrl.ucTargetCount() == kDrives && dlg.isControlEnabled(IDC_BUTTON_START);
    }));
    ASSERT_EQ(dlg.m_DevList.DevNums, 0);
    // The file always loads the component id's edit type as 5; the
    // operator picks 1 (hexadecimal digits) in the window.
    pIni.m_pINI.USB4_ComponentID_EditType = 1;
    dlg.sendCommand(IDC_BUTTON_START);
    ASSERT_NE(dlg.m_pMainThread, nullptr) << ::testing::PrintToString(boxesOf(f));
    ASSERT_TRUE(runEventsUntil([&] { return dlg.m_bRunning == 0 && !dlg.m_pMainThread->bIsRunning(); },
                               std::chrono::seconds(120)));

    if (bFirstRefuses) {
        EXPECT_EQ(dlg.controlText(IDC_EDIT_PASS_COUNT), "1");
        EXPECT_EQ(dlg.controlText(IDC_EDIT_FAIL_COUNT), "1");
        EXPECT_EQ(dlg.m_DevList.Devs[0].m_bReloadFWResult, 0);
        EXPECT_EQ(dlg.m_DevList.Devs[1].m_bReloadFWResult, 1);
        EXPECT_TRUE(f.bench.capture().contains("target:0 never left the bus")) << f.bench.capture().joined();
        pIni.vSetProfile(IniProfileProduction());
        return;
    }
    EXPECT_EQ(dlg.controlText(IDC_EDIT_PASS_COUNT), std::to_string(kDrives));
    EXPECT_EQ(dlg.controlText(IDC_EDIT_FAIL_COUNT), "0");
    EXPECT_TRUE(dlg.isControlShown(IDC_PICTURE_PASS));
    for (int slot = 0; slot < kDrives; ++slot) {
        SCOPED_TRACE(slot);
        const DevInfo& d = dlg.m_DevList.Devs[slot];
        EXPECT_EQ(d.m_bPCIE, 1);
        EXPECT_EQ(d.m_bUpdateFWResult, 1);
        EXPECT_EQ(d.m_bReloadFWResult, 1);
        // Read back from the bridge after its reset: the file's firmware
        // runs, and the record holds the images the bridge stores.
        EXPECT_EQ(d.m_strFWVersion, "240517800201");
        const bench::PortState state = f.bench.devices().state(slot + 1);
        const std::vector<uint8_t>& u4 = state.stored.config[0][1];
        EXPECT_EQ(u4[124], kDrives);
        EXPECT_EQ(u4[125], slot);
        EXPECT_EQ(std::vector<uint8_t>(d.m_ucU4Config, d.m_ucU4Config + 128), u4);
        EXPECT_EQ(d.m_strSerialNumber, "KRVBENCH00000000000" + std::to_string(1 + slot));
        EXPECT_EQ(d.m_strVID, "2C4B");
    }
    // The component id moved on by the run's two ports, in hex.
    EXPECT_EQ(dlg.controlText(IDC_EDIT_U4_COMPONENT_ID), "0000000001C");
    EXPECT_EQ(pIni.m_pINI.USB4_ComponentID, "0000000001C");

    const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(dlg.grab().toImage().save(QString::fromStdString(folder + "/showstatus-pcie-run.png")));
}

}  // namespace
}  // namespace krv::test
