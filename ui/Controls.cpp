#include "ui/Controls.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "ui/Text.h"

namespace krv::ui {

bool ControlMap::add(int id, QWidget* control)
{
    if (!control)
        return false;
    controls_[id] = control;
    return true;
}

QWidget* ControlMap::get(int id) const
{
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second.data();
}

bool ControlMap::setText(int id, const std::string& text)
{
    QWidget* w = get(id);
    const QString t = toQt(text);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(t);
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
        line->setText(t);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(t);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable()) {
            combo->setEditText(t);
        } else {
            const int index = combo->findText(t, Qt::MatchExactly);
            if (index < 0)
                return false;
            combo->setCurrentIndex(index);
        }
    } else if (auto* edit = qobject_cast<QTextEdit*>(w)) {
        edit->setPlainText(t);
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
        plain->setPlainText(t);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(t);
    } else {
        return false;
    }
    return true;
}

std::string ControlMap::text(int id) const
{
    QWidget* w = get(id);
    if (auto* label = qobject_cast<QLabel*>(w))
        return fromQt(label->text());
    if (auto* line = qobject_cast<QLineEdit*>(w))
        return fromQt(line->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return fromQt(button->text());
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return fromQt(combo->currentText());
    if (auto* edit = qobject_cast<QTextEdit*>(w))
        return fromQt(edit->toPlainText());
    if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        return fromQt(plain->toPlainText());
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return fromQt(group->title());
    return {};
}

bool ControlMap::enable(int id, bool on)
{
    QWidget* w = get(id);
    if (!w)
        return false;
    w->setEnabled(on);
    return true;
}

bool ControlMap::isEnabled(int id) const
{
    QWidget* w = get(id);
    return w && w->isEnabled();
}

bool ControlMap::show(int id, bool on)
{
    QWidget* w = get(id);
    if (!w)
        return false;
    w->setVisible(on);
    return true;
}

bool ControlMap::isShown(int id) const
{
    QWidget* w = get(id);
    return w && !w->isHidden();
}

bool ControlMap::setCheck(int id, int state)
{
    QWidget* w = get(id);
    if (auto* box = qobject_cast<QCheckBox*>(w)) {
        switch (state) {
        case check::kUnchecked: box->setCheckState(Qt::Unchecked); return true;
        case check::kChecked: box->setCheckState(Qt::Checked); return true;
        case check::kIndeterminate: box->setCheckState(Qt::PartiallyChecked); return true;
        default: return false;
        }
    }
    auto* button = qobject_cast<QAbstractButton*>(w);
    if (!button || !button->isCheckable() ||
        (state != check::kUnchecked && state != check::kChecked))
        return false;
    button->setChecked(state == check::kChecked);
    return true;
}

int ControlMap::checkState(int id) const
{
    QWidget* w = get(id);
    if (auto* box = qobject_cast<QCheckBox*>(w)) {
        switch (box->checkState()) {
        case Qt::Checked: return check::kChecked;
        case Qt::PartiallyChecked: return check::kIndeterminate;
        default: return check::kUnchecked;
        }
    }
    auto* button = qobject_cast<QAbstractButton*>(w);
    return button && button->isCheckable() && button->isChecked() ? check::kChecked : check::kUnchecked;
}

}  // namespace krv::ui
