#pragma once
// Ends an in-place edit the way people expect: Enter commits, Escape
// cancels, and a click elsewhere or the focus moving away commits. One
// application-wide event filter serves every instance; it exists while any
// CMsgHook does. An instance registers one watched window (the editor) with
// the window that is told to end the edit: the notify window when given,
// else the owner. That window receives an EndEditEvent carrying the commit
// flag.
//
// While the editor's drop-down (a combo box list, a calendar, a context
// menu: any popup window under it) is open, losing the focus does not end
// the edit.
//
// GUI thread only.
#include <QEvent>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

class CMsgHook {
public:
    // The end-edit message's number, as the event type.
    static constexpr int kEndEditMessage = 1034;

    class EndEditEvent : public QEvent {
    public:
        explicit EndEditEvent(bool bCommit) : QEvent(QEvent::Type(kEndEditMessage)), m_bCommit(bCommit) {}
        bool Commit() const { return m_bCommit; }

    private:
        bool m_bCommit;
    };

    // What the filter saw, reduced to what the rules below look at.
    struct Message {
        enum Kind {
            KeyDown,    // key: Qt::Key_Return, Key_Enter, Key_Escape (others pass)
            DropDown,   // a popup window opened (target: the popup)
            CloseUp,    // a popup window closed
            KillFocus,  // target lost the focus to related (may be null)
            Destroy,    // target is being destroyed
            Click,      // mouse button down or wheel on target
        };
        Kind kind;
        QWidget* target;
        QWidget* related = nullptr;
        int key = 0;
    };

    CMsgHook();
    virtual ~CMsgHook();
    CMsgHook(const CMsgHook&) = delete;
    CMsgHook& operator=(const CMsgHook&) = delete;

    // False unless both windows exist. Replaces this instance's previous
    // registration.
    bool Attach(QWidget* watched, QWidget* owner, QWidget* notify = nullptr);
    // False when nothing was registered.
    bool Detach();
    bool IsAttached() const { return m_hWatched != nullptr; }
    bool IsDropDownOpen() const { return m_bDropDownOpen; }

    // The rules. Returns true when the event has been used up (the key that
    // ended an edit goes no further, so Escape does not also close the
    // dialog).
    static bool HookProc(const Message& msg);

    // Live instances (the filter is installed while there are any).
    static int InstanceCount();

private:
    class Filter;

    static CMsgHook* FindRegistration(QWidget* from, bool crossPopups);
    static bool IsWithin(const QWidget* widget, const QWidget* ancestor);
    void SendEndEdit(bool bCommit);

    // The watched window's address is its key in the registration map and is
    // never dereferenced; the pointer guards tell whether it still exists.
    QWidget* m_hWatched = nullptr;
    QPointer<QWidget> m_pWatched;
    QPointer<QWidget> m_pOwner;
    QPointer<QWidget> m_pNotify;
    bool m_bDropDownOpen = false;
    QMetaObject::Connection m_destroyWatch;

    static int s_nInstances;
    static Filter* s_pFilter;
};
