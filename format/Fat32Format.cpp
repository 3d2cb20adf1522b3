#include "format/Fat32Format.h"

#include <algorithm>
#include <cstring>

#include "device/DebugLog.h"
#include "platform/LastError.h"

CFat32Format::CFat32Format(CKrvnUSBDev& usbDev) : m_UsbDev(usbDev)
{
    vResetMembers();
}

CFat32Format::~CFat32Format()
{
    try {
        vResetMembers();
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: CFat32Format: dwErrorCode %d", "CFat32Format::~CFat32Format", __LINE__,
                          static_cast<int>(krv::lastError()));
    }
}

void CFat32Format::vResetMembers()
{
    // The volume, its cluster size and the partition-information flag are
    // the caller's choice (bSetFormatParam) and stay; everything worked out
    // from the volume starts again.
    m_Geometry = krv::DiskGeometry{};
    m_PartitionInfo = krv::PartitionInfo{};
    m_ucPartitionType = FAT32_PARTITION_TYPE;
    m_dwReservedSectors = FAT32_RESERVED_SECTORS;
    m_dwNumberOfFats = FAT32_NUMBER_OF_FATS;
    m_dwBackupBootSector = FAT32_BACKUP_BOOT_SECTOR;
    m_dwVolumeID = 0;
    std::memcpy(m_szVolumeLabel, "NO NAME    ", sizeof m_szVolumeLabel);
    m_dwFatSize = 0;
    m_dwBytesPerSector = 0;
    m_dwSectorsPerCluster = 0;
    m_dwTotalSectors = 0;
    m_dwSectorsToClear = 0;
    m_dwDataSectors = 0;
    m_ullTotalSectors = 0;
    m_BootSector.clear();
    m_FSInfoSector.clear();
    m_FirstFATSector.clear();
    m_dwRootDirectorySector = 0;
    m_ullFatNeeded = 0;
    m_ullClusterCount = 0;
}

uint32_t dwFat32ClusterSectorsForDisk(uint32_t dwPhysicalMiB, uint32_t dwBytesPerSector)
{
    // The table counts 512-byte sectors; a drive of larger sectors gets the
    // same cluster bytes, as far as FAT allows.
    uint32_t dwTableSectors = 128;
    if (dwPhysicalMiB == 0)
        dwTableSectors = 128;
    else if (dwPhysicalMiB <= 0x22400)
        dwTableSectors = 16;
    else if (dwPhysicalMiB <= 0x44800)
        dwTableSectors = 32;
    else if (dwPhysicalMiB <= 0x89400)
        dwTableSectors = 64;
    const uint32_t dwBytes = std::min(dwTableSectors * 512, FAT32_MAX_CLUSTER_BYTES);
    if (dwBytesPerSector == 0 || dwBytesPerSector >= dwBytes)
        return 1;
    return dwBytes / dwBytesPerSector;
}

bool bConsoleRunPassed(const krv::ConsoleResult& run) { return run.started && run.finished && run.exitCode == 0; }
