#include "support/PgServer.h"

#include <QCoreApplication>
#include <QProcess>
#include <cstdlib>
#include <gtest/gtest.h>

namespace pgtest {
namespace {

Server started;

void stop() {
    if (started.up)
        run(QStringLiteral("bash"), {script(), QStringLiteral("stop"), started.dir});
}

} // namespace

QString script() {
    return QStringLiteral(DV_SOURCE_DIR "/scripts/pg-test-server");
}

int run(const QString& program, const QStringList& args, QByteArray* out, const QByteArray& input) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

const Server& server() {
    static const bool once = [] {
        started.dir = QStringLiteral("/tmp/dvpg-%1").arg(QCoreApplication::applicationPid());
        QByteArray out;
        if (run(QStringLiteral("bash"), {script(), QStringLiteral("start"), started.dir}, &out) !=
            0)
            return false;
        for (const QByteArray& line : out.split('\n')) {
            const QString l = QString::fromUtf8(line), v = l.section(QLatin1Char('='), 1);
            const std::pair<const char*, QString*> fields[] = {{"PGHOST=", &started.host},
                                                               {"PGPORT=", &started.port},
                                                               {"CA=", &started.ca},
                                                               {"OTHER_CA=", &started.otherCa}};
            for (const auto& [key, field] : fields)
                if (l.startsWith(QLatin1String(key)))
                    *field = v;
        }
        started.up = !started.port.isEmpty();
        std::atexit(stop);
        return true;
    }();
    (void)once;
    return started;
}

bool enabled() {
    return qgetenv("DV_TEST_ENGINE") == "postgresql";
}

void psql(const QString& sql, const QString& db) {
    const Server& s = server();
    ASSERT_EQ(run(QStringLiteral("psql"),
                  {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                   QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), s.host,
                   QStringLiteral("-p"), s.port, QStringLiteral("-U"), QStringLiteral("dvsuper"),
                   QStringLiteral("-d"), db, QStringLiteral("-c"), sql}),
              0)
        << sql.toStdString();
}

void freshDatabase() {
    psql(QStringLiteral("drop database if exists dayvault with (force)"));
    psql(QStringLiteral("do $$ declare r text; begin for r in select rolname from pg_roles where "
                        "rolname like 'dv\\_%' loop execute format('drop role %I', r); end loop; "
                        "end $$"));
    setupScript();
}

void setupScript() {
    const Server& s = server();
    ASSERT_EQ(run(QStringLiteral("psql"),
                  {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"), s.host,
                   QStringLiteral("-p"), s.port, QStringLiteral("-U"), QStringLiteral("dvsuper"),
                   QStringLiteral("-d"), QStringLiteral("postgres"), QStringLiteral("-v"),
                   QStringLiteral("dbname=dayvault"), QStringLiteral("-v"),
                   QStringLiteral("owner_password=dayvault_owner"), QStringLiteral("-f"),
                   QStringLiteral(DV_SOURCE_DIR "/scripts/pg/roles.sql")}),
              0);
}

QByteArray settings() {
    const QString socket =
        QStringLiteral("host=%1 port=%2 dbname=dayvault").arg(server().host, server().port);
    return QStringLiteral("[database]\nengine=postgresql\nconnection=%1\n"
                          "[admin]\nconnection=%1 user=dayvault_owner\n")
        .arg(socket)
        .toUtf8();
}

} // namespace pgtest
