// The window's captions, combo items and the results table's headings, all
// from the GUI text table, and the buttons' tooltips.
#include <algorithm>

#include <QAbstractButton>
#include <QComboBox>

#include "app/GUIText.h"
#include "app/ResultColumns.h"
#include "app/VIVadeDlg.h"
#include "controls/ButtonST.h"
#include "controls/ButtonSTLooks.h"
#include "controls/ColorStaticST.h"

void CVIVadeDlg::vInitGUITexts()
{
    const CGUIText& t = g_GUIText;
    // The window's own title and version line are the program's.
    setWindowTitle(m_pProfile->pszTitle);
    setControlText(IDC_STATIC_VERSION, m_pProfile->pszTitle);

    // Captions and labels.
    setControlText(IDC_BUTTON_LOADINI, t.m_strBtnLoadINI);
    setControlText(IDC_BUTTON_SAVEINI, t.m_strBtnSaveINI);
    setControlText(IDC_GROUP_DEVICE_CONFIG, t.m_strDevDescGroup);
    setControlText(IDC_GROUP_DEVICE_FUNCTION, t.m_strDevFuncGroup);
    setControlText(IDC_CHECK_MP_AUTO, t.m_strDevFuncMPAutoMode);
    setControlText(IDC_CHECK_UPDATE_CONFIG, t.m_strDevFuncUpdateConfig);
    setControlText(IDC_CHECK_UPDATE_FW, t.m_strDevFuncUpdateFW);
    setControlText(IDC_CHECK_EXT_UPDATE_FW, t.m_strDevFuncUpdateExtFW);
    setControlText(IDC_CHECK_USB_STATUS, t.m_strDevFuncUSBStatus);
    setControlText(IDC_CHECK_PARTITION_FORMAT, t.m_strDevFuncPartitionFormat);
    setControlText(IDC_CHECK_RELOAD_FW, t.m_strDevFuncReloadFW);
    setControlText(IDC_CHECK_WR_TEST, t.m_strDevFuncWRTest);
    setControlText(IDC_STATIC_FORMAT_TYPE, t.m_strDevFuncFormatType);
    setControlText(IDC_STATIC_DRIVE_LABEL, t.m_strDevFuncDriveLabel);
    setControlText(IDC_GROUP_U4_CONFIG, t.m_strU4Group);
    setControlText(IDC_GROUP_TBT3, t.m_strU4TBT3);
    // The lock button names what pressing it does.
    setControlText(IDC_BUTTON_UNLOCK_VIVADE, m_bChangeMode == 1 ? t.m_strBtnLock : t.m_strBtnUnlock);
    vSetLockButtonLook(m_bChangeMode == 1);

    // Combo items, in the order their settings index them.
    vSetComboItems(IDC_COMBO_SN_EDIT_TYPE, {&t.m_strSNEditUserDefine, &t.m_strSNEditIncreaseHex,
                                            &t.m_strSNEditIncreaseDec, &t.m_strSNEditFromBarcode,
                                            &t.m_strSNEditFromHDDSN});
    vSetComboItems(IDC_COMBO_U4_COMPONENT_ID_TYPE,
                   {&t.m_strSNEditUserDefine, &t.m_strSNEditIncreaseHex, &t.m_strSNEditIncreaseDec,
                    &t.m_strU4CompIDRandom, &t.m_strU4CompIDTime, &t.m_strU4CompIDMix});
    vSetComboItems(IDC_COMBO_U4_MODE, {&t.m_strU4ModePDPCIe, &t.m_strU4ModePDPCIeLegacy, &t.m_strU4ModePDU3Legacy,
                                       &t.m_strU4ModeAuto});
    vSetComboItems(IDC_COMBO_IDLE_TIMER,
                   {&t.m_strStandbyNever, &t.m_strStandby3Min, &t.m_strStandby5Min, &t.m_strStandby10Min,
                    &t.m_strStandby15Min, &t.m_strStandby20Min, &t.m_strStandby30Min, &t.m_strStandby1Hr,
                    &t.m_strStandby2Hr, &t.m_strStandby3Hr, &t.m_strStandby4Hr, &t.m_strStandby5Hr});
    vSetComboItems(IDC_COMBO_FORMAT_TYPE, {&t.m_strFsNTFS, &t.m_strFsFAT32, &t.m_strFsExFAT});
    vSetComboItems(IDC_COMBO_PARTITION_TYPE, {&t.m_strPartMBR, &t.m_strPartGPT});
    vSetComboItems(IDC_COMBO_USB_STATUS, {&t.m_strUSB20, &t.m_strUSB30, &t.m_strUSB31});
    vSetComboItems(IDC_COMBO_FORMAT, {&t.m_strSNModeUnChanged, &t.m_strType1});
    vSetComboItems(IDC_COMBO_SN_INCREASE, {&t.m_strSNModeDisable, &t.m_strSNModeIncrease});
    vOnGui([this] {
        if (auto* combo = control<QComboBox>(IDC_COMBO_AUTO_DEV_NUM)) {
            combo->clear();
            for (int n = 1; n <= MAX_DEV_SLOTS; ++n)
                combo->addItem(QString::number(n));
        }
    });

    // The results table's headings; the four last columns have none.
    const std::string* const kHeadings[] = {
        &t.m_strColPort,     &t.m_strColStatus,    &t.m_strColVID,    &t.m_strColPID,       &t.m_strColSerialNumber,
        &t.m_strColFWVersion, &t.m_strColCC,       &t.m_strColU4Mode, &t.m_strColCapacity,  &t.m_strColUpdate,
        &t.m_strColReLink,   &t.m_strColPartition, &t.m_strColRWTest, &t.m_strColPreload,   &t.m_strColPD,
    };
    const int nTitled = std::min<int>(m_pProfile->nTitledResultColumns, static_cast<int>(std::size(kHeadings)));
    for (int i = 0; i < MAIN_RESULT_COLUMN_COUNT; ++i)
        MainResultColumns[i].strTitle = i < nTitled ? *kHeadings[i] : std::string();
}

void CVIVadeDlg::vInitButtonStyles()
{
    vOnGui([this] {
        constexpr int kDarker = CButtonST::SecondIconDarker;
        vSetButtonLooks(*this,
                        {{IDOK, 182, 0, "Close"},
                         {IDC_BUTTON_MIN, 183, 0, "Min"},
                         {IDC_BUTTON_FW_BROWSE, 167, kDarker, "Browse FW"},
                         {IDC_BUTTON_PRELOAD_BROWSE, 167, kDarker, "Browse Preload File"},
                         {IDC_BUTTON_UNLOCK_VIVADE, 164, kDarker, "Unlock"},
                         {IDC_BUTTON_LOADINI, 162, kDarker, "Load INI"},
                         {IDC_BUTTON_SAVEINI, 163, kDarker, "Save INI"},
                         {IDC_BUTTON_DEBUG, 166, kDarker, "Check_Config"},
                         {IDC_BUTTON_SHA256, 196, kDarker, "Modify SHA256 initial Key"},
                         {IDC_BUTTON_PD, 204, kDarker, " Power Delivery Key"},
                         {IDC_BUTTON_MORE_CONFIG, 174, 0, "MoreConfig"},
                         {IDC_BUTTON_U4_MORE_CONFIG, 174, 0, "USB4 MoreConfig"},
                         {IDC_BUTTON_CLEARCOUNT, 171, 0, "Clear Count"}},
                        kLookTransparent);
        vSetButtonLooks(*this, {{IDC_BUTTON_START, 169, 0, "Start"}, {IDC_BUTTON_SAFELY_REMOVE, 173, 0, "Safely Remove"}},
                        kLookTransparent | kLookBalloon);
        for (int id : {IDC_BUTTON_START, IDC_BUTTON_SAFELY_REMOVE, IDC_BUTTON_CLEARCOUNT})
            if (auto* button = control<CButtonST>(id))
                button->OffsetColor(CButtonST::ButtonColorHoverBack, 30);
        // Every check box shows its state by its icon: 175 checked, 176 not.
        for (auto* box : findChildren<CButtonST*>())
            if (box->IsCheckBox())
                pSetButtonLook(box, {0, 175, 176, nullptr}, kLookTransparent);
    });
}

void CVIVadeDlg::vClearComboList()
{
    vOnGui([this] {
        if (auto* combo = control<QComboBox>(IDC_COMBO_FW_PATH)) {
            combo->clear();
            combo->setEditText(QString());
        }
    });
}
