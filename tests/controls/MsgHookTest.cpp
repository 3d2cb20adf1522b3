#include <optional>

#include <QLineEdit>

#include "controls/MsgHook.h"
#include "tests/controls/ControlsTestSupport.h"

namespace krv::test {
namespace {

// Records the end-edit messages it is sent.
class EndEditReceiver : public QWidget {
public:
    std::vector<bool> commits;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::Type(CMsgHook::kEndEditMessage)) {
            commits.push_back(static_cast<CMsgHook::EndEditEvent*>(e)->Commit());
            return true;
        }
        return QWidget::event(e);
    }
};

// An editor (with a child and a popup of its own) watched for an owner,
// and a window outside it.
class MsgHookTest : public testing::Test {
protected:
    MsgHookTest()
    {
        editor = new QWidget(&owner);
        inner = new QLineEdit(editor);
        popup = new QWidget(editor, Qt::Popup);
        outside = new QLineEdit(&owner);
        EXPECT_TRUE(hook.Attach(editor, &owner));
    }

    using Msg = CMsgHook::Message;

    EndEditReceiver owner;
    QWidget* editor;
    QLineEdit* inner;
    QWidget* popup;
    QLineEdit* outside;
    CMsgHook hook;
};

TEST_F(MsgHookTest, DecidesWhichMessagesEndTheEdit)
{
    struct Case {
        const char* name;
        Msg msg;
        std::optional<bool> sent;  // the commit flag sent, if any
        bool usedUp;
    } cases[] = {
        {"Enter in the editor's child", {Msg::KeyDown, nullptr, nullptr, Qt::Key_Return}, true, true},
        {"keypad Enter", {Msg::KeyDown, nullptr, nullptr, Qt::Key_Enter}, true, true},
        {"Escape", {Msg::KeyDown, nullptr, nullptr, Qt::Key_Escape}, false, true},
        {"another key", {Msg::KeyDown, nullptr, nullptr, Qt::Key_A}, std::nullopt, false},
        {"focus to a window outside", {Msg::KillFocus, nullptr, nullptr}, true, false},
        {"focus to nowhere", {Msg::KillFocus, nullptr, nullptr}, true, false},
        {"focus within the editor", {Msg::KillFocus, nullptr, nullptr}, std::nullopt, false},
        {"click inside the editor", {Msg::Click, nullptr, nullptr}, std::nullopt, false},
        {"click outside", {Msg::Click, nullptr, nullptr}, true, false},
        {"click in the editor's popup", {Msg::Click, nullptr, nullptr}, std::nullopt, false},
    };
    // Targets are members, so fill them in here.
    QWidget* targets[][2] = {
        {inner, nullptr}, {inner, nullptr}, {inner, nullptr}, {inner, nullptr}, {inner, outside},
        {inner, nullptr}, {inner, editor},  {inner, nullptr}, {outside, nullptr}, {popup, nullptr},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        Msg msg = c.msg;
        msg.target = targets[i][0];
        msg.related = targets[i][1];
        owner.commits.clear();
        EXPECT_EQ(CMsgHook::HookProc(msg), c.usedUp);
        if (c.sent)
            EXPECT_EQ(owner.commits, std::vector<bool>{*c.sent});
        else
            EXPECT_TRUE(owner.commits.empty());
    }

    // Keys of windows outside the editor are none of its business.
    owner.commits.clear();
    EXPECT_FALSE(CMsgHook::HookProc({Msg::KeyDown, outside, nullptr, Qt::Key_Escape}));
    EXPECT_TRUE(owner.commits.empty());
}

TEST_F(MsgHookTest, AnOpenDropDownKeepsTheEditUntilItCloses)
{
    CMsgHook::HookProc({Msg::DropDown, popup});
    EXPECT_TRUE(hook.IsDropDownOpen());
    CMsgHook::HookProc({Msg::KillFocus, inner, outside});
    CMsgHook::HookProc({Msg::Click, outside});
    EXPECT_TRUE(owner.commits.empty());
    // A key typed into the open list belongs to the list.
    EXPECT_FALSE(CMsgHook::HookProc({Msg::KeyDown, popup, nullptr, Qt::Key_Escape}));
    EXPECT_TRUE(owner.commits.empty());

    CMsgHook::HookProc({Msg::CloseUp, popup});
    EXPECT_FALSE(hook.IsDropDownOpen());
    CMsgHook::HookProc({Msg::KillFocus, inner, outside});
    EXPECT_EQ(owner.commits, std::vector<bool>{true});
}

TEST_F(MsgHookTest, TheNotifyWindowGetsTheMessageWhenGiven)
{
    EndEditReceiver notify;
    ASSERT_TRUE(hook.Attach(editor, &owner, &notify));
    CMsgHook::HookProc({Msg::KeyDown, inner, nullptr, Qt::Key_Escape});
    EXPECT_TRUE(owner.commits.empty());
    EXPECT_EQ(notify.commits, std::vector<bool>{false});
}

TEST_F(MsgHookTest, RegistrationsComeAndGoWithTheirWindows)
{
    EXPECT_FALSE(hook.Attach(nullptr, &owner));
    EXPECT_FALSE(hook.Attach(editor, nullptr));
    EXPECT_TRUE(hook.IsAttached()) << "a refused attach keeps the registration";

    // Attaching again replaces this instance's registration.
    ASSERT_TRUE(hook.Attach(outside, &owner));
    CMsgHook::HookProc({Msg::KeyDown, inner, nullptr, Qt::Key_Return});
    EXPECT_TRUE(owner.commits.empty());

    delete outside;
    EXPECT_FALSE(hook.IsAttached());
    EXPECT_FALSE(hook.Detach());
    CMsgHook::HookProc({Msg::Click, editor});
    EXPECT_TRUE(owner.commits.empty());
}

TEST(MsgHookFilter, IsThereWhileAnyInstanceLives)
{
    const int before = CMsgHook::InstanceCount();
    {
        CMsgHook first;
        CMsgHook second;
        EXPECT_EQ(CMsgHook::InstanceCount(), before + 2);
        EndEditReceiver owner;
        auto* editor = new QLineEdit(&owner);
        ASSERT_TRUE(second.Attach(editor, &owner));
        // A real key event goes through the application's filter.
        sendKey(editor, Qt::Key_Return);
        EXPECT_EQ(owner.commits, std::vector<bool>{true});
    }
    EXPECT_EQ(CMsgHook::InstanceCount(), before);
    EndEditReceiver owner;
    auto* editor = new QLineEdit(&owner);
    sendKey(editor, Qt::Key_Return);
    EXPECT_TRUE(owner.commits.empty());
}

}  // namespace
}  // namespace krv::test
