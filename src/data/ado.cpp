#include "data/ado.h"

#include "data/Entries.h"
#include "data/Postgres.h"
#include "data/schema.h"
#include "vault/KeyRing.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"
#include "vault/Pinned.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ado {

static int busyTimeoutMs = 5000;

void setBusyTimeout(int ms) {
    busyTimeoutMs = ms;
}

int busyTimeout() {
    return busyTimeoutMs;
}

// An SQLite result code as the kind of failure it is.
Error sqliteError(int rc, const QString& message, const QString& file) {
    // The engine keeps its log files beside the database and cannot work without them.
    const QFileInfo info(file);
    const bool folderShut =
        !file.isEmpty() && info.exists() && !QFileInfo(info.absolutePath()).isWritable();
    Failure kind = Failure::Other;
    switch (rc & 0xff) {
    case SQLITE_CANTOPEN:
        kind = folderShut ? Failure::FolderShut : Failure::CannotOpen;
        break;
    case SQLITE_NOTADB:
        kind = Failure::NotADatabase;
        break;
    case SQLITE_CORRUPT:
        kind = Failure::Corrupt;
        break;
    case SQLITE_READONLY:
        kind = folderShut && info.isWritable() ? Failure::FolderShut : Failure::ReadOnly;
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        kind = Failure::Busy;
        break;
    case SQLITE_FULL:
        kind = Failure::Full;
        break;
    case SQLITE_IOERR:
        kind = Failure::Io;
        break;
    case SQLITE_CONSTRAINT:
        kind = rc == SQLITE_CONSTRAINT_UNIQUE ? Failure::Duplicate : Failure::Constraint;
        break;
    case SQLITE_MISUSE:
        kind = Failure::Misuse;
        break;
    default:
        if (message.contains(QStringLiteral("no such table")))
            kind = Failure::NoSuchTable;
        else if (message.contains(QStringLiteral("pattern too complex")))
            kind = Failure::TooComplex; // the engine's LIKE limit
    }
    return Error(kind, message, rc, file);
}

// ---- statements on an SQLite handle ----

namespace {

class SqliteCursor : public Cursor {
public:
    SqliteCursor(Connection& c, sqlite3* db, const QString& text) : conn_(c) {
        const QByteArray utf8 = text.toUtf8();
        const char* tail = nullptr;
        const int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &s_, &tail);
        if (rc != SQLITE_OK)
            conn_.fail(rc, QString());
        // One statement per call.
        if (tail && QByteArray(tail).trimmed().size() > 0 && QByteArray(tail).trimmed() != ";")
            throw sqliteError(SQLITE_ERROR, QStringLiteral("more than one statement"),
                              conn_.file());
    }
    ~SqliteCursor() override { sqlite3_finalize(s_); }

    void bind(int i, const QVariant& v) override {
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
            conn_.fail(rc, QString());
    }
    bool step() override {
        const int rc = sqlite3_step(s_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            conn_.fail(rc, QString());
        return false;
    }
    int columns() const override { return sqlite3_column_count(s_); }
    QString name(int i) const override { return QString::fromUtf8(sqlite3_column_name(s_, i)); }
    QVariant value(int i) const override {
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

private:
    Connection& conn_;
    sqlite3_stmt* s_ = nullptr;
};

class SqliteHandle : public Handle {
public:
    SqliteHandle(Connection& c, sqlite3* db) : conn_(c), db_(db) {}
    std::unique_ptr<Cursor> prepare(const QString& text) override {
        return std::make_unique<SqliteCursor>(conn_, db_, text);
    }
    long long changes() const override { return sqlite3_changes64(db_); }
    long long lastInsertId() const override { return sqlite3_last_insert_rowid(db_); }
    bool inTransaction() const override { return sqlite3_get_autocommit(db_) == 0; }
    int likeLimit() const override {
        return sqlite3_limit(db_, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1);
    }

private:
    Connection& conn_;
    sqlite3* db_;
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

namespace {

QString dataSource(const QString& connectionString) {
    for (const QString& part : connectionString.split(QLatin1Char(';'))) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        if (part.left(eq).trimmed().compare(QStringLiteral("data source"), Qt::CaseInsensitive) ==
            0) {
            QString path = part.mid(eq + 1);
            // The stored form joins the folder and "\data\data.mdb" with backslashes.
            path.replace(QLatin1Char('\\'), QLatin1Char('/'));
            return path;
        }
    }
    return QString();
}

// The engine gives its log files the mode of the database when it makes them. Made while
// the database was read-only, they would refuse every write long after the database is
// writable again; ours are given its mode back, never a wider one. A planted link would
// make the engine, or the fix, write or open up whatever it points at, so none is followed
// and the database is not opened beside one.
void matchLogPermissions(const QByteArray& database, const QString& path) {
    const auto planted = [&](const QByteArray& log) {
        return Error(QStringLiteral("数据库旁有可疑的链接文件……（%1）").arg(QFile::decodeName(log)),
                     kSuspiciousLink, path);
    };
    for (const char* suffix : {"-wal", "-shm"}) {
        const QByteArray log = database + suffix;
        struct stat st {};
        if (::lstat(log.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            throw planted(log);
    }
    struct stat db {};
    if (::stat(database.constData(), &db) != 0 || ::access(database.constData(), W_OK) != 0)
        return;
    for (const char* suffix : {"-wal", "-shm"}) {
        const QByteArray log = database + suffix;
        const int fd = ::open(log.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ELOOP)
                throw planted(log);
            continue;
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & 0666) != (db.st_mode & 0666))
            ::fchmod(fd, db.st_mode & 0666);
        ::close(fd);
    }
}

// A file diary is one person's: whoever else can write the file, or rename it in its folder,
// could put in it what the program then shows as another's entries. Root aside, the file
// and its folder have one owner, the one opening it (or anyone, for root), and nobody else
// may write either.
void refuseShared(const QByteArray& database, const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QByteArray folderName = QFile::encodeName(QFileInfo(canonical).absolutePath());
    struct stat file {
    }, folder{};
    if (canonical.isEmpty() || ::stat(database.constData(), &file) != 0 ||
        ::stat(folderName.constData(), &folder) != 0)
        return; // the open itself reports what is missing
    QString why;
    const uid_t me = ::geteuid();
    const auto other = [&](uid_t owner) { return owner != 0 && owner != me; };
    if (file.st_mode & 022)
        why = QStringLiteral("其他账户可以写入这个文件");
    else if (folder.st_mode & 022)
        why = QStringLiteral("其他账户可以写入它所在的文件夹");
    else if (me != 0 ? other(file.st_uid) || other(folder.st_uid)
                     : file.st_uid != 0 && folder.st_uid != 0 && file.st_uid != folder.st_uid)
        why = QStringLiteral("它或它所在的文件夹属于另一个账户");
    if (!why.isEmpty())
        throw Error(QStringLiteral("拒绝打开数据库 %1：%2。日记文件只属于一个人；几个账户共用的日记"
                                   "请安装 dayvault-server，把日记放在数据库服务器上")
                        .arg(path, why),
                    kSharedFile, path);
}

// True when the header names more pages than the file holds: a file cut short, which the
// engine would otherwise go on writing into.
bool cutShortNow(const QByteArray& database) {
    const int fd = ::open(database.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char h[100];
    struct stat st {};
    const bool read = ::read(fd, h, sizeof h) == ssize_t(sizeof h) && ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!read || std::memcmp(h, "SQLite format 3", 16) != 0)
        return false;
    const auto be32 = [&](int at) {
        return (std::uint32_t(h[at]) << 24) | (std::uint32_t(h[at + 1]) << 16) |
               (std::uint32_t(h[at + 2]) << 8) | std::uint32_t(h[at + 3]);
    };
    const std::uint32_t pageSize =
        (h[16] << 8 | h[17]) == 1 ? 65536u : std::uint32_t(h[16] << 8 | h[17]);
    // The stored page count holds only when written by the version that wrote the file.
    if (be32(24) != be32(92))
        return false;
    return std::uint64_t(be32(28)) * pageSize > std::uint64_t(st.st_size);
}

// Another copy's checkpoint writes the header before the pages that follow it: a file that
// grows into its header's size within a moment was not cut.
bool cutShort(const QByteArray& database) {
    for (int i = 0; i < 40; ++i) {
        if (!cutShortNow(database))
            return false;
        ::usleep(50 * 1000);
    }
    return true;
}

} // namespace

// ---- Connection ----

Connection::~Connection() {
    Close();
}

void Connection::fail(int rc, const QString& what) const {
    QString msg = what;
    if (db_) {
        const QString engine = QString::fromUtf8(sqlite3_errmsg(db_));
        if (!engine.isEmpty() && !msg.contains(engine))
            msg = msg.isEmpty() ? engine : msg + QStringLiteral(": ") + engine;
        rc = sqlite3_extended_errcode(db_) ? sqlite3_extended_errcode(db_) : rc;
    }
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
    throw sqliteError(rc, msg, path_);
}

void Connection::Open() {
    if (opened_)
        throw sqliteError(SQLITE_MISUSE, QStringLiteral("connection is already open"), path_);
    server_ = ConnectionString.startsWith(QStringLiteral("provider=postgresql;"));
    if (server_) {
        openServer();
        opened_ = true;
        return;
    }
    path_ = dataSource(ConnectionString);
    if (path_.isEmpty())
        throw sqliteError(SQLITE_CANTOPEN,
                          QStringLiteral("no data source in the connection string"), path_);
    openHandle();
    opened_ = true;
}

void Connection::openHandle() {
    if (!QFileInfo::exists(path_))
        throw sqliteError(SQLITE_CANTOPEN, QStringLiteral("file not found"), path_);
    sqlite3* db = nullptr;
    const QByteArray name = QFile::encodeName(path_);
    refuseShared(name, path_);
    matchLogPermissions(name, path_);
    if (cutShort(name))
        throw sqliteError(
            SQLITE_CORRUPT,
            QStringLiteral("database disk image is malformed (the file is cut short)"), path_);
    const int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    db_ = db;
    if (rc != SQLITE_OK) {
        QString msg = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
        dropHandle();
        throw sqliteError(rc, msg.isEmpty() ? QString::fromUtf8(sqlite3_errstr(rc)) : msg, path_);
    }
    // Nothing the file holds runs as ours: no trigger or view fires, no schema object may
    // call a function, and the schema itself cannot be written around the engine.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    struct stat info {};
    if (::stat(name.constData(), &info) == 0) {
        if (ino_ != 0 && (info.st_dev != dev_ || info.st_ino != ino_))
            ++generation_;
        dev_ = info.st_dev;
        ino_ = info.st_ino;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    handle_ = std::make_unique<SqliteHandle>(*this, db_);
    try {
        checkFile(nullptr);
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
    } catch (...) {
        dropHandle();
        throw;
    }
    stale_ = false;
}

// Refuses (or, for a report, lists) what the file holds that the program did not make, and
// a key the pinned one does not vouch for.
void Connection::checkFile(QStringList* problems) {
    const auto problem = [&](const QString& text, int code) {
        if (problems)
            problems->append(text);
        else
            throw Error(text, code, path_);
    };
    sealed_ = false;
    adminPublic_.clear();
    signingPublic_.clear();
    pin_ = pinNow();
    store_ = makeKeyStore(*this);
    const SchemaReport schema =
        server_ ? inspectServerSchema(*this, handle_.get()) : inspectSchema(*this, handle_.get());
    if (schema.tables == 0)
        return; // later statements report what is missing; nothing is written
    if (problems)
        for (const QString& object : schema.unknown)
            problems->append(QStringLiteral("数据库中有不明的对象：%1").arg(object));
    else if (refuseUnknownObjects && !schema.unknown.isEmpty())
        problem(QStringLiteral("数据库中有不明的对象：%1，已拒绝打开")
                    .arg(schema.unknown.join(QStringLiteral("、"))),
                kUnknownObject);
    if (schema.outdated && requirePinnedKey)
        problem(QStringLiteral("数据库服务器上的日记是旧版本：请管理员运行 dayvault-admin upgrade"),
                kServerError);
    // Best effort: a read-only file still serves searches.
    if (db_)
        sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    std::optional<vault::Bytes> pinned;
    try {
        pinned = vault::readPinned(vault::adminPubPath(path_), vault::kPublicBytes);
    } catch (const Error& e) {
        problem(e.message(), e.code());
    }
    vault::Bytes stored;
    if (schema.vaultTable) {
        Stmt st(*this, handle_.get(),
                QStringLiteral("select value from JR_vault where name='public'"));
        if (st.step())
            stored = st.value(0).toByteArray().toStdString();
    }
    const bool matches = pinned && stored == *pinned;
    sealed_ = pinned || schema.keyTables;
    adminPublic_ = matches ? *pinned : vault::Bytes();
    if (matches)
        signingPublic_ = vault::readPinned(vault::upgradePubPath(path_), vault::kSignPublicBytes)
                             .value_or(vault::Bytes());
    if (!requirePinnedKey && !problems)
        return;
    if (pinned && !matches)
        problem(QStringLiteral("数据库中的管理员公钥与本机保存的（%1）不符，已拒绝打开")
                    .arg(vault::adminPubPath(path_)),
                kKeyMismatch);
    else if (!pinned && schema.keyTables)
        // A client of a server gets its copy from the server; a file is pinned by the upgrade.
        problem((server_ ? QStringLiteral("缺少管理员公钥文件 %1，已拒绝连接：请从服务器复制 "
                                          "admin.pub 到这里")
                         : QStringLiteral("缺少管理员公钥文件 %1，已拒绝打开：请运行 "
                                          "dayvault-admin upgrade"))
                    .arg(vault::adminPubPath(path_)),
                kKeyMismatch);
}

bool Connection::vouchFor(const vault::Bytes& adminPublic) {
    Stmt st(*this, usable(), QStringLiteral("select value from JR_vault where name='public'"));
    if (adminPublic.empty() || !st.step() || st.value(0).toByteArray().toStdString() != adminPublic)
        return false;
    adminPublic_ = adminPublic;
    return true;
}

QStringList Connection::problems() {
    QStringList out;
    usable();
    checkFile(&out);
    return out;
}

vault::KeyStore& Connection::keyStore() {
    usable();
    return *store_;
}

void Connection::dropHandle() {
    handle_.reset();
    pg_ = nullptr;
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

std::tuple<unsigned long long, unsigned long long, long long> Connection::pinNow() const {
    struct stat st {};
    if (::stat(QFile::encodeName(vault::adminPubPath(path_)).constData(), &st) != 0)
        return {};
    return {st.st_dev, st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

bool Connection::sameFile() const {
    struct stat st {};
    return ::stat(QFile::encodeName(path_).constData(), &st) == 0 && st.st_dev == dev_ &&
           st.st_ino == ino_;
}

Handle* Connection::usable() {
    if (!opened_)
        throw sqliteError(SQLITE_MISUSE, QStringLiteral("connection is closed"), path_);
    // Never inside a transaction: the work in it would be lost with the handle.
    if (handle_ && !handle_->inTransaction() && pin_ != pinNow())
        stale_ = true;
    if (server_) {
        // A broken connection is made again by the next action: a restarted server, say.
        if (!pg_ || stale_ || pg_->lost()) {
            dropHandle();
            // The login window's connection starts from the guest again: the user it logged
            // in last may have another password by now, or no account.
            loginName_.clear();
            loginPassword_ = vault::Secret();
            openServer();
        }
        return handle_.get();
    }
    // Without this an edit would go to a file that is no longer the diary.
    if (db_ && !stale_ && sameFile())
        return handle_.get();
    if (db_ && !sameFile()) {
        // Gone or replaced: once the handle lets go of the file, a new file at the path may
        // be given its inode number, and would then pass for the file the results came from.
        ++generation_;
        ino_ = 0;
    }
    dropHandle();
    openHandle();
    return handle_.get();
}

void Connection::Close() {
    // Closing a connection closes the record sets still open on it.
    while (!sets_.empty())
        sets_.back()->Close();
    dropHandle();
    opened_ = false;
    stale_ = false;
    loginName_.clear();
    loginPassword_ = vault::Secret();
}

bool Connection::serverUser() const {
    return server_ && (!loginName_.isEmpty() || (keys && !keys->serverName().isEmpty()));
}

void Connection::logOut() {
    if (loginName_.isEmpty())
        return;
    loginName_.clear();
    loginPassword_ = vault::Secret();
    dropHandle();
}

long long Connection::storeSealed(const vault::EntryRow& row, const std::vector<QVariant>& values) {
    return EntryWork(*this, usable()).storeSealed(row, values);
}

std::vector<vault::EntryRow> Connection::entryRows(const QString& writer) {
    return rows(writer.isNull() ? sql::allEntryRows() : sql::entryRowsOf(writer));
}

std::optional<vault::EntryRow> Connection::entryRow(long long id) {
    auto found = rows(sql::entryRow(id));
    if (found.empty())
        return std::nullopt;
    return std::move(found[0]);
}

void Connection::inTransaction(const std::function<void()>& work) {
    Execute(QStringLiteral("begin immediate"));
    try {
        work();
        Execute(QStringLiteral("commit"));
    } catch (...) {
        try {
            Execute(QStringLiteral("rollback"));
        } catch (const Error&) {
        }
        throw;
    }
}

void Connection::settle() {
    try {
        Execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    } catch (const Error&) {
    }
}

long long Connection::Execute(const sql::Statement& statement) {
    Handle* db = usable();
    if (statement.entry != sql::Statement::Entry::None)
        return EntryWork(*this, db).execute(statement);
    Stmt st(*this, db, statement.text);
    st.bindAll(statement.params);
    while (st.step()) {
    }
    return db->changes();
}

std::vector<std::vector<QVariant>> Connection::rows(const sql::Statement& statement) {
    Stmt st(*this, usable(), statement.text);
    st.bindAll(statement.params);
    std::vector<std::vector<QVariant>> out;
    while (st.step())
        out.push_back(st.row());
    return out;
}

// ---- Recordset ----

Recordset::~Recordset() {
    Close();
}

void Recordset::Close() {
    if (conn_)
        std::erase(conn_->sets_, this);
    conn_ = nullptr;
    keys_.clear();
    keys_.shrink_to_fit();
    rows_.clear();
    names_.clear();
    values_.clear();
    pos_ = 0;
    keyed_ = false;
    opened_ = true;
}

void Recordset::Open(const sql::Statement& statement, Connection& connection) {
    if (conn_)
        throw sqliteError(SQLITE_MISUSE, QStringLiteral("record set is already open"),
                          connection.file());
    Handle* db = connection.usable();
    std::vector<std::int64_t> keys;
    std::vector<std::vector<QVariant>> rows;
    QStringList names;
    keyed_ = !statement.keysOf.isEmpty();
    if (!statement.titleLike.isEmpty()) {
        keys = EntryWork(connection, db).titleKeys(statement);
    } else {
        Stmt st(connection, db, statement.text);
        st.bindAll(statement.params);
        if (!keyed_)
            for (int i = 0; i < st.columns(); ++i)
                names << st.name(i);
        while (st.step()) {
            if (keyed_) {
                keys.push_back(st.value(0).toLongLong());
            } else {
                keys.push_back(std::int64_t(rows.size()));
                rows.push_back(st.row());
            }
        }
    }
    keys_ = std::move(keys);
    keys_.shrink_to_fit();
    rows_ = std::move(rows);
    names_ = names;
    table_ = statement.keysOf;
    conn_ = &connection;
    generation_ = connection.generation_;
    connection.sets_.push_back(this);
    moveTo(keys_.empty() ? 0 : 1);
}

bool Recordset::bof() const {
    return !conn_ || keys_.empty() || pos_ <= 0;
}
bool Recordset::eof() const {
    return !conn_ || keys_.empty() || pos_ > std::int64_t(keys_.size());
}
int Recordset::RecordCount() const {
    return conn_ ? int(keys_.size()) : -1;
}
int Recordset::AbsolutePosition() const {
    if (bof())
        return adPosBOF;
    if (eof())
        return adPosEOF;
    return int(pos_);
}

void Recordset::moveTo(std::int64_t pos) {
    const auto n = std::int64_t(keys_.size());
    pos_ = std::clamp<std::int64_t>(pos, 0, n + 1);
    readCurrent();
}

void Recordset::MoveFirst() {
    if (conn_ && !keys_.empty())
        moveTo(1);
}
void Recordset::MoveLast() {
    if (conn_ && !keys_.empty())
        moveTo(std::int64_t(keys_.size()));
}
void Recordset::MoveNext() {
    if (conn_ && !eof())
        moveTo(pos_ + 1);
}
void Recordset::MovePrevious() {
    if (conn_ && !bof())
        moveTo(pos_ - 1);
}

// A row is read when the cursor reaches it, so an entry changed since the search shows
// its current texts, and a long result costs only its keys.
void Recordset::readCurrent() {
    values_.clear();
    opened_ = true;
    if (!conn_ || bof() || eof())
        return;
    const std::int64_t key = keys_[std::size_t(pos_ - 1)];
    if (!keyed_) {
        values_ = rows_[std::size_t(key)];
        return;
    }
    Handle* db = onSameFile();
    Stmt st(*conn_, db, QStringLiteral("select * from ") + table_ + QStringLiteral(" where ID=?"));
    st.bind(1, QVariant::fromValue<qint64>(key));
    if (names_.isEmpty())
        for (int i = 0; i < st.columns(); ++i)
            names_ << st.name(i);
    if (st.step()) {
        values_ = st.row();
        opened_ = EntryWork(*conn_, db).openRow(names_, values_);
    }
}

// The keys name rows of the file the search ran on; in another file they are other rows.
Handle* Recordset::onSameFile() {
    Handle* db = conn_->usable();
    if (conn_->generation_ == generation_)
        return db;
    const QString file = conn_->file();
    Close();
    throw Error(QStringLiteral("数据库文件已更换，请重新查询"), kFileReplaced, file);
}

long long Recordset::Execute(const sql::Statement& statement) {
    if (!conn_)
        throw sqliteError(SQLITE_MISUSE, QStringLiteral("record set is closed"), QString());
    onSameFile();
    return conn_->Execute(statement);
}

QVariant Recordset::Fields(const QString& name) const {
    for (qsizetype i = 0; i < names_.size() && std::size_t(i) < values_.size(); ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            return values_[std::size_t(i)];
    return QVariant();
}

// ---- creation and copies (the admin tool only) ----

void backupDatabase(const QString& path, const QString& out) {
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    int rc =
        sqlite3_open_v2(QFile::encodeName(path).constData(), &src, SQLITE_OPEN_READONLY, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_open_v2(QFile::encodeName(out).constData(), &dst, SQLITE_OPEN_READWRITE,
                             nullptr);
    if (rc == SQLITE_OK) {
        int persist = 1; // the log files stay, as every connection of ours keeps them
        sqlite3_file_control(src, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
        sqlite3_busy_timeout(src, busyTimeoutMs);
        sqlite3_backup* b = sqlite3_backup_init(dst, "main", src, "main");
        if (!b) {
            rc = sqlite3_errcode(dst);
        } else {
            while ((rc = sqlite3_backup_step(b, 256)) == SQLITE_OK || rc == SQLITE_BUSY ||
                   rc == SQLITE_LOCKED)
                sqlite3_sleep(rc == SQLITE_OK ? 0 : 50);
            sqlite3_backup_finish(b);
        }
    }
    const QString msg = QString::fromUtf8(sqlite3_errstr(rc));
    sqlite3_close(src);
    sqlite3_close(dst);
    if (rc != SQLITE_DONE)
        throw sqliteError(rc, msg, path);
}

QByteArray createDatabase(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    // Made for its owner alone: a shared installation then opens it to its group.
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw sqliteError(SQLITE_CANTOPEN,
                          errno == EEXIST ? QStringLiteral("file already exists")
                                          : QString::fromLocal8Bit(std::strerror(errno)),
                          path);
    ::close(fd);
    try {
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        char* err = nullptr;
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, kSchemaSql, nullptr, nullptr, &err);
        const QString msg = QString::fromUtf8(err  ? err
                                              : db ? sqlite3_errmsg(db)
                                                   : sqlite3_errstr(rc));
        sqlite3_free(err);
        sqlite3_close(db);
        if (rc != SQLITE_OK)
            throw sqliteError(rc, msg, path);
        Connection c;
        c.ConnectionString = QStringLiteral("data source=") + path;
        c.requirePinnedKey = false;
        c.Open();
        c.Execute(QStringLiteral("begin immediate"));
        const vault::Installation keys = vault::newInstallation(c.keyStore());
        c.Execute(QStringLiteral("PRAGMA user_version = 2"));
        c.Execute(QStringLiteral("commit"));
        c.Close();
        vault::writePinned(vault::adminPubPath(path), keys.adminPublic);
        return keys.recoveryText;
    } catch (...) {
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
        throw;
    }
}

} // namespace ado
