// The settings lock and which controls each state of the window enables.
// An operator on the line starts runs and removes drives; settings change
// only after the lock button's login. The flag lives only in memory and
// every start and exit closes it.
//
// Three states beyond the rules of the settings themselves:
//   locked, automatic mode: only the run buttons (runs start by themselves);
//   locked: the run buttons and Start;
//   unlocked: the run buttons, Start and the settings, each by its rules;
// and the running set, which leaves nothing but the results and progress.
// Every locked set and the running set also close the USB4 identity (Start
// writes it to the drives) and, while running, every tool that talks to a
// drive, so that nothing reaches a drive beside the run.
#include <QLineEdit>

#include "app/GUIText.h"
#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "controls/ButtonST.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"

namespace {

const std::initializer_list<int> kRunButtons = {IDC_BUTTON_LOADINI, IDOK, IDC_BUTTON_MIN, IDC_BUTTON_SAFELY_REMOVE,
                                                IDC_BUTTON_UNLOCK_VIVADE};
const int kCountEdits[] = {IDC_EDIT_PASS_COUNT, IDC_EDIT_FAIL_COUNT, IDC_EDIT_TOTAL_COUNT, IDC_EDIT_PROGRESS};
const std::initializer_list<int> kOtherFunctionChecks = {
    IDC_CHECK_UPDATE_CONFIG, IDC_CHECK_UPDATE_FW,  IDC_CHECK_EXT_UPDATE_FW, IDC_CHECK_USB_STATUS,
    IDC_CHECK_PARTITION_FORMAT, IDC_CHECK_RELOAD_FW, IDC_CHECK_CONFIG_CHECK, IDC_CHECK_WR_TEST,
    IDC_CHECK_SPEED_TEST, IDC_CHECK_PRELOAD, IDC_CHECK_AUTO_SAFE_REMOVE};
const std::initializer_list<int> kDescriptorGroup = {
    IDC_EDIT_VENDOR_ID,   IDC_EDIT_PRODUCT_ID,   IDC_EDIT_DEVICE_REVISION, IDC_EDIT_SERIAL_NUMBER,
    IDC_EDIT_EP0_MSTRING, IDC_EDIT_EP0_PSTRING,  IDC_EDIT_T10_MSTRING,     IDC_EDIT_T10_PSTRING,
    IDC_COMBO_FORMAT,     IDC_COMBO_SN_INCREASE, IDC_COMBO_SN_EDIT_TYPE,   IDC_COMBO_IDLE_TIMER};
const std::initializer_list<int> kFormatControls = {IDC_COMBO_FORMAT_TYPE,  IDC_EDIT_DRIVE_LABEL,
                                                    IDC_COMBO_PARTITION_TYPE, IDC_STATIC_FORMAT_TYPE,
                                                    IDC_STATIC_DRIVE_LABEL, IDC_STATIC_PARTITION_TYPE};
const std::initializer_list<int> kFirmwarePicker = {IDC_BUTTON_FW_BROWSE, IDC_COMBO_FW_PATH};
const std::initializer_list<int> kPreloadPicker = {IDC_BUTTON_PRELOAD_BROWSE, IDC_COMBO_PRELOAD_PATH};
const std::initializer_list<int> kMoreConfig = {IDC_BUTTON_MORE_CONFIG, IDC_BUTTON_U4_MORE_CONFIG};
const std::initializer_list<int> kUSB4Group = {
    IDC_EDIT_U4_VENDOR_NAME,    IDC_EDIT_U4_MODEL_NAME,    IDC_EDIT_U4_VENDOR_ID,   IDC_EDIT_U4_PRODUCT_ID,
    IDC_EDIT_U4_TEST_ID,        IDC_EDIT_U4_BCD_PRODUCT_FW, IDC_EDIT_U4_PRODUCT_HW, IDC_EDIT_U4_MIN_FW,
    IDC_EDIT_TBT3_VENDOR_ID,    IDC_EDIT_TBT3_MODEL_ID,    IDC_EDIT_TBT3_MODEL_REV, IDC_COMBO_U4_MODE,
    IDC_COMBO_U4_COMPONENT_ID_TYPE};

}  // namespace

void CVIVadeDlg::vSetLockedGUI()
{
    vOnGui([this] {
        vEnable(kRunButtons, true);
        enableControl(IDC_BUTTON_START, false);
        for (int id : kCountEdits)
            vSetReadOnly(id, true);
        enableControl(IDC_CHECK_MP_AUTO, m_bChangeMode == 1);
        vEnable(kOtherFunctionChecks, false);
        // The labels go grey with their fields.
        vEnable({IDC_COMBO_FORMAT_TYPE, IDC_COMBO_USB_STATUS, IDC_COMBO_AUTO_DEV_NUM, IDC_EDIT_DRIVE_LABEL,
                 IDC_EDIT_SECONDS, IDC_STATIC_SECONDS, IDC_EDIT_READ_SPEED, IDC_EDIT_WRITE_SPEED, IDC_STATIC_READ,
                 IDC_STATIC_WRITE, IDC_BUTTON_SAVEINI, IDC_BUTTON_CLEARCOUNT},
                false);
        vDisableDescriptorControls();
        vEnable(kFirmwarePicker, false);
        vEnable(kPreloadPicker, false);
        vEnable(kMoreConfig, false);
        vDisableFormatControls();
        vDisableUSB4Controls();
    });
}

void CVIVadeDlg::vSetUnlockedGUI()
{
    vOnGui([this] {
        const IniRecord& ini = pIni.m_pINI;
        vEnable(kRunButtons, true);
        enableControl(IDC_BUTTON_START, true);
        for (int id : kCountEdits)
            vSetReadOnly(id, true);
        if (m_bChangeMode != 1) {
            enableControl(IDC_CHECK_MP_AUTO, false);
            vEnable(kOtherFunctionChecks, false);
            vEnable({IDC_COMBO_USB_STATUS, IDC_COMBO_AUTO_DEV_NUM, IDC_COMBO_FORMAT_TYPE, IDC_EDIT_READ_SPEED,
                     IDC_EDIT_WRITE_SPEED, IDC_STATIC_READ, IDC_STATIC_WRITE, IDC_EDIT_DRIVE_LABEL, IDC_EDIT_SECONDS,
                     IDC_STATIC_SECONDS, IDC_BUTTON_SAVEINI, IDC_BUTTON_CLEARCOUNT},
                    false);
            vDisableDescriptorControls();
            vDisableFormatControls();
            vEnable(kFirmwarePicker, false);
            vEnable(kPreloadPicker, false);
            vEnable(kMoreConfig, false);
            vDisableUSB4Controls();
            return;
        }
        vEnable({IDC_CHECK_MP_AUTO, IDC_CHECK_UPDATE_CONFIG, IDC_CHECK_UPDATE_FW, IDC_CHECK_EXT_UPDATE_FW,
                 IDC_CHECK_USB_STATUS, IDC_CHECK_CONFIG_CHECK, IDC_CHECK_WR_TEST, IDC_CHECK_PRELOAD,
                 IDC_CHECK_AUTO_SAFE_REMOVE, IDC_CHECK_PARTITION_FORMAT, IDC_BUTTON_SAVEINI, IDC_BUTTON_CLEARCOUNT},
                true);
        enableControl(IDC_CHECK_RELOAD_FW, ini.fw_enable == 1);
        enableControl(IDC_CHECK_SPEED_TEST, bChecked(IDC_CHECK_WR_TEST));
        vEnable({IDC_EDIT_READ_SPEED, IDC_EDIT_WRITE_SPEED, IDC_STATIC_READ, IDC_STATIC_WRITE},
                bChecked(IDC_CHECK_SPEED_TEST));
        vEnable({IDC_EDIT_SECONDS, IDC_STATIC_SECONDS}, bChecked(IDC_CHECK_AUTO_SAFE_REMOVE));
        vSetDescriptorControlsByFW();
        vSetFormatControlsByINI();
        vSetFirmwareControlsByFW();
        vEnable(kPreloadPicker, ini.preload_enable == 1);
        vEnableUSB4Controls();
    });
}

void CVIVadeDlg::vSetGUIByLockState()
{
    if (m_bChangeMode != 1 && pIni.m_pINI.auto_mp == 1)
        vSetLockedGUI();
    else
        vSetUnlockedGUI();
}

void CVIVadeDlg::vDisableRunControls()
{
    vOnGui([this] {
        vEnable(kRunButtons, false);
        enableControl(IDC_BUTTON_START, false);
        enableControl(IDC_CHECK_MP_AUTO, false);
        vEnable(kOtherFunctionChecks, false);
        vEnable({IDC_BUTTON_SAVEINI, IDC_BUTTON_CLEARCOUNT, IDC_EDIT_READ_SPEED, IDC_EDIT_WRITE_SPEED,
                 IDC_STATIC_READ, IDC_STATIC_WRITE, IDC_COMBO_USB_STATUS, IDC_COMBO_AUTO_DEV_NUM, IDC_EDIT_SECONDS,
                 IDC_STATIC_SECONDS, IDC_BUTTON_DEBUG, IDC_BUTTON_PD, IDC_BUTTON_SHA256},
                false);
        vEnable(kMoreConfig, false);
        vEnable(kDescriptorGroup, false);
        vDisableFormatControls();
        vEnable(kFirmwarePicker, false);
        vEnable(kPreloadPicker, false);
        vDisableUSB4Controls();
        for (int id : kCountEdits)
            vSetReadOnly(id, true);
    });
}

void CVIVadeDlg::vSetDescriptorControlsByFW()
{
    vOnGui([this] {
        if (pIni.m_pINI.fw_enable == 1) {
            vEnable(kDescriptorGroup, true);
            vEnable(kMoreConfig, true);
        } else {
            vDisableDescriptorControls();
        }
        enableControl(IDC_BUTTON_PD, pIni.m_pINI.ext_fw_enable == 1);
    });
}

void CVIVadeDlg::vDisableDescriptorControls()
{
    vOnGui([this] {
        vEnable(kDescriptorGroup, false);
        vEnable(kMoreConfig, false);
        enableControl(IDC_BUTTON_PD, pIni.m_pINI.ext_fw_enable == 1);
    });
}

void CVIVadeDlg::vSetFirmwareControlsByFW()
{
    vOnGui([this] {
        if (pIni.m_pINI.fw_enable == 1) {
            vEnable(kFirmwarePicker, true);
        } else {
            vEnable(kFirmwarePicker, false);
            vEnable(kMoreConfig, false);
        }
    });
}

void CVIVadeDlg::vSetFormatControlsByINI()
{
    vOnGui([this] {
        if (pIni.m_pINI.format_enable == 1)
            vEnable(kFormatControls, true);
        else
            vDisableFormatControls();
    });
}

void CVIVadeDlg::vDisableFormatControls()
{
    vOnGui([this] { vEnable(kFormatControls, false); });
}

void CVIVadeDlg::vEnableUSB4Controls()
{
    vOnGui([this] {
        vEnable(kUSB4Group, true);
        enableControl(IDC_EDIT_U4_COMPONENT_ID, pIni.m_pINI.USB4_ComponentID_EditType < 3);
    });
}

void CVIVadeDlg::vDisableUSB4Controls()
{
    vOnGui([this] {
        vEnable(kUSB4Group, false);
        enableControl(IDC_EDIT_U4_COMPONENT_ID, false);
    });
}

void CVIVadeDlg::OnBnClickedButtonUnlockVivade()
{
    try {
        const bool bWasLocked = m_bChangeMode != 1;
        // In automatic mode a run could start while the operator types.
        if (pIni.m_pINI.auto_mp == 1 && bWasLocked)
            bDeleteAllThread();
        if (bWasLocked) {
            bool bRight = false;
            m_bLoginDlgOpen = 1;
            bRight = m_fnLoginPrompt ? m_fnLoginPrompt() : bRunLoginDlg();
            m_bLoginDlgOpen = 0;
            m_bChangeMode = bRight ? 1 : 0;
        } else {
            m_bChangeMode = 0;
        }
        const bool bUnlocked = m_bChangeMode == 1;
        setControlText(IDC_BUTTON_UNLOCK_VIVADE, bUnlocked ? g_GUIText.m_strBtnLock : g_GUIText.m_strBtnUnlock);
        vSetLockButtonLook(bUnlocked);
        vSetGUIByLockState();
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: OnBnClickedButtonUnlockVivade: m_bChangeMode : %d , dwErrorCode : %d ",
                          "CVIVadeDlg", __LINE__, m_bChangeMode.load(), static_cast<int>(krv::lastError()));
    }
}

void CVIVadeDlg::vSetLockButtonLook(bool bUnlocked)
{
    // The button shows what pressing it does: lock an unlocked window,
    // unlock a locked one.
    vOnGui([&] {
        if (auto* lock = control<CButtonST>(IDC_BUTTON_UNLOCK_VIVADE)) {
            lock->SetIcon(bUnlocked ? 164 : 165);
            lock->SetTooltipText(QString(bUnlocked ? "Lock" : "Unlock"));
        }
    });
}
