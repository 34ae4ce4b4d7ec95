// Logging in through the real window.
#include "LoginFixture.h"

#include <QFile>
#include <QFileDevice>
#include <QLabel>
#include <QPointer>
#include <sqlite3.h>

using LoginTest = LoginFixture;

TEST_F(LoginTest, StartStateGeometryAndKeys) {
    EXPECT_EQ(login->windowTitle(), s("登录DayVault"));
    EXPECT_EQ(QApplication::focusWidget(), edit("txtUserName"));
    EXPECT_EQ(edit("txtPassword")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(button("cmdOK")->isDefault());
    EXPECT_EQ(login->findChild<QLabel*>(s("lblLabels0"))->buddy(), edit("txtUserName"));
    EXPECT_EQ(login->findChild<QLabel*>(s("lblLabels1"))->buddy(), edit("txtPassword"));
    EXPECT_EQ(edit("txtUserName")->geometry(), app::Twips::rect(1290, 135, 2325, 345));
    // Tab order: name, password, then the buttons left to right, then the link.
    QWidget* w = edit("txtUserName");
    QStringList order;
    for (int i = 0; i < 7; ++i, w = w->nextInFocusChain()) {
        while (!(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
        order << w->objectName();
    }
    EXPECT_EQ(order, (QStringList{s("txtUserName"), s("txtPassword"), s("cmdOK"), s("cmdCancel"),
                                  s("RegComm"), s("modifyComm"), s("Command1")}));
    EXPECT_EQ(Module1::UserName, QString());
    EXPECT_EQ(Module1::UserPopedom, 0);
}

TEST_F(LoginTest, NameAndPasswordAreNormalisedAndTheStoredNameIsUsed) {
    addUser(s("Ann Lee"), s("pa ss"), 1);
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
        attempt(s(c.name), s(c.password));
        settle();
        EXPECT_TRUE(dialogs->boxes.empty());
        EXPECT_EQ(Module1::UserName, s("Ann Lee"));
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
    addUser(s("ann"), s("right"));
    attempt(s("ann"), s("wrong"));
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, kFail);
    EXPECT_EQ(dialogs->last().title, s("错误"));
    EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
    EXPECT_EQ(QApplication::focusWidget(), edit("txtUserName"));
    EXPECT_EQ(edit("txtUserName")->selectedText(), s("ann"));
    EXPECT_EQ(edit("txtPassword")->text(), s("wrong"));
    EXPECT_EQ(frmLogin::FailedLogins, 1);
    EXPECT_TRUE(loginOpen());
    // An unknown name fails the same way.
    attempt(s("nobody"), s("right"));
    EXPECT_EQ(dialogs->last().text, kFail);
    EXPECT_EQ(frmLogin::FailedLogins, 2);
}

TEST_F(LoginTest, ThirdFailureOfTheRunEndsItEvenAcrossALogin) {
    addUser(s("ann"), s("pw"));
    attempt(s("ann"), s("x"));
    attempt(s("ann"), s("pw")); // a success in between does not reset the count
    settle();
    ASSERT_TRUE(writeOpen());
    // "重新登录" from the writing window brings a fresh login window.
    app::go(app::loaded(app::FormId::Write), app::FormId::Login);
    settle();
    login = qobject_cast<frmLogin*>(app::loaded(app::FormId::Login));
    ASSERT_NE(login, nullptr);
    QApplication::setActiveWindow(login);
    attempt(s("ann"), s("y"));
    EXPECT_TRUE(loginOpen());
    EXPECT_EQ(endedCount, 0);
    attempt(s("ann"), s("z"));
    settle();
    EXPECT_EQ(dialogs->texts().mid(dialogs->texts().size() - 2), (QStringList{kFail, kThird}));
    EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
    EXPECT_FALSE(loginOpen());
    EXPECT_EQ(endedCount, 1);
}

TEST_F(LoginTest, EnterLogsInAndEscapeOrCloseEndsTheRun) {
    addUser(s("ann"), s("pw"));
    type("txtUserName", s("ann"));
    type("txtPassword", s("pw"));
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
    type("txtUserName", s("typed"));
    click("Command1");
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(s("/manual.html")));
    EXPECT_EQ(edit("txtUserName")->text(), s("typed"));
    EXPECT_TRUE(loginOpen());
}

TEST_F(LoginTest, PlainTextPasswordFromElsewhereIsReplacedByItsHash) {
    exec(s("insert into JR_user(B_user,B_password,popedom) values('old','plain secret',NULL)")
             .replace(s("NULL"), s("7")));
    attempt(s("old"), s("plain secret"));
    settle();
    EXPECT_TRUE(writeOpen());
    EXPECT_EQ(Module1::UserPopedom, 7);
    const QString stored = scalar(s("select B_password from JR_user")).toString();
    EXPECT_TRUE(stored.startsWith(s("$argon2id$")));
    EXPECT_FALSE(fileBytes().contains("plain secret"));
}

TEST_F(LoginTest, MissingOrOddPermissionFromElsewhereGrantsNothing) {
    // A user table made elsewhere, without our constraints.
    exec(s("drop table JR_user; create table JR_user(B_user text, B_password text, popedom)"));
    exec(s("insert into JR_user values('nul','p',NULL),('big','p',99999),('txt','p',' 1 ')"));
    const std::pair<const char*, int> cases[] = {{"nul", 0}, {"big", 0}, {"txt", 1}};
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name);
        if (!loginOpen())
            open();
        Module1::UserPopedom = 5;
        attempt(s(name), s("p"));
        settle();
        EXPECT_TRUE(writeOpen());
        EXPECT_EQ(Module1::UserPopedom, expected);
        app::unload(app::loaded(app::FormId::Write));
        settle();
    }
}

TEST_F(LoginTest, DatabaseFailuresKeepTheWindowAndWorkOnceFixed) {
    addUser(s("ann"), s("pw"));
    const QString saved = dbPath() + s(".saved");
    QFile::copy(dbPath(), saved);
    struct Case {
        const char* name;
        std::function<void()> breakIt;
    };
    const std::vector<Case> cases = {
        {"missing", [&] { QFile::remove(dbPath()); }},
        {"not a database",
         [&] {
             QFile::remove(dbPath());
             QFile f(dbPath());
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write(QByteArray(2048, 'x'));
         }},
        {"table missing", [&] { exec(s("drop table JR_user")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        frmLogin::resetRun();
        dialogs->boxes.clear();
        c.breakIt();
        attempt(s("ann"), s("pw"));
        ASSERT_EQ(dialogs->boxes.size(), 1u);
        EXPECT_EQ(dialogs->last().title, s("错误"));
        EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
        EXPECT_TRUE(dialogs->last().text.contains(s("data.mdb")));
        EXPECT_TRUE(loginOpen());
        EXPECT_EQ(edit("txtUserName")->text(), s("ann"));
        EXPECT_EQ(edit("txtPassword")->text(), s("pw"));
        EXPECT_EQ(frmLogin::FailedLogins, 0);
        // Put the file back: the same button works.
        frmLogin::resetRun();
        QFile::remove(dbPath());
        QFile::copy(saved, dbPath());
    }
    click("cmdOK");
    settle();
    EXPECT_TRUE(writeOpen());
}

TEST_F(LoginTest, AWriterHoldingTheDatabaseDoesNotKeepPeopleOut) {
    // The plain-text upgrade needs a write; the lock only postpones it.
    exec(s("insert into JR_user(B_user,B_password) values('bob','b')"));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    attempt(s("bob"), s("b"));
    settle();
    EXPECT_TRUE(dialogs->boxes.empty());
    EXPECT_TRUE(writeOpen());
    sqlite3_exec(other, "rollback", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(scalar(s("select B_password from JR_user")).toString(), s("b"));
}

TEST_F(LoginTest, NoPasswordInClearInTheFile) {
    addUser(s("ann"), s("hunter2-secret"));
    attempt(s("ann"), s("hunter2-secret"));
    settle();
    EXPECT_FALSE(fileBytes().contains("hunter2-secret"));
}
