#include "diary/frmMonth.h"

#include "base/DateText.h"
#include "base/Module1.h"
#include "base/Twips.h"
#include "forms/FormUtil.h"
#include "shell/Navigation.h"

#include <QCalendarWidget>
#include <QLineEdit>
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
    MonthView1->setSelectedDate(date);
    MonthView1->setCurrentPage(date.year(), date.month());
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
