// Sorting the list by a column.
#include <algorithm>
#include <numeric>

#include <QHeaderView>

#include "controls/ListCtrlEx.h"
#include "controls/ListCtrlExModel.h"

namespace {

constexpr int kSortDirectionBits = CListCtrlEx::kSortAscending | CListCtrlEx::kSortDescending;
constexpr int kSortBits = kSortDirectionBits | CListCtrlEx::kSortToggle;

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

}  // namespace

void CListCtrlEx::SetCompareCallback(CompareCallback pfnCompare, intptr_t param)
{
    m_pfnCompare = std::move(pfnCompare);
    m_lCompareParam = param;
}

bool CListCtrlEx::SortColumn(int nSubItem, bool bToggle)
{
    ColumnInfo* column = FindColumnInfo(nSubItem);
    if (!column || !(column->m_nSortFlags & kSortBits))
        return false;
    int& flags = column->m_nSortFlags;
    if (flags & kSortToggle) {
        // Descending before the swap, so the first click sorts ascending.
        if (!(flags & kSortDirectionBits))
            flags |= kSortDescending;
        if (bToggle) {
            const int direction = flags & kSortDirectionBits;
            flags &= ~kSortDirectionBits;
            if (direction & kSortAscending)
                flags |= kSortDescending;
            if (direction & kSortDescending)
                flags |= kSortAscending;
        }
    }

    m_nSortColumn = nSubItem;
    std::vector<int> order(static_cast<size_t>(GetItemCount()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) { return CompareRows(a, b) < 0; });
    m_pModel->Reorder(order);

    QHeaderView* header = horizontalHeader();
    header->setSortIndicator(nSubItem, (flags & kSortAscending) ? Qt::AscendingOrder : Qt::DescendingOrder);
    header->setSortIndicatorShown(true);
    return true;
}

// A column's own compare callback takes precedence over the list's, for
// that column only; the rest compare the cells' texts by the column's type.
int CListCtrlEx::CompareRows(int row1, int row2) const
{
    const ColumnInfo* column =
        m_nSortColumn >= 0 && m_nSortColumn < GetColumnCount() ? FindColumnInfo(m_nSortColumn) : nullptr;
    if (!column || !(column->m_nSortFlags & kSortBits))
        return 0;
    const int direction = (column->m_nSortFlags & kSortAscending) ? 1 : -1;

    const CompareCallback& callback = column->m_pfnCompare ? column->m_pfnCompare : m_pfnCompare;
    if (callback) {
        const intptr_t param = m_lCompareParam != 0 ? m_lCompareParam : m_nSortColumn;
        return direction * Sign(callback(GetItemUserData(row1), GetItemUserData(row2), param));
    }
    return direction * Sign(CompareTexts(column->m_nSortType, GetItemText(row1, m_nSortColumn),
                                         GetItemText(row2, m_nSortColumn)));
}
