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
#include <filesystem>
#include <string>
#include <vector>

#include "app/VIVadeDlg.h"
#include "tests/e2e/CmdLineRun.h"
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
    run.createBench({"--ports", "3", "--renumber", "2=yes", "--disk-size", "1G"});
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

// Sixteen drives, every KRV857x model, USB 3 links and USB 3 tunnels of
// USB4, on the root hub and two chained hubs, some coming back under other
// drive numbers: all of them pass, each with its own serial number.
TEST_F(ProductionRunTest, SixteenDrivesOnChainedHubs)
{
    std::vector<std::string> options = {"--ports", "16", "--disk-size", "512M"};
    const char* const chips[] = {"KRV8571", "KRV8572", "KRV8573", "KRV8574", "KRV8575"};
    for (int port = 1; port <= 16; ++port) {
        const std::string p = std::to_string(port) + "=";
        options.insert(options.end(), {"--chip", p + chips[port % 5]});
        if (port % 4 == 0)
            options.insert(options.end(), {"--link", p + "USB4-U3"});
        if (port % 3 == 0)
            options.insert(options.end(), {"--renumber", p + "yes"});
    }
    run.createBench(options);
    prepareRun(run);
    ToolRun r = run.run({"/S"});
    ASSERT_EQ(r.exitCode, 0) << r.err.substr(r.err.size() > 20000 ? r.err.size() - 20000 : 0);
    const std::string bench = run.krvbench("show").out;
    EXPECT_EQ(countOf(bench, "240517800201"), 16) << bench;
    EXPECT_EQ(countOf(bench, "FAT32 \"KRVRUN\""), 16) << bench;
    std::vector<std::string> serials;
    for (int port = 1; port <= 16; ++port)
        serials.push_back(portFile(run, port, "config-0-0.bin").substr(4, 12));
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(std::unique(serials.begin(), serials.end()), serials.end());
    EXPECT_EQ(serials.front(), "AAAABBBB0001");
    EXPECT_EQ(serials.back(), "AAAABBBB0010");
    EXPECT_NE(krv::test::readFile(run.settingsPath()).find("serial_number=AAAABBBB0011"), std::string::npos);
}

// A fault on one port of three, at one step: that port fails the run (exit
// code -1), its drive gets nothing after the fault, the other two pass.
TEST_F(ProductionRunTest, AFaultOnOnePortFailsOnlyThatPort)
{
    const struct {
        const char* step;
        std::vector<std::string> fault;
        bool bDiskWritten = false;  // the fault comes after the partition
    } cases[] = {
        {"configuration write", {"fail", "1", "--cdb", "E150"}},
        {"configuration write times out", {"timeout", "1", "--cdb", "E150"}},
        {"firmware write", {"fail", "1", "--cdb", "E3"}},
        {"drop at the firmware write", {"drop", "1", "--cdb", "E3"}},
        {"reset refused", {"fail", "1", "--cdb", "E850"}},
        {"reset never returns", {"no-return"}},
        {"format writes", {"fail", "100000", "--cdb", "8A", "--offset", "0x200000"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        CmdLineRun one;
        one.createBench({"--ports", "3", "--disk-size", "1G"});
        std::vector<std::string> args = {"2"};
        args.insert(args.end(), c.fault.begin(), c.fault.end());
        ASSERT_EQ(one.krvbench("fault", args).exitCode, 0);
        prepareRun(one);
        ToolRun r = one.run({"/S"});
        EXPECT_EQ(r.exitCode, CVIVadeDlg::CMDLINE_EXIT_FAILED & 0xFF)
            << r.err.substr(r.err.size() > 8000 ? r.err.size() - 8000 : 0);
        EXPECT_NE(fsckOfPort(one, 1).find("rc=0"), std::string::npos);
        EXPECT_NE(fsckOfPort(one, 3).find("rc=0"), std::string::npos);
        // The failed port's disk was never partitioned or formatted; a
        // format that failed left no volume the checker takes.
        if (c.bDiskWritten)
            EXPECT_EQ(fsckOfPort(one, 2).find("rc=0"), std::string::npos);
        else
            EXPECT_FALSE(bHoldsData(one.benchFolder() + "/ports/02/disk.img"));
    }
}

}  // namespace
