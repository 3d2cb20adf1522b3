// A run owns what it gave its ports and what they found: a scan asked for
// during the run, an Exit in the middle of it, a drive that never comes back
// from its reset and the automatic safe removal at its end never make a port
// write another image, hand a serial number out twice, log another drive, or
// let a new run start on drives that are being parked.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/ResultColumns.h"
#include "app/VIVadeDlg.h"
#include "device/USBUtility.h"
#include "platform/bench/bridge/CommandLog.h"
#include "tests/app/VIVadeDlgRunSupport.h"

namespace krv::test {
namespace {

namespace fs = std::filesystem;

// The day's log: Target, Port#, HDD_SN ... UpdateFWResult, ReloadFWResult.
constexpr size_t kLogHddSerial = 4;
constexpr size_t kLogUpdateResult = 28;
constexpr size_t kLogReloadResult = 29;

std::vector<std::string> cellsOf(const std::string& line)
{
    std::vector<std::string> cells;
    size_t from = 0;
    for (size_t at; (at = line.find('\t', from)) != std::string::npos; from = at + 1)
        cells.push_back(line.substr(from, at - from));
    cells.push_back(line.substr(from));
    return cells;
}

// The value of `key` in the settings file as stored.
std::string storedSetting(const std::string& path, const std::string& key)
{
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos)
        return "(no " + key + ")";
    const size_t from = at + key.size() + 2;
    return text.substr(from, text.find_first_of("\r\n", from) - from);
}

std::string bridgeLog(RunFixture& f, int port)
{
    std::string log;
    for (const bench::LogEntry& entry : f.bench.devices().log(port))
        log += bench::formatLogEntry(entry) + "\n";
    return log;
}

// A scan asked for while the ports write their bridges (a device notice, a
// rescan) finds the run's token and leaves the table alone: the port writes
// the image Start built for it, with its serial number, and passes.
TEST(RunOwnership, AScanAskedForDuringTheRunLeavesWhatThePortsWrite)
{
    // Slow commands: the update is still going on when the scan would walk.
    RunFixture f(2, [](bench::BenchSettings& s) {
        for (auto& port : s.ports)
            port.commandMs = 40;
    });
    f.scanAndStart();
    const int nScansBefore = f.dlg->nScanRequests;
    f.dlg->TriggerScanThread();
    f.waitForTheEnd();
    ASSERT_GT(f.dlg->nScanRequests, nScansBefore);

    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(f.cell(row, RESULT_COL_UPDATE), "PASS") << row;
        EXPECT_EQ(f.cell(row, RESULT_COL_RELINK), "PASS") << row;
        EXPECT_EQ(f.cell(row, RESULT_COL_PRELOAD), "PASS") << row;
        EXPECT_EQ(f.cell(row, RESULT_COL_VID), "1A2B") << row;
    }
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_PASS_COUNT), "2");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_FAIL_COUNT), "0");
    // Each bridge runs the serial number its port was given.
    std::set<std::string> serials;
    for (int row = 0; row < 2; ++row)
        serials.insert(f.cell(row, RESULT_COL_SN));
    EXPECT_EQ(serials, (std::set<std::string>{"AAAABBBB0001", "AAAABBBB0002"}));
}

// Exit while the ports already wrote their serial numbers: the settings file
// counts them as used, so the next start of the tool writes new ones.
TEST(RunOwnership, ExitMidRunLeavesTheWrittenSerialNumbersCounted)
{
    RunFixture f(2);
    f.scanAndStart();
    ASSERT_TRUE(runEventsUntil([&] {
        return f.cell(0, RESULT_COL_UPDATE) == "PASS" && f.cell(1, RESULT_COL_UPDATE) == "PASS";
    }));
    f.dlg->OnBnClickedOk();
    ASSERT_TRUE(f.runUntilEnded());
    EXPECT_EQ(storedSetting(f.iniPath(), "serial_number"), "AAAABBBB0003");
}

// A run whose serial numbers cannot be stored as used never starts: nothing
// is written to a bridge, and Start works again.
TEST(RunOwnership, AStartWhoseSerialNumbersCannotBeStoredWritesNothing)
{
    RunFixture f(1);
    f.dlg->OnInitDialog();
    f.dlg->show();
    ASSERT_TRUE(runEventsUntil([&] { return f.dlg->m_DevList.DevNums == 1 && f.scanOver(); }));
    // A folder in the settings file's place: the store cannot replace it.
    fs::remove(f.iniPath());
    fs::create_directory(f.iniPath());
    const size_t nCommands = f.bench.devices().log(1).size();
    f.dlg->sendCommand(IDC_BUTTON_START);

    EXPECT_EQ(f.dlg->m_pMainThread, nullptr);
    EXPECT_EQ(f.dlg->m_bRunning, 0);
    // The store says what it could not write, Start why it refuses.
    ASSERT_FALSE(f.boxes().empty());
    EXPECT_NE(f.boxes().back().find("serial numbers"), std::string::npos) << ::testing::PrintToString(f.boxes());
    EXPECT_EQ(f.bench.devices().log(1).size(), nCommands) << bridgeLog(f, 1);
}

// A drive that never comes back from its reset has its own FAIL row in the
// day's log, and no other drive is logged twice or takes its results.
TEST(RunOwnership, ADriveThatNeverComesBackIsLoggedAsItselfWithItsFailure)
{
    constexpr int kDrives = 3;
    constexpr int kGone = 2;
    RunFixture f(kDrives);
    std::map<int, std::string> diskSerialOfPort;
    f.scanAndStart([&] {
        for (int slot = 0; slot < kDrives; ++slot) {
            const DevInfo& dev = f.dlg->m_DevList.Devs[slot];
            diskSerialOfPort[f.bench.physicalDrive(1) == dev.m_ucPhysicalAddress   ? 1
                             : f.bench.physicalDrive(2) == dev.m_ucPhysicalAddress ? 2
                                                                                   : 3] = dev.m_strHDDSN;
        }
        bench::BenchCommand fault{"fault", kGone, {{"kind", "no-return"}}};
        std::string outcome;
        ASSERT_TRUE(f.bench.bench().apply(fault, outcome)) << outcome;
    });
    f.waitForTheEnd();
    ASSERT_EQ(diskSerialOfPort.size(), 3u);
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_PASS_COUNT), "2");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_FAIL_COUNT), "1");

    const std::vector<std::string> lines = f.dayLogLines();
    ASSERT_EQ(lines.size(), 1u + kDrives) << ::testing::PrintToString(lines);
    std::map<std::string, std::vector<std::string>> rowOfDisk;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> cells = cellsOf(lines[i]);
        ASSERT_GT(cells.size(), kLogReloadResult) << lines[i];
        EXPECT_EQ(rowOfDisk.count(cells[kLogHddSerial]), 0u) << "logged twice: " << lines[i];
        rowOfDisk[cells[kLogHddSerial]] = cells;
    }
    for (const auto& [port, serial] : diskSerialOfPort) {
        SCOPED_TRACE("port " + std::to_string(port) + " disk " + serial);
        ASSERT_EQ(rowOfDisk.count(serial), 1u);
        EXPECT_EQ(rowOfDisk[serial][kLogUpdateResult], "PASS");
        EXPECT_EQ(rowOfDisk[serial][kLogReloadResult], port == kGone ? "FAIL" : "PASS");
    }
}

// The automatic safe removal belongs to the run: Start does nothing while it
// parks the drives, and comes back only once it has ended.
TEST(RunOwnership, StartComesBackOnlyAfterTheAutomaticRemovalHasParkedTheDrives)
{
    RunFixture f(2);
    f.writeSettings([&](IniRecord& r) {
        setRunSettings(r, f.programDir.path());
        r.fw_enable = 0;
        r.fw_reload = 0;
        r.preload_enable = 0;
        r.wr_test_enable = 1;
        r.wr_test_binary_name.set("wrtest.bin");
        r.wr_test_count = 1;
        r.Auto_Safe_Remove = 1;
        r.uiRemove_after_finish = 0;
    });
    f.scanAndStart();
    const auto* pSupervisor = f.dlg->m_pMainThread.get();
    ASSERT_TRUE(runEventsUntil([&] { return f.dlg->m_pRemoveThread && f.dlg->m_pRemoveThread->bIsRunning(); }));
    f.dlg->sendCommand(IDC_BUTTON_START);
    EXPECT_EQ(f.dlg->m_pMainThread.get(), pSupervisor) << "a second run started while the drives were parked";
    f.waitForTheEnd();
    EXPECT_FALSE(f.dlg->m_pRemoveThread->bIsRunning());
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_PASS_COUNT), "2");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_FAIL_COUNT), "0");
}

}  // namespace
}  // namespace krv::test
