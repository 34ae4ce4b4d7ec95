#pragma once
// What a login, a registration and a password change do with the user's keys.
#include "accounts/Password.h"
#include "data/Cipher.h"

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
// `admin`), an older password record replaced by ours, a key made for an older
// administrator key replaced and his entries sealed again, his escrow checked, and his
// plain entries that the upgrade signed sealed. A write that fails (a read-only or busy
// file) leaves the file as it was and the login goes on. Returns why the login cannot go
// on (empty when it can): a record that says he has a key whose key row is gone or broken.
QString startSession(ado::Connection& c, vault::KeyRing& ring, const QString& user,
                     const QString& password, const QString& stored, const Unlocked& check,
                     bool admin);

// The password check of a login or a password change: against the stored value, and on a
// server by logging the connection in as the user's role (a refused login is a wrong
// password, as the three-tries rule counts it).
Unlocked checkLogin(ado::Connection& c, const QString& name, const QString& password,
                    const QString& stored, bool known);

// A new user with a fresh data key when the file has keys, in one transaction.
void addUser(ado::Connection& c, const QString& name, const QString& password);

// A new password with the data key wrapped again; no entry is sealed again. `key` comes
// from the current password (bound as it was made) or from the escrow (bound to nothing, so
// the next login replaces it). Without one only an account that never had a key gets one.
void setPassword(ado::Connection& c, const QString& name, const QString& password,
                 const std::optional<vault::Unwrapped>& key, const QString& stored);

// The data key that a successful check opens.
std::optional<vault::Unwrapped> dataKeyOf(ado::Connection& c, const QString& name,
                                          const Unlocked& check);

// The data key of `name` made for the pinned administrator key: one made for an older key is
// replaced now, his entries sealed again. Callers hold no transaction.
vault::Secret currentKey(ado::Connection& c, const QString& name, vault::Unwrapped key,
                         const vault::Secret& wrap, const vault::Secret* adminSecret);

// Runs `work` in one immediate transaction.
void inTransaction(ado::Connection& c, const std::function<void()>& work);

} // namespace accounts
