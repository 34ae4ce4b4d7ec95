// Names and passwords as every account path compares and keeps them, and the login window:
// logging in, failing, registering, changing a password, and a check that throws. The keyset
// cursor over a real file; and the promises of sealed entries tried from the attacker's side
// (the raw file, another writer, a hand-set permission, moved ciphertexts, a wrong password)
// and the way back through the administrator's tool.
#include "accounts/Password.h"
#include "data/Cipher.h"
#include "data/myClass.h"
#include "data/statements.h"
#include "forms/DbGuard.h"
#include "forms/FormUtil.h"
#include "support/Support.h"

#include <QFile>
#include <QJsonDocument>
#include <QPointer>
#include <QProcess>
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

// The stored name, in any case typed. From a user table made elsewhere: a permission counts
// only as a small whole number, a password kept as text becomes a hash.
TEST_F(LoginTest, LogsInAsTheStoredNameWithItsPermission) {
    exec(u"drop table JR_user;"
         "create table JR_user(B_user text collate nocase, B_password text, popedom);"
         "insert into JR_user values('Ann Lee','%1',1),('nul','%1',NULL),('big','%1',99999),"
         "('txt','%1',' 1 '),('old','%1',7)"_s.arg(u"plain secret"_s));
    const std::tuple<QString, QString, int> cases[] = {{u"ANN LEE"_s, u"Ann Lee"_s, 1},
                                                       {u"nul"_s, u"nul"_s, 0},
                                                       {u"big"_s, u"big"_s, 0},
                                                       {u"txt"_s, u"txt"_s, 1},
                                                       {u"old"_s, u"old"_s, 7}};
    for (const auto& [typed, name, popedom] : cases) {
        SCOPED_TRACE(typed.toStdString());
        ASSERT_NE(useLogin(typed, u"plain secret"_s), nullptr);
        EXPECT_TRUE(dialogs->boxes.empty());
        EXPECT_EQ(Module1::UserName, name);
        EXPECT_EQ(Module1::UserPopedom, popedom);
    }
    EXPECT_TRUE(accounts::isHash(scalar(u"select B_password from JR_user"_s).toString()));
    EXPECT_FALSE(fileBytes().contains("plain secret"));
}

// A wrong password at 确定 or 修改密码: one box, the name selected, the password kept. The
// third failure of the run ends it, with a login between or not; so do Escape and the close box.
TEST_F(LoginTest, FailuresEnterEscapeAndTheCloseBox) {
    addUser(u"ann"_s, u"pw"_s);
    press("Command1");
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(u"/manual.html"_s));
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
// a taken or empty one is refused, also when another copy takes it between check and insert.
// 修改密码 then asks for the new password and keeps it as typed; Cancel empties it; an
// unknown or empty name is told so and counts as no failure.
TEST_F(RegisterTest, RegisteringAndChangingThePassword) {
    addUser(u"ann"_s, u"pw"_s);
    exec(u"create trigger race before insert on JR_user when new.B_user='late' begin "
         "insert into JR_user(B_user,B_password) values('LATE','x'); end"_s);
    const QString taken = u"此用户已经存在，请用另外一个用户名注册"_s;
    const auto added = [](const QString& name) {
        return u"注册成功，请记住你的用户和密码\n\n用户：%1\n密码： it's me "_s.arg(name);
    };
    const std::pair<QString, QString> cases[] = {{u" a'NN "_s, taken},
                                                 {u"late"_s, taken},
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

using RecordsetTest = TempApp;

// The keys are taken at the search and each row read when reached, with no read lock held in
// between: another copy writes and checkpoints while a result is shown.
TEST_F(RecordsetTest, MovesOffBothEndsReadingEachRowWhenReached) {
    exec(
        u"insert into JR_content(B_title,B_writer) values('t1','ann'),('t2','ann'),('t3','ann')"_s);
    myClass d;
    d.OpenData();
    d.rs().Open(sql::allEntries(), d.ocn());
    exec(u"update JR_content set B_title='changed' where ID=2; delete from JR_content where ID=3;"
         "insert into JR_content(B_title,B_writer) values('t4','ann')"_s);
    EXPECT_EQ(count(u"pragma wal_checkpoint(TRUNCATE)"_s), 0); // not kept busy by a reader
    ado::Recordset& rs = d.rs();
    EXPECT_EQ(rs.RecordCount(), 3);
    EXPECT_EQ(rs.Fields(u"b_TITLE"_s).toString(), u"t1"_s); // any case, as ADO
    using R = ado::Recordset;
    void (R::*const moves[])() = {&R::MoveNext,     &R::MoveNext,  &R::MoveNext,     &R::MoveNext,
                                  &R::MovePrevious, &R::MoveFirst, &R::MovePrevious, &R::MoveLast};
    const int after[] = {2, 3, ado::adPosEOF, ado::adPosEOF, 3, 1, ado::adPosBOF, 3};
    const QString titles[] = {{}, u"t1"_s, u"changed"_s, {}}; // the third deleted since
    int i = 0; // the moves walked by pointer: UBSan misreads an index into member pointers
    for (const auto move : moves) {
        (rs.*move)();
        const int pos = after[i];
        SCOPED_TRACE(i++);
        EXPECT_EQ(rs.AbsolutePosition(), pos);
        EXPECT_EQ(rs.eof(), pos == ado::adPosEOF);
        EXPECT_EQ(rs.bof(), pos == ado::adPosBOF);
        EXPECT_EQ(rs.Fields(u"B_title"_s).toString(), pos > 0 ? titles[pos] : QString());
    }
    d.ocn().Close(); // and its record set with it
    EXPECT_EQ(rs.State(), 0);
}

class Privacy : public LoginApp {
protected:
    // Registers, logs in and saves one entry; returns its ID.
    int writeAs(const QString& name, const QString& title, const QString& content) {
        useLogin(name, name + u"-pw"_s, &frmLogin::RegComm);
        frmWrite* w = useLogin(name, name + u"-pw"_s);
        w->B_Title_text->setText(title);
        w->B_Weather_Combo->setEditText(u"Foggy-Day"_s);
        w->B_Content_text->setPlainText(content);
        click(w->saveComm);
        settle();
        return count(u"select max(ID) from JR_content"_s);
    }
    // The browser after a search of all entries, on the entry `id`.
    frmLook* showAll(int id) {
        frmLook* l = look() ? look() : openLook();
        search(l, 2);
        for (int i = found(l); i > 1 && l->B_id != id; --i)
            click(l->commNext);
        EXPECT_EQ(l->B_id, id);
        return l;
    }
    // Tries to save `title` over the shown entry; the text of the last box.
    QString saveOver(frmLook* l, const QString& title) {
        click(l->modifyComm);
        l->txt_title->setText(title);
        click(l->saveComm);
        EXPECT_EQ(l->txt_title->text(), title);
        return dialogs->last().text;
    }
    // Runs the administrator's tool; its output. A refusal prints nothing.
    QString admin(const QStringList& args, const QByteArray& input = {}, int rc = 0) {
        QProcess p;
        p.start(QString::fromUtf8(DAYVAULT_ADMIN), args);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(60000);
        EXPECT_EQ(p.exitCode(), rc) << p.readAllStandardError().toStdString();
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_TRUE(rc == 0 || out.isEmpty());
        return out;
    }
    const QString key = dir.filePath(u"recovery.key"_s);
    const QStringList keyFile = {u"--recovery-key-file"_s, key};
};

TEST_F(Privacy, TheFileHoldsNoEntryTextAndTheTitleSearchKeepsItsLike) {
    const QString content = u"潮汐在凌晨三点退去。"_s.repeated(400); // spans several pages
    const int id = writeAs(u"alice"_s, u"Lighthouse 'Notes' 100%"_s, content);
    frmLook* look = showAll(id);
    EXPECT_EQ(diary::plainText(look->txt_content), content);
    search(look, 3, u"'NOTES' 1_0"_s); // LIKE on the opened titles
    EXPECT_EQ(found(look), 1);
    look = showAll(id);
    EXPECT_EQ(saveOver(look, u"Beacon Log"_s), u"成功修改了记录号为%1的日记"_s.arg(id));
    app::unload(look);
    settle();
    const QByteArray raw = fileBytes();
    for (const char* text : {"Lighthouse", "Notes", "Beacon", "Foggy-Day", "潮汐在凌晨"})
        EXPECT_FALSE(raw.contains(QByteArray(text))) << text;
    EXPECT_EQ(scalar(u"select typeof(B_content) from JR_content"_s).toString(), u"blob"_s);
}

// Without the writer's key nothing opens, not with a hand-set permission, nor a ciphertext
// moved to another row or column.
TEST_F(Privacy, NoKeyOrAMovedCiphertextOpensNothing) {
    const int secret = writeAs(u"alice"_s, u"alice's secret"_s, u"只给自己看"_s);
    const QString sealed = scalar(u"select hex(B_content) from JR_content"_s).toString();
    useLogin(u"bob"_s, u"bob-pw"_s, &frmLogin::RegComm);
    exec(u"update JR_user set popedom=1 where B_user='bob'"_s);
    const int own = writeAs(u"bob"_s, u"bob's own"_s, u"我的"_s);
    frmLook* look = showAll(secret);
    EXPECT_EQ(rows(look), QStringList({u"bob's own/bob"_s, vault::noKeyText() + u"/alice"_s}));
    look = showAll(secret);
    EXPECT_EQ(diary::plainText(look->txt_content), vault::noKeyText());
    EXPECT_TRUE(saveOver(look, u"hijacked"_s).contains(u"这篇日记无法解密，不能保存修改"_s));
    click(look->DelComm);
    EXPECT_TRUE(dialogs->last().text.contains(u"没有这篇日记的密钥，不能删除"_s));
    EXPECT_EQ(scalar(u"select hex(B_content) from JR_content where ID=%1"_s.arg(secret)), sealed);
    EXPECT_EQ(diary::plainText(showAll(own)->txt_content), u"我的"_s);

    exec(u"update JR_content set B_content=B_title where ID=%1;"
         "update JR_content set B_title=(select B_title from JR_content where ID=%1) where ID=%2"_s
             .arg(secret)
             .arg(own));
    for (const auto& [name, id, title] :
         {std::tuple{u"alice"_s, secret, false}, {u"bob"_s, own, true}}) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_NE(useLogin(name, name + u"-pw"_s), nullptr);
        look = showAll(id);
        EXPECT_EQ(title ? look->txt_title->text() : diary::plainText(look->txt_content),
                  vault::damagedText());
        EXPECT_TRUE(saveOver(look, u"over it"_s).contains(u"无法解密"_s));
    }
}

TEST_F(Privacy, AWrongPasswordOpensNothingAtTheRealCost) {
    accounts::setPasswordCost(crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE);
    writeAs(u"alice"_s, u"alice's title"_s, u"正文"_s);
    const QString stored = scalar(u"select B_password from JR_user"_s).toString();
    EXPECT_TRUE(stored.contains(u"m=65536,t=2,"_s));
    const accounts::Unlocked wrong = accounts::unlock(u"alice-PW"_s, stored);
    EXPECT_TRUE(!wrong.ok && wrong.wrap.empty()); // not even a key to try
    EXPECT_EQ(useLogin(u"alice"_s, u"alice-PW"_s), nullptr);
    EXPECT_EQ(dialogs->last().text, kFail);
    admin({u"export"_s, dbPath(), u"alice"_s}, "alice-PW\n", 1);
    const auto line =
        QJsonDocument::fromJson(admin({u"export"_s, dbPath(), u"alice"_s}, "alice-pw\n").toUtf8());
    EXPECT_EQ(line[u"title"_s].toString(), u"alice's title"_s);
}

TEST_F(Privacy, TheRecoveryKeyGrantsResetsAndExports) {
    QFile::remove(dbPath());
    admin(QStringList{u"init"_s, dbPath()} + keyFile);
    EXPECT_EQ(QFile::permissions(key) & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
    admin(QStringList{u"init"_s, dbPath() + u"2"_s} + keyFile, {}, 1); // never over a key file
    EXPECT_FALSE(QFile::exists(dbPath() + u"2"_s));

    const int id = writeAs(u"alice"_s, u"alice's title"_s, u"第一行\n第二行"_s);
    useLogin(u"bob"_s, u"bob-pw"_s, &frmLogin::RegComm);
    admin({u"grant"_s, dbPath(), u"bob"_s}, {}, 1);
    admin(QStringList{u"grant"_s, dbPath(), u"bob"_s} + keyFile);
    ASSERT_NE(useLogin(u"bob"_s, u"bob-pw"_s), nullptr);
    EXPECT_EQ(showAll(id)->txt_title->text(), u"alice's title"_s);

    // A forgotten password, set anew by an administrator from the escrow.
    admin({u"passwd"_s, dbPath(), u"alice"_s, u"--as"_s, u"bob"_s}, "bob-pw\nnew pw\n");
    ASSERT_NE(useLogin(u"alice"_s, u"new pw"_s), nullptr);
    EXPECT_EQ(diary::plainText(showAll(id)->txt_content), u"第一行\n第二行"_s);

    const QString out = dir.filePath(u"copy.mdb"_s);
    admin({u"backup"_s, dbPath(), out});
    admin({u"backup"_s, dbPath(), out}, {}, 1);
    const auto copy =
        QJsonDocument::fromJson(admin(QStringList{u"export"_s, out} + keyFile).toUtf8());
    EXPECT_EQ(copy[u"content"_s].toString(), u"第一行\n第二行"_s);
    EXPECT_EQ(copy[u"weather"_s].toString(), u"Foggy-Day"_s);

    admin({u"revoke"_s, dbPath(), u"bob"_s});
    EXPECT_EQ(count(u"select count(*) from JR_admin"_s), 0);
    exec(u"update JR_user set popedom=1 where B_user='bob'"_s);
    ASSERT_NE(useLogin(u"bob"_s, u"bob-pw"_s), nullptr);
    EXPECT_EQ(showAll(id)->txt_title->text(), vault::noKeyText());
}

TEST_F(Privacy, AnUpgradedPlainDatabaseIsSealedAtEachWritersLogin) {
    exec(u"drop table JR_vault; drop table JR_key; drop table JR_admin; pragma user_version=1"_s);
    addUser(u"alice"_s, u"alice-pw"_s);
    addUser(u"bob"_s, u"bob-pw"_s);
    const int a = addEntry(u"alice plain"_s, u"alice"_s, u"2024-3-1 8:00:00"_s, u"旧的正文"_s);
    addEntry(u"bob plain"_s, u"bob"_s);
    admin(QStringList{u"upgrade"_s, dbPath()} + keyFile);
    EXPECT_EQ(count(u"pragma user_version"_s), 2);
    EXPECT_EQ(column("B_title", a), u"alice plain"_s); // until alice logs in
    ASSERT_NE(useLogin(u"alice"_s, u"alice-pw"_s), nullptr);
    EXPECT_TRUE(accounts::isRecord(scalar(u"select B_password from JR_user"_s).toString()));
    const QByteArray raw = fileBytes();
    EXPECT_FALSE(raw.contains("alice plain") || raw.contains(u"旧的正文"_s.toUtf8()));
    EXPECT_TRUE(raw.contains("bob plain"));
    EXPECT_EQ(diary::plainText(showAll(a)->txt_content), u"旧的正文"_s);
    EXPECT_TRUE(admin(QStringList{u"upgrade"_s, dbPath()} + keyFile).contains(u"最新"_s));
}
