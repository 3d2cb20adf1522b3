// Partitioning: the diskpart script, its runs and the adjustment of the
// MBR's first entry.
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "format/Fat32Format.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Platform.h"
#include "platform/StopSource.h"

namespace {

constexpr int DISKPART_TRIES = 3;
constexpr uint64_t DISKPART_START_RETRY_MS = 500;
constexpr uint64_t DISKPART_SETTLE_MS = 1500;
constexpr int LOCK_TRIES = 5;
constexpr uint64_t LOCK_RETRY_MS = 200;
constexpr uint32_t MBR_SECTOR_MAX = 4096;
constexpr size_t MBR_ENTRY = 0x1BE;
constexpr uint8_t MBR_PROTECTIVE_TYPE = 0xEE;

int nLastError() { return static_cast<int>(krv::lastError()); }

uint32_t dwGet32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

void vPut32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// Clears the device-access object's open flag for the step, so a device walk
// that the drive's changes set off leaves the device table alone.
class COpenFlagCleared {
public:
    explicit COpenFlagCleared(CKrvnUSBDev& usbDev) : m_UsbDev(usbDev) { m_UsbDev.m_bOpen = 0; }
    ~COpenFlagCleared() { m_UsbDev.m_bOpen = 1; }
    COpenFlagCleared(const COpenFlagCleared&) = delete;
    COpenFlagCleared& operator=(const COpenFlagCleared&) = delete;

private:
    CKrvnUSBDev& m_UsbDev;
};

}  // namespace

std::string strDiskPartScriptName(int nPhysicalDrive)
{
    char szName[64];
    std::snprintf(szName, sizeof szName, "%s%d.%s", "DiskPartTarget", nPhysicalDrive, "sc");
    return szName;
}

std::string strDiskPartScript(int nPhysicalDrive, char cDriveLetter, uint8_t ucPartitionStyle, uint32_t dwOffsetMB)
{
    // The offset is given in MB and written in KB.
    const unsigned uOffsetKB = dwOffsetMB * 1024;
    char szScript[512];
    if (ucPartitionStyle == PARTITION_STYLE_GPT && dwOffsetMB)
        std::snprintf(szScript, sizeof szScript,
                      " list disk\n select disk %d\n online disk noerr \n clean \n convert gpt\ncreate partition "
                      "primary offset=%u \n select partition 2\n assign letter=%c\n",
                      nPhysicalDrive, uOffsetKB, cDriveLetter);
    else if (ucPartitionStyle == PARTITION_STYLE_GPT)
        std::snprintf(szScript, sizeof szScript,
                      " list disk\n select disk %d\n online disk noerr \n clean \n convert gpt\ncreate partition "
                      "primary \n select partition 2\n assign letter=%c\n",
                      nPhysicalDrive, cDriveLetter);
    else if (dwOffsetMB)
        std::snprintf(szScript, sizeof szScript,
                      " list disk\n select disk %d\n online disk noerr \n attributes disk clear readonly noerr \n "
                      "clean \nconvert mbr \ncreate partition primary offset=%u \n select partition 1\n assign "
                      "letter=%c\n",
                      nPhysicalDrive, uOffsetKB, cDriveLetter);
    else
        std::snprintf(szScript, sizeof szScript,
                      " list disk\n select disk %d\n online disk noerr \n attributes disk clear readonly noerr \n "
                      "clean \nconvert mbr \ncreate partition primary \n select partition 1\n assign letter=%c\n",
                      nPhysicalDrive, cDriveLetter);
    return szScript;
}

bool bAdjustMbrSector(std::vector<uint8_t>& sector, uint64_t ullDiskSize, uint32_t dwBytesPerSector)
{
    if (sector.size() < 512 || dwBytesPerSector == 0)
        return false;
    uint8_t* e = &sector[MBR_ENTRY];
    // A protective MBR stands for a GPT disk and is never rewritten.
    if (e[4] == MBR_PROTECTIVE_TYPE)
        return false;
    if (sector[510] == 0x55 && sector[511] == 0xAA && e[0] == 0x80 && e[8] == 0x3F) {
        e[8] = 0x40;
        const uint32_t dwCount = dwGet32(sector, MBR_ENTRY + 12);
        vPut32(sector, MBR_ENTRY + 12, (dwCount - 1) & ~63u);
        return true;
    }
    if (ullDiskSize > (1ull << 41)) {
        const uint64_t ullStart = dwGet32(sector, MBR_ENTRY + 8);
        const uint64_t ullSectors = ullDiskSize / dwBytesPerSector;
        if (ullSectors <= ullStart)
            return false;
        // Beyond what 32 bits count, the entry keeps the most it can hold.
        const uint64_t ullCount = std::min<uint64_t>((ullSectors - ullStart) & ~63ull, 0xFFFFFFFFull & ~63ull);
        vPut32(sector, MBR_ENTRY + 12, static_cast<uint32_t>(ullCount));
        return true;
    }
    return false;
}

bool CFat32Format::vSetDiskPartSetupInfo(char cDriveLetter, uint8_t ucPhysicalAddress, uint8_t ucPartitionStyle,
                                         uint32_t dwOffsetMB)
{
    static const char* const kMethod = "CFat32Format::vSetDiskPartSetupInfo";
    try {
        if (ucPhysicalAddress == 0) {
            vDEBUG_ERR_printf("%s:%d:  ucPhysicalAddress is invalid, m_ucPhysicalAddress : %d , dwErrorCode %d",
                              kMethod, __LINE__, ucPhysicalAddress, nLastError());
            return false;
        }
        const std::string strScript = strDiskPartScript(ucPhysicalAddress, cDriveLetter, ucPartitionStyle, dwOffsetMB);
        const std::string strName = strDiskPartScriptName(ucPhysicalAddress);
        std::error_code ec;
        if (std::filesystem::exists(strName, ec) && !std::filesystem::remove(strName, ec))
            vDEBUG_ERR_printf("%s:%d: vSetDiskPartSetupInfo: No strDiskPartFileName[%s] to Delete  ", kMethod, __LINE__,
                              strName.c_str());
        krv::File file;
        size_t nDone = 0;
        if (!file.open(strName, krv::File::Mode::CreateTruncate) ||
            !file.write(strScript.data(), strScript.size(), nDone) || !file.sync() || !file.close()) {
            vDEBUG_ERR_printf("%s:%d: ucPhysicalAddress[%d] CreateFile[%s] Script Fail, ErrorCode:%d", kMethod,
                              __LINE__, ucPhysicalAddress, strName.c_str(), nLastError());
            return false;
        }
        if (!krv::pathAccessible(strName, true, false)) {
            vDEBUG_ERR_printf("%s:%d: ucPhysicalAddress[%d] ScriptFile[%s] Not Exist, ErrorCode:%d", kMethod, __LINE__,
                              ucPhysicalAddress, strName.c_str(), nLastError());
            return false;
        }
        return true;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: CFat32Format::vSetDiskPartSetupInfo: dwErrorCode %d", kMethod, __LINE__,
                          nLastError());
        return false;
    }
}

bool CFat32Format::bRunDiskPart(uint8_t ucPhysicalAddress, int32_t& iCount)
{
    static const char* const kMethod = "CFat32Format::vCreatePartition";
    krv::Platform& platform = krv::Platform::current();
    const std::string strParam = " /s " + strDiskPartScriptName(ucPhysicalAddress);
    // A stopped worker starts no further try: the stop ends the one under way.
    const krv::StopSource* pStop = krv::StopSource::current();
    for (int nTry = 0; nTry < DISKPART_TRIES && !(pStop && pStop->stopRequested()); ++nTry) {
        const krv::ConsoleResult run = platform.consolePrograms().run(
            krv::ConsoleCommand("diskpart.exe", {"/s", strDiskPartScriptName(ucPhysicalAddress)}, {}, DISKPART_WAIT_MS),
            pStop);
        vDEBUG_MSG_printf("%s:%d: vCreatePartition000: bResult:%d, ErrorCode:%d ", kMethod, __LINE__,
                          run.started ? 1 : 0, run.started ? 0 : nLastError());
        vDEBUG_MSG_printf("%s:%d: vCreatePartition111: ErrorCode:%d ", kMethod, __LINE__,
                          run.finished ? static_cast<int>(run.exitCode) : nLastError());
        // A run that did not end, or ended with an error, may have left the
        // old partitions in place: that try failed, whatever the count says.
        if (!bConsoleRunPassed(run)) {
            platform.clock().sleepMs(DISKPART_START_RETRY_MS, pStop);
            vDEBUG_ERR_printf("%s:%d: vCreatePartition: ucPhysicalAddress[%d] PartitionParam:%s Fail, ErrorCode:%d ",
                              kMethod, __LINE__, ucPhysicalAddress, strParam.c_str(),
                              run.started && run.finished ? static_cast<int>(run.exitCode) : nLastError());
            continue;
        }
        platform.clock().sleepMs(DISKPART_SETTLE_MS, pStop);
        iCount = m_UsbDev.vGetPartitionCount(ucPhysicalAddress);
        if (iCount == PARTITION_COUNT_NONE) {
            vDEBUG_ERR_printf("%s:%d: vCreatePartition: Fail ucPhysicalAddress [%d] Check Partition Count %d", kMethod,
                              __LINE__, ucPhysicalAddress, iCount);
            continue;
        }
        vDEBUG_MSG_printf("%s:%d: vCreatePartition: [%d] Check Partition Count %d", kMethod, __LINE__,
                          ucPhysicalAddress, iCount);
        return true;
    }
    return false;
}

bool CFat32Format::bAdjustMbr(krv::BlockDevice& disk, uint8_t ucPhysicalAddress, uint32_t dwBytesPerSector)
{
    static const char* const kMethod = "CFat32Format::vCreatePartition";
    krv::Platform& platform = krv::Platform::current();
    std::vector<uint8_t> sector(dwBytesPerSector);
    size_t nDone = 0;
    if (!disk.read(0, sector.data(), sector.size(), nDone) || nDone != sector.size()) {
        vDEBUG_ERR_printf("%s:%d: m_ucPhysicalAddress= %d, Get MBR  Fail , dwErrorCode %d", kMethod, __LINE__,
                          ucPhysicalAddress,
                          nLastError());
        return false;
    }
    krv::DiskGeometry geometry;
    const uint64_t ullDiskSize = disk.geometry(geometry) ? geometry.diskSize : 0;
    bAdjustMbrSector(sector, ullDiskSize, dwBytesPerSector);
    const std::string strPhysical = "\\\\.\\PhysicalDrive" + std::to_string(ucPhysicalAddress);
    bool bLocked = false;
    for (int i = 0; i < LOCK_TRIES && !bLocked; ++i) {
        platform.clock().sleepMs(LOCK_RETRY_MS);
        bLocked = disk.lock();
    }
    if (!bLocked)
        vDEBUG_ERR_printf("%s:%d: FSCTL_LOCK_VOLUME Fail , strPhysicalAddress %s , dwErrorCode:%d", kMethod, __LINE__,
                          strPhysical.c_str(), nLastError());
    bool bResult = disk.write(0, sector.data(), sector.size(), nDone) && nDone == sector.size();
    if (!bResult)
        vDEBUG_ERR_printf("%s:%d: m_ucPhysicalAddress= %d, Write MBR  Fail , dwErrorCode %d", kMethod, __LINE__,
                          ucPhysicalAddress,
                          nLastError());
    if (!disk.dismount())
        vDEBUG_ERR_printf("%s:%d:  FSCTL_DISMOUNT_VOLUME Fail , strLogicalAddress= %s,  dwErrorCode %d", kMethod,
                          __LINE__, strPhysical.c_str(), nLastError());
    if (bLocked && !disk.unlock())
        vDEBUG_ERR_printf("%s:%d:  FSCTL_UNLOCK_VOLUME Fail , strLogicalAddress =%s dwErrorCode %d", kMethod, __LINE__,
                          strPhysical.c_str(), nLastError());
    // The system reads the table again, so the volume is the adjusted one.
    if (bResult && !disk.updateProperties())
        vDEBUG_ERR_printf("%s:%d: vCreatePartition: %d IOCTL_DISK_UPDATE_PROPERTIES Fail , dwErrorCode %d", kMethod,
                          __LINE__, ucPhysicalAddress, nLastError());
    return bResult;
}

bool CFat32Format::vCreatePartition(char cDriveLetter, uint8_t ucPhysicalAddress, uint8_t ucPartitionStyle,
                                    uint32_t dwBytesPerSector, uint32_t dwOffsetMB)
{
    static const char* const kMethod = "CFat32Format::vCreatePartition";
    std::lock_guard guard(pUtility.m_PartitionCriticalSection);
    COpenFlagCleared openFlag(m_UsbDev);
    bool bResult = false;
    try {
        krv::Platform& platform = krv::Platform::current();
        // Never the disk the system runs from, whatever its number.
        for (char c : platform.volumes().lettersOfDisk(ucPhysicalAddress))
            if (c == 'C') {
                vDEBUG_ERR_printf("%s:%d:  ucPhysicalAddress is invalid, m_ucPhysicalAddress : %d , dwErrorCode %d",
                                  kMethod, __LINE__, ucPhysicalAddress, nLastError());
                return false;
            }
        if (dwBytesPerSector == 0 || dwBytesPerSector > MBR_SECTOR_MAX || dwBytesPerSector % 512 != 0) {
            krv::setLastError(krv::winerr::kInvalidParameter);
            vDEBUG_ERR_printf("%s:%d: m_ucPhysicalAddress= %d, Get MBR  Fail , dwErrorCode %d", kMethod, __LINE__,
                              ucPhysicalAddress, nLastError());
            return false;
        }
        if (!vSetDiskPartSetupInfo(cDriveLetter, ucPhysicalAddress, ucPartitionStyle, dwOffsetMB)) {
            vDEBUG_ERR_printf("%s:%d: vCreatePartition: [%d] Script File Not Exist , ErrorCode:%d", kMethod, __LINE__,
                              ucPhysicalAddress, nLastError());
            return false;
        }
        int32_t iCount = PARTITION_COUNT_NONE;
        if (bRunDiskPart(ucPhysicalAddress, iCount)) {
            bResult = true;
            std::unique_ptr<krv::BlockDevice> disk =
                platform.blockDevices().openDisk(ucPhysicalAddress, krv::BlockAccess::ReadWrite);
            if (!disk || !disk->updateProperties())
                vDEBUG_ERR_printf("%s:%d: vCreatePartition: %c IOCTL_DISK_UPDATE_PROPERTIES Fail , dwErrorCode %d",
                                  kMethod, __LINE__, cDriveLetter, nLastError());
            if (iCount == 1 && disk)
                bResult = bAdjustMbr(*disk, ucPhysicalAddress, dwBytesPerSector);
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: CFat32Format::vCreatePartition: dwErrorCode %d", kMethod, __LINE__, nLastError());
        bResult = false;
    }
    if (!pUtility.vDelDiskPartSetupInfo(ucPhysicalAddress))
        bResult = false;
    return bResult;
}
