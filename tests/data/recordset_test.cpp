// The keyset cursor over a real file.
#include "data/myClass.h"
#include "data/statements.h"
#include "support/PgServer.h"
#include "support/Support.h"

using RecordsetTest = DiaryApp;

// The keys are taken at the search and each row read when reached, with no read lock held in
// between: another copy writes and checkpoints while a result is shown.
TEST_F(RecordsetTest, MovesOffBothEndsReadingEachRowWhenReached) {
    for (const QString& t : {u"t1"_s, u"t2"_s, u"t3"_s})
        addEntry(t);
    myClass d;
    d.OpenData();
    d.rs().Open(sql::allEntries(), d.ocn());
    {
        ado::Connection other;
        vault::KeyRing ring;
        openAsAdministrator(other, ring);
        other.Execute(sql::updateEntry(u"changed"_s, u"晴"_s, u"内容"_s, u"alice"_s, 2));
        other.Execute(sql::deleteEntry(3));
    }
    addEntry(u"t4"_s);
    if (!pgtest::enabled()) { // the file's log: not kept busy by a reader
        EXPECT_EQ(count(u"pragma wal_checkpoint(TRUNCATE)"_s), 0);
    }
    ado::Recordset& rs = d.rs();
    EXPECT_EQ(rs.RecordCount(), 3);
    EXPECT_EQ(rs.Fields(u"b_TITLE"_s).toString(), u"t1"_s); // any case, as ADO
    using R = ado::Recordset;
    void (R::*const moves[])() = {&R::MoveNext,     &R::MoveNext,  &R::MoveNext,     &R::MoveNext,
                                  &R::MovePrevious, &R::MoveFirst, &R::MovePrevious, &R::MoveLast};
    const int after[] = {2, 3, ado::adPosEOF, ado::adPosEOF, 3, 1, ado::adPosBOF, 3};
    const QString titles[] = {{}, u"t1"_s, u"changed"_s, {}}; // the third deleted since
    int i = 0; // the moves walked by pointer: UBSan misreads an index into member pointers
    for (const auto move : moves) {
        (rs.*move)();
        const int pos = after[i];
        SCOPED_TRACE(i++);
        EXPECT_EQ(rs.AbsolutePosition(), pos);
        EXPECT_EQ(rs.eof(), pos == ado::adPosEOF);
        EXPECT_EQ(rs.bof(), pos == ado::adPosBOF);
        EXPECT_EQ(rs.Fields(u"B_title"_s).toString(), pos > 0 ? titles[pos] : QString());
    }
    d.ocn().Close(); // and its record set with it
    EXPECT_EQ(rs.State(), 0);
}
