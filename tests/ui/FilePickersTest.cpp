#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include <QFileDialog>

#include "tests/support/TestPlatform.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/FilePickers.h"

namespace krv::ui {
namespace {

TEST(FileFilters, WindowsFiltersBecomeQtFilters)
{
    const struct {
        const char* windows;
        const char* qt;
    } cases[] = {
        {"Firmware .bin File (*.bin)|*.bin||", "Firmware .bin File (*.bin)"},
        {"Config .ini File (*.ini)|*.ini||", "Config .ini File (*.ini)"},
        {"Images (*.bin;*.hex)|*.bin;*.hex|All Files (*.*)|*.*||", "Images (*.bin *.hex);;All Files (*)"},
        {"PD firmware|*.bin|", "PD firmware (*.bin)"},
        {"Text (*.txt)", "Text (*.txt)"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.windows);
        EXPECT_EQ(qtFileFilter(c.windows), c.qt);
    }
}

TEST(FilePickersScripted, AnswersFromTheQueueThenCancelAndRecordsEveryRequest)
{
    FilePickers pickers(Presentation::Scripted);
    pickers.queueAnswer("/fw/KV_USB4_0102.bin");
    pickers.queueAnswer("/preload");
    EXPECT_EQ(pickers.openFile("Browse FW", "/fw", "Firmware .bin File (*.bin)|*.bin||"),
              "/fw/KV_USB4_0102.bin");
    EXPECT_EQ(pickers.chooseFolder("Select A Directory:", "/"), "/preload");
    EXPECT_EQ(pickers.saveFile("Save", "/cfg", "Config .ini File (*.ini)|*.ini||", "INI"), "");

    const std::vector<PickerRequest> requests = pickers.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].kind, PickerRequest::Kind::OpenFile);
    EXPECT_EQ(requests[0].caption, "Browse FW");
    EXPECT_EQ(requests[0].startDir, "/fw");
    EXPECT_EQ(requests[0].filter, "Firmware .bin File (*.bin)|*.bin||");
    EXPECT_EQ(requests[1].kind, PickerRequest::Kind::Folder);
    EXPECT_EQ(requests[2].kind, PickerRequest::Kind::SaveFile);
}

TEST(FilePickersCommandLine, ThereIsNoPicker)
{
    FilePickers pickers(Presentation::CommandLine);
    pickers.queueAnswer("/never");
    EXPECT_EQ(pickers.openFile("Browse FW", "/", "*.bin"), "");
    EXPECT_EQ(pickers.chooseFolder("Select A Directory:", "/"), "");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(pickers.requests().empty());
}

TEST(FilePickersInteractive, TheChosenFileIsTheAnswer)
{
    krv::test::TempDir dir;
    const std::string file = dir.file("KV_USB4_0102.bin");
    std::ofstream(file) << "fw";
    FilePickers pickers;
    QString seenTitle;
    krv::test::whenModalOpens<QFileDialog>([&](QFileDialog& dialog) {
        seenTitle = dialog.windowTitle();
        dialog.selectFile(QString::fromStdString(file));
        static_cast<QDialog&>(dialog).accept();  // as the Open button does
    });
    EXPECT_EQ(pickers.openFile("Browse FW", dir.path(), "Firmware .bin File (*.bin)|*.bin||"), file);
    EXPECT_EQ(seenTitle, "Browse FW");
}

TEST(FilePickersInteractive, ShutdownClosesAWorkersPickerAsCancelled)
{
    FilePickers pickers;
    std::atomic<bool> returned{false};
    std::string answer = "unset";
    krv::test::whenModalOpens<QFileDialog>([&](QFileDialog&) { pickers.markShutdown(); });
    std::thread worker([&] {
        answer = pickers.chooseFolder("Select A Directory:", "/");
        returned = true;
    });
    ASSERT_TRUE(krv::test::runEventsUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(answer, "");
    EXPECT_EQ(pickers.chooseFolder("Select A Directory:", "/"), "");
}

}  // namespace
}  // namespace krv::ui
