// "查询": which statement each kind and permission sends, and what the window shows after it.
#include "DiaryApp.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {
using Search = DiaryApp;

int found(frmLook* look) {
    const QString t = look->Label6->text();
    if (!t.startsWith(QStringLiteral("共有记录数：")))
        return t == QStringLiteral("没有找到记录数") ? 0 : -1;
    return t.mid(6).toInt();
}

// Titles of the whole result, stepping with ">" from the first entry.
QStringList titles(frmLook* look) {
    QStringList out;
    const int n = found(look);
    for (int i = 0; i < n; ++i) {
        if (i > 0)
            DiaryApp::click(look->commNext);
        out << look->txt_title->text() + QLatin1Char('/') + look->txt_writer->text();
    }
    return out;
}
} // namespace

TEST_F(Search, PermissionOneAloneWidensEverySearchToAllWriters) {
    addEntry(QStringLiteral("a 标题"), QStringLiteral("alice"), QStringLiteral("2024-3-1 8:00:00"));
    addEntry(QStringLiteral("b 标题"), QStringLiteral("bob"), QStringLiteral("2024-3-1 9:00:00"));
    addEntry(QStringLiteral("a2"), QStringLiteral("alice"), QStringLiteral("2024-3-2 8:00:00"));
    addEntry(QStringLiteral("b2"), QStringLiteral("bob"), QStringLiteral("2024-3-2 9:00:00"));
    addEntry(QStringLiteral("b3 标题"), QStringLiteral("bob"), QStringLiteral("2024-3-3 9:00:00"));
    struct Case {
        qint16 popedom;
        QStringList all, byTitle, byDate;
    };
    const QStringList mine = names({"a 标题/alice", "a2/alice"});
    const Case cases[] = {
        {0, mine, names({"a 标题/alice"}), names({"a 标题/alice"})},
        {2, mine, names({"a 标题/alice"}), names({"a 标题/alice"})},
        {-1, mine, names({"a 标题/alice"}), names({"a 标题/alice"})},
        {1, names({"a 标题/alice", "b 标题/bob", "a2/alice", "b2/bob", "b3 标题/bob"}),
         names({"a 标题/alice", "b 标题/bob", "b3 标题/bob"}),
         names({"a 标题/alice", "b 标题/bob"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.popedom);
        logIn(QStringLiteral("alice"), c.popedom);
        frmLook* look = openLook();
        searchAll(look);
        QStringList all = titles(look);
        all.sort();
        QStringList expected = c.all;
        expected.sort();
        EXPECT_EQ(all, expected);
        searchTitle(look, QStringLiteral("标题"));
        QStringList t = titles(look);
        t.sort();
        expected = c.byTitle;
        expected.sort();
        EXPECT_EQ(t, expected);
        searchDate(look, QStringLiteral("2024-3-1"));
        QStringList d = titles(look);
        d.sort();
        expected = c.byDate;
        expected.sort();
        EXPECT_EQ(d, expected);
        app::unload(look);
        settle();
    }
    EXPECT_TRUE(dialogs->boxes.empty());
}

TEST_F(Search, WriterNameWithDifferentLetterCaseIsTheSameWriter) {
    addEntry(QStringLiteral("mine"), QStringLiteral("Alice"), QStringLiteral("2024-3-1 8:00:00"));
    frmLook* look = openLook();
    searchAll(look);
    EXPECT_EQ(found(look), 1);
}

TEST_F(Search, ADateFindsThatDayOnly) {
    for (const char* t : {"2024-3-1 0:00:00", "2024-3-1 23:59:59", "2024-3-10 8:00:00",
                          "2024-3-11 8:00:00", "2024-3-19 8:00:00", "2024-3-2 8:00:00",
                          "2024-11-1 8:00:00", "2014-3-1 8:00:00", "2024-3-1"})
        addEntry(QString::fromLatin1(t), QStringLiteral("alice"), QString::fromLatin1(t));
    struct Case {
        const char* typed;
        int rows;
    };
    const Case cases[] = {
        {"2024-3-1", 3},  {"2024-03-01", 3}, {"  2024-3-01 ", 3}, {"2024-3-10", 1},
        {"2024-11-1", 1}, {"2024-3-1 0", 1}, {"2024-3", 7},       {"3-1", 7},
        {"2024-3-1 ", 3}, {"2024-2-30", 0},  {"1999-1-1", 0},
    };
    frmLook* look = openLook();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        dialogs->boxes.clear();
        searchDate(look, QString::fromLatin1(c.typed));
        EXPECT_EQ(found(look), c.rows);
        if (c.rows == 0) {
            ASSERT_EQ(dialogs->boxes.size(), 1u);
            EXPECT_EQ(dialogs->last().text, QStringLiteral("没有查找满足条件的数据！"));
        } else {
            EXPECT_TRUE(dialogs->boxes.empty());
        }
        // The search never rewrites what was typed.
        EXPECT_EQ(look->txtQuerytime->text(), QString::fromLatin1(c.typed));
    }
    searchDate(look, QStringLiteral("2024-3-1"));
    QStringList days = titles(look);
    days.sort();
    EXPECT_EQ(days, names({"2024-3-1 0:00:00/alice", "2024-3-1 23:59:59/alice", "2024-3-1/alice"}));
}

TEST_F(Search, TitleTextsWithQuotesAndPatternCharactersNeverBreakTheStatement) {
    for (const char* t : {"It's mine", "Bob''s", "标题 here", "50% off", "a_b", "axb", "plain"})
        addEntry(QString::fromUtf8(t), QStringLiteral("alice"), QStringLiteral("2024-3-1 8:00:00"));
    addEntry(QStringLiteral("标题 here"), QStringLiteral("alice"),
             QStringLiteral("2024-3-1 8:00:00"));
    struct Case {
        QString typed;
        int rows;
    };
    const Case cases[] = {
        {QStringLiteral("'s"), 2},          {QStringLiteral("''"), 1},
        {QStringLiteral("标题"), 2},        {QStringLiteral("50%"), 1},
        {QStringLiteral("a_b"), 2},         {QStringLiteral("%"), 8},
        {QStringLiteral("' or 1=1 --"), 0}, {QStringLiteral("'); delete from JR_content; --"), 0},
    };
    frmLook* look = openLook();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        dialogs->boxes.clear();
        searchTitle(look, c.typed);
        EXPECT_EQ(found(look), c.rows);
        for (const fake::Box& b : dialogs->boxes)
            EXPECT_NE(b.title, QStringLiteral("错误")) << b.text.toStdString();
    }
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 8);
    // The start text of the title box is a search like any other.
    frmLook* fresh = openLook();
    click(fresh->txtQuerytitle);
    click(fresh->queryComm);
    EXPECT_EQ(found(fresh), 2);
}

TEST_F(Search, EmptySearchBoxesStopBeforeAnythingChanges) {
    addEntry(QStringLiteral("shown"), QStringLiteral("alice"), QStringLiteral("2024-3-1 8:00:00"));
    frmLook* look = openLook();
    searchAll(look);
    click(look->commNext);
    const QString label = look->Label6->text();
    struct Case {
        const char* option;
        QLineEdit* box;
        QString message;
    };
    const Case cases[] = {
        {"optQueryType0", look->txtQuerytime, QStringLiteral("请输入查询日期")},
        {"optQueryType3", look->txtQuerytitle, QStringLiteral("请输入标题!!")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        dialogs->boxes.clear();
        c.box->clear();
        click(child<QRadioButton>(look, c.option));
        click(look->queryComm);
        ASSERT_EQ(dialogs->boxes.size(), 1u);
        EXPECT_EQ(dialogs->last().text, c.message);
        EXPECT_EQ(dialogs->last().title, QStringLiteral("diary pad"));
        EXPECT_EQ(dialogs->last().icon, app::Icon::None);
        EXPECT_EQ(look->Label6->text(), label);
        EXPECT_EQ(look->txt_title->text(), QStringLiteral("shown"));
        // The previous result is still there to step through.
        EXPECT_EQ(look->myrs.rs().State(), 1);
        EXPECT_TRUE(look->myrs.rs().eof());
    }
    // A date box holding only a blank is not empty: it is searched for as typed, and every
    // stored time has a blank.
    dialogs->boxes.clear();
    searchDate(look, QStringLiteral(" "));
    EXPECT_TRUE(dialogs->boxes.empty());
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数：1"));
}

TEST_F(Search, NoRowKeepsThePreviousEntryAndItsButtons) {
    const int id = addEntry(QStringLiteral("kept"), QStringLiteral("alice"),
                            QStringLiteral("2024-3-1 8:00:00"));
    frmLook* look = openLook();
    searchAll(look);
    searchTitle(look, QStringLiteral("nothing like this"));
    EXPECT_EQ(look->Label6->text(), QStringLiteral("没有找到记录数"));
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, QStringLiteral("没有查找满足条件的数据！"));
    EXPECT_EQ(dialogs->last().title, QStringLiteral("提示"));
    EXPECT_EQ(dialogs->last().icon, app::Icon::Exclamation);
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("kept"));
    EXPECT_EQ(look->B_id, id);
    EXPECT_TRUE(look->modifyComm->isEnabled());
    EXPECT_TRUE(look->DelComm->isEnabled());

    // Right after opening, a search without result leaves the start texts.
    frmLook* fresh = openLook();
    searchTitle(fresh, QStringLiteral("nothing like this"));
    EXPECT_EQ(fresh->txt_title->text(), QStringLiteral("Text1"));
    EXPECT_FALSE(fresh->modifyComm->isEnabled());
    EXPECT_FALSE(fresh->DelComm->isEnabled());
}

TEST_F(Search, FoundRowsSetTheButtonsButNotPreviousOrTheLocks) {
    for (int i = 1; i <= 3; ++i)
        addEntry(QStringLiteral("e%1").arg(i), QStringLiteral("alice"),
                 QStringLiteral("2024-3-%1 8:00:00").arg(i));
    frmLook* look = openLook();
    searchAll(look);
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数：3"));
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("e1"));
    EXPECT_TRUE(look->DelComm->isEnabled());
    EXPECT_TRUE(look->commNext->isEnabled());
    EXPECT_TRUE(look->modifyComm->isEnabled());
    EXPECT_FALSE(look->saveComm->isEnabled());

    click(look->MovelastComm);
    click(look->commNext);
    click(look->commNext);      // after the last: ">" goes off
    click(look->MovefirstComm); // "<" goes off
    click(look->modifyComm);
    ASSERT_FALSE(look->commPrevious->isEnabled());
    ASSERT_TRUE(look->saveComm->isEnabled());
    click(look->queryComm);
    EXPECT_FALSE(look->commPrevious->isEnabled());
    EXPECT_TRUE(look->commNext->isEnabled());
    EXPECT_FALSE(look->saveComm->isEnabled());
    EXPECT_TRUE(look->modifyComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly());
    EXPECT_FALSE(look->txt_content->isReadOnly());
}

TEST_F(Search, ClickingOrTypingIntoASearchBoxChoosesItsKind) {
    frmLook* look = openLook();
    auto* byDate = child<QRadioButton>(look, "optQueryType0");
    auto* byTitle = child<QRadioButton>(look, "optQueryType3");
    auto* all = child<QRadioButton>(look, "optQueryType2");
    click(look->txtQuerytime);
    EXPECT_TRUE(byDate->isChecked());
    EXPECT_FALSE(all->isChecked());
    EXPECT_EQ(look->txtQuerytime->text(), QStringLiteral("2024-3-7"));
    click(look->txtQuerytitle);
    EXPECT_TRUE(byTitle->isChecked());
    EXPECT_FALSE(byDate->isChecked());
    EXPECT_EQ(look->txtQuerytitle->text(), QStringLiteral("标题"));

    // From the keyboard: typing into the date box and Enter searches by date.
    addEntry(QStringLiteral("today"), QStringLiteral("alice"), QStringLiteral("2024-3-7 8:00:00"));
    look->txtQuerytime->setFocus();
    QTest::keyClick(look->txtQuerytime, Qt::Key_End);
    QTest::keyClick(look->txtQuerytime, Qt::Key_Backspace);
    type(look->txtQuerytime, QStringLiteral("7"));
    EXPECT_TRUE(byDate->isChecked());
    QTest::keyClick(look->txtQuerytime, Qt::Key_Return);
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("today"));
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数：1"));
}
