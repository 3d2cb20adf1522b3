#pragma once
// Dialog units, the measure dialog layouts are given in: a horizontal unit
// is a quarter of the dialog font's average character width and a vertical
// unit an eighth of its height, worked out as the window system that the
// layouts were drawn for works out its dialog base units. A size in these
// units holds the same text in whatever font the dialog has here, where a
// size in pixels made for one font cuts text in a wider one.
#include <QFont>
#include <QSize>

namespace krv::ui {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    // The base units in pixels: the average width of the letters A-Z and
    // a-z, rounded, and the font's height.
    int baseWidth() const { return baseWidth_; }
    int baseHeight() const { return baseHeight_; }

    // Rounded to the nearest pixel.
    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    QSize toPixels(int width, int height) const { return {toPixelsX(width), toPixelsY(height)}; }

private:
    int baseWidth_;
    int baseHeight_;
};

}  // namespace krv::ui
