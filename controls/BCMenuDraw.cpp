// Measuring and painting of a BCMenu's items, and the style that hands them
// the real menu's items.
#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFontMetrics>
#include <QMenu>
#include <QPainter>
#include <QStyleOptionMenuItem>

#include "controls/BCMenu.h"
#include "controls/BCMenuStyle.h"
#include "controls/SysColors.h"

using krv::controls::SysColor;
using krv::controls::sysColor;
using krv::ui::ColorRef;
using krv::ui::toQColor;

namespace {

constexpr int kTextFlags = Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;

// The height of one row of a menu on this system.
int menuRowHeight() { return QFontMetrics(QApplication::font("QMenu")).height() + 6; }

void fill(QPainter& painter, const QRect& r, ColorRef color) { painter.fillRect(r, toQColor(color)); }

void frame(QPainter& painter, const QRect& r, ColorRef color)
{
    painter.setPen(toQColor(color));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.adjusted(0, 0, -1, -1));
}

// A sunken etched line along the top of `r`.
void etchedLine(QPainter& painter, const QRect& r)
{
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), toQColor(sysColor(SysColor::BtnShadow)));
    painter.fillRect(QRect(r.left(), r.top() + 1, r.width(), 1), toQColor(sysColor(SysColor::BtnHighlight)));
}

// The tick: seven strokes of three pixels, down and up again.
void drawTick(QPainter& painter, int x, int y, ColorRef color)
{
    static const int kTop[7] = {2, 3, 4, 3, 2, 1, 0};
    for (int i = 0; i < 7; ++i)
        painter.fillRect(x + i, y + kTop[i], 1, 3, toQColor(color));
}

void drawDot(QPainter& painter, int x, int y, ColorRef color)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(toQColor(color));
    painter.drawEllipse(QRect(x, y, 6, 6));
}

// A disabled image: its dark pixels once in the highlight colour moved by
// (1, 1), then in place in the shadow colour, on a box of `back`.
void drawEmbossed(QPainter& painter, const QImage& image, QPoint at, ColorRef back)
{
    fill(painter, QRect(at, image.size()), back);
    const QColor face = toQColor(sysColor(SysColor::BtnFace));
    QImage mask(image.size(), QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const double a = c.alphaF();
            const double grey = (0.299 * (c.red() * a + face.red() * (1 - a)) +
                                 0.587 * (c.green() * a + face.green() * (1 - a)) +
                                 0.114 * (c.blue() * a + face.blue() * (1 - a)));
            if (grey < 128)
                mask.setPixelColor(x, y, Qt::black);
        }
    for (auto [offset, color] : {std::pair{QPoint(1, 1), SysColor::BtnHighlight}, std::pair{QPoint(), SysColor::BtnShadow}}) {
        QImage tinted = mask;
        QPainter p(&tinted);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(tinted.rect(), toQColor(sysColor(color)));
        p.end();
        painter.drawImage(at + offset, tinted);
    }
}

// The text before the first tab left, the part after the last tab right.
void drawItemText(QPainter& painter, const QRect& r, const QString& text, int rightInset)
{
    const int first = text.indexOf('\t');
    painter.drawText(r, kTextFlags, first < 0 ? text : text.left(first));
    if (first >= 0)
        painter.drawText(r.adjusted(0, 0, -rightInset, 0), kTextFlags | Qt::AlignRight,
                         text.mid(text.lastIndexOf('\t') + 1));
}

}  // namespace

QSize BCMenu::MeasureItem(const BCMenuData& data) const
{
    const bool bXP = UseXPStyle(nGetWinVersion(), IsClassicTheme());
    // Room around the image: more when images stand out in the flat look.
    const int padding = bXP ? 7 : 4;
    const int cyMenu = menuRowHeight();
    if (data.nFlags & BCMenu::MF_SEPARATOR)
        return {0, std::max(cyMenu / 2, (m_iconY + padding) / 2)};
    const QFontMetrics metrics(QApplication::font("QMenu"));
    const int textWidth = metrics.horizontalAdvance(data.m_szMenuText);
    const int width = bXP ? m_iconX + textWidth + padding + 8 : textWidth + 2 * m_iconX + 1;
    return {width, std::max(cyMenu, m_iconY + padding)};
}

void BCMenu::DrawItem(QPainter& painter, const QRect& rcItem, const BCMenuData& data, unsigned itemState) const
{
    painter.save();
    painter.setFont(QApplication::font("QMenu"));
    if (UseXPStyle(nGetWinVersion(), IsClassicTheme()))
        DrawItemXP(painter, rcItem, data, itemState);
    else
        DrawItemClassic(painter, rcItem, data, itemState);
    painter.restore();
}

void BCMenu::DrawItemClassic(QPainter& painter, const QRect& rcItem, const BCMenuData& data, unsigned itemState) const
{
    const ColorRef back = sysColor(SysColor::Menu);
    const bool bSelected = itemState & ODS_SELECTED;  // disabled items may show selected here
    const bool bDisabled = itemState & (ODS_GRAYED | ODS_DISABLED);
    const bool bChecked = itemState & ODS_CHECKED;
    if (data.nFlags & MF_SEPARATOR) {
        fill(painter, rcItem, back);
        etchedLine(painter, rcItem.adjusted(0, rcItem.height() / 2, 0, 0));
        return;
    }
    const QImage image = ItemImage(data);
    fill(painter, rcItem, back);
    if (bSelected)
        fill(painter, QRect(QPoint(rcItem.left() + m_iconX + 5, rcItem.top()), rcItem.bottomRight()),
             sysColor(SysColor::Highlight));

    const int dy = std::max((rcItem.height() - m_iconY - 4) / 2, 0);
    const bool bFramed = nGetWinVersion() >= 2;
    if (!image.isNull()) {
        const QRect box(QPoint(rcItem.left() + 1, rcItem.top() + dy + 1),
                        QPoint(rcItem.left() + m_iconX + 3 - 1, rcItem.top() + dy + m_iconY + 3 - 1));
        if (bChecked)
            fill(painter, box, LightenColor(back, 0.6));
        const QPoint at(rcItem.left() + 2, rcItem.top() + dy + 2);
        if (bDisabled)
            drawEmbossed(painter, image, at, bChecked ? LightenColor(back, 0.6) : back);
        else
            painter.drawImage(at, image);
        if (bFramed && (bChecked || bSelected)) {
            const ColorRef light = sysColor(SysColor::BtnHighlight);
            const ColorRef dark = sysColor(SysColor::BtnShadow);
            painter.fillRect(box.left(), box.top(), box.width(), 1, toQColor(bChecked ? dark : light));
            painter.fillRect(box.left(), box.top(), 1, box.height(), toQColor(bChecked ? dark : light));
            painter.fillRect(box.left(), box.bottom(), box.width(), 1, toQColor(bChecked ? light : dark));
            painter.fillRect(box.right(), box.top(), 1, box.height(), toQColor(bChecked ? light : dark));
        }
    } else if (bChecked) {
        const QRect box(QPoint(rcItem.left() + 1, rcItem.top() + dy + 2),
                        QPoint(rcItem.left() + m_iconX + 1 - 1, rcItem.top() + dy + m_iconY + 2 - 1));
        fill(painter, box, bSelected ? back : LightenColor(back, 0.6));
        if (bFramed)
            etchedLine(painter, box);
        if (data.pAction && data.pAction->actionGroup() && data.pAction->actionGroup()->isExclusive())
            drawDot(painter, box.left() + 5, box.top() + 4, sysColor(SysColor::MenuText));
        else
            drawTick(painter, box.left() + 4, box.top() + 4, sysColor(SysColor::MenuText));
    }

    const QRect textRect = rcItem.adjusted(m_iconX + 9, 0, 0, 0);
    if (bDisabled && !bSelected) {
        painter.setPen(toQColor(sysColor(SysColor::BtnHighlight)));
        drawItemText(painter, textRect.translated(1, 1), data.m_szMenuText, m_iconX);
        painter.setPen(toQColor(sysColor(SysColor::GrayText)));
    } else if (bDisabled) {
        painter.setPen(toQColor(back));
    } else {
        painter.setPen(toQColor(sysColor(bSelected ? SysColor::HighlightText : SysColor::MenuText)));
    }
    drawItemText(painter, textRect, data.m_szMenuText, m_iconX);
}

void BCMenu::DrawItemXP(QPainter& painter, const QRect& rcItem, const BCMenuData& data, unsigned itemState) const
{
    const bool bXPVisualStyle = nGetWinVersion() == 7 && !IsClassicTheme();
    const ColorRef back = sysColor(SysColor::Window);
    const ColorRef column = bXPVisualStyle ? sysColor(SysColor::BtnFace) : LightenColor(sysColor(SysColor::BtnFace), 0.25);
    const ColorRef highlight = sysColor(SysColor::Highlight);
    const ColorRef selection = LightenColor(highlight, bXPVisualStyle ? 0.7 : 0.85);
    const bool bDisabled = itemState & (ODS_GRAYED | ODS_DISABLED);
    // Disabled items never show selected in this look.
    const bool bSelected = (itemState & ODS_SELECTED) && !bDisabled;
    const bool bChecked = itemState & ODS_CHECKED;
    const int padding = 7;
    const QRect col(rcItem.topLeft(), QSize(m_iconX + padding, rcItem.height()));

    if (data.nFlags & MF_SEPARATOR) {
        fill(painter, rcItem, back);
        fill(painter, col, column);
        etchedLine(painter, QRect(col.right() + 1, rcItem.top() + rcItem.height() / 2,
                                  rcItem.right() - col.right(), 2));
        return;
    }
    if (bSelected) {
        fill(painter, rcItem, selection);
        frame(painter, rcItem, highlight);
    } else {
        fill(painter, rcItem, back);
        fill(painter, col, column);
    }

    const QImage image = ItemImage(data);
    const int dx = std::max(0, (col.width() - m_iconX + 1) / 2);
    const int dyImage = std::max(0, (rcItem.height() - m_iconY + 1) / 2);
    const QPoint at(rcItem.left() + dx, rcItem.top() + dyImage);
    if (!image.isNull()) {
        const QRect box(at, image.size());
        if (bDisabled) {
            drawEmbossed(painter, image, at, column);
        } else if (bChecked) {
            fill(painter, box.adjusted(-1, -1, 1, 1), bSelected ? selection : LightenColor(highlight, 0.85));
            frame(painter, box.adjusted(-1, -1, 1, 1), highlight);
            painter.drawImage(at - QPoint(1, 1), image);
        } else if (bSelected) {
            painter.drawImage(at - QPoint(1, 1), image);
        } else {
            painter.drawImage(at, image);
        }
    } else if (bChecked) {
        const QRect box(QPoint(rcItem.left() + (col.width() - 16 + 1) / 2, rcItem.top() + std::max(0, (rcItem.height() - 16 + 1) / 2)),
                        QSize(16, 16));
        fill(painter, box, bSelected ? selection : LightenColor(highlight, 0.85));
        frame(painter, box, highlight);
        drawTick(painter, box.left() + 5, box.top() + 4, sysColor(SysColor::MenuText));
    }

    const QRect textRect = rcItem.adjusted(col.width() + 8, 0, 0, 0);
    ColorRef text = sysColor(SysColor::MenuText);
    if (bDisabled)
        text = bSelected || bXPVisualStyle ? sysColor(SysColor::GrayText) : LightenColor(sysColor(SysColor::GrayText), 0.4);
    painter.setPen(toQColor(text));
    drawItemText(painter, textRect, data.m_szMenuText, m_iconX);
}

// ---- the real menu's style ----

BCMenuStyle::BCMenuStyle(const BCMenu* pMenu, QObject* owner) : m_pMenu(pMenu) { setParent(owner); }

namespace {

const BCMenuData* recordOf(const BCMenu& menu, const QAction* action)
{
    for (int i = 0; i < menu.GetMenuItemCount(); ++i)
        if (menu.GetItemData(i)->pAction == action)
            return menu.GetItemData(i);
    return nullptr;
}

}  // namespace

void BCMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    const auto* menu = qobject_cast<const QMenu*>(widget);
    if (element == CE_MenuItem && item && menu) {
        // The item under the middle of the rectangle being painted.
        if (const BCMenuData* data = recordOf(*m_pMenu, menu->actionAt(item->rect.center()))) {
            unsigned state = 0;
            if (item->state & State_Selected)
                state |= BCMenu::ODS_SELECTED;
            if (!(item->state & State_Enabled))
                state |= BCMenu::ODS_GRAYED;
            if (item->checked)
                state |= BCMenu::ODS_CHECKED;
            m_pMenu->DrawItem(*painter, item->rect, *data, state);
            return;
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

QSize BCMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                    const QWidget* widget) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type == CT_MenuItem && item) {
        // Only the text and the kind of item count.
        BCMenuData data;
        data.m_szMenuText = item->text;
        data.nFlags = item->menuItemType == QStyleOptionMenuItem::Separator ? BCMenu::MF_SEPARATOR : 0;
        return m_pMenu->MeasureItem(data);
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

int BCMenuStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    // The items fill the menu up to its one-pixel frame.
    switch (metric) {
    case PM_MenuHMargin:
    case PM_MenuVMargin: return 0;
    case PM_MenuPanelWidth: return 1;
    default: return QProxyStyle::pixelMetric(metric, option, widget);
    }
}
