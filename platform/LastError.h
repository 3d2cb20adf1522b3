#pragma once
// The per-thread last-error number, in Windows' numbering, because the
// system's code branches on those values (122, 234, 259, 1005, 1056 ...).
#include <cstdint>

namespace krv {

namespace winerr {
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kInvalidFunction = 1;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kTooManyOpenFiles = 4;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kNotEnoughMemory = 8;
constexpr uint32_t kNotReady = 21;
constexpr uint32_t kCrc = 23;
constexpr uint32_t kWriteFault = 29;
constexpr uint32_t kReadFault = 30;
constexpr uint32_t kGenFailure = 31;
constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kHandleEof = 38;
constexpr uint32_t kNotSupported = 50;
constexpr uint32_t kFileExists = 80;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kBrokenPipe = 109;
constexpr uint32_t kDiskFull = 112;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kInvalidName = 123;
constexpr uint32_t kDirNotEmpty = 145;
constexpr uint32_t kLabelTooLong = 154;
constexpr uint32_t kBusy = 170;
constexpr uint32_t kAlreadyExists = 183;
constexpr uint32_t kFilenameExcedRange = 206;
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kOperationAborted = 995;
constexpr uint32_t kIoPending = 997;
constexpr uint32_t kNoAccess = 998;
constexpr uint32_t kUnrecognizedVolume = 1005;
constexpr uint32_t kServiceAlreadyRunning = 1056;
constexpr uint32_t kServiceDoesNotExist = 1060;
constexpr uint32_t kIoDevice = 1117;
constexpr uint32_t kDeviceNotConnected = 1167;
constexpr uint32_t kNotFound = 1168;
constexpr uint32_t kTimeout = 1460;
}  // namespace winerr

uint32_t lastError();
void setLastError(uint32_t code);
// The one table that maps a Linux errno to the Windows number.
uint32_t winErrorFromErrno(int err);
// Sets the last error from errno and returns it.
uint32_t setLastErrorFromErrno(int err);

}  // namespace krv
