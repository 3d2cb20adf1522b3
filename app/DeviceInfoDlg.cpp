#include "app/DeviceInfoDlg.h"

#include <cstdio>

#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "app/DeviceCodeText.h"
#include "app/ResultColumns.h"
#include "device/DebugLog.h"
#include "device/DevList.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

constexpr const char* kWho = "CDeviceInfoDlg";
constexpr int kOptionByte = 125;
constexpr int kStandbyByte = 122;
constexpr uint32_t REG_UASP_SUPPORT = 0xC890;
constexpr uint32_t REG_UASP_ENABLE = 0x9000;
constexpr uint32_t REG_CHIP_CODE = 0xC8FF;
constexpr uint8_t kInquiryLength = 38;

int nLastError() { return static_cast<int>(krv::lastError()); }

const char* const kColumnTitles[CONFIG_SETTING_COLUMN_COUNT] = {"Config", "CS", "EE", "TL", "HS",
                                                               "U1U2",   "LP", "2TB", "SE", "Idle Timer"};

}  // namespace

CDeviceInfoDlg::CDeviceInfoDlg(DevList& devList, QWidget* parent) : krv::ui::Dialog(parent), m_DevList(devList)
{
    setObjectName("CDeviceInfoDlg");
    setWindowTitle("Device Info");
    auto* config = new QGroupBox("Config Info", this);
    auto* list = new QTableWidget(0, CONFIG_SETTING_COLUMN_COUNT, config);
    list->verticalHeader()->hide();
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setGridStyle(Qt::SolidLine);
    (new QVBoxLayout(config))->addWidget(list);
    auto* uaspGroup = new QGroupBox("UASP", this);
    auto* uasp = new QLabel(uaspGroup);
    (new QVBoxLayout(uaspGroup))->addWidget(uasp);
    auto* usbMode = new QLabel("USB mode:", this);
    auto* ok = new QPushButton("OK", this);
    auto* cancel = new QPushButton("Cancel", this);
    ok->setDefault(true);
    addControl(IDC_DEVINFO_LIST, list);
    addControl(IDC_DEVINFO_UASP, uasp);
    addControl(IDC_DEVINFO_USB_MODE, usbMode);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* grid = new QGridLayout(this);
    grid->addWidget(config, 0, 0, 1, 3);
    grid->addWidget(uaspGroup, 1, 0, 1, 3);
    grid->addWidget(usbMode, 2, 0);
    grid->addWidget(ok, 2, 1);
    grid->addWidget(cancel, 2, 2);
    resize(560, 260);
}

bool CDeviceInfoDlg::OnInitDialog()
{
    vReadConfigTable();
    strGetStandbyTimerText();
    vSetConfigSettingHeader();
    auto* list = control<QTableWidget>(IDC_DEVINFO_LIST);
    list->setRowCount(0);
    list->setRowCount(1);
    auto cell = [&](int col, const std::string& text) {
        auto* item = new QTableWidgetItem(QString::fromStdString(text));
        item->setTextAlignment(Qt::AlignCenter);
        list->setItem(0, col, item);
    };
    cell(0, "Status");
    for (int k = 0; k < 8; ++k)
        cell(k + 1, m_strFlags[k]);
    cell(9, m_strStandby);
    SetDeviceConfigStatic();
    vSet857xUSBMode();
    return true;
}

void CDeviceInfoDlg::vReadConfigTable()
{
    try {
        uint8_t ucImage[DEV_CONFIG_SIZE];
        std::fill(std::begin(ucImage), std::end(ucImage), 0xFF);
        CDriveHandle hDev = g_UsbDev.hOpenTarget(static_cast<uint8_t>(m_iSelectedPort), true);
        if (!hDev.bIsValid()) {
            vDEBUG_MSG_printf("%s:%d: vReadConfigTable: Create Handle Fail , dwErrorCode %d", kWho, __LINE__,
                              nLastError());
            return;
        }
        const int iResult = CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(hDev.get(), ACCESS_READ, ucImage, DEV_CONFIG_SIZE,
                                                                    static_cast<uint8_t>(m_iSelectedImage), 0);
        if (iResult != 0) {
            vDEBUG_MSG_printf("%s:%d: bWrRdConfiguration: SCSI8574_AccessConfigEEPROM Fail , iResult %d dwErrorCode %d",
                              kWho, __LINE__, iResult, nLastError());
            return;
        }
        m_ucOption = ucImage[kOptionByte];
        m_ucStandby = ucImage[kStandbyByte];
    } catch (...) {
        vDEBUG_MSG_printf("%s:%d: vReadConfigTable: dwErrorCode %d", kWho, __LINE__, nLastError());
    }
}

std::string CDeviceInfoDlg::strFlagText(uint8_t ucOption, int nBit) { return (ucOption >> nBit) & 1 ? "X" : "O"; }

std::string CDeviceInfoDlg::strStandbyText(uint8_t ucStandby)
{
    static const char* const kTexts[] = {"3 min", "5 min", "10 min", "15 min", "20 min", "30 min",
                                         "1 hr",  "2 hr",  "3 hr",   "4 hr",   "5 hr"};
    if (ucStandby == 0xFF)
        return "Never";
    if (ucStandby >= 0xF1 && ucStandby <= 0xFB)
        return kTexts[ucStandby - 0xF1];
    return "NULL";
}

void CDeviceInfoDlg::strGetStandbyTimerText()
{
    for (int k = 0; k < 8; ++k)
        m_strFlags[k] = strFlagText(m_ucOption, k);
    m_strStandby = strStandbyText(m_ucStandby);
}

void CDeviceInfoDlg::vSetConfigSettingHeader()
{
    try {
        auto* list = control<QTableWidget>(IDC_DEVINFO_LIST);
        for (int i = 0; i < CONFIG_SETTING_COLUMN_COUNT; ++i) {
            ConfigSettingColumns[i].strTitle = kColumnTitles[i];
            list->setHorizontalHeaderItem(i, new QTableWidgetItem(kColumnTitles[i]));
            list->setColumnWidth(i, ConfigSettingColumns[i].ucWidth);
        }
    } catch (...) {
        vDEBUG_MSG_printf("%s:%d: vSetConfigSettingHeader: ucConfigSettingColumnCount : %d , dwErrorCode %d", kWho,
                          __LINE__, CONFIG_SETTING_COLUMN_COUNT, nLastError());
    }
}

void CDeviceInfoDlg::vShowError(const std::string& strText) { pUtility.nShowMessage(strText, 0, MSG_TYPE_ERROR); }

void CDeviceInfoDlg::SetDeviceConfigStatic()
{
    std::string strText;
    try {
        CDriveHandle hDev = g_UsbDev.hOpenTarget(static_cast<uint8_t>(m_iSelectedPort), true);
        if (!hDev.bIsValid()) {
            vShowError("OpenDev Fail");
            setControlText(IDC_DEVINFO_UASP, strText);
            return;
        }
        auto read = [&](uint32_t dwAddress, uint8_t& ucValue) {
            return CKrvnUSBDev::SCSI8574_AccessRegister(hDev.get(), ACCESS_READ, dwAddress, &ucValue, 1);
        };
        // A register that was not read counts as 0.
        uint8_t ucSupport = 0, ucChip = 0, ucEnable = 0;
        int iResult = read(REG_UASP_SUPPORT, ucSupport);
        if (iResult != 0) {
            vShowError("Access Device is Failed ! (" + std::to_string(iResult) + ")");
        } else if (m_Profile.bDeviceCodeText) {
            iResult = read(REG_CHIP_CODE, ucChip);
            if (iResult != 0)
                vShowError("Access Register Failed ! (" + std::to_string(iResult) + ")");
            else
                strText += strDeviceCodeText(ucChip, dwSecondsSeed(krv::Platform::current().clock()));
        }
        // The device code's variant reads the support register again even
        // after a failed first read.
        if ((iResult == 0 || m_Profile.bDeviceCodeText) && read(REG_UASP_SUPPORT, ucSupport) == 0) {
            bool bNoUASP = (ucSupport & 0x04) != 0;
            if (m_Profile.bDeviceCodeText)
                bNoUASP = bNoUASP || ((ucChip & 0x30) == 0 && (ucChip & 0x02) && (ucSupport & 0x02));
            strText += "\n\nSupport UASP : ";
            strText += bNoUASP ? "No \n" : "Yes \n";
            iResult = read(REG_UASP_ENABLE, ucEnable);
            if (iResult != 0) {
                vShowError("Access Register Failed ! (" + std::to_string(iResult) + ")");
            } else {
                strText += "\nEnable UASP : ";
                strText += (ucEnable & 0x80) ? "Yes \n" : "No \n";
            }
        }
        setControlText(IDC_DEVINFO_UASP, strText);
    } catch (...) {
        vDEBUG_MSG_printf("%s:%d: SetDeviceConfigStatic: dwErrorCode %d", kWho, __LINE__, nLastError());
    }
}

void CDeviceInfoDlg::vSet857xUSBMode()
{
    try {
        CDriveHandle hDev = g_UsbDev.hOpenTarget(static_cast<uint8_t>(m_iSelectedPort), true);
        if (!hDev.bIsValid()) {
            vDEBUG_MSG_printf("%s:%d: iGet857xUSBMode: Create Handle Fail , dwErrorCode %d", kWho, __LINE__,
                              nLastError());
            return;
        }
        uint8_t ucData[kInquiryLength] = {};
        const int iResult = CKrvnUSBDev::SCSI6390_Inquiry(hDev.get(), ucData, kInquiryLength);
        if (iResult != 0) {
            vDEBUG_MSG_printf("%s:%d: iGet857xUSBMode: Inquiry Fail , iResult %d dwErrorCode %d", kWho, __LINE__,
                              iResult, nLastError());
            return;
        }
        char szChip[8];
        std::snprintf(szChip, sizeof szChip, "%02X%02X", ucData[37], ucData[36]);
        const std::string strChip = szChip;
        if (strChip == "8574")
            setControlText(IDC_DEVINFO_USB_MODE, "USB Mode: Legacy");
        else if (strChip == "8576")
            setControlText(IDC_DEVINFO_USB_MODE, "USB Mode: Tunnel");
    } catch (...) {
        vDEBUG_MSG_printf("%s:%d: iGet857xUSBMode: dwErrorCode %d", kWho, __LINE__, nLastError());
    }
}
