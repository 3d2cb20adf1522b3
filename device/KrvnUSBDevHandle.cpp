#include "device/KrvnUSBDevHandle.h"

#include <cctype>
#include <cstdint>
#include <memory>

#include "platform/LastError.h"
#include "platform/Platform.h"

HANDLE invalidHandleValue() { return reinterpret_cast<HANDLE>(~uintptr_t{0}); }

HANDLE CreateDriveHandle(krv::DriveKind eKind, int nNumber)
{
    if (nNumber < 0) {
        krv::setLastError(krv::winerr::kFileNotFound);
        return INVALID_HANDLE_VALUE;
    }
    std::unique_ptr<krv::ScsiDevice> device = krv::Platform::current().scsi().open(eKind, nNumber);
    if (!device) {
        if (krv::lastError() == krv::winerr::kSuccess)
            krv::setLastError(krv::winerr::kFileNotFound);
        return INVALID_HANDLE_VALUE;
    }
    return device.release();
}

HANDLE CreateDriveHandle(const std::string& strPath)
{
    krv::DriveKind eKind;
    int nNumber;
    if (!bParseDrivePath(strPath, eKind, nNumber)) {
        krv::setLastError(krv::winerr::kFileNotFound);
        return INVALID_HANDLE_VALUE;
    }
    return CreateDriveHandle(eKind, nNumber);
}

void CloseDriveHandle(HANDLE hDev)
{
    if (bIsValidHandle(hDev))
        delete hDev;
}

std::string strDrivePath(krv::DriveKind eKind, int nNumber)
{
    return std::string("\\\\.\\") + (eKind == krv::DriveKind::CdRom ? "CDROM" : "PHYSICALDRIVE") +
           std::to_string(nNumber);
}

namespace {

bool bStartsWithNoCase(const std::string& strText, size_t nPos, const char* pszWord, size_t& nEnd)
{
    size_t i = 0;
    for (; pszWord[i] != '\0'; ++i) {
        if (nPos + i >= strText.size() ||
            std::toupper(static_cast<unsigned char>(strText[nPos + i])) != static_cast<unsigned char>(pszWord[i]))
            return false;
    }
    nEnd = nPos + i;
    return true;
}

bool bIsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool bParseDrivePath(const std::string& strPath, krv::DriveKind& eKind, int& nNumber)
{
    if (strPath.size() < 4 || !bIsSeparator(strPath[0]) || !bIsSeparator(strPath[1]) || strPath[2] != '.' ||
        !bIsSeparator(strPath[3]))
        return false;
    size_t nPos = 0;
    if (bStartsWithNoCase(strPath, 4, "PHYSICALDRIVE", nPos))
        eKind = krv::DriveKind::PhysicalDrive;
    else if (bStartsWithNoCase(strPath, 4, "CDROM", nPos))
        eKind = krv::DriveKind::CdRom;
    else
        return false;
    if (nPos == strPath.size() || strPath.size() - nPos > 3)
        return false;
    int nValue = 0;
    for (; nPos < strPath.size(); ++nPos) {
        if (!std::isdigit(static_cast<unsigned char>(strPath[nPos])))
            return false;
        nValue = nValue * 10 + (strPath[nPos] - '0');
    }
    nNumber = nValue;
    return true;
}
