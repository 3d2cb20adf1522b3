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
#include "app/VIVadeDlgThreads.h"
#include "device/KrvnUSBDev.h"
#include "platform/bench/bridge/CommandLog.h"
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

// A Richtek ".bin" is exactly 16384 bytes. One of another size is refused
// with a box whether it comes from the settings when the dialog opens or
// from the picker; it gives no version and Start does not take it. The PD
// picker offers ".cyacd" twice and all files.
TEST(PDUpdateDlg, AWrongSizeBinIsRefusedWithABoxAtOpeningAndWhenChosen)
{
    DlgFixture f(oneDrive(bench::PdChip::Richtek), BenchTime::Real);
    scanBench(g_UsbDev, f.dlg->m_DevList);
    ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 1);
    const std::vector<uint8_t> image = richtekImage(0xEF, 0xBE);
    auto write = [&](const std::string& name, size_t size) {
        const std::string file = f.programDir.file(name);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                    static_cast<std::streamsize>(size));
        return file;
    };
    const std::string shortFile = write("short.bin", 16383);
    const std::string good = write("good.bin", 16384);
    const std::string sizeBox = "The PD FW file size is uncompatibie!!!";

    CPDUpdateDlg pd(f.dlg->m_DevList, &f.pickers);
    pd.m_ucPDEnable = 1;
    pd.m_strPDFilePath = shortFile;
    pd.OnInitDialog();
    EXPECT_EQ(messageTexts(f), std::vector<std::string>{sizeBox});
    EXPECT_EQ(pd.m_strPDFileVersion, PD_VERSION_NONE);
    EXPECT_EQ(pd.controlText(IDC_STATIC_PD_FILE_VERSION), "FFFF");
    EXPECT_TRUE(f.bench.capture().contains("The PD FW file size is uncompatibie!!! [3fff]"));

    f.pickers.queueAnswer(good);
    pd.OnBnClickedButtonFirmwareFwbrowse();
    EXPECT_EQ(pd.controlText(IDC_STATIC_PD_FILE_VERSION), "beef");
    const std::string longFile = write("long.bin", 16384);
    std::ofstream(longFile, std::ios::binary | std::ios::app).put('\0');
    f.pickers.queueAnswer(longFile);
    pd.OnBnClickedButtonFirmwareFwbrowse();
    EXPECT_EQ(messageTexts(f), (std::vector<std::string>{sizeBox, sizeBox}));
    EXPECT_EQ(pd.m_strPDFilePath, good) << "the refused file is not taken";
    EXPECT_EQ(pd.controlText(IDC_STATIC_PD_FILE_VERSION), "beef");

    const std::vector<krv::ui::PickerRequest> asked = f.pickers.requests();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].filter, "PD Files (*.cyacd)|*.cyacd| PD Files (*.cyacd)|*.cyacd| All Files (*.*)|*.*||");
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
    // Each prompt of the dialog's opening is answered once: by the power
    // cycles the port has had (a prompt may come before this is called).
    auto cycles = [&] {
        size_t n = 0;
        for (const bench::LogEntry& entry : f.bench.devices().log(1))
            n += entry.kind == bench::LogEntry::Kind::Event && entry.note.rfind("power cycle:", 0) == 0;
        return n;
    };
    ASSERT_TRUE(runEventsUntil(
        [&] {
            if (prompts() > cycles()) {
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
// refused before any worker starts. After an update it runs bank 2, and the
// dialog knows it.
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

    // The update switches the controller to bank 2: in the same opening,
    // Verify then judges the file against the bank it runs now.
    pd.OnBnClickedButtonPdStart();
    runWorkers(f, pd);
    ASSERT_EQ(pd.strStatusText(0), "PASS");
    const size_t before = messageTexts(f).size();
    pd.OnBnClickedButtonPdFwVerify();
    EXPECT_EQ(pd.nRunningWorkers(), 0);
    ASSERT_EQ(messageTexts(f).size(), before + 1);
    EXPECT_EQ(messageTexts(f).back(),
              "PD File is not suitable PD Chip IMAGE!!!\nPlease try to Set correct PD Chip or load correct PD File");
    choose(0x30);
    pd.OnBnClickedButtonPdFwVerify();
    EXPECT_EQ(pd.nRunningWorkers(), 1);
    runWorkers(f, pd);
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

// The bench port each row's drive sits on.
std::map<int, int> portsOfRows(DlgFixture& f, int nPorts)
{
    std::map<int, int> portOfRow;
    for (int row = 0; row < f.dlg->m_DevList.DevNums.load(); ++row)
        for (int port = 1; port <= nPorts; ++port)
            if (f.bench.physicalDrive(port) == f.dlg->m_DevList.Devs[row].m_ucPhysicalAddress)
                portOfRow[row] = port;
    return portOfRow;
}

// Runs the dialog's workers to their end; the operator power-cycles the
// drive of each row that asks, on the row's own port.
void runRows(DlgFixture& f, CPDUpdateDlg& pd, const std::map<int, int>& portOfRow)
{
    auto prompts = [&](int row) {
        size_t asked = 0;
        for (const auto& record : f.messages.records())
            asked += record.text == "Please power cycling Your [" + std::to_string(row) + " ]device!!!";
        return asked;
    };
    std::map<int, size_t> answered;
    for (const auto& [row, port] : portOfRow)
        answered[row] = prompts(row);
    ASSERT_TRUE(runEventsUntil(
        [&] {
            for (const auto& [row, port] : portOfRow) {
                if (prompts(row) > answered[row]) {
                    ++answered[row];
                    bench::BenchCommand command;
                    command.verb = "power-cycle";
                    command.port = port;
                    std::string why;
                    EXPECT_TRUE(f.bench.bench().apply(command, why)) << why;
                }
            }
            return pd.nRunningWorkers() == 0;
        },
        std::chrono::seconds(120)));
    runEventsUntil([] { return false; }, std::chrono::milliseconds(200));
}

size_t richtekWrites(DlgFixture& f, int port)
{
    size_t writes = 0;
    for (const bench::LogEntry& e : f.bench.devices().log(port))
        writes += e.kind == bench::LogEntry::Kind::Command && e.cdb.size() > 1 && e.cdb[0] == 0xEC && e.cdb[1] == 0x01;
    return writes;
}

std::string richtekFile(DlgFixture& f)
{
    const std::vector<uint8_t> image = richtekImage(0xEF, 0xBE);
    const std::string file = f.programDir.file("pd.bin");
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 16384);
    return file;
}

// Each row's drive is the one on its bridge's port, however the host shows
// its serial and whatever serial another bridge has: every drive is flashed
// once, by its own row, is found again after its power cycle and passes.
// Each row says which drive it is, so the prompt can be acted on.
TEST(PDUpdateDlg, EachRowFlashesTheDriveOnItsOwnPortWhateverItsSerial)
{
    struct Case {
        const char* name;
        int ports;
        void (*set)(bench::PortSettings&);
        std::vector<const char*> serials;
    } cases[] = {
        {"usb serial in lower case", 1, [](bench::PortSettings& p) { p.usbSerial = bench::UsbSerialForm::Lower; }, {}},
        {"storage serial as hex", 1, [](bench::PortSettings& p) { p.storageSerial = bench::StorageSerialForm::Hex; },
         {}},
        {"uas reporting the unit serial", 1,
         [](bench::PortSettings& p) {
             p.storageDriver = bench::StorageDriver::Uas;
             p.unitSerial = bench::UnitSerial::Disk;
         },
         {}},
        {"two bridges with one serial", 2, [](bench::PortSettings&) {}, {"FRESH0001", "FRESH0001"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bench::BenchSettings settings;
        settings.timeScale = 50;
        settings.ports.resize(c.ports);
        for (bench::PortSettings& port : settings.ports) {
            port.pd = bench::PdChip::Richtek;
            port.relinkMs = 3000;
            port.renumber = true;
            c.set(port);
        }
        std::vector<bench::PortStart> starts;
        for (const char* serial : c.serials) {
            bench::PortStart start;
            start.serial = serial;
            starts.push_back(start);
        }
        DlgFixture f(settings, starts, BenchTime::Real);
        scanBench(g_UsbDev, f.dlg->m_DevList);
        ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), c.ports);
        const std::map<int, int> portOfRow = portsOfRows(f, c.ports);
        ASSERT_EQ(portOfRow.size(), static_cast<size_t>(c.ports));

        CPDUpdateDlg pd(f.dlg->m_DevList, &f.pickers);
        pd.m_ucPDEnable = 1;
        pd.m_strPDFilePath = richtekFile(f);
        pd.OnInitDialog();
        std::set<std::string> drives;
        for (const auto& [row, port] : portOfRow) {
            const DevInfo& dev = f.dlg->m_DevList.Devs[row];
            EXPECT_EQ(pd.strRowDrive(row), "[" + std::to_string(row) + "] Port " +
                                               std::to_string(dev.m_iPortLocation) + "  SN " + dev.m_strSerialNumber);
            drives.insert(pd.strRowDrive(row));
        }
        EXPECT_EQ(drives.size(), portOfRow.size()) << "each row names its own drive";
        // Twice: the second run finds the drives under their new numbers.
        for (int run = 0; run < 2; ++run) {
            pd.OnBnClickedButtonPdStart();
            runRows(f, pd, portOfRow);
            for (const auto& [row, port] : portOfRow) {
                EXPECT_EQ(pd.strStatusText(row), "PASS") << "row " << row << " run " << run;
                EXPECT_EQ(pd.strRowVersion(row), "BEEF") << "row " << row;
                EXPECT_EQ(richtekWrites(f, port), 4096u * (run + 1)) << "port " << port << " run " << run;
            }
        }
    }
}

// The operator closes the dialog while its worker runs: in the middle of the
// flash, or while it waits for the power cycle. The worker hears the stop,
// is joined when the dialog goes, and touches the drive no more.
TEST(PDUpdateDlg, ClosingTheDialogStopsAndJoinsItsWorkers)
{
    for (const bool bMidFlash : {true, false}) {
        SCOPED_TRACE(bMidFlash ? "mid flash" : "waiting for the power cycle");
        bench::BenchSettings settings = oneDrive(bench::PdChip::Richtek);
        settings.timeScale = 1;
        settings.ports[0].commandMs = bMidFlash ? 2 : 0;
        settings.ports[0].relinkMs = 200;
        DlgFixture f(settings, BenchTime::Real);
        scanBench(g_UsbDev, f.dlg->m_DevList);
        ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 1);
        CThreadSet threads;
        auto pd = std::make_unique<CPDUpdateDlg>(f.dlg->m_DevList, &f.pickers, nullptr, &threads);
        pd->m_ucPDEnable = 1;
        pd->m_strPDFilePath = richtekFile(f);
        pd->OnInitDialog();
        pd->OnBnClickedButtonPdStart();
        ASSERT_EQ(threads.vecRunningNames(), std::vector<std::string>{"PD worker 0"});
        ASSERT_TRUE(runEventsUntil(
            [&] {
                return bMidFlash ? richtekWrites(f, 1) > 50 : !f.messages.records().empty();
            },
            std::chrono::seconds(60)));
        pd.reset();
        EXPECT_TRUE(threads.vecRunningNames().empty());
        auto commands = [&] {
            size_t n = 0;
            for (const bench::LogEntry& e : f.bench.devices().log(1))
                n += e.kind == bench::LogEntry::Kind::Command;
            return n;
        };
        const size_t before = commands();
        EXPECT_LT(richtekWrites(f, 1), bMidFlash ? 4096u : 4097u);
        // The drive comes back from a power cycle: nobody is left to use it.
        bench::BenchCommand command;
        command.verb = "power-cycle";
        command.port = 1;
        std::string why;
        ASSERT_TRUE(f.bench.bench().apply(command, why)) << why;
        runEventsUntil([] { return false; }, std::chrono::milliseconds(1500));
        EXPECT_EQ(commands(), before) << "no command after the dialog went";
    }
}

// Start and the pd button make the PD window anew, but never while the one
// there still runs workers; those run in the window's own threads.
TEST(PDUpdateDlg, AWindowWithRunningWorkersIsNeverReplaced)
{
    bench::BenchSettings settings = oneDrive(bench::PdChip::Richtek);
    DlgFixture f(settings, BenchTime::Real);
    scanBench(g_UsbDev, f.dlg->m_DevList);
    ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 1);
    pIni.m_pINI.pd_fw_enable = 1;
    pIni.m_pINI.pd_binary_name.set(richtekFile(f));
    ASSERT_TRUE(f.dlg->bCreatePDUpdateWindow());
    const std::shared_ptr<CPDUpdateDlg> first = f.dlg->m_pPDUpdateDlg;
    first->OnBnClickedButtonPdStart();
    ASSERT_EQ(first->nRunningWorkers(), 1);
    EXPECT_EQ(f.dlg->m_Threads.vecRunningNames(), std::vector<std::string>{"PD worker 0"});
    EXPECT_FALSE(f.dlg->bCreatePDUpdateWindow());
    EXPECT_EQ(f.dlg->m_pPDUpdateDlg, first);
    runWorkers(f, *first);
    EXPECT_EQ(first->strStatusText(0), "PASS");
    EXPECT_TRUE(f.dlg->bCreatePDUpdateWindow());
    EXPECT_NE(f.dlg->m_pPDUpdateDlg, first);
}

}  // namespace
}  // namespace krv::test
