// The browsing window itself: its start state, the entry display and leaving it.
#include "DiaryApp.h"

#include "app/Navigation.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

namespace {
using Look = DiaryApp;

void expectStartState(frmLook* look) {
    const char* boxes[] = {"txt_title", "txt_writer", "txt_weather", "txt_content", "txt_time"};
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("Text1"));
    EXPECT_EQ(look->txt_writer->text(), QStringLiteral("Text2"));
    EXPECT_EQ(look->txt_weather->text(), QStringLiteral("Text3"));
    EXPECT_EQ(look->txt_content->toPlainText(), QStringLiteral("Text4"));
    EXPECT_EQ(look->txt_time->text(), QStringLiteral("Text5"));
    for (const char* name : boxes) {
        QWidget* box = look->findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_NE(box, nullptr) << name;
        const bool locked = qobject_cast<QLineEdit*>(box)
                                ? qobject_cast<QLineEdit*>(box)->isReadOnly()
                                : qobject_cast<QPlainTextEdit*>(box)->isReadOnly();
        EXPECT_TRUE(locked) << name;
    }
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数："));
    EXPECT_TRUE(look->findChild<QRadioButton*>(QStringLiteral("optQueryType2"))->isChecked());
    EXPECT_FALSE(look->findChild<QRadioButton*>(QStringLiteral("optQueryType0"))->isChecked());
    EXPECT_FALSE(look->findChild<QRadioButton*>(QStringLiteral("optQueryType3"))->isChecked());
    EXPECT_EQ(look->findChild<QRadioButton*>(QStringLiteral("optQueryType1")), nullptr);
    EXPECT_EQ(look->txtQuerytitle->text(), QStringLiteral("标题"));
    for (const char* name : {"modifyComm", "saveComm", "DelComm"})
        EXPECT_FALSE(look->findChild<QPushButton*>(QString::fromLatin1(name))->isEnabled()) << name;
    for (const char* name : {"writeNoteComm", "helpComm", "queryComm", "findDateCommd",
                             "MovefirstComm", "commPrevious", "commNext", "MovelastComm"})
        EXPECT_TRUE(look->findChild<QPushButton*>(QString::fromLatin1(name))->isEnabled()) << name;
    EXPECT_EQ(look->B_id, 0);
}
} // namespace

TEST_F(Look, OpensInItsStartStateWithTodayInTheDateBox) {
    // 7 March: one-digit month and day, written without leading zeros.
    frmLook* look = openLook();
    EXPECT_EQ(look->windowTitle(), QStringLiteral("浏览日记"));
    EXPECT_EQ(look->txtQuerytime->text(), QStringLiteral("2024-3-7"));
    expectStartState(look);
    EXPECT_EQ(child<QGroupBox>(look, "Frame1")->title(), QStringLiteral("查询条件"));
    // Opening runs no search and touches no database.
    EXPECT_FALSE(look->myrs.hasOcn());
    EXPECT_FALSE(look->myrs.hasRs());
    EXPECT_TRUE(dialogs->boxes.empty());

    setNow(QDateTime(QDate(2025, 12, 25), QTime(8, 0)));
    app::unload(look);
    settle();
    EXPECT_EQ(openLook()->txtQuerytime->text(), QStringLiteral("2025-12-25"));
}

TEST_F(Look, FocusMovesInTheDesignedOrder) {
    frmLook* look = openLook();
    EXPECT_EQ(look->focusWidget(), look->txt_title);
    EXPECT_EQ(
        tabOrder(look->txt_title),
        names({"txt_title",     "txt_writer",   "txt_weather",   "txt_content",   "txt_time",
               "queryComm",     "txtQuerytime", "optQueryType0", "optQueryType2", "optQueryType3",
               "commNext",      "commPrevious", "findDateCommd", "modifyComm",    "saveComm",
               "MovefirstComm", "MovelastComm", "DelComm",       "txtQuerytitle", "writeNoteComm",
               "helpComm"}));
}

TEST_F(Look, ShowsTheFoundEntryAndSelectsTheLockedTitleOnClick) {
    const int id = addEntry(QStringLiteral("春天 first line"), QStringLiteral("alice"),
                            QStringLiteral("2024-3-7 9:05:00"), QStringLiteral("一\n二"),
                            QStringLiteral("多云"), 42);
    frmLook* look = openLook();
    searchAll(look);
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("春天 first line"));
    EXPECT_EQ(look->txt_writer->text(), QStringLiteral("alice"));
    EXPECT_EQ(look->txt_weather->text(), QStringLiteral("多云"));
    EXPECT_EQ(look->txt_time->text(), QStringLiteral("2024-3-7 9:05:00"));
    EXPECT_EQ(look->txt_content->toPlainText(), QStringLiteral("一\n二"));
    EXPECT_EQ(look->B_id, id);
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数：1"));

    click(look->txt_title);
    EXPECT_EQ(look->focusWidget(), look->txt_title);
    EXPECT_EQ(look->txt_title->selectedText(), QStringLiteral("春天 first line"));
    EXPECT_TRUE(look->txt_title->isReadOnly());
    type(look->txt_title, QStringLiteral("x"));
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("春天 first line"));
}

TEST_F(Look, WriteButtonReleasesTheConnectionAndResultAndComesBackFresh) {
    addEntry(QStringLiteral("t"), QStringLiteral("alice"), QStringLiteral("2024-3-7 9:05:00"));
    frmLook* look = openLook();
    searchAll(look);
    ASSERT_EQ(look->myrs.rs().State(), 1);
    QPointer<frmLook> old = look;
    click(look->writeNoteComm);
    // Still in memory until the event loop runs, but already let go of the database.
    ASSERT_FALSE(old.isNull());
    EXPECT_FALSE(old->myrs.hasOcn());
    EXPECT_FALSE(old->myrs.hasRs());
    settle();
    EXPECT_TRUE(old.isNull());
    EXPECT_NE(app::loaded(app::FormId::Write), nullptr);
    EXPECT_EQ(app::loadedCount(), 1);

    click(qobject_cast<frmWrite*>(app::loaded(app::FormId::Write))->findNoteComm);
    settle();
    auto* fresh = qobject_cast<frmLook*>(app::loaded(app::FormId::Look));
    ASSERT_NE(fresh, nullptr);
    expectStartState(fresh);
}

TEST_F(Look, ClosingTheWindowReleasesTheDatabaseToo) {
    addEntry(QStringLiteral("t"), QStringLiteral("alice"), QStringLiteral("2024-3-7 9:05:00"));
    frmLook* look = openLook();
    searchAll(look);
    look->close();
    EXPECT_FALSE(look->myrs.hasOcn());
    EXPECT_FALSE(look->myrs.hasRs());
    settle();
    EXPECT_EQ(app::loadedCount(), 0);
    EXPECT_EQ(endedCount, 1);
}

TEST_F(Look, HelpOpensTheManual) {
    frmLook* look = openLook();
    click(look->helpComm);
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(QStringLiteral("/manual.html")));
    EXPECT_TRUE(dialogs->boxes.empty());
}
