// The controls KRV857xShowStatus's window answers differently from the
// production tool's: the device-function boxes of the write/read test, the
// speed test, the USB check and the reload; the engineering buttons (hidden
// at start-up, pressed here through the command path as a click reaches
// it); and the component id a drive keeps when Start builds its image.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "controls/ButtonST.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "tests/app/VIVadeDlgTestSupport.h"
#include "tests/support/ProductionRunSetup.h"

namespace krv::test {
namespace {

std::vector<std::string> boxesOf(const DlgFixture& f)
{
    std::vector<std::string> boxes;
    for (const auto& record : f.messages.records())
        boxes.push_back(record.text);
    return boxes;
}

void click(CVIVadeDlg& dlg, int id)
{
    CButtonST* box = dlg.control<CButtonST>(id);
    ASSERT_NE(box, nullptr) << id;
    ASSERT_TRUE(box->isEnabled()) << id;
    box->click();
}

// The window unlocked, as after the operator's login.
void unlock(CVIVadeDlg& dlg)
{
    dlg.m_bChangeMode = 1;
    dlg.vSetGUIByLockState();
}

TEST(ShowStatusControls, TestBoxesKeepTheOperatorsChoiceAndSwitchTheRunsSteps)
{
    ShowStatusDlgFixture f;
    ASSERT_TRUE(f.dlg->OnInitDialog());
    CVIVadeDlg& dlg = *f.dlg;
    unlock(dlg);
    const IniRecord& ini = pIni.m_pINI;
    const DevList& run = dlg.m_DevList;
    const auto speedsEnabled = [&] {
        int n = 0;
        for (int id : {IDC_EDIT_READ_SPEED, IDC_EDIT_WRITE_SPEED, IDC_STATIC_READ, IDC_STATIC_WRITE})
            n += dlg.isControlEnabled(id) ? 1 : 0;
        return n;
    };

    click(dlg, IDC_CHECK_WR_TEST);
    EXPECT_EQ(dlg.checkState(IDC_CHECK_WR_TEST), 1);
    EXPECT_EQ(ini.wr_test_enable, 1);
    EXPECT_EQ(run.m_bDoWrRdTest, 1);
    EXPECT_EQ(speedsEnabled(), 0);  // the speed test is not on yet

    click(dlg, IDC_CHECK_SPEED_TEST);
    EXPECT_EQ(dlg.checkState(IDC_CHECK_SPEED_TEST), 1);
    EXPECT_EQ(ini.Speed_test_enable, 1);
    EXPECT_EQ(run.m_bDoSpeedTest, 1);
    EXPECT_EQ(speedsEnabled(), 4);

    // Clearing the write/read test takes the speed test's box and speeds
    // with it.
    click(dlg, IDC_CHECK_WR_TEST);
    EXPECT_EQ(dlg.checkState(IDC_CHECK_WR_TEST), 0);
    EXPECT_EQ(ini.wr_test_enable, 0);
    EXPECT_EQ(run.m_bDoWrRdTest, 0);
    EXPECT_EQ(dlg.checkState(IDC_CHECK_SPEED_TEST), 0);
    EXPECT_FALSE(dlg.isControlEnabled(IDC_CHECK_SPEED_TEST));
    EXPECT_EQ(speedsEnabled(), 0);

    click(dlg, IDC_CHECK_USB_STATUS);
    EXPECT_EQ(dlg.checkState(IDC_CHECK_USB_STATUS), 1);
    EXPECT_EQ(ini.Check_USBStatus_enable, 1);
    EXPECT_EQ(run.m_bDoUSBStatusCheck, 1);
    EXPECT_TRUE(dlg.isControlEnabled(IDC_COMBO_USB_STATUS));
    click(dlg, IDC_CHECK_USB_STATUS);
    EXPECT_EQ(ini.Check_USBStatus_enable, 0);
    EXPECT_EQ(run.m_bDoUSBStatusCheck, 0);
    EXPECT_FALSE(dlg.isControlEnabled(IDC_COMBO_USB_STATUS));
}

// The reload comes only from the settings file: a click never leaves the
// box checked and never changes what the file asked for.
TEST(ShowStatusControls, ReloadBoxUnchecksItselfAndLeavesTheFilesReload)
{
    for (const uint8_t reload : {uint8_t{1}, uint8_t{0}}) {
        SCOPED_TRACE(reload);
        ShowStatusDlgFixture f;
        f.writeSettings([reload](IniRecord& r) {
            r.fw_enable = 1;
            r.fw_reload = reload;
        });
        ASSERT_TRUE(f.dlg->OnInitDialog());
        CVIVadeDlg& dlg = *f.dlg;
        unlock(dlg);
        ASSERT_EQ(dlg.checkState(IDC_CHECK_RELOAD_FW), reload);
        for (int n = 0; n < 2; ++n) {
            click(dlg, IDC_CHECK_RELOAD_FW);
            EXPECT_EQ(dlg.checkState(IDC_CHECK_RELOAD_FW), 0) << n;
            EXPECT_EQ(pIni.m_pINI.fw_reload, reload) << n;
            EXPECT_EQ(dlg.m_DevList.m_bDoReload, reload) << n;
        }
    }
}

// "PD" and "test" answer nothing in the variant: no box, no ITE update.
TEST(ShowStatusControls, PdAndTestButtonsDoNothing)
{
    bench::BenchSettings settings = runBenchSettings(1);
    settings.ports[0].link = "USB4";
    settings.ports[0].pd = bench::PdChip::Ite;
    ShowStatusDlgFixture f(settings, BenchTime::Virtual);
    ASSERT_TRUE(f.dlg->OnInitDialog());
    f.dlg->m_strComboBoxDeviceFirmwareFWBrowse = f.programDir.file("missing.bin");
    f.bench.capture().clear();
    f.dlg->sendCommand(IDC_BUTTON_TEST);
    f.dlg->sendCommand(IDC_BUTTON_PD_TEST);
    EXPECT_EQ(boxesOf(f), std::vector<std::string>{});
    EXPECT_FALSE(f.bench.capture().contains("PD fw:"));
}

// The device object lives as long as the window may use it.
struct DeviceObject {
    DeviceObject() { g_UsbDev.vInitialize(); }
    ~DeviceObject() { g_UsbDev.vShutdown(); }
};

std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "Btn3" writes the window's two images and its firmware file into PCIe
// target 0's image 0; "Btn 1" reads them back: the images to the debugger
// output, as much firmware as the window's file holds into read1.bin.
TEST(ShowStatusControls, ImageButtonsWriteAndReadPcieTarget0)
{
    bench::BenchSettings settings = runBenchSettings(1);
    settings.ports[0].link = "USB4";
    ShowStatusDlgFixture f(settings, BenchTime::Real);
    DeviceObject device;
    writeRunFiles(f.programDir.path());
    f.writeSettings([&](IniRecord& r) {
        setRunSettings(r, f.programDir.path());
        r.PCIE_Scan = 2;
        r.SN_EditType = 1;
        r.serial_number.set("AAAABBBB0001");
        r.standby_timer = 11;
        r.manufacturer_string.set("A maker name longer than its field");
        r.manufacturer_string_T10.set("T10MAKER");
        r.USB4_U4Mode = 7;
        r.USB4_ComponentID.set("0000000001A");
    });
    f.dlg->bRealScans = true;
    CVIVadeDlg& dlg = *f.dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    ASSERT_TRUE(runEventsUntil([&] { return !dlg.bScanActive() && g_PcieCtrl.ucTargetCount() == 1; }));

    f.bench.capture().clear();
    dlg.sendCommand(IDC_BUTTON_BTN3);
    const bench::PortState state = f.bench.devices().state(1);
    const std::vector<uint8_t>& u3 = state.stored.config[0][0];
    const std::vector<uint8_t>& u4 = state.stored.config[0][1];
    ASSERT_EQ(u3.size(), 128u);
    ASSERT_EQ(u4.size(), 128u);
    // Port 0's serial, counted on by nothing.
    EXPECT_EQ(std::string(u3.begin() + 4, u3.begin() + 16), "AAAABBBB0001");
    EXPECT_EQ(std::string(u3.begin() + 60, u3.begin() + 68), "T10MAKER");
    EXPECT_EQ(u3[122] & 0x0F, 0x0B);  // standby 11
    EXPECT_EQ(u3[126], 0x5A);
    // The window's component id (d0 '0' in 89's low digit), mode code 3 for
    // a mode above 2, and no relink signature.
    EXPECT_EQ(u4[88], 0x00);
    EXPECT_EQ(u4[84], 0x1A);
    EXPECT_EQ(u4[89] & 0x30, 0x30);
    EXPECT_EQ(u4[124], 0xFF);
    EXPECT_EQ(u4[125], 0xFF);
    EXPECT_EQ(u4[126], 0xA5);
    for (const std::vector<uint8_t>* image : {&u3, &u4}) {
        unsigned sum = 0;
        for (size_t i = 4; i < 127; ++i)
            sum += (*image)[i];
        EXPECT_EQ((*image)[127], static_cast<uint8_t>(sum));
    }
    const std::vector<uint8_t> firmware = fileBytes(f.programDir.file(kRunFirmwareName));
    EXPECT_EQ(state.stored.firmware[0], firmware);
    for (const char* line : {"ret:0 set u3 config", "ret:0 set u4 config", "ret:0 set u4 fw"})
        EXPECT_TRUE(f.bench.capture().contains(line)) << line;

    dlg.sendCommand(IDC_BUTTON_BTN1);
    for (const char* line : {"btn 1", "ret:0 get u3 config", "ret:0 get u4 config", "ret:0 get u4 fw"})
        EXPECT_TRUE(f.bench.capture().contains(line)) << line;
    EXPECT_EQ(fileBytes(f.programDir.file("read1.bin")), firmware);
}

// The component id a drive already carries: the variant keeps AAAABBBBCCC
// as the drive's own, the production tool takes it for a placeholder and
// gives the drive a new one.
TEST(ShowStatusControls, StartKeepsAComponentIdTheProductionToolReplaces)
{
    for (const bool variant : {true, false}) {
        SCOPED_TRACE(variant ? "variant" : "production");
        DlgFixture f;
        std::optional<IniProfileScope> profile;
        if (variant) {
            profile.emplace(IniProfileVariant());
            f.dlg->vSetDlgProfile(MainDlgProfileShowStatus());
        }
        writeRunFiles(f.programDir.path());
        f.writeSettings([&](IniRecord& r) {
            setRunSettings(r, f.programDir.path());
            r.fw_reload = 0;
            r.format_enable = 0;
            r.preload_enable = 0;
        });
        ASSERT_TRUE(f.dlg->OnInitDialog());
        pIni.m_pINI.USB4_ComponentID_EditType = 1;
        DevInfo& d = f.dlg->m_DevList.Devs[0];
        d.m_ucPortIndex = 0;
        d.m_strFWVersion = "240517800201";
        d.m_strSerialNumber = "SERIAL0001";
        d.m_ucPDType = 1;
        d.m_ucChipMajorRev = 1;
        // 89 down to 84: "0AAAABBBBCCC", the first digit dropped.
        const uint8_t id[] = {0xCC, 0xBC, 0xBB, 0xAB, 0xAA, 0x0A};
        std::copy(std::begin(id), std::end(id), d.m_ucU4Config + 84);
        f.dlg->m_DevList.DevNums = 1;
        f.bench.capture().clear();
        f.dlg->sendCommand(IDC_BUTTON_START);
        ASSERT_NE(f.dlg->m_pMainThread, nullptr) << ::testing::PrintToString(boxesOf(f)) << f.bench.capture().joined();
        f.dlg->m_pMainThread->vRequestStop();
        f.dlg->m_pMainThread->bJoin(60'000);

        EXPECT_EQ(f.dlg->m_strEditU4ComponentID == "AAAABBBBCCC", variant);
        EXPECT_EQ(pIni.m_pINI.USB4_ComponentID_EditType, variant ? 1 : 5);
        EXPECT_EQ(f.bench.capture().contains("keep component id[AAAABBBBCCC]"), variant);
    }
}

}  // namespace
}  // namespace krv::test
