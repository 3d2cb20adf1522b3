#include "app/ResultLog.h"

#include <cstdio>
#include <string_view>

#include "app/GUIText.h"
#include "app/Ini.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace {

constexpr const char* kHeaderNames[] = {
    "Date",
    "Time",
    "Target",
    "Port#",
    "HDD_SN",
    "VID",
    "PID",
    "iVersion",
    "iManugacturer",
    "iProduct",
    "SerialNumber",
    "FWVersion",
    "USB Speed",
    "PhysicalAddress",
    "LogicalAddress",
    "ConfigTableFormat",
    "UpdateVID",
    "UpdatePID",
    "UpdateRevision",
    "UpdateManufacturerString",
    "UpdateProductString",
    "UpdateSerialNumber",
    "UpdateSerialIncrease",
    "UpdateFWFile",
    "FormatDriveType",
    "FormatLabelName",
    "WrRdTestBinary",
    "WrRdTestCount",
    "UpdateFWResult",
    "ReloadFWResult",
    "DoPartitionFormatResult",
    "DoWrRdTestResult",
    "DoPreloadResult",
};

constexpr std::string_view kBlankCell = " \t";

// Builds a row cell by cell.
class RowWriter {
public:
    void vText(std::string_view strText)
    {
        for (char c : strText)
            m_strRow.push_back((c == '\t' || c == '\r' || c == '\n') ? ' ' : c);
        m_strRow.push_back('\t');
    }
    void vNumber(int nValue)
    {
        char szCell[16];
        std::snprintf(szCell, sizeof szCell, "%d", nValue);
        vText(szCell);
    }
    void vTwoDigits(int nValue)
    {
        char szCell[16];
        std::snprintf(szCell, sizeof szCell, "%02d", nValue);
        vText(szCell);
    }
    void vBlank() { m_strRow += kBlankCell; }
    void vResult(bool bPass) { vText(bPass ? g_GUIText.m_strPass : g_GUIText.m_strFail); }
    void vRaw(std::string_view strText) { m_strRow += strText; }
    std::string& str() { return m_strRow; }

private:
    std::string m_strRow;
};

// A setting or a result counts only when its byte is exactly 1.
bool bOn(uint8_t ucValue) { return ucValue == 1; }

}  // namespace

std::string strMPResultLogPath(const std::string& strFolder, const krv::LocalTime& now)
{
    char szName[32];
    std::snprintf(szName, sizeof szName, "%04d%02d%02d.%s", now.year, now.month, now.day, MP_RESULT_LOG_EXTENSION);
    return krv::joinPath(strFolder, szName);
}

std::string strMPResultHeader()
{
    std::string strHeader;
    for (const char* pszName : kHeaderNames) {
        strHeader += pszName;
        strHeader += '\t';
    }
    return strHeader;
}

std::string strMPResultRow(const IniRecord& ini, const DevInfo& device, uint8_t ucIndex, const krv::LocalTime& now)
{
    RowWriter row;
    row.vRaw("\r\n");
    char szCell[32];
    std::snprintf(szCell, sizeof szCell, "%04d%02d%02d", now.year, now.month, now.day);
    row.vText(szCell);
    std::snprintf(szCell, sizeof szCell, "%02d:%02d:%02d", now.hour, now.minute, now.second);
    row.vText(szCell);
    row.vTwoDigits(ucIndex);
    row.vTwoDigits(device.m_iPortLocation);
    for (const std::string* pText : {&device.m_strHDDSN, &device.m_strVID, &device.m_strPID, &device.m_strVersion,
                                     &device.m_strManufacturer, &device.m_strProduct, &device.m_strSerialNumber,
                                     &device.m_strFWVersion, &device.m_strUSBSpeed})
        row.vText(*pText);
    row.vTwoDigits(device.m_ucPhysicalAddress);
    if (device.m_cDriveLetter == DEV_DRIVE_LETTER_NONE)
        row.vBlank();
    else
        row.vText(std::string_view(&device.m_cDriveLetter, 1));

    const bool bUpdate = bOn(ini.fw_enable);
    if (bUpdate) {
        row.vNumber(ini.config_format);
        for (const IniText* pText : {&ini.vendor_id, &ini.product_id, &ini.device_revision, &ini.manufacturer_string,
                                     &ini.product_string})
            row.vText(pText->view());
    } else {
        for (int i = 0; i < 6; ++i)
            row.vBlank();
    }
    row.vBlank();  // UpdateSerialNumber: the serial differs per port; the column stays blank
    if (bUpdate) {
        row.vNumber(ini.serial_number_increase);
        row.vText(ini.fw_binary_name.view());
    } else {
        row.vBlank();
        row.vBlank();
    }

    const bool bFormat = bOn(ini.format_enable);
    if (bFormat) {
        row.vNumber(ini.format_drive_type);
        row.vText(ini.drive_label_name.view());
    } else {
        row.vBlank();
        row.vBlank();
    }
    const bool bWrRd = bOn(ini.wr_test_enable);
    if (bWrRd) {
        row.vText(ini.wr_test_binary_name.view());
        row.vNumber(ini.wr_test_count);
    } else {
        row.vBlank();
        row.vBlank();
    }

    const struct {
        bool bEnabled;
        bool bPass;
    } results[] = {
        {bUpdate, bOn(device.m_bUpdateFWResult)},
        {bOn(ini.fw_reload), bOn(device.m_bReloadFWResult)},
        {bFormat, bOn(device.m_bPartitionResult) && bOn(device.m_bFormatResult)},
        {bWrRd, bOn(device.m_bWrRdTestResult)},
        {bOn(ini.preload_enable), bOn(device.m_bPreloadResult)},
    };
    for (const auto& result : results) {
        if (result.bEnabled)
            row.vResult(result.bPass);
        else
            row.vBlank();
    }
    row.vBlank();
    return std::move(row.str());
}

bool bAppendMPResult(const std::string& strFolder, const IniRecord& ini, const DevInfo& device, uint8_t ucIndex,
                     const krv::LocalTime& now)
{
    const std::string strPath = strMPResultLogPath(strFolder, now);
    krv::File file;
    uint64_t llSize = 0;
    bool bOk = file.open(strPath, krv::File::Mode::Append) && file.size(llSize);
    if (bOk) {
        // A day's file starts with the header, also when an earlier attempt
        // left it empty.
        std::string strText = llSize == 0 ? strMPResultHeader() : std::string();
        strText += strMPResultRow(ini, device, ucIndex, now);
        size_t nDone = 0;
        bOk = file.write(strText.data(), strText.size(), nDone) && file.sync() && file.close();
    }
    if (!bOk)
        vDEBUG_ERR_printf("%s:%d: vLogMPResult: [%d] , [%s] not written , dwErrorCode %d", "Ini::vLogMPResult",
                          __LINE__, ucIndex, strPath.c_str(), static_cast<int>(krv::lastError()));
    return bOk;
}

bool Ini::vLogMPResult(uint8_t ucIndex)
{
    DevList* pDevList = g_UsbDev.m_pDevList.load();
    if (!pDevList || ucIndex >= MAX_DEV_SLOTS) {
        krv::setLastError(krv::winerr::kInvalidParameter);
        vDEBUG_ERR_printf("%s:%d: vLogMPResult: [%d] , no device record , dwErrorCode %d", "Ini::vLogMPResult",
                          __LINE__, ucIndex, static_cast<int>(krv::lastError()));
        return false;
    }
    return vLogMPResult(ucIndex, pDevList->Devs[ucIndex]);
}

bool Ini::vLogMPResult(uint8_t ucIndex, const DevInfo& device)
{
    try {
        // One reading of the clock: the row's date and the file's are the same day.
        const krv::LocalTime now = krv::Platform::current().clock().localTime();
        return bAppendMPResult(pUtility.m_szProgramFolder, m_pINI, device, ucIndex, now);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: vLogMPResult: [%d] , dwErrorCode %d", "Ini::vLogMPResult", __LINE__, ucIndex,
                          static_cast<int>(krv::lastError()));
        return false;
    }
}
