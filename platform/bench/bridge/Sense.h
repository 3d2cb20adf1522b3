#pragma once
// How a bench device ends a command: SCSI status and fixed-format sense data,
// as a USB bridge reports them, and the last-error numbers of a transfer that
// never completed.
#include <cstdint>

#include "platform/ScsiPassThrough.h"

namespace krv::bench {

namespace scsi {
constexpr uint8_t kGood = 0x00;
constexpr uint8_t kCheckCondition = 0x02;

constexpr uint8_t kNotReady = 0x02;
constexpr uint8_t kHardwareError = 0x04;
constexpr uint8_t kIllegalRequest = 0x05;

constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidFieldInCdb = 0x24;
constexpr uint8_t kAscInvalidFieldInParameters = 0x26;
constexpr uint8_t kAscNotReady = 0x04;       // with ASCQ 07: operation in progress
constexpr uint8_t kAscqOperationInProgress = 0x07;
constexpr uint8_t kAscInternalTargetFailure = 0x44;
}  // namespace scsi

// Last errors of a transfer that failed below the device's answer, as the
// system sees them from its pass-through call.
namespace transport {
constexpr uint32_t kIoDeviceError = 1117;       // the device did not complete the command
constexpr uint32_t kSemaphoreTimeout = 121;     // the command's time-out ran out
constexpr uint32_t kDeviceNotConnected = 1167;  // the device has left the bus
constexpr uint32_t kInvalidParameter = 87;      // a malformed request never reached the device
constexpr uint32_t kInvalidHandle = 6;          // the bench behind the handle has closed
}  // namespace transport

struct SenseCode {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;

    bool operator==(const SenseCode&) const = default;
};

inline constexpr SenseCode kInvalidOpcode{scsi::kIllegalRequest, scsi::kAscInvalidOpcode, 0};
inline constexpr SenseCode kInvalidField{scsi::kIllegalRequest, scsi::kAscInvalidFieldInCdb, 0};
inline constexpr SenseCode kInvalidParameters{scsi::kIllegalRequest, scsi::kAscInvalidFieldInParameters, 0};
inline constexpr SenseCode kBusyProgramming{scsi::kNotReady, scsi::kAscNotReady, scsi::kAscqOperationInProgress};
inline constexpr SenseCode kInternalFailure{scsi::kHardwareError, scsi::kAscInternalTargetFailure, 0};

// Ends `command` with CHECK CONDITION and fixed-format sense (18 bytes, or
// fewer when the record holds fewer); nothing is transferred.
void endWithCheckCondition(ScsiCommand& command, SenseCode sense);
// Ends `command` with GOOD status after `transferred` bytes.
void endGood(ScsiCommand& command, uint32_t transferred);

}  // namespace krv::bench
