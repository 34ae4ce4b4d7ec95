#include "DiaryApp.h"

#include "app/FormRegistry.h"
#include "base/Module1.h"
#include "data/statements.h"

#include <QInputMethodEvent>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

void DiaryApp::SetUp() {
    TempApp::SetUp();
    app::registerForms();
    setNow(QDateTime(QDate(2024, 3, 7), QTime(10, 30)));
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
                       const QString& content, int id) {
    exec(QStringLiteral("insert into JR_content(ID,B_title,B_weather,B_content,B_writer,B_time) "
                        "values(%1,'%2','晴','%3','%4','%5')")
             .arg(id ? QString::number(id) : QStringLiteral("null"), sql::quote(title),
                  sql::quote(content), sql::quote(writer), time));
    return count(QStringLiteral("select max(ID) from JR_content"));
}

QString DiaryApp::column(const char* name, int id) {
    return scalar(QStringLiteral("select %1 from JR_content where ID=%2")
                      .arg(QString::fromLatin1(name))
                      .arg(id))
        .toString();
}

void DiaryApp::click(QWidget* w) {
    QPoint at = w->rect().center();
    if (auto* r = qobject_cast<QRadioButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(r);
        at = r->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &opt, r).center();
    }
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

void DiaryApp::type(QWidget* w, const QString& text) {
    for (qsizetype i = 0, j = 0; i < text.size(); i = j) {
        const bool ascii = text[i].unicode() < 0x80;
        while (j < text.size() && (text[j].unicode() < 0x80) == ascii)
            ++j;
        if (ascii) {
            QTest::keyClicks(w, text.mid(i, j - i));
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(text.mid(i, j - i));
            QCoreApplication::sendEvent(w, &commit);
        }
    }
}

void DiaryApp::retype(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    type(box, text);
}

void DiaryApp::search(frmLook* look, int kind, const QString& text) {
    if (kind == 0)
        look->txtQuerytime->setText(text);
    if (kind == 3)
        look->txtQuerytitle->setText(text);
    click(look->optQueryType[kind]);
    click(look->queryComm);
}

int DiaryApp::found(frmLook* look) {
    const QString t = look->Label6->text();
    if (t == QStringLiteral("没有找到记录数"))
        return 0;
    return t.startsWith(QStringLiteral("共有记录数：")) ? t.mid(6).toInt() : -1;
}

QStringList DiaryApp::rows(frmLook* look) {
    QStringList out;
    for (int i = 0, n = found(look); i < n; ++i) {
        if (i > 0)
            click(look->commNext);
        out << look->txt_title->text() + QLatin1Char('/') + look->txt_writer->text();
    }
    out.sort();
    return out;
}

QStringList DiaryApp::takeTexts() {
    QStringList t = dialogs->texts();
    dialogs->boxes.clear();
    return t;
}
