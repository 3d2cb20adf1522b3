// The format step in runs of the window: a drive formatted FAT32 in one run
// is formatted again in the next, where its disk fails every write from the
// second FAT on. The volume's start is new, its root folder (with the label)
// is still the earlier run's, so the volume reads back with the label asked
// for; the format fails all the same, in both attempts.
#include <gtest/gtest.h>

#include <string>

#include "app/ResultColumns.h"
#include "app/VIVadeDlg.h"
#include "format/Fat32Format.h"
#include "platform/bench/bridge/CommandLog.h"
#include "tests/app/VIVadeDlgRunSupport.h"

namespace krv::test {
namespace {

constexpr uint64_t GiB = 1ull << 30;
// The disk's byte 7 MiB: past the volume's first FAT and in its second.
constexpr const char* kSecondFatOffset = "7340032";

// Start on the scanned drive; the event loop until the run has ended.
void runOnce(RunFixture& f)
{
    ASSERT_TRUE(runEventsUntil([&] { return f.scanOver() && f.dlg->isControlEnabled(IDC_BUTTON_START); }));
    f.dlg->sendCommand(IDC_BUTTON_START);
    ASSERT_NE(f.dlg->m_pMainThread, nullptr) << ::testing::PrintToString(f.boxes());
    f.waitForTheEnd();
}

TEST(FormatStepRun, AFat32FormatWhoseWritesFailIsAFailEvenWhereTheOldVolumeReadsBackAsAsked)
{
    RunFixture f(1, [](bench::BenchSettings& s) { s.ports[0].diskSize = 8 * GiB; });
    f.writeSettings([&](IniRecord& r) {
        setRunSettings(r, f.programDir.path());
        r.fw_enable = 0;
        r.fw_reload = 0;
        r.preload_enable = 0;
        r.format_drive_type = FORMAT_TYPE_FAT32;
    });
    f.dlg->OnInitDialog();
    f.dlg->show();
    ASSERT_TRUE(runEventsUntil([&] { return f.dlg->m_DevList.DevNums == 1; }));
    runOnce(f);
    ASSERT_EQ(f.cell(0, RESULT_COL_PARTITION), "PASS") << ::testing::PrintToString(f.boxes());
    ASSERT_EQ(f.dlg->controlText(IDC_EDIT_PASS_COUNT), "1");

    bench::BenchCommand fault{
        "fault", 1, {{"kind", "fail"}, {"cdb", "8A"}, {"offset", kSecondFatOffset}, {"count", "100"}}};
    std::string outcome;
    ASSERT_TRUE(f.bench.bench().apply(fault, outcome)) << outcome;
    runOnce(f);

    std::string log;
    for (const bench::LogEntry& entry : f.bench.devices().log(1))
        log += bench::formatLogEntry(entry) + "\n";
    ASSERT_NE(log.find("fault:"), std::string::npos) << "the fault never hit\n" << log;
    EXPECT_EQ(f.cell(0, RESULT_COL_PARTITION), "FAIL");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_PASS_COUNT), "1");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_FAIL_COUNT), "1");
}

}  // namespace
}  // namespace krv::test
