#pragma once
// The device table: the one shared record of the attached drives and of the
// production run, plus the relink table and the thread parameter records
// that sit beside it in the main dialog. Every reader and writer works on the
// one instance, a record addressed only by its slot (ucTargetNumber 0..15):
// USB devices fill slots 0..DevNums-1 and PCIe target i sits in slot
// DevNums + i.
//
// The table has no lock of its own. A value that one thread writes while
// another polls it (status and progress of a worker, the barrier flags, the
// result bytes the results table shows during a run, the counters, the
// relink flags) is an atomic; the rest is written by the scan under the scan
// lock, or by the GUI before the threads start.
#include <atomic>
#include <cstdint>
#include <string>

namespace krv::ui {
class Dialog;
}

// Port slots of the table and of the relink table.
constexpr int MAX_DEV_SLOTS = 16;

// Sentinels.
constexpr uint8_t DEV_PORT_INDEX_EMPTY = 0xFF;
constexpr char DEV_DRIVE_LETTER_NONE = 0x7F;
constexpr uint64_t DEV_CAPACITY_UNKNOWN = 0xFFFFFFFFFFFFFFFFULL;
constexpr uint8_t DEV_ADDRESS_NONE = 0x7F;        // m_ucPhysicalAddress / m_ucCDROMAddress after a scan reset
constexpr uint8_t DEV_TYPE_UNKNOWN = 0xFF;        // m_ucDevType: "DEV_UNKNOW"
constexpr uint8_t DEV_CHIP_REV_SCAN_RESET = 0x7F; // m_ucChipMajorRev after the scan reset
constexpr uint8_t DEV_CHIP_REV_EMPTY = 0xFF;      // ... when a PCIe record is emptied or the read failed
constexpr uint8_t DEV_CC_ORIENTATION_NONE = 0xFF;
constexpr uint8_t DEV_LANE_CS_NONE = 0x7F;
constexpr uint32_t DEV_LANE_DS_NONE = 0x7F7F7F7F;
constexpr int32_t DEV_PORT_LOCATION_NONE = -1;
constexpr uint32_t DEV_HUB_PORT_NONE = 0xFFFFFFFF;
constexpr const char* DEV_EXT_FW_VERSION_NONE = "NULL";

constexpr int DEV_CONFIG_SIZE = 128;              // one configuration image (CONFIG_BIN_SIZE)
constexpr int DEV_DISK_INFO_BUF_SIZE = 512;

// Relink signature: bytes 124 and 125 of a port's USB4 image.
constexpr int RELINK_SIG_OFFSET = 124;
constexpr uint8_t RELINK_SIG_NONE = 0xFF;
constexpr int32_t RELINK_COUNT_RESET = 0xFF;

// ChildThreadParam::m_ucStatus.
enum : uint8_t {
    THREAD_STATUS_IDLE = 0,        // slot not in the run
    THREAD_STATUS_STARTED = 1,
    THREAD_STATUS_AT_RELOAD = 5,   // reached the reload barrier
    THREAD_STATUS_FINISHED = 8,
};

// An atomic that can still be copied with the record it sits in (a copy is
// a load, then a store) and reads and writes like the plain value.
template <class T>
class CopyableAtomic {
public:
    CopyableAtomic(T value = T()) : value_(value) {}
    CopyableAtomic(const CopyableAtomic& other) : value_(other.load()) {}
    CopyableAtomic& operator=(const CopyableAtomic& other)
    {
        store(other.load());
        return *this;
    }
    CopyableAtomic& operator=(T value)
    {
        store(value);
        return *this;
    }
    operator T() const { return load(); }
    T load() const { return value_.load(std::memory_order_acquire); }
    void store(T value) { value_.store(value, std::memory_order_release); }
    T operator++() { return value_.fetch_add(1, std::memory_order_acq_rel) + 1; }
    T operator+=(T delta) { return value_.fetch_add(delta, std::memory_order_acq_rel) + delta; }

private:
    std::atomic<T> value_;
};

using AtomicByte = CopyableAtomic<uint8_t>;

// Results of the run: 1 pass, 0 fail or not run. A record of the table
// holds them for the device in its slot; a port worker keeps its own copy
// beside them, since a re-link rescan empties the records and may put the
// port's device into another slot.
struct DevResults {
    AtomicByte m_bConfigWriteResult;
    AtomicByte m_bUpdateFWResult;
    AtomicByte m_bReloadFWResult;
    AtomicByte m_bPartitionResult;
    AtomicByte m_bFormatResult;
    AtomicByte m_bWrRdTestResult;
    AtomicByte m_bPreloadResult;
    AtomicByte m_bConfigReadBackOK;
    AtomicByte m_bUSBStatusResult;
    AtomicByte m_bPartitionDone;   // partition barrier flag
    AtomicByte m_bFormatDone;
    AtomicByte m_bExtUpdateFWResult;
    AtomicByte m_bConfigCheckResult;
};

struct DevInfo : DevResults {
    uint8_t m_ucPortIndex = DEV_PORT_INDEX_EMPTY;
    char m_cDriveLetter = DEV_DRIVE_LETTER_NONE;
    // Disk information block of the disk-information reader.
    uint8_t m_ucDiskInfoBuf[DEV_DISK_INFO_BUF_SIZE] = {};
    // [0] tracks per cylinder, [1] sectors per track, [2] bytes per sector,
    // [4]/[5] cylinders low/high word, [6]/[7] disk size low/high word.
    uint32_t m_dwDiskInfo[8] = {};
    uint64_t m_ullCapacity = DEV_CAPACITY_UNKNOWN;
    // Set: per-target operations open CD-ROM m_ucCDROMAddress instead of
    // physical drive m_ucPhysicalAddress.
    uint8_t m_bIsCDROM = 0;
    uint8_t m_ucPhysicalAddress = DEV_ADDRESS_NONE;
    uint8_t m_ucCDROMAddress = DEV_ADDRESS_NONE;

    // USB descriptor texts.
    std::string m_strPID;
    std::string m_strVID;
    std::string m_strSerialNumber;
    std::string m_strManufacturer;
    std::string m_strProduct;
    std::string m_strVersion;
    int32_t m_iPortLocation = DEV_PORT_LOCATION_NONE;

    // The disk behind the bridge.
    std::string m_strHDDSN;
    std::string m_strHDDFW;

    // Bridge firmware version, 12 hex digits; empty: none read.
    std::string m_strFWVersion;
    // Written by the chip readers: the chip text ("857B", "752A", "D" ...)
    // and the revision digit (low nibble of the chip register).
    std::string m_strChipText;
    std::string m_strChipText2;
    uint8_t m_ucDevType = DEV_TYPE_UNKNOWN;
    uint8_t m_ucChipVariant = 0;
    uint8_t m_ucChipMajorRev = DEV_CHIP_REV_SCAN_RESET;

    // Link state. m_ucLinkSpeed holds a USB4 speed code (4..7) when
    // m_ucU4Mode is a tunnel mode (1..3), else a USB speed code (0..5), so
    // it is read together with m_ucU4Mode.
    uint8_t m_ucU4Mode = 0;
    uint8_t m_ucLaneCS[4] = {};
    uint32_t m_dwLaneDS[4] = {};
    uint8_t m_ucLinkSpeed = 0;
    uint8_t m_ucCCOrientation = DEV_CC_ORIENTATION_NONE;

    // Where the device sits: its hub's device name, its port there and the
    // hub's port count.
    std::string m_strHubName;
    uint32_t m_ulPortIndex = DEV_HUB_PORT_NONE;
    uint32_t m_ulPortCount = DEV_HUB_PORT_NONE;
    std::string m_strExtFWVersion = DEV_EXT_FW_VERSION_NONE;
    // "FULL", "HIGH", "SUPER", "PLUS" (the 857x reader adds "x1"/"x2"; test
    // with substrings); for a PCIe target "Gen2x1" ... or "UNKNOW".
    std::string m_strUSBSpeed;

    uint8_t m_ucU3Config[DEV_CONFIG_SIZE] = {};
    uint8_t m_ucU4Config[DEV_CONFIG_SIZE] = {};
    uint8_t m_ucReadBackConfig[DEV_CONFIG_SIZE] = {};
    uint8_t m_bPCIE = 0;
    uint8_t m_ucPDType = 0;

    // The write/read test's buffers belong to the port worker, which
    // allocates and frees them; a scan never touches them, since a rescan
    // during a run must not take a worker's buffers away.
    uint8_t* m_ucpWriteBuffer = nullptr;
    uint8_t* m_ucpReadBuffer = nullptr;
    uint32_t m_dwWrRdTestSize = 0;

    // The reset at the start of every scan: the slot reads as empty; the
    // preload, read-back, USB-status and configuration-check results keep
    // their values.
    void vResetForScan();
    // The results a run clears in every slot before its workers start.
    void vClearRunResults();
};

struct DevList {
    // USB-attached devices found by the last scan.
    CopyableAtomic<int32_t> DevNums{0};
    // Set by the walk when a device showed only as a CD-ROM; the remaining
    // host controllers are then skipped.
    uint8_t m_bScanFoundCDROMOnly = 0;
    // USB storage devices the last full scan met on the bus and left out of
    // the table because it could not identify them (no answer to the chip
    // query), their drive number does not fit a record, or the table was
    // full. A device that answered as another kind of drive is not counted.
    uint8_t m_ucUnidentified = 0;
    // Test items of the run.
    uint8_t m_bUpdateFW = 0;
    uint8_t m_bDoUpdateFW = 0;
    uint8_t m_bDoReload = 0;
    uint8_t m_bDoFormat = 0;
    uint8_t m_bDoUSBStatusCheck = 0;
    uint8_t m_bDoWrRdTest = 0;
    uint8_t m_bDoSpeedTest = 0;
    uint8_t m_bDoPreload = 0;
    uint8_t m_bDoConfigReadBack = 0;
    uint8_t m_bAutoSafeRemove = 0;
    uint8_t m_bDoExtUpdateFW = 0;
    uint8_t m_bDoConfigCheck = 0;
    uint8_t m_bSHA256Supported = 0;
    uint8_t m_bDoSHA256Key = 0;
    CopyableAtomic<int32_t> m_iPassCount{0};
    CopyableAtomic<int32_t> m_iFailCount{0};
    CopyableAtomic<int32_t> m_iTotalCount{0};
    DevInfo Devs[MAX_DEV_SLOTS];
};

// Slots in use: the USB devices and after them the PCIe targets, never
// more than the table holds.
int nAllDevCount(const DevList& devList, int nPcieTargets);
// Slot of PCIe target nPcieIndex; -1 when it falls outside the table.
int nPcieDevSlot(const DevList& devList, int nPcieIndex);

struct PortRelinkInfo {
    std::string m_strUSBSpeed;
    std::string m_strVID;
    std::string m_strPID;
    std::string m_strSerialNumber;
    std::string m_strFWVersion;
    uint8_t m_ucU4Mode = 0;
    uint8_t m_ucLinkSpeed = 0;
    AtomicByte m_bRelinkPending;   // the port's bridge is being reset
    AtomicByte m_bRelinkFound;     // the device came back and was matched
    uint8_t m_ucRelinkSig[2] = {RELINK_SIG_NONE, RELINK_SIG_NONE};

    // Clears the flags and the signature; the copied texts and bytes stay.
    void vReset();
};

// The reset of the relink table: every entry, the count to match and the
// saved test items.
void vResetPortRelinkTable(PortRelinkInfo (&entries)[MAX_DEV_SLOTS], int32_t& iRelinkCount,
                           uint8_t (&ucSavedItems)[8]);

// Filled by Start, given to the supervisor.
struct MainThreadParam {
    krv::ui::Dialog* hWnd = nullptr;
    uint8_t m_ucPortEnable[MAX_DEV_SLOTS] = {};
    uint8_t m_ucThreadCount = 0;
    uint8_t m_ucDiskCount = 0;
    uint8_t m_ucItemCount = 0;
};

// One per slot, filled by the supervisor, given to that slot's worker.
struct ChildThreadParam {
    krv::ui::Dialog* hWnd = nullptr;
    uint8_t m_ucPort = 0;
    uint8_t m_ucThreadCount = 0;
    uint8_t m_ucDiskCount = 0;
    CopyableAtomic<float> m_fProgress{0.0f};   // 0..100
    uint8_t m_ucItemCount = 0;
    AtomicByte m_ucStatus{THREAD_STATUS_IDLE};
    // The port's own results of the run, whatever slot its device is in;
    // the run is judged on these. m_ucVerdict is the worker's running
    // result when it ended: 1 only when every step it ran passed.
    DevResults m_Results;
    AtomicByte m_ucVerdict{0};
    // The slot of the port's device when the worker ended (it moves when the
    // device comes back from its reset in another slot).
    AtomicByte m_ucDevSlot{0};
};
