#pragma once
// "LimitationTable.ini": the optional file in the program folder that limits
// which drives a run accepts (a list of firmware versions, a manufacturer or
// product string, VID, PID, a piece of the firmware version), plus three
// feature values that are only kept here.
//
// Lines are key=value; the sections group keys but do not scope them; keys
// are compared ignoring case. Sections, comments and unknown keys are
// ignored (each named in the debug log); numbers are read as atoi reads
// them, so a value that is no number is 0.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/DevList.h"

constexpr const char* LIMITATION_TABLE_FILE = "LimitationTable.ini";

// iCheckLimitation's answers.
constexpr int32_t LIMITATION_PASS = 0;
constexpr int32_t LIMITATION_FW_NOT_LISTED = -2;   // a device's firmware version is not in the list
constexpr int32_t LIMITATION_MISMATCH = -3;        // a string, VID, PID or firmware piece differs

// display_result_FW_length is kept at most this.
constexpr int32_t LIMITATION_FW_LENGTH_MAX = 12;
// A longer file is read no further.
constexpr uint64_t LIMITATION_TABLE_SIZE_MAX = 1024 * 1024;

// What the check reads of one device found.
struct LimitationDevice {
    std::string strFWVersion;
    std::string strManufacturer;
    std::string strProduct;
    std::string strVID;
    std::string strPID;
};

class CLimitationTable {
public:
    // Reads the file. 0 when it does not exist (nothing changes, no check
    // will run); 1 when it was read.
    uint8_t vLoadFeatureINI(const std::string& strPath);
    // The reading of a table's text, without the file.
    void vParseFeatureText(std::string_view strText);

    // Applies the switched-on checks to the devices in order; the first
    // failure ends the check. LIMITATION_PASS with no device.
    int32_t iCheckLimitation(const std::vector<LimitationDevice>& devices);
    // The same for the devices found: slots 0 .. nDeviceCount - 1 of the
    // table (the USB devices, then the PCIe targets).
    int32_t iCheckLimitation(const DevList& devList, int nDeviceCount);

    // The operator's account of the last refusal of iCheckLimitation (empty
    // after a pass): which device failed which check.
    const std::string& strCheckFailure() const { return m_strCheckFailure; }

    // [feature]
    int32_t m_iDisplayResultFWLength = 0;
    int32_t m_iUpdateComponentID = 0;
    int32_t m_iWriteComponentIDToSN = 0;
    // [chk_item]: a check is on only when its switch is exactly 1.
    int32_t m_iCheckFWVersion = 0;
    int32_t m_iCheckManufactureString = 0;
    int32_t m_iCheckProductString = 0;
    int32_t m_iCheckVID = 0;
    int32_t m_iCheckPID = 0;
    int32_t m_iCheckPartOfFWVersion = 0;
    // [chk_value]
    std::vector<std::string> m_arrFWVersion;  // lower case
    std::string m_strLimitManufactureString;
    std::string m_strLimitProductString;
    std::string m_strLimitVID;  // upper case
    std::string m_strLimitPID;  // upper case
    std::string m_strPartOfFWVersion;
    int32_t m_iStartOfPartOfFWVersion = 0;
    int32_t m_iPartOfFWVersionLength = 0;

    std::string m_strLimitationTablePath;
    // 1 when the file was read; the Start handler checks only then.
    int32_t m_bLimitationTableLoaded = 0;

private:
    void vTakeLine(size_t nLine, std::string_view strLine);
    int32_t iCheckDevice(int nIndex, const LimitationDevice& device);

    std::string m_strCheckFailure;
};
