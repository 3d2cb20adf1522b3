#include <vector>

#include <QHeaderView>

#include "controls/ListCtrlEx.h"
#include "tests/controls/ControlsTestSupport.h"

namespace krv::test {
namespace {

TEST(ListCtrlExCompare, TextsCompareByTheColumnsType)
{
    struct Case {
        int type;
        const char* a;
        const char* b;
        int want;  // sign
    } cases[] = {
        {CListCtrlEx::kSortNone, "1", "2", 0},
        {CListCtrlEx::kSortInteger, "9", "10", -1},
        {CListCtrlEx::kSortInteger, "-5", "3", -1},
        {CListCtrlEx::kSortInteger, "2147483647", "-2147483648", 1},  // no overflow of a difference
        {CListCtrlEx::kSortInteger, "abc", "0", 0},
        {CListCtrlEx::kSortInteger, " 12kg", "12", 0},
        {CListCtrlEx::kSortFloat, "1.2", "1.7", -1},
        {CListCtrlEx::kSortFloat, "1e3", "999.5", 1},
        {CListCtrlEx::kSortFloat, "2.50", "2.5", 0},
        {CListCtrlEx::kSortText, "B", "a", -1},
        {CListCtrlEx::kSortText, "abd", "abc", 1},
        {CListCtrlEx::kSortText, "ab", "abc", -1},
        {CListCtrlEx::kSortNumberOrText, "9", "10", -1},
        {CListCtrlEx::kSortNumberOrText, "007", "10", -1},  // "007" is text
        {CListCtrlEx::kSortNumberOrText, "10", "9a", -1},   // so is "9a"
        {CListCtrlEx::kSortNumberOrText, "0", "5", -1},     // zero is compared as text
        {CListCtrlEx::kSortNumberOrText, "b", "B", 1},
        {CListCtrlEx::kSortTextNoCase, "abc", "ABC", 0},
        {CListCtrlEx::kSortTextNoCase, "a", "B", -1},
        {CListCtrlEx::kSortNumberOrTextNoCase, "Abc", "aBC", 0},
        {CListCtrlEx::kSortNumberOrTextNoCase, "100", "20", 1},
        {CListCtrlEx::kSortDate, "2024-01-02", "2024-01-10", -1},
        {CListCtrlEx::kSortDate, "1/2/2024", "2024-01-02", 0},
        {CListCtrlEx::kSortDate, "2024-01-02 10:00:00", "2024-01-02 09:59:59", 1},
        {CListCtrlEx::kSortDate, "12:00", "9:30", 1},
        {CListCtrlEx::kSortDate, "", "", 0},
        {CListCtrlEx::kSortDate, "junk", "", 0},
        {CListCtrlEx::kSortDate, "", "2024-01-01", -1},
        {CListCtrlEx::kSortDate, "2024-01-01", "n/a", 1},
        {99, "B", "a", -1},  // unknown types compare as text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << ": '" << c.a << "' vs '" << c.b << "'");
        const int got = CListCtrlEx::CompareTexts(c.type, c.a, c.b);
        EXPECT_EQ((got > 0) - (got < 0), c.want);
        const int back = CListCtrlEx::CompareTexts(c.type, c.b, c.a);
        EXPECT_EQ((back > 0) - (back < 0), -c.want) << "not antisymmetric";
    }
}

class ListCtrlExSort : public testing::Test {
protected:
    ListCtrlExSort()
    {
        list.InsertColumn(0, "Qty", CListCtrlEx::kFormatRight, 60);
        list.InsertColumn(1, "Name", CListCtrlEx::kFormatLeft, 80);
        list.InsertColumn(2, "Made", CListCtrlEx::kFormatLeft, 120);
        const char* rows[][3] = {
            {"10", "bravo", "2024-03-01"},
            {"9", "Alpha", "1/15/2024"},
            {"100", "charlie", "2023-12-31 23:59:59"},
            {"-3", "delta", ""},
        };
        for (int r = 0; r < 4; ++r) {
            list.InsertItem(r, rows[r][0], 1000 + r);
            list.SetItemText(r, 1, rows[r][1]);
            list.SetItemText(r, 2, rows[r][2]);
        }
        list.resize(300, 200);
    }

    std::vector<std::string> column(int c)
    {
        std::vector<std::string> texts;
        for (int r = 0; r < list.GetItemCount(); ++r)
            texts.push_back(list.GetItemText(r, c));
        return texts;
    }

    CListCtrlEx::ColumnInfo* sortable(int c, int type, int flags = CListCtrlEx::kSortToggle)
    {
        CListCtrlEx::ColumnInfo* info = list.MakeColumnInfo(c);
        info->m_nSortType = type;
        info->m_nSortFlags = flags;
        return info;
    }

    using Texts = std::vector<std::string>;
    CListCtrlEx list;
};

TEST_F(ListCtrlExSort, EachTypeOrdersTheRowsAndRowsKeepTheirRecords)
{
    sortable(0, CListCtrlEx::kSortInteger);
    sortable(1, CListCtrlEx::kSortTextNoCase);
    sortable(2, CListCtrlEx::kSortDate);
    CListCtrlEx::ItemData* nine = list.GetItemData(1);
    list.SetCellColor(1, 1, 0x00C800, 0xFFFFFF);

    ASSERT_TRUE(list.SortColumn(0, true));
    EXPECT_EQ(column(0), (Texts{"-3", "9", "10", "100"}));
    EXPECT_EQ(list.GetItemData(1), nine);
    EXPECT_EQ(list.GetItemUserData(1), 1001);
    EXPECT_TRUE(list.OnCustomDraw(1, 1).bHandled);  // the colour went with the row

    ASSERT_TRUE(list.SortColumn(1, true));
    EXPECT_EQ(column(1), (Texts{"Alpha", "bravo", "charlie", "delta"}));

    ASSERT_TRUE(list.SortColumn(2, true));
    EXPECT_EQ(column(2), (Texts{"", "2023-12-31 23:59:59", "1/15/2024", "2024-03-01"}));
    EXPECT_EQ(list.GetSortColumn(), 2);
}

TEST_F(ListCtrlExSort, AToggleColumnSortsAscendingFirstThenReversesOnEachClick)
{
    CListCtrlEx::ColumnInfo* info = sortable(0, CListCtrlEx::kSortInteger);
    QHeaderView* header = list.horizontalHeader();
    ASSERT_TRUE(list.SortColumn(0, true));
    EXPECT_EQ(column(0), (Texts{"-3", "9", "10", "100"}));
    EXPECT_EQ(info->m_nSortFlags, CListCtrlEx::kSortToggle | CListCtrlEx::kSortAscending);
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);

    ASSERT_TRUE(list.SortColumn(0, true));
    EXPECT_EQ(column(0), (Texts{"100", "10", "9", "-3"}));
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);

    // Without the toggle (a re-sort after an edit) the direction stays.
    ASSERT_TRUE(list.SortColumn(0, false));
    EXPECT_EQ(column(0), (Texts{"100", "10", "9", "-3"}));

    // A fixed direction never toggles.
    sortable(1, CListCtrlEx::kSortText, CListCtrlEx::kSortDescending);
    ASSERT_TRUE(list.SortColumn(1, true));
    ASSERT_TRUE(list.SortColumn(1, true));
    EXPECT_EQ(column(1), (Texts{"delta", "charlie", "bravo", "Alpha"}));
}

TEST_F(ListCtrlExSort, AHeaderClickOnAColumnWithoutSortSettingsChangesNothing)
{
    sortable(1, CListCtrlEx::kSortText, 0);  // a record, but no sort flag
    list.selectRow(2);
    ASSERT_TRUE(showActive(list));
    QHeaderView* header = list.horizontalHeader();
    for (int c : {0, 1}) {
        const QPoint at(header->sectionViewportPosition(c) + 10, header->height() / 2);
        click(header->viewport(), at);
        EXPECT_FALSE(list.SortColumn(c, true));
    }
    EXPECT_EQ(column(0), (Texts{"10", "9", "100", "-3"}));
    EXPECT_FALSE(header->isSortIndicatorShown());
    EXPECT_EQ(list.GetSortColumn(), -1);
    list.hide();
}

TEST_F(ListCtrlExSort, AHeaderClickSortsASortableColumn)
{
    sortable(0, CListCtrlEx::kSortInteger);
    ASSERT_TRUE(showActive(list));
    QHeaderView* header = list.horizontalHeader();
    click(header->viewport(), QPoint(header->sectionViewportPosition(0) + 10, header->height() / 2));
    EXPECT_EQ(column(0), (Texts{"-3", "9", "10", "100"}));
    list.hide();
}

TEST_F(ListCtrlExSort, AColumnsCompareCallbackIsUsedForThatColumnOnly)
{
    // Row data 1000..1003; the column's callback orders by it, backwards.
    CListCtrlEx::ColumnInfo* byData = sortable(1, CListCtrlEx::kSortText, CListCtrlEx::kSortAscending);
    std::vector<intptr_t> params;
    byData->m_pfnCompare = [&params](intptr_t a, intptr_t b, intptr_t param) {
        params.push_back(param);
        return int(b - a);
    };
    sortable(0, CListCtrlEx::kSortInteger, CListCtrlEx::kSortAscending);

    ASSERT_TRUE(list.SortColumn(1, false));
    EXPECT_EQ(column(0), (Texts{"-3", "100", "9", "10"}));
    ASSERT_FALSE(params.empty());
    EXPECT_EQ(params.front(), 1);  // no compare parameter: the sort column

    // The next column sorts by its own type, not by the callback seen before.
    ASSERT_TRUE(list.SortColumn(0, false));
    EXPECT_EQ(column(0), (Texts{"-3", "9", "10", "100"}));

    // The list's callback serves columns without one, with its parameter.
    list.SetCompareCallback([&params](intptr_t a, intptr_t b, intptr_t param) {
        params.push_back(param);
        return int(a - b);
    }, 77);
    sortable(2, CListCtrlEx::kSortDate, CListCtrlEx::kSortDescending);
    ASSERT_TRUE(list.SortColumn(2, false));
    EXPECT_EQ(list.GetItemUserData(0), 1003);
    EXPECT_EQ(params.back(), 77);
}

}  // namespace
}  // namespace krv::test
