#include "ui/Colors.h"

namespace krv::ui {

QColor toQColor(ColorRef color)
{
    if (color & 0xFF000000u)
        return QColor();
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

ColorRef toColorRef(const QColor& color)
{
    if (!color.isValid())
        return kColorNotSet;
    const QColor c = color.toRgb();
    return rgb(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()));
}

}  // namespace krv::ui
