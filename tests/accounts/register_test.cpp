// Registration and password change through the real window.
#include "LoginFixture.h"

using RegisterTest = LoginFixture;

namespace {
const QString kTaken = QString::fromUtf8("此用户已经存在，请用另外一个用户名注册");
const QString kPrompt = QString::fromUtf8("请输入新密码,如果按取消，则密码将改为空");
} // namespace

TEST_F(RegisterTest, NewNameThenLoginWithTheTextAsTyped) {
    type("txtUserName", s(" o'Brien "));
    type("txtPassword", s(" it's me "));
    click("RegComm");
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text,
              s("注册成功，请记住你的用户和密码\n\n用户： o'Brien \n密码： it's me "));
    EXPECT_EQ(dialogs->last().title, s("diary pad"));
    EXPECT_EQ(dialogs->last().icon, app::Icon::None);
    EXPECT_EQ(scalar(s("select B_user from JR_user")).toString(), s("oBrien"));
    EXPECT_EQ(scalar(s("select popedom from JR_user")).toInt(), 0);
    EXPECT_TRUE(loginOpen());
    EXPECT_FALSE(fileBytes().contains("it's me"));
    EXPECT_FALSE(fileBytes().contains("its me"));
    click("cmdOK");
    settle();
    EXPECT_EQ(Module1::UserName, s("oBrien"));
}

TEST_F(RegisterTest, TakenNameRefusedInEverySpellingTheRulesFold) {
    addUser(s("ann"), s("pw"));
    for (const char* spelling : {"ann", "  ann ", "a'nn", "ANN"}) {
        SCOPED_TRACE(spelling);
        dialogs->boxes.clear();
        type("txtUserName", s(spelling));
        click("RegComm");
        ASSERT_EQ(dialogs->boxes.size(), 1u);
        EXPECT_EQ(dialogs->last().text, kTaken);
        EXPECT_EQ(edit("txtUserName")->selectedText(), s(spelling));
        EXPECT_FALSE(frmLogin::data().hasOcn()); // closed and released
        EXPECT_FALSE(frmLogin::data().hasRs());
    }
    EXPECT_EQ(count(s("select count(*) from JR_user")), 1);
}

TEST_F(RegisterTest, EmptyNamesAreRefused) {
    for (const char* name : {"", "   ", "''", " ' "}) {
        SCOPED_TRACE(name);
        dialogs->boxes.clear();
        type("txtUserName", s(name));
        click("RegComm");
        ASSERT_EQ(dialogs->boxes.size(), 1u);
        EXPECT_EQ(dialogs->last().text, s("请填写用户名"));
    }
    EXPECT_EQ(count(s("select count(*) from JR_user")), 0);
    type("txtUserName", QString());
    click("modifyComm");
    EXPECT_EQ(dialogs->last().text, s("请输入用户"));
}

TEST_F(RegisterTest, SecondRegistrationAndPasswordChangeRightAfterOne) {
    type("txtUserName", s("ann"));
    type("txtPassword", s("a"));
    click("RegComm");
    ASSERT_EQ(frmLogin::data().rs().State(), 1); // left open by the registration
    type("txtUserName", s("bob"));
    click("RegComm");
    EXPECT_EQ(count(s("select count(*) from JR_user")), 2);
    dialogs->inputAnswers.push_back(s("new"));
    type("txtPassword", s("a"));
    click("modifyComm");
    EXPECT_EQ(dialogs->last().text, s("密码已经修改成功，请记住新密码：\n\rnew"));
    EXPECT_FALSE(frmLogin::data().hasOcn());
    attempt(s("bob"), s("new"));
    settle();
    EXPECT_TRUE(writeOpen());
}

TEST_F(RegisterTest, LosingARaceToAnotherCopyReadsAsTaken) {
    // Another running copy adds the name between our check and our insert.
    exec(s("create trigger race before insert on JR_user when new.B_user='late' begin "
           "insert into JR_user(B_user,B_password) values('LATE','x'); end"));
    type("txtUserName", s("late"));
    click("RegComm");
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, kTaken);
}

TEST_F(RegisterTest, PasswordChangeNeedsTheCurrentPassword) {
    addUser(s("ann"), s("old"));
    type("txtUserName", s("ann"));
    type("txtPassword", s("guess"));
    dialogs->inputAnswers.push_back(s("mine now"));
    click("modifyComm");
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, kFail);
    EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
    EXPECT_EQ(edit("txtUserName")->selectedText(), s("ann"));
    EXPECT_EQ(frmLogin::FailedLogins, 1);
    attempt(s("ann"), s("old"));
    settle();
    EXPECT_TRUE(writeOpen()); // the old password still holds
}

TEST_F(RegisterTest, FailuresCountAcrossLoginAndPasswordChange) {
    addUser(s("ann"), s("old"));
    attempt(s("ann"), s("x"));
    type("txtPassword", s("y"));
    click("modifyComm");
    EXPECT_TRUE(loginOpen());
    type("txtPassword", s("z"));
    click("modifyComm");
    settle();
    EXPECT_EQ(dialogs->last().text, kThird);
    EXPECT_FALSE(loginOpen());
    EXPECT_EQ(endedCount, 1);
}

TEST_F(RegisterTest, ChangeWithBlanksCancelAndUnknownName) {
    addUser(s("ann"), s("old"));
    type("txtUserName", s("ann"));
    type("txtPassword", s("old"));
    dialogs->inputAnswers.push_back(s("  new pw  "));
    click("modifyComm");
    const fake::Box prompt = dialogs->boxes[0];
    EXPECT_EQ(prompt.kind, fake::Box::Input);
    EXPECT_EQ(prompt.text, kPrompt);
    EXPECT_EQ(prompt.title, s("diary pad"));
    EXPECT_EQ(dialogs->last().text, s("密码已经修改成功，请记住新密码：\n\r  new pw  "));
    EXPECT_FALSE(fileBytes().contains("new pw"));

    type("txtPassword", s("new pw")); // as the login compares it: no blanks at the ends
    click("modifyComm");              // Cancel: the password becomes empty
    EXPECT_EQ(dialogs->last().text, s("密码已经修改成功，请记住新密码：\n\r"));
    attempt(s("ann"), QString());
    settle();
    EXPECT_TRUE(writeOpen());
    EXPECT_EQ(frmLogin::FailedLogins, 0);

    open();
    dialogs->boxes.clear();
    type("txtUserName", s("ghost"));
    click("modifyComm");
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, s("此用户不存在"));
    EXPECT_EQ(edit("txtUserName")->selectedText(), s("ghost"));
    EXPECT_FALSE(frmLogin::data().hasRs());
    EXPECT_EQ(frmLogin::FailedLogins, 0);
}
