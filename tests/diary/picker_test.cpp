// The date picker: where it opens, and the date it writes into the browsing window.
#include "DiaryApp.h"

#include "app/Navigation.h"
#include "diary/frmMonth.h"

#include <QCalendarWidget>
#include <QRadioButton>
#include <QTableView>
#include <QTest>

namespace {
using Picker = DiaryApp;

frmMonth* picker() {
    return qobject_cast<frmMonth*>(app::loaded(app::FormId::Month));
}

// Clicks the cell of `day` in the month the calendar shows.
void clickDay(QCalendarWidget* cal, int day) {
    auto* view = cal->findChild<QTableView*>(QStringLiteral("qt_calendar_calendarview"));
    ASSERT_NE(view, nullptr);
    QAbstractItemModel* m = view->model();
    const int firstRow =
        cal->horizontalHeaderFormat() == QCalendarWidget::NoHorizontalHeader ? 0 : 1;
    const int firstCol = cal->verticalHeaderFormat() == QCalendarWidget::NoVerticalHeader ? 0 : 1;
    // Days of the neighbouring months fill the first and last rows: small numbers are
    // this month's when met from the top, large ones when met from the bottom.
    const bool fromTop = day <= 15;
    for (int i = 0; i < m->rowCount() - firstRow; ++i) {
        const int r = fromTop ? firstRow + i : m->rowCount() - 1 - i;
        for (int c = firstCol; c < m->columnCount(); ++c) {
            const QModelIndex idx = m->index(r, c);
            if (idx.data().toString() == QString::number(day)) {
                QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                                  view->visualRect(idx).center());
                return;
            }
        }
    }
    FAIL() << "day " << day << " not shown";
}
} // namespace

TEST_F(Picker, OpensBesideTheBrowserOnTheDateInTheBoxOrOnToday) {
    frmLook* look = openLook();
    look->txtQuerytime->setText(QStringLiteral("2023-01-09"));
    click(look->findDateCommd);
    frmMonth* m = picker();
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->isVisible());
    EXPECT_FALSE(m->isModal());
    EXPECT_EQ(m->windowTitle(), QStringLiteral("日历"));
    EXPECT_EQ(m->MonthView1->selectedDate(), QDate(2023, 1, 9));
    EXPECT_EQ(m->MonthView1->monthShown(), 1);
    EXPECT_EQ(m->MonthView1->yearShown(), 2023);
    EXPECT_TRUE(child<QRadioButton>(look, "optQueryType0")->isChecked());
    // The browser stays usable beside it.
    EXPECT_EQ(app::loaded(app::FormId::Look), look);
    EXPECT_TRUE(look->isEnabled());

    // Asked again while open: the same picker comes up on the date now in the box.
    look->txtQuerytime->setText(QStringLiteral("2022-6-30"));
    click(look->findDateCommd);
    EXPECT_EQ(picker(), m);
    EXPECT_EQ(m->MonthView1->selectedDate(), QDate(2022, 6, 30));
    app::unload(m);
    settle();

    for (const char* text : {"", "next week", "2024-2-30", "2024-3"}) {
        SCOPED_TRACE(text);
        look->txtQuerytime->setText(QString::fromLatin1(text));
        click(look->findDateCommd);
        ASSERT_NE(picker(), nullptr);
        EXPECT_EQ(picker()->MonthView1->selectedDate(), QDate(2024, 3, 7));
        app::unload(picker());
        settle();
    }
}

TEST_F(Picker, AClickedDateGoesIntoTheDateBoxAndThePickerCloses) {
    frmLook* look = openLook();
    click(child<QRadioButton>(look, "optQueryType2"));
    look->txtQuerytime->setText(QStringLiteral("2024-03-20"));
    click(look->findDateCommd);
    click(child<QRadioButton>(look, "optQueryType3"));
    ASSERT_NE(picker(), nullptr);
    clickDay(picker()->MonthView1, 5);
    EXPECT_EQ(look->txtQuerytime->text(), QStringLiteral("2024-3-5"));
    settle();
    EXPECT_EQ(picker(), nullptr);
    // The pick neither searches nor changes the kind.
    EXPECT_TRUE(child<QRadioButton>(look, "optQueryType3")->isChecked());
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数："));
    EXPECT_FALSE(look->myrs.hasRs());

    look->txtQuerytime->setText(QStringLiteral("2008-11-25"));
    click(look->findDateCommd);
    clickDay(picker()->MonthView1, 28);
    EXPECT_EQ(look->txtQuerytime->text(), QStringLiteral("2008-11-28"));
}

TEST_F(Picker, ClosingWithoutAClickChangesNothing) {
    frmLook* look = openLook();
    click(look->findDateCommd);
    ASSERT_NE(picker(), nullptr);
    picker()->close();
    settle();
    EXPECT_EQ(picker(), nullptr);
    EXPECT_EQ(look->txtQuerytime->text(), QStringLiteral("2024-3-7"));
    EXPECT_EQ(app::loaded(app::FormId::Look), look);
}

TEST_F(Picker, APickAfterTheBrowserClosedIsIgnored) {
    frmLook* look = openLook();
    click(look->findDateCommd);
    frmMonth* m = picker();
    ASSERT_NE(m, nullptr);
    click(look->writeNoteComm);
    settle();
    ASSERT_EQ(app::loaded(app::FormId::Look), nullptr);
    EXPECT_EQ(app::loadedCount(), 2);
    clickDay(m->MonthView1, 12);
    settle();
    EXPECT_EQ(app::loaded(app::FormId::Look), nullptr);
    EXPECT_EQ(picker(), nullptr);
    EXPECT_EQ(app::loadedCount(), 1);
    EXPECT_EQ(endedCount, 0);
}
