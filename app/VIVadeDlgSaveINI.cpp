// Save INI: the window's settings into a settings file of the operator's
// choice, after the identifier check. The new record starts from the
// settings in memory and takes over what the window's controls show, so a
// setting no control edits (the re-link wait, the command-line retries...)
// keeps its value in memory and in the file. The store replaces the file
// whole and checks a copy, so a failed save leaves the file as it was and
// the window's fields as they are.
#include <cstdlib>

#include "app/GUIText.h"
#include "app/Ini.h"
#include "app/SettingsValidation.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "ui/FilePickers.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// A combo's text as the index the settings keep; anything else is 0.
uint8_t ucIndexOfText(const std::string& strText, std::initializer_list<const char*> items)
{
    uint8_t ucIndex = 0;
    for (const char* pszItem : items) {
        if (strText == pszItem)
            return ucIndex;
        ++ucIndex;
    }
    return 0;
}

}  // namespace

bool CVIVadeDlg::vValidateGUIForSaveINI()
{
    try {
        if (!UpdateData(true))
            return false;
        std::string strMessage;
        if (bValidateUSBIdentifiers(m_strEditDeviceConfigurationVendorID, m_strEditDeviceConfigurationProductID,
                                    m_strEditDeviceConfigurationDeviceRevision, strMessage))
            return true;
        pUtility.nShowProgramMessage(strMessage, MSG_TYPE_WARNING, 0, CUSBUtility::EMessageTarget::eMessageBox);
        vDEBUG_MSG_printf("%s:%d: vValidateGUIForSaveINI: Format not valid , m_strEditDeviceConfigurationVendorID : %s "
                          ", m_strEditDeviceConfigurationProductID : %s , m_strEditDeviceConfigurationDeviceRevision : "
                          "%s , dwErrorCode %d",
                          "CVIVadeDlg", __LINE__, m_strEditDeviceConfigurationVendorID.c_str(),
                          m_strEditDeviceConfigurationProductID.c_str(),
                          m_strEditDeviceConfigurationDeviceRevision.c_str(), nLastError());
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: vValidateGUIForSaveINI: dwErrorCode %d", "CVIVadeDlg", __LINE__, nLastError());
    }
    return false;
}

void CVIVadeDlg::OnBnClickedButtonSaveIni()
{
    try {
        if (!vValidateGUIForSaveINI())
            return;
        const IniRecord saved = pIni.m_pINI;
        if (!m_pPickers)
            return;
        // The picker opens in the program folder; the process's current
        // folder stays where reports and messages are written.
        const std::string strPath = m_pPickers->saveFile("Save INI", pUtility.m_szProgramFolder,
                                                         "Config .ini File (*.ini)|*.ini||", "INI");
        if (strPath.empty()) {
            pIni.m_pINI = saved;
            return;
        }
        if (!UpdateData(true))
            return;

        IniRecord r = saved;
        r.SN_EditType = static_cast<uint8_t>(std::max(0, nComboIndex(IDC_COMBO_SN_EDIT_TYPE)));
        r.USB4_ComponentID_EditType = std::max(0, nComboIndex(IDC_COMBO_U4_COMPONENT_ID_TYPE));
        r.standby_timer = static_cast<uint8_t>(std::max(0, nComboIndex(IDC_COMBO_IDLE_TIMER)));
        r.auto_mp_DevNum = static_cast<uint8_t>(std::max(0, nComboIndex(IDC_COMBO_AUTO_DEV_NUM)) + 1);

        const std::pair<uint8_t IniRecord::*, int> kBoxes[] = {
            {&IniRecord::format_enable, IDC_CHECK_PARTITION_FORMAT},
            {&IniRecord::Check_USBStatus_enable, IDC_CHECK_USB_STATUS},
            {&IniRecord::Check_SerialNumber, IDC_CHECK_SN_HEX},
            {&IniRecord::Auto_Safe_Remove, IDC_CHECK_AUTO_SAFE_REMOVE},
            {&IniRecord::wr_test_enable, IDC_CHECK_WR_TEST},
            {&IniRecord::Speed_test_enable, IDC_CHECK_SPEED_TEST},
            {&IniRecord::auto_mp, IDC_CHECK_MP_AUTO},
            {&IniRecord::preload_enable, IDC_CHECK_PRELOAD},
            {&IniRecord::fw_enable, IDC_CHECK_UPDATE_FW},
            {&IniRecord::fw_reload, IDC_CHECK_RELOAD_FW},
            {&IniRecord::serial_number_increase, IDC_CHECK_SN_INCREASE},
            {&IniRecord::Scan_HDDSN, IDC_CHECK_HDDSN},
            {&IniRecord::Scan_BarCode, IDC_CHECK_BARCODE},
            {&IniRecord::check_config, IDC_CHECK_CONFIG_CHECK},
        };
        for (const auto& [pField, id] : kBoxes)
            r.*pField = bChecked(id) ? 1 : 0;
        r.serial_number_increase_HEX = bChecked(IDC_CHECK_HEX) ? 1 : 0;
        r.serial_number_increase_DEC = bChecked(IDC_CHECK_DEC) ? 1 : 0;
        r.ext_fw_enable = bChecked(IDC_CHECK_EXT_UPDATE_FW) ? 1 : 0;
        r.format_drive_type = ucIndexOfText(m_strComboBoxFormatType, {"NTFS", "FAT32", "exFAT"});
        r.Check_USBStatus = ucIndexOfText(m_strComboBoxUSBStatus, {"USB 2.0", "USB 3.0", "USB 3.1"});

        r.drive_label_name.set(m_strEditDeviceFunctionDriveLabelName);
        r.preload_folder_path.set(m_strComboBoxDeviceFunctionPreloadPath);
        r.fw_binary_name.set(m_strComboBoxDeviceFirmwareFWBrowse);
        r.vendor_id.set(m_strEditDeviceConfigurationVendorID);
        r.product_id.set(m_strEditDeviceConfigurationProductID);
        r.device_revision.set(m_strEditDeviceConfigurationDeviceRevision);
        r.serial_number.set(m_strEditDeviceConfigurationSerialNumber);
        r.manufacturer_string.set(m_strEditDeviceConfigurationManufacturerString);
        r.product_string.set(m_strEditDeviceConfigurationProductString);
        r.manufacturer_string_T10.set(m_strEditDeviceConfigurationT10MString);
        r.product_string_T10.set(m_strEditDeviceConfigurationP10MString);
        r.read_speed.set(m_strEditReadSpeed);
        r.write_speed.set(m_strEditWriteSpeed);
        r.speed_test_file_size.set(m_strSpeedTestFileSize);
        r.USB4_VendorName.set(m_strEditU4VendorName);
        r.USB4_ModelName.set(m_strEditU4ModelName);
        r.USB4_ComponentID.set(m_strEditU4ComponentID);
        r.USB4_VendorID.set(m_strEditU4VendorID);
        r.USB4_ProductID.set(m_strEditU4ProductID);
        r.USB4_TestID.set(m_strEditU4TestID);
        r.USB4_BcdProductFWRevision.set(m_strEditU4BcdProductFWRevision);
        r.USB4_ProductHWRevision.set(m_strEditU4ProductHWRevision);
        r.USB4_MinorFWVersion.set(m_strEditU4MinFW);
        r.USB4_TBT3VendorID.set(m_strEditTBT3VendorID);
        r.USB4_TBT3ModelID.set(m_strEditTBT3ModelID);
        r.USB4_TBT3ModelRevision.set(m_strEditTBT3ModelRevision);
        r.uiRemove_after_finish = std::atoi(m_strEditDeviceFunctionRemoveSeconds.c_str());

        vCopyOptionBlockToSettings(m_PCIEUSBConfigDlg, r, m_pProfile->bOptionBlockImages);

        pIni.m_pINI = r;
        // A store that fails tells the operator itself and leaves the file
        // as it was.
        pIni.vStoreINIFile(strPath);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnBnClickedButtonSaveIni: dwErrorCode %d", "CVIVadeDlg", __LINE__, nLastError());
    }
}
