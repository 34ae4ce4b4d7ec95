// Copies of the diary in child processes, against one database: killed in the middle of
// saving, and side by side.
#include "support/Apps.h"

#include "data/ado.h"

#include <QRandomGenerator>
#include <QThread>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// The text of entry n, so a reader can tell a whole entry from a torn one.
QString body(const QString& tag, int n) {
    QString b;
    for (int line = 0; line < 40; ++line)
        b += u"%1 第%2篇 第%3行 'quote' 😀\n"_s.arg(tag).arg(n).arg(line);
    return b;
}

// What a child wrote to its pipe until it ended.
QByteArray drain(int fd) {
    QByteArray out;
    char buf[4096];
    for (ssize_t k; (k = read(fd, buf, sizeof buf)) > 0;)
        out.append(buf, k);
    close(fd);
    return out;
}
} // namespace

class Processes : public DiaryApp {
protected:
    // A child of this process saving `n` entries through the writing window, or with no tag
    // searching n times; it writes "k " once the box of entry k is shown and "BOX " for any
    // unexpected box. Returns the read end of its pipe.
    int start(const QString& tag, int n, pid_t& pid) {
        int fds[2] = {-1, -1};
        if (pipe(fds) != 0 || (pid = fork()) != 0) {
            close(fds[1]);
            return fds[0];
        }
        ado::setBusyTimeout(10000); // the others' saves are waited for, as a user would
        int current = 0;
        dialogs->onBox = [&](const fake::Box& b) {
            if (b.text == u"没有查找满足条件的数据！"_s)
                return;
            const QByteArray said =
                b.text == u"添加完成！"_s ? QByteArray::number(current) + ' ' : QByteArray("BOX ");
            [[maybe_unused]] const ssize_t k = write(fds[1], said.data(), size_t(said.size()));
        };
        frmLook* searching = tag.isEmpty() ? openLook() : nullptr;
        for (current = 1; current <= n; ++current) {
            if (searching) {
                search(searching, 2);
                for (int step = 0; step < 20; ++step)
                    searching->commNext->click();
                continue;
            }
            frmWrite* w = openWrite();
            w->B_Title_text->setText(u"%1-%2"_s.arg(tag).arg(current));
            w->B_Content_text->setPlainText(body(tag, current));
            w->saveComm->click();
            if (QWidget* shown = look())
                app::unload(shown);
            settle();
        }
        _exit(0);
    }
    // Entry (tag, n) is stored once and whole.
    void expectWhole(const QString& tag, int n) {
        const QString where = u" from JR_content where B_title='%1-%2'"_s.arg(tag).arg(n);
        ASSERT_EQ(count(u"select count(*)"_s + where), 1) << tag.toStdString() << n;
        EXPECT_EQ(scalar(u"select B_content"_s + where).toString(), body(tag, n));
    }
};

TEST_F(Processes, KilledWhileSavingLosesNoAcknowledgedEntry) {
    QRandomGenerator rng(20261206);
    int acked = 0;
    const int runs = 25;
    for (int run = 0; run < runs; ++run) {
        const QString tag = u"k%1"_s.arg(run);
        pid_t pid = 0;
        const int fd = start(tag, 100000, pid);
        char first = 0;
        ASSERT_EQ(read(fd, &first, 1), 1); // the kill lands among the saves, not before them
        QThread::msleep(rng.bounded(40));
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        const QByteArray out = first + drain(fd);
        EXPECT_FALSE(out.contains("BOX")) << out.toStdString();
        const QList<QByteArray> acks = out.simplified().split(' ');
        for (const QByteArray& n : acks)
            expectWhole(tag, n.toInt());
        acked += int(acks.size());
        // An entry saved but not yet acknowledged may be there; none is torn.
        const int stored =
            count(u"select count(*) from JR_content where B_title like '%1-%'"_s.arg(tag));
        EXPECT_LE(stored - int(acks.size()), 1);
        ASSERT_EQ(scalar(u"pragma integrity_check"_s).toString(), u"ok"_s) << "run " << run;
    }
    EXPECT_GT(acked, 2 * runs);
}

TEST_F(Processes, TwoCopiesSaveWhileAThirdSearches) {
    pid_t pids[3];
    const int fds[] = {start(u"a"_s, 100, pids[0]), start(u"b"_s, 100, pids[1]),
                       start(QString(), 30, pids[2])};
    for (int i = 0; i < 3; ++i) {
        int status = 0;
        const QByteArray out = drain(fds[i]);
        waitpid(pids[i], &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_FALSE(out.contains("BOX")) << out.toStdString();
    }
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 200);
    for (const QString& tag : {u"a"_s, u"b"_s})
        for (int n = 1; n <= 100; n += 7)
            expectWhole(tag, n);
    EXPECT_EQ(scalar(u"pragma integrity_check"_s).toString(), u"ok"_s);
}
