#include "controls/ListCtrlExDelegate.h"

#include <QPainter>

#include "controls/ListCtrlExModel.h"

namespace {
// Room between the grid and the text, as a report list leaves it.
constexpr int kTextMargin = 3;

QRect textRect(const QStyleOptionViewItem& opt) { return opt.rect.adjusted(kTextMargin, 0, -kTextMargin, 0); }
}  // namespace

QStyleOptionViewItem CListCtrlExDelegate::cellOption(const QStyleOptionViewItem& option,
                                                     const QModelIndex& index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    if (m_bOwnElideMode)
        opt.textElideMode = m_elideMode;
    return opt;
}

QString CListCtrlExDelegate::fitted(const QStyleOptionViewItem& opt) const
{
    return opt.fontMetrics.elidedText(opt.text, opt.textElideMode, textRect(opt).width());
}

QString CListCtrlExDelegate::shownText(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return fitted(cellOption(option, index));
}

void CListCtrlExDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    const QStyleOptionViewItem opt = cellOption(option, index);

    QColor back = index.data(Qt::BackgroundRole).value<QColor>();
    QColor fore = index.data(Qt::ForegroundRole).value<QColor>();
    const bool ownColors = index.data(CListCtrlExModel::kOwnColorsRole).toBool();
    if ((opt.state & QStyle::State_Selected) && !ownColors) {
        const QPalette::ColorGroup group =
            (opt.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
        back = opt.palette.color(group, QPalette::Highlight);
        fore = opt.palette.color(group, QPalette::HighlightedText);
    }
    if (!back.isValid())
        back = opt.palette.color(QPalette::Base);
    if (!fore.isValid())
        fore = opt.palette.color(QPalette::Text);

    painter->save();
    painter->fillRect(opt.rect, back);
    painter->setFont(opt.font);
    painter->setPen(fore);
    painter->drawText(textRect(opt), int(opt.displayAlignment), fitted(opt));
    painter->restore();
}
