#include "DiaryApp.h"

#include "app/FormRegistry.h"
#include "app/Module1.h"
#include "app/Navigation.h"
#include "data/statements.h"

#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

QStringList names(std::initializer_list<const char*> list) {
    QStringList out;
    for (const char* s : list)
        out << QString::fromUtf8(s);
    return out;
}

void DiaryApp::SetUp() {
    TempApp::SetUp();
    app::registerForms();
    setNow(QDateTime(QDate(2024, 3, 7), QTime(10, 30, 0)));
    logIn(QStringLiteral("alice"));
}

void DiaryApp::logIn(const QString& name, qint16 popedom) {
    Module1::UserName = name;
    Module1::UserPopedom = popedom;
}

void DiaryApp::setNow(const QDateTime& t) {
    now_ = t;
    app::setClock([this] { return now_; });
}

frmWrite* DiaryApp::openWrite() {
    auto* w = qobject_cast<frmWrite*>(app::load(app::FormId::Write));
    app::show(w);
    return w;
}

frmLook* DiaryApp::openLook() {
    auto* w = qobject_cast<frmLook*>(app::load(app::FormId::Look));
    app::show(w);
    return w;
}

int DiaryApp::addEntry(const QString& title, const QString& writer, const QString& time,
                       const QString& content, const QString& weather, int id) {
    exec(QStringLiteral("insert into JR_content(ID,B_title,B_weather,B_content,B_writer,B_time) "
                        "values(%1,'%2','%3','%4','%5','%6')")
             .arg(id ? QString::number(id) : QStringLiteral("null"), sql::quote(title),
                  sql::quote(weather), sql::quote(content), sql::quote(writer), sql::quote(time)));
    return count(
        QStringLiteral("select max(ID) from JR_content where B_title='%1'").arg(sql::quote(title)));
}

void DiaryApp::click(QWidget* w) {
    QPoint at = w->rect().center();
    // An option button reacts only on its circle and caption, not on the blank to their right.
    if (auto* r = qobject_cast<QRadioButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(r);
        at = r->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &opt, r).center();
    }
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

void DiaryApp::type(QWidget* w, const QString& text) {
    for (qsizetype i = 0; i < text.size();) {
        qsizetype j = i;
        const bool ascii = text[i].unicode() < 0x80;
        while (j < text.size() && (text[j].unicode() < 0x80) == ascii)
            ++j;
        const QString part = text.mid(i, j - i);
        if (ascii) {
            QTest::keyClicks(w, part);
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(part);
            QCoreApplication::sendEvent(w, &commit);
        }
        i = j;
    }
}

void DiaryApp::searchAll(frmLook* look) {
    click(child<QRadioButton>(look, "optQueryType2"));
    click(look->queryComm);
}

void DiaryApp::searchTitle(frmLook* look, const QString& text) {
    look->txtQuerytitle->setText(text);
    click(child<QRadioButton>(look, "optQueryType3"));
    click(look->queryComm);
}

void DiaryApp::searchDate(frmLook* look, const QString& text) {
    look->txtQuerytime->setText(text);
    click(child<QRadioButton>(look, "optQueryType0"));
    click(look->queryComm);
}

QStringList DiaryApp::takeTexts() {
    QStringList t = dialogs->texts();
    dialogs->boxes.clear();
    return t;
}

QStringList DiaryApp::tabOrder(QWidget* first) {
    QStringList names;
    QWidget* w = first;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty())
            names << w->objectName();
        w = w->nextInFocusChain();
    } while (w && w != first && names.size() < 100);
    return names;
}
