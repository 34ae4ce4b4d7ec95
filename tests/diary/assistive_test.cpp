// What assistive tools meet: the names a screen reader reads, and a writer box changed
// behind the user's back.
#include "caption/JSCAPTION.h"
#include "diary/frmMonth.h"
#include "support/Apps.h"

#include <QAccessible>
#include <QCalendarWidget>
#include <QToolButton>

using Assistive = DiaryApp;

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
    for (QWidget* window : std::initializer_list<QWidget*>{w, look, month}) {
        SCOPED_TRACE(window->windowTitle().toStdString());
        EXPECT_EQ(QAccessible::queryAccessibleInterface(window)->role(), QAccessible::Window);
        EXPECT_EQ(nameOf(window), window->windowTitle());
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
