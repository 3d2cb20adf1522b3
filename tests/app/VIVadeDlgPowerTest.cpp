// The power scheme as the window reads and switches it, through the bench
// machine's powercfg; the bench's other console program and its one-instance
// claim.
#include <gtest/gtest.h>

#include "platform/LastError.h"
#include "platform/StopSource.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

TEST(VIVadeDlgPower, TheSchemeIsTheWordAfterGuidOnTheFirstLine)
{
    struct Case {
        const char* output;
        const char* scheme;
    };
    const Case cases[] = {
        {"Power Scheme GUID: 381b4222-f694-41f0-9685-ff5bb260df2e  (Balanced)\r\n",
         "381b4222-f694-41f0-9685-ff5bb260df2e"},
        {"Power Scheme GUID:8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c\r\nsecond line GUID: x\r\n",
         "8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c"},
        // No "GUID:": the first word of the first line, which is no scheme.
        {"Access denied.\r\n", "Access"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CVIVadeDlg::strPowerSchemeFromOutput(c.output), c.scheme) << c.output;
    EXPECT_TRUE(isPowerSchemeGuid("8C5E7FDA-E8BF-4A96-9A85-A6E23A8C635C"));
    EXPECT_FALSE(isPowerSchemeGuid("Access"));
    EXPECT_FALSE(isPowerSchemeGuid("8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c & del x"));
}

TEST(VIVadeDlgPower, TheBenchPowercfgAnswersInItsFormatsAndTheSchemeOutlivesTheRun)
{
    DlgFixture f;
    auto run = [&](std::vector<std::string> args) {
        return f.bench.platform().consolePrograms().run({"powercfg.exe", std::move(args)});
    };
    ConsoleResult r = run({"/getactivescheme"});
    ASSERT_TRUE(r.started && r.finished);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, "Power Scheme GUID: 381b4222-f694-41f0-9685-ff5bb260df2e  (Balanced)\r\n");

    r = run({"/SETACTIVE", "8C5E7FDA-E8BF-4A96-9A85-A6E23A8C635C"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, "");
    r = run({"/list"});
    EXPECT_NE(r.output.find("8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c  (High performance) *\r\n"), std::string::npos);
    EXPECT_NE(r.output.find("(Balanced)\r\n"), std::string::npos);

    r = run({"/setactive", "00000000-0000-0000-0000-000000000000"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.output, "The power scheme, subgroup or setting specified does not exist.\r\n");
    r = run({"/bogus"});
    EXPECT_EQ(r.exitCode, 1u);

    // The machine keeps its scheme for the next program run.
    EXPECT_EQ(bench::BenchSystemInfo(f.bench.folder()).activePowerScheme(), POWER_SCHEME_HIGH_PERFORMANCE);

    // Every run was recorded; a program the bench does not have never starts.
    EXPECT_EQ(f.consoleCalls(), (std::vector<std::string>{
                                    "powercfg.exe /getactivescheme",
                                    "powercfg.exe /SETACTIVE 8C5E7FDA-E8BF-4A96-9A85-A6E23A8C635C",
                                    "powercfg.exe /list",
                                    "powercfg.exe /setactive 00000000-0000-0000-0000-000000000000",
                                    "powercfg.exe /bogus",
                                }));
    r = f.bench.platform().consolePrograms().run({"chkdsk", {"E:"}});
    EXPECT_FALSE(r.started);
    EXPECT_EQ(lastError(), winerr::kFileNotFound);
    EXPECT_FALSE(f.console().calls().back().started);

    // Asked to stop first: it starts and is ended at once, doing nothing.
    StopSource stop;
    stop.requestStop();
    r = f.bench.platform().consolePrograms().run({"powercfg", {"/setactive", bench::kSchemePowerSaver}}, &stop);
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.finished);
    EXPECT_EQ(f.bench.platform().systemInfo().activePowerScheme(), POWER_SCHEME_HIGH_PERFORMANCE);
}

TEST(VIVadeDlgPower, APowercfgAnswerThatIsNoSchemeIsNeverSwitchedTo)
{
    DlgFixture f;
    pIni.vSetDefaultSettings();  // PCIE_Scan 1
    f.dlg->vSetWinPwrMode("Access");
    f.dlg->vSetWinPwrMode("");
    EXPECT_TRUE(f.consoleCalls().empty());
    f.dlg->vSetWinPwrMode(bench::kSchemePowerSaver);
    EXPECT_EQ(f.system().activePowerScheme(), bench::kSchemePowerSaver);
    std::string scheme = "unchanged";
    f.dlg->vGetWinPwrMode(scheme);
    EXPECT_EQ(scheme, bench::kSchemePowerSaver);
}

TEST(VIVadeDlgPower, PnPUtilListsTwoFunctionsPerBridgeOnAPcieLink)
{
    DlgFixture f(3, "USB4");
    auto count = [&] {
        const ConsoleResult r =
            f.bench.platform().consolePrograms().run({"PnPUtil", {"/enum-devices", "/connected"}});
        EXPECT_EQ(r.exitCode, 0u);
        int lines = 0;
        for (size_t at = 0; (at = r.output.find("SUBSYS_85732C4B", at)) != std::string::npos; ++at)
            ++lines;
        return lines;
    };
    EXPECT_EQ(count(), 6);
    std::string outcome;
    f.bench.devices().setPresent(2, false, outcome);
    EXPECT_EQ(count(), 4);

    DlgFixture usb3(2, "USB3");
    const ConsoleResult r =
        usb3.bench.platform().consolePrograms().run({"pnputil", {"/enum-devices", "/connected"}});
    EXPECT_EQ(r.output.find("SUBSYS_85732C4B"), std::string::npos);
    EXPECT_EQ(usb3.bench.platform().consolePrograms().run({"pnputil", {"/delete-driver"}}).exitCode, 87u);
}

TEST(VIVadeDlgPower, OneInstanceClaimPerProgramAndBench)
{
    DlgFixture f;
    auto first = std::make_unique<bench::BenchSystemInfo>(f.bench.folder());
    bench::BenchSystemInfo second(f.bench.folder());
    EXPECT_TRUE(first->claimProgramInstance("KRV857xVIVade"));
    EXPECT_TRUE(first->claimProgramInstance("KRV857xVIVade"));  // the holder again
    EXPECT_FALSE(second.claimProgramInstance("KRV857xVIVade"));
    EXPECT_TRUE(second.claimProgramInstance("KRV857xShowStatus"));
    first.reset();  // the holder's process ends
    EXPECT_TRUE(second.claimProgramInstance("KRV857xVIVade"));
}

}  // namespace
}  // namespace krv::test
