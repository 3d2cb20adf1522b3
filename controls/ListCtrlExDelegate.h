#pragma once
// Paints a results-list cell in the colours its model index gives (the
// list's custom-draw rule), with the text placed by its column's format.
#include <QStyledItemDelegate>

class CListCtrlExDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
