#include "diary/frmMonth.h"

#include "base/DateText.h"
#include "base/Module1.h"
#include "base/Twips.h"
#include "data/myClass.h"
#include "data/statements.h"
#include "forms/FormUtil.h"
#include "shell/Navigation.h"

#include <QCalendarWidget>
#include <QFont>
#include <QLineEdit>
#include <QTextCharFormat>
#include <QToolButton>
#include <utility>

using app::Twips;

namespace {
// The browsing window's date box, while that window is loaded.
QLineEdit* queryDateBox() {
    QWidget* look = app::loaded(app::FormId::Look);
    return look ? look->findChild<QLineEdit*>(QStringLiteral("txtQuerytime")) : nullptr;
}
} // namespace

frmMonth::frmMonth(QWidget* parent) : QWidget(parent, Qt::Window) {
    diary::readAsWindow(this);
    setObjectName(QStringLiteral("frmMonth"));
    setWindowTitle(QStringLiteral("日历"));
    resize(Twips::toPxX(4680), Twips::toPxY(3090));
    MonthView1 = new QCalendarWidget(this);
    MonthView1->setObjectName(QStringLiteral("MonthView1"));
    // The designed place, grown where the platform's font needs more room for six weeks.
    QRect r = Twips::rect(240, 360, 4065, 2220);
    r.setSize(r.size().expandedTo(MonthView1->minimumSizeHint()));
    MonthView1->setGeometry(r);
    const QPoint margin = Twips::rect(240, 360, 0, 0).topLeft();
    resize(size().expandedTo(QSize(r.right() + 1 + margin.x(), r.bottom() + 1 + margin.y())));
    MonthView1->setAccessibleName(QStringLiteral("日历"));
    for (const auto& [button, name] : {std::pair{"qt_calendar_prevmonth", "上个月"},
                                       std::pair{"qt_calendar_nextmonth", "下个月"}})
        if (auto* b = MonthView1->findChild<QToolButton*>(QLatin1StringView(button)))
            b->setAccessibleName(QString::fromUtf8(name));
    connect(MonthView1, &QCalendarWidget::clicked, this, &frmMonth::MonthView1_DateClick);
    // Enter on a date picks it too, for those who use the keyboard.
    connect(MonthView1, &QCalendarWidget::activated, this, &frmMonth::MonthView1_DateClick);
    connect(MonthView1, &QCalendarWidget::currentPageChanged, this, &frmMonth::showDaysWritten);
    Form_Load();
}

void frmMonth::Form_Load() {
    showQueryDate();
    MonthView1->setFocus();
}

void frmMonth::showQueryDate() {
    QDate date = app::now().date();
    if (QLineEdit* box = queryDateBox())
        if (const auto typed = app::completeDate(box->text()))
            date = *typed;
    if (date < MonthView1->minimumDate() || date > MonthView1->maximumDate())
        date = app::now().date();
    const bool samePage =
        MonthView1->yearShown() == date.year() && MonthView1->monthShown() == date.month();
    MonthView1->setSelectedDate(date);
    MonthView1->setCurrentPage(date.year(), date.month());
    // Another page reads its days through currentPageChanged.
    if (samePage)
        showDaysWritten(date.year(), date.month());
}

void frmMonth::showDaysWritten(int year, int month) {
    MonthView1->setDateTextFormat(QDate(), QTextCharFormat());
    if (Module1::UserName.isEmpty())
        return;
    std::vector<std::vector<QVariant>> times;
    // Only a help: a store that does not answer leaves the calendar plain, and it still picks.
    try {
        if (db_.ocn().State() == 0)
            db_.OpenData();
        times = db_.ocn().rows(sql::timesInMonth(
            Module1::UserPopedom == 1 ? QString() : Module1::UserName, year, month));
    } catch (const std::exception&) {
        db_.releaseOcn();
        return;
    }
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    for (const auto& row : times) {
        // 'Y-M-D H:MM:SS': the day is the third number.
        bool ok = false;
        const int day =
            row[0].toString().section(QLatin1Char(' '), 0, 0).section(u'-', 2, 2).toInt(&ok);
        if (ok && QDate(year, month, day).isValid())
            MonthView1->setDateTextFormat(QDate(year, month, day), bold);
    }
}

void frmMonth::MonthView1_DateClick() {
    // A double click or Enter right after a click must not pick twice.
    if (picked_)
        return;
    picked_ = true;
    const QDate date = MonthView1->selectedDate();
    // A browsing window closed in the meantime gets nothing; the picker still closes.
    if (QLineEdit* box = queryDateBox())
        box->setText(app::dateText(date));
    app::unload(this);
}
