// Real processes against one database: killed in the middle of saving, and side by side.
#include "EntryBody.h"
#include "support/TempApp.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {
QString s(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QProcess* startChild(const QString& folder, const QStringList& args) {
    auto* p = new QProcess;
    p->setProgram(QString::fromUtf8(DIARY_CHILD));
    p->setArguments(QStringList{folder, s("writer")} + args);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(s("QT_QPA_PLATFORM"), s("offscreen"));
    p->setProcessEnvironment(env);
    p->start();
    return p;
}

QList<int> acknowledged(const QByteArray& out) {
    QList<int> acks;
    for (const QByteArray& line : out.split('\n'))
        if (line.startsWith("ACK "))
            acks << line.mid(4).toInt();
    return acks;
}
} // namespace

class Processes : public TempApp {
protected:
    // Checks that entry (tag, n) is stored once and whole.
    void expectWhole(const QString& tag, int n) {
        const QString title = QStringLiteral("%1-%2").arg(tag).arg(n);
        ASSERT_EQ(count(s("select count(*) from JR_content where B_title='%1'").arg(title)), 1)
            << title.toStdString();
        EXPECT_EQ(
            scalar(s("select B_content from JR_content where B_title='%1'").arg(title)).toString(),
            entryBody(tag, n));
    }
};

TEST_F(Processes, KilledWhileSavingLosesNoAcknowledgedEntry) {
    QRandomGenerator rng(20261206);
    int acked = 0, killedMidway = 0;
    for (int run = 0; run < 200; ++run) {
        const QString tag = s("k%1").arg(run);
        std::unique_ptr<QProcess> p(startChild(dir.path(), {s("save"), s("100000"), tag}));
        ASSERT_TRUE(p->waitForStarted());
        // Start-up time varies with the machine's load: count from the first acknowledged save,
        // so the kill lands among the saves rather than before them.
        p->waitForReadyRead(30000);
        QThread::msleep(rng.bounded(60));
        ::kill(pid_t(p->processId()), SIGKILL);
        p->waitForFinished();
        const QByteArray out = p->readAllStandardOutput();
        EXPECT_FALSE(out.contains("BOX")) << out.toStdString();
        const QList<int> acks = acknowledged(out);
        killedMidway += acks.isEmpty() ? 0 : 1;
        for (int n : acks)
            expectWhole(tag, n);
        acked += int(acks.size());
        // An entry saved but not yet acknowledged may or may not be there; never torn.
        const int stored =
            count(s("select count(*) from JR_content where B_title like '%1-%'").arg(tag));
        EXPECT_LE(stored - int(acks.size()), 1);
        ASSERT_EQ(scalar(s("pragma integrity_check")).toString(), s("ok")) << "run " << run;
    }
    EXPECT_GT(acked, 200);
    EXPECT_GT(killedMidway, 100);
    RecordProperty("acknowledged", acked);
}

TEST_F(Processes, TwoCopiesSaveWhileAThirdSearches) {
    std::unique_ptr<QProcess> a(startChild(dir.path(), {s("save"), s("500"), s("a")}));
    std::unique_ptr<QProcess> b(startChild(dir.path(), {s("save"), s("500"), s("b")}));
    std::unique_ptr<QProcess> c(startChild(dir.path(), {s("search"), s("60")}));
    for (QProcess* p : {a.get(), b.get(), c.get()}) {
        ASSERT_TRUE(p->waitForFinished(8 * 60 * 1000));
        const QByteArray out = p->readAllStandardOutput();
        EXPECT_EQ(p->exitCode(), 0) << out.toStdString() << p->readAllStandardError().toStdString();
        EXPECT_FALSE(out.contains("BOX")) << out.toStdString();
        EXPECT_TRUE(out.contains("DONE 0"));
    }
    EXPECT_EQ(count(s("select count(*) from JR_content")), 1000);
    for (const char* tag : {"a", "b"})
        for (int n = 1; n <= 500; n += 7)
            expectWhole(s(tag), n);
    EXPECT_EQ(scalar(s("pragma integrity_check")).toString(), s("ok"));
}
