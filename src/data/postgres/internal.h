#pragma once
// Inside the server engine only.
#include "data/engine.h"

#include <QByteArray>
#include <QString>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;
typedef unsigned int Oid;

namespace ado::postgres {

class Session : public Engine, public ServerWork {
public:
    Session(const QString& conninfo, const QString& user, const QByteArray& password, int busyMs,
            const QString& file);
    ~Session() override;

    std::unique_ptr<Cursor> prepare(const QString& text) override;
    long long changes() const override { return changes_; }
    long long lastInsertId() override;
    void begin() override { run("begin"); }
    void commit() override { run("commit"); }
    void rollback() override { run("rollback"); }
    void savepoint(const char* name) override { run(QByteArray("savepoint ") + name); }
    void release(const char* name) override { run(QByteArray("release ") + name); }
    void rollbackTo(const char* name) override { run(QByteArray("rollback to ") + name); }
    bool inTransaction() const override;
    int likeLimit() const override { return 50000; } // as the embedded engine, so both agree
    QString text(Text which) const override;
    bool writesThroughFunctions() const override { return diaryUser_; }
    void createKeyTables() override {} // made with the schema
    SchemaReport inspectSchema() override;
    void startUse() override {}
    bool mustReopen() override { return lost(); }
    QByteArray identity() const override { return QByteArray(); }
    void settle() override {}
    ServerWork* server() override { return this; }

    void registerUser(const QString& name, const QString& publicRecord, const QByteArray& password,
                      const QByteArray& wrapped, const QByteArray& escrow) override;
    void setPassword(const QString& name, const QString& publicRecord, const QByteArray& password,
                     bool asUser) override;
    void addRole(const QString& name, const QByteArray& password) override;
    void setAdmin(const QString& name, bool admin) override;
    void createTables() override;
    bool upgrade() override;
    void backup(const QString& out) override;

    bool lost() const;
    // One statement, given up when the server does not answer within the connection's
    // timeouts (the session is then closed); null when the connection broke.
    PGresult* exec(const char* text, int n, const Oid* types, const char* const* values,
                   const int* lengths, const int* formats);
    PGconn* raw() const { return pg_; }
    const QString& file() const { return file_; }
    // The SCRAM-SHA-256 verifier of `password` for `role`, computed here.
    QByteArray verifier(const QString& role, const QByteArray& password);
    [[noreturn]] void fail(const char* sqlstate, const QString& primary);

    long long changes_ = 0;

private:
    void run(const QByteArray& sql);
    void keepVerifier(const QString& name, const QByteArray& verifier);
    // One text of several statements: the server runs it as one transaction.
    void runSchema(const char* text);

    PGconn* pg_ = nullptr;
    QString file_, conninfo_;
    int statementMs_ = 0;
    bool diaryUser_ = false;
};

// The error a failed connection attempt means.
Error connectFailure(const QString& why, const QString& file);

} // namespace ado::postgres
