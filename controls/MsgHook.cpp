#include "controls/MsgHook.h"

#include <map>
#include <vector>

#include <QApplication>
#include <QKeyEvent>

namespace {

// Watched window -> its registration. Filled and read on the GUI thread
// only; empty again once every instance has gone.
std::map<QWidget*, CMsgHook*>& Registrations()
{
    static std::map<QWidget*, CMsgHook*> map;
    return map;
}

bool IsPopup(const QWidget* w)
{
    return w->isWindow() && w->windowType() == Qt::Popup;
}

}  // namespace

// Sees every event of the application before its receiver does and turns
// the few that matter into Messages.
class CMsgHook::Filter : public QObject {
public:
    Filter()
    {
        if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
            app->installEventFilter(this);
            connect(app, &QApplication::focusChanged, this, [](QWidget* old, QWidget* now) {
                if (old)
                    HookProc({Message::KillFocus, old, now});
            });
        }
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (!object->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(object);
        switch (event->type()) {
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)
                return HookProc({Message::KeyDown, widget, nullptr, key});
            return false;
        }
        case QEvent::Show:
        case QEvent::Hide:
            if (IsPopup(widget))
                HookProc({event->type() == QEvent::Show ? Message::DropDown : Message::CloseUp, widget});
            return false;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
            HookProc({Message::Click, widget});
            return false;
        default:
            return false;
        }
    }
};

int CMsgHook::s_nInstances = 0;
CMsgHook::Filter* CMsgHook::s_pFilter = nullptr;

CMsgHook::CMsgHook()
{
    if (s_nInstances++ == 0)
        s_pFilter = new Filter;
}

CMsgHook::~CMsgHook()
{
    Detach();
    if (--s_nInstances == 0) {
        delete s_pFilter;
        s_pFilter = nullptr;
    }
}

int CMsgHook::InstanceCount()
{
    return s_nInstances;
}

bool CMsgHook::Attach(QWidget* watched, QWidget* owner, QWidget* notify)
{
    if (!watched || !owner)
        return false;
    Detach();
    m_hWatched = watched;
    m_pWatched = watched;
    m_pOwner = owner;
    m_pNotify = notify;
    m_bDropDownOpen = false;
    Registrations()[watched] = this;
    // The raw address is captured: by the time `destroyed` arrives the
    // widget is half gone and only its identity is wanted.
    m_destroyWatch = QObject::connect(watched, &QObject::destroyed, s_pFilter,
                                      [watched] { HookProc({Message::Destroy, watched}); });
    return true;
}

bool CMsgHook::Detach()
{
    if (!m_hWatched)
        return false;
    auto& map = Registrations();
    auto it = map.find(m_hWatched);
    const bool wasThere = it != map.end() && it->second == this;
    if (wasThere)
        map.erase(it);
    QObject::disconnect(m_destroyWatch);
    m_hWatched = nullptr;
    m_pWatched = nullptr;
    m_pOwner = nullptr;
    m_pNotify = nullptr;
    m_bDropDownOpen = false;
    return wasThere;
}

bool CMsgHook::IsWithin(const QWidget* widget, const QWidget* ancestor)
{
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (w == ancestor)
            return true;
    return false;
}

// A popup's parent is the widget it drops down from, so the walk may cross
// from a combo box's list into the combo box; a key typed into such a list
// belongs to the list, so key lookups stop at the popup.
CMsgHook* CMsgHook::FindRegistration(QWidget* from, bool crossPopups)
{
    const auto& map = Registrations();
    for (QWidget* w = from; w; w = w->parentWidget()) {
        auto it = map.find(w);
        if (it != map.end())
            return it->second;
        if (!crossPopups && IsPopup(w))
            return nullptr;
    }
    return nullptr;
}

void CMsgHook::SendEndEdit(bool bCommit)
{
    QWidget* receiver = m_pNotify ? m_pNotify.data() : m_pOwner.data();
    if (!receiver)
        return;
    EndEditEvent event(bCommit);
    QCoreApplication::sendEvent(receiver, &event);
}

bool CMsgHook::HookProc(const Message& msg)
{
    switch (msg.kind) {
    case Message::KeyDown: {
        const bool enter = msg.key == Qt::Key_Return || msg.key == Qt::Key_Enter;
        if (!enter && msg.key != Qt::Key_Escape)
            return false;
        CMsgHook* hook = FindRegistration(msg.target, false);
        if (!hook)
            return false;
        hook->SendEndEdit(enter);
        return true;
    }
    case Message::DropDown:
    case Message::CloseUp:
        if (CMsgHook* hook = FindRegistration(msg.target, true))
            hook->m_bDropDownOpen = msg.kind == Message::DropDown;
        return false;
    case Message::KillFocus: {
        CMsgHook* hook = FindRegistration(msg.target, true);
        if (hook && !hook->m_bDropDownOpen && !IsWithin(msg.related, hook->m_hWatched))
            hook->SendEndEdit(true);
        return false;
    }
    case Message::Destroy: {
        auto& map = Registrations();
        auto it = map.find(msg.target);
        if (it != map.end())
            it->second->Detach();
        return false;
    }
    case Message::Click: {
        if (FindRegistration(msg.target, true))
            return false;
        // Ending one edit may end or start others; look each one up again.
        std::vector<QWidget*> watched;
        for (const auto& [window, hook] : Registrations())
            watched.push_back(window);
        for (QWidget* window : watched) {
            auto& map = Registrations();
            auto it = map.find(window);
            if (it == map.end())
                continue;
            CMsgHook* hook = it->second;
            if (hook->m_pWatched && !hook->m_bDropDownOpen)
                hook->SendEndEdit(true);
        }
        return false;
    }
    }
    return false;
}
