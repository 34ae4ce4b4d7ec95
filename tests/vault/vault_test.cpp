// The vault's promises one at a time: a fresh nonce for every seal, a field bound to its
// writer, column, ID and time, a key wrapped or escrowed for its own user, a plain row's
// signature over all of it, and a revoke that leaves the old administrator key nothing.
#include "accounts/Password.h"
#include "accounts/Session.h"
#include "support/PgServer.h"
#include "support/Support.h"
#include "vault/Keys.h"

#include <functional>

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
