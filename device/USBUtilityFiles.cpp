// The file and folder operations of the utility object.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kBrowseListFile = "BrowsedBINPath.txt";

int nLastError() { return static_cast<int>(krv::lastError()); }

void vLogCatch(const char* pszMethod, int nLine)
{
    vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", pszMethod, nLine, nLastError());
}

void vSetLastErrorFrom(const std::error_code& ec)
{
    if (ec)
        krv::setLastErrorFromErrno(ec.value());
}

double dSumFolder(const fs::path& folder)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    if (ec) {
        vSetLastErrorFrom(ec);
        return 0;
    }
    double dTotal = 0;
    for (; it != end; it.increment(ec)) {
        fs::file_status st = it->symlink_status(ec);
        if (ec)
            continue;
        if (fs::is_regular_file(st)) {
            uintmax_t n = it->file_size(ec);
            if (!ec)
                dTotal += static_cast<double>(n);
        } else if (fs::is_directory(st)) {
            dTotal += dSumFolder(it->path());
        }
    }
    vSetLastErrorFrom(ec);
    return dTotal;
}

// True when copying the folder `strSource` to `strDestination` would copy it
// onto itself or into one of its own subfolders (which would never end).
bool bCopyIntoItself(const std::string& strSource, const std::string& strDestination)
{
    std::error_code ec;
    const fs::path from = fs::weakly_canonical(krv::toNativeSeparators(strSource), ec);
    if (ec)
        return false;
    const fs::path to = fs::weakly_canonical(krv::toNativeSeparators(strDestination), ec);
    if (ec)
        return false;
    auto itFrom = from.begin();
    auto itTo = to.begin();
    for (; itFrom != from.end(); ++itFrom, ++itTo) {
        if (itTo == to.end() || *itFrom != *itTo)
            return false;
    }
    return true;
}

}  // namespace

bool CUSBUtility::vCheckFilePathExists(const std::string& strFilePath, uint8_t ucShowMessage)
{
    try {
        const std::string strPath = krv::toNativeSeparators(strFilePath);
        const char* pszWhy = nullptr;
        if (!krv::pathAccessible(strPath, false, false))
            pszWhy = "Not Exist";
        else if (!krv::pathAccessible(strPath, true, false))
            pszWhy = "Not Read/Write";
        if (!pszWhy)
            return true;
        vDEBUG_ERR_printf("%s:%d: vCheckFilePathExists: %s , strFilePath : %s , err : %d , dwErrorCode %d",
                          "CUSBUtility::vCheckFilePathExists", __LINE__, pszWhy, strFilePath.c_str(), -1, nLastError());
        if (ucShowMessage == 1)
            nShowMessage(strFilePath + " File/Path Not Read/Write", krv::mb::kOk | krv::mb::kIconExclamation, 0);
        return false;
    } catch (...) {
        vLogCatch("CUSBUtility::vCheckFilePathExists", __LINE__);
        return false;
    }
}

bool CUSBUtility::vReadFile(const std::string& strPath, uint8_t* pucReadBuffer, uint32_t dwReadBufferSize,
                            uint32_t* pdwBytesRead)
{
    static const char* const kMethod = "CUSBUtility::vReadFile";
    if (pdwBytesRead)
        *pdwBytesRead = 0;
    try {
        if (!pucReadBuffer) {
            krv::setLastError(krv::winerr::kInvalidParameter);
            vDEBUG_ERR_printf("%s:%d:  strReadLogicalAddress[%s] not exist ucpReadBuffer[%p] is NULL ", kMethod,
                              __LINE__, strPath.c_str(), static_cast<void*>(pucReadBuffer));
            return false;
        }
        if (!vCheckFilePathExists(strPath, 0))
            return false;
        // Read-only access is all a read needs; a write-protected file is
        // read like any other.
        krv::File file;
        if (!file.open(krv::toNativeSeparators(strPath), krv::File::Mode::Read)) {
            vDEBUG_ERR_printf("%s:%d:  INVALID_HANDLE_VALUE Fail , strReadLogicalAddress[%s] , dwErrorCode %d", kMethod,
                              __LINE__, strPath.c_str(), nLastError());
            return false;
        }
        file.adviseSequential();
        uint64_t llFileSize = 0;
        if (!file.size(llFileSize)) {
            vDEBUG_ERR_printf("%s:%d: vReadFile: GetFileSize Fail , strReadLogicalAddress[%s] , dwErrorCode %d",
                              kMethod, __LINE__, strPath.c_str(), nLastError());
            return false;
        }
        uint64_t llToRead = llFileSize;
        if (llFileSize > dwReadBufferSize) {
            vDEBUG_ERR_printf("%s:%d: vReadFile: strReadLogicalAddress[%s] , dwFileSize[%llu] > dwReadBufferSize[%u]",
                              kMethod, __LINE__, strPath.c_str(), static_cast<unsigned long long>(llFileSize),
                              dwReadBufferSize);
            llToRead = dwReadBufferSize;
        }
        size_t nRead = 0;
        if (!file.read(pucReadBuffer, static_cast<size_t>(llToRead), nRead)) {
            vDEBUG_ERR_printf("%s:%d: vReadFile: ReadFile Fail , strReadLogicalAddress[%s] , "
                              "dwNumberOfBytesToRead[%llu] , dwRpt[%zu]s  dwErrorCode %d",
                              kMethod, __LINE__, strPath.c_str(), static_cast<unsigned long long>(llToRead), nRead,
                              nLastError());
            return false;
        }
        if (nRead != llToRead) {
            krv::setLastError(krv::winerr::kHandleEof);
            vDEBUG_ERR_printf("%s:%d: vReadFile: strReadLogicalAddress[%s] , dwRpt[%zu] != dwReadBufferSize[%llu]",
                              kMethod, __LINE__, strPath.c_str(), nRead, static_cast<unsigned long long>(llToRead));
            return false;
        }
        if (pdwBytesRead)
            *pdwBytesRead = static_cast<uint32_t>(nRead);
        return true;
    } catch (...) {
        vLogCatch(kMethod, __LINE__);
        return false;
    }
}

bool CUSBUtility::vWriteFile(const std::string& strPath, const uint8_t* pucWriteBuffer, uint32_t dwWriteBufferSize)
{
    static const char* const kMethod = "CUSBUtility::vWriteFile";
    try {
        if (!pucWriteBuffer) {
            krv::setLastError(krv::winerr::kInvalidParameter);
            vDEBUG_ERR_printf("%s:%d: vWriteFile:  strWriteLogicalAddress[%s] not exist ucpWriteBuffer[%p] is NULL ",
                              kMethod, __LINE__, strPath.c_str(), static_cast<const void*>(pucWriteBuffer));
            return false;
        }
        krv::File file;
        if (!file.open(krv::toNativeSeparators(strPath), krv::File::Mode::CreateTruncate)) {
            vDEBUG_ERR_printf("%s:%d: vWriteFile: INVALID_HANDLE_VALUE Fail ,  strWriteLogicalAddress[%s] , "
                              "dwErrorCode %d",
                              kMethod, __LINE__, strPath.c_str(), nLastError());
            return false;
        }
        size_t nWritten = 0;
        // Written through: the data is on the medium before we say so.
        if (!file.write(pucWriteBuffer, dwWriteBufferSize, nWritten) || !file.sync()) {
            vDEBUG_ERR_printf("%s:%d: vWriteFile: WriteFile Fail , strWriteLogicalAddress[%s] , "
                              "dwNumberOfBytesToWrite[%u] , dwRpt[%zu]s  dwErrorCode %d",
                              kMethod, __LINE__, strPath.c_str(), dwWriteBufferSize, nWritten, nLastError());
            return false;
        }
        uint64_t llSize = 0;
        if (!file.size(llSize)) {
            vDEBUG_ERR_printf("%s:%d: vWriteFile: GetFileSize Fail ,  strWriteLogicalAddress[%s] , dwErrorCode %d",
                              kMethod, __LINE__, strPath.c_str(), nLastError());
            return false;
        }
        if (llSize != dwWriteBufferSize) {
            vDEBUG_ERR_printf("%s:%d: vWriteFile: strWriteLogicalAddress[%s] , dwRpt[%llu] != dwWriteBufferSize[%u]",
                              kMethod, __LINE__, strPath.c_str(), static_cast<unsigned long long>(llSize),
                              dwWriteBufferSize);
            return false;
        }
        return file.close();
    } catch (...) {
        vLogCatch(kMethod, __LINE__);
        return false;
    }
}

bool CUSBUtility::bCopyFileChunks(const std::string& strSource, const std::string& strDestination, uint64_t llSize)
{
    static const char* const kMethod = "CUSBUtility::CopyFileMem";
    krv::File source;
    if (!source.open(strSource, krv::File::Mode::Read)) {
        vDEBUG_ERR_printf("%s:%d:  INVALID_HANDLE_VALUE Fail ,  file1[%s] , dwErrorCode %d", kMethod, __LINE__,
                          strSource.c_str(), nLastError());
        return false;
    }
    source.adviseSequential();
    // The caller has cleared the way: the destination is made new, so an
    // older, longer file cannot keep its tail and a link that could not be
    // removed is never followed to truncate whatever it points at.
    krv::File destination;
    if (!destination.open(strDestination, krv::File::Mode::CreateNew)) {
        vDEBUG_ERR_printf("%s:%d:  INVALID_HANDLE_VALUE Fail ,  file2[%s] , dwErrorCode %d", kMethod, __LINE__,
                          strDestination.c_str(), nLastError());
        return false;
    }

    const size_t nChunkMax = static_cast<size_t>(std::min<uint64_t>(llSize, COPY_FILE_CHUNK_SIZE));
    std::unique_ptr<uint8_t[]> pBuffer(nChunkMax ? new (std::nothrow) uint8_t[nChunkMax] : nullptr);
    if (nChunkMax && !pBuffer) {
        krv::setLastError(krv::winerr::kNotEnoughMemory);
        vDEBUG_ERR_printf("%s:%d: File  memory allocated Fail!!!: File1:%s , dwSizeFile1 = %llu, dwErrorCode %d",
                          kMethod, __LINE__, strSource.c_str(), static_cast<unsigned long long>(llSize), nLastError());
        return false;
    }

    int nReadCount = 0;
    for (uint64_t llOffset = 0; llOffset < llSize; llOffset += nChunkMax, ++nReadCount) {
        const size_t nChunk = static_cast<size_t>(std::min<uint64_t>(nChunkMax, llSize - llOffset));
        size_t nDone = 0;
        if (!source.read(pBuffer.get(), nChunk, nDone) || nDone != nChunk) {
            if (nDone != nChunk && krv::lastError() == 0)
                krv::setLastError(krv::winerr::kHandleEof);
            vDEBUG_ERR_printf("%s:%d: CompareFiles: vReadFile[%s] Len[%zu] Fail, dwError=%d ", kMethod, __LINE__,
                              strSource.c_str(), nChunk, nLastError());
            return false;
        }
        if (!destination.write(pBuffer.get(), nChunk, nDone)) {
            vDEBUG_ERR_printf("%s:%d: CopyFileMem: vWriteFile[%s] Len[%zu] Fail, dwError=%d", kMethod, __LINE__,
                              strDestination.c_str(), nChunk, nLastError());
            return false;
        }
        vDEBUG_MSG_printf("%s:%d: ucReadCount=%d, file2=[%s], buf[%llu]=%x ", kMethod, __LINE__, nReadCount,
                          strDestination.c_str(), static_cast<unsigned long long>(llOffset + nChunk - 1),
                          pBuffer[nChunk - 1]);
    }
    if (!destination.sync() || !destination.close()) {
        vDEBUG_ERR_printf("%s:%d: vWriteFile: Flush Buffer Failed... , dwErrorCode %d", kMethod, __LINE__,
                          nLastError());
        return false;
    }
    return true;
}

bool CUSBUtility::CopyFileMem(const std::string& strSource, const std::string& strDestination)
{
    static const char* const kMethod = "CUSBUtility::CopyFileMem";
    try {
        krv::setLastError(0);
        const std::string strFrom = krv::toNativeSeparators(strSource);
        const std::string strTo = krv::toNativeSeparators(strDestination);
        const auto llSize = static_cast<uint64_t>(dGetFolderSize(strFrom, 1));
        // A file copied onto itself (under another name, through a link or a
        // hard link) would be deleted by clearing the way below.
        std::error_code ec;
        if (fs::equivalent(strFrom, strTo, ec)) {
            krv::setLastError(krv::winerr::kAccessDenied);
            vDEBUG_ERR_printf("%s:%d: file1[%s] and file2[%s] are the same file", kMethod, __LINE__, strFrom.c_str(),
                              strTo.c_str());
            return false;
        }
        // An old file (or a link) in the way is removed; anything else there
        // (a folder, a device node) is not ours to delete and fails the copy.
        const fs::file_status stTo = fs::symlink_status(strTo, ec);
        if (fs::exists(stTo)) {
            if (!fs::is_regular_file(stTo) && !fs::is_symlink(stTo)) {
                krv::setLastError(krv::winerr::kAccessDenied);
                vDEBUG_ERR_printf("%s:%d:  INVALID_HANDLE_VALUE Fail ,  file2[%s] is no file , dwErrorCode %d",
                                  kMethod, __LINE__, strTo.c_str(), nLastError());
                return false;
            }
            fs::remove(strTo, ec);  // a failure here fails the exclusive create
        }
        if (!bCopyFileChunks(strFrom, strTo, llSize))
            return false;
        if (!krv::copyTimesAndMode(strFrom, strTo))
            vDEBUG_WRN_printf("%s:%d: file times of [%s] not kept , dwErrorCode %d", kMethod, __LINE__, strTo.c_str(),
                              nLastError());
        return true;
    } catch (...) {
        vLogCatch(kMethod, __LINE__);
        return false;
    }
}

bool CUSBUtility::Dir_Copy(const std::string& strSource, const std::string& strDestination, uint8_t ucPortSlot)
{
    static const char* const kMethod = "CUSBUtility::Dir_Copy";
    try {
        std::error_code ec;
        if (bCopyIntoItself(strSource, strDestination)) {
            krv::setLastError(krv::winerr::kAccessDenied);
            vDEBUG_ERR_printf("%s:%d: CopyDirectory(): Copy [%s] to [%s] failed: the destination is the source or "
                              "lies inside it",
                              kMethod, __LINE__, strSource.c_str(), strDestination.c_str());
            return false;
        }
        fs::directory_iterator it(krv::toNativeSeparators(strSource), ec), end;
        if (ec) {
            vSetLastErrorFrom(ec);
            vDEBUG_ERR_printf("%s:%d: CopyDirectory(): Copy [%s] to [%s] failed err = %d\n", kMethod, __LINE__,
                              strSource.c_str(), strDestination.c_str(), nLastError());
            return false;
        }
        for (; it != end; it.increment(ec)) {
            const std::string strName = it->path().filename().string();
            const std::string strFrom = krv::joinPath(strSource, strName);
            const std::string strTo = krv::joinPath(strDestination, strName);
            bool bOk;
            if (fs::is_directory(it->symlink_status(ec))) {
                fs::create_directory(strTo, ec);
                vSetLastErrorFrom(ec);
                bOk = !ec && Dir_Copy(strFrom, strTo, ucPortSlot);
            } else {
                bOk = CopyFileMem(strFrom, strTo);
            }
            if (!bOk) {
                vDEBUG_ERR_printf("%s:%d: CopyDirectory(): Copy [%s] to [%s] failed err = %d\n", kMethod, __LINE__,
                                  strFrom.c_str(), strTo.c_str(), nLastError());
                return false;
            }
        }
        if (ec) {
            vSetLastErrorFrom(ec);
            vDEBUG_ERR_printf("%s:%d: CopyDirectory(): Copy [%s] to [%s] failed err = %d\n", kMethod, __LINE__,
                              strSource.c_str(), strDestination.c_str(), nLastError());
            return false;
        }
        return true;
    } catch (...) {
        vLogCatch(kMethod, __LINE__);
        return false;
    }
}

double CUSBUtility::dGetFolderSize(const std::string& strPath, uint8_t ucSingleFile)
{
    try {
        const fs::path path(krv::toNativeSeparators(strPath));
        if (!ucSingleFile)
            return dSumFolder(path);
        std::error_code ec;
        if (!fs::is_regular_file(fs::status(path, ec)))
            return 0;
        uintmax_t n = fs::file_size(path, ec);
        vSetLastErrorFrom(ec);
        return ec ? 0 : static_cast<double>(n);
    } catch (...) {
        vLogCatch("CUSBUtility::dGetFolderSize", __LINE__);
        return 0;
    }
}

bool CUSBUtility::vDeleteFolderTree(const std::string& strFolder)
{
    try {
        const std::string strPath = krv::toNativeSeparators(strFolder);
        // Never the whole file system, whatever a setting says.
        if (strPath.empty() || fs::path(strPath).lexically_normal() == "/") {
            krv::setLastError(krv::winerr::kInvalidParameter);
            return false;
        }
        std::error_code ec;
        fs::remove_all(strPath, ec);  // removes a symbolic link, never what it points to
        if (ec) {
            vSetLastErrorFrom(ec);
            vDEBUG_ERR_printf("%s:%d: vDeleteFolderTree: [%s] not removed , dwErrorCode %d",
                              "CUSBUtility::vDeleteFolderTree", __LINE__, strFolder.c_str(), nLastError());
            return false;
        }
        return true;
    } catch (...) {
        vLogCatch("CUSBUtility::vDeleteFolderTree", __LINE__);
        return false;
    }
}

bool CUSBUtility::vSaveBINBrowseList(const std::string& strList)
{
    try {
        const std::string strPath = krv::joinPath(m_szProgramFolder, kBrowseListFile);
        if (krv::writeFileAtomic(strPath, strList))
            return true;
        vDEBUG_ERR_printf("%s:%d: vSaveBINBrowseList: [%s] not written , dwErrorCode %d",
                          "CUSBUtility::vSaveBINBrowseList", __LINE__, strPath.c_str(), nLastError());
        return false;
    } catch (...) {
        vLogCatch("CUSBUtility::vSaveBINBrowseList", __LINE__);
        return false;
    }
}

bool CUSBUtility::vDelDiskPartSetupInfo(int nPhysicalDrive)
{
    try {
        char szName[64];
        std::snprintf(szName, sizeof szName, "%s%d.%s", "DiskPartTarget", nPhysicalDrive, "sc");
        std::error_code ec;
        if (fs::remove(szName, ec))
            return true;
        vSetLastErrorFrom(ec);
        vDEBUG_ERR_printf("%s:%d: vSetDiskPartSetupInfo: No strDiskPartFileName[%s] to Delete  ",
                          "CUSBUtility::vDelDiskPartSetupInfo", __LINE__, szName);
        return false;
    } catch (...) {
        vLogCatch("CUSBUtility::vDelDiskPartSetupInfo", __LINE__);
        return false;
    }
}

char CUSBUtility::cGetFreeDriveLetter()
{
    krv::Volumes& volumes = krv::Platform::current().volumes();
    for (char c = 'E'; c <= 'Z'; ++c)
        if (!volumes.driveLetterInUse(c))
            return c;
    return NO_FREE_DRIVE_LETTER;
}
