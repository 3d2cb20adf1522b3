#pragma once
// KRV857xShowStatus's PD-type rule: the firmware file's PD kind, read from
// the SS field of its name, against each device's, read from its running
// firmware version. A device whose serial number is all zeros has not been
// given its identity yet and is not judged.
#include <optional>
#include <string>
#include <vector>

#include "device/DevList.h"

struct FWPDTypeDevice {
    std::string strSerialNumber;
    std::string strFWVersion;  // "%02x" x 6
};

// The refusal's message, empty when the file suits the devices;
// std::nullopt when the file name has no SS field or a version is too short
// to judge.
std::optional<std::string> strFWPDTypeByVersionMismatch(const std::string& strFWFileName,
                                                        const std::vector<FWPDTypeDevice>& devices);
// The rule over slots 0 .. nDeviceCount - 1 of the table, with its report: a
// refusal is logged and shown (in command-line mode it goes to the message
// file); a name or version it cannot judge refuses with a log line only.
bool bIsFWmatchPDtypeByVersion(const std::string& strFWFileName, const DevList& devList, int nDeviceCount);
