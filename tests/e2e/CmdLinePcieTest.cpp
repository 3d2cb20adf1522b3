// The PCIe-attached bridges through the production tool's command line: a
// bench with USB 3, USB4 and Thunderbolt 3 links, scanned by the tool, the
// PCIe report byte for byte and the reset sent through the mailbox.
#include <gtest/gtest.h>

#include <string>

#include "app/VIVadeDlg.h"
#include "tests/e2e/CmdLineRun.h"
#include "tests/support/ProductionRunSetup.h"

namespace {

using krv::test::CmdLineRun;
using krv::test::countOf;
using krv::test::ToolRun;

int shell(int32_t code) { return code & 0xFF; }

std::string portFile(const CmdLineRun& run, int port, const std::string& name)
{
    return krv::test::readFile(run.benchFolder() + "/ports/0" + std::to_string(port) + "/" + name);
}

std::string tail(const std::string& text) { return text.substr(text.size() > 12000 ? text.size() - 12000 : 0); }

// A run that updates and reloads (the disk steps fail for a PCIe target,
// so they stay off) on a bench whose port 2 is a USB4 drive.
void prepareMixedRun(CmdLineRun& run)
{
    run.createBench({"--ports", "3", "--link", "2=USB4", "--disk-size", "1G"});
    krv::test::writeRunFiles(run.programFolder());
    run.writeSettings([&](IniRecord& r) {
        krv::test::setRunSettings(r, run.programFolder());
        r.format_enable = 0;
        r.preload_enable = 0;
        r.PCIE_Scan = 1;
    });
}

// A USB4 image whose component ID (bytes 89..84) is 0123456789A.
std::string usb4Image(unsigned char last)
{
    std::string image(128, '\xFF');
    const unsigned char id[] = {last, 0x78, 0x56, 0x34, 0x12, 0x30};
    for (int i = 0; i < 6; ++i)
        image[84 + i] = static_cast<char>(id[i]);
    return image;
}

TEST(CmdLinePcie, ReportsTheTunnelledBridgesInBusOrder)
{
    CmdLineRun run;
    krv::test::writeFile(run.programFolder() + "/a.bin", usb4Image(0x9A));
    krv::test::writeFile(run.programFolder() + "/b.bin", usb4Image(0x9B));
    run.createBench({"--ports", "3", "--link", "2=USB4", "--link", "3=TBT3", "--serial", "1=USB3SERIAL",
                     "--serial", "2=PCIESERIAL2", "--serial", "3=PCIESERIAL3", "--usb4-config",
                     "2=" + run.programFolder() + "/a.bin", "--usb4-config", "3=" + run.programFolder() + "/b.bin",
                     "--firmware", "2=240102030405"});
    run.writeSettings([](IniRecord& ini) { ini.PCIE_Scan = 1; });

    ToolRun pcie = run.run({"/PCIE"});
    EXPECT_EQ(pcie.exitCode, 0) << pcie.err;
    EXPECT_EQ(run.currentFile("KRV8574PcieInfo.txt"),
              "Bus:2,Device:0,Function:0,SN:PCIESERIAL2,UUID:3E9A0123456789A0\r\n"
              "Bus:6,Device:0,Function:0,SN:PCIESERIAL3,UUID:3E9A0123456789B0\r\n");

    // The table: the USB drive first, then the targets with their link names.
    ToolRun info = run.run({"/O"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    const std::string text = run.currentFile("KRV857xDeviceInfo.txt");
    EXPECT_NE(text.find("Port[0]\r\nStatus[PLUSx1]"), std::string::npos) << text;
    EXPECT_NE(text.find("Port[1]\r\nStatus[Gen3x2]\r\nVID[2C4B]\r\nPID[8574]\r\nSN[PCIESERIAL2]\r\nFW[240102030405]"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Port[2]\r\nStatus[Gen3x2]"), std::string::npos) << text;
    EXPECT_NE(text.find("U4[TBT3]"), std::string::npos) << text;

    // PCIe only: the first device is a target, and "/RST" goes through its mailbox.
    run.writeSettings([](IniRecord& ini) { ini.PCIE_Scan = 2; });
    ToolRun reset = run.run({"/RST"});
    EXPECT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_EQ(countOf(reset.err, "pcie rst"), 1) << reset.err;
    EXPECT_EQ(countOf(run.krvbench("log", {"2"}).out, "E8 50"), 1);
    EXPECT_EQ(countOf(run.krvbench("log", {"1"}).out, "E8 50"), 0);
}

TEST(CmdLinePcie, NoTargetIsNoDevice)
{
    CmdLineRun run;
    run.createBench({"--ports", "2"});
    run.writeSettings([](IniRecord& ini) { ini.PCIE_Scan = 1; });
    ToolRun r = run.run({"/PCIE"});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, shell(CVIVadeDlg::CMDLINE_EXIT_NO_DEVICE)) << r.err;
    EXPECT_FALSE(run.hasCurrentFile("KRV8574PcieInfo.txt"));
}

// The USB devices take the first slots, the target the one after them:
// each bridge stores the same firmware and its own images, and comes back.
TEST(CmdLinePcie, ARunProgramsTheTunnelledBridgeLikeTheUsbOnes)
{
    CmdLineRun run;
    prepareMixedRun(run);
    ToolRun r = run.run({"/S"});
    ASSERT_EQ(r.exitCode, 0) << tail(r.err);
    EXPECT_EQ(countOf(r.err, "start update pcie config: pci idx:0, target:2"), 1) << tail(r.err);

    const std::string fw = krv::test::runFirmware();
    const struct {
        int port;
        int slot;
    } ports[] = {{1, 0}, {3, 1}, {2, 2}};
    for (const auto& p : ports) {
        SCOPED_TRACE(p.port);
        EXPECT_TRUE(portFile(run, p.port, "firmware-0.bin") == fw);
        const std::string u3 = portFile(run, p.port, "config-0-0.bin");
        const std::string u4 = portFile(run, p.port, "config-0-1.bin");
        ASSERT_EQ(u3.size(), 128u);
        ASSERT_EQ(u4.size(), 128u);
        EXPECT_EQ(u3.substr(4, 12), "AAAABBBB000" + std::to_string(p.slot + 1));
        EXPECT_EQ(static_cast<uint8_t>(u4[124]), 3);
        EXPECT_EQ(static_cast<uint8_t>(u4[125]), p.slot);
    }
    // The target took its commands through the mailbox, reset included.
    const std::string log = run.krvbench("log", {"2"}).out;
    EXPECT_GE(countOf(log, "mailbox"), 5) << log;
    EXPECT_EQ(countOf(log, "E8 50 00 00 00 00 00 00"), 1) << log;
    EXPECT_EQ(countOf(run.krvbench("show").out, "240517800201"), 3);
}

// Format 3 with one drive, reached through PCIe only: the run writes back
// the firmware the bridge runs, made into a file of its version from the
// bridge's own image (read whole through the mailbox), not the settings'
// file.
TEST(CmdLinePcie, FormatThreeWritesBackTheOneTargetsOwnFirmware)
{
    CmdLineRun run;
    run.createBench({"--ports", "1", "--link", "1=USB4", "--disk-size", "1G"});
    krv::test::writeRunFiles(run.programFolder());
    run.writeSettings([&](IniRecord& r) {
        krv::test::setRunSettings(r, run.programFolder());
        r.format_enable = 0;
        r.preload_enable = 0;
        r.PCIE_Scan = 2;
        r.config_format = 3;
    });
    const std::string before = portFile(run, 1, "firmware-0.bin");
    ASSERT_EQ(before.size(), 98016u);
    ToolRun r = run.run({"/S"});
    ASSERT_EQ(r.exitCode, 0) << tail(r.err);
    EXPECT_EQ(countOf(r.err, "CVIVadeDlg::bFindFWFileForDevice2"), 1) << tail(r.err);
    EXPECT_TRUE(portFile(run, 1, "firmware-0.bin") == before);
    const std::string log = run.krvbench("log", {"1"}).out;
    ASSERT_NE(log.find("E3 50 00 01 7E E0"), std::string::npos) << log;
    EXPECT_LT(log.find("E2 50 00 01 7E E0"), log.find("E3 50 00 01 7E E0")) << log;
}

// A target whose mailbox never answers, or answers wrongly, that refuses
// its reset (it stays on the bus with its old firmware, its EEPROM holding
// the new signature) or that never comes back from it fails alone; nothing
// hangs.
TEST(CmdLinePcie, AFaultOfTheTargetFailsOnlyItsPort)
{
    const struct {
        const char* step;
        std::vector<std::string> fault;
    } cases[] = {
        {"doorbell never answered", {"timeout", "1", "--cdb", "E3"}},
        {"wrong answer", {"fail", "1", "--cdb", "E150"}},
        {"refuses its reset", {"fail", "1", "--cdb", "E850"}},
        {"gone after its reset", {"no-return"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        CmdLineRun run;
        prepareMixedRun(run);
        std::vector<std::string> args = {"2"};
        args.insert(args.end(), c.fault.begin(), c.fault.end());
        ASSERT_EQ(run.krvbench("fault", args).exitCode, 0);
        ToolRun r = run.run({"/S"});
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, shell(CVIVadeDlg::CMDLINE_EXIT_FAILED)) << tail(r.err);
        const std::string fw = krv::test::runFirmware();
        EXPECT_TRUE(portFile(run, 1, "firmware-0.bin") == fw);
        EXPECT_TRUE(portFile(run, 3, "firmware-0.bin") == fw);
    }
}

}  // namespace
