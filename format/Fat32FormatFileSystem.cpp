// The file system and label step: FAT32 by the class's own writer, NTFS and
// exFAT by format.com, then the label and the post-check that the volume
// carries what the settings ask.
#include <filesystem>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/TextUtil.h"
#include "device/USBUtility.h"
#include "format/Fat32Format.h"
#include "platform/LastError.h"
#include "platform/Platform.h"
#include "platform/StopSource.h"

namespace {

constexpr int FORMAT_ATTEMPTS = 2;
constexpr uint64_t POST_CHECK_RETRY_MS = 1000;
constexpr uint64_t NTFS_ONLY_MIB = 0x800000;   // 8 TiB

int nLastError() { return static_cast<int>(krv::lastError()); }

std::string strPhysical(uint8_t ucPhysicalAddress) { return "\\\\.\\PhysicalDrive" + std::to_string(ucPhysicalAddress); }

bool bStopRequested()
{
    const krv::StopSource* pStop = krv::StopSource::current();
    return pStop && pStop->stopRequested();
}

// The drive's sector size; 512 when it cannot be read, the size every drive
// that does not say otherwise has.
uint32_t dwDiskBytesPerSector(uint8_t ucPhysicalAddress)
{
    std::unique_ptr<krv::BlockDevice> disk =
        krv::Platform::current().blockDevices().openDisk(ucPhysicalAddress, krv::BlockAccess::ReadWrite);
    krv::DiskGeometry geometry;
    if (!disk || !disk->geometry(geometry) || geometry.bytesPerSector == 0)
        return 512;
    return geometry.bytesPerSector;
}

}  // namespace

int32_t CFat32Format::vCheckFileSystemCapacity(uint8_t ucPhysicalAddress)
{
    static const char* const kMethod = "CFat32Format::vCheckFileSystemCapacity";
    try {
        std::unique_ptr<krv::BlockDevice> disk =
            krv::Platform::current().blockDevices().openDisk(ucPhysicalAddress, krv::BlockAccess::ReadWrite);
        if (!disk) {
            vDEBUG_ERR_printf("%s:%d: vCheckFileSystemCapacity: CreateFile[%s] Fail, ErrorCode:%d", kMethod, __LINE__,
                              strPhysical(ucPhysicalAddress).c_str(), nLastError());
            return FS_CAPACITY_UNKNOWN;
        }
        krv::DiskGeometry geometry;
        if (!disk->geometry(geometry)) {
            vDEBUG_ERR_printf("%s:%d: vCheckFileSystemCapacity: [%s] not support  , ErrorCode:%d", kMethod, __LINE__,
                              strPhysical(ucPhysicalAddress).c_str(), nLastError());
            return FS_CAPACITY_UNKNOWN;
        }
        return geometry.diskSize / (1024 * 1024) < NTFS_ONLY_MIB ? FS_CAPACITY_ANY : FS_CAPACITY_NTFS_ONLY;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: CFat32Format::vCheckFileSystemCapacity: dwErrorCode %d", kMethod, __LINE__,
                          nLastError());
        return FS_CAPACITY_UNKNOWN;
    }
}

bool CFat32Format::bDriveOfLetterIs(char cDriveLetter, uint8_t ucPhysicalAddress)
{
    std::vector<krv::DiskExtent> extents;
    if (ucPhysicalAddress == 0 || cDriveLetter == 'C' || cDriveLetter == 'c' ||
        !krv::Platform::current().volumes().diskExtents(cDriveLetter, extents) || extents.empty())
        return false;
    for (const krv::DiskExtent& extent : extents)
        if (extent.diskNumber != ucPhysicalAddress)
            return false;
    return true;
}

bool CFat32Format::bFormatAttempt(uint8_t ucPhysicalAddress, const std::string& strFileSystem,
                                  const std::string& strLabel, uint8_t ucPartitionStyle, char cDriveLetter)
{
    static const char* const kMethod = "CFat32Format::vLowLevelFormatTracks";
    krv::Platform& platform = krv::Platform::current();
    const std::string strLogical = std::string(1, cDriveLetter) + ":\\";
    // The writer's own result decides first: a volume whose writes failed
    // may still show, where they did not reach, an earlier volume of the same
    // name, which the post-check below would take for this one.
    if (strFileSystem == "FAT32") {
        const uint32_t dwSpc = dwFat32ClusterSectorsForDisk(m_UsbDev.vGetDiskPhysicalSize(ucPhysicalAddress),
                                                            dwDiskBytesPerSector(ucPhysicalAddress));
        if (!bSetFormatParam(cDriveLetter, static_cast<int32_t>(dwSpc), ucPartitionStyle == PARTITION_STYLE_GPT) ||
            !bFormatVolume(strLabel)) {
            vDEBUG_ERR_printf("%s:%d: vLowLevelFormatTracks: bFormatVolume Fail , ucPhysicalAddress:[%d] , "
                              "m_cDriveLetter:[%c] , dwErrorCode %d",
                              kMethod, __LINE__, ucPhysicalAddress, cDriveLetter, nLastError());
            return false;
        }
    } else {
        const krv::ConsoleResult run = platform.consolePrograms().run(
            krv::ConsoleCommand("format.com", {std::string(1, cDriveLetter) + ":/Q", "/FS:" + strFileSystem, "/y"},
                                {}, FORMAT_WAIT_MS),
            krv::StopSource::current());
        if (!bConsoleRunPassed(run)) {
            vDEBUG_ERR_printf("%s:%d: vLowLevelFormatTracks: format.com Fail , ucPhysicalAddress:[%d] , "
                              "m_cDriveLetter:[%c] , bStarted %d , bFinished %d , dwExitCode %u",
                              kMethod, __LINE__, ucPhysicalAddress, cDriveLetter, run.started ? 1 : 0,
                              run.finished ? 1 : 0, run.exitCode);
            return false;
        }
    }

    // The volume takes a folder: it is mounted and carries a file system.
    const std::string strMount = platform.volumes().mountPath(cDriveLetter);
    const std::string strTestDirectory = std::string(1, cDriveLetter) + ":\\tmp";
    std::error_code ec;
    if (strMount.empty() || !std::filesystem::create_directory(strMount + "/tmp", ec)) {
        if (ec)
            krv::setLastError(krv::winerr::kAccessDenied);
        platform.clock().sleepMs(POST_CHECK_RETRY_MS, krv::StopSource::current());
        vDEBUG_ERR_printf("%s:%d: vLowLevelFormatTracks: Post-Check (CreateDirectory) Fail , ucPhysicalAddress:[%d] , "
                          "m_cDriveLetter:[%c] ,  strTestDirectory : %s , dwErrorCode %d",
                          kMethod, __LINE__, ucPhysicalAddress, cDriveLetter, strTestDirectory.c_str(), nLastError());
        return false;
    }
    std::filesystem::remove(strMount + "/tmp", ec);

    if (strFileSystem != "FAT32") {
        bool bResult = platform.volumes().setVolumeLabel(cDriveLetter, strLabel);
        if (!bResult) {
            vDEBUG_ERR_printf("%s:%d: vLowLevelFormatTracks: SetVolumeLabel Fail , strLogicalAddress: %s , "
                              "strDriveLabelName %s , bResult %d",
                              kMethod, __LINE__, strLogical.c_str(), strLabel.c_str(), 0);
            const krv::ConsoleResult run = platform.consolePrograms().run(
                krv::ConsoleCommand("label.exe", {std::string(1, cDriveLetter) + ":", strLabel}, {}, LABEL_WAIT_MS),
                krv::StopSource::current());
            bResult = bConsoleRunPassed(run);
        }
        vDEBUG_MSG_printf("%s:%d: vLowLevelFormatTracks: SetVolumeLabel , strLogicalAddress: %s , strDriveLabelName "
                          "%s , bResult %d",
                          kMethod, __LINE__, strLogical.c_str(), strLabel.c_str(), bResult ? 1 : 0);
        // A label that was never written may still read back as asked from
        // an earlier volume's bytes.
        if (!bResult)
            return false;
    }

    krv::VolumeInformation info;
    if (!platform.volumes().volumeInformation(cDriveLetter, info)) {
        vDEBUG_ERR_printf("%s:%d: vLowLevelFormatTracks: GetVolumeInformation Fail , strLogicalAddress:[%s] , "
                          "dwErrorCode %d",
                          kMethod, __LINE__, strLogical.c_str(), nLastError());
        return false;
    }
    vDEBUG_MSG_printf("%s:%d: vLowLevelFormatTracks: GetVolumeInformation , strCheckFSType: %s strFileSystemParam %s , "
                      "strCheckDriveLabel %s , strDriveLabelName %s",
                      kMethod, __LINE__, info.fileSystem.c_str(), strFileSystem.c_str(), info.label.c_str(),
                      strLabel.c_str());
    if (strUpper(info.fileSystem) == strUpper(strFileSystem) && strUpper(info.label) == strUpper(strLabel))
        return true;
    vDEBUG_ERR_printf("%s:%d: vLowLevelFormatTracks: Post-Check Fail , ucPhysicalAddress:[%d] , m_cDriveLetter:[%c] ,  "
                      "Cmp FSParam[%s] and CheckFSType[%s] , Cmp DriveLabelName[%s] and CheckDriveLabelName[%s] , "
                      "dwErrorCode %d",
                      kMethod, __LINE__, ucPhysicalAddress, cDriveLetter, strFileSystem.c_str(),
                      info.fileSystem.c_str(), strLabel.c_str(), info.label.c_str(), nLastError());
    return false;
}

bool CFat32Format::vLowLevelFormatTracks(uint8_t ucPhysicalAddress, uint8_t ucFormatDriveType,
                                         const std::string& strLabel, uint8_t ucPartitionStyle, char cDriveLetter)
{
    static const char* const kMethod = "CFat32Format::vLowLevelFormatTracks";
    m_UsbDev.m_bOpen = 0;
    bool bResult = false;
    try {
        const int32_t iFSCapacity = vCheckFileSystemCapacity(ucPhysicalAddress);
        const std::string strTestLogicalDrive = std::string("\\\\.\\") + cDriveLetter + ":";
        // Only a volume of this port's drive is ever formatted: never the
        // system's, never one another drive's letter points at.
        if (cDriveLetter == FORMAT_NO_DRIVE_LETTER || iFSCapacity == FS_CAPACITY_UNKNOWN ||
            pUtility.vCheckFilePathExists(strTestLogicalDrive, 0) || !bDriveOfLetterIs(cDriveLetter, ucPhysicalAddress)) {
            vDEBUG_ERR_printf("%s:%d: vLowLevelFormatTracks: Pre-Check Fail , ucPhysicalAddress:[%d] , "
                              "m_cDriveLetter:[%c] ,  strTestLogicalDrive: %s , iFSCapacity : %d ",
                              kMethod, __LINE__, ucPhysicalAddress, cDriveLetter, strTestLogicalDrive.c_str(),
                              iFSCapacity);
            m_UsbDev.m_bOpen = 1;
            return false;
        }
        // A stopped worker tries no more: its drive is left to the next run.
        for (int nAttempt = 0; nAttempt < FORMAT_ATTEMPTS && !bResult && !bStopRequested(); ++nAttempt) {
            std::string strFileSystem = "FAT32";
            if (iFSCapacity == FS_CAPACITY_NTFS_ONLY || ucFormatDriveType == FORMAT_TYPE_NTFS)
                strFileSystem = "NTFS";
            else if (ucFormatDriveType == FORMAT_TYPE_EXFAT)
                strFileSystem = "EXFAT";
            else if (ucFormatDriveType != FORMAT_TYPE_FAT32)
                vDEBUG_ERR_printf("%s:%d: vLowLevelFormatTracks: Pre-Set Format Param Impossible , "
                                  "ucPhysicalAddress:[%d] , m_cDriveLetter:[%c] ,  ucFormat_drive_type %d",
                                  kMethod, __LINE__, ucPhysicalAddress, cDriveLetter, ucFormatDriveType);
            bResult = bFormatAttempt(ucPhysicalAddress, strFileSystem, strLabel, ucPartitionStyle, cDriveLetter);
            if (!bResult) {
                std::unique_ptr<krv::BlockDevice> disk =
                    krv::Platform::current().blockDevices().openDisk(ucPhysicalAddress, krv::BlockAccess::ReadWrite);
                if (!disk || !disk->updateProperties())
                    vDEBUG_ERR_printf("%s:%d: [%c] IOCTL_DISK_UPDATE_PROPERTIES Fail , dwErrorCode %d", kMethod,
                                      __LINE__, cDriveLetter, nLastError());
            }
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: CFat32Format::vLowLevelFormatTracks: dwErrorCode %d", kMethod, __LINE__,
                          nLastError());
        bResult = false;
    }
    m_UsbDev.m_bOpen = 1;
    return bResult;
}
