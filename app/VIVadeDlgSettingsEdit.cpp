// The settings as the operator edits them in the window: each edit filters
// what is typed and writes its settings key at once (the USB4 identity only
// at Save INI), each check box writes its key and the run switch it drives
// on the click, each combo its key on the selection. The window's own fills
// (start-up, Load INI) never pass through these handlers: only what the
// operator types or clicks does, so a fill that empties a field first can
// never write that empty text into the settings.
#include <algorithm>
#include <cstdlib>

#include <QComboBox>
#include <QLineEdit>

#include "app/GUIText.h"
#include "app/Ini.h"
#include "app/SettingsValidation.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// SN_EditType "1.Increase HEX": the only type whose counting needs the
// serial in upper case.
constexpr uint8_t SN_EDIT_TYPE_INCREASE_HEX = 1;
constexpr uint8_t SN_EDIT_TYPE_FROM_HDDSN = 4;
constexpr int COMPONENT_ID_TYPE_FIRST_GENERATED = 3;
constexpr int U4_MODE_MAX = 3;

// One filtered edit: its rule, the window's value member, the settings key
// written at every change (none for the USB4 identity), and the names its
// error line gives.
struct SettingsEdit {
    int id;
    ESettingsEdit eEdit;
    std::string CVIVadeDlg::*pMember;
    IniText IniRecord::*pKey;
    const char* pszHandler;
    const char* pszMember;
};

using D = CVIVadeDlg;
using E = ESettingsEdit;
using R = IniRecord;

const SettingsEdit kSettingsEdits[] = {
    {IDC_EDIT_VENDOR_ID, E::eVendorID, &D::m_strEditDeviceConfigurationVendorID, &R::vendor_id,
     "OnEnChangeEditDevicedescriptorVendorid", "m_strEditDeviceConfigurationVendorID"},
    {IDC_EDIT_PRODUCT_ID, E::eProductID, &D::m_strEditDeviceConfigurationProductID, &R::product_id,
     "OnEnChangeEditDevicedescriptorProductid", "m_strEditDeviceConfigurationProductID"},
    {IDC_EDIT_DEVICE_REVISION, E::eDeviceRevision, &D::m_strEditDeviceConfigurationDeviceRevision,
     &R::device_revision, "OnEnChangeEditDevicedescriptorDevicerevision", "m_strEditDeviceConfigurationDeviceRevision"},
    {IDC_EDIT_SERIAL_NUMBER, E::eSerialNumber, &D::m_strEditDeviceConfigurationSerialNumber, &R::serial_number,
     "OnEnChangeEditDevicedescriptorSerialnumber", "m_strEditDeviceConfigurationSerialNumber"},
    {IDC_EDIT_EP0_MSTRING, E::eManufacturerString, &D::m_strEditDeviceConfigurationManufacturerString,
     &R::manufacturer_string, "OnEnChangeEditDevicedescriptorManufacturerstring",
     "m_strEditDeviceConfigurationManufacturerString"},
    {IDC_EDIT_EP0_PSTRING, E::eProductString, &D::m_strEditDeviceConfigurationProductString, &R::product_string,
     "OnEnChangeEditDevicedescriptorProductstring", "m_strEditDeviceConfigurationProductString"},
    {IDC_EDIT_T10_MSTRING, E::eT10ManufacturerString, &D::m_strEditDeviceConfigurationT10MString,
     &R::manufacturer_string_T10, "OnEnChangeEditDevicedescriptorT10mstring", "m_strEditDeviceConfigurationT10MString"},
    {IDC_EDIT_T10_PSTRING, E::eT10ProductString, &D::m_strEditDeviceConfigurationP10MString, &R::product_string_T10,
     "OnEnChangeEditDevicedescriptorT10pstring", "m_strEditDeviceConfigurationP10MString"},
    {IDC_EDIT_U4_VENDOR_NAME, E::eUSB4VendorName, &D::m_strEditU4VendorName, &R::USB4_VendorName,
     "OnEnChangeEditUsb4DevicedescriptorVendorName", "m_strEditU4VendorName"},
    {IDC_EDIT_U4_MODEL_NAME, E::eUSB4ModelName, &D::m_strEditU4ModelName, &R::USB4_ModelName,
     "OnEnChangeEditUsb4DevicedescriptorModelName", "m_strEditU4ModelName"},
    {IDC_EDIT_SECONDS, E::eSeconds, &D::m_strEditDeviceFunctionRemoveSeconds, nullptr, "OnEnChangeEditSeconds",
     "m_strEditDeviceFunctionRemoveSeconds"},
    {IDC_EDIT_READ_SPEED, E::eReadSpeed, &D::m_strEditReadSpeed, &R::read_speed, "OnEnChangeEditRead",
     "m_strEditReadSpeed"},
    {IDC_EDIT_WRITE_SPEED, E::eWriteSpeed, &D::m_strEditWriteSpeed, &R::write_speed, "OnEnChangeEditWrite",
     "m_strEditWriteSpeed"},
    {IDC_EDIT_DRIVE_LABEL, E::eDriveLabel, &D::m_strEditDeviceFunctionDriveLabelName, &R::drive_label_name,
     "OnEnChangeEditDevicefunctionDrivelabel", "m_strEditDeviceFunctionDriveLabelName"},
    // The USB4 identity: kept for Save INI only.
    {IDC_EDIT_U4_COMPONENT_ID, E::eUSB4ComponentID, &D::m_strEditU4ComponentID, nullptr, "OnUSB4EditChange",
     "m_strEditU4ComponentID"},
    {IDC_EDIT_U4_VENDOR_ID, E::eUSB4VendorID, &D::m_strEditU4VendorID, nullptr, "OnUSB4EditChange",
     "m_strEditU4VendorID"},
    {IDC_EDIT_U4_PRODUCT_ID, E::eUSB4ProductID, &D::m_strEditU4ProductID, nullptr, "OnUSB4EditChange",
     "m_strEditU4ProductID"},
    {IDC_EDIT_U4_TEST_ID, E::eUSB4TestID, &D::m_strEditU4TestID, nullptr, "OnUSB4EditChange", "m_strEditU4TestID"},
    {IDC_EDIT_U4_BCD_PRODUCT_FW, E::eUSB4BcdProductFWRevision, &D::m_strEditU4BcdProductFWRevision, nullptr,
     "OnUSB4EditChange", "m_strEditU4BcdProductFWRevision"},
    {IDC_EDIT_U4_PRODUCT_HW, E::eUSB4ProductHWRevision, &D::m_strEditU4ProductHWRevision, nullptr,
     "OnUSB4EditChange", "m_strEditU4ProductHWRevision"},
    {IDC_EDIT_U4_MIN_FW, E::eUSB4MinorFWVersion, &D::m_strEditU4MinFW, nullptr, "OnUSB4EditChange",
     "m_strEditU4MinFW"},
    {IDC_EDIT_TBT3_VENDOR_ID, E::eUSB4TBT3VendorID, &D::m_strEditTBT3VendorID, nullptr, "OnUSB4EditChange",
     "m_strEditTBT3VendorID"},
    {IDC_EDIT_TBT3_MODEL_ID, E::eUSB4TBT3ModelID, &D::m_strEditTBT3ModelID, nullptr, "OnUSB4EditChange",
     "m_strEditTBT3ModelID"},
    {IDC_EDIT_TBT3_MODEL_REV, E::eUSB4TBT3ModelRevision, &D::m_strEditTBT3ModelRevision, nullptr,
     "OnUSB4EditChange", "m_strEditTBT3ModelRevision"},
    {IDC_EDIT_PCI_VID, E::ePcieVendorID, &D::m_strEditPCIVID, nullptr, "OnUSB4EditChange", "m_strEditPCIVID"},
    {IDC_EDIT_PCI_DID, E::ePcieDeviceID, &D::m_strEditPCIDID, nullptr, "OnUSB4EditChange", "m_strEditPCIDID"},
};

const SettingsEdit* pFindEdit(int id)
{
    for (const SettingsEdit& entry : kSettingsEdits)
        if (entry.id == id)
            return &entry;
    return nullptr;
}

bool bIsUSB4IdentityEdit(const SettingsEdit& entry) { return entry.pKey == nullptr && entry.eEdit != E::eSeconds; }

const int kSettingsChecks[] = {
    IDC_CHECK_MP_AUTO,     IDC_CHECK_UPDATE_FW,    IDC_CHECK_UPDATE_CONFIG,    IDC_CHECK_RELOAD_FW,
    IDC_CHECK_CONFIG_CHECK, IDC_CHECK_PARTITION_FORMAT, IDC_CHECK_PRELOAD,     IDC_CHECK_AUTO_SAFE_REMOVE,
    IDC_CHECK_WR_TEST,     IDC_CHECK_SPEED_TEST,   IDC_CHECK_USB_STATUS,       IDC_CHECK_EXT_UPDATE_FW,
    IDC_CHECK_SN_HEX,      IDC_CHECK_SN_INCREASE,  IDC_CHECK_HDDSN,            IDC_CHECK_BARCODE,
    IDC_CHECK_HEX,         IDC_CHECK_DEC};

const int kSettingsCombos[] = {
    IDC_COMBO_AUTO_DEV_NUM, IDC_COMBO_SN_EDIT_TYPE, IDC_COMBO_U4_COMPONENT_ID_TYPE, IDC_COMBO_U4_MODE,
    IDC_COMBO_IDLE_TIMER,   IDC_COMBO_FORMAT_TYPE,  IDC_COMBO_PARTITION_TYPE,       IDC_COMBO_USB_STATUS,
    IDC_COMBO_FORMAT,       IDC_COMBO_SN_INCREASE,  IDC_COMBO_FW_PATH,              IDC_COMBO_PRELOAD_PATH};

uint8_t ucBox(bool bOn) { return bOn ? 1 : 0; }

}  // namespace

void CVIVadeDlg::vConnectSettingsHandlers()
{
    for (const SettingsEdit& entry : kSettingsEdits) {
        auto* edit = control<QLineEdit>(entry.id);
        if (!edit)
            continue;
        // Typing and pasting only; the window's own fills are not edits.
        const int id = entry.id;
        connect(edit, &QLineEdit::textEdited, this, [this, id] {
            if (!isShuttingDown())
                vOnSettingsEditChange(id);
        });
    }
    for (int id : kSettingsChecks)
        setCommandHandler(id, [this, id] { vOnSettingsCheckClicked(id); });
    for (int id : kSettingsCombos) {
        auto* combo = control<QComboBox>(id);
        if (!combo)
            continue;
        // The operator's choice only, as the window's own selections are
        // fills of what the settings already hold.
        connect(combo, &QComboBox::activated, this, [this, id] {
            if (!isShuttingDown())
                vOnSettingsComboSelChange(id);
        });
    }
    setCommandHandler(IDC_BUTTON_SAVEINI, [this] { OnBnClickedButtonSaveIni(); });
    setCommandHandler(IDC_BUTTON_FW_BROWSE, [this] { OnBnClickedButtonDevicwfirmwareFwbrowse(); });
    setCommandHandler(IDC_BUTTON_PRELOAD_BROWSE, [this] { OnBnClickedButtonDevicwfirmwarePreloadPath(); });
    setCommandHandler(IDC_BUTTON_BTN1, [this] { OnBnClickedButton1(); });
    setCommandHandler(IDC_BUTTON_BTN2, [this] { OnBnClickedButton2(); });
    setCommandHandler(IDC_BUTTON_BTN3, [this] { OnBnClickedButton3(); });
    setCommandHandler(IDC_BUTTON_BTN4, [this] { OnBnClickedButton4(); });
    setCommandHandler(IDC_BUTTON_RST, [this] { OnBnClickedButtonRst(); });
    setCommandHandler(IDC_BUTTON_PC, [this] { OnBnClickedButtonPcTest(); });
    setCommandHandler(IDC_BUTTON_TEST, [this] { OnBnClickedButtonTest(); });
    setCommandHandler(IDC_BUTTON_PD_TEST, [this] { OnBnClickedButtonPdTest(); });
    setCommandHandler(IDC_BUTTON_SHA256, [this] { OnBnClickedButtonSha256(); });
    setCommandHandler(IDC_BUTTON_DEBUG, [this] { OnBnClickedDEBUG(); });
    // "U4 Data": the USB4 data report of the "/O4" job, written at once.
    setCommandHandler(IDC_BUTTON_U4_DATA, [this] { vCmdWriteU4DataCsv(); });
}

// ---- edits ----------------------------------------------------------------------

void CVIVadeDlg::vOnSettingsEditChange(int id)
{
    const SettingsEdit* pEntry = pFindEdit(id);
    auto* edit = control<QLineEdit>(id);
    if (!pEntry || !edit)
        return;
    const SettingsEdit& entry = *pEntry;
    IniRecord& ini = pIni.m_pINI;
    std::string& strValue = this->*entry.pMember;
    try {
        const QString qsTyped = edit->text();
        const std::string strTyped = qsTyped.toStdString();
        const size_t nCaret = qsTyped.left(edit->cursorPosition()).toStdString().size();
        EditFilterRule rule = ruleForSettingsEdit(entry.eEdit, ini.Check_SerialNumber, ini.format_drive_type);
        // The serial keeps the operator's case unless its counting needs
        // upper case.
        if (entry.eEdit == E::eSerialNumber)
            rule.bUpperCase = rule.bUpperCase && ini.SN_EditType == SN_EDIT_TYPE_INCREASE_HEX;
        const EditFilterResult result = filterEditText(strTyped, nCaret, rule);
        if (result.bRefused) {
            pUtility.nShowProgramMessage(g_GUIText.m_strErrInvalidDiskLabelSize + "\r\n", MSG_TYPE_WARNING, 0,
                                         CUSBUtility::EMessageTarget::eMessageBox);
            edit->clear();
            strValue.clear();
            return;
        }
        strValue = result.strText;
        if (result.strText != strTyped) {
            edit->setText(QString::fromStdString(result.strText));
            edit->setCursorPosition(static_cast<int>(QString::fromStdString(result.strText.substr(0, result.nCaret)).size()));
        }
        if (entry.pKey)
            (ini.*entry.pKey).set(strValue);
        if (entry.eEdit == E::eSeconds)
            ini.uiRemove_after_finish = std::atoi(strValue.c_str());
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: %s: %s : %s , dwErrorCode %d", "CVIVadeDlg", __LINE__, entry.pszHandler,
                          entry.pszMember, strValue.c_str(), nLastError());
    }
}

void CVIVadeDlg::OnUSB4EditChangeForHex(int id)
{
    const SettingsEdit* pEntry = pFindEdit(id);
    if (pEntry && bIsUSB4IdentityEdit(*pEntry))
        vOnSettingsEditChange(id);
}

// ---- check boxes ----------------------------------------------------------------

void CVIVadeDlg::vOnSettingsCheckClicked(int id)
{
    IniRecord& ini = pIni.m_pINI;
    const bool bOn = bChecked(id);
    try {
        switch (id) {
        case IDC_CHECK_MP_AUTO:
            // The scan thread starts runs by itself from auto_mp.
            bDeleteAllThread();
            ini.auto_mp = ucBox(bOn);
            enableControl(IDC_COMBO_AUTO_DEV_NUM, bOn);
            enableControl(IDC_BUTTON_START, !bOn);
            break;
        case IDC_CHECK_UPDATE_FW:
        case IDC_CHECK_UPDATE_CONFIG:
            if (id == IDC_CHECK_UPDATE_FW) {
                ini.fw_enable = ucBox(bOn);
                if (!bOn) {
                    ini.fw_reload = 0;
                    m_DevList.m_bDoReload = 0;
                    setCheck(IDC_CHECK_RELOAD_FW, 0);
                }
                enableControl(IDC_CHECK_RELOAD_FW, bOn);
                m_DevList.m_bDoUpdateFW = ini.fw_enable;
                m_DevList.m_bUpdateFW = ini.fw_enable;
                vSetFirmwareControlsByFW();
                vSetDescriptorControlsByFW();
            }
            if (bChecked(IDC_CHECK_UPDATE_FW) && bChecked(IDC_CHECK_UPDATE_CONFIG))
                vEnable({IDC_BUTTON_MORE_CONFIG, IDC_BUTTON_U4_MORE_CONFIG}, true);
            break;
        case IDC_CHECK_RELOAD_FW:
            if (m_pProfile->bReloadFromSettingsOnly) {
                // Whether a reload can find its drives again is Start's
                // question; the box only shows what the file asked for.
                setCheck(id, 0);
                break;
            }
            ini.fw_reload = ucBox(bOn);
            m_DevList.m_bDoReload = ini.fw_reload;
            break;
        case IDC_CHECK_CONFIG_CHECK:
            ini.check_config = ucBox(bOn);
            m_DevList.m_bDoConfigCheck = ini.check_config;
            break;
        case IDC_CHECK_PARTITION_FORMAT:
            ini.format_enable = ucBox(bOn);
            m_DevList.m_bDoFormat = ini.format_enable;
            vSetFormatControlsByINI();
            break;
        case IDC_CHECK_PRELOAD:
            ini.preload_enable = ucBox(bOn);
            m_DevList.m_bDoPreload = ini.preload_enable;
            vEnable({IDC_COMBO_PRELOAD_PATH, IDC_BUTTON_PRELOAD_BROWSE}, bOn);
            break;
        case IDC_CHECK_AUTO_SAFE_REMOVE:
            ini.Auto_Safe_Remove = ucBox(bOn);
            m_DevList.m_bAutoSafeRemove = ini.Auto_Safe_Remove;
            vEnable({IDC_EDIT_SECONDS, IDC_STATIC_SECONDS}, bOn);
            break;
        case IDC_CHECK_WR_TEST:
        case IDC_CHECK_SPEED_TEST:
        case IDC_CHECK_USB_STATUS:
            if (m_pProfile->bTestBoxesSwitchSteps) {
                vOnTestStepBoxClicked(id, bOn);
                break;
            }
            // The production window never switches these steps on; only a
            // settings file can.
            setCheck(id, 0);
            break;
        case IDC_CHECK_EXT_UPDATE_FW:
            ini.ext_fw_enable = ucBox(bOn);
            enableControl(IDC_BUTTON_PD, bOn);
            break;
        case IDC_CHECK_SN_HEX:
            ini.Check_SerialNumber = ucBox(bOn);
            if (bOn) {
                enableControl(IDC_CHECK_SN_INCREASE, true);
                ini.serial_number_increase = 0;
            } else {
                setCheck(IDC_CHECK_SN_INCREASE, 0);
                enableControl(IDC_CHECK_SN_INCREASE, false);
            }
            break;
        case IDC_CHECK_SN_INCREASE:
            ini.serial_number_increase = ucBox(bOn);
            if (!bOn) {
                setCheck(IDC_CHECK_HEX, 0);
                setCheck(IDC_CHECK_DEC, 0);
                ini.serial_number_increase_HEX = 0;
                ini.serial_number_increase_DEC = 0;
            }
            vEnable({IDC_CHECK_HEX, IDC_CHECK_DEC}, bOn);
            break;
        case IDC_CHECK_HDDSN:
            ini.Scan_HDDSN = ucBox(bOn);
            enableControl(IDC_EDIT_SERIAL_NUMBER, !bOn);
            if (bOn) {
                setCheck(IDC_CHECK_BARCODE, 0);
                ini.Scan_BarCode = 0;
            }
            break;
        case IDC_CHECK_BARCODE:
            ini.Scan_BarCode = ucBox(bOn);
            if (bOn) {
                setCheck(IDC_CHECK_HDDSN, 0);
                ini.Scan_HDDSN = 0;
                vSetReadOnly(IDC_EDIT_SERIAL_NUMBER, false);
                enableControl(IDC_EDIT_SERIAL_NUMBER, true);
                setControlText(IDC_EDIT_SERIAL_NUMBER, "");
                if (QWidget* edit = control(IDC_EDIT_SERIAL_NUMBER))
                    edit->setFocus();
            }
            break;
        case IDC_CHECK_HEX: OnBnClickedStaticDevicedescriptorSnincHex(); break;
        case IDC_CHECK_DEC: OnBnClickedStaticDevicedescriptorSnincDec(); break;
        default: break;
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: vOnSettingsCheckClicked: id : %d , checked : %d , dwErrorCode %d", "CVIVadeDlg",
                          __LINE__, id, bOn ? 1 : 0, nLastError());
    }
}

void CVIVadeDlg::vOnTestStepBoxClicked(int id, bool bOn)
{
    IniRecord& ini = pIni.m_pINI;
    const auto vEnableSpeeds = [this](bool bEnable) {
        vEnable({IDC_EDIT_READ_SPEED, IDC_EDIT_WRITE_SPEED, IDC_STATIC_READ, IDC_STATIC_WRITE}, bEnable);
    };
    switch (id) {
    case IDC_CHECK_WR_TEST:
        // The speed test runs inside the write/read test: its box is
        // offered only with it, and its speeds only when it is on too.
        ini.wr_test_enable = ucBox(bOn);
        enableControl(IDC_CHECK_SPEED_TEST, bOn);
        if (!bOn)
            setCheck(IDC_CHECK_SPEED_TEST, 0);
        vEnableSpeeds(bOn && bChecked(IDC_CHECK_SPEED_TEST));
        m_DevList.m_bDoWrRdTest = ini.wr_test_enable;
        break;
    case IDC_CHECK_SPEED_TEST:
        ini.Speed_test_enable = ucBox(bOn);
        vEnableSpeeds(bOn);
        m_DevList.m_bDoSpeedTest = ini.Speed_test_enable;
        break;
    case IDC_CHECK_USB_STATUS:
        ini.Check_USBStatus_enable = ucBox(bOn);
        enableControl(IDC_COMBO_USB_STATUS, bOn);
        m_DevList.m_bDoUSBStatusCheck = ini.Check_USBStatus_enable;
        break;
    default:
        break;
    }
}

namespace {

// The Hex and Dec boxes: one click, both boxes and both settings fields.
void vApplySNIncreaseBoxes(CVIVadeDlg& dlg, bool bHexBox)
{
    IniRecord& ini = pIni.m_pINI;
    const int idClicked = bHexBox ? IDC_CHECK_HEX : IDC_CHECK_DEC;
    const SNIncreaseBoxes boxes =
        snIncreaseBoxClicked(bHexBox, dlg.checkState(idClicked) == krv::ui::check::kChecked,
                             dlg.controlText(IDC_EDIT_SERIAL_NUMBER), ini.SN_remain_value_enable,
                             ini.SN_remain_value_length, ini.SN_EditType);
    ini.serial_number_increase_HEX = boxes.ucIncreaseHex;
    ini.serial_number_increase_DEC = boxes.ucIncreaseDec;
    dlg.setCheck(IDC_CHECK_HEX, boxes.ucIncreaseHex);
    dlg.setCheck(IDC_CHECK_DEC, boxes.ucIncreaseDec);
    if (boxes.bClearSerialNumber)
        dlg.setControlText(IDC_EDIT_SERIAL_NUMBER, "");
    if (!boxes.strWarning.empty())
        pUtility.nShowProgramMessage(boxes.strWarning, MSG_TYPE_WARNING, 0, CUSBUtility::EMessageTarget::eMessageBox);
}

}  // namespace

void CVIVadeDlg::OnBnClickedStaticDevicedescriptorSnincHex()
{
    try {
        vApplySNIncreaseBoxes(*this, true);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucSerial_number_increase_Hex : %d , dwErrorCode %d", "CVIVadeDlg",
                          __LINE__, pIni.m_pINI.serial_number_increase_HEX, nLastError());
    }
}

void CVIVadeDlg::OnBnClickedStaticDevicedescriptorSnincDec()
{
    try {
        vApplySNIncreaseBoxes(*this, false);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucSerial_number_increase_Dec : %d , dwErrorCode %d", "CVIVadeDlg",
                          __LINE__, pIni.m_pINI.serial_number_increase_DEC, nLastError());
    }
}

// ---- combos -----------------------------------------------------------------------

void CVIVadeDlg::vOnSettingsComboSelChange(int id)
{
    IniRecord& ini = pIni.m_pINI;
    const int nIndex = std::max(0, nComboIndex(id));
    try {
        switch (id) {
        case IDC_COMBO_AUTO_DEV_NUM: ini.auto_mp_DevNum = static_cast<uint8_t>(nIndex + 1); break;
        case IDC_COMBO_SN_EDIT_TYPE:
            UpdateData(true);
            enableControl(IDC_EDIT_SERIAL_NUMBER, true);
            ini.SN_EditType = static_cast<uint8_t>(nIndex);
            if (nIndex == SN_EDIT_TYPE_FROM_BARCODE) {
                vSetReadOnly(IDC_EDIT_SERIAL_NUMBER, false);
                setControlText(IDC_EDIT_SERIAL_NUMBER, "");
                if (QWidget* edit = control(IDC_EDIT_SERIAL_NUMBER))
                    edit->setFocus();
            } else if (nIndex == SN_EDIT_TYPE_FROM_HDDSN) {
                enableControl(IDC_EDIT_SERIAL_NUMBER, false);
            }
            break;
        case IDC_COMBO_U4_COMPONENT_ID_TYPE:
            UpdateData(true);
            ini.USB4_ComponentID_EditType = nIndex;
            enableControl(IDC_EDIT_U4_COMPONENT_ID, nIndex < COMPONENT_ID_TYPE_FIRST_GENERATED);
            break;
        case IDC_COMBO_U4_MODE: ini.USB4_U4Mode = std::min(nIndex, U4_MODE_MAX); break;
        case IDC_COMBO_IDLE_TIMER: ini.standby_timer = static_cast<uint8_t>(nIndex); break;
        case IDC_COMBO_FORMAT_TYPE:
            UpdateData(true);
            ini.format_drive_type = static_cast<uint8_t>(nIndex);
            vSetEditTextLimits();
            // A label that fitted the old file system may not fit the new.
            setControlText(IDC_EDIT_DRIVE_LABEL, "");
            m_strEditDeviceFunctionDriveLabelName.clear();
            ini.drive_label_name.clear();
            break;
        case IDC_COMBO_PARTITION_TYPE:
            UpdateData(true);
            ini.partition_drive_type = static_cast<uint8_t>(nIndex);
            break;
        case IDC_COMBO_USB_STATUS:
            UpdateData(true);
            ini.Check_USBStatus = static_cast<uint8_t>(nIndex);
            break;
        case IDC_COMBO_FORMAT:
            UpdateData(true);
            ini.config_format = static_cast<uint8_t>(nIndex);
            break;
        case IDC_COMBO_SN_INCREASE: ini.serial_number_increase = static_cast<uint8_t>(nIndex); break;
        case IDC_COMBO_FW_PATH:
            UpdateData(true);
            ini.fw_binary_name.set(controlText(IDC_COMBO_FW_PATH));
            break;
        case IDC_COMBO_PRELOAD_PATH:
            UpdateData(true);
            ini.preload_folder_path.set(controlText(IDC_COMBO_PRELOAD_PATH));
            break;
        default: break;
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: vOnSettingsComboSelChange: id : %d , index : %d , dwErrorCode %d", "CVIVadeDlg",
                          __LINE__, id, nIndex, nLastError());
    }
}
