#include "data/entries.h"

#include "vault/KeyRing.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"

#include <QDateTime>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <sodium.h>
#include <thread>

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
    const bool content = !s.contentLike.isEmpty();
    const QByteArray pattern = (content ? s.contentLike : s.titleLike).toUtf8();
    if (pattern.size() > db->likeLimit())
        throw Error(Failure::TooComplex, QStringLiteral("LIKE or GLOB pattern too complex"), 0,
                    conn.file());
    std::vector<std::int64_t> keys;
    if (content && !conn.sealed()) {
        // Plain texts: the engine's own LIKE finds them where they lie.
        const sql::Statement plain = sql::plainContentLike(s);
        Stmt st(db, plain.text);
        st.bindAll(plain.params);
        while (st.step())
            keys.push_back(st.value(0).toLongLong());
        return keys;
    }
    if (vault::Titles* t = opened(content)) {
        const QVariant writer = param(s, "B_writer");
        const vault::Bytes scope =
            writer.isNull() ? vault::Bytes() : vault::fold(writer.toString());
        const unsigned threads = std::thread::hardware_concurrency();
        if (!t->overCap) {
            try {
                refreshTitles(*t, s, scope);
                return t->match(vault::view(pattern), scope, threads);
            } catch (const vault::Titles::Full&) {
                t->dropScope(vault::Bytes());
                t->overCap = true;
            }
        }
        // Too much to keep: opened a batch at a time, matched, and wiped.
        const sql::Statement look = sql::titleScope(s);
        Stmt top(db, look.text);
        top.bindAll(look.params);
        top.step();
        vault::Titles batch;
        readTitles(batch, s, 0, top.cur->integer(1), [&] {
            const std::vector<std::int64_t> found =
                batch.match(vault::view(pattern), scope, threads);
            keys.insert(keys.end(), found.begin(), found.end());
            batch.clear();
        });
        return keys;
    }
    Stmt st(db, s.text);
    st.bindAll(s.params);
    // As the engine compared them: both through UTF-8, which holds no lone surrogate.
    const QString text = QString::fromUtf8(pattern);
    const QString column = content ? QStringLiteral("B_content") : QStringLiteral("B_title");
    while (st.step()) {
        const long long id = st.value(0).toLongLong();
        bool ok = true;
        const QVariant field = seal.open(
            st.value(1), {column, st.value(2).toString(), id, st.value(3).toString()}, ok);
        if (ok && !field.isNull() && like(text, field.toString()))
            keys.push_back(id);
    }
    return keys;
}

vault::Titles* EntryStatements::opened(bool content) {
    if (!conn.sealed() || !conn.keys)
        return nullptr;
    vault::Titles& t = content ? conn.keys->contents() : conn.keys->titles();
    // Texts of one store only: another file, or this one replaced, starts afresh.
    t.bindTo(conn.adminPublic() + vault::bytes(conn.file().toUtf8()) + '\0' +
             vault::bytes(db->identity()));
    return &t;
}

// One look at the scope's count and largest ID: rows above the largest known are opened,
// and a count that still differs (rows deleted by another) reads the scope again whole.
void EntryStatements::refreshTitles(vault::Titles& t, const sql::Statement& s,
                                    const vault::Bytes& scope) {
    // Asked first, so what another commits from here on shows at the next search.
    const std::optional<long long> version = db->dataVersion();
    const vault::Titles::Look seen = t.look(scope);
    // Nobody else wrote since this connection looked, and its own writes are kept already.
    if (version && seen.engine == db->serial && seen.version == *version)
        return;
    const sql::Statement look = sql::titleScope(s);
    Stmt st(db, look.text);
    st.bindAll(look.params);
    st.step();
    const long long count = st.cur->integer(0), top = st.cur->integer(1);
    if (top > seen.mark)
        readTitles(t, s, seen.mark, top);
    if (t.count(scope) != std::size_t(count)) {
        t.dropScope(scope);
        readTitles(t, s, 0, top);
    }
    t.setLook(scope, {top, db->serial, version.value_or(-1)});
}

namespace {

// What QString::fromUtf8 takes as it is: anything else is read the slow way, so a title
// matches exactly as the engine would match it.
bool plainUtf8(const unsigned char* p, std::size_t n) {
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        return false;
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        // Most of a Chinese text: three bytes whose lead takes any continuation.
        if (c >= 0xE1 && c <= 0xEF && c != 0xED && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 &&
            (p[i + 2] & 0xC0) == 0x80) {
            i += 3;
            continue;
        }
        const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (len == 0 || c > 0xF4 || i + len > n)
            return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        const unsigned char d = p[i + 1];
        if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) ||
            (c == 0xF4 && d >= 0x90))
            return false;
        i += len;
    }
    return true;
}

} // namespace

// Rows come one at a time from the engine, their sealed titles (or texts) copied into one
// buffer a batch at a time; a helper opens one batch straight into the store's guarded memory
// while the engine reads the next, the reader joining in once it has, and the last is opened
// on every core. Each batch kept goes
// to `kept` when given; without it, a store grown past its cap throws Full.
void EntryStatements::readTitles(vault::Titles& t, const sql::Statement& s, long long above,
                                 long long upTo, const std::function<void()>& kept) {
    const bool content = !s.contentLike.isEmpty();
    const char* column = content ? "B_content" : "B_title";
    // Texts run to a few KB each: a batch is bounded by its bytes too.
    constexpr std::size_t kBatch = 16384, kBatchBytes = std::size_t(4) << 20;
    struct Row {
        long long id;
        std::uint32_t writer;
        std::size_t sealed, sealedSize, time, timeSize;
    };
    struct Batch {
        std::vector<Row> rows;
        std::string buffer;
        std::vector<vault::FieldToOpen> fields;
        // Each opened field's length up to a NUL, as the engine reads it, and whether
        // QString takes it as it is.
        std::vector<std::size_t> lengths;
        std::vector<char> plain;
        // The next field no thread has taken yet.
        std::atomic<std::size_t> next{0};
        unsigned char* room = nullptr;
        // Read the slow way: kept until no helper writes into the store.
        std::vector<std::pair<long long, std::optional<QByteArray>>> slow;
        std::vector<std::uint32_t> slowWriters;
    };
    Batch batches[2];
    if (content)
        for (Batch& b : batches)
            b.buffer.reserve(kBatchBytes + 65536);
    std::thread helper;
    struct Join {
        std::thread& h;
        ~Join() {
            if (h.joinable())
                h.join();
        }
    } join{helper};
    std::vector<vault::Bytes> writers;
    std::vector<const vault::Secret*> writerKeys;
    std::map<std::string, std::uint32_t, std::less<>> byName;
    const auto writerOf = [&](std::string_view raw) {
        if (const auto it = byName.find(raw); it != byName.end())
            return it->second;
        const QString name = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
        writers.push_back(vault::fold(name));
        writerKeys.push_back(seal.keyFor(name));
        return byName.emplace(std::string(raw), std::uint32_t(writers.size() - 1)).first->second;
    };
    // Room in the store for the batch's titles, and where each one goes.
    const auto prepare = [&](Batch& b) {
        b.fields.resize(b.rows.size());
        std::size_t total = 0;
        for (std::size_t i = 0; i < b.rows.size(); ++i) {
            const Row& r = b.rows[i];
            const std::string_view sealed(b.buffer.data() + r.sealed, r.sealedSize);
            b.fields[i] = {sealed,
                           writerKeys[r.writer],
                           writers[r.writer],
                           r.id,
                           std::string_view(b.buffer.data() + r.time, r.timeSize),
                           nullptr,
                           false};
            total += *vault::plainSize(sealed);
        }
        b.room = t.room(total);
        b.lengths.assign(b.fields.size(), 0);
        b.plain.assign(b.fields.size(), 0);
        b.next = 0;
        std::size_t at = 0;
        for (vault::FieldToOpen& f : b.fields) {
            f.out = b.room + at;
            at += *vault::plainSize(f.sealed);
        }
    };
    // Fields opened and looked over a few at a time by whichever thread takes them: the
    // helper, and the reader once it has read the next batch.
    const auto open = [column](Batch& b) {
        constexpr std::size_t kChunk = 64;
        const std::size_t n = b.fields.size();
        for (std::size_t from; (from = b.next.fetch_add(kChunk)) < n;) {
            const std::size_t to = std::min(from + kChunk, n);
            vault::openFields(b.fields.data() + from, to - from, column, 1);
            for (std::size_t i = from; i < to; ++i) {
                const vault::FieldToOpen& f = b.fields[i];
                if (!f.ok)
                    continue;
                const std::size_t size = *vault::plainSize(f.sealed);
                const void* nul = std::memchr(f.out, 0, size);
                b.lengths[i] =
                    nul ? std::size_t(static_cast<const unsigned char*>(nul) - f.out) : size;
                b.plain[i] = plainUtf8(f.out, b.lengths[i]);
            }
        }
    };
    // Once opened: the entries into the store, which closes its memory again.
    const auto keep = [&](Batch& b) {
        std::vector<std::pair<std::size_t, QByteArray>> odd;
        for (std::size_t i = 0; i < b.rows.size(); ++i) {
            const vault::FieldToOpen& f = b.fields[i];
            const vault::Bytes& w = writers[b.rows[i].writer];
            const std::size_t length = b.lengths[i];
            if (!f.ok)
                t.addUnopened(f.id, w);
            else if (b.plain[i])
                t.add(f.id, w, std::size_t(f.out - b.room), length);
            else
                odd.emplace_back(
                    i, QString::fromUtf8(reinterpret_cast<const char*>(f.out), qsizetype(length))
                           .toUtf8());
        }
        t.close();
        for (auto& [i, title] : odd) {
            t.put(b.rows[i].id, writers[b.rows[i].writer], vault::view(title));
            sodium_memzero(title.data(), std::size_t(title.size()));
        }
        for (std::size_t i = 0; i < b.slow.size(); ++i) {
            auto& [id, title] = b.slow[i];
            t.put(id, writers[b.slowWriters[i]],
                  title ? std::optional(vault::view(*title)) : std::nullopt);
            if (title)
                sodium_memzero(title->data(), std::size_t(title->size()));
        }
        b.rows.clear();
        b.buffer.clear();
        b.fields.clear();
        b.slow.clear();
        b.slowWriters.clear();
        if (kept)
            kept();
        else if (t.memory() > t.cap)
            throw vault::Titles::Full();
    };
    Batch* reading = &batches[0];
    Batch* opening = nullptr;
    const auto finish = [&] {
        if (!opening)
            return;
        open(*opening);
        helper.join();
        keep(*opening);
        opening = nullptr;
    };
    const sql::Statement q = sql::titlesBetween(s, above, upTo);
    Stmt st(db, q.text);
    st.bindAll(q.params);
    while (st.step()) {
        const long long id = st.cur->integer(0);
        if (t.has(id))
            continue;
        bool blob = false, isBlob = false;
        const std::string_view title = st.cur->raw(1, &blob);
        const std::uint32_t w = writerOf(st.cur->raw(2, &isBlob));
        if (blob && title.data() && vault::plainSize(title) && writerKeys[w]) {
            const std::string_view time = st.cur->raw(3, &isBlob);
            Batch& b = *reading;
            b.rows.push_back({id, w, b.buffer.size(), title.size(), b.buffer.size() + title.size(),
                              time.size()});
            b.buffer.append(title).append(time);
            if (b.rows.size() == kBatch || b.buffer.size() >= kBatchBytes) {
                finish();
                prepare(b);
                opening = &b;
                helper = std::thread([&b, &open] { open(b); });
                reading = &batches[reading == &batches[0] ? 1 : 0];
            }
            continue;
        }
        // A plain, missing or foreign field: the way a record set opens it.
        bool ok = true;
        const QVariant opened = seal.open(
            st.value(1),
            {QLatin1String(column), st.value(2).toString(), id, st.value(3).toString()}, ok);
        reading->slow.emplace_back(
            id, ok && !opened.isNull() ? std::optional(opened.toString().toUtf8()) : std::nullopt);
        reading->slowWriters.push_back(w);
    }
    finish();
    prepare(*reading);
    // The last on every core; below a few hundred fields a thread costs more than it saves.
    std::vector<std::thread> more;
    if (reading->fields.size() >= 256)
        for (unsigned k = 1; k < std::thread::hardware_concurrency(); ++k)
            more.emplace_back([reading, &open] { open(*reading); });
    open(*reading);
    for (std::thread& h : more)
        h.join();
    keep(*reading);
}

void EntryStatements::keepTexts(long long id, const QString& writer, const sql::Statement& s) {
    for (const bool content : {false, true}) {
        vault::Titles* t = opened(content);
        // Texts are opened only once a text search asks for them.
        if (!t || (content && t->empty()))
            continue;
        const QVariant v = param(s, content ? "B_content" : "B_title");
        QByteArray text = v.isNull() ? QByteArray() : v.toString().toUtf8();
        t->put(id, vault::fold(writer),
               v.isNull() ? std::nullopt : std::optional(vault::view(text)));
        sodium_memzero(text.data(), std::size_t(text.size()));
    }
}

void EntryStatements::forgetTexts(long long id) {
    for (const bool content : {false, true})
        if (vault::Titles* t = opened(content))
            t->forget(id);
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

// The ID and time are known before anything is sealed, so the row goes in whole in one
// statement: no reader ever sees it without its texts.
long long EntryStatements::insert(const sql::Statement& s) {
    const QString writer = param(s, "B_writer").toString();
    seal.keyToSeal(writer);
    if (db->writesThroughFunctions())
        return insertByFunction(s, writer);
    const QString nextId = db->text(Text::NextEntryId);
    if (nextId.isEmpty())
        return insertThenSeal(s, writer);
    Work work(db);
    // A row filled by the tools names its ID and time; a save takes the next ID and the time
    // now, as the table's defaults would.
    QVariant id = param(s, "ID"), time = param(s, "B_time");
    if (id.isNull()) {
        Stmt next(db, nextId);
        next.step();
        id = QVariant::fromValue<qint64>(next.value(0).toLongLong());
    }
    if (time.isNull())
        time = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-M-d H:mm:ss"));
    const vault::FieldPlace place{QString(), writer, id.toLongLong(), time.toString()};
    QList<sql::Value> params = {{QStringLiteral("ID"), id}, {QStringLiteral("B_time"), time}};
    for (const sql::Value& v : s.params) {
        if (v.column.compare(QLatin1String("ID"), Qt::CaseInsensitive) == 0 ||
            v.column.compare(QLatin1String("B_time"), Qt::CaseInsensitive) == 0)
            continue;
        params.append(
            {v.column, isSealedColumn(v.column)
                           ? seal.seal(v.value, vault::EntryWork::placeOf(place, v.column))
                           : v.value});
    }
    QStringList columns;
    for (const sql::Value& v : params)
        columns << v.column;
    Stmt st(db, QStringLiteral("insert into JR_content(%1) values(?%2)")
                    .arg(columns.join(QLatin1Char(',')),
                         QStringLiteral(",?").repeated(columns.size() - 1)));
    st.bindAll(params);
    st.step();
    const long long changed = db->changes();
    work.commit();
    keepTexts(id.toLongLong(), writer, s);
    return changed;
}

// Where the engine tells the ID only at the insert: the row first, its texts sealed to that ID
// within the same transaction.
long long EntryStatements::insertThenSeal(const sql::Statement& s, const QString& writer) {
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
    keepTexts(id, writer, s);
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
        keepTexts(id, writer, s);
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
            changed =
                callCount(Text::UpdateEntry, {{QStringLiteral("ID"), id},
                                              {QStringLiteral("B_writer"), writer},
                                              {QStringLiteral("B_time"), place.time},
                                              {QStringLiteral("B_title"), at("B_title")},
                                              {QStringLiteral("B_weather"), at("B_weather")},
                                              {QStringLiteral("B_content"), at("B_content")}});
        } else {
            Stmt st(db, s.text);
            st.bindAll(params);
            while (st.step()) {
            }
            changed = db->changes();
        }
    }
    if (work)
        work->commit();
    if (changed)
        keepTexts(id, writer, s);
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
    long long changed = 0;
    if (db->writesThroughFunctions()) {
        changed = callCount(Text::DeleteEntry, {{QStringLiteral("ID"), param(s, "ID")}});
    } else {
        Stmt st(db, s.text);
        st.bindAll(s.params);
        while (st.step()) {
        }
        changed = db->changes();
        work->commit();
    }
    if (changed)
        forgetTexts(param(s, "ID").toLongLong());
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
    std::vector<std::pair<QString, vault::UserKeyRecord>> pendingKeys() override {
        std::vector<std::pair<QString, vault::UserKeyRecord>> out;
        if (!hasTable(QStringLiteral("jr_rekey")))
            return out;
        for (const auto& r :
             c_.rows({QStringLiteral("select B_user,wrapped,escrow from JR_rekey"), {}}))
            out.emplace_back(r[0].toString(), vault::UserKeyRecord{bytes(r[1]), bytes(r[2])});
        return out;
    }
    void removePendingKey(const QString& user) override {
        if (hasTable(QStringLiteral("jr_rekey")))
            c_.Execute({text(Text::RemovePendingKey), {{{}, user}}});
    }
    std::optional<vault::StoredDraft> draft(const QString& user, vault::DraftKind kind) override {
        if (!hasTable(QStringLiteral("jr_draft")))
            return std::nullopt;
        const auto r = c_.rows({QStringLiteral("select entry,made,sealed from JR_draft "
                                               "where B_user=? and kind=?"),
                                {{{}, user}, {{}, int(kind)}}});
        if (r.empty())
            return std::nullopt;
        return vault::StoredDraft{r[0][0].toLongLong(), r[0][1].toString(), bytes(r[0][2])};
    }
    void putDraft(const QString& user, vault::DraftKind kind,
                  const vault::StoredDraft& d) override {
        if (!hasTable(QStringLiteral("jr_draft")))
            createKeyTables();
        c_.Execute({text(Text::PutDraft),
                    {{{}, user},
                     {{}, int(kind)},
                     {{}, QVariant::fromValue<qint64>(d.entry)},
                     {{}, d.made},
                     {{}, blob(d.sealed)}}});
    }
    void removeDraft(const QString& user, vault::DraftKind kind) override {
        if (hasTable(QStringLiteral("jr_draft")))
            c_.Execute({text(Text::RemoveDraft), {{{}, user}, {{}, int(kind)}}});
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
