// Hostile texts pasted into every text box of every window: stored and shown back exactly,
// names and passwords as the normalisation says, nothing else touched, no unexpected box.
#include "HostileCorpus.h"
#include "support/Apps.h"

#include "accounts/Password.h"
#include "accounts/frmLogin.h"
#include "base/Module1.h"
#include "data/ado.h"
#include "data/statements.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTest>

using hostile::asParagraphs;
using hostile::asStored;
using hostile::label;
using hostile::same;

namespace {
// What Qt's line boxes hold at most where the program leaves the limit alone.
constexpr int kLineBoxLimit = 32767;
// The engine refuses a search pattern longer than this many bytes.
constexpr int kPatternLimit = 50000;

const QString kSaved = u"添加完成！"_s;
const QString kNone = u"没有查找满足条件的数据！"_s;
const QString kTooLong = u"查询内容太长"_s;
} // namespace

class HostileText : public DiaryApp {
protected:
    void SetUp() override {
        DiaryApp::SetUp();
        addUser(u"alice"_s, u"alice-pw"_s);
        addUser(u"carol"_s, u"carol-pw"_s, 1);
        canaryId = addEntry(u"carol's 'canary'"_s, u"carol"_s, u"2024-3-1 8:00:00"_s,
                            u"carol's private text; don't touch"_s);
        users = usersNow();
        canary = entryNow(canaryId);
    }

    // Every row of the users table, in order, as one text.
    QString usersNow() {
        return scalar(u"select group_concat(B_user||char(1)||B_password||char(1)||popedom, "
                      "char(2)) from (select * from JR_user order by rowid)"_s)
            .toString();
    }
    QString entryNow(int id) {
        return scalar(u"select B_title||char(1)||B_weather||char(1)||B_content||char(1)||"
                      "B_writer||char(1)||B_time from JR_content where ID=%1"_s.arg(id))
            .toString();
    }
    // A value read with a statement that may carry NUL inside its literals.
    QVariant value(const QString& sql) { return scalar(ado::translate(sql)); }

    // Select all, paste: the way any text, control characters included, reaches a box.
    static void paste(QWidget* box, const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    }

    static frmLogin* openLogin() {
        auto* login = qobject_cast<frmLogin*>(app::loaded(app::FormId::Login));
        if (!login) {
            login = qobject_cast<frmLogin*>(app::load(app::FormId::Login));
            app::show(login);
        }
        return login;
    }
    // Pastes the texts into the login window's boxes and presses one of its buttons.
    static void useLogin(const QString& name, const QString& password,
                         QPushButton* frmLogin::*button) {
        frmLogin* login = openLogin();
        paste(login->txtUserName, name);
        paste(login->txtPassword, password);
        click(login->*button);
        settle();
    }
    // Logs in; the writing window it opened, or nullptr.
    static frmWrite* logInWith(const QString& name, const QString& password) {
        useLogin(name, password, &frmLogin::cmdOK);
        auto* w = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
        if (w) {
            EXPECT_TRUE(same(w->B_Writer_text->text(), Module1::UserName));
        }
        return w;
    }
    // Logs in and goes straight back to a fresh login window.
    static bool logInAndOut(const QString& name, const QString& password) {
        frmWrite* w = logInWith(name, password);
        if (!w)
            return false;
        click(w->reLoginComm);
        settle();
        return true;
    }

    // Steps back from the last row of the result to the entry `id`; false when absent.
    bool stepTo(frmLook* w, int id) {
        if (found(w) <= 0)
            return false;
        click(w->MovelastComm);
        for (int i = found(w); i > 0 && w->B_id != id; --i)
            click(w->commPrevious);
        return w->B_id == id;
    }

    // Runs a search of `kind` with `text` pasted into its box. Returns the number of rows,
    // or -1 after the box that says the text is too long for a search.
    int searchFor(frmLook* w, int kind, const QString& text) {
        if (kind == 0)
            paste(w->txtQuerytime, text);
        if (kind == 3)
            paste(w->txtQuerytitle, text);
        click(w->optQueryType[kind]);
        const std::size_t before = dialogs->boxes.size();
        click(w->queryComm);
        if (dialogs->boxes.size() > before && dialogs->last().title == u"错误"_s) {
            EXPECT_TRUE(dialogs->last().text.contains(kTooLong))
                << dialogs->last().text.toStdString();
            return -1;
        }
        return found(w);
    }
    static bool tooLongToSearch(const QString& text) {
        return text.left(kLineBoxLimit).toUtf8().size() + 2 > kPatternLimit;
    }

    void expectShown(frmLook* w, const QString& title, const QString& weather,
                     const QString& content) {
        EXPECT_TRUE(same(w->txt_title->text(), asStored(title)));
        EXPECT_TRUE(same(w->txt_weather->text(), asStored(weather)));
        EXPECT_TRUE(same(w->txt_writer->text(), u"alice"_s));
        EXPECT_TRUE(same(diary::plainText(w->txt_content), asStored(asParagraphs(content))));
    }
    void expectStored(int id, const QString& title, const QString& weather,
                      const QString& content) {
        EXPECT_TRUE(same(column("B_title", id), asStored(title)));
        EXPECT_TRUE(same(column("B_weather", id), asStored(weather)));
        EXPECT_TRUE(same(column("B_content", id), asStored(asParagraphs(content))));
        EXPECT_TRUE(same(column("B_writer", id), u"alice"_s));
    }

    int canaryId = 0;
    QString users, canary;
};

TEST_F(HostileText, EveryDiaryBoxStoresAndShowsEveryTextExactly) {
    const QStringList texts = hostile::corpus();
    const auto n = texts.size();
    const auto text = [&](qsizetype i) { return texts[i % n]; };
    int expectedErrors = 0;

    frmWrite* w = openWrite();
    for (qsizetype i = 0; i < n; ++i) {
        SCOPED_TRACE(label(text(i)));
        ASSERT_NE(w, nullptr);
        // The writing window: title, weather, text, each a different text of the corpus.
        paste(w->B_Title_text, text(i));
        paste(w->B_Weather_Combo->lineEdit(), text(i + 1));
        paste(w->B_Content_text, text(i + 2));
        EXPECT_TRUE(same(w->B_Title_text->text(), text(i))) << "the box cut or changed the text";
        EXPECT_TRUE(same(w->B_Weather_Combo->currentText(), text(i + 1)));
        click(w->saveComm);
        ASSERT_TRUE(same(dialogs->last().text, kSaved));
        settle();
        const int id = count(u"select max(ID) from JR_content"_s);
        expectStored(id, text(i), text(i + 1), text(i + 2));

        // Found by its title and shown back whole.
        frmLook* l = look();
        ASSERT_NE(l, nullptr);
        const int byTitle = searchFor(l, 3, text(i));
        if (tooLongToSearch(text(i))) {
            EXPECT_EQ(byTitle, -1);
            ++expectedErrors;
        } else {
            EXPECT_TRUE(stepTo(l, id)) << byTitle << " rows";
            expectShown(l, text(i), text(i + 1), text(i + 2));
        }

        // Edited in the browser: title and text replaced; weather and writer written back.
        EXPECT_GT(searchFor(l, 2, QString()), 0);
        ASSERT_TRUE(stepTo(l, id));
        click(l->modifyComm);
        paste(l->txt_title, text(i + 3));
        paste(l->txt_content, text(i + 4));
        EXPECT_TRUE(same(l->txt_title->text(), text(i + 3))) << "the box cut or changed the text";
        click(l->saveComm);
        EXPECT_TRUE(same(dialogs->last().text, u"成功修改了记录号为%1的日记"_s.arg(id)));
        expectStored(id, text(i + 3), text(i + 1), text(i + 4));
        EXPECT_GT(searchFor(l, 2, QString()), 0);
        ASSERT_TRUE(stepTo(l, id));
        expectShown(l, text(i + 3), text(i + 1), text(i + 4));

        // The date box takes any text: nothing found, or only this writer's entries.
        const int byDate = searchFor(l, 0, text(i));
        if (tooLongToSearch(text(i))) {
            EXPECT_EQ(byDate, -1);
            ++expectedErrors;
        } else if (byDate > 0) {
            EXPECT_TRUE(same(l->txt_writer->text(), u"alice"_s));
        } else {
            EXPECT_TRUE(same(dialogs->last().text, kNone));
        }
        click(l->writeNoteComm);
        settle();
        w = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
    }

    EXPECT_TRUE(same(entryNow(canaryId), canary));
    EXPECT_TRUE(same(usersNow(), users));
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), n + 1);
    EXPECT_EQ(count(u"select count(*) from JR_content where B_writer='alice'"_s), n);
    EXPECT_TRUE(same(scalar(u"pragma integrity_check"_s).toString(), u"ok"_s));
    static const QRegularExpression edited(u"^成功修改了记录号为\\d+的日记$"_s);
    int errors = 0;
    for (const fake::Box& b : dialogs->boxes) {
        if (b.title == u"错误"_s) {
            ++errors;
            continue;
        }
        const bool defined = b.text == kSaved || b.text == kNone || b.text == u"真的要修改吗?"_s ||
                             edited.match(b.text).hasMatch();
        EXPECT_TRUE(defined) << b.text.left(200).toStdString();
    }
    EXPECT_EQ(errors, expectedErrors);
}

TEST_F(HostileText, NamesAndPasswordsFollowTheNormalisationInEveryBox) {
    const QString kTaken = u"此用户已经存在，请用另外一个用户名注册"_s;
    const QStringList texts = hostile::corpus();
    const auto n = texts.size();
    const auto text = [&](qsizetype i) { return texts[i % n]; };
    QStringList names = {u"alice"_s, u"carol"_s}; // as stored, folded as the file folds
    // The file compares names folding ASCII letters only.
    const auto fold = [](QString name) {
        for (QChar& c : name)
            if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                c = QChar(c.unicode() + 32);
        return name;
    };
    const auto taken = [&](const QString& name) {
        for (const QString& other : names)
            if (fold(other) == fold(name))
                return true;
        return false;
    };

    int registered = 0;
    for (qsizetype i = 0; i < n; ++i) {
        SCOPED_TRACE(label(text(i)));
        frmLogin* login = openLogin();
        paste(login->txtUserName, text(i));
        paste(login->txtPassword, text(i + 1));
        // Qt's line box keeps at most 32767 characters here: what it holds is what counts.
        const QString typedName = text(i).left(kLineBoxLimit);
        const QString typedPassword = text(i + 1).left(kLineBoxLimit);
        ASSERT_TRUE(same(login->txtUserName->text(), typedName));
        ASSERT_TRUE(same(login->txtPassword->text(), typedPassword));
        click(login->RegComm);
        const QString name = asStored(accounts::normalise(typedName));
        if (name.isEmpty()) {
            EXPECT_TRUE(same(dialogs->last().text, u"请填写用户名"_s));
            continue;
        }
        if (taken(name)) {
            EXPECT_TRUE(same(dialogs->last().text, kTaken));
            continue;
        }
        ASSERT_TRUE(same(dialogs->last().text, u"注册成功，请记住你的用户和密码\n\n用户："_s +
                                                   typedName + u"\n密码："_s + typedPassword));
        names << name;
        ++registered;
        // Stored normalised, never raw; the password only as a hash of its normal form.
        const QString where = u" from JR_user where B_user='%1'"_s.arg(sql::quote(name));
        ASSERT_EQ(value(u"select count(*)"_s + where).toInt(), 1);
        EXPECT_TRUE(same(value(u"select B_user"_s + where).toString(), name));
        const QString hash = value(u"select B_password"_s + where).toString();
        EXPECT_TRUE(accounts::isHash(hash));
        EXPECT_TRUE(accounts::verifyPassword(accounts::normalise(typedPassword), hash));

        // The same texts log in, as the stored name.
        ASSERT_TRUE(logInAndOut(text(i), text(i + 1)));
        EXPECT_TRUE(same(Module1::UserName, name));

        if (i % 3 == 0) {
            // A new password from the input box, then a login with it.
            login = openLogin();
            paste(login->txtUserName, text(i));
            paste(login->txtPassword, text(i + 1));
            // The input box's own line box holds no more than the login boxes.
            const QString answer = text(i + 2).left(kLineBoxLimit);
            dialogs->inputAnswers.push_back(answer);
            click(login->modifyComm);
            ASSERT_TRUE(
                same(dialogs->last().text, u"密码已经修改成功，请记住新密码：\n\r"_s + answer));
            EXPECT_TRUE(accounts::verifyPassword(accounts::normalise(answer),
                                                 value(u"select B_password"_s + where).toString()));
            EXPECT_TRUE(logInAndOut(text(i), answer));
        }
    }
    EXPECT_GT(registered, n * 2 / 3);
    EXPECT_EQ(frmLogin::FailedLogins, 0);

    // Another spelling of a stored name is that name: refused, and its row left alone.
    frmLogin* login = openLogin();
    paste(login->txtUserName, u" 'CAR'OL' "_s);
    click(login->RegComm);
    EXPECT_TRUE(same(dialogs->last().text, kTaken));
    EXPECT_TRUE(usersNow().startsWith(users));
    EXPECT_EQ(count(u"select count(*) from JR_user"_s), registered + 2);
    EXPECT_TRUE(same(entryNow(canaryId), canary));
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 1);
    for (const fake::Box& b : dialogs->boxes)
        EXPECT_NE(b.title, u"错误"_s) << b.text.left(200).toStdString();
}

// "' alice" normalises to " alice", a name of its own. Normalised once more at login it would
// become "alice", and its owner would read, change and delete alice's diary.
TEST_F(HostileText, ABlankLeftByAnApostropheMakesNoOtherUser) {
    const int secret = addEntry(u"alice's secret"_s, u"alice"_s);
    const QString secretBefore = entryNow(secret);
    useLogin(u"' alice"_s, u"mine"_s, &frmLogin::RegComm);
    EXPECT_TRUE(same(dialogs->last().text,
                     u"注册成功，请记住你的用户和密码\n\n用户：' alice\n密码：mine"_s));
    EXPECT_EQ(count(u"select count(*) from JR_user where B_user=' alice'"_s), 1);
    frmWrite* w = logInWith(u"' alice"_s, u"mine"_s);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(same(Module1::UserName, u" alice"_s));
    click(w->findNoteComm);
    settle();
    ASSERT_NE(look(), nullptr);
    EXPECT_EQ(searchFor(look(), 2, QString()), 0);
    EXPECT_TRUE(same(dialogs->last().text, kNone));

    // From a database made elsewhere, with the password kept as text: the upgrade to a hash
    // goes to that row, not to the row of "bob".
    click(look()->writeNoteComm);
    settle();
    click(qobject_cast<frmWrite*>(app::loaded(app::FormId::Write))->reLoginComm);
    settle();
    addUser(u"bob"_s, u"bob-pw"_s);
    exec(u"insert into JR_user(B_user,B_password) values(' bob','text-pw')"_s);
    const QString bobHash =
        scalar(u"select B_password from JR_user where B_user='bob'"_s).toString();
    ASSERT_NE(logInWith(u"' bob"_s, u"text-pw"_s), nullptr);
    EXPECT_TRUE(same(Module1::UserName, u" bob"_s));
    EXPECT_TRUE(
        same(scalar(u"select B_password from JR_user where B_user='bob'"_s).toString(), bobHash));
    EXPECT_TRUE(accounts::isHash(
        scalar(u"select B_password from JR_user where B_user=' bob'"_s).toString()));
    EXPECT_TRUE(same(entryNow(secret), secretBefore));
    EXPECT_EQ(frmLogin::FailedLogins, 0);
    for (const fake::Box& b : dialogs->boxes)
        EXPECT_NE(b.title, u"错误"_s) << b.text.toStdString();
}
