#pragma once
// A dialog's controls kept by their numeric ids, the keys the system's code
// uses (GetDlgItem, SetDlgItemText, EnableWindow, ShowWindow, CheckDlgButton).
// An id that was never added, or whose control is gone, is a no-op that
// answers false, an empty text or "unchecked"; it never crashes.
// GUI thread only.
#include <map>
#include <string>

#include <QPointer>
#include <QWidget>

namespace krv::ui {

// Check states with the window system's values.
namespace check {
constexpr int kUnchecked = 0;
constexpr int kChecked = 1;
constexpr int kIndeterminate = 2;
}  // namespace check

class ControlMap {
public:
    // Adding an id again replaces the control it names. The map never owns
    // the controls; their parent does.
    bool add(int id, QWidget* control);
    QWidget* get(int id) const;

    // Text of a label, line edit, text edit, button or check box, group box,
    // or combo box. A combo box that is not editable selects the item with
    // exactly that text (false when none has it); an editable one takes the
    // text into its edit field.
    bool setText(int id, const std::string& text);
    std::string text(int id) const;

    bool enable(int id, bool on);
    bool isEnabled(int id) const;
    // Shown means the control itself is not hidden; its parents may be.
    bool show(int id, bool on);
    bool isShown(int id) const;

    // Check boxes take all three states, other checkable buttons checked or
    // not; setting a state never counts as a click.
    bool setCheck(int id, int state);
    int checkState(int id) const;

private:
    std::map<int, QPointer<QWidget>> controls_;
};

}  // namespace krv::ui
