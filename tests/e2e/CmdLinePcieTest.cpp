// The PCIe-attached bridges through the production tool's command line: a
// bench with USB 3, USB4 and Thunderbolt 3 links, scanned by the tool, the
// PCIe report byte for byte and the reset sent through the mailbox.
#include <gtest/gtest.h>

#include <string>

#include "app/VIVadeDlg.h"
#include "tests/e2e/CmdLineRun.h"

namespace {

using krv::test::CmdLineRun;
using krv::test::countOf;
using krv::test::ToolRun;

int shell(int32_t code) { return code & 0xFF; }

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

}  // namespace
