// The main window of KRV857xShowStatus: the production tool's window under
// the variant's profile. Its start-up, its results table (with a picture for
// people to look at, build folder screenshots/) and its command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <QImage>

#include "app/ReloadAvailability.h"
#include "controls/ListCtrlEx.h"
#include "tests/app/VIVadeDlgTestSupport.h"
#include "variant/ShowStatusProfile.h"

namespace krv::test {
namespace {

using Dlg = CVIVadeDlg;

using ShowStatusFixture = ShowStatusDlgFixture;

// One drive in slot 0 as a scan would have left it, and the boxes shown.
void fillOneDrive(CVIVadeDlg& dlg)
{
    DevInfo& d = dlg.m_DevList.Devs[0];
    d.m_ucPortIndex = 0;
    d.m_strFWVersion = "240517800201";
    d.m_strUSBSpeed = "SUPER";
    dlg.m_DevList.DevNums = 1;
}

std::vector<std::string> boxesOf(const DlgFixture& f)
{
    std::vector<std::string> boxes;
    for (const auto& record : f.messages.records())
        boxes.push_back(record.text);
    return boxes;
}

TEST(ShowStatusDlg, StartsWithItsTitleAndTwelveColumnsWithoutPowerSchemeOrLimitationTable)
{
    ShowStatusFixture f(2);
    f.writeSettings([](IniRecord& r) {
        r.serial_number.set("ABCD00000001");
        r.LPIfU3 = 1;
        r.PCIELane = 2;
    });
    std::ofstream(f.programDir.file("LimitationTable.ini")) << "[chk_item]\ncheck_vid=0\n";
    ASSERT_TRUE(f.dlg->OnInitDialog());
    Dlg& dlg = *f.dlg;

    for (int id : {IDC_STATIC_TITLE, IDC_STATIC_VERSION})
        EXPECT_EQ(dlg.controlText(id), "Korvane_857xStatus Ver 1, 0, 2, 1 (1.0.1.4) (1.0.0.10)") << id;
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Korvane_857xStatus Ver 1, 0, 2, 1 (1.0.1.4) (1.0.0.10)");
    // Its own file was read (version 1007, the option keys among it).
    EXPECT_EQ(pIni.m_pINI.serial_number, "ABCD00000001");
    EXPECT_EQ(pIni.m_pINI.LPIfU3, 1);
    EXPECT_EQ(pIni.m_pINI.PCIELane, 2);
    EXPECT_TRUE(f.consoleCalls().empty());
    EXPECT_EQ(dlg.m_bLimitationTableLoaded.load(), 0);
    // The "pd" button is no more shown here than in the production tool.
    EXPECT_FALSE(dlg.isControlShown(IDC_BUTTON_PD));

    // Twelve columns: nine with headings, 9 and 11 hidden, 10 wide and
    // blank; the twelfth asked for place 17 and came last.
    CListCtrlEx& list = *dlg.m_ListMainResult;
    ASSERT_EQ(list.GetColumnCount(), 12);
    const char* const headings[] = {"Port#", "Status", "VID", "PID", "Serial Number", "FW Version",
                                    "CC",    "U4 Mode", "Capacity", "", "", ""};
    const int widths[] = {45, 80, 48, 48, 154, 112, 32, 100, 70, 0, 112, 0};
    for (int col = 0; col < 12; ++col) {
        EXPECT_EQ(list.model()->headerData(col, Qt::Horizontal).toString().toStdString(), headings[col]) << col;
        EXPECT_EQ(list.columnWidth(col), widths[col]) << col;
    }
    // A run's step cells: the update's lands in hidden column 11, the
    // others beyond the last column, where they change nothing.
    dlg.vUpdateMainResultItemTable(0, RESULT_COL_UPDATE, "PASS", CELL_MODE_PLAIN);
    for (int col : {RESULT_COL_RELINK, RESULT_COL_PARTITION, RESULT_COL_RW_TEST, RESULT_COL_PRELOAD, RESULT_COL_PD})
        dlg.vUpdateMainResultItemTable(0, static_cast<uint8_t>(col), "FAIL", CELL_MODE_PLAIN);
    EXPECT_EQ(list.GetColumnCount(), 12);
    for (int col = 0; col < 12; ++col)
        EXPECT_EQ(list.GetItemText(0, col), col == 11 ? "PASS" : col == 0 ? "0" : "") << col;

    // The picture: two drives found by a scan.
    DevList& devs = dlg.m_DevList;
    devs.DevNums = 2;
    for (int i = 0; i < 2; ++i) {
        DevInfo& d = devs.Devs[i];
        d.m_ucPortIndex = static_cast<uint8_t>(i);
        d.m_strUSBSpeed = i == 0 ? "PLUSx2" : "SUPER";
        d.m_ucU4Mode = i == 0 ? 3 : 0;
        d.m_ucLinkSpeed = 4;
        d.m_ucCCOrientation = static_cast<uint8_t>(i + 1);
        d.m_ullCapacity = 1536ull << 20;
        d.m_strVID = "2C4B";
        d.m_strPID = "8574";
        d.m_strSerialNumber = "KRVBENCH0000000000" + std::to_string(i + 1);
        d.m_strFWVersion = "230601800100";
    }
    dlg.vUpdateMainResultSubItemTable(1);
    EXPECT_EQ(list.GetItemText(0, 8), "1 GB");
    showSettled(dlg);
    const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
    std::filesystem::create_directories(folder);
    const QImage image = dlg.grab().toImage();
    ASSERT_FALSE(image.isNull());
    ASSERT_TRUE(image.save(QString::fromStdString(folder + "/showstatus-main-window.png")));
}

// Its four options, each exactly the whole line; what is no option leaves
// the window in GUI mode, except "/C:" with nothing after it.
TEST(ShowStatusDlg, CommandLineKnowsFourOptions)
{
    const MainDlgProfile& profile = MainDlgProfileShowStatus();
    const struct {
        const char* line;
        int32_t index;  // its own numbering
        int32_t job;
        bool commandLine;
    } cases[] = {
        {"/C:0123456789ab", 1, Dlg::CMD_JOB_CHECK_FW, true},
        {"/PC", 6, Dlg::CMD_JOB_POWER_CONFIG, true},
        {"/O", 5, Dlg::CMD_JOB_DEVICE_INFO, true},
        {"/O4", 4, Dlg::CMD_JOB_U4_DATA, true},
        {"/C:            ", Dlg::CMD_JOB_NONE, Dlg::CMD_JOB_NONE, true},
        {"/O4 ", Dlg::CMD_JOB_NONE, Dlg::CMD_JOB_NONE, false},
        {"/S", Dlg::CMD_JOB_NONE, Dlg::CMD_JOB_NONE, false},
        {"/?", Dlg::CMD_JOB_NONE, Dlg::CMD_JOB_NONE, false},
        {"/V", Dlg::CMD_JOB_NONE, Dlg::CMD_JOB_NONE, false},
        {"/PCIE", Dlg::CMD_JOB_NONE, Dlg::CMD_JOB_NONE, false},
        {"/RST", Dlg::CMD_JOB_NONE, Dlg::CMD_JOB_NONE, false},
        {"/DBG 3", Dlg::CMD_JOB_NONE, Dlg::CMD_JOB_NONE, false},
    };
    for (const auto& c : cases) {
        const Dlg::CCmdLineOption option = Dlg::stParseCmdLine(c.line, profile.options);
        EXPECT_EQ(option.iCmdIndex, c.index) << c.line;
        const CmdLineOptionEntry* entry = profile.pFindCmdIndex(option.iCmdIndex);
        EXPECT_EQ(entry ? entry->iJob : Dlg::CMD_JOB_NONE, c.job) << c.line;
        EXPECT_EQ(Dlg::bIsCommandLineJob(c.line, profile), c.commandLine) << c.line;
    }
}

TEST(ShowStatusDlg, AnUnknownLineKeepsTheWindowAndAnEmptyVersionEndsWithBadOption)
{
    {
        ShowStatusFixture f;
        f.dlg->CVIVadeDlg::vCmdLinePreHandler("/S");
        EXPECT_EQ(f.dlg->m_iRunMode.load(), 1);
        EXPECT_EQ(f.dlg->m_iCmdIndex.load(), Dlg::CMD_JOB_NONE);
        EXPECT_FALSE(f.dlg->bExitStarted());
    }
    {
        ShowStatusFixture f;
        f.dlg->CVIVadeDlg::vCmdLinePreHandler("/C:            ");
        ASSERT_TRUE(f.runUntilEnded());
        EXPECT_EQ(f.endCodes, std::vector<int>{Dlg::CMDLINE_EXIT_BAD_OPTION});
    }
}

}  // namespace
}  // namespace krv::test

namespace krv::test {
namespace {

TEST(ShowStatusDlg, ReloadIsRefusedWhereTheDrivesCouldNotBeFoundAgain)
{
    const std::string kMode03 = "Cannot reload with USB4 setting:\r\n0:PD+PCIe or\r\n3:auto";
    const std::string kMode12 = "Cannot reload with USB4 setting:\r\n1:PD+PCIe+Legacy or\r\n2:PD+U3+Legacy";
    const struct {
        uint8_t reload, update;
        int32_t mode;
        int usb, pcie;
        std::string refusal;
    } cases[] = {
        {0, 0, 3, 1, 1, ""},  // reload off: whatever the drives
        {1, 0, 1, 1, 0, "Cannot reload without FW update"},
        {1, 1, 1, 2, 1, "Cannot reload with USB & PCIE device in the same time"},
        {1, 1, 0, 1, 0, kMode03},
        {1, 1, 3, 1, 0, kMode03},
        {1, 1, 1, 1, 0, ""},
        {1, 1, 2, 3, 0, ""},
        {1, 1, 1, 0, 1, kMode12},
        {1, 1, 2, 0, 1, kMode12},
        {1, 1, 3, 0, 1, ""},
        {1, 1, 0, 0, 0, ""},  // no drives at all
    };
    for (const auto& c : cases) {
        IniRecord ini = IniRecordCleared();
        ini.fw_reload = c.reload;
        ini.fw_enable = c.update;
        ini.USB4_U4Mode = c.mode;
        EXPECT_EQ(strReloadRefusal(ini, c.usb, c.pcie), c.refusal)
            << int(c.reload) << int(c.update) << " mode " << c.mode << " usb " << c.usb << " pcie " << c.pcie;
    }
}

}  // namespace
}  // namespace krv::test

namespace krv::test {
namespace {

// Start asks before anything of the run is prepared, and a refusal is the
// operator's box; with a mode the reload can relink on, that check passes.
TEST(ShowStatusDlg, StartRefusesAReloadItCannotRelink)
{
    for (const int32_t mode : {3, 1}) {
        ShowStatusFixture f;
        f.writeSettings([mode](IniRecord& r) {
            r.fw_enable = 1;
            r.fw_reload = 1;
            r.config_format = 4;
            r.USB4_U4Mode = mode;
            r.vendor_id.set("1A2B");
            r.USB4_VendorID.set("1A2B");
            r.serial_number.set("AAAABBBB0001");
            r.SN_EditType = 1;
        });
        ASSERT_TRUE(f.dlg->OnInitDialog());
        fillOneDrive(*f.dlg);
        f.dlg->sendCommand(IDC_BUTTON_START);
        EXPECT_EQ(f.dlg->m_pMainThread, nullptr) << mode;
        const std::vector<std::string> boxes = boxesOf(f);
        const bool refused = std::find(boxes.begin(), boxes.end(),
                                       "Cannot reload with USB4 setting:\r\n0:PD+PCIe or\r\n3:auto") != boxes.end();
        EXPECT_EQ(refused, mode == 3) << mode;
    }
}

}  // namespace
}  // namespace krv::test

namespace krv::test {
namespace {

// A short serial number and the factory vendor id: the production tool
// refuses the one and asks about the other; the variant pads the serial and
// starts without a question.
// Start on one hand-filled drive: the boxes it showed.
std::vector<std::string> startShortSerialWithFactoryVendorId(DlgFixture& f)
{
    f.writeSettings([](IniRecord& r) {
        r.format_enable = 1;
        r.serial_number.set("12345");
        r.vendor_id.set("3E9A");
        r.SN_EditType = 1;
    });
    f.dlg->OnInitDialog();
    fillOneDrive(*f.dlg);
    f.dlg->sendCommand(IDC_BUTTON_START);
    return boxesOf(f);
}

// A short serial number and the factory vendor id: the production tool
// refuses the one (and would ask about the other); the variant pads the
// serial and starts without a question.
TEST(ShowStatusDlg, StartTakesAShortSerialAndTheFactoryVendorIdWithoutAQuestion)
{
    {
        DlgFixture f;
        EXPECT_EQ(startShortSerialWithFactoryVendorId(f), std::vector<std::string>{"SN should have at least 12 digits"});
        EXPECT_EQ(f.dlg->m_pMainThread, nullptr);
    }
    {
        ShowStatusFixture f;
        const std::vector<std::string> boxes = startShortSerialWithFactoryVendorId(f);
        EXPECT_TRUE(boxes.empty()) << ::testing::PrintToString(boxes);
        EXPECT_NE(f.dlg->m_pMainThread, nullptr);
        EXPECT_EQ(pIni.m_pINI.serial_number, "000000012345");
    }
}

}  // namespace
}  // namespace krv::test
