#pragma once
// Keys pinned beside the database, in files the program trusts only when a neighbour cannot
// have written them: regular files, not links, owned by root or by us, writable by nobody else.
#include "vault/Cipher.h"

#include <QString>
#include <optional>

namespace vault {

// The pinned administrator public key, and the public half of the upgrade's signing key.
QString adminPubPath(const QString& database);
QString upgradePubPath(const QString& database);

// Absent: nullopt. Present but not to be trusted, or not a key of `size` bytes: throws
// ado::Error with a message naming the file.
std::optional<Bytes> readPinned(const QString& path, std::size_t size);
// Replaces the file as a whole (a new file renamed over it); mode 0644.
void writePinned(const QString& path, const Bytes& key);

} // namespace vault
