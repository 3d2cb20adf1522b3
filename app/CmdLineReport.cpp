#include "app/CmdLineReport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

namespace {

// A csv that large is not the tool's: it is neither read nor rewritten.

std::string strHexBytes(const uint8_t (&ucImage)[DEV_CONFIG_SIZE], int nHighest, int nLowest)
{
    std::string strText;
    char szByte[3];
    for (int i = nHighest; i >= nLowest; --i) {
        std::snprintf(szByte, sizeof szByte, "%02X", ucImage[i]);
        strText += szByte;
    }
    return strText;
}

int nClampDevices(int nDevices) { return std::clamp(nDevices, 0, MAX_DEV_SLOTS); }

// One row in one write: appended whole, never split by another writer.
bool bAppendLine(krv::File& file, const std::string& strLine)
{
    size_t nDone = 0;
    return file.write(strLine.data(), strLine.size(), nDone) && nDone == strLine.size();
}

}  // namespace

std::string strCmdComponentIdText(const uint8_t (&ucU4Config)[DEV_CONFIG_SIZE])
{
    return strHexBytes(ucU4Config, 89, 84).substr(1);
}

std::string strCmdVersionWithUnderscores(const std::string& strVersion)
{
    std::string strText = strVersion;
    for (size_t nAt : {6u, 9u, 12u})
        strText.insert(std::min(nAt, strText.size()), "_");
    return strText;
}

std::string strCmdPrintableSerial(const uint8_t* pucSerial, int nSize)
{
    std::string strText;
    for (int i = 0; i < nSize; ++i)
        if (pucSerial[i] >= 0x20 && pucSerial[i] <= 0x7E)
            strText += static_cast<char>(pucSerial[i]);
    return strText;
}

std::string strCmdU4DataFileName(const krv::LocalTime& now)
{
    char szName[64];
    std::snprintf(szName, sizeof szName, "U4Data_%d%02d%02d.csv", now.year, now.month, now.day);
    return szName;
}

std::string strCmdU4DataRows(const DevList& devList, int nDevices)
{
    std::string strRows;
    for (int i = 0; i < nClampDevices(nDevices); ++i) {
        const auto& image = devList.Devs[i].m_ucU4Config;
        const std::string strComponentId = strCmdComponentIdText(image);
        const std::string fields[] = {
            strComponentId,
            strHexBytes(image, 93, 92),    // U4 vendor ID
            strHexBytes(image, 95, 94),    // U4 product ID
            strHexBytes(image, 99, 96),    // U4 test ID
            strHexBytes(image, 101, 100),  // BCD product ID
            strHexBytes(image, 102, 102),  // product HW
            strHexBytes(image, 109, 108),  // TBT3 vendor ID
            strHexBytes(image, 111, 110),  // TBT3 model ID
            strHexBytes(image, 112, 112),  // TBT3 model revision
            strHexBytes(image, 117, 116),  // PCIe vendor ID
            strHexBytes(image, 119, 118),  // PCIe device ID
            std::string(CMD_REPORT_UUID_PREFIX) + "-" + strComponentId + "-0",
        };
        for (size_t f = 0; f < std::size(fields); ++f)
            strRows += (f ? "," : "") + fields[f];
        strRows += CMD_REPORT_EOL;
    }
    return strRows;
}

std::string strCmdDeviceInfoText(const DevList& devList, int nDevices)
{
    std::string strText;
    char szLine[64];
    for (int i = 0; i < nClampDevices(nDevices); ++i) {
        const DevInfo& dev = devList.Devs[i];
        std::snprintf(szLine, sizeof szLine, "Port[%d]", i);
        strText += szLine + std::string(CMD_REPORT_EOL);
        strText += "Status[" + dev.m_strUSBSpeed + "]" + CMD_REPORT_EOL;
        strText += "VID[" + dev.m_strVID + "]" + CMD_REPORT_EOL;
        strText += "PID[" + dev.m_strPID + "]" + CMD_REPORT_EOL;
        strText += "SN[" + dev.m_strSerialNumber + "]" + CMD_REPORT_EOL;
        strText += "FW[" + dev.m_strFWVersion + "]" + CMD_REPORT_EOL;
        std::snprintf(szLine, sizeof szLine, "CC[%d]", dev.m_ucCCOrientation);
        strText += szLine + std::string(CMD_REPORT_EOL);
        strText += "U4[" + CVIVadeDlg::strGetLinkTypeName(dev.m_ucU4Mode) + "]" + CMD_REPORT_EOL + CMD_REPORT_EOL;
    }
    return strText;
}

std::string strCmdVersionText(const DevList& devList, int nDevices)
{
    std::string strText;
    for (int i = 0; i < nClampDevices(nDevices); ++i)
        strText += std::to_string(i) + ":" + strCmdVersionWithUnderscores(devList.Devs[i].m_strFWVersion) +
                   CMD_REPORT_EOL;
    return strText;
}

std::string strCmdPcieInfoText(const DevList& devList, const std::vector<CmdReportPcieTarget>& targets)
{
    std::string strText;
    char szAddress[64];
    for (size_t t = 0; t < targets.size(); ++t) {
        const int nSlot = nPcieDevSlot(devList, static_cast<int>(t));
        if (nSlot < 0)
            break;
        const CmdReportPcieTarget& target = targets[t];
        std::snprintf(szAddress, sizeof szAddress, "Bus:%d,Device:%d,Function:%d,", target.ucBus, target.ucDevice,
                      target.ucFunction);
        strText += szAddress;
        strText += "SN:" + strCmdPrintableSerial(target.ucSerial, CMD_REPORT_PCIE_SERIAL_SIZE);
        strText += ",UUID:" + std::string(CMD_REPORT_UUID_PREFIX) +
                   strCmdComponentIdText(devList.Devs[nSlot].m_ucU4Config) + "0" + CMD_REPORT_EOL;
    }
    return strText;
}

bool bCmdWriteReportFile(const std::string& strFolder, const std::string& strName, const std::string& strText)
{
    const std::string strPath = krv::joinPath(strFolder, strName);
    if (krv::writeFileAtomic(strPath, strText))
        return true;
    vDEBUG_ERR_printf("%s:%d: report [%s] not written , dwErrorCode %d", "bCmdWriteReportFile", __LINE__,
                      strPath.c_str(), krv::lastError());
    return false;
}

bool bCmdAppendU4DataCsv(const std::string& strFolder, const std::string& strRows, const krv::LocalTime& now)
{
    static const char* const kWho = "bCmdAppendU4DataCsv";
    const std::string strPath = krv::joinPath(strFolder, strCmdU4DataFileName(now));
    // The day's file is appended to in place, one write per row, so runs of
    // other tools in the same folder never lose each other's rows. Only the
    // run that creates the file writes the header.
    krv::File file;
    bool bOpen = file.open(strPath, krv::File::Mode::CreateNew);
    bool bOk = bOpen;
    if (bOpen) {
        bOk = bAppendLine(file, std::string(CMD_REPORT_U4DATA_HEADER) + CMD_REPORT_EOL);
    } else if (krv::lastError() == krv::winerr::kAlreadyExists) {
        bOpen = bOk = file.open(strPath, krv::File::Mode::Append);
    }
    for (size_t nFrom = 0; bOk && nFrom < strRows.size();) {
        const size_t nEnd = strRows.find(CMD_REPORT_EOL, nFrom);
        const size_t nNext = nEnd == std::string::npos ? strRows.size() : nEnd + std::strlen(CMD_REPORT_EOL);
        bOk = bAppendLine(file, strRows.substr(nFrom, nNext - nFrom));
        nFrom = nNext;
    }
    if (bOpen && !file.close())
        bOk = false;
    if (!bOk)
        vDEBUG_ERR_printf("%s:%d: report [%s] not written , dwErrorCode %d", kWho, __LINE__, strPath.c_str(),
                          krv::lastError());
    return bOk;
}
