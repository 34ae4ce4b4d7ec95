#pragma once
// The key records of a database, whatever engine keeps them. Everything read here is only
// what the file says: callers check it against the pinned keys and their own keys.
#include "vault/Cipher.h"
#include "vault/Drafts.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace vault {

struct StoredDraft {
    long long entry = 0;
    QString made;
    Bytes sealed;
};

struct UserKeyRecord {
    Bytes wrapped; // the data key, wrapped by the key from the password
    Bytes escrow;  // the data key, sealed to the administrator public key
};

class KeyStore {
public:
    virtual ~KeyStore() = default;

    // True when the file has the key tables: a file that has them never stores plain text.
    virtual bool hasKeyTables() = 0;
    virtual void createKeyTables() = 0;

    // JR_vault's "public" (administrator public key) and "recovery" (its secret, wrapped by
    // the recovery key); empty when absent.
    virtual Bytes setting(const QString& name) = 0;
    virtual void putSetting(const QString& name, const Bytes& value) = 0;

    virtual std::optional<UserKeyRecord> userKey(const QString& user) = 0;
    virtual void putUserKey(const QString& user, const UserKeyRecord& record) = 0;
    virtual void putEscrow(const QString& user, const Bytes& escrow) = 0;
    // The next data key of a re-key under way: stored before any entry is sealed with it,
    // removed once it is the user's key.
    virtual std::optional<UserKeyRecord> pendingKey(const QString& user) = 0;
    virtual void putPendingKey(const QString& user, const UserKeyRecord& record) = 0;
    virtual void removePendingKey(const QString& user) = 0;
    // Every re-key under way, by the stored name.
    virtual std::vector<std::pair<QString, UserKeyRecord>> pendingKeys() = 0;
    // Every user's escrow, by the stored name.
    virtual std::vector<std::pair<QString, Bytes>> escrows() = 0;

    // The administrator secret key wrapped by a granted user's data key.
    virtual std::optional<Bytes> adminKey(const QString& user) = 0;
    virtual void putAdminKey(const QString& user, const Bytes& wrapped) = 0;
    virtual void removeAdminKey(const QString& user) = 0;
    virtual QStringList admins() = 0;

    // A user's draft of one window, sealed; a store of an earlier version has none.
    virtual std::optional<StoredDraft> draft(const QString& user, DraftKind kind) = 0;
    virtual void putDraft(const QString& user, DraftKind kind, const StoredDraft& draft) = 0;
    virtual void removeDraft(const QString& user, DraftKind kind) = 0;

    // Signatures of the plain rows an upgrade found.
    virtual std::optional<Bytes> plainSignature(long long id) = 0;
    virtual void putPlainSignature(long long id, const Bytes& signature) = 0;
};

} // namespace vault
