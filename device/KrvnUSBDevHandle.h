#pragma once
// The drive handle of the vendor command routines: an opaque handle to an
// open SCSI pass-through device of the platform. Like the handles the
// routines were designed around, it has two "no device" values: NULL, and
// INVALID_HANDLE_VALUE, which an open that failed gives.
//
// Drive paths keep their usual text form, "\\.\PHYSICALDRIVE<n>" and
// "\\.\CDROM<n>", in logs and in the callers that pass a path around.
#include <cstdint>
#include <string>

#include "platform/ScsiPassThrough.h"

using HANDLE = krv::ScsiDevice*;

// What an open that failed gives. Never dereferenced.
HANDLE invalidHandleValue();
#define INVALID_HANDLE_VALUE (invalidHandleValue())

// True for a handle that names an open device.
inline bool bIsValidHandle(HANDLE hDev) { return hDev != nullptr && hDev != INVALID_HANDLE_VALUE; }

// Opens drive `nNumber`; INVALID_HANDLE_VALUE with the last error set when
// it cannot.
HANDLE CreateDriveHandle(krv::DriveKind eKind, int nNumber);
// Opens a drive by its path text, "\\.\PHYSICALDRIVE<n>" or "\\.\CDROM<n>"
// (any case; a forward slash is accepted for a backslash).
HANDLE CreateDriveHandle(const std::string& strPath);
// Closes an open handle; NULL and INVALID_HANDLE_VALUE are ignored.
void CloseDriveHandle(HANDLE hDev);

// "\\.\PHYSICALDRIVE3" / "\\.\CDROM1".
std::string strDrivePath(krv::DriveKind eKind, int nNumber);
// Reads a drive path; false when it is not one.
bool bParseDrivePath(const std::string& strPath, krv::DriveKind& eKind, int& nNumber);

// Owns one open handle and closes it exactly once.
class CDriveHandle {
public:
    CDriveHandle() = default;
    explicit CDriveHandle(HANDLE hDev) : m_hDev(hDev) {}
    ~CDriveHandle() { CloseDriveHandle(m_hDev); }
    CDriveHandle(CDriveHandle&& other) noexcept : m_hDev(other.release()) {}
    CDriveHandle& operator=(CDriveHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    CDriveHandle(const CDriveHandle&) = delete;
    CDriveHandle& operator=(const CDriveHandle&) = delete;

    HANDLE get() const { return m_hDev; }
    bool bIsValid() const { return bIsValidHandle(m_hDev); }
    HANDLE release()
    {
        HANDLE hDev = m_hDev;
        m_hDev = nullptr;
        return hDev;
    }
    void reset(HANDLE hDev = nullptr)
    {
        CloseDriveHandle(m_hDev);
        m_hDev = hDev;
    }

private:
    HANDLE m_hDev = nullptr;
};
