#pragma once
// A PostgreSQL 15 server of the test run's own (scripts/pg-test-server), and the fixtures'
// way to put a test's diary on it: DV_TEST_ENGINE=postgresql runs the same tests there.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pgtest {

struct Server {
    QString dir, host, port, ca, otherCa;
    bool up = false;
};
// Started at the first call, stopped at exit; `up` false where it cannot run.
const Server& server();
// True when the tests of this run keep their diary on the server.
bool enabled();

int run(const QString& program, const QStringList& args, QByteArray* out = nullptr,
        const QByteArray& input = {});
// As the cluster's superuser; fails the test when the statement does.
void psql(const QString& sql, const QString& db = QStringLiteral("postgres"));
// An empty database `dayvault` made as the setup makes it, every diary role gone.
void freshDatabase();
// The setup's own script run as the superuser: the database if absent, its settings, the role
// maker, and what it keeps of a diary an earlier version made.
void setupScript();
// The settings file of a diary on it, pinned in `folder`.
QByteArray settings();
QString script();

} // namespace pgtest
