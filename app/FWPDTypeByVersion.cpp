#include "app/FWPDTypeByVersion.h"

#include <algorithm>

#include "app/FWFileRules.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"

namespace {

constexpr const char* kNamePrefix = "KV_USB4";
// The SS field's second character, counted from the prefix's start.
constexpr size_t kSSKindOffset = 16;
// The character of the running version that carries the device's PD kind.
constexpr size_t kVersionKindIndex = 7;
constexpr const char* kBlankSerial = "00000000000000000000";

bool bExternalBit(char c) { return (static_cast<unsigned char>(c) & FWFILE_PD_TYPE_EXTERNAL) != 0; }

}  // namespace

std::optional<std::string> strFWPDTypeByVersionMismatch(const std::string& strFWFileName,
                                                        const std::vector<FWPDTypeDevice>& devices)
{
    const size_t nPrefix = strFWFileName.find(kNamePrefix);
    if (nPrefix == std::string::npos || nPrefix + kSSKindOffset >= strFWFileName.size())
        return std::nullopt;
    const bool bFWExternal = bExternalBit(strFWFileName[nPrefix + kSSKindOffset]);
    int nInternal = 0;
    int nExternal = 0;
    bool bBlank = false;
    for (const FWPDTypeDevice& device : devices) {
        if (device.strSerialNumber == kBlankSerial) {
            bBlank = true;
            continue;
        }
        if (device.strFWVersion.size() <= kVersionKindIndex)
            return std::nullopt;
        ++(bExternalBit(device.strFWVersion[kVersionKindIndex]) ? nExternal : nInternal);
    }
    // Every device judged must take the file's kind: one that fits does not
    // carry the others.
    const int nFitting = bFWExternal ? nExternal : nInternal;
    const int nOther = bFWExternal ? nInternal : nExternal;
    if (nOther == 0 && (nFitting > 0 || bBlank))
        return std::string();
    return CVIVadeDlg::vSprintf127(
        "please check the FW and device PD type\r\n FW ext PD:%d, internal PD device:%d, external PD device:%d",
        bFWExternal ? 1 : 0, nInternal, nExternal);
}

bool bIsFWmatchPDtypeByVersion(const std::string& strFWFileName, const DevList& devList, int nDeviceCount)
{
    static const char* const kWho = "CVIVadeDlg::bIsFWmatchPDtype";
    std::vector<FWPDTypeDevice> devices;
    for (int i = 0; i < std::clamp(nDeviceCount, 0, MAX_DEV_SLOTS); ++i)
        devices.push_back({devList.Devs[i].m_strSerialNumber, devList.Devs[i].m_strFWVersion});
    const std::optional<std::string> strMessage = strFWPDTypeByVersionMismatch(strFWFileName, devices);
    if (!strMessage) {
        vDEBUG_ERR_printf("%s:%d: no PD type in [%s] or a device's firmware version", kWho, __LINE__,
                          strFWFileName.c_str());
        return false;
    }
    if (strMessage->empty())
        return true;
    vDEBUG_ERR_printf("%s:%d: %s", kWho, __LINE__, strMessage->c_str());
    pUtility.nShowProgramMessage(*strMessage, MSG_TYPE_INFORMATION, 0, CUSBUtility::EMessageTarget::eMessageBox);
    return false;
}
