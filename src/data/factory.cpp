#include "data/factory.h"

#include "data/ado.h"
#include "data/postgres/postgres.h"
#include "data/sqlite/sqlite.h"

namespace ado {
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

} // namespace

StoreTarget targetOf(const QString& connectionString) {
    StoreTarget t;
    t.server = connectionString.startsWith(QStringLiteral("provider=postgresql;"));
    if (!t.server) {
        t.file = dataSource(connectionString);
        return t;
    }
    QString pins, rest = connectionString;
    while (!rest.isEmpty()) {
        if (rest.startsWith(QLatin1String("conninfo="))) {
            t.conninfo = rest.mid(9);
            break;
        }
        const qsizetype semi = rest.indexOf(QLatin1Char(';'));
        const QString part = rest.left(semi);
        if (part.startsWith(QLatin1String("pins=")))
            pins = part.mid(5);
        if (part == QLatin1String("as=owner"))
            t.owner = true;
        if (semi < 0)
            break;
        rest = rest.mid(semi + 1);
    }
    t.file = pins + QStringLiteral("/dayvault.conf");
    return t;
}

std::unique_ptr<Engine> openEngine(const StoreTarget& target, const QString& user,
                                   const QByteArray& password, int busyMs) {
    if (!target.server)
        return sqlite::open(target.file, busyMs);
    if (!user.isEmpty())
        return postgres::connect(target.conninfo, postgres::roleOf(user), password, busyMs,
                                 target.file);
    if (target.owner)
        return postgres::connect(target.conninfo, QString(), QByteArray(), busyMs, target.file);
    return postgres::connect(target.conninfo, QString::fromLatin1(postgres::kGuestRole),
                             postgres::kGuestPassword, busyMs, target.file);
}

void createFile(const QString& path) {
    sqlite::createFile(path);
}

void backupFile(const QString& path, const QString& out, int busyMs) {
    sqlite::backup(path, out, busyMs);
}

QString roleOf(const QString& name) {
    return postgres::roleOf(name);
}

} // namespace ado
