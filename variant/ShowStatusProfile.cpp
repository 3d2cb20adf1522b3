#include "variant/ShowStatusProfile.h"

#include "app/FWPDTypeByVersion.h"
#include "app/VIVadeDlg.h"

namespace {

using D = CVIVadeDlg;

constexpr const char* kTitle = "Korvane_857xStatus Ver 1, 0, 2, 1 (1.0.1.4) (1.0.0.10)";

// In the order they are tested. The command indexes are this program's own
// numbering (what its trace shows); the jobs are the shared ones.
constexpr CmdLineOptionEntry kOptions[] = {
    {"/C:", 15, 1, D::CMD_JOB_CHECK_FW},
    {"/PC", 3, 6, D::CMD_JOB_POWER_CONFIG},
    {"/O", 2, 5, D::CMD_JOB_DEVICE_INFO},
    {"/O4", 3, 4, D::CMD_JOB_U4_DATA},
};

// Columns 9 and 11 are there but hidden; the last one asks for a place
// past the end and is appended.
constexpr ListColumnPlace kResultColumns[] = {
    {0, 45}, {1, 80}, {2, 48}, {3, 48}, {4, 154}, {5, 112}, {6, 32}, {7, 100}, {8, 70}, {9, 0}, {10, 112}, {17, 0},
};

// The run's step cells land two columns further on (the update and the
// configuration check in hidden column 11, the reload, format, write/read
// test and preload beyond the last column, where they change nothing); the
// PD cell is not written.
constexpr uint8_t kResultColumnMap[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, RESULT_COLUMN_NONE};

// No "Reserved": the stored 0 means "L3 + D3 cold" here.
constexpr const char* kLPIfIdleItems[] = {"L3 + D3 cold", "L2/L3 Ready + D3 hot", "L1 + D3 hot"};

// A drive whose image carries AAAABBBBCCC keeps it as its own id here.
constexpr std::string_view kPlaceholderComponentIDs[] = {"00000000000", "FFFFFFFFFFF", "CCDDEEFF321"};

}  // namespace

const MainDlgProfile& MainDlgProfileShowStatus()
{
    static const MainDlgProfile kShowStatus{
        kTitle,
        kOptions,
        /*bUnknownOptionExits=*/false,
        /*bNoDeviceExitsAtOnce=*/true,
        /*bAutoStart=*/false,
        /*bPowerScheme=*/false,
        /*bLimitationTable=*/false,
        /*bReloadAvailabilityCheck=*/true,
        /*bSerialAtLeast12=*/false,
        /*bAskDefaultVendorID=*/false,
        /*bFWFileFromDevice=*/false,
        /*bWaitingResetReload=*/true,
        /*nFWNameTail=*/27,
        kResultColumns,
        /*nTitledResultColumns=*/9,
        kResultColumnMap,
        /*bOptionDialogs=*/true,
        /*bU4MoreConfigLinkOnly=*/true,
        kLPIfIdleItems,
        /*bOptionBlockImages=*/false,
        ToolDlgProfile{/*bReadRegisterFrameShown=*/true, /*bU4InfoCountOnly=*/true, /*bDeviceCodeText=*/true},
        /*bAdvanceComponentID=*/true,
        /*bLinkNameIntoSpeedText=*/true,
        bIsFWmatchPDtypeByVersion,
        // The rescan decision is timer 4; the parser's time-out timer 3 is
        // left to fire for nothing; there are no retry or give-up timers.
        MainDlgTimerIds{4, 0, 0, 3},
        /*bShowStatusTrace=*/true,
        /*bTestBoxesSwitchSteps=*/true,
        /*bReloadFromSettingsOnly=*/true,
        /*bPcieImageButtons=*/true,
        /*bPDAndTestButtonsIdle=*/true,
        U4ComponentIDRule{kPlaceholderComponentIDs, "keep component id"},
    };
    return kShowStatus;
}
