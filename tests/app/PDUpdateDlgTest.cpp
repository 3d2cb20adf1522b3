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

bench::BenchSettings oneDrive(bench::PdChip chip, bench::McuChip mcu = bench::McuChip::None)
{
    bench::BenchSettings settings;
    settings.timeScale = 50;
    settings.ports.resize(1);
    settings.ports[0].pd = chip;
    settings.ports[0].mcu = mcu;
    settings.ports[0].relinkMs = 3000;
    return settings;
}

std::vector<std::string> messageTexts(const DlgFixture& f)
{
    std::vector<std::string> texts;
    for (const auto& record : f.messages.records())
        texts.push_back(record.text);
    return texts;
}

// Runs the dialog's workers to their end; the operator power-cycles the
// drive on port 1 when asked.
void runWorkers(DlgFixture& f, CPDUpdateDlg& pd)
{
    auto prompts = [&] {
        size_t n = 0;
        for (const auto& record : f.messages.records())
            n += record.text == "Please power cycling Your [0 ]device!!!";
        return n;
    };
    size_t answered = prompts();
    ASSERT_TRUE(runEventsUntil(
        [&] {
            if (prompts() > answered) {
                ++answered;
                bench::BenchCommand command;
                command.verb = "power-cycle";
                command.port = 1;
                std::string why;
                EXPECT_TRUE(f.bench.bench().apply(command, why)) << why;
            }
            return pd.nRunningWorkers() == 0;
        },
        std::chrono::seconds(120)));
    runEventsUntil([] { return false; }, std::chrono::milliseconds(200));
}

// A CCG3 controller runs bank 1 as it leaves the factory: Verify takes only
// an image for the other bank (its first data row 0x200); one for bank 1 is
// refused before any worker starts.
TEST(PDUpdateDlg, VerifyRefusesACcg3ImageForTheBankTheControllerRuns)
{
    DlgFixture f(oneDrive(bench::PdChip::Ccg3), BenchTime::Real);
    scanBench(g_UsbDev, f.dlg->m_DevList);
    ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 1);
    CPDUpdateDlg pd(f.dlg->m_DevList, &f.pickers);
    pd.m_ucPDEnable = 1;
    pd.OnInitDialog();
    EXPECT_EQ(pd.strStatusText(0), "Ready");
    EXPECT_EQ(pd.strRowVersion(0).substr(pd.strRowVersion(0).size() - 8), " \nBank 1");

    auto choose = [&](uint16_t firstRow) {
        const std::string file = f.programDir.file("ccg3-" + std::to_string(firstRow) + ".cyacd");
        std::ofstream(file, std::ios::binary) << cyacdImage("1D0311AD0000", firstRow, 4).text;
        f.pickers.queueAnswer(file);
        pd.OnBnClickedButtonFirmwareFwbrowse();
        ASSERT_EQ(pd.m_strPDFilePath, file);
    };
    choose(0x30);
    pd.OnBnClickedButtonPdFwVerify();
    EXPECT_EQ(pd.nRunningWorkers(), 0);
    EXPECT_EQ(messageTexts(f), std::vector<std::string>{"PD File is not suitable PD Chip IMAGE!!!\nPlease try to Set "
                                                        "correct PD Chip or load correct PD File"});
    EXPECT_EQ(pd.strStatusText(0), "Ready");

    choose(0x200);
    pd.OnBnClickedButtonPdFwVerify();
    EXPECT_EQ(pd.nRunningWorkers(), 1);
    runWorkers(f, pd);
    // Bank 2 is blank: the read-back differs from the image.
    EXPECT_EQ(pd.strStatusText(0), "FAIL");
    EXPECT_EQ(messageTexts(f).size(), 1u);
}

// The MCU beside a PD controller: its row shows "FFFF" for it, an update
// of the MCU alone flashes it and passes after the power cycle, and Verify
// then finds the file in its flash (and another file not), on the drive
// wherever it came back.
TEST(PDUpdateDlg, TheMcuRowUpdatesTheMcuAloneAndVerifiesIt)
{
    // The drive comes back from each power cycle under a new number.
    bench::BenchSettings settings = oneDrive(bench::PdChip::Richtek, bench::McuChip::Stm);
    settings.ports[0].renumber = true;
    DlgFixture f(settings, BenchTime::Real);
    scanBench(g_UsbDev, f.dlg->m_DevList);
    ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 1);
    {
        CPDUpdateDlg both(f.dlg->m_DevList, &f.pickers);
        both.m_ucPDEnable = 1;
        both.m_ucMCUEnable = 1;
        both.OnInitDialog();
        EXPECT_EQ(both.strRowVersion(0), "0001/FFFF");
    }
    std::vector<uint8_t> image(100);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 3 + 1);
    const std::string file = f.programDir.file("mcu.hex");
    std::ofstream(file, std::ios::binary) << mcuHexFile(image);

    CPDUpdateDlg pd(f.dlg->m_DevList, &f.pickers);
    pd.m_ucMCUEnable = 1;
    pd.m_strMCUFilePath = file;
    pd.OnInitDialog();
    EXPECT_EQ(pd.strRowVersion(0), "FFFF");
    EXPECT_EQ(pd.strStatusText(0), "Ready");
    pd.OnBnClickedButtonPdStart();
    runWorkers(f, pd);
    EXPECT_EQ(pd.strStatusText(0), "PASS");
    EXPECT_EQ(pd.nProgress(0), 100);

    pd.OnBnClickedButtonPdFwVerify();
    runWorkers(f, pd);
    EXPECT_EQ(pd.strStatusText(0), "PASS");

    image[50] ^= 0xFF;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << mcuHexFile(image);
    pd.OnBnClickedButtonPdFwVerify();
    runWorkers(f, pd);
    EXPECT_EQ(pd.strStatusText(0), "FAIL");
}

}  // namespace
}  // namespace krv::test
