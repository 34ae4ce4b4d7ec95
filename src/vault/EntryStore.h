#pragma once
// The entries as the vault needs them, whatever engine keeps them: a writer's rows, one row,
// and new sealed texts for a row. Rows are read whole and stored as they are: nothing here
// opens or seals.
#include "vault/Cipher.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <optional>
#include <vector>

namespace vault {

class KeyStore;

// ID, B_title, B_weather, B_content, B_writer, B_time.
using EntryRow = std::vector<QVariant>;

// The names of an EntryRow's columns.
const QStringList& entryRowColumns();
// B_title, B_weather, B_content: the columns stored sealed, in a row's order after its ID.
const QStringList& sealedColumns();

class EntryStore {
public:
    virtual ~EntryStore() = default;

    virtual KeyStore& keyStore() = 0;
    // True when the store has keys: no entry text is ever stored plain in it.
    virtual bool sealed() const = 0;
    // The pinned administrator public key (empty when the store is not pinned) and the
    // upgrade's signing key.
    virtual const Bytes& adminPublic() const = 0;
    virtual const Bytes& signingPublic() const = 0;
    // Where the store is, for the messages of failures.
    virtual QString file() const = 0;

    // At most `limit` rows of one writer, or of everyone when `writer` is null, with an ID
    // above `after`, by ID: a long job holds one batch.
    // `signedOnly`: only those whose plain texts the upgrade signed.
    virtual std::vector<EntryRow> entryRowsAfter(const QString& writer, long long after, int limit,
                                                 bool signedOnly) = 0;
    virtual long long entryCount(const QString& writer, bool signedOnly) = 0;
    virtual std::optional<EntryRow> entryRow(long long id) = 0;
    // New sealed texts (title, weather, content) for a row read whole.
    virtual long long storeSealed(const EntryRow& row, const std::vector<QVariant>& values) = 0;

    // Runs `work` in one transaction of its own: all of it is stored, or nothing.
    virtual void inTransaction(const std::function<void()>& work) = 0;
    // Best effort: what was committed leaves the store's log, and with it the pages of texts
    // replaced.
    virtual void settle() = 0;
};

} // namespace vault
