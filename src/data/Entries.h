#pragma once
// Inside the data layer only: statements on an SQLite handle, the sealing of entry
// statements, the schema check and the SQLite key records.
#include "data/Engine.h"
#include "data/ado.h"
#include "vault/EntryWork.h"

#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace ado {

// One prepared statement on either engine; every failure throws through its connection.
struct Stmt {
    Stmt(Connection& c, Handle* h, const QString& text) : conn(c), cur(h->prepare(text)) {}

    void bind(int i, const QVariant& v) { cur->bind(i, v); }
    void bindAll(const QList<sql::Value>& params);
    bool step() { return cur->step(); } // true for a row
    int columns() const { return cur->columns(); }
    QString name(int i) const { return cur->name(i); }
    QVariant value(int i) const { return cur->value(i); }
    std::vector<QVariant> row() const;

    Connection& conn;
    std::unique_ptr<Cursor> cur;
};

// What an entry statement does beyond its text: the texts it stores sealed with the
// writer's key, bound to the row's ID and time; what a read gives back opened.
struct EntryWork {
    EntryWork(Connection& c, Handle* handle) : conn(c), db(handle), seal(c, c.keys) {}
    long long execute(const sql::Statement& s);
    // The keys of the rows whose opened title matches the statement's LIKE pattern.
    std::vector<std::int64_t> titleKeys(const sql::Statement& s);
    // Opens the sealed fields of a row read whole; false when one did not open.
    bool openRow(const QStringList& names, std::vector<QVariant>& values) {
        return seal.openRow(names, values);
    }
    // A row read whole (ID, the sealed columns, B_writer, B_time) given new sealed texts.
    long long storeSealed(const std::vector<QVariant>& row, const std::vector<QVariant>& values);

    Connection& conn;
    Handle* db;
    vault::EntryWork seal;

private:
    long long insert(const sql::Statement& s);
    long long update(const sql::Statement& s);
    long long remove(const sql::Statement& s);
    // A diary user on a server writes through the schema's functions, never the tables.
    long long insertOnServer(const sql::Statement& s, const QString& writer);
    long long callCount(const QString& text, const QList<sql::Value>& params);
    std::optional<std::vector<QVariant>> storedRow(long long id);
};

struct SchemaReport {
    int tables = 0;
    bool keyTables = false;
    bool vaultTable = false;
    bool outdated = false; // made by an earlier version: `dayvault-admin upgrade` brings it on
    QStringList unknown;   // names of the objects the program did not make, or made otherwise
};
SchemaReport inspectSchema(Connection& c, Handle* db);

std::unique_ptr<vault::KeyStore> makeKeyStore(Connection& c);

// The key tables, as every version made them.
extern const char* const kKeyTablesSql;

} // namespace ado
