#include "vault/Keys.h"

#include "base/Error.h"
#include "vault/KeyStore.h"

#include <sodium.h>

namespace vault {
namespace {

// The pinned key, once the file still agrees with it: a key swapped in the file since it was
// opened refuses the work instead of going on quietly.
const Bytes& pinned(EntryStore& c) {
    if (c.adminPublic().empty())
        throw ado::Error(QStringLiteral("没有固定的管理员公钥，无法生成密钥"), ado::kKeyMismatch,
                         c.file());
    if (c.keyStore().setting(QStringLiteral("public")) != c.adminPublic())
        throw ado::Error(QStringLiteral("数据库中的管理员公钥与本机保存的不符，已拒绝"),
                         ado::kKeyMismatch, c.file());
    return c.adminPublic();
}

std::vector<EntryRow> entriesOf(EntryStore& c, const QString& user) {
    return c.entryRows(user);
}

FieldPlace placeOf(const EntryRow& row, int column) {
    return {sealedColumns()[column - 1], row[4].toString(), row[0].toLongLong(), row[5].toString()};
}

void storeSealed(EntryStore& c, const EntryRow& row, const std::vector<QVariant>& values) {
    c.storeSealed(row, values);
}

} // namespace

std::optional<PlainRow> plainRow(const std::vector<QVariant>& row) {
    PlainRow plain{row[0].toLongLong(), row[4].toString(), row[5].toString(), {}, {}, {}};
    std::optional<QString>* fields[] = {&plain.title, &plain.weather, &plain.content};
    for (int col = 1; col <= 3; ++col) {
        const QVariant& v = row[std::size_t(col)];
        if (v.typeId() == QMetaType::QByteArray)
            return std::nullopt;
        if (!v.isNull())
            *fields[col - 1] = v.toString();
    }
    return plain;
}

// ---- the installation ----

Installation newInstallation(KeyStore& store) {
    store.createKeyTables();
    KeyPair admin = newAdminKeyPair();
    const Secret recovery = Secret::random(kKeyBytes);
    store.putSetting(QStringLiteral("public"), admin.publicKey);
    store.putSetting(QStringLiteral("recovery"), wrapAdminKey(recovery, admin.secretKey, Bytes()));
    return {recoveryText(recovery), admin.publicKey};
}

std::optional<Secret> adminKeyFromRecovery(KeyStore& store, const QByteArray& text) {
    const auto recovery = recoveryFromText(text);
    if (!recovery)
        return std::nullopt;
    auto sk = unwrapAdminKey(*recovery, store.setting(QStringLiteral("recovery")), Bytes());
    const Bytes pk = store.setting(QStringLiteral("public"));
    if (!sk || pk.size() != kPublicBytes || publicOf(*sk) != pk)
        return std::nullopt;
    return sk;
}

Bytes replaceAdminKeyPair(KeyStore& store, const Secret& oldAdmin, const QByteArray& text,
                          int* unopened) {
    const auto recovery = recoveryFromText(text);
    if (!recovery)
        throw std::invalid_argument("not a recovery key");
    KeyPair next = newAdminKeyPair();
    int failed = 0;
    for (const auto& [user, escrow] : store.escrows()) {
        const Bytes w = fold(user);
        if (const auto key = openEscrow(escrow, w, oldAdmin))
            store.putEscrow(user, escrowOf(*key, w, next.publicKey));
        else
            ++failed;
    }
    // Every copy was wrapped by a data key the revoked administrator could open.
    for (const QString& admin : store.admins())
        store.removeAdminKey(admin);
    store.putSetting(QStringLiteral("public"), next.publicKey);
    store.putSetting(QStringLiteral("recovery"), wrapAdminKey(*recovery, next.secretKey, Bytes()));
    if (unopened)
        *unopened = failed;
    return next.publicKey;
}

// ---- a user's data key ----

UserKeyRecord newUserKeyRecord(EntryStore& c, const QString& user, const Secret& wrap,
                               Secret* keyOut) {
    const Bytes& pk = pinned(c);
    const Bytes w = fold(user);
    Secret key = Secret::random(kKeyBytes);
    UserKeyRecord record{wrapUserKey(wrap, key, w, pk), escrowOf(key, w, pk)};
    if (keyOut)
        *keyOut = std::move(key);
    return record;
}

Secret createUserKey(EntryStore& c, const QString& user, const Secret& wrap) {
    Secret key;
    c.keyStore().putUserKey(user, newUserKeyRecord(c, user, wrap, &key));
    return key;
}

std::optional<Unwrapped> openUserKey(EntryStore& c, const QString& user, const Secret& wrap) {
    const auto record = c.keyStore().userKey(user);
    if (!record)
        return std::nullopt;
    return unwrapUserKey(wrap, record->wrapped, fold(user));
}

bool repairEscrow(EntryStore& c, const QString& user, const Secret& key) {
    const auto record = c.keyStore().userKey(user);
    const Bytes expected = escrowOf(key, fold(user), pinned(c));
    if (record && record->escrow == expected)
        return true;
    if (record)
        c.keyStore().putEscrow(user, expected);
    return false;
}

Secret replaceUserKey(EntryStore& c, const QString& user, const Secret& oldKey, const Secret& wrap,
                      const Secret* adminSecret) {
    const Bytes& pk = pinned(c);
    Secret next = Secret::random(kKeyBytes);
    for (const auto& row : entriesOf(c, user)) {
        std::vector<QVariant> values(3);
        bool sealedRow = true;
        for (int col = 1; col <= 3 && sealedRow; ++col) {
            const QVariant& v = row[std::size_t(col)];
            if (v.isNull())
                continue;
            const QByteArray stored = v.toByteArray();
            auto plain = v.typeId() == QMetaType::QByteArray
                             ? openField(oldKey, view(stored), placeOf(row, col))
                             : std::nullopt;
            sealedRow = plain.has_value();
            if (plain) {
                values[std::size_t(col - 1)] = qbytes(sealField(next, *plain, placeOf(row, col)));
                sodium_memzero(plain->data(), plain->size());
            }
        }
        // A damaged row stays damaged, and a plain one is for sealVouchedPlainRows.
        if (sealedRow)
            storeSealed(c, row, values);
    }
    const Bytes w = fold(user);
    c.keyStore().putUserKey(user, {wrapUserKey(wrap, next, w, pk), escrowOf(next, w, pk)});
    if (adminSecret)
        grantAdmin(c.keyStore(), user, next, *adminSecret);
    else if (c.keyStore().adminKey(user))
        c.keyStore().removeAdminKey(user);
    return next;
}

long long sealVouchedPlainRows(EntryStore& c, const QString& user, const Secret& key) {
    if (c.signingPublic().empty())
        return 0;
    long long sealedRows = 0;
    for (const auto& row : entriesOf(c, user)) {
        const auto plain = plainRow(row);
        const auto signature = plain ? c.keyStore().plainSignature(plain->id) : std::nullopt;
        if (!signature || !verifyPlainRow(c.signingPublic(), *signature, *plain))
            continue;
        std::vector<QVariant> values(3);
        for (int col = 1; col <= 3; ++col)
            if (!row[std::size_t(col)].isNull()) {
                const QByteArray text = row[std::size_t(col)].toString().toUtf8();
                values[std::size_t(col - 1)] =
                    qbytes(sealField(key, view(text), placeOf(row, col)));
            }
        storeSealed(c, row, values);
        ++sealedRows;
    }
    return sealedRows;
}

Opened openedBy(EntryStore& c, const QString& user, const Secret& key) {
    Opened n;
    for (const auto& row : entriesOf(c, user)) {
        bool sealedRow = false, opens = true;
        for (int col = 1; col <= 3; ++col) {
            const QVariant& v = row[std::size_t(col)];
            if (v.typeId() != QMetaType::QByteArray)
                continue;
            sealedRow = true;
            auto plain = openField(key, view(v.toByteArray()), placeOf(row, col));
            opens = opens && plain.has_value();
            if (plain)
                sodium_memzero(plain->data(), plain->size());
        }
        if (sealedRow)
            ++(opens ? n.opened : n.unopened);
    }
    return n;
}

// ---- administrators ----

void checkPinnedKey(EntryStore& c) {
    pinned(c);
}

std::optional<Secret> adminKeyOf(EntryStore& c, const QString& user, const Secret& dataKey) {
    const auto wrapped = c.keyStore().adminKey(user);
    if (!wrapped)
        return std::nullopt;
    auto sk = unwrapAdminKey(dataKey, *wrapped, fold(user));
    if (!sk || c.adminPublic().empty() || publicOf(*sk) != c.adminPublic())
        return std::nullopt;
    return sk;
}

void grantAdmin(KeyStore& store, const QString& user, const Secret& dataKey,
                const Secret& adminSecret) {
    store.putAdminKey(user, wrapAdminKey(dataKey, adminSecret, fold(user)));
}

// ---- upgrade ----

long long signPlainRows(EntryStore& c, const Secret& signingSecret) {
    long long n = 0;
    for (const auto& row : c.entryRows(QString())) {
        if (const auto plain = plainRow(row)) {
            c.keyStore().putPlainSignature(plain->id, signPlainRow(signingSecret, *plain));
            ++n;
        }
    }
    return n;
}

} // namespace vault
