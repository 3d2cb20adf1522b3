#include "device/DevList.h"

#include <algorithm>
#include <cstring>

void DevInfo::vResetForScan()
{
    m_ucPortIndex = DEV_PORT_INDEX_EMPTY;
    m_bIsCDROM = 0;
    m_cDriveLetter = DEV_DRIVE_LETTER_NONE;
    m_ucPhysicalAddress = DEV_ADDRESS_NONE;
    m_ucCDROMAddress = DEV_ADDRESS_NONE;
    m_ucChipMajorRev = DEV_CHIP_REV_SCAN_RESET;
    std::memset(m_ucDiskInfoBuf, 0, sizeof(m_ucDiskInfoBuf));
    std::memset(m_dwDiskInfo, 0, sizeof(m_dwDiskInfo));
    m_ullCapacity = DEV_CAPACITY_UNKNOWN;

    m_strPID.clear();
    m_strVID.clear();
    m_strSerialNumber.clear();
    m_strManufacturer.clear();
    m_strProduct.clear();
    m_strVersion.clear();
    m_strFWVersion.clear();
    m_strUSBSpeed.clear();
    m_strHubName.clear();
    m_strChipText.clear();
    m_strChipText2.clear();
    m_strHDDSN.clear();
    m_strHDDFW.clear();
    m_strExtFWVersion = DEV_EXT_FW_VERSION_NONE;
    m_iPortLocation = DEV_PORT_LOCATION_NONE;
    m_ulPortIndex = DEV_HUB_PORT_NONE;
    m_ulPortCount = DEV_HUB_PORT_NONE;

    std::fill(std::begin(m_ucLaneCS), std::end(m_ucLaneCS), DEV_LANE_CS_NONE);
    std::fill(std::begin(m_dwLaneDS), std::end(m_dwLaneDS), DEV_LANE_DS_NONE);
    std::memset(m_ucU3Config, 0, sizeof(m_ucU3Config));
    std::memset(m_ucU4Config, 0, sizeof(m_ucU4Config));

    m_bPCIE = 0;
    m_bConfigWriteResult = 0;
    m_bUpdateFWResult = 0;
    m_bReloadFWResult = 0;
    m_bPartitionResult = 0;
    m_bFormatResult = 0;
    m_bWrRdTestResult = 0;
    m_bPartitionDone = 0;
    m_bFormatDone = 0;
    m_bExtUpdateFWResult = 0;
    // m_bPreloadResult, m_bConfigReadBackOK, m_bUSBStatusResult and
    // m_bConfigCheckResult keep their values; the run start clears what it
    // needs. The write/read buffers are the worker's.
}

void DevInfo::vClearRunResults()
{
    m_bConfigWriteResult = 0;
    m_bUpdateFWResult = 0;
    m_bReloadFWResult = 0;
    m_bPartitionResult = 0;
    m_bFormatResult = 0;
    m_bWrRdTestResult = 0;
    m_bPartitionDone = 0;
    m_bFormatDone = 0;
    m_bExtUpdateFWResult = 0;
}

int nAllDevCount(const DevList& devList, int nPcieTargets)
{
    int nCount = devList.DevNums.load() + std::max(nPcieTargets, 0);
    return std::clamp(nCount, 0, MAX_DEV_SLOTS);
}

int nPcieDevSlot(const DevList& devList, int nPcieIndex)
{
    if (nPcieIndex < 0)
        return -1;
    int nSlot = devList.DevNums.load() + nPcieIndex;
    return nSlot < MAX_DEV_SLOTS ? nSlot : -1;
}

void PortRelinkInfo::vReset()
{
    m_bRelinkPending = 0;
    m_bRelinkFound = 0;
    m_ucRelinkSig[0] = RELINK_SIG_NONE;
    m_ucRelinkSig[1] = RELINK_SIG_NONE;
}

void vResetPortRelinkTable(PortRelinkInfo (&entries)[MAX_DEV_SLOTS], int32_t& iRelinkCount,
                           uint8_t (&ucSavedItems)[8])
{
    std::memset(ucSavedItems, 0, sizeof(ucSavedItems));
    iRelinkCount = RELINK_COUNT_RESET;
    for (PortRelinkInfo& entry : entries)
        entry.vReset();
}
