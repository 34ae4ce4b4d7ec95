// What assistive tools meet: the names a screen reader reads, and a writer box changed
// behind the user's back.
#include "base/Module1.h"
#include "caption/JSCAPTION.h"
#include "diary/frmMonth.h"
#include "support/Apps.h"

#include <QAccessible>
#include <QCalendarWidget>
#include <QToolButton>

using Assistive = DiaryApp;

namespace {
QAccessibleInterface* reader(QObject* o) {
    return QAccessible::queryAccessibleInterface(o);
}
QString nameOf(QObject* o) {
    return reader(o)->text(QAccessible::Name);
}
// Every name under the bar, as a screen reader walking the tree hears them.
QStringList namesUnder(QObject* bar) {
    QStringList out;
    QAccessibleInterface* b = reader(bar);
    for (int i = 0; i < b->childCount(); ++i)
        out << b->child(i)->text(QAccessible::Name);
    return out;
}
} // namespace

TEST_F(Assistive, ScreenReadersHearWhatTheScreenShows) {
    frmWrite* w = openWrite();
    addEntry(u"一"_s);
    frmLook* look = openLook();
    search(look, 2);
    app::show(app::load(app::FormId::Month));
    auto* month = qobject_cast<frmMonth*>(app::loaded(app::FormId::Month));

    // Labels read their text: the date, the count.
    for (QLabel* label : {w->Label5, look->Label6}) {
        EXPECT_FALSE(label->text().isEmpty());
        EXPECT_EQ(nameOf(label), label->text());
    }
    // The windows are windows named by their captions; a caption bar reads the title once.
    for (QWidget* window :
         {static_cast<QWidget*>(w), static_cast<QWidget*>(look), static_cast<QWidget*>(month)}) {
        SCOPED_TRACE(window->windowTitle().toStdString());
        EXPECT_EQ(reader(window)->role(), QAccessible::Window);
        EXPECT_EQ(nameOf(window), window->windowTitle());
    }
    for (diary::SkinnedForm* form :
         {static_cast<diary::SkinnedForm*>(w), static_cast<diary::SkinnedForm*>(look)}) {
        const QStringList heard = namesUnder(form->JSCAPTION1);
        EXPECT_EQ(heard.count(form->windowTitle()), 1) << heard.join(u',').toStdString();
        EXPECT_EQ(nameOf(form->JSCAPTION1->Label1), form->windowTitle());
    }
    const auto monthButton = [&](const char* name) {
        return nameOf(month->MonthView1->findChild<QToolButton*>(QLatin1StringView(name)));
    };
    EXPECT_EQ(monthButton("qt_calendar_prevmonth"), u"上个月"_s);
    EXPECT_EQ(monthButton("qt_calendar_nextmonth"), u"下个月"_s);
}

TEST_F(Assistive, NewEntryIsWrittenByTheLoggedInUserWhateverTheWriterBoxHolds) {
    frmWrite* w = openWrite();
    // Qt's own text interface writes into the read-only box.
    reader(w->B_Writer_text)->setText(QAccessible::Value, u"mallory"_s);
    ASSERT_EQ(w->B_Writer_text->text(), u"mallory"_s);
    type(w->B_Content_text, u"mine"_s);
    click(w->saveComm);
    EXPECT_EQ(column("B_writer", count(u"select max(ID) from JR_content"_s)), Module1::UserName);

    // An edit saved from the browsing window keeps the entry's writer too.
    frmLook* look = openLook();
    search(look, 2);
    click(look->modifyComm);
    reader(look->txt_writer)->setText(QAccessible::Value, u"mallory"_s);
    ASSERT_EQ(look->txt_writer->text(), u"mallory"_s);
    click(look->saveComm);
    EXPECT_EQ(column("B_writer", look->B_id), Module1::UserName);
}
