// "查询" of each kind for each permission, the date picker, and what the window shows after.
#include "support/Apps.h"

#include "diary/frmMonth.h"

#include <QCalendarWidget>
#include <QTableView>
#include <QTest>

using Search = DiaryApp;

TEST_F(Search, PermissionOneAloneWidensEveryKindToAllWriters) {
    addEntry(u"a 标题"_s, u"alice"_s, u"2024-3-1 8:00:00"_s);
    addEntry(u"b 标题"_s, u"bob"_s, u"2024-3-1 9:00:00"_s);
    addEntry(u"a2"_s, u"Alice"_s, u"2024-3-2 8:00:00"_s);
    addEntry(u"b2"_s, u"bob"_s, u"2024-3-2 9:00:00"_s);
    for (qint16 popedom : {0, 2, -1, 1}) {
        SCOPED_TRACE(popedom);
        logIn(u"alice"_s, popedom);
        const bool all = popedom == 1;
        frmLook* look = openLook();
        search(look, 2);
        EXPECT_EQ(rows(look).join(QLatin1Char(',')),
                  all ? u"a 标题/alice,a2/Alice,b 标题/bob,b2/bob"_s : u"a 标题/alice,a2/Alice"_s);
        search(look, 3, u"标题"_s);
        EXPECT_EQ(rows(look).join(QLatin1Char(',')),
                  all ? u"a 标题/alice,b 标题/bob"_s : u"a 标题/alice"_s);
        search(look, 0, u"2024-3-2"_s);
        EXPECT_EQ(rows(look).join(QLatin1Char(',')), all ? u"a2/Alice,b2/bob"_s : u"a2/Alice"_s);
        app::unload(look);
    }
    EXPECT_TRUE(dialogs->boxes.empty());
}

TEST_F(Search, AWholeDateFindsThatDayOnlyAndOtherTextIsFoundAnywhere) {
    for (const char* t :
         {"2024-3-1 0:00:00", "2024-3-1 23:59:59", "2024-3-1", "2024-3-10 8:00:00",
          "2024-3-11 8:00:00", "2024-3-19 8:00:00", "2024-11-1 8:00:00", "2014-3-1 8:00:00"})
        addEntry(QString::fromLatin1(t), u"alice"_s, QString::fromLatin1(t));
    const std::pair<const char*, int> cases[] = {
        {"2024-3-1", 3},  {"2024-03-01", 3}, {" 2024-3-01  ", 3}, {"2024-3-10", 1},
        {"2024-11-1", 1}, {"2024-3-1 0", 1}, {"3-1", 7},          {"2024-2-30", 0},
    };
    frmLook* look = openLook();
    for (const auto& [typed, n] : cases) {
        SCOPED_TRACE(typed);
        search(look, 0, QString::fromLatin1(typed));
        EXPECT_EQ(found(look), n);
        EXPECT_EQ(takeTexts().size(), n ? 0 : 1);
        EXPECT_EQ(look->txtQuerytime->text(), QString::fromLatin1(typed));
    }
}

TEST_F(Search, QuotesAndPatternCharactersNeverBreakTheStatement) {
    for (const char* t : {"It's mine", "Bob''s", "标题 here", "50% off", "a_b", "axb"})
        addEntry(QString::fromUtf8(t));
    const std::pair<QString, int> cases[] = {
        {u"'s"_s, 2},          {u"''"_s, 1},
        {u"50%"_s, 1},         {u"a_b"_s, 2},
        {u"%"_s, 6},           {u"标题"_s, 1},
        {u"' or 1=1 --"_s, 0}, {u"'); delete from JR_content; --"_s, 0},
    };
    frmLook* look = openLook();
    for (const auto& [typed, n] : cases) {
        SCOPED_TRACE(typed.toStdString());
        search(look, 3, typed);
        EXPECT_EQ(found(look), n);
        for (const QString& text : takeTexts())
            EXPECT_EQ(text, u"没有查找满足条件的数据！"_s);
    }
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 6);
}

TEST_F(Search, EmptyBoxesStopAndNoRowKeepsTheEntryShown) {
    const int id = addEntry(u"shown"_s);
    frmLook* look = openLook();
    search(look, 2);
    for (int kind : {0, 3}) {
        search(look, kind, QString());
        EXPECT_EQ(dialogs->last().text, kind ? u"请输入标题!!"_s : u"请输入查询日期"_s);
        EXPECT_EQ(dialogs->last().title, u"diary pad"_s);
        EXPECT_EQ(look->Label6->text(), u"共有记录数：1"_s);
    }
    EXPECT_EQ(takeTexts().size(), 2);
    search(look, 3, u"nothing like it"_s);
    EXPECT_EQ(look->Label6->text(), u"没有找到记录数"_s);
    EXPECT_EQ(dialogs->last().text, u"没有查找满足条件的数据！"_s);
    EXPECT_EQ(dialogs->last().title, u"提示"_s);
    EXPECT_EQ(dialogs->last().icon, app::Icon::Exclamation);
    EXPECT_EQ(look->txt_title->text(), u"shown"_s);
    EXPECT_EQ(look->B_id, id);
    EXPECT_TRUE(look->modifyComm->isEnabled() && look->DelComm->isEnabled());
}

TEST_F(Search, FoundRowsSetTheButtonsButLeavePreviousAndTheLocks) {
    addEntry(u"e1"_s);
    addEntry(u"e2"_s);
    frmLook* look = openLook();
    search(look, 2);
    click(look->MovelastComm);
    click(look->commNext);
    click(look->commNext);      // ">" off
    click(look->MovefirstComm); // "<" off
    click(look->modifyComm);
    click(look->queryComm);
    EXPECT_FALSE(look->commPrevious->isEnabled());
    EXPECT_TRUE(look->commNext->isEnabled() && look->modifyComm->isEnabled() &&
                look->DelComm->isEnabled());
    EXPECT_FALSE(look->saveComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly());
}

TEST_F(Search, ClickingOrTypingIntoABoxChoosesItsKind) {
    addEntry(u"today"_s, u"alice"_s, u"2024-3-7 8:00:00"_s);
    frmLook* look = openLook();
    click(look->txtQuerytime);
    EXPECT_TRUE(look->optQueryType[0]->isChecked());
    click(look->txtQuerytitle);
    EXPECT_TRUE(look->optQueryType[3]->isChecked());
    EXPECT_EQ(look->txtQuerytitle->text(), u"标题"_s);
    // From the keyboard: editing the date and Enter searches by date.
    look->txtQuerytime->setFocus();
    QTest::keyClick(look->txtQuerytime, Qt::Key_Backspace);
    type(look->txtQuerytime, u"7"_s);
    EXPECT_TRUE(look->optQueryType[0]->isChecked());
    QTest::keyClick(look->txtQuerytime, Qt::Key_Return);
    EXPECT_EQ(look->txt_title->text(), u"today"_s);
}

namespace {
frmMonth* picker() {
    return qobject_cast<frmMonth*>(app::loaded(app::FormId::Month));
}

// Clicks `day` of the month shown (neighbouring months fill the first and last rows).
void clickDay(QCalendarWidget* cal, int day) {
    auto* view = cal->findChild<QTableView*>(u"qt_calendar_calendarview"_s);
    QAbstractItemModel* m = view->model();
    for (int i = 1; i < m->rowCount(); ++i) {
        const int r = day <= 15 ? i : m->rowCount() - i;
        for (int c = 1; c < m->columnCount(); ++c)
            if (m->index(r, c).data().toString() == QString::number(day))
                return QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                                         view->visualRect(m->index(r, c)).center());
    }
    FAIL() << "day " << day << " not shown";
}
} // namespace

TEST_F(Search, ThePickerOpensOnTheBoxDateAndWritesTheClickedDate) {
    frmLook* look = openLook();
    const std::pair<const char*, QDate> opens[] = {{"2023-01-09", QDate(2023, 1, 9)},
                                                   {"", QDate(2024, 3, 7)},
                                                   {"2024-2-30", QDate(2024, 3, 7)},
                                                   {"next week", QDate(2024, 3, 7)}};
    for (const auto& [typed, shown] : opens) {
        SCOPED_TRACE(typed);
        look->txtQuerytime->setText(QString::fromLatin1(typed));
        click(look->findDateCommd);
        ASSERT_NE(picker(), nullptr);
        EXPECT_FALSE(picker()->isModal());
        EXPECT_EQ(picker()->MonthView1->selectedDate(), shown);
    }
    EXPECT_TRUE(look->optQueryType[0]->isChecked());
    // Still one picker; closing it without a click changes nothing.
    picker()->close();
    settle();
    EXPECT_EQ(picker(), nullptr);
    EXPECT_EQ(look->txtQuerytime->text(), u"next week"_s);

    look->txtQuerytime->setText(u"2024-03-20"_s);
    click(look->optQueryType[3]);
    click(look->findDateCommd);
    click(look->optQueryType[3]);
    clickDay(picker()->MonthView1, 5);
    EXPECT_EQ(look->txtQuerytime->text(), u"2024-3-5"_s);
    settle();
    EXPECT_EQ(picker(), nullptr);
    EXPECT_TRUE(look->optQueryType[3]->isChecked()); // no search, kind unchanged
    EXPECT_FALSE(look->myrs.hasRs());

    // A pick after the browser has closed goes nowhere.
    click(look->findDateCommd);
    frmMonth* m = picker();
    click(look->writeNoteComm);
    settle();
    clickDay(m->MonthView1, 28);
    settle();
    EXPECT_EQ(app::loaded(app::FormId::Look), nullptr);
    EXPECT_EQ(app::loadedCount(), 1);
}
