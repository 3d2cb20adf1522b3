// Start: the one way into a production run. The Start button, the scan's
// automatic start and the command-line job "/S" all send command 1022, which
// lands here on the GUI thread. Start checks the operator's entries and the
// files the run needs, picks the ports that take part, builds each such
// port's USB-3 and USB4 configuration images, and starts the run supervisor
// on m_MainThreadParam. Nothing is written to a device here.
//
// A refusal shows its message as a warning (in command-line mode it goes to
// the message file). In command-line mode it also ends the process with its
// exit code: CMDLINE_EXIT_BAD_OPTION where a setting or a file of the run is
// at fault (both images off, the write/read test file), CMDLINE_EXIT_NO_DEVICE
// with no device at all, else CMDLINE_EXIT_REFUSED. Nobody answers an
// unattended run, so every way out of a refused start ends it.
//
// Serial numbers: a port's serial is the window's advanced by its slot. With
// the firmware update on (the only time images are built) every device found
// takes part or the run is refused, so the slots of a run are 0, 1, 2 ...
// Before the supervisor starts, the settings file already counts them as
// used (VIVadeDlgSerials.cpp), so the next run starts where this one ends
// however this one ends. A serial number that would wrap around, or one
// serial for two ports, refuses the run.
//
// The run token: Start takes it before its checks and keeps it for the run;
// each taking-part port gets its own record of the run (app/run/PortRun.h),
// which is what its worker writes and what the run is judged and logged by.
//
// PCIe targets count with the USB devices; with config_format 3 and one
// device, the firmware file is made from that device's own image, a PCIe
// target's read through its mailbox.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "app/ConfigTable.h"
#include "app/FWFileRules.h"
#include "app/GUIText.h"
#include "app/Ini.h"
#include "app/SettingsValidation.h"
#include "app/U4ConfigTable.h"
#include "app/VIVadeDlg.h"
#include "controls/TextProgressCtrl.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/MessageBoxes.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/WaitableMutex.h"

namespace {

const char* const kWho = "CVIVadeDlg::OnBnClickedButtonStart";

// The largest write/read test file; the worker counts ten times its size in
// a signed 32-bit number.
constexpr uint64_t WR_TEST_FILE_SIZE_MAX = 0xB400000;
// m_dwWrRdTestSize of a taking-part port when the write/read test is off or
// has no file.
constexpr uint32_t WR_TEST_SIZE_NONE = 0xFFFFFFFF;

// A serial number shorter than this is padded with leading "0"s.
constexpr size_t SN_MIN_LENGTH = 12;

// The waits of a run a line can mean, in seconds: a bridge is back from its
// reset within seconds, and a removal waits for an operator to look.
constexpr int32_t RELOAD_WAITING_MIN_S = 1;
constexpr int32_t RELOAD_WAITING_MAX_S = 60;
constexpr int32_t REMOVE_AFTER_FINISH_MAX_S = 600;
constexpr int32_t SSD_RELINK_TIME_MAX_S = 600;

// The vendor id the factory settings carry; a run with it asks first.
constexpr const char* DEFAULT_VENDOR_ID = "3E9A";

constexpr krv::ui::ColorRef RUN_BAR_COLOR = krv::ui::rgb(255, 165, 0);
constexpr krv::ui::ColorRef RUN_BAR_COLOR_SUPER_SPEED = krv::ui::rgb(0, 0, 255);

// The text shown when the run's files or items are missing and nothing else
// has told the operator why.
constexpr const char* PRE_CHECK_FAILED_TEXT =
    "Error!!\nPlease check following setting:\n1. <<More Config>>\n2. <<Update FW>>\n3. <<Update Config>>\n4. FW path";

int nLastError() { return static_cast<int>(krv::lastError()); }

bool bShortSerial(const std::string& strSerial) { return !strSerial.empty() && strSerial.size() < SN_MIN_LENGTH; }

std::string strPadSerial(const std::string& strSerial)
{
    return bShortSerial(strSerial) ? std::string(SN_MIN_LENGTH - strSerial.size(), '0') + strSerial : strSerial;
}

bool bAllFF(const uint8_t* pucBytes, size_t nSize)
{
    return std::all_of(pucBytes, pucBytes + nSize, [](uint8_t uc) { return uc == 0xFF; });
}

enum class EStartEnd {
    eStarted,  // the supervisor runs
    eRefused,  // a check stopped the run
    eLeft,     // the operator chose not to run (the window only)
};

// One press of Start: its checks in order, then the run's preparation.
class CStart {
public:
    explicit CStart(CVIVadeDlg& dlg) : m_dlg(dlg), m_ini(pIni.m_pINI), m_devs(dlg.m_DevList) {}

    EStartEnd eRun();
    // The command-line exit code of a refusal.
    int32_t iExitCode() const { return m_iExitCode != 0 ? m_iExitCode : CVIVadeDlg::CMDLINE_EXIT_REFUSED; }

private:
    const char* pszTracePrefix() const { return m_dlg.dlgProfile().bShowStatusTrace ? START_TRACE_PREFIX : ""; }
    void vShow(const std::string& strText);
    void vSetRunBarColor();
    bool bCheckSerialBox();
    bool bCheckIdentity();
    void vTakeSerial(const std::string& strSerial);
    bool bAskDefaultVendorID();
    uint8_t ucTestItemCount() const;
    void vCheckWrTestFile();
    bool bPreCheck(uint8_t ucItemCount);
    void vPickPorts();
    bool bEveryDriveTakesPart();
    bool bBuildImages();
    bool bImagesWritable();
    bool bSerialsDistinct();
    bool bSerialsCount(bool bAfterBuild);
    bool bCheckWaits();
    void vPrepareReload();
    void vMakePortRecords();

    CVIVadeDlg& m_dlg;
    IniRecord& m_ini;
    DevList& m_devs;
    const bool m_bGui = m_dlg.m_iRunMode.load() == 1;
    int m_nTargets = 0;
    bool m_bOk = true;           // the run has not failed yet
    bool m_bShown = false;       // the operator has been told something
    int32_t m_iExitCode = 0;     // 0: none set yet
    uint32_t m_dwWrTestSize = WR_TEST_SIZE_NONE;
    uint8_t m_ucThreadCount = 0;
    uint8_t m_ucDiskCount = 0;
    bool m_bChipMismatch = false;
    std::string m_strChipMismatch = "Chip and FW don't match. Port:";
};

void CStart::vShow(const std::string& strText)
{
    pUtility.nShowProgramMessage(strText, MSG_TYPE_WARNING, 0, CUSBUtility::EMessageTarget::eMessageBox);
    m_bShown = true;
}

EStartEnd CStart::eRun()
{
    m_nTargets = nAllDevCount(m_devs, g_PcieCtrl.ucTargetCount());
    if (m_nTargets == 0) {
        vDEBUG_MSG_printf("%s:%d: no device to run", kWho, __LINE__);
        m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_NO_DEVICE;
        return EStartEnd::eRefused;
    }
    vSetRunBarColor();

    if (!bCheckSerialBox())
        return EStartEnd::eRefused;
    if (!m_dlg.UpdateData(true)) {
        // A text longer than its field was not taken: the images would be
        // built from what the window held before.
        m_bShown = true;
        return EStartEnd::eRefused;
    }
    if (!bCheckIdentity())
        return EStartEnd::eRefused;
    if (!bCheckUSB4FieldLength(m_dlg.stWindowU4Texts())) {
        m_bShown = true;
        return EStartEnd::eRefused;
    }
    if (m_dlg.dlgProfile().bReloadAvailabilityCheck && !m_dlg.bIsReloadAvailable(g_PcieCtrl.ucTargetCount())) {
        m_bShown = true;
        m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_REFUSED;
        return EStartEnd::eRefused;
    }
    if (m_dlg.m_bLimitationTableLoaded.load() == 1) {
        const int32_t iLimitation = m_dlg.m_LimitationTable.iCheckLimitation(m_devs, m_nTargets);
        if (iLimitation != LIMITATION_PASS) {
            vDEBUG_ERR_printf("%s:%d: iCheckLimitation %d: %s", kWho, __LINE__, iLimitation,
                              m_dlg.m_LimitationTable.strCheckFailure().c_str());
            return EStartEnd::eRefused;
        }
    }
    if (!bAskDefaultVendorID())
        return EStartEnd::eLeft;

    const uint8_t ucItemCount = ucTestItemCount();
    if (m_ini.image0 == 0 && m_ini.image1 == 0) {
        vShow("please check dual image setting in more config or ini file");
        m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION;
        m_bOk = false;
    }

    std::string& strFWPath = m_dlg.m_strComboBoxDeviceFirmwareFWBrowse;
    if (m_dlg.dlgProfile().bFWFileFromDevice && m_ini.config_format == 3 && m_nTargets == 1) {
        // The firmware file of the one device, made from its own image; its
        // result is not needed, the checks below judge the file.
        if (m_devs.DevNums == 1)
            m_dlg.bFindFWFileForDevice(strFWPath);
        else
            m_dlg.bFindFWFileForDevice2(strFWPath);
    }
    const bool bUpdateFW = m_devs.m_bUpdateFW == 1;
    const auto pfnPDRule = m_dlg.dlgProfile().pfnFWmatchPDtype;
    if (bUpdateFW && !(pfnPDRule ? pfnPDRule(strFWPath, m_devs, m_nTargets)
                                 : bIsFWmatchPDtype(strFWPath, m_devs, m_nTargets))) {
        m_bShown = true;
        m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_REFUSED;
        return EStartEnd::eRefused;
    }
    vCheckWrTestFile();
    if (!bPreCheck(ucItemCount)) {
        vDEBUG_ERR_printf("%s:%d: %sPre-Check Fail , ucTestItemCount[%d] , m_bUpdateFW[%d]=[%s] , ", kWho, __LINE__,
                          pszTracePrefix(), ucItemCount, m_devs.m_bUpdateFW, strFWPath.c_str());
        if (!m_bShown)
            vShow(PRE_CHECK_FAILED_TEXT);
        return EStartEnd::eRefused;
    }
    vPickPorts();
    const bool bFWFileOk = !bUpdateFW || bCheckFWFile(strFWPath, m_dlg.dlgProfile().nFWNameTail);

    if (m_ucThreadCount == 0 || m_bChipMismatch || !bFWFileOk) {
        if (m_bChipMismatch) {
            vShow(m_strChipMismatch);
            m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_REFUSED;
        }
        // On the command line the first refusal ends the process: it is the
        // only one the message file tells.
        if (!bFWFileOk && (m_bGui || !m_bChipMismatch)) {
            vShow("FW check is incorrect.");
            m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_REFUSED;
        } else if (bFWFileOk) {
            vDEBUG_MSG_printf("%s:%d: No Thread [%d/%d] To Run ", kWho, __LINE__, m_ucThreadCount, m_ucDiskCount);
        }
        return EStartEnd::eRefused;
    }

    if (!m_bGui && !bEveryDriveTakesPart())
        return EStartEnd::eRefused;

    m_dlg.showControl(IDC_PICTURE_FAIL, false);
    m_dlg.showControl(IDC_PICTURE_PASS, false);
    pUtility.g_strFWFileName = strFWPath;
    if (bUpdateFW && !bSerialsCount(false))
        return EStartEnd::eRefused;
    if (bUpdateFW && (!bBuildImages() || !bSerialsCount(true)))
        return EStartEnd::eRefused;
    m_devs.m_bDoConfigReadBack = 1;

    // SHA-256 key support is a feature of the chip whose revision text the
    // scan read as "101".
    const uint8_t ucSHA256 = pUtility.m_strChipVersion == "101" ? g_UsbDev.vCheckSupportSHA256(0) : 0;
    g_UsbDev.m_bSupportSHA256 = ucSHA256;
    m_devs.m_bSHA256Supported = ucSHA256;

    if (m_devs.m_bDoExtUpdateFW == 1 && !m_dlg.bPrepareExternalFirmware())
        return EStartEnd::eRefused;
    vPrepareReload();
    if (!bCheckWaits())
        return EStartEnd::eRefused;
    if (m_dlg.dlgProfile().bWaitingResetReload)
        m_dlg.m_iDiskCountBaseline =
            m_devs.m_bDoReload == 1
                ? pUtility.GetDiskRegisterCount(RegistryRoot::LocalMachine, DISK_ENUM_KEY_PATH, DISK_ENUM_COUNT_NAME) - 1
                : 0;
    if (!m_dlg.bReserveSerialNumbers(m_ucThreadCount)) {
        vShow("The settings file could not be written: the serial numbers of this run cannot be reserved.");
        m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_REFUSED;
        return EStartEnd::eRefused;
    }
    vMakePortRecords();
    m_dlg.vDisableRunControls();

    MainThreadParam& param = m_dlg.m_MainThreadParam;
    param.hWnd = &m_dlg;
    param.m_ucThreadCount = m_ucThreadCount;
    param.m_ucDiskCount = m_ucDiskCount;
    param.m_ucItemCount = ucItemCount;
    m_dlg.vStartMainThread();
    return EStartEnd::eStarted;
}

void CStart::vSetRunBarColor()
{
    CTextProgressCtrl* pBar = m_dlg.m_ProgressRun;
    if (!pBar)
        return;
    pBar->SetBarColor(RUN_BAR_COLOR);
    // The speed text may carry a lane suffix ("SUPERx2").
    const std::string& strSpeed = m_devs.Devs[0].m_strUSBSpeed;
    if (strSpeed.find("SUPER") != std::string::npos || strSpeed.find("PLUS") != std::string::npos)
        pBar->SetBarColor(RUN_BAR_COLOR_SUPER_SPEED);
}

// The serial-number box as typed, before anything else is taken from the
// window.
bool CStart::bCheckSerialBox()
{
    const std::string strSerial = m_dlg.controlText(IDC_EDIT_SERIAL_NUMBER);
    const uint8_t ucType = m_ini.SN_EditType;
    if (m_ini.SN_fix_length > 0 && static_cast<int64_t>(strSerial.size()) != m_ini.SN_fix_length && ucType != 4) {
        vShow(CVIVadeDlg::vSprintf127("input SN should have %d digits", m_ini.SN_fix_length));
        m_dlg.setControlText(IDC_EDIT_SERIAL_NUMBER, "");
        return false;
    }
    if (ucType == 3 || ucType == 4)
        return true;
    if (m_dlg.dlgProfile().bSerialAtLeast12 && strSerial.size() < SN_MIN_LENGTH) {
        vShow("SN should have at least 12 digits");
        return false;
    }
    // A kept prefix is the operator's own text; only the counted rest must
    // be digits of the edit type.
    std::string strCounted = strSerial;
    if (m_ini.SN_remain_value_enable != 0)
        strCounted.erase(0, std::min(static_cast<size_t>(std::max(m_ini.SN_remain_value_length, 0)), strCounted.size()));
    if (!bIsSNInCharset(strCounted, ucType)) {
        vShow(CVIVadeDlg::vSprintf127("SN digits [%s] should be all %s", strCounted.c_str(),
                                      ucType == 1 ? "heximal" : "decimal"));
        m_dlg.setControlText(IDC_EDIT_SERIAL_NUMBER, "");
        return false;
    }
    return true;
}

// The identity texts' format and the serial number's length; a short serial
// is padded to twelve characters.
bool CStart::bCheckIdentity()
{
    std::string strFailures;
    const auto fail = [&](const std::string& strLine) {
        strFailures += strLine;
        m_bOk = false;
    };
    if (m_dlg.m_strEditDeviceConfigurationVendorID.size() != 4)
        fail(g_GUIText.m_strStartErrVIDFormat + " \r\n");
    if (m_dlg.m_strEditDeviceConfigurationProductID.size() != 4)
        fail(g_GUIText.m_strStartErrPIDFormat + " \r\n");
    if (m_dlg.m_strEditDeviceConfigurationDeviceRevision.size() != 4)
        fail(g_GUIText.m_strStartErrRevisionFormat + " \r\n");

    const std::string& strSerial = m_dlg.m_strEditDeviceConfigurationSerialNumber;
    if (m_ini.SN_EditType == 4) {
        // The disk's own serial number goes to the drive; the typed one is
        // only checked.
        size_t nLength = 0;
        std::string& strEntered = m_dlg.m_strEnteredSerialNumber;
        if (strEntered.empty()) {
            if (m_ini.SN_Numbers != 0 && bShortSerial(strSerial))
                vTakeSerial(strPadSerial(strSerial));
            nLength = strSerial.size();
        } else {
            nLength = strEntered.size();
            strEntered = strPadSerial(strEntered);
        }
        const int64_t llNumbers = m_ini.SN_Numbers;
        if (llNumbers != 0 && nLength >= 1 && static_cast<int64_t>(nLength) < llNumbers)
            fail(CVIVadeDlg::vSprintf127("Serial Number Invalid, at least %d digits\r\n", m_ini.SN_Numbers));
        else if (llNumbers == 0 && nLength >= 1 && nLength < SN_MIN_LENGTH)
            fail(g_GUIText.m_strErrSNTooShort + "\r\n");
    }
    if (!m_bOk) {
        vShow(strFailures);
        if (!m_bGui)
            return false;
    }
    if (bShortSerial(strSerial))
        vTakeSerial(strPadSerial(strSerial));
    return true;
}

void CStart::vTakeSerial(const std::string& strSerial)
{
    m_dlg.m_strEditDeviceConfigurationSerialNumber = strSerial;
    m_dlg.setControlText(IDC_EDIT_SERIAL_NUMBER, strSerial);
    m_ini.serial_number.set(strSerial);
}

// False when the operator would rather not run with the factory vendor id.
// Only asked in the window and without automatic start: nobody answers
// otherwise.
bool CStart::bAskDefaultVendorID()
{
    if (!m_bGui || m_ini.auto_mp != 0 || !m_dlg.dlgProfile().bAskDefaultVendorID)
        return true;
    if (m_dlg.m_strEditDeviceConfigurationVendorID != DEFAULT_VENDOR_ID &&
        m_dlg.m_strEditU4VendorID != DEFAULT_VENDOR_ID)
        return true;
    return krv::Platform::current().messageBoxes().show("Update VID with default value ?", "warning",
                                                        krv::mb::kYesNo | krv::mb::kIconQuestion) != krv::id::kNo;
}

// The items a port worker reports on; the firmware update has two and the
// partition and format step two.
uint8_t CStart::ucTestItemCount() const
{
    unsigned nCount = 0;
    nCount += m_devs.m_bUpdateFW == 1;
    nCount += m_devs.m_bDoUpdateFW == 1;
    nCount += m_devs.m_bDoReload == 1;
    nCount += m_devs.m_bDoFormat == 1 ? 2u : 0u;
    nCount += m_devs.m_bDoWrRdTest == 1;
    nCount += m_devs.m_bDoPreload == 1;
    nCount += m_devs.m_bDoUSBStatusCheck == 1;
    return static_cast<uint8_t>(nCount);
}

// The write/read test file in the program folder gives the test's size.
void CStart::vCheckWrTestFile()
{
    m_dwWrTestSize = WR_TEST_SIZE_NONE;
    if (m_devs.m_bDoWrRdTest != 1)
        return;
    const std::string strPath = krv::joinPath(pUtility.m_szProgramFolder, m_ini.wr_test_binary_name.view());
    if (!pUtility.vCheckFilePathExists(strPath, 1)) {
        // Its box has told the operator; the pre-check refuses the run.
        m_bShown = true;
        return;
    }
    krv::File file;
    uint64_t llSize = 0;
    if (!file.open(strPath, krv::File::Mode::Read) || !file.size(llSize)) {
        vShow("R/W test file Error because the ini info is incorrect");
        m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION;
        m_bOk = false;
        return;
    }
    if (llSize > WR_TEST_FILE_SIZE_MAX) {
        vShow(strPath + " " + g_GUIText.m_strErrWrRdTestFileTooLarge);
        m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION;
        return;
    }
    m_dwWrTestSize = static_cast<uint32_t>(llSize);
}

// The files and items the run needs; each missing path shows its own box.
bool CStart::bPreCheck(uint8_t ucItemCount)
{
    const auto bPathThere = [this](const std::string& strPath) {
        if (pUtility.vCheckFilePathExists(strPath, 1))
            return true;
        m_bShown = true;
        return false;
    };
    if (m_devs.m_bUpdateFW == 1 && !bPathThere(m_dlg.m_strComboBoxDeviceFirmwareFWBrowse))
        return false;
    if (m_devs.m_bDoPreload == 1 && !bPathThere(m_dlg.m_strComboBoxDeviceFunctionPreloadPath))
        return false;
    if (m_devs.m_bDoWrRdTest == 1 && m_dwWrTestSize == WR_TEST_SIZE_NONE)
        return false;
    return ucItemCount != 0 && m_bOk;
}

// A port takes part when it holds a device with a firmware version and, with
// the firmware update on, its chip takes the file's firmware.
void CStart::vPickPorts()
{
    const bool bUpdateFW = m_devs.m_bUpdateFW == 1;
    const uint8_t ucSignature =
        bUpdateFW ? uGet8574FWSignatureFromeBin(m_dlg.m_strComboBoxDeviceFirmwareFWBrowse) : FWFILE_NO_SIGNATURE;
    uint8_t* pucPortEnable = m_dlg.m_MainThreadParam.m_ucPortEnable;
    for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
        DevInfo& port = m_devs.Devs[slot];
        if (port.m_ucPortIndex == DEV_PORT_INDEX_EMPTY || port.m_strFWVersion.empty()) {
            pucPortEnable[slot] = 0;
            port.m_dwWrRdTestSize = 0;
            continue;
        }
        if (port.m_bIsCDROM != 0) {
            // The reload step looks for CD-ROM units up to the highest number seen.
            const int32_t iCDROM = static_cast<int8_t>(port.m_ucCDROMAddress);
            if (iCDROM > pUtility.g_nHighestCDROMNumber.load())
                pUtility.g_nHighestCDROMNumber = iCDROM;
        }
        if (bUpdateFW && !bCmp8574ChipAndFWVersion(port.m_ucChipMajorRev, ucSignature)) {
            m_strChipMismatch += CVIVadeDlg::vSprintf127("%d .", port.m_ucPortIndex);
            m_bChipMismatch = true;
            continue;
        }
        ++m_ucThreadCount;
        if (port.m_ullCapacity != DEV_CAPACITY_UNKNOWN)
            ++m_ucDiskCount;
        pucPortEnable[slot] = 1;
        port.m_dwWrRdTestSize = m_dwWrTestSize;
    }
}

// A line script reads the run's exit code as "every drive on the bench was
// programmed". A drive the scan met but could not identify (or number), one
// past the table's last record, or one whose firmware version could not be
// read, would silently stay as it is: the unattended run is refused instead.
// In the window the operator sees the table.
bool CStart::bEveryDriveTakesPart()
{
    int nLeftOut = m_devs.m_ucUnidentified;
    for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
        const DevInfo& port = m_devs.Devs[slot];
        if (port.m_ucPortIndex != DEV_PORT_INDEX_EMPTY && m_dlg.m_MainThreadParam.m_ucPortEnable[slot] != 1)
            ++nLeftOut;
    }
    if (nLeftOut == 0)
        return true;
    vShow(CVIVadeDlg::vSprintf127("%d drive(s) on the bus are not in the run (not identified, past the table, "
                                  "or no firmware version read): the run is refused",
                                  nLeftOut));
    m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_REFUSED;
    return false;
}

// Every taking-part port's images: the USB-3 image of config_format (through
// the device object's templates and current image) into m_ucU3Config, and
// with formats 3 and 4 the USB4 image into m_ucU4Config.
bool CStart::bBuildImages()
{
    CKrvnUSBDev& device = g_UsbDev;
    std::memset(device.m_ucConfigTable, 0xFF, sizeof device.m_ucConfigTable);
    std::memset(device.m_ucU4ConfigTable, 0xFF, sizeof device.m_ucU4ConfigTable);

    // The USB-3 identity comes from the window as the operator sees it.
    const IniRecord iniImage = m_dlg.stWithWindowIdentity(m_ini);
    U4ConfigTexts texts = m_dlg.stWindowU4Texts();
    const uint8_t ucFormat = m_ini.config_format;
    const EConfigLayout eLayout = eConfigLayoutOf(ucFormat);
    const uint8_t ucDeviceCount = static_cast<uint8_t>(m_nTargets);

    for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
        DevInfo& port = m_devs.Devs[slot];
        if (port.m_ucPortIndex == DEV_PORT_INDEX_EMPTY || port.m_strFWVersion.empty())
            continue;
        const bool bTrace = m_dlg.dlgProfile().bShowStatusTrace;
        const ConfigTableSource source{static_cast<uint8_t>(slot), m_dlg.m_strEnteredSerialNumber, port.m_strHDDSN,
                                       bTrace, bTrace};
        ConfigTableResult result;
        switch (eLayout) {
        case EConfigLayout::eLayoutA:
            result = BuildConfigTable(iniImage, source, device.m_ucConfigTableTemplate[0]);
            std::memcpy(device.m_ucConfigTable, device.m_ucConfigTableTemplate[0], sizeof device.m_ucConfigTable);
            break;
        case EConfigLayout::eLayoutB:
            result = BuildConfigTable(iniImage, source, device.m_ucConfigTableTemplate[2]);
            std::memcpy(device.m_ucConfigTable, device.m_ucConfigTableTemplate[2], sizeof device.m_ucConfigTable);
            vBuildU4ConfigForPort(m_ini, texts, port, ucDeviceCount, static_cast<uint8_t>(slot),
                                  device.m_ucU4ConfigTableTemplate, m_dlg.dlgProfile().u4ComponentID);
            std::memcpy(device.m_ucU4ConfigTable, device.m_ucU4ConfigTableTemplate, sizeof device.m_ucU4ConfigTable);
            break;
        case EConfigLayout::eInvalid:
            result = BuildConfigTable(iniImage, source, device.m_ucConfigTable);
            break;
        case EConfigLayout::eNone:
            break;
        }
        if (result.bSerialOverflow) {
            vShow(CVIVadeDlg::vSprintf127("SN [%s] cannot count up %d more without wrapping around: port %d would "
                                          "repeat a serial number",
                                          iniImage.serial_number.c_str(), slot, port.m_ucPortIndex));
            return false;
        }
        device.vSetMConfigInfo(0, ucFormat);
        std::memcpy(port.m_ucU3Config, device.m_ucConfigTable, sizeof port.m_ucU3Config);
    }
    // The window shows the component ID the drives get.
    m_dlg.m_strEditU4ComponentID = texts.m_strU4ComponentID;
    if (!bImagesWritable())
        return false;
    if (eLayout == EConfigLayout::eLayoutA || eLayout == EConfigLayout::eLayoutB)
        return bSerialsDistinct();
    return true;
}

// A worker writes each port's image as Start left it, except with format 0,
// where it writes back what the bridge itself holds. Anything but a built
// image (its fixed byte, its mark and its checksum in place) would replace
// the bridge's configuration with bytes it cannot use: such a run is refused.
bool CStart::bImagesWritable()
{
    if (m_ini.config_format == 0)
        return true;
    for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
        const DevInfo& port = m_devs.Devs[slot];
        if (port.m_ucPortIndex == DEV_PORT_INDEX_EMPTY || port.m_strFWVersion.empty())
            continue;
        ConfigImage ucImage;
        std::memcpy(ucImage, port.m_ucU3Config, sizeof ucImage);
        if (ucImage[CONFIG_FIXED_OFFSET] == CONFIG_FIXED_BYTE && ucImage[CONFIG_MARK_OFFSET] == CONFIG_U3_MARK &&
            ucImage[CONFIG_CHECKSUM_OFFSET] == ucConfigChecksum(ucImage))
            continue;
        vShow(CVIVadeDlg::vSprintf127("config_format [%d] builds no configuration image for port %d: nothing is "
                                      "written",
                                      m_ini.config_format, port.m_ucPortIndex));
        m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION;
        return false;
    }
    return true;
}

// The serial numbers must count: before the images are built, a kept
// prefix must leave digits to count; after, the window's serial number
// (and component ID) must not wrap around by the end of the run, or the
// next run would write the numbers this one starts with.
bool CStart::bSerialsCount(bool bAfterBuild)
{
    const IniRecord& ini = m_ini;
    const bool bRemainRule = (ini.SN_EditType == 1 || ini.SN_EditType == 2) && ini.SN_remain_value_enable != 0;
    if (!bAfterBuild && !bRemainRule)
        return true;
    const std::string strRefusal = m_dlg.strSerialCountRefusal(m_ucThreadCount);
    if (strRefusal.empty())
        return true;
    vShow(strRefusal);
    m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_REFUSED;
    return false;
}

// The waits of the run, in seconds, where a line can mean them. Outside, a
// run sleeps for years (a re-link cycle waits the device count times
// Reload_Waiting, five times over) or gives up before any bridge is back.
bool CStart::bCheckWaits()
{
    struct Wait {
        const char* pszKey;
        int32_t iValue;
        int32_t iMin;
        int32_t iMax;
        bool bUsed;
    };
    const bool bPcie = g_PcieCtrl.ucTargetCount() > 0;
    const Wait waits[] = {
        {"Reload_Waiting", m_ini.Reload_Waiting, RELOAD_WAITING_MIN_S, RELOAD_WAITING_MAX_S,
         m_devs.m_bDoReload == 1 && !m_dlg.dlgProfile().bWaitingResetReload},
        {"uiRemove_after_finish", m_ini.uiRemove_after_finish, 0, REMOVE_AFTER_FINISH_MAX_S,
         m_devs.m_bAutoSafeRemove == 1},
        {"PCIE_SSDRelinkTime", m_ini.PCIE_SSDRelinkTime, 0, SSD_RELINK_TIME_MAX_S, bPcie && m_devs.m_bDoReload == 1},
    };
    for (const Wait& wait : waits) {
        if (!wait.bUsed || (wait.iValue >= wait.iMin && wait.iValue <= wait.iMax))
            continue;
        vShow(CVIVadeDlg::vSprintf127("%s [%d] is no wait of a run: it must be %d to %d seconds", wait.pszKey,
                                      wait.iValue, wait.iMin, wait.iMax));
        m_iExitCode = CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION;
        return false;
    }
    return true;
}

// No two ports of a run may carry one serial number (an image without one,
// all 0xFF, carries none).
bool CStart::bSerialsDistinct()
{
    const auto serial = [this](int slot) { return m_devs.Devs[slot].m_ucU3Config + CONFIG_SERIAL_OFFSET; };
    const auto built = [this](int slot) {
        const DevInfo& port = m_devs.Devs[slot];
        return port.m_ucPortIndex != DEV_PORT_INDEX_EMPTY && !port.m_strFWVersion.empty();
    };
    for (int a = 0; a < MAX_DEV_SLOTS; ++a) {
        if (!built(a) || bAllFF(serial(a), CONFIG_SERIAL_LENGTH))
            continue;
        for (int b = a + 1; b < MAX_DEV_SLOTS; ++b) {
            if (!built(b) || std::memcmp(serial(a), serial(b), CONFIG_SERIAL_LENGTH) != 0)
                continue;
            const uint8_t* pucSerial = serial(a);
            const std::string strSerial(pucSerial, std::find(pucSerial, pucSerial + CONFIG_SERIAL_LENGTH, 0xFF));
            vShow(CVIVadeDlg::vSprintf127("SN [%s] would be written to port %d and port %d", strSerial.c_str(),
                                          m_devs.Devs[a].m_ucPortIndex, m_devs.Devs[b].m_ucPortIndex));
            return false;
        }
    }
    return true;
}

// Only formats 3 and 4 carry the relink signature by which a reset bridge is
// found again, so only they may reload.
void CStart::vPrepareReload()
{
    // The waiting reset looks for the signature each worker writes itself,
    // whatever the format; it keeps no relink table.
    if (m_dlg.dlgProfile().bWaitingResetReload)
        return;
    if (m_ini.config_format != 3 && m_ini.config_format != 4) {
        m_ini.fw_reload = 0;
        m_devs.m_bDoReload = 0;
        m_dlg.setCheck(IDC_CHECK_RELOAD_FW, 0);
    }
    if (m_devs.m_bDoReload == 1) {
        m_dlg.vResetPortStatusTable();
        m_dlg.m_iRelinkCount = m_nTargets;
    }
    // The engineering reset ("RST") takes this count as its probe limit;
    // without reload it keeps the last reload run's count or its reset value.
}

// Each taking-part port's own record of the run: its row, the drive as the
// scan found it with the images just built for it, and what the window asks
// of it. The workers read these, never the table's slots a rescan refills.
void CStart::vMakePortRecords()
{
    const CPortRunInputs inputs = m_dlg.stPortRunInputs();
    const uint8_t* pucPortEnable = m_dlg.m_MainThreadParam.m_ucPortEnable;
    for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
        CPortRun& run = m_dlg.m_PortRun[slot];
        run = CPortRun();
        if (pucPortEnable[slot] != 1)
            continue;
        run.m_bTakesPart = true;
        run.m_Device = m_devs.Devs[slot];
        run.m_ucRow = run.m_Device.m_ucPortIndex;
        run.m_Inputs = inputs;
    }
    // The last run's workers were joined by their supervisor; their objects
    // go here, on the GUI thread, not on a thread of the new run.
    for (auto& pWorker : m_dlg.m_pChildThread)
        pWorker.reset();
    m_dlg.m_Threads.vForgetEnded();
}

}  // namespace

bool CVIVadeDlg::bTakeRunToken()
{
    if (m_bRunning.load() != 0)
        return false;
    // A removal parks the drives of the table: a run must not start on them.
    if (pUtility.m_bSafelyRemoving.load() == 1 || (m_pRemoveThread && m_pRemoveThread->bIsRunning()))
        return false;
    // Taken under the scan lock, without waiting for it: while a scan walks
    // (it holds the lock) Start refuses; a scan that takes the lock later
    // finds the token and leaves the table to the run.
    std::unique_lock<krv::WaitableMutex> scanLock(pUtility.m_ScanCriticalSection, std::try_to_lock);
    if (!scanLock.owns_lock())
        return false;
    return m_bRunning.exchange(1) == 0;
}

void CVIVadeDlg::OnBnClickedButtonStart()
{
    if (bExitStarted())
        return;
    if (!bTakeRunToken()) {
        vDEBUG_ERR_printf("%s:%d: a run, a scan or a safe removal is under way: Start ignored", kWho, __LINE__);
        return;
    }
    CStart start(*this);
    EStartEnd eEnd = EStartEnd::eRefused;
    try {
        eEnd = start.eRun();
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: %sdwErrorCode %d", kWho, __LINE__,
                          m_pProfile->bShowStatusTrace ? START_TRACE_PREFIX : "", nLastError());
    }
    // The supervisor gives the token back at the run's end; a start that
    // did not become a run gives it back now.
    if (eEnd != EStartEnd::eStarted || !m_pMainThread)
        m_bRunning = 0;
    if (eEnd == EStartEnd::eRefused && m_iRunMode.load() == 0)
        vCmdLineClose(start.iExitCode(), nullptr);
}
