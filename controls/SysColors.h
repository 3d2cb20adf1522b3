#pragma once
// The window system's named colours (button face, highlight ...) as the
// controls resolve their "system colour" values. They come from the
// application's palette, so the controls follow the platform's theme and a
// test can pin them by setting a palette.
#include "ui/Colors.h"

namespace krv::controls {

enum class SysColor {
    BtnFace,     // face of buttons and dialogs
    BtnText,     // text on buttons and statics
    Highlight,   // selection and progress fill
    Window,      // background of edit and list windows
    WindowText,  // text in those windows
    // The 3D edges of buttons and frames, outermost light to outermost dark.
    BtnHighlight,
    Light3D,
    BtnShadow,
    DkShadow3D,
    GrayText,       // disabled text
    HighlightText,  // text on the selection
    Menu,           // face and text of menus
    MenuText,
};

ui::ColorRef sysColor(SysColor which);

}  // namespace krv::controls
