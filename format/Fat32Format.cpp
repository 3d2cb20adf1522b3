#include "format/Fat32Format.h"

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

uint32_t dwFat32ClusterSectorsForDisk(uint32_t dwPhysicalMiB)
{
    if (dwPhysicalMiB == 0)
        return 128;
    if (dwPhysicalMiB <= 0x22400)
        return 16;
    if (dwPhysicalMiB <= 0x44800)
        return 32;
    if (dwPhysicalMiB <= 0x89400)
        return 64;
    return 128;
}
