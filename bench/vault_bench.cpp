// Sealed entries beside a legacy plain file (one from before keys), each in its own folder:
// the login check (one Argon2id run), saving one entry, the title and the text search over
// 3,650, 100,000 and a million entries of one writer (the first after login, and again), the first
// login after `revoke` (a new key, every entry sealed again, with its peak memory), and the raw
// bytes of the file and its log after 3,650 saves. Every entry is stored through the program's own
// path. Optional arguments: the smallest and the largest search size.
#include "Report.h"
#include "Sealed.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sodium.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

const QString kUser = QStringLiteral("bench");
const QString kWord = QStringLiteral("灯塔");

// An entry's text of 200 to 2,000 characters; one in a hundred speaks of the lighthouse.
QString textOf(int i) {
    QString t = bench::contentOf(i);
    if (i % 100 == 0)
        t.insert(t.size() / 2, kWord);
    return t;
}

// The sealed file and the legacy plain one, each with "bench" and `n` of his entries.
struct Pair {
    bench::Database sealed, plain;
    Pair(const QTemporaryDir& dir, const QString& name, int n)
        : sealed(dir.filePath(name + QStringLiteral("-sealed"))),
          plain(dir.filePath(name + QStringLiteral("-plain")), true) {
        for (const bench::Database* db : {&sealed, &plain}) {
            db->addUser(kUser);
            bench::Filler fill(*db);
            for (int i = 1; i <= n; ++i)
                fill.add(i, bench::titleOf(i), QStringLiteral("晴"), textOf(i), kUser,
                         QStringLiteral("2024-3-1 8:00:00"));
        }
    }
};

sql::Statement query(bool text) {
    return text ? sql::entriesByContent(kUser, kWord) : sql::entriesByTitle(kUser, kWord);
}

// Median time of the title (or text) search for "灯塔", through the record set; with keys,
// from what the session has opened already.
double search(ado::Connection& c, int* found, bool text = false) {
    std::vector<double> t;
    for (int i = 0; i < 5; ++i) {
        ado::Recordset rs;
        const auto t0 = Clock::now();
        rs.Open(query(text), c);
        t.push_back(msSince(t0));
        *found = rs.RecordCount();
    }
    return bench::median(t);
}

// The same condition as SQLite's own LIKE over the plain titles (or texts), every key stepped
// out.
double engineLike(const QString& path, int* found, bool text = false) {
    sqlite3* h = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h,
                       text ? "select ID from JR_content where B_writer=? and B_content LIKE ?"
                            : "select ID from JR_content where B_writer=? and B_title LIKE ?",
                       -1, &st, nullptr);
    const QByteArray pattern = (QLatin1Char('%') + kWord + QLatin1Char('%')).toUtf8();
    std::vector<double> t;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = Clock::now();
        sqlite3_bind_text(st, 1, "bench", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 2, pattern.constData(), int(pattern.size()), SQLITE_STATIC);
        int n = 0;
        while (sqlite3_step(st) == SQLITE_ROW)
            n += sqlite3_column_int64(st, 0) != 0;
        sqlite3_reset(st);
        t.push_back(msSince(t0));
        *found = n;
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    return bench::median(t);
}

void expectFound(const char* what, int found, int expected) {
    if (found != expected) {
        std::fprintf(stderr, "title search (%s) found %d, expected %d\n", what, found, expected);
        std::exit(1);
    }
}

// `revoke` as the tool runs it: a new administrator key pair, every escrow sealed to it, and
// its public key pinned before the file commits.
void revoke(const bench::Database& db) {
    ado::Connection c;
    vault::KeyRing ring;
    db.openAsAdministrator(c, ring);
    int unopened = 0;
    accounts::inTransaction(c, [&] {
        const vault::Bytes pk =
            vault::replaceAdminKeyPair(c.keyStore(), ring.adminKey(), db.recovery, &unopened);
        vault::writePinned(vault::adminPubPath(db.path), pk);
    });
    if (unopened)
        bench::Database::fail("an escrow did not open at the revocation");
}

long peakKb() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The first login after a revoke, in a process of its own: its peak memory (getrusage) starts
// at what the program holds when it forks, so the growth is the login's alone.
void rekeyFigures(const bench::Database& db, int n) {
    const pid_t child = ::fork();
    if (child == 0) {
        const long before = peakKb();
        ado::Connection again;
        vault::KeyRing keys;
        const auto t0 = Clock::now();
        db.logIn(again, keys, kUser);
        const double ms = msSince(t0);
        const long peak = peakKb();
        bench::report(
            QStringLiteral("first login after revoke (key replaced, %1 entries sealed again)")
                .arg(n),
            ms, "ms", n >= 1000000 ? QStringLiteral("<= 30000 ms") : QStringLiteral("-"));
        bench::report(
            QStringLiteral("peak memory of that login above the program before it (%1 entries)")
                .arg(n),
            double(peak - before) / 1024, "MB", QStringLiteral("<= 64 MB"),
            {QStringLiteral("the program before the login"), double(before) / 1024});
        int found = 0;
        search(again, &found);
        expectFound("sealed, after the new key", found, n / 100);
        std::fflush(stdout);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::exit(1);
}

// The text search beside the title search's figures: texts are opened on the first text search
// only, kept up to the session's cap, and opened afresh for each search past it.
void textFigures(const Pair& files, ado::Connection& sealed, vault::KeyRing& keys, int n) {
    const double target = n <= 3650 ? 30 : n <= 100000 ? 500 : 3000;
    std::vector<double> first;
    int found = 0;
    for (int i = 0; i < 3; ++i) {
        sealed.Close();
        files.sealed.logIn(sealed, keys, kUser);
        ado::Recordset rs;
        const auto t1 = Clock::now();
        rs.Open(query(true), sealed);
        first.push_back(msSince(t1));
        expectFound("text, first after login", rs.RecordCount(), n / 100);
    }
    const double again = search(sealed, &found, true);
    expectFound("text, again", found, n / 100);
    ado::Connection plain;
    bench::openOn(plain, files.plain.path);
    const double p = search(plain, &found, true);
    expectFound("text, legacy plain", found, n / 100);
    const double e = engineLike(files.plain.path, &found, true);
    expectFound("text, SQLite LIKE", found, n / 100);
    const QString figure = QStringLiteral("text search over %1 sealed entries").arg(n);
    bench::report(figure + QStringLiteral(", first after login (median of 3)"),
                  bench::median(first), "ms", QStringLiteral("<= %1 ms").arg(target),
                  {QStringLiteral("the same search over the legacy plain file"), p});
    bench::report(figure + QStringLiteral(", again (median of 5)"), again, "ms",
                  QStringLiteral("<= %1 ms").arg(target),
                  {QStringLiteral("SQLite LIKE over the plain texts"), e});
    const vault::Titles& kept = keys.contents();
    bench::report(
        QStringLiteral("opened texts kept for %1 entries (0: past the cap, none kept)").arg(n),
        double(kept.memory()) / (1024.0 * 1024.0), "MB",
        QStringLiteral("<= %1 MB").arg(kept.cap >> 20));
}

void searchFigures(const QTemporaryDir& dir, int n, double targetFirst, double targetAgain) {
    auto t0 = Clock::now();
    const Pair files(dir, QStringLiteral("search-%1").arg(n), n);
    bench::report(
        QStringLiteral("store %1 entries sealed and %1 plain through the program (not a target)")
            .arg(n),
        msSince(t0) / 1000, "s");
    ado::Connection plain, sealed;
    vault::KeyRing keys;
    bench::openOn(plain, files.plain.path);
    int foundPlain = 0, foundSealed = 0, foundEngine = 0;
    // The first search after a login opens every title; each sample logs in afresh.
    std::vector<double> first;
    for (int i = 0; i < 3; ++i) {
        sealed.Close();
        files.sealed.logIn(sealed, keys, kUser);
        ado::Recordset rs;
        const auto t1 = Clock::now();
        rs.Open(sql::entriesByTitle(kUser, kWord), sealed);
        first.push_back(msSince(t1));
        expectFound("sealed, first after login", rs.RecordCount(), n / 100);
    }
    const double s = search(sealed, &foundSealed);
    const double p = search(plain, &foundPlain);
    const double e = engineLike(files.plain.path, &foundEngine);
    expectFound("sealed", foundSealed, n / 100);
    expectFound("legacy plain", foundPlain, n / 100);
    expectFound("SQLite LIKE", foundEngine, n / 100);
    const QString figure = QStringLiteral("title search over %1 sealed entries").arg(n);
    bench::report(figure + QStringLiteral(", first after login (median of 3)"),
                  bench::median(first), "ms", QStringLiteral("<= %1 ms").arg(targetFirst),
                  {QStringLiteral("the same search over the legacy plain file"), p});
    bench::report(figure + QStringLiteral(", again (median of 5)"), s, "ms",
                  QStringLiteral("<= %1 ms").arg(targetAgain),
                  {QStringLiteral("SQLite LIKE over the plain titles"), e});
    bench::report(QStringLiteral("opened titles kept for %1 entries, per entry").arg(n),
                  double(keys.titles().memory()) /
                      double(std::max<std::size_t>(keys.titles().size(), 1)),
                  "bytes");
    textFigures(files, sealed, keys, n);

    sealed.Close();
    revoke(files.sealed);
    rekeyFigures(files.sealed, n);
}

// The entries whose title or text can be read in the file and its log: each marker ("标题N号",
// "正文第N篇") found, in one pass over the bytes.
int readable(const QString& path) {
    QByteArray raw;
    for (const QString& suffix : {QString(), QStringLiteral("-wal")}) {
        QFile f(path + suffix);
        if (f.open(QIODevice::ReadOnly))
            raw += f.readAll();
    }
    std::set<long long> found;
    for (const auto& [head, tail] : {std::pair{QStringLiteral("标题"), QStringLiteral("号")},
                                     std::pair{QStringLiteral("正文第"), QStringLiteral("篇")}}) {
        const QByteArray h = head.toUtf8(), t = tail.toUtf8();
        for (qsizetype at = raw.indexOf(h); at >= 0; at = raw.indexOf(h, at + 1)) {
            qsizetype end = at + h.size();
            while (end < raw.size() && raw[end] >= '0' && raw[end] <= '9')
                ++end;
            if (end > at + h.size() && raw.mid(end, t.size()) == t)
                found.insert(raw.mid(at + h.size(), end - at - h.size()).toLongLong());
        }
    }
    return int(found.size());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int small = argc > 1 ? std::max(100, std::atoi(argv[1])) : 3650;
    const int large = argc > 2 ? std::max(100, std::atoi(argv[2])) : 1000000;
    QTemporaryDir dir;

    // The login check at the real cost, beside the hash string it replaces.
    {
        const QString pw = bench::passwordOf(kUser);
        const auto [record, wrap] = accounts::newRecord(pw);
        const QString old = accounts::hashPassword(pw);
        std::vector<double> ours, before;
        for (int i = 0; i < 5; ++i) {
            auto t0 = Clock::now();
            if (!accounts::unlock(pw, record).ok)
                return 1;
            ours.push_back(msSince(t0));
            t0 = Clock::now();
            accounts::verifyPassword(pw, old);
            before.push_back(msSince(t0));
        }
        bench::report(QStringLiteral("login check, one Argon2id run (median of 5)"),
                      bench::median(ours), "ms", QStringLiteral("<= 150 ms"),
                      {QStringLiteral("crypto_pwhash_str_verify"), bench::median(before)});
    }
    // The rest at the lowest cost: only the sealing is measured.
    accounts::setPasswordCost(crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN);

    // 3,650 saves (ten years of one a day) into the sealed file and into the legacy one.
    {
        const int saves = 3650;
        const bench::Database sealedDb(dir.filePath(QStringLiteral("saves-sealed")));
        const bench::Database plainDb(dir.filePath(QStringLiteral("saves-plain")), true);
        sealedDb.addUser(kUser);
        plainDb.addUser(kUser);
        ado::Connection sealed, plain;
        vault::KeyRing keys;
        sealedDb.logIn(sealed, keys, kUser);
        bench::openOn(plain, plainDb.path);
        std::vector<double> tSealed, tPlain;
        for (int i = 0; i < saves; ++i) {
            const QString title = QStringLiteral("标题%1号").arg(i) + bench::titleOf(i).left(6);
            const QString text = QStringLiteral("正文第%1篇，").arg(i) + bench::contentOf(i);
            for (auto [c, t] : {std::pair{&sealed, &tSealed}, std::pair{&plain, &tPlain}}) {
                const auto t0 = Clock::now();
                c->Execute(sql::insertEntry(title, QStringLiteral("晴"), text, kUser));
                t->push_back(msSince(t0));
            }
        }
        bench::report(
            QStringLiteral("save one sealed entry (median of %1)").arg(saves),
            bench::median(tSealed), "ms", QStringLiteral("ratio <= 1.2"),
            {QStringLiteral("the same save into the legacy plain file"), bench::median(tPlain)});
        bench::report(
            QStringLiteral("entries readable in the file and -wal after %1 saves").arg(saves),
            readable(sealedDb.path), "entries", QStringLiteral("0"),
            {QStringLiteral("the legacy plain file"), double(readable(plainDb.path))});
    }

    searchFigures(dir, small, 10, 10);
    if (small < 100000 && large > 100000)
        searchFigures(dir, 100000, 1000, 100);
    searchFigures(dir, large, 1000, 100);
    return 0;
}
