// The engineering buttons "Btn 1", "test", "PD" and "U4 Data" on a bench, and the pd
// button's update dialog. Start-up hides the engineering buttons, so these
// tests press them the way a click would reach the window: through its
// command path.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>

#include "app/CmdLineReport.h"
#include "app/PDUpdateDlg.h"
#include "device/Krv857xPcieCtrl.h"
#include "platform/Platform.h"
#include "tests/app/VIVadeDlgTestSupport.h"
#include "tests/device/DiscoveryBenchSupport.h"

namespace krv::test {
namespace {

std::vector<std::string> messageTexts(const DlgFixture& f)
{
    std::vector<std::string> texts;
    for (const auto& record : f.messages.records())
        texts.push_back(record.text);
    return texts;
}

TEST(EngineeringButtons, HiddenAtStartUpYetTheirCommandsReEnumerateAndCountPcieBridges)
{
    bench::BenchSettings settings = runBenchSettings(3);
    settings.ports[0].link = "USB4";
    settings.ports[2].link = "TBT3";
    DlgFixture f(settings, BenchTime::Virtual);
    f.dlg->OnInitDialog();
    for (int id : {IDC_BUTTON_BTN1, IDC_BUTTON_TEST, IDC_BUTTON_PD_TEST})
        EXPECT_FALSE(f.dlg->isControlShown(id)) << id;

    f.dlg->sendCommand(IDC_BUTTON_BTN1);
    EXPECT_TRUE(f.bench.capture().contains("btn 1"));
    EXPECT_TRUE(f.bench.capture().contains("ScanForHardwareChanges success"));

    // Two bridges tunnel PCIe; PnPUtil lists two functions of each.
    f.dlg->sendCommand(IDC_BUTTON_TEST);
    EXPECT_EQ(messageTexts(f), std::vector<std::string>{"pcie dev cnt:2"});
}

// "U4 Data" writes the "/O4" job's report of the drives found, there and
// then: the day's csv, its header only when the file is new.
TEST(EngineeringButtons, U4DataWritesTheUsb4ReportOfTheDrivesFoundAtOnce)
{
    DlgFixture f(runBenchSettings(2), BenchTime::Virtual);
    f.dlg->OnInitDialog();
    EXPECT_FALSE(f.dlg->isControlShown(IDC_BUTTON_U4_DATA));
    scanBench(g_UsbDev, f.dlg->m_DevList);
    ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 2);
    const std::string rows = strCmdU4DataRows(f.dlg->m_DevList, 2);
    ASSERT_EQ(std::count(rows.begin(), rows.end(), '\n'), 2) << rows;

    const std::string file = f.programDir.file(strCmdU4DataFileName(Platform::current().clock().localTime()));
    auto written = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    f.dlg->sendCommand(IDC_BUTTON_U4_DATA);
    EXPECT_EQ(written(), std::string(CMD_REPORT_U4DATA_HEADER) + CMD_REPORT_EOL + rows);
    f.dlg->sendCommand(IDC_BUTTON_U4_DATA);
    EXPECT_EQ(written(), std::string(CMD_REPORT_U4DATA_HEADER) + CMD_REPORT_EOL + rows + rows);
}

bench::BenchSettings iteDrive()
{
    bench::BenchSettings settings = runBenchSettings(1);
    settings.ports[0].pd = bench::PdChip::Ite;
    return settings;
}

TEST(EngineeringButtons, PdTestFlashesTheFirmwareBoxFileIntoSlot0sIteControllerAndSaysHowItWent)
{
    DlgFixture f(iteDrive(), BenchTime::Real);
    f.dlg->OnInitDialog();
    scanBench(g_UsbDev, f.dlg->m_DevList);
    ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 1);

    // No file in the box: the update refuses before touching the controller.
    f.dlg->m_strComboBoxDeviceFirmwareFWBrowse = f.programDir.file("missing.bin");
    f.dlg->sendCommand(IDC_BUTTON_PD_TEST);

    std::vector<uint8_t> image(300);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(0xA0 ^ (i * 13));
    image[0x50] = 0x34;   // the version the firmware reports
    image[0x51] = 0x12;
    const std::string path = f.programDir.file("ite.bin");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 300);
    f.pickers.queueAnswer(path);
    f.dlg->sendCommand(IDC_BUTTON_FW_BROWSE);
    pIni.m_pINI.pd_binary_name.set("pd-named-in-settings.bin");
    f.dlg->sendCommand(IDC_BUTTON_PD_TEST);

    EXPECT_EQ(messageTexts(f), (std::vector<std::string>{"ITE PD FW Update fail:-1", "ITE PD FW pass:0034.12.00"}));
    EXPECT_TRUE(f.bench.capture().contains("PD fw:pd-named-in-settings.bin"));
}

// The pd button: a window left from Start goes first, and whatever the
// dialog ends with, its files and switches go back into the settings.
TEST(EngineeringButtons, PdDialogReplacesStartsWindowAndCancelStillCopiesItsChoicesBack)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    pIni.m_pINI.pd_binary_name.set("old.bin");
    ASSERT_TRUE(f.dlg->bCreatePDUpdateWindow());
    const std::weak_ptr<CPDUpdateDlg> startWindow = f.dlg->m_pPDUpdateDlg;

    const std::string file = f.programDir.file("pd.bin");
    std::ofstream(file, std::ios::binary) << std::string(16384, '\x5A');
    bool opened = false;
    whenModalOpens<CPDUpdateDlg>([&](CPDUpdateDlg& dlg) {
        opened = true;
        EXPECT_EQ(dlg.m_strPDFilePath, "old.bin");
        dlg.control<QCheckBox>(IDC_CHECK_MCU_FWUPG_ENABLE)->click();
        dlg.control<QCheckBox>(IDC_CHECK_PD_FWUPG_ENABLE)->click();
        f.pickers.queueAnswer(file);
        dlg.control<QPushButton>(IDC_BUTTON_FIRMWARE_FWBROWSE)->click();
        dlg.control<QPushButton>(IDC_PD_CLOSE)->click();
    });
    f.dlg->sendCommand(IDC_BUTTON_PD);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(startWindow.expired());
    EXPECT_EQ(pIni.m_pINI.pd_binary_name.str(), file);
    EXPECT_EQ(pIni.m_pINI.mcu_fw_enable, 1);
    EXPECT_EQ(pIni.m_pINI.pd_fw_enable, 1);

    // Nothing modal opens on the command line.
    f.dlg->m_iRunMode = 0;
    f.dlg->sendCommand(IDC_BUTTON_PD);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace krv::test
