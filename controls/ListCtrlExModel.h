#pragma once
// The results list's table: the texts, each row's record pointer (the
// list's "item parameter", which travels with the row when the list sorts)
// and the column headings and formats. The colour roles come from the
// list's custom-draw rule, so the delegate paints what the records hold.
#include <functional>
#include <string>
#include <vector>

#include <QAbstractTableModel>

#include "controls/ListCtrlEx.h"

class CListCtrlExModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // True when the cell's colours are its own (a record set them) rather
    // than the list's defaults.
    static constexpr int kOwnColorsRole = Qt::UserRole + 1;

    using CustomDrawFn = std::function<CListCtrlEx::CustomDraw(int row, int column)>;

    CListCtrlExModel(CustomDrawFn customDraw, QObject* parent);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Positions are clamped to the end; they return where the column or row
    // went.
    int InsertColumn(int column, const std::string& heading, int format);
    int InsertRow(int row, const std::string& text, CListCtrlEx::ItemData* record);
    void RemoveRow(int row);
    void RemoveAllRows();

    bool SetText(int row, int column, const std::string& text);
    std::string Text(int row, int column) const;
    CListCtrlEx::ItemData* Record(int row) const;
    void SetRecord(int row, CListCtrlEx::ItemData* record);
    int FindRecord(const CListCtrlEx::ItemData* record) const;

    // Puts the rows in a new order: new row i is old row order[i]. Selection
    // and current cell move with their rows.
    void Reorder(const std::vector<int>& order);
    void RowChanged(int row);

private:
    struct Row {
        std::vector<std::string> texts;
        CListCtrlEx::ItemData* record = nullptr;
    };
    struct Column {
        std::string heading;
        int format = CListCtrlEx::kFormatLeft;
    };

    Qt::Alignment ColumnAlignment(int column) const;

    CustomDrawFn m_customDraw;
    std::vector<Row> m_rows;
    std::vector<Column> m_columns;
};
