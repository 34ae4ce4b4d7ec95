// The diary in a broken environment: its database missing, empty, damaged, read-only, in a
// folder without write access, locked by another process, or taken away under an open window.
// Each time a clear message naming the file, nothing typed or stored lost, and work goes on
// once the cause is gone.
//
// Root ignores file permissions, so when the suite is started as root it runs as nobody.
#include "support/Apps.h"

#include "data/myClass.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cstdlib>
#include <filesystem>
#include <grp.h>
#include <sqlite3.h>
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

// Another process holding the write lock until release() is called.
struct LockHolder {
    pid_t pid = -1;
    int ready[2] = {-1, -1}, go[2] = {-1, -1};
    void hold(const QString& path) {
        ASSERT_TRUE(pipe(ready) == 0 && pipe(go) == 0);
        const QByteArray file = QFile::encodeName(path);
        if ((pid = fork()) == 0) {
            sqlite3* db = nullptr;
            char byte = 0;
            if (sqlite3_open(file.constData(), &db) != SQLITE_OK ||
                sqlite3_exec(db,
                             "PRAGMA journal_mode=WAL; begin exclusive; insert into "
                             "JR_content(B_title) values('holder')",
                             nullptr, nullptr, nullptr) != SQLITE_OK ||
                write(ready[1], "x", 1) != 1 || read(go[0], &byte, 1) != 1)
                _exit(1);
            _exit(sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : 3);
        }
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
    }
    void release() {
        int status = 0;
        ASSERT_EQ(::write(go[1], "x", 1), 1);
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        for (int fd : {ready[0], ready[1], go[0], go[1]})
            close(fd);
    }
};

} // namespace

class BrokenEnvironment : public DiaryApp {
protected:
    void SetUp() override {
        ASSERT_TRUE(asOrdinaryUser);
        DiaryApp::SetUp();
        addUser(u"alice"_s, u"alice-pw"_s);
        // Enough text for a file of many pages, so a cut one loses some of them.
        for (int i = 0; i < 40; ++i)
            addEntry(u"旧日记%1"_s.arg(i), u"alice"_s, u"2024-3-1 8:00:00"_s,
                     QString(2000, QChar(u'字')));
        good = fileBytes();
    }
    void TearDown() override {
        chmod(dir.path(), 0700);
        chmod(dir.filePath(u"data"_s), 0700);
        DiaryApp::TearDown();
    }
    void putBack() {
        QFile::remove(dbPath());
        writeFile(dbPath(), good);
    }
    QByteArray onDisk() const {
        QFile f(dbPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The one box since the last look: a database error naming the file and the cause.
    void expectDatabaseBox(const QString& cause) {
        std::erase_if(dialogs->boxes, [](const fake::Box& b) { return b.kind == fake::Box::Ask; });
        ASSERT_EQ(dialogs->boxes.size(), 1u) << takeTexts().join(u" | "_s).toStdString();
        const fake::Box box = dialogs->last();
        dialogs->boxes.clear();
        EXPECT_EQ(box.title, u"错误"_s);
        EXPECT_EQ(box.icon, app::Icon::Critical);
        EXPECT_TRUE(box.text.contains(cause)) << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QDir::toNativeSeparators(dbPath())));
    }
    void expectNoBox() {
        EXPECT_TRUE(dialogs->boxes.empty()) << takeTexts().join(u"|"_s).toStdString();
    }

    frmLogin* tryLogin() {
        auto* login = qobject_cast<frmLogin*>(app::load(app::FormId::Login));
        app::show(login);
        type(login->txtUserName, u"alice"_s);
        type(login->txtPassword, u"alice-pw"_s);
        click(login->cmdOK);
        settle();
        return login;
    }
    // "保存日记" in a writing window holding a new entry: the window while it is still open
    // (the save failed, the text is kept), null once the browsing window took its place.
    frmWrite* tryWrite(frmWrite* write) {
        if (!write) {
            write = openWrite();
            retype(write->B_Title_text, u"今天"_s);
            type(write->B_Content_text, kText);
        }
        click(write->saveComm);
        settle();
        if (app::loaded(app::FormId::Write) != write)
            return nullptr;
        EXPECT_EQ(write->B_Content_text->toPlainText(), kText);
        return write;
    }
    // Entries holding `content`, read through the program's own record set: sealed once
    // alice has logged in.
    static int stored(const QString& content) {
        myClass d;
        d.OpenData();
        d.rs().Open(u"select * from JR_content"_s, d.ocn());
        int n = 0;
        for (; !d.rs().eof(); d.rs().MoveNext())
            n += d.rs().Fields(u"B_content"_s).toString() == content;
        return n;
    }
    static void closeAll() {
        for (app::FormId id : {app::FormId::Login, app::FormId::Write, app::FormId::Look})
            while (QWidget* w = app::loaded(id)) {
                app::unload(w);
                settle();
            }
        frmLogin::resetRun();
    }

    QByteArray good;
};

// Each fault on its own file: what the login, the writing and the browsing windows say, that
// the file is left as it was, and that the same windows work once the cause is gone.
TEST_F(BrokenEnvironment, EachFaultGivesItsCauseAndWorkResumesOnceItIsGone) {
    QByteArray random(64 * 1024, Qt::Uninitialized);
    QRandomGenerator gen(7);
    for (char& c : random)
        c = char(gen.bounded(256));
    const QString data = dir.filePath(u"data"_s);
    LockHolder holder;
    struct Fault {
        const char* name;
        std::function<void()> apply, remove;
        QString cause;
        bool reads; // logging in and searching still work
    };
    const std::vector<Fault> faults = {
        {"missing", [&] { QFile::remove(dbPath()); }, {}, u"文件不存在"_s, false},
        {"empty", [&] { writeFile(dbPath(), {}); }, {}, u"缺少数据表"_s, false},
        {"random bytes", [&] { writeFile(dbPath(), random); }, {}, u"不是有效的数据库"_s, false},
        {"cut short",
         [&] { writeFile(dbPath(), good.left(good.size() / 3)); },
         {},
         u"已损坏"_s,
         false},
        {"read-only", [&] { chmod(dbPath(), 0444); }, [&] { chmod(dbPath(), 0644); }, u"只读"_s,
         true},
        {"folder not writable", [&] { chmod(data, 0500); }, [&] { chmod(data, 0700); },
         u"文件夹不可写"_s, false},
        {"locked", [&] { holder.hold(dbPath()); }, [&] { holder.release(); }, u"占用"_s, true},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        putBack();
        f.apply();
        const QByteArray damaged = onDisk();

        frmLogin* login = tryLogin();
        if (f.reads) {
            expectNoBox();
            closeAll();
        } else {
            expectDatabaseBox(f.cause);
            EXPECT_EQ(login->txtUserName->text(), u"alice"_s);
        }
        frmWrite* write = tryWrite(nullptr);
        ASSERT_NE(write, nullptr);
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
        EXPECT_EQ(onDisk(), damaged); // nothing written into a file that is not the diary
        EXPECT_EQ(QFile::exists(dbPath()), f.name != std::string("missing"));

        f.remove ? f.remove() : putBack();
        if (f.reads) {
            click(browse->saveComm);
            EXPECT_EQ(takeTexts().size(), 2);
        }
        search(browse, 2);
        expectNoBox();
        EXPECT_GE(found(browse), 40);
        EXPECT_EQ(tryWrite(write), nullptr);
        EXPECT_EQ(takeTexts(), QStringList{u"添加完成！"_s});
        EXPECT_EQ(stored(kText), 1);
        if (!f.reads) {
            click(login->cmdOK);
            expectNoBox();
            EXPECT_EQ(app::loaded(app::FormId::Login), nullptr);
        }
        closeAll();
    }
    EXPECT_EQ(count(u"select count(*) from JR_content where B_title='holder'"_s), 1);

    // An application folder without write access is no obstacle.
    chmod(dir.path(), 0500);
    tryLogin();
    expectNoBox();
    EXPECT_EQ(tryWrite(nullptr), nullptr);
    EXPECT_EQ(stored(kText), 2);
}

// Taken away during an edit: "保存" and "查询" say so and keep the edit; put back from a copy,
// it is another file, and the old result does not write into it.
TEST_F(BrokenEnvironment, AFileTakenAwayUnderAnOpenResultIsNeitherRecreatedNorWrittenLater) {
    frmLook* browse = openLook();
    search(browse, 2);
    click(browse->modifyComm);
    retype(browse->txt_title, u"文件不在时的修改"_s);
    ASSERT_TRUE(QFile::remove(dbPath()));
    click(browse->saveComm);
    expectDatabaseBox(u"文件不存在"_s);
    click(browse->queryComm);
    expectDatabaseBox(u"文件不存在"_s);
    EXPECT_EQ(browse->txt_title->text(), u"文件不在时的修改"_s);
    EXPECT_FALSE(QFile::exists(dbPath()));

    putBack();
    click(browse->saveComm);
    EXPECT_EQ(takeTexts(), (QStringList{u"真的要修改吗?"_s, u"数据库文件已更换，请重新查询"_s}));
    EXPECT_EQ(browse->txt_title->text(), u"文件不在时的修改"_s);
    EXPECT_EQ(count(u"select count(*) from JR_content where B_title='文件不在时的修改'"_s), 0);
}
