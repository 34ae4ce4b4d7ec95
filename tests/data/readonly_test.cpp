// A database the user may read but not write, checked as an ordinary user even when the
// tests run as root (root ignores file permissions).
#include "data/ado.h"
#include "data/myClass.h"
#include "data/statements.h"
#include "support/TempApp.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QString s(const char* utf8) {
    return QString::fromUtf8(utf8);
}

enum Outcome { ReadOk = 1, WriteRefused = 2, RefusedAsReadOnly = 4, OpenFailed = 8 };

// Opens the file through the application's path, searches, tries to save; as `uid`.
int probe(uid_t uid) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (uid != geteuid() && (setgid(uid) != 0 || setuid(uid) != 0))
            _exit(100);
        int result = 0;
        myClass d;
        try {
            d.OpenData();
            d.rs().Open(sql::allEntries(), d.ocn());
            if (d.rs().RecordCount() == 1)
                result |= ReadOk;
        } catch (const ado::Error&) {
            result |= OpenFailed;
        }
        try {
            if (d.ocn().State() == 1)
                d.ocn().Execute(sql::insertEntry(s("t"), s("w"), s("c"), s("u")));
        } catch (const ado::Error& e) {
            result |= WriteRefused;
            if (e.userText().contains(s("只读")))
                result |= RefusedAsReadOnly;
        }
        _exit(result);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
} // namespace

class ReadOnlyDatabase : public TempApp {
protected:
    void SetUp() override {
        TempApp::SetUp();
        exec(s("insert into JR_content(B_title) values('kept')"));
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                              QFileDevice::ExeOther);
        user = geteuid() == 0 ? 65534 : geteuid(); // nobody, when we are root
    }
    void TearDown() override {
        QFile::setPermissions(dir.filePath(s("data")), QFile::Permissions(0x7755));
        TempApp::TearDown();
    }
    uid_t user = 0;
};

TEST_F(ReadOnlyDatabase, ReadOnlyFileSearchesButRefusesToSave) {
    if (geteuid() == 0)
        QFile::setPermissions(dir.filePath(s("data")), QFile::Permissions(0x7777)); // folder open
    QFile::setPermissions(dbPath(), QFileDevice::ReadOwner | QFileDevice::ReadOther);
    const int r = probe(user);
    EXPECT_TRUE(r & ReadOk) << r;
    EXPECT_TRUE(r & WriteRefused) << r;
    EXPECT_TRUE(r & RefusedAsReadOnly) << r;
    EXPECT_EQ(count(s("select count(*) from JR_content")), 1);
}

TEST_F(ReadOnlyDatabase, ReadOnlyFolderIsAClearErrorNotACrash) {
    QFile::setPermissions(dbPath(), QFileDevice::ReadOwner | QFileDevice::ReadOther);
    QFile::setPermissions(dir.filePath(s("data")), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                       QFileDevice::ReadOther |
                                                       QFileDevice::ExeOther);
    const int r = probe(user);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 100);
    EXPECT_TRUE((r & WriteRefused) || (r & OpenFailed)) << r;
    EXPECT_EQ(count(s("select count(*) from JR_content")), 1);
}
