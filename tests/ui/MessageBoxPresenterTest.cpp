#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include "tests/support/TestPlatform.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MessageBoxPresenter.h"

namespace krv::ui {
namespace {

using krv::test::runEventsUntil;
using krv::test::whenModalOpens;

TEST(MessageBoxScripted, AnswersFromTheQueueThenUnattendedAndRecordsEveryBox)
{
    MessageBoxPresenter boxes(Presentation::Scripted);
    boxes.queueAnswer(id::kYes);
    boxes.queueAnswer(id::kRetry);
    EXPECT_EQ(boxes.show("Update?", "Question", mb::kYesNo | mb::kIconQuestion), id::kYes);
    std::thread worker([&] {
        EXPECT_EQ(boxes.show("Again?", "Warning", mb::kRetryCancel), id::kRetry);
    });
    worker.join();
    EXPECT_EQ(boxes.show("Go on?", "Question", mb::kYesNo), id::kNo);

    const std::vector<MessageRecord> records = boxes.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].text, "Update?");
    EXPECT_EQ(records[0].caption, "Question");
    EXPECT_EQ(records[0].flags, mb::kYesNo | mb::kIconQuestion);
    EXPECT_EQ(records[1].text, "Again?");
    EXPECT_EQ(records[2].flags, mb::kYesNo);
}

TEST(MessageBoxCommandLine, TextGoesToTheSinkAndTheUnattendedAnswerComesBack)
{
    MessageBoxPresenter boxes(Presentation::CommandLine);
    std::mutex mutex;
    std::vector<MessageRecord> sunk;
    boxes.setCommandLineSink([&](const MessageRecord& r) {
        std::lock_guard<std::mutex> lock(mutex);
        sunk.push_back(r);
    });
    const struct {
        uint32_t flags;
        int answer;
    } cases[] = {
        {mb::kOk, id::kOk},           {mb::kOkCancel, id::kCancel},
        {mb::kYesNo, id::kNo},        {mb::kYesNoCancel, id::kCancel},
        {mb::kRetryCancel, id::kCancel}, {mb::kAbortRetryIgnore, id::kAbort},
    };
    // From a worker with the GUI thread not running its loop: nothing may wait.
    std::thread worker([&] {
        for (const auto& c : cases)
            EXPECT_EQ(boxes.show("text " + std::to_string(c.flags), "Error", c.flags | mb::kIconHand),
                      c.answer);
    });
    worker.join();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    ASSERT_EQ(sunk.size(), std::size(cases));
    EXPECT_EQ(sunk[1].text, "text 1");
    EXPECT_EQ(sunk[1].caption, "Error");
    EXPECT_EQ(sunk[1].flags, mb::kOkCancel | mb::kIconHand);
    EXPECT_TRUE(boxes.records().empty());
}

TEST(MessageBoxInteractive, FlagsChooseIconButtonsAndDefault)
{
    using B = QMessageBox;
    const struct {
        uint32_t flags;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    } cases[] = {
        {mb::kOk, B::NoIcon, B::Ok, B::Ok},
        {mb::kOkCancel | mb::kIconHand, B::Critical, B::Ok | B::Cancel, B::Ok},
        {mb::kAbortRetryIgnore | mb::kIconExclamation, B::Warning, B::Abort | B::Retry | B::Ignore, B::Abort},
        {mb::kYesNoCancel | mb::kIconQuestion, B::Question, B::Yes | B::No | B::Cancel, B::Yes},
        {mb::kYesNo | mb::kIconAsterisk, B::Information, B::Yes | B::No, B::Yes},
        {mb::kRetryCancel, B::NoIcon, B::Retry | B::Cancel, B::Retry},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        QMessageBox box;
        MessageBoxPresenter::configure(box, c.flags);
        EXPECT_EQ(box.icon(), c.icon);
        EXPECT_EQ(box.standardButtons(), c.buttons);
        ASSERT_NE(box.defaultButton(), nullptr);
        EXPECT_EQ(box.standardButton(box.defaultButton()), c.defaultButton);
    }
}

TEST(MessageBoxInteractive, TheOperatorsButtonIsTheAnswer)
{
    MessageBoxPresenter boxes;
    QString seenText, seenTitle;
    whenModalOpens<QMessageBox>([&](QMessageBox& box) {
        seenText = box.text();
        seenTitle = box.windowTitle();
        box.button(QMessageBox::Retry)->click();
    });
    EXPECT_EQ(boxes.show("Disk 2 failed.\r\nRetry?", "Warning", mb::kAbortRetryIgnore | mb::kIconExclamation),
              id::kRetry);
    EXPECT_EQ(seenText, "Disk 2 failed.\nRetry?");
    EXPECT_EQ(seenTitle, "Warning");
}

TEST(MessageBoxInteractive, AWorkersBoxIsShownOnTheGuiThreadWhileTheWorkerWaits)
{
    MessageBoxPresenter boxes;
    std::atomic<int> answer{0};
    whenModalOpens<QMessageBox>([](QMessageBox& box) { box.button(QMessageBox::No)->click(); });
    std::thread worker([&] { answer = boxes.show("Power-cycle the device?", "Question", mb::kYesNo); });
    ASSERT_TRUE(runEventsUntil([&] { return answer.load() != 0; }));
    worker.join();
    EXPECT_EQ(answer.load(), id::kNo);
}

TEST(MessageBoxInteractive, ShutdownClosesAnOpenBoxWithTheUnattendedAnswer)
{
    MessageBoxPresenter boxes;
    std::atomic<int> answer{0};
    bool opened = false;
    whenModalOpens<QMessageBox>([&](QMessageBox&) {
        opened = true;
        std::thread([&] { boxes.markShutdown(); }).join();  // the exit path may run anywhere
    });
    std::thread worker([&] { answer = boxes.show("Continue?", "Question", mb::kYesNoCancel); });
    ASSERT_TRUE(runEventsUntil([&] { return answer.load() != 0; }));
    worker.join();
    EXPECT_TRUE(opened);
    EXPECT_EQ(answer.load(), id::kCancel);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // No box opens any more.
    EXPECT_EQ(boxes.show("Again?", "Question", mb::kYesNo), id::kNo);
}

TEST(MessageBoxInstall, ThePlatformUsesThePresenterUntilItGoes)
{
    krv::test::TestPlatform platform;
    EXPECT_NE(dynamic_cast<UnattendedMessageBoxes*>(&platform.messageBoxes()), nullptr);
    {
        MessageBoxPresenter boxes(Presentation::Scripted);
        boxes.queueAnswer(id::kYes);
        boxes.install(platform);
        EXPECT_EQ(&platform.messageBoxes(), &boxes);
        EXPECT_EQ(platform.messageBoxes().show("t", "c", mb::kYesNo), id::kYes);
        boxes.uninstall();
        EXPECT_NE(&platform.messageBoxes(), &boxes);
        boxes.install(platform);
    }
    EXPECT_NE(dynamic_cast<UnattendedMessageBoxes*>(&platform.messageBoxes()), nullptr);
}

}  // namespace
}  // namespace krv::ui
