#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>

#include "tests/ui/UiTestSupport.h"
#include "ui/Dialog.h"

namespace krv::ui {
namespace {

enum : int {
    kLabel = 1001,
    kEdit,
    kButton,
    kCheck,
    kEditableCombo,
    kListCombo,
    kGroup,
    kRadio,
    kUnknown = 4242,
};

class ControlsTest : public testing::Test {
protected:
    ControlsTest()
    {
        label = new QLabel(&dialog);
        button = new QPushButton(&dialog);
        check = new QCheckBox(&dialog);
        auto* editable = new QComboBox(&dialog);
        editable->setEditable(true);
        list = new QComboBox(&dialog);
        list->addItems({"A", "B", "C"});
        dialog.addControl(kLabel, label);
        dialog.addControl(kEdit, new QLineEdit(&dialog));
        dialog.addControl(kButton, button);
        dialog.addControl(kCheck, check);
        dialog.addControl(kEditableCombo, editable);
        dialog.addControl(kListCombo, list);
        dialog.addControl(kGroup, new QGroupBox(&dialog));
        dialog.addControl(kRadio, new QRadioButton(&dialog));
        for (int id = kLabel; id <= kRadio; ++id)
            dialog.setCommandHandler(id, [this, id] { commands.push_back(id); });
    }

    Dialog dialog;
    QLabel* label;
    QPushButton* button;
    QCheckBox* check;
    QComboBox* list;
    std::vector<int> commands;
};

TEST_F(ControlsTest, TextGoesInAndComesBackForEveryKindOfControl)
{
    for (int id : {kLabel, kEdit, kButton, kCheck, kEditableCombo, kGroup, kRadio}) {
        SCOPED_TRACE(id);
        const std::string text = "Port " + std::to_string(id) + " \xC2\xB5s";
        EXPECT_TRUE(dialog.setControlText(id, text));
        EXPECT_EQ(dialog.controlText(id), text);
    }
    EXPECT_EQ(label->text(), QString::fromUtf8("Port 1001 \xC2\xB5s"));
}

TEST_F(ControlsTest, ListComboSelectsByExactTextAndRefusesOthers)
{
    EXPECT_TRUE(dialog.setControlText(kListCombo, "B"));
    EXPECT_EQ(list->currentIndex(), 1);
    EXPECT_FALSE(dialog.setControlText(kListCombo, "Z"));
    EXPECT_FALSE(dialog.setControlText(kListCombo, "b"));
    EXPECT_EQ(dialog.controlText(kListCombo), "B");
}

TEST_F(ControlsTest, UnknownAndDeletedIdsAreQuietNoOps)
{
    delete label;
    for (int id : {int(kUnknown), int(kLabel)}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(dialog.control(id), nullptr);
        EXPECT_FALSE(dialog.setControlText(id, "x"));
        EXPECT_EQ(dialog.controlText(id), "");
        EXPECT_FALSE(dialog.enableControl(id, false));
        EXPECT_FALSE(dialog.isControlEnabled(id));
        EXPECT_FALSE(dialog.showControl(id, true));
        EXPECT_FALSE(dialog.isControlShown(id));
        EXPECT_FALSE(dialog.setCheck(id, check::kChecked));
        EXPECT_EQ(dialog.checkState(id), check::kUnchecked);
    }
    EXPECT_FALSE(dialog.addControl(kUnknown, nullptr));
}

TEST_F(ControlsTest, EnableAndShowFollowTheControlItself)
{
    EXPECT_TRUE(dialog.enableControl(kEdit, false));
    EXPECT_FALSE(dialog.isControlEnabled(kEdit));
    EXPECT_TRUE(dialog.enableControl(kEdit));
    EXPECT_TRUE(dialog.isControlEnabled(kEdit));

    // The dialog itself is hidden; the control's own state still counts.
    EXPECT_TRUE(dialog.isControlShown(kLabel));
    EXPECT_TRUE(dialog.showControl(kLabel, false));
    EXPECT_FALSE(dialog.isControlShown(kLabel));
    EXPECT_TRUE(dialog.showControl(kLabel));
    EXPECT_TRUE(dialog.isControlShown(kLabel));
}

TEST_F(ControlsTest, CheckStatesAreSetWithoutCountingAsClicks)
{
    for (int state : {check::kChecked, check::kIndeterminate, check::kUnchecked}) {
        EXPECT_TRUE(dialog.setCheck(kCheck, state));
        EXPECT_EQ(dialog.checkState(kCheck), state);
    }
    EXPECT_TRUE(dialog.setCheck(kRadio, check::kChecked));
    EXPECT_EQ(dialog.checkState(kRadio), check::kChecked);
    EXPECT_FALSE(dialog.setCheck(kRadio, check::kIndeterminate));
    EXPECT_FALSE(dialog.setCheck(kButton, check::kChecked));  // a push button has no check
    EXPECT_FALSE(dialog.setCheck(kCheck, 7));
    EXPECT_TRUE(commands.empty());
}

TEST_F(ControlsTest, ClickingAButtonSendsItsIdAndAReplacedButtonStaysQuiet)
{
    button->click();
    check->click();
    EXPECT_EQ(commands, (std::vector<int>{kButton, kCheck}));
    EXPECT_EQ(dialog.checkState(kCheck), check::kChecked);

    auto* newer = new QPushButton(&dialog);
    dialog.addControl(kButton, newer);
    button->click();
    newer->click();
    EXPECT_EQ(commands, (std::vector<int>{kButton, kCheck, kButton}));
}

TEST_F(ControlsTest, AWorkerSetsTextsThroughTheGuiThreadUntilShutdown)
{
    auto* edit = dialog.control<QLineEdit>(kEdit);
    ASSERT_NE(edit, nullptr);
    QThread* changedOn = nullptr;
    QObject::connect(edit, &QLineEdit::textChanged, edit,
                     [&] { changedOn = QThread::currentThread(); }, Qt::DirectConnection);
    std::atomic<bool> done{false};
    bool setOk = false;
    std::string readBack;
    std::thread worker([&] {
        setOk = dialog.setControlText(kEdit, "from worker");
        readBack = dialog.controlText(kEdit);
        done = true;
    });
    ASSERT_TRUE(krv::test::runEventsUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(setOk);
    EXPECT_EQ(readBack, "from worker");
    EXPECT_EQ(changedOn, QThread::currentThread());

    dialog.markShutdown();
    std::thread late([&] { setOk = dialog.setControlText(kEdit, "too late"); });
    late.join();
    EXPECT_FALSE(setOk);
    EXPECT_EQ(edit->text(), "from worker");
}

}  // namespace
}  // namespace krv::ui
