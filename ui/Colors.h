#pragma once
// Colours as the system's code writes them: the window system's COLORREF,
// 0x00BBGGRR (red in the low byte). Writing such a value straight into a
// QColor swaps red and blue, so every conversion goes through here.
#include <cstdint>

#include <QColor>

namespace krv::ui {

using ColorRef = uint32_t;

// "Not set": the list control and the colour static leave the colour to
// their default. Any value whose top byte is not zero is not an RGB colour
// (0xFF000000 asks the progress bar for its system colour); the control that
// gives such a value its meaning resolves it, the conversion never does.
constexpr ColorRef kColorNotSet = 0xFFFFFFFFu;

constexpr ColorRef rgb(uint8_t red, uint8_t green, uint8_t blue)
{
    return ColorRef(red) | (ColorRef(green) << 8) | (ColorRef(blue) << 16);
}

// An 0x00BBGGRR value as an opaque QColor; any value with a non-zero top
// byte (kColorNotSet among them) gives an invalid QColor.
QColor toQColor(ColorRef color);

// A QColor back as 0x00BBGGRR; alpha is dropped. An invalid QColor gives
// kColorNotSet, so "not set" survives a round trip.
ColorRef toColorRef(const QColor& color);

}  // namespace krv::ui
