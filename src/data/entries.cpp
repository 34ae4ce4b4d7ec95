#include "data/entries.h"

#include "vault/KeyRing.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"

#include <QDateTime>
#include <sodium.h>

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
    explicit Work(Engine* db) : db_(db), own_(!db->inTransaction()) {
        if (own_)
            db_->begin();
        else
            db_->savepoint("dv_entry");
    }
    ~Work() {
        if (done_)
            return;
        try {
            if (own_) {
                db_->rollback();
            } else {
                db_->rollbackTo("dv_entry");
                db_->release("dv_entry");
            }
        } catch (const Error&) {
        }
    }
    void commit() {
        if (own_)
            db_->commit();
        else
            db_->release("dv_entry");
        done_ = true;
    }

private:
    Engine* db_;
    bool own_;
    bool done_ = false;
};

} // namespace

void Stmt::bindAll(const QList<sql::Value>& params) {
    for (qsizetype i = 0; i < params.size(); ++i)
        bind(int(i + 1), params[i].value);
}

std::vector<QVariant> Stmt::row() const {
    std::vector<QVariant> out;
    for (int i = 0, n = columns(); i < n; ++i)
        out.push_back(value(i));
    return out;
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

// ---- entry statements ----

std::vector<std::int64_t> EntryStatements::titleKeys(const sql::Statement& s) {
    if (s.titleLike.toUtf8().size() > db->likeLimit())
        throw Error(Failure::TooComplex, QStringLiteral("LIKE or GLOB pattern too complex"), 0,
                    conn.file());
    Stmt st(db, s.text);
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

long long EntryStatements::execute(const sql::Statement& s) {
    if (!conn.sealed()) {
        Stmt st(db, s.text);
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
long long EntryStatements::insert(const sql::Statement& s) {
    const QString writer = param(s, "B_writer").toString();
    seal.keyToSeal(writer);
    if (db->writesThroughFunctions())
        return insertByFunction(s, writer);
    Work work(db);
    QList<sql::Value> params = s.params;
    for (sql::Value& v : params)
        if (isSealedColumn(v.column))
            v.value = QVariant();
    Stmt st(db, s.text);
    st.bindAll(params);
    while (st.step()) {
    }
    const long long changed = db->changes();
    // A row filled by the tools names its ID; the engine tells the one it gave any other.
    const QVariant given = param(s, "ID");
    const long long id = given.isNull() ? db->lastInsertId() : given.toLongLong();
    Stmt time(db, QStringLiteral("select B_time from JR_content where ID=?"));
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
        Stmt fill(db,
                  QStringLiteral("update JR_content set ") + set + QStringLiteral(" where ID=?"));
        fill.bindAll(sealedParams);
        fill.step();
    }
    work.commit();
    return changed;
}

// One call: the ID is one the store reserved for this writer beforehand, so the texts are
// sealed to it before they go. The token makes a save repeated after its answer was lost find
// the row it stored then, instead of storing a second.
long long EntryStatements::insertByFunction(const sql::Statement& s, const QString& writer) {
    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-M-d H:mm:ss"));
    QByteArray token = s.token;
    if (token.isEmpty()) {
        token.resize(16);
        randombytes_buf(token.data(), std::size_t(token.size()));
    }
    for (int attempt = 0;; ++attempt) {
        if (db->ticket == 0) {
            Stmt t(db, db->text(Text::ReserveId));
            t.step();
            db->ticket = t.value(0).toLongLong();
        }
        const long long id = db->ticket;
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
        Stmt st(db, db->text(Text::AddEntry));
        st.bindAll(params);
        try {
            st.step();
        } catch (const Error& e) {
            // Reserved IDs are few and go when they grow old: one more is asked for.
            db->ticket = 0;
            if (e.kind() == Failure::Ticket && attempt == 0)
                continue;
            throw;
        }
        db->ticket = st.value(1).toLongLong();
        return 1;
    }
}

std::optional<vault::EntryRow> EntryStatements::storedRow(long long id) {
    const sql::Statement row = sql::entryRow(id);
    Stmt old(db, row.text);
    old.bindAll(row.params);
    if (!old.step())
        return std::nullopt;
    return old.row();
}

// An entry is changed only when what it holds now opens: a sealed value its writer's key
// does not open would be lost under the new texts.
long long EntryStatements::update(const sql::Statement& s) {
    const long long id = param(s, "ID").toLongLong();
    const QString writer = param(s, "B_writer").toString();
    std::optional<Work> work;
    if (!db->writesThroughFunctions())
        work.emplace(db);
    long long changed = 0;
    if (auto values = storedRow(id)) {
        if (!seal.openRow(vault::entryRowColumns(), *values))
            seal.refuseUnopened();
        seal.keyToSeal(writer);
        const vault::FieldPlace place{QString(), writer, id, (*values)[5].toString()};
        QList<sql::Value> params = s.params;
        for (sql::Value& v : params)
            if (isSealedColumn(v.column))
                v.value = seal.seal(v.value, vault::EntryWork::placeOf(place, v.column));
        if (db->writesThroughFunctions()) {
            const auto at = [&](const char* column) { return param({QString(), params}, column); };
            return callCount(Text::UpdateEntry, {{QStringLiteral("ID"), id},
                                                 {QStringLiteral("B_writer"), writer},
                                                 {QStringLiteral("B_time"), place.time},
                                                 {QStringLiteral("B_title"), at("B_title")},
                                                 {QStringLiteral("B_weather"), at("B_weather")},
                                                 {QStringLiteral("B_content"), at("B_content")}});
        }
        Stmt st(db, s.text);
        st.bindAll(params);
        while (st.step()) {
        }
        changed = db->changes();
    }
    if (work)
        work->commit();
    return changed;
}

long long EntryStatements::callCount(Text which, const QList<sql::Value>& params) {
    Stmt st(db, db->text(which));
    st.bindAll(params);
    return st.step() ? st.value(0).toLongLong() : 0;
}

long long EntryStatements::storeSealed(const std::vector<QVariant>& row,
                                       const std::vector<QVariant>& values) {
    if (db->writesThroughFunctions())
        return callCount(Text::UpdateEntry, {{QStringLiteral("ID"), row[0]},
                                             {QStringLiteral("B_writer"), row[4]},
                                             {QStringLiteral("B_time"), row[5]},
                                             {QStringLiteral("B_title"), values[0]},
                                             {QStringLiteral("B_weather"), values[1]},
                                             {QStringLiteral("B_content"), values[2]}});
    // The file's statements run again once done; a server's run once.
    std::unique_ptr<Cursor> once;
    std::unique_ptr<Cursor>& st = conn.server() ? once : conn.sealedUpdate_;
    if (!st)
        st = db->prepare(
            QStringLiteral("update JR_content set B_title=?,B_weather=?,B_content=? where ID=?"));
    try {
        for (int i = 0; i < 3; ++i)
            st->bind(i + 1, values[std::size_t(i)]);
        st->bind(4, row[0]);
        st->step();
    } catch (...) {
        st.reset(); // a statement that failed is not run again
        throw;
    }
    return db->changes();
}

long long EntryStatements::remove(const sql::Statement& s) {
    std::optional<Work> work;
    if (!db->writesThroughFunctions())
        work.emplace(db);
    Stmt old(db, QStringLiteral("select B_writer from JR_content where ID=?"));
    old.bind(1, param(s, "ID"));
    if (old.step())
        seal.checkDeletable(old.value(0).toString());
    if (db->writesThroughFunctions())
        return callCount(Text::DeleteEntry, {{QStringLiteral("ID"), param(s, "ID")}});
    Stmt st(db, s.text);
    st.bindAll(s.params);
    while (st.step()) {
    }
    const long long changed = db->changes();
    work->commit();
    return changed;
}

// ---- the key records ----

namespace {

vault::Bytes bytes(const QVariant& v) {
    return vault::bytes(v.toByteArray());
}
QVariant blob(const vault::Bytes& b) {
    return vault::qbytes(b);
}

} // namespace

// The same tables on every engine; what each spells its own way (the catalogue, the upsert, a
// server's functions for its diary users) comes from the engine.
class TableKeyStore : public vault::KeyStore {
public:
    explicit TableKeyStore(Connection& c) : c_(c) {}

    bool hasKeyTables() override { return hasTable(QStringLiteral("jr_vault")); }
    void createKeyTables() override { c_.usable()->createKeyTables(); }
    QString text(Text which) { return c_.usable()->text(which); }
    vault::Bytes setting(const QString& name) override {
        if (!hasKeyTables())
            return {};
        return first({QStringLiteral("select value from JR_vault where name=?"), {{{}, name}}})
            .value_or(vault::Bytes());
    }
    void putSetting(const QString& name, const vault::Bytes& value) override {
        c_.Execute({text(Text::PutSetting), {{{}, name}, {{}, blob(value)}}});
    }
    std::optional<vault::UserKeyRecord> userKey(const QString& user) override {
        const auto r = c_.rows(
            {QStringLiteral("select wrapped,escrow from JR_key where B_user=?"), {{{}, user}}});
        if (r.empty())
            return std::nullopt;
        return vault::UserKeyRecord{bytes(r[0][0]), bytes(r[0][1])};
    }
    void putUserKey(const QString& user, const vault::UserKeyRecord& k) override {
        c_.Execute(
            {text(Text::PutUserKey), {{{}, user}, {{}, blob(k.wrapped)}, {{}, blob(k.escrow)}}});
    }
    void putEscrow(const QString& user, const vault::Bytes& escrow) override {
        c_.Execute({text(Text::PutEscrow), {{{}, user}, {{}, blob(escrow)}}});
    }
    std::optional<vault::UserKeyRecord> pendingKey(const QString& user) override {
        // A file of an earlier version has no re-key under way.
        if (!hasTable(QStringLiteral("jr_rekey")))
            return std::nullopt;
        const auto r = c_.rows(
            {QStringLiteral("select wrapped,escrow from JR_rekey where B_user=?"), {{{}, user}}});
        if (r.empty())
            return std::nullopt;
        return vault::UserKeyRecord{bytes(r[0][0]), bytes(r[0][1])};
    }
    void putPendingKey(const QString& user, const vault::UserKeyRecord& k) override {
        if (!hasTable(QStringLiteral("jr_rekey")))
            createKeyTables();
        c_.Execute(
            {text(Text::PutPendingKey), {{{}, user}, {{}, blob(k.wrapped)}, {{}, blob(k.escrow)}}});
    }
    void removePendingKey(const QString& user) override {
        if (hasTable(QStringLiteral("jr_rekey")))
            c_.Execute({text(Text::RemovePendingKey), {{{}, user}}});
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
        c_.Execute({text(Text::PutAdminKey), {{{}, user}, {{}, blob(wrapped)}}});
    }
    void removeAdminKey(const QString& user) override {
        c_.Execute({text(Text::RemoveAdminKey), {{{}, user}}});
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
        c_.Execute({text(Text::PutPlainSignature),
                    {{{}, QVariant::fromValue<qint64>(id)}, {{}, blob(signature)}}});
    }

private:
    bool hasTable(const QString& lowerName) { return c_.hasTable(lowerName); }
    std::optional<vault::Bytes> first(const sql::Statement& s) {
        const auto r = c_.rows(s);
        if (r.empty())
            return std::nullopt;
        return bytes(r[0][0]);
    }
    Connection& c_;
};

std::unique_ptr<vault::KeyStore> makeKeyStore(Connection& c) {
    return std::make_unique<TableKeyStore>(c);
}

} // namespace ado
