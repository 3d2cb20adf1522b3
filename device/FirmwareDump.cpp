#include "device/FirmwareDump.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

bool bAllBytes(const uint8_t* pBytes, size_t nSize, uint8_t ucValue)
{
    return std::all_of(pBytes, pBytes + nSize, [ucValue](uint8_t b) { return b == ucValue; });
}

}  // namespace

namespace {

// An erased or never-programmed EEPROM holds no version: its image is no
// firmware to make a file of.
bool bHoldsVersion(const char* pszMethod, const std::vector<uint8_t>& image, uint8_t ucTargetNumber, uint8_t ucImage)
{
    const uint8_t* pVersion = image.data() + FW_DUMP_VERSION_OFFSET;
    if (bAllBytes(pVersion, FW_DUMP_VERSION_LENGTH, 0x00) || bAllBytes(pVersion, FW_DUMP_VERSION_LENGTH, 0xFF)) {
        vDEBUG_ERR_printf("%s:%d: [%d] image %d holds no firmware version", pszMethod, __LINE__, ucTargetNumber,
                          ucImage);
        return false;
    }
    return true;
}

}  // namespace

bool bReadDeviceFirmware(CKrvnUSBDev& usbDev, uint8_t ucTargetNumber, uint8_t ucImage, std::vector<uint8_t>& image)
{
    static const char* const kMethod = "bReadDeviceFirmware";
    image.clear();
    std::vector<uint8_t> part0(FW_PART0_SIZE);
    std::vector<uint8_t> part1(FW_PART1_SIZE);
    if (!usbDev.v8574ReadFirmware(ucTargetNumber, ucImage, part0.data(), part1.data())) {
        vDEBUG_ERR_printf("%s:%d: [%d] v8574ReadFirmware Fail , dwErrorCode %d", kMethod, __LINE__, ucTargetNumber,
                          nLastError());
        return false;
    }
    part0.insert(part0.end(), part1.begin(), part1.end());
    if (!bHoldsVersion(kMethod, part0, ucTargetNumber, ucImage))
        return false;
    image = std::move(part0);
    return true;
}

bool bReadPcieTargetFirmware(CKrv857xPcieCtrl& pcieCtrl, uint8_t ucTargetNumber, uint8_t ucImage,
                             std::vector<uint8_t>& image)
{
    static const char* const kMethod = "bReadPcieTargetFirmware";
    image.clear();
    std::vector<uint8_t> whole(FW_PART0_SIZE + FW_PART1_SIZE);
    const int iResult = pcieCtrl.pcie_AccessFirmwareEEPROM2(ucTargetNumber, ACCESS_READ, whole.data(),
                                                            static_cast<uint32_t>(whole.size()), ucImage);
    if (iResult != 0) {
        vDEBUG_ERR_printf("%s:%d: [%d] pcie_AccessFirmwareEEPROM2 Fail , iResult %d", kMethod, __LINE__,
                          ucTargetNumber, iResult);
        return false;
    }
    if (!bHoldsVersion(kMethod, whole, ucTargetNumber, ucImage))
        return false;
    image = std::move(whole);
    return true;
}

void vDeviceFirmwareVersion(const std::vector<uint8_t>& image, uint8_t (&ucVersion)[FW_DUMP_VERSION_LENGTH])
{
    std::memset(ucVersion, 0, sizeof ucVersion);
    if (image.size() >= FW_DUMP_VERSION_OFFSET + FW_DUMP_VERSION_LENGTH)
        std::memcpy(ucVersion, image.data() + FW_DUMP_VERSION_OFFSET, FW_DUMP_VERSION_LENGTH);
}

EFirmwareDumpResult eWriteDeviceFirmwareFile(const std::string& strPath, const std::vector<uint8_t>& image)
{
    static const char* const kMethod = "eWriteDeviceFirmwareFile";
    const std::string strNative = krv::toNativeSeparators(strPath);
    std::error_code error;
    if (std::filesystem::exists(strNative, error)) {
        krv::File file;
        uint64_t nSize = 0;
        if (!file.open(strNative, krv::File::Mode::Read) || !file.size(nSize)) {
            vDEBUG_ERR_printf("%s:%d: %s cannot be read , dwErrorCode %d", kMethod, __LINE__, strNative.c_str(),
                              nLastError());
            return EFirmwareDumpResult::eWriteFailed;
        }
        if (nSize != image.size())
            return EFirmwareDumpResult::eDiffers;
        std::vector<uint8_t> existing(image.size());
        size_t nRead = 0;
        if (!file.read(existing.data(), existing.size(), nRead) || nRead != existing.size()) {
            vDEBUG_ERR_printf("%s:%d: %s cannot be read , dwErrorCode %d", kMethod, __LINE__, strNative.c_str(),
                              nLastError());
            return EFirmwareDumpResult::eWriteFailed;
        }
        if (existing != image) {
            vDEBUG_ERR_printf("%s:%d: %s exists and holds another image", kMethod, __LINE__, strNative.c_str());
            return EFirmwareDumpResult::eDiffers;
        }
        return EFirmwareDumpResult::eExisted;
    }
    if (!krv::writeFileAtomic(strNative, std::string_view(reinterpret_cast<const char*>(image.data()), image.size()))) {
        vDEBUG_ERR_printf("%s:%d: %s cannot be written , dwErrorCode %d", kMethod, __LINE__, strNative.c_str(),
                          nLastError());
        return EFirmwareDumpResult::eWriteFailed;
    }
    return EFirmwareDumpResult::eWritten;
}
