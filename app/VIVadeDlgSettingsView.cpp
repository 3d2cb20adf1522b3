// The settings as the window shows them: start-up and Load INI fill the
// controls from the settings record with these operations, in this order:
// descriptor identity, device functions, firmware path, preload path, the
// option block, the target chip, the USB4 identity. Load INI first clears
// what the previous file left in the window.
#include <QComboBox>
#include <QLineEdit>

#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "device/ConfigFieldLength.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "ui/RecentPaths.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

}  // namespace

std::string CVIVadeDlg::strTargetChipCode(const std::string& strTargetChip)
{
    static const std::pair<const char*, const char*> kCodes[] = {
        {"4191", "00"}, {"4193", "001"}, {"4283", "010"}, {"4381", "011_1"}, {"4382", "011_2"}, {"597QN", "101"},
    };
    for (const auto& [pszChip, pszCode] : kCodes)
        if (strTargetChip == pszChip)
            return pszCode;
    return "0";
}

void CVIVadeDlg::vSetDeviceDescriptorGUIByINIFile()
{
    IniRecord& ini = pIni.m_pINI;
    vSelectComboIndex(IDC_COMBO_FORMAT, ini.config_format);
    if (ini.SN_EditType > 4)
        ini.SN_EditType = 0;
    if (ini.USB4_ComponentID_EditType > 5)
        ini.USB4_ComponentID_EditType = 3;
    if (ini.USB4_U4Mode > 3)
        ini.USB4_U4Mode = 3;
    vSelectComboIndex(IDC_COMBO_SN_EDIT_TYPE, ini.SN_EditType);
    vSelectComboIndex(IDC_COMBO_U4_COMPONENT_ID_TYPE, ini.USB4_ComponentID_EditType);
    vSelectComboIndex(IDC_COMBO_U4_MODE, ini.USB4_U4Mode);
    setControlText(IDC_EDIT_VENDOR_ID, ini.vendor_id.str());
    setControlText(IDC_EDIT_PRODUCT_ID, ini.product_id.str());
    setControlText(IDC_EDIT_DEVICE_REVISION, ini.device_revision.str());
    setControlText(IDC_EDIT_SERIAL_NUMBER, ini.serial_number.str());

    const bool bIncrease = ini.serial_number_increase == 1;
    setCheck(IDC_CHECK_SN_INCREASE, bIncrease ? 1 : 0);
    vEnable({IDC_CHECK_HEX, IDC_CHECK_DEC}, bIncrease);
    setCheck(IDC_CHECK_HEX, ini.serial_number_increase_HEX == 1 ? 1 : 0);
    setCheck(IDC_CHECK_DEC, ini.serial_number_increase_DEC == 1 ? 1 : 0);
    setCheck(IDC_CHECK_BARCODE, ini.Scan_BarCode == 1 ? 1 : 0);
    if (ini.Scan_HDDSN == 1) {
        // The drive's own serial number is used: nothing to type.
        setCheck(IDC_CHECK_HDDSN, 1);
        enableControl(IDC_EDIT_SERIAL_NUMBER, false);
        setCheck(IDC_CHECK_BARCODE, 0);
        ini.Scan_BarCode = 0;
    } else {
        setCheck(IDC_CHECK_HDDSN, 0);
        enableControl(IDC_EDIT_SERIAL_NUMBER, true);
        vOnGui([this] {
            if (QWidget* edit = control(IDC_EDIT_SERIAL_NUMBER))
                edit->setFocus();
        });
    }
    setControlText(IDC_EDIT_EP0_MSTRING, ini.manufacturer_string.str());
    setControlText(IDC_EDIT_EP0_PSTRING, ini.product_string.str());
    setControlText(IDC_EDIT_T10_MSTRING, ini.manufacturer_string_T10.str());
    setControlText(IDC_EDIT_T10_PSTRING, ini.product_string_T10.str());
    setControlText(IDC_EDIT_SECONDS, std::to_string(ini.uiRemove_after_finish));
    vSelectComboIndex(IDC_COMBO_IDLE_TIMER, ini.standby_timer);
    vSetEditTextLimits();
}

void CVIVadeDlg::vSetDeviceFunctionGUIByINIFile()
{
    IniRecord& ini = pIni.m_pINI;
    m_DevList.m_bUpdateFW = ini.fw_enable == 1;
    m_DevList.m_bDoUpdateFW = ini.fw_enable == 1;
    m_DevList.m_bDoFormat = ini.format_enable == 1;
    m_DevList.m_bDoReload = ini.fw_reload == 1;
    m_DevList.m_bDoSpeedTest = ini.Speed_test_enable == 1;
    m_DevList.m_bDoWrRdTest = ini.wr_test_enable == 1;
    m_DevList.m_bDoPreload = ini.preload_enable == 1;
    m_DevList.m_bAutoSafeRemove = ini.Auto_Safe_Remove == 1;
    m_DevList.m_bDoUSBStatusCheck = ini.Check_USBStatus_enable == 1;
    m_DevList.m_bDoConfigCheck = ini.check_config == 1;

    setCheck(IDC_CHECK_MP_AUTO, ini.auto_mp == 1 ? 1 : 0);
    enableControl(IDC_COMBO_AUTO_DEV_NUM, ini.auto_mp == 1);
    setCheck(IDC_CHECK_UPDATE_FW, ini.fw_enable == 1 ? 1 : 0);
    setCheck(IDC_CHECK_EXT_UPDATE_FW, ini.ext_fw_enable == 1 ? 1 : 0);
    setCheck(IDC_CHECK_PARTITION_FORMAT, ini.format_enable == 1 ? 1 : 0);
    vSelectComboIndex(IDC_COMBO_FORMAT_TYPE,
                      ini.format_drive_type == 1 || ini.format_drive_type == 2 ? ini.format_drive_type : 0);
    vSelectComboIndex(IDC_COMBO_PARTITION_TYPE, ini.partition_drive_type);
    setCheck(IDC_CHECK_USB_STATUS, ini.Check_USBStatus_enable == 1 ? 1 : 0);
    enableControl(IDC_COMBO_USB_STATUS, ini.Check_USBStatus_enable == 1);
    vSelectComboIndex(IDC_COMBO_USB_STATUS,
                      ini.Check_USBStatus == 1 || ini.Check_USBStatus == 2 ? ini.Check_USBStatus : 0);
    setControlText(IDC_EDIT_DRIVE_LABEL, ini.drive_label_name.str());
    setCheck(IDC_CHECK_SN_HEX, ini.Check_SerialNumber == 1 ? 1 : 0);
    if (ini.Check_SerialNumber != 1)
        vSelectComboIndex(IDC_COMBO_SN_INCREASE, 0);
    enableControl(IDC_COMBO_SN_INCREASE, ini.Check_SerialNumber == 1);
    if (ini.fw_enable == 0) {
        ini.fw_reload = 0;
        setCheck(IDC_CHECK_RELOAD_FW, 0);
        enableControl(IDC_CHECK_RELOAD_FW, false);
    }
    setCheck(IDC_CHECK_RELOAD_FW, ini.fw_reload == 1 ? 1 : 0);
    setCheck(IDC_CHECK_SPEED_TEST, ini.Speed_test_enable == 1 ? 1 : 0);
    vEnable({IDC_EDIT_READ_SPEED, IDC_EDIT_WRITE_SPEED}, ini.Speed_test_enable == 1);
    if (ini.wr_test_enable != 1) {
        setCheck(IDC_CHECK_WR_TEST, 0);
        setCheck(IDC_CHECK_SPEED_TEST, 0);
        vEnable({IDC_CHECK_SPEED_TEST, IDC_EDIT_READ_SPEED, IDC_EDIT_WRITE_SPEED}, false);
    } else {
        setCheck(IDC_CHECK_WR_TEST, 1);
    }
    setCheck(IDC_CHECK_PRELOAD, ini.preload_enable == 1 ? 1 : 0);
    setCheck(IDC_CHECK_AUTO_SAFE_REMOVE, ini.Auto_Safe_Remove == 1 ? 1 : 0);
    vEnable({IDC_EDIT_SECONDS, IDC_STATIC_SECONDS}, ini.Auto_Safe_Remove == 1);
    m_bCDROMMode = ini.cd_rom_mode == 1;
    setCheck(IDC_CHECK_CONFIG_CHECK, ini.check_config == 1 ? 1 : 0);
    setControlText(IDC_EDIT_READ_SPEED, ini.read_speed.str());
    setControlText(IDC_EDIT_WRITE_SPEED, ini.write_speed.str());
    m_strSpeedTestFileSize = ini.speed_test_file_size.str();
    vSelectComboIndex(IDC_COMBO_AUTO_DEV_NUM, static_cast<int>(ini.auto_mp_DevNum) - 1);
}

void CVIVadeDlg::vSetDeviceFirmwareGUIByINIFile()
{
    try {
        const std::string strPath = pIni.m_pINI.fw_binary_name.str();
        vOnGui([&] { krv::ui::addRecentPath(control<QComboBox>(IDC_COMBO_FW_PATH), strPath); });
        m_strComboBoxDeviceFirmwareFWBrowse = strPath;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: vSetDeviceFirmwareGUIByINIFile: iFWBrowseCurCount : %d , dwErrorCode %d",
                          "CVIVadeDlg", __LINE__, 0, nLastError());
    }
}

void CVIVadeDlg::vSetPreloadPathGUIByINIFile()
{
    try {
        const std::string strPath = pIni.m_pINI.preload_folder_path.str();
        vOnGui([&] { krv::ui::addRecentPath(control<QComboBox>(IDC_COMBO_PRELOAD_PATH), strPath); });
        m_strComboBoxDeviceFunctionPreloadPath = strPath;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: vSetPreloadPathGUIByINIFile: iPreloadPathCurCount : %d , dwErrorCode %d",
                          "CVIVadeDlg", __LINE__, 0, nLastError());
    }
}

void CVIVadeDlg::vCopyGlobalFlagsToDlg()
{
    vCopySettingsToOptionBlock(pIni.m_pINI, m_PCIEUSBConfigDlg, m_pProfile->bOptionBlockImages);
}

void CVIVadeDlg::vSetTargetChipByINIFile()
{
    try {
        m_strTargetChipCode = strTargetChipCode(pIni.m_pINI.target_chip.str());
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: vSetTargetChipByINIFile:  dwErrorCode %d", "CVIVadeDlg", __LINE__, nLastError());
    }
}

void CVIVadeDlg::vSetUSB4ConfigGUIByINIFile()
{
    const IniRecord& ini = pIni.m_pINI;
    setControlText(IDC_EDIT_U4_VENDOR_NAME, ini.USB4_VendorName.str());
    setControlText(IDC_EDIT_U4_MODEL_NAME, ini.USB4_ModelName.str());
    setControlText(IDC_EDIT_U4_COMPONENT_ID, ini.USB4_ComponentID.str());
    setControlText(IDC_EDIT_U4_VENDOR_ID, ini.USB4_VendorID.str());
    setControlText(IDC_EDIT_U4_PRODUCT_ID, ini.USB4_ProductID.str());
    setControlText(IDC_EDIT_U4_TEST_ID, ini.USB4_TestID.str());
    setControlText(IDC_EDIT_U4_BCD_PRODUCT_FW, ini.USB4_BcdProductFWRevision.str());
    setControlText(IDC_EDIT_U4_PRODUCT_HW, ini.USB4_ProductHWRevision.str());
    setControlText(IDC_EDIT_U4_MIN_FW, ini.USB4_MinorFWVersion.str());
    setControlText(IDC_EDIT_TBT3_VENDOR_ID, ini.USB4_TBT3VendorID.str());
    setControlText(IDC_EDIT_TBT3_MODEL_ID, ini.USB4_TBT3ModelID.str());
    setControlText(IDC_EDIT_TBT3_MODEL_REV, ini.USB4_TBT3ModelRevision.str());
    enableControl(IDC_EDIT_U4_COMPONENT_ID, ini.USB4_ComponentID_EditType < 3);
    setControlText(IDC_EDIT_PCI_VID, "FFFF");
    setControlText(IDC_EDIT_PCI_DID, "FFFF");
    for (int id : {IDC_STATIC_U4_COMPONENT_ID, IDC_EDIT_U4_COMPONENT_ID, IDC_COMBO_U4_COMPONENT_ID_TYPE,
                   IDC_STATIC_U4_MIN_FW, IDC_EDIT_U4_MIN_FW, IDC_STATIC_PCI_VID, IDC_EDIT_PCI_VID, IDC_STATIC_PCI_DID,
                   IDC_EDIT_PCI_DID})
        showControl(id, false);
}

void CVIVadeDlg::vSetEditTextLimits()
{
    CConfigFieldLength lengths;
    bDefaultConfigFieldLength(pIni.m_pINI.config_format, lengths);
    int nFormatType = nComboIndex(IDC_COMBO_FORMAT_TYPE);
    if (nFormatType < 0)
        nFormatType = pIni.m_pINI.format_drive_type;
    vSetEditLimit(IDC_EDIT_SERIAL_NUMBER, lengths.m_ucConfig_SN_Len);
    vSetEditLimit(IDC_EDIT_EP0_MSTRING, lengths.m_ucConfig_Manufacturer_Len);
    vSetEditLimit(IDC_EDIT_EP0_PSTRING, lengths.m_ucConfig_Product_Len);
    vSetEditLimit(IDC_EDIT_T10_MSTRING, lengths.m_ucConfig_T10Vendor_Len);
    vSetEditLimit(IDC_EDIT_T10_PSTRING, lengths.m_ucConfig_T10Product_Len);
    vSetEditLimit(IDC_EDIT_DRIVE_LABEL, ucDiskLabelLength(static_cast<uint8_t>(nFormatType)));
}

void CVIVadeDlg::vResetGUIControls()
{
    for (int id : {IDC_CHECK_MP_AUTO, IDC_CHECK_UPDATE_CONFIG, IDC_CHECK_UPDATE_FW, IDC_CHECK_EXT_UPDATE_FW,
                   IDC_CHECK_USB_STATUS, IDC_CHECK_PARTITION_FORMAT, IDC_CHECK_RELOAD_FW, IDC_CHECK_CONFIG_CHECK,
                   IDC_CHECK_WR_TEST, IDC_CHECK_SPEED_TEST, IDC_CHECK_PRELOAD, IDC_CHECK_SN_HEX, IDC_CHECK_BARCODE,
                   IDC_CHECK_HDDSN, IDC_CHECK_SN_INCREASE, IDC_CHECK_HEX, IDC_CHECK_DEC, IDC_CHECK_AUTO_SAFE_REMOVE})
        setCheck(id, 0);
    m_strEditReadSpeed.clear();
    m_strEditWriteSpeed.clear();
    setControlText(IDC_EDIT_READ_SPEED, "");
    setControlText(IDC_EDIT_WRITE_SPEED, "");
    setControlText(IDC_EDIT_DRIVE_LABEL, "");
    for (int id : {IDC_COMBO_FORMAT_TYPE, IDC_COMBO_PARTITION_TYPE, IDC_COMBO_USB_STATUS, IDC_COMBO_AUTO_DEV_NUM})
        vSelectComboIndex(id, 0);
}

void CVIVadeDlg::vClearDeviceDescriptorGUI()
{
    m_strEditDeviceConfigurationVendorID.clear();
    m_strEditDeviceConfigurationProductID.clear();
    m_strEditDeviceConfigurationDeviceRevision.clear();
    m_strEditDeviceConfigurationSerialNumber.clear();
    m_strEditDeviceConfigurationManufacturerString.clear();
    m_strEditDeviceConfigurationProductString.clear();
    m_strEditDeviceConfigurationT10MString.clear();
    m_strEditDeviceConfigurationP10MString.clear();
    for (int id : {IDC_EDIT_VENDOR_ID, IDC_EDIT_PRODUCT_ID, IDC_EDIT_DEVICE_REVISION, IDC_EDIT_SERIAL_NUMBER,
                   IDC_EDIT_EP0_MSTRING, IDC_EDIT_EP0_PSTRING, IDC_EDIT_T10_MSTRING, IDC_EDIT_T10_PSTRING})
        setControlText(id, "");
    vSelectComboIndex(IDC_COMBO_FORMAT, 1);
    for (int id : {IDC_COMBO_SN_INCREASE, IDC_COMBO_IDLE_TIMER, IDC_COMBO_SN_EDIT_TYPE, IDC_COMBO_U4_COMPONENT_ID_TYPE,
                   IDC_COMBO_U4_MODE})
        vSelectComboIndex(id, 0);
}
