#include "app/PDUpdateDlg.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/VIVadeDlgThreads.h"
#include "controls/ButtonST.h"
#include "controls/ButtonSTLooks.h"
#include "controls/ColorStaticST.h"
#include "controls/TextProgressCtrl.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/Platform.h"
#include "ui/FilePickers.h"
#include "ui/RecentPaths.h"

namespace {

using krv::ui::ColorRef;
using krv::ui::rgb;

constexpr int kRowBitmaps[PD_DIALOG_ROWS] = {1124, 1129, 1130, 1131};
constexpr int kRowVersions[PD_DIALOG_ROWS] = {1122, 1132, 1133, 1134};
constexpr int kRowBars[PD_DIALOG_ROWS] = {1123, 1135, 1136, 1137};
constexpr int kRowStatuses[PD_DIALOG_ROWS] = {1126, 1138, 1139, 1140};
constexpr int kRowDrives[PD_DIALOG_ROWS] = {1142, 1143, 1144, 1145};
constexpr ColorRef kBarGreen = rgb(20, 232, 20);
constexpr ColorRef kBarRed = rgb(232, 20, 20);
// The PD picker offers ".cyacd" twice, as the tool always has; a Richtek
// ".bin" is chosen under "All Files".
constexpr const char* PD_FILE_FILTER = "PD Files (*.cyacd)|*.cyacd| PD Files (*.cyacd)|*.cyacd| All Files (*.*)|*.*||";

struct StatusLook {
    const char* text;
    ColorRef color;
};

StatusLook lookOf(int nCode)
{
    switch (nCode) {
    case PD_STATUS_FAIL: return {"FAIL", rgb(255, 0, 0)};
    case PD_STATUS_PASS: return {"PASS", rgb(0, 255, 0)};
    case PD_STATUS_TIME_OUT: return {"Time Out", rgb(255, 0, 0)};
    case PD_STATUS_MISMATCH: return {"Mis-Match", rgb(255, 165, 0)};
    case PD_STATUS_READY: return {"Ready", rgb(20, 250, 20)};
    case PD_STATUS_UPDATING: return {"Updating", rgb(0, 0, 225)};
    case PD_STATUS_READING: return {"Reading", rgb(20, 20, 255)};
    case PD_STATUS_COMPARING: return {"Comparing", rgb(20, 20, 255)};
    default: return {"", rgb(255, 255, 255)};
    }
}

// The row bitmaps: a drive with a PD controller found, and one without.
QPixmap rowBitmap(bool bFound)
{
    QPixmap pixmap(21, 10);
    pixmap.fill(bFound ? QColor(20, 160, 20) : QColor(160, 160, 160));
    return pixmap;
}

// Which drive a row is, for the operator who is asked to power-cycle
// "device [n]": the row's number, where its bridge sits and its serial.
std::string strRowDriveText(int nRow, const DevInfo& dev)
{
    return "[" + std::to_string(nRow) + "] Port " + std::to_string(dev.m_iPortLocation) + "  SN " +
           (dev.m_strSerialNumber.empty() ? std::string("-") : dev.m_strSerialNumber);
}

}  // namespace

// One row as its worker sees it: every change is posted to the GUI thread.
class CPDUpdateDlg::CRowView : public IPDUpdateView {
public:
    CRowView(CPDUpdateDlg& dlg, int nRow) : m_dlg(dlg), m_nRow(nRow) {}
    // The row's place is set before its worker starts and kept while it runs.
    void vShowStatus(int nCode) override
    {
        // The posts outlive this view: they carry the dialog and the row.
        m_dlg.postToGui([dlg = &m_dlg, row = m_nRow, nCode] { dlg->Show_Message(row, nCode); });
    }
    void vSetProgress(int nPercent) override
    {
        m_dlg.postToGui([dlg = &m_dlg, row = m_nRow, nPercent] { dlg->m_pProgress[row]->SetPos(nPercent); });
    }
    void vShowMessage(const std::string& strText, uint8_t ucType) override
    {
        pUtility.nShowMessage(strText, 0, ucType);
    }
    int nCurrentDrive() override { return m_dlg.nDriveOfRow(m_nRow); }
    void vShowVersion(const std::string& strVersion) override
    {
        m_dlg.postToGui([dlg = &m_dlg, row = m_nRow, strVersion] {
            dlg->m_pVersion[row]->setText(QString::fromStdString(strVersion));
        });
    }
    void vKeepFacts(const PDDeviceFacts& facts) override
    {
        m_dlg.postToGui([dlg = &m_dlg, row = m_nRow, facts] { dlg->m_facts[row] = facts; });
    }

private:
    CPDUpdateDlg& m_dlg;
    int m_nRow;
};

CPDUpdateDlg::CPDUpdateDlg(DevList& devList, krv::ui::FilePickers* pPickers, QWidget* parent, CThreadSet* pThreads)
    : krv::ui::Dialog(parent), m_DevList(devList), m_pPickers(pPickers),
      m_pOwnThreads(pThreads ? nullptr : std::make_unique<CThreadSet>()),
      m_pThreads(pThreads ? pThreads : m_pOwnThreads.get())
{
    setWindowTitle("Dialog");
    vBuildLayout();
}

CPDUpdateDlg::~CPDUpdateDlg()
{
    static const char* const kWho = "CPDUpdateDlg::~CPDUpdateDlg";
    // The workers use the rows and post to this dialog: all are asked to
    // stop at once, then joined.
    for (const auto& worker : m_workers)
        worker->vRequestStop();
    for (const auto& worker : m_workers)
        if (!worker->bJoin(THREAD_STOP_JOIN_MS))
            vDEBUG_ERR_printf("%s:%d: [%s] did not stop", kWho, __LINE__, worker->strName().c_str());
    m_workers.clear();
    // Only where the row's drive still is: a number from before a power
    // cycle may belong to another drive by now.
    CPDDeviceOps ops(m_pd, nullptr);
    for (int i = 0; i < m_nRows; ++i)
        if (const int nDrive = nDriveOfRow(i); nDrive >= 0 && ops.nClosePDI2CBus(nDrive) != 0)
            vDEBUG_ERR_printf("%s:%d: PD[%d] Close I2C Bus Failed", kWho, __LINE__, i);
}

int CPDUpdateDlg::nDriveOfRow(int nRow) const
{
    if (m_strHubName[nRow].empty())
        return -1;
    return CKrvnUSBDev::nDriveOnHubPort(m_strHubName[nRow], m_ulHubPort[nRow], krv::DriveKind::PhysicalDrive);
}

void CPDUpdateDlg::vBuildLayout()
{
    auto* layout = new QVBoxLayout(this);
    auto group = [&](const char* title, int checkId, int browseId, int comboId, QComboBox*& combo) {
        auto* box = new QGroupBox(title, this);
        auto* grid = new QGridLayout(box);
        auto* check = new QCheckBox("Enable", box);
        auto* browse = new CButtonST("...", box);
        combo = new QComboBox(box);
        combo->setEditable(true);
        combo->setMinimumWidth(360);
        grid->addWidget(check, 0, 0);
        grid->addWidget(combo, 0, 1);
        grid->addWidget(browse, 0, 2);
        addControl(checkId, check);
        addControl(browseId, browse);
        addControl(comboId, combo);
        connect(check, &QCheckBox::clicked, this, [this, checkId] { onCommand(checkId); });
        layout->addWidget(box);
        return grid;
    };
    group("MCU FW Update", IDC_CHECK_MCU_FWUPG_ENABLE, IDC_BUTTON_MCU_FIRMWARE_FWBROWSE, IDC_COMBO_MCU_FILE,
          m_pMCUCombo);
    QGridLayout* pd = group("PD FW Update", IDC_CHECK_PD_FWUPG_ENABLE, IDC_BUTTON_FIRMWARE_FWBROWSE,
                            IDC_COMBO_PD_FILE, m_pPDCombo);
    auto* fileVersion = new QLabel("FFFF", this);
    pd->addWidget(fileVersion, 1, 1);
    addControl(IDC_STATIC_PD_FILE_VERSION, fileVersion);

    auto* status = new QGroupBox("PD Status", this);
    auto* grid = new QGridLayout(status);
    QFont font("Arial");
    font.setPixelSize(20);
    font.setBold(true);
    for (int i = 0; i < PD_DIALOG_ROWS; ++i) {
        m_pBitmap[i] = new QLabel(status);
        m_pDrive[i] = new QLabel(status);
        m_pVersion[i] = new QLabel("FFFF", status);
        m_pProgress[i] = new CTextProgressCtrl(status);
        m_pProgress[i]->setMinimumWidth(220);
        m_pStatus[i] = new CColorStaticST(status);
        m_pStatus[i]->setFont(font);
        m_pStatus[i]->setMinimumWidth(130);
        m_pStatus[i]->setAlignment(Qt::AlignCenter);
        grid->addWidget(m_pBitmap[i], i, 0);
        grid->addWidget(m_pDrive[i], i, 1);
        grid->addWidget(m_pVersion[i], i, 2);
        grid->addWidget(m_pProgress[i], i, 3);
        grid->addWidget(m_pStatus[i], i, 4);
        addControl(kRowBitmaps[i], m_pBitmap[i]);
        addControl(kRowDrives[i], m_pDrive[i]);
        addControl(kRowVersions[i], m_pVersion[i]);
        addControl(kRowBars[i], m_pProgress[i]);
        addControl(kRowStatuses[i], m_pStatus[i]);
    }
    layout->addWidget(status);
    auto* buttons = new QHBoxLayout();
    auto* start = new CButtonST("PD FW Update", this);
    auto* verify = new QPushButton("PD FW Verify", this);
    auto* close = new QPushButton("Close", this);
    // The template gives Start no visible style: only its enabled state counts.
    start->hide();
    buttons->addStretch();
    buttons->addWidget(start);
    buttons->addWidget(verify);
    buttons->addWidget(close);
    addControl(IDC_BUTTON_PD_START, start);
    addControl(IDC_BUTTON_PD_FW_VERIFY, verify);
    addControl(IDC_PD_CLOSE, close);
    layout->addLayout(buttons);
}

void CPDUpdateDlg::onCommand(int id)
{
    switch (id) {
    case IDC_BUTTON_PD_START: OnBnClickedButtonPdStart(); return;
    case IDC_BUTTON_PD_FW_VERIFY: OnBnClickedButtonPdFwVerify(); return;
    case IDC_BUTTON_FIRMWARE_FWBROWSE: OnBnClickedButtonFirmwareFwbrowse(); return;
    case IDC_BUTTON_MCU_FIRMWARE_FWBROWSE: OnBnClickedButtonMcuFirmwareFwbrowse(); return;
    case IDC_PD_CLOSE: OnBnClickedClose(); return;
    case IDC_CHECK_MCU_FWUPG_ENABLE:
        m_ucMCUEnable = checkState(IDC_CHECK_MCU_FWUPG_ENABLE) == 1 ? 1 : 0;
        vSetGroupsByFlags();
        return;
    case IDC_CHECK_PD_FWUPG_ENABLE:
        m_ucPDEnable = checkState(IDC_CHECK_PD_FWUPG_ENABLE) == 1 ? 1 : 0;
        vSetGroupsByFlags();
        return;
    default: krv::ui::Dialog::onCommand(id);
    }
}

void CPDUpdateDlg::vAddPathToCombo(QComboBox* pCombo, const std::string& strPath)
{
    if (!strPath.empty())
        krv::ui::addRecentPath(pCombo, strPath);
}

void CPDUpdateDlg::vSetGroupsByFlags()
{
    setCheck(IDC_CHECK_MCU_FWUPG_ENABLE, m_ucMCUEnable);
    setCheck(IDC_CHECK_PD_FWUPG_ENABLE, m_ucPDEnable);
    for (int id : {IDC_COMBO_MCU_FILE, IDC_BUTTON_MCU_FIRMWARE_FWBROWSE})
        enableControl(id, m_ucMCUEnable == 1);
    for (int id : {IDC_COMBO_PD_FILE, IDC_BUTTON_FIRMWARE_FWBROWSE})
        enableControl(id, m_ucPDEnable == 1);
}

void CPDUpdateDlg::Show_Message(int nDevice, int nCode)
{
    if (nDevice < 0 || nDevice >= PD_DIALOG_ROWS)
        return;
    const StatusLook look = lookOf(nCode);
    m_pStatus[nDevice]->SetBkColor(look.color);
    m_pStatus[nDevice]->SetTextColor(rgb(0, 0, 0));
    m_pStatus[nDevice]->setText(look.text);
}

void CPDUpdateDlg::OnInitDialog()
{
    static const char* const kWho = "CPDUpdateDlg::OnInitDialog";
    vDEBUG_MSG_printf("%s:%d: OnInitDialog....", kWho, __LINE__);
    m_facts = {};
    vSetButtonLooks(*this,
                    {{IDC_BUTTON_FIRMWARE_FWBROWSE, 167, CButtonST::SecondIconDarker, "PD Browse FW"},
                     {IDC_BUTTON_MCU_FIRMWARE_FWBROWSE, 167, CButtonST::SecondIconDarker, "MCU Browse FW"},
                     {IDC_BUTTON_PD_START, 169, CButtonST::SecondIconDarker, "PD FW Update"}},
                    kLookTransparent);
    enableControl(IDC_BUTTON_PD_START, false);
    for (int i = 0; i < PD_DIALOG_ROWS; ++i) {
        m_pBitmap[i]->setPixmap(rowBitmap(false));
        m_pProgress[i]->SetRange(0, 100);
        m_pProgress[i]->SetStep(1);
        m_pProgress[i]->SetPos(0);
        m_pProgress[i]->SetBarColor(kBarGreen);
        m_pStatus[i]->StartTextBlink(false, 0);
        Show_Message(i, PD_STATUS_MISMATCH);
        for (int id : {kRowBitmaps[i], kRowDrives[i], kRowVersions[i], kRowBars[i], kRowStatuses[i]})
            showControl(id, false);
    }
    vAddPathToCombo(m_pPDCombo, m_strPDFilePath);
    vAddPathToCombo(m_pMCUCombo, m_strMCUFilePath);
    vSetGroupsByFlags();
    const int nDevices = m_DevList.DevNums.load();
    if (nDevices == 0) {
        vDEBUG_MSG_printf("%s:%d: Do not detect KRV419x", kWho, __LINE__);
        pUtility.nShowMessage("Can not Found KRV419x Device", 0, MSG_TYPE_ERROR);
        return;
    }
    if (m_ucPDEnable) {
        m_strPDFileVersion = strGetPDFWVersionFromFile(m_strPDFilePath);
        if (m_strPDFileVersion != PD_VERSION_NONE)
            setControlText(IDC_STATIC_PD_FILE_VERSION, m_strPDFileVersion);
    }
    // Four rows: further drives are left to a later showing of the dialog.
    m_nRows = std::min(nDevices, PD_DIALOG_ROWS);
    if (nDevices > PD_DIALOG_ROWS)
        vDEBUG_MSG_printf("%s:%d: %d devices, the first %d shown", kWho, __LINE__, nDevices, PD_DIALOG_ROWS);
    CPDDeviceOps ops(m_pd);
    for (int i = 0; i < m_nRows; ++i) {
        for (int id : {kRowBitmaps[i], kRowDrives[i], kRowVersions[i], kRowBars[i], kRowStatuses[i]})
            showControl(id, true);
        const DevInfo& dev = m_DevList.Devs[i];
        m_nDrive[i] = dev.m_ucPhysicalAddress;
        m_strHubName[i] = dev.m_strHubName;
        m_ulHubPort[i] = dev.m_ulPortIndex;
        m_pDrive[i]->setText(QString::fromStdString(strRowDriveText(i, dev)));
        if (ops.nInitializedPDI2CBus(m_nDrive[i], m_facts[i]) != 0) {
            vDEBUG_ERR_printf("%s:%d: PD[%d] I2C Initialized I2C Bus Failed", kWho, __LINE__, i);
            Show_Message(i, PD_STATUS_EMPTY);
            continue;
        }
        std::string strVersion;
        if (ops.nGetPDFWVersion(m_nDrive[i], m_facts[i], strVersion) != 0) {
            m_pBitmap[i]->setPixmap(rowBitmap(false));
            Show_Message(i, PD_STATUS_EMPTY);
            continue;
        }
        strVersion = strRowVersionText(strVersion, m_facts[i], m_ucPDEnable, m_ucMCUEnable);
        if (m_facts[i].ucVendor == PD_VENDOR_CCG3 && m_facts[i].ucCCG3Mode)
            strVersion += m_facts[i].ucCCG3Mode == 1 ? " \nBank 1" : " \nBank 2";
        m_pBitmap[i]->setPixmap(rowBitmap(true));
        m_pVersion[i]->setText(QString::fromStdString(strVersion));
        enableControl(IDC_BUTTON_PD_START, true);
        Show_Message(i, PD_STATUS_READY);
    }
}

std::string CPDUpdateDlg::strRowVersionText(const std::string& strPDVersion, const PDDeviceFacts& facts,
                                            uint8_t ucPDEnable, uint8_t ucMCUEnable)
{
    // An MCU has no version of its own to read: it shows as "FFFF".
    if (!ucMCUEnable || facts.ucMCUVendor != MCU_VENDOR_STM)
        return strPDVersion;
    return ucPDEnable ? strPDVersion + "/FFFF" : "FFFF";
}

std::string CPDUpdateDlg::strGetPDFWVersionFromFile(const std::string& strPath)
{
    static const char* const kWho = "CPDUpdateDlg::strGetPDFWVersionFromFile";
    if (!pUtility.vCheckFilePathExists(strPath, 0)) {
        vDEBUG_ERR_printf("%s:%d: The PD FW file is not exist[%s]", kWho, __LINE__, strPath.c_str());
        return PD_VERSION_NONE;
    }
    std::string strContent;
    if (!bReadWholeFile(strPath, strContent))
        return PD_VERSION_NONE;
    bool bRefused = false;
    const std::string strVersion =
        strPDVersionOfContent(ucPDFileKindOfPath(strPath), strContent, PDRulesOfUpdateDialog(), bRefused);
    if (bRefused) {
        pUtility.nShowMessage(PD_BIN_SIZE_MESSAGE, 0, MSG_TYPE_ERROR);
        vDEBUG_ERR_printf("%s:%d: The PD FW file size is uncompatibie!!! [%x]", kWho, __LINE__,
                          static_cast<unsigned>(strContent.size()));
    }
    return strVersion;
}

void CPDUpdateDlg::OnBnClickedButtonFirmwareFwbrowse()
{
    if (!m_pPickers)
        return;
    const std::string strPath = m_pPickers->openFile("", pUtility.m_szProgramFolder, PD_FILE_FILTER);
    if (strPath.empty() || !pUtility.vCheckFilePathExists(strPath, 0))
        return;
    const std::string strVersion = strGetPDFWVersionFromFile(strPath);
    if (strVersion == PD_VERSION_NONE)
        return;
    m_strPDFileVersion = strVersion;
    setControlText(IDC_STATIC_PD_FILE_VERSION, strVersion);
    vAddPathToCombo(m_pPDCombo, strPath);
    m_strPDFilePath = strPath;
}

void CPDUpdateDlg::OnBnClickedButtonMcuFirmwareFwbrowse()
{
    if (!m_pPickers)
        return;
    const std::string strPath =
        m_pPickers->openFile("", pUtility.m_szProgramFolder, "MCU Files (*.hex)|*.hex| All Files (*.*)|*.*||");
    if (strPath.empty() || !pUtility.vCheckFilePathExists(strPath, 0))
        return;
    vAddPathToCombo(m_pMCUCombo, strPath);
    m_strMCUFilePath = strPath;
}

bool CPDUpdateDlg::bParseFiles()
{
    static const char* const kWho = "CPDUpdateDlg::nCreatePDSPIROMBuffer";
    // A fresh set: workers of an earlier run may still hold the last one.
    auto pImages = std::make_shared<PDUpdateImages>();
    PDUpdateImages& images = *pImages;
    images.ucPDEnable = m_ucPDEnable;
    images.ucMCUEnable = m_ucMCUEnable;
    std::string strError;
    if (m_ucPDEnable) {
        std::string strContent;
        if (!pUtility.vCheckFilePathExists(m_strPDFilePath, 0) || !bReadWholeFile(m_strPDFilePath, strContent)) {
            pUtility.nShowMessage("The PD FW file is not exist[" + m_strPDFilePath + "]", 0, MSG_TYPE_ERROR);
            return false;
        }
        images.ucPDFileKind = ucPDFileKindOfPath(m_strPDFilePath);
        bool bRefused = false;
        images.strPDFileVersion = strPDVersionOfContent(images.ucPDFileKind, strContent, PDRulesOfUpdateDialog(),
                                                          bRefused);
        if (images.ucPDFileKind == PD_FILE_UNKNOWN) {
            pUtility.nShowMessage("The PD FW file is Unknow", 0, MSG_TYPE_ERROR);
            return false;
        }
        if (images.ucPDFileKind == PD_FILE_BIN) {
            if (bRefused) {
                pUtility.nShowMessage(PD_BIN_SIZE_MESSAGE, 0, MSG_TYPE_ERROR);
                return false;
            }
            images.richtek.assign(strContent.begin(), strContent.end());
        } else {
            int nShortLine = 0;
            if (nParseCyacd(strContent, PDRulesOfUpdateDialog(), images.cypress, nShortLine, strError) != 0) {
                pUtility.nShowMessage(strError, 0, MSG_TYPE_ERROR);
                return false;
            }
            images.bSkipVersionCompare = images.cypress.bShortRow;
        }
    }
    if (m_ucMCUEnable) {
        std::string strContent;
        if (!bIsMCUFilePath(m_strMCUFilePath) || !bReadWholeFile(m_strMCUFilePath, strContent) ||
            nParseIntelHex(strContent, "CPDUpdateDlg", images.mcu, strError) != 0) {
            vDEBUG_ERR_printf("%s:%d: nCreatePDSPIROMBuffer failed...[%s]!!!", kWho, __LINE__, m_strMCUFilePath.c_str());
            return false;
        }
        images.ucMCUFileKind = MCU_FILE_HEX;
    }
    m_pImages = std::move(pImages);
    return true;
}

void CPDUpdateDlg::OnBnClickedButtonPdStart() { vStartRun(false); }
void CPDUpdateDlg::OnBnClickedButtonPdFwVerify() { vStartRun(true); }

void CPDUpdateDlg::vStartRun(bool bVerifyOnly)
{
    static const char* const kWho = "CPDUpdateDlg::OnBnClickedButtonPdStart";
    if (m_nRunning.load() > 0 || m_nRows == 0)
        return;
    if (!bParseFiles()) {
        vDEBUG_ERR_printf("%s:%d: nCreatePDSPIROMBuffer failed...[%s]!!!", kWho, __LINE__, m_strPDFilePath.c_str());
        return;
    }
    const std::shared_ptr<const PDUpdateImages> pImages = m_pImages;
    const PDUpdateImages& images = *pImages;
    auto fits = [&](const PDDeviceFacts& facts) {
        return !m_ucPDEnable || (facts.ucVendor == PD_VENDOR_RICHTEK && images.ucPDFileKind == PD_FILE_BIN) ||
               ((facts.ucVendor == PD_VENDOR_CYPRESS || facts.ucVendor == PD_VENDOR_CCG3 ||
                 facts.ucVendor == PD_VENDOR_CCG) &&
                images.ucPDFileKind == PD_FILE_CYACD);
    };
    if (std::none_of(m_facts.begin(), m_facts.begin() + m_nRows, fits)) {
        pUtility.nShowMessage(bVerifyOnly ? "PD File is not suitable PD Chip!!!Please try to Set correct PD Chip or "
                                            "load correct PD File"
                                          : "PD File is not suitable PD Chip!!!Please try to load correct PD Chip or File",
                              0, MSG_TYPE_ERROR);
        return;
    }
    // A CCG3 image is for the bank the controller does not run.
    if (bVerifyOnly && m_ucPDEnable && images.ucPDFileKind == PD_FILE_CYACD && images.cypress.rows.size() > 1)
        for (int i = 0; i < m_nRows; ++i) {
            const uint16_t wFirst = images.cypress.rows[1].wRowNum;
            if (m_facts[i].ucVendor == PD_VENDOR_CCG3 &&
                wFirst != (m_facts[i].ucCCG3Mode == 1 ? 0x200 : m_facts[i].ucCCG3Mode == 2 ? 0x30 : wFirst)) {
                vDEBUG_ERR_printf("%s:%d: CCG3 Device Mode[%c] ,ucRowNum[%c]", "CPDUpdateDlg::OnBnClickedButtonPdFwVerify",
                                  __LINE__, m_facts[i].ucCCG3Mode, wFirst);
                pUtility.nShowMessage("PD File is not suitable PD Chip IMAGE!!!\nPlease try to Set correct PD Chip or "
                                      "load correct PD File",
                                      0, MSG_TYPE_ERROR);
                return;
            }
        }
    m_workers.clear();
    std::array<bool, PD_DIALOG_ROWS> bRuns{};
    for (int i = 0; i < m_nRows; ++i) {
        const PDDeviceFacts facts = m_facts[i];
        // A file for another controller: this row is not run.
        if (!fits(facts)) {
            Show_Message(i, PD_STATUS_MISMATCH);
            continue;
        }
        // A power cycle of an earlier run may have brought the drive back
        // under another number; it is looked for where its bridge sits. A
        // row whose drive is not there, or is another row's, is not run:
        // its commands would go to whatever drive holds the number now.
        const int nDrive = nDriveOfRow(i);
        bool bTaken = false;
        for (int j = 0; j < i; ++j)
            bTaken = bTaken || (bRuns[j] && m_nDrive[j] == nDrive);
        if (nDrive < 0 || bTaken) {
            vDEBUG_ERR_printf("%s:%d: PD[%d] drive not found on its port", kWho, __LINE__, i);
            vEndRowUnrun(i);
            continue;
        }
        m_nDrive[i] = nDrive;
        m_pProgress[i]->SetRange(0, 100);
        m_pProgress[i]->SetPos(0);
        m_pProgress[i]->SetBarColor(kBarGreen);
        Show_Message(i, bVerifyOnly ? PD_STATUS_READING : PD_STATUS_UPDATING);
        m_nRunning.fetch_add(1);
        std::shared_ptr<CWorkerThread> worker = m_pThreads->pStart(
            "PD worker " + std::to_string(i), [this, i, facts, nDrive, bVerifyOnly, pImages](const krv::StopSource&) {
                CRowView view(*this, i);
                CPowerDelivery pd;
                const int nResult = nPDFWUpdateWorker(pd, *pImages, facts, i, nDrive, bVerifyOnly, view);
                postToGui([this, i, nResult] { vWorkerEnded(i, nResult); });
            });
        if (!worker) {
            // The window is closing: no thread starts any more.
            m_nRunning.fetch_sub(1);
            vEndRowUnrun(i);
            continue;
        }
        bRuns[i] = true;
        m_workers.push_back(std::move(worker));
    }
    enableControl(IDC_PD_CLOSE, m_nRunning.load() == 0);
}

void CPDUpdateDlg::vEndRowUnrun(int nRow)
{
    Show_Message(nRow, PD_STATUS_FAIL);
    m_pProgress[nRow]->SetBarColor(kBarRed);
    m_pProgress[nRow]->SetPos(100);
}

void CPDUpdateDlg::vWorkerEnded(int nRow, int nResult)
{
    if (nResult != PD_RESULT_PASS)
        m_pProgress[nRow]->SetBarColor(kBarRed);
    m_pProgress[nRow]->SetPos(100);
    if (m_nRunning.fetch_sub(1) == 1)
        enableControl(IDC_PD_CLOSE, true);
}

void CPDUpdateDlg::OnBnClickedClose()
{
    if (m_DevList.DevNums.load() == 0)
        vDEBUG_MSG_printf("%s:%d: Do not detect KRV419x", "CPDUpdateDlg::OnBnClickedClose", __LINE__);
    reject();
}

void CPDUpdateDlg::reject()
{
    // The rows belong to running workers until they end.
    if (m_nRunning.load() > 0)
        return;
    krv::ui::Dialog::reject();
}

std::string CPDUpdateDlg::strStatusText(int nRow) const { return m_pStatus[nRow]->text().toStdString(); }
ColorRef CPDUpdateDlg::statusColor(int nRow) const { return m_pStatus[nRow]->CtlColor().crBk; }
int CPDUpdateDlg::nProgress(int nRow) const { return m_pProgress[nRow]->GetPos(); }
std::string CPDUpdateDlg::strRowDrive(int nRow) const { return m_pDrive[nRow]->text().toStdString(); }
ColorRef CPDUpdateDlg::barColor(int nRow) const { return m_pProgress[nRow]->GetBarColor(); }
std::string CPDUpdateDlg::strRowVersion(int nRow) const { return m_pVersion[nRow]->text().toStdString(); }
