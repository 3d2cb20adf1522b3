#pragma once
// The USB-C power-delivery controller and MCU behind a bridge, reached
// through the bridge's PD vendor command (0xEC): detection of the controller
// and MCU, their firmware versions, and the PD and MCU firmware files turned
// into the images an update writes.
//
// Each operation opens "\\.\PhysicalDrive<n>" itself and closes it before it
// returns. One object is used by one thread at a time; what detection finds
// stays in the object until the next detection.
#include <cstdint>
#include <string>
#include <vector>

#include "device/KrvnUSBDevHandle.h"
#include "device/PDFirmwareFile.h"

// Vendor codes of the PD control block.
constexpr uint8_t PD_VENDOR_NONE = 0;
constexpr uint8_t PD_VENDOR_RICHTEK = 1;
constexpr uint8_t PD_VENDOR_CYPRESS = 2;
constexpr uint8_t PD_VENDOR_CCG3 = 4;
constexpr uint8_t PD_VENDOR_CCG = 5;
constexpr uint8_t MCU_VENDOR_STM = 20;

// Sub-codes of the PD vendor command.
constexpr uint8_t PD_MPT_AREA = 0x00;
constexpr uint8_t PD_WRITE_DATA = 0x01;
constexpr uint8_t PD_FW_VERSION = 0x03;
constexpr uint8_t PD_INITIALIZE = 0x04;
constexpr uint8_t PD_CLOSE = 0x05;
constexpr uint8_t PD_READ_DATA = 0x06;
constexpr uint8_t PD_GET_PD_CONTROL = 0x07;
constexpr uint8_t CYPRESS_PD_FW_VERSION = 0x21;
constexpr uint8_t CYPRESS_PD_FLASH_MODE = 0x22;
constexpr uint8_t CYPRESS_PD_WRITE_DATA = 0x23;
constexpr uint8_t CYPRESS_PD_READ_DATA = 0x24;
constexpr uint8_t PD_GET_PD_CCG3_DeviceMode = 0x29;
constexpr uint8_t CYPRESS_PD_CCG3_READ_DATA = 0x2A;
constexpr uint8_t CYPRESS_PD_CCG3_WRITE_DATA = 0x2B;
constexpr uint8_t CYPRESS_PD_CCG3_FW_VERSION = 0x2C;
constexpr uint8_t CYPRESS_PD_CCG3_FLASH_MODE = 0x2D;
constexpr uint8_t ST_MCU_ENTER_BOOTLOADER = 0x32;
constexpr uint8_t ST_MCU_ENTER_BOOTLOADER2 = 0x33;
constexpr uint8_t ST_MCU_WRITE_DATA = 0x34;
constexpr uint8_t ST_MCU_READ_DATA = 0x35;

constexpr uint32_t PD_VENDOR_CMD_MAX = 256;
constexpr uint8_t PD_CONTROL_SIGNATURE = 0x5A;
constexpr int PD_COMMAND_TRIES = 3;
constexpr uint32_t PD_RETRY_DELAY_MS = 10;

class CPowerDelivery {
public:
    CPowerDelivery();
    virtual ~CPowerDelivery() = default;

    // bWriteRead 1 writes. 0 done, -1 the command failed, -10 bad handle or length.
    int SCSI6390_PDVendorCmd(HANDLE hDev, uint8_t bWriteRead, uint8_t ucSubCode, uint16_t wValue, uint16_t wIndex,
                             uint8_t* pBuf, uint32_t dwLen);
    int nGetPDChipVendor(int nPhysicalDrive);
    int nGetCCG3DeviceMode(int nPhysicalDrive);
    int nInitializedPDI2CBus(int nPhysicalDrive);
    int nGetPDFWVersion(int nPhysicalDrive);
    int nCreatePDSPIROMBuffer(const std::string& strPath);
    std::string strGetPDFWVersionFromFile(const std::string& strPath);

    // From the ".cyacd" header line.
    uint32_t m_dwSiliconID = 0;
    uint8_t m_ucSiliconRev = 0;
    uint8_t m_ucChecksumType = 0;
    PDCypressImage m_RowTableA;               // CCG-type image of vendor 4
    PDCypressImage m_RowTableB;               // of vendor 5
    std::vector<MCUHexRecord> m_MCUImage;     // the ".hex" records in file order
    std::vector<uint8_t> m_ucPDROMBuffer;     // the ".bin" image, 16384 bytes
    uint8_t m_ucShortRow = 0;
    uint8_t m_ucMCUUpdateEnable = 0;
    uint8_t m_ucPDUpdateEnable = 0;
    uint8_t m_nPDChipVendor = PD_VENDOR_NONE;
    uint8_t m_ucPDFileKind = PD_FILE_UNKNOWN;
    uint8_t m_nMCUChipVendor = 0;
    uint8_t m_ucMCUFileKind = 0;
    uint8_t m_ucCCG3DeviceMode = 0;
    std::string m_strVersion;                 // PD version, "/", MCU version
    std::string m_strPDFWFileVersion;         // the PD file's version, as Start read it

private:
    // Sends one read up to PD_COMMAND_TRIES times, PD_RETRY_DELAY_MS apart,
    // logging each failed try under the read's name `pszName`.
    int nReadWithRetries(const char* pszMethod, HANDLE hDev, uint8_t ucSubCode, uint16_t wValue, uint8_t* pBuf,
                         uint32_t dwLen, const char* pszName, const std::string& strPath);
};

// "\\.\PhysicalDrive<n>", as the PD operations name the drive they open.
std::string strPDDrivePath(int nPhysicalDrive);
