// "查询" of each kind for each permission, the date picker, and what the window shows after.
#include "support/Apps.h"

#include "diary/frmMonth.h"

#include <QCalendarWidget>
#include <QTableView>

using Search = DiaryApp;

TEST_F(Search, PermissionOneAloneWidensEveryKindToAllWriters) {
    addEntry(u"a 标题"_s, u"alice"_s, u"2024-3-1 8:00:00"_s);
    addEntry(u"b 标题"_s, u"bob"_s, u"2024-3-2 9:00:00"_s);
    addEntry(u"a2"_s, u"Alice"_s, u"2024-3-2 8:00:00"_s);
    for (qint16 popedom : {0, 2, -1, 1}) {
        SCOPED_TRACE(popedom);
        logIn(u"alice"_s, popedom);
        const bool all = popedom == 1;
        frmLook* look = openLook();
        search(look, 2);
        EXPECT_EQ(found(look), all ? 3 : 2);
        search(look, 3, u"标题"_s);
        EXPECT_EQ(rows(look).join(u','), all ? u"a 标题/alice,b 标题/bob"_s : u"a 标题/alice"_s);
        search(look, 0, u"2024-3-2"_s);
        EXPECT_EQ(found(look), all ? 2 : 1);
        app::unload(look);
    }
}

TEST_F(Search, AWholeDateFindsThatDayOnlyAndTitlesAreMatchedLiterally) {
    for (const char* t : {"2024-3-1 0:00:00", "2024-3-1 23:59:59", "2024-3-1", "2024-3-10 8:00:00",
                          "2024-11-1 8:00:00", "2014-3-1 8:00:00"})
        addEntry(QString::fromLatin1(t), u"alice"_s, QString::fromLatin1(t));
    for (const char* t : {"It's mine", "Bob''s", "50% off", "a_b", "axb"})
        addEntry(QString::fromLatin1(t), u"alice"_s, u"2020-1-1 8:00:00"_s);
    const std::tuple<int, const char*, int> cases[] = {
        {0, "2024-3-1", 3},    {0, " 2024-03-01  ", 3},
        {0, "2024-3-10", 1},   {0, "2024-3-1 0", 1},
        {0, "3-1", 5},         {0, "2024-2-30", 0},
        {3, "'s", 2},          {3, "''", 1},
        {3, "50%", 1},         {3, "a_b", 2},
        {3, "' or 1=1 --", 0}, {3, "'); delete from JR_content; --", 0}};
    frmLook* look = openLook();
    for (const auto& [kind, typed, n] : cases) {
        SCOPED_TRACE(typed);
        search(look, kind, QString::fromLatin1(typed));
        EXPECT_EQ(found(look), n);
        EXPECT_EQ(takeTexts().size(), n ? 0 : 1);
    }
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 11);
}

TEST_F(Search, EmptyBoxesOrNoRowKeepTheEntryAndTheButtonsShown) {
    const int id = addEntry(u"shown"_s);
    addEntry(u"e2"_s);
    frmLook* look = openLook();
    search(look, 2);
    for (int kind : {0, 3}) {
        search(look, kind, QString());
        EXPECT_EQ(dialogs->last().text, kind ? u"请输入标题!!"_s : u"请输入查询日期"_s);
    }
    search(look, 3, u"nothing like it"_s);
    EXPECT_EQ(look->Label6->text(), u"没有找到记录数"_s);
    EXPECT_EQ(dialogs->last().text, u"没有查找满足条件的数据！"_s);
    EXPECT_EQ(look->B_id, id);
    // A search that finds rows leaves "<" and the unlocked boxes as they were.
    search(look, 2);
    click(look->MovefirstComm); // "<" off
    click(look->modifyComm);
    search(look, 2);
    EXPECT_FALSE(look->commPrevious->isEnabled() || look->saveComm->isEnabled());
    EXPECT_TRUE(look->commNext->isEnabled() && look->DelComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly());
    // Typing into the date box chooses its kind; Enter searches.
    look->txtQuerytime->setText(u"2024-3-"_s);
    type(look->txtQuerytime, u"1"_s);
    EXPECT_TRUE(look->optQueryType[0]->isChecked());
    QTest::keyClick(look->txtQuerytime, Qt::Key_Return);
    EXPECT_EQ(found(look), 2);
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
                                                   {"next week", QDate(2024, 3, 7)}};
    for (const auto& [typed, shown] : opens) {
        look->txtQuerytime->setText(QString::fromLatin1(typed));
        click(look->findDateCommd);
        ASSERT_NE(picker(), nullptr);
        EXPECT_EQ(picker()->MonthView1->selectedDate(), shown) << typed;
    }
    click(look->optQueryType[3]);
    clickDay(picker()->MonthView1, 5);
    EXPECT_EQ(look->txtQuerytime->text(), u"2024-3-5"_s);
    EXPECT_TRUE(look->optQueryType[3]->isChecked()); // no search, kind unchanged
    EXPECT_FALSE(look->myrs.hasRs());

    // A pick after the browser has closed goes nowhere.
    settle();
    click(look->findDateCommd);
    frmMonth* m = picker();
    click(look->writeNoteComm);
    settle();
    clickDay(m->MonthView1, 28);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
}
