// Password hashing that throws (its memory not to be had): each button says so in a box, the
// window keeps what was typed, nothing counts as a failed login, and the program goes on.
#include "accounts/Password.h"
#include "forms/DbGuard.h"
#include "support/Apps.h"

#include <new>
#include <stdexcept>

using HashFailure = LoginApp;

TEST_F(HashFailure, EveryButtonShowsTheErrorAndLeavesTheWindowAsItWas) {
    addUser(u"alice"_s, u"secret"_s);
    accounts::failHashingForTests(true);
    for (const char* button : {"cmdOK", "RegComm", "modifyComm"}) {
        SCOPED_TRACE(button);
        dialogs->boxes.clear();
        fill("txtUserName", button == std::string("RegComm") ? u"bob"_s : u"alice"_s);
        fill("txtPassword", u"secret"_s);
        press(button);
        ASSERT_EQ(dialogs->boxes.size(), 1u) << dialogs->texts().join(u'|').toStdString();
        EXPECT_EQ(dialogs->last().title, u"错误"_s);
        EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
        EXPECT_FALSE(dialogs->last().text.contains(u"secret"_s));
        EXPECT_EQ(edit("txtPassword")->text(), u"secret"_s);
        EXPECT_TRUE(loginOpen());
        EXPECT_EQ(frmLogin::FailedLogins, 0);
    }
    accounts::failHashingForTests(false);
    attempt(u"alice"_s, u"secret"_s);
    EXPECT_TRUE(writeOpen());
}

TEST_F(HashFailure, GuardTurnsAnyExceptionIntoTheErrorBox) {
    const std::function<void()> throwers[] = {[] { throw std::bad_alloc(); },
                                              [] { throw std::runtime_error("secret text"); },
                                              [] { throw 42; }};
    for (const auto& work : throwers) {
        dialogs->boxes.clear();
        EXPECT_FALSE(app::guarded(login, work));
        ASSERT_EQ(dialogs->boxes.size(), 1u);
        EXPECT_EQ(dialogs->last().title, u"错误"_s);
        EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
        EXPECT_FALSE(dialogs->last().text.contains(u"secret"_s));
    }
}
