#include "device/USBUtility.h"
#include "device/TextUtil.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "device/DebugLog.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

CUSBUtility pUtility;
uint64_t g_llPerformanceFrequency = 0;

namespace {

// Window-system error numbers this file reports that the platform table
// has no name for.
constexpr uint32_t kNoUnicodeTranslation = 1113;
constexpr uint32_t kInvalidStringUuid = 1705;

int nLastError() { return static_cast<int>(krv::lastError()); }

void vLogCatch(const char* pszMethod, int nLine)
{
    vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", pszMethod, nLine, nLastError());
}

const char* pszCaptionOf(uint8_t ucType)
{
    switch (ucType) {
    case MSG_TYPE_ERROR: return "Error";
    case MSG_TYPE_TIMEOUT: return "TimeOut";
    case MSG_TYPE_WARNING: return "Warning";
    case MSG_TYPE_INFORMATION: return "Information";
    case MSG_TYPE_QUESTION: return "Question";
    default: return "";
    }
}

uint32_t uIconOf(uint8_t ucType)
{
    switch (ucType) {
    case MSG_TYPE_ERROR:
    case MSG_TYPE_TIMEOUT: return krv::mb::kIconHand;
    case MSG_TYPE_WARNING: return krv::mb::kIconExclamation;
    case MSG_TYPE_INFORMATION: return krv::mb::kIconAsterisk;
    case MSG_TYPE_QUESTION: return krv::mb::kIconQuestion;
    default: return 0;
    }
}

char cDigitChar(unsigned nValue) { return static_cast<char>(nValue < 10 ? '0' + nValue : 'A' + nValue - 10); }

bool bIsDigitOfBase(char c, bool bHex)
{
    return bHex ? nHexDigit(c) >= 0 : (c >= '0' && c <= '9');
}

// Reads exactly nDigits hex digits of strText at nPos into nValue.
bool bParseHex(const std::string& strText, size_t nPos, size_t nDigits, uint64_t& nValue)
{
    nValue = 0;
    for (size_t i = 0; i < nDigits; ++i) {
        int nDigit = nHexDigit(strText[nPos + i]);
        if (nDigit < 0)
            return false;
        nValue = (nValue << 4) | static_cast<uint64_t>(nDigit);
    }
    return true;
}

void vAppendUtf8(std::string& strOut, uint32_t nCodePoint)
{
    if (nCodePoint < 0x80) {
        strOut += static_cast<char>(nCodePoint);
    } else if (nCodePoint < 0x800) {
        strOut += static_cast<char>(0xC0 | (nCodePoint >> 6));
        strOut += static_cast<char>(0x80 | (nCodePoint & 0x3F));
    } else if (nCodePoint < 0x10000) {
        strOut += static_cast<char>(0xE0 | (nCodePoint >> 12));
        strOut += static_cast<char>(0x80 | ((nCodePoint >> 6) & 0x3F));
        strOut += static_cast<char>(0x80 | (nCodePoint & 0x3F));
    } else {
        strOut += static_cast<char>(0xF0 | (nCodePoint >> 18));
        strOut += static_cast<char>(0x80 | ((nCodePoint >> 12) & 0x3F));
        strOut += static_cast<char>(0x80 | ((nCodePoint >> 6) & 0x3F));
        strOut += static_cast<char>(0x80 | (nCodePoint & 0x3F));
    }
}

}  // namespace

// ---- object and state -----------------------------------------------------

CUSBUtility::~CUSBUtility() { vResetMembers(); }

void CUSBUtility::vInitialize()
{
    g_llPerformanceFrequency = krv::Platform::current().clock().tickFrequency();
    vDEBUG_Initial_printf();
    vResetMembers();
    // The five locks are std::mutex members, usable from construction on;
    // there is nothing left to create for them here.
    m_szModulePath = krv::executablePath();
    if (m_szModulePath.empty()) {
        vDEBUG_ERR_printf("%s:%d: executable path unknown , dwErrorCode %d", "CUSBUtility::vInitialize", __LINE__,
                          nLastError());
        return;
    }
    m_szProgramFolder = krv::parentFolder(m_szModulePath);
}

void CUSBUtility::vShutdown() { vResetMembers(); }

void CUSBUtility::vResetMembers()
{
    m_szProgramFolder.clear();
    m_szModulePath.clear();
    g_strFWFileName.clear();
    m_strChipVersion.clear();
    g_nHighestCDROMNumber.store(0);
    m_bSafelyRemoving.store(0);
}

uint8_t CUSBUtility::ucGetProgress() const { return g_ucFoundCount.load(); }

void CUSBUtility::vSetProgress(uint8_t ucValue) { g_ucFoundCount.store(ucValue); }

uint8_t CUSBUtility::ucGetOSVersionCode() const { return OS_VERSION_UNKNOWN; }

// ---- operator messages ----------------------------------------------------

void CUSBUtility::vWriteProgramMessage(const std::string& strText)
{
    vDEBUG_MSG_printf("%s:%d: %s", "CUSBUtility::nShowProgramMessage", __LINE__, strText.c_str());
    // One message, one line: a text that ends its own line gets no second,
    // empty one.
    const bool bEndsLine = strText.size() >= 2 && strText.compare(strText.size() - 2, 2, "\r\n") == 0;
    if (!krv::appendToFile(PROGRAM_MESSAGE_FILE, bEndsLine ? strText : strText + "\r\n"))
        vDEBUG_ERR_printf("%s:%d: nShowProgramMessage: %s not written , dwErrorCode %d",
                          "CUSBUtility::nShowProgramMessage", __LINE__, PROGRAM_MESSAGE_FILE, nLastError());
    // The pause is kept even when the file could not be written: the jobs
    // that follow a message are timed on it.
    krv::Platform::current().clock().sleepMs(PROGRAM_MESSAGE_PAUSE_MS);
}

int CUSBUtility::nShowMessage(const std::string& strText, uint32_t uFlags, uint8_t ucType)
{
    try {
        const uint32_t uBoxFlags = uFlags | uIconOf(ucType);
        if (m_bCommandLineMode.load()) {
            vWriteProgramMessage(strText);
            return krv::unattendedAnswer(uBoxFlags);
        }
        return krv::Platform::current().messageBoxes().show(strText, pszCaptionOf(ucType), uBoxFlags);
    } catch (...) {
        vLogCatch("CUSBUtility::nShowMessage", __LINE__);
        return 0;
    }
}

int CUSBUtility::nShowProgramMessage(const std::string& strText, uint8_t ucType, uint32_t uFlags,
                                     EMessageTarget eTarget)
{
    try {
        if (eTarget == EMessageTarget::eMessageFile || m_bCommandLineMode.load()) {
            vWriteProgramMessage(strText);
            return 0;
        }
        return krv::Platform::current().messageBoxes().show(strText, pszCaptionOf(ucType), uFlags | uIconOf(ucType));
    } catch (...) {
        vLogCatch("CUSBUtility::nShowProgramMessage", __LINE__);
        return 0;
    }
}

// ---- processes ------------------------------------------------------------

int CUSBUtility::DetectProcess(const std::string& strBaseName)
{
    try {
        auto processes = krv::Platform::current().processes().list();
        return static_cast<int>(std::count_if(processes.begin(), processes.end(),
                                              [&](const krv::ProcessInfo& p) { return p.baseName == strBaseName; }));
    } catch (...) {
        vLogCatch("CUSBUtility::DetectProcess", __LINE__);
        return 0;
    }
}

uint32_t CUSBUtility::GetProcessID(const std::string& strBaseName)
{
    try {
        for (const auto& p : krv::Platform::current().processes().list())
            if (p.baseName == strBaseName)
                return p.pid;
        return 0;
    } catch (...) {
        vLogCatch("CUSBUtility::GetProcessID", __LINE__);
        return 0;
    }
}

bool CUSBUtility::KillProcess(uint32_t dwProcessId, uint32_t dwExitCode)
{
    if (krv::Platform::current().processes().terminate(dwProcessId, dwExitCode))
        return true;
    vDEBUG_ERR_printf("%s:%d: KillProcess: hProcess = NULL , pId:%x , exitCode:%x , dwErrorCode:%d",
                      "CUSBUtility::KillProcess", __LINE__, dwProcessId, dwExitCode, nLastError());
    return false;
}

// ---- conversions ----------------------------------------------------------

uint32_t CUSBUtility::vCharToHex(const std::string& strText)
{
    uint32_t nValue = 0;
    for (char c : strText) {
        int nDigit = nHexDigit(c);
        if (nDigit < 0)
            break;
        nValue = (nValue << 4) | static_cast<uint32_t>(nDigit);
    }
    return nValue;
}

std::string CUSBUtility::vGUIDToCString(const krv::Guid& guid)
{
    char szText[40];
    std::snprintf(szText, sizeof szText, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1,
                  guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return szText;
}

bool CUSBUtility::vCStringToGUID(const std::string& strText, krv::Guid& guid)
{
    // The text is in braces; the inner form is 8-4-4-4-12 hex digits.
    static constexpr size_t kInnerLength = 36;
    bool bOk = strText.size() == kInnerLength + 2;
    const std::string strInner = bOk ? strText.substr(1, kInnerLength) : std::string();
    uint64_t n1 = 0, n2 = 0, n3 = 0, n4 = 0, n5 = 0;
    bOk = bOk && strInner[8] == '-' && strInner[13] == '-' && strInner[18] == '-' && strInner[23] == '-' &&
          bParseHex(strInner, 0, 8, n1) && bParseHex(strInner, 9, 4, n2) && bParseHex(strInner, 14, 4, n3) &&
          bParseHex(strInner, 19, 4, n4) && bParseHex(strInner, 24, 12, n5);
    if (!bOk) {
        krv::setLastError(kInvalidStringUuid);
        vDEBUG_ERR_printf("%s:%d: vCStringToGUID: UuidFromString Fail , dwErrorCode %d", "CUSBUtility::vCStringToGUID",
                          __LINE__, nLastError());
        return false;
    }
    guid.Data1 = static_cast<uint32_t>(n1);
    guid.Data2 = static_cast<uint16_t>(n2);
    guid.Data3 = static_cast<uint16_t>(n3);
    guid.Data4[0] = static_cast<uint8_t>(n4 >> 8);
    guid.Data4[1] = static_cast<uint8_t>(n4);
    for (int i = 0; i < 6; ++i)
        guid.Data4[2 + i] = static_cast<uint8_t>(n5 >> (8 * (5 - i)));
    return true;
}

std::string CUSBUtility::WideStrToMultiStr(std::u16string_view strWide)
{
    try {
        std::string strOut;
        strOut.reserve(strWide.size());
        bool bInvalid = false;
        for (size_t i = 0; i < strWide.size(); ++i) {
            uint32_t c = strWide[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < strWide.size() && strWide[i + 1] >= 0xDC00 &&
                strWide[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(strWide[++i]) - 0xDC00);
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                // A lone surrogate has no 8-bit form; it becomes the
                // replacement character so the rest of the text survives.
                bInvalid = true;
                c = 0xFFFD;
            }
            vAppendUtf8(strOut, c);
        }
        if (bInvalid) {
            krv::setLastError(kNoUnicodeTranslation);
            vDEBUG_ERR_printf("%s:%d: WideStrToMultiStr , dwErrorCode %d", "CUSBUtility::WideStrToMultiStr", __LINE__,
                              nLastError());
        }
        return strOut;
    } catch (...) {
        vLogCatch("CUSBUtility::WideStrToMultiStr", __LINE__);
        return {};
    }
}

void CUSBUtility::vSetControlText(krv::ControlTextWindow* pWindow, int nID, const std::string& strText)
{
    if (pWindow)
        pWindow->setControlText(nID, strText);
}

std::string CUSBUtility::vAddLimitSN(const std::string& strSerialNumber, uint8_t ucCount, uint8_t ucHexFlag,
                                     bool* pbOverflow)
{
    if (pbOverflow)
        *pbOverflow = false;
    try {
        std::string strUpper = strSerialNumber;
        std::transform(strUpper.begin(), strUpper.end(), strUpper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        const bool bHex = ucHexFlag != 0;
        const unsigned nBase = bHex ? 16 : 10;
        const bool bAllDigits =
            std::all_of(strUpper.begin(), strUpper.end(), [&](char c) { return bIsDigitOfBase(c, bHex); });

        if (!bHex && (strUpper.empty() || !bAllDigits)) {
            vDEBUG_ERR_printf("%s:%d: vAddLimitSN: ucSerialNumberLen[%d] <= 0,  bHexCheck_Result = %d",
                              "CUSBUtility::vAddLimitSN", __LINE__, static_cast<int>(strUpper.size()), bAllDigits);
            if (pbOverflow)
                *pbOverflow = ucCount != 0;
            return strUpper;
        }

        // Only the trailing run of digits counts: for a serial of digits that
        // is all of it; a prefix such as "SN-" is kept as it is.
        size_t nRunStart = strUpper.size();
        while (nRunStart > 0 && bIsDigitOfBase(strUpper[nRunStart - 1], bHex))
            --nRunStart;

        std::string strResult = strUpper;
        unsigned nCarry = ucCount;
        for (size_t i = strResult.size(); i-- > nRunStart;) {
            unsigned nValue = static_cast<unsigned>(nHexDigit(strResult[i])) + nCarry;
            strResult[i] = cDigitChar(nValue % nBase);
            nCarry = nValue / nBase;
        }

        if (!bAllDigits)
            vDEBUG_ERR_printf("%s:%d: vAddLimitSN: Not Invalid strRetSerialNumber[%s] , strSerialNumber[%s] , ucCount[%d] , ",
                              "CUSBUtility::vAddLimitSN", __LINE__, strResult.c_str(), strUpper.c_str(), ucCount);
        const bool bNoDigits = nRunStart == strUpper.size() && ucCount != 0;
        if (nCarry != 0 || bNoDigits) {
            vDEBUG_ERR_printf("%s:%d: vAddLimitSN: strSerialNumber[%s] , ucCount[%d] , ", "CUSBUtility::vAddLimitSN",
                              __LINE__, strUpper.c_str(), ucCount);
            if (pbOverflow)
                *pbOverflow = true;
        }
        return strResult;
    } catch (...) {
        vLogCatch("CUSBUtility::vAddLimitSN", __LINE__);
        if (pbOverflow)
            *pbOverflow = true;
        return {};
    }
}
