// The engineering buttons "Btn 1", "test" and "PD" on a bench. Start-up
// hides them, so these tests press them the way a click would reach the
// window: through its command path.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "device/Krv857xPcieCtrl.h"
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

}  // namespace
}  // namespace krv::test
