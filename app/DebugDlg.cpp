#include "app/DebugDlg.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "controls/ButtonST.h"
#include "controls/ButtonSTLooks.h"
#include "device/DebugLog.h"
#include "device/DevList.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/TextUtil.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"

namespace {

constexpr const char* kWho = "CDebugDlg";
constexpr uint8_t CONFIG_TABLE_USB3 = 0;
constexpr uint8_t CONFIG_TABLE_USB4 = 1;
constexpr int kDumpColumns = 16;
constexpr int kDumpLines = 16;
constexpr uint32_t kMaxRegisterLength = 65535;

int nLastError() { return static_cast<int>(krv::lastError()); }

QString qs(const std::string& text) { return QString::fromStdString(text); }

bool bParseHex(const std::string& strText, uint32_t& dwValue)
{
    if (strText.empty())
        return false;
    dwValue = static_cast<uint32_t>(std::strtoul(strText.c_str(), nullptr, 16));
    return true;
}

}  // namespace

CDebugDlg::CDebugDlg(DevList& devList, QWidget* parent)
    : krv::ui::Dialog(parent), m_DeviceInfoDlg(devList, this), m_DevList(devList)
{
    setObjectName("CDebugDlg");
    setWindowTitle("Internal Register R/W Dialog");
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    auto* grid = new QGridLayout(this);
    auto* port = new QComboBox(this);
    auto* image = new QComboBox(this);
    addControl(IDC_DEBUG_PORT, port);
    addControl(IDC_DEBUG_IMAGE, image);
    grid->addWidget(new QLabel("Select Port", this), 0, 0);
    grid->addWidget(port, 0, 1);
    grid->addWidget(new QLabel("Image", this), 0, 2);
    grid->addWidget(image, 0, 3);

    auto* header = new QLabel("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", this);
    header->setFont(fixed);
    auto* rows = new QLabel("00\n10\n20\n30\n40\n50\n60\n70\n80\n90\nA0\nB0\nC0\nD0\nE0\nF0", this);
    rows->setFont(fixed);
    rows->setAlignment(Qt::AlignTop);
    auto* dump = new QLabel(this);
    dump->setFont(fixed);
    dump->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    dump->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    dump->setMinimumSize(QFontMetrics(fixed).horizontalAdvance(QString(48, 'X')) + 8,
                         QFontMetrics(fixed).lineSpacing() * 16 + 8);
    addControl(IDC_DEBUG_DUMP, dump);
    grid->addWidget(header, 1, 1, 1, 4);
    grid->addWidget(rows, 2, 0);
    grid->addWidget(dump, 2, 1, 1, 4);

    auto* config = new QGroupBox("Config table setting", this);
    auto* configRow = new QHBoxLayout(config);
    const std::pair<int, const char*> kButtons[] = {
        {IDC_DEBUG_READ_CONFIG, "Read Config"}, {IDC_DEBUG_READ_U4_CONFIG, "Read U4 Config"},
        {IDC_DEBUG_DEVICE_INFO, "Device Info"}, {IDC_DEBUG_U4_INFO, "U4 Info"}};
    const char* const kTips[] = {"Read Config Table", "Read U4 Config Table", "Device Info", "U4 Info"};
    int nTip = 0;
    for (auto [id, caption] : kButtons) {
        auto* button = new CButtonST(caption, config);
        button->setToolTip(kTips[nTip++]);
        button->setAutoDefault(false);
        addControl(id, button);
        configRow->addWidget(button);
    }
    grid->addWidget(config, 3, 0, 1, 5);

    // The register panels: built, hidden at every open.
    auto* readGroup = new QGroupBox("Read Register", this);
    auto* readGrid = new QGridLayout(readGroup);
    auto* writeGroup = new QGroupBox("Write Register", this);
    auto* writeGrid = new QGridLayout(writeGroup);
    addControl(IDC_DEBUG_READ_GROUP, readGroup);
    addControl(IDC_DEBUG_WRITE_GROUP, writeGroup);
    const struct {
        int id;
        QGridLayout* panel;
        const char* label;
        const char* hint;
    } kEdits[] = {{IDC_DEBUG_REG_ADDR, readGrid, "Reg Addr :", "[ 2~5 hex ]"},
                  {IDC_DEBUG_REG_LEN, readGrid, "Reg Len :", "[ 2 hex ]"},
                  {IDC_DEBUG_WRITE_ADDR, writeGrid, "Reg Addr :", ""},
                  {IDC_DEBUG_WRITE_VALUE, writeGrid, "Reg Val :", "[ 2 hex ]"}};
    for (const auto& e : kEdits) {
        auto* edit = new QLineEdit(this);
        addControl(e.id, edit);
        const int r = e.panel->rowCount();
        e.panel->addWidget(new QLabel(e.label), r, 0);
        e.panel->addWidget(edit, r, 1);
        e.panel->addWidget(new QLabel(e.hint), r, 2);
        const int nMax = (e.id == IDC_DEBUG_REG_ADDR || e.id == IDC_DEBUG_WRITE_ADDR) ? 5 : 2;
        const int id = e.id;
        connect(edit, &QLineEdit::textChanged, this, [this, id, nMax] { vFilterHexEdit(id, nMax); });
    }
    auto* readButton = new CButtonST("Read Register", readGroup);
    auto* writeButton = new CButtonST("Write Register", writeGroup);
    readButton->setToolTip("Read Register");
    writeButton->setToolTip("Write Register");
    addControl(IDC_DEBUG_READ_REGISTER, readButton);
    addControl(IDC_DEBUG_WRITE_REGISTER, writeButton);
    readGrid->addWidget(readButton, readGrid->rowCount(), 1);
    writeGrid->addWidget(writeButton, writeGrid->rowCount(), 1);
    grid->addWidget(readGroup, 4, 0, 1, 2);
    grid->addWidget(writeGroup, 4, 2, 1, 3);

    auto* ok = new QPushButton("OK", this);
    auto* cancel = new QPushButton("Cancel", this);
    connect(ok, &QPushButton::clicked, this, &QDialog::reject);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    grid->addWidget(ok, 5, 3);
    grid->addWidget(cancel, 5, 4);

    connect(port, &QComboBox::activated, this, [this](int n) { m_iSelectedPort = n; });
    connect(image, &QComboBox::activated, this, [this](int n) { m_iSelectedImage = n; });
}

bool CDebugDlg::OnInitDialog()
{
    vSetButtonLooks(*this,
                    {{IDC_DEBUG_READ_REGISTER, 187, 0, "Read Register"},
                     {IDC_DEBUG_WRITE_REGISTER, 188, 0, "Write Register"},
                     {IDC_DEBUG_READ_CONFIG, 189, 0, "Read Config Table"},
                     {IDC_DEBUG_READ_U4_CONFIG, 189, 0, "Read U4 Config Table"},
                     {IDC_DEBUG_DEVICE_INFO, 190, 0, "Device Info"},
                     {IDC_DEBUG_U4_INFO, 190, 0, "U4 Info"}},
                    kLook3D);
    auto* port = control<QComboBox>(IDC_DEBUG_PORT);
    auto* image = control<QComboBox>(IDC_DEBUG_IMAGE);
    port->clear();
    for (int i = 0; i < MAX_DEV_SLOTS; ++i)
        if (m_DevList.Devs[i].m_ucPortIndex < 17)
            port->addItem(QString::number(m_DevList.Devs[i].m_ucPortIndex));
    image->clear();
    image->addItems({"0", "1"});
    const bool bAny = port->count() > 0;
    if (bAny) {
        port->setCurrentIndex(0);
        image->setCurrentIndex(0);
        m_iSelectedPort = 0;
        m_iSelectedImage = 0;
    }
    for (int id : {IDC_DEBUG_READ_REGISTER, IDC_DEBUG_WRITE_REGISTER, IDC_DEBUG_READ_CONFIG, IDC_DEBUG_READ_U4_CONFIG,
                   IDC_DEBUG_DEVICE_INFO, IDC_DEBUG_U4_INFO})
        enableControl(id, bAny);
    setWindowTitle("Check Configuration Dialog");
    vHideRegisterControls();
    return true;
}

void CDebugDlg::vHideRegisterControls()
{
    for (int id : {IDC_DEBUG_READ_REGISTER, IDC_DEBUG_WRITE_REGISTER, IDC_DEBUG_REG_ADDR, IDC_DEBUG_REG_LEN,
                   IDC_DEBUG_WRITE_ADDR, IDC_DEBUG_WRITE_VALUE, IDC_DEBUG_U4_INFO, IDC_DEBUG_WRITE_GROUP})
        showControl(id, false);
    showControl(IDC_DEBUG_READ_GROUP, m_Profile.bReadRegisterFrameShown);
}

void CDebugDlg::vSetProfile(const ToolDlgProfile& profile)
{
    m_Profile = profile;
    m_DeviceInfoDlg.m_Profile = profile;
}

void CDebugDlg::onCommand(int id)
{
    switch (id) {
    case IDC_DEBUG_READ_CONFIG: OnBnClickedReadConfigBtn(); return;
    case IDC_DEBUG_READ_U4_CONFIG: OnBnClickedButtonReadU4Config(); return;
    case IDC_DEBUG_DEVICE_INFO: OnBnClickedDeviceInfo(); return;
    case IDC_DEBUG_READ_REGISTER: OnBnClickedReadRegister(); return;
    case IDC_DEBUG_WRITE_REGISTER: OnBnClickedWriteRegister(); return;
    case IDC_DEBUG_U4_INFO: OnBnClickedButtonU4Info(); return;
    default: krv::ui::Dialog::onCommand(id); return;
    }
}

std::string CDebugDlg::strConfigDump(const uint8_t* pImage)
{
    // Sixteen lines under the row header 00..F0; the image fills the first
    // eight, the rest stay blank.
    std::string strDump;
    for (int nLine = 0; nLine < kDumpLines; ++nLine) {
        std::string strLine(47, ' ');
        for (int nCol = 0; nCol < kDumpColumns && nLine * kDumpColumns + nCol < DEV_CONFIG_SIZE; ++nCol) {
            char szByte[3];
            std::snprintf(szByte, sizeof szByte, "%02X", pImage[nLine * kDumpColumns + nCol]);
            strLine[3 * nCol] = szByte[0];
            strLine[3 * nCol + 1] = szByte[1];
        }
        strDump += strLine + "\n";
    }
    return strDump;
}

std::string CDebugDlg::strRegisterDump(const uint8_t* pData, size_t nLen)
{
    std::string strDump;
    for (size_t i = 0; i < nLen; ++i) {
        char szByte[4];
        std::snprintf(szByte, sizeof szByte, "%02X", pData[i]);
        strDump += szByte;
        strDump += (i > 0 && i % kDumpColumns == 15) ? "\n" : " ";
    }
    return strDump;
}

void CDebugDlg::vReadConfig(uint8_t ucTableSelector)
{
    if (m_iSelectedPort < 0 || m_iSelectedPort >= MAX_DEV_SLOTS)
        return;
    uint8_t ucImage[DEV_CONFIG_SIZE];
    std::fill(std::begin(ucImage), std::end(ucImage), 0xFF);
    if (m_DevList.Devs[m_iSelectedPort].m_bPCIE) {
        const int nTarget = nPcieTarget();
        const int iResult = nTarget >= 0 ? g_PcieCtrl.pcie_AccessConfigEEPROM2(
                                               static_cast<uint8_t>(nTarget), ACCESS_READ, ucImage, DEV_CONFIG_SIZE,
                                               static_cast<uint8_t>(m_iSelectedImage), ucTableSelector)
                                         : krv::pcie::kBadTarget;
        if (iResult != 0) {
            vDEBUG_MSG_printf("%s:%d: bWrRdConfiguration: pcie_AccessConfigEEPROM2 Fail , iResult %d dwErrorCode %d",
                              kWho, __LINE__, iResult, nLastError());
            return;
        }
    } else {
        CDriveHandle hDev = g_UsbDev.hOpenTarget(static_cast<uint8_t>(m_iSelectedPort), true);
        if (!hDev.bIsValid()) {
            vDEBUG_MSG_printf("%s:%d: create handle fail, err:%x", kWho, __LINE__, nLastError());
            return;
        }
        const int iResult = CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(
            hDev.get(), ACCESS_READ, ucImage, DEV_CONFIG_SIZE, static_cast<uint8_t>(m_iSelectedImage), ucTableSelector);
        if (iResult != 0) {
            if (ucTableSelector == CONFIG_TABLE_USB3)
                vDEBUG_MSG_printf(
                    "%s:%d: bWrRdConfiguration: SCSI8574_AccessConfigEEPROM Fail , iResult %d dwErrorCode %d", kWho,
                    __LINE__, iResult, nLastError());
            else
                vDEBUG_MSG_printf(
                    "%s:%d: bWrRdConfiguration: SCSI6390_AccessConfigEEPROM Fail , iResult %d dwErrorCode %d", kWho,
                    __LINE__, iResult, nLastError());
            return;
        }
    }
    m_strDump = strConfigDump(ucImage);
    setControlText(IDC_DEBUG_DUMP, m_strDump);
}

void CDebugDlg::OnBnClickedReadConfigBtn() { vReadConfig(CONFIG_TABLE_USB3); }

void CDebugDlg::OnBnClickedButtonReadU4Config() { vReadConfig(CONFIG_TABLE_USB4); }

void CDebugDlg::OnBnClickedDeviceInfo()
{
    try {
        m_DeviceInfoDlg.m_iSelectedPort = m_iSelectedPort;
        m_DeviceInfoDlg.m_iSelectedImage = m_iSelectedImage;
        m_DeviceInfoDlg.OnInitDialog();
        guiCalls().execModal(m_DeviceInfoDlg);
    } catch (...) {
        vDEBUG_MSG_printf("%s:%d: OnBnClickedDeviceInfo:  dwErrorCode %d", kWho, __LINE__, nLastError());
    }
}

void CDebugDlg::vShowError(const std::string& strText) { pUtility.nShowMessage(strText, 0, MSG_TYPE_ERROR); }

void CDebugDlg::vFilterHexEdit(int id, int nMax)
{
    auto* edit = control<QLineEdit>(id);
    if (!edit)
        return;
    const std::string strText = strHexDigitsOnly(edit->text().toStdString(), static_cast<size_t>(std::max(nMax, 0)));
    // Setting the same text again would notify once more; only a change is
    // put back, so the filter ends after one pass.
    if (edit->text().toStdString() != strText)
        edit->setText(qs(strText));
    edit->setCursorPosition(static_cast<int>(strText.size()));
}

void CDebugDlg::OnBnClickedReadRegister()
{
    uint32_t dwAddress = 0;
    uint32_t dwLength = 0;
    const std::string strLength = controlText(IDC_DEBUG_REG_LEN);
    if (!bParseHex(controlText(IDC_DEBUG_REG_ADDR), dwAddress)) {
        vShowError("Invalid value for register address");
        return;
    }
    if (!bParseHex(strLength, dwLength) || (dwLength == 0 && strLength != "0") || dwLength > kMaxRegisterLength) {
        vShowError("Invalid value for register length");
        return;
    }
    if (m_iSelectedPort < 0 || m_iSelectedPort >= MAX_DEV_SLOTS)
        return;
    std::vector<uint8_t> data(dwLength, 0);
    int iResult = 0;
    if (m_DevList.Devs[m_iSelectedPort].m_bPCIE) {
        iResult = nPcieRegister(ACCESS_READ, dwAddress, data.data(), dwLength);
    } else {
        CDriveHandle hDev = g_UsbDev.hOpenTarget(static_cast<uint8_t>(m_iSelectedPort), true);
        if (!hDev.bIsValid()) {
            vShowError("OpenDev Fail");
            return;
        }
        iResult = CKrvnUSBDev::SCSI8574_AccessRegister(hDev.get(), ACCESS_READ, dwAddress, data.data(), dwLength);
    }
    if (iResult != 0) {
        vShowError("Access Device is Failed ! (" + std::to_string(iResult) + ")");
        return;
    }
    m_strDump = strRegisterDump(data.data(), data.size());
    setControlText(IDC_DEBUG_DUMP, m_strDump);
}

void CDebugDlg::OnBnClickedWriteRegister()
{
    uint32_t dwAddress = 0;
    uint32_t dwValue = 0;
    if (!bParseHex(controlText(IDC_DEBUG_WRITE_ADDR), dwAddress)) {
        vShowError("Invalid value for register address");
        return;
    }
    if (!bParseHex(controlText(IDC_DEBUG_WRITE_VALUE), dwValue)) {
        vShowError("Invalid value for register value");
        return;
    }
    if (m_iSelectedPort < 0 || m_iSelectedPort >= MAX_DEV_SLOTS)
        return;
    uint8_t ucValue = static_cast<uint8_t>(dwValue);
    if (m_DevList.Devs[m_iSelectedPort].m_bPCIE) {
        const int iResult = nPcieRegister(ACCESS_WRITE, dwAddress, &ucValue, 1);
        if (iResult != 0)
            vShowError("Access Device is Failed ! (" + std::to_string(iResult) + ")");
        return;
    }
    CDriveHandle hDev = g_UsbDev.hOpenTarget(static_cast<uint8_t>(m_iSelectedPort), true);
    if (!hDev.bIsValid()) {
        vShowError("OpenDev Fail");
        return;
    }
    const int iResult = CKrvnUSBDev::SCSI8574_AccessRegister(hDev.get(), ACCESS_WRITE, dwAddress, &ucValue, 1);
    if (iResult != 0)
        vShowError("Access Device is Failed ! (" + std::to_string(iResult) + ")");
}

int CDebugDlg::nPcieTarget() const
{
    // A PCIe target's slot follows the USB devices'.
    const int nTarget = m_iSelectedPort - m_DevList.DevNums.load();
    return nTarget >= 0 ? nTarget : -1;
}

int CDebugDlg::nPcieRegister(uint8_t bWrite, uint32_t dwAddress, uint8_t* pucData, uint32_t dwLength)
{
    const int nTarget = nPcieTarget();
    return nTarget >= 0
               ? g_PcieCtrl.pcie_AccessRegister(static_cast<uint8_t>(nTarget), bWrite, dwAddress, pucData, dwLength)
               : krv::pcie::kBadTarget;
}

int CDebugDlg::nReadErrorRecoveryCount(const DevInfo& dev)
{
    uint32_t dwCount = 0;
    if (dev.m_bPCIE) {
        const int nTarget = nPcieTarget();
        const int iResult = nTarget >= 0 ? g_PcieCtrl.nGet8574PCIeErrorRecoveryCount(static_cast<uint8_t>(nTarget),
                                                                                     &dwCount)
                                         : -1;
        if (iResult != 0)
            vDEBUG_MSG_printf("%s:%d: pcie nGet8574PCIeErrorRecoveryCount Fail , iResult %d dwErrorCode %d", kWho,
                              __LINE__, iResult, nLastError());
        return static_cast<int>(dwCount);
    }
    int nCount = 0;
    CDriveHandle hDev = g_UsbDev.hOpenTarget(static_cast<uint8_t>(m_iSelectedPort), true);
    const int iResult = hDev.bIsValid() ? g_UsbDev.nGet8574U4InfoByte(hDev.get(), &nCount) : -1;
    if (iResult != 0)
        vDEBUG_MSG_printf("%s:%d: nGet8574PCIeErrorRecoveryCount Fail , iResult %d dwErrorCode %d", kWho, __LINE__,
                          iResult, nLastError());
    return nCount;
}

void CDebugDlg::OnBnClickedButtonU4Info()
{
    if (m_iSelectedPort < 0 || m_iSelectedPort >= MAX_DEV_SLOTS)
        return;
    const DevInfo& dev = m_DevList.Devs[m_iSelectedPort];
    char szText[256];
    if (m_Profile.bU4InfoCountOnly) {
        std::snprintf(szText, sizeof szText, "U4 info\r\n ErrRecovCnt: %d", nReadErrorRecoveryCount(dev));
        pUtility.nShowMessage(szText, 0, 0);
        return;
    }
    std::string strComponent;
    for (int i : {89, 88, 87, 86, 85, 84}) {
        char szByte[3];
        std::snprintf(szByte, sizeof szByte, "%02X", dev.m_ucU4Config[i]);
        strComponent += szByte;
    }
    const std::string strUUID = "3E9A-" + strComponent.substr(1) + "-0";
    const int nCount = nReadErrorRecoveryCount(dev);
    const char* pszLegacy = (dev.m_ucU4Config[90] & 0x08) ? "Enable" : "Disable";
    std::snprintf(szText, sizeof szText, "U4 info\r\n UUID: %s\r\n ErrRecovCnt: %d\r\nFallback Legacy:%s",
                  strUUID.c_str(), nCount, pszLegacy);
    pUtility.nShowMessage(szText, 0, 0);
}
