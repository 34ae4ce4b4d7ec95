// The promises of sealed entries, tried from the attacker's side: the raw file, another
// writer, a hand-set permission, moved ciphertexts, a wrong password; and the way back
// through the recovery key and the upgrade of a plain database.
#include "accounts/Password.h"
#include "accounts/frmLogin.h"
#include "base/Module1.h"
#include "data/Vault.h"
#include "forms/FormUtil.h"
#include "support/Apps.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <sodium.h>
#include <tuple>

class Privacy : public DiaryApp {
protected:
    void SetUp() override {
        DiaryApp::SetUp();
        Module1::reset();
        key = dir.filePath(u"recovery.key"_s);
    }

    // Leaves the diary windows for a fresh login window, as "重新登录" does.
    static frmLogin* loginWindow() {
        for (app::FormId id : {app::FormId::Look, app::FormId::Write})
            if (QWidget* w = app::loaded(id))
                app::unload(w);
        settle();
        auto* login = qobject_cast<frmLogin*>(app::loaded(app::FormId::Login));
        if (!login) {
            login = qobject_cast<frmLogin*>(app::load(app::FormId::Login));
            app::show(login);
        }
        return login;
    }
    static void press(const QString& name, const QString& pw, QPushButton* frmLogin::*button) {
        frmLogin* login = loginWindow();
        login->txtUserName->setText(name);
        login->txtPassword->setText(pw);
        click(login->*button);
        settle();
    }
    static bool logInAs(const QString& name, const QString& pw) {
        press(name, pw, &frmLogin::cmdOK);
        return app::loaded(app::FormId::Write) != nullptr;
    }
    // Registers, logs in and saves one entry; returns its ID.
    int writeAs(const QString& name, const QString& title, const QString& content) {
        press(name, name + u"-pw"_s, &frmLogin::RegComm);
        EXPECT_TRUE(logInAs(name, name + u"-pw"_s));
        auto* w = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
        w->B_Title_text->setText(title);
        w->B_Weather_Combo->setEditText(u"Foggy-Day"_s);
        w->B_Content_text->setPlainText(content);
        click(w->saveComm);
        settle();
        return count(u"select max(ID) from JR_content"_s);
    }
    // The browser after a search of all entries, on the entry `id`.
    frmLook* showAll(int id) {
        auto* look = qobject_cast<frmLook*>(app::loaded(app::FormId::Look));
        if (auto* w = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write))) {
            click(w->findNoteComm); // "浏览日记"
            settle();
            look = qobject_cast<frmLook*>(app::loaded(app::FormId::Look));
        }
        search(look, 2);
        for (int i = found(look); i > 1 && look->B_id != id; --i)
            click(look->commNext);
        EXPECT_EQ(look->B_id, id);
        return look;
    }
    // Tries to save `title` over the shown entry; the text of the last box.
    QString saveOver(frmLook* look, const QString& title) {
        click(look->modifyComm);
        look->txt_title->setText(title);
        click(look->saveComm);
        EXPECT_EQ(look->txt_title->text(), title);
        return dialogs->last().text;
    }
    // Runs the admin tool; its standard output, and its exit code in `rc`.
    QString admin(const QStringList& args, const QByteArray& input = {}, int* rc = nullptr) {
        QProcess p;
        p.start(QString::fromUtf8(DAYVAULT_ADMIN), args);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(60000);
        if (rc)
            *rc = p.exitCode();
        else
            EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    int refused(const QStringList& args, const QByteArray& input = {}) {
        int rc = 0;
        EXPECT_TRUE(admin(args, input, &rc).isEmpty());
        return rc;
    }
    QString key;
};

TEST_F(Privacy, TheFileHoldsNoEntryTextAndTheTitleSearchKeepsItsLike) {
    const QString content = u"潮汐在凌晨三点退去。"_s.repeated(400); // spans several pages
    const int id = writeAs(u"alice"_s, u"Lighthouse 'Notes' 100%"_s, content);
    frmLook* look = showAll(id);
    EXPECT_EQ(diary::plainText(look->txt_content), content);
    EXPECT_EQ(look->txt_weather->text(), u"Foggy-Day"_s);
    const struct {
        const char* pattern;
        int found;
    } cases[] = {{"lighthouse", 1}, {"'NOTES'", 1}, {"100%", 1}, {"L_ght", 1},
                 {"%notes", 1},     {"100x", 0},    {"塔", 0}};
    for (const auto& c : cases) {
        search(look, 3, QString::fromUtf8(c.pattern));
        EXPECT_EQ(found(look), c.found) << c.pattern;
    }
    look = showAll(id);
    EXPECT_EQ(saveOver(look, u"Beacon Log"_s), u"成功修改了记录号为%1的日记"_s.arg(id));
    loginWindow();
    const QByteArray raw = fileBytes();
    for (const char* text : {"Lighthouse", "Notes", "Beacon", "Foggy-Day", "潮汐在凌晨"})
        EXPECT_FALSE(raw.contains(QByteArray(text))) << text;
    EXPECT_EQ(scalar(u"select typeof(B_content) from JR_content"_s).toString(), u"blob"_s);
}

TEST_F(Privacy, APermissionSetByHandGivesNoKeyToReadChangeOrDelete) {
    const int secret = writeAs(u"alice"_s, u"alice's secret"_s, u"只给自己看"_s);
    const QString sealed = scalar(u"select hex(B_content) from JR_content"_s).toString();
    press(u"bob"_s, u"bob-pw"_s, &frmLogin::RegComm);
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
}

TEST_F(Privacy, ACiphertextMovedToAnotherRowOrColumnFailsToOpen) {
    const int a = writeAs(u"alice"_s, u"a-title"_s, u"a-text"_s);
    const int b = writeAs(u"bob"_s, u"b-title"_s, u"b-text"_s);
    exec(u"update JR_content set B_content=B_title where ID=%1"_s.arg(a));
    exec(u"update JR_content set B_title=(select B_title from JR_content where ID=%1) where ID=%2"_s
             .arg(a)
             .arg(b));
    for (const auto& [name, id, box] :
         {std::tuple{"alice", a, "B_content"}, {"bob", b, "B_title"}}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(logInAs(QString::fromUtf8(name), QString::fromUtf8(name) + u"-pw"_s));
        frmLook* look = showAll(id);
        const QString shown = QString::fromLatin1(box) == u"B_title"_s
                                  ? look->txt_title->text()
                                  : diary::plainText(look->txt_content);
        EXPECT_EQ(shown, vault::damagedText());
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
    EXPECT_FALSE(wrong.ok);
    EXPECT_TRUE(wrong.wrap.empty());
    EXPECT_FALSE(logInAs(u"alice"_s, u"alice-PW"_s));
    EXPECT_EQ(dialogs->last().text, u"对不起，无此用户或者密码不正确！请重新输入！！"_s);
    EXPECT_EQ(refused({u"export"_s, dbPath(), u"alice"_s}, "alice-PW\n"), 1);
    const auto line =
        QJsonDocument::fromJson(admin({u"export"_s, dbPath(), u"alice"_s}, "alice-pw\n").toUtf8());
    EXPECT_EQ(line[u"title"_s].toString(), u"alice's title"_s);
    EXPECT_EQ(line[u"writer"_s].toString(), u"alice"_s);
}

TEST_F(Privacy, TheRecoveryKeyGrantsResetsAndExports) {
    QFile::remove(dbPath());
    const QStringList keyFile = {u"--recovery-key-file"_s, key};
    admin(QStringList{u"init"_s, dbPath()} + keyFile);
    EXPECT_EQ(QFile::permissions(key) & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(refused(QStringList{u"init"_s, dbPath() + u"2"_s} + keyFile), 1);
    EXPECT_FALSE(QFile::exists(dbPath() + u"2"_s));

    const int id = writeAs(u"alice"_s, u"alice's title"_s, u"第一行\n第二行"_s);
    press(u"bob"_s, u"bob-pw"_s, &frmLogin::RegComm);
    EXPECT_EQ(refused({u"grant"_s, dbPath(), u"bob"_s}), 1);
    admin(QStringList{u"grant"_s, dbPath(), u"bob"_s} + keyFile);
    ASSERT_TRUE(logInAs(u"bob"_s, u"bob-pw"_s));
    EXPECT_EQ(showAll(id)->txt_title->text(), u"alice's title"_s);

    // A forgotten password, set anew by an administrator from the escrow.
    admin({u"passwd"_s, dbPath(), u"alice"_s, u"--as"_s, u"bob"_s}, "bob-pw\nnew pw\n");
    ASSERT_TRUE(logInAs(u"alice"_s, u"new pw"_s));
    EXPECT_EQ(diary::plainText(showAll(id)->txt_content), u"第一行\n第二行"_s);

    const QString out = dir.filePath(u"copy.mdb"_s);
    admin({u"backup"_s, dbPath(), out});
    EXPECT_EQ(refused({u"backup"_s, dbPath(), out}), 1);
    const QJsonObject entry =
        QJsonDocument::fromJson(admin(QStringList{u"export"_s, out} + keyFile).toUtf8()).object();
    EXPECT_EQ(entry, QJsonObject({{u"id"_s, id},
                                  {u"title"_s, u"alice's title"_s},
                                  {u"weather"_s, u"Foggy-Day"_s},
                                  {u"content"_s, u"第一行\n第二行"_s},
                                  {u"writer"_s, u"alice"_s},
                                  {u"time"_s, column("B_time", id)}}));

    admin({u"revoke"_s, dbPath(), u"bob"_s});
    EXPECT_EQ(count(u"select count(*) from JR_admin"_s), 0);
    exec(u"update JR_user set popedom=1 where B_user='bob'"_s);
    ASSERT_TRUE(logInAs(u"bob"_s, u"bob-pw"_s));
    EXPECT_EQ(showAll(id)->txt_title->text(), vault::noKeyText());
}

TEST_F(Privacy, AnUpgradedPlainDatabaseIsSealedAtEachWritersLogin) {
    exec(u"drop table JR_vault; drop table JR_key; drop table JR_admin; pragma user_version=1"_s);
    addUser(u"alice"_s, u"alice-pw"_s);
    addUser(u"bob"_s, u"bob-pw"_s);
    const int a = addEntry(u"alice plain"_s, u"alice"_s, u"2024-3-1 8:00:00"_s, u"旧的正文"_s);
    addEntry(u"bob plain"_s, u"bob"_s);
    admin(QStringList{u"upgrade"_s, dbPath(), u"--recovery-key-file"_s, key});
    EXPECT_EQ(count(u"pragma user_version"_s), 2);
    EXPECT_EQ(column("B_title", a), u"alice plain"_s); // until alice logs in
    ASSERT_TRUE(logInAs(u"alice"_s, u"alice-pw"_s));
    EXPECT_TRUE(accounts::isRecord(scalar(u"select B_password from JR_user"_s).toString()));
    const QByteArray raw = fileBytes();
    EXPECT_FALSE(raw.contains("alice plain"));
    EXPECT_FALSE(raw.contains(u"旧的正文"_s.toUtf8()));
    EXPECT_TRUE(raw.contains("bob plain"));
    EXPECT_EQ(diary::plainText(showAll(a)->txt_content), u"旧的正文"_s);
    EXPECT_TRUE(admin({u"upgrade"_s, dbPath(), u"--recovery-key-file"_s, key}).contains(u"最新"_s));
}
