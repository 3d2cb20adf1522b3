#pragma once
// The settings record: every production setting in one fixed-layout plain
// record, filled from the settings file, edited by the window and the option
// dialogs, read by the run. Fields are named by their keys in the settings
// file, so a reader finds `m_pINI.fw_enable` where the file has "fw_enable".
// Numbers are bytes or signed 32-bit; texts live in fixed slots that can
// never be overrun. The record is trivially copyable: a load fills a scratch
// copy and commits it whole, and a store checks a copy.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

// A 255-byte text slot: a zero-terminated string of at most 254 characters.
// Every write goes through set(), which cuts what does not fit and zeroes the
// rest of the slot, so two slots holding the same text compare equal.
class IniText {
public:
    static constexpr size_t kSlotSize = 255;
    static constexpr size_t kCapacity = kSlotSize - 1;

    // Stores the text up to its first zero byte and at most kCapacity
    // characters. False when something had to be cut.
    bool set(std::string_view strText)
    {
        const size_t nZero = strText.find('\0');
        const bool bHadZero = nZero != std::string_view::npos;
        if (bHadZero)
            strText = strText.substr(0, nZero);
        const bool bFits = strText.size() <= kCapacity;
        const size_t nCopy = bFits ? strText.size() : kCapacity;
        std::memset(m_sz, 0, sizeof m_sz);
        if (nCopy > 0)
            std::memcpy(m_sz, strText.data(), nCopy);
        return bFits && !bHadZero;
    }
    void clear() { std::memset(m_sz, 0, sizeof m_sz); }

    const char* c_str() const { return m_sz; }
    std::string_view view() const { return std::string_view(m_sz, length()); }
    std::string str() const { return std::string(view()); }
    size_t length() const { return ::strnlen(m_sz, kSlotSize); }
    bool empty() const { return m_sz[0] == '\0'; }

    bool operator==(const IniText&) const = default;
    bool operator==(std::string_view strOther) const { return view() == strOther; }

private:
    char m_sz[kSlotSize] = {};
};

// Fields in memory order. Comments give the file section a key is stored
// under, or "no key" for the fields the production file does not carry.
struct IniRecord {
    // [ini_version]
    int32_t version;
    // [usb_func]
    uint8_t format_enable;
    uint8_t format_drive_type;        // index of the file-system list; also picks the volume-label limit
    IniText drive_label_name;
    uint8_t wr_test_enable;
    uint8_t Speed_test_enable;
    IniText wr_test_binary_name;
    uint8_t wr_test_count;
    uint8_t auto_mp;
    uint8_t auto_mp_DevNum;
    uint8_t preload_enable;
    IniText preload_folder_path;
    uint8_t partition_drive_type;
    uint8_t Check_USBStatus_enable;
    uint8_t Check_USBStatus;
    uint8_t Check_SerialNumber;       // serial_number must be hexadecimal
    uint8_t Auto_Safe_Remove;
    uint8_t Scan_BarCode;
    uint8_t Scan_HDDSN;
    uint8_t SN_EditType;
    uint8_t check_config;
    int32_t USB4_ComponentID_EditType;
    int32_t CmdLineTimeOut;
    uint8_t USB4_BcdSync;             // production file only
    int32_t Reload_Waiting;           // production file only
    int32_t CmdLineNoDevRetryMax;     // production file only
    int32_t CmdLineNoDevDelayms;      // production file only
    // [usb_fw]
    uint8_t fw_enable;
    IniText fw_binary_name;
    uint8_t fw_reload;
    int32_t rescan_after_relink;
    int32_t uiRemove_after_finish;    // stored under [usb_func]
    int32_t ext_fw_enable;
    int32_t pd_fw_enable;
    int32_t mcu_fw_enable;
    IniText pd_binary_name;
    IniText mcu_binary_name;
    // [usb_config]
    uint8_t config_format;
    IniText vendor_id;
    IniText product_id;
    IniText device_revision;
    IniText manufacturer_string;
    IniText product_string;
    IniText manufacturer_string_T10;
    IniText product_string_T10;
    IniText serial_number;
    uint8_t serial_number_increase;
    int32_t serial_number_increase_HEX;
    int32_t serial_number_increase_DEC;
    int32_t SN_remain_value_enable;
    int32_t SN_remain_value_length;
    int32_t SN_fix_length;
    int32_t SN_Numbers;
    uint8_t standby_timer;
    // The device-option block, twenty bytes in this order, that the
    // configuration-image builder reads. Keyless in the production file; the
    // variant's file keeps thirteen of them under [PCIE_USB_Config].
    uint8_t WTG_enable;
    uint8_t ucReserved1[2];
    uint8_t LPIfIdle;
    uint8_t LPIfU3;
    uint8_t PCIEASPM;
    uint8_t PCIESpeed;
    uint8_t PCIELane;
    uint8_t ucReserved2;
    uint8_t eup_enable;
    uint8_t two_leds_enable;
    uint8_t hdd_standby;              // [usb_config]
    uint8_t U1U2_enable;
    uint8_t low_power_mode_enable;
    uint8_t _2TB_enable;              // key "2TB_enable" (a name cannot start with a digit)
    uint8_t slow_enumeration_enable;
    uint8_t USBRemovable_enable;
    uint8_t image0;                   // [usb_config]
    uint8_t image1;                   // [usb_config]
    uint8_t crc32;                    // [usb_config]
    // [usb_mode]
    uint8_t cd_rom_mode;
    // [USB4_Config]
    IniText USB4_VendorName;
    IniText USB4_ModelName;
    IniText USB4_ComponentID;         // no key (variant: [USB4_Config])
    IniText USB4_VendorID;
    IniText USB4_ProductID;
    IniText USB4_TestID;
    IniText USB4_BcdProductFWRevision;
    IniText USB4_ProductHWRevision;
    IniText USB4_MinorFWVersion;      // no key (variant: [USB4_Config])
    IniText USB4_TBT3VendorID;
    IniText USB4_TBT3ModelID;
    IniText USB4_TBT3ModelRevision;
    int32_t USB4_U4Mode;
    int32_t USB4_20G;                 // no key (variant: [USB4_Config])
    int32_t USB4_X2;                  // no key (variant: [USB4_Config])
    int32_t USB4_CLx;                 // no key (variant: [USB4_Config])
    // [PCIE]
    int32_t PCIE_Scan;
    IniText PCIE_VendorID;
    IniText PCIE_DeviceID;
    int32_t PCIE_SSDRelinkTime;
    // [Speed_Test]
    IniText read_speed;
    IniText write_speed;
    IniText speed_test_file_size;
    // [Target_Chip]
    IniText target_chip;

    bool operator==(const IniRecord&) const = default;
};

static_assert(std::is_trivially_copyable_v<IniRecord>);
static_assert(std::is_standard_layout_v<IniRecord>);
static_assert(offsetof(IniRecord, crc32) - offsetof(IniRecord, WTG_enable) == 19,
              "the device-option block is twenty consecutive bytes");

// A record with every field zero and every text empty.
inline IniRecord IniRecordCleared()
{
    return IniRecord{};
}
