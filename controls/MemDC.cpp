#include "controls/MemDC.h"

#include <QDialog>
#include <QWidget>

#include "controls/SysColors.h"

CMemDC::CMemDC(QPainter& target, const QWidget& window, const QRect& rect)
    : m_target(target), m_rect(rect)
{
    if (m_rect.isEmpty())
        m_rect = target.hasClipping() ? target.clipBoundingRect().toAlignedRect() : window.rect();
    const qreal ratio = window.devicePixelRatioF();
    m_bitmap = QPixmap(m_rect.size() * ratio);
    m_bitmap.setDevicePixelRatio(ratio);
    m_painter.begin(&m_bitmap);
    m_painter.setFont(target.font());
    m_painter.translate(-m_rect.topLeft());
    FillBackground(window);
}

CMemDC::~CMemDC()
{
    m_painter.end();
    m_target.drawPixmap(m_rect.topLeft(), m_bitmap);
}

// A dialog's face colour for dialogs, else whatever the window paints its
// background with, so a control drawn over it starts from what would have
// been there.
void CMemDC::FillBackground(const QWidget& window)
{
    if (qobject_cast<const QDialog*>(&window))
        m_painter.fillRect(m_rect, krv::ui::toQColor(krv::controls::sysColor(krv::controls::SysColor::BtnFace)));
    else
        m_painter.fillRect(m_rect, window.palette().brush(window.backgroundRole()));
}
