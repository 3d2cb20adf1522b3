// The production run as a line script starts it ("/S"): every enabled port
// is programmed, reset, found again, formatted and preloaded, and the exit
// code carries the verdict. (The write/read test and the USB check are off
// after every start-up; only the window switches them on.) Judged from the bench's side: what the
// bridges store and run, what the disks hold.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <ostream>
#include <filesystem>
#include <string>
#include <vector>

#include "app/VIVadeDlg.h"
#include "tests/e2e/CmdLineRun.h"
#include "tests/support/CommandLogChecks.h"
#include "tests/support/ProductionRunSetup.h"

namespace {

using krv::test::CmdLineRun;
using krv::test::countOf;
using krv::test::ToolRun;

// The firmware file and a preload folder in the program folder, and
// settings that switch the run's steps on: update and reload (format 4),
// format and preload.
void prepareRun(CmdLineRun& run, const std::function<void(IniRecord&)>& change = {})
{
    const std::string prog = run.programFolder();
    krv::test::writeRunFiles(prog);
    run.writeSettings([&](IniRecord& r) {
        krv::test::setRunSettings(r, prog);
        if (change)
            change(r);
    });
}

class ProductionRunTest : public ::testing::Test {
protected:
    CmdLineRun run;
};

// The bench's ports, in the order the scan finds them (their hub ports).
std::string portFile(const CmdLineRun& run, int port, const std::string& name)
{
    char folder[16];
    std::snprintf(folder, sizeof folder, "ports/%02d/", port);
    return krv::test::readFile(run.benchFolder() + "/" + folder + name);
}

// Whether anything was ever written to a disk image (a blank disk is one
// hole).
bool bHoldsData(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return true;
    const off_t data = ::lseek(fd, 0, SEEK_DATA);
    ::close(fd);
    return data >= 0;
}

// What fsck.fat says of the first partition (at 1 MiB) of a port's disk.
std::string fsckOfPort(const CmdLineRun& run, int port)
{
    char cmd[512];
    std::snprintf(cmd, sizeof cmd,
                  "d=$(mktemp -d) && dd if=%s/ports/%02d/disk.img of=$d/p.img bs=1M skip=1 conv=sparse status=none"
                  " && fsck.fat -n $d/p.img 2>&1; echo rc=$?; rm -rf $d",
                  run.benchFolder().c_str(), port);
    std::string out;
    FILE* pipe = ::popen(cmd, "r");
    char buffer[4096];
    size_t n;
    while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    if (pipe)
        ::pclose(pipe);
    return out;
}

TEST_F(ProductionRunTest, EveryDriveIsProgrammedFoundAgainFormattedAndPreloaded)
{
    // Port 2 is slow to answer each command; port 3 arrives with a blank
    // serial and goes by its drive's own.
    run.createBench({"--ports", "3", "--renumber", "2=yes", "--disk-size", "1G", "--command-ms", "2=5", "--serial",
                     "3=", "--disk-serial", "3=S4EWNX0R123456K"});
    prepareRun(run);
    ToolRun r = run.run({"/S"});
    ASSERT_EQ(r.exitCode, 0) << r.err.substr(r.err.size() > 20000 ? r.err.size() - 20000 : 0);

    const std::string fw = krv::test::runFirmware();
    const char* const serials[] = {"AAAABBBB0001", "AAAABBBB0002", "AAAABBBB0003"};
    for (int port = 1; port <= 3; ++port) {
        SCOPED_TRACE(port);
        // Image 0 holds the file byte for byte; the settings never ask for
        // image 1, which keeps what it had.
        EXPECT_TRUE(portFile(run, port, "firmware-0.bin") == fw);
        EXPECT_FALSE(portFile(run, port, "firmware-1.bin") == fw);
        // Its own serial number, the window's vendor id, and the re-link
        // signature: three devices, its slot.
        const std::string u3 = portFile(run, port, "config-0-0.bin");
        const std::string u4 = portFile(run, port, "config-0-1.bin");
        ASSERT_EQ(u3.size(), 128u);
        ASSERT_EQ(u4.size(), 128u);
        EXPECT_EQ(u3.substr(4, 12), serials[port - 1]);
        EXPECT_EQ(static_cast<uint8_t>(u3[116]), 0x2B);
        EXPECT_EQ(static_cast<uint8_t>(u3[117]), 0x1A);
        EXPECT_EQ(static_cast<uint8_t>(u4[124]), 3);
        EXPECT_EQ(static_cast<uint8_t>(u4[125]), port - 1);
        const std::string fsck = fsckOfPort(run, port);
        EXPECT_NE(fsck.find("rc=0"), std::string::npos) << fsck;
    }
    const std::string bench = run.krvbench("show").out;
    // Running the new firmware, each drive carries the label and the preload.
    EXPECT_EQ(countOf(bench, "240517800201"), 3) << bench;
    EXPECT_EQ(countOf(bench, "FAT32 \"KRVRUN\""), 3) << bench;
    // The next run starts after the three serial numbers this one wrote.
    EXPECT_NE(krv::test::readFile(run.settingsPath()).find("serial_number=AAAABBBB0004"), std::string::npos);
}

// Port 1's bridge comes back from its reset only after the first re-link
// rescan, where ports 2 and 3 found theirs in the first two slots; the
// rescan that finds port 1 puts every device back in its own slot. Each port
// formats and preloads its own drive, not the one its slot held at its match.
TEST_F(ProductionRunTest, APortFoundAgainEarlyFollowsItsDriveWhenALateOneComesBack)
{
    run.createBench({"--ports", "3", "--disk-size", "1G", "--relink-ms", "1=40000"});
    prepareRun(run);
    ToolRun r = run.run({"/S"});
    ASSERT_EQ(r.exitCode, 0) << r.err.substr(r.err.size() > 20000 ? r.err.size() - 20000 : 0);
    for (int port = 1; port <= 3; ++port)
        EXPECT_NE(fsckOfPort(run, port).find("rc=0"), std::string::npos) << port;
    EXPECT_EQ(countOf(run.krvbench("show").out, "FAT32 \"KRVRUN\""), 3);
}

// The settings write the vendor id in lower case; the bridge comes back
// reporting it in upper case. The configuration check takes them as the one
// number they are.
TEST_F(ProductionRunTest, TheConfigurationCheckComparesHexIdsWithoutCase)
{
    run.createBench({"--ports", "1", "--disk-size", "1G"});
    prepareRun(run, [](IniRecord& r) {
        r.vendor_id.set("abcd");
        r.product_id.set("8a7f");
        r.check_config = 1;
    });
    ToolRun r = run.run({"/S"});
    EXPECT_EQ(r.exitCode, 0) << r.err.substr(r.err.size() > 8000 ? r.err.size() - 8000 : 0);
    const std::string u3 = portFile(run, 1, "config-0-0.bin");
    ASSERT_EQ(u3.size(), 128u);
    EXPECT_EQ(static_cast<uint8_t>(u3[116]), 0xCD);
    EXPECT_EQ(static_cast<uint8_t>(u3[117]), 0xAB);
}

// Benches of every size, up to sixteen drives of every KRV857x model on USB 3
// links and USB 3 tunnels of USB4, on the root hub and two chained hubs, some
// coming back under other drive numbers: every drive passes with its own
// serial number. A seventeenth bridge has no row in the table: "/S" would
// program the first sixteen and end 0 with it untouched, so the run is
// refused before any drive is written. Each row is a test of its own.
struct BenchSize {
    int ports;
    int programmed;  // drives the run programs; 0: the run is refused
    const char* size;
};

void PrintTo(const BenchSize& c, std::ostream* os) { *os << c.ports << " ports"; }

class EveryBenchSize : public ::testing::TestWithParam<BenchSize> {};

TEST_P(EveryBenchSize, EveryDrivePassesUpToTheTablesSixteen)
{
    const BenchSize& c = GetParam();
    CmdLineRun one;
    std::vector<std::string> options = {"--ports", std::to_string(c.ports), "--disk-size", c.size};
    const char* const chips[] = {"KRV8571", "KRV8572", "KRV8573", "KRV8574", "KRV8575"};
    for (int port = 1; port <= c.ports; ++port) {
        const std::string p = std::to_string(port) + "=";
        options.insert(options.end(), {"--chip", p + chips[port % 5]});
        if (port % 4 == 0)
            options.insert(options.end(), {"--link", p + "USB4-U3"});
        if (port % 3 == 0)
            options.insert(options.end(), {"--renumber", p + "yes"});
    }
    one.createBench(options);
    prepareRun(one);
    ToolRun r = one.run({"/S"});
    const int expectedExit = c.programmed == 0 ? CVIVadeDlg::CMDLINE_EXIT_REFUSED & 0xFF : 0;
    ASSERT_EQ(r.exitCode, expectedExit) << r.err.substr(r.err.size() > 20000 ? r.err.size() - 20000 : 0);
    const std::string bench = one.krvbench("show").out;
    EXPECT_EQ(countOf(bench, "240517800201"), c.programmed) << bench;
    EXPECT_EQ(countOf(bench, "FAT32 \"KRVRUN\""), c.programmed) << bench;
    const std::string fw = krv::test::runFirmware();
    std::vector<std::string> serials;
    for (int port = 1; port <= c.ports; ++port) {
        if (port > c.programmed) {
            // Refused, or past the table: never written, disk and EEPROM alike.
            EXPECT_FALSE(portFile(one, port, "firmware-0.bin") == fw) << port;
            char disk[32];
            std::snprintf(disk, sizeof disk, "/ports/%02d/disk.img", port);
            EXPECT_FALSE(bHoldsData(one.benchFolder() + disk)) << port << "\n"
                                                                << one.krvbench("log", {std::to_string(port)}).out;
            continue;
        }
        serials.push_back(portFile(one, port, "config-0-0.bin").substr(4, 12));
    }
    if (c.programmed == 0) {
        const std::string message = one.currentFile("ProgramMSG.txt");
        EXPECT_NE(message.find("1 drive(s) on the bus are not in the run"), std::string::npos) << message;
        // No serial number is used up either.
        EXPECT_NE(krv::test::readFile(one.settingsPath()).find("serial_number=AAAABBBB0001"), std::string::npos);
        return;
    }
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(std::unique(serials.begin(), serials.end()), serials.end());
    char last[16], next[32];
    std::snprintf(last, sizeof last, "AAAABBBB%04X", c.programmed);
    std::snprintf(next, sizeof next, "serial_number=AAAABBBB%04X", c.programmed + 1);
    EXPECT_EQ(serials.front(), "AAAABBBB0001");
    EXPECT_EQ(serials.back(), last);
    EXPECT_NE(krv::test::readFile(one.settingsPath()).find(next), std::string::npos);
}

const BenchSize kBenchSizes[] = {{1, 1, "1G"}, {4, 4, "1G"}, {16, 16, "512M"}, {17, 0, "512M"}};

INSTANTIATE_TEST_SUITE_P(OneToSeventeen, EveryBenchSize, ::testing::ValuesIn(kBenchSizes),
                         [](const ::testing::TestParamInfo<BenchSize>& info) {
                             return std::to_string(info.param.ports) + "Ports";
                         });

// A fault on one port of three, at one step: that port fails the run (exit
// code -1) and its drive gets nothing from any later step; the other two
// pass. Each row is a test of its own, so that the rows run side by side.
//
// Left out, because the kind cannot happen there:
// - no-return anywhere but at the reset: it waits for a CPU reset.
// - corrupt-store at the reset and the disk steps: the reset carries no
//   data, and the disk is no EEPROM (a wrong byte on the disk is the
//   corrupt read of the disk steps).
// - fail, check, corrupt and drop at the re-link and the configuration
//   check: neither sends the device a command of its own. The re-link's
//   rescans read every drive, so such a fault would hit whichever port
//   rescans first; the check compares what the re-link read. What the
//   device can do to the re-link is come back late (time-out) or never.
// - the write/read test: a line script never runs it (start-up switches it
//   off); its rows are the window's (tests/app, VIVadeDlgRunFaultTest).
// - corrupt and corrupt-store at the preload: the copy reads nothing back
//   from the drive, so a wrong byte there is for no step to see.
// How far the port got: its update, its reset and re-link, its partition
// and format, its preload (the volume stands, the copy failed).
enum class Reached { Update, Reload, Disk, Preload };

struct FaultCase {
    const char* name;
    Reached reached;
    std::vector<std::string> fault;       // krvbench fault PORT ...; empty: none
    std::vector<std::string> bench = {};  // more krvbench create options
    bool bConfigCheck = false;            // the configuration check is on
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

const FaultCase kFaultCases[] = {
    // The configuration write (E1 50: image 0, its USB 3 image first).
    {"ConfigWriteFailsThreeTimes", Reached::Update, {"fail", "3", "--cdb", "E150"}},
    {"ConfigWriteCheckCondition", Reached::Update, {"check", "1", "--cdb", "E150"}},
    {"ConfigWriteTimesOut", Reached::Update, {"timeout", "1", "--cdb", "E150"}},
    {"ConfigStoredWrongIsReadBack", Reached::Update, {"corrupt-store", "1", "--cdb", "E150", "--byte", "10"}},
    {"ConfigWriteDrops", Reached::Update, {"drop", "1", "--cdb", "E150"}},
    // The firmware write (E3).
    {"FirmwareWriteFailsTwice", Reached::Update, {"fail", "2", "--cdb", "E3"}},
    {"FirmwareWriteCheckCondition", Reached::Update, {"check", "1", "--cdb", "E3"}},
    {"FirmwareWriteTimesOut", Reached::Update, {"timeout", "1", "--cdb", "E3"}},
    {"FirmwareStoredWrongIsReadBack", Reached::Update, {"corrupt-store", "1", "--cdb", "E3", "--byte", "300"}},
    {"FirmwareWriteDrops", Reached::Update, {"drop", "1", "--cdb", "E3"}},
    // The CPU reset (E8 50).
    {"ResetRefused", Reached::Reload, {"fail", "1", "--cdb", "E850"}},
    {"ResetCheckCondition", Reached::Reload, {"check", "1", "--cdb", "E850"}},
    {"ResetTimesOut", Reached::Reload, {"timeout", "1", "--cdb", "E850"}},
    {"ResetDrops", Reached::Reload, {"drop", "1", "--cdb", "E850"}},
    {"ResetNeverReturns", Reached::Reload, {"no-return"}},
    // The re-link: back only long after the run's wait.
    {"RelinkTooLate", Reached::Reload, {}, {"--relink-ms", "2=3600000"}},
    // The configuration check: the bridge comes back and names itself
    // otherwise than its image says (its serial string in hex).
    {"CheckFindsAnotherIdentity", Reached::Reload, {}, {"--usb-serial", "2=hex"}, true},
    // The partition: the master boot record the run writes itself.
    {"PartitionWriteFails", Reached::Disk, {"fail", "1", "--cdb", "8A", "--offset", "0"}},
    {"PartitionWriteTimesOut", Reached::Disk, {"timeout", "1", "--cdb", "8A", "--offset", "0"}},
    {"PartitionWriteDrops", Reached::Disk, {"drop", "1", "--cdb", "8A", "--offset", "0"}},
    // The format: every write inside the volume fails, times out, drops (a
    // single failed write is taken back by the format's next try).
    {"FormatWritesFail", Reached::Disk, {"fail", "100000", "--cdb", "8A", "--offset", "0x200000"}},
    {"FormatWriteCheckCondition", Reached::Disk, {"check", "100000", "--cdb", "8A", "--offset", "0x200000"}},
    {"FormatWriteTimesOut", Reached::Disk, {"timeout", "100000", "--cdb", "8A", "--offset", "0x200000"}},
    {"FormatWriteDrops", Reached::Disk, {"drop", "1", "--cdb", "8A", "--offset", "0x200000"}},
    // The preload: the copy's file writes onto the volume.
    {"PreloadWriteFailsThreeTimes", Reached::Preload, {"fail", "3", "--cdb", "8A", "--files"}},
    {"PreloadWriteCheckCondition", Reached::Preload, {"check", "1", "--cdb", "8A", "--files"}},
    {"PreloadWriteTimesOut", Reached::Preload, {"timeout", "1", "--cdb", "8A", "--files"}},
    {"PreloadSecondFileDrops", Reached::Preload, {"drop", "1", "--cdb", "8A", "--files", "--after", "1"}},
};

class FaultOnOnePort : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultOnOnePort, FailsOnlyThatPortAndItsDriveGetsNoLaterStep)
{
    const FaultCase& c = GetParam();
    CmdLineRun one;
    std::vector<std::string> options = {"--ports", "3", "--disk-size", "1G"};
    options.insert(options.end(), c.bench.begin(), c.bench.end());
    one.createBench(options);
    if (!c.fault.empty()) {
        std::vector<std::string> args = {"2"};
        args.insert(args.end(), c.fault.begin(), c.fault.end());
        ASSERT_EQ(one.krvbench("fault", args).exitCode, 0);
    }
    prepareRun(one, [&](IniRecord& r) { r.check_config = c.bConfigCheck ? 1 : 0; });
    ToolRun r = one.run({"/S"});
    EXPECT_EQ(r.exitCode, CVIVadeDlg::CMDLINE_EXIT_FAILED & 0xFF)
        << r.err.substr(r.err.size() > 8000 ? r.err.size() - 8000 : 0);
    EXPECT_NE(fsckOfPort(one, 1).find("rc=0"), std::string::npos);
    EXPECT_NE(fsckOfPort(one, 3).find("rc=0"), std::string::npos);

    const std::string log = one.krvbench("log", {"2"}).out;
    if (!c.fault.empty()) {
        EXPECT_NE(log.find("fault:"), std::string::npos) << "the fault never hit\n" << log;
    }
    // A port that failed before its reset is never reset; one that failed
    // before its disk steps never has its disk written; a disk step that
    // failed left no volume the checker takes.
    EXPECT_EQ(log.find("E8 50") != std::string::npos, c.reached != Reached::Update) << log;
    if (c.reached == Reached::Disk) {
        EXPECT_EQ(fsckOfPort(one, 2).find("rc=0"), std::string::npos);
    } else if (c.reached != Reached::Preload) {
        EXPECT_EQ(log.find("disk  8A"), std::string::npos) << log;
        EXPECT_FALSE(bHoldsData(one.benchFolder() + "/ports/02/disk.img"));
    }
    // The copy stops at its first failed file: nothing more goes onto the
    // drive. (A step may go on after a fault itself, as the firmware write
    // writes its next part; no later step writes.)
    if (c.reached == Reached::Preload) {
        EXPECT_NE(fsckOfPort(one, 2).find("rc=0"), std::string::npos);
        EXPECT_FALSE(krv::test::bWriteTakenAfterFault(log)) << log;
    }
    // A volume stands after a failed preload, unless its drive has left.
    const bool bVolumeShown = c.reached == Reached::Preload && c.fault[0] != "drop";
    EXPECT_EQ(countOf(one.krvbench("show").out, "FAT32 \"KRVRUN\""), bVolumeShown ? 3 : 2);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, FaultOnOnePort, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

}  // namespace
