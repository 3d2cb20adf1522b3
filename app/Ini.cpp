#include "app/Ini.h"
#include "app/IniCodec.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/GUIText.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/MessageBoxes.h"
#include "platform/Paths.h"

Ini pIni;

namespace {

// The preload folder of the factory defaults. The tool was first made for a
// system whose scratch drive was D:; here the scratch space is /tmp.
constexpr const char* DEFAULT_PRELOAD_FOLDER = "/tmp/preload";

int nLastError()
{
    return static_cast<int>(krv::lastError());
}

std::string strFormat(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

std::string strFormat(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(out.data(), out.size() + 1, pszFormat, args);
    va_end(args);
    return out;
}

void vShowError(const std::string& strText)
{
    pUtility.nShowMessage(strText, krv::mb::kOk, MSG_TYPE_ERROR);
}

const std::string& strCheckMessage(EIniCheckFailure eFailure)
{
    switch (eFailure) {
    case EIniCheckFailure::eConfigType:
        return g_GUIText.m_strErrInvalidConfigType;
    case EIniCheckFailure::eSNSize:
        return g_GUIText.m_strErrInvalidSNSize;
    case EIniCheckFailure::eSNString:
        return g_GUIText.m_strErrInvalidSNString;
    case EIniCheckFailure::eManufacturerSize:
        return g_GUIText.m_strErrInvalidManufacturerSize;
    case EIniCheckFailure::eProductSize:
        return g_GUIText.m_strErrInvalidProductSize;
    case EIniCheckFailure::eDiskLabelSize:
        return g_GUIText.m_strErrInvalidDiskLabelSize;
    }
    return g_GUIText.m_strErrUnknown;
}

std::string strDescribeNote(const IniLineNote& note)
{
    const std::string strValue = IniPrintable(note.strValue);
    switch (note.eKind) {
    case EIniNote::eValueTooLong:
        return strFormat("line %d: the value of %s is %zu characters long; only the first %zu were kept",
                         note.nLine, note.strKey.c_str(), note.strValue.size(), IniText::kCapacity);
    case EIniNote::eValueHasZero:
        return strFormat("line %d: the value of %s holds a zero byte; only the text before it was kept",
                         note.nLine, note.strKey.c_str());
    case EIniNote::eNotANumber:
        return strFormat("line %d: the value of %s, \"%s\", is not a number; read as %" PRId64, note.nLine,
                         note.strKey.c_str(), strValue.c_str(), note.llStored);
    case EIniNote::eNumberTooLarge:
        return strFormat("line %d: the value of %s, \"%s\", does not fit the setting; read as %" PRId64,
                         note.nLine, note.strKey.c_str(), strValue.c_str(), note.llStored);
    }
    return {};
}

}  // namespace

Ini::Ini() : m_pINI(IniRecordCleared()), m_pProfile(&IniProfileProduction()) {}

Ini::~Ini()
{
    m_pINI = IniRecordCleared();
}

CConfigFieldLength& Ini::fieldLength()
{
    return m_pFieldLength ? *m_pFieldLength : g_UsbDev;
}

void Ini::vProblem(const std::string& strPath, const std::string& strText)
{
    if (!m_strLastProblem.empty())
        m_strLastProblem += '\n';
    m_strLastProblem += strPath + ": " + strText;
}

// ---- load -----------------------------------------------------------------

bool Ini::vLoadINIFile(std::string strINIFilePath)
{
    static const char* const kMethod = "Ini::vLoadINIFile";
    m_strLastProblem.clear();
    try {
        if (!pUtility.vCheckFilePathExists(strINIFilePath, 0)) {
            vDEBUG_ERR_printf("%s:%d: vLoadINIFile: strINIFilePath : %s , dwErrorCode %d", kMethod, __LINE__,
                              strINIFilePath.c_str(), nLastError());
            vProblem(strINIFilePath, "the settings file does not exist or cannot be read");
            return false;
        }
        std::string strText;
        if (!bReadFile(strINIFilePath, strText))
            return false;

        IniParseResult parsed = IniParseText(strText, profile());
        if (parsed.bWrongVersion) {
            vShowError(strFormat("Loaded INI file Versoin[%d] is not suit for current version of VIVade",
                                 parsed.nVersionRead));
            vDEBUG_ERR_printf("%s:%d: vLoadINIFile: strINIFilePath : %s , version %d , expected %d", kMethod,
                              __LINE__, strINIFilePath.c_str(), parsed.nVersionRead, profile().nVersion);
            vProblem(strINIFilePath, strFormat("line %d: version %d; %s reads version %d only", parsed.nVersionLine,
                                               parsed.nVersionRead, profile().pszProgram, profile().nVersion));
            return false;
        }
        vReportParse(parsed, strINIFilePath);
        // An empty file, or one with no setting in it, is not a settings
        // file: taking it would run the tool on an all-zero record.
        if (parsed.nKeyLines == 0) {
            vDEBUG_ERR_printf("%s:%d: vLoadINIFile: strINIFilePath : %s , no settings in the file", kMethod,
                              __LINE__, strINIFilePath.c_str());
            vProblem(strINIFilePath, strFormat("holds no settings of %s", profile().pszProgram));
            return false;
        }
        if (parsed.bCutShort()) {
            vDEBUG_ERR_printf("%s:%d: vLoadINIFile: strINIFilePath : %s , cut short , %zu settings missing", kMethod,
                              __LINE__, strINIFilePath.c_str(), parsed.missingKeys.size());
            vProblem(strINIFilePath,
                     strFormat("ends in the middle of a line and lacks %zu settings (the first is %s): the file "
                               "was cut short",
                               parsed.missingKeys.size(), parsed.missingKeys.front()->pszName));
            return false;
        }

        const uint8_t ucCode = ucCheck(parsed.record, strINIFilePath);
        if (parsed.bTooManyLines(profile())) {
            vDEBUG_ERR_printf("%s:%d: vLoadINIFile: strINIFilePath : %s ucTotalINICountLine : %d , dwErrorCode %d",
                              kMethod, __LINE__, strINIFilePath.c_str(), parsed.nCountedLines, nLastError());
            vProblem(strINIFilePath, strFormat("%d counted lines; a settings file of %s has at most %d",
                                               parsed.nCountedLines, profile().pszProgram,
                                               profile().nMaxCountedLines));
            return false;
        }
        if (ucCode != INI_CHECK_OK)
            return false;
        m_pINI = parsed.record;
        return true;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: vLoadINIFile: strINIFilePath : %s , dwErrorCode %d", kMethod, __LINE__,
                          strINIFilePath.c_str(), nLastError());
        vProblem(strINIFilePath, "the settings file could not be read");
        return false;
    }
}

bool Ini::bReadFile(const std::string& strPath, std::string& strText)
{
    static const char* const kMethod = "Ini::bReadFile";
    krv::File file;
    strText.assign(INI_MAX_FILE_SIZE + 1, '\0');
    size_t nRead = 0;
    // One read of one byte more than a settings file may have tells a file
    // that is too large, whatever it is (a device never ends).
    if (!file.open(krv::toNativeSeparators(strPath), krv::File::Mode::Read) ||
        !file.read(strText.data(), strText.size(), nRead)) {
        const int nError = nLastError();
        vDEBUG_ERR_printf("%s:%d: vLoadINIFile: strINIFilePath : %s , dwErrorCode %d", kMethod, __LINE__,
                          strPath.c_str(), nError);
        vProblem(strPath, strFormat("the settings file could not be read (error %d)", nError));
        return false;
    }
    if (nRead > INI_MAX_FILE_SIZE) {
        vDEBUG_ERR_printf("%s:%d: vLoadINIFile: strINIFilePath : %s , more than %" PRIu64 " bytes", kMethod,
                          __LINE__, strPath.c_str(), INI_MAX_FILE_SIZE);
        vProblem(strPath, strFormat("more than %" PRIu64 " bytes; that is not a settings file", INI_MAX_FILE_SIZE));
        return false;
    }
    strText.resize(nRead);
    return true;
}

// The unrecognised lines and the cut texts in one box; everything else the
// reading found goes to the debug log and the problem text.
void Ini::vReportParse(const IniParseResult& parsed, const std::string& strPath)
{
    static const char* const kMethod = "Ini::vLoadINIFile";
    std::string strBox;
    for (const IniLineNote& line : parsed.unrecognised) {
        strBox += strFormat("%d %s\r\n", line.nCountedBefore, g_GUIText.m_strErrINIConfigLineInvalid.c_str());
        vDEBUG_ERR_printf("%s:%d: INI file Setting, strItemName=%s, strItemValue=%s", kMethod, __LINE__,
                          line.strKey.c_str(), line.strValue.c_str());
        vProblem(strPath, strFormat("line %d: \"%s\" is not a setting of %s", line.nLine,
                                    IniPrintable(line.strKey).c_str(), profile().pszProgram));
    }
    if (parsed.nUnrecognisedLeftOut > 0) {
        strBox += strFormat("... %d more\r\n", parsed.nUnrecognisedLeftOut);
        vProblem(strPath, strFormat("%d more lines that are no settings", parsed.nUnrecognisedLeftOut));
    }
    for (const IniLineNote& note : parsed.notes) {
        const std::string strText = strDescribeNote(note);
        if (note.eKind == EIniNote::eValueTooLong || note.eKind == EIniNote::eValueHasZero)
            strBox += strPath + ": " + strText + "\r\n";
        vDEBUG_WRN_printf("%s:%d: %s: %s", kMethod, __LINE__, strPath.c_str(), strText.c_str());
        vProblem(strPath, strText);
    }
    if (parsed.nNotesLeftOut > 0)
        vProblem(strPath, strFormat("%d more values that are not what their settings take", parsed.nNotesLeftOut));
    for (const IniKey* pKey : parsed.missingKeys) {
        vDEBUG_WRN_printf("%s:%d: %s: %s is missing; left at its empty value", kMethod, __LINE__, strPath.c_str(),
                          pKey->pszName);
        vProblem(strPath, strFormat("%s is missing; left at its empty value", pKey->pszName));
    }
    if (!strBox.empty())
        vShowError(strBox);
}

// ---- check ----------------------------------------------------------------

uint8_t Ini::vCheckINIType()
{
    return ucCheck(m_pINI, std::string());
}

uint8_t Ini::ucCheck(IniRecord& record, const std::string& strPath)
{
    static const char* const kMethod = "Ini::vCheckINIType";
    try {
        const IniCheckResult result = IniCheckRecord(record, fieldLength());
        for (const IniCheckFinding& finding : result.findings) {
            const std::string& strMessage = strCheckMessage(finding.eFailure);
            vShowError(strMessage);
            vDEBUG_ERR_printf("%s:%d: vCheckINIType: %s , %s length %zu , limit %u , dwErrorCode %d", kMethod,
                              __LINE__, strMessage.c_str(), finding.pszKey ? finding.pszKey : "-", finding.nLength,
                              finding.ucLimit, nLastError());
            if (!strPath.empty())
                vProblem(strPath, strFormat("%s: %s", finding.pszKey ? finding.pszKey : "settings",
                                            strMessage.c_str()));
        }
        return result.ucCode;
    } catch (...) {
        vShowError(g_GUIText.m_strErrUnknown);
        vDEBUG_ERR_printf("%s:%d: vCheckINIType: this->m_pINI.ucConfig_format : %x , dwErrorCode %d", kMethod,
                          __LINE__, record.config_format, nLastError());
        return INI_CHECK_EXCEPTION;
    }
}

// ---- store ----------------------------------------------------------------

bool Ini::vStoreINIFile(std::string strINIFilePath)
{
    static const char* const kMethod = "Ini::vStoreINIFile";
    m_strLastProblem.clear();
    try {
        // The check runs on a copy: a record that fails it is not written,
        // and the window keeps showing what the operator typed.
        IniRecord checked = m_pINI;
        if (ucCheck(checked, strINIFilePath) != INI_CHECK_OK) {
            vDEBUG_ERR_printf("%s:%d: vStoreINIFile: Check INI Type Not Valid , strINIFilePath : %s , dwErrorCode %d",
                              kMethod, __LINE__, strINIFilePath.c_str(), nLastError());
            vProblem(strINIFilePath, "not written: the settings do not pass the check");
            return false;
        }
        if (!bWriteFile(strINIFilePath, IniFormatText(checked, profile()))) {
            const int nError = nLastError();
            vDEBUG_ERR_printf("%s:%d: vStoreINIFile: strINIFilePath : %s , dwErrorCode %d", kMethod, __LINE__,
                              strINIFilePath.c_str(), nError);
            vProblem(strINIFilePath, strFormat("the settings file could not be written (error %d)", nError));
            vShowError(strINIFilePath + " " + g_GUIText.m_strErrFilePathNotReadWrite);
            return false;
        }
        return true;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: vStoreINIFile: strINIFilePath : %s , dwErrorCode %d", kMethod, __LINE__,
                          strINIFilePath.c_str(), nLastError());
        vProblem(strINIFilePath, "the settings file could not be written");
        return false;
    }
}

// A regular file (or a new one) is replaced whole through a temporary file,
// so a crash or a full disk leaves the old file or the new one, never a part.
// A symbolic link is followed, so the link stays a link. A character device
// cannot be renamed over and is written in place; anything else (a folder, a
// pipe, a block device) is no place for settings and is refused.
bool Ini::bWriteFile(const std::string& strPath, const std::string& strText)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target = krv::toNativeSeparators(strPath);
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        const fs::path resolved = fs::canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    const fs::file_status status = fs::status(target, ec);
    switch (status.type()) {
    case fs::file_type::not_found:
    case fs::file_type::regular:
        return krv::writeFileAtomic(target.string(), strText);
    case fs::file_type::character: {
        krv::File file;
        size_t nDone = 0;
        return file.open(target.string(), krv::File::Mode::CreateTruncate) &&
               file.write(strText.data(), strText.size(), nDone) && file.close();
    }
    case fs::file_type::none:
        // The status itself failed (a part of the path is a file, say): the
        // write reports the error in its own terms.
        return krv::writeFileAtomic(target.string(), strText);
    default:
        krv::setLastError(krv::winerr::kAccessDenied);
        return false;
    }
}

// ---- factory defaults -----------------------------------------------------

void Ini::vSetDefaultSettings()
{
    IniRecord& r = m_pINI;
    r.version = 1006;
    r.format_enable = 0;
    r.partition_drive_type = 0;
    r.wr_test_enable = 0;
    r.Speed_test_enable = 0;
    r.format_drive_type = 1;
    r.drive_label_name.clear();
    r.wr_test_binary_name.set("rwtest.bin");
    r.wr_test_count = 1;
    r.auto_mp = 0;
    r.auto_mp_DevNum = 0;
    r.preload_folder_path.set(DEFAULT_PRELOAD_FOLDER);
    r.Check_USBStatus_enable = 0;
    r.Check_USBStatus = 0;
    r.Check_SerialNumber = 0;
    r.Auto_Safe_Remove = 0;
    r.Scan_BarCode = 0;
    r.Scan_HDDSN = 0;
    r.check_config = 0;
    r.uiRemove_after_finish = 0;
    r.SN_EditType = 1;
    r.USB4_ComponentID_EditType = 3;
    r.CmdLineTimeOut = 35;
    r.USB4_BcdSync = 1;
    r.Reload_Waiting = 5;
    r.CmdLineNoDevRetryMax = 0;
    r.CmdLineNoDevDelayms = 0;
    r.read_speed.clear();
    r.write_speed.clear();
    r.speed_test_file_size.clear();
    r.fw_enable = 0;
    r.fw_binary_name.clear();
    r.pd_binary_name.clear();
    r.mcu_binary_name.clear();
    r.fw_reload = 1;
    r.rescan_after_relink = 0;
    r.ext_fw_enable = 0;
    r.pd_fw_enable = 0;
    r.mcu_fw_enable = 0;
    r.vendor_id.set("3E9A");
    r.product_id.set("8573");
    r.device_revision.set("0100");
    r.manufacturer_string.set("Korvane");
    r.product_string.set("KRV857X series");
    r.manufacturer_string_T10.set("KRVN");
    r.product_string_T10.set("KRV857X");
    r.SN_Numbers = 12;
    r.serial_number.set("AAAABBBB0001");
    r.serial_number_increase = 1;
    r.serial_number_increase_HEX = 1;
    r.serial_number_increase_DEC = 0;
    r.SN_fix_length = 0;
    r.SN_remain_value_enable = 0;
    r.SN_remain_value_length = 8;
    r.standby_timer = 0;
    r.hdd_standby = 0;
    r.image0 = 1;
    r.image1 = 0;
    r.crc32 = 0;
    r.cd_rom_mode = 0;
    IniResetDeviceOptions(r);
    r.USB4_VendorName.set("Korvane");
    r.USB4_ModelName.set("857x");
    r.USB4_ComponentID.set("CCDDEEFF321");
    r.USB4_VendorID.set("3E9A");
    r.USB4_ProductID.set(profile().pszDefaultUSB4ProductID);
    r.USB4_TestID.set("00000666");
    r.USB4_BcdProductFWRevision.set("1234");
    r.USB4_ProductHWRevision.set("5A");
    r.USB4_MinorFWVersion.set("FF");
    r.USB4_TBT3VendorID.set("00E7");
    r.USB4_TBT3ModelID.set("8573");
    r.USB4_TBT3ModelRevision.set("E3");
    r.USB4_U4Mode = 3;
    r.USB4_20G = 1;
    r.USB4_X2 = 1;
    r.USB4_CLx = 3;
    r.PCIE_Scan = 1;
    r.PCIE_VendorID.set("2C4B");
    r.PCIE_DeviceID.set("8573");
    r.PCIE_SSDRelinkTime = 10;
    r.target_chip.clear();
    vCheckINIType();
}
