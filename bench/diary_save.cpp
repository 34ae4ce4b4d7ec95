// Saving one sealed entry from the writing window (up to its confirmation, so the durable
// commit is inside), beside the same insert done straight on SQLite into a legacy plain file in
// a folder of its own; and opening the browser.
#include "diary_bench.h"

#include "diary/DraftKeeper.h"
#include "diary/frmWrite.h"
#include "vault/KeyRing.h"

#include <QEventLoop>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <sqlite3.h>

namespace {

QString entryText(int n) {
    QString t = QStringLiteral("今天去公园散步，天气很好。The walk took an hour; ");
    while (t.size() < 300)
        t += QStringLiteral("记下第%1条。").arg(n);
    return t.left(300);
}

// The statement the window sends, with the texts plain, on a connection opened and closed
// around it, as the window does.
double directSave(const QString& db, int n) {
    const auto t0 = bench::Clock::now();
    sqlite3* h = nullptr;
    sqlite3_open_v2(db.toUtf8().constData(), &h, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(h, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h,
                       "insert into JR_content(B_title,B_weather,B_content,B_writer) "
                       "values(?,?,?,?)",
                       -1, &st, nullptr);
    const QByteArray title = QStringLiteral("标题").toUtf8();
    const QByteArray weather = QStringLiteral("晴").toUtf8();
    const QByteArray content = entryText(n).toUtf8();
    sqlite3_bind_text(st, 1, title.constData(), int(title.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 2, weather.constData(), int(weather.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 3, content.constData(), int(content.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 4, "bench", -1, SQLITE_STATIC);
    const int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    sqlite3_close(h);
    if (rc != SQLITE_DONE)
        std::fprintf(stderr, "direct insert failed: %d\n", rc);
    return bench::msSince(t0);
}

} // namespace

int main(int argc, char** argv) {
    bench::useOffscreenByDefault();
    QApplication qapp(argc, argv);
    app::installChinese(qapp);
    bench::Session s;
    s.logIn(QStringLiteral("bench"));
    const bench::Database plain(s.dir.filePath(QStringLiteral("direct")), true);
    // Optional arguments: the number of saves and of openings.
    const int kSaves = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int kOpens = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;

    std::vector<double> saves, direct;
    bench::Clock::time_point t0;
    double confirmedAfter = -1;
    s.dialogs->onMessage = [&](const QString& text) {
        if (text == QStringLiteral("添加完成！"))
            confirmedAfter = bench::msSince(t0);
    };
    for (int i = 0; i < kSaves; ++i) {
        auto* w = qobject_cast<frmWrite*>(app::load(app::FormId::Write));
        app::show(w);
        bench::settle();
        w->B_Content_text->setPlainText(entryText(i));
        confirmedAfter = -1;
        t0 = bench::Clock::now();
        w->saveComm->click();
        if (confirmedAfter < 0) {
            std::fprintf(stderr, "save %d was not confirmed\n", i);
            return 1;
        }
        saves.push_back(confirmedAfter);
        app::unload(app::loaded(app::FormId::Look));
        bench::settle();
        direct.push_back(directSave(plain.path, i));
    }
    const double mine = bench::median(saves), ref = bench::median(direct);
    bench::report(
        QStringLiteral("save one sealed entry (median of %1, durable commit)").arg(kSaves), mine,
        "ms", QStringLiteral("-"),
        {QStringLiteral("direct SQLite open+insert+close, plain file"), ref});

    std::vector<double> opens;
    for (int i = 0; i < kOpens; ++i) {
        auto* w = qobject_cast<frmWrite*>(app::load(app::FormId::Write));
        app::show(w);
        bench::settle();
        const auto t = bench::Clock::now();
        w->findNoteComm->click();
        // Shown and given its first paint.
        QCoreApplication::processEvents();
        opens.push_back(bench::msSince(t));
        app::unload(app::loaded(app::FormId::Look));
        bench::settle();
    }
    bench::report(QStringLiteral("open frmLook from frmWrite (median of %1)").arg(kOpens),
                  bench::median(opens), "ms");

    // A draft of 200 to 2,000 characters: from typing stopped to its durable write, and the
    // part of it on the window's thread (the sealing).
    diary::DraftKeeper::quietMs = 0;
    auto* w = qobject_cast<frmWrite*>(app::load(app::FormId::Write));
    app::show(w);
    std::vector<double> drafts, seals;
    const vault::Secret& key = *myClass::keys()->ownKey(QStringLiteral("bench"));
    for (int i = 0; i < kSaves; ++i) {
        QString text = entryText(i);
        while (text.size() < 200 + (i * 97) % 1800)
            text += entryText(i);
        QEventLoop loop;
        bool ok = false;
        const auto wrote = QObject::connect(w->draftKeeper(), &diary::DraftKeeper::wrote, &loop,
                                            [&](bool done) { ok = done, loop.quit(); });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        const auto t = bench::Clock::now();
        w->B_Content_text->setPlainText(text);
        loop.exec();
        QObject::disconnect(wrote);
        if (!ok) {
            std::fprintf(stderr, "draft %d was not written\n", i);
            return 1;
        }
        drafts.push_back(bench::msSince(t));
        const auto s0 = bench::Clock::now();
        vault::sealDraft(key, {QString(), QString(), text},
                         {QStringLiteral("bench"), vault::DraftKind::Write, 0, QString()});
        seals.push_back(bench::msSince(s0));
    }
    bench::report(
        QStringLiteral("draft write, typing stopped to durable (median of %1)").arg(kSaves),
        bench::median(drafts), "ms", QStringLiteral("<= 5"),
        {QStringLiteral("direct SQLite open+insert+close, plain file"), ref});
    bench::report(QStringLiteral("draft sealing on the window's thread (median of %1)").arg(kSaves),
                  bench::median(seals), "ms");
    return 0;
}
