#include "data/ado.h"

#include "data/Vault.h"
#include "data/schema.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ado {

static int busyTimeoutMs = 5000;

void setBusyTimeout(int ms) {
    busyTimeoutMs = ms;
}

Error::Error(const QString& message, int code, const QString& file)
    : std::runtime_error(message.toStdString()), message_(message), code_(code), file_(file) {}

QString Error::userText() const {
    if (code_ == kSuspiciousLink || code_ == kFileReplaced)
        return message_;
    if (const QString refused = vault::refusal(message_); !refused.isEmpty())
        return refused;
    // The engine keeps its log files beside the database and cannot work without them.
    const QFileInfo info(file_);
    const bool folderShut =
        !file_.isEmpty() && info.exists() && !QFileInfo(info.absolutePath()).isWritable();
    const QString shut = QStringLiteral("数据库文件所在的文件夹不可写，无法使用数据库");
    QString what;
    switch (code_ & 0xff) {
    case SQLITE_CANTOPEN:
        what = folderShut ? shut : QStringLiteral("无法打开数据库文件（文件不存在或没有访问权限）");
        break;
    case SQLITE_NOTADB:
        what = QStringLiteral("文件不是有效的数据库");
        break;
    case SQLITE_CORRUPT:
        what = QStringLiteral("数据库文件已损坏");
        break;
    case SQLITE_READONLY:
        what = folderShut && info.isWritable() ? shut
                                               : QStringLiteral("数据库文件是只读的，无法保存更改");
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        what = QStringLiteral("数据库正被其他程序占用，请稍后再试");
        break;
    case SQLITE_FULL:
        what = QStringLiteral("磁盘已满，无法保存");
        break;
    case SQLITE_IOERR:
        what = QStringLiteral("读写数据库文件时出错");
        break;
    default:
        if (message_.contains(QStringLiteral("no such table")))
            what = QStringLiteral("数据库中缺少数据表");
        else if (message_.contains(QStringLiteral("pattern too complex")))
            what = QStringLiteral("查询内容太长，请缩短后再试"); // the engine's LIKE limit
        else
            what = QStringLiteral("数据库无法执行该操作");
    }
    return QStringLiteral("%1（%2）").arg(what, message_);
}

namespace {

// Statement texts as the application writes them, in the forms SQLite accepts; a NUL
// inside a literal becomes char(0), since the statement text itself cannot carry one.
QString sqliteForms(const QString& sql) {
    static const QRegularExpression deleteStar(QStringLiteral("^\\s*delete\\s*\\*\\s*from\\b"),
                                               QRegularExpression::CaseInsensitiveOption);
    QString s = sql;
    s.replace(deleteStar, QStringLiteral("delete from"));
    if (!s.contains(QChar(0)))
        return s;
    QString out;
    out.reserve(s.size() + 16);
    bool inLiteral = false;
    for (QChar c : s) {
        if (c == QLatin1Char('\''))
            inLiteral = !inLiteral; // a doubled quote toggles twice
        if (c == QChar(0) && inLiteral)
            out += QStringLiteral("'||char(0)||'");
        else
            out += c;
    }
    return out;
}

struct Stmt {
    sqlite3_stmt* s = nullptr;
    ~Stmt() { sqlite3_finalize(s); }
};

QVariant columnValue(sqlite3_stmt* s, int i) {
    switch (sqlite3_column_type(s, i)) {
    case SQLITE_INTEGER:
        return QVariant::fromValue<qint64>(sqlite3_column_int64(s, i));
    case SQLITE_FLOAT:
        return sqlite3_column_double(s, i);
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(s, i)),
                          sqlite3_column_bytes(s, i));
    default: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        return QString::fromUtf8(p, sqlite3_column_bytes(s, i));
    }
    }
}

// Sealed fields read as their texts, opened with the row's writer.
void openSealed(sqlite3* db, const QStringList& names, std::vector<QVariant>& values) {
    static const QStringList sealed = {QStringLiteral("B_title"), QStringLiteral("B_weather"),
                                       QStringLiteral("B_content")};
    const qsizetype n = std::min<qsizetype>(names.size(), qsizetype(values.size()));
    QString writer;
    for (qsizetype i = 0; i < n; ++i)
        if (names[i].compare(QStringLiteral("B_writer"), Qt::CaseInsensitive) == 0)
            writer = values[std::size_t(i)].toString();
    for (qsizetype i = 0; i < n; ++i) {
        QVariant& v = values[std::size_t(i)];
        if (v.typeId() != QMetaType::QByteArray)
            continue;
        for (const QString& column : sealed)
            if (names[i].compare(column, Qt::CaseInsensitive) == 0)
                v = vault::openField(db, v.toByteArray(), writer, column);
    }
}

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

// The title search matches the opened titles, with the engine's own LIKE.
QString openTitles(const QString& sql) {
    static const QRegularExpression titleLike(
        QStringLiteral("(?<![A-Za-z0-9_.\\x{80}-\\x{10FFFF}])B_title(\\s+(?:not\\s+)?like\\b)"),
        QRegularExpression::CaseInsensitiveOption);
    if (!sql.contains(QStringLiteral("b_title"), Qt::CaseInsensitive))
        return sql;
    QString out;
    out.reserve(sql.size() + 40);
    qsizetype from = 0;
    bool inLiteral = false;
    for (qsizetype i = 0; i <= sql.size(); ++i) {
        if (i < sql.size() && sql[i] != QLatin1Char('\''))
            continue;
        QString part = sql.mid(from, i - from);
        if (!inLiteral)
            part.replace(titleLike, QStringLiteral("dv_open(B_title,B_writer,'B_title')\\1"));
        out += part;
        if (i < sql.size())
            out += QLatin1Char('\'');
        from = i + 1;
        inLiteral = !inLiteral; // a doubled quote toggles twice
    }
    return out;
}

} // namespace

QString translate(const QString& sql) {
    return openTitles(sqliteForms(sql));
}

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
    throw Error(msg, rc, path_);
}

void Connection::Open() {
    if (opened_)
        throw Error(QStringLiteral("connection is already open"), SQLITE_MISUSE, path_);
    path_ = dataSource(ConnectionString);
    if (path_.isEmpty())
        throw Error(QStringLiteral("no data source in the connection string"), SQLITE_CANTOPEN,
                    path_);
    openHandle();
    opened_ = true;
}

namespace {
// The engine gives its log files the mode of the database when it makes them. Made while
// the database was read-only, they would refuse every write long after the database is
// writable again; ours are given its mode back, never a wider one. A planted link would
// make the engine, or the fix, write or open up whatever it points at, so none is followed
// and the database is not opened beside one.
void matchLogPermissions(const QByteArray& database, const QString& path) {
    for (const char* suffix : {"-wal", "-shm"}) {
        const QByteArray log = database + suffix;
        struct stat st {};
        if (::lstat(log.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            throw Error(
                QStringLiteral("数据库旁有可疑的链接文件……（%1）").arg(QFile::decodeName(log)),
                kSuspiciousLink, path);
    }
    struct stat db {};
    if (::stat(database.constData(), &db) != 0 || ::access(database.constData(), W_OK) != 0)
        return;
    for (const char* suffix : {"-wal", "-shm"}) {
        const QByteArray log = database + suffix;
        const int fd = ::open(log.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ELOOP)
                throw Error(
                    QStringLiteral("数据库旁有可疑的链接文件……（%1）").arg(QFile::decodeName(log)),
                    kSuspiciousLink, path);
            continue;
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & 0666) != (db.st_mode & 0666))
            ::fchmod(fd, db.st_mode & 0666);
        ::close(fd);
    }
}
} // namespace

void Connection::openHandle() {
    if (!QFileInfo::exists(path_))
        throw Error(QStringLiteral("file not found"), SQLITE_CANTOPEN, path_);
    sqlite3* db = nullptr;
    const QByteArray name = QFile::encodeName(path_);
    matchLogPermissions(name, path_);
    const int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    db_ = db;
    if (rc != SQLITE_OK) {
        QString msg = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
        dropHandle();
        throw Error(msg.isEmpty() ? QString::fromUtf8(sqlite3_errstr(rc)) : msg, rc, path_);
    }
    struct stat info {};
    if (::stat(name.constData(), &info) == 0) {
        if (ino_ != 0 && (info.st_dev != dev_ || info.st_ino != ino_))
            ++generation_;
        dev_ = info.st_dev;
        ino_ = info.st_ino;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    try {
        // Reading the schema proves the file is a database before anything is written.
        Stmt st;
        int r = sqlite3_prepare_v2(db_, "select count(*) from sqlite_master", -1, &st.s, nullptr);
        if (r != SQLITE_OK || (r = sqlite3_step(st.s)) != SQLITE_ROW)
            fail(r, QString());
        const bool hasTables = sqlite3_column_int(st.s, 0) > 0;
        // A file without tables is left untouched: later statements report what is missing.
        if (hasTables) {
            // Best effort: a read-only file still serves searches.
            sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        }
        sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
        // Deleted and replaced text is overwritten, not left in free space of the file.
        sqlite3_exec(db_, "PRAGMA secure_delete=ON", nullptr, nullptr, nullptr);
        sqlite3_exec(db_, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
        vault::attach(db_);
    } catch (...) {
        dropHandle();
        throw;
    }
    stale_ = false;
}

void Connection::dropHandle() {
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool Connection::sameFile() const {
    struct stat st {};
    return ::stat(QFile::encodeName(path_).constData(), &st) == 0 && st.st_dev == dev_ &&
           st.st_ino == ino_;
}

sqlite3* Connection::usable() {
    if (!opened_)
        throw Error(QStringLiteral("connection is closed"), SQLITE_MISUSE, path_);
    // Without this an edit would go to a file that is no longer the diary.
    if (db_ && !stale_ && sameFile())
        return db_;
    if (db_ && !sameFile()) {
        // Gone or replaced: once the handle lets go of the file, a new file at the path may
        // be given its inode number, and would then pass for the file the results came from.
        ++generation_;
        ino_ = 0;
    }
    dropHandle();
    openHandle();
    return db_;
}

void Connection::Close() {
    // Closing a connection closes the record sets still open on it.
    while (!sets_.empty())
        sets_.back()->Close();
    dropHandle();
    opened_ = false;
    stale_ = false;
}

long long Connection::Execute(const QString& sql) {
    sqlite3* db = usable();
    const QByteArray text = translate(sql).toUtf8();
    Stmt st;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, text.constData(), int(text.size()), &st.s, &tail);
    if (rc != SQLITE_OK)
        fail(rc, QString());
    // One statement per call: anything after it would be a sign of a broken quote.
    if (tail && QByteArray(tail).trimmed().size() > 0 && QByteArray(tail).trimmed() != ";")
        throw Error(QStringLiteral("more than one statement"), SQLITE_ERROR, path_);
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        fail(rc, QString());
    return sqlite3_changes64(db);
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
}

void Recordset::Open(const QString& sql, Connection& connection) {
    if (conn_)
        throw Error(QStringLiteral("record set is already open"), SQLITE_MISUSE, connection.file());
    sqlite3* db = connection.usable();
    static const QRegularExpression selectStar(
        QStringLiteral("^\\s*select\\s*\\*\\s*from\\s+([A-Za-z_][A-Za-z0-9_]*)(.*)$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QString text = translate(sql);
    const auto m = selectStar.match(text);
    keyed_ = m.hasMatch();
    QString query = text;
    if (keyed_) {
        table_ = m.captured(1);
        query = QStringLiteral("select rowid from ") + table_ + m.captured(2);
    }
    const QByteArray utf8 = query.toUtf8();
    Stmt st;
    int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &st.s, nullptr);
    if (rc != SQLITE_OK)
        connection.fail(rc, QString());
    std::vector<std::int64_t> keys;
    std::vector<std::vector<QVariant>> rows;
    QStringList names;
    const int cols = sqlite3_column_count(st.s);
    if (!keyed_)
        for (int i = 0; i < cols; ++i)
            names << QString::fromUtf8(sqlite3_column_name(st.s, i));
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
        if (keyed_) {
            keys.push_back(sqlite3_column_int64(st.s, 0));
        } else {
            std::vector<QVariant> row;
            for (int i = 0; i < cols; ++i)
                row.push_back(columnValue(st.s, i));
            openSealed(db, names, row);
            keys.push_back(std::int64_t(rows.size()));
            rows.push_back(std::move(row));
        }
    }
    if (rc != SQLITE_DONE)
        connection.fail(rc, QString());
    keys_ = std::move(keys);
    keys_.shrink_to_fit();
    rows_ = std::move(rows);
    names_ = names;
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
    if (!conn_ || bof() || eof())
        return;
    const std::int64_t key = keys_[std::size_t(pos_ - 1)];
    if (!keyed_) {
        values_ = rows_[std::size_t(key)];
        return;
    }
    const QByteArray sql =
        (QStringLiteral("select * from ") + table_ + QStringLiteral(" where rowid=?")).toUtf8();
    Stmt st;
    int rc = sqlite3_prepare_v2(onSameFile(), sql.constData(), int(sql.size()), &st.s, nullptr);
    if (rc != SQLITE_OK)
        conn_->fail(rc, QString());
    sqlite3_bind_int64(st.s, 1, key);
    const int cols = sqlite3_column_count(st.s);
    if (names_.isEmpty())
        for (int i = 0; i < cols; ++i)
            names_ << QString::fromUtf8(sqlite3_column_name(st.s, i));
    rc = sqlite3_step(st.s);
    if (rc == SQLITE_ROW) {
        for (int i = 0; i < cols; ++i)
            values_.push_back(columnValue(st.s, i));
        openSealed(conn_->usable(), names_, values_);
    } else if (rc != SQLITE_DONE) {
        conn_->fail(rc, QString());
    }
}

// The keys name rows of the file the search ran on; in another file they are other rows.
sqlite3* Recordset::onSameFile() {
    sqlite3* db = conn_->usable();
    if (conn_->generation_ == generation_)
        return db;
    const QString file = conn_->file();
    Close();
    throw Error(QStringLiteral("数据库文件已更换，请重新查询"), kFileReplaced, file);
}

long long Recordset::Execute(const QString& sql) {
    if (!conn_)
        throw Error(QStringLiteral("record set is closed"), SQLITE_MISUSE, QString());
    onSameFile();
    return conn_->Execute(sql);
}

QVariant Recordset::Fields(const QString& name) const {
    for (qsizetype i = 0; i < names_.size() && std::size_t(i) < values_.size(); ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            return values_[std::size_t(i)];
    return QVariant();
}

// ---- creation (the admin tool only) ----

QByteArray createDatabase(const QString& path) {
    if (QFileInfo::exists(path))
        throw Error(QStringLiteral("file already exists"), SQLITE_CANTOPEN, path);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.toUtf8().constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
        sqlite3_close(db);
        throw Error(msg, rc, path);
    }
    char* err = nullptr;
    rc = sqlite3_exec(db, kSchemaSql, nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : sqlite3_errstr(rc));
        sqlite3_free(err);
        sqlite3_close(db);
        throw Error(msg, rc, path);
    }
    QByteArray recovery;
    try {
        recovery = vault::upgrade(db);
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    sqlite3_close(db);
    return recovery;
}

} // namespace ado
