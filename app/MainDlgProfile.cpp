#include "app/MainDlgProfile.h"

#include "app/VIVadeDlg.h"

namespace {

using D = CVIVadeDlg;

// In the order they are tested; each option's index is its job.
constexpr CmdLineOptionEntry kProductionOptions[] = {
    {"/?", 2, D::CMD_JOB_USAGE, D::CMD_JOB_USAGE},
    {"/C:", 15, D::CMD_JOB_CHECK_FW, D::CMD_JOB_CHECK_FW},
    {"/S", 2, D::CMD_JOB_START, D::CMD_JOB_START},
    {"/PC", 3, D::CMD_JOB_POWER_CONFIG, D::CMD_JOB_POWER_CONFIG},
    {"/O4", 3, D::CMD_JOB_U4_DATA, D::CMD_JOB_U4_DATA},
    {"/SPD", 4, D::CMD_JOB_SPEED, D::CMD_JOB_SPEED},
    {"/V", 2, D::CMD_JOB_VERSION, D::CMD_JOB_VERSION},
    {"/O", 2, D::CMD_JOB_DEVICE_INFO, D::CMD_JOB_DEVICE_INFO},
    {"/PCIE", 5, D::CMD_JOB_PCIE_INFO, D::CMD_JOB_PCIE_INFO},
    {"/RST", 4, D::CMD_JOB_CPU_RESET, D::CMD_JOB_CPU_RESET},
    {"/CC", 3, D::CMD_JOB_CC, D::CMD_JOB_CC},
};

}  // namespace

const CmdLineOptionEntry* MainDlgProfile::pFindCmdIndex(int32_t iCmdIndex) const
{
    for (const CmdLineOptionEntry& entry : options)
        if (entry.iCmdIndex == iCmdIndex)
            return &entry;
    return nullptr;
}

uint8_t MainDlgProfile::ucResultColumn(uint8_t ucColumn) const
{
    return ucColumn < resultColumnMap.size() ? resultColumnMap[ucColumn] : ucColumn;
}

const MainDlgProfile& MainDlgProfileProduction()
{
    static const MainDlgProfile kProduction{
        VIVADE_TITLE_TEXT,
        kProductionOptions,
        /*bUnknownOptionExits=*/true,
        /*bNoDeviceExitsAtOnce=*/false,
        /*bAutoStart=*/true,
        /*bPowerScheme=*/true,
        /*bLimitationTable=*/true,
        /*bReloadAvailabilityCheck=*/false,
        /*bSerialAtLeast12=*/true,
        /*bAskDefaultVendorID=*/true,
        /*bFWFileFromDevice=*/true,
        /*bWaitingResetReload=*/false,
        /*nFWNameTail=*/0,
        ProductionMainResultPlaces(),
        /*nTitledResultColumns=*/15,
        /*resultColumnMap=*/{},
        /*bOptionDialogs=*/false,
        /*bU4MoreConfigLinkOnly=*/false,
        PCIEUSBConfigLPIfIdleItems(),
        /*bOptionBlockImages=*/true,
        /*toolDlgs=*/{},
    };
    return kProduction;
}
