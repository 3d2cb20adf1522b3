// The serial-number entry: the dialog's own rules (the length Enter
// accepts, the filter, no drive no text), and a production run with
// SN_EditType 3 that asks for the serial after its scan and writes what was
// typed into the drive's configuration.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "app/SNDlg.h"
#include "tests/app/VIVadeDlgTestSupport.h"
#include "tests/support/ProductionRunSetup.h"

namespace krv::test {
namespace {

void typeKeys(QLineEdit* edit, const std::string& text)
{
    for (char c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(c)));
        QApplication::sendEvent(edit, &press);
    }
}

void pressEnter(QLineEdit* edit)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(edit, &press);
}

TEST(SNEntry, EnterAcceptsOnlyTheSettingsLength)
{
    struct Case {
        int32_t numbers;
        size_t length;
        bool accepted;
    };
    const Case cases[] = {{0, 11, false}, {0, 12, true}, {0, 20, true},   {16, 15, false},
                          {16, 16, true}, {16, 17, false}, {-3, 12, false}, {0, 0, false}};
    for (const Case& c : cases)
        EXPECT_EQ(CSNDlg::bAcceptsLength(c.length, c.numbers), c.accepted) << c.numbers << " " << c.length;
}

TEST(SNEntry, TheEditKeepsTheCaseAndWithoutADriveKeepsNothing)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    DevList& list = f.dlg->m_DevList;
    CSNDlg entry(list);
    entry.OnInitDialog();
    auto* edit = entry.control<QLineEdit>(IDC_EDIT_DEVICE_ARRIVAL_PCB_SN);

    // No drive in the table: every keystroke is wiped, and so is the setting.
    pIni.m_pINI.serial_number.set("OLD");
    pIni.m_pINI.SN_Numbers = 0;
    typeKeys(edit, "ab");
    EXPECT_EQ(edit->text().toStdString(), "");
    EXPECT_EQ(pIni.m_pINI.serial_number.str(), "");

    list.Devs[0].m_ucPortIndex = 0;
    list.Devs[0].m_strFWVersion = "230601800100";
    pIni.m_pINI.Check_SerialNumber = 1;
    typeKeys(edit, "ab-12x");
    EXPECT_EQ(edit->text().toStdString(), "ab12");
    EXPECT_EQ(pIni.m_pINI.serial_number.str(), "ab12");
    pIni.m_pINI.Check_SerialNumber = 0;
    typeKeys(edit, "-z");
    EXPECT_EQ(pIni.m_pINI.serial_number.str(), "ab12-z");

    // Nothing modal opens in command-line mode.
    f.dlg->m_iRunMode = 0;
    EXPECT_FALSE(f.dlg->bRunInputDlg());
    EXPECT_EQ(f.dlg->m_bInputDlgOpen.load(), 0);
    EXPECT_FALSE(f.dlg->bRunLoginDlg());
    f.dlg->m_iRunMode = 1;

    // Too short for SN_Numbers 0: Enter clears and the dialog stays.
    pressEnter(edit);
    EXPECT_EQ(edit->text().toStdString(), "");
    EXPECT_EQ(entry.result(), 0);
}

std::string boxes(DlgFixture& f)
{
    std::string texts;
    for (const auto& record : f.messages.records())
        texts += "[" + record.text + "]";
    return texts;
}

TEST(SNEntry, ARunWithTypeThreeAsksForTheSerialAndWritesIt)
{
    bench::BenchSettings settings;
    settings.timeScale = 50;
    settings.ports.resize(1);
    settings.ports[0].diskSize = 1ull << 30;
    DlgFixture f(settings, BenchTime::Real);
    g_UsbDev.vInitialize();
    const std::string prog = f.programDir.path();
    writeRunFiles(prog);
    f.writeSettings([&](IniRecord& r) {
        setRunSettings(r, prog);
        r.SN_EditType = SN_EDIT_TYPE_FROM_BARCODE;
        r.SN_Numbers = 0;
    });
    f.dlg->bRealScans = true;

    const std::string typed = "KRVSCAN00042";
    int asked = 0;
    std::string seen;
    whenModalOpens<CSNDlg>([&](CSNDlg& entry) {
        ++asked;
        auto* edit = entry.control<QLineEdit>(IDC_EDIT_DEVICE_ARRIVAL_PCB_SN);
        typeKeys(edit, typed);
        seen = edit->text().toStdString();
        pressEnter(edit);
        if (entry.result() != QDialog::Accepted)
            entry.reject();
    });
    f.dlg->OnInitDialog();
    ASSERT_TRUE(runEventsUntil([&] { return f.dlg->m_pMainThread != nullptr; }, std::chrono::seconds(30))) << asked << " " << seen << " " << boxes(f);
    ASSERT_TRUE(runEventsUntil([&] { return f.dlg->m_bRunning == 0 && !f.dlg->m_pMainThread->bIsRunning(); },
                               std::chrono::seconds(120)));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(seen, typed);
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_SERIAL_NUMBER), typed);
    const bench::Bytes image = f.bench.devices().state(1).stored.config[0][0];
    const std::string bytes(image.begin(), image.end());
    EXPECT_NE(bytes.find(typed), std::string::npos) << bytes;
    g_UsbDev.vShutdown();
}

}  // namespace
}  // namespace krv::test
