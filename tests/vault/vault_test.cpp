// The vault's promises one at a time: a fresh nonce for every seal, a field bound to its
// writer, column, ID and time, a key wrapped or escrowed for its own user, a plain row's
// signature over all of it, and a revoke that leaves the old administrator key nothing.
#include "accounts/Password.h"
#include "accounts/Session.h"
#include "data/settings.h"
#include "support/PgServer.h"
#include "support/Support.h"
#include "vault/Keys.h"

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using namespace vault;

TEST(Seal, AFreshNonceEachTimeAndOpensOnlyInItsPlace) {
    const Secret key = Secret::random(kKeyBytes);
    const FieldPlace at{u"B_title"_s, u"alice"_s, 7, u"2024-3-1 8:00:00"_s};
    const Bytes a = sealField(key, "同一篇", at), b = sealField(key, "同一篇", at);
    EXPECT_NE(a.substr(1, 24), b.substr(1, 24)); // the nonce, after the version byte
    EXPECT_EQ(openField(key, a, at), Bytes("同一篇"));
    const std::pair<const char*, FieldPlace> moved[] = {
        {"writer", {at.column, u"alicf"_s, at.id, at.time}},
        {"column", {u"B_content"_s, at.writer, at.id, at.time}},
        {"ID", {at.column, at.writer, 8, at.time}},
        {"time", {at.column, at.writer, at.id, u"2024-3-1 8:00:01"_s}}};
    for (const auto& [what, place] : moved)
        EXPECT_FALSE(openField(key, a, place)) << what;
    EXPECT_FALSE(openField(Secret::random(kKeyBytes), a, at));
}

// Names of one length: the sizes alone would tell another user's apart.
TEST(Escrow, TheKeyOpensForItsOwnUserAndAdministratorOnly) {
    const Secret key = Secret::random(kKeyBytes), wrap = Secret::random(kKeyBytes);
    const KeyPair admin = newAdminKeyPair(), other = newAdminKeyPair();
    const Bytes escrow = escrowOf(key, fold(u"alice"_s), admin.publicKey);
    const auto opened = openEscrow(escrow, fold(u"ALICE"_s), admin.secretKey);
    EXPECT_TRUE(opened && *opened == key);
    EXPECT_FALSE(openEscrow(escrow, fold(u"alicf"_s), admin.secretKey));
    EXPECT_FALSE(openEscrow(escrow, fold(u"alice"_s), other.secretKey));
    Bytes wrapped = wrapUserKey(wrap, key, fold(u"alice"_s), admin.publicKey);
    const auto unwrapped = unwrapUserKey(wrap, wrapped, fold(u"alice"_s));
    EXPECT_TRUE(unwrapped && unwrapped->key == key && unwrapped->adminPublic == admin.publicKey);
    EXPECT_FALSE(unwrapUserKey(wrap, wrapped, fold(u"alicf"_s)));
    wrapped.replace(1, kPublicBytes, other.publicKey); // escrowed elsewhere, it says
    EXPECT_FALSE(unwrapUserKey(wrap, wrapped, fold(u"alice"_s)));
}

TEST(PlainRow, TheSignatureCoversTheWriterTheRowAndEveryText) {
    const KeyPair k = newSigningKeyPair();
    const PlainRow row{3, u"alice"_s, u"2024-3-1 8:00:00"_s, u"标题"_s, std::nullopt, u"正文"_s};
    const Bytes sig = signPlainRow(k.secretKey, row);
    EXPECT_TRUE(verifyPlainRow(k.publicKey, sig, row));
    const std::pair<const char*, std::function<void(PlainRow&)>> changes[] = {
        {"writer", [](PlainRow& r) { r.writer = u"bob"_s; }},
        {"ID", [](PlainRow& r) { r.id = 4; }},
        {"time", [](PlainRow& r) { r.time = u"2024-3-1 8:00:01"_s; }},
        {"title", [](PlainRow& r) { r.title = u"标 题"_s; }},
        {"weather", [](PlainRow& r) { r.weather = QString(); }},
        {"content", [](PlainRow& r) { r.content.reset(); }}};
    for (const auto& [what, change] : changes) {
        PlainRow changed = row;
        change(changed);
        EXPECT_FALSE(verifyPlainRow(k.publicKey, sig, changed)) << what;
    }
}

// Through the admin tool and the login, on the file or on a server.
using Revoke = DiaryApp;

TEST_F(Revoke, EscrowsGoToTheNewKeyAndEachLoginMakesANewDataKey) {
    addUser(u"bob"_s, u"bob-pw"_s, 1);
    const int id = addEntry(u"撤销之前"_s);
    // Alice's data key by her password; the administrator key by the recovery key.
    const auto keysNow = [&] {
        ado::Connection c;
        vault::KeyRing ring;
        openAsAdministrator(c, ring);
        const QString stored =
            c.rows({u"select B_password from JR_user where B_user='alice'"_s})[0][0].toString();
        auto key = accounts::dataKeyOf(c, u"alice"_s, accounts::unlock(u"alice-pw"_s, stored));
        return std::tuple{std::move(key->key), ring.adminKey().copy(), c.keyStore().escrows(),
                          c.keyStore().admins()};
    };
    const auto [before, oldAdmin, oldEscrows, oldAdmins] = keysNow();
    const QString rk = dir.filePath(u"rk"_s);
    writeFile(rk, recovery);
    const QString db = pgtest::enabled() ? dir.filePath(u"dayvault.conf"_s) : dbPath();
    ASSERT_EQ(pgtest::run(QStringLiteral(DAYVAULT_ADMIN),
                          {u"revoke"_s, db, u"bob"_s, u"--recovery-key-file"_s, rk}),
              0);
    const auto [same, admin, escrows, admins] = keysNow();
    EXPECT_TRUE(admins.isEmpty() && !oldAdmins.isEmpty());
    EXPECT_EQ(escrows.size(), oldEscrows.size());
    for (const auto& [user, escrow] : escrows) {
        EXPECT_TRUE(openEscrow(escrow, fold(user), admin)) << user.toStdString();
        EXPECT_FALSE(openEscrow(escrow, fold(user), oldAdmin)) << user.toStdString();
    }
    logIn(u"alice"_s);
    EXPECT_FALSE(std::get<0>(keysNow()) == before);
    EXPECT_EQ(column("B_title", id), u"撤销之前"_s);
}

namespace {

// `name` logged in with "<name>-pw" as the login window does, or given the password
// "<name>-new" as "修改密码" does; the key work told to `progress`.
void logInAs(const QString& path, const QString& name, bool passwordChange,
             const Progress& progress) {
    ado::Connection c;
    vault::KeyRing ring;
    const QString password = name + u"-pw"_s;
    c.ConnectionString = pgtest::enabled()
                             ? ado::connectionString(ado::readSettings(app::appFolder()), false)
                             : u"data source="_s + path;
    c.keys = &ring;
    c.Open();
    const QString stored =
        c.rows({u"select B_password from JR_user where B_user=?"_s, {{{}, name}}})[0][0].toString();
    const auto check = accounts::checkLogin(c, name, password, stored, true);
    if (passwordChange)
        accounts::setPassword(c, name, name + u"-new"_s, accounts::dataKeyOf(c, name, check),
                              stored, nullptr, progress);
    else
        accounts::startSession(c, ring, name, password, stored, check, false, progress);
}

} // namespace

// Killed after two batches of two rows, a re-key leaves rows under the old key and under the
// pending one, all of them open to the administrator; the next login finishes it, every entry
// with its exact text, none lost or doubled, and the pending key gone. So it does when a
// revoke came in between, with a pending key made for the revoked administrator key.
TEST_F(Revoke, AReKeyKilledHalfWayIsFinishedByTheNextLogin) {
    addUser(u"bob"_s, u"bob-pw"_s, 1);
    const auto revoke = [&] {
        const QString rk = dir.filePath(u"rk"_s);
        writeFile(rk, recovery);
        const QString db = pgtest::enabled() ? dir.filePath(u"dayvault.conf"_s) : dbPath();
        return pgtest::run(QStringLiteral(DAYVAULT_ADMIN),
                           {u"revoke"_s, db, u"bob"_s, u"--recovery-key-file"_s, rk});
    };
    // The last: a password the administrator sets with the tool after that revoke.
    const struct {
        QString who;
        bool passwordChange, revokeHalfWay, toolPassword;
    } cases[] = {{u"alice"_s, false, false, false},
                 {u"carol"_s, true, false, false},
                 {u"dave"_s, false, true, false},
                 {u"erin"_s, false, true, true}};
    for (const auto& [who, passwordChange, revokeHalfWay, toolPassword] : cases) {
        SCOPED_TRACE(who.toStdString());
        std::multimap<QString, QString> expected = entries();
        for (int i = 0; i < 7; ++i) {
            const QString title = who + u" 第%1篇"_s.arg(i), text = u"内容 %1 ✓"_s.arg(i);
            addEntry(title, who, u"2024-3-1 8:00:00"_s, text);
            expected.emplace(title, text);
        }
        if (!passwordChange) { // the next login makes a new key
            ASSERT_EQ(revoke(), 0);
        }
        vault::setBatchRows(2);
        const pid_t child = ::fork();
        if (child == 0) {
            logInAs(dbPath(), who, passwordChange, [](long long done, long long) {
                if (done >= 4)
                    ::raise(SIGKILL);
            });
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        vault::setBatchRows(2000);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        {
            ado::Connection c;
            vault::KeyRing ring;
            openAsAdministrator(c, ring);
            EXPECT_TRUE(c.keyStore().pendingKey(who));
        }
        EXPECT_EQ(entries(), expected) << "half way";
        if (revokeHalfWay) {
            ASSERT_EQ(revoke(), 0);
        }
        if (toolPassword) {
            const QString db = pgtest::enabled() ? dir.filePath(u"dayvault.conf"_s) : dbPath();
            ASSERT_EQ(
                pgtest::run(QStringLiteral(DAYVAULT_ADMIN),
                            {u"passwd"_s, db, who, u"--recovery-key-file"_s, dir.filePath(u"rk"_s)},
                            nullptr, (who + u"-new\n"_s).toUtf8()),
                0);
        }
        if (passwordChange || toolPassword)
            passwords[QString::fromUtf8(fold(who))] = who + u"-new"_s;
        logIn(who);
        EXPECT_EQ(entries(), expected);
        ado::Connection c;
        vault::KeyRing ring;
        openAsAdministrator(c, ring);
        EXPECT_FALSE(c.keyStore().pendingKey(who));
    }
}

// Whatever lies in a user's pending place was written by someone: a key his password does
// not open for him, or that the pinned administrator would not get, seals nothing.
TEST_F(Revoke, APendingKeyNotMadeForItsUserIsNotUsed) {
    const int id = addEntry(u"原样"_s);
    ado::Connection c;
    vault::KeyRing ring;
    openAsAdministrator(c, ring);
    const QString stored =
        c.rows({u"select B_password from JR_user where B_user='alice'"_s})[0][0].toString();
    const accounts::Unlocked alice = accounts::unlock(u"alice-pw"_s, stored);
    const Bytes pk = c.adminPublic(), other = newAdminKeyPair().publicKey, w = fold(u"alice"_s);
    const struct {
        const char* what;
        Bytes wrappedFor, madeFor, escrowedTo;
    } plants[] = {{"wrapped for another user", fold(u"bob"_s), pk, pk},
                  {"made for another administrator key", w, other, pk},
                  {"escrowed to another key", w, pk, other}};
    for (const auto& p : plants) {
        const Secret planted = Secret::random(kKeyBytes);
        c.keyStore().putPendingKey(u"alice"_s,
                                   {wrapUserKey(alice.wrap, planted, p.wrappedFor, p.madeFor),
                                    escrowOf(planted, w, p.escrowedTo)});
        logIn(u"alice"_s);
        EXPECT_EQ(column("B_title", id), u"原样"_s) << p.what;
        const EntryRow row = *c.entryRow(id);
        EXPECT_FALSE(openField(planted, view(row[1].toByteArray()),
                               {u"B_title"_s, u"alice"_s, id, row[5].toString()}))
            << p.what;
    }
}
