// The keyset cursor and the connection against real files, good and broken.
#include "data/ado.h"
#include "data/myClass.h"
#include "data/statements.h"
#include "support/TempApp.h"

#include <QFile>
#include <QFileDevice>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {
QString s(const char* utf8) {
    return QString::fromUtf8(utf8);
}
} // namespace

class RecordsetTest : public TempApp {
protected:
    void SetUp() override {
        TempApp::SetUp();
        for (int i = 1; i <= 3; ++i)
            exec(s("insert into JR_content(B_title,B_writer) values('t%1','ann')").arg(i));
        d.OpenData();
        d.rs().Open(sql::allEntries(), d.ocn());
    }
    void TearDown() override {
        d.releaseRs();
        d.releaseOcn();
        TempApp::TearDown();
    }
    QString title() { return d.rs().Fields(s("b_TITLE")).toString(); }
    myClass d;
};

TEST_F(RecordsetTest, WalksBothWaysWithBofAndEof) {
    ado::Recordset& rs = d.rs();
    EXPECT_EQ(rs.State(), 1);
    EXPECT_EQ(rs.RecordCount(), 3);
    EXPECT_EQ(rs.AbsolutePosition(), 1);
    EXPECT_EQ(title(), s("t1"));
    EXPECT_EQ(rs.Fields(s("id")).toInt(), 1); // asked for as "id", named ID
    rs.MoveNext();
    rs.MoveNext();
    EXPECT_EQ(rs.AbsolutePosition(), 3);
    rs.MoveNext();
    EXPECT_TRUE(rs.eof());
    EXPECT_FALSE(rs.bof());
    EXPECT_TRUE(rs.Fields(s("B_title")).isNull());
    rs.MoveNext(); // stays after the last row
    EXPECT_TRUE(rs.eof());
    rs.MovePrevious();
    EXPECT_EQ(title(), s("t3"));
    rs.MoveFirst();
    rs.MovePrevious();
    EXPECT_TRUE(rs.bof());
    EXPECT_EQ(rs.AbsolutePosition(), ado::adPosBOF);
    rs.MoveLast();
    EXPECT_EQ(rs.AbsolutePosition(), 3);
}

TEST_F(RecordsetTest, EmptyResultIsBofAndEof) {
    d.rs().Close();
    d.rs().Open(sql::entriesOf(s("nobody")), d.ocn());
    EXPECT_TRUE(d.rs().eof());
    EXPECT_TRUE(d.rs().bof());
    EXPECT_EQ(d.rs().RecordCount(), 0);
    d.rs().MoveFirst();
    d.rs().MoveLast();
    EXPECT_TRUE(d.rs().eof() && d.rs().bof());
}

TEST_F(RecordsetTest, RowsAreReadWhenReachedSoLaterChangesShow) {
    exec(s("update JR_content set B_title='changed' where ID=2"));
    exec(s("delete from JR_content where ID=3"));
    exec(s("insert into JR_content(B_title,B_writer) values('t4','ann')"));
    ado::Recordset& rs = d.rs();
    EXPECT_EQ(rs.RecordCount(), 3); // the keys of the search, not the table now
    rs.MoveNext();
    EXPECT_EQ(title(), s("changed"));
    rs.MoveNext();
    EXPECT_EQ(rs.AbsolutePosition(), 3);
    EXPECT_TRUE(rs.Fields(s("B_title")).isNull()); // deleted since the search
}

TEST_F(RecordsetTest, NoReadLockIsHeldBetweenCalls) {
    // Another connection can write (and checkpoint) while the result is shown.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().toUtf8().constData(), &other), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(other, "pragma wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    int busy = -1, logged = -1, done = -1;
    sqlite3_wal_checkpoint_v2(other, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logged, &done);
    busy = sqlite3_wal_checkpoint_v2(other, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logged, &done);
    EXPECT_EQ(busy, SQLITE_OK);
    sqlite3_close(other);
}

TEST_F(RecordsetTest, ClosingTheConnectionClosesItsRecordset) {
    d.ocn().Close();
    EXPECT_EQ(d.rs().State(), 0);
    EXPECT_EQ(d.ocn().State(), 0);
    d.releaseOcn();
    d.OpenData(); // a fresh connection
    d.rs().Open(sql::allEntries(), d.ocn());
    EXPECT_EQ(d.rs().RecordCount(), 3);
}

class BrokenDatabase : public TempApp {
protected:
    // Opens through the application's path and returns the error it raised, if any.
    std::optional<ado::Error> tryOpenAndQuery() {
        myClass d;
        try {
            d.OpenData();
            d.rs().Open(sql::userQuery(s("ann")), d.ocn());
            d.ocn().Execute(sql::insertUser(s("x"), s("y")));
        } catch (const ado::Error& e) {
            return e;
        }
        return std::nullopt;
    }
    void writeFile(const QByteArray& bytes) {
        QFile::remove(dbPath());
        QFile f(dbPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
};

TEST_F(BrokenDatabase, EachFailureIsAnErrorNamingTheFile) {
    struct Case {
        const char* name;
        std::function<void()> breakIt;
    };
    const std::vector<Case> cases = {
        {"missing", [&] { QFile::remove(dbPath()); }},
        {"random bytes", [&] { writeFile(QByteArray(4096, '\x5a')); }},
        {"empty", [&] { writeFile(QByteArray()); }},
        {"table missing", [&] { exec(s("drop table JR_user")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(dbPath());
        ado::createDatabase(dbPath());
        c.breakIt();
        const QByteArray before = QFile::exists(dbPath()) ? fileBytes() : QByteArray();
        auto err = tryOpenAndQuery();
        ASSERT_TRUE(err.has_value());
        EXPECT_TRUE(err->file().endsWith(s("data/data.mdb")));
        EXPECT_FALSE(err->userText().isEmpty());
        if (std::string(c.name) == "missing") {
            EXPECT_FALSE(QFile::exists(dbPath())) << "the application never creates the file";
        } else if (std::string(c.name) != "table missing") {
            EXPECT_EQ(fileBytes(), before) << "a broken file is left as it was";
        }
    }
}

TEST_F(BrokenDatabase, LockedPastTheBusyTimeoutIsAnError) {
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    myClass d;
    d.OpenData();
    try {
        d.ocn().Execute(sql::insertUser(s("x"), s("y")));
        ADD_FAILURE() << "write went through a held lock";
    } catch (const ado::Error& e) {
        EXPECT_EQ(e.code() & 0xff, SQLITE_BUSY);
    }
    sqlite3_exec(other, "rollback", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(d.ocn().Execute(sql::insertUser(s("x"), s("y"))), 1); // works once freed
}
