// The disk behind a bridge through the system's own disk and volume
// interfaces: the drive letter of a PhysicalDrive, raw sectors of a volume,
// the disk's size, free space and partition count, the record's disk
// information after a scan, and the write/read speed test of a run.
//
// Speeds are measured per call and returned to the caller, so the speed
// tests of several ports running at once never mix their figures; they are
// reported as measured.
#include <algorithm>
#include "device/TextUtil.h"
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "device/DebugLog.h"
#include "device/KRV752xNVME.h"
#include "device/KrvnUSBDev.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

constexpr uint64_t MIB = 1024 * 1024;
constexpr int VOLUME_LOCK_TRIES = 3;
constexpr uint64_t VOLUME_LOCK_RETRY_MS = 500;

krv::Clock& platformClock() { return krv::Platform::current().clock(); }

uint32_t dwRoundUpToSector(uint32_t dwByteCount)
{
    return (dwByteCount + DISK_SECTOR_UNIT - 1) / DISK_SECTOR_UNIT * DISK_SECTOR_UNIT;
}

// Memory a raw volume handle moves sectors to and from without a copy:
// page-aligned, so it suits a handle without buffering whatever the sector
// size, and left uninitialised, since whatever fills it writes every byte.
class CSectorBuffer {
public:
    explicit CSectorBuffer(size_t nBytes)
        : m_pData(new (std::align_val_t{SECTOR_BUFFER_ALIGNMENT}) uint8_t[nBytes])
    {
    }
    ~CSectorBuffer() { operator delete[](m_pData, std::align_val_t{SECTOR_BUFFER_ALIGNMENT}); }
    CSectorBuffer(const CSectorBuffer&) = delete;
    CSectorBuffer& operator=(const CSectorBuffer&) = delete;
    uint8_t* data() const { return m_pData; }

private:
    static constexpr size_t SECTOR_BUFFER_ALIGNMENT = 4096;
    uint8_t* m_pData;
};

// The caller's own memory can take the transfer as it is: whole sectors at a
// sector-aligned address. Anything else goes through a buffer of our own.
bool bTransferInPlace(const void* pBuffer, uint32_t dwByteCount)
{
    return dwByteCount % DISK_SECTOR_UNIT == 0 && reinterpret_cast<uintptr_t>(pBuffer) % DISK_SECTOR_UNIT == 0;
}

// A timed transfer's speed, added to the caller's timing record.
void vAddTiming(CTransferTiming& timing, uint64_t ullBytes, uint64_t ullTicks)
{
    const double dSeconds = static_cast<double>(ullTicks) / static_cast<double>(platformClock().tickFrequency());
    if (dSeconds > 0.0)
        timing.m_dSpeed += static_cast<double>(ullBytes) / (dSeconds * MIB);
}

// Lock the volume for a raw pass: a few tries, then the pass goes on without.
bool bLockVolume(krv::BlockDevice& volume, char cDriveLetter, const char* pszMethod)
{
    for (int i = 0; i < VOLUME_LOCK_TRIES; ++i) {
        if (volume.lock())
            return true;
        vDEBUG_MSG_printf("%s:%d: FSCTL_LOCK_VOLUME Fail , strReadLogicalAddress %c: , dwErrorCode:%d", pszMethod,
                          __LINE__, cDriveLetter, nLastError());
        platformClock().sleepMs(VOLUME_LOCK_RETRY_MS);
    }
    return false;
}

}  // namespace

DiskInfoBlock DiskInfoBlock::of(const DevInfo& devInfo)
{
    DiskInfoBlock block;
    std::memcpy(block.m_ucDiskInfoBuf, devInfo.m_ucDiskInfoBuf, sizeof block.m_ucDiskInfoBuf);
    std::memcpy(block.m_dwDiskInfo, devInfo.m_dwDiskInfo, sizeof block.m_dwDiskInfo);
    return block;
}

const char* CKrvnUSBDev::pszMediaTypeText(uint32_t dwMediaType)
{
    static const char* const kTexts[] = {
        "Format is unknown",
        "5.25\", 1.2MB,  512 bytes/sector",
        "3.5\",  1.44MB, 512 bytes/sector",
        "3.5\",  2.88MB, 512 bytes/sector",
        "3.5\",  20.8MB, 512 bytes/sector",
        "3.5\",  720KB,  512 bytes/sector",
        "5.25\", 360KB,  512 bytes/sector",
        "5.25\", 320KB,  512 bytes/sector",
        "5.25\", 320KB,  1024 bytes/sector",
        "5.25\", 180KB,  512 bytes/sector",
        "5.25\", 160KB,  512 bytes/sector",
        "Removable media other than floppy.",
        "Fixed hard disk media.",
        "3.5\", 120M Floppy",
        "3.5\",  640KB,  512 bytes/sector",
        "5.25\", 640KB,  512 bytes/sector",
        "5.25\", 720KB,  512 bytes/sector",
        "3.5\",  1.2MB,  512 bytes/sector",
        "3.5\",  1.23MB, 1024 bytes/sector",
        "5.25\", 1.23MB, 1024 bytes/sector",
        "3.5\" MO 128MB, 512 bytes/sector",
        "3.5\" MO 230MB, 512 bytes/sector",
        "8\",    256KB,  128 bytes/sector",
        "3.5\", 200M Floppy (HiFD)",
        "3.5\", 240M Floppy (HiFD)",
        "3.5\", 32M Floppy",
    };
    if (dwMediaType < sizeof kTexts / sizeof kTexts[0])
        return kTexts[dwMediaType];
    return "Media type not known";
}

// ---- drive letters ------------------------------------------------------------------

char CKrvnUSBDev::vGetLogicalAddressFromPhysicalAddress(uint8_t ucPhysicalAddress, uint8_t bWait)
{
    static const char* const kMethod = "CKrvnUSBDev::vGetLogicalAddressFromPhysicalAddress";
    try {
        const uint64_t ullStart = platformClock().monotonicMs();
        std::string strLogicalAddress;
        auto search = [&]() {
            for (char cLetter = 'D'; cLetter <= 'Z'; ++cLetter) {
                std::string strVolume;
                if (!krv::Platform::current().volumes().volumeName(cLetter, strVolume))
                    continue;
                if (!strVolume.empty() && strVolume.back() == '\\')
                    strVolume.pop_back();
                strLogicalAddress = strVolume;
                std::unique_ptr<krv::BlockDevice> volume =
                    krv::Platform::current().blockDevices().open(strVolume, krv::BlockAccess::Read);
                if (!volume) {
                    vDEBUG_MSG_printf("%s:%d: vGetLogicalAddressFromPhysicalAddress: CreateFile Fail , "
                                      "ucPhysicalAddress : %d , strLogicalAddress : %s , dwErrorCode %d",
                                      kMethod, __LINE__, ucPhysicalAddress, strVolume.c_str(), nLastError());
                    continue;
                }
                // Room for one extent: a volume spanning disks is no bridge drive's own.
                std::vector<krv::DiskExtent> extents;
                if (volume->volumeDiskExtents(extents) && extents.size() == 1 &&
                    extents[0].diskNumber == ucPhysicalAddress)
                    return cLetter;
            }
            return DEV_DRIVE_LETTER_NONE;
        };
        char cResult = search();
        while (bWait && cResult == DEV_DRIVE_LETTER_NONE) {
            const double dElapsed = static_cast<double>(platformClock().monotonicMs() - ullStart) / 1000.0;
            if (dElapsed > DRIVE_LETTER_WAIT_MS / 1000.0) {
                vDEBUG_MSG_printf("%s:%d: : Wait Disk Letter Time Out, ucPhysicalAddress : %d , strLogicalAddress : "
                                  "%s , dwErrorCode %d",
                                  kMethod, __LINE__, ucPhysicalAddress, strLogicalAddress.c_str(), nLastError());
                break;
            }
            vDEBUG_MSG_printf("%s:%d: : Get Disk Letter Retry, time=%02f, ucPhysicalAddress : %d , strLogicalAddress : "
                              "%s , dwErrorCode %d",
                              kMethod, __LINE__, dElapsed, ucPhysicalAddress, strLogicalAddress.c_str(), nLastError());
            platformClock().sleepMs(DRIVE_LETTER_RETRY_MS);
            cResult = search();
        }
        return cResult;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucPhysicalAddress : %d , dwErrorCode %d", kMethod, __LINE__,
                          ucPhysicalAddress, nLastError());
        return DEV_DRIVE_LETTER_NONE;
    }
}

// ---- raw sectors ----------------------------------------------------------------------

bool CKrvnUSBDev::vReadSectors(char cDriveLetter, uint8_t* pReadBuffer, uint64_t ullStartSector, uint32_t dwByteCount,
                               CTransferTiming* pTiming)
{
    static const char* const kMethod = "CKrvnUSBDev::vReadSectors";
    try {
        if (!pReadBuffer)
            return false;
        std::unique_ptr<krv::BlockDevice> volume =
            krv::Platform::current().blockDevices().openVolume(cDriveLetter, krv::BlockAccess::ReadWrite);
        if (!volume) {
            vDEBUG_ERR_printf("%s:%d: CreateFile Fail , strReadLogicalAddress %c: , dwErrorCode %d", kMethod, __LINE__,
                              cDriveLetter, nLastError());
            return false;
        }
        // Whole sectors land straight in the caller's buffer when it can take
        // them; else in a buffer of our own, and the caller gets its byte
        // count and not a byte more.
        const uint32_t dwSectorBytes = dwRoundUpToSector(dwByteCount);
        std::optional<CSectorBuffer> bounce;
        uint8_t* pData = pReadBuffer;
        if (!bTransferInPlace(pReadBuffer, dwByteCount))
            pData = bounce.emplace(dwSectorBytes).data();
        const uint64_t ullOffset = ullStartSector * DISK_SECTOR_UNIT;
        bool bLocked = false;
        for (int nPass = 0; nPass < 2; ++nPass) {
            if (!bLocked)
                bLocked = bLockVolume(*volume, cDriveLetter, kMethod);
            const bool bTimed = pTiming && nPass == 1;
            uint64_t ullTicks = 0;
            for (uint32_t dwDone = 0; dwDone < dwSectorBytes;) {
                const uint32_t dwChunk = std::min(dwSectorBytes - dwDone, DISK_TRANSFER_CHUNK);
                size_t nRead = 0;
                const uint64_t ullBefore = platformClock().ticks();
                const bool bOk = volume->read(ullOffset + dwDone, pData + dwDone, dwChunk, nRead);
                ullTicks += platformClock().ticks() - ullBefore;
                if (!bOk || nRead != dwChunk) {
                    vDEBUG_ERR_printf("%s:%d: ReadFile  Error, uiReadLogicalSector[%u] , dwRpt[%u] , dwErrorCode [%d]",
                                      kMethod, __LINE__, dwSectorBytes, static_cast<unsigned>(nRead), nLastError());
                    return false;
                }
                dwDone += dwChunk;
            }
            if (bTimed) {
                vAddTiming(*pTiming, dwSectorBytes, ullTicks);
                vDEBUG_MSG_printf("%s:%d: vReadSectors: COUNTING!ucpReadBuffer : %p , dwlReadLocationSector : %llu , "
                                  "m_fsdif_R: %f",
                                  kMethod, __LINE__, static_cast<void*>(pReadBuffer),
                                  static_cast<unsigned long long>(ullStartSector), pTiming->m_dSpeed);
            }
        }
        if (bounce)
            std::memcpy(pReadBuffer, pData, dwByteCount);
        return true;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...):  ucpReadBuffer : %p , dwlReadLocationSector : %llu , dwErrorCode %d",
                          kMethod, __LINE__, static_cast<void*>(pReadBuffer),
                          static_cast<unsigned long long>(ullStartSector), nLastError());
        return false;
    }
}

bool CKrvnUSBDev::bVolumeOnTableDrive(char cDriveLetter, int& nDiskNumber) const
{
    nDiskNumber = -1;
    std::vector<krv::DiskExtent> extents;
    if (!krv::Platform::current().volumes().diskExtents(cDriveLetter, extents) || extents.size() != 1)
        return false;
    nDiskNumber = static_cast<int>(extents[0].diskNumber);
    const DevList* pDevList = m_pDevList.load();
    if (!pDevList)
        return false;
    for (const DevInfo& devInfo : pDevList->Devs)
        if (devInfo.m_ucPortIndex != DEV_PORT_INDEX_EMPTY && !devInfo.m_bIsCDROM &&
            devInfo.m_ucPhysicalAddress == extents[0].diskNumber)
            return true;
    return false;
}

bool CKrvnUSBDev::vWriteSectors(char cDriveLetter, const uint8_t* pWriteBuffer, uint64_t ullStartSector,
                                uint32_t dwByteCount, CTransferTiming* pTiming)
{
    static const char* const kMethod = "CKrvnUSBDev::vWriteSectors";
    if (cDriveLetter == 'C' || cDriveLetter == 'c') {
        vDEBUG_ERR_printf("%s:%d:  cDriveLetter : %c , It will damage System", kMethod, __LINE__, cDriveLetter);
        return false;
    }
    try {
        if (!pWriteBuffer)
            return false;
        const uint32_t dwSectorBytes = dwRoundUpToSector(dwByteCount);
        if (dwSectorBytes > DISK_TRANSFER_CHUNK) {
            vDEBUG_ERR_printf("%s:%d:  ucpWriteBuffer : %p , %u bytes is more than one write moves", kMethod, __LINE__,
                              static_cast<const void*>(pWriteBuffer), dwByteCount);
            return false;
        }
        // Raw writes land only on a bridge drive of the table: a wrong letter
        // must never reach the machine's own disks.
        int nDiskNumber = -1;
        if (!bVolumeOnTableDrive(cDriveLetter, nDiskNumber)) {
            vDEBUG_ERR_printf("%s:%d:  cDriveLetter : %c is on PhysicalDrive%d, no drive of the device table: not "
                              "written",
                              kMethod, __LINE__, cDriveLetter, nDiskNumber);
            return false;
        }
        std::unique_ptr<krv::BlockDevice> volume =
            krv::Platform::current().blockDevices().openVolume(cDriveLetter, krv::BlockAccess::ReadWrite);
        if (!volume) {
            vDEBUG_ERR_printf("%s:%d:  ucpWriteBuffer : %p , dwlWriteLocationSector : %llu, dwErrorCode %d", kMethod,
                              __LINE__, static_cast<const void*>(pWriteBuffer),
                              static_cast<unsigned long long>(ullStartSector), nLastError());
            return false;
        }
        volume->lock();
        volume->dismount();

        // The caller's bytes as they are, or copied and zero-padded to whole
        // sectors.
        std::optional<CSectorBuffer> bounce;
        const uint8_t* pData = pWriteBuffer;
        if (!bTransferInPlace(pWriteBuffer, dwByteCount)) {
            uint8_t* pCopy = bounce.emplace(dwSectorBytes).data();
            std::memcpy(pCopy, pWriteBuffer, dwByteCount);
            std::memset(pCopy + dwByteCount, 0, dwSectorBytes - dwByteCount);
            pData = pCopy;
        }
        const uint64_t ullOffset = ullStartSector * DISK_SECTOR_UNIT;
        bool bResult = true;
        for (int nPass = 0; nPass < 2 && bResult; ++nPass) {
            size_t nWritten = 0;
            const uint64_t ullBefore = platformClock().ticks();
            const bool bOk = volume->write(ullOffset, pData, dwSectorBytes, nWritten);
            const uint64_t ullTicks = platformClock().ticks() - ullBefore;
            if (!bOk || nWritten != dwSectorBytes) {
                vDEBUG_ERR_printf("%s:%d: WriteFile Error : %d , uiWriteLogicalSector[%u] , dwRpt[%u] , dwErrorCode "
                                  "[%d]",
                                  kMethod, __LINE__, bOk ? 1 : 0, dwSectorBytes, static_cast<unsigned>(nWritten),
                                  nLastError());
                bResult = false;
                break;
            }
            if (pTiming && nPass == 1) {
                vAddTiming(*pTiming, dwSectorBytes, ullTicks);
                vDEBUG_MSG_printf("%s:%d: COUNTING!ucpWriteBuffer : %p , dwlWriteLocationSector : %llu, m_fsdif_W: %f ",
                                  kMethod, __LINE__, static_cast<const void*>(pWriteBuffer),
                                  static_cast<unsigned long long>(ullStartSector), pTiming->m_dSpeed);
            }
        }
        volume->unlock();
        volume->updateProperties();
        return bResult;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...) : %p , dwlWriteLocationSector : %llu, dwErrorCode %d", kMethod, __LINE__,
                          static_cast<const void*>(pWriteBuffer), static_cast<unsigned long long>(ullStartSector),
                          nLastError());
        return false;
    }
}

// ---- sizes -------------------------------------------------------------------------------

uint32_t CKrvnUSBDev::vGetDiskPhysicalSize(uint8_t ucPhysicalAddress)
{
    static const char* const kMethod = "CKrvnUSBDev::vGetDiskPhysicalSize";
    std::unique_ptr<krv::BlockDevice> disk =
        krv::Platform::current().blockDevices().openDisk(ucPhysicalAddress, krv::BlockAccess::ReadWrite);
    if (!disk) {
        vDEBUG_ERR_printf("%s:%d: vGetDiskPhysicalSize: CreateFile Fail , ucPhysicalAddress : %d , dwErrorCode %d",
                          kMethod, __LINE__, ucPhysicalAddress, nLastError());
        return DISK_SIZE_FAILED;
    }
    krv::DiskGeometry geometry;
    if (!disk->geometry(geometry)) {
        vDEBUG_ERR_printf("%s:%d: vGetDiskPhysicalSize: IOCTL_DISK_GET_DRIVE_GEOMETRY_EX Fail , ucPhysicalAddress : %d "
                          ", dwErrorCode %d",
                          kMethod, __LINE__, ucPhysicalAddress, nLastError());
        return DISK_SIZE_FAILED;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(geometry.diskSize / MIB, DISK_SIZE_FAILED - 1));
}

uint64_t CKrvnUSBDev::vGetDiskFreeSpace(char cDriveLetter)
{
    static const char* const kMethod = "CKrvnUSBDev::vGetDiskFreeSpace";
    krv::Volumes& volumes = krv::Platform::current().volumes();
    krv::VolumeFreeSpace space;
    if (volumes.freeSpace(cDriveLetter, space))
        return space.freeMiB();
    const uint32_t dwError = krv::lastError();
    vDEBUG_ERR_printf("%s:%d: vGetDiskFreeSpace: GetDiskFreeSpace Fail , strLogicalAddress : %c:\\ , dwErrorCode %d",
                      kMethod, __LINE__, cDriveLetter, static_cast<int>(dwError));
    // A volume without a file system yet is all free: its own size.
    std::vector<krv::DiskExtent> extents;
    if (dwError == krv::winerr::kUnrecognizedVolume && volumes.diskExtents(cDriveLetter, extents) &&
        !extents.empty()) {
        uint64_t ullBytes = 0;
        for (const krv::DiskExtent& extent : extents)
            ullBytes += extent.length;
        return ullBytes / MIB;
    }
    return DISK_FREE_SPACE_FAILED;
}

int32_t CKrvnUSBDev::vGetPartitionCount(uint8_t ucPhysicalAddress)
{
    static const char* const kMethod = "CKrvnUSBDev::vGetPartitionCount";
    std::unique_ptr<krv::BlockDevice> disk =
        krv::Platform::current().blockDevices().openDisk(ucPhysicalAddress, krv::BlockAccess::Query);
    if (!disk) {
        vDEBUG_ERR_printf("%s:%d: vGetPartitionCount: CreateFile Fail , ucPhysicalAddress : %d , dwErrorCode %d",
                          kMethod, __LINE__, ucPhysicalAddress, nLastError());
        return PARTITION_COUNT_NONE;
    }
    krv::DriveLayout layout;
    const bool bOk = disk->driveLayout(layout);
    vDEBUG_MSG_printf("%s:%d: vGetPartitionCount33: Send IOCTL_DISK_GET_DRIVE_LAYOUT_EX, dwbytes%d, dwErrorCode:%d",
                      kMethod, __LINE__, static_cast<int>(48 + 144 * layout.partitions.size()),
                      bOk ? 0 : nLastError());
    if (!bOk)
        return PARTITION_COUNT_NONE;
    vDEBUG_MSG_printf("%s:%d: vGetPartitionCount44: pDli->PartitionCount:%d", kMethod, __LINE__,
                      static_cast<int>(layout.partitions.size()));
    int32_t iCount = PARTITION_COUNT_NONE;
    for (const krv::PartitionInfo& partition : layout.partitions)
        if (partition.partitionNumber != 0)
            iCount = static_cast<int32_t>(partition.partitionNumber);
    return iCount;
}

// ---- disk information ------------------------------------------------------------------------

// The 857x on a USB 3 tunnel answers "8576" and has no device type of its
// own, yet it is the same NVMe bridge: its disk is identified like one.
bool CKrvnUSBDev::bIsTunnelled857x(HANDLE hDev)
{
    uint8_t ucInquiry[INQUIRY_CHIP_ID_LENGTH] = {};
    return SCSI6390_Inquiry(hDev, ucInquiry, sizeof ucInquiry) == SCSI_RESULT_OK && ucInquiry[37] == 0x85 &&
           ucInquiry[36] == 0x76;
}

int CKrvnUSBDev::nObtainDiSKInfo(const std::string& strPhysicalAddress, DevInfo& devInfo)
{
    static const char* const kMethod = "CKrvnUSBDev::nObtainDiSKInfo";
    // Whatever this call cannot read must not keep another drive's texts.
    devInfo.m_strHDDSN.clear();
    devInfo.m_strHDDFW.clear();
    if (strPhysicalAddress.empty()) {
        vDEBUG_ERR_printf("%s:%d: strPhysicalAddress is Empty", kMethod, __LINE__);
        return DISK_INFO_BAD_ARGUMENT;
    }
    CDriveHandle hDev(CreateDriveHandle(strPhysicalAddress));
    std::unique_ptr<krv::BlockDevice> disk =
        hDev.bIsValid() ? krv::Platform::current().blockDevices().open(strPhysicalAddress, krv::BlockAccess::ReadWrite)
                        : nullptr;
    if (!disk) {
        vDEBUG_ERR_printf("%s:%d: CreateFile strPhysicalAddress[%s] is failed, error code=0x%x", kMethod, __LINE__,
                          strPhysicalAddress.c_str(), nLastError());
        return DISK_INFO_OPEN_FAILED;
    }

    // The disk's identity. A drive whose bridge or disk cannot be identified
    // gets no geometry, letter or capacity either, so no later step can
    // touch it as if it were known.
    uint8_t ucDevType = devInfo.m_ucDevType;
    if (ucDevType == DEV_TYPE_UNKNOWN && bIsTunnelled857x(hDev.get()))
        ucDevType = DEV_TYPE_8574;
    if (ucDevType == DEV_TYPE_UNKNOWN) {
        vDEBUG_ERR_printf("%s:%d: pDevInfo->m_ucDevType==UCHAR_MAX", kMethod, __LINE__);
        return DISK_INFO_BAD_ARGUMENT;
    }
    std::string strSN;
    std::string strFW;
    if (ucDevType < DEV_TYPE_752A) {
        ATAPassThrough_GetHDSerialNumber(hDev.get(), strSN);
        ATAPassThrough_GetHDDFW(hDev.get(), strFW);
    } else {
        strSN = CKRV752xNVME::strGetNVMESerialNumber(devInfo.m_ucPhysicalAddress);
        strFW = CKRV752xNVME::strGetNVMEFirmwareRevision(devInfo.m_ucPhysicalAddress);
    }
    devInfo.m_strHDDSN = strTrim(strSN);
    devInfo.m_strHDDFW = strTrim(strFW);
    if (devInfo.m_strHDDSN.empty()) {
        vDEBUG_WRN_printf("%s:%d: ATAPassThrough_GetHDSerialNumber strPhysicalAddress[%s] Error[0x%x], Get HDD SN "
                          "is failed....Exit",
                          kMethod, __LINE__, strPhysicalAddress.c_str(), nLastError());
        return DISK_INFO_IDENTIFY_FAILED;
    }
    if (devInfo.m_strHDDFW.empty()) {
        vDEBUG_WRN_printf("%s:%d: ATAPassThrough_GetHDDFW ,strPhysicalAddress[%s] Error[0x%x], Get HDD FW is "
                          "failed....Exit",
                          kMethod, __LINE__, strPhysicalAddress.c_str(), nLastError());
        return DISK_INFO_IDENTIFY_FAILED;
    }

    krv::DiskGeometry geometry;
    if (!disk->geometry(geometry)) {
        vDEBUG_ERR_printf("%s:%d: strPhysicalAddress[%s] IOCTL_DISK_GET_DRIVE_GEOMETRY_EX Fail , Error:%d", kMethod,
                          __LINE__, strPhysicalAddress.c_str(), nLastError());
        return DISK_INFO_GEOMETRY_FAILED;
    }
    if (geometry.cylinders == 0 && geometry.tracksPerCylinder == 0 && geometry.sectorsPerTrack == 0)
        vDEBUG_WRN_printf("%s:%d: strPhysicalAddress:[%s] Capacity[%llx] Not Valid ", kMethod, __LINE__,
                          strPhysicalAddress.c_str(), static_cast<unsigned long long>(geometry.diskSize));
    if (!devInfo.m_bIsCDROM) {
        devInfo.m_cDriveLetter = vGetLogicalAddressFromPhysicalAddress(devInfo.m_ucPhysicalAddress, 0);
        devInfo.m_dwDiskInfo[0] = geometry.tracksPerCylinder;
        devInfo.m_dwDiskInfo[1] = geometry.sectorsPerTrack;
        devInfo.m_dwDiskInfo[2] = geometry.bytesPerSector;
        devInfo.m_dwDiskInfo[4] = static_cast<uint32_t>(geometry.cylinders);
        devInfo.m_dwDiskInfo[5] = static_cast<uint32_t>(geometry.cylinders >> 32);
        devInfo.m_dwDiskInfo[6] = static_cast<uint32_t>(geometry.diskSize);
        devInfo.m_dwDiskInfo[7] = static_cast<uint32_t>(geometry.diskSize >> 32);
        std::memset(devInfo.m_ucDiskInfoBuf, 0, sizeof devInfo.m_ucDiskInfoBuf);
        std::snprintf(reinterpret_cast<char*>(devInfo.m_ucDiskInfoBuf), sizeof devInfo.m_ucDiskInfoBuf, "%s",
                      pszMediaTypeText(geometry.mediaType));
        devInfo.m_ullCapacity = geometry.diskSize;
    } else {
        devInfo.m_cDriveLetter = DEV_DRIVE_LETTER_NONE;
        std::memset(devInfo.m_ucDiskInfoBuf, 0, sizeof devInfo.m_ucDiskInfoBuf);
        std::memset(devInfo.m_dwDiskInfo, 0, sizeof devInfo.m_dwDiskInfo);
        devInfo.m_ullCapacity = DEV_CAPACITY_UNKNOWN;
    }
    return DISK_INFO_OK;
}

// ---- speed test ------------------------------------------------------------------------------

int CKrvnUSBDev::vReadWriteSpeedTest(char cDriveLetter, DiskInfoBlock diskInfo, double& dReadSpeed,
                                     double& dWriteSpeed, uint8_t ucArea, uint32_t dwSizeMiB)
{
    static const char* const kMethod = "CKrvnUSBDev::vReadWriteSpeedTest";
    vDEBUG_MSG_printf("%s:%d:  Entering WR Speed Test", kMethod, __LINE__);
    if (diskInfo.m_dwDiskInfo[2] == 0) {
        vDEBUG_ERR_printf("%s:%d: Sector size == 0", kMethod, __LINE__);
        return SPEED_TEST_NO_SECTOR_SIZE;
    }
    const uint64_t ullStart = ucArea == 0 ? SPEED_TEST_AREA_0 : ucArea == 1 ? SPEED_TEST_AREA_1 : SPEED_TEST_AREA_OTHER;
    const uint32_t dwLength = static_cast<uint32_t>(dwSizeMiB * MIB / 4);
    // Three blocks for both passes, moved in place: the backup and the
    // read-back are filled by their first reads, the pattern here.
    CSectorBuffer backup(dwLength);
    CSectorBuffer pattern(dwLength);
    CSectorBuffer readBack(dwLength);
    std::memset(pattern.data(), SPEED_TEST_PATTERN, dwLength);
    CTransferTiming writeTiming;
    CTransferTiming readTiming;

    int iResult = SPEED_TEST_OK;
    bool bCompleted = true;
    for (int nPass = 0; nPass < 2 && bCompleted; ++nPass) {
        const bool bTimed = nPass == 1;
        if (!vReadSectors(cDriveLetter, backup.data(), ullStart, dwLength)) {
            vDEBUG_ERR_printf("%s:%d: 1ST::backup data Fail", kMethod, __LINE__);
            bCompleted = false;
            break;
        }
        // Whatever happens after a write was tried, the area gets its bytes back.
        if (!vWriteSectors(cDriveLetter, pattern.data(), ullStart, dwLength, bTimed ? &writeTiming : nullptr)) {
            vDEBUG_ERR_printf("%s:%d: OD R/W Test , TestCount[%d], Fail", kMethod, __LINE__, nPass);
            bCompleted = false;
        } else if (!vReadSectors(cDriveLetter, readBack.data(), ullStart, dwLength, bTimed ? &readTiming : nullptr)) {
            vDEBUG_ERR_printf("%s:%d:  OD R/W Test , TestCount[%d], Fail", kMethod, __LINE__, nPass);
            bCompleted = false;
        }
        if (!vWriteSectors(cDriveLetter, backup.data(), ullStart, dwLength)) {
            vDEBUG_ERR_printf("%s:%d: recovery data Fail: %c: sectors 0x%llx..0x%llx hold the test pattern, the "
                              "volume is damaged",
                              kMethod, __LINE__, cDriveLetter, static_cast<unsigned long long>(ullStart),
                              static_cast<unsigned long long>(ullStart + dwLength / DISK_SECTOR_UNIT - 1));
            iResult = SPEED_TEST_RESTORE_FAILED;
            bCompleted = false;
        }
    }
    // A test that stopped measured nothing: no figure from it may pass.
    dReadSpeed = bCompleted ? readTiming.m_dSpeed : 0.0;
    dWriteSpeed = bCompleted ? writeTiming.m_dSpeed : 0.0;
    vDEBUG_MSG_printf("%s:%d: Test Write Speed = %f, Test Read Speed = %f", kMethod, __LINE__, dWriteSpeed, dReadSpeed);
    vDEBUG_MSG_printf("%s:%d:  Leaving WR Speed Test", kMethod, __LINE__);
    return iResult;
}
