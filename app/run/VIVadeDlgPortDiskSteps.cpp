// The disk steps of a port worker, after the configuration check: partition
// and format (with the partition barrier between the two), the write/read
// test with the speed test, and the preload copy.
//
// A step does device work only while every earlier step of the port passed;
// otherwise it still writes its result and its FAIL cell. Every drive letter
// a step works on is looked up from the port's own drive, so a step never
// reaches a volume of another drive, of the system's disk, or C:.
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "app/Ini.h"
#include "app/run/PortWork.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "format/Fat32Format.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/StopAwareLock.h"
#include "platform/WaitableMutex.h"

namespace {

const char* const kWho = "CVIVadeDlg::ChildThreadFun";

constexpr uint32_t PARTITION_BARRIER_POLL_MS = 100;
// Free space the write/read test wants, in test-file sizes.
constexpr uint64_t WR_TEST_FREE_SPACE_FACTOR = 10;
constexpr int SPEED_TEST_TRIES = 3;
constexpr uint32_t SPEED_TEST_SIZE_MIB = 1;
// The preload source is handed on in a 127-byte text.
constexpr size_t PRELOAD_PATH_MAX = 126;
constexpr uint64_t PRELOAD_SETTLE_MS = 500;

int nLastError() { return static_cast<int>(krv::lastError()); }

// A port that has no letter takes the first free one and assigns it with its
// partition. Both happen under this lock, so two ports never take the same
// free letter (the second partition would fail on it). diskpart runs one at
// a time anyway (m_PartitionCriticalSection, taken inside the partition).
krv::WaitableMutex g_PartitionLetterMutex;

// The letter search opens every volume in turn, while the format needs its
// volume to itself: a search of another port that holds the volume open at
// the moment the format opens it fails that format (the handle is shared,
// the format's is exclusive). So every search, and every format from its own
// search to its end, holds this lock. It is taken last, after any step's
// lock, and nothing else is taken under it.
krv::WaitableMutex g_PortVolumeMutex;

// The letter of the volume on the port's drive (waiting for it to show up),
// also kept in the record; DEV_DRIVE_LETTER_NONE when there is none, or when
// the drive is the one the system runs from. The caller holds
// g_PortVolumeMutex.
char cFindPortLetterLocked(DevInfo& dev)
{
    char cLetter = g_UsbDev.vGetLogicalAddressFromPhysicalAddress(dev.m_ucPhysicalAddress, 1);
    for (char c : krv::Platform::current().volumes().lettersOfDisk(dev.m_ucPhysicalAddress))
        if (c == 'C') {
            vDEBUG_ERR_printf("%s:%d: ChildThreadFun: PhysicalDrive%d holds C:, never a port's drive", kWho, __LINE__,
                              dev.m_ucPhysicalAddress);
            cLetter = DEV_DRIVE_LETTER_NONE;
        }
    dev.m_cDriveLetter = cLetter;
    return cLetter;
}

// As above, with the lock taken here; none when the worker is stopped first.
char cFindPortLetter(DevInfo& dev, const krv::StopSource& stop)
{
    krv::StopAwareLock lock(g_PortVolumeMutex, &stop);
    if (!lock)
        return DEV_DRIVE_LETTER_NONE;
    return cFindPortLetterLocked(dev);
}

// The folder through which the letter's volume takes files; empty when it
// takes none.
std::string strVolumeRoot(char cLetter)
{
    if (cLetter == DEV_DRIVE_LETTER_NONE)
        return {};
    return krv::Platform::current().volumes().mountPath(cLetter);
}

// "X:\name" as a path of this system; empty when the volume takes no files
// or the name would lead out of the volume.
std::string strOnVolume(char cLetter, const std::string& strName)
{
    const std::string strRoot = strVolumeRoot(cLetter);
    if (strRoot.empty())
        return {};
    for (const auto& part : std::filesystem::path(krv::toNativeSeparators(strName)))
        if (part == "..")
            return {};
    return krv::joinPath(strRoot, strName);
}

void vDeleteFile(const std::string& strPath)
{
    std::error_code ec;
    std::filesystem::remove(strPath, ec);
}

bool bPartitionPortDrive(CPortWork& work, DevInfo& dev, CFat32Format& format)
{
    if (g_UsbDev.vGetDiskPhysicalSize(dev.m_ucPhysicalAddress) == DISK_SIZE_FAILED)
        return false;
    krv::StopAwareLock lock(g_PartitionLetterMutex, &work.m_Stop);
    if (!lock)
        return false;
    if (dev.m_cDriveLetter == DEV_DRIVE_LETTER_NONE)
        dev.m_cDriveLetter = pUtility.cGetFreeDriveLetter();
    return format.vCreatePartition(dev.m_cDriveLetter, dev.m_ucPhysicalAddress, pIni.m_pINI.partition_drive_type,
                                   dev.m_dwDiskInfo[2], 0);
}

bool bFormatPortDrive(CPortWork& work, DevInfo& dev, CFat32Format& format)
{
    krv::StopAwareLock lock(pUtility.m_ChildThreadFormatUtilityCriticalSection, &work.m_Stop);
    if (!lock)
        return false;
    krv::StopAwareLock volumeLock(g_PortVolumeMutex, &work.m_Stop);
    if (!volumeLock)
        return false;
    const char cLetter = cFindPortLetterLocked(dev);
    if (cLetter == DEV_DRIVE_LETTER_NONE)
        return false;
    const IniRecord& ini = pIni.m_pINI;
    return format.vLowLevelFormatTracks(dev.m_ucPhysicalAddress, ini.format_drive_type, ini.drive_label_name.str(),
                                        ini.partition_drive_type, cLetter);
}

// Reads the file into the whole buffer, cleared first: a read that did
// nothing, or a file shorter than the test (a truncated copy), leaves no
// bytes of an earlier pass to compare equal, and fails.
bool bReadWholeBuffer(uint8_t ucSlot, int nCount, const std::string& strPath, std::vector<uint8_t>& buffer)
{
    const uint32_t dwSize = static_cast<uint32_t>(buffer.size());
    std::fill(buffer.begin(), buffer.end(), 0);
    uint32_t dwRead = 0;
    if (pUtility.vReadFile(strPath, buffer.data(), dwSize, &dwRead) && dwRead == dwSize)
        return true;
    vDEBUG_ERR_printf("%s:%d: ChildThreadFun: [%d] TestCount[%d] vReadFile[%s] Len[%u] Fail", kWho, __LINE__, ucSlot,
                      nCount, strPath.c_str(), dwSize);
    return false;
}

// One repetition: the source into one buffer, a copy of it onto the volume
// and back into the other, both compared; the volume's copy is deleted.
bool bWrRdTestOnce(uint8_t ucSlot, int nCount, const std::string& strSource, const std::string& strTarget,
                   std::vector<uint8_t>& write, std::vector<uint8_t>& read)
{
    const uint32_t dwSize = static_cast<uint32_t>(write.size());
    if (!bReadWholeBuffer(ucSlot, nCount, strSource, write))
        return false;
    read = write;
    vDeleteFile(strTarget);
    bool bResult = pUtility.vWriteFile(strTarget, read.data(), dwSize);
    if (!bResult)
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: [%d] TestCount[%d] vWriteFile[%s] Len[%u] Fail", kWho, __LINE__,
                          ucSlot, nCount, strTarget.c_str(), dwSize);
    else
        bResult = bReadWholeBuffer(ucSlot, nCount, strTarget, write);
    if (bResult && write != read) {
        const auto diff = std::mismatch(write.begin(), write.end(), read.begin());
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: [%d] TestCount[%d] Cmp m_ucpWriteBuffer[%p] and m_ucpReadBuffer[%p] "
                          "Size[%u] Invalid [%d]",
                          kWho, __LINE__, ucSlot, nCount, static_cast<void*>(write.data()),
                          static_cast<void*>(read.data()), dwSize, static_cast<int>(diff.first - write.begin()));
        bResult = false;
    }
    vDeleteFile(strTarget);
    return bResult;
}

bool bWrRdTestPortDrive(DevInfo& dev, uint8_t ucSlot, const krv::StopSource& stop)
{
    const IniRecord& ini = pIni.m_pINI;
    const std::string strName = ini.wr_test_binary_name.str();
    const char cLetter = cFindPortLetter(dev, stop);
    const std::string strSource = krv::joinPath(pUtility.m_szProgramFolder, strName);
    const std::string strTarget = strOnVolume(cLetter, strName);
    if (cLetter == DEV_DRIVE_LETTER_NONE || strTarget.empty() || !pUtility.vCheckFilePathExists(strSource, 0)) {
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: Pre-WrRdTest Check Fail , [%d] m_cDriveLetter = [%c] , "
                          "strWrRdTestSourceFilePath [%s]",
                          kWho, __LINE__, ucSlot, cLetter, strSource.c_str());
        return false;
    }
    vDEBUG_MSG_printf("%s:%d: ChildThreadFun: Test , ucTargetNumber %d , strWrRdTestSourceFilePath %s", kWho, __LINE__,
                      ucSlot, strSource.c_str());
    const uint32_t dwSize = dev.m_dwWrRdTestSize;
    const uint64_t ullFreeMiB = g_UsbDev.vGetDiskFreeSpace(cLetter);
    if (ullFreeMiB != DISK_FREE_SPACE_FAILED && ullFreeMiB < ((uint64_t{dwSize} * WR_TEST_FREE_SPACE_FACTOR) >> 20)) {
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: DiskFreeSpace too small , [%d] m_cDriveLetter = [%c]", kWho, __LINE__,
                          ucSlot, cLetter);
        return false;
    }
    // The buffers live only for the test.
    std::vector<uint8_t> write(dwSize);
    std::vector<uint8_t> read(dwSize);
    for (int nCount = 0; nCount < ini.wr_test_count; ++nCount)
        if (!bWrRdTestOnce(ucSlot, nCount, strSource, strTarget, write, read))
            return false;
    return true;
}

// Up to three tries; the first that measures both limits passes.
bool bSpeedTestPortDrive(const DevInfo& dev, uint8_t ucSlot, long lReadLimit, long lWriteLimit)
{
    double dReadSpeed = 0.0;
    double dWriteSpeed = 0.0;
    bool bResult = false;
    for (int nTry = 0; nTry < SPEED_TEST_TRIES && !bResult; ++nTry) {
        const int iResult = g_UsbDev.vReadWriteSpeedTest(dev.m_cDriveLetter, DiskInfoBlock::of(dev), dReadSpeed,
                                                         dWriteSpeed, static_cast<uint8_t>(nTry), SPEED_TEST_SIZE_MIB);
        bResult = iResult == SPEED_TEST_OK && dReadSpeed >= static_cast<double>(lReadLimit) &&
                  dWriteSpeed >= static_cast<double>(lWriteLimit);
    }
    vDEBUG_MSG_printf("%s:%d: DEV[%d] SPEED TEST RESULT:: dReadSpeed %.2f; dWriteSpeed %.2f", kWho, __LINE__, ucSlot,
                      dReadSpeed, dWriteSpeed);
    return bResult;
}

// The drive lets go of its volume once the copy is done, so what the copy
// wrote is on the disk and the volume is seen afresh.
void vReleasePortVolume(uint8_t ucPhysicalAddress, char cLetter)
{
    const std::string strPhysicalAddress = "\\\\.\\PHYSICALDRIVE" + std::to_string(ucPhysicalAddress);
    std::unique_ptr<krv::BlockDevice> disk = krv::Platform::current().blockDevices().openDisk(
        ucPhysicalAddress, krv::BlockAccess::ReadWrite, krv::BlockShare::None);
    if (!disk) {
        vDEBUG_ERR_printf("%s:%d: Do Preload: CreateFile Fail, strPhysicalAddress=%s, dwErrorCode %d", kWho, __LINE__,
                          strPhysicalAddress.c_str(), nLastError());
        return;
    }
    if (!disk->lock())
        vDEBUG_ERR_printf("%s:%d: Do Preload: FSCTL_LOCK_VOLUME Failed... , dwErrorCode %d", kWho, __LINE__,
                          nLastError());
    if (!disk->dismount())
        vDEBUG_ERR_printf("%s:%d: Do Preload: FSCTL_DISMOUNT_VOLUME Failed... , dwErrorCode %d", kWho, __LINE__,
                          nLastError());
    if (!disk->unlock())
        vDEBUG_ERR_printf("%s:%d: Do Preload: FSCTL_UNLOCK_VOLUME Failed... , dwErrorCode %d", kWho, __LINE__,
                          nLastError());
    if (!disk->updateProperties())
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: Do Preload,: %c IOCTL_DISK_UPDATE_PROPERTIES Fail , dwErrorCode %d",
                          kWho, __LINE__, cLetter, nLastError());
}

std::string strWithoutTrailingSeparator(std::string strPath)
{
    if (strPath.size() > 1 && (strPath.back() == '\\' || strPath.back() == '/'))
        strPath.pop_back();
    return strPath;
}

bool bPreloadPortDrive(DevInfo& dev, uint8_t ucSlot, const std::string& strPreloadPath, const krv::StopSource& stop)
{
    vDEBUG_MSG_printf("%s:%d: Do Preload[%d]", kWho, __LINE__, ucSlot);
    const char cLetter = cFindPortLetter(dev, stop);
    const std::string strTarget = strVolumeRoot(cLetter);
    if (strTarget.empty() || !pUtility.vCheckFilePathExists(strPreloadPath, 0)) {
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: Preload folder Check Fail , [%d] m_cDriveLetter = [%c] , "
                          "strPreloadSourceFilePath [%s]",
                          kWho, __LINE__, ucSlot, cLetter, strPreloadPath.c_str());
        return false;
    }
    const double dFolderBytes = pUtility.dGetFolderSize(strPreloadPath, 0);
    const uint64_t ullFreeMiB = g_UsbDev.vGetDiskFreeSpace(cLetter);
    if (ullFreeMiB != DISK_FREE_SPACE_FAILED && static_cast<double>(ullFreeMiB) < dFolderBytes / 1024 / 1024) {
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: Do Preload, [%d], Freespace is not enough [%lld]. m_cDriveLetter = "
                          "[%c]",
                          kWho, __LINE__, ucSlot, static_cast<long long>(ullFreeMiB), cLetter);
        return false;
    }
    const std::string strSource = strWithoutTrailingSeparator(strPreloadPath);
    if (strSource.size() > PRELOAD_PATH_MAX) {
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: Do Preload, [%d], strPreloadSourceFilePath [%s] is longer than %d "
                          "characters",
                          kWho, __LINE__, ucSlot, strSource.c_str(), static_cast<int>(PRELOAD_PATH_MAX));
        return false;
    }
    const bool bResult = pUtility.Dir_Copy(strSource, strWithoutTrailingSeparator(strTarget), ucSlot);
    krv::Platform::current().clock().sleepMs(PRELOAD_SETTLE_MS, &stop);
    vReleasePortVolume(dev.m_ucPhysicalAddress, cLetter);
    return bResult;
}

// Whether the port's drive number still reaches the port's own bridge: the
// drive of the USB device on the port's hub place, which reports the serial
// the port last found it with. A drive that left the bus for a while (its
// reset, a loose cable) may have given its number to another disk, which
// must never be partitioned, formatted or written.
bool bPortDriveIsOwn(const CPortWork& work, const DevInfo& dev, const char* pszStep)
{
    if (!work.m_bHoldsSlot)
        return false;
    const DevInfo& own = work.m_Run.m_Device;
    // A bridge without a hub place (a PCIe target) has no USB device to ask.
    if (own.m_strHubName.empty() || dev.m_bPCIE)
        return true;
    if (CKrvnUSBDev::bDriveOnHubPort(own.m_strHubName, own.m_ulPortIndex, krv::DriveKind::PhysicalDrive,
                                     dev.m_ucPhysicalAddress, own.m_strSerialNumber))
        return true;
    vDEBUG_ERR_printf("%s:%d: ChildThreadFun: [%d] %s: PhysicalDrive%d is not the drive of the bridge [%s] on %s "
                      "port %u any more",
                      kWho, __LINE__, work.m_Param.m_ucPort, pszStep, dev.m_ucPhysicalAddress,
                      own.m_strSerialNumber.c_str(), own.m_strHubName.c_str(), own.m_ulPortIndex);
    return false;
}

}  // namespace

void CVIVadeDlg::vChildStepFormat(CPortWork& work)
{
    if (!m_DevList.m_bDoFormat) {
        vUpdateMainResultItemTable(work.ucRow(), RESULT_COL_PARTITION, "", CELL_MODE_PLAIN);
        work.vSetResult(m_DevList, &DevResults::m_bFormatDone, 1);
        return;
    }
    CFat32Format format(g_UsbDev);
    DevInfo& dev = m_DevList.Devs[work.m_ucSlot];
    if (dev.m_bPCIE || dev.m_bIsCDROM)
        work.m_ucResult = 0;
    if (work.m_ucResult == 1)
        work.m_ucResult = bPortDriveIsOwn(work, dev, "partition") && bPartitionPortDrive(work, dev, format) ? 1 : 0;
    work.vSetResult(m_DevList, &DevResults::m_bPartitionResult, work.m_ucResult);
    vSetStepCell(work, RESULT_COL_PARTITION, work.m_ucResult);
    work.vAddShare();

    // Every port partitions before any port formats. A port that failed
    // arrives all the same, so it never holds the others.
    work.vSetResult(m_DevList, &DevResults::m_bPartitionDone, 1);
    const bool bAllArrived = bWaitForPorts(work, PARTITION_BARRIER_POLL_MS, [](const ChildThreadParam& param) {
        return param.m_Results.m_bPartitionDone == 1;
    });
    if (!bAllArrived) {
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: [%d] stopped at the partition barrier", kWho, __LINE__, work.m_ucSlot);
        work.m_ucResult = 0;
    }
    if (work.m_ucResult != 0) {
        work.m_ucResult = bPortDriveIsOwn(work, dev, "format") && bFormatPortDrive(work, dev, format) ? 1 : 0;
        work.vSetResult(m_DevList, &DevResults::m_bFormatResult, work.m_ucResult);
        vSetStepCell(work, RESULT_COL_PARTITION, work.m_ucResult);
        work.vAddShare();
    } else {
        work.vSetResult(m_DevList, &DevResults::m_bFormatResult, 0);
        vSetStepCell(work, RESULT_COL_PARTITION, 0);
    }
    work.vSetResult(m_DevList, &DevResults::m_bFormatDone, 1);
}

void CVIVadeDlg::vChildStepWrRdTest(CPortWork& work)
{
    if (!m_DevList.m_bDoWrRdTest) {
        vUpdateMainResultItemTable(work.ucRow(), RESULT_COL_RW_TEST, "", CELL_MODE_PLAIN);
        return;
    }
    DevInfo& dev = m_DevList.Devs[work.m_ucSlot];
    if (dev.m_bIsCDROM)
        work.m_ucResult = 0;
    if (work.m_ucResult == 1) {
        const bool bOwn = bPortDriveIsOwn(work, dev, "write/read test");
        work.m_ucResult = bOwn && bWrRdTestPortDrive(dev, work.m_ucSlot, work.m_Stop) ? 1 : 0;
    }
    if (work.m_ucResult == 1 && m_DevList.m_bDoSpeedTest) {
        const CPortRunInputs& inputs = work.m_Run.m_Inputs;
        work.m_ucResult =
            bSpeedTestPortDrive(dev, work.m_ucSlot, inputs.lReadSpeedLimit, inputs.lWriteSpeedLimit) ? 1 : 0;
    }
    work.vSetResult(m_DevList, &DevResults::m_bWrRdTestResult, work.m_ucResult);
    vSetStepCell(work, RESULT_COL_RW_TEST, work.m_ucResult);
    work.vAddShare();
}

void CVIVadeDlg::vChildStepPreload(CPortWork& work)
{
    DevInfo& dev = m_DevList.Devs[work.m_ucSlot];
    if (!m_DevList.m_bDoPreload || dev.m_bIsCDROM) {
        vUpdateMainResultItemTable(work.ucRow(), RESULT_COL_PRELOAD, "", CELL_MODE_PLAIN);
        return;
    }
    if (dev.m_bPCIE)
        work.m_ucResult = 0;
    if (work.m_ucResult == 1) {
        // One preload copy at a time.
        krv::StopAwareLock lock(pUtility.m_ChildThreadPreloadCriticalSection, &work.m_Stop);
        work.m_ucResult = lock && bPortDriveIsOwn(work, dev, "preload") &&
                                  bPreloadPortDrive(dev, work.m_ucSlot, work.m_Run.m_Inputs.strPreloadPath, work.m_Stop)
                              ? 1
                              : 0;
    } else {
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: Do Preload Fail[%d] ", kWho, __LINE__, work.m_ucSlot);
    }
    work.vSetResult(m_DevList, &DevResults::m_bPreloadResult, work.m_ucResult);
    vSetStepCell(work, RESULT_COL_PRELOAD, work.m_ucResult);
    work.vAddShare();
}
