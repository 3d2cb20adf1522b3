// The command-line option, the usage text and the upstream speed index.
#include <gtest/gtest.h>

#include <string>

#include "app/VIVadeDlg.h"
#include "tests/support/TestPlatform.h"

namespace {

using Dlg = CVIVadeDlg;

TEST(CmdLineOptionTest, TheWholeLineMustBeOneOption)
{
    const struct {
        const char* line;
        int32_t job;
    } cases[] = {
        {"/?", Dlg::CMD_JOB_USAGE},
        {"/S", Dlg::CMD_JOB_START},
        {"/PC", Dlg::CMD_JOB_POWER_CONFIG},
        {"/O4", Dlg::CMD_JOB_U4_DATA},
        {"/SPD", Dlg::CMD_JOB_SPEED},
        {"/V", Dlg::CMD_JOB_VERSION},
        {"/O", Dlg::CMD_JOB_DEVICE_INFO},
        {"/PCIE", Dlg::CMD_JOB_PCIE_INFO},
        {"/RST", Dlg::CMD_JOB_CPU_RESET},
        {"/CC", Dlg::CMD_JOB_CC},
        {"/C:0123456789ab", Dlg::CMD_JOB_CHECK_FW},
        // Not options: another case, extra characters, two options, the
        // usage text's "/L", the debug option (start-up's own).
        {"", Dlg::CMD_JOB_NONE},
        {"/s", Dlg::CMD_JOB_NONE},
        {"/v", Dlg::CMD_JOB_NONE},
        {"/S ", Dlg::CMD_JOB_NONE},
        {" /V", Dlg::CMD_JOB_NONE},
        {"/V /O", Dlg::CMD_JOB_NONE},
        {"/L", Dlg::CMD_JOB_NONE},
        {"/Pc", Dlg::CMD_JOB_NONE},
        {"/DBG", Dlg::CMD_JOB_NONE},
        {"V", Dlg::CMD_JOB_NONE},
        // "/C:" anywhere in a line of fifteen characters; any version but
        // an empty one is compared.
        {"/C:            ", Dlg::CMD_JOB_NONE},
        {"/C:0123456789a", Dlg::CMD_JOB_NONE},
        {"/C:0123456789abc", Dlg::CMD_JOB_NONE},
        {"/C: 0123456789ab", Dlg::CMD_JOB_NONE},  // two arguments joined by a blank
        {"/C:0123456789ag", Dlg::CMD_JOB_CHECK_FW},
        {"/C:ZZZZ ZZZZZZZ", Dlg::CMD_JOB_CHECK_FW},
        {"xx/C:0123456789", Dlg::CMD_JOB_CHECK_FW},
        {"X/C:0123456789A", Dlg::CMD_JOB_CHECK_FW},
        {"0123456789ab/C:", Dlg::CMD_JOB_NONE},
        {" /C:           ", Dlg::CMD_JOB_NONE},
        {"/c:0123456789ab", Dlg::CMD_JOB_NONE},
    };
    for (const auto& c : cases) {
        const Dlg::CCmdLineOption option = Dlg::stParseCmdLine(c.line);
        EXPECT_EQ(option.iCmdIndex, c.job) << "[" << c.line << "]";
    }
    EXPECT_EQ(Dlg::stParseCmdLine("/C:0123456789ab").strFWVersion, "0123456789ab");
    EXPECT_EQ(Dlg::stParseCmdLine("/C: 123456789a ").strFWVersion, "123456789a");
    EXPECT_EQ(Dlg::stParseCmdLine("/C:/C:123456789").strFWVersion, "123456789");
    // What stands before "/C:" is dropped; the version is what is left.
    EXPECT_EQ(Dlg::stParseCmdLine("X/C:0123456789A").strFWVersion, "0123456789A");
    EXPECT_EQ(Dlg::stParseCmdLine("xx/C:0123456789").strFWVersion, "0123456789");
    EXPECT_EQ(Dlg::stParseCmdLine("ab/C:/C:1234567").strFWVersion, "1234567");
    for (const char* empty : {"/C:            ", "0123456789ab/C:", " /C:           "})
        EXPECT_TRUE(Dlg::stParseCmdLine(empty).bEmptyVersion) << "[" << empty << "]";
    EXPECT_EQ(Dlg::stParseCmdLine("/V").strFWVersion, "");
}

TEST(CmdLineOptionTest, UsageText)
{
    EXPECT_EQ(Dlg::strUsageText(),
              "KRV8574VIVade.exeKorvane 8574PD VIVade Ver 1, 0, 5, 4 (1.0.1.4) (1.0.0.10)"
              "Usage: KRV857xVIVade  [/? | | /L] \r\n"
              "OPTIONS\r\n"
              " /DBG\tSet Debug Message Level (0-4)\r\n"
              " /S\tSet MPT Run DOS Mode \r\n"
              " /C\tCheck Korvane usb mass storage Firmware Version and then RETURN IMMEDIATELY.\r\n"
              " /SPD\tGet upstream speed.\r\n");
}

TEST(CmdLineOptionTest, UpstreamSpeedIndex)
{
    krv::test::TestPlatform platform;
    const int32_t U = Dlg::UPSTREAM_SPEED_UNKNOWN;
    // Rows: mode code 0..3; columns: speed code 0..8.
    const int32_t expected[4][9] = {
        {U, 0, 1, 2, 3, 4, U, U, U},
        {U, U, U, U, 13, 14, 15, 16, U},
        {U, U, U, U, 9, 10, 11, 12, U},
        {U, U, U, U, 5, 6, 7, 8, U},
    };
    for (uint8_t mode = 0; mode < 4; ++mode)
        for (uint8_t speed = 0; speed < 9; ++speed)
            EXPECT_EQ(Dlg::iGetUpstreamSpeed(mode, speed), expected[mode][speed]) << int(mode) << "/" << int(speed);
    EXPECT_EQ(Dlg::iGetUpstreamSpeed(4, 4), U);
    EXPECT_EQ(Dlg::iGetUpstreamSpeed(0xFF, 1), U);
}

}  // namespace
