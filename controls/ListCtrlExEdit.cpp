// Editing a cell in place, and the keys and clicks that lead to it.
#include <algorithm>
#include <set>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include "controls/ListCtrlEx.h"
#include "controls/ListCtrlExModel.h"
#include "ui/Controls.h"

namespace {

// The editor is any widget; the window layer knows how to put a text into
// the usual ones and read it back.
void PutEditorText(QWidget* editor, const std::string& text)
{
    krv::ui::ControlMap map;
    map.add(0, editor);
    map.setText(0, text);
}

std::string EditorText(QWidget* editor)
{
    krv::ui::ControlMap map;
    map.add(0, editor);
    return map.text(0);
}

bool IsWithin(const QWidget* widget, const QWidget* ancestor)
{
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (w == ancestor)
            return true;
    return false;
}

}  // namespace

void CListCtrlEx::SetDefaultEditor(const EditorInfo& editor)
{
    m_defaultEditor = editor;
}

bool CListCtrlEx::AddNewRow()
{
    return false;
}

bool CListCtrlEx::StartEdit(int nItem, int nSubItem)
{
    // Ending the running edit may sort the rows; follow this row's record.
    ItemData* record = nItem >= 0 && nItem < GetItemCount() ? GetItemData(nItem) : nullptr;
    EndEdit(true);
    if (record)
        nItem = FindRow(record);

    if (!InList(nItem, nSubItem) || IsColumnReadOnly(nSubItem) || IsItemReadOnly(nItem) ||
        IsCellReadOnly(nItem, nSubItem))
        return false;

    const QModelIndex cell = m_pModel->index(nItem, nSubItem);
    scrollTo(cell, QAbstractItemView::EnsureVisible);
    QRect place = visualRect(cell);
    place.setRight(std::min(place.right(), viewport()->width() - 5));

    // The nearest level with an editor wins, unless a read-only level above
    // it (column, then row, then cell) already stopped the search.
    EditorInfo* active = &m_defaultEditor;
    bool readOnly = false;
    auto consider = [&](EditorInfo* level) {
        if (!level)
            return;
        readOnly = readOnly || level->m_bReadOnly;
        if (!readOnly && level->HasEditor())
            active = level;
    };
    ColumnInfo* column = FindColumnInfo(nSubItem);
    ItemData* row = GetItemData(nItem);
    CellInfo* cellInfo = FindCellInfo(nItem, nSubItem);
    consider(column ? &column->m_editor : nullptr);
    consider(row ? &row->m_editor : nullptr);
    consider(cellInfo ? &cellInfo->m_editor : nullptr);
    if (readOnly || !active->HasEditor() || active->m_bReadOnly)
        return false;

    m_nEditItem = m_nTabItem = nItem;
    m_nEditSubItem = m_nTabSubItem = nSubItem;
    std::string text = GetItemText(nItem, nSubItem);
    if (active->m_pfnBeginEdit)
        active->m_pfnBeginEdit(active->m_pWnd, nItem, nSubItem, text, GetItemUserData(nItem), *this, 1);
    QWidget* editor = active->m_pWnd;
    if (!editor)
        return false;

    clearSelection();
    if (!active->m_pfnBeginEdit)
        PutEditorText(editor, text);
    if (editor->parentWidget() != viewport())
        editor->setParent(viewport());
    editor->setGeometry(place);
    editor->show();
    editor->raise();
    editor->setFocus(Qt::OtherFocusReason);
    m_pActiveEditor = active;
    m_msgHook.Attach(editor, this);
    return true;
}

void CListCtrlEx::EndEdit(bool bCommit)
{
    // Ending an edit moves the focus, which must not end it again.
    if (m_bEndingEdit)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_bEndingEdit = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_bEndingEdit};

    const bool registered = m_msgHook.Detach();
    if (!registered || !m_pActiveEditor || !m_pActiveEditor->m_pWnd) {
        m_pActiveEditor = nullptr;
        return;
    }

    QWidget* editor = m_pActiveEditor->m_pWnd;
    if (IsWithin(QApplication::focusWidget(), editor))
        setFocus(Qt::OtherFocusReason);
    editor->hide();

    const int nItem = m_nEditItem;
    const int nSubItem = m_nEditSubItem;
    const bool rowExists = nItem < GetItemCount();
    std::string text;
    intptr_t rowData = 0;
    int result = 0;
    if (rowExists) {
        text = GetItemText(nItem, nSubItem);
        rowData = GetItemUserData(nItem);
        result = bCommit ? 1 : 0;
    }
    if (m_pActiveEditor->m_pfnEndEdit)
        result = m_pActiveEditor->m_pfnEndEdit(m_pActiveEditor->m_pWnd, nItem, nSubItem, text, rowData, *this, result);
    else
        text = EditorText(editor);

    if (result != 0) {
        SetItemText(nItem, nSubItem, text);
        if (nItem < GetItemCount())
            Update(nItem);
        if (result == -1)
            SortColumn(nSubItem, false);
    }
    m_pActiveEditor = nullptr;
}

bool CListCtrlEx::event(QEvent* event)
{
    if (event->type() == QEvent::Type(CMsgHook::kEndEditMessage)) {
        EndEdit(static_cast<CMsgHook::EndEditEvent*>(event)->Commit());
        return true;
    }
    return QTableView::event(event);
}

bool CListCtrlEx::IsFocusInEditor() const
{
    return m_pActiveEditor && m_pActiveEditor->m_pWnd &&
           IsWithin(QApplication::focusWidget(), m_pActiveEditor->m_pWnd);
}

void CListCtrlEx::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && m_bDeleteKey) {
        std::set<int> rows;
        for (const QModelIndex& index : selectionModel()->selectedIndexes())
            rows.insert(index.row());
        for (auto it = rows.rbegin(); it != rows.rend(); ++it)
            DeleteItem(*it);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

// Tab and Shift+Tab come here, from the list or from inside its editor.
bool CListCtrlEx::focusNextPrevChild(bool next)
{
    if (!m_bEndingEdit) {
        if (IsFocusInEditor()) {
            // Handled as a Tab on the list once the editor is done with the
            // key, so the editor is not ended from inside its own handler.
            QMetaObject::invokeMethod(
                this,
                [this, next] {
                    if (!TabNavigate(!next))
                        QTableView::focusNextPrevChild(next);
                },
                Qt::QueuedConnection);
            return true;
        }
        if (hasFocus() && TabNavigate(!next))
            return true;
    }
    return QTableView::focusNextPrevChild(next);
}

// The next (previous) cell that can be edited, row by row; false leaves
// the key to the dialog's own focus handling.
bool CListCtrlEx::TabNavigate(bool bBack)
{
    if (GetItemCount() == 0 && !bBack && !AddNewRow())
        return false;
    const int columns = GetColumnCount();
    int row = m_nTabItem;
    int column = m_nTabSubItem;
    auto advance = [&] {
        if (!bBack) {
            if (++column >= columns) {
                column = 0;
                ++row;
            }
        } else if (--column < 0) {
            column = columns - 1;
            --row;
        }
    };
    if (InList(row, column)) {
        advance();
    } else {
        row = bBack ? GetItemCount() - 1 : 0;
        column = bBack ? columns - 1 : 0;
    }

    if (m_bTabAppend && !bBack && row >= GetItemCount()) {
        EndEdit(true);
        if (!AddNewRow())
            return true;
        column = 0;
    }
    for (; InList(row, column); advance())
        if (StartEdit(row, column))
            return true;
    return false;
}

void CListCtrlEx::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QModelIndex cell = indexAt(event->position().toPoint());
    if (cell.isValid() && StartEdit(cell.row(), cell.column())) {
        event->accept();
        return;
    }
    QTableView::mouseDoubleClickEvent(event);
}
