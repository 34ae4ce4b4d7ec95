// A million sealed entries: "查询" of all, a title search matching 1 % and a date search, each
// beside the same condition asked straight of SQLite (count and first row) over the same rows
// kept plain in a file of their own; one ">" step in the middle; and the record set's memory
// per row. The databases are built here, in a temporary folder, the measured one through the
// program. An optional argument sets the number of entries.
#include "diary_bench.h"

#include "diary/frmLook.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cstdlib>
#include <malloc.h>
#include <sqlite3.h>

namespace {

void check(int rc, sqlite3* h, const char* what) {
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW)
        return;
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(h));
    std::exit(1);
}

const QDate kFirstDay(2021, 1, 1);
constexpr int kDays = 1096;

QDate dayOf(long long i, long long n) {
    return kFirstDay.addDays(i * kDays / n);
}

const QString kWriters[] = {QStringLiteral("bench"), QStringLiteral("li"), QStringLiteral("wang"),
                            QStringLiteral("zhang")};

// Entry `i` of `n`: about 300 characters, by four writers, spread over three years; every
// hundredth title holds "灯塔".
struct Row {
    QString title, weather, content, writer, time;
};
Row rowOf(int i, int n) {
    static const QString weathers[] = {QStringLiteral("晴"), QStringLiteral("阴天"),
                                       QStringLiteral("多云"), QStringLiteral("雨"),
                                       QStringLiteral("雪")};
    const QDate d = dayOf(i - 1, n);
    const int sec = int((i * 7919LL) % 86400);
    const QString time = QStringLiteral("%1-%2-%3 %4:%5:%6")
                             .arg(d.year())
                             .arg(d.month())
                             .arg(d.day())
                             .arg(sec / 3600)
                             .arg(sec / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(sec % 60, 2, 10, QLatin1Char('0'));
    return {bench::titleOf(i), weathers[i % 5], bench::contentOf(i, 250, 350), kWriters[i % 4],
            time};
}

// The measured file: every entry sealed by the program with its writer's key.
void buildSealed(const bench::Database& db, int n) {
    for (const QString& w : kWriters)
        if (w != kWriters[0]) // "bench" is added when he logs in
            db.addUser(w);
    bench::Filler fill(db);
    for (int i = 1; i <= n; ++i) {
        const Row r = rowOf(i, n);
        fill.add(i, r.title, r.weather, r.content, r.writer, r.time);
    }
}

// The same rows as plain text in a legacy file of their own, written straight by the engine:
// what the direct queries compare against.
void buildDirect(const QString& path, int n) {
    sqlite3* h = nullptr;
    check(sqlite3_open_v2(path.toUtf8().constData(), &h, SQLITE_OPEN_READWRITE, nullptr), h,
          "open");
    check(sqlite3_exec(h,
                       "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; "
                       "PRAGMA cache_size=-65536; BEGIN",
                       nullptr, nullptr, nullptr),
          h, "prepare the load");
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(h,
                             "insert into JR_content(ID,B_title,B_weather,B_content,B_writer,"
                             "B_time) values(?,?,?,?,?,?)",
                             -1, &st, nullptr),
          h, "insert");
    for (int i = 1; i <= n; ++i) {
        const Row r = rowOf(i, n);
        sqlite3_bind_int64(st, 1, i);
        int col = 2;
        for (const QString* v : {&r.title, &r.weather, &r.content, &r.writer, &r.time}) {
            const QByteArray b = v->toUtf8();
            sqlite3_bind_text(st, col++, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        }
        check(sqlite3_step(st), h, "insert a row");
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    check(sqlite3_exec(h, "COMMIT; PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr), h,
          "commit");
    sqlite3_close(h);
}

// The same condition asked straight of SQLite: the count, and the first row read whole.
struct Direct {
    sqlite3* h = nullptr;
    long long count = 0;
    explicit Direct(const QString& path) {
        check(sqlite3_open_v2(path.toUtf8().constData(), &h, SQLITE_OPEN_READONLY, nullptr), h,
              "open");
    }
    ~Direct() { sqlite3_close(h); }

    double run(const QString& where) {
        const auto t0 = bench::Clock::now();
        const QString w = where.isEmpty() ? QString() : QStringLiteral(" where ") + where;
        sqlite3_stmt* st = nullptr;
        const QByteArray c = (QStringLiteral("select count(*) from JR_content") + w).toUtf8();
        check(sqlite3_prepare_v2(h, c.constData(), -1, &st, nullptr), h, "count");
        check(sqlite3_step(st), h, "count");
        count = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
        const QByteArray f =
            (QStringLiteral("select * from JR_content") + w + QStringLiteral(" limit 1")).toUtf8();
        check(sqlite3_prepare_v2(h, f.constData(), -1, &st, nullptr), h, "first row");
        if (sqlite3_step(st) == SQLITE_ROW)
            for (int i = 0; i < sqlite3_column_count(st); ++i)
                sqlite3_column_text(st, i);
        sqlite3_finalize(st);
        return bench::msSince(t0);
    }

    // What any keyset costs: every matching key stepped out of SQLite, nothing kept.
    double stepKeys(const QString& where) {
        const auto t0 = bench::Clock::now();
        const QString w = where.isEmpty() ? QString() : QStringLiteral(" where ") + where;
        const QByteArray q = (QStringLiteral("select rowid from JR_content") + w).toUtf8();
        sqlite3_stmt* st = nullptr;
        check(sqlite3_prepare_v2(h, q.constData(), -1, &st, nullptr), h, "keys");
        long long n = 0;
        while (sqlite3_step(st) == SQLITE_ROW)
            n += sqlite3_column_int64(st, 0) != 0;
        sqlite3_finalize(st);
        if (n != count)
            std::fprintf(stderr, "stepped %lld keys, counted %lld\n", n, count);
        return bench::msSince(t0);
    }

    double readByKey(long long key) {
        const auto t0 = bench::Clock::now();
        sqlite3_stmt* st = nullptr;
        check(sqlite3_prepare_v2(h, "select * from JR_content where rowid=?", -1, &st, nullptr), h,
              "row");
        sqlite3_bind_int64(st, 1, key);
        if (sqlite3_step(st) == SQLITE_ROW)
            for (int i = 0; i < sqlite3_column_count(st); ++i)
                sqlite3_column_text(st, i);
        sqlite3_finalize(st);
        return bench::msSince(t0);
    }
};

std::size_t heapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

int shownCount(frmLook* look) {
    const QString t = look->Label6->text();
    return t.startsWith(QStringLiteral("共有记录数：")) ? t.mid(6).toInt() : 0;
}

} // namespace

int main(int argc, char** argv) {
    bench::useOffscreenByDefault();
    QApplication qapp(argc, argv);
    app::installChinese(qapp);
    const int rows = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 1000000;
    bench::Session s;
    // "bench" may search every writer's entries: he holds the administrator key.
    s.logIn(QStringLiteral("bench"), 1);

    auto t0 = bench::Clock::now();
    buildSealed(s.db, rows);
    bench::report(
        QStringLiteral("store %1 sealed entries through the program (not a target)").arg(rows),
        bench::msSince(t0) / 1000, "s");
    const bench::Database plain(s.dir.filePath(QStringLiteral("direct")), true);
    buildDirect(plain.path, rows);

    auto* look = qobject_cast<frmLook*>(app::load(app::FormId::Look));
    app::show(look);
    bench::settle();
    Direct direct(plain.path);

    const QDate day = dayOf(rows / 2, rows);
    const QString dayText =
        QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day());
    struct Search {
        QString name;
        int option;
        QLineEdit* box;
        QString text;
        QString where;
    };
    const Search searches[] = {
        {QStringLiteral("查询 all entries"), 2, nullptr, QString(), QString()},
        {QStringLiteral("查询 by title, 1 % of entries"), 3, look->txtQuerytitle,
         QStringLiteral("灯塔"), QStringLiteral("B_title LIKE '%灯塔%'")},
        {QStringLiteral("查询 by date, one day"), 0, look->txtQuerytime, dayText,
         QStringLiteral("(B_time LIKE '%1 %' or B_time='%1')").arg(dayText)},
    };
    for (const Search& q : searches) {
        look->optQueryType[q.option]->setChecked(true);
        if (q.box)
            q.box->setText(q.text);
        std::vector<double> mine, ref, keys;
        for (int round = 0; round < 4; ++round) {
            const auto t = bench::Clock::now();
            look->queryComm->click();
            const double ms = bench::msSince(t);
            const double d = direct.run(q.where);
            const double k = direct.stepKeys(q.where);
            if (shownCount(look) != direct.count) {
                std::fprintf(stderr, "%s: %d rows shown, %lld expected\n",
                             q.name.toUtf8().constData(), shownCount(look), direct.count);
                return 1;
            }
            if (round > 0) { // the first round warms the caches
                mine.push_back(ms);
                ref.push_back(d);
                keys.push_back(k);
            }
        }
        const double m = bench::median(mine), r = bench::median(ref);
        const QString name =
            QStringLiteral("%1 (%2 of %3 rows)").arg(q.name).arg(direct.count).arg(rows);
        bench::report(name, m, "ms", QStringLiteral("ratio <= 1.5"),
                      {QStringLiteral("direct SQLite count + first row"), r});
        // count(*) never hands out the keys; stepping them is the floor of any exact keyset.
        bench::report(
            q.name + QStringLiteral(", against every key stepped directly"), m, "ms",
            QStringLiteral("-"),
            {QStringLiteral("direct SQLite stepping the same keys"), bench::median(keys)});
    }

    // Memory: a result of every row, kept by the window, against an empty one.
    look->txtQuerytitle->setText(QStringLiteral("no title has this"));
    look->optQueryType[3]->setChecked(true);
    look->queryComm->click();
    malloc_trim(0);
    const std::size_t before = heapInUse();
    look->optQueryType[2]->setChecked(true);
    look->queryComm->click();
    const std::size_t after = heapInUse();
    const int count = shownCount(look);
    bench::report(QStringLiteral("record set memory per row (%1 rows)").arg(count),
                  count ? (double(after) - double(before)) / count : 0, "bytes",
                  QStringLiteral("< 16"));

    // One ">" in the middle of the million.
    ado::Recordset& rs = look->myrs.rs();
    const int middle = count / 2;
    while (rs.AbsolutePosition() < middle)
        rs.MoveNext();
    std::vector<double> steps, refSteps;
    for (int i = 0; i < 201; ++i) {
        const auto t = bench::Clock::now();
        look->commNext->click();
        steps.push_back(bench::msSince(t));
        refSteps.push_back(direct.readByKey(middle + i + 1));
    }
    bench::report(QStringLiteral("one > step at row %1 (median of 201)").arg(middle),
                  bench::median(steps), "ms", QStringLiteral("< 1"),
                  {QStringLiteral("direct SQLite row by key"), bench::median(refSteps)});
    return 0;
}
