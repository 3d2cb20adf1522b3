// The owner-drawn menu: version and theme tests, colour arithmetic, the
// item records and keyboard shortcuts, and the classic look of a real
// popup rendered offscreen.
#include <QAction>
#include <QMenu>

#include "controls/BCMenu.h"
#include "controls/SysColors.h"
#include "tests/controls/ControlsTestSupport.h"

namespace krv::test {
namespace {

using ui::rgb;

TEST(BCMenu, VersionCodesTellTheOldReleasesApart)
{
    const struct {
        bool bNt;
        int major, minor, code;
    } cases[] = {
        {false, 3, 95, 0}, {false, 4, 0, 2}, {false, 4, 10, 3}, {false, 4, 90, 4},
        {true, 4, 0, 5},   {true, 5, 0, 6},  {true, 5, 1, 7},   {true, 5, 2, 1},
        {true, 6, 1, 1},   {true, 10, 0, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BCMenu::WinVersionCode(c.bNt, c.major, c.minor), c.code) << c.bNt << " " << c.major << "." << c.minor;
    // This system counts as a later one: the flat look is not used.
    EXPECT_EQ(BCMenu::nGetWinVersion(), 1);
    EXPECT_FALSE(BCMenu::UseXPStyle(BCMenu::nGetWinVersion(), BCMenu::IsClassicTheme()));
    EXPECT_TRUE(BCMenu::UseXPStyle(7, false));
    EXPECT_FALSE(BCMenu::UseXPStyle(7, true));
}

TEST(BCMenu, ClassicThemeIsTheFileNameAtTheEndInAnyCase)
{
    EXPECT_TRUE(BCMenu::IsClassicThemeName("C:\\Windows\\Resources\\Themes\\Windows Classic.theme"));
    EXPECT_TRUE(BCMenu::IsClassicThemeName("WINDOWS CLASSIC.THEME"));
    EXPECT_FALSE(BCMenu::IsClassicThemeName("Classic.theme"));
    EXPECT_FALSE(BCMenu::IsClassicThemeName("Windows Classic.theme.bak"));
    EXPECT_FALSE(BCMenu::IsClassicThemeName(""));
    EXPECT_FALSE(BCMenu::IsClassicTheme());
}

TEST(BCMenu, LightenColorMovesEachChannelTowardsWhite)
{
    const ui::ColorRef c = rgb(0, 100, 255);
    EXPECT_EQ(BCMenu::LightenColor(c, 0), c);
    EXPECT_EQ(BCMenu::LightenColor(c, 1.01), c);
    EXPECT_EQ(BCMenu::LightenColor(c, 1), rgb(255, 255, 255));
    EXPECT_EQ(BCMenu::LightenColor(c, 0.6), rgb(153, 193, 255));
}

TEST(BCMenu, AnEmptyMenuHasNothingAndIsDestroyedQuietly)
{
    BCMenu menu;
    EXPECT_EQ(menu.GetMenu(), nullptr);
    EXPECT_FALSE(BCMenu::IsMenu(&menu));
    EXPECT_FALSE(menu.AppendOwnerDrawnItem("Open", BCMenu::MF_STRING, 1));
    EXPECT_EQ(BCMenu::FindKeyboardShortcut('o', BCMenu::MF_POPUP, &menu), 0);
    EXPECT_FALSE(menu.DestroyMenu());
    EXPECT_EQ(menu.GetMenuItemCount(), 0);
}

// A popup "&Open", a separator, "&Save\tCtrl+S" with an image, a submenu
// "&Recent" holding "&First" (id 31), and a disabled "E&xit".
struct MenuFixture {
    MenuFixture()
    {
        menu.CreatePopupMenu();
        menu.AppendOwnerDrawnItem("&Open", BCMenu::MF_STRING, 10);
        menu.AppendOwnerDrawnItem("", BCMenu::MF_SEPARATOR, 0);
        menu.AppendOwnerDrawnItem("&Save\tCtrl+S", BCMenu::MF_STRING | BCMenu::MF_CHECKED, 11, 163);
        auto recent = std::make_unique<BCMenu>();
        recent->CreatePopupMenu();
        recent->AppendOwnerDrawnItem("&First", BCMenu::MF_STRING, 31);
        sub = recent->GetMenu();
        menu.AppendOwnerDrawnItem("&Recent", BCMenu::MF_POPUP, std::move(recent));
        menu.AppendOwnerDrawnItem("E&xit", BCMenu::MF_GRAYED, 12);
    }
    BCMenu menu;
    QMenu* sub = nullptr;
};

TEST(BCMenu, ItemsAreFoundByPositionOrByIdThroughSubmenus)
{
    MenuFixture f;
    ASSERT_TRUE(BCMenu::IsMenu(&f.menu));
    EXPECT_TRUE(BCMenu::IsMenu(f.sub));
    EXPECT_EQ(f.menu.GetMenuItemCount(), 5);
    EXPECT_EQ(f.menu.GetMenu()->actions().size(), 5);
    QString text;
    EXPECT_TRUE(f.menu.GetMenuText(2, text));
    EXPECT_EQ(text, "&Save\tCtrl+S");
    EXPECT_TRUE(f.menu.GetMenuText(31, text, 0));
    EXPECT_EQ(text, "&First");
    EXPECT_FALSE(f.menu.GetMenuText(99, text, 0));
    EXPECT_FALSE(f.menu.GetMenuText(5, text));
    EXPECT_GE(f.menu.GetItemData(2)->xoffset, 0);
    EXPECT_FALSE(f.menu.GetItemData(4)->pAction->isEnabled());
    EXPECT_TRUE(f.menu.GetItemData(2)->pAction->isChecked());

    EXPECT_TRUE(f.menu.ModifyOwnerDrawnItem(31, BCMenu::MF_STRING, 32, "&Second"));
    EXPECT_TRUE(f.menu.GetMenuText(32, text, 0));
    EXPECT_EQ(text, "&Second");
    EXPECT_EQ(f.sub->actions().at(0)->text(), "&Second");
    EXPECT_TRUE(f.menu.ModifyOwnerDrawnItem(0, BCMenu::MF_BYPOSITION | BCMenu::MF_GRAYED, 10, "&Open"));
    EXPECT_FALSE(f.menu.GetMenu()->actions().at(0)->isEnabled());
    EXPECT_FALSE(f.menu.ModifyOwnerDrawnItem(9, BCMenu::MF_BYPOSITION, 1, "x"));

    f.menu.DestroyMenu();
    EXPECT_FALSE(BCMenu::IsMenu(&f.menu));
    EXPECT_FALSE(BCMenu::IsMenu(f.sub));
    EXPECT_EQ(f.menu.GetMenuItemCount(), 0);
}

TEST(BCMenu, KeyboardShortcutFindsTheFirstMarkedItem)
{
    MenuFixture f;
    const long execute = BCMenu::MNC_EXECUTE << 16;
    EXPECT_EQ(BCMenu::FindKeyboardShortcut('s', BCMenu::MF_POPUP, &f.menu), execute | 2);
    EXPECT_EQ(BCMenu::FindKeyboardShortcut('X', BCMenu::MF_POPUP, &f.menu), execute | 4);
    EXPECT_EQ(BCMenu::FindKeyboardShortcut('q', BCMenu::MF_POPUP, &f.menu), 0);
    // Only an open popup answers.
    EXPECT_EQ(BCMenu::FindKeyboardShortcut('s', 0, &f.menu), 0);
    // An item removed from the real menu behind the records' back: the
    // records are brought in line first, so positions stay right.
    f.menu.GetMenu()->removeAction(f.menu.GetMenu()->actions().at(0));
    EXPECT_EQ(BCMenu::FindKeyboardShortcut('s', BCMenu::MF_POPUP, &f.menu), execute | 1);
    EXPECT_EQ(f.menu.GetMenuItemCount(), 4);
}

TEST(BCMenu, ItemsMeasureByTextAndImage)
{
    BCMenu menu;
    BCMenuData separator;
    separator.nFlags = BCMenu::MF_SEPARATOR;
    EXPECT_EQ(menu.MeasureItem(separator).width(), 0);
    BCMenuData item;
    item.m_szMenuText = "&Save";
    const int textWidth = QFontMetrics(QApplication::font("QMenu")).horizontalAdvance("&Save");
    const QSize size = menu.MeasureItem(item);
    EXPECT_EQ(size.width(), textWidth + 2 * 16 + 1);
    EXPECT_GE(size.height(), 15 + 4);
    EXPECT_GT(size.height(), menu.MeasureItem(separator).height());
}

TEST(BCMenu, ClassicPopupPaintsTheSelectionRightOfTheImageBox)
{
    MenuFixture f;
    QMenu& popup = *f.menu.GetMenu();
    popup.popup(QPoint(0, 0));
    ASSERT_TRUE(runEventsUntil([&] { return popup.isVisible(); }));
    QAction* save = f.menu.GetItemData(2)->pAction;
    popup.setActiveAction(save);
    const QImage image = grabImage(popup);
    const QRect item = popup.actionGeometry(save);
    const ui::ColorRef highlight = controls::sysColor(controls::SysColor::Highlight);
    const ui::ColorRef menuFace = controls::sysColor(controls::SysColor::Menu);
    const int selectionLeft = item.left() + 16 + 5;
    EXPECT_EQ(pixelAt(image, selectionLeft, item.top() + 1), highlight);
    EXPECT_EQ(pixelAt(image, item.right() - 1, item.top() + 1), highlight);
    EXPECT_EQ(pixelAt(image, item.left(), item.top()), menuFace);
    // The item's image is drawn in its box at (2, 2 + dy).
    EXPECT_GT(colorsIn(image, QRect(item.left() + 2, item.top() + 2, 16, item.height() - 4)).size(), 2u);
    // The highlighted caption is drawn in the selection's text colour.
    EXPECT_GT(countColor(image, QRect(selectionLeft, item.top(), item.width() - 21, item.height()),
                         controls::sysColor(controls::SysColor::HighlightText)),
              0);
    // An item that is not selected shows the menu face behind its text.
    const QRect open = popup.actionGeometry(f.menu.GetItemData(0)->pAction);
    EXPECT_EQ(pixelAt(image, selectionLeft, open.top() + 1), menuFace);
    popup.hide();
}

}  // namespace
}  // namespace krv::test
