#include "data/Entries.h"

#include "data/Postgres.h"
#include "data/schema.h"
#include "vault/EntryWork.h"
#include "vault/KeyRing.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"

#include <QDateTime>
#include <QRegularExpression>
#include <sodium.h>
#include <sqlite3.h>
#include <tuple>

namespace ado {
namespace {

bool isSealedColumn(const QString& column) {
    return vault::sealedColumns().contains(column, Qt::CaseInsensitive);
}

QVariant param(const sql::Statement& s, const char* column) {
    for (const sql::Value& v : s.params)
        if (v.column.compare(QLatin1String(column), Qt::CaseInsensitive) == 0)
            return v.value;
    return QVariant();
}

// A transaction of its own, or a savepoint inside the caller's.
class Work {
public:
    Work(Connection& c, Handle* db) : c_(c), db_(db), own_(!db->inTransaction()) {
        run(own_ ? "begin immediate" : "savepoint dv_entry");
    }
    ~Work() {
        if (done_)
            return;
        try {
            run(own_ ? "rollback" : "rollback to dv_entry");
            if (!own_)
                run("release dv_entry");
        } catch (const Error&) {
        }
    }
    void commit() {
        run(own_ ? "commit" : "release dv_entry");
        done_ = true;
    }

private:
    void run(const char* sql) {
        Stmt st(c_, db_, QString::fromLatin1(sql));
        st.step();
    }
    Connection& c_;
    Handle* db_;
    bool own_;
    bool done_ = false;
};

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
    "CREATE TABLE IF NOT EXISTS JR_plain (ID INTEGER PRIMARY KEY, signature BLOB NOT NULL);";

SchemaReport inspectSchema(Connection& c, Handle* db) {
    SchemaReport report;
    Stmt st(c, db, QStringLiteral("select type,name,tbl_name,sql from sqlite_master"));
    while (st.step()) {
        const QString type = st.value(0).toString(), name = st.value(1).toString();
        const Object found{type, name, st.value(2).toString(), normalisedSql(st.value(3))};
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

bool like(const QString& pattern, const QString& text) {
    const auto upToNul = [](const QString& s) {
        const qsizetype nul = s.indexOf(QChar(0));
        return (nul < 0 ? s : s.left(nul)).toUcs4();
    };
    const QList<uint> p = upToNul(pattern), t = upToNul(text);
    const auto same = [](uint a, uint b) {
        const auto lower = [](uint c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
        return lower(a) == lower(b);
    };
    // Greedy with one backtrack point: the last `%` and where its match stands.
    qsizetype i = 0, j = 0, star = -1, mark = 0;
    while (j < t.size()) {
        if (i < p.size() && p[i] == '%') {
            star = i++;
            mark = j;
        } else if (i < p.size() && (p[i] == '_' || same(p[i], t[j]))) {
            ++i;
            ++j;
        } else if (star >= 0) {
            i = star + 1;
            j = ++mark;
        } else {
            return false;
        }
    }
    while (i < p.size() && p[i] == '%')
        ++i;
    return i == p.size();
}

// ---- EntryWork ----

std::vector<std::int64_t> EntryWork::titleKeys(const sql::Statement& s) {
    if (s.titleLike.toUtf8().size() > db->likeLimit())
        throw Error(Failure::TooComplex, QStringLiteral("LIKE or GLOB pattern too complex"), 0,
                    conn.file());
    Stmt st(conn, db, s.text);
    st.bindAll(s.params);
    // As the engine compared them: both through UTF-8, which holds no lone surrogate.
    const QString pattern = QString::fromUtf8(s.titleLike.toUtf8());
    std::vector<std::int64_t> keys;
    while (st.step()) {
        const long long id = st.value(0).toLongLong();
        bool ok = true;
        const QVariant title = seal.open(
            st.value(1),
            {QStringLiteral("B_title"), st.value(2).toString(), id, st.value(3).toString()}, ok);
        if (ok && !title.isNull() && like(pattern, title.toString()))
            keys.push_back(id);
    }
    return keys;
}

long long EntryWork::execute(const sql::Statement& s) {
    if (!conn.sealed()) {
        Stmt st(conn, db, s.text);
        st.bindAll(s.params);
        while (st.step()) {
        }
        return db->changes();
    }
    switch (s.entry) {
    case sql::Statement::Entry::Insert:
        return insert(s);
    case sql::Statement::Entry::Update:
        return update(s);
    default:
        return remove(s);
    }
}

// The row first, so its ID and time are known before anything is sealed; the texts go in
// sealed within the same transaction, so no reader ever sees the row without them.
long long EntryWork::insert(const sql::Statement& s) {
    const QString writer = param(s, "B_writer").toString();
    seal.keyToSeal(writer);
    if (conn.serverUser())
        return insertOnServer(s, writer);
    Work work(conn, db);
    QList<sql::Value> params = s.params;
    for (sql::Value& v : params)
        if (isSealedColumn(v.column))
            v.value = QVariant();
    Stmt st(conn, db, s.text);
    st.bindAll(params);
    while (st.step()) {
    }
    const long long changed = db->changes();
    const long long id = db->lastInsertId();
    Stmt time(conn, db, QStringLiteral("select B_time from JR_content where ID=?"));
    time.bind(1, QVariant::fromValue<qint64>(id));
    if (!time.step())
        seal.refuseNoKey();
    const vault::FieldPlace place{QString(), writer, id, time.value(0).toString()};
    QString set;
    QList<sql::Value> sealedParams;
    for (const sql::Value& v : s.params)
        if (isSealedColumn(v.column)) {
            set +=
                (set.isEmpty() ? QString() : QStringLiteral(",")) + v.column + QStringLiteral("=?");
            sealedParams.append(
                {v.column, seal.seal(v.value, vault::EntryWork::placeOf(place, v.column))});
        }
    if (!sealedParams.isEmpty()) {
        sealedParams.append({QStringLiteral("ID"), QVariant::fromValue<qint64>(id)});
        Stmt fill(conn, db,
                  QStringLiteral("update JR_content set ") + set + QStringLiteral(" where ID=?"));
        fill.bindAll(sealedParams);
        fill.step();
    }
    work.commit();
    return changed;
}

// One call: the ID is one the server reserved for this writer beforehand, so the texts are
// sealed to it before they go. The token makes a save repeated after its answer was lost find
// the row it stored then, instead of storing a second.
long long EntryWork::insertOnServer(const sql::Statement& s, const QString& writer) {
    PgSession& pg = *conn.pg_;
    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-M-d H:mm:ss"));
    QByteArray token = s.token;
    if (token.isEmpty()) {
        token.resize(16);
        randombytes_buf(token.data(), std::size_t(token.size()));
    }
    for (int attempt = 0;; ++attempt) {
        if (pg.ticket == 0) {
            Stmt t(conn, db, QStringLiteral("select dv_ticket()"));
            t.step();
            pg.ticket = t.value(0).toLongLong();
        }
        const long long id = pg.ticket;
        const vault::FieldPlace place{QString(), writer, id, time};
        QList<sql::Value> params = {{QStringLiteral("ID"), QVariant::fromValue<qint64>(id)},
                                    {QString(), token},
                                    {QStringLiteral("B_time"), time}};
        for (const QString& column : vault::sealedColumns()) {
            const QVariant plain = param(s, column.toLatin1().constData());
            params.append({column, plain.isNull() ? QVariant()
                                                  : seal.seal(plain, vault::EntryWork::placeOf(
                                                                         place, column))});
        }
        Stmt st(conn, db, QStringLiteral("select id,next from dv_add_entry(?,?,?,?,?,?)"));
        st.bindAll(params);
        try {
            st.step();
        } catch (const Error& e) {
            // Reserved IDs are few and go when they grow old: one more is asked for.
            pg.ticket = 0;
            if (e.code() == kServerTicket && attempt == 0)
                continue;
            throw;
        }
        pg.lastId_ = st.value(0).toLongLong();
        pg.ticket = st.value(1).toLongLong();
        pg.changes_ = 1;
        return 1;
    }
}

std::optional<std::vector<QVariant>> EntryWork::storedRow(long long id) {
    const sql::Statement row = sql::entryRow(id);
    Stmt old(conn, db, row.text);
    old.bindAll(row.params);
    if (!old.step())
        return std::nullopt;
    return old.row();
}

// An entry is changed only when what it holds now opens: a sealed value its writer's key
// does not open would be lost under the new texts.
long long EntryWork::update(const sql::Statement& s) {
    const long long id = param(s, "ID").toLongLong();
    const QString writer = param(s, "B_writer").toString();
    std::optional<Work> work;
    if (!conn.serverUser())
        work.emplace(conn, db);
    long long changed = 0;
    if (auto values = storedRow(id)) {
        const QStringList names = {QStringLiteral("ID"),        QStringLiteral("B_title"),
                                   QStringLiteral("B_weather"), QStringLiteral("B_content"),
                                   QStringLiteral("B_writer"),  QStringLiteral("B_time")};
        if (!seal.openRow(names, *values))
            seal.refuseUnopened();
        seal.keyToSeal(writer);
        const vault::FieldPlace place{QString(), writer, id, (*values)[5].toString()};
        QList<sql::Value> params = s.params;
        for (sql::Value& v : params)
            if (isSealedColumn(v.column))
                v.value = seal.seal(v.value, vault::EntryWork::placeOf(place, v.column));
        if (conn.serverUser()) {
            const auto at = [&](const char* column) { return param({QString(), params}, column); };
            return callCount(QStringLiteral("select dv_update_entry(?,?,?,?,?,?)"),
                             {{QStringLiteral("ID"), id},
                              {QStringLiteral("B_writer"), writer},
                              {QStringLiteral("B_time"), place.time},
                              {QStringLiteral("B_title"), at("B_title")},
                              {QStringLiteral("B_weather"), at("B_weather")},
                              {QStringLiteral("B_content"), at("B_content")}});
        }
        Stmt st(conn, db, s.text);
        st.bindAll(params);
        while (st.step()) {
        }
        changed = db->changes();
    }
    if (work)
        work->commit();
    return changed;
}

long long EntryWork::callCount(const QString& text, const QList<sql::Value>& params) {
    Stmt st(conn, db, text);
    st.bindAll(params);
    const long long n = st.step() ? st.value(0).toLongLong() : 0;
    if (conn.pg_)
        conn.pg_->changes_ = n;
    return n;
}

long long EntryWork::storeSealed(const std::vector<QVariant>& row,
                                 const std::vector<QVariant>& values) {
    if (conn.serverUser())
        return callCount(QStringLiteral("select dv_update_entry(?,?,?,?,?,?)"),
                         {{QStringLiteral("ID"), row[0]},
                          {QStringLiteral("B_writer"), row[4]},
                          {QStringLiteral("B_time"), row[5]},
                          {QStringLiteral("B_title"), values[0]},
                          {QStringLiteral("B_weather"), values[1]},
                          {QStringLiteral("B_content"), values[2]}});
    Stmt st(conn, db,
            QStringLiteral("update JR_content set B_title=?,B_weather=?,B_content=? where ID=?"));
    st.bindAll({{QStringLiteral("B_title"), values[0]},
                {QStringLiteral("B_weather"), values[1]},
                {QStringLiteral("B_content"), values[2]},
                {QStringLiteral("ID"), row[0]}});
    st.step();
    return db->changes();
}

long long EntryWork::remove(const sql::Statement& s) {
    std::optional<Work> work;
    if (!conn.serverUser())
        work.emplace(conn, db);
    Stmt old(conn, db, QStringLiteral("select B_writer from JR_content where ID=?"));
    old.bind(1, param(s, "ID"));
    if (old.step())
        seal.checkDeletable(old.value(0).toString());
    if (conn.serverUser())
        return callCount(QStringLiteral("select dv_delete_entry(?)"),
                         {{QStringLiteral("ID"), param(s, "ID")}});
    Stmt st(conn, db, s.text);
    st.bindAll(s.params);
    while (st.step()) {
    }
    const long long changed = db->changes();
    work->commit();
    return changed;
}

// ---- the key records in SQLite ----

namespace {

vault::Bytes bytes(const QVariant& v) {
    return vault::bytes(v.toByteArray());
}
QVariant blob(const vault::Bytes& b) {
    return vault::qbytes(b);
}

// The same tables on either engine; only the catalogue and the upsert are spelled apart, and
// a diary user on a server writes his rows through the schema's functions.
class TableKeyStore : public vault::KeyStore {
public:
    explicit TableKeyStore(Connection& c) : c_(c) {}

    bool hasKeyTables() override { return hasTable(QStringLiteral("jr_vault")); }
    void createKeyTables() override {
        if (c_.server())
            return; // made with the schema
        for (const QString& s :
             QString::fromLatin1(kKeyTablesSql).split(QLatin1Char(';'), Qt::SkipEmptyParts))
            c_.Execute(s);
    }
    vault::Bytes setting(const QString& name) override {
        if (!hasKeyTables())
            return {};
        return first({QStringLiteral("select value from JR_vault where name=?"), {{{}, name}}})
            .value_or(vault::Bytes());
    }
    void putSetting(const QString& name, const vault::Bytes& value) override {
        c_.Execute({upsert("JR_vault", "name", "value"), {{{}, name}, {{}, blob(value)}}});
    }
    std::optional<vault::UserKeyRecord> userKey(const QString& user) override {
        const auto r = c_.rows(
            {QStringLiteral("select wrapped,escrow from JR_key where B_user=?"), {{{}, user}}});
        if (r.empty())
            return std::nullopt;
        return vault::UserKeyRecord{bytes(r[0][0]), bytes(r[0][1])};
    }
    void putUserKey(const QString& user, const vault::UserKeyRecord& k) override {
        c_.Execute({c_.serverUser() ? QStringLiteral("select dv_put_key(?,?,?)")
                                    : upsert("JR_key", "B_user", "wrapped,escrow"),
                    {{{}, user}, {{}, blob(k.wrapped)}, {{}, blob(k.escrow)}}});
    }
    void putEscrow(const QString& user, const vault::Bytes& escrow) override {
        if (c_.serverUser())
            c_.Execute(
                {QStringLiteral("select dv_put_escrow(?,?)"), {{{}, user}, {{}, blob(escrow)}}});
        else
            c_.Execute({QStringLiteral("update JR_key set escrow=? where B_user=?"),
                        {{{}, blob(escrow)}, {{}, user}}});
    }
    std::vector<std::pair<QString, vault::Bytes>> escrows() override {
        std::vector<std::pair<QString, vault::Bytes>> out;
        for (const auto& r : c_.rows({QStringLiteral("select B_user,escrow from JR_key"), {}}))
            out.emplace_back(r[0].toString(), bytes(r[1]));
        return out;
    }
    std::optional<vault::Bytes> adminKey(const QString& user) override {
        return first({QStringLiteral("select wrapped from JR_admin where B_user=?"), {{{}, user}}});
    }
    void putAdminKey(const QString& user, const vault::Bytes& wrapped) override {
        c_.Execute({c_.serverUser() ? QStringLiteral("select dv_put_admin_key(?,?)")
                                    : upsert("JR_admin", "B_user", "wrapped"),
                    {{{}, user}, {{}, blob(wrapped)}}});
    }
    void removeAdminKey(const QString& user) override {
        c_.Execute({c_.serverUser() ? QStringLiteral("select dv_remove_admin_key(?)")
                                    : QStringLiteral("delete from JR_admin where B_user=?"),
                    {{{}, user}}});
    }
    QStringList admins() override {
        QStringList out;
        for (const auto& r : c_.rows({QStringLiteral("select B_user from JR_admin"), {}}))
            out << r[0].toString();
        return out;
    }
    std::optional<vault::Bytes> plainSignature(long long id) override {
        if (!hasTable(QStringLiteral("jr_plain")))
            return std::nullopt;
        return first({QStringLiteral("select signature from JR_plain where ID=?"),
                      {{{}, QVariant::fromValue<qint64>(id)}}});
    }
    void putPlainSignature(long long id, const vault::Bytes& signature) override {
        c_.Execute({upsert("JR_plain", "ID", "signature"),
                    {{{}, QVariant::fromValue<qint64>(id)}, {{}, blob(signature)}}});
    }

private:
    bool hasTable(const QString& lowerName) {
        const QString sql =
            c_.server() ? QStringLiteral("select 1 from pg_catalog.pg_tables "
                                         "where schemaname='public' and tablename=?")
                        : QStringLiteral("select 1 from sqlite_master where type='table' and "
                                         "lower(name)=?");
        return !c_.rows({sql, {{{}, lowerName}}}).empty();
    }
    // Insert, or replace the row of the same key.
    QString upsert(const char* table, const char* key, const char* columns) {
        const QStringList cols = QString::fromLatin1(columns).split(QLatin1Char(','));
        QString text = QStringLiteral("insert %1into %2(%3,%4) values(?%5)")
                           .arg(c_.server() ? QString() : QStringLiteral("or replace "),
                                QLatin1String(table), QLatin1String(key), QLatin1String(columns),
                                QStringLiteral(",?").repeated(cols.size()));
        if (c_.server()) {
            QStringList set;
            for (const QString& col : cols)
                set << col + QStringLiteral("=excluded.") + col;
            text += QStringLiteral(" on conflict (%1) do update set %2")
                        .arg(QLatin1String(key), set.join(QLatin1Char(',')));
        }
        return text;
    }
    std::optional<vault::Bytes> first(const sql::Statement& s) {
        const auto r = c_.rows(s);
        if (r.empty())
            return std::nullopt;
        return bytes(r[0][0]);
    }
    Connection& c_;
};

} // namespace

std::unique_ptr<vault::KeyStore> makeKeyStore(Connection& c) {
    return std::make_unique<TableKeyStore>(c);
}

} // namespace ado
