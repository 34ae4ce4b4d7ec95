#pragma once
// What one engine does its own way, so the record set, the entry statements and the key
// records run the same on the embedded file and on a server. Each engine lives in a folder of
// its own, and only factory.cpp knows them.
#include "base/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace ado {

// One prepared statement; every failure throws.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual void bind(int i, const QVariant& v) = 0; // from 1
    virtual bool step() = 0;                         // true for a row
    virtual int columns() const = 0;
    virtual QString name(int i) const = 0;
    virtual QVariant value(int i) const = 0;
    // For a scan of many rows, without a QVariant each: an integer column, and a column's
    // bytes as the engine holds them (valid until the next step; empty for null). `blob`
    // tells a blob from a text.
    virtual long long integer(int i) const = 0;
    virtual std::string_view raw(int i, bool* blob) const = 0;
};

// What a store holds, as its engine's catalogue tells.
struct SchemaReport {
    int tables = 0;
    bool keyTables = false;
    bool vaultTable = false;
    bool outdated = false; // made by an earlier version: `dayvault-admin upgrade` brings it on
    QStringList unknown;   // names of the objects the program did not make, or made otherwise
};

// The statements each engine spells its own way, with the values bound in the order named.
enum class Text {
    HasTable,          // lower-case name: a row when the table is there
    PutSetting,        // name, value: JR_vault's row, inserted or replaced
    PutUserKey,        // user, wrapped, escrow
    PutEscrow,         // user, escrow
    PutAdminKey,       // user, wrapped
    RemoveAdminKey,    // user
    PutPlainSignature, // ID, signature
    PutPendingKey,     // user, wrapped, escrow: JR_rekey's row, inserted or replaced
    RemovePendingKey,  // user
    PutDraft,          // user, kind, entry, made, sealed: JR_draft's row, inserted or replaced
    RemoveDraft,       // user, kind
    MarkCurrent,       // no values: the store's format marked as this version's (empty where
                       // the schema itself tells)
    NextEntryId,       // no values: a row of the ID the next entry takes, read inside the
                       // transaction that stores it (empty where only the insert tells)
    // Only where writers go through the schema's functions (empty elsewhere):
    ReserveId,   // a row of the ID reserved for the writer's next entry
    AddEntry,    // ID, token, B_time, B_title, B_weather, B_content: a row of the ID and the next
    UpdateEntry, // ID, B_writer, B_time, B_title, B_weather, B_content: a row of the count
    DeleteEntry, // ID: a row of the count
};

// What only a server with accounts of its own does. Passwords are the server passwords
// derived from the users' check values, never what they typed.
class ServerWork {
public:
    virtual ~ServerWork() = default;
    // A new account through the guest's registration function.
    virtual void registerUser(const QString& name, const QString& publicRecord,
                              const QByteArray& password, const QByteArray& wrapped,
                              const QByteArray& escrow) = 0;
    // The logged-in user's own record and password, or `name`'s as the schema's owner.
    virtual void setPassword(const QString& name, const QString& publicRecord,
                             const QByteArray& password, bool asUser) = 0;
    virtual void addRole(const QString& name, const QByteArray& password) = 0;
    virtual void setAdmin(const QString& name, bool admin) = 0;
    // The tables, policies and functions of the schema; refused where they are.
    virtual void createTables() = 0;
    // An earlier version's schema brought up to date; false when it was already.
    virtual bool upgrade() = 0;
    virtual void backup(const QString& out) = 0;
};

class Engine {
public:
    virtual ~Engine() = default;

    virtual std::unique_ptr<Cursor> prepare(const QString& text) = 0;
    // Of the statement run last.
    virtual long long changes() const = 0;
    // The ID the last insert gave its row.
    virtual long long lastInsertId() = 0;

    // A transaction that takes the write lock at its start, so it never fails halfway for
    // a lock another holds; savepoints inside one.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual void savepoint(const char* name) = 0;
    virtual void release(const char* name) = 0;
    virtual void rollbackTo(const char* name) = 0;
    virtual bool inTransaction() const = 0;

    // The longest LIKE pattern the engine takes, in bytes.
    virtual int likeLimit() const = 0;
    virtual QString text(Text which) const = 0;
    // True when writers change entries and keys through the schema's functions only.
    virtual bool writesThroughFunctions() const = 0;
    // Makes the key tables where the program makes them; a server's schema has them.
    virtual void createKeyTables() = 0;
    virtual SchemaReport inspectSchema() = 0;
    // Once the store is found sound: what the engine keeps for a store in use (a log).
    virtual void startUse() = 0;
    // True when the store must be opened again before the next statement: after a failure a
    // fresh open may cure (a file made writable again, say), or a server lost.
    virtual bool mustReopen() = 0;
    // Which store is at the engine's place now (a file's device and inode, or "gone"); empty
    // where it cannot be replaced. Another than at the open means the file was replaced.
    virtual QByteArray identity() const = 0;
    // Best effort: what was committed written back from the log, the log truncated.
    virtual void settle() = 0;
    virtual ServerWork* server() { return nullptr; }
    // Changes whenever another connection commits to the store; nothing where the engine
    // cannot tell, and then whoever keeps what he read must look again each time.
    virtual std::optional<long long> dataVersion() { return std::nullopt; }

    // Tells this engine from every other made in this process, even one at the same address.
    const std::uint64_t serial = [] {
        static std::atomic<std::uint64_t> made{0};
        return ++made;
    }();

    // An ID the store reserved for this writer's next entry; 0 when none is held.
    long long ticket = 0;
};

} // namespace ado
