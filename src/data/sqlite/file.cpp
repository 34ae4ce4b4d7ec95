#include "data/sqlite/internal.h"
#include "data/sqlite/schema.h"
#include "data/sqlite/sqlite.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ado::sqlite {

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

namespace {

std::uint32_t be32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

// A copy killed while its checkpoint copied the log back leaves the header ahead of the file
// and the missing pages in the log, from where the engine reads them: no file cut short.
// True when the log's frames of its current round hold every page from `first` to `last`.
bool logHoldsPages(const QByteArray& database, std::uint32_t pageSize, std::uint64_t first,
                   std::uint32_t last) {
    const int fd = ::open((database + "-wal").constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char h[32];
    struct stat st {};
    const std::uint64_t frames =
        ::fstat(fd, &st) == 0 && st.st_size > 32 ? (st.st_size - 32) / (24 + pageSize) : 0;
    // Bounded by what the log can hold, whatever the header claims.
    std::vector<bool> found(last >= first && last - first < frames ? last - first + 1 : 0);
    std::uint64_t missing = found.empty() ? 1 : found.size();
    if (!found.empty() && ::pread(fd, h, sizeof h, 0) == ssize_t(sizeof h) &&
        (be32(h) & ~1u) == 0x377f0682 && be32(h + 8) == pageSize) {
        unsigned char f[24];
        for (off_t at = 32; missing && ::pread(fd, f, sizeof f, at) == ssize_t(sizeof f);
             at += 24 + off_t(pageSize)) {
            const std::uint32_t page = be32(f);
            if (std::memcmp(f + 8, h + 16, 8) != 0) // a frame of an earlier round
                break;
            if (page >= first && page <= last && !found[page - first])
                found[page - first] = true, --missing;
        }
    }
    ::close(fd);
    return missing == 0;
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
    const std::uint32_t pageSize =
        (h[16] << 8 | h[17]) == 1 ? 65536u : std::uint32_t(h[16] << 8 | h[17]);
    // The stored page count holds only when written by the version that wrote the file.
    if (be32(h + 24) != be32(h + 92) || pageSize < 512)
        return false;
    const std::uint64_t held = std::uint64_t(st.st_size) / pageSize;
    return be32(h + 28) > held && !logHoldsPages(database, pageSize, held + 1, be32(h + 28));
}

} // namespace

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

void createFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    // Made for its owner alone: a shared installation then opens it to its group.
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw failure(SQLITE_CANTOPEN,
                      errno == EEXIST ? QStringLiteral("file already exists")
                                      : QString::fromLocal8Bit(std::strerror(errno)),
                      path);
    ::close(fd);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    char* err = nullptr;
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, kSchemaSql, nullptr, nullptr, &err);
    // This version's format; the keys come next, or the file goes.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, &err);
    const QString msg = QString::fromUtf8(err ? err : db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_free(err);
    sqlite3_close(db);
    if (rc != SQLITE_OK) {
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
        throw failure(rc, msg, path);
    }
}

void backup(const QString& path, const QString& out, int busyMs) {
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
        sqlite3_busy_timeout(src, busyMs);
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
        throw failure(rc, msg, path);
}

} // namespace ado::sqlite
