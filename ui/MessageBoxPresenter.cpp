#include "ui/MessageBoxPresenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "platform/Platform.h"
#include "ui/Text.h"

namespace krv::ui {

namespace {

QMessageBox::StandardButtons buttonsFor(uint32_t flags)
{
    switch (flags & mb::kButtonMask) {
    case mb::kOkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case mb::kAbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case mb::kYesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case mb::kYesNo: return QMessageBox::Yes | QMessageBox::No;
    case mb::kRetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;  // sets the system never asks for fall back to OK
    }
}

// The button the window system puts first, which is its default button.
QMessageBox::StandardButton firstButtonFor(uint32_t flags)
{
    switch (flags & mb::kButtonMask) {
    case mb::kAbortRetryIgnore: return QMessageBox::Abort;
    case mb::kYesNoCancel:
    case mb::kYesNo: return QMessageBox::Yes;
    case mb::kRetryCancel: return QMessageBox::Retry;
    default: return QMessageBox::Ok;
    }
}

QMessageBox::Icon iconFor(uint32_t flags)
{
    switch (flags & mb::kIconMask) {
    case mb::kIconHand: return QMessageBox::Critical;
    case mb::kIconQuestion: return QMessageBox::Question;
    case mb::kIconExclamation: return QMessageBox::Warning;
    case mb::kIconAsterisk: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

// The system's texts break lines with CR LF; the view wants LF.
QString viewText(const std::string& text)
{
    QString t = toQt(text);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t;
}

}  // namespace

MessageBoxPresenter::MessageBoxPresenter(Presentation mode) : mode_(mode) {}

MessageBoxPresenter::~MessageBoxPresenter()
{
    markShutdown();
    uninstall();
}

void MessageBoxPresenter::setMode(Presentation mode) { mode_.store(mode, std::memory_order_release); }

Presentation MessageBoxPresenter::mode() const { return mode_.load(std::memory_order_acquire); }

void MessageBoxPresenter::setCommandLineSink(Sink sink)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = std::move(sink);
}

void MessageBoxPresenter::queueAnswer(int answer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(answer);
}

std::vector<MessageRecord> MessageBoxPresenter::records() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

int MessageBoxPresenter::show(const std::string& text, const std::string& caption, uint32_t flags)
{
    switch (mode()) {
    case Presentation::Scripted: {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back({text, caption, flags});
        if (answers_.empty())
            return unattendedAnswer(flags);
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    case Presentation::CommandLine: {
        Sink sink;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sink = sink_;
        }
        // Called without our lock: the sink takes its own.
        if (sink)
            sink({text, caption, flags});
        return unattendedAnswer(flags);
    }
    case Presentation::Interactive: break;
    }
    return showInteractive(text, caption, flags);
}

int MessageBoxPresenter::showInteractive(const std::string& text, const std::string& caption,
                                         uint32_t flags)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return unattendedAnswer(flags);  // no widgets to show a box with
    int answer = 0;
    const CallResult result = calls_.call([&] {
        QMessageBox box(iconFor(flags), toQt(caption), viewText(text), QMessageBox::NoButton);
        configure(box, flags);
        calls_.execModal(box);
        answer = answerOf(box);
    });
    if (result != CallResult::Done || answer == 0 || calls_.shuttingDown())
        return unattendedAnswer(flags);
    return answer;
}

void MessageBoxPresenter::configure(QMessageBox& box, uint32_t flags)
{
    box.setTextFormat(Qt::PlainText);  // the system's texts are never markup
    box.setIcon(iconFor(flags));
    box.setStandardButtons(buttonsFor(flags));
    box.setDefaultButton(firstButtonFor(flags));
}

int MessageBoxPresenter::answerOf(const QMessageBox& box)
{
    auto* clicked = box.clickedButton();
    if (!clicked)
        return 0;
    switch (box.standardButton(clicked)) {
    case QMessageBox::Ok: return id::kOk;
    case QMessageBox::Cancel: return id::kCancel;
    case QMessageBox::Abort: return id::kAbort;
    case QMessageBox::Retry: return id::kRetry;
    case QMessageBox::Ignore: return id::kIgnore;
    case QMessageBox::Yes: return id::kYes;
    case QMessageBox::No: return id::kNo;
    default: return 0;
    }
}

void MessageBoxPresenter::install(Platform& platform)
{
    uninstall();
    platform.setMessageBoxes(this);
    installedIn_ = &platform;
}

void MessageBoxPresenter::uninstall()
{
    if (installedIn_ && &installedIn_->messageBoxes() == this)
        installedIn_->setMessageBoxes(nullptr);
    installedIn_ = nullptr;
}

void MessageBoxPresenter::markShutdown() { calls_.markShutdown(); }

}  // namespace krv::ui
