// The promises of sealed entries tried from the attacker's side (the raw file, another writer,
// a hand-set permission, moved ciphertexts, a wrong password) and the way back through the
// administrator's tool.
#include "accounts/Password.h"
#include "data/myClass.h"
#include "data/statements.h"
#include "forms/DbGuard.h"
#include "forms/FormUtil.h"
#include "support/PgServer.h"
#include "support/Support.h"
#include "vault/Cipher.h"
#include "vault/KeyStore.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QPointer>
#include <QProcess>
#include <new>
#include <sodium.h>
#include <stdexcept>
#include <tuple>

class Privacy : public LoginApp {
protected:
    // Registers, logs in and saves one entry; returns its ID.
    int writeAs(const QString& name, const QString& title, const QString& content,
                const QString& password = {}) {
        const QString pw = password.isEmpty() ? name + u"-pw"_s : password;
        useLogin(name, pw, &frmLogin::RegComm);
        frmWrite* w = useLogin(name, pw);
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
    // Runs the administrator's tool; its output.
    QString admin(const QStringList& args, const QByteArray& input = {}, int rc = 0) {
        QProcess p;
        p.start(QString::fromUtf8(DAYVAULT_ADMIN), args);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(60000);
        EXPECT_EQ(p.exitCode(), rc) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
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

TEST_F(Privacy, TheRecoveryKeyGrantsResetsRevokesAndExports) {
    QFile::remove(dbPath());
    admin(QStringList{u"init"_s, dbPath()} + keyFile);
    for (const QString& f : {key, dbPath()})
        EXPECT_EQ(QFile::permissions(f) & ~(QFile::ReadUser | QFile::WriteUser),
                  QFile::ReadOwner | QFile::WriteOwner);
    admin(QStringList{u"init"_s, dbPath() + u"2"_s} + keyFile, {}, 1); // never over a key file
    EXPECT_FALSE(QFile::exists(dbPath() + u"2"_s));

    const int id = writeAs(u"alice"_s, u"alice's title"_s, u"第一行\n第二行"_s);
    useLogin(u"bob"_s, u"bob-pw"_s, &frmLogin::RegComm);
    admin({u"grant"_s, dbPath(), u"bob"_s}, "bob-pw\n", 1);
    admin(QStringList{u"grant"_s, dbPath(), u"bob"_s} + keyFile, "bob-PW\n", 1); // his own
    admin(QStringList{u"grant"_s, dbPath(), u"bob"_s} + keyFile, "bob-pw\n");
    ASSERT_NE(useLogin(u"bob"_s, u"bob-pw"_s), nullptr);
    EXPECT_EQ(showAll(id)->txt_title->text(), u"alice's title"_s);

    // A forgotten password, set anew by an administrator from the escrow.
    admin({u"passwd"_s, dbPath(), u"alice"_s, u"--as"_s, u"bob"_s}, "bob-pw\nnew pw\n");
    ASSERT_NE(useLogin(u"alice"_s, u"new pw"_s), nullptr);
    EXPECT_EQ(diary::plainText(showAll(id)->txt_content), u"第一行\n第二行"_s);

    const QString out = dir.filePath(u"copy.mdb"_s); // away from its pinned key
    admin({u"backup"_s, dbPath(), out});
    admin({u"backup"_s, dbPath(), out}, {}, 1);
    const auto copy =
        QJsonDocument::fromJson(admin(QStringList{u"export"_s, out} + keyFile).toUtf8());
    EXPECT_EQ(copy[u"content"_s].toString(), u"第一行\n第二行"_s);
    EXPECT_EQ(copy[u"weather"_s].toString(), u"Foggy-Day"_s);

    // A revoked administrator who kept his copy of the key, and his permission set back by
    // hand, reads nothing written since.
    const QString kept =
        scalar(u"select hex(wrapped) from JR_admin where B_user='bob'"_s).toString();
    const auto pinned = [&] {
        QFile pub(dir.filePath(u"data/admin.pub"_s));
        return pub.open(QIODevice::ReadOnly) ? pub.readAll() : QByteArray();
    };
    const QByteArray before = pinned();
    admin({u"revoke"_s, dbPath(), u"bob"_s}, {}, 1);
    EXPECT_TRUE(admin(QStringList{u"revoke"_s, dbPath(), u"bob"_s} + keyFile).contains(u"新的"_s));
    EXPECT_NE(pinned(), before);
    exec(u"insert into JR_admin values('bob',x'%1'); update JR_user set popedom=1 where "
         "B_user='bob'"_s.arg(kept));
    const int later = writeAs(u"alice"_s, u"after the revoke"_s, u"新写的"_s, u"new pw"_s);
    ASSERT_NE(useLogin(u"bob"_s, u"bob-pw"_s), nullptr);
    for (const int entry : {id, later})
        EXPECT_EQ(showAll(entry)->txt_title->text(), vault::noKeyText());
}

// What a member of `users` can write into the file, tried on a running installation: each
// leaves him without entry text or key, and tells the victim.
TEST_F(Privacy, WhatANeighbourWritesIntoTheFileGivesHimNothing) {
    const int id = writeAs(u"alice"_s, u"alice's title"_s, u"她的日记"_s);
    frmLook* open = showAll(id); // a window that holds its connection through all of it
    const auto save = [&](const QString& text) {
        frmWrite* w = openWrite();
        w->B_Content_text->setPlainText(text);
        click(w->saveComm);
        settle();
        const QString said = dialogs->last().text;
        EXPECT_EQ(w->B_Content_text->toPlainText(), text) << said.toStdString();
        return said;
    };
    const int entries = count(u"select count(*) from JR_content"_s);
    const struct {
        const char* name;
        QString plant, says, undo;
    } objects[] = {
        {"trigger",
         u"create table loot(t,c,w); create trigger zz after update on JR_content begin "
         "insert into loot values(NEW.B_title,NEW.B_content,NEW.B_writer); end"_s,
         u"loot、zz"_s, u"drop trigger zz"_s},
        {"view", u"create view v as select * from JR_content"_s, u"v"_s, u"drop view v"_s},
        {"changed table", u"alter table JR_user add column x"_s, u"JR_user"_s,
         u"alter table JR_user drop column x"_s},
        {"index", u"create index i on JR_content(B_title)"_s, u"i"_s, u"drop index i"_s}};
    for (const auto& o : objects) {
        SCOPED_TRACE(o.name);
        exec(o.plant);
        EXPECT_TRUE(save(u"秘密 "_s + QLatin1String(o.name)).contains(o.says));
        EXPECT_TRUE(admin({u"check"_s, dbPath()}, {}, 1).contains(o.says.section(u'、', -1)));
        exec(o.undo);
    }
    // The window that was open before the trigger: its edit fires nothing.
    EXPECT_EQ(saveOver(open, u"edited"_s), u"成功修改了记录号为%1的日记"_s.arg(id));
    EXPECT_EQ(count(u"select count(*) from loot"_s), 0);
    exec(u"drop table loot"_s);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), entries);

    // Key records the file alone vouches for: no save is ever stored plain, no key is made
    // behind the user's back, no account is made for another key.
    const QString row = scalar(u"select 'x'''||hex(wrapped)||''',x'''||hex(escrow)||'''' from "
                               "JR_key where B_user='alice'"_s)
                            .toString();
    const QString pk =
        scalar(u"select 'x'''||hex(value)||'''' from JR_vault where name='public'"_s).toString();
    const QString restore = u"delete from JR_vault where name='public'; insert into JR_vault "
                            "values('public',%1)"_s.arg(pk);
    const struct {
        const char* name;
        QString plant, says, undo;
    } records[] = {{"key row gone", u"delete from JR_key where B_user='alice'"_s,
                    u"没有这位作者的密钥"_s, u"insert into JR_key values('alice',%1)"_s.arg(row)},
                   {"public key swapped",
                    u"update JR_vault set value=x'%1' where name='public'"_s.arg(QString(64, u'a')),
                    u"管理员公钥"_s, restore},
                   {"public key gone", u"delete from JR_vault where name='public'"_s,
                    u"管理员公钥"_s, restore}};
    for (const auto& r : records) {
        SCOPED_TRACE(r.name);
        exec(r.plant);
        EXPECT_TRUE(save(u"不会存成明文"_s).contains(r.says));
        useLogin(u"carol"_s, u"carol-pw"_s, &frmLogin::RegComm);
        const bool pinnedKeyHolds = r.undo != restore;
        EXPECT_EQ(count(u"select count(*) from JR_user where B_user='carol'"_s), pinnedKeyHolds);
        Module1::UserName.clear();
        useLogin(u"alice"_s, u"alice-pw"_s);
        EXPECT_TRUE(Module1::UserName.isEmpty() && loginOpen());
        EXPECT_TRUE(
            dialogs->last().text.contains(pinnedKeyHolds ? u"找不到你的密钥记录"_s : r.says));
        EXPECT_EQ(count(u"select count(*) from JR_key where B_user='alice'"_s), !pinnedKeyHolds);
        EXPECT_EQ(count(u"select count(*) from JR_content"_s), entries);
        exec(r.undo + u"; delete from JR_user where B_user='carol'; delete from JR_key where "
                      "B_user='carol'"_s);
    }

    // An escrow sealed to the pinned key by the neighbour, with a key of his own: neither
    // granting nor a forgotten password takes it, and her next login puts hers back.
    writeFile(key, recovery);
    ado::Connection c;
    vault::KeyRing ring;
    openAsAdministrator(c, ring);
    const vault::Bytes forged = vault::escrowOf(vault::Secret::random(vault::kKeyBytes),
                                                vault::fold(u"alice"_s), c.adminPublic());
    c.keyStore().putEscrow(u"alice"_s, forged);
    admin(QStringList{u"grant"_s, dbPath(), u"alice"_s} + keyFile, "alice-pw\n", 1);
    admin(QStringList{u"passwd"_s, dbPath(), u"alice"_s} + keyFile, "stolen\n", 1);
    EXPECT_EQ(scalar(u"select popedom from JR_user where B_user='alice'"_s).toInt(), 0);
    ASSERT_NE(useLogin(u"alice"_s, u"alice-pw"_s), nullptr);
    EXPECT_NE(c.keyStore().userKey(u"alice"_s)->escrow, forged);
    admin(QStringList{u"grant"_s, dbPath(), u"alice"_s} + keyFile, "alice-pw\n");
}

// A row planted in plain, a ciphertext moved to another row of the same writer, a changed
// time: each reads as damaged, also after the writer's next login.
TEST_F(Privacy, PlantedMovedOrRedatedEntriesReadAsDamaged) {
    const int a = writeAs(u"alice"_s, u"first"_s, u"一"_s);
    const int b = writeAs(u"alice"_s, u"second"_s, u"二"_s);
    const int c = writeAs(u"alice"_s, u"third"_s, u"三"_s);
    exec(u"update JR_content set B_title=(select B_title from JR_content where ID=%1) where "
         "ID=%2; update JR_content set B_time='2020-1-1 0:00:00' where ID=%3; insert into "
         "JR_content(B_title,B_weather,B_content,B_writer) values('planted','晴','假的','alice')"_s
             .arg(a)
             .arg(b)
             .arg(c));
    const int planted = count(u"select max(ID) from JR_content"_s);
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_NE(useLogin(u"alice"_s, u"alice-pw"_s), nullptr);
        EXPECT_EQ(showAll(a)->txt_title->text(), u"first"_s);
        for (const int id : {b, c, planted})
            EXPECT_EQ(showAll(id)->txt_title->text(), vault::damagedText()) << id;
    }
    EXPECT_EQ(scalar(u"select typeof(B_title) from JR_content where ID=%1"_s.arg(planted)),
              u"text"_s);
    EXPECT_EQ(admin({u"export"_s, dbPath(), u"alice"_s}, "alice-pw\n").count(u'\n'), 1);
}

// The one legacy file: made before keys, with no pinned key beside it. Its upgrade pins a
// fresh key pair whatever a planted JR_vault holds; the plain rows it found are sealed at each
// writer's login, and a plain row planted after it reads as damaged.
TEST_F(Privacy, AnUpgradedPlainDatabaseIsSealedAtEachWritersLogin) {
    exec(u"drop table JR_vault; drop table JR_key; drop table JR_admin; drop table JR_plain; "
         "pragma user_version=1"_s);
    QFile::remove(dir.filePath(u"data/admin.pub"_s));
    addUser(u"alice"_s, u"alice-pw"_s);
    addUser(u"bob"_s, u"bob-pw"_s);
    const int a = addEntry(u"alice plain"_s, u"alice"_s, u"2024-3-1 8:00:00"_s, u"旧的正文"_s);
    addEntry(u"bob plain"_s, u"bob"_s);
    exec(u"create table JR_vault (name TEXT PRIMARY KEY, value BLOB NOT NULL); insert into "
         "JR_vault values('public',x'%1')"_s.arg(QString(64, u'b')));
    admin(QStringList{u"upgrade"_s, dbPath()} + keyFile);
    QFile k(key);
    ASSERT_TRUE(k.open(QIODevice::ReadOnly));
    recovery = k.readAll();
    EXPECT_EQ(recovery.size(), 65);
    EXPECT_NE(scalar(u"select hex(value) from JR_vault where name='public'"_s).toString(),
              QString(64, u'B'));
    EXPECT_EQ(count(u"pragma user_version"_s), 2);
    exec(u"insert into JR_content(B_title,B_weather,B_content,B_writer) "
         "values('late','晴','后来的','alice')"_s);
    const int late = count(u"select max(ID) from JR_content"_s);
    EXPECT_EQ(column("B_title", a), u"alice plain"_s); // until alice logs in
    EXPECT_EQ(column("B_title", late), vault::damagedText());
    ASSERT_NE(useLogin(u"alice"_s, u"alice-pw"_s), nullptr);
    EXPECT_TRUE(accounts::isRecord(scalar(u"select B_password from JR_user"_s).toString()));
    const QByteArray raw = fileBytes();
    EXPECT_FALSE(raw.contains("alice plain") || raw.contains(u"旧的正文"_s.toUtf8()));
    EXPECT_TRUE(raw.contains("bob plain"));
    EXPECT_EQ(diary::plainText(showAll(a)->txt_content), u"旧的正文"_s);
    EXPECT_EQ(column("B_title", late), vault::damagedText());
    EXPECT_TRUE(admin(QStringList{u"upgrade"_s, dbPath()} + keyFile).contains(u"最新"_s));

    // Its pin lost: refused, until a recovery key that proves the stored key pins it again.
    QFile::remove(dir.filePath(u"data/admin.pub"_s));
    frmLogin::resetRun(); // the login window's connection opened anew
    EXPECT_EQ(useLogin(u"alice"_s, u"alice-pw"_s), nullptr);
    EXPECT_TRUE(dialogs->last().text.contains(u"admin.pub"_s));
    const QString other = dir.filePath(u"other.key"_s);
    writeFile(other, vault::recoveryText(vault::Secret::random(vault::kKeyBytes)));
    admin({u"upgrade"_s, dbPath(), u"--recovery-key-file"_s, other}, {}, 1);
    admin(QStringList{u"upgrade"_s, dbPath()} + keyFile);
    ASSERT_NE(useLogin(u"alice"_s, u"alice-pw"_s), nullptr);
    EXPECT_EQ(column("B_title", late), vault::damagedText()); // not signed at the new pin
}
