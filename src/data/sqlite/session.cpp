#include "data/sqlite/internal.h"
#include "data/sqlite/sqlite.h"

#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>

namespace ado::sqlite {
namespace {

class Session;

class Statement : public Cursor {
public:
    Statement(Session& s, sqlite3* db, const QString& text);
    ~Statement() override;

    void bind(int i, const QVariant& v) override;
    bool step() override;
    int columns() const override { return sqlite3_column_count(s_); }
    QString name(int i) const override { return QString::fromUtf8(sqlite3_column_name(s_, i)); }
    QVariant value(int i) const override;
    long long integer(int i) const override { return sqlite3_column_int64(s_, i); }
    std::string_view raw(int i, bool* blob) const override {
        *blob = sqlite3_column_type(s_, i) == SQLITE_BLOB;
        const void* p = *blob ? sqlite3_column_blob(s_, i) : sqlite3_column_text(s_, i);
        return p ? std::string_view(static_cast<const char*>(p),
                                    std::size_t(sqlite3_column_bytes(s_, i)))
                 : std::string_view();
    }

private:
    Session& session_;
    QByteArray text_;
    sqlite3_stmt* s_ = nullptr;
};

class Session : public Engine {
public:
    Session(sqlite3* db, const QString& path)
        : db_(db), path_(path), name_(QFile::encodeName(path)) {}
    ~Session() override {
        for (const auto& [text, s] : cache_)
            sqlite3_finalize(s);
        sqlite3_close_v2(db_);
    }

    std::unique_ptr<Cursor> prepare(const QString& text) override {
        return std::make_unique<Statement>(*this, db_, text);
    }
    // Statements are kept once prepared: a save runs the same few texts every time.
    sqlite3_stmt* cached(const QByteArray& text) {
        const auto it = cache_.find(text);
        if (it == cache_.end())
            return nullptr;
        sqlite3_stmt* s = it->second;
        cache_.erase(it); // in use: the same text prepared again meanwhile gets its own
        return s;
    }
    void keep(const QByteArray& text, sqlite3_stmt* s) {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s); // nothing bound stays in memory until the next use
        if (cache_.size() >= kCached || !cache_.emplace(text, s).second)
            sqlite3_finalize(s);
    }
    long long changes() const override { return sqlite3_changes64(db_); }
    long long lastInsertId() override { return sqlite3_last_insert_rowid(db_); }

    void begin() override { run("begin immediate"); }
    void commit() override { run("commit"); }
    void rollback() override { run("rollback"); }
    void savepoint(const char* name) override { run(QByteArray("savepoint ") + name); }
    void release(const char* name) override { run(QByteArray("release ") + name); }
    void rollbackTo(const char* name) override { run(QByteArray("rollback to ") + name); }
    bool inTransaction() const override { return sqlite3_get_autocommit(db_) == 0; }

    int likeLimit() const override {
        return sqlite3_limit(db_, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1);
    }
    QString text(Text which) const override;
    bool writesThroughFunctions() const override { return false; }
    void createKeyTables() override {
        const int rc = sqlite3_exec(db_, kKeyTablesSql, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            fail(rc);
    }
    SchemaReport inspectSchema() override { return inspect(*this); }
    // Best effort: a read-only file still serves searches.
    // A file with keys gets the key tables this version added.
    void startUse() override {
        sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if (count("select count(*) from sqlite_master where type='table' and "
                  "lower(name)='jr_vault' and (select count(*) from sqlite_master where "
                  "type='table' and lower(name) in ('jr_rekey','jr_draft'))<2") == 1)
            sqlite3_exec(db_, kKeyTablesSql, nullptr, nullptr, nullptr);
    }
    bool mustReopen() override { return stale_; }
    std::optional<long long> dataVersion() override {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &st, nullptr) != SQLITE_OK)
            return std::nullopt;
        const bool row = sqlite3_step(st) == SQLITE_ROW;
        const long long v = row ? sqlite3_column_int64(st, 0) : 0;
        sqlite3_finalize(st);
        return row ? std::optional(v) : std::nullopt;
    }
    QByteArray identity() const override;
    void settle() override {
        sqlite3_exec(db_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    }

    // The settings every handle of ours runs with, given when it is opened.
    void configure(int busyMs);
    [[noreturn]] void fail(int rc);
    [[noreturn]] void refuse(int rc, const QString& why) const { throw failure(rc, why, path_); }

private:
    int count(const char* sql) {
        sqlite3_stmt* st = nullptr;
        int n = -1;
        if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
        return n;
    }
    void run(const QByteArray& sql) {
        const int rc = sqlite3_exec(db_, sql.constData(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            fail(rc);
    }
    static constexpr std::size_t kCached = 32;
    sqlite3* db_;
    QString path_;
    QByteArray name_;
    bool stale_ = false;
    std::map<QByteArray, sqlite3_stmt*> cache_;
};

Statement::Statement(Session& s, sqlite3* db, const QString& text)
    : session_(s), text_(text.toUtf8()) {
    const QByteArray& utf8 = text_;
    if ((s_ = session_.cached(utf8)))
        return;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &s_, &tail);
    if (rc != SQLITE_OK)
        session_.fail(rc);
    // One statement per call.
    if (tail && QByteArray(tail).trimmed().size() > 0 && QByteArray(tail).trimmed() != ";") {
        sqlite3_finalize(s_);
        s_ = nullptr;
        session_.refuse(SQLITE_ERROR, QStringLiteral("more than one statement"));
    }
}

Statement::~Statement() {
    if (s_)
        session_.keep(text_, s_);
}

void Statement::bind(int i, const QVariant& v) {
    int rc = SQLITE_OK;
    switch (v.typeId()) {
    case QMetaType::UnknownType:
        rc = sqlite3_bind_null(s_, i);
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Bool:
        rc = sqlite3_bind_int64(s_, i, v.toLongLong());
        break;
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        rc = sqlite3_bind_blob(s_, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        break;
    }
    default: {
        const QByteArray t = v.toString().toUtf8();
        rc = sqlite3_bind_text(s_, i, t.constData(), int(t.size()), SQLITE_TRANSIENT);
    }
    }
    if (rc != SQLITE_OK)
        session_.fail(rc);
}

bool Statement::step() {
    const int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        session_.fail(rc);
    // Ready to be bound and run again; what it bound stays until then.
    sqlite3_reset(s_);
    return false;
}

QVariant Statement::value(int i) const {
    switch (sqlite3_column_type(s_, i)) {
    case SQLITE_INTEGER:
        return QVariant::fromValue<qint64>(sqlite3_column_int64(s_, i));
    case SQLITE_FLOAT:
        return sqlite3_column_double(s_, i);
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(s_, i)),
                          sqlite3_column_bytes(s_, i));
    default: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, i));
        return QString::fromUtf8(p, sqlite3_column_bytes(s_, i));
    }
    }
}

QByteArray Session::identity() const {
    struct stat st {};
    if (::stat(name_.constData(), &st) != 0)
        return QByteArray("gone");
    const std::uint64_t id[2] = {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
    return QByteArray(reinterpret_cast<const char*>(id), sizeof id);
}

QString Session::text(Text which) const {
    switch (which) {
    case Text::HasTable:
        return QStringLiteral("select 1 from sqlite_master where type='table' and lower(name)=?");
    case Text::PutSetting:
        return QStringLiteral("insert or replace into JR_vault(name,value) values(?,?)");
    case Text::PutUserKey:
        return QStringLiteral("insert or replace into JR_key(B_user,wrapped,escrow) values(?,?,?)");
    case Text::PutEscrow:
        return QStringLiteral("update JR_key set escrow=?2 where B_user=?1");
    case Text::PutAdminKey:
        return QStringLiteral("insert or replace into JR_admin(B_user,wrapped) values(?,?)");
    case Text::RemoveAdminKey:
        return QStringLiteral("delete from JR_admin where B_user=?");
    case Text::PutPlainSignature:
        return QStringLiteral("insert or replace into JR_plain(ID,signature) values(?,?)");
    case Text::PutPendingKey:
        return QStringLiteral(
            "insert or replace into JR_rekey(B_user,wrapped,escrow) values(?,?,?)");
    case Text::RemovePendingKey:
        return QStringLiteral("delete from JR_rekey where B_user=?");
    case Text::PutDraft:
        return QStringLiteral(
            "insert or replace into JR_draft(B_user,kind,entry,made,sealed) values(?,?,?,?,?)");
    case Text::RemoveDraft:
        return QStringLiteral("delete from JR_draft where B_user=? and kind=?");
    case Text::MarkCurrent:
        return QStringLiteral("PRAGMA user_version = 2");
    case Text::NextEntryId:
        // As AUTOINCREMENT picks it: never an ID a deleted entry had.
        return QStringLiteral(
            "select max(coalesce((select seq from sqlite_sequence where name='JR_content'),0),"
            "coalesce((select max(ID) from JR_content),0))+1");
    default:
        return QString(); // the file's writers write its tables
    }
}

void Session::fail(int rc) {
    QString msg = QString::fromUtf8(sqlite3_errmsg(db_));
    rc = sqlite3_extended_errcode(db_) ? sqlite3_extended_errcode(db_) : rc;
    if (msg.isEmpty())
        msg = QString::fromUtf8(sqlite3_errstr(rc));
    switch (rc & 0xff) {
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        stale_ = true; // a fresh open sees the file as it is now
        break;
    default:
        break;
    }
    throw failure(rc, msg, path_);
}

void Session::configure(int busyMs) {
    // Nothing the file holds runs as ours: no trigger or view fires, no schema object may
    // call a function, and the schema itself cannot be written around the engine.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyMs);
    sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    // Deleted and replaced text is overwritten, not left in free space of the file.
    sqlite3_exec(db_, "PRAGMA secure_delete=ON", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
    // Temporary pages (statement journals) stay in memory, never in a file.
    sqlite3_exec(db_, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
    // The log files stay when the last connection closes: made once, by whoever owns the
    // database, they are never made again by a neighbour.
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
}

} // namespace

std::unique_ptr<Engine> open(const QString& path, int busyMs) {
    if (!QFileInfo::exists(path))
        throw failure(SQLITE_CANTOPEN, QStringLiteral("file not found"), path);
    const QByteArray name = QFile::encodeName(path);
    refuseShared(name, path);
    matchLogPermissions(name, path);
    if (cutShort(name))
        throw failure(SQLITE_CORRUPT,
                      QStringLiteral("database disk image is malformed (the file is cut short)"),
                      path);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
        sqlite3_close_v2(db);
        throw failure(rc, msg.isEmpty() ? QString::fromUtf8(sqlite3_errstr(rc)) : msg, path);
    }
    auto session = std::make_unique<Session>(db, path);
    session->configure(busyMs);
    return session;
}

} // namespace ado::sqlite
