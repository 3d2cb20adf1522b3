#include "app/LimitationTable.h"
#include "device/TextUtil.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

#include "device/DebugLog.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

namespace {

enum class EValue { eNumber, eText, eUpper, eFWList };

struct KeyRule {
    const char* pszKey;
    EValue eValue;
    int32_t CLimitationTable::*piNumber;
    std::string CLimitationTable::*pstrText;
};

using T = CLimitationTable;
const KeyRule kKeys[] = {
    {"display_result_FW_length", EValue::eNumber, &T::m_iDisplayResultFWLength, nullptr},
    {"update_componentID", EValue::eNumber, &T::m_iUpdateComponentID, nullptr},
    {"write_componentID_to_SN", EValue::eNumber, &T::m_iWriteComponentIDToSN, nullptr},
    {"check_fw_version", EValue::eNumber, &T::m_iCheckFWVersion, nullptr},
    {"check_manufacture_string", EValue::eNumber, &T::m_iCheckManufactureString, nullptr},
    {"check_product_string", EValue::eNumber, &T::m_iCheckProductString, nullptr},
    {"check_vid", EValue::eNumber, &T::m_iCheckVID, nullptr},
    {"check_pid", EValue::eNumber, &T::m_iCheckPID, nullptr},
    {"check_part_of_fw_version", EValue::eNumber, &T::m_iCheckPartOfFWVersion, nullptr},
    {"fw_version", EValue::eFWList, nullptr, nullptr},
    {"manufacture_string", EValue::eText, nullptr, &T::m_strLimitManufactureString},
    {"product_string", EValue::eText, nullptr, &T::m_strLimitProductString},
    {"vid", EValue::eUpper, nullptr, &T::m_strLimitVID},
    {"pid", EValue::eUpper, nullptr, &T::m_strLimitPID},
    {"part_of_fw_version", EValue::eText, nullptr, &T::m_strPartOfFWVersion},
    {"start_address_of_part_of_fw_version", EValue::eNumber, &T::m_iStartOfPartOfFWVersion, nullptr},
    {"part_of_fw_version_length", EValue::eNumber, &T::m_iPartOfFWVersionLength, nullptr},
};

// The entries of the firmware-version list that differ from a device's
// version and are logged one by one.
constexpr size_t LIMITATION_FW_ENTRIES_LOGGED = 16;

bool bIsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view strTrimBlanks(std::string_view s)
{
    while (!s.empty() && bIsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && bIsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string strLower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The number the way the table has always read it (leading blanks, a sign,
// the digits up to the first other character; nothing gives 0), but held
// inside int32.
int32_t iReadNumber(std::string_view s)
{
    s = strTrimBlanks(s);
    size_t i = 0;
    bool bNegative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        bNegative = s[i++] == '-';
    const size_t nDigitsAt = i;
    int64_t llValue = 0;
    bool bInRange = true;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        llValue = llValue * 10 + (s[i] - '0');
        if (llValue > int64_t{INT32_MAX} + 1) {
            llValue = int64_t{INT32_MAX} + 1;
            bInRange = false;
        }
    }
    if (bNegative)
        llValue = -llValue;
    return static_cast<int32_t>(std::min<int64_t>(llValue, INT32_MAX));
}

}  // namespace

uint8_t CLimitationTable::vLoadFeatureINI(const std::string& strPath)
{
    static const char* const kWho = "CLimitationTable::vLoadFeatureINI";
    m_strLimitationTablePath = strPath;
    const std::string strNative = krv::toNativeSeparators(strPath);
    if (!krv::pathAccessible(strNative, false, false)) {
        vDEBUG_MSG_printf("%s:%d: no limitation table [%s]", kWho, __LINE__, strPath.c_str());
        return 0;
    }
    krv::File file;
    uint64_t llSize = 0;
    std::string strText;
    bool bRead = file.open(strNative, krv::File::Mode::Read) && file.size(llSize);
    if (bRead) {
        // A table is a few lines; a huge file is read no further than this.
        if (llSize > LIMITATION_TABLE_SIZE_MAX)
            vDEBUG_WRN_printf("%s:%d: [%s] is %llu bytes: only the first %llu are read", kWho, __LINE__,
                              strPath.c_str(), static_cast<unsigned long long>(llSize),
                              static_cast<unsigned long long>(LIMITATION_TABLE_SIZE_MAX));
        strText.resize(static_cast<size_t>(std::min(llSize, LIMITATION_TABLE_SIZE_MAX)));
        size_t nDone = 0;
        bRead = file.read(strText.data(), strText.size(), nDone);
        strText.resize(nDone);
    }
    if (!bRead)
        vDEBUG_ERR_printf("%s:%d: [%s] not read , dwErrorCode %d", kWho, __LINE__, strPath.c_str(),
                          static_cast<int>(krv::lastError()));
    vParseFeatureText(strText);
    return 1;
}

void CLimitationTable::vParseFeatureText(std::string_view strText)
{
    // A byte-order mark an editor put first belongs to no key.
    if (strText.substr(0, 3) == "\xEF\xBB\xBF")
        strText.remove_prefix(3);
    size_t nLine = 0;
    while (!strText.empty()) {
        ++nLine;
        const size_t nEnd = strText.find('\n');
        std::string_view strLine = strText.substr(0, nEnd);
        strText.remove_prefix(nEnd == std::string_view::npos ? strText.size() : nEnd + 1);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.remove_suffix(1);
        vTakeLine(nLine, strLine);
    }
}

void CLimitationTable::vTakeLine(size_t nLine, std::string_view strLine)
{
    if (strLine.empty())
        return;
    // key=value; a line without "=" is all key. The value ends at "//"
    // unless nothing would be left of it.
    const size_t nEqual = strLine.find('=');
    const std::string_view strKey = strTrimBlanks(strLine.substr(0, nEqual));
    const std::string_view strRest =
        nEqual == std::string_view::npos ? std::string_view() : strLine.substr(nEqual + 1);
    std::string_view strValue = strRest.substr(0, strRest.find("//"));
    if (strValue.empty())
        strValue = strRest;
    strValue = strTrimBlanks(strValue);

    const auto it = std::find_if(std::begin(kKeys), std::end(kKeys),
                                 [&](const KeyRule& rule) { return bEqualNoCase(rule.pszKey, strKey); });
    if (it == std::end(kKeys)) {
        // Sections, comments and keys of other table versions.
        vDEBUG_MSG_printf("%s:%d: line %zu ignored: %.*s", "CLimitationTable::vLoadFeatureINI", __LINE__, nLine,
                          static_cast<int>(std::min<size_t>(strLine.size(), 200)), strLine.data());
        return;
    }
    switch (it->eValue) {
    case EValue::eNumber: {
        int32_t iValue = iReadNumber(strValue);
        if (it->piNumber == &CLimitationTable::m_iDisplayResultFWLength)
            iValue = std::min(iValue, LIMITATION_FW_LENGTH_MAX);
        this->*(it->piNumber) = iValue;
        break;
    }
    case EValue::eText:
        this->*(it->pstrText) = std::string(strValue);
        break;
    case EValue::eUpper:
        this->*(it->pstrText) = strUpper(strValue);
        break;
    case EValue::eFWList: {
        // Each line replaces the list; empty pieces are kept.
        m_arrFWVersion.clear();
        const std::string strList = strLower(strValue);
        size_t nFrom = 0;
        for (;;) {
            const size_t nComma = strList.find(',', nFrom);
            m_arrFWVersion.push_back(strList.substr(nFrom, nComma - nFrom));
            if (nComma == std::string::npos)
                break;
            nFrom = nComma + 1;
        }
        break;
    }
    }
}

int32_t CLimitationTable::iCheckLimitation(const std::vector<LimitationDevice>& devices)
{
    m_strCheckFailure.clear();
    if (devices.empty())
        return LIMITATION_PASS;
    for (size_t i = 0; i < devices.size(); ++i)
        if (const int32_t iResult = iCheckDevice(static_cast<int>(i), devices[i]); iResult != LIMITATION_PASS)
            return iResult;
    return LIMITATION_PASS;
}

int32_t CLimitationTable::iCheckLimitation(const DevList& devList, int nDeviceCount)
{
    std::vector<LimitationDevice> devices;
    for (int i = 0; i < std::clamp(nDeviceCount, 0, MAX_DEV_SLOTS); ++i) {
        const DevInfo& device = devList.Devs[i];
        devices.push_back(
            {device.m_strFWVersion, device.m_strManufacturer, device.m_strProduct, device.m_strVID, device.m_strPID});
    }
    return iCheckLimitation(devices);
}

int32_t CLimitationTable::iCheckDevice(int nIndex, const LimitationDevice& device)
{
    static const char* const kWho = "CLimitationTable::iCheckLimitation";
    const std::string strIndex = "Device " + std::to_string(nIndex) + ": ";

    if (m_iCheckFWVersion == 1) {
        bool bListed = false;
        size_t nDiffering = 0;
        for (const std::string& strEntry : m_arrFWVersion) {
            // A device without a version read is never one of the list's.
            if (!device.strFWVersion.empty() && device.strFWVersion == strEntry) {
                bListed = true;
                break;
            }
            // A list of a million entries (a line of commas) would log a
            // million lines per device: the first few tell the story.
            if (++nDiffering <= LIMITATION_FW_ENTRIES_LOGGED)
                vDEBUG_MSG_printf("%s:%d: [%d]fw:%s,%s", kWho, __LINE__, nIndex, device.strFWVersion.c_str(),
                                  strEntry.c_str());
        }
        if (nDiffering > LIMITATION_FW_ENTRIES_LOGGED)
            vDEBUG_MSG_printf("%s:%d: [%d]fw:%s, %zu more entries differ", kWho, __LINE__, nIndex,
                              device.strFWVersion.c_str(), nDiffering - LIMITATION_FW_ENTRIES_LOGGED);
        if (!bListed) {
            m_strCheckFailure = strIndex + "firmware version \"" + device.strFWVersion + "\" is not in the list";
            return LIMITATION_FW_NOT_LISTED;
        }
    }

    struct TextCheck {
        int32_t iSwitch;
        const char* pszTag;
        const char* pszWhat;
        const std::string& strDevice;
        const std::string& strExpected;
    };
    const TextCheck checks[] = {
        {m_iCheckManufactureString, "m str", "manufacturer string", device.strManufacturer,
         m_strLimitManufactureString},
        {m_iCheckProductString, "p str", "product string", device.strProduct,
         m_strLimitProductString},
        {m_iCheckVID, "vid", "VID", device.strVID, m_strLimitVID},
        {m_iCheckPID, "pid", "PID", device.strPID, m_strLimitPID},
    };
    for (const TextCheck& check : checks) {
        if (check.iSwitch != 1 || check.strDevice == check.strExpected)
            continue;
        vDEBUG_ERR_printf("%s:%d: [%d]%s:%s,%s", kWho, __LINE__, nIndex, check.pszTag, check.strDevice.c_str(),
                          check.strExpected.c_str());
        m_strCheckFailure = strIndex + check.pszWhat + " \"" + check.strDevice + "\" is not \"" + check.strExpected +
                            "\"";
        return LIMITATION_MISMATCH;
    }

    if (m_iCheckPartOfFWVersion == 1) {
        const size_t nStart = static_cast<size_t>(std::max(m_iStartOfPartOfFWVersion, 0));
        const size_t nLength = static_cast<size_t>(std::max(m_iPartOfFWVersionLength, 0));
        const std::string strPart =
            nStart < device.strFWVersion.size() ? strUpper(device.strFWVersion.substr(nStart, nLength)) : std::string();
        const std::string strExpected = strUpper(m_strPartOfFWVersion);
        if (strPart != strExpected) {
            vDEBUG_ERR_printf("%s:%d: [%d]part fw:%s,%s, start:%d, len:%d", kWho, __LINE__, nIndex,
                              device.strFWVersion.c_str(), m_strPartOfFWVersion.c_str(), m_iStartOfPartOfFWVersion,
                              m_iPartOfFWVersionLength);
            m_strCheckFailure = strIndex + "firmware version \"" + device.strFWVersion + "\" does not hold \"" +
                                m_strPartOfFWVersion + "\" at " + std::to_string(m_iStartOfPartOfFWVersion);
            return LIMITATION_MISMATCH;
        }
    }
    return LIMITATION_PASS;
}
