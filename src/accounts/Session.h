#pragma once
// What a login, a registration and a password change do with the user's keys.
#include "accounts/Password.h"
#include "vault/Cipher.h"
#include "vault/Keys.h"

#include <QString>
#include <functional>
#include <optional>

namespace ado {
class Connection;
}
namespace vault {
class KeyRing;
}

namespace accounts {

// After a successful check: the user's keys kept in `ring` (the administrator key too when
// `admin`), the older password record of an account from before keys replaced by ours with
// its first key, a key made for an older administrator key replaced and his entries sealed
// again, his escrow checked, and his plain entries that the upgrade signed sealed. Returns
// why the login cannot go on (empty when it can), with nothing kept in `ring`: a key row
// gone or broken, an older record beside a key row, a key that could not be made, replaced
// or repaired (a busy or read-only store; the next login tries again).
// The long work is told to `progress` batch by batch.
QString startSession(ado::Connection& c, vault::KeyRing& ring, const QString& user,
                     const QString& password, const QString& stored, const Unlocked& check,
                     bool admin, const vault::Progress& progress = {});

// The password check of a login or a password change: against the stored value, and on a
// server by logging the connection in as the user's role (a refused login is a wrong
// password, as the three-tries rule counts it).
Unlocked checkLogin(ado::Connection& c, const QString& name, const QString& password,
                    const QString& stored, bool known);

// A new user with a fresh data key when the file has keys, in one transaction.
void addUser(ado::Connection& c, const QString& name, const QString& password);

// A new password with a new data key: the entries `key` (or `pending`, the next key of a
// re-key cut off) opens sealed again with it batch by batch, the others left as they are, so
// the old record and key row open nothing once it is done. The new password, the key and
// the next key go first in one transaction: cut off, the next login with the new password
// finishes the work. `key` comes from the current password, or from the escrow that the
// administrator key opened. Without one only an account that never had a key gets one.
void setPassword(ado::Connection& c, const QString& name, const QString& password,
                 const std::optional<vault::Unwrapped>& key, const QString& stored,
                 const vault::Secret* pending = nullptr, const vault::Progress& progress = {});

// The data key that a successful check opens.
std::optional<vault::Unwrapped> dataKeyOf(ado::Connection& c, const QString& name,
                                          const Unlocked& check);

// Runs `work` in one immediate transaction.
void inTransaction(ado::Connection& c, const std::function<void()>& work);

} // namespace accounts
