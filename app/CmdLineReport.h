#pragma once
// The report files of the command-line jobs: what the last device scan found,
// written into the current folder for a production script to read.
//
//   U4Data_YYYYMMDD.csv    the USB4 identity of every device ("/O4"); one
//                          file per local day, rows appended, a header first
//   KRV857xDeviceInfo.txt  a device summary ("/O")
//   KRV8574PcieInfo.txt    the PCIe-attached bridges ("/PCIE")
//   KRV8574Version.txt     the firmware versions ("/V")
//
// Scripts on the production line read these byte for byte, so the texts keep
// the tool's historical form: CR LF line ends, upper-case hex, multi-byte
// image fields printed from their highest byte down. Each file is built whole
// in memory and then replaces the old one atomically (the csv is rewritten
// with its earlier rows and the new ones), so a crash never leaves half a
// report for a script to misread.
//
// "All devices" are the slots of the device table that the last scan filled:
// the USB devices, then the PCIe targets, never more than the table holds.
#include <cstdint>
#include <string>
#include <vector>

#include "device/DevList.h"
#include "platform/Clock.h"

constexpr const char* CMD_REPORT_DEVICE_INFO_FILE = "KRV857xDeviceInfo.txt";
constexpr const char* CMD_REPORT_PCIE_INFO_FILE = "KRV8574PcieInfo.txt";
constexpr const char* CMD_REPORT_VERSION_FILE = "KRV8574Version.txt";
constexpr const char* CMD_REPORT_EOL = "\r\n";

// The first line of a new U4Data file (without its line end).
constexpr const char* CMD_REPORT_U4DATA_HEADER =
    "Component ID,U4 Vendor ID,U4 Product ID,U4 Test ID,BCD Product ID,Product HW,TBT3 Vendor ID,"
    "TBT3 Model ID,TBT3 Model Revision,PCIE Vendor ID,PCIE Device ID,UUID";

// A fixed prefix of every UUID the reports print; it is not the devices' or
// the settings' vendor ID.
constexpr const char* CMD_REPORT_UUID_PREFIX = "3E9A";

constexpr int CMD_REPORT_PCIE_SERIAL_SIZE = 20;

// A PCIe target as the PCIe report names it: its configuration address and
// the serial bytes of its info record.
struct CmdReportPcieTarget {
    uint8_t ucBus = 0;
    uint8_t ucDevice = 0;
    uint8_t ucFunction = 0;
    uint8_t ucSerial[CMD_REPORT_PCIE_SERIAL_SIZE] = {};
};

// The 11-digit component ID of a USB4 image: bytes 89..84 in hex, the
// first digit (mode bits, not part of the ID) dropped.
std::string strCmdComponentIdText(const uint8_t (&ucU4Config)[DEV_CONFIG_SIZE]);

// A 12-digit firmware version in the firmware-file form YYMMDD_SS_CC_TT:
// underscores inserted at 6, 9 and 12 (or at the end of a shorter text).
std::string strCmdVersionWithUnderscores(const std::string& strVersion);

// Only the printable characters (0x20..0x7E) of a fixed-size serial field.
std::string strCmdPrintableSerial(const uint8_t* pucSerial, int nSize);

// "U4Data_%d%02d%02d.csv" of the local date.
std::string strCmdU4DataFileName(const krv::LocalTime& now);

// The report texts for the first nDevices slots (clamped to the table).
std::string strCmdU4DataRows(const DevList& devList, int nDevices);
std::string strCmdDeviceInfoText(const DevList& devList, int nDevices);
std::string strCmdVersionText(const DevList& devList, int nDevices);
// One line per PCIe target t; its UUID comes from its own record, the slot
// after the USB devices (DevNums + t). Targets beyond the table are left out.
std::string strCmdPcieInfoText(const DevList& devList, const std::vector<CmdReportPcieTarget>& targets);

// Writes a report into strFolder (empty: the current folder). False, with
// the reason logged, when the file could not be written whole; an old file
// is then left as it was.
bool bCmdWriteReportFile(const std::string& strFolder, const std::string& strName, const std::string& strText);
// Adds the rows to the day's csv in strFolder: the file's earlier rows kept,
// the header put first when the file is new or empty.
bool bCmdAppendU4DataCsv(const std::string& strFolder, const std::string& strRows, const krv::LocalTime& now);
