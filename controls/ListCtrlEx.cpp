#include "controls/ListCtrlEx.h"

#include <algorithm>

#include <QHeaderView>
#include <QThread>

#include "controls/ListCtrlExDelegate.h"
#include "controls/ListCtrlExModel.h"

using krv::ui::kColorNotSet;

CListCtrlEx::ItemData::~ItemData() = default;

CListCtrlEx::CellInfo* CListCtrlEx::ItemData::FindCell(int nColumn) const
{
    for (const auto& cell : m_aCellInfo)
        if (cell->m_nColumn == nColumn)
            return cell.get();
    return nullptr;
}

CListCtrlEx::CListCtrlEx(QWidget* parent)
    : QTableView(parent),
      m_pModel(new CListCtrlExModel([this](int row, int column) { return OnCustomDraw(row, column); }, this)),
      m_crDefaultBk(krv::ui::toColorRef(palette().color(QPalette::Base))),
      m_crDefaultText(krv::ui::toColorRef(palette().color(QPalette::Text)))
{
    setModel(m_pModel);
    setItemDelegate(new CListCtrlExDelegate(this));
    // Cells are edited only through the list's own editors, and Tab is the
    // list's own cell-to-cell move (or the dialog's), never Qt's.
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setSortingEnabled(false);
    setWordWrap(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(false);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) { SortColumn(column, true); });
    SetExtendedStyle(kExFullRowSelect);
}

CListCtrlEx::~CListCtrlEx()
{
    m_msgHook.Detach();
    m_pActiveEditor = nullptr;
    // The view must stop asking the model (which asks the records) before
    // the records go.
    setModel(nullptr);
    delete m_pModel;
}

void CListCtrlEx::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QTableView::changeEvent(event);
}

void CListCtrlEx::AssertGuiThread() const
{
    Q_ASSERT_X(thread() == QThread::currentThread(), "CListCtrlEx", "used off the GUI thread");
}

int CListCtrlEx::InsertColumn(int nCol, const std::string& heading, int nFormat, int nWidth)
{
    if (nCol < 0)
        return -1;
    const int column = m_pModel->InsertColumn(nCol, heading, nFormat);
    if (nWidth >= 0)
        setColumnWidth(column, nWidth);
    return column;
}

int CListCtrlEx::GetColumnCount() const
{
    return m_pModel->columnCount();
}

int CListCtrlEx::GetItemCount() const
{
    return m_pModel->rowCount();
}

bool CListCtrlEx::InList(int nItem, int nSubItem) const
{
    return nItem >= 0 && nItem < GetItemCount() && nSubItem >= 0 && nSubItem < GetColumnCount();
}

int CListCtrlEx::InsertItem(int nItem, const std::string& text, intptr_t lParam)
{
    AssertGuiThread();
    if (nItem < 0)
        return -1;
    const int row = m_pModel->InsertRow(nItem, text, nullptr);
    SetItemUserData(row, lParam);
    return row;
}

bool CListCtrlEx::DeleteItem(int nItem)
{
    AssertGuiThread();
    if (nItem < 0 || nItem >= GetItemCount())
        return false;
    FreeRecord(m_pModel->Record(nItem));
    m_pModel->RemoveRow(nItem);
    return true;
}

bool CListCtrlEx::DeleteAllItems()
{
    AssertGuiThread();
    while (!m_aItemData.empty())
        FreeRecord(m_aItemData.back().get());
    m_pModel->RemoveAllRows();
    return true;
}

// An editor that belongs to a record being freed stays usable until its
// edit ends: the record's editor moves to a slot of the list's own.
void CListCtrlEx::FreeRecord(ItemData* record)
{
    if (!record)
        return;
    if (m_pActiveEditor) {
        bool inRecord = m_pActiveEditor == &record->m_editor;
        for (const auto& cell : record->m_aCellInfo)
            inRecord = inRecord || m_pActiveEditor == &cell->m_editor;
        if (inRecord) {
            m_orphanEditor = *m_pActiveEditor;
            m_pActiveEditor = &m_orphanEditor;
        }
    }
    auto it = std::find_if(m_aItemData.begin(), m_aItemData.end(),
                           [record](const auto& owned) { return owned.get() == record; });
    if (it != m_aItemData.end())
        m_aItemData.erase(it);
}

bool CListCtrlEx::SetItemText(int nItem, int nSubItem, const std::string& text)
{
    AssertGuiThread();
    return m_pModel->SetText(nItem, nSubItem, text);
}

std::string CListCtrlEx::GetItemText(int nItem, int nSubItem) const
{
    return m_pModel->Text(nItem, nSubItem);
}

std::string CListCtrlEx::GetShownText(int nItem, int nSubItem) const
{
    const QModelIndex index = m_pModel->index(nItem, nSubItem);
    auto* delegate = qobject_cast<CListCtrlExDelegate*>(itemDelegateForIndex(index));
    if (!delegate)
        return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    return delegate->shownText(option, index).toStdString();
}

void CListCtrlEx::SetColumnElideMode(int nColumn, Qt::TextElideMode mode)
{
    auto* delegate = qobject_cast<CListCtrlExDelegate*>(itemDelegateForColumn(nColumn));
    if (!delegate) {
        delegate = new CListCtrlExDelegate(this);
        setItemDelegateForColumn(nColumn, delegate);
    }
    delegate->setElideMode(mode);
}

void CListCtrlEx::SetExtendedStyle(uint32_t dwStyle)
{
    m_dwExStyle = dwStyle;
    setShowGrid((dwStyle & kExGridLines) != 0);
    setSelectionBehavior((dwStyle & kExFullRowSelect) ? QAbstractItemView::SelectRows
                                                      : QAbstractItemView::SelectItems);
}

bool CListCtrlEx::Update(int nItem)
{
    if (nItem < 0 || nItem >= GetItemCount())
        return false;
    m_pModel->RowChanged(nItem);
    return true;
}

CListCtrlEx::ItemData* CListCtrlEx::GetItemData(int nItem) const
{
    return m_pModel->Record(nItem);
}

int CListCtrlEx::FindRow(const ItemData* record) const
{
    return m_pModel->FindRecord(record);
}

bool CListCtrlEx::SetItemUserData(int nItem, intptr_t value)
{
    AssertGuiThread();
    if (nItem < 0 || nItem >= GetItemCount())
        return false;
    ItemData* record = m_pModel->Record(nItem);
    if (record) {
        record->m_lParam = value;
    } else {
        m_aItemData.push_back(std::make_unique<ItemData>(value));
        record = m_aItemData.back().get();
    }
    m_pModel->SetRecord(nItem, record);
    return true;
}

intptr_t CListCtrlEx::GetItemUserData(int nItem) const
{
    const ItemData* record = GetItemData(nItem);
    return record ? record->m_lParam : 0;
}

CListCtrlEx::ItemData* CListCtrlEx::MakeItemData(int nItem)
{
    if (!GetItemData(nItem))
        SetItemUserData(nItem, 0);
    return GetItemData(nItem);
}

CListCtrlEx::CellInfo* CListCtrlEx::MakeCellInfo(int nItem, int nSubItem)
{
    AssertGuiThread();
    if (!InList(nItem, nSubItem))
        return nullptr;
    ItemData* record = MakeItemData(nItem);
    if (CellInfo* cell = record->FindCell(nSubItem))
        return cell;
    record->m_aCellInfo.push_back(std::make_unique<CellInfo>(nSubItem));
    return record->m_aCellInfo.back().get();
}

bool CListCtrlEx::SetCellColor(int nItem, int nSubItem, COLOR clrBack, COLOR clrText)
{
    CellInfo* cell = MakeCellInfo(nItem, nSubItem);
    if (!cell)
        return false;
    cell->m_clrBack = clrBack;
    cell->m_clrText = clrText;
    return true;
}

bool CListCtrlEx::SetCellData(int nItem, int nSubItem, uint32_t value)
{
    CellInfo* cell = MakeCellInfo(nItem, nSubItem);
    if (!cell)
        return false;
    cell->m_dwUserData = value;
    return true;
}

CListCtrlEx::CellInfo* CListCtrlEx::FindCellInfo(int nItem, int nSubItem) const
{
    if (!InList(nItem, nSubItem))
        return nullptr;
    const ItemData* record = GetItemData(nItem);
    return record ? record->FindCell(nSubItem) : nullptr;
}

CListCtrlEx::ColumnInfo* CListCtrlEx::FindColumnInfo(int nSubItem) const
{
    for (const auto& column : m_aColumnInfo)
        if (column->m_nColumn == nSubItem)
            return column.get();
    return nullptr;
}

CListCtrlEx::ColumnInfo* CListCtrlEx::MakeColumnInfo(int nSubItem)
{
    if (nSubItem < 0 || nSubItem >= GetColumnCount())
        return nullptr;
    if (ColumnInfo* column = FindColumnInfo(nSubItem))
        return column;
    m_aColumnInfo.push_back(std::make_unique<ColumnInfo>(nSubItem));
    return m_aColumnInfo.back().get();
}

bool CListCtrlEx::IsColumnReadOnly(int nSubItem) const
{
    if (nSubItem < 0 || nSubItem >= GetColumnCount())
        return false;
    const ColumnInfo* column = FindColumnInfo(nSubItem);
    return column && column->m_editor.m_bReadOnly;
}

bool CListCtrlEx::IsItemReadOnly(int nItem) const
{
    const ItemData* record = GetItemData(nItem);
    return record && record->m_editor.m_bReadOnly;
}

bool CListCtrlEx::IsCellReadOnly(int nItem, int nSubItem) const
{
    if (!InList(nItem, nSubItem))
        return false;
    if (const CellInfo* cell = FindCellInfo(nItem, nSubItem))
        return cell->m_editor.m_bReadOnly;
    return IsItemReadOnly(nItem) || IsColumnReadOnly(nSubItem);
}

CListCtrlEx::CustomDraw CListCtrlEx::OnCustomDraw(int nItem, int nSubItem) const
{
    CustomDraw draw{m_crDefaultBk, m_crDefaultText, false};
    // The first level that sets either colour decides both.
    auto take = [&](COLOR back, COLOR text) {
        if (back == kColorNotSet && text == kColorNotSet)
            return false;
        draw.clrTextBk = back != kColorNotSet ? back : m_crDefaultBk;
        draw.clrText = text != kColorNotSet ? text : m_crDefaultText;
        draw.bHandled = true;
        return true;
    };
    if (const CellInfo* cell = FindCellInfo(nItem, nSubItem); cell && take(cell->m_clrBack, cell->m_clrText))
        return draw;
    if (const ItemData* record = GetItemData(nItem); record && take(record->m_clrBack, record->m_clrText))
        return draw;
    if (const ColumnInfo* column = FindColumnInfo(nSubItem); column && take(column->m_clrBack, column->m_clrText))
        return draw;
    return draw;
}
