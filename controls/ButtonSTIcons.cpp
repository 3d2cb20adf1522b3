#include "controls/ButtonSTIcons.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace krv::controls {
namespace {

// Every icon is drawn on a 24 x 24 grid; the painter is scaled to the size
// asked for.
using Draw = void (*)(QPainter&);

const QColor kInk(40, 40, 40);
const QColor kGreen(30, 150, 50);
const QColor kRed(200, 40, 40);
const QColor kBlue(40, 90, 190);
const QColor kGold(215, 165, 30);
const QColor kFolder(235, 190, 70);

void outline(QPainter& p, const QColor& color, double width = 1.5)
{
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void folder(QPainter& p)
{
    outline(p, QColor(150, 110, 20));
    p.setBrush(kFolder);
    p.drawPolygon(QPolygonF({{2, 6}, {9, 6}, {11, 8}, {22, 8}, {22, 20}, {2, 20}}));
    p.setBrush(QColor(250, 215, 110));
    p.drawPolygon(QPolygonF({{2, 20}, {5, 11}, {23, 11}, {20, 20}}));
}

void tick(QPainter& p, const QColor& color, double width)
{
    outline(p, color, width);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{5, 12.5}, {10, 17.5}, {19, 6.5}}));
}

void cross(QPainter& p, const QColor& color, double width)
{
    outline(p, color, width);
    p.drawLine(QPointF(6, 6), QPointF(18, 18));
    p.drawLine(QPointF(18, 6), QPointF(6, 18));
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& color)
{
    outline(p, color, 2.5);
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::max(1.0, std::hypot(to.x() - from.x(), to.y() - from.y()));
    const QPointF n(-d.y(), d.x());
    p.setBrush(color);
    outline(p, color, 1);
    p.drawPolygon(QPolygonF({to + d * 2, to - d * 4 + n * 4, to - d * 4 - n * 4}));
}

void chip(QPainter& p)
{
    outline(p, kInk, 1.2);
    p.setBrush(QColor(90, 90, 100));
    p.drawRect(QRectF(4, 7, 12, 12));
    for (int i = 0; i < 3; ++i) {
        p.drawLine(QPointF(7 + 3 * i, 4), QPointF(7 + 3 * i, 7));
        p.drawLine(QPointF(7 + 3 * i, 19), QPointF(7 + 3 * i, 22));
    }
}

void padlock(QPainter& p, bool bOpen)
{
    outline(p, QColor(120, 120, 120), 2.5);
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    const double right = bOpen ? 21 : 17;
    shackle.moveTo(bOpen ? 13 : 7, 11);
    shackle.lineTo(bOpen ? 13 : 7, 7);
    shackle.arcTo(QRectF(bOpen ? 13 : 7, 2, right - (bOpen ? 13 : 7), 10), 180, -180);
    shackle.lineTo(right, bOpen ? 9 : 11);
    p.drawPath(shackle);
    outline(p, QColor(150, 110, 20), 1.2);
    p.setBrush(kGold);
    p.drawRoundedRect(QRectF(4, 11, 16, 11), 2, 2);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(12, 16), 1.5, 1.5);
}

void gear(QPainter& p, const QColor& color)
{
    outline(p, kInk, 1.2);
    p.setBrush(color);
    QPolygonF teeth;
    for (int i = 0; i < 16; ++i) {
        const double a = i * 3.14159265 / 8;
        const double r = (i % 2) ? 8 : 11;
        teeth << QPointF(12 + r * std::cos(a), 12 + r * std::sin(a));
    }
    p.drawPolygon(teeth);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(12, 12), 3.5, 3.5);
}

void box(QPainter& p)
{
    outline(p, kInk, 1.5);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3, 3, 18, 18));
}

void table(QPainter& p)
{
    outline(p, kInk, 1.2);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3, 4, 18, 16));
    p.fillRect(QRectF(3.6, 4.6, 16.8, 3.8), kBlue);
    for (double y : {12.0, 16.0})
        p.drawLine(QPointF(3, y), QPointF(21, y));
    p.drawLine(QPointF(10, 8), QPointF(10, 20));
}

const struct {
    int id;
    Draw draw;
} kIcons[] = {
    {162,  // Load INI: a file coming out of a folder
     [](QPainter& p) {
         folder(p);
         arrow(p, {12, 17}, {12, 5}, kBlue);
     }},
    {163,  // Save INI: a disk
     [](QPainter& p) {
         outline(p, QColor(20, 40, 100), 1.2);
         p.setBrush(kBlue);
         p.drawPolygon(QPolygonF({{3, 3}, {18, 3}, {21, 6}, {21, 21}, {3, 21}}));
         p.setBrush(Qt::white);
         p.drawRect(QRectF(7, 3, 9, 6));
         p.setBrush(QColor(220, 220, 220));
         p.drawRect(QRectF(6, 13, 12, 8));
     }},
    {164, [](QPainter& p) { padlock(p, false); }},  // Lock
    {165, [](QPainter& p) { padlock(p, true); }},   // Unlock
    {166,  // Check_Config: a magnifier over a chip
     [](QPainter& p) {
         chip(p);
         outline(p, kInk, 2.5);
         p.drawLine(QPointF(17, 17), QPointF(22, 22));
         outline(p, kInk, 1.5);
         p.setBrush(QColor(200, 230, 255, 200));
         p.drawEllipse(QPointF(14, 14), 5, 5);
     }},
    {167, folder},  // Browse
    {169,           // Start
     [](QPainter& p) {
         outline(p, QColor(20, 100, 30), 1.2);
         p.setBrush(kGreen);
         p.drawPolygon(QPolygonF({{6, 3}, {21, 12}, {6, 21}}));
     }},
    {171,  // Clear Count: back to zero
     [](QPainter& p) {
         outline(p, kRed, 2.5);
         p.setBrush(Qt::NoBrush);
         p.drawArc(QRectF(4, 4, 16, 16), 100 * 16, 290 * 16);
         p.setBrush(kRed);
         outline(p, kRed, 1);
         p.drawPolygon(QPolygonF({{7, 1}, {14, 4.5}, {8, 9}}));
     }},
    {173,  // Safely Remove: eject
     [](QPainter& p) {
         outline(p, QColor(20, 100, 30), 1.2);
         p.setBrush(kGreen);
         p.drawPolygon(QPolygonF({{12, 3}, {21, 14}, {3, 14}}));
         p.drawRect(QRectF(3, 17, 18, 4));
     }},
    {174, [](QPainter& p) { gear(p, QColor(160, 160, 170)); }},  // More Config
    {175,                                                        // checked box
     [](QPainter& p) {
         box(p);
         tick(p, kGreen, 3);
     }},
    {176, box},  // unchecked box
    {182,        // Exit
     [](QPainter& p) {
         outline(p, QColor(130, 20, 20), 1.2);
         p.setBrush(kRed);
         p.drawEllipse(QRectF(2, 2, 20, 20));
         cross(p, Qt::white, 3);
     }},
    {183,  // Min
     [](QPainter& p) {
         outline(p, kInk, 1.2);
         p.setBrush(Qt::white);
         p.drawRect(QRectF(3, 4, 18, 16));
         p.fillRect(QRectF(7, 15, 10, 3), kInk);
     }},
    {185, [](QPainter& p) { cross(p, kRed, 3.5); }},  // Cancel
    {186, [](QPainter& p) { tick(p, kGreen, 3.5); }}, // OK
    {187,                                             // Read Register: data out of the chip
     [](QPainter& p) {
         chip(p);
         arrow(p, {12, 13}, {21, 13}, kBlue);
     }},
    {188,  // Write Register: data into the chip
     [](QPainter& p) {
         chip(p);
         arrow(p, {23, 13}, {14, 13}, kRed);
     }},
    {189, table},  // Read (U4) Config Table
    {190,          // Device / U4 Info
     [](QPainter& p) {
         outline(p, QColor(20, 50, 120), 1.2);
         p.setBrush(kBlue);
         p.drawEllipse(QRectF(2, 2, 20, 20));
         p.setBrush(Qt::white);
         p.setPen(Qt::NoPen);
         p.drawEllipse(QPointF(12, 7), 1.8, 1.8);
         p.drawRect(QRectF(10.5, 10, 3, 8));
     }},
    {196,  // SHA-256 key
     [](QPainter& p) {
         outline(p, QColor(150, 110, 20), 1.2);
         p.setBrush(kGold);
         p.drawEllipse(QRectF(2, 5, 10, 10));
         p.drawRect(QRectF(11, 8.5, 11, 3));
         p.drawRect(QRectF(17, 11.5, 2, 4));
         p.drawRect(QRectF(20, 11.5, 2, 3));
         p.setBrush(Qt::white);
         p.drawEllipse(QPointF(7, 10), 2, 2);
     }},
    {204,  // Power Delivery key: a bolt
     [](QPainter& p) {
         outline(p, QColor(150, 110, 20), 1.2);
         p.setBrush(QColor(250, 200, 30));
         p.drawPolygon(QPolygonF({{14, 1}, {5, 13}, {11, 13}, {9, 23}, {19, 10}, {13, 10}}));
     }},
};

}  // namespace

QImage LoadButtonIcon(int nResourceId, int cx, int cy)
{
    const auto* icon = std::find_if(std::begin(kIcons), std::end(kIcons),
                                    [&](const auto& entry) { return entry.id == nResourceId; });
    if (icon == std::end(kIcons) || cx < 0 || cy < 0)
        return {};
    const int width = cx > 0 ? cx : kButtonIconSize;
    const int height = cy > 0 ? cy : kButtonIconSize;
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(width / double(kButtonIconSize), height / double(kButtonIconSize));
    icon->draw(painter);
    return image;
}

std::vector<int> ButtonIconIds()
{
    std::vector<int> ids;
    for (const auto& icon : kIcons)
        ids.push_back(icon.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace krv::controls
