// The statement texts as the engine receives them, and what they do with awkward values.
#include "data/ado.h"
#include "data/myClass.h"
#include "data/statements.h"
#include "support/TempApp.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {
QString s(const char* utf8) {
    return QString::fromUtf8(utf8);
}
} // namespace

TEST(Statements, CatalogueTextsWithApostrophes) {
    // 1 to 4 receive normalised values, which never hold an apostrophe.
    EXPECT_EQ(sql::userQuery(s("ann")), s("select*from JR_user where B_user='ann'"));
    EXPECT_EQ(sql::insertUser(s("ann"), s("pw")),
              s("insert into JR_user(B_user,B_password) values('ann','pw')"));
    EXPECT_EQ(sql::updatePassword(s("new"), s("ann")),
              s("update JR_user set B_password='new' where B_user='ann'"));
    EXPECT_EQ(sql::insertEntry(s("it's"), s("'sun'"), s("a''b"), s("o'neil")),
              s("insert into JR_content(B_title,B_weather,B_content,B_writer)values "
                "('it''s','''sun''','a''''b','o''neil')"));
    EXPECT_EQ(sql::entriesByDate(s("o'n"), s("2024-3-1'")),
              s("select * from JR_content where B_writer='o''n' and B_time LIKE '%2024-3-1''%'"));
    EXPECT_EQ(sql::allEntriesByDate(s("'")),
              s("select * from JR_content where B_time LIKE '%''%'"));
    EXPECT_EQ(sql::entriesByTitle(s("a'"), s("'t")),
              s("select * from JR_content where B_writer='a''' and B_title LIKE '%''t%'"));
    EXPECT_EQ(sql::allEntriesByTitle(s("x'y")),
              s("select * from JR_content where B_title LIKE '%x''y%'"));
    EXPECT_EQ(sql::entriesOf(s("'")), s("select * from JR_content where B_writer=''''"));
    EXPECT_EQ(sql::allEntries(), s("select * from JR_content"));
    EXPECT_EQ(sql::deleteEntry(17), s("delete*from JR_content where ID=17"));
    EXPECT_EQ(sql::updateEntry(s("t'"), s("w'"), s("c'"), s("u'"), 42),
              s("update JR_content set B_title='t''',B_weather='w''',B_content='c''',"
                "B_writer='u''' where ID=42"));
    EXPECT_TRUE(
        myClass::connectionString().startsWith(s("provider=microsoft.jet.oledb.4.0;data source=")));
    EXPECT_TRUE(
        myClass::connectionString().endsWith(s("\\data\\data.mdb;persist security info=false")));
}

class StatementsOnFile : public TempApp {
protected:
    void SetUp() override {
        TempApp::SetUp();
        d.OpenData();
    }
    void TearDown() override {
        d.releaseRs();
        d.releaseOcn();
        TempApp::TearDown();
    }
    myClass d;
};

TEST_F(StatementsOnFile, HostileTextsAreStoredExactlyAndTouchNothingElse) {
    const QStringList values = {s("'; drop table JR_content; --"),
                                s("'"),
                                s("''"),
                                s("a'b'c"),
                                s("100%_\\x"),
                                s("line1\nline2\r\nline3"),
                                s("emoji 😀 ✓"),
                                s("\u202Eright-to-left"),
                                s("e\u0301 combining"),
                                QString(QChar(0)) + s("nul") + QChar(0),
                                s("tab\there")};
    d.ocn().Execute(sql::insertEntry(s("keep"), s("w"), s("c"), s("other")));
    for (const QString& v : values)
        d.ocn().Execute(sql::insertEntry(v, v, v, v));
    ASSERT_EQ(count(s("select count(*) from JR_content")), values.size() + 1);
    int id = 2;
    for (const QString& v : values) {
        d.rs().Open(s("select * from JR_content where ID=") + QString::number(id++), d.ocn());
        ASSERT_FALSE(d.rs().eof());
        for (const char* col : {"B_title", "B_weather", "B_content", "B_writer"})
            EXPECT_EQ(d.rs().Fields(QString::fromLatin1(col)).toString(), v) << col;
        d.rs().Close();
    }
    EXPECT_EQ(scalar(s("select B_title from JR_content where ID=1")).toString(), s("keep"));
}

TEST_F(StatementsOnFile, SearchTextsMatchLiterallyExceptPatternCharacters) {
    d.ocn().Execute(sql::insertEntry(s("it's mine"), s(""), s("x"), s("ann")));
    d.ocn().Execute(sql::insertEntry(s("its mine"), s(""), s("x"), s("ann")));
    d.ocn().Execute(sql::insertEntry(s("50% off"), s(""), s("x"), s("o'neil")));
    d.rs().Open(sql::allEntriesByTitle(s("it's")), d.ocn());
    EXPECT_EQ(d.rs().RecordCount(), 1);
    d.rs().Close();
    d.rs().Open(sql::allEntriesByTitle(s("%")), d.ocn());
    EXPECT_EQ(d.rs().RecordCount(), 3); // % keeps its pattern meaning
    d.rs().Close();
    d.rs().Open(sql::entriesOf(s("o'neil")), d.ocn());
    EXPECT_EQ(d.rs().RecordCount(), 1);
    d.rs().Close();
    d.rs().Open(sql::entriesOf(s("ANN")), d.ocn()); // writers compare without case
    EXPECT_EQ(d.rs().RecordCount(), 2);
}

TEST_F(StatementsOnFile, DeleteAndUpdateByNumberAndNewRowsGetIdAndTime) {
    d.ocn().Execute(sql::insertEntry(s("a"), s("b"), s("c"), s("ann")));
    const QString time = scalar(s("select B_time from JR_content where ID=1")).toString();
    EXPECT_TRUE(QRegularExpression(s("^\\d{4}-[1-9]\\d?-[1-9]\\d? \\d{1,2}:\\d\\d:\\d\\d$"))
                    .match(time)
                    .hasMatch())
        << time.toStdString();
    EXPECT_EQ(d.ocn().Execute(sql::updateEntry(s("t"), s("w"), s("c"), s("ann"), 1)), 1);
    EXPECT_EQ(d.ocn().Execute(sql::updateEntry(s("t"), s("w"), s("c"), s("ann"), 99)), 0);
    EXPECT_EQ(d.ocn().Execute(sql::deleteEntry(1)), 1);
    EXPECT_EQ(d.ocn().Execute(sql::deleteEntry(1)), 0);
}
