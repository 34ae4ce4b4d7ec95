// The program in a broken environment: a database file missing, empty, damaged, read-only,
// locked, replaced under an open window; skin files broken; folders unwritable. Each time a
// clear message (or a quiet fallback for skins), nothing typed or stored lost, and work goes
// on once the cause is gone.
//
// Root ignores file permissions, so when the suite is started as root it runs as nobody.
#include "support/Apps.h"

#include "accounts/frmLogin.h"
#include "base/Module1.h"
#include "caption/JSCAPTION.h"
#include "data/ado.h"
#include "data/myClass.h"
#include "skin/SkinCache.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
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

const QString kSaved = u"添加完成！"_s;

void chmod(const QString& path, int mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0) << path.toStdString();
}

} // namespace

class BrokenEnvironment : public SkinnedApp {
protected:
    void SetUp() override {
        ASSERT_TRUE(asOrdinaryUser);
        SkinnedApp::SetUp();
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
        SkinnedApp::TearDown();
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
        EXPECT_TRUE(box.text.contains(QDir::toNativeSeparators(dbPath())))
            << box.text.toStdString();
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

    // A new entry typed into the writing window and "保存日记" clicked; returns the window
    // when it is still open (the save failed), null when the browsing window took its place.
    frmWrite* tryWrite(frmWrite* write) {
        if (!write) {
            write = openWrite();
            retype(write->B_Title_text, u"今天"_s);
            type(write->B_Content_text, u"一个字也不能丢"_s);
        }
        click(write->saveComm);
        settle();
        if (app::loaded(app::FormId::Write) != write)
            return nullptr;
        EXPECT_EQ(write->B_Title_text->text(), u"今天"_s);
        EXPECT_EQ(write->B_Content_text->toPlainText(), u"一个字也不能丢"_s);
        return write;
    }

    static void closeAll() {
        for (app::FormId id :
             {app::FormId::Login, app::FormId::Write, app::FormId::Look, app::FormId::Month})
            while (QWidget* w = app::loaded(id)) {
                app::unload(w);
                settle();
            }
    }

    QByteArray good;
};

// Each damage on its own file: what the login, the writing and the browsing windows say,
// that the file is left as it was, and that the same windows work once it is put back.
TEST_F(BrokenEnvironment, DamagedDatabaseFilesGiveTheirCauseAndWorkResumesWhenRestored) {
    QByteArray random(64 * 1024, Qt::Uninitialized);
    QRandomGenerator gen(7);
    for (char& c : random)
        c = char(gen.bounded(256));
    struct Damage {
        const char* name;
        std::function<void()> apply;
        QString cause;
        bool loginWorks;
    };
    const std::vector<Damage> damages = {
        {"missing", [&] { QFile::remove(dbPath()); }, u"文件不存在"_s, false},
        {"empty", [&] { writeFile(dbPath(), {}); }, u"缺少数据表"_s, false},
        {"random bytes", [&] { writeFile(dbPath(), random); }, u"不是有效的数据库"_s, false},
        {"entries table missing", [&] { exec(u"drop table JR_content"_s); }, u"缺少数据表"_s, true},
        {"cut short", [&] { writeFile(dbPath(), good.left(good.size() / 3)); }, u"已损坏"_s, false},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.name);
        putBack();
        d.apply();
        const QByteArray damaged = onDisk();

        frmLogin* login = tryLogin();
        if (d.loginWorks) {
            EXPECT_TRUE(dialogs->boxes.empty()) << takeTexts().join(u" | "_s).toStdString();
            EXPECT_EQ(app::loaded(app::FormId::Login), nullptr);
            closeAll();
        } else {
            expectDatabaseBox(d.cause);
            EXPECT_EQ(app::loaded(app::FormId::Login), login);
            EXPECT_EQ(login->txtUserName->text(), u"alice"_s);
        }

        frmWrite* write = tryWrite(nullptr);
        ASSERT_NE(write, nullptr);
        expectDatabaseBox(d.cause);
        frmLook* browse = openLook();
        click(browse->queryComm);
        expectDatabaseBox(d.cause);
        EXPECT_EQ(onDisk(), damaged); // nothing written into a file that is not the diary
        EXPECT_EQ(QFile::exists(dbPath()), d.name != std::string("missing"));

        putBack();
        click(browse->queryComm);
        EXPECT_TRUE(dialogs->boxes.empty()) << takeTexts().join(u" | "_s).toStdString();
        EXPECT_EQ(found(browse), 40);
        EXPECT_EQ(tryWrite(write), nullptr);
        EXPECT_EQ(takeTexts(), QStringList{kSaved});
        EXPECT_EQ(count(u"select count(*) from JR_content where B_content='一个字也不能丢'"_s), 1);
        if (!d.loginWorks) {
            click(login->cmdOK);
            EXPECT_TRUE(dialogs->boxes.empty()) << takeTexts().join(u" | "_s).toStdString();
            EXPECT_EQ(app::loaded(app::FormId::Login), nullptr);
        }
        closeAll();
        frmLogin::resetRun();
    }
}

// A browsing window keeps its connection between searches. When the file is restored from
// a copy or taken away, it must follow the file by its name: searching and editing a file
// that is no longer the diary would show stale entries and send edits nowhere.
TEST_F(BrokenEnvironment, AnOpenBrowsingWindowFollowsTheFileWhenItIsReplacedOrRemoved) {
    frmLook* browse = openLook();
    search(browse, 2);
    ASSERT_EQ(found(browse), 40);

    const QString copy = dir.filePath(u"copy.mdb"_s);
    writeFile(copy, good);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(copy).constData(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "delete from JR_content where ID>1", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    ASSERT_EQ(
        ::rename(QFile::encodeName(copy).constData(), QFile::encodeName(dbPath()).constData()), 0);
    click(browse->queryComm);
    EXPECT_TRUE(dialogs->boxes.empty()) << takeTexts().join(u" | "_s).toStdString();
    EXPECT_EQ(found(browse), 1);
    click(browse->modifyComm);
    retype(browse->txt_title, u"改在新文件里"_s);
    click(browse->saveComm);
    EXPECT_EQ(takeTexts(), (QStringList{u"真的要修改吗?"_s, u"成功修改了记录号为1的日记"_s}));
    EXPECT_EQ(scalar(u"select B_title from JR_content where ID=1"_s).toString(), u"改在新文件里"_s);

    // Gone while an edit is in progress: the save and a search say so; the edit survives
    // both and goes in once the file is back.
    ASSERT_TRUE(QFile::remove(dbPath()));
    click(browse->modifyComm);
    retype(browse->txt_title, u"文件不在时的修改"_s);
    click(browse->saveComm);
    expectDatabaseBox(u"文件不存在"_s);
    click(browse->queryComm);
    expectDatabaseBox(u"文件不存在"_s);
    EXPECT_EQ(browse->txt_title->text(), u"文件不在时的修改"_s);
    EXPECT_FALSE(QFile::exists(dbPath()));

    // Put back from a copy, it is another file: the old result does not write into it.
    putBack();
    click(browse->saveComm);
    EXPECT_EQ(takeTexts(), (QStringList{u"真的要修改吗?"_s, u"数据库文件已更换，请重新查询"_s}));
    EXPECT_EQ(browse->txt_title->text(), u"文件不在时的修改"_s);
    EXPECT_NE(scalar(u"select B_title from JR_content where ID=1"_s).toString(),
              u"文件不在时的修改"_s);
}

// Permissions, checked as an ordinary user: a read-only file still serves searches and
// refuses saves, a folder without write access refuses the database, an unwritable
// application folder is no obstacle; each refusal keeps what was typed and ends as soon
// as the permission is back.
TEST_F(BrokenEnvironment, PermissionsRefuseClearlyAndWorkResumesWhenGranted) {
    const QString data = dir.filePath(u"data"_s);
    chmod(dbPath(), 0444);
    frmWrite* write = tryWrite(nullptr);
    ASSERT_NE(write, nullptr);
    expectDatabaseBox(u"只读"_s);
    frmLook* browse = openLook();
    search(browse, 2);
    EXPECT_EQ(found(browse), 40);
    click(browse->modifyComm);
    retype(browse->txt_title, u"只读时的修改"_s);
    click(browse->saveComm);
    expectDatabaseBox(u"只读"_s);
    EXPECT_EQ(browse->txt_title->text(), u"只读时的修改"_s);
    chmod(dbPath(), 0644);
    click(browse->saveComm);
    EXPECT_EQ(takeTexts().size(), 2);
    EXPECT_EQ(count(u"select count(*) from JR_content where B_title='只读时的修改'"_s), 1);
    closeAll();

    chmod(data, 0500);
    write = tryWrite(nullptr);
    ASSERT_NE(write, nullptr);
    expectDatabaseBox(u"文件夹不可写"_s);
    chmod(data, 0700);
    EXPECT_EQ(tryWrite(write), nullptr);
    EXPECT_EQ(takeTexts(), QStringList{kSaved});
    closeAll();

    chmod(dir.path(), 0500);
    frmLogin* login = tryLogin();
    Q_UNUSED(login);
    EXPECT_TRUE(dialogs->boxes.empty()) << takeTexts().join(u" | "_s).toStdString();
    EXPECT_EQ(tryWrite(nullptr), nullptr);
    EXPECT_EQ(takeTexts(), QStringList{kSaved});
    // Sealed since alice logged in: read back through the program's own record set.
    myClass d;
    d.OpenData();
    d.rs().Open(u"select * from JR_content"_s, d.ocn());
    int kept = 0;
    for (; !d.rs().eof(); d.rs().MoveNext())
        kept += d.rs().Fields(u"B_content"_s).toString() == u"一个字也不能丢"_s;
    EXPECT_EQ(kept, 2);
}

// Another program holding the write lock: searches go on, a save waits a while and then
// says the database is busy, keeping the text; once the lock is let go the save goes in.
TEST_F(BrokenEnvironment, ALockHeldByAnotherProcessDelaysSavesButLosesNothing) {
    ado::setBusyTimeout(5000); // the real wait, once in the suite
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const QByteArray path = QFile::encodeName(dbPath());
    const pid_t holder = fork();
    if (holder == 0) {
        sqlite3* db = nullptr;
        char byte = 0;
        if (sqlite3_open(path.constData(), &db) != SQLITE_OK ||
            sqlite3_exec(db,
                         "PRAGMA journal_mode=WAL; begin exclusive; "
                         "insert into JR_content(B_title) values('holder')",
                         nullptr, nullptr, nullptr) != SQLITE_OK)
            _exit(1);
        if (write(ready[1], "x", 1) != 1 || read(release[0], &byte, 1) != 1)
            _exit(2);
        _exit(sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : 3);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);

    frmLook* browse = openLook();
    search(browse, 2);
    EXPECT_EQ(found(browse), 40);
    frmWrite* write = tryWrite(nullptr);
    ASSERT_NE(write, nullptr);
    expectDatabaseBox(u"占用"_s);

    ASSERT_EQ(::write(release[1], "x", 1), 1);
    int status = 0;
    waitpid(holder, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(tryWrite(write), nullptr);
    EXPECT_EQ(takeTexts(), QStringList{kSaved});
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 42);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        close(fd);
}

// A broken default skin leaves the windows plain but working; a good one put in its place
// is worn by the next window at once.
TEST_F(BrokenEnvironment, BrokenDefaultSkinsFallBackQuietlyUntilRepaired) {
    QFile good16(defaultSkin);
    ASSERT_TRUE(good16.open(QIODevice::ReadOnly));
    const QByteArray skinBytes = good16.readAll();
    good16.close();
    QByteArray random(4096, Qt::Uninitialized);
    QRandomGenerator gen(11);
    for (char& c : random)
        c = char(gen.bounded(256));
    for (const QByteArray& broken : {skinBytes.left(skinBytes.size() / 2), random, QByteArray()}) {
        writeFile(defaultSkin, broken);
        frmWrite* write = tryWrite(nullptr);
        EXPECT_EQ(write, nullptr);
        EXPECT_EQ(takeTexts(), QStringList{kSaved});
        ASSERT_NE(look(), nullptr);
        EXPECT_EQ(look()->JSCAPTION1->height(), 0);
        closeAll();
    }
    writeFile(defaultSkin, skinBytes);
    for (diary::SkinnedForm* form : openBoth())
        EXPECT_EQ(skinOf(form), u"16"_s);
}
