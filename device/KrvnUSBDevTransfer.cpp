// Moving a bridge's non-volatile images between this PC and one attached
// drive: the 128-byte configuration images, the firmware image, the 752x
// factory page and power configuration. Each operation opens the slot's
// drive, sends the vendor commands and closes the drive again; nothing is
// kept between calls, so the port workers call them in parallel.
#include <algorithm>
#include "device/TextUtil.h"
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// Firmware write tries, and read-back passes of a verified update.
constexpr int FW_WRITE_TRIES = 10;
constexpr int FW_VERIFY_PASSES = 2;
// The bridge programs its SPI flash after each part; these pauses give it
// the time.
constexpr uint64_t FW_PART_DELAY_MS = 1000;
constexpr uint64_t FW_RETRY_DELAY_MS = 500;
constexpr uint64_t FW_VERIFY_DELAY_MS = 1000;

constexpr uint32_t POWER_CONFIG_HEADER = 4;
constexpr uint32_t POWER_CONFIG_VALUES = POWER_CONFIG_SIZE - POWER_CONFIG_HEADER;

void vSleepMs(uint64_t ms) { krv::Platform::current().clock().sleepMs(ms); }

// Reads a whole file; false when it cannot be opened or read. A file longer
// than nMaxSize is refused unread, with `nSize` telling its length.
bool bReadWholeFile(const std::string& strPath, uint64_t nMaxSize, std::vector<uint8_t>& data, uint64_t& nSize)
{
    krv::File file;
    nSize = 0;
    if (!file.open(krv::toNativeSeparators(strPath), krv::File::Mode::Read) || !file.size(nSize))
        return false;
    if (nSize > nMaxSize)
        return true;
    data.assign(static_cast<size_t>(nSize), 0);
    size_t nRead = 0;
    return file.read(data.data(), data.size(), nRead) && nRead == data.size();
}

bool bIsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// The low byte of a field's hex number, read up to its first non-hex
// character.
uint8_t ucHexFieldValue(const std::string& strField)
{
    uint32_t dwValue = 0;
    for (char c : strField) {
        if (!bIsHexDigit(c))
            break;
        const int nDigit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                       : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        dwValue = (dwValue << 4) | static_cast<uint32_t>(nDigit);
    }
    return static_cast<uint8_t>(dwValue);
}

}  // namespace

// ---- configuration images ------------------------------------------------------

uint8_t CKrvnUSBDev::b8574WrRdConfiguration(uint8_t ucTargetNumber, uint8_t ucWrite, uint8_t* pBuf, uint8_t ucImage,
                                            uint8_t ucConfigType)
{
    static const char* const kMethod = "CKrvnUSBDev::b8574WrRdConfiguration";
    try {
        CDriveHandle hDev = hOpenTarget(ucTargetNumber);
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: b8574WrRdConfiguration: [%d] CreateFile Fail, ucConfigType %d dwErrorCode %d",
                              kMethod, __LINE__, ucTargetNumber, ucConfigType, nLastError());
            return 0;
        }
        int iResult = SCSI8574_AccessConfigEEPROM(hDev.get(), ucWrite, pBuf, CONFIG_BIN_SIZE, ucImage, ucConfigType);
        if (iResult != SCSI_RESULT_OK) {
            vDEBUG_ERR_printf("%s:%d: b8574WrRdConfiguration: [%d] SCSI8574_AccessConfigEEPROM Fail, ucConfigType %d "
                              "iResult %d dwErrorCode %d",
                              kMethod, __LINE__, ucTargetNumber, ucConfigType, iResult, nLastError());
            // A failed read leaves no bytes behind that could pass for an image.
            if (ucWrite == ACCESS_READ && pBuf)
                std::memset(pBuf, 0, CONFIG_BIN_SIZE);
            return 0;
        }
        return 1;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucTargetNumber : %d , dwErrorCode %d", kMethod, __LINE__,
                          ucTargetNumber, nLastError());
        return 0;
    }
}

// ---- firmware image ------------------------------------------------------------

// One write of the whole image: in one first-part transfer when it fits
// the bridge's transfer buffer, else the first region's worth and then the
// rest, each followed by the bridge's programming pause. Both parts are sent
// even when the first fails; the try fails when either does.
bool CKrvnUSBDev::bWriteFirmwareImage(HANDLE hDev, uint8_t ucTargetNumber, uint8_t ucImage, const uint8_t* pImage,
                                      uint32_t dwSize, int nTry, int& iResult)
{
    // The transfer takes a writable buffer; the image itself stays untouched.
    if (dwSize <= FW_TRANSFER_MAX) {
        std::vector<uint8_t> whole(pImage, pImage + dwSize);
        iResult = SCSI8574_AccessFirmwareEEPROM_Direct(hDev, ACCESS_WRITE, whole.data(), dwSize, ucImage,
                                                       FW_PART_FIRST);
    } else {
        std::vector<uint8_t> part(pImage, pImage + FW_PART0_SIZE);
        const int iFirst = SCSI8574_AccessFirmwareEEPROM_Direct(hDev, ACCESS_WRITE, part.data(), FW_PART0_SIZE,
                                                                ucImage, FW_PART_FIRST);
        vSleepMs(FW_PART_DELAY_MS);
        part.assign(pImage + FW_PART0_SIZE, pImage + dwSize);
        const int iSecond = SCSI8574_AccessFirmwareEEPROM_Direct(
            hDev, ACCESS_WRITE, part.data(), static_cast<uint32_t>(part.size()), ucImage, FW_PART_SECOND);
        vSleepMs(FW_PART_DELAY_MS);
        iResult = iFirst != SCSI_RESULT_OK ? iFirst : iSecond;
    }
    if (iResult != SCSI_RESULT_OK) {
        vDEBUG_ERR_printf("%s:%d: v8574UpdateFirmware: [%d] SCS8574_AccessFirmwareEEPROM Fail Retry[%d], iResult %d "
                          "dwErrorCode %d",
                          "CKrvnUSBDev::v8574UpdateFirmware", __LINE__, ucTargetNumber, nTry, iResult, nLastError());
        return false;
    }
    return true;
}

// Reads dwSize bytes of the image back: in one transfer up to the first
// region's size, else that much and then the rest, each followed by the
// pause. The buffer is all zeros when a read failed.
bool CKrvnUSBDev::bReadFirmwareImage(HANDLE hDev, uint8_t ucImage, uint8_t* pImage, uint32_t dwSize, int& iResult)
{
    std::memset(pImage, 0, dwSize);
    if (dwSize <= FW_PART0_SIZE) {
        iResult = SCSI8574_AccessFirmwareEEPROM_Direct(hDev, ACCESS_READ, pImage, dwSize, ucImage, FW_PART_FIRST);
    } else {
        const int iFirst =
            SCSI8574_AccessFirmwareEEPROM_Direct(hDev, ACCESS_READ, pImage, FW_PART0_SIZE, ucImage, FW_PART_FIRST);
        vSleepMs(FW_PART_DELAY_MS);
        const int iSecond = SCSI8574_AccessFirmwareEEPROM_Direct(hDev, ACCESS_READ, pImage + FW_PART0_SIZE,
                                                                 dwSize - FW_PART0_SIZE, ucImage, FW_PART_SECOND);
        vSleepMs(FW_PART_DELAY_MS);
        iResult = iFirst != SCSI_RESULT_OK ? iFirst : iSecond;
    }
    if (iResult != SCSI_RESULT_OK) {
        std::memset(pImage, 0, dwSize);
        return false;
    }
    return true;
}

uint8_t CKrvnUSBDev::v8574UpdateFirmware(uint8_t ucTargetNumber, uint8_t ucImage, uint8_t bVerify)
{
    static const char* const kMethod = "CKrvnUSBDev::v8574UpdateFirmware";
    try {
        // The image is checked before the bridge is touched: a file the
        // EEPROM cannot hold, or too short to carry its version, is refused.
        const std::string strFWFileName = pUtility.g_strFWFileName;
        std::vector<uint8_t> image;
        uint64_t nFileSize = 0;
        if (!bReadWholeFile(strFWFileName, FW_IMAGE_MAX_SIZE, image, nFileSize)) {
            vDEBUG_ERR_printf("%s:%d: v8574UpdateFirmware: [%d] File not exist: strFWFileName : %s , dwErrorCode %d",
                              kMethod, __LINE__, ucTargetNumber, strFWFileName.c_str(), nLastError());
            return 0;
        }
        if (nFileSize < FW_IMAGE_MIN_SIZE || nFileSize > FW_IMAGE_MAX_SIZE) {
            vDEBUG_ERR_printf("%s:%d: v8574UpdateFirmware: [%d] strFWFileName : %s , size %llu not in %u..%u", kMethod,
                              __LINE__, ucTargetNumber, strFWFileName.c_str(),
                              static_cast<unsigned long long>(nFileSize), FW_IMAGE_MIN_SIZE, FW_IMAGE_MAX_SIZE);
            return 0;
        }
        const uint32_t dwSize = static_cast<uint32_t>(image.size());

        CDriveHandle hDev = hOpenTarget(ucTargetNumber);
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: ucTargetNumber: [%d] CreateFile Fail , dwErrorCode %d", kMethod, __LINE__,
                              ucTargetNumber, nLastError());
            return 0;
        }

        // A failed try or pass fails the update even when a later one
        // succeeds; the later ones still run and leave the rewritten image.
        uint8_t ucResult = 1;
        int nWriteError = 0;
        for (int nTry = 0; nTry < FW_WRITE_TRIES; ++nTry) {
            int iResult = SCSI_RESULT_OK;
            if (bWriteFirmwareImage(hDev.get(), ucTargetNumber, ucImage, image.data(), dwSize, nTry, iResult))
                break;
            nWriteError = nLastError();
            vSleepMs(FW_RETRY_DELAY_MS);
            ucResult = 0;
        }

        if (bVerify) {
            std::vector<uint8_t> readBack(dwSize);
            for (int nPass = 0; nPass < FW_VERIFY_PASSES; ++nPass) {
                vDEBUG_MSG_printf("%s:%d: delay %d ms for SPI write", kMethod, __LINE__,
                                  static_cast<int>(FW_VERIFY_DELAY_MS));
                vSleepMs(FW_VERIFY_DELAY_MS);
                int iResult = SCSI_RESULT_OK;
                const bool bRead = bReadFirmwareImage(hDev.get(), ucImage, readBack.data(), dwSize, iResult);
                if (!bRead || std::memcmp(readBack.data(), image.data(), dwSize) != 0) {
                    ucResult = 0;
                    vDEBUG_ERR_printf("%s:%d: ucTargetNumber[%d] MEMCMP failed , iResult %d dwErrorCode %d, Retry %d ",
                                      kMethod, __LINE__, ucTargetNumber, iResult, nWriteError, nPass);
                    if (bRead) {
                        size_t i = 0;
                        while (readBack[i] == image[i])
                            ++i;
                        auto rd = [&](size_t k) { return k < dwSize ? readBack[k] : 0; };
                        auto fl = [&](size_t k) { return k < dwSize ? image[k] : 0; };
                        vDEBUG_ERR_printf("%s:%d: MEMCMP failed 0x%zx[%02x]!=[%02x] 0x%zx[%02x]!=[%02x] "
                                          "0x%zx[%02x]!=[%02x] 0x%zx[%02x]!=[%02x]\r\n ",
                                          kMethod, __LINE__, i, rd(i), fl(i), i + 1, rd(i + 1), fl(i + 1), i + 2,
                                          rd(i + 2), fl(i + 2), i + 3, rd(i + 3), fl(i + 3));
                    }
                }
                vDEBUG_MSG_printf("%s:%d: CheckFirmware: [%d] iResult %d dwErrorCode %d, Retry %d ", kMethod, __LINE__,
                                  ucTargetNumber, iResult, nWriteError, nPass);
                if (ucResult == 1)
                    break;
            }
        }
        return ucResult;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...) ucTargetNumber : %d , dwErrorCode %d", kMethod, __LINE__, ucTargetNumber,
                          nLastError());
        return 0;
    }
}

uint8_t CKrvnUSBDev::v8574ReadFirmware(uint8_t ucTargetNumber, uint8_t ucImage, uint8_t* pPart0, uint8_t* pPart1)
{
    static const char* const kMethod = "CKrvnUSBDev::v8574ReadFirmware";
    if (!pPart0 || !pPart1)
        return 0;
    std::memset(pPart0, 0, FW_PART0_SIZE);
    std::memset(pPart1, 0, FW_PART1_SIZE);
    try {
        CDriveHandle hDev = hOpenTarget(ucTargetNumber);
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: v8574ReadFirmware: [%d] CreateFile Fail , dwErrorCode %d", kMethod, __LINE__,
                              ucTargetNumber, nLastError());
            return 0;
        }
        const int iFirst =
            SCSI8574_AccessFirmwareEEPROM_Direct(hDev.get(), ACCESS_READ, pPart0, FW_PART0_SIZE, ucImage, FW_PART_FIRST);
        vSleepMs(FW_PART_DELAY_MS);
        const int iSecond = SCSI8574_AccessFirmwareEEPROM_Direct(hDev.get(), ACCESS_READ, pPart1, FW_PART1_SIZE,
                                                                 ucImage, FW_PART_SECOND);
        vSleepMs(FW_PART_DELAY_MS);
        const int iResult = iFirst != SCSI_RESULT_OK ? iFirst : iSecond;
        if (iResult != SCSI_RESULT_OK) {
            // Half an image is no image: the caller gets none.
            std::memset(pPart0, 0, FW_PART0_SIZE);
            std::memset(pPart1, 0, FW_PART1_SIZE);
            vDEBUG_ERR_printf("%s:%d: v8574ReadFirmware: [%d] SCSI8574_AccessFirmwareEEPROM_Direct Fail , iResult %d "
                              "dwErrorCode %d",
                              kMethod, __LINE__, ucTargetNumber, iResult, nLastError());
            return 0;
        }
        return 1;
    } catch (...) {
        std::memset(pPart0, 0, FW_PART0_SIZE);
        std::memset(pPart1, 0, FW_PART1_SIZE);
        vDEBUG_ERR_printf("%s:%d: catch(...) ucTargetNumber : %d , dwErrorCode %d", kMethod, __LINE__, ucTargetNumber,
                          nLastError());
        return 0;
    }
}

// ---- 752x factory page and power configuration ---------------------------------

bool CKrvnUSBDev::vFactoryConfigure_Read(uint8_t ucTargetNumber, uint8_t* pBuf, CDriveHandle hDev)
{
    static const char* const kMethod = "CKrvnUSBDev::vFactoryConfigure_Read";
    if (!pBuf)
        return false;
    std::memset(pBuf, 0, FACTORY_PAGE_SIZE);
    try {
        if (!hDev.bIsValid())
            hDev = hOpenTarget(ucTargetNumber, true);
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: vFactoryConfigure_Read: [%d] CreateFile Fail , dwErrorCode %d", kMethod,
                              __LINE__, ucTargetNumber, nLastError());
            return false;
        }
        // A failed page read is logged by the command and leaves zeros.
        SCSI7522_FactoryConfigure_Read(hDev.get(), pBuf);
        return true;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucTargetNumber : %d , dwErrorCode %d", kMethod, __LINE__,
                          ucTargetNumber, nLastError());
        return false;
    }
}

void CKrvnUSBDev::vBuildPowerConfigPayload(const std::string& strFileText, uint8_t* pPayload)
{
    static const uint8_t kHeader[POWER_CONFIG_HEADER] = {0x60, 0x01, 0x00, 0x00};
    std::memcpy(pPayload, kHeader, sizeof kHeader);
    std::memset(pPayload + POWER_CONFIG_HEADER, 0xFF, POWER_CONFIG_VALUES);

    // The text ends at its first NUL byte.
    std::string strText = strFileText.substr(0, strFileText.find('\0'));
    for (const char* pszPrefix : {"0x", "0X"}) {
        for (size_t nPos = strText.find(pszPrefix); nPos != std::string::npos; nPos = strText.find(pszPrefix, nPos))
            strText.erase(nPos, 2);
    }
    strText = strTrim(strText);
    // The first field names the configuration; the values follow it.
    const size_t nComma = strText.find(',');
    if (nComma != std::string::npos)
        strText.erase(0, nComma + 1);

    size_t nStart = 0;
    for (uint32_t i = 0; i < POWER_CONFIG_VALUES && nStart <= strText.size(); ++i) {
        size_t nEnd = strText.find(',', nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        const std::string strField = strTrim(strText.substr(nStart, nEnd - nStart));
        if (!strField.empty())
            pPayload[POWER_CONFIG_HEADER + i] = ucHexFieldValue(strField);
        nStart = nEnd + 1;
    }
}

int CKrvnUSBDev::vFactoryConfigure_PowerConfigWrite(uint8_t ucTargetNumber, const std::string& strPath)
{
    static const char* const kMethod = "CKrvnUSBDev::vFactoryConfigure_PowerConfigWrite";
    try {
        CDriveHandle hDev = hOpenTarget(ucTargetNumber, true);
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: vFactoryConfigure_PowerConfigWrite: [%d] CreateFile Fail , dwErrorCode %d",
                              kMethod, __LINE__, ucTargetNumber, nLastError());
            return SCSI_RESULT_FAIL;
        }
        // A power configuration file is a short text; anything larger is
        // not one.
        constexpr uint64_t kMaxFileSize = 1 << 20;
        std::vector<uint8_t> fileData;
        uint64_t nFileSize = 0;
        if (!bReadWholeFile(strPath, kMaxFileSize, fileData, nFileSize) || nFileSize > kMaxFileSize) {
            vDEBUG_ERR_printf("%s:%d: vFactoryConfigure_PowerConfigWrite File not exist: strFWFileName : %s , "
                              "dwErrorCode %d",
                              kMethod, __LINE__, strPath.c_str(), 0);
            return SCSI_RESULT_FAIL;
        }
        uint8_t ucPayload[POWER_CONFIG_SIZE];
        vBuildPowerConfigPayload(std::string(fileData.begin(), fileData.end()), ucPayload);
        int iResult = SCSI7522_FactoryConfigure_PowerConfigWrite(hDev.get(), ucPayload);
        if (iResult != SCSI_RESULT_OK) {
            vDEBUG_ERR_printf("%s:%d: vFactoryConfigure_PowerConfigWrite: [%d] SCSI6390_AccessEEPROM Fail , iResult %d "
                              "dwErrorCode %d",
                              kMethod, __LINE__, ucTargetNumber, iResult, nLastError());
        }
        return iResult;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucTargetNumber : %d , dwErrorCode %d", kMethod, __LINE__,
                          ucTargetNumber, nLastError());
        return SCSI_RESULT_FAIL;
    }
}
