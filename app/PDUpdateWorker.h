#pragma once
// The PD/MCU update dialog's per-device worker and its device operations:
// put the MCU into its bootloader and the PD controller into flash mode,
// write the images the dialog parsed, read them back and compare, ask the
// operator for a power cycle, wait for the drive to leave and come back,
// and compare the version the controller then reports with the file's.
//
// What the worker shows goes through a view (the dialog's row, or a test),
// so that the worker itself needs no window. Every fact about one device
// (vendor, MCU, CCG3 mode) is the worker's own; what it finds after the
// power cycle goes back to the view for the row's next run.
//
// The worker runs under a stop request (its thread's current one): it is
// heard before every device command, in every pause and in the wait for the
// power cycle, and ends the worker with PD_RESULT_STOPPED. Each step opens
// the drive once for all its commands.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/PDFirmwareFile.h"
#include "device/PowerDelivery.h"
#include "platform/StopSource.h"

// Status codes of a device row.
enum : int {
    PD_STATUS_FAIL = 1,
    PD_STATUS_PASS = 2,
    PD_STATUS_TIME_OUT = 3,
    PD_STATUS_MISMATCH = 4,
    PD_STATUS_READY = 5,
    PD_STATUS_UPDATING = 6,
    PD_STATUS_READING = 7,
    PD_STATUS_EMPTY = 8,
    PD_STATUS_COMPARING = 9,
};

// Results of a worker.
constexpr int PD_RESULT_PASS = 0;
constexpr int PD_RESULT_VERSION = -2;
constexpr int PD_RESULT_FILE_SIZE = -3;
constexpr int PD_RESULT_CONTENT = -6;
constexpr int PD_RESULT_TIME_OUT = -9;
constexpr int PD_RESULT_UNKNOWN = -10;
constexpr int PD_RESULT_STOPPED = -11;

constexpr uint32_t PD_RELINK_LIMIT_MS = 40000;
constexpr uint32_t PD_RELINK_POLL_MS = 500;
constexpr uint32_t MCU_FLASH_BASE = 0x08000000;
constexpr uint32_t MCU_IMAGE_SIZE = 49152;
constexpr uint32_t MCU_PIECE = 12;

// The images parsed from the chosen files, shared read-only by the workers.
struct PDUpdateImages {
    uint8_t ucPDEnable = 0;
    uint8_t ucMCUEnable = 0;
    uint8_t ucPDFileKind = PD_FILE_UNKNOWN;
    uint8_t ucMCUFileKind = 0;
    std::string strPDFileVersion = PD_VERSION_NONE;
    std::vector<uint8_t> richtek;             // 16384 bytes
    PDCypressImage cypress;                   // entry 0 is the header
    std::vector<MCUHexRecord> mcu;
    bool bSkipVersionCompare = false;         // a row below 0x24 was read
};

// What one device's controllers are, as its worker found them.
struct PDDeviceFacts {
    uint8_t ucVendor = PD_VENDOR_NONE;
    uint8_t ucMCUVendor = 0;
    uint8_t ucCCG3Mode = 0;
};

// Where a worker shows its progress and asks the operator.
class IPDUpdateView {
public:
    virtual ~IPDUpdateView() = default;
    virtual void vShowStatus(int nCode) = 0;
    virtual void vSetProgress(int nPercent) = 0;
    // A message to the operator (types of nShowMessage); returns once read.
    virtual void vShowMessage(const std::string& strText, uint8_t ucType) = 0;
    // The drive number of this worker's device now, -1 while it is away.
    virtual int nCurrentDrive() = 0;
    // The version field of the row.
    virtual void vShowVersion(const std::string& strVersion) = 0;
    // The controller facts read after the power cycle (a CCG3 update
    // changes the bank it runs).
    virtual void vKeepFacts(const PDDeviceFacts& facts) = 0;
};

// The dialog's device operations, through its own CPowerDelivery. Each
// operation opens the drive once; every command and pause first hears the
// stop request (the calling thread's current one when none is given).
class CPDDeviceOps {
public:
    explicit CPDDeviceOps(CPowerDelivery& pd, const krv::StopSource* pStop = krv::StopSource::current())
        : m_pd(pd), m_pStop(pStop)
    {
    }
    bool bStopped() const { return m_pStop && m_pStop->stopRequested(); }
    // A pause that a stop request cuts short (false then).
    bool bPause(uint32_t ms) const;
    // Bus open, vendor, MCU and CCG3 mode of the drive.
    int nInitializedPDI2CBus(int nDrive, PDDeviceFacts& facts);
    int nClosePDI2CBus(int nDrive);
    // The version text the dialog shows and compares: bytes 8..15 of a
    // Cypress or CCG answer, "%02X%02X" of a Richtek's.
    int nGetPDFWVersion(int nDrive, const PDDeviceFacts& facts, std::string& strVersion);
    int nConfigMTPArea(int nDrive, uint8_t ucVendor);
    int nPDFWUpdate(int nDrive, const PDUpdateImages& images, uint8_t ucVendor);
    int nPDFWRead(int nDrive, const PDUpdateImages& images, uint8_t ucVendor, std::vector<uint8_t>& out);

private:
    int nSend(HANDLE hDev, uint8_t bWrite, uint8_t ucSub, uint16_t wValue, uint16_t wIndex, uint8_t* pBuf,
              uint32_t dwLen);
    CPowerDelivery& m_pd;
    const krv::StopSource* m_pStop;
};

// One device's worker: the whole run for device `nDevice` of the table, on
// drive `nDrive`. The result is the row's: 0 PASS, else the failing step's code.
int nPDFWUpdateWorker(CPowerDelivery& pd, const PDUpdateImages& images, PDDeviceFacts facts, int nDevice, int nDrive,
                      bool bVerifyOnly, IPDUpdateView& view);
