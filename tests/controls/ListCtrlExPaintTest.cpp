#include <QDir>
#include <QItemSelectionModel>

#include "controls/ListCtrlEx.h"
#include "tests/controls/ResultsListFixture.h"
#include "ui/Colors.h"

namespace krv::test {
namespace {

using ui::ColorRef;
using ui::kColorNotSet;

constexpr ColorRef kGreen = 0x00C800;   // PASS
constexpr ColorRef kRed = 0x0000FF;     // FAIL: red in 0x00BBGGRR
constexpr ColorRef kBlue = 0xFF0000;
constexpr ColorRef kOrange = 0x00A5FF;
constexpr ColorRef kPurple = 0xB400B4;
constexpr ColorRef kWhite = 0xFFFFFF;
constexpr ColorRef kBlack = 0x000000;

using ResultsListPaint = ResultsListFixture;

TEST_F(ResultsListPaint, PassAndFailCellsRenderInTheirOwnColours)
{
    list.SetCellColor(3, 9, kGreen, kWhite);
    list.SetItemText(3, 9, "PASS");
    list.SetCellColor(4, 9, kRed, kWhite);
    list.SetItemText(4, 9, "FAIL");
    const QImage image = grabImage(list);

    struct Case {
        int row, column;
        QColor back;  // as RGB on the screen
        ColorRef text;
    } cases[] = {
        {3, 9, QColor(0, 200, 0), kWhite},
        {4, 9, QColor(255, 0, 0), kWhite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "cell " << c.row << "," << c.column);
        const QRect cell = cellRect(c.row, c.column);
        EXPECT_EQ(QColor(image.pixel(cell.left() + 2, cell.top() + 2)), c.back);
        // Text and background and nothing else: the text is in the cell's colour.
        const std::set<ColorRef> expected = {ui::toColorRef(c.back), c.text};
        EXPECT_EQ(colorsIn(image, cell), expected);
        EXPECT_GT(countColor(image, cell, c.text), 10);
    }

    // A cell nobody coloured keeps the list's colours; its text is drawn too.
    const QRect port = cellRect(3, 0);
    EXPECT_EQ(colorsIn(image, port), (std::set<ColorRef>{list.GetTextBkColor(), list.GetTextColor()}));
    EXPECT_EQ(colorsIn(image, cellRect(5, 12)), (std::set<ColorRef>{list.GetTextBkColor()}));
}

TEST_F(ResultsListPaint, ColouredCellsKeepTheirColoursInASelectedRow)
{
    list.SetCellColor(3, 9, kGreen, kWhite);
    list.SetItemText(3, 9, "PASS");
    list.selectRow(3);
    const QImage image = grabImage(list);

    EXPECT_EQ(pixelAt(image, cellRect(3, 9).left() + 2, cellRect(3, 9).top() + 2), kGreen);
    const QColor highlight = list.palette().color(QPalette::Inactive, QPalette::Highlight);
    const QColor activeHighlight = list.palette().color(QPalette::Active, QPalette::Highlight);
    const QColor plain(image.pixel(cellRect(3, 2).left() + 2, cellRect(3, 2).top() + 2));
    EXPECT_TRUE(plain == highlight || plain == activeHighlight) << plain.name().toStdString();
}

// The first level (cell, row, column) that sets any colour gives both; what
// it leaves unset is the list's default, never a lower level's.
TEST_F(ResultsListPaint, CustomDrawTakesBothColoursFromTheFirstLevelThatSetsOne)
{
    const ColorRef bk = list.GetTextBkColor();
    const ColorRef fg = list.GetTextColor();
    struct Case {
        const char* name;
        ColorRef cellBack, cellText, rowBack, rowText, columnBack, columnText;
        ColorRef wantBack, wantText;
        bool handled;
    } cases[] = {
        {"nothing set", kColorNotSet, kColorNotSet, kColorNotSet, kColorNotSet, kColorNotSet, kColorNotSet, bk, fg, false},
        {"cell only", kGreen, kWhite, kColorNotSet, kColorNotSet, kColorNotSet, kColorNotSet, kGreen, kWhite, true},
        {"cell text only over a row background", kColorNotSet, kRed, kBlue, kWhite, kColorNotSet, kColorNotSet, bk, kRed, true},
        {"cell text only over a column background", kColorNotSet, kRed, kColorNotSet, kColorNotSet, kOrange, kColorNotSet, bk, kRed, true},
        {"row only", kColorNotSet, kColorNotSet, kBlue, kColorNotSet, kOrange, kBlack, kBlue, fg, true},
        {"column only", kColorNotSet, kColorNotSet, kColorNotSet, kColorNotSet, kPurple, kWhite, kPurple, kWhite, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CListCtrlEx l;
        l.InsertColumn(0, "A");
        l.InsertColumn(1, "B");
        l.InsertItem(0, "x");
        if (c.cellBack != kColorNotSet || c.cellText != kColorNotSet)
            l.SetCellColor(0, 1, c.cellBack, c.cellText);
        l.GetItemData(0)->m_clrBack = c.rowBack;
        l.GetItemData(0)->m_clrText = c.rowText;
        l.MakeColumnInfo(1)->m_clrBack = c.columnBack;
        l.MakeColumnInfo(1)->m_clrText = c.columnText;
        const CListCtrlEx::CustomDraw draw = l.OnCustomDraw(0, 1);
        EXPECT_EQ(draw.clrTextBk, c.wantBack);
        EXPECT_EQ(draw.clrText, c.wantText);
        EXPECT_EQ(draw.bHandled, c.handled);
    }
}

// The main window's table as an operator sees it mid-run, for people to
// look at: rows in the link colours, step cells PASS and FAIL.
TEST_F(ResultsListPaint, SavesAScreenshotOfASampleResultsTable)
{
    struct Row {
        const char* status;
        const char* serial;
        ColorRef mode;
        const char* update;
        const char* relink;
    } rows[] = {
        {"SUPER", "KRV0000000001", kBlue, "PASS", "PASS"},
        {"Gen3x2", "KRV0000000002", kPurple, "PASS", "FAIL"},
        {"HIGH", "KRV0000000003", kOrange, "FAIL", ""},
        {"SUPER PLUS", "KRV0000000004", kBlue, "PASS", "PASS"},
    };
    for (int r = 0; r < 4; ++r) {
        const Row& row = rows[r];
        const char* texts[] = {row.status, "2C4B", "8574", row.serial, "1.0.5.4", "1", "PCIE TNL", "1863 GB"};
        for (int column = 1; column <= 8; ++column) {
            list.SetCellColor(r, column, column == 8 ? kWhite : row.mode, column == 8 ? kBlack : kWhite);
            list.SetItemText(r, column, texts[column - 1]);
        }
        const char* steps[] = {row.update, row.relink};
        for (int s = 0; s < 2; ++s) {
            const std::string word = steps[s];
            const ColorRef back = word == "PASS" ? kGreen : word == "FAIL" ? kRed : kWhite;
            list.SetCellColor(r, 9 + s, back, word.empty() ? kBlack : kWhite);
            list.SetItemText(r, 9 + s, word);
        }
    }
    const QImage image = grabImage(list);
    const QString folder = QStringLiteral(KRV_BUILD_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/controls-results-list.png";
    ASSERT_TRUE(image.save(path));
    EXPECT_EQ(QImage(path).size(), image.size());
    EXPECT_EQ(pixelAt(image, cellRect(1, 10).left() + 2, cellRect(1, 10).top() + 2), kRed);
}

}  // namespace
}  // namespace krv::test
