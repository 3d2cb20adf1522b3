#pragma once
// The set-up step of a window that gives its buttons their icons and
// tooltips, from a table of control ids. An id that names no CButtonST is
// passed over. GUI thread only.
#include <initializer_list>

#include "ui/Dialog.h"

class CButtonST;

struct ButtonSTLook {
    int id;
    int nIcon;
    int nIcon2;  // second icon number, CButtonST::SecondIconDarker, or 0
    const char* pszTooltip;  // null: no tooltip
};

enum ButtonSTLookFlags : unsigned {
    kLookFlat = 0,
    kLook3D = 1,           // SetFlat(false)
    kLookTransparent = 2,  // ResetTransparentBackground, no repaint
    kLookBalloon = 4,      // balloon tooltip
};

void vSetButtonLooks(krv::ui::Dialog& dlg, std::initializer_list<ButtonSTLook> looks, unsigned nFlags);
// One button's look; null when `control` is no CButtonST.
CButtonST* pSetButtonLook(QWidget* control, const ButtonSTLook& look, unsigned nFlags);
