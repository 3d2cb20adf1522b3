#include <QDialog>
#include <QPainter>

#include "controls/MemDC.h"
#include "controls/SysColors.h"
#include "tests/controls/ControlsTestSupport.h"

namespace krv::test {
namespace {

// Draws through a CMemDC over part of a canvas and reads the canvas back.
QImage drawThrough(const QWidget& window, const QRect& rect)
{
    QPixmap canvas(60, 40);
    canvas.fill(Qt::black);
    {
        QPainter target(&canvas);
        CMemDC dc(target, window, rect);
        dc->fillRect(QRect(22, 12, 4, 4), Qt::red);  // window coordinates
        // Nothing reaches the window before the off-screen copy goes.
        EXPECT_EQ(QColor(canvas.toImage().pixel(23, 13)), QColor(Qt::black));
    }
    return canvas.toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(MemDC, StartsFromTheWindowsBackgroundAndCopiesBackOnlyItsRectangle)
{
    QWidget plain;
    QPalette palette = plain.palette();
    palette.setColor(QPalette::Window, Qt::yellow);
    plain.setPalette(palette);
    QDialog dialog;

    struct Case {
        const char* name;
        const QWidget* window;
        QColor fill;
    } cases[] = {
        {"plain window", &plain, Qt::yellow},
        {"dialog", &dialog, ui::toQColor(controls::sysColor(controls::SysColor::BtnFace))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = drawThrough(*c.window, QRect(20, 10, 20, 10));
        EXPECT_EQ(QColor(image.pixel(21, 11)), c.fill);
        EXPECT_EQ(QColor(image.pixel(23, 13)), QColor(Qt::red));
        EXPECT_EQ(QColor(image.pixel(39, 19)), c.fill);
        EXPECT_EQ(QColor(image.pixel(19, 9)), QColor(Qt::black));
        EXPECT_EQ(QColor(image.pixel(40, 20)), QColor(Qt::black));
    }
}

}  // namespace
}  // namespace krv::test
