// What another account on the same computer can do to a diary in use: replace its file
// under an open result, plant a link where the engine's log files go, or offer a skin file
// far larger than any skin. Run as an ordinary user, since root ignores file modes.
#include "DiaryApp.h"

#include "data/ado.h"
#include "skin/SkinFile.h"

#include <QBuffer>
#include <QFile>
#include <cstdlib>
#include <filesystem>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

char home[] = "/tmp/dayvault-neighbour-XXXXXX";

const bool asOrdinaryUser = [] {
    if (geteuid() != 0)
        return true;
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0 || !mkdtemp(home))
        std::abort(); // mode checks would prove nothing
    setenv("HOME", home, 1);
    std::atexit([] { std::filesystem::remove_all(home); });
    return true;
}();

int modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class Neighbour : public DiaryApp {
protected:
    void SetUp() override {
        ASSERT_TRUE(asOrdinaryUser);
        DiaryApp::SetUp();
    }
};

// Whichever of ">", "保存" and "删除" comes first after the swap says so once; none of them
// touches the other diary, the typed text stays, and "查询" then shows the new file.
TEST_F(Neighbour, AResultStopsAtTheFileItWasFoundIn) {
    for (QPushButton* frmLook::*first :
         {&frmLook::commNext, &frmLook::saveComm, &frmLook::DelComm}) {
        SCOPED_TRACE(first == &frmLook::commNext   ? ">"
                     : first == &frmLook::saveComm ? "save"
                                                   : "del");
        exec(u("delete from JR_content"));
        addEntry(u("甲"), u("alice"), u("2024-3-1 8:00:00"), u("甲的内容"), 1);
        addEntry(u("乙"), u("alice"), u("2024-3-2 8:00:00"), u("乙的内容"), 2);
        frmLook* look = openLook();
        search(look, 2);
        ASSERT_EQ(found(look), 2);
        click(look->modifyComm);
        retype(look->txt_title, u("正在改"));

        // Another diary put in its place, with bob's entry under the same ID.
        const QString other = dir.filePath(u("other.mdb"));
        QFile::remove(other);
        ado::createDatabase(other);
        const QString mine = dbPath();
        ASSERT_EQ(
            ::rename(QFile::encodeName(other).constData(), QFile::encodeName(mine).constData()), 0);
        addEntry(u("鲍勃的"), u("bob"), u("2024-3-3 8:00:00"), u("别人的"), 1);
        addEntry(u("alice 新"), u("alice"), u("2024-3-4 8:00:00"), u("新文件"), 2);
        takeTexts();

        click(look->*first);
        const QStringList said = takeTexts();
        EXPECT_EQ(said.count(u("数据库文件已更换，请重新查询")), 1)
            << said.join(u("|")).toStdString();
        for (QPushButton* frmLook::*then :
             {&frmLook::commNext, &frmLook::saveComm, &frmLook::DelComm})
            if (look->*then != look->*first && (look->*then)->isEnabled())
                click(look->*then);
        EXPECT_FALSE(takeTexts().contains(u("数据库文件已更换，请重新查询")));
        EXPECT_EQ(look->txt_title->text(), u("正在改"));
        EXPECT_EQ(column("B_title", 1), u("鲍勃的"));
        EXPECT_EQ(column("B_title", 2), u("alice 新"));

        search(look, 2);
        EXPECT_EQ(found(look), 1);
        EXPECT_EQ(look->txt_title->text(), u("alice 新"));
        app::unload(look);
        settle();
        takeTexts();
    }
}

// A link where a log file goes: the database is not opened, the user is told which file,
// and neither the link's target nor anything else changes mode. A log file of ours that is
// more open than the database is narrowed to it.
TEST_F(Neighbour, LogFilesAreNeverFollowedNorMoreOpenThanTheDatabase) {
    const QString secret = dir.filePath(u("id_ed25519"));
    {
        QFile f(secret);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("private");
    }
    ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0600), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dbPath()).constData(), 0660), 0);
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString link = dbPath() + QLatin1String(suffix);
        ASSERT_EQ(
            ::symlink(QFile::encodeName(secret).constData(), QFile::encodeName(link).constData()),
            0);
        ado::Connection c;
        c.ConnectionString = u("data source=") + dbPath();
        try {
            c.Open();
            ADD_FAILURE() << "opened beside a link";
        } catch (const ado::Error& e) {
            EXPECT_TRUE(e.userText().startsWith(u("数据库旁有可疑的链接文件……")));
            EXPECT_TRUE(e.userText().contains(link)) << e.userText().toStdString();
        }
        EXPECT_EQ(modeOf(secret), 0600);
        EXPECT_EQ(modeOf(dbPath()), 0660);
        QFile::remove(link);
    }

    const QString wal = dbPath() + u("-wal");
    QFile(wal).open(QIODevice::WriteOnly);
    ASSERT_EQ(::chmod(QFile::encodeName(wal).constData(), 0666), 0);
    ado::Connection c;
    c.ConnectionString = u("data source=") + dbPath();
    c.Open();
    EXPECT_EQ(modeOf(wal) & 0666, 0660);
}

// Over the cap, a file is refused from its size alone: a sparse 3 GiB one costs no time
// and no memory. Under it, a device that claims less than it holds is still cut off.
TEST_F(Neighbour, ASkinFileOverTheCapIsRefusedUnread) {
    const QString huge = dir.filePath(u("huge.jss"));
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(qint64(3) << 30));
    }
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_TRUE(skin::ReadSkinFile(huge).isEmpty());
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024); // KiB
    QFile::remove(huge);

    QByteArray bytes(100, 'x');
    for (qint64 cap : {99, 100}) {
        QBuffer in(&bytes);
        in.open(QIODevice::ReadOnly);
        EXPECT_EQ(skin::readAtMost(in, cap).has_value(), cap == 100);
    }
}
