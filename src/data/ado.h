#pragma once
// A small ADO-like layer over SQLite: a connection and a keyset, read-only record set.
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <stdexcept>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ado {

// Every SQLite failure; `userText()` is meant for a message box.
class Error : public std::runtime_error {
public:
    Error(const QString& message, int code, const QString& file);
    int code() const { return code_; }
    const QString& file() const { return file_; }
    const QString& message() const { return message_; }
    QString userText() const;

private:
    QString message_;
    int code_;
    QString file_;
};

class Recordset;

// Codes of the failures that are this layer's own, not the engine's.
constexpr int kSuspiciousLink = 1000; // a link planted where a log file of the database goes
constexpr int kFileReplaced = 1001;   // a result's database file was replaced since the search

class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    QString ConnectionString;

    // Opens the file named by "data source=" read-write; never creates it.
    void Open();
    void Close();
    // Open from Open() to Close(). The engine's handle behind it is opened again when the
    // file was replaced or removed, or after a failure that a fresh open may cure (a file
    // made writable again, say), so a window goes on working once the cause is gone.
    int State() const { return opened_ ? 1 : 0; }
    // Runs one change statement; returns the number of rows changed.
    long long Execute(const QString& sql);

    QString file() const { return path_; }
    // The engine's handle, opened again when needed (see State()).
    sqlite3* handle() { return usable(); }
    [[noreturn]] void fail(int rc, const QString& what) const;

private:
    friend class Recordset;
    void openHandle();
    void dropHandle();
    bool sameFile() const;
    // The handle to run a statement on; throws when the connection is closed or the file
    // cannot be opened now.
    sqlite3* usable();

    sqlite3* db_ = nullptr;
    QString path_;
    bool opened_ = false;
    mutable bool stale_ = false;
    unsigned long long dev_ = 0;
    unsigned long long ino_ = 0;
    unsigned generation_ = 0; // counts the times the handle found another file at the path
    std::vector<Recordset*> sets_;
};

// Positions reported by AbsolutePosition() off the rows, as ADO does.
constexpr int adPosBOF = -2;
constexpr int adPosEOF = -3;

class Recordset {
public:
    Recordset() = default;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;
    ~Recordset();

    // Runs the query and keeps the keys of the matching rows; the cursor is on the first.
    void Open(const QString& sql, Connection& connection);
    void Close();
    int State() const { return conn_ ? 1 : 0; }

    bool eof() const;
    bool bof() const;
    int RecordCount() const;
    int AbsolutePosition() const;
    void MoveFirst();
    void MovePrevious();
    void MoveNext();
    void MoveLast();

    // The current row's value of a column, matched without regard to case; null off the
    // rows, for a missing column, and for a row deleted since the search.
    QVariant Fields(const QString& name) const;
    // Runs a change statement for the rows of this result. Once the file has been replaced
    // since the search, throws `kFileReplaced` and closes the result instead.
    long long Execute(const QString& sql);

private:
    void readCurrent();
    void moveTo(std::int64_t pos);
    sqlite3* onSameFile();

    Connection* conn_ = nullptr;
    std::vector<std::int64_t> keys_;          // rowids, or indexes into rows_
    std::vector<std::vector<QVariant>> rows_; // only for queries that have no keys
    bool keyed_ = false;
    QString table_;
    unsigned generation_ = 0;
    std::int64_t pos_ = 0; // 0 before the first row, size+1 after the last
    QStringList names_;
    std::vector<QVariant> values_;
};

// The SQL the engine runs for a statement as the application writes it.
QString translate(const QString& sql);

// Creates a new database file with the diary schema and its administrator key pair;
// refuses an existing file. Returns the recovery key as text.
QByteArray createDatabase(const QString& path);

// How long a connection waits for another program's lock (5 s); tests shorten it.
void setBusyTimeout(int ms);

} // namespace ado
