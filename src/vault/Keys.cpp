#include "vault/Keys.h"

#include "base/Error.h"
#include "vault/KeyStore.h"

#include <algorithm>
#include <exception>
#include <sodium.h>
#include <thread>

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

FieldPlace placeOf(const EntryRow& row, int column) {
    return {sealedColumns()[column - 1], row[4].toString(), row[0].toLongLong(), row[5].toString()};
}

int batchRows = 2000;

// The writer's rows (everyone's for a null one) a batch at a time: memory for one batch,
// whatever the diary's size. With `write` each batch is a transaction of its own, and `last`
// runs in the one that found no more rows, so rows added meanwhile are not missed.
using Batch = std::function<void(const std::vector<EntryRow>&)>;
void inBatches(EntryStore& c, const QString& user, bool write, bool signedOnly, const Batch& each,
               const Progress& progress, const std::function<void()>& last = {}) {
    const long long total = progress ? c.entryCount(user, signedOnly) : 0;
    long long after = 0, done = 0;
    for (bool end = false; !end;) {
        const auto batch = [&] {
            const std::vector<EntryRow> rows = c.entryRowsAfter(user, after, batchRows, signedOnly);
            each(rows);
            end = rows.size() < std::size_t(batchRows);
            if (!rows.empty())
                after = rows.back()[0].toLongLong();
            done += qint64(rows.size());
            if (end && last)
                last();
        };
        if (write)
            c.inTransaction(batch);
        else
            batch();
        if (progress)
            progress(done, std::max(total, done));
    }
}

Batch eachRow(const std::function<void(const EntryRow&)>& f) {
    return [f](const std::vector<EntryRow>& rows) {
        for (const EntryRow& row : rows)
            f(row);
    };
}

// `work` over [0, n) split among the cores: the sealing of a batch is pure computation.
void inParallel(std::size_t n, const std::function<void(std::size_t, std::size_t)>& work) {
    const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
    if (threads < 2 || n < 64) {
        work(0, n);
        return;
    }
    const std::size_t step = (n + threads - 1) / threads;
    std::vector<std::exception_ptr> failed(threads);
    std::vector<std::thread> helpers;
    for (std::size_t t = 0; t < threads; ++t) {
        const auto part = [&, t] {
            try {
                work(std::min(n, t * step), std::min(n, (t + 1) * step));
            } catch (...) {
                failed[t] = std::current_exception();
            }
        };
        if (t + 1 < threads)
            helpers.emplace_back(part);
        else
            part();
    }
    for (std::thread& h : helpers)
        h.join();
    for (const auto& e : failed)
        if (e)
            std::rethrow_exception(e);
}

void wipe(std::vector<std::optional<Bytes>>& fields) {
    for (auto& f : fields)
        if (f)
            sodium_memzero(f->data(), f->size());
}

// Every field of a sealed row opened with `key`, null where the column is; nothing when one
// does not open, or the row holds plain text.
std::optional<std::vector<std::optional<Bytes>>> openedRow(const EntryRow& row, const Secret& key) {
    std::vector<std::optional<Bytes>> out(3);
    for (int col = 1; col <= 3; ++col) {
        const QVariant& v = row[std::size_t(col)];
        if (v.isNull())
            continue;
        if (v.typeId() == QMetaType::QByteArray)
            out[std::size_t(col - 1)] = openField(key, view(v.toByteArray()), placeOf(row, col));
        if (!out[std::size_t(col - 1)]) {
            wipe(out);
            return std::nullopt;
        }
    }
    return out;
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
    // A re-key cut off keeps its next key within the new administrator's reach: the entries
    // already sealed with it are recovered by the escrow like the others.
    for (const auto& [user, record] : store.pendingKeys()) {
        const Bytes w = fold(user);
        if (const auto key = openEscrow(record.escrow, w, oldAdmin))
            store.putPendingKey(user, {record.wrapped, escrowOf(*key, w, next.publicKey)});
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

void setBatchRows(int rows) {
    batchRows = std::max(1, rows);
}

Secret storePendingKey(EntryStore& c, const QString& user, const Secret& wrap) {
    const Bytes& pk = pinned(c);
    const Bytes w = fold(user);
    Secret next = Secret::random(kKeyBytes);
    c.keyStore().putPendingKey(user, {wrapUserKey(wrap, next, w, pk), escrowOf(next, w, pk)});
    return next;
}

void rewrapUserKey(EntryStore& c, const QString& user, const Unwrapped& key, const Secret& wrap) {
    const Bytes w = fold(user);
    const auto record = c.keyStore().userKey(user);
    c.keyStore().putUserKey(user, {wrapUserKey(wrap, key.key, w, key.adminPublic),
                                   record ? record->escrow : escrowOf(key.key, w, pinned(c))});
}

namespace {

// What the store says is only what someone wrote there: the key is used when the pinned
// administrator gets it too.
std::optional<Secret> checkedPending(EntryStore& c, const QString& user, const UserKeyRecord& r,
                                     std::optional<Secret> key) {
    if (!key || c.adminPublic().empty() || r.escrow != escrowOf(*key, fold(user), c.adminPublic()))
        return std::nullopt;
    return key;
}

} // namespace

std::optional<Secret> pendingKey(EntryStore& c, const QString& user, const Secret& wrap) {
    const auto record = c.keyStore().pendingKey(user);
    if (!record)
        return std::nullopt;
    auto key = unwrapUserKey(wrap, record->wrapped, fold(user));
    if (!key || key->adminPublic != c.adminPublic())
        return std::nullopt;
    return checkedPending(c, user, *record, std::move(key->key));
}

std::optional<OlderPending> olderPendingKey(EntryStore& c, const QString& user,
                                            const Secret& wrap) {
    auto record = c.keyStore().pendingKey(user);
    auto key = record ? unwrapUserKey(wrap, record->wrapped, fold(user)) : std::nullopt;
    if (!key || key->adminPublic == c.adminPublic())
        return std::nullopt;
    return OlderPending{std::move(*key), std::move(*record)};
}

std::optional<Secret> pendingKeyByEscrow(EntryStore& c, const QString& user,
                                         const Secret& adminSecret) {
    const auto record = c.keyStore().pendingKey(user);
    if (!record)
        return std::nullopt;
    return checkedPending(c, user, *record, openEscrow(record->escrow, fold(user), adminSecret));
}

namespace {
// The user's drafts follow his key, so a password change or a revoke does not lose them.
void resealDrafts(KeyStore& store, const QString& user, const std::vector<const Secret*>& old,
                  const Secret& next) {
    for (const auto kind : {DraftKind::Write, DraftKind::Edit}) {
        auto draft = store.draft(user, kind);
        if (!draft)
            continue;
        const DraftPlace at{user, kind, draft->entry, draft->made};
        for (const Secret* key : old)
            if (const auto texts = openDraft(*key, draft->sealed, at)) {
                draft->sealed = sealDraft(next, *texts, at);
                store.putDraft(user, kind, *draft);
                break;
            }
    }
}
} // namespace

void finishRekey(EntryStore& c, const QString& user, const std::vector<const Secret*>& old,
                 const Secret& next, const Secret& wrap, const Secret* adminSecret,
                 const Progress& progress, const UserKeyRecord* asStored) {
    const Bytes& pk = pinned(c);
    // A row the next key opens is done already; a damaged row stays damaged, and a plain one
    // is for sealVouchedPlainRows.
    const auto resealed = [&](const EntryRow& row) -> std::optional<std::vector<QVariant>> {
        for (const Secret* key : old) {
            auto plain = openedRow(row, *key);
            if (!plain)
                continue;
            std::vector<QVariant> values(3);
            for (int col = 1; col <= 3; ++col)
                if (const auto& p = (*plain)[std::size_t(col - 1)])
                    values[std::size_t(col - 1)] = qbytes(sealField(next, *p, placeOf(row, col)));
            wipe(*plain);
            return values;
        }
        return std::nullopt;
    };
    const auto each = [&](const std::vector<EntryRow>& rows) {
        std::vector<std::optional<std::vector<QVariant>>> values(rows.size());
        inParallel(rows.size(), [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i)
                values[i] = resealed(rows[i]);
        });
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (values[i])
                c.storeSealed(rows[i], *values[i]);
    };
    const auto last = [&] {
        const Bytes w = fold(user);
        c.keyStore().putUserKey(
            user, asStored ? *asStored
                           : UserKeyRecord{wrapUserKey(wrap, next, w, pk), escrowOf(next, w, pk)});
        if (adminSecret && !asStored)
            grantAdmin(c.keyStore(), user, next, *adminSecret);
        else if (c.keyStore().adminKey(user))
            c.keyStore().removeAdminKey(user);
        c.keyStore().removePendingKey(user);
        resealDrafts(c.keyStore(), user, old, next);
    };
    inBatches(c, user, true, false, each, progress, last);
}

Secret replaceUserKey(EntryStore& c, const QString& user, const Secret& oldKey, const Secret& wrap,
                      const Secret* adminSecret, const Progress& progress) {
    Secret next;
    c.inTransaction([&] { next = storePendingKey(c, user, wrap); });
    finishRekey(c, user, {&oldKey}, next, wrap, adminSecret, progress);
    return next;
}

long long sealVouchedPlainRows(EntryStore& c, const QString& user, const Secret& key,
                               const Progress& progress) {
    if (c.signingPublic().empty())
        return 0;
    long long sealedRows = 0;
    const auto each = [&](const EntryRow& row) {
        const auto plain = plainRow(row);
        const auto signature = plain ? c.keyStore().plainSignature(plain->id) : std::nullopt;
        if (!signature || !verifyPlainRow(c.signingPublic(), *signature, *plain))
            return;
        std::vector<QVariant> values(3);
        for (int col = 1; col <= 3; ++col)
            if (!row[std::size_t(col)].isNull()) {
                QByteArray text = row[std::size_t(col)].toString().toUtf8();
                values[std::size_t(col - 1)] =
                    qbytes(sealField(key, view(text), placeOf(row, col)));
                sodium_memzero(text.data(), std::size_t(text.size()));
            }
        c.storeSealed(row, values);
        ++sealedRows;
    };
    // Only rows the upgrade signed can be vouched for: a login reads those, not the diary.
    inBatches(c, user, true, true, eachRow(each), progress);
    return sealedRows;
}

Opened openedBy(EntryStore& c, const QString& user, const Secret& key, const Progress& progress) {
    Opened n;
    const auto each = [&](const EntryRow& row) {
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
    };
    inBatches(c, user, false, false, eachRow(each), progress);
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
    inBatches(c, QString(), false, false, eachRow([&](const EntryRow& row) {
                  if (const auto plain = plainRow(row)) {
                      c.keyStore().putPlainSignature(plain->id,
                                                     signPlainRow(signingSecret, *plain));
                      ++n;
                  }
              }),
              {});
    return n;
}

} // namespace vault
