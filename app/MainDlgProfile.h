#pragma once
// What the main window does differently in each of the two programs built
// from this tree: its title, its command-line options and jobs, what its
// command line does when no drive is there, which of the production tool's
// start-up steps it takes, and its results table. The window reads its
// profile at the few places the programs part; `main` picks one.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "app/ResultColumns.h"
#include "app/ToolDlgProfile.h"
#include "app/U4ConfigTable.h"

struct DevList;

// One command-line option: the text the line must hold, the length the
// whole line must have, the command index it sets (what the window logs and
// keeps) and the job that index runs.
struct CmdLineOptionEntry {
    const char* pszOption;
    size_t nLength;
    int32_t iCmdIndex;
    int32_t iJob;
};

constexpr uint8_t RESULT_COLUMN_NONE = 0xFF;

// The window's timer ids besides the scan's progress (2), which both
// programs share. 0: the program has no such timer.
struct MainDlgTimerIds {
    int iRescan;          // the rescan decision after a scan or device notices
    int iCmdLineGiveUp;   // a command-line run that found no drive gives up
    int iCmdLineRetry;    // a command-line run that found no drive scans again
    // Armed by the command-line parser for CmdLineTimeOut seconds; its
    // firing does nothing (the run ends with its first scan).
    int iCmdLineIdle;
};

struct MainDlgProfile {
    const char* pszTitle;                          // the title static's text
    std::span<const CmdLineOptionEntry> options;   // in the order they are tested
    // A line that is no option: true ends the program with the bad-option
    // code; false leaves the window in GUI mode as if no line was given.
    bool bUnknownOptionExits;
    // The first scan of a command-line run that finds no drive ends the
    // program with the no-device code at once (no retry, no give-up wait).
    bool bNoDeviceExitsAtOnce;
    bool bAutoStart;          // a scan that finds auto_mp_DevNum drives starts a run
    bool bPowerScheme;        // start-up switches the power scheme, exit restores it
    bool bLimitationTable;    // start-up reads the limitation table
    // Start asks whether the reload can find the drives again before a run.
    bool bReloadAvailabilityCheck;
    // Start's checks that only the production tool makes: a serial number
    // of at least twelve characters; the question before a run with the
    // factory vendor id; the firmware file made from the one drive's own
    // firmware.
    bool bSerialAtLeast12;
    bool bAskDefaultVendorID;
    bool bFWFileFromDevice;
    // The reload resets each bridge and waits for its drive under the reset
    // lock, probing the drive numbers up to the disk count Start read, and
    // each USB4 image is signed with the run's thread count and the port's
    // slot right before it is written; otherwise the reset is sent without a
    // wait and rescans find the drives by the signature Start built in.
    bool bWaitingResetReload;
    // Start judges only the firmware path's last this many characters as
    // its file name (0: the whole path's file name).
    size_t nFWNameTail;
    // The results table: its columns in insert order, and how many of the
    // first ones get a heading from the GUI texts.
    std::span<const ListColumnPlace> resultColumns;
    int nTitledResultColumns;
    // Where a cell the shared code names by the production tool's column
    // (RESULT_COL_*) lands in this program's table: the column, or
    // RESULT_COLUMN_NONE for a cell this program does not write. Empty: the
    // same column.
    std::span<const uint8_t> resultColumnMap;
    // The option dialogs: whether "More Config" and "U4 More Config" open
    // them (otherwise they do nothing); whether the USB4 one has only its
    // link boxes and CL list; the "LP if Idle" items (index = stored
    // value); whether the option block mirrors the image choice and CRC32
    // besides the thirteen option bytes.
    bool bOptionDialogs;
    bool bU4MoreConfigLinkOnly;
    std::span<const char* const> lpIfIdleItems;
    bool bOptionBlockImages;
    // The tool dialogs' differences.
    ToolDlgProfile toolDlgs{};
    // After a run that advanced the serial number, the window's USB4
    // component id moves on by the run's ports too (edit types 1 and 2).
    bool bAdvanceComponentID = false;
    // The rows' refresh keeps a USB4 link's name ("Gen3x2") in the record's
    // speed text too, where later readers (the report, the status check,
    // the run bar's colour) take it; otherwise only its cell shows it.
    bool bLinkNameIntoSpeedText = false;
    // Start's PD-type rule of the firmware file against the devices found
    // (slots 0 .. count - 1); null: the production tool's.
    bool (*pfnFWmatchPDtype)(const std::string& strFWFileName, const DevList& devList, int nDeviceCount) = nullptr;
    MainDlgTimerIds timers{3, 4, 5, 0};
    // The trace's texts where the programs word it differently: Start's
    // lines carry "OnBnClickedButtonStart: " and its own thread-count and
    // standby-byte lines; the run supervisor writes no progress-bar line and
    // no "= FALSE" lines for a failed port; the scan's start line has no
    // arrival count; the PCIe fill's first line reads "find pcie 8574
    // host:%d", and the fill leaves its records' lane values and PD type as
    // they are (nothing in the variant reads them).
    bool bShowStatusTrace = false;
    // The device-function boxes: "W/R Test", "Speed Test" and "USB Status"
    // keep the operator's choice and switch the run's steps (otherwise they
    // uncheck themselves: only a settings file could turn those steps on,
    // and start-up turns them off); "Reload F/W" unchecks itself and leaves
    // the reload to the settings file (otherwise it stores its state).
    bool bTestBoxesSwitchSteps = false;
    bool bReloadFromSettingsOnly = false;
    // The engineering buttons "Btn 1" to "Btn4" read and write PCIe target
    // 0's images and firmware (otherwise they are the production tool's
    // bench actions on slot 0).
    bool bPcieImageButtons = false;
    // "PD" and "test" do nothing (otherwise they flash slot 0's ITE
    // controller and count the bridges' PCIe functions).
    bool bPDAndTestButtonsIdle = false;
    // Which component ids read back from a drive are placeholders that get
    // a new id, and how the trace names an id the drive keeps.
    U4ComponentIDRule u4ComponentID{};

    // The option entry of a command index, or null.
    const CmdLineOptionEntry* pFindCmdIndex(int32_t iCmdIndex) const;
    // This program's column of the production tool's column.
    uint8_t ucResultColumn(uint8_t ucColumn) const;
};

const MainDlgProfile& MainDlgProfileProduction();
