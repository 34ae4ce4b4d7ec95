// Names and passwords as every account path compares and keeps them, and the login window:
// logging in, failing, registering, changing a password, and a check that throws.
#include "accounts/Password.h"
#include "data/myClass.h"
#include "data/statements.h"
#include "forms/DbGuard.h"
#include "forms/FormUtil.h"
#include "support/PgServer.h"
#include "support/Support.h"
#include "vault/Cipher.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QTimer>
#include <new>
#include <sodium.h>
#include <stdexcept>
#include <tuple>

TEST(Normalise, BlanksAtTheEndsThenApostrophes) {
    // Blanks first: one that stood by an edge apostrophe stays. Only U+0020 is a blank.
    const std::pair<QString, QString> cases[] = {
        {u"  ann  "_s, u"ann"_s},        {u"o'neil"_s, u"oneil"_s},    {u"'' "_s, u""_s},
        {u"' ann '"_s, u" ann "_s},      {u"\tann\t"_s, u"\tann\t"_s}, {u"a b"_s, u"a b"_s},
        {u"\u3000ann"_s, u"\u3000ann"_s}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(accounts::normalise(in), out) << in.toStdString();
}

using LoginTest = LoginApp;

// The stored name, in any case typed, with its permission. Passwords an older file kept as
// text become records of ours with a data key at the first login.
TEST_F(LoginTest, LogsInAsTheStoredNameWithItsPermission) {
    exec(u"insert into JR_user values('Ann Lee','%1',1),('txt','%1',' 1 '),('old','%1',7)"_s.arg(
        u"plain secret"_s));
    const std::tuple<QString, QString, int> cases[] = {
        {u"ANN LEE"_s, u"Ann Lee"_s, 1}, {u"txt"_s, u"txt"_s, 1}, {u"old"_s, u"old"_s, 7}};
    for (const auto& [typed, name, popedom] : cases) {
        SCOPED_TRACE(typed.toStdString());
        ASSERT_NE(useLogin(typed, u"plain secret"_s), nullptr);
        EXPECT_TRUE(dialogs->boxes.empty());
        EXPECT_EQ(Module1::UserName, name);
        EXPECT_EQ(Module1::UserPopedom, popedom);
    }
    EXPECT_TRUE(accounts::isRecord(scalar(u"select B_password from JR_user"_s).toString()));
    EXPECT_EQ(count(u"select count(*) from JR_key"_s), 3);
    EXPECT_FALSE(fileBytes().contains("plain secret"));
}

// A password change seals every entry again under a new key, a batch at a time: the window
// tells how far it is and offers no cancel, and every entry opens afterwards.
TEST_F(LoginTest, APasswordChangeShowsHowFarItIsAndKeepsEveryEntry) {
    std::multimap<QString, QString> expected;
    for (int i = 0; i < 30; ++i)
        expected.emplace(column("B_title", addEntry(u"第%1篇"_s.arg(i))), u"内容"_s);
    vault::setBatchRows(1);
    QString label;
    bool cancel = true;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (auto* d = login->findChild<QProgressDialog*>(); d && label.isEmpty())
            label = d->labelText(), cancel = d->findChild<QPushButton*>() != nullptr;
    });
    look.start(0);
    dialogs->inputAnswers.push_back(u"new-pw"_s);
    fill("txtUserName", u"alice"_s);
    fill("txtPassword", u"alice-pw"_s);
    press("modifyComm");
    vault::setBatchRows(2000);
    EXPECT_TRUE(label.startsWith(u"正在用新密钥重新加密你的日记…"_s) && label.contains(u"/30 篇"_s))
        << label.toStdString();
    EXPECT_FALSE(cancel);
    EXPECT_EQ(entries(), expected);
}

// A wrong password at 确定 or 修改密码: one box, the name selected, the password kept. The
// third failure of the run ends it, with a login between or not; so do Escape and the close box.
TEST_F(LoginTest, FailuresEnterEscapeAndTheCloseBox) {
    addUser(u"ann"_s, u"pw"_s);
    press("Command1");
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(u"/manual.html"_s));
    EXPECT_TRUE(dialogs->boxes.empty());
    desktop->acceptUrl = false; // no web launcher: the box says where the manual is
    press("Command1");
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_TRUE(dialogs->last().text.contains(desktop->opened[1].toLocalFile()));
    for (const char* button : {"cmdOK", "modifyComm"}) {
        SCOPED_TRACE(button);
        dialogs->boxes.clear();
        fill("txtUserName", u"ann"_s);
        fill("txtPassword", QString::fromLatin1(button));
        press(button);
        EXPECT_EQ(dialogs->texts(), QStringList{kFail});
        EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
        EXPECT_EQ(QApplication::focusWidget(), edit("txtUserName"));
        EXPECT_EQ(edit("txtUserName")->selectedText(), u"ann"_s);
        EXPECT_EQ(edit("txtPassword")->text(), QString::fromLatin1(button));
    }
    EXPECT_EQ(frmLogin::FailedLogins, 2);
    fill("txtPassword", u"pw"_s); // not changed by the refused change
    QTest::keyClick(edit("txtPassword"), Qt::Key_Return);
    settle();
    ASSERT_NE(app::loaded(app::FormId::Write), nullptr);
    useLogin(u"nobody"_s, QString()); // no row matches, not even an empty password
    EXPECT_EQ(dialogs->texts().mid(dialogs->texts().size() - 2),
              (QStringList{kFail, u"你已经尝试登录了三次，程序将结束"_s}));
    EXPECT_FALSE(loginOpen());
    EXPECT_EQ(endedCount, 1);
    open();
    QTest::keyClick(edit("txtUserName"), Qt::Key_Escape);
    settle();
    EXPECT_FALSE(loginOpen());
    open();
    QPointer<frmLogin> gone = login;
    login->close(); // the close box
    settle();
    EXPECT_TRUE(gone.isNull());
    EXPECT_EQ(endedCount, 3);
}

using RegisterTest = LoginApp;

// A new name is stored normalised, its password only as a hash, and the shown texts as typed;
// a taken or empty one is refused.
// 修改密码 then asks for the new password and keeps it as typed; Cancel empties it; an
// unknown or empty name is told so and counts as no failure.
TEST_F(RegisterTest, RegisteringAndChangingThePassword) {
    addUser(u"ann"_s, u"pw"_s);
    const QString taken = u"此用户已经存在，请用另外一个用户名注册"_s;
    const auto added = [](const QString& name) {
        return u"注册成功，请记住你的用户和密码\n\n用户：%1\n密码： it's me "_s.arg(name);
    };
    const std::pair<QString, QString> cases[] = {{u" a'NN "_s, taken},
                                                 {u" ' "_s, u"请填写用户名"_s},
                                                 {u" o'Brien "_s, added(u" o'Brien "_s)}};
    for (const auto& [name, says] : cases) {
        SCOPED_TRACE(name.toStdString());
        dialogs->boxes.clear();
        fill("txtUserName", name);
        fill("txtPassword", u" it's me "_s);
        press("RegComm");
        EXPECT_EQ(dialogs->texts(), QStringList{says});
        if (says == taken) {
            EXPECT_EQ(edit("txtUserName")->selectedText(), name);
        }
    }
    EXPECT_EQ(scalar(u"select group_concat(B_user||popedom) from JR_user"_s).toString(),
              u"ann0,oBrien0"_s);
    EXPECT_FALSE(fileBytes().contains("it's me") || fileBytes().contains("its me"));

    dialogs->boxes.clear();
    dialogs->inputAnswers.push_back(u"  new pw  "_s);
    press("modifyComm"); // right after a registration
    ASSERT_EQ(dialogs->boxes.size(), 2u);
    EXPECT_EQ(dialogs->boxes[0].kind, fake::Box::Input);
    EXPECT_EQ(dialogs->last().text, u"密码已经修改成功，请记住新密码：\n\r  new pw  "_s);
    EXPECT_FALSE(frmLogin::data().hasOcn());
    EXPECT_FALSE(fileBytes().contains("new pw"));
    fill("txtPassword", u"new pw"_s); // as the login compares it: no blanks at the ends
    press("modifyComm");              // Cancel
    EXPECT_EQ(dialogs->last().text, u"密码已经修改成功，请记住新密码：\n\r"_s);
    for (const auto& [name, says] :
         {std::pair{u"ghost"_s, u"此用户不存在"_s}, {QString(), u"请输入用户"_s}}) {
        fill("txtUserName", name);
        press("modifyComm");
        EXPECT_EQ(dialogs->last().text, says);
        EXPECT_EQ(edit("txtUserName")->selectedText(), name);
    }
    EXPECT_FALSE(frmLogin::data().hasRs());
    EXPECT_NE(useLogin(u" o'Brien "_s, QString()), nullptr);
    EXPECT_EQ(Module1::UserName, u"oBrien"_s);
    EXPECT_EQ(frmLogin::FailedLogins, 0);
}

using NameTest = LoginApp;

// After the normalisation, 注册 refuses a name with a control character or of more than 64
// characters (not UTF-16 units): one box says why, the typed texts stay, nothing is stored.
// Past the window's guard the file takes such a name, a server refuses it itself.
TEST_F(NameTest, ControlCharactersAndOverlongNamesAreRefusedAtRegistration) {
    const QString control = u"用户名中不能有控制字符（例如制表符、换行符），请换一个用户名"_s;
    const QString tooLong = u"用户名太长：最多 64 个字，请换一个短一些的用户名"_s;
    const QString ok; // the success box
    const QString astral = QString::fromUcs4(U"\U00020000");
    const std::pair<QString, QString> cases[] = {{u" ev\u001b[2Jil "_s, control},
                                                 {u"a\tb"_s, control},
                                                 {u"'\n'ann"_s, control},
                                                 {u"nul\u0000"_s, control},
                                                 {u"del\u007f"_s, control},
                                                 {u"csi\u009b"_s, control},
                                                 {u"us\u001f"_s, control},
                                                 {QString(65, u'日'), tooLong},
                                                 {u"张 三"_s, ok},
                                                 {u"nb\u00a0sp"_s, ok},
                                                 {astral.repeated(64), ok},
                                                 {u" "_s + QString(64, u'日') + u"' "_s, ok}};
    QStringList refused;
    for (const auto& [name, says] : cases) {
        SCOPED_TRACE(QString(name).replace(QChar(0), u"\\0"_s).toStdString());
        dialogs->boxes.clear();
        QGuiApplication::clipboard()->setText(name); // keys would not type a control character
        edit("txtUserName")->clear();
        edit("txtUserName")->paste();
        fill("txtPassword", u"pw"_s);
        press("RegComm");
        const QString shown =
            says.isEmpty() ? u"注册成功，请记住你的用户和密码\n\n用户：%1\n密码：pw"_s.arg(name)
                           : says;
        EXPECT_EQ(dialogs->texts(), QStringList{shown});
        EXPECT_EQ(dialogs->last().icon, app::Icon::None);
        EXPECT_EQ(edit("txtUserName")->text(), name);
        EXPECT_EQ(edit("txtPassword")->text(), u"pw"_s);
        if (!says.isEmpty())
            refused << name;
    }
    EXPECT_EQ(count(u"select count(*) from JR_user"_s), 4);
    EXPECT_EQ(frmLogin::FailedLogins, 0);
    for (const QString& name : refused) {
        if (pgtest::enabled())
            EXPECT_THROW(addUser(name, u"pw"_s), ado::Error);
        else
            addUser(name, u"pw"_s);
    }
    EXPECT_EQ(count(u"select count(*) from JR_user"_s), pgtest::enabled() ? 4 : 12);
}

using HashFailure = LoginApp;

// A check that throws (its memory not to be had), or any handler that throws: one error box
// quoting nothing typed, the window as it was, no failed login, and the program goes on.
TEST_F(HashFailure, EveryButtonAndHandlerShowsTheErrorAndKeepsTheWindow) {
    const auto oneErrorBox = [&] {
        ASSERT_EQ(dialogs->boxes.size(), 1u) << dialogs->texts().join(u'|').toStdString();
        EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
        EXPECT_FALSE(dialogs->last().text.contains(u"secret"_s));
        dialogs->boxes.clear();
    };
    addUser(u"alice"_s, u"secret"_s);
    accounts::failHashingForTests(true);
    for (const char* button : {"cmdOK", "RegComm", "modifyComm"}) {
        SCOPED_TRACE(button);
        fill("txtUserName", button == std::string("RegComm") ? u"bob"_s : u"alice"_s);
        fill("txtPassword", u"secret"_s);
        press(button);
        oneErrorBox();
        EXPECT_EQ(edit("txtPassword")->text(), u"secret"_s);
        EXPECT_TRUE(loginOpen());
        EXPECT_EQ(frmLogin::FailedLogins, 0);
    }
    const std::function<void()> throwers[] = {[] { throw std::bad_alloc(); },
                                              [] { throw std::runtime_error("secret text"); },
                                              [] { throw 42; }};
    for (const auto& work : throwers) {
        EXPECT_FALSE(app::guarded(login, work));
        oneErrorBox();
    }
    accounts::failHashingForTests(false);
    EXPECT_NE(useLogin(u"alice"_s, u"secret"_s), nullptr);
}
