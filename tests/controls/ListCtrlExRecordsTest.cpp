#include "controls/ListCtrlEx.h"
#include "tests/controls/ResultsListFixture.h"

namespace krv::test {
namespace {

using ResultsListRecords = ResultsListFixture;

TEST_F(ResultsListRecords, ARowKeepsItsRecordAsItemParameterAndTheCallersDataInIt)
{
    const int row = list.InsertItem(16, "16", 5);
    ASSERT_EQ(row, 16);
    CListCtrlEx::ItemData* record = list.GetItemData(row);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->m_lParam, 5);
    EXPECT_EQ(list.GetItemUserData(row), 5);

    // Inserting in front moves the row, and its record with it.
    list.InsertItem(0, "first", 9);
    EXPECT_EQ(list.GetItemData(17), record);
    EXPECT_EQ(list.GetItemText(17, 0), "16");
    EXPECT_EQ(list.GetItemUserData(0), 9);

    EXPECT_EQ(list.InsertItem(1000, "end"), 18);
    EXPECT_EQ(list.InsertItem(-1, "no"), -1);
    EXPECT_EQ(list.GetItemCount(), 19);
}

TEST_F(ResultsListRecords, SetCellColorOutsideTheListChangesNothing)
{
    struct Case {
        int row, column;
        bool inside;
    } cases[] = {
        {0, 0, true}, {15, 18, true}, {16, 9, false}, {-1, 9, false}, {3, 19, false}, {3, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.row << "," << c.column);
        EXPECT_EQ(list.SetCellColor(c.row, c.column, 0x00C800, 0xFFFFFF), c.inside);
        EXPECT_EQ(list.SetCellData(c.row, c.column, 7), c.inside);
        EXPECT_EQ(list.FindCellInfo(c.row, c.column) != nullptr, c.inside);
    }
    EXPECT_EQ(list.GetItemCount(), kRows);
    // Only the two cells inside got records.
    int cells = 0;
    for (int row = 0; row < kRows; ++row)
        cells += int(list.GetItemData(row)->m_aCellInfo.size());
    EXPECT_EQ(cells, 2);
}

TEST_F(ResultsListRecords, ColouringACellTwiceReusesItsRecord)
{
    list.SetCellColor(2, 9, 0x00C800, 0xFFFFFF);
    list.SetCellData(2, 9, 42);
    list.SetCellColor(2, 9, 0x0000FF, 0x000000);
    ASSERT_EQ(list.GetItemData(2)->m_aCellInfo.size(), 1u);
    const CListCtrlEx::CellInfo* cell = list.FindCellInfo(2, 9);
    EXPECT_EQ(cell->m_clrBack, 0x0000FFu);
    EXPECT_EQ(cell->m_clrText, 0x000000u);
    EXPECT_EQ(cell->m_dwUserData, 42u);
    EXPECT_EQ(cell->m_nColumn, 9);
}

TEST_F(ResultsListRecords, DeleteAllItemsFreesEveryRecordAndTheNextRowStartsFresh)
{
    list.SetCellColor(0, 9, 0x00C800, 0xFFFFFF);
    list.GetItemData(0)->m_clrBack = 0xFF0000;
    list.SetItemUserData(0, 77);
    list.SetItemText(0, 9, "PASS");

    EXPECT_TRUE(list.DeleteAllItems());
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_EQ(list.GetItemData(0), nullptr);
    EXPECT_EQ(list.GetItemUserData(0), 0);
    EXPECT_FALSE(list.SetCellColor(0, 9, 0x00C800, 0xFFFFFF));

    ASSERT_EQ(list.InsertItem(0, "0"), 0);
    const CListCtrlEx::ItemData* fresh = list.GetItemData(0);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->m_lParam, 0);
    EXPECT_TRUE(fresh->m_aCellInfo.empty());
    EXPECT_EQ(fresh->m_clrBack, ui::kColorNotSet);
    EXPECT_EQ(list.GetItemText(0, 9), "");
    const CListCtrlEx::CustomDraw draw = list.OnCustomDraw(0, 9);
    EXPECT_FALSE(draw.bHandled);
    EXPECT_EQ(draw.clrTextBk, list.GetTextBkColor());
    // The new table paints (touches every record) without any freed one.
    grabImage(list);
}

TEST_F(ResultsListRecords, ReadOnlyFlagsFollowCellThenRowAndColumn)
{
    list.MakeColumnInfo(2)->m_editor.m_bReadOnly = true;
    list.GetItemData(1)->m_editor.m_bReadOnly = true;
    list.SetCellData(1, 3, 0);  // a cell record that is not read-only
    struct Case {
        int row, column;
        bool cell;
    } cases[] = {
        {0, 0, false}, {0, 2, true}, {1, 0, true}, {1, 3, false}, {16, 2, false}, {0, 19, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.row << "," << c.column);
        EXPECT_EQ(list.IsCellReadOnly(c.row, c.column), c.cell);
    }
    EXPECT_TRUE(list.IsColumnReadOnly(2));
    EXPECT_FALSE(list.IsColumnReadOnly(19));
    EXPECT_TRUE(list.IsItemReadOnly(1));
    EXPECT_FALSE(list.IsItemReadOnly(16));
    EXPECT_EQ(list.MakeColumnInfo(19), nullptr);
}

TEST_F(ResultsListRecords, ExtendedStyleSetsGridAndRowSelection)
{
    EXPECT_TRUE(list.showGrid());
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list.GetExtendedStyle(), 0x121u);
    list.SetExtendedStyle(0);
    EXPECT_FALSE(list.showGrid());
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectItems);

    CListCtrlEx fresh;
    EXPECT_EQ(fresh.GetExtendedStyle(), CListCtrlEx::kExFullRowSelect);
    EXPECT_EQ(fresh.GetColumnCount(), 0);
    EXPECT_EQ(list.GetColumnCount(), 19);
}

}  // namespace
}  // namespace krv::test
