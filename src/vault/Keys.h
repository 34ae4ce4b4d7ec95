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
// A new data key made for the pinned administrator key; the user's entries that `oldKey`
// opens sealed again with it (the others left as they are) and his administrator copy
// wrapped again (or removed, without `adminSecret`).
Secret replaceUserKey(EntryStore& c, const QString& user, const Secret& oldKey, const Secret& wrap,
                      const Secret* adminSecret);
// The user's plain rows that the upgrade signed, sealed; the others are left as they are.
long long sealVouchedPlainRows(EntryStore& c, const QString& user, const Secret& key);
// How many of the user's sealed entries `key` opens, and how many it does not.
struct Opened {
    long long opened = 0, unopened = 0;
};
Opened openedBy(EntryStore& c, const QString& user, const Secret& key);

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
