#pragma once
// Helpers for the control tests: pixels of a rendered widget, synthetic
// keys and clicks, and an active window so that focus really moves.
#include <set>

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include "tests/ui/UiTestSupport.h"
#include "ui/Colors.h"

namespace krv::test {

inline QImage grabImage(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline ui::ColorRef pixelAt(const QImage& image, int x, int y)
{
    return ui::toColorRef(QColor(image.pixel(x, y)));
}

// Every colour that occurs in `rect` of the image.
inline std::set<ui::ColorRef> colorsIn(const QImage& image, const QRect& rect)
{
    std::set<ui::ColorRef> colors;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            colors.insert(pixelAt(image, x, y));
    return colors;
}

inline int countColor(const QImage& image, const QRect& rect, ui::ColorRef color)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            n += pixelAt(image, x, y) == color;
    return n;
}

// Glyphs in exactly their colour, so a pixel is either text or background.
inline void crispFont(QWidget& widget, int pointSize = 0)
{
    QFont font = widget.font();
    font.setStyleStrategy(QFont::NoAntialias);
    if (pointSize > 0)
        font.setPointSize(pointSize);
    widget.setFont(font);
}

inline void sendKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

inline void sendMouse(QWidget* target, QEvent::Type type, QPoint at)
{
    const QPointF local(at);
    QMouseEvent event(type, local, target->mapToGlobal(local), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

inline void click(QWidget* target, QPoint at)
{
    sendMouse(target, QEvent::MouseButtonPress, at);
    sendMouse(target, QEvent::MouseButtonRelease, at);
}

// Shows the window and waits until it is the active one, so that setFocus
// moves the focus at once and focus changes are reported.
inline bool showActive(QWidget& window)
{
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    return runEventsUntil([&] { return window.isActiveWindow(); });
}

}  // namespace krv::test
