#include "format/Fat32Layout.h"

namespace {

bool bPowerOfTwo(uint32_t dwValue) { return dwValue != 0 && (dwValue & (dwValue - 1)) == 0; }

}  // namespace

uint32_t dwFat32FirstGuessFatSize(uint64_t ullTotalSectors, uint32_t dwReservedSectors, uint32_t dwSectorsPerCluster,
                                  uint32_t dwNumberOfFats, uint32_t dwBytesPerSector)
{
    const uint64_t ullNumerator = 4 * (ullTotalSectors - dwReservedSectors);
    const uint64_t ullDenominator = uint64_t{dwSectorsPerCluster} * dwBytesPerSector + 4 * uint64_t{dwNumberOfFats};
    return static_cast<uint32_t>(ullNumerator / ullDenominator + 1);
}

EFat32Fit eComputeFat32Layout(uint64_t ullTotalSectors, uint32_t dwBytesPerSector, uint32_t dwSectorsPerCluster,
                              Fat32Layout& layout)
{
    layout = Fat32Layout{};
    if (!bPowerOfTwo(dwBytesPerSector) || dwBytesPerSector < 512 || dwBytesPerSector > 4096 ||
        !bPowerOfTwo(dwSectorsPerCluster) || dwSectorsPerCluster > FAT32_MAX_SECTORS_PER_CLUSTER ||
        ullTotalSectors > 0xFFFFFFFFull || ullTotalSectors <= FAT32_RESERVED_SECTORS)
        return EFat32Fit::eBadParameter;
    layout.dwBytesPerSector = dwBytesPerSector;
    layout.dwSectorsPerCluster = dwSectorsPerCluster;
    layout.dwTotalSectors = static_cast<uint32_t>(ullTotalSectors);
    const uint64_t ullEntriesPerSector = dwBytesPerSector / 4;
    uint64_t ullFatSize = dwFat32FirstGuessFatSize(ullTotalSectors, layout.dwReservedSectors, dwSectorsPerCluster,
                                                   layout.dwNumberOfFats, dwBytesPerSector);
    uint64_t ullClusters = 0;
    // Each step shrinks the cluster count, so this settles within a step or two.
    for (;;) {
        const uint64_t ullMeta = layout.dwReservedSectors + layout.dwNumberOfFats * ullFatSize;
        if (ullMeta + dwSectorsPerCluster > ullTotalSectors)
            return EFat32Fit::eBadParameter;
        ullClusters = (ullTotalSectors - ullMeta) / dwSectorsPerCluster;
        if ((ullClusters + 2) <= ullFatSize * ullEntriesPerSector)
            break;
        ++ullFatSize;
    }
    layout.dwFatSize = static_cast<uint32_t>(ullFatSize);
    layout.dwDataSectors =
        static_cast<uint32_t>(ullTotalSectors - layout.dwReservedSectors - layout.dwNumberOfFats * ullFatSize);
    layout.ullClusterCount = ullClusters;
    layout.ullFatNeeded = ((ullClusters + 2) * 4 + dwBytesPerSector - 1) / dwBytesPerSector;
    layout.dwFreeClusters = static_cast<uint32_t>(ullClusters - 1);
    layout.dwRootDirectorySector = layout.dwReservedSectors + layout.dwNumberOfFats * layout.dwFatSize;
    layout.dwSectorsToClear = layout.dwRootDirectorySector + dwSectorsPerCluster;
    if (ullClusters < FAT32_MIN_CLUSTERS)
        return EFat32Fit::eTooFewClusters;
    if (ullClusters > FAT32_MAX_CLUSTERS)
        return EFat32Fit::eTooManyClusters;
    return EFat32Fit::eOk;
}

EFat32Fit eFitFat32Layout(uint64_t ullTotalSectors, uint32_t dwBytesPerSector, uint32_t dwSectorsPerCluster,
                          Fat32Layout& layout)
{
    while (dwSectorsPerCluster > 1 && uint64_t{dwSectorsPerCluster} * dwBytesPerSector > FAT32_MAX_CLUSTER_BYTES &&
           bPowerOfTwo(dwSectorsPerCluster))
        dwSectorsPerCluster /= 2;
    EFat32Fit eFit = eComputeFat32Layout(ullTotalSectors, dwBytesPerSector, dwSectorsPerCluster, layout);
    while ((eFit == EFat32Fit::eTooFewClusters || eFit == EFat32Fit::eBadParameter) && dwSectorsPerCluster > 1 &&
           bPowerOfTwo(dwSectorsPerCluster)) {
        dwSectorsPerCluster /= 2;
        eFit = eComputeFat32Layout(ullTotalSectors, dwBytesPerSector, dwSectorsPerCluster, layout);
    }
    return eFit;
}
