#pragma once
// Names and passwords as the login window compares them, and how passwords are kept.
#include "vault/Cipher.h"

#include <QString>
#include <cstddef>
#include <utility>

namespace accounts {

// Blanks (U+0020 only) removed at both ends, then every apostrophe removed.
QString normalise(const QString& text);

// The longest name a registration takes, in characters; the server refuses longer ones too.
constexpr qsizetype kMaxNameLength = 64;
// Why a registration refuses a normalised, non-empty name, as a sentence to show; empty when
// it takes the name. A control character (U+0000-U+001F, U+007F-U+009F) would reach the
// administrator's terminal and the tab-separated listings of names.
QString nameRefusal(const QString& name);

// Argon2id hash string of a normalised password (interactive limits).
QString hashPassword(const QString& password);

// True when `stored` is one of our hash strings rather than a password kept as text.
bool isHash(const QString& stored);

// Our record: "$argon2id$v=19$m=KIB,t=OPS,p=1$dv1$SALT$CHECK". One Argon2id run gives 64
// bytes: a hash of the first half is CHECK, the second half wraps the user's data key.
bool isRecord(const QString& stored);
std::pair<QString, vault::Secret> newRecord(const QString& password);

// On a server the stored record keeps no check value ("...$SALT$"): the server holds the
// SCRAM verifier of a password derived from it, and is the one to say whether it matches.
QString publicRecord(const QString& record);
bool isPublicRecord(const QString& stored);
// The password a user's role logs in with, derived from the record's check value.
vault::Secret serverPassword(const QString& record);

// The outcome of one password check; `wrap` is set for our records. For a public record
// `ok` only says the record could be used: `server` is the password the server must accept.
struct Unlocked {
    bool ok = false;
    vault::Secret wrap;
    vault::Secret server;
};
// Checks a normalised password against a stored value (record, older hash string or plain
// text) with one Argon2id run, also for a name that does not exist (`known` false).
Unlocked unlock(const QString& password, const QString& stored, bool known = true);

// The Argon2id cost of new records (tests and benchmarks lower it); the interactive
// limits unless set.
void setPasswordCost(unsigned long long ops, std::size_t memBytes);
// Tests hash with the least cost the library allows; `cheap` false restores the real one.
void setCheapHashesForTests(bool cheap);
// Tests: every hash and check throws, as on a machine without the memory they need.
void failHashingForTests(bool fail);

// Checks a normalised password against a stored value: a hash, or (a database made
// elsewhere) the plain text. Takes as long for a name that does not exist when called
// with `stored` empty and `known` false.
bool verifyPassword(const QString& password, const QString& stored, bool known = true);

} // namespace accounts
