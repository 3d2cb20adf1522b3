// A production run in the window, as an operator sees it: a scan of a bench
// of four drives fills the table, Start runs every step (firmware and
// configuration update, reload, partition and format, write/read test,
// preload) on real time at the bench's scale, and the finished window shows
// PASS in every step cell, the counters, 100 % and the pass picture, with a
// row per drive in the day's result log. A picture of the finished window
// is saved for people to look at (build folder, screenshots/).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <QImage>

#include "app/ResultLog.h"
#include "controls/ListCtrlEx.h"
#include "controls/TextProgressCtrl.h"
#include "device/KrvnUSBDev.h"
#include "tests/app/VIVadeDlgRunSupport.h"

namespace krv::test {
namespace {

constexpr int kDrives = 4;
constexpr int kStepColumns[] = {RESULT_COL_UPDATE, RESULT_COL_RELINK, RESULT_COL_PARTITION, RESULT_COL_RW_TEST,
                                RESULT_COL_PRELOAD};

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> split(const std::string& text, const std::string& by)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = text.find(by, from)) != std::string::npos; from = at + by.size())
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

TEST(VIVadeDlgRun, StartOnFourDrivesRunsToTheEndAndTheWindowShowsEveryPass)
{
    RunFixture f(kDrives);
    f.runToTheEnd();
    EXPECT_TRUE(f.boxes().empty()) << ::testing::PrintToString(f.boxes());

    for (int row = 0; row < MAX_DEV_SLOTS; ++row) {
        for (int column : kStepColumns) {
            EXPECT_EQ(f.cell(row, column), row < kDrives ? "PASS" : "") << "row " << row << " column " << column;
        }
    }
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_PASS_COUNT), "4");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_FAIL_COUNT), "0");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_TOTAL_COUNT), "4");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_PROGRESS), "100 %");
    EXPECT_TRUE(f.dlg->isControlShown(IDC_PICTURE_PASS));
    EXPECT_FALSE(f.dlg->isControlShown(IDC_PICTURE_FAIL));
    EXPECT_TRUE(f.dlg->isControlEnabled(IDC_BUTTON_START));

    // The day's result log: the header, then one row per drive, in the
    // order of the ports, every step passed.
    std::vector<std::string> logs;
    for (const auto& entry : std::filesystem::directory_iterator(f.programDir.path()))
        if (std::regex_match(entry.path().filename().string(), std::regex(R"(\d{8}\.log)")))
            logs.push_back(entry.path().string());
    ASSERT_EQ(logs.size(), 1u);
    const std::vector<std::string> lines = split(readText(logs[0]), "\r\n");
    ASSERT_EQ(lines.size(), 1u + kDrives) << readText(logs[0]);
    EXPECT_EQ(lines[0], strMPResultHeader());
    for (int drive = 0; drive < kDrives; ++drive) {
        const std::vector<std::string> cells = split(lines[1 + drive], "\t");
        ASSERT_GE(cells.size(), 33u) << lines[1 + drive];
        EXPECT_EQ(cells[2], "0" + std::to_string(drive));
        for (int result = 28; result < 33; ++result)
            EXPECT_EQ(cells[result], "PASS") << "drive " << drive << " result " << result;
    }

    const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
    std::filesystem::create_directories(folder);
    const QImage image = f.dlg->grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(QString::fromStdString(folder + "/production-run.png")));
}

// The run's bar moves one step per poll of the supervisor, whatever the
// ports have done; the operator must read one progress figure on the
// screen, the ports' mean, in the "Progress" text and on the bar alike.
TEST(VIVadeDlgRun, TheBarCarriesTheRunsProgressFigureWhereverItsPositionIs)
{
    RunFixture f(kDrives);
    f.scanAndStart();
    CTextProgressCtrl& bar = *f.dlg->m_ProgressRun;
    std::vector<std::string> disagreements;
    int nPositionElsewhere = 0;  // looks where the position is not the figure
    ASSERT_TRUE(runEventsUntil(
        [&] {
            const std::string text = f.dlg->controlText(IDC_EDIT_PROGRESS);
            if (bar.GetDisplayText() != text)
                disagreements.push_back("bar \"" + bar.GetDisplayText() + "\" at " + std::to_string(bar.GetPos()) +
                                        ", text \"" + text + "\"");
            if (bar.GetPos() != std::atoi(text.c_str()))
                ++nPositionElsewhere;
            return f.dlg->m_bRunning == 0 && (!f.dlg->m_pMainThread || !f.dlg->m_pMainThread->bIsRunning());
        },
        std::chrono::seconds(120)));
    EXPECT_GT(nPositionElsewhere, 0) << "the bar's position never left the figure: nothing was checked";
    EXPECT_TRUE(disagreements.empty()) << disagreements.size() << " looks, the first: " << disagreements.front();
    EXPECT_EQ(bar.GetPos(), 100);
    EXPECT_EQ(bar.GetDisplayText(), "100 %");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_PROGRESS), "100 %");
}

// The results of a finished run stay until the next Start: a drive pulled
// after the run brings a rescan, which empties that drive's identity cells
// and leaves every step cell as the run left it.
TEST(VIVadeDlgRun, ARescanAfterTheRunLeavesItsResults)
{
    RunFixture f(kDrives);
    f.runToTheEnd();
    ASSERT_EQ(f.cell(3, RESULT_COL_PRELOAD), "PASS");

    const int scansBefore = f.dlg->nScanRequests;
    ASSERT_TRUE(f.bench.unplug(kDrives));
    ASSERT_TRUE(runEventsUntil([&] {
        return f.dlg->nScanRequests > scansBefore && f.dlg->m_DevList.DevNums == kDrives - 1 && f.scanOver() &&
               f.cell(3, RESULT_COL_VID).empty();
    }));
    for (int row = 0; row < kDrives; ++row) {
        EXPECT_EQ(f.cell(row, RESULT_COL_VID), row < kDrives - 1 ? "1A2B" : "") << row;
        for (int column : kStepColumns)
            EXPECT_EQ(f.cell(row, column), "PASS") << "row " << row << " column " << column;
    }
}

}  // namespace
}  // namespace krv::test
