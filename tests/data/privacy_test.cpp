// The promises of sealed entries, tried from the attacker's side: the raw file, another
// writer, a hand-set permission, moved ciphertexts, a wrong password; and the way back
// through the recovery key and the upgrade of a plain database.
#include "DiaryApp.h"
#include "accounts/Password.h"
#include "accounts/frmLogin.h"
#include "app/Module1.h"
#include "data/Vault.h"
#include "diary/FormUtil.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <sodium.h>
#include <tuple>

namespace {
QString u(const char* s) {
    return QString::fromUtf8(s);
}
} // namespace

class Privacy : public DiaryApp {
protected:
    void SetUp() override {
        accounts::setPasswordCost(crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN);
        DiaryApp::SetUp();
        frmLogin::resetRun();
        Module1::reset();
        key = dir.filePath(u("recovery.key"));
    }
    void TearDown() override {
        frmLogin::resetRun();
        DiaryApp::TearDown();
        accounts::setPasswordCost(crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                  crypto_pwhash_MEMLIMIT_INTERACTIVE);
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
        press(name, name + u("-pw"), &frmLogin::RegComm);
        EXPECT_TRUE(logInAs(name, name + u("-pw")));
        auto* w = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
        w->B_Title_text->setText(title);
        w->B_Weather_Combo->setEditText(u("Foggy-Day"));
        w->B_Content_text->setPlainText(content);
        click(w->saveComm);
        settle();
        return count(u("select max(ID) from JR_content"));
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
    const QString content = u("潮汐在凌晨三点退去。").repeated(400); // spans several pages
    const int id = writeAs(u("alice"), u("Lighthouse 'Notes' 100%"), content);
    frmLook* look = showAll(id);
    EXPECT_EQ(diary::plainText(look->txt_content), content);
    EXPECT_EQ(look->txt_weather->text(), u("Foggy-Day"));
    const struct {
        const char* pattern;
        int found;
    } cases[] = {{"lighthouse", 1}, {"'NOTES'", 1}, {"100%", 1}, {"L_ght", 1},
                 {"%notes", 1},     {"100x", 0},    {"塔", 0}};
    for (const auto& c : cases) {
        search(look, 3, u(c.pattern));
        EXPECT_EQ(found(look), c.found) << c.pattern;
    }
    look = showAll(id);
    EXPECT_EQ(saveOver(look, u("Beacon Log")), u("成功修改了记录号为%1的日记").arg(id));
    loginWindow();
    const QByteArray raw = fileBytes();
    for (const char* text : {"Lighthouse", "Notes", "Beacon", "Foggy-Day", "潮汐在凌晨"})
        EXPECT_FALSE(raw.contains(QByteArray(text))) << text;
    EXPECT_EQ(scalar(u("select typeof(B_content) from JR_content")).toString(), u("blob"));
}

TEST_F(Privacy, APermissionSetByHandGivesNoKeyToReadChangeOrDelete) {
    const int secret = writeAs(u("alice"), u("alice's secret"), u("只给自己看"));
    const QString sealed = scalar(u("select hex(B_content) from JR_content")).toString();
    press(u("bob"), u("bob-pw"), &frmLogin::RegComm);
    exec(u("update JR_user set popedom=1 where B_user='bob'"));
    const int own = writeAs(u("bob"), u("bob's own"), u("我的"));
    frmLook* look = showAll(secret);
    EXPECT_EQ(rows(look), QStringList({u("bob's own/bob"), vault::noKeyText() + u("/alice")}));
    look = showAll(secret);
    EXPECT_EQ(diary::plainText(look->txt_content), vault::noKeyText());
    EXPECT_TRUE(saveOver(look, u("hijacked")).contains(u("这篇日记无法解密，不能保存修改")));
    click(look->DelComm);
    EXPECT_TRUE(dialogs->last().text.contains(u("没有这篇日记的密钥，不能删除")));
    EXPECT_EQ(scalar(u("select hex(B_content) from JR_content where ID=%1").arg(secret)), sealed);
    EXPECT_EQ(diary::plainText(showAll(own)->txt_content), u("我的"));
}

TEST_F(Privacy, ACiphertextMovedToAnotherRowOrColumnFailsToOpen) {
    const int a = writeAs(u("alice"), u("a-title"), u("a-text"));
    const int b = writeAs(u("bob"), u("b-title"), u("b-text"));
    exec(u("update JR_content set B_content=B_title where ID=%1").arg(a));
    exec(u("update JR_content set B_title=(select B_title from JR_content where ID=%1) "
           "where ID=%2")
             .arg(a)
             .arg(b));
    for (const auto& [name, id, box] :
         {std::tuple{"alice", a, "B_content"}, {"bob", b, "B_title"}}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(logInAs(u(name), u(name) + u("-pw")));
        frmLook* look = showAll(id);
        const QString shown = QString::fromLatin1(box) == u("B_title")
                                  ? look->txt_title->text()
                                  : diary::plainText(look->txt_content);
        EXPECT_EQ(shown, vault::damagedText());
        EXPECT_TRUE(saveOver(look, u("over it")).contains(u("无法解密")));
    }
}

TEST_F(Privacy, AWrongPasswordOpensNothingAtTheRealCost) {
    accounts::setPasswordCost(crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE);
    writeAs(u("alice"), u("alice's title"), u("正文"));
    const QString stored = scalar(u("select B_password from JR_user")).toString();
    EXPECT_TRUE(stored.contains(u("m=65536,t=2,")));
    const accounts::Unlocked wrong = accounts::unlock(u("alice-PW"), stored);
    EXPECT_FALSE(wrong.ok);
    EXPECT_TRUE(wrong.wrap.empty());
    EXPECT_FALSE(logInAs(u("alice"), u("alice-PW")));
    EXPECT_EQ(dialogs->last().text, u("对不起，无此用户或者密码不正确！请重新输入！！"));
    EXPECT_EQ(refused({u("export"), dbPath(), u("alice")}, "alice-PW\n"), 1);
    const auto line =
        QJsonDocument::fromJson(admin({u("export"), dbPath(), u("alice")}, "alice-pw\n").toUtf8());
    EXPECT_EQ(line[u("title")].toString(), u("alice's title"));
    EXPECT_EQ(line[u("writer")].toString(), u("alice"));
}

TEST_F(Privacy, TheRecoveryKeyGrantsResetsAndExports) {
    QFile::remove(dbPath());
    const QStringList keyFile = {u("--recovery-key-file"), key};
    admin(QStringList{u("init"), dbPath()} + keyFile);
    EXPECT_EQ(QFile::permissions(key) & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(refused(QStringList{u("init"), dbPath() + u("2")} + keyFile), 1);
    EXPECT_FALSE(QFile::exists(dbPath() + u("2")));

    const int id = writeAs(u("alice"), u("alice's title"), u("第一行\n第二行"));
    press(u("bob"), u("bob-pw"), &frmLogin::RegComm);
    EXPECT_EQ(refused({u("grant"), dbPath(), u("bob")}), 1);
    admin(QStringList{u("grant"), dbPath(), u("bob")} + keyFile);
    ASSERT_TRUE(logInAs(u("bob"), u("bob-pw")));
    EXPECT_EQ(showAll(id)->txt_title->text(), u("alice's title"));

    // A forgotten password, set anew by an administrator from the escrow.
    admin({u("passwd"), dbPath(), u("alice"), u("--as"), u("bob")}, "bob-pw\nnew pw\n");
    ASSERT_TRUE(logInAs(u("alice"), u("new pw")));
    EXPECT_EQ(diary::plainText(showAll(id)->txt_content), u("第一行\n第二行"));

    const QString out = dir.filePath(u("copy.mdb"));
    admin({u("backup"), dbPath(), out});
    EXPECT_EQ(refused({u("backup"), dbPath(), out}), 1);
    const QJsonObject entry =
        QJsonDocument::fromJson(admin(QStringList{u("export"), out} + keyFile).toUtf8()).object();
    EXPECT_EQ(entry, QJsonObject({{u("id"), id},
                                  {u("title"), u("alice's title")},
                                  {u("weather"), u("Foggy-Day")},
                                  {u("content"), u("第一行\n第二行")},
                                  {u("writer"), u("alice")},
                                  {u("time"), column("B_time", id)}}));

    admin({u("revoke"), dbPath(), u("bob")});
    EXPECT_EQ(count(u("select count(*) from JR_admin")), 0);
    exec(u("update JR_user set popedom=1 where B_user='bob'"));
    ASSERT_TRUE(logInAs(u("bob"), u("bob-pw")));
    EXPECT_EQ(showAll(id)->txt_title->text(), vault::noKeyText());
}

TEST_F(Privacy, AnUpgradedPlainDatabaseIsSealedAtEachWritersLogin) {
    exec(u("drop table JR_vault; drop table JR_key; drop table JR_admin; pragma user_version=1"));
    addUser(u("alice"), u("alice-pw"));
    addUser(u("bob"), u("bob-pw"));
    const int a = addEntry(u("alice plain"), u("alice"), u("2024-3-1 8:00:00"), u("旧的正文"));
    addEntry(u("bob plain"), u("bob"));
    admin(QStringList{u("upgrade"), dbPath(), u("--recovery-key-file"), key});
    EXPECT_EQ(count(u("pragma user_version")), 2);
    EXPECT_EQ(column("B_title", a), u("alice plain")); // until alice logs in
    ASSERT_TRUE(logInAs(u("alice"), u("alice-pw")));
    EXPECT_TRUE(accounts::isRecord(scalar(u("select B_password from JR_user")).toString()));
    const QByteArray raw = fileBytes();
    EXPECT_FALSE(raw.contains("alice plain"));
    EXPECT_FALSE(raw.contains(u("旧的正文").toUtf8()));
    EXPECT_TRUE(raw.contains("bob plain"));
    EXPECT_EQ(diary::plainText(showAll(a)->txt_content), u("旧的正文"));
    EXPECT_TRUE(admin({u("upgrade"), dbPath(), u("--recovery-key-file"), key}).contains(u("最新")));
}
