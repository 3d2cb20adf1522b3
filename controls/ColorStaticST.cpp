#include "controls/ColorStaticST.h"

#include <chrono>
#include <cstdint>

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QTimerEvent>

#include "controls/SysColors.h"

using krv::controls::SysColor;
using krv::controls::sysColor;
using krv::ui::ColorRef;

CColorStaticST::CColorStaticST(QWidget* parent)
    : QLabel(parent),
      m_crText(sysColor(SysColor::BtnText)),
      m_crBlinkText{m_crText, m_crText},
      m_crBk(sysColor(SysColor::BtnFace)),
      m_crBlinkBk{m_crBk, m_crBk}
{
    setTextFormat(Qt::PlainText);
}

CColorStaticST::~CColorStaticST() = default;

void CColorStaticST::SetTextColor(ColorRef color)
{
    m_crText = color == krv::ui::kColorNotSet ? sysColor(SysColor::BtnText) : color;
    update();
}

void CColorStaticST::SetBkColor(ColorRef color)
{
    m_crBk = color == krv::ui::kColorNotSet ? sysColor(SysColor::BtnFace) : color;
    update();
}

void CColorStaticST::SetBlinkTextColors(ColorRef first, ColorRef second)
{
    m_crBlinkText[0] = first;
    m_crBlinkText[1] = second;
    update();
}

void CColorStaticST::SetBlinkBkColors(ColorRef first, ColorRef second)
{
    m_crBlinkBk[0] = first;
    m_crBlinkBk[1] = second;
    update();
}

int CColorStaticST::BlinkPeriodMs(unsigned nSpeed)
{
    switch (nSpeed) {
    case 0: return 2000;
    case 1: return 1000;
    case 2: return 500;
    default: return nSpeed > unsigned(INT32_MAX) ? INT32_MAX : int(nSpeed);
    }
}

void CColorStaticST::StartTextBlink(bool bOn, unsigned nSpeed)
{
    m_bTextBlink = bOn;
    m_nTextBlinkStep = 0;
    RestartBlinkTimer(bOn, nSpeed);
}

void CColorStaticST::StartBkBlink(bool bOn, unsigned nSpeed)
{
    m_bBkBlink = bOn;
    m_nBkBlinkStep = 0;
    RestartBlinkTimer(bOn, nSpeed);
}

void CColorStaticST::RestartBlinkTimer(bool bOn, unsigned nSpeed)
{
    if (m_nTimerId != 0)
        killTimer(m_nTimerId);
    m_nTimerId = bOn ? startTimer(std::chrono::milliseconds(BlinkPeriodMs(nSpeed))) : 0;
    update();
}

CColorStaticST::CtlColors CColorStaticST::CtlColor() const
{
    return {m_bTextBlink ? m_crBlinkText[m_nTextBlinkStep] : m_crText,
            m_bBkBlink ? m_crBlinkBk[m_nBkBlinkStep] : m_crBk};
}

void CColorStaticST::timerEvent(QTimerEvent* event)
{
    if (m_nTimerId != 0 && event->timerId() == m_nTimerId)
        OnBlinkTimer();
    else
        QLabel::timerEvent(event);
}

void CColorStaticST::OnBlinkTimer()
{
    if (!m_bTextBlink && !m_bBkBlink)
        return;
    if (m_bTextBlink)
        m_nTextBlinkStep ^= 1;
    if (m_bBkBlink)
        m_nBkBlinkStep ^= 1;
    update();
}

void CColorStaticST::paintEvent(QPaintEvent*)
{
    const CtlColors colors = CtlColor();
    QPainter p(this);
    p.fillRect(rect(), krv::ui::toQColor(colors.crBk));
    p.setPen(krv::ui::toQColor(colors.crText));
    const int flags = int(alignment()) | (wordWrap() ? int(Qt::TextWordWrap) : 0);
    const int inset = margin();
    const QRect area = contentsRect().adjusted(inset, inset, -inset, -inset);
    // QPalette::NoRole: the painter's pen is the colour.
    style()->drawItemText(&p, area, flags, palette(), isEnabled(), text(), QPalette::NoRole);
}
