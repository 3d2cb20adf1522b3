#pragma once
// The main window of the production tool and the hub of the whole program,
// in GUI mode and, hidden, in command-line mode: it owns the device table,
// the run's threads, the window's controls and the run mode; every other
// thread reaches it through g_pMainDlg, with synchronous GUI calls and
// commands by id (1 Exit, 1022 Start, 1023 Safely Remove).
//
// Its methods, one concern per source file:
//   VIVadeDlg.cpp              construction, the run state's reset, keys,
//                              dragging, the small buttons, the data exchange
//   VIVadeDlgExit.cpp          the exit path (OK and close) and the thread stop
//   VIVadeDlgLayout.cpp        the window's controls and their layout
//   VIVadeDlgStartup.cpp       start-up (OnInitDialog), Load INI, the debug
//                              option, the one-instance rule
//   VIVadeDlgTexts.cpp         captions, combo items, button styles
//   VIVadeDlgSettingsView.cpp  the settings shown in the window
//   VIVadeDlgPower.cpp         the power scheme
//   VIVadeDlgResults.cpp       the results table and the progress
//   VIVadeDlgLock.cpp          the settings lock and the control enable sets
//   VIVadeDlgDeviceChange.cpp  device-change notices and the rescan decision
//
// Threads: the results-table, progress and enable-set operations may be
// called from any thread; they run on the GUI thread, and a caller that is
// one of the window's worker threads gives up its wait when it is asked to
// stop. Everything else runs on the GUI thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <QFont>
#include <QPoint>

#include "app/DeviceCfgDlg.h"
#include "app/LimitationTable.h"
#include "app/MainDlgProfile.h"
#include "app/PCIEUSBConfigDlg.h"
#include "app/USB4MoreConfigDlg.h"
#include "app/VIVadeDlgDeviceChange.h"
#include "app/VIVadeDlgIds.h"
#include "app/VIVadeDlgThreads.h"
#include "app/run/PortRun.h"
#include "device/ControlTextWindow.h"
#include "device/DevList.h"
#include "device/PowerDelivery.h"
#include "ui/Colors.h"
#include "ui/Dialog.h"

class CListCtrlEx;
class CPDUpdateDlg;
struct CPortWork;
class CTextProgressCtrl;
class CColorStaticST;
class QComboBox;
class QLineEdit;

namespace krv::ui {
class FilePickers;
class MessageBoxPresenter;
}  // namespace krv::ui

using LRESULT = intptr_t;

// The production tool's window title and version text.
constexpr const char* VIVADE_TITLE_TEXT = "Korvane 8574PD VIVade Ver 1, 0, 5, 4 (1.0.1.4) (1.0.0.10)";
// The settings file in the program folder.
constexpr const char* VIVADE_INI_FILE = "kv_mp_Toolv0.6.ini";
// The scheme start-up activates while the tool runs.
constexpr const char* POWER_SCHEME_HIGH_PERFORMANCE = "8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c";
// Command-line exit code of an instance that found another one running.
constexpr int32_t CMDLINE_EXIT_ALREADY_RUNNING = -5;
// The debounce period of the rescan timer after device-change notices.
constexpr uint32_t RESCAN_DEBOUNCE_MS = 2000;
// Its period while a scan or a run is busy, and for a change no walk has
// looked at yet.
constexpr uint32_t RESCAN_BUSY_MS = 800;
// SN_EditType "3.From Barcode": the serial number is typed or scanned for
// the drives that arrive.
constexpr uint8_t SN_EDIT_TYPE_FROM_BARCODE = 3;

// Colour modes of a results cell.
enum : uint8_t {
    CELL_MODE_GREEN = 1,
    CELL_MODE_RED = 2,
    CELL_MODE_BLUE = 3,
    CELL_MODE_ORANGE = 4,
    CELL_MODE_PURPLE = 5,
    CELL_MODE_PLAIN = 6,
};

// The results table's columns.
enum : uint8_t {
    RESULT_COL_PORT = 0,
    RESULT_COL_STATUS = 1,
    RESULT_COL_VID = 2,
    RESULT_COL_PID = 3,
    RESULT_COL_SN = 4,
    RESULT_COL_FW = 5,
    RESULT_COL_CC = 6,
    RESULT_COL_U4_MODE = 7,
    RESULT_COL_CAPACITY = 8,
    RESULT_COL_UPDATE = 9,
    RESULT_COL_RELINK = 10,
    RESULT_COL_PARTITION = 11,
    RESULT_COL_RW_TEST = 12,
    RESULT_COL_PRELOAD = 13,
    RESULT_COL_PD = 14,
};

class CVIVadeDlg : public krv::ui::Dialog {
    Q_OBJECT
public:
    // Called at the end of the exit path in command-line mode with the run's
    // exit code, and in GUI mode with 0 when a thread would not stop. The
    // default leaves the modal loop with the code, so the program shuts down
    // in order and returns it; when a thread would not stop it ends the
    // process at once instead, so nothing is torn down under a running
    // thread.
    using EndProcessFn = std::function<void(int iExitCode)>;
    // Asks the operator for the settings password; true when it was right.
    using LoginPromptFn = std::function<bool()>;

    // Builds the window with all its controls; needs the platform.
    explicit CVIVadeDlg(QWidget* parent = nullptr);
    ~CVIVadeDlg() override;

    // ---- set up by the application before the window starts ----
    void vSetProgramName(const std::string& strName) { m_strProgramName = strName; }
    // What this program's window does differently (the production tool's
    // unless set); before OnInitDialog.
    void vSetDlgProfile(const MainDlgProfile& profile) { m_pProfile = &profile; }
    const MainDlgProfile& dlgProfile() const { return *m_pProfile; }
    // Not owned; either may be null (tests).
    void vSetPresenters(krv::ui::MessageBoxPresenter* pMessages, krv::ui::FilePickers* pPickers);
    void vSetEndProcess(EndProcessFn fn);
    void vSetLoginPrompt(LoginPromptFn fn) { m_fnLoginPrompt = std::move(fn); }
    // How long the exit path waits for the threads to stop (real ms).
    void vSetStopJoinMs(uint32_t dwRealMs) { m_dwStopJoinMs = dwRealMs; }
    krv::ControlTextWindow* pTextWindow() { return &m_TextWindow; }

    // Start-up, then the window (shown in GUI mode, hidden in command-line
    // mode) until the exit path ends it. The result is the exit code the
    // exit path ended with (0 in GUI mode).
    int DoModal();
    // Start-up of the window (see VIVadeDlgStartup.cpp). Always TRUE.
    bool OnInitDialog();

    // ---- lifetime and exit (Part of the window object) ----
    void vInitialPrivateData();
    // The one shutdown path (Exit button, command 1 from any thread, window
    // close): see VIVadeDlgExit.cpp.
    void OnBnClickedOk();
    void OnClose();
    // Stops the run threads (automatic, port workers, supervisor) and joins
    // them; returns 1.
    bool bDeleteAllThread();
    bool bExitStarted() const { return m_bExitStarted.load(); }
    void OnBnClickedButtonMin();
    void OnBnClickedButtonClearcount();
    void OnAboutBox();
    // The window's values to the members (bSaveAndValidate) or back; false
    // when a text is longer than its field takes.
    bool UpdateData(bool bSaveAndValidate = true);

    // ---- captions, combo items, button styles ----
    void vInitGUITexts();
    void vInitButtonStyles();
    void vSetLockButtonLook(bool bUnlocked);
    void vClearComboList();

    // ---- power scheme ----
    void vGetWinPwrMode(std::string& strScheme);
    void vSetWinPwrMode(const std::string& strScheme);
    // The scheme named in powercfg's output: the text after "GUID:" on its
    // first line, up to the next blank.
    static std::string strPowerSchemeFromOutput(const std::string& strOutput);

    // ---- start-up and Load INI ----
    void OnBnClickedButtonLoadini();
    // True when the line holds the debug option; takes it out of the line and
    // gives the level it sets (0..4).
    static bool bTakeDebugOption(std::string& strCmdLine, int& nLevel);
    // True for a command line that runs a command-line job (not empty, no
    // debug option).
    static bool bIsCommandLineJob(const std::string& strCmdLine);
    // The same under a program's profile: where a line that is no option
    // leaves the window in GUI mode, only an option (or "/C:" with nothing
    // after it, which ends the program) makes a command-line job.
    static bool bIsCommandLineJob(const std::string& strCmdLine, const MainDlgProfile& profile);

    // ---- the settings in the window ----
    void vSetDeviceDescriptorGUIByINIFile();
    void vSetDeviceFunctionGUIByINIFile();
    void vSetDeviceFirmwareGUIByINIFile();
    void vSetPreloadPathGUIByINIFile();
    void vCopyGlobalFlagsToDlg();
    void vSetTargetChipByINIFile();
    void vSetUSB4ConfigGUIByINIFile();
    void vSetEditTextLimits();
    void vResetGUIControls();
    void vClearDeviceDescriptorGUI();
    static std::string strTargetChipCode(const std::string& strTargetChip);

    // ---- the settings edited in the window (VIVadeDlgSettingsEdit.cpp,
    // VIVadeDlgSaveINI.cpp, VIVadeDlgLogin.cpp, VIVadeDlgBrowse.cpp) ----
    // Each edit's change handler: filters what was typed and writes its key.
    void vOnSettingsEditChange(int id);
    // The shared handler of the USB4 identity edits: filters only; their
    // values reach the settings through Save INI.
    void OnUSB4EditChangeForHex(int id);
    // The click handlers of the settings' check boxes and the selection
    // handlers of their combos.
    void vOnSettingsCheckClicked(int id);
    // "W/R Test", "Speed Test" and "USB Status" where the profile lets them
    // switch the run's steps.
    void vOnTestStepBoxClicked(int id, bool bOn);
    void vOnSettingsComboSelChange(int id);
    void OnBnClickedStaticDevicedescriptorSnincHex();
    void OnBnClickedStaticDevicedescriptorSnincDec();
    bool vValidateGUIForSaveINI();
    void OnBnClickedButtonSaveIni();
    // The login dialog, modal; true when it unlocked the settings.
    bool bRunLoginDlg();
    // The serial-number entry dialog, modal on the GUI thread whichever
    // thread asks; true when it ended with OK. Never opens in command-line
    // mode.
    bool bRunInputDlg();
    void OnBnClickedButtonDevicwfirmwareFwbrowse();
    void OnBnClickedButtonDevicwfirmwarePreloadPath();
    void OnBnClickedButton2();
    void OnBnClickedButton3();
    void OnBnClickedButton4();
    void OnBnClickedButtonRst();
    void OnBnClickedButtonPcTest();
    // The engineering buttons of app/VIVadeDlgEngineering.cpp: re-enumerate
    // the device tree, the bridges' PCIe function count, the ITE PD update
    // of slot 0.
    void OnBnClickedButton1();
    void OnBnClickedButtonTest();
    void OnBnClickedButtonPdTest();
    // The SHA-256 key dialog (button 1116, hidden from start-up on), modal;
    // OK takes its "Send initial key" box into the run's key item.
    void OnBnClickedButtonSha256();
    // The configuration check dialog (Check_Config button), modal.
    void OnBnClickedDEBUG();
    // "More Config" and "U4 More Config" where the profile opens the option
    // dialogs: the settings in, the dialog modal, back only on OK.
    void OnBnClickedMoreConfig();
    void OnBnClickedButtonUsb4MoreConfig();
    // The window's texts as images (VIVadeDlgImageButtons.cpp): the
    // settings with the window's USB-3 identity, its USB4 texts, the USB-3
    // image of formats 3/4 and the USB4 image without a relink signature
    // for a port (both also left in the device object's current images),
    // and the buttons that read ("Btn 1", "Btn 2") or write ("Btn3",
    // "Btn4") PCIe target 0's images and firmware with them.
    IniRecord stWithWindowIdentity(const IniRecord& ini) const;
    U4ConfigTexts stWindowU4Texts() const;
    bool bSetUSB3DeviceConfigurationByGUI(uint8_t ucPort, ConfigImage& ucOut);
    bool bBuildUSB4TestConfig(uint8_t ucPort, ConfigImage& ucOut);
    void vPcieImageRead(bool bDword);
    void vPcieImageWrite(bool bDword);

    // ---- results table (any thread) ----
    struct CellColors {
        krv::ui::ColorRef crBack;
        krv::ui::ColorRef crText;
    };
    static CellColors stCellColors(uint8_t ucMode, const std::string& strText);
    static uint8_t ucRowColorMode(const std::string& strUSBSpeed, uint8_t ucU4Mode);
    static std::string strCapacityText(uint64_t ullCapacity);
    static std::string strGetLinkTypeName(uint8_t ucU4Mode);
    static std::string strGetPcieLinkName(uint8_t ucLinkSpeed);
    // At most 127 characters of the formatted text.
    static std::string vSprintf127(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
    void vInitResultTableColumns();
    void vSetMainResultItemTable();
    // ucColumn is the production tool's column (RESULT_COL_*); the profile
    // says where it lands in this program's table.
    void vUpdateMainResultItemTable(uint8_t ucRow, uint8_t ucColumn, const std::string& strText, uint8_t ucMode);
    void vClearMainResultSubItemTable();
    void vClearMainResultSubItemStatusTable();
    // Columns 1-8 and 14 of every row: the drive's link and identity.
    void vClearMainResultIdentityTable();
    void vUpdateMainResultSubItemTable(uint8_t ucClear);
    // The link and identity cells of row ucSlot from what a device showed
    // when it came back from its reset.
    void vUpdateUsbModeColumns(uint8_t ucSlot, const PortRelinkInfo& entry);
    void vResetProgress();
    // The run's progress figure: the "Progress" text, and the text on the
    // run's bar, whose own position only shows that the run is alive.
    void vShowRunProgress(const std::string& strPercent);
    void vResetPortStatusTable();

    // ---- settings lock and enable sets (any thread) ----
    void vSetLockedGUI();
    void vSetUnlockedGUI();
    // The set that fits the lock and auto_mp after a load, scan, run or removal.
    void vSetGUIByLockState();
    void vDisableRunControls();
    void vSetDescriptorControlsByFW();
    void vDisableDescriptorControls();
    void vSetFirmwareControlsByFW();
    void vSetFormatControlsByINI();
    void vDisableFormatControls();
    void vEnableUSB4Controls();
    void vDisableUSB4Controls();
    void OnBnClickedButtonUnlockVivade();

    // ---- the production run ----
    // VIVadeDlgStart.cpp: Start and its pre-checks. VIVadeDlgRun.cpp: the run
    // supervisor. VIVadeDlgPortWorker.cpp: the port workers. VIVadeDlgRelink.cpp:
    // finding reset bridges again. VIVadeDlgRemove.cpp: the safe removal.
    void OnBnClickedButtonStart();
    // Takes the run token (GUI thread); false while a run, a walking scan or
    // a safe removal is under way.
    bool bTakeRunToken();
    // Whether the run may reload with the drives the last scan found and
    // nPcieTargets PCIe targets; a refusal tells the operator why
    // (ReloadAvailability.cpp).
    bool bIsReloadAvailable(int nPcieTargets);
    // Starts the supervisor on m_MainThreadParam (GUI thread, from Start).
    void vStartMainThread();
    int MainThreadFun(MainThreadParam* pParam, const krv::StopSource& stop);
    int ChildThreadFun(ChildThreadParam* pParam, const krv::StopSource& stop);
    void vMatchRelinkedDevices();
    // The disk steps of a port worker (VIVadeDlgPortDiskSteps.cpp): partition
    // and format with the partition barrier, the write/read test with the
    // speed test, the preload.
    void vChildStepFormat(CPortWork& work);
    void vChildStepWrRdTest(CPortWork& work);
    void vChildStepPreload(CPortWork& work);
    // A cell of the port's row: PASS or FAIL by ucPass.
    void vSetStepCell(const CPortWork& work, uint8_t ucColumn, uint8_t ucPass);
    // Waits, polling every dwPollMs, until the enabled ports for which
    // bArrived holds, or whose worker has ended, number the run's thread
    // count. False when the stop request came first.
    bool bWaitForPorts(CPortWork& work, uint32_t dwPollMs, const std::function<bool(const ChildThreadParam&)>& bArrived);
    void OnBnClickedButtonSafelyRemove();
    int USBRemoveThreadFun(const krv::StopSource& stop);

    // What every port of the run reads of the window and the settings (Start,
    // GUI thread).
    CPortRunInputs stPortRunInputs();

    // Stores the serial numbers of a run of ucCount ports as used before the
    // first is written (GUI thread, from Start): a stop, a crash or a kill
    // may then skip serial numbers, never hand one out twice. False when the
    // settings file could not be written.
    bool bReserveSerialNumbers(uint8_t ucCount);
    // Why a run of ucCount ports cannot count its serial numbers (Start, GUI
    // thread): a kept prefix that leaves no digit to count, or a serial
    // number (or component ID) that would wrap around by the run's end.
    // Empty when it can.
    std::string strSerialCountRefusal(uint8_t ucCount);

    // ---- device-change notices ----
    void vRegisterDeviceNotification();
    void vUnRegisterDeviceNotification();
    LRESULT OnUSBDeviceChange(uint32_t wParam, const DEV_BROADCAST_DEVICEINTERFACE* pHdr);

    // ---- the scan and the command line: defined with the scan thread ----
    // Requests a scan (GUI thread). Virtual so that a test can watch the
    // requests.
    virtual void TriggerScanThread();
    // Reads the command-line option (start-up, GUI thread).
    virtual void vCmdLinePreHandler(const std::string& strCmdLine);

    // ================= members =================
    // run mode
    std::atomic<int32_t> m_iCmdIndex{-1};
    std::atomic<int32_t> m_iExitCode{0};
    std::atomic<int32_t> m_iRunMode{1};  // 1 GUI, 0 command line
    std::string m_strSavedPowerScheme;
    std::string m_strCmdLine;
    std::string m_strProgramName = "KRV857xVIVade";

    // files
    std::string m_strINIFilePath;
    std::string m_strLimitationTablePath;
    std::atomic<int32_t> m_bLimitationTableLoaded{0};
    CLimitationTable m_LimitationTable;
    // The firmware path of the firmware combo; whether the file was there
    // before the tool made one from a device, and, when the tool made it,
    // exactly which file that is (the only file the exit path may delete).
    std::string m_strComboBoxDeviceFirmwareFWBrowse;
    // Makes the firmware file of the one USB device (its firmware, named by
    // its version, in the current folder) unless it is there; the name goes
    // into strName. Always true, as its caller never asks.
    bool bFindFWFileForDevice(std::string& strName);
    // The same for a PCIe target (target 0).
    bool bFindFWFileForDevice2(std::string& strName);
    uint8_t m_bFWFileExisted = 1;
    std::string m_strFWFileMadeByTool;
    std::string m_strComboBoxDeviceFunctionPreloadPath;

    // target chip, device table, run records
    std::string m_strTargetChipCode = "0";
    DevList m_DevList;
    PortRelinkInfo m_PortRelinkInfo[MAX_DEV_SLOTS];
    int32_t m_iRelinkCount = RELINK_COUNT_RESET;
    uint8_t m_ucSavedItems[8] = {};
    MainThreadParam m_MainThreadParam;
    ChildThreadParam m_ChildThreadParam[MAX_DEV_SLOTS];
    // Each port's own record of the run (app/run/PortRun.h), made by Start.
    CPortRun m_PortRun[MAX_DEV_SLOTS];
    // The option dialogs (VIVadeDlgOptions.cpp), kept with their values
    // between opens. The PCIe/USB dialog's option block is the working copy
    // of its settings.
    PCIEUSBConfigDlg m_PCIEUSBConfigDlg{m_DevList, this};
    USB4_MoreConfig m_USB4MoreConfigDlg{this};
    CDeviceCfgDlg m_DeviceCfgDlg{*this, this};
    // The system's disk count less one, read by Start when the run reloads
    // (0 otherwise): the highest drive number a waiting reset probes, less
    // one.
    std::atomic<int32_t> m_iDiskCountBaseline{0};
    uint8_t m_bCDROMMode = 0;

    // the window's values (UpdateData)
    std::string m_strEditDeviceConfigurationVendorID;
    std::string m_strEditDeviceConfigurationProductID;
    std::string m_strEditDeviceConfigurationDeviceRevision;
    std::string m_strEditDeviceConfigurationSerialNumber;
    std::string m_strEditDeviceConfigurationManufacturerString;
    std::string m_strEditDeviceConfigurationProductString;
    std::string m_strEditDeviceConfigurationT10MString;
    std::string m_strEditDeviceConfigurationP10MString;
    std::string m_strEditDeviceFunctionRemoveSeconds;
    std::string m_strEditDeviceFunctionDriveLabelName;
    std::string m_strEditU4VendorName;
    std::string m_strEditU4ModelName;
    std::string m_strEditU4ComponentID;
    std::string m_strEditU4VendorID;
    std::string m_strEditU4ProductID;
    std::string m_strEditU4TestID;
    std::string m_strEditU4BcdProductFWRevision;
    std::string m_strEditU4ProductHWRevision;
    std::string m_strEditU4MinFW;
    std::string m_strEditTBT3VendorID;
    std::string m_strEditTBT3ModelID;
    std::string m_strEditTBT3ModelRevision;
    std::string m_strEditPCIVID;
    std::string m_strEditPCIDID;
    std::string m_strComboBoxFormat;
    std::string m_strComboBoxFormatType;
    std::string m_strComboBoxUSBStatus;
    std::string m_strEditReadSpeed;
    std::string m_strEditWriteSpeed;
    std::string m_strSpeedTestFileSize;
    // The serial number last taken from the serial-number entry dialog
    // (empty until it has run); Start pads it and a layout-A image carries
    // it in place of the window's serial.
    std::string m_strEnteredSerialNumber;

    // threads: every thread the window starts lives in m_Threads
    CThreadSet m_Threads;
    std::shared_ptr<CWorkerThread> m_pMainThread;
    std::shared_ptr<CWorkerThread> m_pChildThread[MAX_DEV_SLOTS];
    std::shared_ptr<CWorkerThread> m_pAutoThread;
    std::shared_ptr<CWorkerThread> m_pRemoveThread;

    // device-change debounce and the states that silence it
    std::atomic<uint8_t> m_bInputDlgOpen{0};
    // The run token: taken by Start (on the GUI thread, under the scan lock)
    // and given back by the supervisor after the run's last step, the
    // automatic safe removal included. While it is held no scan walks the
    // bus but the run's own re-link rescans, and no other run starts.
    std::atomic<uint8_t> m_bRunning{0};
    // Port workers inside an EEPROM image write (run/EepromWrite.h): the
    // exit waits for them without a bound.
    std::atomic<int> m_nEepromWrites{0};
    std::atomic<uint8_t> m_ucDevChangeCount{0};
    std::atomic<uint8_t> m_bRescanArmed{0};
    std::atomic<uint8_t> m_ucArrivalCount{0};
    uint32_t m_hDevNotify[DEV_NOTIFY_CLASS_COUNT] = {};
    // The run's supervisor registers and unregisters on its own thread, the
    // window on the GUI thread (start-up, exit, its destructor).
    std::mutex m_DevNotifyMutex;

    // the settings lock: 1 = unlocked; and the login in progress, during
    // which no automatic run may start
    std::atomic<uint8_t> m_bChangeMode{0};
    std::atomic<uint8_t> m_bLoginDlgOpen{0};

    // controls with behaviour of their own (owned by the window)
    CListCtrlEx* m_ListMainResult = nullptr;
    CTextProgressCtrl* m_ProgressRun = nullptr;
    CTextProgressCtrl* m_ProgressScan = nullptr;
    CColorStaticST* m_StaticTitle = nullptr;
    QFont m_fontTitle;
    QFont m_font15;

protected:
    void onCommand(int id) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void setVisible(bool visible) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

public:
    // Enter starts a run and Escape removes the drives, both only while Start
    // is enabled (a bar-code scanner ends its input with Enter); otherwise
    // neither does anything. Returns the command a key sends, or 0.
    static int nKeyCommand(int qtKey, bool bStartEnabled);

private:
    class CTextWindow : public krv::ControlTextWindow {
    public:
        explicit CTextWindow(CVIVadeDlg& dlg) : m_dlg(dlg) {}
        void setControlText(int id, const std::string& text) override { m_dlg.setControlText(id, text); }

    private:
        CVIVadeDlg& m_dlg;
    };

    void vCreateControls();
    // Connects the settings' edits, boxes and combos to their handlers.
    void vConnectSettingsHandlers();
    void vEnterCommandLineMode();
    // A job run on the factory settings says so in its trace and message file.
    void vReportFactorySettings(const std::string& strProblem);
    // A command-line job that writes to drives ends with
    // CMDLINE_EXIT_BAD_OPTION when the settings file did not load (true);
    // the others run on the factory settings and say so (false).
    bool bRefuseJobOnFactorySettings(const std::string& strProblem);
    bool bClaimSingleInstance();
    void vFinishExit();
    void vEndModal(int nResult);
    void vDeleteFWFileMadeByTool();
    void vDrainDeviceEvents();
    // fn on the GUI thread, synchronously (see the class comment).
    void vOnGui(const std::function<void()>& fn);
    void vEnable(std::initializer_list<int> ids, bool bOn);
    void vSetReadOnly(int id, bool bOn);
    void vSelectComboIndex(int id, int nIndex);
    int nComboIndex(int id);
    void vSetComboItems(int id, std::initializer_list<const std::string*> items);
    void vSetEditLimit(int id, int nMax);
    bool bChecked(int id);

    krv::ui::MessageBoxPresenter* m_pMessages = nullptr;
    krv::ui::FilePickers* m_pPickers = nullptr;
    const MainDlgProfile* m_pProfile = &MainDlgProfileProduction();
    EndProcessFn m_fnEndProcess;
    LoginPromptFn m_fnLoginPrompt;
    CTextWindow m_TextWindow{*this};
    std::atomic<bool> m_bExitStarted{false};
    std::atomic<bool> m_bAllThreadsJoined{true};
    uint32_t m_dwStopJoinMs = THREAD_STOP_JOIN_MS;
    // When the exit gives up on a thread that will not stop; moved on while
    // an EEPROM write is under way (GUI thread only).
    std::chrono::steady_clock::time_point m_tExitGiveUp{};
    bool m_bExitWaitStarted = false;
    bool m_bExitWaitShown = false;
    bool m_bModalEnded = false;
    int m_nModalResult = 0;
    QPoint m_ptDragStart;
    bool m_bDragging = false;

public:
    // ---- scan thread and command line ----
    // VIVadeDlgScan.cpp: the scan thread, the window's timers 2..5 and the
    // hand-over to the command-line job. VIVadeDlgCmdLine.cpp: the option,
    // the jobs, their exit codes and report files (app/CmdLineReport.h).

    // Command-line jobs: the values of m_iCmdIndex.
    enum : int32_t {
        CMD_JOB_NONE = -1,
        CMD_JOB_USAGE = 0,         // "/?"
        CMD_JOB_CHECK_FW = 1,      // "/C:" and 12 hex digits
        CMD_JOB_START = 2,         // "/S"
        CMD_JOB_U4_DATA = 3,       // "/O4"
        CMD_JOB_VERSION = 4,       // "/V"
        CMD_JOB_DEVICE_INFO = 5,   // "/O"
        CMD_JOB_PCIE_INFO = 6,     // "/PCIE"
        CMD_JOB_POWER_CONFIG = 7,  // "/PC"
        CMD_JOB_CPU_RESET = 8,     // "/RST"
        CMD_JOB_CC = 9,            // "/CC"
        CMD_JOB_SPEED = 10,        // "/SPD"
    };
    // Exit codes of a command-line run; the shell sees them modulo 256.
    static constexpr int32_t CMDLINE_EXIT_OK = 0;
    // A run failed; "/CC" with no orientation; a report not written.
    static constexpr int32_t CMDLINE_EXIT_FAILED = -1;
    static constexpr int32_t CMDLINE_EXIT_FW_DIFFERS = -2;
    static constexpr int32_t CMDLINE_EXIT_REFUSED = -3;
    static constexpr int32_t CMDLINE_EXIT_NO_DEVICE = -4;
    static constexpr int32_t CMDLINE_EXIT_BAD_OPTION = -10;
    static constexpr int32_t CMDLINE_EXIT_CC_FLIP1 = 4;
    static constexpr int32_t CMDLINE_EXIT_CC_FLIP2 = 5;
    static constexpr int32_t UPSTREAM_SPEED_UNKNOWN = 255;
    // The power configuration file "/PC" sends, in the current folder.
    static constexpr const char* CMDLINE_POWER_CONFIG_FILE = "PowerConfiguration.bin";

    struct CCmdLineOption {
        int32_t iCmdIndex = CMD_JOB_NONE;  // CMD_JOB_NONE: the line is no option
        std::string strFWVersion;          // "/C:" only
        bool bEmptyVersion = false;        // "/C:" with no version after it
    };
    // The whole line must be exactly one option, in its case (the
    // production tool's options, or the given ones).
    static CCmdLineOption stParseCmdLine(const std::string& strCmdLine);
    static CCmdLineOption stParseCmdLine(const std::string& strCmdLine, std::span<const CmdLineOptionEntry> options);
    // The job of the command index m_iCmdIndex holds (CMD_JOB_NONE: none).
    int32_t iCmdJob() const;
    static const char* pszCmdJobOption(int32_t iCmdIndex);
    static std::string strUsageText();
    // The upstream speed index of "/SPD" (UPSTREAM_SPEED_UNKNOWN when none).
    static int32_t iGetUpstreamSpeed(uint8_t ucU4Mode, uint8_t ucLinkSpeed);

    // Runs the job of m_iCmdIndex, once, and closes the window with its code.
    void vCmdLineHandler();
    void vShowUsage();
    // The reports, into the current folder; false when one was not written.
    bool vCmdWriteU4DataCsv();
    bool vCmdWriteDeviceInfo();
    bool vCmdWriteVersion();
    bool vCmdWritePcieInfo();

    // The PCIe half of the scan (VIVadeDlgPcie.cpp): the targets into the
    // table after the USB devices, the bridges' PCIe functions as PnPUtil
    // lists them (-1 when it cannot), the device tree re-enumerated.
    void vUpdatePcieInfoToDevList();
    int nGet8574PcieCntByPnpUtil();
    bool ScanForHardwareChanges();

    // What a scan reads of the settings and the window, copied on the GUI
    // thread when the scan is requested.
    struct CScanSettings {
        int32_t iPcieScan = 0;
        uint8_t ucAutoMp = 0;
        uint8_t ucAutoMpDevNum = 0;
        int32_t iCmdLineNoDevRetryMax = 0;
        int32_t iCmdLineNoDevDelayms = 0;
        uint8_t ucCDROMMode = 0;
        uint8_t ucSNEditType = 0;
        std::string strTargetChipCode;
        std::string strPcieVendorID;
        std::string strPcieDeviceID;
        uint8_t ucExtUpdateFW = 0;   // the external PD/MCU update switch
        uint8_t ucPDFwEnable = 0;
        uint8_t ucMCUFwEnable = 0;
    };
    // The scan thread's body (nTicket: its place among the requests) and its
    // USB part (the caller of vScanUSBPort holds the scan lock). 1 each.
    int ScanThreadFun(const krv::StopSource& stop, uint64_t nTicket, const CScanSettings& settings);
    int vScanUSBPort(const CScanSettings& settings);
    // The PD controllers (VIVadeDlgPD.cpp): the scan's PD version read into
    // each slot's record, and Start's PD/MCU file checks (false: Start ends).
    void vScanPDVersions(const CScanSettings& settings, int iDevNums);
    bool bPrepareExternalFirmware();
    // The "pd" button: the PD/MCU update dialog, modal.
    void OnBnClickedButtonPd();
    // Start's PD/MCU update window: made anew, modeless and without a
    // parent, from the settings' files and switches; shown beside the run
    // in the window only. False when it could not be made, or when the
    // window there still runs workers.
    bool bCreatePDUpdateWindow();
    // True (logged, and the window brought up) while the PD/MCU update
    // window runs workers: it is then never replaced.
    bool bPDUpdateWindowBusy(const char* pszWho);
    // The PD/MCU update dialog while it has a window (shared: its type is
    // complete only where it is made).
    std::shared_ptr<CPDUpdateDlg> m_pPDUpdateDlg;
    // The main window's PD object, shared by the scan thread and Start:
    // Start judges the files against what the last scan detected.
    std::unique_ptr<CPowerDelivery> m_pPowerDelivery = std::make_unique<CPowerDelivery>();
    std::mutex m_PowerDeliveryMutex;
    // The window's timers 2 (scan progress), 3 (rescan decision), 4
    // (command-line give-up) and 5 (command-line retry).
    void OnTimer(int nIDEvent);
    void vKillTimerIfAny(int nIDEvent);  // 0: the program has no such timer
    void onTimer(int id) override;
    // A scan has been accepted and has not finished its follow-up yet.
    bool bScanActive() const;

    std::string m_strCmdFWVersion;
    std::atomic<int32_t> m_iRescanCount{0};
    // Byte 1 of the scan parameter: 1 when a scan starts, 8 when it is done.
    std::atomic<uint8_t> m_ucScanPhase{0};
    std::shared_ptr<CWorkerThread> m_pScanThread;  // GUI thread only

private:
    struct CScanFollowUp;
    CScanSettings stScanSettings() const;
    // GUI thread: the settings' CD-ROM mode to the device object.
    void vApplyCDROMModeToDevice();
    void vScanUnderLock(const CScanSettings& settings);
    void vScanPcie(const CScanSettings& settings);
    // The firmware file of the one device's image, read (bRead) or not.
    bool bFWFileOfImage(const char* pszWho, bool bRead, const std::vector<uint8_t>& image, std::string& strName);
    // "%X" of a PCIe id setting; 0 when it holds no hexadecimal number.
    static uint16_t wPcieIdSetting(const std::string& strText);
    void vAfterScan(const krv::StopSource& stop, const CScanSettings& settings, CScanFollowUp& followUp);
    void vEndScan(uint64_t nTicket, const CScanSettings& settings, const CScanFollowUp& followUp);
    void vUnregisterScan(bool& bRegistered);
    void vSetScanWaiting(bool& bWaiting, bool bOn);
    // False when the stop request came first.
    bool bWaitForEarlierScans(const krv::StopSource& stop, uint64_t nTicket);
    void vCmdLineClose(int32_t iExitCode, const krv::StopSource* pStop);
    void vChildStepUSBCheck(CPortWork& work, const CPortRunInputs& inputs);
    void vChildStepSHA256Key(CPortWork& work);
    void vChildStepUpdate(CPortWork& work, const CPortRunInputs& inputs);
    // The waiting reset's relink signature into a USB4 image about to be
    // written; the update step's result, line, cell and share.
    void vSignU4BeforeWrite(const CPortWork& work, uint8_t (&ucU4Config)[DEV_CONFIG_SIZE]);
    void vEndUpdateStep(CPortWork& work);
    // The update and the reset of a port whose bridge is a PCIe target
    // (VIVadeDlgPortPcie.cpp); its index among the targets.
    void vChildStepUpdatePcie(CPortWork& work, const CPortRunInputs& inputs);
    bool bChildPcieReset(CPortWork& work);
    uint8_t ucPcieIndex(uint8_t ucSlot) const;
    void vChildStepReload(CPortWork& work, const CPortRunInputs& inputs);
    // The reload of a program whose profile waits at the reset
    // (VIVadeDlgWaitingReset.cpp).
    void vChildStepWaitingReset(CPortWork& work, const CPortRunInputs& inputs);
    // Its PCIe reset with the read-back of the target (VIVadeDlgPcieRelink.cpp),
    // and the table's rows refreshed after a port's bridge is back.
    uint8_t ucChildPcieWaitingReset(CPortWork& work, const CPortRunInputs& inputs);
    void vRefreshRowsAfterRelink(CPortWork& work);
    void vChildStepConfigCheck(CPortWork& work, const CPortRunInputs& inputs);
    // The rescan of a re-link (the caller holds the scan lock).
    void vRescanForRelink(const CScanSettings& settings);
    // Whether a device with the signature sits at the port's place; its slot
    // goes to nSlot.
    bool bFoundRelinkSignature(uint8_t ucSig0, uint8_t ucSig1, const CPortWork& work, int& nSlot) const;
    // One re-link cycle of a port: rescan, search, match, under the scan
    // lock. The slot its device came back in, or -1.
    int nRelinkCycle(CPortWork& work, PortRelinkInfo& entry);
    bool bFindRelinkedSlotAgain(CPortWork& work, const PortRelinkInfo& entry);
    // The end of a run (VIVadeDlgRun.cpp): 1 every port passed, 2 one failed.
    uint8_t ucEndOfRun(MainThreadParam* pParam, bool bSavedItems, const krv::StopSource& stop);
    void vAdvanceSerialNumber(uint8_t ucThreadCount);
    // The serial number and USB4 component ID the window's would become after
    // ucCount ports (GUI thread); false when the run does not advance them.
    // *pbWrapped: the counted serial number went past its largest value;
    // *pbIDWrapped: the component ID did.
    bool bNextSerialNumbers(uint8_t ucCount, std::string& strSerial, std::string& strComponentID,
                            bool* pbWrapped = nullptr, bool* pbIDWrapped = nullptr);
    // Gives the run token back and lets the controls show what is allowed.
    void vEndRunControls();
    // Asks every enabled port's worker that has not finished to stop, joins
    // it and logs it as stopped from pszWhere.
    void vStopRunningWorkers(MainThreadParam* pParam, std::shared_ptr<CWorkerThread> (&workers)[MAX_DEV_SLOTS],
                             const char* pszWhere);
    // Waits for a thread that was asked to stop: up to dwBoundMs, and
    // without a bound while a port's EEPROM write is under way (the bound
    // counts again from its end), so a worker is never left writing on its
    // own. True when the thread is joined.
    bool bJoinStopped(CWorkerThread& thread, uint32_t dwBoundMs);
    void vCmdLineGiveUp();
    void vSetScanProgress(int nPos);
    int nDevicesFound() const;

    // The scans from their request to the end of their follow-up, by ticket
    // (the order of their requests); how many are registered (request until
    // the walk is done) and waiting (start delay over until the scan lock is
    // left). All guarded by m_ScanStateMutex.
    mutable std::mutex m_ScanStateMutex;
    std::condition_variable m_cvScanEnded;
    std::set<uint64_t> m_setScansUnderWay;
    uint64_t m_nNextScanTicket = 1;
    int m_nScansRegistered = 0;
    int m_nScansWaiting = 0;
    bool m_bGiveUpPending = false;
    // Scan requests (carried out or not) and device changes that asked for
    // one while a run held the table, counted on the GUI thread; and that
    // count as the last walk began (written by the scan thread under the
    // scan lock). A difference is a change no walk has looked at: a request
    // dropped while a walk was under way, one a run's token turned away.
    // The rescan timer then scans once nothing is busy.
    std::atomic<uint64_t> m_nScanAsks{0};
    std::atomic<uint64_t> m_nScanAsksAtWalk{0};
    // A device change that asked for a scan the run's token turned away:
    // counted, and looked at again by the rescan timer.
    void vNoteChangeNotScanned();
    // Arms the rescan timer unless it is armed already.
    void vLookAgainLater();
    bool bChangeNotScanned() const { return m_nScanAsks.load() != m_nScanAsksAtWalk.load(); }
    std::atomic<bool> m_bCmdJobStarted{false};
};

// The one main window, from before it starts until the program leaves it;
// set and cleared on the GUI thread while no other thread of the window runs.
extern CVIVadeDlg* g_pMainDlg;
