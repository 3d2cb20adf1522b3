#include "controls/ListCtrlExDelegate.h"

#include <QPainter>

#include "controls/ListCtrlExModel.h"

namespace {
// Room between the grid and the text, as a report list leaves it.
constexpr int kTextMargin = 3;
}  // namespace

void CListCtrlExDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);

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
    const QRect textRect = opt.rect.adjusted(kTextMargin, 0, -kTextMargin, 0);
    const QString text = opt.fontMetrics.elidedText(opt.text, Qt::ElideRight, textRect.width());
    painter->setFont(opt.font);
    painter->setPen(fore);
    painter->drawText(textRect, int(opt.displayAlignment), text);
    painter->restore();
}
