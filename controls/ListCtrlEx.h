#pragma once
// The results list: a report list whose every cell paints in its own
// colours. Each row carries a record (ItemData) with the caller's user data
// and colours, each coloured cell a record (CellInfo) inside its row's; a
// column may carry a record (ColumnInfo) with colours, sorting and an
// editor. The colours of a cell come from the first of cell, row, column
// that sets any colour; a colour that level leaves unset is the list's
// default, never a lower level's.
//
// The list also sorts by a column's typed comparison on a header click and
// edits a cell in place with an editor window that the caller provides
// (pluggable through begin/end callbacks); CMsgHook ends the edit on Enter,
// Escape, a click elsewhere or the focus moving away.
//
// Colours are 0x00BBGGRR values; kColorNotSet leaves a colour to the level
// below as described. Selected rows show the selection highlight only in
// cells that have no colours of their own, so a PASS or FAIL cell keeps its
// colour when the operator clicks its row.
//
// GUI thread only: the main dialog's workers update rows through the
// dialog's synchronous GUI calls. The list's own lock is held while an
// edit ends.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QPointer>
#include <QTableView>

#include "controls/MsgHook.h"
#include "ui/Colors.h"

class CListCtrlExModel;

class CListCtrlEx : public QTableView {
    Q_OBJECT
public:
    using COLOR = krv::ui::ColorRef;

    // Called to begin an edit (flag 1) and to end it (flag = commit, 0 when
    // the edited row is gone). `editor` is the record's editor slot: a begin
    // callback may create or place the editor there. `text` is the cell's
    // text; either callback may change it. An end callback's result: 0 leaves
    // the cell unchanged, any other value writes the text, -1 also sorts
    // again by the edited column. A begin callback's result is not used.
    using EditorCallback = std::function<int(QPointer<QWidget>& editor, int nItem, int nSubItem,
                                             std::string& text, intptr_t rowData, CListCtrlEx& list,
                                             int flag)>;
    // Compares two rows by their user data: < 0, 0, > 0.
    using CompareCallback = std::function<int(intptr_t rowData1, intptr_t rowData2, intptr_t param)>;

    struct EditorInfo {
        EditorCallback m_pfnBeginEdit;
        EditorCallback m_pfnEndEdit;
        QPointer<QWidget> m_pWnd;  // not owned; the list parents it while it edits
        bool m_bReadOnly = false;

        bool HasEditor() const { return m_pfnBeginEdit || m_pWnd; }
    };

    struct CellInfo {
        explicit CellInfo(int nColumn) : m_nColumn(nColumn) {}
        EditorInfo m_editor;
        COLOR m_clrBack = krv::ui::kColorNotSet;
        COLOR m_clrText = krv::ui::kColorNotSet;
        uint32_t m_dwUserData = 0;
        int m_nColumn;
    };

    class ItemData {
    public:
        explicit ItemData(intptr_t lParam) : m_lParam(lParam) {}
        virtual ~ItemData();
        CellInfo* FindCell(int nColumn) const;

        EditorInfo m_editor;
        std::vector<std::unique_ptr<CellInfo>> m_aCellInfo;  // in creation order
        COLOR m_clrBack = krv::ui::kColorNotSet;
        COLOR m_clrText = krv::ui::kColorNotSet;
        intptr_t m_lParam;
    };

    // Sort flags of a column.
    static constexpr int kSortAscending = 0x1;
    static constexpr int kSortDescending = 0x2;
    static constexpr int kSortToggle = 0x4;  // each header click reverses
    // How a column's texts compare.
    enum SortType : int {
        kSortNone = 0,
        kSortInteger = 1,
        kSortFloat = 2,
        kSortText = 3,                // case-sensitive
        kSortNumberOrText = 4,        // whole numbers by value, the rest as text
        kSortTextNoCase = 5,
        kSortNumberOrTextNoCase = 6,
        kSortDate = 7,
    };

    struct ColumnInfo {
        explicit ColumnInfo(int nColumn) : m_nColumn(nColumn) {}
        EditorInfo m_editor;
        int m_nColumn;
        COLOR m_clrBack = krv::ui::kColorNotSet;
        COLOR m_clrText = krv::ui::kColorNotSet;
        int m_nSortFlags = 0;
        int m_nSortType = kSortNone;
        CompareCallback m_pfnCompare;
    };

    // The colours a cell paints with, as the custom draw decides them.
    struct CustomDraw {
        COLOR clrTextBk;
        COLOR clrText;
        bool bHandled;  // some level gave the cell a colour
    };

    // Column text formats.
    static constexpr int kFormatLeft = 0;
    static constexpr int kFormatRight = 1;
    static constexpr int kFormatCenter = 2;

    // Extended styles.
    static constexpr uint32_t kExGridLines = 0x001;
    static constexpr uint32_t kExFullRowSelect = 0x020;
    static constexpr uint32_t kExFlatScrollBars = 0x100;  // kept; Qt's scroll bars are flat already

    explicit CListCtrlEx(QWidget* parent = nullptr);
    ~CListCtrlEx() override;

    // --- columns and rows ---
    // Returns the new column's index, -1 when nCol is negative.
    int InsertColumn(int nCol, const std::string& heading, int nFormat = kFormatLeft, int nWidth = -1);
    int GetColumnCount() const;
    // Inserts a row (at the end when nItem is past it) with its first cell's
    // text and a fresh record carrying lParam; returns the row's index, -1
    // when nItem is negative.
    int InsertItem(int nItem, const std::string& text, intptr_t lParam = 0);
    // Removes the row and its record.
    bool DeleteItem(int nItem);
    // Removes every row and frees every row and cell record.
    bool DeleteAllItems();
    int GetItemCount() const;
    bool SetItemText(int nItem, int nSubItem, const std::string& text);
    std::string GetItemText(int nItem, int nSubItem) const;
    // The text as the cell shows it now, cut to its column's width.
    std::string GetShownText(int nItem, int nSubItem) const;
    // Where a column cuts a text too long for it (the list cuts at the end).
    void SetColumnElideMode(int nColumn, Qt::TextElideMode mode);
    void SetExtendedStyle(uint32_t dwStyle);
    uint32_t GetExtendedStyle() const { return m_dwExStyle; }
    // Repaints a row.
    bool Update(int nItem);
    // The list's own colours, which cells without colours of their own use.
    COLOR GetTextBkColor() const { return m_crDefaultBk; }
    COLOR GetTextColor() const { return m_crDefaultText; }

    // --- records ---
    // The row's record (the list's item parameter), null outside the list.
    ItemData* GetItemData(int nItem) const;
    bool SetItemUserData(int nItem, intptr_t value);
    intptr_t GetItemUserData(int nItem) const;
    // Row and column inside the list: makes the cell's record when missing
    // and stores its colours. Does not repaint: the caller's next text update
    // does. Outside the list: ignored, false.
    bool SetCellColor(int nItem, int nSubItem, COLOR clrBack, COLOR clrText);
    bool SetCellData(int nItem, int nSubItem, uint32_t value);
    CellInfo* FindCellInfo(int nItem, int nSubItem) const;
    ColumnInfo* FindColumnInfo(int nSubItem) const;
    // The column's record, made when missing; null outside the columns.
    ColumnInfo* MakeColumnInfo(int nSubItem);
    bool IsColumnReadOnly(int nSubItem) const;
    bool IsItemReadOnly(int nItem) const;
    bool IsCellReadOnly(int nItem, int nSubItem) const;
    CustomDraw OnCustomDraw(int nItem, int nSubItem) const;

    // --- sorting ---
    // Sorts by the column's record (none, or no sort flag: false). With the
    // toggle flag set on the column, bToggle reverses the direction (a header
    // click does); the first sort is ascending.
    bool SortColumn(int nSubItem, bool bToggle);
    // Used for columns without a compare callback of their own; `param`
    // (0: the sort column) is passed on.
    void SetCompareCallback(CompareCallback pfnCompare, intptr_t param = 0);
    int GetSortColumn() const { return m_nSortColumn; }
    // One comparison of two cell texts by sort type: < 0, 0, > 0.
    static int CompareTexts(int nSortType, const std::string& a, const std::string& b);

    // --- editing ---
    bool StartEdit(int nItem, int nSubItem);
    void EndEdit(bool bCommit);
    bool IsEditing() const { return m_pActiveEditor != nullptr; }
    // Used where neither column, row nor cell has an editor.
    void SetDefaultEditor(const EditorInfo& editor);
    // Delete removes the selected rows.
    void SetDeleteKeyRemovesRows(bool bOn) { m_bDeleteKey = bOn; }
    // Tab past the last cell asks AddNewRow for a row to go on in.
    void SetTabAppendsRows(bool bOn) { m_bTabAppend = bOn; }
    // Asked for a new row by Tab; true when one was added. The list's own
    // adds none.
    virtual bool AddNewRow();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Debug builds stop a caller that skipped the dialog's GUI calls.
    void AssertGuiThread() const;
    bool InList(int nItem, int nSubItem) const;
    int FindRow(const ItemData* record) const;
    ItemData* MakeItemData(int nItem);
    CellInfo* MakeCellInfo(int nItem, int nSubItem);
    void FreeRecord(ItemData* record);
    int CompareRows(int row1, int row2) const;
    bool TabNavigate(bool bBack);
    bool IsFocusInEditor() const;

    CListCtrlExModel* m_pModel;

    std::mutex m_lock;                                // held while an edit ends
    std::vector<std::unique_ptr<ItemData>> m_aItemData;
    std::vector<std::unique_ptr<ColumnInfo>> m_aColumnInfo;
    EditorInfo* m_pActiveEditor = nullptr;
    EditorInfo m_defaultEditor;
    // Where the active editor lives when its row went while it was open.
    EditorInfo m_orphanEditor;
    int m_nEditItem = -1;
    int m_nEditSubItem = -1;
    int m_nTabItem = -1;
    int m_nTabSubItem = -1;
    bool m_bEndingEdit = false;
    COLOR m_crDefaultBk;
    COLOR m_crDefaultText;
    CMsgHook m_msgHook;
    bool m_bDeleteKey = false;
    int m_nSortColumn = -1;
    CompareCallback m_pfnCompare;
    intptr_t m_lCompareParam = 0;
    bool m_bTabAppend = false;
    uint32_t m_dwExStyle = 0;
};
