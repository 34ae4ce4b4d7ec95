#include "support/Apps.h"

#include "app/FormRegistry.h"
#include "base/Module1.h"
#include "base/Twips.h"
#include "caption/JSCAPTION.h"
#include "data/statements.h"
#include "skin/JSBORDER.h"
#include "support/Skins.h"

#include <QApplication>
#include <QImage>
#include <QInputMethodEvent>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

void DiaryApp::SetUp() {
    TempApp::SetUp();
    app::registerForms();
    setNow(QDateTime(QDate(2024, 3, 7), QTime(10, 30)));
    logIn(u"alice"_s);
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
    exec(u"insert into JR_content(ID,B_title,B_weather,B_content,B_writer,B_time) "
         "values(%1,'%2','晴','%3','%4','%5')"_s.arg(id ? QString::number(id) : u"null"_s,
                                                     sql::quote(title), sql::quote(content),
                                                     sql::quote(writer), time));
    return count(u"select max(ID) from JR_content"_s);
}

QString DiaryApp::column(const char* name, int id) {
    return scalar(u"select %1 from JR_content where ID=%2"_s.arg(QLatin1String(name)).arg(id))
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
    if (t == u"没有找到记录数"_s)
        return 0;
    return t.startsWith(u"共有记录数："_s) ? t.mid(6).toInt() : -1;
}

QStringList DiaryApp::rows(frmLook* look) {
    QStringList out;
    for (int i = 0, n = found(look); i < n; ++i) {
        if (i > 0)
            click(look->commNext);
        out << look->txt_title->text() + u'/' + look->txt_writer->text();
    }
    out.sort();
    return out;
}

QStringList DiaryApp::takeTexts() {
    QStringList t = dialogs->texts();
    dialogs->boxes.clear();
    return t;
}

void LoginApp::SetUp() {
    DiaryApp::SetUp();
    logIn(QString());
    open();
}

void LoginApp::open() {
    login = qobject_cast<frmLogin*>(app::load(app::FormId::Login));
    ASSERT_NE(login, nullptr);
    app::show(login);
    QApplication::setActiveWindow(login);
    ASSERT_TRUE(QTest::qWaitForWindowActive(login));
}

QLineEdit* LoginApp::edit(const char* name) {
    return login->findChild<QLineEdit*>(QLatin1String(name));
}

QPushButton* LoginApp::button(const char* name) {
    return login->findChild<QPushButton*>(QLatin1String(name));
}

void LoginApp::fill(const char* box, const QString& text) {
    QLineEdit* e = edit(box);
    e->clear();
    e->setFocus();
    QTest::keyClicks(e, text);
}

void LoginApp::attempt(const QString& name, const QString& password) {
    fill("txtUserName", name);
    fill("txtPassword", password);
    press("cmdOK");
}

void SkinnedApp::SetUp() {
    DiaryApp::SetUp();
    app::Twips::setFactors(15, 15);
    defaultSkin = writeSkin(u"16.jss"_s, kDefault);
    otherSkin = writeSkin(u"other.jss"_s, kOther);
}

QString SkinnedApp::writeSkin(const QString& name, const SkinLook& look) {
    skin::PropertyBag bag = testskin::completeBag();
    const auto piece = [&](const char* key, int w, int h) {
        bag.writePicture(QLatin1String(key), testskin::png(QSize(w, h), look.colour));
    };
    for (const char* key : {"TOPLEFT", "TOPMID", "TOPRIGHT"})
        piece(key, 10, look.caption);
    testskin::borders(bag, look.border, look.colour);
    // Buttons and metrics of a usable bar, as the shipped skins have them.
    for (const char* key : {"CLOSE", "CLOSE2", "CLOSE3", "MAX", "MAX2", "MAX3", "RES1", "RES2",
                            "RES3", "MIN", "MIN2", "MIN3", "ONTOP1", "ONTOP3"})
        piece(key, 20, look.caption - 10);
    const std::pair<const char*, qint16> metrics[] = {{"XOFFSET", 12}, {"XOFFSET2", 8},
                                                      {"YOFFSET", 6},  {"FROMRIGHT", 6},
                                                      {"FROMTOP", 5},  {"ICONSPACE", 2}};
    for (const auto& [key, value] : metrics)
        bag.writeInteger(QLatin1String(key), value);
    return testskin::write(dir.filePath(name), bag);
}

std::vector<diary::SkinnedForm*> SkinnedApp::openBoth() {
    std::vector<diary::SkinnedForm*> forms{openWrite(), openLook()};
    for (QWidget* w : forms)
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    return forms;
}

void SkinnedApp::eachAlone(const std::function<void(diary::SkinnedForm*)>& test) {
    for (app::FormId id : {app::FormId::Write, app::FormId::Look}) {
        auto* form = qobject_cast<diary::SkinnedForm*>(app::load(id));
        app::show(form);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
        SCOPED_TRACE(form->objectName().toStdString());
        test(form);
        app::unload(form);
        settle();
    }
}

QString SkinnedApp::skinOf(diary::SkinnedForm* form) const {
    const QString path = form->JSCAPTION1->Path();
    for (const JSBORDER* b : {form->JSBORDER1, form->JSBORDER2, form->JSBORDER3})
        if (b->Path() != path)
            return u"mixed"_s;
    // What is drawn must agree with the paths.
    const SkinLook& look = path == defaultSkin ? kDefault : kOther;
    const QImage left = form->JSBORDER1->surface().toImage();
    if (form->JSCAPTION1->height() != look.caption || form->JSBORDER1->width() != look.border ||
        left.isNull() || left.pixelColor(0, 0) != look.colour)
        return u"mixed"_s;
    return path == defaultSkin ? u"16"_s : path == otherSkin ? u"other"_s : u"mixed"_s;
}
