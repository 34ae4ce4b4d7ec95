#pragma once
// The one failure every tier throws, whichever engine found it: its kind, by which the windows
// choose their words, and the engine's own text and code.
#include <QString>
#include <stdexcept>

namespace ado {

enum class Failure {
    Other,        // any other refusal of the engine
    Misuse,       // a closed connection or record set used
    CannotOpen,   // the file is missing or not ours to open
    FolderShut,   // the file's folder cannot be written, so the engine cannot keep its logs
    ReadOnly,     // the file cannot be written
    Busy,         // another program holds the lock
    Full,         // no room left on the disk
    Corrupt,      // the file is damaged
    NotADatabase, // the file is something else
    Io,           // reading or writing the file failed
    Constraint,   // a row would break a rule of the schema
    Duplicate,    // a row would take a key another holds (a name taken, say)
    NoSuchTable,  // a table the program needs is missing
    TooComplex,   // a LIKE pattern over the engine's limit
    // The layer's own failures: their message is what the user reads.
    SuspiciousLink,   // a link planted where a log file of the database goes
    FileReplaced,     // a result's database file was replaced since the search
    ForeignObject,    // the store holds a schema object the program did not make
    UntrustedKeyFile, // a pinned key file that a neighbour may have written
    KeyMismatch,      // the store's administrator key is not the pinned one
    Refused,          // an entry change the session holds no key for
    BadSettings,      // dayvault.conf cannot be read or names no engine we have
    SharedFile,       // another account can write the database file or its folder
    ServerDown,       // the database server cannot be reached
    ServerLost,       // the connection to the server broke off
    ServerRefused,    // the server's policies refused the statement
    RefusedLogin,     // the server refused the role's password
    Tls,              // the server's certificate did not verify
    ServerError,      // any other refusal of the server
    ServerBusy,       // the server did not answer in time, or a lock held
    Ticket,           // the ID reserved for a new entry is no longer held
    ServerLimit,      // a size or rate the server allows was exceeded
};

// The codes of the layer's own failures, one for each of its own kinds.
constexpr int kSuspiciousLink = 1000;
constexpr int kFileReplaced = 1001;
constexpr int kUnknownObject = 1002;
constexpr int kUntrustedKeyFile = 1003;
constexpr int kKeyMismatch = 1004;
constexpr int kRefused = 1005;
constexpr int kBadSettings = 1006;
constexpr int kSharedFile = 1007;
constexpr int kServerDown = 1010;
constexpr int kServerLost = 1011;
constexpr int kServerRefused = 1012;
constexpr int kServerAuth = 1013;
constexpr int kServerTls = 1014;
constexpr int kServerError = 1015;
constexpr int kServerBusy = 1016;
constexpr int kServerTicket = 1017;
constexpr int kServerLimit = 1018;
constexpr int kLastOwnCode = 1099; // the layer's codes end here; an engine's are its own

class Error : public std::runtime_error {
public:
    // One of the layer's own failures: its kind follows from the code.
    Error(const QString& message, int code, const QString& file);
    // A failure an engine found, with the kind it maps its code to; `state` is a server's
    // SQLSTATE.
    Error(Failure kind, const QString& message, int code, const QString& file,
          const QString& state = QString());
    Failure kind() const { return kind_; }
    int code() const { return code_; }
    const QString& state() const { return state_; }
    const QString& file() const { return file_; }
    const QString& message() const { return message_; }
    // For a message box: chosen by kind, with the engine's words in brackets.
    QString userText() const;

private:
    Failure kind_;
    QString message_;
    int code_;
    QString file_;
    QString state_;
};

} // namespace ado
