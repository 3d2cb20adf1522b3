#pragma once
// A results list shaped like the main window's: 19 centred columns with
// their widths and headings, 16 rows "0".."15", grid lines and full-row
// selection, in a crisp font so that every pixel is text or background.
#include <string>

#include <gtest/gtest.h>

#include "controls/ListCtrlEx.h"
#include "tests/controls/ControlsTestSupport.h"

namespace krv::test {

class ResultsListFixture : public testing::Test {
protected:
    struct Column {
        const char* heading;
        int width;
    };
    static constexpr Column kColumns[] = {
        {"Port#", 45},     {"Status", 80},  {"VID", 48},       {"PID", 48},      {"Serial Number", 154},
        {"FW Version", 112}, {"CC", 32},    {"U4 Mode", 100},  {"Capacity", 70}, {"Update", 74},
        {"ReLink", 74},    {"Partition", 110}, {"R/W Test", 70}, {"Preload", 70}, {"PD", 65},
        {"", 60},          {"", 60},        {"", 60},          {"", 60},
    };
    static constexpr int kRows = 16;

    ResultsListFixture()
    {
        crispFont(list);
        list.SetExtendedStyle(CListCtrlEx::kExGridLines | CListCtrlEx::kExFullRowSelect |
                              CListCtrlEx::kExFlatScrollBars);
        int column = 0;
        for (const Column& c : kColumns)
            list.InsertColumn(column++, c.heading, CListCtrlEx::kFormatCenter, c.width);
        for (int row = 0; row < kRows; ++row)
            list.InsertItem(row, std::to_string(row));
        list.resize(1400, 420);
    }

    // The cell's area in the list's own coordinates, without its grid line.
    QRect cellRect(int row, int column)
    {
        QRect r = list.visualRect(list.model()->index(row, column));
        r.moveTopLeft(list.viewport()->mapTo(&list, r.topLeft()));
        return r.adjusted(0, 0, -1, -1);
    }

    CListCtrlEx list;
};

}  // namespace krv::test
