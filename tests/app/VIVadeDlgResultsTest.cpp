// The results table: cell colours by mode and by result word, the row texts
// of a device table, the rendering of a 4-drive bench's table, and cell
// updates that come from worker threads.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include <QImage>

#include "controls/ListCtrlEx.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

constexpr ui::ColorRef kGreen = ui::rgb(0, 200, 0);
constexpr ui::ColorRef kRed = ui::rgb(255, 0, 0);
constexpr ui::ColorRef kBlue = ui::rgb(0, 0, 255);
constexpr ui::ColorRef kOrange = ui::rgb(255, 165, 0);
constexpr ui::ColorRef kPurple = ui::rgb(180, 0, 180);
constexpr ui::ColorRef kWhite = ui::rgb(255, 255, 255);
constexpr ui::ColorRef kBlack = ui::rgb(0, 0, 0);

TEST(VIVadeDlgResults, ACellsColoursComeFromItsModeAndItsResultWord)
{
    struct Case {
        uint8_t mode;
        const char* text;
        ui::ColorRef back;
        ui::ColorRef fore;
    };
    const Case cases[] = {
        {CELL_MODE_PLAIN, "pass", kGreen, kWhite},  // the word, in any case
        {CELL_MODE_GREEN, "FAIL", kGreen, kWhite},  // mode 1 wins over the word
        {CELL_MODE_RED, "Pass", kGreen, kWhite},    // the PASS word wins over mode 2
        {CELL_MODE_BLUE, "FAIL", kRed, kWhite},
        {CELL_MODE_RED, "", kRed, kWhite},
        {CELL_MODE_BLUE, "", kBlue, kWhite},
        {CELL_MODE_ORANGE, "SUPER", kOrange, kWhite},
        {CELL_MODE_PURPLE, "Gen3x2", kPurple, kWhite},
        {CELL_MODE_PLAIN, "PASSED", kWhite, kBlack},
        {0, "x", kWhite, kBlack},
    };
    for (const Case& c : cases) {
        const auto colors = CVIVadeDlg::stCellColors(c.mode, c.text);
        EXPECT_EQ(colors.crBack, c.back) << int(c.mode) << " " << c.text;
        EXPECT_EQ(colors.crText, c.fore) << int(c.mode) << " " << c.text;
    }
}

TEST(VIVadeDlgResults, RowTextsCapacityAndLinkNames)
{
    struct Capacity {
        uint64_t bytes;
        const char* text;
    };
    for (const Capacity c : {Capacity{1024ull << 20, "1024 MB"}, Capacity{1025ull << 20, "1 GB"},
                             Capacity{1907729ull << 20, "1863 GB"}, Capacity{DEV_CAPACITY_UNKNOWN, ""}})
        EXPECT_EQ(CVIVadeDlg::strCapacityText(c.bytes), c.text) << c.bytes;

    struct Mode {
        const char* speed;
        uint8_t u4Mode;
        uint8_t rowMode;
    };
    for (const Mode m : {Mode{"HIGH", 0, CELL_MODE_ORANGE}, Mode{"SUPERx2", 0, CELL_MODE_BLUE},
                         Mode{"PLUSx1", 0, CELL_MODE_BLUE}, Mode{"super", 0, CELL_MODE_ORANGE},
                         Mode{"Gen3x2", 2, CELL_MODE_PURPLE}, Mode{"HIGH", 1, CELL_MODE_BLUE},
                         Mode{"HIGH", 3, CELL_MODE_BLUE}, Mode{"PLUS", 0xFF, CELL_MODE_BLUE}})
        EXPECT_EQ(CVIVadeDlg::ucRowColorMode(m.speed, m.u4Mode), m.rowMode) << m.speed << " " << int(m.u4Mode);

    EXPECT_EQ(CVIVadeDlg::strGetLinkTypeName(2), "PCIE TNL");
    EXPECT_EQ(CVIVadeDlg::strGetLinkTypeName(4), "UNKNOW");
    EXPECT_EQ(CVIVadeDlg::strGetPcieLinkName(7), "Gen3x2");
    EXPECT_EQ(CVIVadeDlg::strGetPcieLinkName(3), "UNKNOW");
}

// Four drives as a scan leaves them: USB 3 legacy, USB 2, a USB4 PCIe tunnel
// and a TBT3 link; slot 4 stays empty.
void fillFourDrives(DevList& list)
{
    struct Drive {
        const char* speed;
        uint8_t u4Mode;
        uint8_t linkSpeed;
        uint8_t cc;
        uint64_t capacity;
    };
    const Drive drives[] = {
        {"PLUSx1", 0, 4, 1, 1907729ull << 20},
        {"HIGH", 0, 1, 0xFF, 1024ull << 20},
        {"Gen3x2", 2, 7, 2, DEV_CAPACITY_UNKNOWN},
        {"SUPER", 1, 5, 1, 500ull << 30},
    };
    list.DevNums = 4;
    for (int i = 0; i < 4; ++i) {
        DevInfo& d = list.Devs[i];
        d.m_ucPortIndex = static_cast<uint8_t>(i);
        d.m_strUSBSpeed = drives[i].speed;
        d.m_ucU4Mode = drives[i].u4Mode;
        d.m_ucLinkSpeed = drives[i].linkSpeed;
        d.m_ucCCOrientation = drives[i].cc;
        d.m_ullCapacity = drives[i].capacity;
        d.m_strVID = "2C4B";
        d.m_strPID = "857" + std::to_string(i + 1);
        d.m_strSerialNumber = "KRVBENCH00000000000" + std::to_string(i + 1);
        d.m_strFWVersion = "23060180010" + std::to_string(i);
    }
}

TEST(VIVadeDlgResults, ADeviceTableFillsItsRowsInTheirModes)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    fillFourDrives(f.dlg->m_DevList);
    f.dlg->vUpdateMainResultSubItemTable(1);
    CListCtrlEx& list = *f.dlg->m_ListMainResult;

    EXPECT_EQ(list.GetItemText(0, RESULT_COL_STATUS), "PLUSx1");
    EXPECT_EQ(list.GetItemText(0, RESULT_COL_CAPACITY), "1863 GB");
    EXPECT_EQ(list.GetItemText(0, RESULT_COL_U4_MODE), "Legacy");
    EXPECT_EQ(list.GetItemText(1, RESULT_COL_CC), "X");
    EXPECT_EQ(list.GetItemText(1, RESULT_COL_CAPACITY), "1024 MB");
    // On a USB4 link the status is the link's speed name.
    EXPECT_EQ(list.GetItemText(2, RESULT_COL_STATUS), "Gen3x2");
    EXPECT_EQ(list.GetItemText(2, RESULT_COL_CAPACITY), "");
    EXPECT_EQ(list.GetItemText(3, RESULT_COL_STATUS), "Gen2x2");
    EXPECT_EQ(list.GetItemText(3, RESULT_COL_U4_MODE), "TBT3");
    EXPECT_EQ(list.GetItemText(4, RESULT_COL_VID), "");

    auto back = [&](int row, int col) { return list.OnCustomDraw(row, col).clrTextBk; };
    EXPECT_EQ(back(0, RESULT_COL_VID), kBlue);
    EXPECT_EQ(back(1, RESULT_COL_VID), kOrange);
    EXPECT_EQ(back(2, RESULT_COL_VID), kPurple);
    EXPECT_EQ(back(3, RESULT_COL_SN), kBlue);
    EXPECT_EQ(back(0, RESULT_COL_CAPACITY), kWhite);

    // A clear leaves every cell but the port number empty and plain.
    f.dlg->vUpdateMainResultItemTable(0, RESULT_COL_UPDATE, "PASS", CELL_MODE_PLAIN);
    f.dlg->vClearMainResultSubItemTable();
    for (int row = 0; row < MAX_DEV_SLOTS; ++row) {
        EXPECT_EQ(list.GetItemText(row, 0), std::to_string(row));
        for (int col = 1; col <= RESULT_COL_PD; ++col) {
            EXPECT_EQ(list.GetItemText(row, col), "") << row << "," << col;
            if (row < 4) {
                EXPECT_EQ(back(row, col), kWhite) << row << "," << col;
            }
        }
    }
}

// Drives of one batch share the head of their serial and differ at its end:
// a serial too long for its column, in a font wider than the one the
// column's width was made for, keeps its first and its last characters.
TEST(VIVadeDlgResults, ASerialTooLongForItsColumnKeepsBothEnds)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    fillFourDrives(f.dlg->m_DevList);  // serials of 20 characters
    f.dlg->vUpdateMainResultSubItemTable(1);
    CListCtrlEx& list = *f.dlg->m_ListMainResult;
    QFont wide = list.font();
    wide.setPixelSize(16);
    list.setFont(wide);
    showSettled(*f.dlg);
    ASSERT_EQ(list.columnWidth(RESULT_COL_SN), 154);

    std::set<std::string> shownSerials;
    for (int row = 0; row < 4; ++row) {
        const std::string serial = list.GetItemText(row, RESULT_COL_SN);
        const std::string shown = list.GetShownText(row, RESULT_COL_SN);
        ASSERT_EQ(serial.size(), 20u);
        ASSERT_NE(shown, serial) << "the serial fits: nothing to check";
        EXPECT_EQ(shown.front(), serial.front()) << shown;
        EXPECT_EQ(shown.back(), serial.back()) << shown;
        shownSerials.insert(shown);
    }
    EXPECT_EQ(shownSerials.size(), 4u) << "the drives can be told apart";
    // Other columns still cut at the end.
    f.dlg->vUpdateMainResultItemTable(0, RESULT_COL_U4_MODE, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", CELL_MODE_PLAIN);
    EXPECT_EQ(list.GetShownText(0, RESULT_COL_U4_MODE).front(), 'A');
    EXPECT_NE(list.GetShownText(0, RESULT_COL_U4_MODE).back(), 'Z');
}

// The colour a rendered cell shows, sampled inside the cell away from its
// centred text and its grid line.
QRgb cellPixel(CListCtrlEx& list, const QImage& image, int row, int col)
{
    const QRect rect = list.visualRect(list.model()->index(row, col));
    return image.pixel(rect.left() + 3, rect.top() + 3);
}

TEST(VIVadeDlgResults, TheRenderedTableShowsTheCellColoursOfAFourDriveBench)
{
    DlgFixture f(4);
    f.dlg->OnInitDialog();
    fillFourDrives(f.dlg->m_DevList);
    f.dlg->vUpdateMainResultSubItemTable(1);
    // Results from the port workers' threads, as a run writes them.
    std::thread worker([&] {
        f.dlg->vUpdateMainResultItemTable(0, RESULT_COL_UPDATE, "PASS", CELL_MODE_PLAIN);
        f.dlg->vUpdateMainResultItemTable(1, RESULT_COL_UPDATE, "FAIL", CELL_MODE_PLAIN);
        f.dlg->vUpdateMainResultItemTable(2, RESULT_COL_RELINK, "pass", CELL_MODE_PLAIN);
    });
    // The worker waits for the GUI thread, which runs here.
    ASSERT_TRUE(runEventsUntil([&] { return f.dlg->m_ListMainResult->GetItemText(2, RESULT_COL_RELINK) == "pass"; }));
    worker.join();

    f.dlg->resize(2400, 900);
    f.dlg->show();
    CListCtrlEx& list = *f.dlg->m_ListMainResult;
    runEventsUntil([&] { return list.isVisible() && list.viewport()->width() > 1392; });
    const QImage image = list.viewport()->grab().toImage();

    struct Cell {
        int row;
        int col;
        ui::ColorRef color;
    };
    const Cell cells[] = {
        {0, RESULT_COL_VID, kBlue},     {1, RESULT_COL_SN, kOrange},      {2, RESULT_COL_FW, kPurple},
        {3, RESULT_COL_STATUS, kBlue},  {0, RESULT_COL_UPDATE, kGreen},   {1, RESULT_COL_UPDATE, kRed},
        {2, RESULT_COL_RELINK, kGreen}, {0, RESULT_COL_CAPACITY, kWhite}, {3, RESULT_COL_PARTITION, kWhite},
    };
    for (const Cell& c : cells) {
        const QColor want = ui::toQColor(c.color);
        const QColor got(cellPixel(list, image, c.row, c.col));
        EXPECT_EQ(got.rgb(), want.rgb()) << "row " << c.row << " col " << c.col << " shows " << got.name().toStdString()
                                         << ", wanted " << want.name().toStdString();
    }
}

TEST(VIVadeDlgResults, AStopRequestFreesAWorkerWaitingToUpdateItsRow)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    std::atomic<int> updates{0};
    CVIVadeDlg* dlg = f.dlg.get();
    // The GUI thread does not run events here, as when it is busy joining:
    // the worker's row update cannot be served.
    auto worker = f.dlg->m_Threads.pStart("port 0", [dlg, &updates](const StopSource& stop) {
        while (!stop.stopRequested()) {
            dlg->vUpdateMainResultItemTable(0, RESULT_COL_UPDATE, "PASS", CELL_MODE_PLAIN);
            ++updates;
        }
    });
    // Wait until the worker waits for the GUI thread.
    for (int i = 0; i < 10000 && f.dlg->guiCalls().waitingCallers() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(f.dlg->guiCalls().waitingCallers(), 1);
    EXPECT_EQ(updates.load(), 0);
    worker->vRequestStop();
    EXPECT_TRUE(worker->bJoin(THREAD_STOP_JOIN_MS));
    EXPECT_EQ(updates.load(), 1);
    EXPECT_EQ(f.dlg->m_ListMainResult->GetItemText(0, RESULT_COL_UPDATE), "");
}

}  // namespace
}  // namespace krv::test
