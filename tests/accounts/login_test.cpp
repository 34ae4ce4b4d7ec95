// Logging in through the real window.
#include "support/Apps.h"

#include <QLabel>
#include <QPointer>
#include <sqlite3.h>

using LoginTest = LoginApp;

TEST_F(LoginTest, StartState) {
    EXPECT_EQ(QApplication::focusWidget(), edit("txtUserName"));
    EXPECT_EQ(edit("txtPassword")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(button("cmdOK")->isDefault());
    EXPECT_EQ(login->findChild<QLabel*>(u"lblLabels0"_s)->buddy(), edit("txtUserName"));
    EXPECT_EQ(login->findChild<QLabel*>(u"lblLabels1"_s)->buddy(), edit("txtPassword"));
}

TEST_F(LoginTest, NameAndPasswordAreNormalisedAndTheStoredNameIsUsed) {
    addUser(u"Ann Lee"_s, u"pa ss"_s, 1);
    struct Case {
        const char* name;
        const char* password;
    };
    for (const Case& c :
         {Case{"  Ann Lee  ", " pa ss "}, Case{"A'nn' Lee", "pa' ss'"}, Case{"ANN LEE", "pa ss"}}) {
        SCOPED_TRACE(c.name);
        Module1::UserName.clear();
        Module1::UserPopedom = 0;
        if (!loginOpen())
            open();
        attempt(QString::fromUtf8(c.name), QString::fromUtf8(c.password));
        settle();
        EXPECT_TRUE(dialogs->boxes.empty());
        EXPECT_EQ(Module1::UserName, u"Ann Lee"_s);
        EXPECT_EQ(Module1::UserPopedom, 1);
        EXPECT_FALSE(loginOpen());
        EXPECT_TRUE(writeOpen());
        EXPECT_EQ(app::loadedCount(), 1);
        app::unload(app::loaded(app::FormId::Write));
        settle();
    }
    EXPECT_EQ(frmLogin::FailedLogins, 0);
}

TEST_F(LoginTest, FailureSelectsTheNameKeepsThePasswordAndCounts) {
    addUser(u"ann"_s, u"right"_s);
    attempt(u"ann"_s, u"wrong"_s);
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, kFail);
    EXPECT_EQ(dialogs->last().title, u"错误"_s);
    EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
    EXPECT_EQ(QApplication::focusWidget(), edit("txtUserName"));
    EXPECT_EQ(edit("txtUserName")->selectedText(), u"ann"_s);
    EXPECT_EQ(edit("txtPassword")->text(), u"wrong"_s);
    EXPECT_EQ(frmLogin::FailedLogins, 1);
    EXPECT_TRUE(loginOpen());
    // An unknown name fails the same way.
    attempt(u"nobody"_s, u"right"_s);
    EXPECT_EQ(dialogs->last().text, kFail);
    EXPECT_EQ(frmLogin::FailedLogins, 2);
}

TEST_F(LoginTest, ThirdFailureOfTheRunEndsItEvenAcrossALogin) {
    addUser(u"ann"_s, u"pw"_s);
    attempt(u"ann"_s, u"x"_s);
    attempt(u"ann"_s, u"pw"_s); // a success in between does not reset the count
    settle();
    ASSERT_TRUE(writeOpen());
    // "重新登录" from the writing window brings a fresh login window.
    app::go(app::loaded(app::FormId::Write), app::FormId::Login);
    settle();
    login = qobject_cast<frmLogin*>(app::loaded(app::FormId::Login));
    ASSERT_NE(login, nullptr);
    QApplication::setActiveWindow(login);
    attempt(u"ann"_s, u"y"_s);
    EXPECT_TRUE(loginOpen());
    EXPECT_EQ(endedCount, 0);
    attempt(u"ann"_s, u"z"_s);
    settle();
    EXPECT_EQ(dialogs->texts().mid(dialogs->texts().size() - 2), (QStringList{kFail, kThird}));
    EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
    EXPECT_FALSE(loginOpen());
    EXPECT_EQ(endedCount, 1);
}

TEST_F(LoginTest, EnterLogsInAndEscapeOrCloseEndsTheRun) {
    addUser(u"ann"_s, u"pw"_s);
    fill("txtUserName", u"ann"_s);
    fill("txtPassword", u"pw"_s);
    QTest::keyClick(edit("txtPassword"), Qt::Key_Return);
    settle();
    EXPECT_TRUE(writeOpen());
    app::go(app::loaded(app::FormId::Write), app::FormId::Login);
    settle();
    login = qobject_cast<frmLogin*>(app::loaded(app::FormId::Login));
    QApplication::setActiveWindow(login);
    QTest::keyClick(edit("txtUserName"), Qt::Key_Escape);
    settle();
    EXPECT_FALSE(loginOpen());
    EXPECT_EQ(endedCount, 1);

    open();
    QPointer<frmLogin> gone = login;
    login->close(); // the close box
    settle();
    EXPECT_TRUE(gone.isNull());
    EXPECT_EQ(endedCount, 2);
}

TEST_F(LoginTest, LinkOpensTheManualAndLeavesTheWindow) {
    fill("txtUserName", u"typed"_s);
    press("Command1");
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(u"/manual.html"_s));
    EXPECT_EQ(edit("txtUserName")->text(), u"typed"_s);
    EXPECT_TRUE(loginOpen());
}

TEST_F(LoginTest, PlainTextPasswordFromElsewhereIsReplacedByItsHash) {
    exec(u"insert into JR_user(B_user,B_password,popedom) values('old','plain secret',NULL)"_s
             .replace(u"NULL"_s, u"7"_s));
    attempt(u"old"_s, u"plain secret"_s);
    settle();
    EXPECT_TRUE(writeOpen());
    EXPECT_EQ(Module1::UserPopedom, 7);
    const QString stored = scalar(u"select B_password from JR_user"_s).toString();
    EXPECT_TRUE(stored.startsWith(u"$argon2id$"_s));
    EXPECT_FALSE(fileBytes().contains("plain secret"));
}

TEST_F(LoginTest, MissingOrOddPermissionFromElsewhereGrantsNothing) {
    // A user table made elsewhere, without our constraints.
    exec(u"drop table JR_user; create table JR_user(B_user text, B_password text, popedom)"_s);
    exec(u"insert into JR_user values('nul','p',NULL),('big','p',99999),('txt','p',' 1 ')"_s);
    const std::pair<const char*, int> cases[] = {{"nul", 0}, {"big", 0}, {"txt", 1}};
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name);
        if (!loginOpen())
            open();
        Module1::UserPopedom = 5;
        attempt(QString::fromUtf8(name), u"p"_s);
        settle();
        EXPECT_TRUE(writeOpen());
        EXPECT_EQ(Module1::UserPopedom, expected);
        app::unload(app::loaded(app::FormId::Write));
        settle();
    }
}

TEST_F(LoginTest, AWriterHoldingTheDatabaseDoesNotKeepPeopleOut) {
    // The plain-text upgrade needs a write; the lock only postpones it.
    exec(u"insert into JR_user(B_user,B_password) values('bob','b')"_s);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    attempt(u"bob"_s, u"b"_s);
    settle();
    EXPECT_TRUE(dialogs->boxes.empty());
    EXPECT_TRUE(writeOpen());
    sqlite3_exec(other, "rollback", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(scalar(u"select B_password from JR_user"_s).toString(), u"b"_s);
}

TEST_F(LoginTest, NoPasswordInClearInTheFile) {
    addUser(u"ann"_s, u"hunter2-secret"_s);
    attempt(u"ann"_s, u"hunter2-secret"_s);
    settle();
    EXPECT_FALSE(fileBytes().contains("hunter2-secret"));
}
