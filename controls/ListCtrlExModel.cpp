#include "controls/ListCtrlExModel.h"

#include <algorithm>

#include "ui/Text.h"

CListCtrlExModel::CListCtrlExModel(CustomDrawFn customDraw, QObject* parent)
    : QAbstractTableModel(parent), m_customDraw(std::move(customDraw))
{
}

int CListCtrlExModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CListCtrlExModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

Qt::Alignment CListCtrlExModel::ColumnAlignment(int column) const
{
    switch (m_columns[size_t(column)].format & 0x3) {
    case CListCtrlEx::kFormatRight: return Qt::AlignRight | Qt::AlignVCenter;
    case CListCtrlEx::kFormatCenter: return Qt::AlignHCenter | Qt::AlignVCenter;
    default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

QVariant CListCtrlExModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    const int row = index.row();
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return krv::ui::toQt(m_rows[size_t(row)].texts[size_t(column)]);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(ColumnAlignment(column));
    case Qt::BackgroundRole:
        return krv::ui::toQColor(m_customDraw(row, column).clrTextBk);
    case Qt::ForegroundRole:
        return krv::ui::toQColor(m_customDraw(row, column).clrText);
    case kOwnColorsRole:
        return m_customDraw(row, column).bHandled;
    default:
        return {};
    }
}

QVariant CListCtrlExModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return krv::ui::toQt(m_columns[size_t(section)].heading);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(ColumnAlignment(section));
    return {};
}

Qt::ItemFlags CListCtrlExModel::flags(const QModelIndex& index) const
{
    // Editing goes through the list's own editors, never Qt's.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

int CListCtrlExModel::InsertColumn(int column, const std::string& heading, int format)
{
    column = std::min(column, columnCount());
    beginInsertColumns({}, column, column);
    m_columns.insert(m_columns.begin() + column, Column{heading, format});
    for (Row& row : m_rows)
        row.texts.insert(row.texts.begin() + column, std::string());
    endInsertColumns();
    return column;
}

int CListCtrlExModel::InsertRow(int row, const std::string& text, CListCtrlEx::ItemData* record)
{
    row = std::min(row, rowCount());
    beginInsertRows({}, row, row);
    Row fresh;
    fresh.texts.resize(m_columns.size());
    if (!fresh.texts.empty())
        fresh.texts[0] = text;
    fresh.record = record;
    m_rows.insert(m_rows.begin() + row, std::move(fresh));
    endInsertRows();
    return row;
}

void CListCtrlExModel::RemoveRow(int row)
{
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

void CListCtrlExModel::RemoveAllRows()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

bool CListCtrlExModel::SetText(int row, int column, const std::string& text)
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return false;
    m_rows[size_t(row)].texts[size_t(column)] = text;
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell);
    return true;
}

std::string CListCtrlExModel::Text(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return {};
    return m_rows[size_t(row)].texts[size_t(column)];
}

CListCtrlEx::ItemData* CListCtrlExModel::Record(int row) const
{
    return row >= 0 && row < rowCount() ? m_rows[size_t(row)].record : nullptr;
}

void CListCtrlExModel::SetRecord(int row, CListCtrlEx::ItemData* record)
{
    if (row >= 0 && row < rowCount())
        m_rows[size_t(row)].record = record;
}

int CListCtrlExModel::FindRecord(const CListCtrlEx::ItemData* record) const
{
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].record == record)
            return int(i);
    return -1;
}

void CListCtrlExModel::Reorder(const std::vector<int>& order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        newRowOf[size_t(order[i])] = int(i);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before)
        after.append(index(newRowOf[size_t(old.row())], old.column()));
    changePersistentIndexList(before, after);

    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (int oldRow : order)
        sorted.push_back(std::move(m_rows[size_t(oldRow)]));
    m_rows = std::move(sorted);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CListCtrlExModel::RowChanged(int row)
{
    if (row < 0 || row >= rowCount() || columnCount() == 0)
        return;
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}
