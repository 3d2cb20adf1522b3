#include "ui/Dialog.h"

#include <QAbstractButton>

namespace krv::ui {

Dialog::Dialog(QWidget* parent)
    : QDialog(parent), timers_([this](int id) { onTimer(id); })
{
}

Dialog::~Dialog() { markShutdown(); }

template <class R, class F>
R Dialog::onGui(F f, R cancelled)
{
    if (calls_.onGuiThread())
        return f();
    R result = cancelled;
    if (calls_.call([&] { result = f(); }) != CallResult::Done)
        return cancelled;
    return result;
}

bool Dialog::addControl(int id, QWidget* control)
{
    if (!controls_.add(id, control))
        return false;
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        // A later add under the same id takes the id over; this button then
        // stays quiet.
        connect(button, &QAbstractButton::clicked, this, [this, id, button] {
            if (controls_.get(id) == button && !calls_.shuttingDown())
                onCommand(id);
        });
    }
    return true;
}

QWidget* Dialog::control(int id) const { return controls_.get(id); }

bool Dialog::setControlText(int id, const std::string& text)
{
    return onGui([&] { return controls_.setText(id, text); }, false);
}

std::string Dialog::controlText(int id)
{
    return onGui([&] { return controls_.text(id); }, std::string());
}

bool Dialog::enableControl(int id, bool on)
{
    return onGui([&] { return controls_.enable(id, on); }, false);
}

bool Dialog::isControlEnabled(int id)
{
    return onGui([&] { return controls_.isEnabled(id); }, false);
}

bool Dialog::showControl(int id, bool on)
{
    return onGui([&] { return controls_.show(id, on); }, false);
}

bool Dialog::isControlShown(int id)
{
    return onGui([&] { return controls_.isShown(id); }, false);
}

bool Dialog::setCheck(int id, int state)
{
    return onGui([&] { return controls_.setCheck(id, state); }, false);
}

int Dialog::checkState(int id)
{
    return onGui([&] { return controls_.checkState(id); }, check::kUnchecked);
}

bool Dialog::setTimer(int id, uint32_t periodMs) { return timers_.arm(id, periodMs); }

bool Dialog::killTimer(int id) { return timers_.kill(id); }

bool Dialog::isTimerArmed(int id) const { return timers_.isArmed(id); }

int Dialog::timerPeriod(int id) const { return timers_.period(id); }

void Dialog::setTimeScale(double scale) { timers_.setScale(scale); }

CallResult Dialog::sendCommand(int id, const StopSource* stop)
{
    return calls_.call([this, id] { onCommand(id); }, stop);
}

bool Dialog::postCommand(int id)
{
    return calls_.post([this, id] { onCommand(id); });
}

void Dialog::setCommandHandler(int id, std::function<void()> handler)
{
    handlers_[id] = std::move(handler);
}

CallResult Dialog::runOnGui(std::function<void()> fn, const StopSource* stop)
{
    return calls_.call(std::move(fn), stop);
}

bool Dialog::postToGui(std::function<void()> fn) { return calls_.post(std::move(fn)); }

void Dialog::markShutdown()
{
    calls_.markShutdown();
    timers_.close();
}

bool Dialog::isShuttingDown() const { return calls_.shuttingDown(); }

void Dialog::onCommand(int id)
{
    auto it = handlers_.find(id);
    if (it != handlers_.end() && it->second)
        it->second();
}

void Dialog::onTimer(int) {}

}  // namespace krv::ui
