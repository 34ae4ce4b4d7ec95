#pragma once
// Inside the data layer only: the engine on a PostgreSQL server, through libpq.
#include "data/Engine.h"
#include "data/Entries.h"

#include <QByteArray>
#include <QString>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;
typedef unsigned int Oid;

namespace ado {

// One server session. Statements are the embedded engine's texts: `?` becomes `$n`, an
// entry insert returns its ID, and what only the file needs (PRAGMA) does nothing here.
class PgSession : public Handle {
public:
    // Connects as `user`; throws kServerDown, kServerAuth or kServerTls, and never sends a
    // password to a server whose certificate did not verify.
    PgSession(Connection& c, const QString& conninfo, const QString& user,
              const QByteArray& password);
    ~PgSession() override;

    std::unique_ptr<Cursor> prepare(const QString& text) override;
    long long changes() const override { return changes_; }
    long long lastInsertId() const override { return lastId_; }
    bool inTransaction() const override;
    int likeLimit() const override { return 50000; } // as the embedded engine, so both agree
    bool lost() const;
    // One statement, given up when the server does not answer within the connection's
    // timeouts (the session is then closed); null when the connection broke.
    PGresult* exec(const char* text, int n, const Oid* types, const char* const* values,
                   const int* lengths, const int* formats);
    // An ID the server reserved for this writer's next entry; 0 when none is held.
    long long ticket = 0;
    PGconn* raw() const { return pg_; }
    QString file() const { return conn_.file(); }
    // The SCRAM-SHA-256 verifier of `password` for `role`, computed here.
    QByteArray verifier(const QString& role, const QByteArray& password);
    [[noreturn]] void fail(const char* sqlstate, const QString& primary);

    long long changes_ = 0, lastId_ = 0;

private:
    Connection& conn_;
    PGconn* pg_ = nullptr;
    int statementMs_ = 0;
};

// The role a diary user logs in as: dv_ and the md5 of his name, ASCII letters folded.
QString roleOf(const QString& name);
// The guest every client may log in as, to read the public records and to register.
extern const char* const kGuestRole;
extern const char* const kGuestPassword;

// The tables and what else the server holds on them that the program did not make.
SchemaReport inspectServerSchema(Connection& c, Handle* h);

} // namespace ado
