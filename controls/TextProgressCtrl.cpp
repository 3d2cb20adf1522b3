#include "controls/TextProgressCtrl.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>

#include "controls/MemDC.h"
#include "controls/SysColors.h"
#include "ui/Text.h"

using krv::controls::SysColor;
using krv::controls::sysColor;
using krv::ui::ColorRef;

int CTextProgressCtrl::s_nMarqueeDirection = 1;

namespace {

ColorRef Resolve(ColorRef color, SysColor system)
{
    return (color & 0xFF000000u) ? sysColor(system) : color;
}

uint32_t PackRange(int lower, int upper)
{
    return (uint32_t(upper) << 16) | (uint32_t(lower) & 0xFFFFu);
}

}  // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent)
{
    // The whole client area is painted every time; nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CTextProgressCtrl::~CTextProgressCtrl() = default;

uint32_t CTextProgressCtrl::SetRange(int16_t nLower, int16_t nUpper)
{
    return SetRange32(nLower, nUpper);
}

uint32_t CTextProgressCtrl::SetRange32(int nLower, int nUpper)
{
    const uint32_t old = PackRange(m_nLower, m_nUpper);
    m_nLower = nLower;
    m_nUpper = nUpper;
    return old;
}

void CTextProgressCtrl::GetRange(int& nLower, int& nUpper) const
{
    nLower = m_nLower;
    nUpper = m_nUpper;
}

int CTextProgressCtrl::GetMarqueeMax() const
{
    return int(std::trunc((double(m_nMarqueeBlock + 100) * m_nUpper + 0.5) / 100.0));
}

int CTextProgressCtrl::MaxPos() const
{
    return (m_dwStyle & kStyleMarquee) ? GetMarqueeMax() : m_nUpper;
}

int CTextProgressCtrl::SetPos(int nPos)
{
    const int old = m_nPos;
    // Lowered to the maximum last, so a range with lower > upper ends at upper.
    m_nPos = std::min(std::max(nPos, m_nLower), MaxPos());
    RedrawNow();
    return old;
}

int CTextProgressCtrl::OffsetPos(int nDelta)
{
    return SetPos(m_nPos + nDelta);
}

int CTextProgressCtrl::SetStep(int nStep)
{
    const int old = m_nStep;
    m_nStep = nStep;
    return old;
}

int CTextProgressCtrl::StepIt()
{
    int next = m_nPos + m_nStep;
    if (next < m_nLower)
        next = m_nUpper - (m_nLower - next);
    else if (next > m_nUpper)
        next = m_nLower + (next - m_nUpper);
    return SetPos(next);
}

ColorRef CTextProgressCtrl::SetBarColor(ColorRef color)
{
    const ColorRef old = m_crBar;
    m_crBar = color;
    RedrawNow();
    return old;
}

ColorRef CTextProgressCtrl::SetBkColor(ColorRef color)
{
    const ColorRef old = m_crBk;
    m_crBk = color;
    RedrawNow();
    return old;
}

ColorRef CTextProgressCtrl::GetBarColor() const
{
    return Resolve(m_crBar, SysColor::Highlight);
}

ColorRef CTextProgressCtrl::GetBkColor() const
{
    return Resolve(m_crBk, SysColor::BtnFace);
}

ColorRef CTextProgressCtrl::SetTextColor(ColorRef color)
{
    const ColorRef old = m_crTextBk;
    m_crTextBk = color;
    RedrawNow();
    return old;
}

ColorRef CTextProgressCtrl::SetTextOverBarColor(ColorRef color)
{
    const ColorRef old = m_crTextBar;
    m_crTextBar = color;
    RedrawNow();
    return old;
}

void CTextProgressCtrl::SetShowPercent(bool bShow)
{
    m_bShowPercent = bShow;
    RedrawNow();
}

void CTextProgressCtrl::AlignText(int nAlign)
{
    m_nAlign = nAlign;
    RedrawNow();
}

void CTextProgressCtrl::SetWindowText(const std::string& text)
{
    m_strText = krv::ui::toQt(text);
    update();
}

std::string CTextProgressCtrl::GetDisplayText() const
{
    if (!m_bShowPercent)
        return krv::ui::fromQt(m_strText);
    if (m_nLower >= m_nUpper)
        return "0%";
    const double fraction = double(m_nPos - m_nLower) / double(m_nUpper - m_nLower);
    return std::to_string(int(std::trunc(fraction * 100.0 + 0.5))) + "%";
}

void CTextProgressCtrl::ModifyStyle(uint32_t remove, uint32_t add)
{
    m_dwStyle = (m_dwStyle & ~remove) | add;
    update();
}

int CTextProgressCtrl::SetMarqueeBlock(int nPercent)
{
    m_nMarqueeBlock = nPercent;
    RedrawNow();
    return nPercent;
}

bool CTextProgressCtrl::SetMarquee(bool bOn, int intervalMs)
{
    m_bShowPercent = false;
    KillMarqueeTimer();
    if (bOn) {
        m_dwStyle |= kStyleMarquee;
        m_nMarqueeTimer = startTimer(std::max(intervalMs, 0));
    } else {
        m_dwStyle &= ~kStyleMarquee;
    }
    return bOn;
}

void CTextProgressCtrl::KillMarqueeTimer()
{
    if (m_nMarqueeTimer != 0)
        killTimer(m_nMarqueeTimer);
    m_nMarqueeTimer = 0;
}

void CTextProgressCtrl::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_nMarqueeTimer && m_nMarqueeTimer != 0)
        OnMarqueeTimer();
}

void CTextProgressCtrl::OnMarqueeTimer()
{
    if (s_nMarqueeDirection > 0 && m_nPos >= GetMarqueeMax())
        s_nMarqueeDirection = -1;
    else if (s_nMarqueeDirection < 0 && m_nPos <= m_nLower)
        s_nMarqueeDirection = 1;
    SetPos(m_nPos + s_nMarqueeDirection);
}

void CTextProgressCtrl::RedrawNow()
{
    repaint();
}

void CTextProgressCtrl::paintEvent(QPaintEvent*)
{
    if (m_nLower >= m_nUpper)
        return;

    const QColor bar = krv::ui::toQColor(GetBarColor());
    const QColor back = krv::ui::toQColor(GetBkColor());
    const QColor textOverBack = krv::ui::toQColor(Resolve(m_crTextBk, SysColor::WindowText));
    const QColor textOverBar = krv::ui::toQColor(Resolve(m_crTextBar, SysColor::Window));

    QPainter target(this);
    CMemDC dc(target, *this, rect());
    QPainter& p = dc.painter();
    p.setFont(font());
    p.setBackgroundMode(Qt::TransparentMode);

    const QRect client = rect();
    const bool vertical = (m_dwStyle & kStyleVertical) != 0;
    const int length = vertical ? client.height() : client.width();
    const double fraction = double(m_nPos - m_nLower) / double(m_nUpper - m_nLower);

    // Bar as [start, end) along the bar's own axis, from its start edge.
    int end = int(std::trunc(length * fraction));
    int start = 0;
    if (m_dwStyle & kStyleMarquee)
        start = end - (length * m_nMarqueeBlock + 50) / 100;
    start = std::max(start, 0);
    end = std::min(end, length);

    // Along the axis to window rectangles; a vertical bar grows upward.
    auto span = [&](int from, int to) {
        if (to <= from)
            return QRect();
        if (vertical)
            return QRect(client.left(), client.bottom() + 1 - to, client.width(), to - from);
        return QRect(client.left() + from, client.top(), to - from, client.height());
    };
    const QRect barPart = span(start, end);
    const QRect backParts[2] = {span(0, start), span(end, length)};

    if (!barPart.isEmpty())
        p.fillRect(barPart, bar);
    for (const QRect& part : backParts)
        if (!part.isEmpty())
            p.fillRect(part, back);

    const QString text = krv::ui::toQt(GetDisplayText());
    if (text.isEmpty())
        return;

    // Vertical text is the control's font turned a quarter left.
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text);
    const int textHeight = metrics.height();

    // Where the text's box starts: its left edge (horizontal) or its bottom
    // edge (vertical, the text reading upward).
    auto drawText = [&](const QRect& clip, const QColor& color) {
        if (clip.isEmpty())
            return;
        p.save();
        p.setClipRect(clip);
        p.setPen(color);
        if (vertical) {
            int y;
            if (m_nAlign == kAlignStart)
                y = client.bottom() - 3;
            else if (m_nAlign == kAlignEnd)
                y = client.top() + textWidth + 2;
            else
                y = client.top() + (client.height() + textWidth) / 2;
            const int x = client.left() + (client.width() - textHeight) / 2;
            p.translate(x, y);
            p.rotate(-90);
            p.drawText(0, metrics.ascent(), text);
        } else {
            int x;
            if (m_nAlign == kAlignStart)
                x = client.left() + 2;
            else if (m_nAlign == kAlignEnd)
                x = client.right() - textWidth - 3;
            else
                x = client.left() + (client.width() - textWidth) / 2;
            const int y = client.top() + (client.height() - textHeight) / 2 + metrics.ascent();
            p.drawText(x, y, text);
        }
        p.restore();
    };
    drawText(barPart, textOverBar);
    for (const QRect& part : backParts)
        drawText(part, textOverBack);
}
