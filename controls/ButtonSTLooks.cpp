#include "controls/ButtonSTLooks.h"

#include "controls/ButtonST.h"

CButtonST* pSetButtonLook(QWidget* control, const ButtonSTLook& look, unsigned nFlags)
{
    auto* button = qobject_cast<CButtonST*>(control);
    if (!button)
        return nullptr;
    if (nFlags & kLook3D)
        button->SetFlat(false);
    if (nFlags & kLookBalloon)
        button->SetTooltipBalloonStyle();
    button->SetIcon(look.nIcon, look.nIcon2);
    if (look.pszTooltip)
        button->SetTooltipText(QString::fromUtf8(look.pszTooltip));
    if (nFlags & kLookTransparent)
        button->ResetTransparentBackground(false);
    return button;
}

void vSetButtonLooks(krv::ui::Dialog& dlg, std::initializer_list<ButtonSTLook> looks, unsigned nFlags)
{
    for (const ButtonSTLook& look : looks)
        pSetButtonLook(dlg.control(look.id), look, nFlags);
}
