#pragma once
// Prepares the disk behind a bridge for shipping: repartitions the whole
// drive with diskpart through a generated script, adjusts the first entry
// of an MBR, and puts the chosen file system with the configured label on
// the new volume. FAT32 is written by this class itself, sector by sector;
// NTFS and exFAT by format.com. Drives of 8 TiB or more always get NTFS.
//
// One object per partition-and-format step of a port. Every console program
// and disk access goes through the platform.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "format/Fat32Layout.h"
#include "platform/BlockDevices.h"
#include "platform/ConsolePrograms.h"

class CKrvnUSBDev;

// Partition styles (the setting partition_drive_type).
constexpr uint8_t PARTITION_STYLE_MBR = 0;
constexpr uint8_t PARTITION_STYLE_GPT = 1;
// File systems (the setting format_drive_type).
constexpr uint8_t FORMAT_TYPE_NTFS = 0;
constexpr uint8_t FORMAT_TYPE_FAT32 = 1;
constexpr uint8_t FORMAT_TYPE_EXFAT = 2;
// vCheckFileSystemCapacity's answers.
constexpr int32_t FS_CAPACITY_NTFS_ONLY = 0;
constexpr int32_t FS_CAPACITY_ANY = 1;
constexpr int32_t FS_CAPACITY_UNKNOWN = 0x7FFFFFFF;
constexpr char FORMAT_NO_DRIVE_LETTER = 0x7F;
constexpr int32_t FORMAT_CLUSTER_SIZE_REFUSED = 0x7FFFFFFF;
constexpr uint8_t FAT32_PARTITION_TYPE = 0x0C;

// Waits for the console programs, in milliseconds.
constexpr uint64_t DISKPART_WAIT_MS = 12'000'000;
constexpr uint64_t FORMAT_WAIT_MS = 12'000'000;
constexpr uint64_t LABEL_WAIT_MS = 1'000'000;

// The diskpart script's text for a disk, a letter, a partition style and an
// offset in MB (0: none).
std::string strDiskPartScript(int nPhysicalDrive, char cDriveLetter, uint8_t ucPartitionStyle, uint32_t dwOffsetMB);
// The script's file name in the current folder: "DiskPartTarget<N>.sc".
std::string strDiskPartScriptName(int nPhysicalDrive);

// What the MBR adjustment does to sector 0 of a drive with one partition:
// an active first entry at LBA 63 moves to 64 and keeps a multiple of 64
// sectors; a disk over 2 TiB gets the entry's count up to its end. False when
// the sector stays as it was.
bool bAdjustMbrSector(std::vector<uint8_t>& sector, uint64_t ullDiskSize, uint32_t dwBytesPerSector);

class CFat32Format {
public:
    explicit CFat32Format(CKrvnUSBDev& usbDev);
    virtual ~CFat32Format();
    CFat32Format(const CFat32Format&) = delete;
    CFat32Format& operator=(const CFat32Format&) = delete;

    // ---- partitioning ----------------------------------------------------
    bool vCreatePartition(char cDriveLetter, uint8_t ucPhysicalAddress, uint8_t ucPartitionStyle,
                          uint32_t dwBytesPerSector, uint32_t dwOffsetMB);
    bool vSetDiskPartSetupInfo(char cDriveLetter, uint8_t ucPhysicalAddress, uint8_t ucPartitionStyle,
                               uint32_t dwOffsetMB);

    // ---- file system and label -------------------------------------------
    bool vLowLevelFormatTracks(uint8_t ucPhysicalAddress, uint8_t ucFormatDriveType, const std::string& strLabel,
                               uint8_t ucPartitionStyle, char cDriveLetter);
    int32_t vCheckFileSystemCapacity(uint8_t ucPhysicalAddress);

    // ---- the FAT32 writer --------------------------------------------------
    bool bSetFormatParam(char cDriveLetter, int32_t iClusterSize, uint8_t ucUseExtendedPartitionInfo);
    bool bFormatVolume(const std::string& strLabel);
    bool bPreCheckFat32FormatParam(krv::BlockDevice& volume);
    uint8_t bGetSectorsPerCluster(uint64_t ullPartitionSize, uint32_t dwBytesPerSector);
    uint8_t ucGetSPC(uint32_t dwClusterSizeKB, uint32_t dwBytesPerSector);
    uint32_t dwGetFATSizeSectors(uint64_t ullTotalSectors, uint32_t dwReservedSectors, uint32_t dwSectorsPerCluster,
                                 uint32_t dwNumberOfFats, uint32_t dwBytesPerSector);
    uint32_t dwGetVolumeID();
    // Writes `dwCount` sectors from the buffer at sector `ullSector`; false
    // when any of them did not reach the disk.
    bool vWriteSect(krv::BlockDevice& volume, uint64_t ullSector, uint32_t dwBytesPerSector, const uint8_t* pBuffer,
                    uint32_t dwCount);
    void vResetMembers();

    // ---- members ---------------------------------------------------------
    int32_t m_iClusterSize = 0;
    char m_cDriveLetter = FORMAT_NO_DRIVE_LETTER;
    uint8_t m_ucUseExtendedPartitionInfo = 0;
    krv::DiskGeometry m_Geometry;
    krv::PartitionInfo m_PartitionInfo;
    uint8_t m_ucPartitionType = FAT32_PARTITION_TYPE;
    uint32_t m_dwReservedSectors = 0;
    uint32_t m_dwNumberOfFats = 0;
    uint32_t m_dwBackupBootSector = 0;
    uint32_t m_dwVolumeID = 0;
    char m_szVolumeLabel[12] = {};
    uint32_t m_dwFatSize = 0;
    uint32_t m_dwBytesPerSector = 0;
    uint32_t m_dwSectorsPerCluster = 0;
    uint32_t m_dwTotalSectors = 0;
    uint32_t m_dwSectorsToClear = 0;
    uint32_t m_dwDataSectors = 0;
    uint64_t m_ullTotalSectors = 0;
    std::vector<uint8_t> m_BootSector;
    std::vector<uint8_t> m_FSInfoSector;
    std::vector<uint8_t> m_FirstFATSector;
    uint32_t m_dwRootDirectorySector = 0;
    uint64_t m_ullFatNeeded = 0;
    uint64_t m_ullClusterCount = 0;

private:
    // The metadata area, cleared and laid down in large sequential writes.
    bool bWriteMetadata(krv::BlockDevice& volume, const std::string& strLabel);
    void vBuildSectors();
    std::vector<uint8_t> vBuildRootBlock(const std::string& strLabel);
    bool bFormatLocked(krv::BlockDevice& volume, const std::string& strLabel);
    bool bAdjustMbr(krv::BlockDevice& disk, uint8_t ucPhysicalAddress, uint32_t dwBytesPerSector);
    bool bRunDiskPart(uint8_t ucPhysicalAddress, int32_t& iCount);
    bool bFormatAttempt(uint8_t ucPhysicalAddress, const std::string& strFileSystem, const std::string& strLabel,
                        uint8_t ucPartitionStyle, char cDriveLetter);
    bool bDriveOfLetterIs(char cDriveLetter, uint8_t ucPhysicalAddress);

    CKrvnUSBDev& m_UsbDev;
};

// Sectors per cluster the production step asks the FAT32 writer for, by the
// drive's physical size in MiB and its sector size: the table's cluster
// bytes (in 512-byte sectors), at most FAT32_MAX_CLUSTER_BYTES.
uint32_t dwFat32ClusterSectorsForDisk(uint32_t dwPhysicalMiB, uint32_t dwBytesPerSector);

// Whether a console program started, ran to its end and said it succeeded.
bool bConsoleRunPassed(const krv::ConsoleResult& run);
