#include "controls/SysColors.h"

#include <QApplication>
#include <QPalette>

namespace krv::controls {

ui::ColorRef sysColor(SysColor which)
{
    const QPalette palette = QApplication::palette();
    if (which == SysColor::GrayText)
        return ui::toColorRef(palette.color(QPalette::Disabled, QPalette::Text));
    QPalette::ColorRole role = QPalette::Window;
    switch (which) {
    case SysColor::BtnFace: role = QPalette::Button; break;
    case SysColor::BtnText: role = QPalette::ButtonText; break;
    case SysColor::Highlight: role = QPalette::Highlight; break;
    case SysColor::Window: role = QPalette::Base; break;
    case SysColor::WindowText: role = QPalette::Text; break;
    case SysColor::BtnHighlight: role = QPalette::Light; break;
    case SysColor::Light3D: role = QPalette::Midlight; break;
    case SysColor::BtnShadow: role = QPalette::Dark; break;
    case SysColor::DkShadow3D: role = QPalette::Shadow; break;
    case SysColor::GrayText: break;
    case SysColor::HighlightText: role = QPalette::HighlightedText; break;
    case SysColor::Menu: role = QPalette::Window; break;
    case SysColor::MenuText: role = QPalette::WindowText; break;
    }
    return ui::toColorRef(palette.color(QPalette::Active, role));
}

}  // namespace krv::controls
