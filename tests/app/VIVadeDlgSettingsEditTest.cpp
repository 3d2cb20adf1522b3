// The settings edited in the window, offscreen: the login through its own
// dialog, typing into the edits (key events, as an operator's), clicks on
// the boxes, choices in the combos, and Save INI with its checks.
#include <gtest/gtest.h>

#include <filesystem>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "app/LoginDlg.h"
#include "controls/ButtonST.h"
#include "tests/app/IniTestSupport.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

// Key presses into an edit, one character at a time, as typing gives them.
void typeInto(QLineEdit* edit, const std::string& text)
{
    ASSERT_NE(edit, nullptr);
    for (char c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(c)));
        QApplication::sendEvent(edit, &press);
    }
}

// Empties an edit the way an operator does: select all, then Backspace.
void clearByKeys(QLineEdit* edit)
{
    edit->selectAll();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(edit, &press);
}

void chooseInCombo(QComboBox* combo, int index)
{
    ASSERT_NE(combo, nullptr);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// Opens the login from the lock button and types `password` into it.
void logIn(DlgFixture& f, const std::string& password)
{
    whenModalOpens<CLoginDlg>([password](CLoginDlg& login) {
        typeInto(login.control<QLineEdit>(IDC_EDIT_LOGIN_PASSWORD), password);
        login.control<QPushButton>(1)->click();
    });
    f.dlg->sendCommand(IDC_BUTTON_UNLOCK_VIVADE);
}

std::vector<std::string> messageTexts(DlgFixture& f)
{
    std::vector<std::string> texts;
    for (const auto& record : f.messages.records())
        texts.push_back(record.text);
    return texts;
}

TEST(VIVadeDlgSettingsEdit, LoginUnlocksOnlyWithThePasswordAndNeverLogsWhatWasTyped)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    struct Case {
        std::string typed;
        uint8_t unlocked;
    };
    const Case cases[] = {{"", 0}, {"quorbe", 0}, {"quorbez", 0}, {"QuorBel", 1}};
    for (const Case& c : cases) {
        if (f.dlg->m_bChangeMode == 1)
            f.dlg->sendCommand(IDC_BUTTON_UNLOCK_VIVADE);  // lock again
        logIn(f, c.typed);
        EXPECT_EQ(f.dlg->m_bChangeMode.load(), c.unlocked) << c.typed;
        EXPECT_EQ(f.dlg->isControlEnabled(IDC_BUTTON_SAVEINI), c.unlocked == 1) << c.typed;
    }
    EXPECT_TRUE(f.bench.capture().contains("Loing Password Fail"));
    EXPECT_FALSE(f.bench.capture().contains("quorbe"));

    // The password is trimmed and compared in any case; the edit's own
    // limit keeps longer texts from being typed at all.
    EXPECT_TRUE(CLoginDlg::bIsUnlockPassword("  QUORBEL \t"));
    EXPECT_FALSE(CLoginDlg::bIsUnlockPassword("   "));

    // Pressed while unlocked the button locks with no dialog; Cancel in the
    // next login leaves the lock closed.
    f.dlg->sendCommand(IDC_BUTTON_UNLOCK_VIVADE);
    EXPECT_EQ(f.dlg->m_bChangeMode.load(), 0);
    whenModalOpens<CLoginDlg>([](CLoginDlg& login) {
        login.setControlText(IDC_EDIT_LOGIN_PASSWORD, "quorbel");
        login.control<QPushButton>(2)->click();
    });
    f.dlg->sendCommand(IDC_BUTTON_UNLOCK_VIVADE);
    EXPECT_EQ(f.dlg->m_bChangeMode.load(), 0);
    // An empty password never clears an earlier unlock.
    CLoginDlg login;
    login.m_bChangeMode = 1;
    login.setControlText(IDC_EDIT_LOGIN_PASSWORD, "");
    login.OnBnClickedOk();
    EXPECT_EQ(login.m_bChangeMode, 1);
}

TEST(VIVadeDlgSettingsEdit, EditsOfEachKindAreSavedAsTheGoldenFile)
{
    DlgFixture f;
    f.writeSettings([](IniRecord& r) {
        r.fw_enable = 1;
        r.fw_reload = 0;
        r.Reload_Waiting = 45;  // no control edits it: Save INI keeps it
        r.CmdLineTimeOut = 240;
    });
    f.dlg->OnInitDialog();
    logIn(f, "quorbel");
    ASSERT_EQ(f.dlg->m_bChangeMode.load(), 1);

    // text: the manufacturer string drops a byte beyond the printable range
    auto* maker = f.dlg->control<QLineEdit>(IDC_EDIT_EP0_MSTRING);
    clearByKeys(maker);
    typeInto(maker, "Bench\xE9 Maker");
    EXPECT_EQ(pIni.m_pINI.manufacturer_string.str(), "Bench Maker");
    // hex: a refused character vanishes, the caret stays behind the last kept
    auto* vid = f.dlg->control<QLineEdit>(IDC_EDIT_VENDOR_ID);
    clearByKeys(vid);
    typeInto(vid, "2c4G");
    EXPECT_EQ(vid->text().toStdString(), "2c4");
    EXPECT_EQ(vid->cursorPosition(), 3);
    typeInto(vid, "b");
    EXPECT_EQ(pIni.m_pINI.vendor_id.str(), "2c4b");
    // hex, kept for the save only
    auto* tbt3 = f.dlg->control<QLineEdit>(IDC_EDIT_TBT3_VENDOR_ID);
    clearByKeys(tbt3);
    typeInto(tbt3, "8x086");
    EXPECT_EQ(tbt3->text().toStdString(), "8086");
    // check box with its run switch, and the box that uncovers Seconds
    f.dlg->control<CButtonST>(IDC_CHECK_CONFIG_CHECK)->click();
    EXPECT_EQ(pIni.m_pINI.check_config, 1);
    EXPECT_EQ(f.dlg->m_DevList.m_bDoConfigCheck, 1);
    f.dlg->control<CButtonST>(IDC_CHECK_AUTO_SAFE_REMOVE)->click();
    ASSERT_TRUE(f.dlg->isControlEnabled(IDC_EDIT_SECONDS));
    // number: digits only, at most four
    auto* seconds = f.dlg->control<QLineEdit>(IDC_EDIT_SECONDS);
    clearByKeys(seconds);
    typeInto(seconds, "9a0s05");
    EXPECT_EQ(seconds->text().toStdString(), "9005");
    EXPECT_EQ(pIni.m_pINI.uiRemove_after_finish, 9005);
    // combos: Format Type empties the label; the device count keeps index + 1
    f.dlg->control<CButtonST>(IDC_CHECK_PARTITION_FORMAT)->click();
    chooseInCombo(f.dlg->control<QComboBox>(IDC_COMBO_FORMAT_TYPE), 1);
    EXPECT_EQ(pIni.m_pINI.format_drive_type, 1);
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_DRIVE_LABEL), "");
    auto* label = f.dlg->control<QLineEdit>(IDC_EDIT_DRIVE_LABEL);
    typeInto(label, "BENCHDISK01X");
    EXPECT_EQ(label->text().toStdString(), "BENCHDISK01");
    EXPECT_EQ(pIni.m_pINI.drive_label_name.str(), "BENCHDISK01");
    chooseInCombo(f.dlg->control<QComboBox>(IDC_COMBO_AUTO_DEV_NUM), 2);
    EXPECT_EQ(pIni.m_pINI.auto_mp_DevNum, 3);
    // The steps the window never switches on stay off.
    for (int id : {IDC_CHECK_WR_TEST, IDC_CHECK_SPEED_TEST, IDC_CHECK_USB_STATUS}) {
        f.dlg->control<CButtonST>(id)->click();
        EXPECT_FALSE(f.dlg->control<CButtonST>(id)->isChecked()) << id;
    }
    // Unchecking Update F/W clears the reload at once.
    f.dlg->control<CButtonST>(IDC_CHECK_RELOAD_FW)->click();
    EXPECT_EQ(pIni.m_pINI.fw_reload, 1);
    f.dlg->control<CButtonST>(IDC_CHECK_UPDATE_FW)->click();
    EXPECT_EQ(pIni.m_pINI.fw_reload, 0);
    EXPECT_FALSE(f.dlg->isControlEnabled(IDC_CHECK_RELOAD_FW));
    f.dlg->control<CButtonST>(IDC_CHECK_UPDATE_FW)->click();

    const std::string saved = f.programDir.file("saved.ini");
    f.pickers.queueAnswer(saved);
    f.dlg->sendCommand(IDC_BUTTON_SAVEINI);
    EXPECT_TRUE(messageTexts(f).empty());
    EXPECT_EQ(readFileBytes(saved), readFileBytes(goldenPath("production_window_saved.ini")));
    EXPECT_EQ(pIni.m_pINI.Reload_Waiting, 45);

    // Loading the saved file shows the same choices again.
    const IniRecord before = pIni.m_pINI;
    f.pickers.queueAnswer(saved);
    f.dlg->sendCommand(IDC_BUTTON_LOADINI);
    EXPECT_EQ(pIni.m_pINI, before);
    EXPECT_EQ(f.dlg->controlText(IDC_COMBO_AUTO_DEV_NUM), "3");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_TBT3_VENDOR_ID), "8086");
}

TEST(VIVadeDlgSettingsEdit, RefusedAndFailedSavesKeepFileAndFields)
{
    DlgFixture f;
    f.writeSettings([](IniRecord& r) { r.fw_enable = 1; });
    f.dlg->OnInitDialog();
    logIn(f, "quorbel");

    // An incomplete identifier: the check's message, no picker, no file.
    auto* vid = f.dlg->control<QLineEdit>(IDC_EDIT_VENDOR_ID);
    clearByKeys(vid);
    typeInto(vid, "12G4");
    EXPECT_EQ(vid->text().toStdString(), "124");
    auto* rev = f.dlg->control<QLineEdit>(IDC_EDIT_DEVICE_REVISION);
    clearByKeys(rev);
    typeInto(rev, "0ZZ");
    const IniRecord before = pIni.m_pINI;
    f.dlg->sendCommand(IDC_BUTTON_SAVEINI);
    EXPECT_EQ(messageTexts(f), std::vector<std::string>{"VID Format not valid \r\nDevice Revision Format not valid \r\n"});
    EXPECT_TRUE(f.pickers.requests().empty());
    EXPECT_EQ(pIni.m_pINI, before);

    // A store that cannot be done: the old file is untouched, no scratch
    // file stays behind, the window still shows every field, and the
    // operator is told.
    typeInto(vid, "0");
    typeInto(rev, "1");
    const std::string existing = f.programDir.file("existing.ini");
    writeFileBytes(existing, "[ini_version]\r\nversion=1\r\n");
    std::filesystem::create_directories(f.programDir.file("blocked.ini"));
    for (const std::string& target : {f.programDir.file("blocked.ini"), f.programDir.file("missing/x.ini")}) {
        const size_t nFilesBefore = std::distance(std::filesystem::directory_iterator(f.programDir.path()), {});
        const size_t nMessagesBefore = messageTexts(f).size();
        f.pickers.queueAnswer(target);
        f.dlg->sendCommand(IDC_BUTTON_SAVEINI);
        EXPECT_EQ(messageTexts(f).size(), nMessagesBefore + 1) << target << ::testing::PrintToString(messageTexts(f));
        EXPECT_EQ(static_cast<size_t>(std::distance(std::filesystem::directory_iterator(f.programDir.path()), {})),
                  nFilesBefore)
            << target;
        EXPECT_EQ(f.dlg->controlText(IDC_EDIT_VENDOR_ID), "1240");
        EXPECT_EQ(f.dlg->controlText(IDC_EDIT_DEVICE_REVISION), "0ZZ1");
    }
    EXPECT_EQ(readFileBytes(existing), "[ini_version]\r\nversion=1\r\n");

    // A cancelled picker restores the record exactly.
    const IniRecord beforeCancel = pIni.m_pINI;
    f.pickers.queueAnswer("");
    f.dlg->sendCommand(IDC_BUTTON_SAVEINI);
    EXPECT_EQ(pIni.m_pINI, beforeCancel);
}

TEST(VIVadeDlgSettingsEdit, PickersKeepFiveRecentEntriesAndTheBrowseList)
{
    DlgFixture f;
    f.writeSettings([](IniRecord& r) {
        r.fw_enable = 1;
        r.preload_enable = 1;
        r.preload_folder_path.set("/srv/preload/");
    });
    f.dlg->OnInitDialog();
    logIn(f, "quorbel");
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i) {
        files.push_back(f.programDir.file("fw" + std::to_string(i) + ".bin"));
        writeFileBytes(files.back(), "firmware");
        f.pickers.queueAnswer(files.back());
        f.dlg->sendCommand(IDC_BUTTON_FW_BROWSE);
    }
    // A path that is not there changes nothing.
    f.pickers.queueAnswer(f.programDir.file("gone.bin"));
    f.dlg->sendCommand(IDC_BUTTON_FW_BROWSE);
    auto* combo = f.dlg->control<QComboBox>(IDC_COMBO_FW_PATH);
    ASSERT_EQ(combo->count(), 5);
    std::string list;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(combo->itemText(i).toStdString(), files[5 - i]);
        list += files[5 - i] + "\r\n";
    }
    EXPECT_EQ(pIni.m_pINI.fw_binary_name.str(), files[5]);
    EXPECT_EQ(readFileBytes(f.programDir.file("BrowsedBINPath.txt")), list);
    EXPECT_EQ(f.pickers.requests().back().filter, "Firmware .bin File (*.bin)|*.bin||");

    f.pickers.queueAnswer("/srv/other");
    f.dlg->sendCommand(IDC_BUTTON_PRELOAD_BROWSE);
    EXPECT_EQ(f.pickers.requests().back().startDir, "/srv/preload");
    EXPECT_EQ(f.pickers.requests().back().caption, "Select A Directory:");
    EXPECT_EQ(pIni.m_pINI.preload_folder_path.str(), "/srv/other");
    EXPECT_EQ(f.dlg->controlText(IDC_COMBO_PRELOAD_PATH), "/srv/other");
    f.pickers.queueAnswer("");
    f.dlg->sendCommand(IDC_BUTTON_PRELOAD_BROWSE);
    EXPECT_EQ(pIni.m_pINI.preload_folder_path.str(), "/srv/other");
}

}  // namespace
}  // namespace krv::test
