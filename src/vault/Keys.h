#pragma once
// What logins, registrations and the admin tool do with the key records, on any engine:
// every key is checked against the pinned administrator key and against the user's own key
// before it is trusted or sealed to.
#include "vault/Cipher.h"
#include "vault/EntryStore.h"
#include "vault/KeyStore.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>
#include <vector>

namespace vault {

class KeyStore;

// ---- the installation ----
struct Installation {
    QByteArray recoveryText;
    Bytes adminPublic;
};
// The key tables and a fresh administrator key pair, its secret wrapped by a new recovery key.
Installation newInstallation(KeyStore& store);
// The administrator secret key that the recovery key opens, when it is the secret of the
// file's public key.
std::optional<Secret> adminKeyFromRecovery(KeyStore& store, const QByteArray& recoveryText);
// A new administrator key pair: every escrow sealed again to it, its secret wrapped for the
// recovery key, and every administrator's copy of the old one removed. Returns the new
// public key. Escrows that do not open are left, and counted in `unopened`.
Bytes replaceAdminKeyPair(KeyStore& store, const Secret& oldAdmin, const QByteArray& recoveryText,
                          int* unopened);

// ---- a user's data key (callers hold the transaction) ----
// A fresh data key, wrapped by `wrap` and escrowed to the pinned administrator key.
Secret createUserKey(EntryStore& c, const QString& user, const Secret& wrap);
// The same key record, not stored: a server stores it with the account in one step.
UserKeyRecord newUserKeyRecord(EntryStore& c, const QString& user, const Secret& wrap,
                               Secret* keyOut = nullptr);
std::optional<Unwrapped> openUserKey(EntryStore& c, const QString& user, const Secret& wrap);
// True when the escrow holds `key`, sealed to the pinned key; rewritten otherwise.
bool repairEscrow(EntryStore& c, const QString& user, const Secret& key);

// ---- long jobs: a batch of rows at a time, each in a transaction of its own ----
// Told after each batch: rows done, and the writer's rows in all.
using Progress = std::function<void(long long done, long long total)>;
// The rows of a batch (2000); tests make it small.
void setBatchRows(int rows);

// A re-key survives a kill: its next key is stored pending before any entry is sealed with
// it, and each entry opens under the old key or the next one, never neither.
// The first step (callers hold the transaction): a next data key for `user` made for the
// pinned key, wrapped by `wrap`, stored pending.
Secret storePendingKey(EntryStore& c, const QString& user, const Secret& wrap);
// The pending key that `wrap` opens, made for the pinned key and escrowed to it; anything
// else in its place was not made for this user and is not used.
std::optional<Secret> pendingKey(EntryStore& c, const QString& user, const Secret& wrap);
// The pending key that `wrap` opens, made for another administrator key than the pinned one
// (a revoke came half way through its re-key), with its record as stored.
struct OlderPending {
    Unwrapped key;
    UserKeyRecord record;
};
std::optional<OlderPending> olderPendingKey(EntryStore& c, const QString& user, const Secret& wrap);
// The same, opened from its escrow by the administrator key.
std::optional<Secret> pendingKeyByEscrow(EntryStore& c, const QString& user,
                                         const Secret& adminSecret);
// The user's current key wrapped by a new password's `wrap` (callers hold the transaction),
// made for the administrator key it was made for: the new password opens it until a re-key
// begun with the password is done.
void rewrapUserKey(EntryStore& c, const QString& user, const Unwrapped& key, const Secret& wrap);
// The rest (callers hold no transaction): the user's entries that one of `old` opens sealed
// again with `next` (those `next` opens already are skipped, the others left as they are);
// with the last batch `next` becomes his key, his administrator copy wrapped again (or
// removed, without `adminSecret`) and the pending key removed. With `asStored`, the record of
// an older pending key, that record becomes his key as it is, and his administrator copy goes.
void finishRekey(EntryStore& c, const QString& user, const std::vector<const Secret*>& old,
                 const Secret& next, const Secret& wrap, const Secret* adminSecret,
                 const Progress& progress = {}, const UserKeyRecord* asStored = nullptr);
// Both steps (callers hold no transaction); returns the new key.
Secret replaceUserKey(EntryStore& c, const QString& user, const Secret& oldKey, const Secret& wrap,
                      const Secret* adminSecret, const Progress& progress = {});
// The user's plain rows that the upgrade signed, sealed; the others are left as they are.
// Callers hold no transaction.
long long sealVouchedPlainRows(EntryStore& c, const QString& user, const Secret& key,
                               const Progress& progress = {});
// How many of the user's sealed entries `key` opens, and how many it does not.
struct Opened {
    long long opened = 0, unopened = 0;
};
Opened openedBy(EntryStore& c, const QString& user, const Secret& key,
                const Progress& progress = {});

// Throws kKeyMismatch unless the file's administrator public key is still the pinned one.
void checkPinnedKey(EntryStore& c);

// ---- administrators ----
// The administrator secret key from the user's copy, when it is the pinned key's secret.
std::optional<Secret> adminKeyOf(EntryStore& c, const QString& user, const Secret& dataKey);
void grantAdmin(KeyStore& store, const QString& user, const Secret& dataKey,
                const Secret& adminSecret);

// ---- upgrade ----
// A row of ID, B_title, B_weather, B_content, B_writer, B_time as a plain row; nothing when a
// field is sealed.
std::optional<PlainRow> plainRow(const std::vector<QVariant>& row);
// Signs every row that holds no sealed value; returns how many.
long long signPlainRows(EntryStore& c, const Secret& signingSecret);

} // namespace vault
