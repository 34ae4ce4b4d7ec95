// The diary with its database broken, shut or locked, beside a hostile neighbour, and in
// several processes at once, one of them killed: a clear message naming the file, nothing
// typed or stored lost, work going on once the cause is gone.
// Root ignores file permissions, so when the suite is started as root it runs as nobody.
#include "support/Support.h"

#include "data/ado.h"
#include "skin/SkinFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QThreadPool>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <grp.h>
#include <map>
#include <poll.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
char home[] = "/tmp/dayvault-env-XXXXXX";

const bool asOrdinaryUser = [] {
    if (geteuid() != 0)
        return true;
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0 || !mkdtemp(home))
        std::abort(); // permission checks would prove nothing
    setenv("HOME", home, 1);
    setenv("XDG_RUNTIME_DIR", home, 1);
    std::atexit([] { std::filesystem::remove_all(home); });
    return true;
}();

const QString kText = u"一个字也不能丢"_s;

void chmod(const QString& path, int mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0) << path.toStdString();
}

int modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// The text of entry n, long enough that a torn one is seen.
QString body(const QString& tag, int n) {
    return u"%1 第%2篇 'quote' 😀\n"_s.arg(tag).arg(n).repeated(40);
}

// Whether there is something to read within a minute; under load a child may be that slow.
bool ready(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 60000) == 1;
}

// What a child wrote to its pipe until it ended, or until it acknowledged `acks` saves.
QByteArray drain(int fd, qsizetype acks = -1) {
    QByteArray out;
    for (char c = 0; out.count(' ') != acks && ready(fd) && read(fd, &c, 1) == 1;)
        out += c;
    if (acks < 0)
        close(fd);
    return out;
}
} // namespace

class BrokenEnvironment : public DiaryApp {
protected:
    void SetUp() override {
        ASSERT_TRUE(asOrdinaryUser);
        DiaryApp::SetUp();
        // Enough text for a file of many pages, so a cut one loses some of them.
        for (int i = 0; i < 40; ++i)
            addEntry(u"旧日记%1"_s.arg(i), u"alice"_s, u"2024-3-1 8:00:00"_s,
                     QString(2000, QChar(u'字')));
        QFile file(dbPath()); // checkpointed whole at the last close
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        good = file.readAll();
    }
    void TearDown() override {
        chmod(dir.filePath(u"data"_s), 0700);
        DiaryApp::TearDown();
    }
    // The good file back, as a restore from a copy brings it: without the old log files.
    void putBack() {
        for (const QString& suffix : {QString(), u"-wal"_s, u"-shm"_s})
            QFile::remove(dbPath() + suffix);
        writeFile(dbPath(), good);
    }

    // The one box since the last look: a database error naming the file and the cause.
    void expectDatabaseBox(const QString& cause) {
        std::erase_if(dialogs->boxes, [](const fake::Box& b) { return b.kind == fake::Box::Ask; });
        ASSERT_EQ(dialogs->boxes.size(), 1u) << takeTexts().join(u" | "_s).toStdString();
        const fake::Box box = dialogs->last();
        dialogs->boxes.clear();
        EXPECT_TRUE(box.title == u"错误"_s && box.icon == app::Icon::Critical);
        EXPECT_TRUE(box.text.contains(cause) &&
                    box.text.contains(QDir::toNativeSeparators(dbPath())))
            << box.text.toStdString();
    }

    static void closeAll() {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        settle();
        frmLogin::resetRun();
    }

    QByteArray good;
};

// Each fault on its own file: what the login, the writing and the browsing windows say, that
// the file is left as it was, and that the same windows work once the cause is gone.
TEST_F(BrokenEnvironment, EachFaultGivesItsCauseAndWorkResumesOnceItIsGone) {
    const QString data = dir.filePath(u"data"_s);
    const auto put = [this](const QByteArray& bytes) {
        return [this, bytes] { writeFile(dbPath(), bytes); };
    };
    sqlite3* holder = nullptr; // a connection of its own, as another program would have
    const auto hold = [&] {
        sqlite3_open(QFile::encodeName(dbPath()).constData(), &holder);
        sqlite3_exec(holder, "begin exclusive", nullptr, nullptr, nullptr);
    };
    struct Fault {
        const char* name;
        std::function<void()> apply, remove;
        QString cause;
        bool reads; // logging in and searching still work
    };
    const std::vector<Fault> faults = {
        {"missing", [&] { QFile::remove(dbPath()); }, {}, u"文件不存在"_s, false},
        {"empty", put({}), {}, u"缺少数据表"_s, false},
        {"not a database", put(QByteArray(64 * 1024, 'x')), {}, u"不是有效的数据库"_s, false},
        {"cut short", put(good.left(good.size() / 3)), {}, u"已损坏"_s, false},
        {"read-only", [&] { chmod(dbPath(), 0444); }, [&] { chmod(dbPath(), 0644); }, u"只读"_s,
         true},
        {"folder not writable", [&] { chmod(data, 0500); }, [&] { chmod(data, 0700); },
         u"文件夹不可写"_s, false},
        {"locked", hold, [&] { sqlite3_close(holder); }, u"占用"_s, true},
        // Another account could write it: one person's file is refused, the server named.
        {"group-writable", [&] { chmod(dbPath(), 0664); }, [&] { chmod(dbPath(), 0644); },
         u"其他账户可以写入这个文件。日记文件只属于一个人"_s, false},
        {"folder others write", [&] { chmod(data, 01777); }, [&] { chmod(data, 0700); },
         u"dayvault-server"_s, false},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        putBack();
        f.apply();
        const QByteArray damaged = fileBytes();

        useLogin(u"alice"_s, u"alice-pw"_s);
        auto* login = qobject_cast<frmLogin*>(app::loaded(app::FormId::Login));
        if (f.reads) {
            EXPECT_EQ(takeTexts(), QStringList());
            closeAll();
            logIn(u"alice"_s); // the windows below stand for her session
        } else {
            expectDatabaseBox(f.cause);
            EXPECT_EQ(login->txtUserName->text(), u"alice"_s);
        }
        frmWrite* write = openWrite();
        type(write->B_Content_text, kText);
        click(write->saveComm);
        settle();
        ASSERT_EQ(app::loaded(app::FormId::Write), write);
        EXPECT_EQ(write->B_Content_text->toPlainText(), kText);
        expectDatabaseBox(f.cause);
        frmLook* browse = openLook();
        search(browse, 2);
        if (f.reads) {
            EXPECT_EQ(found(browse), 40);
            click(browse->modifyComm);
            retype(browse->txt_title, u"改过的"_s);
            click(browse->saveComm);
            EXPECT_EQ(browse->txt_title->text(), u"改过的"_s);
        }
        expectDatabaseBox(f.cause);
        EXPECT_EQ(fileBytes(), damaged); // nothing written into a file that is not the diary
        EXPECT_EQ(QFile::exists(dbPath()), f.name != std::string("missing"));

        f.remove ? f.remove() : putBack();
        if (!f.reads)
            logIn(u"alice"_s); // what the failed login would have done
        if (f.reads) {
            click(browse->saveComm);
            EXPECT_EQ(takeTexts().size(), 2);
        }
        click(write->saveComm);
        EXPECT_EQ(takeTexts(), QStringList{u"添加完成！"_s});
        search(browse, 2);
        EXPECT_EQ(takeTexts(), QStringList());
        EXPECT_EQ(found(browse), 41);
        if (!f.reads) {
            click(login->cmdOK);
            EXPECT_EQ(app::loaded(app::FormId::Login), nullptr);
        }
        closeAll();
    }
}

// A copy killed while its checkpoint copied the log back leaves the file shorter than its
// header says, the missing pages in the log: the diary opens whole. A log of an earlier round
// holds nothing, and the file stays refused.
TEST_F(BrokenEnvironment, AFileCutShortOpensOnlyWhenItsLogHoldsTheMissingPages) {
    for (const bool earlierRound : {false, true}) {
        putBack();
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(dbPath()).constData(), &db);
        // Every page into the log; closing then copies them back and removes the log.
        sqlite3_exec(db, "pragma wal_autocheckpoint=0; vacuum", nullptr, nullptr, nullptr);
        QFile wal(dbPath() + u"-wal"_s);
        ASSERT_TRUE(wal.open(QIODevice::ReadOnly));
        QByteArray log = wal.readAll();
        sqlite3_close(db);
        if (earlierRound)
            log[16] = char(log[16] ^ 1); // the header's salt no longer that of its frames
        writeFile(dbPath() + u"-wal"_s, log);
        writeFile(dbPath(), fileBytes().left(fileBytes().size() / 3));
        useLogin(u"alice"_s, u"alice-pw"_s);
        if (earlierRound) {
            expectDatabaseBox(u"已损坏"_s);
        } else {
            EXPECT_EQ(takeTexts(), QStringList());
            closeAll();
            logIn(u"alice"_s);
            frmLook* look = openLook();
            search(look, 2);
            EXPECT_EQ(found(look), 40);
            EXPECT_EQ(takeTexts(), QStringList());
        }
        closeAll();
    }
}

class Neighbour : public DiaryApp {};

// Whichever of ">", "保存" and "删除" comes first after another diary took the file's place
// says so once; none of them touches the other diary, the typed text stays, and "查询" then
// shows the new file. Before "保存" the file is gone a while: it is not made again, and the
// new file may be given the old one's inode number.
TEST_F(Neighbour, AResultStopsAtTheFileItWasFoundIn) {
    const QString kReplaced = u"数据库文件已更换，请重新查询"_s;
    const std::pair<const char*, QPushButton * frmLook::*> buttons[] = {
        {">", &frmLook::commNext}, {"保存", &frmLook::saveComm}, {"删除", &frmLook::DelComm}};
    for (const auto& [name, first] : buttons) {
        SCOPED_TRACE(name);
        exec(u"delete from JR_content"_s);
        addEntry(u"甲"_s, u"alice"_s, u"2024-3-1 8:00:00"_s, u"甲的内容"_s, 1);
        addEntry(u"乙"_s, u"alice"_s, u"2024-3-2 8:00:00"_s, u"乙的内容"_s, 2);
        frmLook* look = openLook();
        search(look, 2);
        click(look->modifyComm);
        retype(look->txt_title, u"正在改"_s);

        ASSERT_TRUE(QFile::remove(dbPath()));
        if (first == &frmLook::saveComm) {
            click(look->saveComm);
            EXPECT_TRUE(takeTexts().join(u"|"_s).contains(u"文件不存在"_s));
            EXPECT_FALSE(QFile::exists(dbPath()));
        }
        recovery = ado::createDatabase(dbPath()); // bob's entry under the same ID
        passwords.clear();
        logIn(u"alice"_s); // the keys of the old file open nothing in this one
        addEntry(u"鲍勃的"_s, u"bob"_s, u"2024-3-3 8:00:00"_s, u"别人的"_s, 1);
        addEntry(u"alice 新"_s, u"alice"_s, u"2024-3-4 8:00:00"_s, u"新文件"_s, 2);
        takeTexts();

        click(look->*first);
        EXPECT_EQ(takeTexts().count(kReplaced), 1);
        // A closed result changes nothing: saving and deleting ask for a new search.
        for (const auto& then : buttons)
            if (then.second != first && (look->*then.second)->isEnabled()) {
                click(look->*then.second);
                EXPECT_EQ(takeTexts().count(u"请重新查询"_s), then.second != &frmLook::commNext);
            }
        EXPECT_EQ(look->txt_title->text(), u"正在改"_s);
        EXPECT_EQ(column("B_title", 1), u"鲍勃的"_s);
        EXPECT_EQ(column("B_title", 2), u"alice 新"_s);
        search(look, 2);
        EXPECT_EQ(found(look), 1);
        EXPECT_EQ(look->txt_title->text(), u"alice 新"_s);
        app::unload(look);
        settle();
    }
}

// A link where a log file goes: the database is not opened, the user is told which file,
// and no file changes mode. A log file of ours more open than the database is narrowed.
TEST_F(Neighbour, LogFilesAreNeverFollowedNorMoreOpenThanTheDatabase) {
    const QString secret = dir.filePath(u"id_ed25519"_s);
    writeFile(secret, "private");
    chmod(secret, 0600);
    chmod(dbPath(), 0600);
    ado::Connection c;
    c.ConnectionString = u"data source="_s + dbPath();
    for (const QString& link : {dbPath() + u"-wal"_s, dbPath() + u"-shm"_s}) {
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(secret, link));
        try {
            c.Open();
            ADD_FAILURE() << "opened beside a link";
        } catch (const ado::Error& e) {
            EXPECT_TRUE(e.userText().startsWith(u"数据库旁有可疑的链接文件……"_s));
            EXPECT_TRUE(e.userText().contains(link)) << e.userText().toStdString();
        }
        EXPECT_EQ(modeOf(secret), 0600);
        EXPECT_EQ(modeOf(dbPath()), 0600);
        QFile::remove(link);
    }
    const QString wal = dbPath() + u"-wal"_s;
    writeFile(wal, {});
    chmod(wal, 0666);
    c.Open();
    EXPECT_EQ(modeOf(wal) & 0666, 0600);
    c.Close(); // kept, so nobody else ever makes it
    EXPECT_TRUE(QFile::exists(wal));
}

// Over the cap, a file is refused from its size alone: a sparse 3 GiB one costs no time
// and no memory. Under it, a device that claims less than it holds is still cut off.
TEST_F(Neighbour, ASkinFileOverTheCapIsRefusedUnread) {
    const QString huge = dir.filePath(u"huge.jss"_s);
    writeFile(huge, {});
    ASSERT_TRUE(QFile::resize(huge, qint64(3) << 30));
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_TRUE(skin::ReadSkinFile(huge).isEmpty());
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024); // KiB
    QByteArray bytes(100, 'x');
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    EXPECT_FALSE(skin::readAtMost(in, 99).has_value());
}

// Copies of the diary in child processes, against one database.
class Processes : public DiaryApp {
protected:
    // A child of this process saving `n` entries through the writing window, or with no tag
    // searching n times; it writes "k " once the box of entry k is shown and "BOX " for any
    // unexpected box. Returns the read end of its pipe.
    int start(const QString& tag, int n, pid_t& pid) {
        int fds[2] = {-1, -1};
        // Painting hands work to Qt's thread pools: a child would wait for threads that
        // stayed behind in the parent. They are let go first.
        for (QThreadPool* pool : qApp->findChildren<QThreadPool*>())
            pool->waitForDone();
        QThreadPool::globalInstance()->waitForDone();
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
                searching->MovelastComm->click();
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
    static void expectWhole(const std::multimap<QString, QString>& all, const QString& tag, int n) {
        const auto [from, to] = all.equal_range(u"%1-%2"_s.arg(tag).arg(n));
        ASSERT_EQ(std::distance(from, to), 1) << tag.toStdString() << n;
        EXPECT_EQ(from->second, body(tag, n));
    }
};

TEST_F(Processes, KilledWhileSavingLosesNoAcknowledgedEntry) {
    for (int run = 0; run < 25; ++run) {
        const QString tag = u"k%1"_s.arg(run);
        pid_t pid = 0;
        const int fd = start(tag, 100000, pid);
        // Killed after one to five acknowledged saves: at once, or once the next one writes.
        QByteArray out = drain(fd, run % 5 + 1);
        const int files = inotify_init1(IN_CLOEXEC);
        inotify_add_watch(files, QFile::encodeName(dir.filePath(u"data"_s)).constData(), IN_MODIFY);
        const bool wrote = run % 2 == 0 || ready(files);
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(files);
        ASSERT_TRUE(out.count(' ') > run % 5 && wrote)
            << "run " << run << ": " << out.toStdString();
        out += drain(fd);
        EXPECT_FALSE(out.contains("BOX")) << out.toStdString();
        const QList<QByteArray> acks = out.simplified().split(' ');
        const auto all = entries();
        for (const QByteArray& n : acks)
            expectWhole(all, tag, n.toInt());
        // An entry saved but not yet acknowledged may be there; none is torn.
        EXPECT_LE(std::count_if(all.begin(), all.end(),
                                [&](const auto& e) { return e.first.startsWith(tag + u'-'); }),
                  acks.size() + 1);
        ASSERT_EQ(scalar(u"pragma integrity_check"_s).toString(), u"ok"_s) << "run " << run;
    }
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
    const auto all = entries();
    for (const QString& tag : {u"a"_s, u"b"_s})
        for (int n = 1; n <= 100; n += 7)
            expectWhole(all, tag, n);
    EXPECT_EQ(scalar(u"pragma integrity_check"_s).toString(), u"ok"_s);
}
