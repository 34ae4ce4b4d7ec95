#include "data/sqlite/schema.h"
#include "data/sqlite/internal.h"

#include <QRegularExpression>
#include <sqlite3.h>
#include <tuple>
#include <vector>

namespace ado::sqlite {
namespace {

QString normalisedSql(const QVariant& sql) {
    if (sql.isNull())
        return QString();
    static const QRegularExpression comment(QStringLiteral("--[^\n]*"));
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QString s = sql.toString();
    s.remove(comment);
    s.replace(blanks, QStringLiteral(" "));
    return s.trimmed();
}

using Object = std::tuple<QString, QString, QString, QString>; // type, name, table, sql

// What the program makes, read back from a database it made in memory.
const std::vector<Object>& madeObjects() {
    static const std::vector<Object> objects = [] {
        std::vector<Object> out;
        sqlite3* db = nullptr;
        sqlite3_open(":memory:", &db);
        sqlite3_exec(db, kSchemaSql, nullptr, nullptr, nullptr);
        sqlite3_exec(db, kKeyTablesSql, nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "select type,name,tbl_name,sql from sqlite_master", -1, &st,
                           nullptr);
        const auto text = [&](int i) {
            return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
        };
        while (sqlite3_step(st) == SQLITE_ROW)
            out.emplace_back(text(0), text(1), text(2),
                             sqlite3_column_type(st, 3) == SQLITE_NULL ? QString()
                                                                       : normalisedSql(text(3)));
        sqlite3_finalize(st);
        sqlite3_close(db);
        return out;
    }();
    return objects;
}

} // namespace

const char* const kKeyTablesSql =
    "CREATE TABLE IF NOT EXISTS JR_vault (name TEXT PRIMARY KEY, value BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS JR_key (B_user TEXT PRIMARY KEY COLLATE NOCASE, "
    "wrapped BLOB NOT NULL, escrow BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS JR_admin (B_user TEXT PRIMARY KEY COLLATE NOCASE, "
    "wrapped BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS JR_plain (ID INTEGER PRIMARY KEY, signature BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS JR_rekey (B_user TEXT PRIMARY KEY COLLATE NOCASE, "
    "wrapped BLOB NOT NULL, escrow BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS JR_draft (B_user TEXT NOT NULL COLLATE NOCASE, "
    "kind INTEGER NOT NULL, entry INTEGER NOT NULL, made TEXT NOT NULL, sealed BLOB NOT NULL, "
    "PRIMARY KEY (B_user, kind));";

SchemaReport inspect(Engine& engine) {
    SchemaReport report;
    const auto st =
        engine.prepare(QStringLiteral("select type,name,tbl_name,sql from sqlite_master"));
    while (st->step()) {
        const QString type = st->value(0).toString(), name = st->value(1).toString();
        const Object found{type, name, st->value(2).toString(), normalisedSql(st->value(3))};
        if (type == QLatin1String("table") && !name.startsWith(QLatin1String("sqlite_")))
            ++report.tables;
        if (type == QLatin1String("table") &&
            QStringList({QStringLiteral("JR_vault"), QStringLiteral("JR_key")})
                .contains(name, Qt::CaseInsensitive))
            report.keyTables = true;
        if (type == QLatin1String("table") &&
            name.compare(QLatin1String("JR_vault"), Qt::CaseInsensitive) == 0)
            report.vaultTable = true;
        bool known = false;
        for (const Object& o : madeObjects())
            known = known || o == found;
        if (!known)
            report.unknown << name;
    }
    return report;
}

} // namespace ado::sqlite
