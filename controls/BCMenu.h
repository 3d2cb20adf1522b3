#pragma once
// An owner-drawn popup menu: each item carries its own text, flags and
// image, and the menu measures and paints its items itself, in the classic
// 3D look (image box left, sunken when checked, raised when selected) or the
// flat one (an image column and a light selection box).
//
// A BCMenu starts without a menu ("no handle"); CreatePopupMenu makes one,
// a QMenu whose style hands the measuring and painting of every item to the
// BCMenu. Every menu made is in one process-wide list (IsMenu) until
// DestroyMenu. GUI thread only.
#include <memory>
#include <vector>

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include "ui/Colors.h"

class QAction;
class QMenu;
class QPainter;

// One item of a BCMenu.
struct BCMenuData {
    QString m_szMenuText;
    int xoffset = -1;        // its image in the shared image list, -1 for none
    int global_offset = -1;
    unsigned nFlags = 0;     // the item's MF_ flags
    unsigned nID = 0;        // command id (0 for a popup or a separator)
    class BCMenu* pSubMenu = nullptr;  // the popup it opens
    int syncflag = 0;
    QAction* pAction = nullptr;  // the item in the real menu
};

class BCMenu {
public:
    // The window system's menu flags.
    static constexpr unsigned MF_STRING = 0x0000;
    static constexpr unsigned MF_GRAYED = 0x0001;
    static constexpr unsigned MF_DISABLED = 0x0002;
    static constexpr unsigned MF_CHECKED = 0x0008;
    static constexpr unsigned MF_POPUP = 0x0010;
    static constexpr unsigned MF_OWNERDRAW = 0x0100;
    static constexpr unsigned MF_BYPOSITION = 0x0400;
    static constexpr unsigned MF_SEPARATOR = 0x0800;
    // Owner-draw item states.
    static constexpr unsigned ODS_SELECTED = 0x0001;
    static constexpr unsigned ODS_GRAYED = 0x0002;
    static constexpr unsigned ODS_DISABLED = 0x0004;
    static constexpr unsigned ODS_CHECKED = 0x0008;
    // The WM_MENUCHAR answer that runs an item.
    static constexpr long MNC_EXECUTE = 2;

    BCMenu();
    ~BCMenu();
    BCMenu(const BCMenu&) = delete;
    BCMenu& operator=(const BCMenu&) = delete;

    // A new empty menu (false if this one already has one).
    bool CreatePopupMenu();
    // The menu itself; null before CreatePopupMenu and after DestroyMenu.
    QMenu* GetMenu() const { return m_hMenu.get(); }
    // Forgets the menu, its submenus and every item record; harmless on a
    // BCMenu without menu.
    bool DestroyMenu();

    static bool IsMenu(const QMenu* hMenu);
    static bool IsMenu(const BCMenu* pMenu) { return pMenu && IsMenu(pMenu->GetMenu()); }

    // Adds an item: a command (nID), a separator (MF_SEPARATOR) or, with
    // MF_POPUP, the popup pSubMenu (which must have a menu; this menu keeps
    // it until DestroyMenu). nIconNormal is the item image's icon number,
    // -1 for none.
    bool AppendOwnerDrawnItem(const QString& text, unsigned nFlags, unsigned nID, int nIconNormal = -1);
    bool AppendOwnerDrawnItem(const QString& text, unsigned nFlags, std::unique_ptr<BCMenu> pSubMenu,
                              int nIconNormal = -1);
    // Replaces the item at a position (MF_BYPOSITION) or with a command id.
    bool ModifyOwnerDrawnItem(unsigned nPosOrId, unsigned nFlags, unsigned nID, const QString& text);
    // The item's text by position (MF_BYPOSITION) or by command id, looked
    // for through the submenus too.
    bool GetMenuText(unsigned nPosOrId, QString& text, unsigned nFlags = MF_BYPOSITION) const;
    int GetMenuItemCount() const;
    const BCMenuData* GetItemData(int nPos) const;

    // The answer to a typed character in an open popup: MNC_EXECUTE in the
    // high word and the position of the first item whose text marks that
    // character ("&x"), or 0 when none does.
    static long FindKeyboardShortcut(unsigned nChar, unsigned nFlags, BCMenu* pMenu);

    // Measuring and painting of one item (the window system's owner-draw
    // callbacks).
    QSize MeasureItem(const BCMenuData& data) const;
    void DrawItem(QPainter& painter, const QRect& rcItem, const BCMenuData& data, unsigned itemState) const;

    static krv::ui::ColorRef LightenColor(krv::ui::ColorRef col, double factor);

    // The version code of the window system the menu runs on, computed once;
    // and the code a given system reports.
    static int nGetWinVersion();
    static int WinVersionCode(bool bNtFamily, int nMajor, int nMinor);
    // The theme file name the classic test reads ("" where there is none),
    // and the test on such a name.
    static bool IsClassicTheme();
    static bool IsClassicThemeName(const QString& themeFile);
    // Whether the flat look applies (else the classic one).
    static bool UseXPStyle(int nVersionCode, bool bClassicTheme);

    int m_iconX = 16;
    int m_iconY = 15;

private:
    bool AppendItem(std::unique_ptr<BCMenuData> data, int nIconNormal);
    void SyncItems();
    const BCMenu* FindMenuHolding(unsigned nID, int& nPos) const;
    // The menu holding an item given by position (MF_BYPOSITION: this one)
    // or by command id, and the item's position in it.
    const BCMenu* FindItem(unsigned nPosOrId, unsigned nFlags, int& nPos) const;
    void DrawItemClassic(QPainter& painter, const QRect& rcItem, const BCMenuData& data, unsigned itemState) const;
    void DrawItemXP(QPainter& painter, const QRect& rcItem, const BCMenuData& data, unsigned itemState) const;
    QImage ItemImage(const BCMenuData& data) const;

    std::unique_ptr<QMenu> m_hMenu;
    std::vector<std::unique_ptr<BCMenuData>> m_MenuList;
    std::vector<std::unique_ptr<BCMenu>> m_SubMenus;
};
