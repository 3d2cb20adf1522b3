// The FAT32 writer: boot sector, FS information sector, their backups, the
// two FATs and the root folder with the label entry. Only the metadata area
// is written; the data clusters are left as they are, since a FAT that marks
// them free is all a file system needs.
#include <algorithm>
#include <cstring>

#include "device/DebugLog.h"
#include "format/Fat32Format.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

constexpr uint64_t GIB_DECIMAL = 1'000'000'000;
constexpr double MIB = 1024.0 * 1024.0;
// The metadata area goes out in bursts of this many bytes: few large writes
// keep a 2 TiB format to a fraction of a second on a fast disk.
constexpr size_t WRITE_BURST_BYTES = 4 << 20;
constexpr size_t ROOT_BLOCK_BYTES = 4096;
constexpr uint32_t FSINFO_LEAD_SIGNATURE = 0x41615252;
constexpr uint32_t FSINFO_STRUCT_SIGNATURE = 0x61417272;
constexpr uint32_t FSINFO_TRAIL_SIGNATURE = 0xAA550000;
constexpr uint32_t FSINFO_NEXT_FREE = 3;
constexpr uint8_t ATTRIBUTE_VOLUME_ID = 0x08;

int nLastError() { return static_cast<int>(krv::lastError()); }

void vPut16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void vPut32(uint8_t* p, uint32_t v)
{
    vPut16(p, v & 0xFFFF);
    vPut16(p + 2, v >> 16);
}

void vLogCatch(const char* pszMethod, int nLine)
{
    vDEBUG_ERR_printf("%s:%d: exception caught , dwErrorCode %d", pszMethod, nLine, nLastError());
}

}  // namespace

uint32_t CFat32Format::dwGetVolumeID()
{
    const krv::LocalTime t = krv::Platform::current().clock().localTime();
    const uint32_t dwLow = static_cast<uint32_t>(t.day + (t.month << 8) + t.millisecond / 10 + (t.second << 8)) & 0xFFFF;
    const uint32_t dwHigh = static_cast<uint32_t>(t.year + t.minute + (t.hour << 8)) & 0xFFFF;
    return dwHigh << 16 | dwLow;
}

uint8_t CFat32Format::ucGetSPC(uint32_t dwClusterSizeKB, uint32_t dwBytesPerSector)
{
    if (dwBytesPerSector == 0)
        return 1;
    return static_cast<uint8_t>(std::clamp<uint32_t>(dwClusterSizeKB * 1024 / dwBytesPerSector, 1, 128));
}

uint8_t CFat32Format::bGetSectorsPerCluster(uint64_t ullPartitionSize, uint32_t dwBytesPerSector)
{
    const uint64_t ullMiB = ullPartitionSize / (1024 * 1024);
    if (ullMiB <= 512)
        return 1;
    if (ullMiB <= 8192)
        return ucGetSPC(4, dwBytesPerSector);
    if (ullMiB <= 16384)
        return ucGetSPC(8, dwBytesPerSector);
    if (ullMiB <= 32768)
        return ucGetSPC(16, dwBytesPerSector);
    return ucGetSPC(32, dwBytesPerSector);
}

uint32_t CFat32Format::dwGetFATSizeSectors(uint64_t ullTotalSectors, uint32_t dwReservedSectors,
                                           uint32_t dwSectorsPerCluster, uint32_t dwNumberOfFats,
                                           uint32_t dwBytesPerSector)
{
    // The first guess can be one sector short of an entry per cluster; the
    // layout grows it until every cluster has one.
    Fat32Layout layout;
    if (dwReservedSectors == FAT32_RESERVED_SECTORS && dwNumberOfFats == FAT32_NUMBER_OF_FATS &&
        eComputeFat32Layout(ullTotalSectors, dwBytesPerSector, dwSectorsPerCluster, layout) !=
            EFat32Fit::eBadParameter)
        return layout.dwFatSize;
    return dwFat32FirstGuessFatSize(ullTotalSectors, dwReservedSectors, dwSectorsPerCluster, dwNumberOfFats,
                                    dwBytesPerSector);
}

bool CFat32Format::bSetFormatParam(char cDriveLetter, int32_t iClusterSize, uint8_t ucUseExtendedPartitionInfo)
{
    try {
        if (iClusterSize > static_cast<int32_t>(FAT32_MAX_SECTORS_PER_CLUSTER)) {
            vDEBUG_ERR_printf("%s:%d: bSetFormatParam: cDriveLetter %c , iClusterSize %d", "CFat32Format::bSetFormatParam",
                              __LINE__, cDriveLetter, iClusterSize);
            m_cDriveLetter = FORMAT_NO_DRIVE_LETTER;
            m_iClusterSize = FORMAT_CLUSTER_SIZE_REFUSED;
            m_ucUseExtendedPartitionInfo = 0;
            return false;
        }
        m_cDriveLetter = cDriveLetter;
        m_iClusterSize = iClusterSize;
        m_ucUseExtendedPartitionInfo = ucUseExtendedPartitionInfo;
        return true;
    } catch (...) {
        vLogCatch("CFat32Format::bSetFormatParam", __LINE__);
        return false;
    }
}

bool CFat32Format::bPreCheckFat32FormatParam(krv::BlockDevice& volume)
{
    static const char* const kMethod = "CFat32Format::bPreCheckFat32FormatParam";
    try {
        const std::string strLogical = std::string("\\\\.\\") + m_cDriveLetter + ":";
        if (!volume.geometry(m_Geometry) || !volume.partitionInfo(m_PartitionInfo)) {
            vDEBUG_ERR_printf("%s:%d: bPreCheckFat32FormatParam:[%s] IOCTL_DISK_GET_DRIVE_GEOMETRY Fail , "
                              "strLogicalAddress %s , dwErrorCode:%d",
                              kMethod, __LINE__, strLogical.c_str(), strLogical.c_str(), nLastError());
            return false;
        }
        m_dwBytesPerSector = m_Geometry.bytesPerSector;
        m_ullTotalSectors = m_dwBytesPerSector ? m_PartitionInfo.length / m_dwBytesPerSector : 0;
        if (m_ullTotalSectors >= 0x100000000ull || m_ullTotalSectors < 0x10000 || m_ullTotalSectors == 0xFFFFFFFF) {
            vDEBUG_ERR_printf("%s:%d: bPreCheckFat32FormatParam:[%s] This drive is too small(64K Clusters) or too "
                              "large(2TB) [%d] for a FAT32 volume , strLogicalAddress %s , dwErrorCode:%d",
                              kMethod, __LINE__, strLogical.c_str(), static_cast<int>(m_ullTotalSectors),
                              strLogical.c_str(), nLastError());
            return false;
        }
        m_dwTotalSectors = static_cast<uint32_t>(m_ullTotalSectors);
        return true;
    } catch (...) {
        vLogCatch(kMethod, __LINE__);
        return false;
    }
}

void CFat32Format::vBuildSectors()
{
    m_BootSector.assign(m_dwBytesPerSector, 0);
    uint8_t* b = m_BootSector.data();
    b[0] = 0xEB;
    b[1] = 0x5A;
    b[2] = 0x90;
    std::memcpy(b + 3, "MSWIN4.1", 8);
    vPut16(b + 11, m_dwBytesPerSector);
    b[13] = static_cast<uint8_t>(m_dwSectorsPerCluster);
    vPut16(b + 14, m_dwReservedSectors);
    b[16] = static_cast<uint8_t>(m_dwNumberOfFats);
    b[21] = 0xF8;
    vPut16(b + 24, m_Geometry.sectorsPerTrack);
    vPut16(b + 26, m_Geometry.tracksPerCylinder);
    // A partition of a GPT disk has no hidden-sector count of its own: what
    // lies before it is its starting sector.
    const uint32_t dwHidden = m_PartitionInfo.style == krv::PartitionStyle::Mbr
                                  ? m_PartitionInfo.hiddenSectors
                                  : static_cast<uint32_t>(m_PartitionInfo.startingOffset / m_dwBytesPerSector);
    vPut32(b + 28, dwHidden);
    vPut32(b + 32, m_dwTotalSectors);
    vPut32(b + 36, m_dwFatSize);
    vPut32(b + 44, FAT32_ROOT_CLUSTER);
    vPut16(b + 48, FAT32_FSINFO_SECTOR);
    vPut16(b + 50, m_dwBackupBootSector);
    b[64] = 0x80;
    b[66] = 0x29;
    vPut32(b + 67, m_dwVolumeID);
    std::memcpy(b + 71, m_szVolumeLabel, 11);
    std::memcpy(b + 82, "FAT32   ", 8);
    b[510] = 0x55;
    b[511] = 0xAA;
    b[m_dwBytesPerSector - 2] = 0x55;
    b[m_dwBytesPerSector - 1] = 0xAA;

    m_FSInfoSector.assign(m_dwBytesPerSector, 0);
    uint8_t* f = m_FSInfoSector.data();
    vPut32(f, FSINFO_LEAD_SIGNATURE);
    vPut32(f + 484, FSINFO_STRUCT_SIGNATURE);
    vPut32(f + 488, static_cast<uint32_t>(m_ullClusterCount - 1));
    vPut32(f + 492, FSINFO_NEXT_FREE);
    vPut32(f + 508, FSINFO_TRAIL_SIGNATURE);

    m_FirstFATSector.assign(m_dwBytesPerSector, 0);
    vPut32(m_FirstFATSector.data(), 0x0FFFFFF8);
    vPut32(m_FirstFATSector.data() + 4, 0x0FFFFFFF);
    vPut32(m_FirstFATSector.data() + 8, 0x0FFFFFFF);
}

std::vector<uint8_t> CFat32Format::vBuildRootBlock(const std::string& strLabel)
{
    std::vector<uint8_t> block(ROOT_BLOCK_BYTES, 0);
    if (strLabel.empty())
        return block;  // no name: no label entry
    std::memset(block.data(), ' ', 11);
    std::memcpy(block.data(), strLabel.data(), std::min<size_t>(strLabel.size(), 11));
    block[11] = ATTRIBUTE_VOLUME_ID;
    const krv::LocalTime t = krv::Platform::current().clock().localTime();
    vPut16(block.data() + 22, static_cast<uint32_t>(t.hour << 11 | t.minute << 5 | ((t.second % 16) + 1)));
    vPut16(block.data() + 24, static_cast<uint32_t>(((t.year - 1980) % 64) << 9 | t.month << 5 | t.day));
    return block;
}

bool CFat32Format::vWriteSect(krv::BlockDevice& volume, uint64_t ullSector, uint32_t dwBytesPerSector,
                              const uint8_t* pBuffer, uint32_t dwCount)
{
    const size_t nBytes = size_t{dwCount} * dwBytesPerSector;
    size_t nDone = 0;
    if (volume.write(ullSector * dwBytesPerSector, pBuffer, nBytes, nDone) && nDone == nBytes)
        return true;
    if (nDone == nBytes)
        krv::setLastError(krv::winerr::kWriteFault);
    vDEBUG_ERR_printf("%s:%d: vWriteSect: WriteFile Fail , dwErrorCode %d", "CFat32Format::vWriteSect", __LINE__,
                      nLastError());
    return false;
}

bool CFat32Format::bWriteMetadata(krv::BlockDevice& volume, const std::string& strLabel)
{
    static const char* const kMethod = "CFat32Format::vZeroSectors";
    const uint32_t bps = m_dwBytesPerSector;
    const std::vector<uint8_t> root = vBuildRootBlock(strLabel);
    const size_t nRootBytes = std::min<size_t>(root.size(), size_t{m_dwSectorsPerCluster} * bps);
    // What goes where, on top of the zeros: sector, bytes.
    struct Piece {
        uint64_t ullSector;
        const uint8_t* p;
        size_t n;
    };
    std::vector<Piece> pieces = {
        {0, m_BootSector.data(), bps},
        {FAT32_FSINFO_SECTOR, m_FSInfoSector.data(), bps},
        {m_dwBackupBootSector, m_BootSector.data(), bps},
        {m_dwBackupBootSector + 1ull, m_FSInfoSector.data(), bps},
    };
    for (uint32_t i = 0; i < m_dwNumberOfFats; ++i)
        pieces.push_back({m_dwReservedSectors + uint64_t{i} * m_dwFatSize, m_FirstFATSector.data(), bps});
    pieces.push_back({m_dwRootDirectorySector, root.data(), nRootBytes});

    const uint64_t ullTotalBytes = uint64_t{m_dwSectorsToClear} * bps;
    const size_t nBurst = WRITE_BURST_BYTES / bps * bps;
    // No bigger than the span to clear: a fresh buffer is zeros already, and
    // every page of it is touched once per format.
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(nBurst, ullTotalBytes)));
    krv::Clock& clock = krv::Platform::current().clock();
    const uint64_t ullStart = clock.ticks();
    uint64_t ullWritten = 0;
    while (ullWritten < ullTotalBytes) {
        const size_t nThis = static_cast<size_t>(std::min<uint64_t>(nBurst, ullTotalBytes - ullWritten));
        if (ullWritten > 0)
            std::fill(buffer.begin(), buffer.begin() + nThis, 0);
        for (const Piece& piece : pieces) {
            const uint64_t ullAt = piece.ullSector * bps;
            if (ullAt >= ullWritten && ullAt < ullWritten + nThis)
                std::memcpy(buffer.data() + (ullAt - ullWritten), piece.p,
                            std::min<size_t>(piece.n, ullWritten + nThis - ullAt));
        }
        size_t nDone = 0;
        if (!volume.write(ullWritten, buffer.data(), nThis, nDone) || nDone != nThis) {
            if (nDone == nThis)
                krv::setLastError(krv::winerr::kWriteFault);
            vDEBUG_ERR_printf("%s:%d: vZeroSectors: WriteFile Fail , dwNumberOfBytesToWrite %d , dwErrorCode %d",
                              kMethod, __LINE__, static_cast<int>(nThis), nLastError());
            return false;
        }
        ullWritten += nThis;
    }
    const double dSeconds =
        static_cast<double>(clock.ticks() - ullStart) / static_cast<double>(std::max<uint64_t>(clock.tickFrequency(), 1));
    vDEBUG_MSG_printf("%s:%d: vZeroSectors: Wrote %lld bytes in %.2f seconds, %.2f Megabytes/sec", kMethod, __LINE__,
                      static_cast<long long>(ullWritten), dSeconds,
                      dSeconds > 0 ? static_cast<double>(ullWritten) / MIB / dSeconds : 0.0);
    return true;
}

bool CFat32Format::bFormatLocked(krv::BlockDevice& volume, const std::string& strLabel)
{
    static const char* const kMethod = "CFat32Format::bFormatVolume";
    const char c = m_cDriveLetter;
    const uint32_t dwSpc = m_iClusterSize > 0 ? static_cast<uint32_t>(m_iClusterSize)
                                              : bGetSectorsPerCluster(m_PartitionInfo.length, m_dwBytesPerSector);
    // Too few clusters would make every reader take the volume for FAT16:
    // smaller clusters then, as far as one sector.
    Fat32Layout layout;
    const EFat32Fit eFit = eFitFat32Layout(m_dwTotalSectors, m_dwBytesPerSector, dwSpc, layout);
    m_dwSectorsPerCluster = layout.dwSectorsPerCluster;
    m_dwFatSize = layout.dwFatSize;
    m_dwDataSectors = layout.dwDataSectors;
    m_ullClusterCount = layout.ullClusterCount;
    m_ullFatNeeded = layout.ullFatNeeded;
    m_dwRootDirectorySector = layout.dwRootDirectorySector;
    m_dwSectorsToClear = layout.dwSectorsToClear;
    if (eFit != EFat32Fit::eOk) {
        vDEBUG_ERR_printf("%s:%d: Drive has more than 2^28 clusters or at least 65536 clusters , m_ullClusterCount %d",
                          kMethod, __LINE__, static_cast<int>(m_ullClusterCount));
        return false;
    }
    if (m_ullFatNeeded > m_dwFatSize) {
        vDEBUG_ERR_printf("%s:%d: Drive[%c]: m_ullFatNeeded[%d] > m_dwFatSize[%d] ", kMethod, __LINE__, c,
                          static_cast<int>(m_ullFatNeeded), static_cast<int>(m_dwFatSize));
        return false;
    }
    // The boot sector names the volume as its root folder does: a checker
    // finds the two differing and, like Windows' own format, expects both.
    if (!strLabel.empty()) {
        std::memset(m_szVolumeLabel, ' ', 11);
        std::memcpy(m_szVolumeLabel, strLabel.data(), std::min<size_t>(strLabel.size(), 11));
    }
    vBuildSectors();

    vDEBUG_MSG_printf("%s:%d: Drive[%c]: Size : %gGB %u sectors", kMethod, __LINE__, c,
                      static_cast<double>(m_PartitionInfo.length / GIB_DECIMAL), m_dwTotalSectors);
    vDEBUG_MSG_printf("%s:%d: Drive[%c]: %d Bytes Per Sector, Cluster size %d bytes ", kMethod, __LINE__, c,
                      static_cast<int>(m_dwBytesPerSector), static_cast<int>(m_dwBytesPerSector * m_dwSectorsPerCluster));
    vDEBUG_MSG_printf("%s:%d: Drive[%c]: Volume ID is %x:%x", kMethod, __LINE__, c, m_dwVolumeID >> 16,
                      m_dwVolumeID & 0xFFFF);
    vDEBUG_MSG_printf("%s:%d: Drive[%c]: %d Reserved Sectors, %d Sectors per FAT, %d fats", kMethod, __LINE__, c,
                      static_cast<int>(m_dwReservedSectors), static_cast<int>(m_dwFatSize),
                      static_cast<int>(m_dwNumberOfFats));
    vDEBUG_MSG_printf("%s:%d: Drive[%c]: Total clusters %d", kMethod, __LINE__, c, static_cast<int>(m_ullClusterCount));
    vDEBUG_MSG_printf("%s:%d: Drive[%c]: Free Clusters %d", kMethod, __LINE__, c,
                      static_cast<int>(m_ullClusterCount - 1));
    vDEBUG_MSG_printf("%s:%d: bFormatVolume: Drive[%c]: Clean out %d sectors for ReservedSector, fat table and root "
                      "cluster %g",
                      kMethod, __LINE__, c, static_cast<int>(m_dwSectorsToClear),
                      static_cast<double>(uint64_t{m_dwSectorsToClear} * m_dwBytesPerSector) / MIB);
    vDEBUG_MSG_printf("%s:%d: bFormatVolume: Drive[%c]: Initialising reserved sectors and FATs", kMethod, __LINE__, c);
    if (!bWriteMetadata(volume, strLabel))
        return false;

    if (!volume.setPartitionType(m_ucPartitionType) && m_PartitionInfo.hiddenSectors != 0)
        vDEBUG_ERR_printf("%s:%d: bFormatVolume: %c IOCTL_DISK_SET_PARTITION_INFO Fail , dwErrorCode %d", kMethod,
                          __LINE__, c, nLastError());
    return true;
}

bool CFat32Format::bFormatVolume(const std::string& strLabel)
{
    static const char* const kMethod = "CFat32Format::bFormatVolume";
    try {
        vResetMembers();
        const char c = m_cDriveLetter;
        if (c == 'C' || c == 'c') {
            vDEBUG_ERR_printf("%s:%d: bFormatVolume: Force not to Do Format %c", kMethod, __LINE__, c);
            return false;
        }
        m_dwVolumeID = dwGetVolumeID();
        const std::string strLogical = std::string("\\\\.\\") + c + ":";
        std::unique_ptr<krv::BlockDevice> volume = krv::Platform::current().blockDevices().openVolume(
            c, krv::BlockAccess::ReadWrite, krv::BlockShare::None);
        if (!volume) {
            vDEBUG_ERR_printf("%s:%d: bFormatVolume: CreateFile Fail, dwErrorCode %d", kMethod, __LINE__, nLastError());
            return false;
        }
        if (!volume->lock()) {
            vDEBUG_ERR_printf("%s:%d: bFormatVolume:[%s] FSCTL_LOCK_VOLUME Fail , strLogicalAddress %s , dwErrorCode:%d",
                              kMethod, __LINE__, strLogical.c_str(), strLogical.c_str(), nLastError());
            return false;
        }
        if (!bPreCheckFat32FormatParam(*volume)) {
            vDEBUG_ERR_printf("%s:%d: bFormatVolume:[%s] bPreCheckFat32FormatParam Fail , strLogicalAddress %s , "
                              "dwErrorCode:%d",
                              kMethod, __LINE__, strLogical.c_str(), strLogical.c_str(), nLastError());
            return false;
        }
        bool bResult = bFormatLocked(*volume, strLabel);
        if (!volume->dismount()) {
            vDEBUG_ERR_printf("%s:%d: bFormatVolume: %c FSCTL_DISMOUNT_VOLUME Fail , dwErrorCode %d", kMethod, __LINE__,
                              c, nLastError());
            bResult = false;
        }
        if (!volume->unlock())
            vDEBUG_ERR_printf("%s:%d: bFormatVolume: %c FSCTL_UNLOCK_VOLUME Fail , dwErrorCode %d", kMethod, __LINE__, c,
                              nLastError());
        if (!volume->updateProperties())
            vDEBUG_ERR_printf("%s:%d: bFormatVolume: %c IOCTL_DISK_UPDATE_PROPERTIES Fail , dwErrorCode %d", kMethod,
                              __LINE__, c, nLastError());
        return bResult;
    } catch (...) {
        vLogCatch(kMethod, __LINE__);
        return false;
    }
}
