#pragma once
// A small ADO-like layer over an engine (the embedded file or a PostgreSQL server): a
// connection and a keyset, read-only record set. The entry texts are sealed by the vault
// before they reach the engine and opened when a row is read; the windows do not know which
// engine runs.
#include "base/Error.h"
#include "data/engine.h"
#include "data/statements.h"
#include "vault/Cipher.h"
#include "vault/EntryStore.h"
#include "vault/KeyStore.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace vault {
class KeyRing;
struct UserKeyRecord;
} // namespace vault

namespace ado {

class Recordset;
class EntryStatements;
class TableKeyStore;

class Connection : public vault::EntryStore {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() override;

    QString ConnectionString;
    // The session's keys, for what entry statements store and what record sets read.
    vault::KeyRing* keys = nullptr;
    // The admin tool opens a file that is not pinned yet, or one it only reports on.
    bool requirePinnedKey = true;
    bool refuseUnknownObjects = true;

    // Opens the file named by "data source=" read-write; never creates it. Refuses a file
    // holding objects the program did not make, or whose administrator key is not pinned.
    // "provider=postgresql;pins=FOLDER;conninfo=..." connects to a server instead: as the
    // session's user when `keys` holds his login, else as the guest that may only read the
    // public records and register.
    void Open();
    void Close();
    // Open from Open() to Close(). The engine's handle behind it is opened again when the
    // file was replaced or removed, or after a failure that a fresh open may cure (a file
    // made writable again, say), so a window goes on working once the cause is gone.
    int State() const { return opened_ ? 1 : 0; }
    // A transaction that takes the write lock at its start; ADO's names.
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    // Runs one statement; returns the number of rows changed.
    long long Execute(const QString& sql) { return Execute(sql::Statement{sql, {}}); }
    long long Execute(const sql::Statement& statement);
    // Every row of a query, as stored: nothing is opened.
    std::vector<std::vector<QVariant>> rows(const sql::Statement& statement);
    // Whether the store has the table of this lower-case name.
    bool hasTable(const QString& lowerName);
    // The store's format marked as this version's, where its engine keeps such a mark.
    void markCurrent();

    QString file() const override { return path_; }
    // True on a server: the server checks the password and enforces who touches which row.
    bool server() const { return server_; }
    // Back to the guest: the next action connects as it, not as the user logged in last.
    void logOut();
    // New sealed texts for a row read whole (ID, the three sealed columns, B_writer, B_time).
    long long storeSealed(const vault::EntryRow& row, const std::vector<QVariant>& values) override;
    std::vector<vault::EntryRow> entryRowsAfter(const QString& writer, long long after, int limit,
                                                bool signedOnly) override;
    long long entryCount(const QString& writer, bool signedOnly) override;
    std::optional<vault::EntryRow> entryRow(long long id) override;
    void inTransaction(const std::function<void()>& work) override;
    void settle() override;
    // Connects again as the diary user `name`, with the password derived from his check
    // value; throws `kServerAuth` when the server refuses it.
    void logIn(const QString& name, const vault::Secret& password);
    // A new account through the guest's registration function: the public record, the
    // server's verifier of `password` (computed here, the password is never sent) and the
    // key row, in one step.
    void registerUser(const QString& name, const QString& publicRecord,
                      const vault::Secret& password, const vault::UserKeyRecord& record);
    // The record and the server's verifier of the logged-in user, or of `name` when the
    // connection is the schema owner's.
    void setServerPassword(const QString& name, const QString& publicRecord,
                           const vault::Secret& password);
    // The schema owner's: the role of `name`, made with the verifier of `password`, and its
    // membership of the administrators' group.
    void addServerRole(const QString& name, const vault::Secret& password);
    void setServerAdmin(const QString& name, bool admin);
    // True when the file has keys: no entry text is ever stored plain in it.
    bool sealed() const override { return sealed_; }
    // The pinned administrator public key (empty when the file is not pinned) and the
    // upgrade's signing key.
    const vault::Bytes& adminPublic() const override { return adminPublic_; }
    const vault::Bytes& signingPublic() const override { return signingPublic_; }
    vault::KeyStore& keyStore() override;
    // Takes the file's administrator public key as pinned when something other than the
    // file proves it (the recovery key, for a copy opened by the admin tool).
    bool vouchFor(const vault::Bytes& adminPublic);
    // What keeps the file from being opened: unknown objects, changed definitions, keys
    // that are not pinned. Empty for a sound file.
    QStringList problems();

private:
    friend class Recordset;
    friend class EntryStatements;
    friend class TableKeyStore;
    friend void createServerTables(Connection& owner);
    friend bool upgradeServer(Connection& owner);
    friend void backupServer(Connection& owner, const QString& out);
    // The engine connected again: as the user logged in, or the guest.
    void openEngine(bool sameServer = false);
    void checkStore(QStringList* problems);
    void dropEngine();
    // What the pinned key file is now (device, inode, time): a revoke replaces it while
    // windows stay open, and their connections then read it again.
    std::tuple<unsigned long long, unsigned long long, long long> pinNow() const;
    // The engine to run a statement on; throws when the connection is closed or the store
    // cannot be opened now.
    Engine* usable();
    ServerWork& serverWork();

    std::unique_ptr<Engine> engine_;
    bool server_ = false;
    bool owner_ = false;
    QString conninfo_, loginName_;
    vault::Secret loginPassword_;
    QString path_;
    bool opened_ = false;
    bool stale_ = false;
    QByteArray identity_;     // which file the engine found at the path
    unsigned generation_ = 0; // counts the times the engine found another file at the path
    std::vector<Recordset*> sets_;
    bool sealed_ = false;
    vault::Bytes adminPublic_, signingPublic_;
    std::tuple<unsigned long long, unsigned long long, long long> pin_{};
    std::unique_ptr<vault::KeyStore> store_;
    // The statement a re-key stores each row with, prepared once for the engine's life.
    std::unique_ptr<Cursor> sealedUpdate_;
};

// Positions reported by AbsolutePosition() off the rows, as ADO does.
constexpr int adPosBOF = -2;
constexpr int adPosEOF = -3;

class Recordset {
public:
    Recordset() = default;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;
    ~Recordset();

    // Runs the query and keeps the keys of the matching rows; the cursor is on the first.
    void Open(const sql::Statement& statement, Connection& connection);
    void Close();
    int State() const { return conn_ ? 1 : 0; }

    bool eof() const;
    bool bof() const;
    int RecordCount() const;
    int AbsolutePosition() const;
    void MoveFirst();
    void MovePrevious();
    void MoveNext();
    void MoveLast();

    // The current row's value of a column, matched without regard to case; null off the
    // rows, for a missing column, and for a row deleted since the search.
    QVariant Fields(const QString& name) const;
    // False when a sealed field of the current row did not open.
    bool opened() const { return opened_; }
    // Runs a change statement for the rows of this result. Once the file has been replaced
    // since the search, throws `kFileReplaced` and closes the result instead.
    long long Execute(const sql::Statement& statement);

private:
    void readCurrent();
    void moveTo(std::int64_t pos);
    Engine* onSameFile();

    Connection* conn_ = nullptr;
    std::vector<std::int64_t> keys_;          // rowids, or indexes into rows_
    std::vector<std::vector<QVariant>> rows_; // only for queries that have no keys
    bool keyed_ = false;
    QString table_;
    unsigned generation_ = 0;
    std::int64_t pos_ = 0; // 0 before the first row, size+1 after the last
    QStringList names_;
    std::vector<QVariant> values_;
    bool opened_ = true;
};

// Creates a new database file (mode 0600) with the diary schema and its administrator key
// pair, and pins the public key beside it; refuses an existing file. Returns the recovery
// key as text.
QByteArray createDatabase(const QString& path);
// An online copy of the database into `out`, an empty file made by the caller.
void backupDatabase(const QString& path, const QString& out);

// A server database its setup prepared, filled: tables, policies and functions, the
// administrator key pair, and its public key pinned beside the settings file. `owner` is
// connected as the schema's owner. Returns the recovery key as text.
QByteArray initServer(Connection& owner);
// The tables, policies and functions alone, for a migration that brings its own keys.
void createServerTables(Connection& owner);
// A server database an earlier version made, brought up to date (tables, functions, rights);
// false when it was already.
bool upgradeServer(Connection& owner);
// A copy through pg_dump in its custom format into `out`.
void backupServer(Connection& owner, const QString& out);

// The role a diary user logs in as on a server: dv_ and the md5 of his name, ASCII letters
// folded.
QString roleOf(const QString& name);

// SQLite's LIKE without ESCAPE: ASCII letters in either case, `%` and `_` as wildcards; both
// texts end at a NUL, as the engine reads them.
bool like(const QString& pattern, const QString& text);

// How long a connection waits for another program's lock (5 s); tests shorten it.
void setBusyTimeout(int ms);
int busyTimeout();

} // namespace ado
