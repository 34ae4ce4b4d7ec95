#pragma once
// What a login, a registration and a password change do with the user's keys.
#include "accounts/Password.h"
#include "data/Vault.h"

#include <QString>
#include <optional>

namespace ado {
class Connection;
}

namespace accounts {

// After a successful check: the user's keys kept for the session (the administrator key
// too when `admin`), an older password record replaced by ours, and the writer's plain
// entries sealed. A write that fails (a read-only or busy file) leaves the file as it was
// and the login goes on.
void startSession(ado::Connection& c, const QString& user, const QString& password,
                  const QString& stored, const Unlocked& check, bool admin);

// A new user (statement 3) with a fresh data key when the file has keys, in one transaction.
void addUser(ado::Connection& c, const QString& name, const QString& password);

// A new password (statement 4) with the data key wrapped again; no entry is sealed again.
// `dataKey` comes from the current password or the escrow; without one an account that has
// no key yet gets a new one.
void setPassword(ado::Connection& c, const QString& name, const QString& password,
                 const vault::Secret* dataKey);

// The data key that a successful check opens.
std::optional<vault::Secret> dataKeyOf(ado::Connection& c, const QString& name,
                                       const Unlocked& check);

// Seals the writer's plain entries in one transaction, then pushes the log into the file
// (with secure_delete, nothing of the plain texts stays).
void sealPlainEntries(ado::Connection& c, const QString& writer);

} // namespace accounts
