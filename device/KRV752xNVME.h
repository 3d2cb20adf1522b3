#pragma once
// The device-access object for bridges with an NVMe drive behind them: the
// NVMe Identify command through the bridge (vendor command E6) and the
// drive texts read from it. There is one process-wide instance, g_NvmeDev;
// like g_UsbDev its constructor only zeroes it.
#include <cstdint>
#include <string>

#include "device/KrvnUSBDev.h"

class CKRV752xNVME : public CKrvnUSBDev {
public:
    CKRV752xNVME() = default;
    ~CKRV752xNVME() override = default;

    // NVMe Identify with the given CNS into a 4096-byte buffer (left as it
    // was when the command fails).
    static int NVME_GetIdentify(HANDLE hDev, uint8_t* pBuf, uint8_t ucCNS);
    // The controller's firmware revision / serial number, trimmed; empty on
    // any failure. The drive is opened and closed here.
    static std::string strGetNVMEFirmwareRevision(int nPhysicalDrive);
    static std::string strGetNVMESerialNumber(int nPhysicalDrive);
};

extern CKRV752xNVME g_NvmeDev;
