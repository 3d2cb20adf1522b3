// The PD/MCU update dialog offscreen on a bench of four drives (real time at
// the bench's scale): the file is chosen, Start runs one worker per row, the
// operator power-cycles each drive when asked, and the rows end with their
// progress and colours: PASS, a read-back that differs, and a controller
// the file does not fit. A picture of the dialog is saved for people.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "app/PDUpdateDlg.h"
#include "device/KrvnUSBDev.h"
#include "tests/app/VIVadeDlgTestSupport.h"
#include "tests/device/DiscoveryBenchSupport.h"
#include "tests/device/PdFileSupport.h"
#include "tests/ui/UiTestSupport.h"

namespace krv::test {
namespace {

bench::BenchSettings fourDrives()
{
    bench::BenchSettings settings;
    settings.timeScale = 50;
    settings.ports.resize(4);
    const bench::PdChip chips[] = {bench::PdChip::Richtek, bench::PdChip::Richtek, bench::PdChip::Richtek,
                                   bench::PdChip::Cypress};
    for (size_t i = 0; i < 4; ++i) {
        settings.ports[i].pd = chips[i];
        settings.ports[i].relinkMs = 3000;
    }
    return settings;
}

TEST(PDUpdateDlg, StartFlashesEveryRowToItsEndAndThePictureShowsIt)
{
    DlgFixture f(fourDrives(), BenchTime::Real);
    scanBench(g_UsbDev, f.dlg->m_DevList);
    ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 4);
    // Which bench port each row's drive is on.
    std::map<int, int> portOfRow;
    for (int row = 0; row < 4; ++row)
        for (int port = 1; port <= 4; ++port)
            if (f.bench.physicalDrive(port) == f.dlg->m_DevList.Devs[row].m_ucPhysicalAddress)
                portOfRow[row] = port;
    ASSERT_EQ(portOfRow.size(), 4u);
    // The drive on port 3 gives back one byte wrong.
    bench::Fault corrupt;
    corrupt.kind = bench::FaultKind::Corrupt;
    corrupt.cdbPrefix = {0xEC, 0x06};
    corrupt.after = 100;
    std::string outcome;
    ASSERT_TRUE(f.bench.devices().addFault(3, corrupt, outcome)) << outcome;

    CPDUpdateDlg pd(f.dlg->m_DevList, &f.pickers);
    pd.m_ucPDEnable = 1;
    pd.OnInitDialog();
    for (int row = 0; row < 4; ++row) {
        EXPECT_TRUE(pd.isControlShown(1126 + (row ? 11 + row : 0))) << row;
        EXPECT_EQ(pd.strStatusText(row), "Ready") << row;
    }
    EXPECT_TRUE(pd.isControlEnabled(IDC_BUTTON_PD_START));

    const std::vector<uint8_t> image = richtekImage(0xEF, 0xBE);
    const std::string file = f.programDir.file("pd.bin");
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 16384);
    f.pickers.queueAnswer(file);
    pd.OnBnClickedButtonFirmwareFwbrowse();
    EXPECT_EQ(pd.controlText(IDC_STATIC_PD_FILE_VERSION), "beef");

    pd.show();
    pd.OnBnClickedButtonPdStart();
    EXPECT_FALSE(pd.isControlEnabled(IDC_PD_CLOSE)) << "the rows are the workers' while they run";
    std::set<int> cycled;
    std::map<int, std::set<int>> progressSeen;
    ASSERT_TRUE(runEventsUntil(
        [&] {
            for (int row = 0; row < 4; ++row)
                progressSeen[row].insert(pd.nProgress(row));
            // The operator power-cycles each drive that asks.
            for (const auto& record : f.messages.records())
                for (int row = 0; row < 4; ++row)
                    if (record.text == "Please power cycling Your [" + std::to_string(row) + " ]device!!!" &&
                        cycled.insert(row).second) {
                        bench::BenchCommand command;
                        command.verb = "power-cycle";
                        command.port = portOfRow[row];
                        std::string why;
                        EXPECT_TRUE(f.bench.bench().apply(command, why)) << why;
                    }
            return pd.nRunningWorkers() == 0;
        },
        std::chrono::seconds(120)));
    runEventsUntil([] { return false; }, std::chrono::milliseconds(200));

    const int failedRow = [&] {
        for (const auto& [row, port] : portOfRow)
            if (port == 3)
                return row;
        return -1;
    }();
    for (int row = 0; row < 4; ++row) {
        const int port = portOfRow[row];
        if (port == 4) {
            EXPECT_EQ(pd.strStatusText(row), "Mis-Match") << row;
            EXPECT_EQ(pd.statusColor(row), ui::rgb(255, 165, 0)) << row;
            continue;
        }
        EXPECT_EQ(pd.nProgress(row), 100) << row;
        EXPECT_GT(progressSeen[row].size(), 2u) << "the bar moved on its way: row " << row;
        if (row == failedRow) {
            EXPECT_EQ(pd.strStatusText(row), "FAIL") << row;
            EXPECT_EQ(pd.statusColor(row), ui::rgb(255, 0, 0));
            EXPECT_EQ(pd.barColor(row), ui::rgb(232, 20, 20));
        } else {
            EXPECT_EQ(pd.strStatusText(row), "PASS") << row;
            EXPECT_EQ(pd.statusColor(row), ui::rgb(0, 255, 0));
            EXPECT_EQ(pd.barColor(row), ui::rgb(20, 232, 20));
            EXPECT_EQ(pd.strRowVersion(row), "BEEF") << row;
        }
    }
    EXPECT_TRUE(pd.isControlEnabled(IDC_PD_CLOSE));

    const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
    std::filesystem::create_directories(folder);
    const QImage picture = pd.grab().toImage();
    ASSERT_FALSE(picture.isNull());
    ASSERT_TRUE(picture.save(QString::fromStdString(folder + "/pd-update-dialog.png")));
}

}  // namespace
}  // namespace krv::test
