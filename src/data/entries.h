#pragma once
// Inside the data layer only: statements on an engine, the entry statements around the
// vault's sealing, and the key records kept in tables.
#include "data/ado.h"
#include "data/engine.h"
#include "vault/EntryWork.h"
#include "vault/Titles.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace ado {

// One prepared statement on the connection's engine; every failure throws.
struct Stmt {
    Stmt(Engine* e, const QString& text) : cur(e->prepare(text)) {}

    void bind(int i, const QVariant& v) { cur->bind(i, v); }
    void bindAll(const QList<sql::Value>& params);
    bool step() { return cur->step(); } // true for a row
    int columns() const { return cur->columns(); }
    QString name(int i) const { return cur->name(i); }
    QVariant value(int i) const { return cur->value(i); }
    std::vector<QVariant> row() const;

    std::unique_ptr<Cursor> cur;
};

// What an entry statement does beyond its text: the texts it stores sealed with the
// writer's key, bound to the row's ID and time; what a read gives back opened.
class EntryStatements {
public:
    EntryStatements(Connection& c, Engine* engine) : conn(c), db(engine), seal(c, c.keys) {}
    long long execute(const sql::Statement& s);
    // The keys of the rows whose opened title (or text) matches the statement's LIKE pattern.
    std::vector<std::int64_t> titleKeys(const sql::Statement& s);
    bool openRow(const QStringList& names, std::vector<QVariant>& values) {
        return seal.openRow(names, values);
    }
    // A row read whole given new sealed texts.
    long long storeSealed(const vault::EntryRow& row, const std::vector<QVariant>& values);

private:
    long long insert(const sql::Statement& s);
    long long insertThenSeal(const sql::Statement& s, const QString& writer);
    long long update(const sql::Statement& s);
    long long remove(const sql::Statement& s);
    // Where writers go through the schema's functions, never the tables.
    long long insertByFunction(const sql::Statement& s, const QString& writer);
    long long callCount(Text which, const QList<sql::Value>& params);
    std::optional<vault::EntryRow> storedRow(long long id);
    // The session's opened titles or texts: brought up to date for a search's scope, and told
    // what this session stored. Null when there is none to keep (no keys, or no seal at all).
    vault::Titles* opened(bool content);
    void refreshTitles(vault::Titles& t, const sql::Statement& s, const vault::Bytes& scope);
    void readTitles(vault::Titles& t, const sql::Statement& s, long long above, long long upTo,
                    const std::function<void()>& kept = {});
    void keepTexts(long long id, const QString& writer, const sql::Statement& s);
    void forgetTexts(long long id);

    Connection& conn;
    Engine* db;
    vault::EntryWork seal;
};

std::unique_ptr<vault::KeyStore> makeKeyStore(Connection& c);

} // namespace ado
