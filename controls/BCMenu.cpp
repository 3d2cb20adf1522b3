// The item records of a BCMenu, the process-wide list of live menus and the
// shared item images, the keyboard shortcut search and the style choice.
// Measuring and painting are in BCMenuDraw.cpp.
#include "controls/BCMenu.h"

#include <algorithm>
#include <set>

#include <QAction>
#include <QMenu>

#include "controls/BCMenuStyle.h"
#include "controls/ButtonSTIcons.h"

namespace {

// Every menu a BCMenu made and has not destroyed yet.
std::set<const QMenu*>& liveMenus()
{
    static std::set<const QMenu*> menus;
    return menus;
}

// The images of all menus, one per command id; made on first use (images
// need the application, which static objects outlive).
struct SharedImages {
    std::vector<QImage> images;
    std::vector<unsigned> ids;
};

SharedImages& sharedImages()
{
    static SharedImages list;
    return list;
}

// The item's image index: an id already in the list has its image replaced.
int addImage(unsigned nID, const QImage& image)
{
    SharedImages& list = sharedImages();
    const auto it = std::find(list.ids.begin(), list.ids.end(), nID);
    if (it != list.ids.end()) {
        const auto index = it - list.ids.begin();
        list.images[size_t(index)] = image;
        return int(index);
    }
    list.images.push_back(image);
    list.ids.push_back(nID);
    return int(list.images.size() - 1);
}

}  // namespace

BCMenu::BCMenu() = default;

BCMenu::~BCMenu() { DestroyMenu(); }

bool BCMenu::CreatePopupMenu()
{
    if (m_hMenu)
        return false;
    m_hMenu = std::make_unique<QMenu>();
    m_hMenu->setStyle(new BCMenuStyle(this, m_hMenu.get()));
    liveMenus().insert(m_hMenu.get());
    return true;
}

bool BCMenu::DestroyMenu()
{
    for (auto& sub : m_SubMenus)
        sub->DestroyMenu();
    m_SubMenus.clear();
    m_MenuList.clear();
    if (!m_hMenu)
        return false;
    liveMenus().erase(m_hMenu.get());
    m_hMenu.reset();
    return true;
}

bool BCMenu::IsMenu(const QMenu* hMenu) { return hMenu && liveMenus().count(hMenu) != 0; }

bool BCMenu::AppendOwnerDrawnItem(const QString& text, unsigned nFlags, unsigned nID, int nIconNormal)
{
    auto data = std::make_unique<BCMenuData>();
    data->m_szMenuText = text;
    data->nFlags = nFlags & ~MF_POPUP;
    data->nID = nFlags & MF_SEPARATOR ? 0 : nID;
    return AppendItem(std::move(data), nIconNormal);
}

bool BCMenu::AppendOwnerDrawnItem(const QString& text, unsigned nFlags, std::unique_ptr<BCMenu> pSubMenu,
                                  int nIconNormal)
{
    if (!pSubMenu || !pSubMenu->GetMenu())
        return false;
    auto data = std::make_unique<BCMenuData>();
    data->m_szMenuText = text;
    data->nFlags = nFlags | MF_POPUP;
    data->pSubMenu = pSubMenu.get();
    m_SubMenus.push_back(std::move(pSubMenu));
    return AppendItem(std::move(data), nIconNormal);
}

bool BCMenu::AppendItem(std::unique_ptr<BCMenuData> data, int nIconNormal)
{
    if (!m_hMenu)
        return false;
    if (nIconNormal >= 0 && !(data->nFlags & (MF_SEPARATOR | MF_POPUP))) {
        const QImage image = krv::controls::LoadButtonIcon(nIconNormal, m_iconX, m_iconY);
        // A missing image leaves the item without one.
        if (!image.isNull())
            data->xoffset = addImage(data->nID, image);
    }
    QAction* action = nullptr;
    if (data->nFlags & MF_SEPARATOR) {
        action = m_hMenu->addSeparator();
    } else if (data->nFlags & MF_POPUP) {
        action = m_hMenu->addMenu(data->pSubMenu->GetMenu());
        action->setText(data->m_szMenuText);
    } else {
        action = m_hMenu->addAction(data->m_szMenuText);
        action->setData(data->nID);
    }
    action->setEnabled(!(data->nFlags & (MF_GRAYED | MF_DISABLED)));
    action->setCheckable((data->nFlags & MF_CHECKED) != 0);
    action->setChecked((data->nFlags & MF_CHECKED) != 0);
    data->pAction = action;
    m_MenuList.push_back(std::move(data));
    return true;
}

bool BCMenu::ModifyOwnerDrawnItem(unsigned nPosOrId, unsigned nFlags, unsigned nID, const QString& text)
{
    if (!m_hMenu)
        return false;
    int nPos = -1;
    const BCMenu* holder = FindItem(nPosOrId, nFlags, nPos);
    if (!holder || nPos < 0 || nPos >= holder->GetMenuItemCount())
        return false;
    BCMenuData& data = *const_cast<BCMenu*>(holder)->m_MenuList[size_t(nPos)];
    const unsigned nKeep = data.nFlags & MF_POPUP;
    data.m_szMenuText = text;
    data.nFlags = (nFlags & ~MF_BYPOSITION) | nKeep;
    if (!nKeep)
        data.nID = nID;
    data.pAction->setText(text);
    data.pAction->setEnabled(!(data.nFlags & (MF_GRAYED | MF_DISABLED)));
    data.pAction->setCheckable((data.nFlags & MF_CHECKED) != 0);
    data.pAction->setChecked((data.nFlags & MF_CHECKED) != 0);
    if (!nKeep)
        data.pAction->setData(data.nID);
    return true;
}

int BCMenu::GetMenuItemCount() const { return int(m_MenuList.size()); }

const BCMenuData* BCMenu::GetItemData(int nPos) const
{
    return nPos >= 0 && nPos < GetMenuItemCount() ? m_MenuList[size_t(nPos)].get() : nullptr;
}

const BCMenu* BCMenu::FindMenuHolding(unsigned nID, int& nPos) const
{
    for (size_t i = 0; i < m_MenuList.size(); ++i) {
        const BCMenuData& data = *m_MenuList[i];
        if (data.pSubMenu) {
            if (const BCMenu* found = data.pSubMenu->FindMenuHolding(nID, nPos))
                return found;
        } else if (!(data.nFlags & MF_SEPARATOR) && data.nID == nID) {
            nPos = int(i);
            return this;
        }
    }
    return nullptr;
}

const BCMenu* BCMenu::FindItem(unsigned nPosOrId, unsigned nFlags, int& nPos) const
{
    if (nFlags & MF_BYPOSITION) {
        nPos = int(nPosOrId);
        return this;
    }
    return FindMenuHolding(nPosOrId, nPos);
}

bool BCMenu::GetMenuText(unsigned nPosOrId, QString& text, unsigned nFlags) const
{
    int nPos = -1;
    const BCMenu* holder = FindItem(nPosOrId, nFlags, nPos);
    const BCMenuData* data = holder ? holder->GetItemData(nPos) : nullptr;
    if (!data)
        return false;
    text = data->m_szMenuText;
    return true;
}

void BCMenu::SyncItems()
{
    // Items that someone removed from the real menu behind the records'
    // back lose their records, so that positions agree again.
    if (!m_hMenu)
        return;
    const QList<QAction*> actions = m_hMenu->actions();
    std::erase_if(m_MenuList, [&](const auto& data) { return !actions.contains(data->pAction); });
}

long BCMenu::FindKeyboardShortcut(unsigned nChar, unsigned nFlags, BCMenu* pMenu)
{
    if (!IsMenu(pMenu) || !(nFlags & MF_POPUP))
        return 0;
    if (pMenu->GetMenu()->actions().size() != pMenu->GetMenuItemCount())
        pMenu->SyncItems();
    const QString key = QStringLiteral("&") + QChar(char16_t(nChar)).toLower();
    for (int i = 0; i < pMenu->GetMenuItemCount(); ++i)
        if (pMenu->m_MenuList[size_t(i)]->m_szMenuText.toLower().contains(key))
            return (MNC_EXECUTE << 16) | i;
    return 0;
}

krv::ui::ColorRef BCMenu::LightenColor(krv::ui::ColorRef col, double factor)
{
    if (factor <= 0.0 || factor > 1.0)
        return col;
    auto lighten = [&](int shift) {
        const int c = int((col >> shift) & 0xFF);
        return uint8_t(int((255 - c) * factor + c));
    };
    return krv::ui::rgb(lighten(0), lighten(8), lighten(16));
}

int BCMenu::WinVersionCode(bool bNtFamily, int nMajor, int nMinor)
{
    if (!bNtFamily) {
        if (nMajor < 4)
            return 0;
        if (nMajor == 4 && nMinor == 10)
            return 3;
        if (nMajor == 4 && nMinor == 90)
            return 4;
        return 2;
    }
    if (nMajor == 4)
        return 5;
    if (nMajor == 5 && nMinor == 0)
        return 6;
    if (nMajor == 5 && nMinor == 1)
        return 7;
    return 1;
}

int BCMenu::nGetWinVersion()
{
    // This system is none of the old releases the menu tells apart: it
    // counts as a later one of the NT family.
    static const int nCode = WinVersionCode(true, 6, 2);
    return nCode;
}

bool BCMenu::IsClassicThemeName(const QString& themeFile)
{
    static const QString kClassic = QStringLiteral("Windows Classic.theme");
    return themeFile.size() >= kClassic.size() && themeFile.endsWith(kClassic, Qt::CaseInsensitive);
}

bool BCMenu::IsClassicTheme()
{
    // No theme file is recorded on this system, so the theme is never the
    // classic one.
    static const bool bClassic = IsClassicThemeName(QString());
    return bClassic;
}

bool BCMenu::UseXPStyle(int nVersionCode, bool bClassicTheme)
{
    // The initial draw modes: the flat look with the XP visual style on, the
    // classic one everywhere else.
    constexpr int kXPDrawModeWithVisualStyle = 1;
    constexpr int kXPDrawModeOtherwise = 0;
    const bool bXPVisualStyle = nVersionCode == 7 && !bClassicTheme;
    return bXPVisualStyle ? kXPDrawModeWithVisualStyle == 1 : kXPDrawModeOtherwise == 1;
}

QImage BCMenu::ItemImage(const BCMenuData& data) const
{
    const SharedImages& list = sharedImages();
    return data.xoffset >= 0 && size_t(data.xoffset) < list.images.size() ? list.images[size_t(data.xoffset)]
                                                                          : QImage();
}
