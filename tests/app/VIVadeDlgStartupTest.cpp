// Start-up of the main window on a bench: what it reads, switches and shows,
// and the order that matters (the job line is known before anything can show
// a window, the settings before the power scheme and the lock state).
#include <gtest/gtest.h>

#include <fstream>

#include <QComboBox>

#include "app/VIVadeApp.h"
#include "controls/ListCtrlEx.h"
#include "device/KrvnUSBDev.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(VIVadeDlgStartup, FillsTheWindowFromTheSettingsFileAndSwitchesThePowerScheme)
{
    DlgFixture f;
    f.writeSettings([](IniRecord& r) {
        r.serial_number.set("ABCD00000001");
        r.vendor_id.set("1A2B");
        r.wr_test_enable = 1;
        r.Check_USBStatus_enable = 1;
        r.auto_mp = 1;
        r.auto_mp_DevNum = 3;
        r.PCIE_Scan = 1;
        r.target_chip.set("4283");
    });
    std::ofstream(f.programDir.file("LimitationTable.ini")) << "[chk_item]\ncheck_vid=0\n";

    ASSERT_TRUE(f.dlg->OnInitDialog());
    CVIVadeDlg& dlg = *f.dlg;

    // The operator's file, not the defaults; the two tests that cannot be
    // switched on in the window are off whatever the file says.
    EXPECT_EQ(pIni.m_pINI.serial_number, "ABCD00000001");
    EXPECT_EQ(pIni.m_pINI.wr_test_enable, 0);
    EXPECT_EQ(pIni.m_pINI.Check_USBStatus_enable, 0);
    EXPECT_EQ(dlg.controlText(IDC_EDIT_SERIAL_NUMBER), "ABCD00000001");
    EXPECT_EQ(dlg.controlText(IDC_EDIT_VENDOR_ID), "1A2B");
    EXPECT_EQ(dlg.controlText(IDC_COMBO_AUTO_DEV_NUM), "3");
    EXPECT_EQ(dlg.m_strTargetChipCode, "010");
    EXPECT_EQ(dlg.controlText(IDC_STATIC_TITLE), VIVADE_TITLE_TEXT);

    // The active scheme is kept, then high performance is switched on.
    EXPECT_EQ(dlg.m_strSavedPowerScheme, bench::kSchemeBalanced);
    EXPECT_EQ(f.system().activePowerScheme(), POWER_SCHEME_HIGH_PERFORMANCE);
    EXPECT_EQ(f.consoleCalls(), (std::vector<std::string>{"powercfg /getactivescheme",
                                                          std::string("powercfg /setactive ") +
                                                              POWER_SCHEME_HIGH_PERFORMANCE}));

    EXPECT_EQ(dlg.m_bLimitationTableLoaded.load(), 1);
    for (int id : {IDC_EDIT_PASS_COUNT, IDC_EDIT_FAIL_COUNT, IDC_EDIT_TOTAL_COUNT})
        EXPECT_EQ(dlg.controlText(id), "0");
    EXPECT_EQ(dlg.controlText(IDC_EDIT_PROGRESS), "0%");

    // The results table: 19 centred columns with their headings, 16 rows.
    CListCtrlEx& list = *dlg.m_ListMainResult;
    ASSERT_EQ(list.GetColumnCount(), MAIN_RESULT_COLUMN_COUNT);
    EXPECT_EQ(list.model()->headerData(0, Qt::Horizontal).toString(), "Port#");
    EXPECT_EQ(list.model()->headerData(14, Qt::Horizontal).toString(), "PD");
    EXPECT_EQ(list.model()->headerData(15, Qt::Horizontal).toString(), "");
    EXPECT_EQ(list.columnWidth(4), 154);
    ASSERT_EQ(list.GetItemCount(), MAX_DEV_SLOTS);
    EXPECT_EQ(list.GetItemText(15, 0), "15");

    // Listening for device changes, the first scan asked for.
    for (uint32_t handle : dlg.m_hDevNotify)
        EXPECT_NE(handle, 0u);
    EXPECT_EQ(f.dlg->nScanRequests, 1);

    // auto_mp 1: the locked automatic set; the engineering buttons and the
    // result pictures hidden.
    EXPECT_FALSE(dlg.isControlEnabled(IDC_BUTTON_START));
    EXPECT_TRUE(dlg.isControlEnabled(IDC_BUTTON_LOADINI));
    EXPECT_FALSE(dlg.isControlEnabled(IDC_CHECK_UPDATE_FW));
    for (int id : {IDC_BUTTON_MORE_CONFIG, IDC_BUTTON_U4_MORE_CONFIG, IDC_BUTTON_BTN1, IDC_BUTTON_BTN4, IDC_BUTTON_RST,
                   IDC_BUTTON_TEST, IDC_BUTTON_PD_TEST, IDC_BUTTON_PC, IDC_BUTTON_U4_DATA, IDC_BUTTON_SHA256,
                   IDC_PICTURE_PASS, IDC_PICTURE_FAIL, IDC_EDIT_U4_COMPONENT_ID, IDC_EDIT_PCI_VID})
        EXPECT_FALSE(dlg.isControlShown(id)) << "control " << id;
    EXPECT_EQ(dlg.m_iRunMode.load(), 1);
    EXPECT_TRUE(f.dlg->cmdLines.empty());
}

TEST(VIVadeDlgStartup, WithoutASettingsFileStartsFromTheFactoryDefaults)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    EXPECT_EQ(pIni.m_pINI.serial_number, "AAAABBBB0001");
    EXPECT_EQ(pIni.m_pINI.wr_test_binary_name, "rwtest.bin");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_SERIAL_NUMBER), "AAAABBBB0001");
    EXPECT_EQ(f.dlg->m_bLimitationTableLoaded.load(), 0);
    // auto_mp 0: Start is there for the operator.
    EXPECT_TRUE(f.dlg->isControlEnabled(IDC_BUTTON_START));
}

TEST(VIVadeDlgStartup, WithoutPcieScanNoPowercfgRunsAtStartOrAtExit)
{
    DlgFixture f;
    f.writeSettings([](IniRecord& r) { r.PCIE_Scan = 0; });
    f.dlg->OnInitDialog();
    f.dlg->OnBnClickedOk();
    ASSERT_TRUE(f.runUntilEnded());
    EXPECT_TRUE(f.consoleCalls().empty());
    EXPECT_EQ(f.system().activePowerScheme(), bench::kSchemeBalanced);
}

TEST(VIVadeDlgStartup, AJobLineIsKnownBeforeTheSettingsLoadSoNothingWaitsForAnOperator)
{
    DlgFixture f;
    // A settings file of another version: its loader complains.
    {
        std::ofstream(f.iniPath()) << "[ini_version]\nversion=1007\n";
    }
    f.dlg->m_strCmdLine = "/V";
    f.dlg->OnInitDialog();

    EXPECT_EQ(f.dlg->m_iRunMode.load(), 0);
    EXPECT_EQ(f.dlg->cmdLines, std::vector<std::string>{"/V"});
    // The complaint went to the message file, not to a box.
    EXPECT_TRUE(f.messages.records().empty());
    EXPECT_NE(readText(f.programDir.file(PROGRAM_MESSAGE_FILE)).find("Versoin[1007]"), std::string::npos);
    // The window never shows in command-line mode.
    f.dlg->show();
    EXPECT_FALSE(f.dlg->isVisible());
}

struct DebugOptionCase {
    const char* line;
    bool taken;
    int level;
    const char* rest;
};

TEST(VIVadeDlgStartup, TheDebugOptionSetsTheLevelAndNoJobRuns)
{
    const DebugOptionCase cases[] = {
        {"/DBG3", true, 3, ""},
        {"/DBG2 /S", true, 2, "/S"},
        {"/S /DBG3", true, 3, "/S "},
        {"/DBG 1", true, 1, ""},
        {"/DBG10", true, 4, ""},  // more than the log has: everything
        {"/DBG", true, 0, ""},
        {"/V", false, -1, "/V"},
        {"/dbg3", false, -1, "/dbg3"},
    };
    for (const auto& c : cases) {
        std::string line = c.line;
        int level = -1;
        EXPECT_EQ(CVIVadeDlg::bTakeDebugOption(line, level), c.taken) << c.line;
        EXPECT_EQ(level, c.level) << c.line;
        EXPECT_EQ(line, c.rest) << c.line;
    }

    DlgFixture f;
    f.dlg->m_strCmdLine = "/DBG2 /S";
    f.dlg->OnInitDialog();
    EXPECT_EQ(g_nDebugLevel.load(), 2);
    EXPECT_EQ(f.dlg->m_iRunMode.load(), 1);
    EXPECT_TRUE(f.dlg->cmdLines.empty());
    EXPECT_EQ(f.dlg->nScanRequests, 1);
}

TEST(VIVadeDlgStartup, TheCommandLineIsTheArgumentsJoinedWithoutTabsAndLineFeeds)
{
    char prog[] = "KRV857xVIVade";
    char a[] = "/C:\t0123";
    char b[] = "4567\n89AB";
    char* argv[] = {prog, a, b, nullptr};
    EXPECT_EQ(strJoinCommandLine(3, argv), "/C:0123 456789AB");
    EXPECT_EQ(strJoinCommandLine(1, argv), "");
}

TEST(VIVadeDlgStartup, TheWindowsValuesGoBothWaysWithinTheirFieldLengths)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    CVIVadeDlg& dlg = *f.dlg;
    dlg.m_strEditDeviceConfigurationSerialNumber = "0123456789ABCDEF0123XYZ";  // 23 for a field of 20
    dlg.m_strEditU4ProductHWRevision = "5A";
    dlg.m_strComboBoxFormatType = "exFAT";
    dlg.UpdateData(false);
    EXPECT_EQ(dlg.controlText(IDC_EDIT_SERIAL_NUMBER), "0123456789ABCDEF0123");
    EXPECT_EQ(dlg.controlText(IDC_COMBO_FORMAT_TYPE), "exFAT");

    dlg.setControlText(IDC_EDIT_U4_PRODUCT_HW, "7B");
    ASSERT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.m_strEditU4ProductHWRevision, "7B");
    EXPECT_EQ(dlg.m_strEditDeviceConfigurationSerialNumber, "0123456789ABCDEF0123");
    EXPECT_EQ(dlg.m_strComboBoxFormatType, "exFAT");
}

struct SecondInstanceCase {
    const char* line;
    bool commandLine;
};

TEST(VIVadeDlgStartup, ASecondInstanceLeavesAndNeverEndsTheFirst)
{
    for (const auto& c : {SecondInstanceCase{"/V", true}, SecondInstanceCase{"", false}}) {
        DlgFixture f;
        // The first instance holds the claim (on the bench: per bench).
        bench::BenchSystemInfo first(f.bench.folder());
        ASSERT_TRUE(first.claimProgramInstance("KRV857xVIVade"));
        f.dlg->m_strCmdLine = c.line;
        f.dlg->OnInitDialog();
        ASSERT_TRUE(f.runUntilEnded()) << c.line;
        if (c.commandLine) {
            EXPECT_EQ(f.endCodes, std::vector<int>{CMDLINE_EXIT_ALREADY_RUNNING});
            EXPECT_TRUE(f.messages.records().empty());
        } else {
            ASSERT_EQ(f.messages.records().size(), 1u);
            EXPECT_NE(f.messages.records()[0].text.find("already running"), std::string::npos);
        }
        // It left before anything else: no settings, no scan, no job.
        EXPECT_TRUE(pIni.m_pINI.serial_number.empty()) << c.line;
        EXPECT_EQ(f.dlg->nScanRequests, 0) << c.line;
        EXPECT_TRUE(f.dlg->cmdLines.empty()) << c.line;
    }
}

TEST(VIVadeDlgStartup, LoadIniRefillsTheWindowAndAFailedLoadKeepsTheSettings)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    const int scansBefore = f.dlg->nScanRequests;

    // Another file, chosen in the picker.
    const std::string other = f.programDir.file("other.ini");
    pIni.vSetDefaultSettings();
    pIni.m_pINI.serial_number.set("EEEE00000009");
    pIni.m_pINI.auto_mp = 1;
    ASSERT_TRUE(pIni.vStoreINIFile(other));
    pIni.vSetDefaultSettings();
    f.pickers.queueAnswer(other);
    f.dlg->OnBnClickedButtonLoadini();
    EXPECT_EQ(pIni.m_pINI.serial_number, "EEEE00000009");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_SERIAL_NUMBER), "EEEE00000009");
    EXPECT_FALSE(f.dlg->isControlEnabled(IDC_BUTTON_START));  // auto_mp 1 now
    EXPECT_EQ(f.dlg->nScanRequests, scansBefore + 1);

    // A file that does not load changes nothing the window shows.
    const std::string broken = f.programDir.file("broken.ini");
    std::ofstream(broken) << "[ini_version]\nversion=1\n";
    f.pickers.queueAnswer(broken);
    f.dlg->OnBnClickedButtonLoadini();
    EXPECT_EQ(pIni.m_pINI.serial_number, "EEEE00000009");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_SERIAL_NUMBER), "EEEE00000009");

    // Cancelled: nothing happens.
    f.dlg->OnBnClickedButtonLoadini();
    EXPECT_EQ(f.dlg->nScanRequests, scansBefore + 2);
}

}  // namespace
}  // namespace krv::test
