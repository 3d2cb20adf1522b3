#include "controls/SysColors.h"

#include <QApplication>
#include <QPalette>

namespace krv::controls {

ui::ColorRef sysColor(SysColor which)
{
    const QPalette palette = QApplication::palette();
    QPalette::ColorRole role = QPalette::Window;
    switch (which) {
    case SysColor::BtnFace: role = QPalette::Button; break;
    case SysColor::BtnText: role = QPalette::ButtonText; break;
    case SysColor::Highlight: role = QPalette::Highlight; break;
    case SysColor::Window: role = QPalette::Base; break;
    case SysColor::WindowText: role = QPalette::Text; break;
    }
    return ui::toColorRef(palette.color(QPalette::Active, role));
}

}  // namespace krv::controls
