// Registration and password change through the real window.
#include "support/Apps.h"

using RegisterTest = LoginApp;

namespace {
const QString kTaken = u"此用户已经存在，请用另外一个用户名注册"_s;
const QString kPrompt = u"请输入新密码,如果按取消，则密码将改为空"_s;
} // namespace

TEST_F(RegisterTest, NewNameThenLoginWithTheTextAsTyped) {
    fill("txtUserName", u" o'Brien "_s);
    fill("txtPassword", u" it's me "_s);
    press("RegComm");
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text,
              u"注册成功，请记住你的用户和密码\n\n用户： o'Brien \n密码： it's me "_s);
    EXPECT_EQ(dialogs->last().title, u"diary pad"_s);
    EXPECT_EQ(dialogs->last().icon, app::Icon::None);
    EXPECT_EQ(scalar(u"select B_user from JR_user"_s).toString(), u"oBrien"_s);
    EXPECT_EQ(scalar(u"select popedom from JR_user"_s).toInt(), 0);
    EXPECT_TRUE(loginOpen());
    EXPECT_FALSE(fileBytes().contains("it's me"));
    EXPECT_FALSE(fileBytes().contains("its me"));
    press("cmdOK");
    settle();
    EXPECT_EQ(Module1::UserName, u"oBrien"_s);
}

TEST_F(RegisterTest, TakenNameRefusedInEverySpellingTheRulesFold) {
    addUser(u"ann"_s, u"pw"_s);
    for (const char* spelling : {"ann", "  ann ", "a'nn", "ANN"}) {
        SCOPED_TRACE(spelling);
        dialogs->boxes.clear();
        fill("txtUserName", QString::fromUtf8(spelling));
        press("RegComm");
        ASSERT_EQ(dialogs->boxes.size(), 1u);
        EXPECT_EQ(dialogs->last().text, kTaken);
        EXPECT_EQ(edit("txtUserName")->selectedText(), QString::fromUtf8(spelling));
        EXPECT_FALSE(frmLogin::data().hasOcn()); // closed and released
        EXPECT_FALSE(frmLogin::data().hasRs());
    }
    EXPECT_EQ(count(u"select count(*) from JR_user"_s), 1);
}

TEST_F(RegisterTest, EmptyNamesAreRefused) {
    for (const char* name : {"", "   ", "''", " ' "}) {
        SCOPED_TRACE(name);
        dialogs->boxes.clear();
        fill("txtUserName", QString::fromUtf8(name));
        press("RegComm");
        ASSERT_EQ(dialogs->boxes.size(), 1u);
        EXPECT_EQ(dialogs->last().text, u"请填写用户名"_s);
    }
    EXPECT_EQ(count(u"select count(*) from JR_user"_s), 0);
    fill("txtUserName", QString());
    press("modifyComm");
    EXPECT_EQ(dialogs->last().text, u"请输入用户"_s);
}

TEST_F(RegisterTest, SecondRegistrationAndPasswordChangeRightAfterOne) {
    fill("txtUserName", u"ann"_s);
    fill("txtPassword", u"a"_s);
    press("RegComm");
    ASSERT_EQ(frmLogin::data().rs().State(), 1); // left open by the registration
    fill("txtUserName", u"bob"_s);
    press("RegComm");
    EXPECT_EQ(count(u"select count(*) from JR_user"_s), 2);
    dialogs->inputAnswers.push_back(u"new"_s);
    fill("txtPassword", u"a"_s);
    press("modifyComm");
    EXPECT_EQ(dialogs->last().text, u"密码已经修改成功，请记住新密码：\n\rnew"_s);
    EXPECT_FALSE(frmLogin::data().hasOcn());
    attempt(u"bob"_s, u"new"_s);
    settle();
    EXPECT_TRUE(writeOpen());
}

TEST_F(RegisterTest, LosingARaceToAnotherCopyReadsAsTaken) {
    // Another running copy adds the name between our check and our insert.
    exec(u"create trigger race before insert on JR_user when new.B_user='late' begin "
         "insert into JR_user(B_user,B_password) values('LATE','x'); end"_s);
    fill("txtUserName", u"late"_s);
    press("RegComm");
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, kTaken);
}

TEST_F(RegisterTest, PasswordChangeNeedsTheCurrentPassword) {
    addUser(u"ann"_s, u"old"_s);
    fill("txtUserName", u"ann"_s);
    fill("txtPassword", u"guess"_s);
    dialogs->inputAnswers.push_back(u"mine now"_s);
    press("modifyComm");
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, kFail);
    EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
    EXPECT_EQ(edit("txtUserName")->selectedText(), u"ann"_s);
    EXPECT_EQ(frmLogin::FailedLogins, 1);
    attempt(u"ann"_s, u"old"_s);
    settle();
    EXPECT_TRUE(writeOpen()); // the old password still holds
}

TEST_F(RegisterTest, FailuresCountAcrossLoginAndPasswordChange) {
    addUser(u"ann"_s, u"old"_s);
    attempt(u"ann"_s, u"x"_s);
    fill("txtPassword", u"y"_s);
    press("modifyComm");
    EXPECT_TRUE(loginOpen());
    fill("txtPassword", u"z"_s);
    press("modifyComm");
    settle();
    EXPECT_EQ(dialogs->last().text, kThird);
    EXPECT_FALSE(loginOpen());
    EXPECT_EQ(endedCount, 1);
}

TEST_F(RegisterTest, ChangeWithBlanksCancelAndUnknownName) {
    addUser(u"ann"_s, u"old"_s);
    fill("txtUserName", u"ann"_s);
    fill("txtPassword", u"old"_s);
    dialogs->inputAnswers.push_back(u"  new pw  "_s);
    press("modifyComm");
    const fake::Box prompt = dialogs->boxes[0];
    EXPECT_EQ(prompt.kind, fake::Box::Input);
    EXPECT_EQ(prompt.text, kPrompt);
    EXPECT_EQ(prompt.title, u"diary pad"_s);
    EXPECT_EQ(dialogs->last().text, u"密码已经修改成功，请记住新密码：\n\r  new pw  "_s);
    EXPECT_FALSE(fileBytes().contains("new pw"));

    fill("txtPassword", u"new pw"_s); // as the login compares it: no blanks at the ends
    press("modifyComm");              // Cancel: the password becomes empty
    EXPECT_EQ(dialogs->last().text, u"密码已经修改成功，请记住新密码：\n\r"_s);
    attempt(u"ann"_s, QString());
    settle();
    EXPECT_TRUE(writeOpen());
    EXPECT_EQ(frmLogin::FailedLogins, 0);

    open();
    dialogs->boxes.clear();
    fill("txtUserName", u"ghost"_s);
    press("modifyComm");
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, u"此用户不存在"_s);
    EXPECT_EQ(edit("txtUserName")->selectedText(), u"ghost"_s);
    EXPECT_FALSE(frmLogin::data().hasRs());
    EXPECT_EQ(frmLogin::FailedLogins, 0);
}
