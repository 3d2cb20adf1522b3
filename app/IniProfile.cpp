#include "app/IniProfile.h"

#include <unordered_map>

namespace {

using R = IniRecord;
using L = EIniLoadRule;

constexpr IniKey U8(const char* pszName, uint8_t R::*pucField, L eLoad = L::ePlain)
{
    return {pszName, EIniValueKind::eU8, pucField, nullptr, nullptr, eLoad, EIniStoreRule::ePlain};
}
constexpr IniKey I32(const char* pszName, int32_t R::*pnField, L eLoad = L::ePlain,
                     EIniStoreRule eStore = EIniStoreRule::ePlain)
{
    return {pszName, EIniValueKind::eI32, nullptr, pnField, nullptr, eLoad, eStore};
}
constexpr IniKey Text(const char* pszName, IniText R::*pText, L eLoad = L::ePlain)
{
    return {pszName, EIniValueKind::eText, nullptr, nullptr, pText, eLoad, EIniStoreRule::ePlain};
}

// ---- every key either file knows ------------------------------------------

constexpr IniKey kVersion = I32("version", &R::version, L::eVersion, EIniStoreRule::eProfileVersion);

constexpr IniKey kFormatEnable = U8("format_enable", &R::format_enable);
constexpr IniKey kFormatDriveType = U8("format_drive_type", &R::format_drive_type);
constexpr IniKey kPartitionDriveType = U8("partition_drive_type", &R::partition_drive_type);
constexpr IniKey kDriveLabelName = Text("drive_label_name", &R::drive_label_name);
constexpr IniKey kWrTestEnable = U8("wr_test_enable", &R::wr_test_enable);
constexpr IniKey kWrTestBinaryName = Text("wr_test_binary_name", &R::wr_test_binary_name);
constexpr IniKey kWrTestCount = U8("wr_test_count", &R::wr_test_count);
constexpr IniKey kAutoMp = U8("auto_mp", &R::auto_mp);
constexpr IniKey kAutoMpDevNum = U8("auto_mp_DevNum", &R::auto_mp_DevNum);
constexpr IniKey kPreloadEnable = U8("preload_enable", &R::preload_enable);
constexpr IniKey kPreloadFolderPath = Text("preload_folder_path", &R::preload_folder_path);
constexpr IniKey kCheckUSBStatusEnable = U8("Check_USBStatus_enable", &R::Check_USBStatus_enable);
constexpr IniKey kCheckUSBStatus = U8("Check_USBStatus", &R::Check_USBStatus);
constexpr IniKey kCheckSerialNumber = U8("Check_SerialNumber", &R::Check_SerialNumber);
constexpr IniKey kAutoSafeRemove = U8("Auto_Safe_Remove", &R::Auto_Safe_Remove);
constexpr IniKey kScanBarCode = U8("Scan_BarCode", &R::Scan_BarCode);
constexpr IniKey kRemoveAfterFinish = I32("uiRemove_after_finish", &R::uiRemove_after_finish);
constexpr IniKey kSpeedTestEnable = U8("Speed_test_enable", &R::Speed_test_enable);
constexpr IniKey kScanHDDSN = U8("Scan_HDDSN", &R::Scan_HDDSN);
constexpr IniKey kCheckConfig = U8("check_config", &R::check_config);
constexpr IniKey kSNEditType = U8("SN_EditType", &R::SN_EditType);
constexpr IniKey kComponentIDEditType = I32("USB4_ComponentID_EditType", &R::USB4_ComponentID_EditType, L::eAlways5);
constexpr IniKey kCmdLineTimeOut = I32("CmdLineTimeOut", &R::CmdLineTimeOut);
constexpr IniKey kBcdSync = U8("USB4_BcdSync", &R::USB4_BcdSync);
constexpr IniKey kReloadWaiting = I32("Reload_Waiting", &R::Reload_Waiting);
constexpr IniKey kCmdLineNoDevRetryMax = I32("CmdLineNoDevRetryMax", &R::CmdLineNoDevRetryMax);
constexpr IniKey kCmdLineNoDevDelayms = I32("CmdLineNoDevDelayms", &R::CmdLineNoDevDelayms);

constexpr IniKey kReadSpeed = Text("read_speed", &R::read_speed);
constexpr IniKey kWriteSpeed = Text("write_speed", &R::write_speed);
constexpr IniKey kSpeedTestFileSize = Text("speed_test_file_size", &R::speed_test_file_size);

constexpr IniKey kFwEnable = U8("fw_enable", &R::fw_enable);
constexpr IniKey kFwBinaryName = Text("fw_binary_name", &R::fw_binary_name);
constexpr IniKey kFwReload = U8("fw_reload", &R::fw_reload, L::eFwReload);
constexpr IniKey kRescanAfterRelink = I32("rescan_after_relink", &R::rescan_after_relink);
constexpr IniKey kExtFwEnable = I32("ext_fw_enable", &R::ext_fw_enable);
constexpr IniKey kPdFwEnable = I32("pd_fw_enable", &R::pd_fw_enable);
constexpr IniKey kMcuFwEnable = I32("mcu_fw_enable", &R::mcu_fw_enable);
constexpr IniKey kPdBinaryName = Text("pd_binary_name", &R::pd_binary_name);
constexpr IniKey kMcuBinaryName = Text("mcu_binary_name", &R::mcu_binary_name);

constexpr IniKey kConfigFormat = U8("config_format", &R::config_format);
constexpr IniKey kVendorId = Text("vendor_id", &R::vendor_id);
constexpr IniKey kProductId = Text("product_id", &R::product_id);
constexpr IniKey kDeviceRevision = Text("device_revision", &R::device_revision);
constexpr IniKey kManufacturerString = Text("manufacturer_string", &R::manufacturer_string);
constexpr IniKey kProductString = Text("product_string", &R::product_string);
constexpr IniKey kManufacturerStringT10 = Text("manufacturer_string_T10", &R::manufacturer_string_T10);
constexpr IniKey kProductStringT10 = Text("product_string_T10", &R::product_string_T10);
constexpr IniKey kSNNumbers = I32("SN_Numbers", &R::SN_Numbers, L::ePlain, EIniStoreRule::eAlways12);
constexpr IniKey kSerialNumber = Text("serial_number", &R::serial_number);
constexpr IniKey kSerialNumberIncrease = U8("serial_number_increase", &R::serial_number_increase);
constexpr IniKey kSerialNumberIncreaseHex = I32("serial_number_increase_HEX", &R::serial_number_increase_HEX);
constexpr IniKey kSerialNumberIncreaseDec = I32("serial_number_increase_DEC", &R::serial_number_increase_DEC);
constexpr IniKey kSNFixLength = I32("SN_fix_length", &R::SN_fix_length, L::eFixLength);
constexpr IniKey kSNRemainValueEnable = I32("SN_remain_value_enable", &R::SN_remain_value_enable);
constexpr IniKey kSNRemainValueLength = I32("SN_remain_value_length", &R::SN_remain_value_length, L::eAtMost20);
constexpr IniKey kStandbyTimer = U8("standby_timer", &R::standby_timer);
constexpr IniKey kHddStandby = U8("hdd_standby", &R::hdd_standby, L::eAlways0);
constexpr IniKey kImage0 = U8("image0", &R::image0, L::eAlways1);
constexpr IniKey kImage1 = U8("image1", &R::image1, L::eAlways0);
constexpr IniKey kCrc32 = U8("crc32", &R::crc32, L::eAlways0);

constexpr IniKey kUSBRemovableEnable = U8("USBRemovable_enable", &R::USBRemovable_enable);
constexpr IniKey kEupEnable = U8("eup_enable", &R::eup_enable);
constexpr IniKey kTwoLedsEnable = U8("two_leds_enable", &R::two_leds_enable);
constexpr IniKey kWTGEnable = U8("WTG_enable", &R::WTG_enable);
constexpr IniKey kU1U2Enable = U8("U1U2_enable", &R::U1U2_enable);
constexpr IniKey kLowPowerModeEnable = U8("low_power_mode_enable", &R::low_power_mode_enable);
constexpr IniKey k2TBEnable = U8("2TB_enable", &R::_2TB_enable);
constexpr IniKey kSlowEnumerationEnable = U8("slow_enumeration_enable", &R::slow_enumeration_enable);
constexpr IniKey kLPIfIdle = U8("LPIfIdle", &R::LPIfIdle);
constexpr IniKey kLPIfU3 = U8("LPIfU3", &R::LPIfU3);
constexpr IniKey kPCIEASPM = U8("PCIEASPM", &R::PCIEASPM);
constexpr IniKey kPCIESpeed = U8("PCIESpeed", &R::PCIESpeed);
constexpr IniKey kPCIELane = U8("PCIELane", &R::PCIELane);

constexpr IniKey kUSB4VendorName = Text("USB4_VendorName", &R::USB4_VendorName);
constexpr IniKey kUSB4ModelName = Text("USB4_ModelName", &R::USB4_ModelName);
constexpr IniKey kUSB4ComponentID = Text("USB4_ComponentID", &R::USB4_ComponentID);
constexpr IniKey kUSB4VendorID = Text("USB4_VendorID", &R::USB4_VendorID);
constexpr IniKey kUSB4ProductID = Text("USB4_ProductID", &R::USB4_ProductID);
constexpr IniKey kUSB4TestID = Text("USB4_TestID", &R::USB4_TestID);
constexpr IniKey kUSB4BcdProductFWRevision = Text("USB4_BcdProductFWRevision", &R::USB4_BcdProductFWRevision);
constexpr IniKey kUSB4ProductHWRevision = Text("USB4_ProductHWRevision", &R::USB4_ProductHWRevision);
constexpr IniKey kUSB4MinorFWVersion = Text("USB4_MinorFWVersion", &R::USB4_MinorFWVersion, L::eMinorFWVersion);
constexpr IniKey kUSB4TBT3VendorID = Text("USB4_TBT3VendorID", &R::USB4_TBT3VendorID);
constexpr IniKey kUSB4TBT3ModelID = Text("USB4_TBT3ModelID", &R::USB4_TBT3ModelID);
constexpr IniKey kUSB4TBT3ModelRevision = Text("USB4_TBT3ModelRevision", &R::USB4_TBT3ModelRevision);
constexpr IniKey kUSB4U4Mode = I32("USB4_U4Mode", &R::USB4_U4Mode, L::eAtMost3);
constexpr IniKey kUSB4_20G = I32("USB4_20G", &R::USB4_20G, L::eZeroOrOne);
constexpr IniKey kUSB4_X2 = I32("USB4_X2", &R::USB4_X2, L::eZeroOrOne);
constexpr IniKey kUSB4_CLx = I32("USB4_CLx", &R::USB4_CLx, L::eAtMost3);

constexpr IniKey kPCIEScan = I32("PCIE_Scan", &R::PCIE_Scan, L::ePcieScan);
constexpr IniKey kPCIEVendorID = Text("PCIE_VendorID", &R::PCIE_VendorID);
constexpr IniKey kPCIEDeviceID = Text("PCIE_DeviceID", &R::PCIE_DeviceID);
constexpr IniKey kPCIESSDRelinkTime = I32("PCIE_SSDRelinkTime", &R::PCIE_SSDRelinkTime);

constexpr IniKey kCdRomMode = U8("cd_rom_mode", &R::cd_rom_mode);
constexpr IniKey kTargetChip = Text("target_chip", &R::target_chip);

// ---- layout helpers -------------------------------------------------------

constexpr IniLayoutLine Section(const char* pszName, bool bCounted = true)
{
    return {EIniLineKind::eSection, pszName, nullptr, bCounted};
}
constexpr IniLayoutLine Key(const IniKey& key)
{
    return {EIniLineKind::eKey, nullptr, &key, true};
}
constexpr IniLayoutLine Blank()
{
    return {EIniLineKind::eBlank, nullptr, nullptr, false};
}
constexpr IniLayoutLine Comment(const char* pszText)
{
    return {EIniLineKind::eComment, pszText, nullptr, true};
}

constexpr const char* kTargetChipComment = "//4191, 4193, 4283, 4381, 4382, 597QN, 0 for all";

// "[ini_version]" and "[usb_func]" are the two sections the loader neither
// counts nor needs; the other section lines and the comment count.
constexpr IniLayoutLine kProductionLayout[] = {
    Section("[ini_version]", false), Key(kVersion),
    Section("[usb_func]", false), Key(kFormatEnable), Key(kFormatDriveType), Key(kPartitionDriveType),
    Key(kDriveLabelName), Key(kWrTestEnable), Key(kWrTestBinaryName), Key(kWrTestCount), Key(kAutoMp),
    Key(kAutoMpDevNum), Key(kPreloadEnable), Key(kPreloadFolderPath), Key(kCheckUSBStatusEnable),
    Key(kCheckUSBStatus), Key(kCheckSerialNumber), Key(kAutoSafeRemove), Key(kScanBarCode),
    Key(kRemoveAfterFinish), Key(kSpeedTestEnable), Key(kScanHDDSN), Key(kCheckConfig), Key(kSNEditType),
    Key(kComponentIDEditType), Key(kCmdLineTimeOut), Key(kBcdSync), Key(kReloadWaiting),
    Key(kCmdLineNoDevRetryMax), Key(kCmdLineNoDevDelayms), Blank(),
    Section("[Speed_Test]"), Key(kReadSpeed), Key(kWriteSpeed), Key(kSpeedTestFileSize), Blank(),
    Section("[usb_fw]"), Key(kFwEnable), Key(kFwBinaryName), Key(kFwReload), Key(kRescanAfterRelink),
    Key(kExtFwEnable), Key(kPdFwEnable), Key(kMcuFwEnable), Key(kPdBinaryName), Key(kMcuBinaryName), Blank(),
    Section("[usb_config]"), Key(kConfigFormat), Key(kVendorId), Key(kProductId), Key(kDeviceRevision),
    Key(kManufacturerString), Key(kProductString), Key(kManufacturerStringT10), Key(kProductStringT10),
    Key(kSNNumbers), Key(kSerialNumber), Key(kSerialNumberIncrease), Key(kSerialNumberIncreaseHex),
    Key(kSerialNumberIncreaseDec), Key(kSNFixLength), Key(kSNRemainValueEnable), Key(kSNRemainValueLength),
    Key(kStandbyTimer), Key(kHddStandby), Key(kImage0), Key(kImage1), Key(kCrc32), Blank(),
    Section("[USB4_Config]"), Key(kUSB4VendorName), Key(kUSB4ModelName), Key(kUSB4VendorID),
    Key(kUSB4ProductID), Key(kUSB4TestID), Key(kUSB4BcdProductFWRevision), Key(kUSB4ProductHWRevision),
    Key(kUSB4TBT3VendorID), Key(kUSB4TBT3ModelID), Key(kUSB4TBT3ModelRevision), Key(kUSB4U4Mode), Blank(),
    Section("[PCIE]"), Key(kPCIEScan), Key(kPCIEVendorID), Key(kPCIEDeviceID), Key(kPCIESSDRelinkTime), Blank(),
    Section("[usb_mode]"), Key(kCdRomMode), Blank(),
    Section("[Target_Chip]"), Comment(kTargetChipComment), Key(kTargetChip),
};

// The variant's file: no start-up and relink keys in [usb_func], the device
// options in a section of their own, and the USB4 fields the production file
// leaves keyless.
constexpr IniLayoutLine kVariantLayout[] = {
    Section("[ini_version]", false), Key(kVersion),
    Section("[usb_func]", false), Key(kFormatEnable), Key(kFormatDriveType), Key(kPartitionDriveType),
    Key(kDriveLabelName), Key(kWrTestEnable), Key(kWrTestBinaryName), Key(kWrTestCount), Key(kAutoMp),
    Key(kAutoMpDevNum), Key(kPreloadEnable), Key(kPreloadFolderPath), Key(kCheckUSBStatusEnable),
    Key(kCheckUSBStatus), Key(kCheckSerialNumber), Key(kAutoSafeRemove), Key(kScanBarCode),
    Key(kRemoveAfterFinish), Key(kSpeedTestEnable), Key(kScanHDDSN), Key(kCheckConfig), Key(kSNEditType),
    Key(kComponentIDEditType), Key(kCmdLineTimeOut), Blank(),
    Section("[Speed_Test]"), Key(kReadSpeed), Key(kWriteSpeed), Key(kSpeedTestFileSize), Blank(),
    Section("[usb_fw]"), Key(kFwEnable), Key(kFwBinaryName), Key(kFwReload), Key(kRescanAfterRelink),
    Key(kExtFwEnable), Key(kPdFwEnable), Key(kMcuFwEnable), Key(kPdBinaryName), Key(kMcuBinaryName), Blank(),
    Section("[usb_config]"), Key(kConfigFormat), Key(kVendorId), Key(kProductId), Key(kDeviceRevision),
    Key(kManufacturerString), Key(kProductString), Key(kManufacturerStringT10), Key(kProductStringT10),
    Key(kSNNumbers), Key(kSerialNumber), Key(kSerialNumberIncrease), Key(kSerialNumberIncreaseHex),
    Key(kSerialNumberIncreaseDec), Key(kSNFixLength), Key(kSNRemainValueEnable), Key(kSNRemainValueLength),
    Key(kStandbyTimer), Key(kHddStandby), Key(kImage0), Key(kImage1), Key(kCrc32), Blank(),
    Section("[PCIE_USB_Config]"), Key(kUSBRemovableEnable), Key(kEupEnable), Key(kTwoLedsEnable),
    Key(kWTGEnable), Key(kU1U2Enable), Key(kLowPowerModeEnable), Key(k2TBEnable), Key(kSlowEnumerationEnable),
    Key(kLPIfIdle), Key(kLPIfU3), Key(kPCIEASPM), Key(kPCIESpeed), Key(kPCIELane), Blank(),
    Section("[USB4_Config]"), Key(kUSB4VendorName), Key(kUSB4ModelName), Key(kUSB4ComponentID),
    Key(kUSB4VendorID), Key(kUSB4ProductID), Key(kUSB4TestID), Key(kUSB4BcdProductFWRevision),
    Key(kUSB4ProductHWRevision), Key(kUSB4MinorFWVersion), Key(kUSB4TBT3VendorID), Key(kUSB4TBT3ModelID),
    Key(kUSB4TBT3ModelRevision), Key(kUSB4U4Mode), Key(kUSB4_20G), Key(kUSB4_X2), Key(kUSB4_CLx), Blank(),
    Section("[PCIE]"), Key(kPCIEScan), Key(kPCIEVendorID), Key(kPCIEDeviceID), Key(kPCIESSDRelinkTime), Blank(),
    Section("[usb_mode]"), Key(kCdRomMode), Blank(),
    Section("[Target_Chip]"), Comment(kTargetChipComment), Key(kTargetChip),
};

constexpr int nCountedLines(std::span<const IniLayoutLine> layout)
{
    int n = 0;
    for (const auto& line : layout)
        n += line.bCounted ? 1 : 0;
    return n;
}

// A file the store writes is exactly as long as the load allows.
static_assert(nCountedLines(kProductionLayout) == 86);
static_assert(nCountedLines(kVariantLayout) == 101);

const IniProfile kProduction{"KRV857xVIVade", 1009, 86, true, kProductionLayout};
const IniProfile kVariant{"KRV857xShowStatus", 1007, 101, false, kVariantLayout, "8574"};

}  // namespace

namespace {

using LineIndex = std::unordered_map<std::string_view, const IniLayoutLine*>;

const char* pszNameOf(const IniLayoutLine& line)
{
    return line.eKind == EIniLineKind::eKey ? line.pKey->pszName : line.pszText;
}

LineIndex BuildIndex(std::span<const IniLayoutLine> layout)
{
    LineIndex index;
    for (const auto& line : layout)
        if (const char* pszName = pszNameOf(line))
            index.emplace(pszName, &line);
    return index;
}

}  // namespace

// Every line of a file is looked up here, so the two programs' layouts are
// indexed once.
const IniLayoutLine* IniProfile::pFindLine(std::string_view strText) const
{
    static const LineIndex production = BuildIndex(kProductionLayout);
    static const LineIndex variant = BuildIndex(kVariantLayout);
    const LineIndex* pIndex = layout.data() == kProductionLayout ? &production
                              : layout.data() == kVariantLayout  ? &variant
                                                                 : nullptr;
    if (pIndex) {
        const auto it = pIndex->find(strText);
        return it == pIndex->end() ? nullptr : it->second;
    }
    for (const auto& line : layout) {
        const char* pszName = pszNameOf(line);
        if (pszName && strText == pszName)
            return &line;
    }
    return nullptr;
}

const IniProfile& IniProfileProduction()
{
    return kProduction;
}

const IniProfile& IniProfileVariant()
{
    return kVariant;
}
