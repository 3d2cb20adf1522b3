// The SHA-256 key dialog from the main window's button (hidden from
// start-up on, so pressed through the window's command path), and the
// register tool dialog, which gives the login dialog its texts.
#include <gtest/gtest.h>

#include <filesystem>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>

#include "app/LoginDlg.h"
#include "app/RegisterToolDlg.h"
#include "app/SHA256Dlg.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

TEST(SHA256KeyDlg, ShowsTheStandardKeyFiltersEditsAndOnlyOkTakesTheSendBox)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    EXPECT_FALSE(f.dlg->isControlShown(IDC_BUTTON_SHA256));

    std::vector<std::string> keys;
    std::string pasted;
    whenModalOpens<SHA256_Dlg>([&](SHA256_Dlg& dlg) {
        EXPECT_EQ(dlg.windowTitle().toStdString(), "SHA-256 Initial Key");
        EXPECT_EQ(dlg.checkState(IDC_CHECK_SEND_INITIAL_KEY), 0);
        for (int k = 0; k < SHA256_DLG_KEYS; ++k)
            keys.push_back(dlg.controlText(IDC_EDIT_SHA256_KEY1 + k));
        const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(dlg.grab().toImage().save(QString::fromStdString(folder + "/sha256-key-dialog.png")));

        // A paste keeps the hex digits from the start, eight at most.
        auto* edit = dlg.control<QLineEdit>(IDC_EDIT_SHA256_KEY1 + 2);
        QApplication::clipboard()->setText("12g4x5678abcd");
        edit->selectAll();
        edit->paste();
        pasted = dlg.m_strEditSHA256Key3;
        EXPECT_EQ(dlg.controlText(IDC_EDIT_SHA256_KEY1 + 2), "1245678A");
        dlg.control<QCheckBox>(IDC_CHECK_SEND_INITIAL_KEY)->click();
        dlg.control<QPushButton>(1)->click();
    });
    f.dlg->sendCommand(IDC_BUTTON_SHA256);
    EXPECT_EQ(keys, (std::vector<std::string>{"6a09e667", "bb67ae85", "3c6ef372", "a54ff53a", "510e527f", "9b05688c",
                                              "1f83d9ab", "5be0cd19"}));
    EXPECT_EQ(pasted, "1245678A");
    EXPECT_EQ(f.dlg->m_DevList.m_bDoSHA256Key, 1);

    // The next open shows the standard key again and the box as the run
    // has it; Cancel after unticking changes nothing.
    whenModalOpens<SHA256_Dlg>([&](SHA256_Dlg& dlg) {
        EXPECT_EQ(dlg.controlText(IDC_EDIT_SHA256_KEY1 + 2), "3c6ef372");
        EXPECT_EQ(dlg.checkState(IDC_CHECK_SEND_INITIAL_KEY), 1);
        dlg.control<QCheckBox>(IDC_CHECK_SEND_INITIAL_KEY)->click();
        EXPECT_EQ(dlg.m_ucSendInitialKey, 0);
        dlg.control<QPushButton>(2)->click();
    });
    f.dlg->sendCommand(IDC_BUTTON_SHA256);
    EXPECT_EQ(f.dlg->m_DevList.m_bDoSHA256Key, 1);

    // A command-line run never opens it.
    f.dlg->m_iRunMode = 0;
    f.dlg->sendCommand(IDC_BUTTON_SHA256);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(SHA256KeyDlg, FilterKeepsLeadingHexDigitsUpToEightInUpperCase)
{
    struct Case {
        const char* typed;
        const char* kept;
    };
    for (const Case& c : {Case{"12g4x5678abcd", "1245678A"}, Case{"", ""}, Case{"xyz", ""},
                          Case{"deadBEEF00", "DEADBEEF"}, Case{" 0a-0b ", "0A0B"}})
        EXPECT_EQ(SHA256_Dlg::strFilterKeyText(c.typed), c.kept) << c.typed;
}

TEST(RegisterToolDlg, OpeningItGivesTheLoginDialogItsTexts)
{
    CLoginDlg login;
    login.setWindowTitle("x");
    for (int id : {IDC_STATIC_LOGIN_PASSWORD, IDOK_LOGIN, IDCANCEL_LOGIN})
        login.setControlText(id, "x");
    CRegisterToolDlg tool(login);
    EXPECT_EQ(tool.windowTitle().toStdString(), "Register Tool");
    EXPECT_TRUE(tool.OnInitDialog());
    EXPECT_EQ(login.windowTitle().toStdString(), "Login");
    EXPECT_EQ(login.controlText(IDC_STATIC_LOGIN_PASSWORD), "Password");
    EXPECT_EQ(login.controlText(IDOK_LOGIN), "Ok");
    EXPECT_EQ(login.controlText(IDCANCEL_LOGIN), "Cancel");
}

}  // namespace
}  // namespace krv::test
