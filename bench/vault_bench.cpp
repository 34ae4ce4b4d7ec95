// Sealed entries beside plain ones in the same run: the login check (one Argon2id run), saving
// one entry, the title search over 3,650 and over a million entries, and the raw bytes of the
// file and its log after 3,650 saves. Optional arguments: the two search sizes.
#include "Report.h"
#include "accounts/Password.h"
#include "accounts/Session.h"
#include "data/Vault.h"
#include "data/ado.h"
#include "data/statements.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sodium.h>
#include <sqlite3.h>

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

const QString kPassword = QStringLiteral("bench-password");

void open(ado::Connection& c, const QString& path) {
    c.ConnectionString = QStringLiteral("data source=") + path;
    c.Open();
}

// A fresh file with the user "bench" and its data key, and `n` plain entries of "bench"
// (every hundredth title holds "灯塔").
QString build(const QTemporaryDir& dir, const QString& name, int n) {
    const QString path = dir.filePath(name);
    ado::createDatabase(path);
    {
        ado::Connection c;
        open(c, path);
        accounts::addUser(c, QStringLiteral("bench"), kPassword);
    }
    sqlite3* h = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &h, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(h, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr,
                 nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h,
                       "insert into JR_content(B_title,B_weather,B_content,B_writer,B_time) "
                       "values(?,'晴',?,'bench','2024-3-1 8:00:00')",
                       -1, &st, nullptr);
    const QByteArray body =
        QStringLiteral("今天早上七点起床，先去河边跑步。").repeated(10).toUtf8();
    for (int i = 1; i <= n; ++i) {
        const QByteArray title =
            (i % 100 == 0 ? QStringLiteral("灯塔日记 %1") : QStringLiteral("日记 %1"))
                .arg(i)
                .toUtf8();
        sqlite3_bind_text(st, 1, title.constData(), int(title.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, body.constData(), int(body.size()), SQLITE_STATIC);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(h, "COMMIT; PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_close(h);
    return path;
}

// Logs "bench" in on `c`: keys kept, plain entries sealed.
void logIn(ado::Connection& c) {
    ado::Recordset rs;
    rs.Open(sql::userQuery(QStringLiteral("bench")), c);
    const QString stored = rs.Fields(QStringLiteral("B_password")).toString();
    rs.Close();
    const accounts::Unlocked check = accounts::unlock(kPassword, stored);
    accounts::startSession(c, QStringLiteral("bench"), kPassword, stored, check, false);
}

// Median time of statement 8 for "灯塔", through the record set.
double search(ado::Connection& c, int* found) {
    std::vector<double> t;
    for (int i = 0; i < 5; ++i) {
        ado::Recordset rs;
        const auto t0 = Clock::now();
        rs.Open(sql::entriesByTitle(QStringLiteral("bench"), QStringLiteral("灯塔")), c);
        t.push_back(msSince(t0));
        *found = rs.RecordCount();
    }
    return bench::median(t);
}

void searchFigure(const QTemporaryDir& dir, int n, double targetMs) {
    const QString plainPath = build(dir, QStringLiteral("plain-%1.mdb").arg(n), n);
    const QString sealedPath = build(dir, QStringLiteral("sealed-%1.mdb").arg(n), n);
    ado::Connection plain, sealed;
    open(plain, plainPath);
    open(sealed, sealedPath);
    const auto t0 = Clock::now();
    logIn(sealed);
    bench::report(QStringLiteral("seal %1 plain entries at the first login (not a target)").arg(n),
                  msSince(t0), "ms");
    int foundPlain = 0, foundSealed = 0;
    const double p = search(plain, &foundPlain);
    const double s = search(sealed, &foundSealed);
    if (foundPlain != foundSealed || foundSealed != n / 100) {
        std::fprintf(stderr, "title search found %d sealed, %d plain\n", foundSealed, foundPlain);
        std::exit(1);
    }
    bench::report(QStringLiteral("title search over %1 sealed entries (median of 5)").arg(n), s,
                  "ms", QStringLiteral("<= %1 ms").arg(targetMs),
                  {QStringLiteral("the same search over plain text"), p});
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int small = argc > 1 ? std::atoi(argv[1]) : 3650;
    const int large = argc > 2 ? std::atoi(argv[2]) : 1000000;
    QTemporaryDir dir;
    vault::forget();

    // The login check at the real cost, beside the hash string it replaces.
    {
        const auto [record, wrap] = accounts::newRecord(kPassword);
        const QString old = accounts::hashPassword(kPassword);
        std::vector<double> ours, before;
        for (int i = 0; i < 5; ++i) {
            auto t0 = Clock::now();
            if (!accounts::unlock(kPassword, record).ok)
                return 1;
            ours.push_back(msSince(t0));
            t0 = Clock::now();
            accounts::verifyPassword(kPassword, old);
            before.push_back(msSince(t0));
        }
        bench::report(QStringLiteral("login check, one Argon2id run (median of 5)"),
                      bench::median(ours), "ms", QStringLiteral("<= 150 ms"),
                      {QStringLiteral("crypto_pwhash_str_verify"), bench::median(before)});
    }
    // The rest at the lowest cost: only the sealing is measured.
    accounts::setPasswordCost(crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN);

    // 3,650 saves (ten years of one a day) of a sealed and of a plain writer.
    {
        const QString path = build(dir, QStringLiteral("saves.mdb"), 0);
        ado::Connection c;
        open(c, path);
        logIn(c);
        std::vector<double> sealed, plain;
        for (int i = 0; i < 3650; ++i) {
            const QString title = QStringLiteral("标题%1号").arg(i);
            const QString text = QStringLiteral("正文第%1篇，写给自己。").arg(i).repeated(8);
            auto t0 = Clock::now();
            c.Execute(sql::insertEntry(title, QStringLiteral("晴"), text, QStringLiteral("bench")));
            sealed.push_back(msSince(t0));
            t0 = Clock::now();
            c.Execute(sql::insertEntry(QStringLiteral("x"), QStringLiteral("晴"),
                                       QStringLiteral("y"), QStringLiteral("nobody")));
            plain.push_back(msSince(t0));
        }
        bench::report(QStringLiteral("save one sealed entry (median of 3650)"),
                      bench::median(sealed), "ms", QStringLiteral("-"),
                      {QStringLiteral("a plain entry in the same run"), bench::median(plain)});
        QByteArray raw;
        for (const QString& suffix : {QString(), QStringLiteral("-wal")}) {
            QFile f(path + suffix);
            if (f.open(QIODevice::ReadOnly))
                raw += f.readAll();
        }
        int leaks = 0;
        for (int i = 0; i < 3650; ++i)
            leaks += raw.contains(QStringLiteral("标题%1号").arg(i).toUtf8()) ||
                     raw.contains(QStringLiteral("正文第%1篇").arg(i).toUtf8());
        bench::report(QStringLiteral("entries readable in the file and -wal after 3650 saves"),
                      leaks, "entries", QStringLiteral("0"));
    }

    searchFigure(dir, small, 20);
    searchFigure(dir, large, 2000);
    vault::forget();
    return 0;
}
