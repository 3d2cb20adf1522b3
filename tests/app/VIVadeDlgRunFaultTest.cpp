// A fault of the drive during the write/read test, on one port of three, in
// a run the command line started with the test switched on (start-up
// switches it off, so only a run that sets it reaches it): the drive fails
// the test's file write k times, ends it with CHECK CONDITION, times out,
// drops off the bus, or hands back (or stores) a byte other than was
// written. That port is FAIL in the test's cell and gets no preload, the
// other two pass, the run ends with its failure code, and the failed drive
// takes no write after the fault. Each row is a test of its own.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>

#include "app/ResultColumns.h"
#include "app/VIVadeDlg.h"
#include "device/USBUtility.h"
#include "platform/bench/bridge/CommandLog.h"
#include "tests/app/VIVadeDlgRunSupport.h"
#include "tests/support/CommandLogChecks.h"

namespace krv::test {
namespace {

constexpr int kDrives = 3;
constexpr int kFaultPort = 2;

struct WrFault {
    const char* name;
    std::map<std::string, std::string> fault;  // the fields of the bench's fault command
};

void PrintTo(const WrFault& c, std::ostream* os) { *os << c.name; }

// The test writes its file to the volume, reads it back and compares, twice.
const WrFault kWrFaults[] = {
    {"WriteFailsThreeTimes", {{"kind", "fail"}, {"count", "3"}, {"cdb", "8A"}}},
    {"WriteCheckCondition", {{"kind", "check"}, {"cdb", "8A"}}},
    {"WriteTimesOut", {{"kind", "timeout"}, {"cdb", "8A"}}},
    {"WriteDrops", {{"kind", "drop"}, {"cdb", "8A"}}},
    {"ReadBackFails", {{"kind", "fail"}, {"cdb", "88"}}},
    {"ReadBackCorrupt", {{"kind", "corrupt"}, {"cdb", "88"}, {"byte", "4097"}}},
    {"SecondPassStoredWrong", {{"kind", "corrupt-store"}, {"cdb", "8A"}, {"byte", "100"}, {"after", "1"}}},
};

class WrTestFault : public ::testing::TestWithParam<WrFault> {};

TEST_P(WrTestFault, FailsOnlyThatPortAndItsDriveTakesNoLaterWrite)
{
    RunFixture f(kDrives);
    f.runToTheEnd([&] {
        bench::BenchCommand fault{"fault", kFaultPort, GetParam().fault};
        fault.fields["files"] = "yes";
        std::string outcome;
        ASSERT_TRUE(f.bench.bench().apply(fault, outcome)) << outcome;
        f.dlg->m_iRunMode = 0;
        pUtility.m_bCommandLineMode = true;
    });
    // The supervisor's last act hands the window its end.
    EXPECT_TRUE(runEventsUntil([&] { return !f.endCodes.empty(); }));
    EXPECT_EQ(f.endCodes, std::vector<int>{CVIVadeDlg::CMDLINE_EXIT_FAILED});

    for (int row = 0; row < kDrives; ++row) {
        const char* expected = row == kFaultPort - 1 ? "FAIL" : "PASS";
        EXPECT_EQ(f.cell(row, RESULT_COL_PARTITION), "PASS") << row;
        EXPECT_EQ(f.cell(row, RESULT_COL_RW_TEST), expected) << row;
        EXPECT_EQ(f.cell(row, RESULT_COL_PRELOAD), expected) << row;
    }
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_PASS_COUNT), "2");
    EXPECT_EQ(f.dlg->controlText(IDC_EDIT_FAIL_COUNT), "1");

    std::string log;
    for (const bench::LogEntry& entry : f.bench.devices().log(kFaultPort))
        log += bench::formatLogEntry(entry) + "\n";
    EXPECT_NE(log.find("fault:"), std::string::npos) << "the fault never hit\n" << log;
    EXPECT_FALSE(bWriteTakenAfterFault(log)) << log;
}

INSTANTIATE_TEST_SUITE_P(EveryKind, WrTestFault, ::testing::ValuesIn(kWrFaults),
                         [](const ::testing::TestParamInfo<WrFault>& info) { return info.param.name; });

}  // namespace
}  // namespace krv::test
