// The embedded file beside a PostgreSQL 15 server of the bench's own, reached by its socket
// and over TCP on the loopback (TLS verified against the test CA): saving one entry, "查询" of
// all over 3,650 and over 100,000 entries, the title search over 3,650, and a login at the real
// password cost. Every entry goes in through the program's own insert, sealed as a save seals
// it. Arguments: the two sizes (3650 100000), or --smoke for small sizes and few repeats.
// Without the server binaries only the SQLite column is measured.
#include "Report.h"
#include "Sealed.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sodium.h>

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// A failure that ends the run; thrown so the server is stopped on the way out.
struct Failed {
    QString what;
};

// The writers: one per size, one who saves, one whose record has the real password cost.
const QString kSmall = QStringLiteral("bench-small");
const QString kLarge = QStringLiteral("bench-large");
const QString kSaver = QStringLiteral("bench-saver");
const QString kLogin = QStringLiteral("bench-login");
const QString kWord = QStringLiteral("灯塔");

struct Plan {
    int small = 3650, large = 100000, saves = 100, repeats = 5, logins = 3;
};

// The server made by scripts/pg-test-server; stopped however the run ends.
struct Server {
    QString dir, host, port, ca, why;
    bool up = false;
    ~Server() { stop(); }
    static QString script() { return QStringLiteral(DV_SOURCE_DIR "/scripts/pg-test-server"); }
    void start(const QString& suffix = QString()) {
        dir = QStringLiteral("/tmp/dvpgb-%1%2").arg(QCoreApplication::applicationPid()).arg(suffix);
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral("bash"), {script(), QStringLiteral("start"), dir});
        p.waitForFinished(120000);
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            why = p.exitCode() == 77 ? QStringLiteral("the PostgreSQL 15 server binaries or "
                                                      "openssl are missing")
                                     : QStringLiteral("the test server did not start");
            return;
        }
        for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
            const QString l = QString::fromUtf8(line), v = l.section(QLatin1Char('='), 1);
            if (l.startsWith(QLatin1String("PGHOST=")))
                host = v;
            else if (l.startsWith(QLatin1String("PGPORT=")))
                port = v;
            else if (l.startsWith(QLatin1String("CA=")))
                ca = v;
        }
        up = !port.isEmpty();
        if (!up)
            why = QStringLiteral("the test server named no port");
    }
    void stop() {
        if (!up)
            return;
        up = false;
        QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("stop"), dir});
    }
};
Server server;

ado::Connection& openWith(ado::Connection& c, const QString& conn, vault::KeyRing* ring) {
    c.ConnectionString = conn;
    c.keys = ring;
    c.Open();
    return c;
}

QString storedRecord(ado::Connection& c, const QString& name, bool* found) {
    ado::Recordset rs;
    rs.Open(sql::userQuery(name), c);
    *found = !(rs.eof() && rs.bof());
    return rs.Fields(QStringLiteral("B_password")).toString();
}

// A login as the window runs it, on a connection opened as the guest: the stored record read,
// the check (on a server, connecting again as his role) and the session's keys. Returns the
// time of the check and the session.
double logIn(ado::Connection& c, vault::KeyRing& ring, const QString& conn, const QString& name) {
    openWith(c, conn, &ring);
    bool found = false;
    const QString stored = storedRecord(c, name, &found);
    const QString pw = bench::passwordOf(name);
    const auto t0 = Clock::now();
    const accounts::Unlocked check = accounts::checkLogin(c, name, pw, stored, found);
    if (!check.ok || !accounts::startSession(c, ring, name, pw, stored, check, false).isEmpty())
        throw Failed{QStringLiteral("the login of a bench writer was refused")};
    return msSince(t0);
}

// Registration as the login window does it, on a guest connection.
void addUser(const QString& conn, const QString& name) {
    ado::Connection c;
    accounts::addUser(openWith(c, conn, nullptr), name, bench::passwordOf(name));
}

// The seconds the last prepare() took to store its entries on the server.
double serverFill = -1;

// His `n` entries through the program's insert, in one transaction.
double fill(const QString& conn, const QString& name, int n, int minChars, int maxChars) {
    ado::Connection c;
    vault::KeyRing ring;
    logIn(c, ring, conn, name);
    const auto t0 = Clock::now();
    accounts::inTransaction(c, [&] {
        for (int i = 1; i <= n; ++i)
            c.Execute(sql::insertEntry(bench::titleOf(i), QStringLiteral("晴"),
                                       bench::contentOf(i, minChars, maxChars), name));
    });
    return msSince(t0) / 1000;
}

// Every writer and his entries, as one engine keeps them.
void prepare(const QString& conn, const Plan& plan, const QString& engine) {
    addUser(conn, kLogin); // at the interactive cost: the login row measures it
    accounts::setPasswordCost(crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN);
    for (const QString& name : {kSmall, kLarge, kSaver})
        addUser(conn, name);
    const double s = fill(conn, kSmall, plan.small, 200, 2000);
    const double l = fill(conn, kLarge, plan.large, 250, 350);
    bench::report(QStringLiteral("engines: store %1 + %2 entries on %3 through the program "
                                 "(not a target)")
                      .arg(plan.small)
                      .arg(plan.large)
                      .arg(engine),
                  s + l, "s");
    if (engine != QLatin1String("SQLite"))
        serverFill = s + l;
    accounts::setPasswordCost(crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE);
}

// One column of the table, in ms; negative when not measured.
struct Column {
    QString name;
    double save = -1, allSmall = -1, allLarge = -1, title = -1, login = -1;
};

// Median time to open the record set and read its first row; its size checked.
double openFirst(ado::Connection& c, const sql::Statement& s, int repeats, int expected) {
    std::vector<double> t;
    for (int i = 0; i < repeats; ++i) {
        ado::Recordset rs;
        const auto t0 = Clock::now();
        rs.Open(s, c);
        const QString title = rs.Fields(QStringLiteral("B_title")).toString();
        t.push_back(msSince(t0));
        if (rs.RecordCount() != expected || title.isEmpty() || !rs.opened())
            throw Failed{QStringLiteral("a search found %1 entries, expected %2")
                             .arg(rs.RecordCount())
                             .arg(expected)};
    }
    return bench::median(t);
}

Column measure(const QString& name, const QString& conn, const Plan& plan) {
    Column col{name};
    {
        ado::Connection c;
        vault::KeyRing ring;
        logIn(c, ring, conn, kSaver);
        std::vector<double> t;
        for (int i = 0; i < plan.saves; ++i) {
            const QString title = bench::titleOf(i), text = bench::contentOf(i);
            const auto t0 = Clock::now();
            c.Execute(sql::insertEntry(title, QStringLiteral("晴"), text, kSaver));
            t.push_back(msSince(t0));
        }
        col.save = bench::median(t);
    }
    for (const auto& [who, n, out] : {std::tuple{kSmall, plan.small, &col.allSmall},
                                      std::tuple{kLarge, plan.large, &col.allLarge}}) {
        ado::Connection c;
        vault::KeyRing ring;
        logIn(c, ring, conn, who);
        *out = openFirst(c, sql::entriesOf(who), plan.repeats, n);
        if (who == kSmall)
            col.title = openFirst(c, sql::entriesByTitle(who, kWord), plan.repeats, n / 100);
    }
    std::vector<double> t;
    for (int i = 0; i <= plan.logins; ++i) { // the first warms the caches and is not counted
        ado::Connection c;
        vault::KeyRing ring;
        const double ms = logIn(c, ring, conn, kLogin);
        if (i > 0)
            t.push_back(ms);
    }
    col.login = bench::median(t);
    return col;
}

QString cell(double ms) {
    return ms < 0 ? QStringLiteral("skipped") : QStringLiteral("%1 ms").arg(ms, 0, 'f', 2);
}

// The table, each target judged on the slower server column; then the figures for
// scripts/bench, each server figure against the SQLite one.
void print(const std::vector<Column>& cols, const Plan& plan) {
    struct Row {
        QString action;
        std::function<double(const Column&)> of;
        QString target;
        std::function<bool(double, double)> met; // (server, SQLite)
        bool socketOnly = false;                 // judged on the server's socket column
    };
    const auto window = [](double ms, double) { return ms <= 50; };
    const std::vector<Row> rows = {
        {QStringLiteral("save one entry (median of %1)").arg(plan.saves),
         [](const Column& c) { return c.save; }, QStringLiteral("<= 1.5 ms by the socket"),
         [](double ms, double) { return ms <= 1.5; }, true},
        {QStringLiteral("查询 all, %1 entries, first row").arg(plan.small),
         [](const Column& c) { return c.allSmall; }, QStringLiteral("<= 50 ms"), window},
        {QStringLiteral("查询 all, %1 entries, first row").arg(plan.large),
         [](const Column& c) { return c.allLarge; }, QStringLiteral("-"), nullptr},
        {QStringLiteral("title search, %1 entries").arg(plan.small),
         [](const Column& c) { return c.title; }, QStringLiteral("<= 50 ms"), window},
        {QStringLiteral("login, interactive Argon2id (median of %1)").arg(plan.logins),
         [](const Column& c) { return c.login; }, QStringLiteral("<= 1.2 x SQLite"),
         [](double ms, double lite) { return ms <= 1.2 * lite; }}};

    std::printf("\n| action |");
    for (const Column& c : cols)
        std::printf(" %s |", c.name.toUtf8().constData());
    std::printf(" target | |\n|---|");
    for (std::size_t i = 0; i < cols.size(); ++i)
        std::printf("---|");
    std::printf("---|---|\n");
    for (const Row& r : rows) {
        std::printf("| %s |", r.action.toUtf8().constData());
        double worst = -1;
        for (std::size_t i = 0; i < cols.size(); ++i) {
            const double v = r.of(cols[i]);
            std::printf(" %s |", cell(v).toUtf8().constData());
            if (i > 0 && !(r.socketOnly && i > 1))
                worst = std::max(worst, v);
        }
        const QString mark = !r.met                        ? QStringLiteral("-")
                             : worst < 0                   ? QStringLiteral("not measured")
                             : r.met(worst, r.of(cols[0])) ? QStringLiteral("met")
                                                           : QStringLiteral("missed");
        std::printf(" %s | %s |\n", r.target.toUtf8().constData(), mark.toUtf8().constData());
    }
    std::printf("\n");
    for (const Row& r : rows)
        for (std::size_t i = 0; i < cols.size(); ++i) {
            if (r.of(cols[i]) < 0)
                continue;
            const QString figure = QStringLiteral("engines: %1, %2").arg(r.action, cols[i].name);
            if (i == 0)
                bench::report(figure, r.of(cols[i]), "ms");
            else
                bench::report(figure, r.of(cols[i]), "ms", r.target,
                              {QStringLiteral("SQLite"), r.of(cols[0])});
        }
}

// `dayvault-admin migrate` of the file just measured into an empty server of its own, with
// the tool's own check of a count and a digest on both sides.
void migrateFigure(const QString& file, const QTemporaryDir& dir, int entries) {
    Server target;
    target.start(QStringLiteral("-m"));
    if (!target.up)
        throw Failed{QStringLiteral("the migration's server did not start")};
    const QString conf = dir.filePath(QStringLiteral("migrate.conf"));
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly))
        throw Failed{QStringLiteral("cannot write %1").arg(conf)};
    const QString at =
        QStringLiteral("host=%1 port=%2 dbname=dayvault").arg(target.host, target.port);
    f.write(QStringLiteral("[database]\nengine=postgresql\nconnection=%1\n"
                           "[admin]\nconnection=%1 user=dayvault_owner\n")
                .arg(at)
                .toUtf8());
    f.close();
    QProcess p;
    const auto t0 = Clock::now();
    p.start(QStringLiteral(DV_ADMIN), {QStringLiteral("migrate"), conf, file});
    p.waitForFinished(-1);
    const double s = msSince(t0) / 1000;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 ||
        !QString::fromUtf8(p.readAllStandardOutput()).contains(QStringLiteral("两边一致")))
        throw Failed{QStringLiteral("the migration failed: %1")
                         .arg(QString::fromUtf8(p.readAllStandardError()))};
    bench::report(
        QStringLiteral("engines: fill a server by migrate, %1 entries").arg(entries), s, "s",
        QStringLiteral("<= 30 s"),
        {QStringLiteral("the same entries stored on the server through the program"), serverFill});
}

int run(const Plan& plan) {
    QTemporaryDir dir;
    std::vector<Column> cols;
    const bench::Database db(dir.filePath(QStringLiteral("sqlite")));
    {
        const QString conn = QStringLiteral("data source=") + db.path;
        prepare(conn, plan, QStringLiteral("SQLite"));
        cols.push_back(measure(QStringLiteral("SQLite"), conn, plan));
    }
    server.start();
    if (!server.up) {
        cols.push_back({QStringLiteral("PostgreSQL socket")});
        cols.push_back({QStringLiteral("PostgreSQL TCP")});
        print(cols, plan);
        std::printf("The PostgreSQL columns were skipped: %s.\n", server.why.toUtf8().constData());
        return 0;
    }
    const QString pins = dir.filePath(QStringLiteral("pins"));
    QDir().mkpath(pins);
    const QString head = QStringLiteral("provider=postgresql;pins=%1;conninfo=").arg(pins);
    const QString socket =
        head + QStringLiteral("host=%1 port=%2 dbname=dayvault").arg(server.host, server.port);
    const QString tcp = head + QStringLiteral("host=localhost port=%1 dbname=dayvault "
                                              "sslrootcert=%2")
                                   .arg(server.port, server.ca);
    ado::Connection owner;
    owner.ConnectionString =
        QStringLiteral("provider=postgresql;as=owner;pins=%1;conninfo=host=%2 port=%3 "
                       "dbname=dayvault user=dayvault_owner")
            .arg(pins, server.host, server.port);
    owner.requirePinnedKey = false;
    owner.Open();
    QByteArray recovery = ado::initServer(owner); // not kept: the bench never needs it
    sodium_memzero(recovery.data(), std::size_t(recovery.size()));
    prepare(socket, plan, QStringLiteral("PostgreSQL"));
    // What autovacuum does within a minute of the fill, done now so the planner knows the
    // table as a diary of years would have it.
    owner.Execute(QStringLiteral("vacuum analyze JR_content"));
    owner.Close();
    cols.push_back(measure(QStringLiteral("PostgreSQL socket"), socket, plan));
    cols.push_back(measure(QStringLiteral("PostgreSQL TCP"), tcp, plan));
    print(cols, plan);
    std::printf("Window targets and the login judged on the slower server column.\n");
    migrateFigure(db.path, dir, plan.small + plan.large + plan.saves);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Plan plan;
    if (argc > 1 && std::strcmp(argv[1], "--smoke") == 0)
        plan = {200, 1000, 10, 3, 1};
    else if (argc > 1)
        plan.small = std::max(100, std::atoi(argv[1]));
    if (argc > 2 && plan.saves == 100)
        plan.large = std::max(100, std::atoi(argv[2]));
    try {
        return run(plan);
    } catch (const Failed& f) {
        std::fprintf(stderr, "engines bench: %s\n", f.what.toUtf8().constData());
    } catch (const ado::Error& e) {
        std::fprintf(stderr, "engines bench: %s (code %d)\n", e.message().toUtf8().constData(),
                     e.code());
    }
    server.stop();
    return 1;
}
