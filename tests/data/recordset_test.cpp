// The keyset cursor and the connection against real files, good and broken.
#include "data/ado.h"
#include "data/myClass.h"
#include "data/statements.h"
#include "support/TempApp.h"

#include <QFile>
#include <QFileDevice>
#include <gtest/gtest.h>
#include <sqlite3.h>

class RecordsetTest : public TempApp {
protected:
    void SetUp() override {
        TempApp::SetUp();
        for (int i = 1; i <= 3; ++i)
            exec(u"insert into JR_content(B_title,B_writer) values('t%1','ann')"_s.arg(i));
        d.OpenData();
        d.rs().Open(sql::allEntries(), d.ocn());
    }
    void TearDown() override {
        d.releaseRs();
        d.releaseOcn();
        TempApp::TearDown();
    }
    QString title() { return d.rs().Fields(u"b_TITLE"_s).toString(); }
    myClass d;
};

TEST_F(RecordsetTest, WalksBothWaysWithBofAndEof) {
    ado::Recordset& rs = d.rs();
    EXPECT_EQ(rs.State(), 1);
    EXPECT_EQ(rs.RecordCount(), 3);
    EXPECT_EQ(rs.AbsolutePosition(), 1);
    EXPECT_EQ(title(), u"t1"_s);
    EXPECT_EQ(rs.Fields(u"id"_s).toInt(), 1); // asked for as "id", named ID
    rs.MoveNext();
    rs.MoveNext();
    EXPECT_EQ(rs.AbsolutePosition(), 3);
    rs.MoveNext();
    EXPECT_TRUE(rs.eof());
    EXPECT_FALSE(rs.bof());
    EXPECT_TRUE(rs.Fields(u"B_title"_s).isNull());
    rs.MoveNext(); // stays after the last row
    EXPECT_TRUE(rs.eof());
    rs.MovePrevious();
    EXPECT_EQ(title(), u"t3"_s);
    rs.MoveFirst();
    rs.MovePrevious();
    EXPECT_TRUE(rs.bof());
    EXPECT_EQ(rs.AbsolutePosition(), ado::adPosBOF);
    rs.MoveLast();
    EXPECT_EQ(rs.AbsolutePosition(), 3);
}

TEST_F(RecordsetTest, EmptyResultIsBofAndEof) {
    d.rs().Close();
    d.rs().Open(sql::entriesOf(u"nobody"_s), d.ocn());
    EXPECT_TRUE(d.rs().eof());
    EXPECT_TRUE(d.rs().bof());
    EXPECT_EQ(d.rs().RecordCount(), 0);
    d.rs().MoveFirst();
    d.rs().MoveLast();
    EXPECT_TRUE(d.rs().eof() && d.rs().bof());
}

TEST_F(RecordsetTest, RowsAreReadWhenReachedSoLaterChangesShow) {
    exec(u"update JR_content set B_title='changed' where ID=2"_s);
    exec(u"delete from JR_content where ID=3"_s);
    exec(u"insert into JR_content(B_title,B_writer) values('t4','ann')"_s);
    ado::Recordset& rs = d.rs();
    EXPECT_EQ(rs.RecordCount(), 3); // the keys of the search, not the table now
    rs.MoveNext();
    EXPECT_EQ(title(), u"changed"_s);
    rs.MoveNext();
    EXPECT_EQ(rs.AbsolutePosition(), 3);
    EXPECT_TRUE(rs.Fields(u"B_title"_s).isNull()); // deleted since the search
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
