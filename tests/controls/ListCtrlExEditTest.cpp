#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QScrollBar>

#include "controls/ListCtrlEx.h"
#include "controls/MsgHook.h"
#include "tests/controls/ControlsTestSupport.h"

namespace krv::test {
namespace {

// A dialog (so a stray Escape or Enter would close it) holding the list and
// another control to move the focus to.
class ListCtrlExEdit : public testing::Test {
protected:
    ListCtrlExEdit()
    {
        dialog.resize(420, 300);
        list = new CListCtrlEx(&dialog);
        list->setGeometry(0, 0, 420, 200);
        other = new QLineEdit(&dialog);
        other->setGeometry(0, 220, 200, 24);
        for (int c = 0; c < 3; ++c)
            list->InsertColumn(c, "C" + std::to_string(c), CListCtrlEx::kFormatLeft, 120);
        for (int r = 0; r < 4; ++r) {
            list->InsertItem(r, "r" + std::to_string(r), 100 + r);
            list->SetItemText(r, 1, "old" + std::to_string(r));
            list->SetItemText(r, 2, "x" + std::to_string(r));
        }
        editor = new QLineEdit(&dialog);  // the list takes it over when an edit starts
        editor->hide();
        list->MakeColumnInfo(1)->m_editor.m_pWnd = editor;
    }

    void SetUp() override { ASSERT_TRUE(showActive(dialog)); }

    QDialog dialog;
    CListCtrlEx* list;
    QLineEdit* other;
    QPointer<QLineEdit> editor;
};

TEST_F(ListCtrlExEdit, EscapeEndsTheEditAndKeepsTheCellText)
{
    ASSERT_TRUE(list->StartEdit(1, 1));
    EXPECT_TRUE(list->IsEditing());
    EXPECT_EQ(editor->text(), "old1");
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->parentWidget(), list->viewport());
    EXPECT_TRUE(editor->hasFocus());
    EXPECT_TRUE(list->visualRect(list->model()->index(1, 1)).contains(editor->geometry().center()));

    editor->setText("typed");
    sendKey(editor, Qt::Key_Escape);
    EXPECT_FALSE(list->IsEditing());
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(list->GetItemText(1, 1), "old1");
    EXPECT_TRUE(list->hasFocus());
    EXPECT_TRUE(dialog.isVisible()) << "Escape also closed the dialog";
}

TEST_F(ListCtrlExEdit, EnterCommitsTheEditorsText)
{
    ASSERT_TRUE(list->StartEdit(2, 1));
    editor->setText("typed");
    sendKey(editor, Qt::Key_Return);
    EXPECT_FALSE(list->IsEditing());
    EXPECT_EQ(list->GetItemText(2, 1), "typed");
    EXPECT_TRUE(dialog.isVisible()) << "Enter also pressed the default button";
}

TEST_F(ListCtrlExEdit, MovingTheFocusAwayOrClickingElsewhereCommits)
{
    ASSERT_TRUE(list->StartEdit(0, 1));
    editor->setText("by focus");
    other->setFocus();
    EXPECT_FALSE(list->IsEditing());
    EXPECT_EQ(list->GetItemText(0, 1), "by focus");
    EXPECT_TRUE(other->hasFocus()) << "ending the edit took the focus back";

    ASSERT_TRUE(list->StartEdit(3, 1));
    editor->setText("by click");
    click(editor, QPoint(3, 3));  // inside the editor: keeps editing
    EXPECT_TRUE(list->IsEditing());
    click(other, QPoint(3, 3));
    EXPECT_FALSE(list->IsEditing());
    EXPECT_EQ(list->GetItemText(3, 1), "by click");
}

TEST_F(ListCtrlExEdit, AnOpenDropDownKeepsTheEditWhenTheFocusLeaves)
{
    auto* combo = new QComboBox;
    combo->setEditable(true);
    combo->addItems({"one", "two"});
    list->MakeColumnInfo(2)->m_editor.m_pWnd = combo;
    ASSERT_TRUE(list->StartEdit(0, 2));
    EXPECT_EQ(combo->currentText(), "x0");

    combo->showPopup();
    ASSERT_TRUE(runEventsUntil([&] { return combo->view()->isVisible(); }));
    CMsgHook::HookProc({CMsgHook::Message::KillFocus, combo, other});
    EXPECT_TRUE(list->IsEditing());

    combo->hidePopup();
    ASSERT_TRUE(runEventsUntil([&] { return !combo->view()->isVisible(); }));
    combo->setEditText("two");
    CMsgHook::HookProc({CMsgHook::Message::KillFocus, combo, other});
    EXPECT_FALSE(list->IsEditing());
    EXPECT_EQ(list->GetItemText(0, 2), "two");
}

TEST_F(ListCtrlExEdit, EditorsComeFromTheNearestLevelAndReadOnlyRefuses)
{
    auto* cellEditor = new QLineEdit;
    list->SetCellData(1, 1, 0);
    list->FindCellInfo(1, 1)->m_editor.m_pWnd = cellEditor;
    ASSERT_TRUE(list->StartEdit(1, 1));
    EXPECT_TRUE(cellEditor->isVisible());
    EXPECT_FALSE(editor->isVisible());
    list->EndEdit(false);

    struct Case {
        const char* name;
        bool columnReadOnly, rowReadOnly, cellReadOnly;
    } cases[] = {
        {"column read-only", true, false, false},
        {"row read-only", false, true, false},
        {"cell read-only", false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        list->MakeColumnInfo(1)->m_editor.m_bReadOnly = c.columnReadOnly;
        list->GetItemData(1)->m_editor.m_bReadOnly = c.rowReadOnly;
        list->FindCellInfo(1, 1)->m_editor.m_bReadOnly = c.cellReadOnly;
        EXPECT_FALSE(list->StartEdit(1, 1));
        EXPECT_FALSE(list->IsEditing());
    }
    list->MakeColumnInfo(1)->m_editor.m_bReadOnly = false;
    list->GetItemData(1)->m_editor.m_bReadOnly = false;
    list->FindCellInfo(1, 1)->m_editor.m_bReadOnly = false;

    EXPECT_FALSE(list->StartEdit(1, 0)) << "no editor for column 0";
    EXPECT_FALSE(list->StartEdit(4, 1));
    EXPECT_FALSE(list->StartEdit(1, 3));

    auto* fallback = new QLineEdit;
    list->SetDefaultEditor({nullptr, nullptr, fallback, false});
    EXPECT_TRUE(list->StartEdit(1, 0));
    EXPECT_EQ(fallback->text(), "r1");
    list->EndEdit(false);
}

TEST_F(ListCtrlExEdit, CallbacksMakeTheEditorAndDecideWhatIsWritten)
{
    QPointer<QLineEdit> made;
    std::vector<int> endFlags;
    CListCtrlEx::ColumnInfo* info = list->MakeColumnInfo(2);
    info->m_nSortFlags = CListCtrlEx::kSortDescending;
    info->m_nSortType = CListCtrlEx::kSortText;
    info->m_editor.m_pfnBeginEdit = [&](QPointer<QWidget>& slot, int, int, std::string& text, intptr_t data,
                                        CListCtrlEx&, int flag) {
        EXPECT_EQ(flag, 1);
        EXPECT_EQ(data, 102);
        if (!slot)
            slot = made = new QLineEdit;
        made->setText(QString::fromStdString("[" + text + "]"));
        return 0;
    };
    info->m_editor.m_pfnEndEdit = [&](QPointer<QWidget>&, int, int, std::string& text, intptr_t, CListCtrlEx&,
                                      int commit) {
        endFlags.push_back(commit);
        text = made->text().toStdString();
        return commit ? -1 : 0;  // write and sort again
    };

    ASSERT_TRUE(list->StartEdit(2, 2));
    ASSERT_TRUE(made);
    EXPECT_EQ(made->text(), "[x2]");
    made->setText("zz");
    sendKey(made, Qt::Key_Enter);
    EXPECT_EQ(endFlags, (std::vector<int>{1}));
    // Written, then sorted descending by column 2: "zz" comes first.
    EXPECT_EQ(list->GetItemText(0, 2), "zz");
    EXPECT_EQ(list->GetItemUserData(0), 102);
}

TEST_F(ListCtrlExEdit, AnEditWhoseRowWentEndsWithoutCommit)
{
    std::vector<int> endFlags;
    std::string endText = "unset";
    CListCtrlEx::ItemData* row = list->GetItemData(3);
    row->m_editor.m_pWnd = new QLineEdit;
    row->m_editor.m_pfnEndEdit = [&](QPointer<QWidget>&, int, int, std::string& text, intptr_t, CListCtrlEx&,
                                     int commit) {
        endFlags.push_back(commit);
        endText = text;
        return 1;
    };
    ASSERT_TRUE(list->StartEdit(3, 0));
    list->DeleteAllItems();  // the row's record, with its editor slot, goes
    list->EndEdit(true);
    EXPECT_EQ(endFlags, (std::vector<int>{0}));
    EXPECT_EQ(endText, "");
    EXPECT_FALSE(list->IsEditing());
    EXPECT_EQ(list->GetItemCount(), 0);
}

TEST_F(ListCtrlExEdit, TabInTheEditorMovesTheEditToTheNextEditableCell)
{
    list->MakeColumnInfo(2)->m_editor.m_pWnd = new QLineEdit(&dialog);
    ASSERT_TRUE(list->StartEdit(0, 1));
    editor->setText("first");
    sendKey(editor, Qt::Key_Tab);
    ASSERT_TRUE(runEventsUntil([&] { return !editor->isVisible(); }));
    EXPECT_EQ(list->GetItemText(0, 1), "first");
    EXPECT_TRUE(list->IsEditing());

    // From the row's last column to the next row's first editable one.
    auto* second = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(second, nullptr);
    sendKey(second, Qt::Key_Tab);
    ASSERT_TRUE(runEventsUntil([&] { return editor->isVisible(); }));
    EXPECT_TRUE(list->visualRect(list->model()->index(1, 1)).contains(editor->geometry().center()));
    list->EndEdit(false);
}

TEST_F(ListCtrlExEdit, TabWithoutAnyEditorVisitsEveryCellAndLeavesTheList)
{
    CListCtrlEx plain(&dialog);
    plain.setGeometry(0, 0, 200, 120);  // narrower than its columns
    for (int c = 0; c < 6; ++c)
        plain.InsertColumn(c, "C", CListCtrlEx::kFormatLeft, 90);
    for (int r = 0; r < 3; ++r)
        plain.InsertItem(r, "r");
    plain.show();
    QApplication::processEvents();
    QWidget::setTabOrder(&plain, other);
    plain.setFocus();
    ASSERT_TRUE(plain.hasFocus());
    ASSERT_EQ(plain.horizontalScrollBar()->value(), 0);

    sendKey(&plain, Qt::Key_Tab);
    EXPECT_FALSE(plain.IsEditing());
    EXPECT_EQ(plain.horizontalScrollBar()->value(), plain.horizontalScrollBar()->maximum());
    EXPECT_GT(plain.horizontalScrollBar()->maximum(), 0);
    EXPECT_FALSE(plain.hasFocus()) << "the key did not go on to the dialog";
}

TEST_F(ListCtrlExEdit, ADoubleClickStartsAnEditOrGoesOnToTheParent)
{
    int doubleClicks = 0;
    QObject::connect(list, &QAbstractItemView::doubleClicked, [&doubleClicks] { ++doubleClicks; });
    const QPoint onEditable = list->visualRect(list->model()->index(2, 1)).center();
    const QPoint onPlain = list->visualRect(list->model()->index(2, 0)).center();

    // The view reports a double-click on the cell the first click pressed.
    auto doubleClick = [&](QPoint at) {
        click(list->viewport(), at);
        sendMouse(list->viewport(), QEvent::MouseButtonDblClick, at);
        sendMouse(list->viewport(), QEvent::MouseButtonRelease, at);
    };
    doubleClick(onPlain);
    EXPECT_FALSE(list->IsEditing());
    EXPECT_EQ(doubleClicks, 1);

    doubleClick(onEditable);
    EXPECT_TRUE(list->IsEditing());
    EXPECT_EQ(editor->text(), "old2");
    EXPECT_EQ(doubleClicks, 1);
    list->EndEdit(false);
}

TEST_F(ListCtrlExEdit, DeleteRemovesTheSelectedRowsOnlyWhenAsked)
{
    list->setFocus();
    list->selectRow(1);
    list->selectionModel()->select(list->model()->index(3, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    sendKey(list, Qt::Key_Delete);
    EXPECT_EQ(list->GetItemCount(), 4);

    list->SetDeleteKeyRemovesRows(true);
    sendKey(list, Qt::Key_Delete);
    ASSERT_EQ(list->GetItemCount(), 2);
    EXPECT_EQ(list->GetItemText(0, 0), "r0");
    EXPECT_EQ(list->GetItemText(1, 0), "r2");
    EXPECT_EQ(list->GetItemUserData(1), 102);
}

}  // namespace
}  // namespace krv::test
