#pragma once
// Off-screen drawing for a control's paint: everything is drawn into a
// pixmap the size of the drawing rectangle and copied onto the window in
// one piece when the object goes, so a control that paints in several
// layers (bar, background, two-coloured text) never shows a half-drawn
// frame. Drawing uses the window's coordinates.
#include <QPainter>
#include <QPixmap>
#include <QRect>

class QWidget;

class CMemDC {
public:
    // `rect` empty: the target painter's clip box, else the whole window.
    CMemDC(QPainter& target, const QWidget& window, const QRect& rect = QRect());
    ~CMemDC();
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    QPainter& painter() { return m_painter; }
    QPainter* operator->() { return &m_painter; }
    const QRect& rect() const { return m_rect; }

private:
    void FillBackground(const QWidget& window);

    QPainter& m_target;
    QRect m_rect;
    QPixmap m_bitmap;
    QPainter m_painter;
};
