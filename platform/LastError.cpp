#include "platform/LastError.h"

#include <cerrno>

namespace krv {

namespace {
thread_local uint32_t t_lastError = 0;
}

uint32_t lastError() { return t_lastError; }
void setLastError(uint32_t code) { t_lastError = code; }

uint32_t winErrorFromErrno(int err)
{
    switch (err) {
    case 0: return winerr::kSuccess;
    case ENOENT: return winerr::kFileNotFound;
    case ENOTDIR: return winerr::kPathNotFound;
    case EMFILE:
    case ENFILE: return winerr::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS: return winerr::kAccessDenied;
    case EBADF: return winerr::kInvalidHandle;
    case ENOMEM: return winerr::kNotEnoughMemory;
    case EIO: return winerr::kIoDevice;
    case EBUSY: return winerr::kBusy;
    case EEXIST: return winerr::kAlreadyExists;
    case EINVAL: return winerr::kInvalidParameter;
    case EPIPE: return winerr::kBrokenPipe;
    case ENOSPC:
    case EDQUOT: return winerr::kDiskFull;
    case ENAMETOOLONG: return winerr::kFilenameExcedRange;
    case ENOTEMPTY: return winerr::kDirNotEmpty;
    case ETIMEDOUT: return winerr::kTimeout;
    case ECANCELED:
    case EINTR: return winerr::kOperationAborted;
    case ENODEV:
    case ENXIO: return winerr::kDeviceNotConnected;
    case ENOSYS:
    case EOPNOTSUPP: return winerr::kNotSupported;
    case ESRCH: return winerr::kInvalidParameter;
    case EFAULT: return winerr::kNoAccess;
    default: return winerr::kGenFailure;
    }
}

uint32_t setLastErrorFromErrno(int err)
{
    t_lastError = winErrorFromErrno(err);
    return t_lastError;
}

}  // namespace krv
