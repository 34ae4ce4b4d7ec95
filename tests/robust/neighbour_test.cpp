// What another account on the same computer can do to a diary in use: replace its file
// under an open result, plant a link where the engine's log files go, or offer a skin file
// far larger than any skin. Run as an ordinary user, since root ignores file modes.
#include "data/ado.h"
#include "skin/SkinFile.h"
#include "support/Apps.h"

#include <QBuffer>
#include <QFile>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

// Shares the environment suite's program, which runs as an ordinary user.
class Neighbour : public DiaryApp {
protected:
    void SetUp() override {
        ASSERT_NE(geteuid(), 0u);
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
        exec(u"delete from JR_content"_s);
        addEntry(u"甲"_s, u"alice"_s, u"2024-3-1 8:00:00"_s, u"甲的内容"_s, 1);
        addEntry(u"乙"_s, u"alice"_s, u"2024-3-2 8:00:00"_s, u"乙的内容"_s, 2);
        frmLook* look = openLook();
        search(look, 2);
        ASSERT_EQ(found(look), 2);
        click(look->modifyComm);
        retype(look->txt_title, u"正在改"_s);

        // Another diary put in its place, with bob's entry under the same ID.
        const QString other = dir.filePath(u"other.mdb"_s);
        QFile::remove(other);
        ado::createDatabase(other);
        const QString mine = dbPath();
        ASSERT_EQ(
            ::rename(QFile::encodeName(other).constData(), QFile::encodeName(mine).constData()), 0);
        addEntry(u"鲍勃的"_s, u"bob"_s, u"2024-3-3 8:00:00"_s, u"别人的"_s, 1);
        addEntry(u"alice 新"_s, u"alice"_s, u"2024-3-4 8:00:00"_s, u"新文件"_s, 2);
        takeTexts();

        click(look->*first);
        const QStringList said = takeTexts();
        EXPECT_EQ(said.count(u"数据库文件已更换，请重新查询"_s), 1)
            << said.join(u"|"_s).toStdString();
        for (QPushButton* frmLook::*then :
             {&frmLook::commNext, &frmLook::saveComm, &frmLook::DelComm})
            if (look->*then != look->*first && (look->*then)->isEnabled())
                click(look->*then);
        EXPECT_FALSE(takeTexts().contains(u"数据库文件已更换，请重新查询"_s));
        EXPECT_EQ(look->txt_title->text(), u"正在改"_s);
        EXPECT_EQ(column("B_title", 1), u"鲍勃的"_s);
        EXPECT_EQ(column("B_title", 2), u"alice 新"_s);

        search(look, 2);
        EXPECT_EQ(found(look), 1);
        EXPECT_EQ(look->txt_title->text(), u"alice 新"_s);
        app::unload(look);
        settle();
        takeTexts();
    }
}

// A link where a log file goes: the database is not opened, the user is told which file,
// and neither the link's target nor anything else changes mode. A log file of ours that is
// more open than the database is narrowed to it.
TEST_F(Neighbour, LogFilesAreNeverFollowedNorMoreOpenThanTheDatabase) {
    const QString secret = dir.filePath(u"id_ed25519"_s);
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
        c.ConnectionString = u"data source="_s + dbPath();
        try {
            c.Open();
            ADD_FAILURE() << "opened beside a link";
        } catch (const ado::Error& e) {
            EXPECT_TRUE(e.userText().startsWith(u"数据库旁有可疑的链接文件……"_s));
            EXPECT_TRUE(e.userText().contains(link)) << e.userText().toStdString();
        }
        EXPECT_EQ(modeOf(secret), 0600);
        EXPECT_EQ(modeOf(dbPath()), 0660);
        QFile::remove(link);
    }

    const QString wal = dbPath() + u"-wal"_s;
    QFile(wal).open(QIODevice::WriteOnly);
    ASSERT_EQ(::chmod(QFile::encodeName(wal).constData(), 0666), 0);
    ado::Connection c;
    c.ConnectionString = u"data source="_s + dbPath();
    c.Open();
    EXPECT_EQ(modeOf(wal) & 0666, 0660);
}

// Over the cap, a file is refused from its size alone: a sparse 3 GiB one costs no time
// and no memory. Under it, a device that claims less than it holds is still cut off.
TEST_F(Neighbour, ASkinFileOverTheCapIsRefusedUnread) {
    const QString huge = dir.filePath(u"huge.jss"_s);
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
