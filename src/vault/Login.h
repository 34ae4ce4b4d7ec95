#pragma once
// What a login does with the user's keys once his password opened his data key: the key made
// for the pinned administrator key, his escrow, his administrator key, and his plain entries
// that the upgrade signed.
#include "base/Error.h"
#include "vault/Cipher.h"
#include "vault/EntryStore.h"
#include "vault/Keys.h"

#include <QString>

namespace vault {

class KeyRing;
struct Unwrapped;

// The data key of `user` made for the pinned administrator key: one made for an older key is
// replaced now, his entries sealed again. Callers hold no transaction.
// A re-key a kill cut off, whose pending key the password opens, is finished first.
Secret currentKey(EntryStore& store, const QString& user, Unwrapped key, const Secret& wrap,
                  const Secret* adminSecret, const Progress& progress = {});

// The current data key settled (replaced, its escrow repaired), with the administrator key
// when `admin`, kept in `ring`; then his vouched plain entries sealed, as far as the store
// lets. Returns why the login cannot go on, with nothing kept in `ring` (empty when it can).
QString settleKeys(EntryStore& store, KeyRing& ring, const QString& user, Unwrapped key,
                   const Secret& wrap, bool admin, const Progress& progress = {});

// Why the key work of a login failed: a busy or read-only store leaves a key as it was, which
// is no key to go on with, and the next login tries again. A store that is not what the
// program made goes no further: that failure is thrown on.
QString loginRefusal(const ado::Error& e);

} // namespace vault
