#include "app/FWFileRules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/SettingsValidation.h"
#include "device/DebugLog.h"
#include "device/TextUtil.h"
#include "device/USBUtility.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

const uint8_t g_ucFWChecksumSignature[8] = {0x5A, 0x4B, 0x3C, 0x2D, 0x1E, 0x0F, 0x69, 0x78};
const uint8_t g_ucFWCRC32Signature[8] = {0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0, 0x96, 0x87};

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// Where a piece of a file is: counted from its start or back from its end.
enum class EFrom { eStart, eEnd };

// Reads `nLength` bytes of the file at `nOffset` (from its start, or that far
// before its end). False, with the reason logged, when the file cannot be
// read or is too short to hold the piece.
bool bReadFilePiece(const char* pszWho, const std::string& strPath, EFrom eFrom, size_t nOffset, uint8_t* pucOut,
                    size_t nLength)
{
    krv::File file;
    uint64_t llSize = 0;
    if (!file.open(krv::toNativeSeparators(strPath), krv::File::Mode::Read) || !file.size(llSize)) {
        vDEBUG_ERR_printf("%s:%d: strFWFileName : %s , dwErrorCode %d", pszWho, __LINE__, strPath.c_str(),
                          nLastError());
        return false;
    }
    const uint64_t llNeeded = (eFrom == EFrom::eStart) ? uint64_t{nOffset} + nLength : uint64_t{nOffset};
    if (llSize < llNeeded || (eFrom == EFrom::eEnd && nLength > nOffset)) {
        krv::setLastError(krv::winerr::kHandleEof);
        vDEBUG_ERR_printf("%s:%d: strFWFileName : %s , file size %llu too short (needs %llu) , dwErrorCode %d",
                          pszWho, __LINE__, strPath.c_str(), static_cast<unsigned long long>(llSize),
                          static_cast<unsigned long long>(llNeeded), nLastError());
        return false;
    }
    const uint64_t llAt = (eFrom == EFrom::eStart) ? nOffset : llSize - nOffset;
    size_t nDone = 0;
    if (!file.seek(llAt) || !file.read(pucOut, nLength, nDone) || nDone != nLength) {
        if (nDone != nLength && krv::lastError() == 0)
            krv::setLastError(krv::winerr::kHandleEof);
        vDEBUG_ERR_printf("%s:%d: strFWFileName : %s , read at %llu failed , dwErrorCode %d", pszWho, __LINE__,
                          strPath.c_str(), static_cast<unsigned long long>(llAt), nLastError());
        return false;
    }
    return true;
}

std::string strVersionText(const uint8_t* pucVersion)
{
    char szText[2 * FWFILE_VERSION_LENGTH + 1];
    std::snprintf(szText, sizeof szText, "%02x%02x%02x%02x%02x%02x", pucVersion[0], pucVersion[1], pucVersion[2],
                  pucVersion[3], pucVersion[4], pucVersion[5]);
    return szText;
}

// The byte written as the two characters at `nAt` of the text; false when
// the text is too short or either is no hex digit. The characters are
// returned for the message (0 for a missing one).
bool bHexPairAt(std::string_view strText, size_t nAt, uint8_t& ucByte, char& c1, char& c2)
{
    c1 = nAt < strText.size() ? strText[nAt] : '\0';
    c2 = nAt + 1 < strText.size() ? strText[nAt + 1] : '\0';
    uint8_t ucHigh = 0, ucLow = 0;
    const bool bOk = bHexCharToValue(c1, ucHigh) && bHexCharToValue(c2, ucLow);
    ucByte = static_cast<uint8_t>(ucHigh * 16 + ucLow);
    return bOk;
}

// "check FW path [..]" / "check FW dev [..]": the two characters that are
// no hex pair, in the case the message has always used for each.
std::string strBadPairMessage(bool bPath, char c1, char c2)
{
    char szText[64];
    const auto u1 = static_cast<unsigned char>(c1), u2 = static_cast<unsigned char>(c2);
    if (bPath)
        std::snprintf(szText, sizeof szText, "check FW path [%x,%x]", u1, u2);
    else
        std::snprintf(szText, sizeof szText, "check FW dev [%X,%X]", u1, u2);
    return szText;
}

}  // namespace

uint8_t ucFWSignatureOfImage(const uint8_t* pucImage, size_t nSize)
{
    if (!pucImage || nSize < FWFILE_SIGNATURE_FROM_END)
        return FWFILE_NO_SIGNATURE;
    return pucImage[nSize - FWFILE_SIGNATURE_FROM_END];
}

bool bFWVersionOfImage(const uint8_t* pucImage, size_t nSize, std::string& strVersion)
{
    strVersion.clear();
    if (!pucImage || nSize < FWFILE_VERSION_OFFSET + FWFILE_VERSION_LENGTH)
        return false;
    strVersion = strVersionText(pucImage + FWFILE_VERSION_OFFSET);
    return true;
}

std::string strFWFileNameOfVersion(const uint8_t (&ucVersion)[FWFILE_VERSION_LENGTH])
{
    char szName[64];
    std::snprintf(szName, sizeof szName, "KV_USB4_%02X%02X%02X_%02X_%02X_%02X.bin", ucVersion[0], ucVersion[1],
                  ucVersion[2], ucVersion[3], ucVersion[4], ucVersion[5]);
    return szName;
}

uint8_t uGet8574FWSignatureFromeBin(const std::string& strFWFileName)
{
    try {
        uint8_t ucSignature = FWFILE_NO_SIGNATURE;
        if (!bReadFilePiece("uGet8574FWSignatureFromeBin", strFWFileName, EFrom::eEnd, FWFILE_SIGNATURE_FROM_END,
                            &ucSignature, 1))
            return FWFILE_NO_SIGNATURE;
        return ucSignature;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", "uGet8574FWSignatureFromeBin", __LINE__, nLastError());
        return FWFILE_NO_SIGNATURE;
    }
}

bool bCmp8574ChipAndFWVersion(uint8_t ucChipMajorRev, uint8_t ucFWSignature)
{
    if (ucChipMajorRev > 7) {
        vDEBUG_ERR_printf("%s:%d: unmatch chip maj rev:%d", "bCmp8574ChipAndFWVersion", __LINE__, ucChipMajorRev);
        return false;
    }
    const uint8_t ucChecksum = g_ucFWChecksumSignature[ucChipMajorRev];
    const uint8_t ucCRC32 = g_ucFWCRC32Signature[ucChipMajorRev];
    if (ucFWSignature == ucChecksum || ucFWSignature == ucCRC32)
        return true;
    vDEBUG_ERR_printf("%s:%d: match:%d, chip maj rev:%d, FW sig from bin:%X, FW sig(chk sum):%X, FW sig(CRC32):%X",
                      "bCmp8574ChipAndFWVersion", __LINE__, 0, ucChipMajorRev, ucFWSignature, ucChecksum, ucCRC32);
    return false;
}

std::string strGetFWVersionFromBin(const std::string& strFWFileName)
{
    try {
        uint8_t ucVersion[FWFILE_VERSION_LENGTH] = {};
        if (!bReadFilePiece("strGetFWVersionFromBin", strFWFileName, EFrom::eStart, FWFILE_VERSION_OFFSET, ucVersion,
                            sizeof ucVersion))
            return {};
        return strVersionText(ucVersion);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", "strGetFWVersionFromBin", __LINE__, nLastError());
        return {};
    }
}

bool bCheckFWFile(const std::string& strFWFileName, size_t nNameTail)
{
    static const char* const kWho = "bCheckFWFile";
    try {
        if (nNameTail > 0 && strFWFileName.size() < nNameTail) {
            vDEBUG_ERR_printf("%s:%d: len check fail : strFWFileName : %s", kWho, __LINE__, strFWFileName.c_str());
            return false;
        }
        const std::string_view strSearched =
            nNameTail > 0 ? std::string_view(strFWFileName).substr(strFWFileName.size() - nNameTail) : strFWFileName;
        if (strSearched.find(FWFILE_NAME_PREFIX) == std::string::npos) {
            vDEBUG_ERR_printf("%s:%d: file name check fail : strFWFileName : %s", kWho, __LINE__,
                              strFWFileName.c_str());
            return false;
        }
        // The version is read from the file's own name, whatever its folders
        // are called; either separator ends a folder.
        const std::string strName = krv::fileNameOf(strFWFileName);
        std::string strFromName =
            strName.size() >= FWFILE_NAME_PREFIX.size() ? strName.substr(FWFILE_NAME_PREFIX.size(), 15) : std::string();
        strFromName.erase(std::remove(strFromName.begin(), strFromName.end(), '_'), strFromName.end());

        const std::string strFromFile = strGetFWVersionFromBin(strFWFileName);
        // A file without a version never matches, not even a name without one.
        if (strFromFile.empty() || !bEqualNoCase(strFromName, strFromFile)) {
            vDEBUG_ERR_printf("%s:%d: bCheckFWFile FAIL: strFWFileName : %s , strFWFileNameFromFile : %s", kWho,
                              __LINE__, strFromName.c_str(), strFromFile.c_str());
            return false;
        }
        return true;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kWho, __LINE__, nLastError());
        return false;
    }
}

std::string strFWPDTypeMismatch(const std::string& strFWFileName, const std::vector<FWDevicePDInfo>& devices)
{
    // The SS pair of a name "KV_USB4_YYMMDD_SS_..." stands 15 characters
    // after the start of its last "KV_USB4".
    static constexpr std::string_view kMark = FWFILE_NAME_PREFIX.substr(0, 7);
    const size_t nMark = strFWFileName.rfind(kMark);
    uint8_t ucFile = 0;
    char c1 = 0, c2 = 0;
    if (nMark == std::string::npos || !bHexPairAt(strFWFileName, nMark + 15, ucFile, c1, c2))
        return strBadPairMessage(true, c1, c2);
    const bool bFileIsPD = (ucFile & FWFILE_PD_TYPE_PD) != 0;
    const bool bFileIsExternal = (ucFile & FWFILE_PD_TYPE_EXTERNAL) != 0;

    int nPD = 0, nPDX = 0, nExternal = 0, nInternal = 0;
    for (const FWDevicePDInfo& device : devices) {
        uint8_t ucDevice = 0;
        if (!bHexPairAt(device.strFWVersion, 6, ucDevice, c1, c2))
            return strBadPairMessage(false, c1, c2);
        if (device.ucPDType == 1)
            ++nPD;
        else if (device.ucPDType == 0)
            ++nPDX;
        if (ucDevice & FWFILE_PD_TYPE_EXTERNAL)
            ++nExternal;
        else
            ++nInternal;
    }
    if (bFileIsPD && nPDX > 0)
        return "can not update PD FW to PDX device";
    if (!bFileIsPD && nPD > 0)
        return "can not update PDX FW to PD device";
    if (bFileIsExternal && nInternal > 0)
        return "can not update external PD FW to internal PD device";
    if (!bFileIsExternal && nExternal > 0)
        return "can not update internal PD FW to external PD device";
    return {};
}

bool bIsFWmatchPDtype(const std::string& strFWFileName, const std::vector<FWDevicePDInfo>& devices)
{
    static const char* const kWho = "bIsFWmatchPDtype";
    try {
        vDEBUG_MSG_printf("%s:%d: fw:%s", kWho, __LINE__, strFWFileName.c_str());
        const std::string strMessage = strFWPDTypeMismatch(strFWFileName, devices);
        if (strMessage.empty())
            return true;
        vDEBUG_ERR_printf("%s:%d: %s", kWho, __LINE__, strMessage.c_str());
        pUtility.nShowProgramMessage(strMessage, MSG_TYPE_INFORMATION, 0,
                                     CUSBUtility::EMessageTarget::eMessageBox);
        return false;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", kWho, __LINE__, nLastError());
        return false;
    }
}

bool bIsFWmatchPDtype(const std::string& strFWFileName, const DevList& devList, int nDeviceCount)
{
    std::vector<FWDevicePDInfo> devices;
    for (int i = 0; i < std::clamp(nDeviceCount, 0, MAX_DEV_SLOTS); ++i)
        devices.push_back({devList.Devs[i].m_strFWVersion, devList.Devs[i].m_ucPDType});
    return bIsFWmatchPDtype(strFWFileName, devices);
}

bool bBcdRevisionFromFWFileName(const std::string& strFWFileName, std::string& strRevision)
{
    const size_t nPrefix = strFWFileName.find(FWFILE_NAME_PREFIX);
    if (nPrefix == std::string::npos)
        return false;
    const std::string_view strDate = std::string_view(strFWFileName).substr(nPrefix + FWFILE_NAME_PREFIX.size(), 6);
    // Six decimal digits with a real month, or the revision would not be
    // the four characters the USB4 image has room for.
    const auto bDecimal = [](char c) { return c >= '0' && c <= '9'; };
    if (strDate.size() != 6 || !std::all_of(strDate.begin(), strDate.end(), bDecimal))
        return false;
    const int nMonth = (strDate[2] - '0') * 10 + (strDate[3] - '0');
    if (nMonth < 1 || nMonth > 12)
        return false;
    char szRevision[8];
    std::snprintf(szRevision, sizeof szRevision, "%c%X%c%c", strDate[1], static_cast<unsigned>(nMonth), strDate[4],
                  strDate[5]);
    strRevision = szRevision;
    return true;
}

bool bBcdRevisionFromFWFile(const std::string& strFWFileName, std::string& strRevision)
{
    try {
        if (strFWFileName.find(FWFILE_NAME_PREFIX) == std::string::npos ||
            !pUtility.vCheckFilePathExists(strFWFileName, 0))
            return false;
        return bBcdRevisionFromFWFileName(strFWFileName, strRevision);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): dwErrorCode %d", "strMakeFWFileName", __LINE__, nLastError());
        return false;
    }
}

std::string strMakeFWFileName(IniRecord& ini)
{
    std::string strRevision;
    if (!bBcdRevisionFromFWFile(ini.fw_binary_name.str(), strRevision))
        return {};
    ini.USB4_BcdProductFWRevision.set(strRevision);
    return strRevision;
}
