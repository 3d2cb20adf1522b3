#pragma once
// The daily result log: after a run in the window mode, one tab-separated
// row per port that took part, appended to "YYYYMMDD.log" (the local date)
// in the program folder; a new file starts with a header line. Every cell,
// header names included, ends with a TAB; a blank cell is " \t". Each row
// writes its CR LF in front of itself, so the file never ends with one.
//
// Ini::vLogMPResult (declared with the settings record) writes a row; the
// pieces it is made of are here.
#include <cstdint>
#include <string>

#include "app/IniRecord.h"
#include "device/DevList.h"
#include "platform/Clock.h"

constexpr const char* MP_RESULT_LOG_EXTENSION = "log";

// <folder>/YYYYMMDD.log for the local date.
std::string strMPResultLogPath(const std::string& strFolder, const krv::LocalTime& now);

// The header line's cells (33 names), without a line end.
std::string strMPResultHeader();

// One row for the device in slot ucIndex: CR LF, then its cells. The
// partition and the format step share the one cell the header names
// ("DoPartitionFormatResult"): PASS only when both passed. A drive without a
// volume letter shows a blank letter cell; TAB, CR and LF in a text are
// written as blanks so that they cannot break the columns.
std::string strMPResultRow(const IniRecord& ini, const DevInfo& device, uint8_t ucIndex, const krv::LocalTime& now);

// Appends the row to the day's file in the folder, with the header first
// when the file is new (or empty), flushed to the medium. False, logged,
// when the file cannot be opened or written: the row is then not in it.
bool bAppendMPResult(const std::string& strFolder, const IniRecord& ini, const DevInfo& device, uint8_t ucIndex,
                     const krv::LocalTime& now);
