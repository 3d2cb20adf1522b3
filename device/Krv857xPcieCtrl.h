#pragma once
// The PCIe side object: bridges whose USB4 link tunnels PCIe are functions
// of the host. It loads the kernel I/O driver, learns from the ACPI MCFG
// table where the memory-mapped configuration space (ECAM) lies, reads and
// writes configuration space through 4 KB physical windows, finds the
// bridges' switch upstream ports and, for each target found, reads its
// identity and state through the mailbox in its configuration space.
//
// One process-wide instance, g_PcieCtrl; its constructor only zeroes it.
// Its methods, one concern per source file:
//   Krv857xPcieCtrl.cpp         driver set-up, MCFG, configuration access
//   Krv857xPcieScan.cpp         the target scan and the target's state
//   Krv857xPcieMailbox.cpp      the mailbox transfers and the commands on them
//   Krv857xPcieRelink.cpp       byte-wise image access and the reset that
//                               waits for its target to come back
//
// Targets are addressed by their index in the last scan's list; an index
// at or past the target count is refused (-10). The scan talks to the
// function it is adding by its address, before it is counted.
#include <cstdint>
#include <mutex>

namespace krv {
class StopSource;
}

namespace krv::pcie {
// Results of the target operations.
constexpr int kDone = 0;
constexpr int kNoAnswer = -9;
constexpr int kBadTarget = -10;
}  // namespace krv::pcie

constexpr int PCIE_MAX_TARGETS = 16;
constexpr int PCIE_MAX_MCFG = 16;
constexpr uint32_t PCIE_CONFIG_BIN_SIZE = 128;
// The longest register transfer one command carries.
constexpr uint32_t PCIE_REGISTER_ACCESS_MAX = 256;

// The configuration address of a target: bus, device, function.
struct PcieTargetAddress {
    uint8_t ucBus = 0;
    uint8_t ucDevice = 0;
    uint8_t ucFunction = 0;
};

// What the scan read of one target.
struct PcieTargetInfo {
    uint8_t m_ucFWVersion[6] = {};                       // registers 0x7F0..0x7F5
    uint8_t m_ucUSBConfig[PCIE_CONFIG_BIN_SIZE] = {};    // image 0, configuration type 0
    uint8_t m_ucU4Config[PCIE_CONFIG_BIN_SIZE] = {};     // image 0, configuration type 1
    uint8_t m_ucSerialNumber[20] = {};                   // bytes 4..23 of the USB image
    uint16_t m_wPID = 0;
    uint16_t m_wVID = 0;
    uint8_t m_ucCCOrientation = 0;                       // register 0xE302 >> 6
    uint8_t m_ucChipRevision = 0;                        // register 0xC8FF bits 4-6
    uint8_t m_ucU4Mode = 0;                              // 0..3
    uint8_t m_ucLinkSpeed = 0;                           // 4..7
    uint8_t m_ucLaneStatus[4] = {0xFF, 0xFF, 0xFF, 0xFF};  // not filled by the scan
    uint32_t m_dwLaneValue[4] = {};                      // not filled by the scan
    uint8_t m_ucPDType = 0xFF;                           // register 0xE795 bit 1; 0xFF: read failed
};

// One MCFG allocation as ACPI lays it out.
struct PcieMcfgAllocation {
    uint64_t ullBaseAddress = 0;
    uint16_t wSegment = 0;
    uint8_t ucStartBus = 0;
    uint8_t ucEndBus = 0;
};

class CKrv857xPcieCtrl {
public:
    CKrv857xPcieCtrl() = default;
    virtual ~CKrv857xPcieCtrl() = default;
    CKrv857xPcieCtrl(const CKrv857xPcieCtrl&) = delete;
    CKrv857xPcieCtrl& operator=(const CKrv857xPcieCtrl&) = delete;

    // Driver set-up: 1 when the driver is loaded and the MCFG table read.
    int InitPcie();
    int UnInitPcie();

    // Rebuilds the target list: the bridges' switch upstream ports, and any
    // function with the requested IDs that is one.
    int nScanPcieTargets(uint16_t wVendorID, uint16_t wDeviceID);
    int nGet8574PCIeErrorRecoveryCount(uint8_t ucTargetNumber, uint32_t* pdwCount);
    int nGet8574PDType(uint8_t ucTargetNumber, uint8_t* pucPDType);

    uint8_t ucTargetCount() const { return m_ucTargetCount; }
    const PcieTargetAddress& targetAddress(uint8_t ucTargetNumber) const { return m_TargetAddress[ucTargetNumber & 15]; }
    const PcieTargetInfo& targetInfo(uint8_t ucTargetNumber) const { return m_TargetInfo[ucTargetNumber & 15]; }

    // Configuration access; a bus with no ECAM window reads all ones and
    // takes no write.
    uint8_t ucConfigReadByte(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset);
    uint16_t wConfigReadWord(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset);
    uint32_t dwConfigReadDword(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset);
    void vConfigReadBlock(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset, uint8_t* pucData,
                          uint32_t dwLength);
    void vConfigWriteByte(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset, uint8_t ucValue);
    void vConfigWriteDword(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset, uint32_t dwValue);

    // The mailbox transfers (cdb: 8 bytes): 0 done, -9 the bridge did not
    // answer in time, -10 target not accepted.
    int pcie_W(uint8_t ucTargetNumber, const uint8_t* pucCdb, const uint8_t* pucData, uint32_t dwLength);
    int pcie_Wdw(uint8_t ucTargetNumber, const uint8_t* pucCdb, const uint8_t* pucData, uint32_t dwLength);
    int pcie_R(uint8_t ucTargetNumber, const uint8_t* pucCdb, uint8_t* pucData, uint32_t dwLength);
    int pcie_Rdw(uint8_t ucTargetNumber, const uint8_t* pucCdb, uint8_t* pucData, uint32_t dwLength);

    // The commands on them.
    int pcie_AccessConfigEEPROM2(uint8_t ucTargetNumber, uint8_t bWriteRead, uint8_t* pucBuffer, uint32_t dwBufLen,
                                 uint8_t ucImage, uint8_t ucConfigType);
    int pcie_AccessFirmwareEEPROM2(uint8_t ucTargetNumber, uint8_t bWriteRead, uint8_t* pucBuffer, uint32_t dwBufLen,
                                   uint8_t ucImage);
    // A register transfer of 1..256 bytes; any other length is refused
    // (-10) before the mailbox is touched.
    int pcie_AccessRegister(uint8_t ucTargetNumber, uint8_t bWrite, uint32_t dwAddress, uint8_t* pucBuffer,
                            uint32_t dwLength);
    int pcie_CPURST(uint8_t ucTargetNumber, uint8_t ucFuncCode);

    // The image accessors with the byte-wise transfers (the engineering
    // buttons'); no log line of their own.
    int pcie_AccessConfigEEPROM(uint8_t ucTargetNumber, uint8_t bWriteRead, uint8_t* pucBuffer, uint32_t dwBufLen,
                                uint8_t ucImage, uint8_t ucConfigType);
    int pcie_AccessFirmwareEEPROM(uint8_t ucTargetNumber, uint8_t bWriteRead, uint8_t* pucBuffer, uint32_t dwBufLen,
                                  uint8_t ucImage);
    // Resets the target's CPU, watches its function until it has left the
    // bus, then rescans every 1.5 s until a target whose USB4 image (image
    // 0, else image 1, as the flags say) carries the relink byte at 124 and
    // the target number at 125 is back: 0, and the target number now
    // addresses that target with what the rescan read of it; -9 after a
    // little more than 60 s (a bridge that never left refused its reset) or
    // on a stop request; -10 for a target not in the list. The rescan fills
    // a list of its own: the other targets keep their numbers while other
    // ports still work on them.
    int CPURST(uint8_t ucTargetNumber, uint8_t ucRelink, uint8_t ucFuncCode, uint16_t wVendorID, uint16_t wDeviceID,
               uint8_t bReadImage0, uint8_t bReadImage1, const krv::StopSource* pStop = nullptr);

    // Reads the vendor ID of the function at `at` (where a target was before
    // its reset) until it reads absent: true once it has left the bus; false
    // while it is still there after ullLimitMs, or on a stop request.
    bool bWaitLeftBus(const PcieTargetAddress& at, uint64_t ullLimitMs, const krv::StopSource* pStop = nullptr);

    // The MCFG allocations read by the last InitPcie.
    int nMcfgCount() const { return m_nMcfgCount; }
    const PcieMcfgAllocation& mcfgAllocation(int i) const { return m_Mcfg[i & 15]; }

private:
    enum class Direction { Out, In };
    // The transfers and commands on a configuration address: the public
    // ones check the target index and come here; the scan comes here with
    // the function it is adding.
    // One command on the mailbox at `at`, whole: a second thread's command
    // for the same bridge waits until it is done.
    int nTransfer(const PcieTargetAddress& at, const char* pszMethod, Direction dir, bool bDword, const uint8_t* pucCdb,
                  uint8_t* pucData, uint32_t dwLength);
    int nTargetTransfer(uint8_t ucTargetNumber, const char* pszMethod, Direction dir, bool bDword,
                        const uint8_t* pucCdb, uint8_t* pucData, uint32_t dwLength);
    int nRegisterRead(const PcieTargetAddress& at, uint32_t dwAddress, uint8_t* pucBuffer, uint32_t dwLength);
    int nConfigRead(const PcieTargetAddress& at, uint8_t* pucBuffer, uint8_t ucImage, uint8_t ucConfigType);
    int nPDTypeAt(const PcieTargetAddress& at, uint8_t* pucPDType);
    bool bTargetAccepted(uint8_t ucTargetNumber) const;
    bool bSwitchUpstreamPort(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction);
    void vReadTargetInfo(const PcieTargetAddress& at, PcieTargetInfo& info);
    // The scan into the caller's list (PCIE_MAX_TARGETS entries); the count.
    int nScanTargetsInto(uint16_t wVendorID, uint16_t wDeviceID, PcieTargetAddress* pAddress, PcieTargetInfo* pInfo);
    int nByteImageTransfer(uint8_t ucTargetNumber, uint8_t bWriteRead, const uint8_t* pucCdb, uint8_t* pucBuffer,
                           uint32_t dwBufLen);

    void vReadMcfg();
    // The ECAM address of a configuration access; false: no window.
    bool bEcamAddress(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset, uint64_t& ullAddress) const;
    // Whole dwords through a mapped window (length a multiple of 4).
    int nPhysRead(uint64_t ullAddress, uint8_t* pucData, uint32_t dwLength);
    int nPhysWrite(uint64_t ullAddress, const uint8_t* pucData, uint32_t dwLength);

    uint8_t m_ucTargetCount = 0;
    PcieTargetAddress m_TargetAddress[PCIE_MAX_TARGETS] = {};
    PcieTargetInfo m_TargetInfo[PCIE_MAX_TARGETS] = {};
    PcieMcfgAllocation m_Mcfg[PCIE_MAX_MCFG] = {};
    int m_nMcfgCount = 0;
    // One bridge's upstream port per bus: its mailbox's lock.
    std::mutex m_MailboxLock[256];
};

extern CKrv857xPcieCtrl g_PcieCtrl;
