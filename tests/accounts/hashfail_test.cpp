// Password hashing that throws (its memory not to be had): each button says so in a box, the
// window keeps what was typed, nothing counts as a failed login, and the program goes on.
#include "LoginFixture.h"
#include "accounts/Password.h"
#include "forms/DbGuard.h"

#include <new>
#include <stdexcept>

using HashFailure = LoginFixture;

TEST_F(HashFailure, EveryButtonShowsTheErrorAndLeavesTheWindowAsItWas) {
    addUser(s("alice"), s("secret"));
    accounts::failHashingForTests(true);
    for (const char* button : {"cmdOK", "RegComm", "modifyComm"}) {
        SCOPED_TRACE(button);
        dialogs->boxes.clear();
        type("txtUserName", s(button == std::string("RegComm") ? "bob" : "alice"));
        type("txtPassword", s("secret"));
        click(button);
        ASSERT_EQ(dialogs->boxes.size(), 1u) << dialogs->texts().join(u'|').toStdString();
        EXPECT_EQ(dialogs->last().title, s("错误"));
        EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
        EXPECT_FALSE(dialogs->last().text.contains(s("secret")));
        EXPECT_EQ(edit("txtPassword")->text(), s("secret"));
        EXPECT_TRUE(loginOpen());
        EXPECT_EQ(frmLogin::FailedLogins, 0);
    }
    accounts::failHashingForTests(false);
    attempt(s("alice"), s("secret"));
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
        EXPECT_EQ(dialogs->last().title, s("错误"));
        EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
        EXPECT_FALSE(dialogs->last().text.contains(s("secret")));
    }
}
