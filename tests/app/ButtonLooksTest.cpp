// The icons, tooltips and looks the windows give their owner-drawn buttons
// when they open: the main window, the lock button as it turns, the
// configuration check dialog and the PD update dialog.
#include <gtest/gtest.h>

#include "app/DebugDlg.h"
#include "app/PDUpdateDlg.h"
#include "controls/ButtonST.h"
#include "controls/ButtonSTIcons.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

struct Look {
    int id;
    int icon;
    bool bDarker;  // second icon: the darker copy of the first
    const char* tooltip;
};

void expectLooks(ui::Dialog& dlg, std::initializer_list<Look> looks)
{
    for (const Look& look : looks) {
        auto* button = dlg.control<CButtonST>(look.id);
        ASSERT_NE(button, nullptr) << look.id;
        const QImage icon = controls::LoadButtonIcon(look.icon);
        EXPECT_EQ(button->Icon(0), icon) << look.id;
        EXPECT_EQ(button->Icon(1), look.bDarker ? CButtonST::CreateDarkerIcon(icon) : QImage()) << look.id;
        EXPECT_EQ(button->toolTip().toStdString(), look.tooltip) << look.id;
    }
}

TEST(ButtonLooks, MainWindowButtonsCarryTheirIconsAndTooltips)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    expectLooks(*f.dlg, {{IDOK, 182, false, "Close"},
                         {IDC_BUTTON_MIN, 183, false, "Min"},
                         {IDC_BUTTON_FW_BROWSE, 167, true, "Browse FW"},
                         {IDC_BUTTON_PRELOAD_BROWSE, 167, true, "Browse Preload File"},
                         {IDC_BUTTON_LOADINI, 162, true, "Load INI"},
                         {IDC_BUTTON_SAVEINI, 163, true, "Save INI"},
                         {IDC_BUTTON_DEBUG, 166, true, "Check_Config"},
                         {IDC_BUTTON_SHA256, 196, true, "Modify SHA256 initial Key"},
                         {IDC_BUTTON_PD, 204, true, " Power Delivery Key"},
                         {IDC_BUTTON_MORE_CONFIG, 174, false, "MoreConfig"},
                         {IDC_BUTTON_U4_MORE_CONFIG, 174, false, "USB4 MoreConfig"},
                         {IDC_BUTTON_START, 169, false, "Start"},
                         {IDC_BUTTON_SAFELY_REMOVE, 173, false, "Safely Remove"},
                         {IDC_BUTTON_CLEARCOUNT, 171, false, "Clear Count"}});

    // Start, Safely Remove and Clear light up more when hovered.
    CButtonST plain;
    plain.OffsetColor(CButtonST::ButtonColorHoverBack, 30);
    for (int id : {IDC_BUTTON_START, IDC_BUTTON_SAFELY_REMOVE, IDC_BUTTON_CLEARCOUNT})
        EXPECT_EQ(f.dlg->control<CButtonST>(id)->GetColor(CButtonST::ButtonColorHoverBack),
                  plain.GetColor(CButtonST::ButtonColorHoverBack))
            << id;
    EXPECT_EQ(f.dlg->control<CButtonST>(IDC_BUTTON_START)->TooltipStyle(), CButtonST::TTS_BALLOON);
    EXPECT_EQ(f.dlg->control<CButtonST>(IDC_BUTTON_CLEARCOUNT)->TooltipStyle(), 0u);

    // Every check box shows its state by its icon alone. Every styled
    // button lets the window show through; the hidden engineering buttons
    // get no look.
    int nBoxes = 0;
    for (auto* button : f.dlg->findChildren<CButtonST*>()) {
        EXPECT_EQ(button->IsTransparent(), !button->Icon(0).isNull()) << button->text().toStdString();
        EXPECT_TRUE(button->IsFlat()) << button->text().toStdString();
        if (!button->IsCheckBox())
            continue;
        ++nBoxes;
        EXPECT_EQ(button->Icon(0), controls::LoadButtonIcon(175));
        EXPECT_EQ(button->Icon(1), controls::LoadButtonIcon(176));
    }
    EXPECT_GE(nBoxes, 10);
    // Setting a box through the dialog's control calls is what it paints.
    f.dlg->setCheck(IDC_CHECK_PRELOAD, 1);
    EXPECT_EQ(f.dlg->control<CButtonST>(IDC_CHECK_PRELOAD)->GetCheck(), 1);
    f.dlg->setCheck(IDC_CHECK_PRELOAD, 0);
    EXPECT_EQ(f.dlg->control<CButtonST>(IDC_CHECK_PRELOAD)->GetCheck(), 0);
}

TEST(ButtonLooks, LockButtonShowsWhatPressingItDoes)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    f.dlg->vSetLoginPrompt([] { return true; });
    auto* lock = f.dlg->control<CButtonST>(IDC_BUTTON_UNLOCK_VIVADE);
    const bool bUnlocked = f.dlg->m_bChangeMode.load() == 1;
    EXPECT_EQ(lock->Icon(0), controls::LoadButtonIcon(bUnlocked ? 164 : 165));
    for (int turn = 0; turn < 2; ++turn) {
        f.dlg->sendCommand(IDC_BUTTON_UNLOCK_VIVADE);
        const bool bNow = f.dlg->m_bChangeMode.load() == 1;
        EXPECT_EQ(lock->Icon(0), controls::LoadButtonIcon(bNow ? 164 : 165)) << turn;
        EXPECT_EQ(lock->toolTip(), bNow ? "Lock" : "Unlock") << turn;
    }
}

TEST(ButtonLooks, EngineeringAndPDDialogButtons)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    bool opened = false;
    whenModalOpens<CDebugDlg>([&](CDebugDlg& dlg) {
        opened = true;
        expectLooks(dlg, {{IDC_DEBUG_READ_REGISTER, 187, false, "Read Register"},
                          {IDC_DEBUG_WRITE_REGISTER, 188, false, "Write Register"},
                          {IDC_DEBUG_READ_CONFIG, 189, false, "Read Config Table"},
                          {IDC_DEBUG_READ_U4_CONFIG, 189, false, "Read U4 Config Table"},
                          {IDC_DEBUG_DEVICE_INFO, 190, false, "Device Info"},
                          {IDC_DEBUG_U4_INFO, 190, false, "U4 Info"}});
        EXPECT_FALSE(dlg.control<CButtonST>(IDC_DEBUG_READ_CONFIG)->IsFlat());
        dlg.reject();
    });
    f.dlg->sendCommand(IDC_BUTTON_DEBUG);
    EXPECT_TRUE(opened);

    CPDUpdateDlg pd(f.dlg->m_DevList, &f.pickers);
    pd.OnInitDialog();
    expectLooks(pd, {{IDC_BUTTON_FIRMWARE_FWBROWSE, 167, true, "PD Browse FW"},
                     {IDC_BUTTON_MCU_FIRMWARE_FWBROWSE, 167, true, "MCU Browse FW"},
                     {IDC_BUTTON_PD_START, 169, true, "PD FW Update"}});
    EXPECT_TRUE(pd.control<CButtonST>(IDC_BUTTON_PD_START)->IsTransparent());
}

}  // namespace
}  // namespace krv::test
