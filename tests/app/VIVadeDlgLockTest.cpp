// The settings lock and which controls each state of the window enables: one
// table over the states and the settings that shape them, and the lock button.
#include <gtest/gtest.h>

#include <set>

#include <QLineEdit>

#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

// The controls the table looks at.
const int kWatched[] = {
    IDC_BUTTON_LOADINI, IDOK, IDC_BUTTON_MIN, IDC_BUTTON_SAFELY_REMOVE, IDC_BUTTON_UNLOCK_VIVADE, IDC_BUTTON_START,
    IDC_BUTTON_SAVEINI, IDC_BUTTON_CLEARCOUNT, IDC_CHECK_MP_AUTO, IDC_CHECK_UPDATE_FW, IDC_CHECK_RELOAD_FW,
    IDC_CHECK_WR_TEST, IDC_CHECK_SPEED_TEST, IDC_EDIT_READ_SPEED, IDC_STATIC_WRITE, IDC_CHECK_AUTO_SAFE_REMOVE,
    IDC_EDIT_SECONDS, IDC_EDIT_VENDOR_ID, IDC_COMBO_IDLE_TIMER, IDC_BUTTON_MORE_CONFIG, IDC_BUTTON_PD,
    IDC_COMBO_FW_PATH, IDC_BUTTON_FW_BROWSE, IDC_COMBO_PRELOAD_PATH, IDC_COMBO_FORMAT_TYPE, IDC_STATIC_DRIVE_LABEL,
    IDC_EDIT_U4_VENDOR_ID, IDC_EDIT_U4_COMPONENT_ID, IDC_COMBO_U4_MODE, IDC_BUTTON_DEBUG,
};

enum class Set { Locked, Unlocked, Running };

struct Case {
    const char* name;
    Set set;
    bool unlocked;
    uint8_t fwEnable;
    uint8_t extFwEnable;
    uint8_t formatEnable;
    uint8_t preloadEnable;
    int32_t componentIdType;
    bool wrTest;
    bool speedTest;
    bool autoRemove;
    std::set<int> enabled;
};

const std::set<int> kRun = {IDC_BUTTON_LOADINI, IDOK, IDC_BUTTON_MIN, IDC_BUTTON_SAFELY_REMOVE,
                            IDC_BUTTON_UNLOCK_VIVADE};

std::set<int> operator+(std::set<int> a, const std::set<int>& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

const Case kCases[] = {
    // Locked, automatic mode: the run buttons only; runs start by themselves.
    {"locked auto", Set::Locked, false, 1, 0, 1, 1, 0, true, true, true, kRun + std::set<int>{IDC_BUTTON_DEBUG}},
    // ... and the "pd" button follows ext_fw_enable even there.
    {"locked auto, ext fw", Set::Locked, false, 0, 1, 0, 0, 0, false, false, false,
     kRun + std::set<int>{IDC_BUTTON_PD, IDC_BUTTON_DEBUG}},
    // Locked: Start too, and no setting.
    {"locked", Set::Unlocked, false, 1, 1, 1, 1, 0, true, true, true,
     kRun + std::set<int>{IDC_BUTTON_START, IDC_BUTTON_PD, IDC_BUTTON_DEBUG}},
    // Unlocked without firmware update: no descriptor, picker, reload or
    // more-config; W/R off, so no speed test; USB4 but the component id.
    {"unlocked, fw off", Set::Unlocked, true, 0, 1, 0, 0, 3, false, false, false,
     kRun + std::set<int>{IDC_BUTTON_START, IDC_BUTTON_SAVEINI, IDC_BUTTON_CLEARCOUNT, IDC_CHECK_MP_AUTO,
                          IDC_CHECK_UPDATE_FW, IDC_CHECK_WR_TEST, IDC_CHECK_AUTO_SAFE_REMOVE, IDC_BUTTON_PD,
                          IDC_EDIT_U4_VENDOR_ID, IDC_COMBO_U4_MODE, IDC_BUTTON_DEBUG}},
    // Unlocked with everything on.
    {"unlocked, all on", Set::Unlocked, true, 1, 0, 1, 1, 1, true, true, true,
     kRun + std::set<int>{IDC_BUTTON_START,      IDC_BUTTON_SAVEINI,     IDC_BUTTON_CLEARCOUNT,
                          IDC_CHECK_MP_AUTO,     IDC_CHECK_UPDATE_FW,    IDC_CHECK_RELOAD_FW,
                          IDC_CHECK_WR_TEST,     IDC_CHECK_SPEED_TEST,   IDC_EDIT_READ_SPEED,
                          IDC_STATIC_WRITE,      IDC_CHECK_AUTO_SAFE_REMOVE, IDC_EDIT_SECONDS,
                          IDC_EDIT_VENDOR_ID,    IDC_COMBO_IDLE_TIMER,   IDC_BUTTON_MORE_CONFIG,
                          IDC_COMBO_FW_PATH,     IDC_BUTTON_FW_BROWSE,   IDC_COMBO_PRELOAD_PATH,
                          IDC_COMBO_FORMAT_TYPE, IDC_STATIC_DRIVE_LABEL, IDC_EDIT_U4_VENDOR_ID,
                          IDC_EDIT_U4_COMPONENT_ID, IDC_COMBO_U4_MODE,   IDC_BUTTON_DEBUG}},
    // W/R on but the speed test off: the speed box, not its fields.
    {"unlocked, speed off", Set::Unlocked, true, 1, 0, 0, 0, 4, true, false, false,
     kRun + std::set<int>{IDC_BUTTON_START, IDC_BUTTON_SAVEINI, IDC_BUTTON_CLEARCOUNT, IDC_CHECK_MP_AUTO,
                          IDC_CHECK_UPDATE_FW, IDC_CHECK_RELOAD_FW, IDC_CHECK_WR_TEST, IDC_CHECK_SPEED_TEST,
                          IDC_CHECK_AUTO_SAFE_REMOVE, IDC_EDIT_VENDOR_ID, IDC_COMBO_IDLE_TIMER,
                          IDC_BUTTON_MORE_CONFIG, IDC_COMBO_FW_PATH, IDC_BUTTON_FW_BROWSE, IDC_EDIT_U4_VENDOR_ID,
                          IDC_COMBO_U4_MODE, IDC_BUTTON_DEBUG}},
    // Running: nothing that changes a setting or talks to a drive.
    {"running", Set::Running, true, 1, 1, 1, 1, 1, true, true, true, {}},
};

TEST(VIVadeDlgLock, EachStateEnablesItsSet)
{
    for (const Case& c : kCases) {
        DlgFixture f;
        f.dlg->OnInitDialog();
        IniRecord& ini = pIni.m_pINI;
        ini.auto_mp = c.set == Set::Locked ? 1 : 0;
        ini.fw_enable = c.fwEnable;
        ini.ext_fw_enable = c.extFwEnable;
        ini.format_enable = c.formatEnable;
        ini.preload_enable = c.preloadEnable;
        ini.USB4_ComponentID_EditType = c.componentIdType;
        f.dlg->m_bChangeMode = c.unlocked ? 1 : 0;
        f.dlg->setCheck(IDC_CHECK_WR_TEST, c.wrTest);
        f.dlg->setCheck(IDC_CHECK_SPEED_TEST, c.speedTest);
        f.dlg->setCheck(IDC_CHECK_AUTO_SAFE_REMOVE, c.autoRemove);
        // Start from everything enabled, so a control the set forgets shows.
        for (int id : kWatched)
            f.dlg->enableControl(id, true);

        switch (c.set) {
        case Set::Locked: f.dlg->vSetGUIByLockState(); break;
        case Set::Unlocked: f.dlg->vSetGUIByLockState(); break;
        case Set::Running: f.dlg->vDisableRunControls(); break;
        }

        for (int id : kWatched)
            EXPECT_EQ(f.dlg->isControlEnabled(id), c.enabled.count(id) == 1) << c.name << ": control " << id;
        // Enabled or not, the "pd" button is never shown: the PD/MCU update
        // dialog is no step of the operator's.
        EXPECT_FALSE(f.dlg->isControlShown(IDC_BUTTON_PD)) << c.name;
        for (int id : {IDC_EDIT_PASS_COUNT, IDC_EDIT_TOTAL_COUNT, IDC_EDIT_PROGRESS})
            EXPECT_TRUE(f.dlg->control<QLineEdit>(id)->isReadOnly()) << c.name << ": control " << id;
    }
}

TEST(VIVadeDlgLock, TheLockButtonStopsAutomaticRunsBeforeTheLoginAndRelocksWithoutOne)
{
    DlgFixture f;
    f.writeSettings([](IniRecord& r) { r.auto_mp = 1; });
    f.dlg->OnInitDialog();
    // A run under way.
    std::atomic<bool> supervisorEnded{false};
    f.dlg->m_pMainThread = f.dlg->m_Threads.pStart("supervisor", [&](const StopSource& stop) {
        while (!stop.stopRequested())
            stop.waitFor(std::chrono::milliseconds(1));
        supervisorEnded = true;
    });

    // A wrong password: the run was stopped before the login was asked for,
    // and the window stays in the locked automatic set.
    int logins = 0;
    bool answer = false;
    f.dlg->vSetLoginPrompt([&] {
        ++logins;
        EXPECT_TRUE(supervisorEnded.load());
        EXPECT_EQ(f.dlg->m_bLoginDlgOpen.load(), 1);
        return answer;
    });
    f.dlg->sendCommand(IDC_BUTTON_UNLOCK_VIVADE);
    EXPECT_EQ(logins, 1);
    EXPECT_EQ(f.dlg->m_bChangeMode.load(), 0);
    EXPECT_EQ(f.dlg->m_bLoginDlgOpen.load(), 0);
    EXPECT_FALSE(f.dlg->isControlEnabled(IDC_BUTTON_START));
    EXPECT_FALSE(f.dlg->isControlEnabled(IDC_CHECK_UPDATE_FW));

    // The right one unlocks; the button then offers to lock.
    answer = true;
    f.dlg->sendCommand(IDC_BUTTON_UNLOCK_VIVADE);
    EXPECT_EQ(f.dlg->m_bChangeMode.load(), 1);
    EXPECT_TRUE(f.dlg->isControlEnabled(IDC_CHECK_UPDATE_FW));
    EXPECT_EQ(f.dlg->controlText(IDC_BUTTON_UNLOCK_VIVADE), g_GUIText.m_strBtnLock);

    // Pressed again: locked at once, no login.
    f.dlg->sendCommand(IDC_BUTTON_UNLOCK_VIVADE);
    EXPECT_EQ(logins, 2);
    EXPECT_EQ(f.dlg->m_bChangeMode.load(), 0);
    EXPECT_FALSE(f.dlg->isControlEnabled(IDC_CHECK_UPDATE_FW));
    EXPECT_EQ(f.dlg->controlText(IDC_BUTTON_UNLOCK_VIVADE), g_GUIText.m_strBtnUnlock);
}

TEST(VIVadeDlgLock, EnableSetsMayComeFromAnotherThread)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    f.dlg->vDisableRunControls();
    // The scan thread restores the set at its end.
    std::atomic<bool> done{false};
    std::thread scan([&] {
        f.dlg->vSetUnlockedGUI();
        done = true;
    });
    ASSERT_TRUE(runEventsUntil([&] { return done.load(); }));
    scan.join();
    EXPECT_TRUE(f.dlg->isControlEnabled(IDC_BUTTON_START));
    EXPECT_TRUE(f.dlg->isControlEnabled(IDC_BUTTON_LOADINI));
}

}  // namespace
}  // namespace krv::test
