#pragma once
// Where everything of a FAT32 volume goes, computed from the volume's size
// alone: the FAT size, the cluster count, the free clusters, the sectors the
// formatter clears. One pure function, so every size can be checked without
// a disk.
#include <cstdint>

constexpr uint32_t FAT32_RESERVED_SECTORS = 32;
constexpr uint32_t FAT32_NUMBER_OF_FATS = 2;
constexpr uint32_t FAT32_BACKUP_BOOT_SECTOR = 6;
constexpr uint32_t FAT32_FSINFO_SECTOR = 1;
constexpr uint32_t FAT32_ROOT_CLUSTER = 2;
// A volume is FAT32 only by its cluster count: with fewer clusters every
// reader takes it for FAT16; above the most, cluster numbers run into the
// reserved end-of-chain values.
constexpr uint64_t FAT32_MIN_CLUSTERS = 65525;
constexpr uint64_t FAT32_MAX_CLUSTERS = 0x0FFFFFF5;
constexpr uint32_t FAT32_MAX_SECTORS_PER_CLUSTER = 128;
// FAT's limit for a cluster whatever the sector size: hosts refuse to mount
// a volume of larger clusters.
constexpr uint32_t FAT32_MAX_CLUSTER_BYTES = 32 * 1024;

struct Fat32Layout {
    uint32_t dwBytesPerSector = 0;
    uint32_t dwSectorsPerCluster = 0;
    uint32_t dwReservedSectors = FAT32_RESERVED_SECTORS;
    uint32_t dwNumberOfFats = FAT32_NUMBER_OF_FATS;
    uint32_t dwTotalSectors = 0;
    uint32_t dwFatSize = 0;               // sectors per FAT
    uint32_t dwDataSectors = 0;           // total - reserved - FATs
    uint64_t ullClusterCount = 0;
    uint64_t ullFatNeeded = 0;            // sectors the clusters and the two reserved entries need
    uint32_t dwFreeClusters = 0;          // all but the root folder's cluster
    uint32_t dwRootDirectorySector = 0;   // first sector of cluster 2
    uint32_t dwSectorsToClear = 0;        // reserved + FATs + the root cluster
};

enum class EFat32Fit {
    eOk,
    eTooFewClusters,    // below FAT32_MIN_CLUSTERS even with the cluster size given
    eTooManyClusters,   // above FAT32_MAX_CLUSTERS
    eBadParameter,      // sector size or cluster size not a power of two in range, or no room at all
};

// The first-guess FAT size: 4 bytes per cluster of the space after the
// reserved sectors, shared by the FATs, plus one sector.
uint32_t dwFat32FirstGuessFatSize(uint64_t ullTotalSectors, uint32_t dwReservedSectors, uint32_t dwSectorsPerCluster,
                                  uint32_t dwNumberOfFats, uint32_t dwBytesPerSector);

// The layout of a volume of `ullTotalSectors` sectors with the given sector
// and cluster size. The FAT is grown from the first guess until every
// cluster, and the two reserved entries, has its entry.
EFat32Fit eComputeFat32Layout(uint64_t ullTotalSectors, uint32_t dwBytesPerSector, uint32_t dwSectorsPerCluster,
                              Fat32Layout& layout);

// As above, but a cluster larger than FAT32_MAX_CLUSTER_BYTES is halved to
// it, and a cluster size that leaves too few clusters is halved until the
// volume has enough (down to one sector); the layout says which was used.
EFat32Fit eFitFat32Layout(uint64_t ullTotalSectors, uint32_t dwBytesPerSector, uint32_t dwSectorsPerCluster,
                          Fat32Layout& layout);
