#pragma once
// The date picker: a month calendar whose clicked date goes into the browsing window's date box.
#include "data/myClass.h"

#include <QWidget>

class QCalendarWidget;
class QDate;

class frmMonth : public QWidget {
    Q_OBJECT
public:
    explicit frmMonth(QWidget* parent = nullptr);

    QCalendarWidget* MonthView1 = nullptr;

    void MonthView1_DateClick();
    // Shows the date of the browsing window's date box, or today when it holds no whole date.
    Q_INVOKABLE void showQueryDate();
    // The days of the shown month with entries of the user logged in (everyone's for an
    // administrator) in bold.
    void showDaysWritten(int year, int month);

private:
    void Form_Load();
    bool picked_ = false;
    myClass db_;
};
