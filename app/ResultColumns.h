#pragma once
// The two column-header tables of the list controls: the main window's
// results table and the device-information dialog's configuration list. Each
// entry is a column's index, its width in pixels and its title; the titles
// are empty until the table's user fills them (the main window from the GUI
// text table at start-up).
//
// One copy of each table serves the process: only one user ever fills and
// reads each table, so nothing is gained by a copy per source file. The
// results table holds as many entries as the program's window has columns
// (MainResultColumnCount); the program's profile gives them.
//
// The tables are written on the GUI thread only, by their one user.
#include <cstdint>
#include <span>
#include <string>

struct ListColumnHeader {
    uint8_t ucIndex;
    uint8_t ucWidth;
    std::string strTitle;
};

// Where a column goes and how wide it is.
struct ListColumnPlace {
    uint8_t ucIndex;
    uint8_t ucWidth;
};

// The production tool's results table; the largest a program has.
constexpr int MAIN_RESULT_COLUMN_COUNT = 19;
constexpr int CONFIG_SETTING_COLUMN_COUNT = 10;

extern ListColumnHeader MainResultColumns[MAIN_RESULT_COLUMN_COUNT];
extern int MainResultColumnCount;
extern ListColumnHeader ConfigSettingColumns[CONFIG_SETTING_COLUMN_COUNT];

// The production tool's results columns.
std::span<const ListColumnPlace> ProductionMainResultPlaces();

// Puts both tables back to their indexes and widths with empty titles, the
// results table to `mainResult` (at most MAIN_RESULT_COLUMN_COUNT entries):
// the first step of the process-wide start-up.
void vInitListColumnHeaders(std::span<const ListColumnPlace> mainResult = ProductionMainResultPlaces());
