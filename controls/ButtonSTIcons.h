#pragma once
// The icons the buttons show, by the icon numbers the window code names
// (162 "Load INI", 175/176 checked and unchecked box, ...). Each one is
// drawn here at the size asked for, on a transparent background, so that
// no icon file has to ship with the programs.
#include <vector>

#include <QImage>

namespace krv::controls {

// The size an icon has when its caller asks for none (0 x 0).
constexpr int kButtonIconSize = 24;

// The icon with that number, cx x cy pixels (0 for the own size); a null
// image for a number that names no icon.
QImage LoadButtonIcon(int nResourceId, int cx = 0, int cy = 0);

// Every number that names an icon, in ascending order.
std::vector<int> ButtonIconIds();

}  // namespace krv::controls
