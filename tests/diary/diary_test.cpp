// The diary windows: writing (writer, date, an empty text, where the buttons lead), browsing
// (start state, the entry shown, leaving), "查询" of each kind for each permission, the date
// picker and its days written, "<<" "<" ">" ">>" from every cursor place, "修改" "保存" "删除",
// and what assistive tools meet: the names a screen reader reads, a writer box changed behind
// the user's back.
// Both windows wearing the skin: the frame over the controls, skin choice, outline, minimum
// size and the growing text boxes; maximising is left to the X-server tests.
#include "diary/frmMonth.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"
#include "support/PgServer.h"
#include "support/Support.h"

#include <QAccessible>
#include <QCalendarWidget>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPointer>
#include <QTableView>
#include <QToolButton>

using Write = DiaryApp;
using Look = DiaryApp;
using Search = DiaryApp;
using Navigation = DiaryApp;
using Edit = DiaryApp;
using Assistive = DiaryApp;
using diary::SkinnedForm;

TEST_F(Write, StartsForTheLoggedInWriterWithADateThatFollowsTheClock) {
    logIn(u"小明"_s);
    setNow(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59)));
    frmWrite* w = openWrite();
    EXPECT_EQ(w->B_Writer_text->text(), u"小明"_s);
    EXPECT_EQ(w->Label5->text(), u"2024/12/31"_s);
    setNow(QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0)));
    w->Timer1_Timer();
    EXPECT_EQ(w->Label5->text(), u"2025/1/1"_s);
}

TEST_F(Write, AnEmptyTextIsRefusedAndASaveLeadsToTheBrowser) {
    frmWrite* w = openWrite();
    click(w->saveComm);
    EXPECT_EQ(dialogs->last().text, u"请先编写日记内容"_s);
    w->B_Weather_Combo->setEditText(u"大风"_s);
    w->B_Content_text->setPlainText(u"precious\ntext"_s);
    // Saved once, the box shown while the window is still open, then only the browser left.
    bool writeOpenAtBox = false;
    dialogs->onBox = [&](const fake::Box&) { writeOpenAtBox = app::loaded(app::FormId::Write); };
    click(w->saveComm);
    EXPECT_TRUE(writeOpenAtBox);
    EXPECT_EQ(column("B_weather", count(u"select max(ID) from JR_content"_s)), u"大风"_s);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    ASSERT_NE(look(), nullptr);
    EXPECT_TRUE(look()->isVisible());
    EXPECT_EQ(endedCount, 0);
}

TEST_F(Write, ButtonsLeadToTheBrowserTheManualAndTheLoginWithoutSaving) {
    frmWrite* w = openWrite();
    w->B_Content_text->setPlainText(u"never saved"_s);
    bool manualBeforeBoxClosed = false;
    dialogs->onBox = [&](const fake::Box&) { manualBeforeBoxClosed = !desktop->opened.empty(); };
    click(w->helpComm);
    EXPECT_FALSE(manualBeforeBoxClosed);
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(u"/manual.html"_s));
    click(w->findNoteComm);
    settle();
    ASSERT_NE(look(), nullptr);
    click(qobject_cast<frmWrite*>(app::go(look(), app::FormId::Write))->reLoginComm);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    EXPECT_NE(app::loaded(app::FormId::Login), nullptr);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 0);
}

TEST_F(Look, ShowsAnEntrySelectsTheLockedTitleAndReleasesAllOnLeaving) {
    const int id = addEntry(u"春天 first"_s, u"alice"_s, u"2024-3-7 9:05:00"_s, u"一\n二"_s, 42);
    frmLook* look = openLook();
    EXPECT_EQ(look->txtQuerytime->text(), u"2024-3-7"_s); // no leading zeros
    EXPECT_TRUE(look->optQueryType[2]->isChecked());
    EXPECT_FALSE(look->modifyComm->isEnabled() || look->saveComm->isEnabled() ||
                 look->DelComm->isEnabled());
    EXPECT_TRUE(look->txt_title->isReadOnly() && look->txt_content->isReadOnly());
    EXPECT_FALSE(look->myrs.hasOcn()); // no search on opening
    search(look, 2);
    EXPECT_EQ(look->txt_content->toPlainText(), u"一\n二"_s);
    EXPECT_EQ(look->B_id, id);
    click(look->txt_title);
    EXPECT_EQ(look->txt_title->selectedText(), u"春天 first"_s);

    QPointer<frmLook> old = look;
    click(look->writeNoteComm);
    ASSERT_FALSE(old.isNull()); // destroyed only when the event loop runs
    EXPECT_FALSE(old->myrs.hasOcn() || old->myrs.hasRs());
    settle();

    // Closed by its frame: the same clean-up, and the run ends with the last window.
    app::unload(app::loaded(app::FormId::Write));
    look = openLook();
    search(look, 2);
    look->close();
    EXPECT_FALSE(look->myrs.hasOcn() || look->myrs.hasRs());
    settle();
    EXPECT_EQ(endedCount, 1);
}

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

// Picks `day` of the month shown by a click on it, or by Enter.
void pickDay(QCalendarWidget* cal, int day, bool byKey = false) {
    cal->setSelectedDate(QDate(cal->yearShown(), cal->monthShown(), day));
    auto* view = cal->findChild<QTableView*>();
    if (byKey)
        return QTest::keyClick(view, Qt::Key_Return);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->currentIndex()).center());
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
    pickDay(picker()->MonthView1, 5);
    EXPECT_EQ(look->txtQuerytime->text(), u"2024-3-5"_s);
    EXPECT_TRUE(look->optQueryType[3]->isChecked()); // no search, kind unchanged
    EXPECT_FALSE(look->myrs.hasRs());

    // A pick after the browser has closed goes nowhere.
    settle();
    click(look->findDateCommd);
    frmMonth* m = picker();
    click(look->writeNoteComm);
    settle();
    pickDay(m->MonthView1, 28, true);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
}

// The text search: placed in the frame's free stretch, next after the title box, chosen by a
// click into its box; the writer's own entries, everyone's for permission 1.
TEST_F(Search, TheTextBoxFindsTheEntriesWhoseTextHoldsIt) {
    addEntry(u"a1"_s, u"alice"_s, u"2024-3-1 8:00:00"_s, u"去看\n灯塔"_s);
    addEntry(u"a2"_s, u"Alice"_s, u"2024-3-2 8:00:00"_s, u"灯塔边的'小屋'"_s);
    addEntry(u"a3"_s, u"alice"_s, u"2024-3-3 8:00:00"_s, u"灯火"_s);
    addEntry(u"b1"_s, u"bob"_s, u"2024-3-4 8:00:00"_s, u"灯塔"_s);
    // Typed, then what alice finds, then what an administrator finds.
    const std::tuple<QString, QString, QString> cases[] = {
        {u"灯塔"_s, u"a1/alice,a2/Alice"_s, u"a1/alice,a2/Alice,b1/bob"_s},
        {u"'小"_s, u"a2/Alice"_s, u"a2/Alice"_s},
        {u"灯_"_s, u"a1/alice,a2/Alice,a3/alice"_s, u"a1/alice,a2/Alice,a3/alice,b1/bob"_s},
        {u"' or 1=1 --"_s, QString(), QString()}};
    for (qint16 popedom : {0, 1}) {
        logIn(u"alice"_s, popedom);
        frmLook* look = openLook();
        QWidget* box = look->txtQuerycontent;
        EXPECT_EQ(look->txtQuerytitle->nextInFocusChain(), box);
        EXPECT_EQ(box->accessibleName(), u"查询内容"_s);
        for (QWidget* w : look->Frame1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            for (QWidget* mine : {box, static_cast<QWidget*>(look->optQueryType[1])})
                EXPECT_TRUE(w == mine || !w->geometry().intersects(mine->geometry()))
                    << w->objectName().toStdString();
        for (const auto& [typed, own, all] : cases) {
            SCOPED_TRACE(typed.toStdString());
            look->txtQuerycontent->setText(typed);
            click(look->optQueryType[2]);
            click(box);
            EXPECT_TRUE(look->optQueryType[1]->isChecked());
            click(look->queryComm);
            EXPECT_EQ(rows(look).join(u','), popedom == 1 ? all : own);
        }
        look->txtQuerycontent->clear();
        click(look->queryComm);
        EXPECT_EQ(dialogs->last().text, u"请输入内容!!"_s);
        app::unload(look);
    }
}

namespace {
QList<int> boldDays(QCalendarWidget* cal) {
    QList<int> days;
    const QDate first(cal->yearShown(), cal->monthShown(), 1);
    for (int d = 1; d <= first.daysInMonth(); ++d)
        if (cal->dateTextFormat(first.addDays(d - 1)).fontWeight() == QFont::Bold)
            days << d;
    return days;
}
} // namespace

// The calendar shows in bold the days of the shown month that hold entries of the user logged
// in, of every writer for permission 1; another month shown reads its own days.
TEST_F(Search, TheCalendarShowsTheDaysWrittenInBold) {
    for (const char* t : {"2024-3-5 8:00:00", "2024-3-15 23:59:59", "2024-4-1 0:00:00",
                          "2024-11-2 8:00:00", "2023-3-7 8:00:00"})
        addEntry(u"a"_s, u"alice"_s, QString::fromLatin1(t));
    addEntry(u"b"_s, u"bob"_s, u"2024-3-9 8:00:00"_s);
    // The month shown, then its bold days for alice and for an administrator.
    const std::tuple<int, int, QList<int>, QList<int>> months[] = {{2024, 3, {5, 15}, {5, 9, 15}},
                                                                   {2024, 4, {1}, {1}},
                                                                   {2024, 1, {}, {}},
                                                                   {2024, 11, {2}, {2}},
                                                                   {2023, 3, {7}, {7}}};
    for (qint16 popedom : {0, 1}) {
        logIn(u"alice"_s, popedom);
        frmLook* look = openLook();
        click(look->findDateCommd);
        QCalendarWidget* cal = picker()->MonthView1;
        for (const auto& [year, month, own, all] : months) {
            SCOPED_TRACE(month);
            cal->setCurrentPage(year, month);
            EXPECT_EQ(boldDays(cal), popedom == 1 ? all : own);
        }
        app::unload(picker());
        app::unload(look);
    }
    // A store that does not answer leaves the days plain, and the calendar still picks.
    if (pgtest::enabled())
        return;
    ASSERT_TRUE(QFile::remove(dbPath()));
    frmLook* look = openLook();
    click(look->findDateCommd);
    EXPECT_EQ(boldDays(picker()->MonthView1), QList<int>());
    pickDay(picker()->MonthView1, 9);
    EXPECT_EQ(look->txtQuerytime->text(), u"2024-3-9"_s);
    EXPECT_TRUE(dialogs->boxes.empty());
}

namespace {
constexpr int BOF = ado::adPosBOF, END = ado::adPosEOF;

void placeCursor(ado::Recordset& rs, int at) {
    rs.MoveFirst();
    if (at == BOF)
        rs.MovePrevious();
    for (int i = 1; at != BOF && i < (at == END ? 4 : at); ++i)
        rs.MoveNext();
}
} // namespace

TEST_F(Navigation, EveryCursorPlaceAgainstEveryButton) {
    for (int i = 1; i <= 3; ++i)
        addEntry(u"row%1"_s.arg(i));
    frmLook* look = openLook();
    QPushButton *next = look->commNext, *prev = look->commPrevious, *first = look->MovefirstComm,
                *last = look->MovelastComm;
    // Before the first search and on an empty result they change nothing.
    for (const QString& title : {QString(), u"no such"_s}) {
        if (!title.isEmpty())
            search(look, 3, title);
        for (QPushButton* b : {first, prev, next, last})
            click(b);
        EXPECT_EQ(look->Label6->text(), title.isEmpty() ? u"共有记录数："_s : u"没有找到记录数"_s);
        EXPECT_EQ(look->txt_title->text(), u"Text1"_s);
    }
    EXPECT_FALSE(prev->isEnabled() || next->isEnabled());
    dialogs->boxes.clear();
    search(look, 2);
    ASSERT_EQ(found(look), 3);
    struct Step {
        int from;
        QPushButton* pressed;
        int shown;           // row then shown; 0: boxes and Label6 keep their texts
        bool prevOn, nextOn; // afterwards
        int to;
    };
    // Before each press "<" and ">" are set so that any change they undergo is visible.
    const Step table[] = {
        {BOF, next, 1, true, true, 1},     {1, next, 2, true, true, 2},
        {2, next, 3, true, true, 3},       {3, next, 0, true, true, END},
        {END, next, 0, false, false, END}, {BOF, prev, 0, false, false, BOF},
        {1, prev, 0, true, true, BOF},     {2, prev, 1, true, true, 1},
        {3, prev, 2, true, true, 2},       {END, prev, 3, true, true, 3},
        {BOF, first, 0, true, false, BOF}, {1, first, 1, false, true, 1},
        {3, first, 1, false, true, 1},     {END, first, 1, false, true, 1},
        {BOF, last, 3, true, false, 3},    {2, last, 3, true, false, 3},
        {3, last, 3, true, false, 3},      {END, last, 0, false, false, END},
    };
    for (const Step& s : table) {
        SCOPED_TRACE(::testing::Message() << s.from << s.pressed->text().toStdString());
        placeCursor(look->myrs.rs(), s.from);
        prev->setEnabled(s.pressed == prev || s.pressed == first);
        next->setEnabled(s.pressed == next);
        s.pressed->setEnabled(true);
        look->txt_title->setText(u"-"_s);
        look->Label6->setText(u"-"_s);
        click(s.pressed);
        EXPECT_EQ(look->txt_title->text() + look->Label6->text(),
                  s.shown ? u"row%1当前记录：%1"_s.arg(s.shown) : u"--"_s);
        EXPECT_EQ(prev->isEnabled(), s.prevOn);
        EXPECT_EQ(next->isEnabled(), s.nextOn);
        EXPECT_EQ(look->myrs.rs().AbsolutePosition(), s.to);
        EXPECT_TRUE(look->modifyComm->isEnabled() && look->DelComm->isEnabled());
        EXPECT_FALSE(look->saveComm->isEnabled());
    }
    EXPECT_TRUE(dialogs->boxes.empty());
}

TEST_F(Edit, ModifyThenSaveWritesTheShownTextsBackToTheEntryNowShown) {
    const int a = addEntry(u"a"_s);
    const int id = addEntry(u"old"_s, u"alice"_s, u"2024-3-2 8:00:00"_s, u"old text"_s, 17);
    frmLook* look = openLook();
    search(look, 2);
    click(look->modifyComm);
    retype(look->txt_title, u"typed on a"_s);
    click(look->commNext); // still editable on the next entry, which is the one saved
    EXPECT_TRUE(look->txt_writer->isReadOnly() && look->txt_time->isReadOnly());
    retype(look->txt_title, u"Tom's \"new\" 标题"_s);
    look->txt_content->setPlainText(u"new\n'text'\u00a0😀"_s);

    dialogs->askAnswers = {false};
    click(look->saveComm);
    EXPECT_EQ(column("B_title", id), u"old"_s);
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text, u"成功修改了记录号为17的日记"_s);
    EXPECT_EQ(column("B_title", id) + column("B_content", id),
              u"Tom's \"new\" 标题new\n'text'\u00a0😀"_s);
    EXPECT_EQ(column("B_writer", id) + column("B_time", id), u"alice2024-3-2 8:00:00"_s);
    EXPECT_EQ(column("B_title", a), u"a"_s);
    EXPECT_FALSE(look->saveComm->isEnabled());
    EXPECT_TRUE(look->txt_title->isReadOnly() && look->txt_content->isReadOnly());
}

// The last entry deleted while it is being changed: a save then says so and keeps the texts.
TEST_F(Edit, DeletingOneOfSeveralThenTheOnlyEntryWhileItIsBeingChanged) {
    const int a = addEntry(u"a"_s);
    const int b = addEntry(u"b"_s);
    frmLook* look = openLook();
    search(look, 2);
    click(look->commNext);
    dialogs->askAnswers = {false};
    click(look->DelComm);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 2);
    click(look->DelComm);
    EXPECT_EQ(column("B_title", b), QString());
    EXPECT_EQ(look->B_id, a);
    click(look->modifyComm);
    click(look->DelComm);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 0);
    EXPECT_EQ(look->Label6->text(), u"没有找到记录数"_s);
    EXPECT_FALSE(look->modifyComm->isEnabled() || look->DelComm->isEnabled());
    retype(look->txt_title, u"typed after"_s);
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text, u"记录号为%1的日记已不存在，修改未保存"_s.arg(a));
    EXPECT_TRUE(look->saveComm->isEnabled() && !look->txt_title->isReadOnly());
    EXPECT_EQ(look->txt_title->text(), u"typed after"_s);
}

namespace {
QString nameOf(QObject* o) {
    return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
}
} // namespace

TEST_F(Assistive, ScreenReadersHearWhatTheScreenShows) {
    frmWrite* w = openWrite();
    addEntry(u"一"_s);
    frmLook* look = openLook();
    search(look, 2);
    app::show(app::load(app::FormId::Month));
    auto* month = qobject_cast<frmMonth*>(app::loaded(app::FormId::Month));
    for (QLabel* label : {w->Label5, look->Label6}) { // the date, the count
        EXPECT_FALSE(label->text().isEmpty());
        EXPECT_EQ(nameOf(label), label->text());
    }
    // The caption bar reads the title once: its shadow is out of the tree.
    for (diary::SkinnedForm* form : std::initializer_list<diary::SkinnedForm*>{w, look}) {
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(form->JSCAPTION1);
        QStringList heard;
        for (int i = 0; i < bar->childCount(); ++i)
            heard << bar->child(i)->text(QAccessible::Name);
        EXPECT_EQ(heard.count(form->windowTitle()), 1) << heard.join(u',').toStdString();
        EXPECT_EQ(nameOf(form->JSCAPTION1->Label1), form->windowTitle());
    }
    for (const char* b : {"qt_calendar_prevmonth", "qt_calendar_nextmonth"})
        EXPECT_EQ(nameOf(month->MonthView1->findChild<QToolButton*>(QLatin1StringView(b))),
                  b[12] == 'p' ? u"上个月"_s : u"下个月"_s);
}

TEST_F(Assistive, NewEntryIsWrittenByTheLoggedInUserWhateverTheWriterBoxHolds) {
    frmWrite* w = openWrite();
    // Qt's own text interface writes into the read-only box.
    QAccessible::queryAccessibleInterface(w->B_Writer_text)
        ->setText(QAccessible::Value, u"mallory"_s);
    ASSERT_EQ(w->B_Writer_text->text(), u"mallory"_s);
    type(w->B_Content_text, u"mine"_s);
    click(w->saveComm);
    EXPECT_EQ(column("B_writer", count(u"select max(ID) from JR_content"_s)), Module1::UserName);

    // An edit saved from the browsing window keeps the entry's writer too.
    frmLook* look = openLook();
    search(look, 2);
    click(look->modifyComm);
    QAccessible::queryAccessibleInterface(look->txt_writer)
        ->setText(QAccessible::Value, u"mallory"_s);
    ASSERT_EQ(look->txt_writer->text(), u"mallory"_s);
    click(look->saveComm);
    EXPECT_EQ(column("B_writer", look->B_id), Module1::UserName);
}

TEST_F(SkinnedApp, TheFrameLiesOverTheControlsOfANarrowedWindow) {
    for (SkinnedForm* form : openBoth()) {
        SCOPED_TRACE(form->objectName().toStdString());
        EXPECT_EQ(skinOf(form), u"16"_s);
        form->resize(400, 300);
        EXPECT_EQ(form->childAt(397, 150), form->JSBORDER2);
        EXPECT_EQ(form->childAt(200, 297), form->JSBORDER3);
        EXPECT_EQ(form->childAt(2, 280), form->JSBORDER1);
    }
}

TEST_F(SkinnedApp, AChosenSkinHoldsForTheRunAnOpenBrowserKeepsItsOwnAndBadChoicesChangeNothing) {
    frmLook* openBrowser = openLook();
    frmWrite* write = openWrite();
    const QString junk = dir.filePath(u"junk.jss"_s);
    writeFile(junk, "not a skin");
    // The fake cancels the first dialog.
    for (const QString& bad : {QString(), junk, dir.filePath(u"gone.jss"_s)}) {
        if (!bad.isEmpty())
            dialogs->fileAnswers.push_back(bad);
        click(write->hfComm);
        EXPECT_EQ(skinOf(write), u"16"_s);
        EXPECT_TRUE(Module1::SkinPath.isEmpty());
        if (!bad.isEmpty()) {
            EXPECT_TRUE(dialogs->last().text.contains(QDir::toNativeSeparators(bad)));
        }
    }
    dialogs->fileAnswers.push_back(otherSkin);
    click(write->hfComm);
    EXPECT_EQ(skinOf(write), u"other"_s);
    EXPECT_EQ(skinOf(openBrowser), u"16"_s);

    app::unload(openBrowser);
    click(write->findNoteComm);
    ASSERT_NE(look(), nullptr);
    EXPECT_EQ(skinOf(look()), u"other"_s);
    // A new run starts from 16.jss again.
    app::unload(look());
    Module1::reset();
    for (SkinnedForm* form : openBoth())
        EXPECT_EQ(skinOf(form), u"16"_s);
}

TEST_F(SkinnedApp, WithoutTheDefaultSkinTheWindowsStillWork) {
    ASSERT_TRUE(QFile::remove(defaultSkin));
    skin::SkinCache::clear();
    frmWrite* write = openWrite();
    EXPECT_TRUE(write->isVisible());
    type(write->B_Content_text, u"没有皮肤也能写"_s);
    click(write->saveComm);
    ASSERT_NE(look(), nullptr);
    search(look(), 2);
    EXPECT_EQ(look()->txt_content->toPlainText(), u"没有皮肤也能写"_s);
}

// At 15 twips per pixel the smallest window is 296 x 148 px.
TEST_F(SkinnedApp, TheMinimumSizeHoldsPerDimensionInTheNormalStateOnly) {
    const std::pair<QSize, QSize> cases[] = {
        {{200, 500}, {296, 500}}, {{500, 100}, {500, 148}}, {{297, 149}, {297, 149}}};
    for (app::FormId id : {app::FormId::Write, app::FormId::Look}) { // each window alone
        auto* form = shown<SkinnedForm>(id);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
        SCOPED_TRACE(form->objectName().toStdString());
        for (const auto& [asked, expected] : cases) {
            form->resize(asked);
            EXPECT_EQ(form->size(), expected) << asked.width() << "x" << asked.height();
        }
        // Dragging the left border past the minimum leaves the right edge where it was.
        desktop->acceptResize = false;
        form->setGeometry(200, 100, 500, 400);
        JSBORDER* left = form->JSBORDER1;
        // Qt drops a move to where the pointer already is: one step beside it first.
        QTest::mouseMove(left, QPoint(3, 50));
        QTest::mouseMove(left, QPoint(2, 50));
        QTest::mousePress(left, Qt::LeftButton, {}, QPoint(2, 50));
        QTest::mouseMove(left, QPoint(2, 52));
        QTest::mouseMove(left,
                         left->mapFromGlobal(left->mapToGlobal(QPoint(2, 52)) + QPoint(400, 0)));
        QTest::mouseRelease(left, Qt::LeftButton);
        QMouseEvent away(QEvent::MouseMove, QPointF(-300, 60), left->mapToGlobal(QPointF(-300, 60)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(left, &away); // released: only tracks
        EXPECT_EQ(form->geometry(), QRect(404, 100, 296, 400));

        for (JSCAPTION::Button b : {JSCAPTION::MaxButton, JSCAPTION::MinButton}) {
            form->resize(800, 600);
            form->JSCAPTION1->pressButton(b);
            form->resize(100, 50);
            EXPECT_EQ(form->size(), QSize(100, 50));
            if (b == JSCAPTION::MaxButton)
                form->JSCAPTION1->pressButton(b);
        }
        form->setWindowState(Qt::WindowNoState);
        EXPECT_EQ(form->size(), QSize(296, 148));
        app::unload(form);
        settle();
    }
}

TEST_F(SkinnedApp, TheOutlineCutsTheTopCornersOfTheNormalWindowAtAnyDpi) {
    const QPolygon expected({{0, 400}, {0, 3}, {3, 0}, {597, 0}, {600, 4}, {600, 400}, {0, 400}});
    for (int tw : {15, 12, 10})
        EXPECT_EQ(SkinnedForm::windowOutline(600 * tw, 400 * tw, tw, tw), expected) << tw;
    frmWrite* form = openWrite();
    form->resize(600, 400);
    EXPECT_EQ(form->mask(), QRegion(expected));
}

TEST_F(SkinnedApp, OnlyTheTextBoxesGrowWithTheWindow) {
    for (SkinnedForm* form : openBoth()) {
        SCOPED_TRACE(form->objectName().toStdString());
        auto* box = form->findChild<QPlainTextEdit*>();
        const auto others = [&] {
            QList<QRect> at;
            for (QWidget* c : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (c != box && !c->objectName().isEmpty() && !qobject_cast<JSCAPTION*>(c) &&
                    !qobject_cast<JSBORDER*>(c))
                    at << c->geometry();
            return at;
        };
        const QList<QRect> fixed = others();
        const QSize window = form->size();
        const QRect designed = box->geometry();
        for (const auto& [by, grown] : {std::pair{QSize(130, 70), QSize(130, 70)},
                                        {QSize(-200, -100), QSize(0, 0)},
                                        {QSize(-50, 40), QSize(0, 40)}}) {
            form->resize(window + by);
            EXPECT_EQ(box->geometry(), designed.adjusted(0, 0, grown.width(), grown.height()));
        }
        EXPECT_EQ(others(), fixed);
    }
}
