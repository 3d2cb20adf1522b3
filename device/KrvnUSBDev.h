#pragma once
// The device-access object: the one object through which the system reaches
// USB-attached bridges and the drives behind them. One process-wide
// instance, g_UsbDev (and g_NvmeDev of the derived CKRV752xNVME); their
// constructors only zero them, main initialises them once the platform is
// installed and shuts them down after every thread has been joined.
//
// Its methods, one concern per source file:
//   KrvnUSBDevTransport.cpp  the vendor command set over SCSI pass-through
//                            (stateless; each takes an open drive handle)
//   KrvnUSBDev.cpp           the object: images, field lengths, the string-
//                            descriptor cache, the record reset, the open rule
//   KrvnUSBDevStatus.cpp     the bridge status readers
//   KrvnUSBDevTransfer.cpp   configuration and firmware transfer, the 752x
//                            factory page and power configuration
//   KrvnUSBDevSHA256.cpp     the SHA-256 initial key
//   KrvnUSBDevWalk.cpp       the USB topology walk (Open, Enum, the hubs)
//   KrvnUSBDevFill.cpp       device identification and the record fill
//   KrvnUSBDevDiskMatch.cpp  the disk behind a USB serial number
//   KrvnUSBDevDiskIO.cpp     disk and volume I/O, disk information, speed test
//   KrvnUSBDevReset.cpp      the bridge CPU reset, the wait for the drive to
//                            come back, the disconnect before removal
//
// The per-target operations take a port slot (ucTargetNumber 0..15), open
// the slot's drive themselves and close it again, so one object serves all
// ports and threads. State of a USB walk lives in a CUSBWalkState that the
// walk owns, never in this shared object.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/ConfigFieldLength.h"
#include "device/DevList.h"
#include "device/KrvnUSBDevHandle.h"
#include "device/KrvnUSBDevWalkState.h"
#include "platform/DeviceSetup.h"
#include "platform/StorageInfo.h"
#include "platform/UsbTree.h"

// ---- the vendor command set -------------------------------------------------

constexpr uint32_t CONFIG_BIN_SIZE = 128;

// Results of the int routines.
constexpr int SCSI_RESULT_OK = 0;
constexpr int SCSI_RESULT_FAIL = -1;          // refused by the transport or the device
constexpr int SCSI_RESULT_BAD_ARGUMENT = -10; // bad handle or length: nothing sent

// ReadWrite arguments.
enum : uint8_t { ACCESS_READ = 0, ACCESS_WRITE = 1 };

// Function codes of SCSI8574_CPURST.
constexpr uint8_t CPURST_CPU_RESET = 0x50;
constexpr uint8_t CPURST_DISCONNECT = 0x51;

// Bridge image selectors: the EEPROM bank (0x50 + image) and the table
// type of a configuration image.
constexpr uint8_t CONFIG_TYPE_U3 = 0;
constexpr uint8_t CONFIG_TYPE_U4 = 1;
constexpr uint8_t FW_PART_FIRST = 0;
constexpr uint8_t FW_PART_SECOND = 1;

// The most one register command moves.
constexpr uint32_t REGISTER_ACCESS_MAX = 256;
// A failed register read is sent again up to this many times, this far apart.
constexpr int REGISTER_READ_RETRIES = 30;
constexpr uint64_t REGISTER_RETRY_DELAY_MS = 20;

// Firmware EEPROM: one command moves at most FW_TRANSFER_MAX bytes; the
// image's first region holds FW_PART0_SIZE bytes, the second FW_PART1_SIZE.
constexpr uint32_t FW_TRANSFER_MAX = 0x10000;
constexpr uint32_t FW_PART0_SIZE = 0xFF00;   // 65280
constexpr uint32_t FW_PART1_SIZE = 0x7FE0;   // 32736
constexpr uint32_t FW_IMAGE_MAX_SIZE = FW_PART0_SIZE + FW_PART1_SIZE;   // 98016
// An image must at least hold its version bytes (0x204..0x209).
constexpr uint32_t FW_IMAGE_MIN_SIZE = 0x20A;

constexpr uint32_t FACTORY_PAGE_SIZE = 512;
constexpr uint32_t POWER_CONFIG_SIZE = 304;
constexpr uint32_t ATA_IDENTIFY_SIZE = 512;
constexpr uint32_t NVME_IDENTIFY_SIZE = 4096;
constexpr uint8_t NVME_CNS_CONTROLLER = 1;
constexpr uint32_t INQUIRY_CHIP_ID_LENGTH = 38;

// Time-outs in seconds. The ATA pass-through commands are bounded: a hung
// bridge must not hold a worker (or the scan under the scan lock) for hours.
constexpr uint32_t SCSI_TIMEOUT_READ = 3;
constexpr uint32_t SCSI_TIMEOUT_WRITE = 60;
constexpr uint32_t SCSI_TIMEOUT_CPURST = 6;
constexpr uint32_t SCSI_TIMEOUT_ATA = 120;

// ---- the bridge status codes ------------------------------------------------

// m_ucDevType.
enum : uint8_t {
    DEV_TYPE_A = 0,
    DEV_TYPE_B = 1,
    DEV_TYPE_C = 2,
    DEV_TYPE_D3 = 3,
    DEV_TYPE_D4 = 4,
    DEV_TYPE_E = 5,
    DEV_TYPE_752A = 6,
    DEV_TYPE_752B = 7,
    DEV_TYPE_8574 = 8,
};

// m_ucU4Mode.
enum : uint8_t { U4_MODE_LEGACY = 0, U4_MODE_TBT3 = 1, U4_MODE_PCIE_TNL = 2, U4_MODE_U3_TNL = 3 };

// m_ucLinkSpeed on a USB4 link ...
enum : uint8_t { U4_SPEED_GEN2X1 = 4, U4_SPEED_GEN2X2 = 5, U4_SPEED_GEN3X1 = 6, U4_SPEED_GEN3X2 = 7 };
// ... and otherwise.
enum : uint8_t {
    USB_SPEED_FULL = 0,
    USB_SPEED_HIGH = 1,
    USB_SPEED_SUPER = 2,
    USB_SPEED_SUPER_X2 = 3,
    USB_SPEED_PLUS = 4,
    USB_SPEED_PLUS_X2 = 5,
};

// Stream modes of ucGet8574USBMode / ucGetUSBMode.
enum : uint8_t { USB_MODE_BOT = 0, USB_MODE_UAS = 1 };

// Any reader's "could not read" answer.
constexpr uint8_t STATUS_READ_FAILED = 0xFF;

// ---- the USB walk and the identification ------------------------------------

// Bridge types of the walk and the identification (iBridgeType).
constexpr int BRIDGE_TYPE_6390 = 0;
constexpr int BRIDGE_TYPE_752X = 1;
constexpr int BRIDGE_TYPE_857X = 2;

// Open's answer when the walk accepted no device.
constexpr int OPEN_NO_DEVICE = -4;
// The host-controller handle table of the walk.
constexpr int WALK_HOST_CONTROLLER_MAX = 20;
// GetDeviceDescriptor's answer for a device without a serial-number text.
constexpr uint16_t DESCRIPTOR_NO_SERIAL = 0x7FFF;
// ucGetPhysicalAddressFromSN: the search modes and the "nothing matched" answer.
constexpr uint8_t SN_SEARCH_CDROM = 2;
constexpr uint8_t SN_SEARCH_DISK = 7;
constexpr uint8_t PHYSICAL_ADDRESS_NONE = 0xFF;
// The target-chip text that accepts every chip.
constexpr const char* TARGET_CHIP_ANY = "0";

// ---- disk and volume I/O ----------------------------------------------------

// Drive letters 'D'..'Z'; DEV_DRIVE_LETTER_NONE (127) for none.
constexpr uint32_t DISK_SIZE_FAILED = 0xFFFFFFFF;            // vGetDiskPhysicalSize
constexpr uint64_t DISK_FREE_SPACE_FAILED = ~uint64_t{0};     // vGetDiskFreeSpace
constexpr int32_t PARTITION_COUNT_NONE = 0x7FFFFFFF;          // vGetPartitionCount
// A raw transfer moves at most this much per call.
constexpr uint32_t DISK_TRANSFER_CHUNK = 0x2000000;
constexpr uint32_t DISK_SECTOR_UNIT = 512;
// The letter look-up's wait: at most this long, one search every so often.
constexpr uint64_t DRIVE_LETTER_WAIT_MS = 5000;
constexpr uint64_t DRIVE_LETTER_RETRY_MS = 200;

// nObtainDiSKInfo results.
constexpr int DISK_INFO_OK = 0;
constexpr int DISK_INFO_GEOMETRY_FAILED = -1;
constexpr int DISK_INFO_IDENTIFY_FAILED = -4;
constexpr int DISK_INFO_OPEN_FAILED = -5;
constexpr int DISK_INFO_BAD_ARGUMENT = -10;

// vReadWriteSpeedTest: the test areas (start sectors) by area code, and the
// result for a block without a sector size.
constexpr uint64_t SPEED_TEST_AREA_0 = 0x41000;
constexpr uint64_t SPEED_TEST_AREA_1 = 0xF000;
constexpr uint64_t SPEED_TEST_AREA_OTHER = 0x28000;
constexpr uint8_t SPEED_TEST_PATTERN = 0x55;
constexpr int SPEED_TEST_OK = 0;
constexpr int SPEED_TEST_NO_SECTOR_SIZE = -4;
// A restore that failed leaves the test area overwritten: a result of its own,
// so the caller can tell a damaged volume from a slow one.
constexpr int SPEED_TEST_RESTORE_FAILED = -5;

// The record's disk information block as the speed test receives it.
struct DiskInfoBlock {
    uint8_t m_ucDiskInfoBuf[DEV_DISK_INFO_BUF_SIZE] = {};
    uint32_t m_dwDiskInfo[8] = {};

    static DiskInfoBlock of(const DevInfo& devInfo);
};

// What a timed transfer adds its speed to (MiB per second); one per call, so
// the speed tests of several ports never mix their figures.
struct CTransferTiming {
    double m_dSpeed = 0.0;   // sum of the timed passes' speeds
};

// ---- the object -------------------------------------------------------------

struct CSerialCandidate;

constexpr int STRING_DESCRIPTOR_CACHE_SIZE = 16;
constexpr int CONFIG_TEMPLATE_COUNT = 3;
// Temporary firmware folder in the program folder, removed at shutdown.
constexpr const char* KRV_FW_TEMP_FOLDER = "KRVFW_Temp";

// The ITE controller's flash access by its chip id (the first three of the
// four bytes at 0xFFC0): data port, flash address bytes (2 or 3) and the
// shift of the high address byte.
void vITEFlashAccessOfChip(const uint8_t* pucChipId, uint16_t& wDataPort, uint8_t& ucAddrBytes, uint8_t& ucShift);

class CKrvnUSBDev : public CConfigFieldLength {
public:
    CKrvnUSBDev() = default;
    virtual ~CKrvnUSBDev() = default;
    CKrvnUSBDev(const CKrvnUSBDev&) = delete;
    CKrvnUSBDev& operator=(const CKrvnUSBDev&) = delete;

    // Start-up: the scan state's reset. Needs the platform.
    void vInitialize();
    // Exit: removes the temporary firmware folder of the program folder
    // (never anything when the program folder is unknown).
    void vShutdown();

    // ---- vendor command transport ------------------------------------
    // INQUIRY; the buffer is zeroed first.
    static int SCSI6390_Inquiry(HANDLE hDev, uint8_t* pBuf, uint8_t ucLen);
    // 6390 configuration image: 128 bytes, CDB bytes 1 and 2 as given.
    static int SCSI6390_AccessConfigEEPROM(HANDLE hDev, uint8_t ReadWrite, uint8_t* pBuf, uint32_t dwLen,
                                           uint8_t ucCdb1, uint8_t ucCdb2);
    // 752x factory page (INQUIRY page C8) into a 512-byte buffer.
    static int SCSI7522_FactoryConfigure_Read(HANDLE hDev, uint8_t* pBuf);
    // 752x power configuration, 304 bytes.
    static int SCSI7522_FactoryConfigure_PowerConfigWrite(HANDLE hDev, const uint8_t* pBuf);
    // 857x configuration image `ucImage` (0/1) of table type `ucConfigType`.
    static int SCSI8574_AccessConfigEEPROM(HANDLE hDev, uint8_t ReadWrite, uint8_t* pBuf, uint32_t dwLen,
                                           uint8_t ucImage, uint8_t ucConfigType);
    // One firmware EEPROM transfer of image `ucImage` in the region `ucPart`.
    static int SCSI8574_AccessFirmwareEEPROM_Direct(HANDLE hDev, uint8_t ReadWrite, uint8_t* pBuf, uint32_t dwLen,
                                                    uint8_t ucImage, uint8_t ucPart);
    static int SCSI8574_CPURST(HANDLE hDev, uint8_t ucCode);
    // Registers: a read moves dwLen (<= 256) bytes and is retried when the
    // transport fails; a write writes the buffer's first byte.
    static int SCSI6390_AccessRegister(HANDLE hDev, uint8_t ReadWrite, uint16_t wAddress, uint8_t* pBuf,
                                       uint32_t dwLen);
    static int SCSI8574_AccessRegister(HANDLE hDev, uint8_t ReadWrite, uint32_t dwAddress, uint8_t* pBuf,
                                       uint32_t dwLen);
    static bool bSendStandbyImmediate(int nPhysicalDrive);
    static bool bSendFlushCache(int nPhysicalDrive);
    // ATA IDENTIFY DEVICE: the serial number (words 10-19) or the firmware
    // revision (words 23-26) appended to the text. -1 and the text unchanged
    // when the command fails.
    static int ATAPassThrough_GetHDSerialNumber(HANDLE hDev, std::string& strSN);
    static int ATAPassThrough_GetHDDFW(HANDLE hDev, std::string& strFW);
    // NVMe Identify Controller's serial number, upper case; the text is
    // emptied first.
    static int ATAPassThrough_GetSSDSerialNumber(int nPhysicalDrive, std::string& strSN);

    // ---- the object ------------------------------------------------------
    // The field lengths (m_ucConfig_SN_Len ..., m_ucDevice_DiskLabel_Len) and
    // vSetDefaultConfigFieldLength come from CConfigFieldLength.
    // Copies the template of the configuration type into m_ucConfigTable
    // (or clears it). False, with m_ucConfigTable cleared, for an unknown
    // type or a template that was never built: an all-zero image must not
    // reach a bridge.
    bool vSetMConfigInfo(uint8_t bClear, uint8_t ucSelectConfigType);

    // The string-descriptor cache remembers the serial-number text of a
    // device whose serial could be read, for a later read of the same device
    // whose serial string comes back empty (after a bridge reset). It is
    // keyed by the four other texts and the device's place (strLocation, the
    // caller's text for hub and port), so it never lends one device's serial
    // to another device of the same model.
    void vAddStringDescriptorCache(const std::string& strVID, const std::string& strPID,
                                   const std::string& strManufacturer, const std::string& strProduct,
                                   const std::string& strSerialNumber, const std::string& strLocation);
    std::string bFindStringDescriptorCache(const std::string& strVID, const std::string& strPID,
                                           const std::string& strManufacturer, const std::string& strProduct,
                                           const std::string& strLocation);
    void vClearStringDescriptorCache();

    // The scan-start reset of the device table m_pDevList and of the cache.
    void vClearPrivateData();

    // Pairs of hex digits to the characters they spell.
    static std::string strHexToASCII(const std::string& strHex);
    // The text of a USB string descriptor: the low byte of each UTF-16 unit,
    // within the descriptor's bLength and the bytes received, up to a zero;
    // a byte outside 0x20..0x7E becomes '2'.
    static std::string strStringDescriptorText(const uint8_t* pDescriptor, size_t nReceived);
    // A device registry property as text, by its registry type and code.
    static std::string strRegistryPropertyText(uint32_t dwRegType, uint32_t dwProperty, const uint8_t* pData,
                                               size_t nSize);

    // The open rule of the per-target operations: "PHYSICALDRIVE" with the
    // record's m_ucPhysicalAddress, or "CDROM" with m_ucCDROMAddress when the
    // record is a CD-ROM (unless bPhysicalDriveOnly).
    std::string strTargetPath(uint8_t ucTargetNumber, bool bPhysicalDriveOnly = false) const;
    CDriveHandle hOpenTarget(uint8_t ucTargetNumber, bool bPhysicalDriveOnly = false) const;

    // ---- bridge status readers (on a drive the caller has open) --------
    uint8_t ucGet8574USBMode(HANDLE hDev, const DevInfo& devInfo);
    uint8_t ucGetUSBMode(HANDLE hDev, const DevInfo& devInfo);
    // Chip type; fill the record's chip text, revision digit and type.
    uint8_t ucGet8574DeviceType(HANDLE hDev, DevInfo& devInfo);
    uint8_t ucGetDeviceType(HANDLE hDev, DevInfo& devInfo);
    uint8_t ucGet8574VariantCode(HANDLE hDev);
    uint8_t ucGetDeviceSubType(HANDLE hDev, uint8_t ucChipType);
    int nGet8574CCOrientation(HANDLE hDev);
    int nGetCCOrientation(HANDLE hDev, uint8_t ucChipType);
    uint8_t ucGet8574U4Mode(HANDLE hDev);
    uint8_t ucGet8574U4Speed(HANDLE hDev);
    int nGet8574U4InfoByte(HANDLE hDev, int* pnValue);
    int nGet8574LaneStatus(HANDLE hDev, uint8_t ucCS[4]);
    int nGet8574LaneValues(HANDLE hDev, const uint8_t ucCS[4], uint32_t dwDS[4]);
    std::string vGet8574UsbConnectionStatus(HANDLE hDev);
    std::string vGetUsbConnectionStatus(HANDLE hDev, const DevInfo& devInfo);
    std::string strGet8574ChipType(HANDLE hDev);
    std::string strGetChipRevision(HANDLE hDev);
    static uint8_t ucGetUSBSpeedCode(const std::string& strSpeed);

    // ---- configuration and firmware transfer ---------------------------
    // 1 done, 0 failed.
    uint8_t b8574WrRdConfiguration(uint8_t ucTargetNumber, uint8_t ucWrite, uint8_t* pBuf, uint8_t ucImage,
                                   uint8_t ucConfigType);
    // Writes the firmware file pUtility.g_strFWFileName into image ucImage;
    // with bVerify reads it back and compares. 1 done, 0 failed (sticky: a
    // failed try or pass fails the whole update).
    uint8_t v8574UpdateFirmware(uint8_t ucTargetNumber, uint8_t ucImage, uint8_t bVerify);
    // Reads image ucImage whole: FW_PART0_SIZE bytes into pPart0 and
    // FW_PART1_SIZE into pPart1. 1 done; 0 with both buffers zeroed when
    // the drive or a read failed.
    uint8_t v8574ReadFirmware(uint8_t ucTargetNumber, uint8_t ucImage, uint8_t* pPart0, uint8_t* pPart1);
    // 752x factory page into a 512-byte buffer, on the given open drive or
    // (none given) on the slot's physical drive; the handle is closed here.
    // True when a drive was open; the buffer is zero where nothing was read.
    bool vFactoryConfigure_Read(uint8_t ucTargetNumber, uint8_t* pBuf, CDriveHandle hDev = CDriveHandle());
    // Sends the power configuration file's 304-byte payload. 0 done, -1 the
    // drive or the file cannot be opened, else the transport's code.
    int vFactoryConfigure_PowerConfigWrite(uint8_t ucTargetNumber, const std::string& strPath);
    // The power configuration payload of a "PowerConfiguration.bin" text:
    // 60 01 00 00, then the file's comma-separated hex values (the first
    // field, a label, dropped); a value the file does not give is 0xFF.
    static void vBuildPowerConfigPayload(const std::string& strText, uint8_t* pPayload);

    // ---- USB topology walk (KrvnUSBDevWalk.cpp) -------------------------
    // A full scan: sets m_bOpen and m_pDevList, walks every host controller
    // and fills the table. 0 when a device was accepted, else OPEN_NO_DEVICE.
    int Open(DevList* pDevList, const std::string& strTargetChip, int iBridgeType);
    // The walk over all host controllers, with the walk's own state.
    void Enum(CUSBWalkState& walk, const std::string& strTargetChip, int iBridgeType);
    // Opens the present host controllers, at most ucMaxCount of them, in
    // enumeration order. True when at least one was opened.
    bool OpenDevice(std::vector<std::unique_ptr<krv::UsbHostController>>& hostControllers, uint8_t ucMaxCount,
                    bool bOverlapped);
    // 0, or the last error of the step that failed.
    uint32_t EnumerateHostController(CUSBWalkState& walk, krv::UsbHostController& hostController, uint8_t ucIndex,
                                     const std::string& strTargetChip, int iBridgeType);
    void GetPortData(CUSBWalkState& walk, krv::UsbHub& hub, uint32_t ulPortCount, int iHubDepth, int iHCIndex,
                     const std::string& strHubName, const std::string& strTargetChip, int iBridgeType);
    bool GetHCDDriverKeyName(CUSBWalkState& walk, krv::UsbHostController& hostController);
    bool GetRootHubName(CUSBWalkState& walk, krv::UsbHostController& hostController);
    bool GetDriverKeyName(CUSBWalkState& walk, krv::UsbHub& hub, uint32_t ulPort);
    // The device description / first hardware id of the device node whose
    // driver key is strDriverKeyName (case ignored); empty when none.
    static std::string DriverNameToDeviceDesc(const std::string& strDriverKeyName);
    static std::string DriverNameToHARDWARE(const std::string& strDriverKeyName);
    // Writes the strings of the device's first configuration to the log.
    void GetConfigurationDescriptor(krv::UsbHub& hub, uint32_t ulPort, uint16_t usLanguageID);
    // A string descriptor of the device on the port, as text: the language
    // slot receives the device's first language; empty when anything fails.
    std::string GetStringDescriptor(krv::UsbHub& hub, uint32_t ulPort, uint16_t& usLanguageID, uint8_t ucIndex);
    // The hub table of the last full scan (names, port counts, port marks),
    // for the re-link detection.
    void vGetHubTable(CUSBWalkState::HUB_ENTRY (&table)[WALK_HUB_TABLE_SIZE]);

    // ---- identification and record fill (KrvnUSBDevFill.cpp) ------------
    // The walk state's six descriptor texts from the port's device
    // descriptor. usLanguageID as given, or DESCRIPTOR_NO_SERIAL.
    uint16_t GetDeviceDescriptor(CUSBWalkState& walk, krv::UsbHub& hub, uint32_t ulPort, uint16_t usLanguageID,
                                 const krv::UsbDeviceDescriptor& deviceDescriptor);
    // Opens the drive, checks its bridge and number and fills the record at
    // walk.m_ucDevIndex, which then advances. True when accepted.
    bool vTestHandleFromPhysicalAddress(CUSBWalkState& walk, const std::string& szDevPath,
                                        const std::string& strHubName, const std::string& strTargetChip,
                                        int iBridgeType);
    // The chip identity text of 38-byte INQUIRY data: "%02X%02X" of bytes 37
    // and 36 ("8574", "7520" ...).
    static std::string strInquiryChipText(const uint8_t* pInquiry);
    // The chip texts a bridge type accepts: "8574"/"8576", "7520", "6390".
    static bool bChipOfBridgeType(const std::string& strChip, int iBridgeType);
    // The firmware version (register 0x07F0, "%02x" of six bytes), read with
    // the register command of the bridge type. False, text empty, on failure.
    static bool bReadFWVersion(HANDLE hDev, int iBridgeType, std::string& strVersion);
    // Reads the descriptor texts of the device on a known hub port into the
    // walk state (searching the hub when that port holds no configured
    // device). True when a device port was found.
    bool bUpdateDeviceInfo(CUSBWalkState& walk, const std::string& RootHubName, uint32_t PortIndex,
                           uint32_t ulPortCount);

    // ---- disk matching (KrvnUSBDevDiskMatch.cpp) --------------------------
    // The PhysicalDrive (SN_SEARCH_DISK) or CD-ROM (SN_SEARCH_CDROM) number
    // of the drive whose serial texts hold the USB serial; never a drive
    // another record already holds, nor one the device tree shows under
    // another USB device than the one with strDriverKeyName (when given).
    // PHYSICAL_ADDRESS_NONE when none.
    uint8_t ucGetPhysicalAddressFromSN(std::string strValidSerialNumber, uint8_t ucMode, int iBridgeType,
                                       const std::string& strDriverKeyName = std::string());
    // The same search for the device the walk examines (its USB serial and
    // driver key), on the device tree and drives' serial texts the walk has
    // read (read at its first search).
    uint8_t ucGetPhysicalAddressFromSN(CUSBWalkState& walk, uint8_t ucMode, int iBridgeType);
    // The storage device descriptor of an open storage handle.
    static bool GetDisksProperty(krv::StorageHandle& handle, krv::StorageDeviceDescriptor& descriptor);
    // A registry property (SPDRP_* code) of a device node, as text.
    static std::string vGetSetupDiDeviceRegistryProperty(const krv::DeviceNode& node, uint32_t dwProperty);

    // ---- disk and volume I/O (KrvnUSBDevDiskIO.cpp) -----------------------
    // The letter of the volume on PhysicalDrive ucPhysicalAddress, or
    // DEV_DRIVE_LETTER_NONE; with bWait retried for up to 5 s.
    char vGetLogicalAddressFromPhysicalAddress(uint8_t ucPhysicalAddress, uint8_t bWait);
    // Raw sectors of the letter's volume (512-byte sectors from the volume's
    // start). A timing record, when given, gets the timed pass's speed.
    bool vReadSectors(char cDriveLetter, uint8_t* pReadBuffer, uint64_t ullStartSector, uint32_t dwByteCount,
                      CTransferTiming* pTiming = nullptr);
    // Never writes to C:, nor to a volume whose disk is no drive of the
    // device table.
    bool vWriteSectors(char cDriveLetter, const uint8_t* pWriteBuffer, uint64_t ullStartSector, uint32_t dwByteCount,
                       CTransferTiming* pTiming = nullptr);
    // Disk size in MiB, DISK_SIZE_FAILED on failure.
    uint32_t vGetDiskPhysicalSize(uint8_t ucPhysicalAddress);
    // Free space in MiB; an unformatted volume's whole size; else
    // DISK_FREE_SPACE_FAILED.
    uint64_t vGetDiskFreeSpace(char cDriveLetter);
    // The highest partition number in use, PARTITION_COUNT_NONE when none.
    int32_t vGetPartitionCount(uint8_t ucPhysicalAddress);
    // The disk's serial and firmware, geometry, letter and capacity into the
    // record. DISK_INFO_* results; a drive of unknown type or whose disk
    // does not identify itself gets no geometry, letter or capacity.
    int nObtainDiSKInfo(const std::string& strPhysicalAddress, DevInfo& devInfo);
    static bool bIsTunnelled857x(HANDLE hDev);
    // Writes and reads N MiB / 4 at the area, timed, and restores what was
    // there. Speeds in MiB per second, as measured.
    int vReadWriteSpeedTest(char cDriveLetter, DiskInfoBlock diskInfo, double& dReadSpeed, double& dWriteSpeed,
                            uint8_t ucArea, uint32_t dwSizeMiB);
    // The description of a MEDIA_TYPE code.
    static const char* pszMediaTypeText(uint32_t dwMediaType);

    // ---- CPU reset, re-link and disconnect (KrvnUSBDevReset.cpp) ---------
    // Chip kinds (ucChipKind) are the bridge types: BRIDGE_TYPE_857X,
    // BRIDGE_TYPE_752X, BRIDGE_TYPE_6390. All resets and waits run one at a
    // time under pUtility.m_ReloadFWCriticalSection, taken in a stop-aware
    // wait; every wait ends early (result 0) when the calling thread's stop
    // request (krv::StopSource::current()) is made.
    //
    // Sends the reset code ucCode (CPURST_CPU_RESET) to the slot's
    // PhysicalDrive and returns without waiting. 1 done, 0 failed. The other
    // arguments are not used; they let it stand in for v8574CPURST.
    uint8_t v8574CPURSTwithoutCheck(uint8_t ucTargetNumber, uint8_t ucValidTotalThread, uint8_t ucProbeLimit,
                                    uint8_t ucCode, uint8_t ucChipKind);
    // Resets the slot's bridge and waits for its drive to come back
    // (bDetectTargetUSBDevice), all under the reset lock. 1 when the drive
    // came back and the record was re-mapped, else 0. A drive that still
    // answers under its old appearance is never taken for the new one.
    // True when drive nNumber of eKind is a drive of the USB device that sits
    // on hub strHubName's port ulHubPort now (its disk or CD-ROM unit is a
    // child of that device's node) and, when strSerial is given, that device
    // reports that serial number.
    static bool bDriveOnHubPort(const std::string& strHubName, uint32_t ulHubPort, krv::DriveKind eKind, int nNumber,
                                const std::string& strSerial = std::string());
    // The drive of eKind of the USB device on hub strHubName's port ulHubPort
    // now (its lowest number when it has several); -1 when none. A device
    // is found by where it sits, whatever serial it or the host reports.
    static int nDriveOnHubPort(const std::string& strHubName, uint32_t ulHubPort, krv::DriveKind eKind);
    uint8_t v8574CPURST(uint8_t ucTargetNumber, uint8_t ucValidTotalThread, uint8_t ucProbeLimit, uint8_t ucCode,
                        uint8_t ucChipKind);
    // Probes PhysicalDrive 1..ucProbeLimit + 1 (or the two CD-ROM numbers of
    // a CD-ROM record) until a drive carries the re-link signature
    // (ucValidTotalThread, ucTargetNumber), is of the chip kind and sits on
    // the slot's USB port; then re-maps the slot's record. 1 found, 0 timed
    // out (480 s, a CD-ROM record 300 s) or stopped.
    uint8_t bDetectTargetUSBDevice(uint8_t ucTargetNumber, uint8_t ucValidTotalThread, uint8_t ucProbeLimit,
                                   uint8_t ucChipKind);
    // Flushes the slot's disk, puts it into standby and has the bridge leave
    // the bus (CPURST_DISCONNECT). 1 done, 0 failed; takes no lock.
    uint8_t vDisconnectAllDevice(uint8_t ucTargetNumber);

    // ---- SHA-256 initial key -------------------------------------------
    uint8_t vSHA256_SendKey(uint8_t ucTargetNumber);
    // The bridge's verdict on image ucImage (0 failed, also when the
    // command could not be sent).
    uint8_t vSHA256_VerifyKey(uint8_t ucTargetNumber, uint8_t ucImage);
    uint8_t vCheckSupportSHA256(uint8_t ucTargetNumber);

    // ---- ITE PD controller through the I2C tunnel (KrvnUSBDevITEPD.cpp) ---
    int32_t iITE_PD_I2C(HANDLE hDev, uint8_t ucFunc, uint8_t ucN, uint16_t wAddress, const uint8_t* pucWrite,
                        uint8_t* pucRead, uint32_t dwLen);
    int32_t iITE_PD_I2C_stop(HANDLE hDev, uint8_t ucFunc, uint8_t ucN, uint8_t ucRegister, const uint8_t* pucWrite,
                             uint8_t* pucRead, uint32_t dwLen);
    int32_t iITE_PD_I2C_Burst(HANDLE hDev, uint8_t ucFunc, uint8_t ucN, uint16_t wAddress, const uint8_t* pucCdbData,
                              uint8_t* pBuf, uint32_t dwLen);
    int32_t iITE_PD_StopCPU(HANDLE hDev);
    int32_t iITE_PD_GetFWVersion(HANDLE hDev, uint8_t* pBuf, uint32_t dwLen);
    bool iITE_PD_EraseAll(HANDLE hDev);
    int32_t iITE_PD_VerifyErase(HANDLE hDev, uint16_t wDataPort, uint8_t ucAddrBytes, uint8_t ucShift);
    // The image is the firmware file as read once by iITE_PD_FWUpdate.
    int32_t iITE_PD_Program(HANDLE hDev, const std::vector<uint8_t>& image, uint16_t wDataPort, uint8_t ucAddrBytes,
                            uint8_t ucShift);
    uint8_t iITE_PD_VerifyProgram(HANDLE hDev, const std::vector<uint8_t>& image, uint16_t wDataPort,
                                  uint8_t ucAddrBytes, uint8_t ucShift);
    int32_t iITE_PD_ProgramSignature(HANDLE hDev, const uint8_t* pucSignature, uint16_t wDataPort,
                                     uint8_t ucAddrBytes, uint8_t ucShift);
    int32_t iITE_PD_ExitTestMode(HANDLE hDev);
    int32_t iITE_PD_WDTReset(HANDLE hDev);
    int bReadPDSignatureFromFile(uint8_t* pucSignature, const std::vector<uint8_t>& image);
    // Flashes the slot's ITE controller from a firmware file; 0 done (the
    // version after the update in wVersion, first byte low), else the failing
    // step's code or -1.
    int32_t iITE_PD_FWUpdate(uint8_t ucTargetNumber, const std::string& strFilePath, uint16_t& wVersion);

    // ---- members ---------------------------------------------------------
    // 1 while a full scan rebuilds the device list; a disk step clears it so
    // that a walk in that window leaves the records alone.
    std::atomic<uint8_t> m_bOpen{0};
    // The device table being filled; set by every scan.
    std::atomic<DevList*> m_pDevList{nullptr};
    // Settings mirrors: cd_rom_mode, image0, image1.
    uint8_t m_ucCDROMMode = 0;
    uint8_t m_ucImage0Enable = 0;
    uint8_t m_ucImage1Enable = 0;
    // The current ConfigTable sent to the targets and the templates of
    // configuration types 0/1, 2 and 3/4.
    uint8_t m_ucConfigTable[CONFIG_BIN_SIZE] = {};
    uint8_t m_ucConfigTableTemplate[CONFIG_TEMPLATE_COUNT][CONFIG_BIN_SIZE] = {};
    uint8_t m_ucU4ConfigTable[CONFIG_BIN_SIZE] = {};
    uint8_t m_ucU4ConfigTableTemplate[CONFIG_BIN_SIZE] = {};
    uint8_t m_bSupportSHA256 = 0;

private:
    struct STRING_DESCRIPTOR_CACHE {
        bool bUsed = false;
        std::string strVID;
        std::string strPID;
        std::string strManufacturer;
        std::string strProduct;
        std::string strSerialNumber;
        std::string strLocation;
    };

    bool bWriteFirmwareImage(HANDLE hDev, uint8_t ucTargetNumber, uint8_t ucImage, const uint8_t* pImage,
                             uint32_t dwSize, int nTry, int& iResult);
    bool bReadFirmwareImage(HANDLE hDev, uint8_t ucImage, uint8_t* pImage, uint32_t dwSize, int& iResult);

    // The walk's two kinds of connected port: a device to identify, a hub to
    // descend into.
    // Whether a storage device met after the table filled up is a bridge of
    // the run's kind (or could not say what it is), so that the scan counts
    // it as left out: its drive number and the chip query only, no record.
    bool bBridgeBeyondFullTable(CUSBWalkState& walk, int iBridgeType);
    void vExamineDevice(CUSBWalkState& walk, krv::UsbHub& hub, const krv::UsbConnectionInfo& info, int iHubDepth,
                        int iHCIndex, const std::string& strHubName, const std::string& strTargetChip,
                        int iBridgeType);
    void vWalkExternalHub(CUSBWalkState& walk, krv::UsbHub& hub, uint32_t ulPort, int iHubDepth, int iHCIndex,
                          const std::string& strHubName, const std::string& strTargetChip, int iBridgeType);
    // The bridge reads of the identification into a record being filled.
    bool bReadBridgeState(HANDLE hDev, const std::string& strChip, int iBridgeType, DevInfo& devInfo,
                          std::string& strChipRevision);
    void vReadBridgeDetails(HANDLE hDev, const std::string& strChip, int iBridgeType, DevInfo& devInfo);
    // The disk search on what `cache` holds of the machine (read into it
    // as the search needs it).
    uint8_t ucMatchSerial(const std::string& strSerial, uint8_t ucMode, int iBridgeType,
                          const std::string& strDriverKeyName, CSerialCandidateCache& cache);
    // The disk search: the candidates a device node offers, each read whole
    // (the texts that do not depend on the serial looked for).
    void vCollectCandidates(const krv::DeviceNode& node, const krv::Guid& interfaceClass, bool bCdRomSearch,
                            int iBridgeType, std::vector<CSerialCandidate>& candidates);
    bool bReadCandidate(CSerialCandidate& candidate, bool bCdRomSearch, int iBridgeType);
    // The texts of a candidate that only a search for `strSerial` reads: a
    // copy of the candidate for that search.
    CSerialCandidate candidateFor(CSerialCandidate& candidate, const std::string& strSerial,
                                  const std::string& strASCIISerial, int iBridgeType);
    // Whether the USB device of this driver key has a disk whose drive
    // number does not fit a record of the device table.
    bool bOwnDiskOutOfTable(const std::string& strDriverKeyName);
    // Counts a device of the bus the scan leaves out unidentified.
    void vCountUnidentified(DevList& devList, const std::string& strWhich, const char* pszWhy);
    void vSetOwners(const std::vector<krv::DeviceNode>& nodes, const std::string& strDriverKeyName,
                    std::vector<CSerialCandidate>& candidates);
    // The same-device check of the disk search: another record holds the number.
    bool bNumberTaken(uint32_t dwNumber, bool bCdRom) const;
    // The write guard of the raw volume I/O: the letter's volume lies on a
    // drive of the device table.
    bool bVolumeOnTableDrive(char cDriveLetter, int& nDiskNumber) const;

    std::mutex m_CacheCriticalSection;
    STRING_DESCRIPTOR_CACHE m_StringDescriptorCache[STRING_DESCRIPTOR_CACHE_SIZE];

    // The hub table of the last full scan; a walk publishes its own at its end.
    std::mutex m_HubTableCriticalSection;
    CUSBWalkState::HUB_ENTRY m_HubTable[WALK_HUB_TABLE_SIZE];
};

extern CKrvnUSBDev g_UsbDev;
