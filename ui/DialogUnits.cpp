#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace krv::ui {

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int mulDivRounded(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // Half the width of two letters, rounded: the window system's own sum.
    baseWidth_ = (letters / 26 + 1) / 2;
    baseHeight_ = metrics.height();
}

int DialogUnits::toPixelsX(int units) const { return mulDivRounded(units, baseWidth_, 4); }

int DialogUnits::toPixelsY(int units) const { return mulDivRounded(units, baseHeight_, 8); }

}  // namespace krv::ui
