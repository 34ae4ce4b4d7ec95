#pragma once
// Names and passwords as the login window compares them, and how passwords are kept.
#include <QString>

namespace accounts {

// Blanks (U+0020 only) removed at both ends, then every apostrophe removed.
QString normalise(const QString& text);

// Argon2id hash string of a normalised password (interactive limits).
QString hashPassword(const QString& password);

// Tests hash with the least cost the library allows; `cheap` false restores the real one.
void setCheapHashesForTests(bool cheap);

// True when `stored` is one of our hash strings rather than a password kept as text.
bool isHash(const QString& stored);

// Checks a normalised password against a stored value: a hash, or (a database made
// elsewhere) the plain text. Takes as long for a name that does not exist when called
// with `stored` empty and `known` false.
bool verifyPassword(const QString& password, const QString& stored, bool known = true);

// Tests: every hash and check throws, as on a machine without the memory they need.
void failHashingForTests(bool fail);

} // namespace accounts
