#pragma once
// Paints a results-list cell in the colours its model index gives (the
// list's custom-draw rule), with the text placed by its column's format.
#include <QStyledItemDelegate>

class CListCtrlExDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Where a text too long for its cell is cut: the view's choice (at the
    // end) unless this is set.
    void setElideMode(Qt::TextElideMode mode) { m_elideMode = mode; m_bOwnElideMode = true; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The text as the cell shows it, cut to fit its width.
    QString shownText(const QStyleOptionViewItem& option, const QModelIndex& index) const;

private:
    QStyleOptionViewItem cellOption(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    QString fitted(const QStyleOptionViewItem& opt) const;

    Qt::TextElideMode m_elideMode = Qt::ElideRight;
    bool m_bOwnElideMode = false;
};
