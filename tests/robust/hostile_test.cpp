// Hostile texts pasted into every text box: stored and shown back exactly, names and
// passwords as the normalisation says, nothing else touched, no unexpected box.
#include "support/Support.h"

#include "accounts/Password.h"
#include "data/ado.h"
#include "data/settings.h"
#include "data/statements.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

namespace {
constexpr int kLineBoxLimit = 32767; // Qt's line boxes where the program leaves the limit
constexpr int kPatternLimit = 50000; // bytes of a search pattern the engine accepts

struct Hostile {
    const char* name;
    QString text;
};

// One text per way a text breaks quoting, patterns, encoding, widgets or storage.
std::vector<Hostile> corpus() {
    const QChar nul(0);
    QString longLine, large;
    while (longLine.size() < 40000) // over the line box's own limit, too long to search
        longLine += u"日记'%_\\ "_s;
    // Many lines, over every limit of a box or a search.
    for (int i = 0; large.size() < (1 << 17); ++i)
        large += u"第%1行：今天天气不错，it's 100% fine_ok \\o/ 😀\n"_s.arg(i);
    return {
        {"quote", u"'"_s},
        {"quotes", u"'a''b'''"_s},
        {"injection", u"x'); delete from JR_user; -- ' or '1'='1 /* */ \" ` ? NULL"_s},
        {"pattern", u"100%_off%' C:\\new\\'"_s},
        {"nul", QString(nul)},
        {"nuls", u"a"_s + nul + u"b'"_s + nul},
        {"controls and blanks", u"  \t\u0001\u0007\u0008\u000b\u000c\u001b\u001f\u007f ctl\t  "_s},
        {"breaks", u"a\nb\rc\r\nd\u2028e\u2029f\n\n"_s},
        {"unicode", u"😀👨\u200d👩\u200d👧 𠀀 \u202eevil\u202c e\u0301 zero\u200bwidth\ufeff"_s},
        {"surrogates", QString(QChar(0xD800)) + u"lone"_s + QChar(0xDC00)},
        {"chinese", u"今天'很'好"_s},
        // Normalised to " alice", a name of its own; normalised once more at login it
        // would be "alice", whose diary its owner would then read, change and delete.
        {"apostrophe and blank", u"' alice"_s},
        {"long line", longLine.left(40000)},
        {"large", large}};
}

// UTF-8 holds no lone surrogate; a multi-line box keeps CR, CR LF and U+2029 as line breaks.
QString asStored(const QString& t) {
    return QString::fromUtf8(t.toUtf8());
}
QString asParagraphs(QString t) {
    t.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n').replace(QChar::ParagraphSeparator, u'\n');
    return t;
}
} // namespace

class HostileText : public DiaryApp {
protected:
    void SetUp() override {
        DiaryApp::SetUp();
        addUser(u"carol"_s, u"carol-pw"_s, 1);
        addEntry(u"carol's 'canary'"_s, u"carol"_s, u"2024-3-1 8:00:00"_s,
                 u"carol's private text; don't touch"_s);
        untouched = everything();
    }
    // The first users and the canary entry, as one text.
    QString everything() {
        return scalar(u"select (select group_concat(B_user||B_password||popedom) from JR_user "
                      "where rowid<3)||(select B_title||B_content||B_writer from JR_content "
                      "where ID=1)"_s)
            .toString();
    }
    // A column of the user named `name`, which may hold any character, NUL included.
    QString userField(const char* column, const QString& name) {
        ado::Connection c;
        c.ConnectionString = u"data source="_s + dbPath();
        c.Open();
        const auto r = c.rows(
            {u"select %1 from JR_user where B_user=?"_s.arg(QLatin1String(column)), {{{}, name}}});
        return r.empty() ? QString() : r[0][0].toString();
    }

    // A search of `kind` with `text` in its box: the rows, or -1 after "查询内容太长".
    int searchFor(frmLook* w, int kind, const QString& text) {
        paste(kind == 0 ? w->txtQuerytime : w->txtQuerytitle, text);
        click(w->optQueryType[kind]);
        const std::size_t before = dialogs->boxes.size();
        click(w->queryComm);
        if (dialogs->boxes.size() > before && dialogs->last().title == u"错误"_s) {
            EXPECT_TRUE(dialogs->last().text.contains(u"查询内容太长"_s));
            return -1;
        }
        return found(w);
    }
    void expectStored(int id, const QString& title, const QString& weather,
                      const QString& content) {
        EXPECT_TRUE(column("B_title", id) == asStored(title));
        EXPECT_TRUE(column("B_weather", id) == asStored(weather));
        EXPECT_TRUE(column("B_content", id) == asStored(asParagraphs(content)));
        EXPECT_EQ(column("B_writer", id), u"alice"_s);
    }

    QString untouched;
};

// Each text visits the title, weather and content of the writing window and the title and
// content of the browsing window, and the search boxes; titles longer than a line box's
// default limit are kept whole.
TEST_F(HostileText, EveryDiaryBoxStoresAndShowsEveryTextExactly) {
    const std::vector<Hostile> texts = corpus();
    const auto n = texts.size();
    const auto text = [&](std::size_t i) { return texts[i % n].text; };
    int expectedErrors = 0;
    for (std::size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(texts[i].name);
        frmWrite* w = openWrite();
        paste(w->B_Title_text, text(i));
        paste(w->B_Weather_Combo->lineEdit(), text(i + 1));
        paste(w->B_Content_text, text(i + 2));
        click(w->saveComm);
        ASSERT_EQ(dialogs->last().text, u"添加完成！"_s);
        settle();
        const int id = count(u"select max(ID) from JR_content"_s);

        frmLook* l = look();
        ASSERT_NE(l, nullptr);
        const bool searchable = text(i).left(kLineBoxLimit).toUtf8().size() + 2 <= kPatternLimit;
        expectedErrors += searchable ? 0 : 2; // by title and by date
        EXPECT_EQ(searchFor(l, 3, text(i)) > 0, searchable);
        if (!searchable)
            searchFor(l, 2, QString());
        click(l->MovelastComm); // the newest entry comes last
        ASSERT_EQ(l->B_id, id);
        expectStored(id, text(i), text(i + 1), text(i + 2));
        EXPECT_TRUE(l->txt_title->text() == asStored(text(i)));
        EXPECT_TRUE(l->txt_weather->text() == asStored(text(i + 1)));
        EXPECT_TRUE(diary::plainText(l->txt_content) == asStored(asParagraphs(text(i + 2))));

        // Title and text replaced; the weather shown is written back whole.
        click(l->modifyComm);
        paste(l->txt_title, text(i + 3));
        paste(l->txt_content, text(i + 4));
        click(l->saveComm);
        EXPECT_EQ(dialogs->last().text, u"成功修改了记录号为%1的日记"_s.arg(id));
        expectStored(id, text(i + 3), text(i + 1), text(i + 4));

        // Any text in the date box: nothing found, or only this writer's entries.
        const int byDate = searchFor(l, 0, text(i));
        EXPECT_EQ(byDate < 0, !searchable);
        EXPECT_TRUE(byDate <= 0 || l->txt_writer->text() == u"alice"_s);
        app::unload(l);
        settle();
    }

    EXPECT_EQ(everything(), untouched);
    EXPECT_EQ(count(u"select count(*) from JR_content where B_writer='alice'"_s), int(n));
    EXPECT_EQ(scalar(u"pragma integrity_check"_s).toString(), u"ok"_s);
    int errors = 0; // each one seen by searchFor
    for (const fake::Box& b : dialogs->boxes)
        errors += b.title == u"错误"_s;
    EXPECT_EQ(errors, expectedErrors);
}

TEST_F(HostileText, NamesAndPasswordsFollowTheNormalisationInEveryBox) {
    const std::vector<Hostile> texts = corpus();
    const auto n = texts.size();
    const auto text = [&](std::size_t i) { return texts[i % n].text.left(kLineBoxLimit); };
    // Compared as the file compares them: the texts have no cased letters beyond ASCII.
    QSet<QString> taken = {u"alice"_s, u"carol"_s};
    int registered = 0;
    for (std::size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(texts[i].name);
        useLogin(text(i), text(i + 1), &frmLogin::RegComm);
        const QString name = asStored(accounts::normalise(text(i)));
        if (name.isEmpty()) {
            EXPECT_EQ(dialogs->last().text, u"请填写用户名"_s);
            continue;
        }
        if (const QString why = accounts::nameRefusal(accounts::normalise(text(i)));
            !why.isEmpty()) {
            EXPECT_EQ(dialogs->last().text, why);
            continue;
        }
        if (taken.contains(name.toLower())) {
            EXPECT_EQ(dialogs->last().text, u"此用户已经存在，请用另外一个用户名注册"_s);
            continue;
        }
        ASSERT_TRUE(dialogs->last().text == u"注册成功，请记住你的用户和密码\n\n用户："_s +
                                                text(i) + u"\n密码："_s + text(i + 1));
        taken.insert(name.toLower());
        ++registered;
        // Stored normalised; the password only as a hash of its normal form.
        ASSERT_TRUE(userField("group_concat(B_user)", name) == name); // once
        const QString hash = userField("B_password", name);
        EXPECT_TRUE(accounts::isHash(hash));
        EXPECT_TRUE(accounts::verifyPassword(accounts::normalise(text(i + 1)), hash));
        ASSERT_NE(useLogin(text(i), text(i + 1)), nullptr);
        EXPECT_TRUE(Module1::UserName == name);
    }
    EXPECT_GE(registered, 7);
    EXPECT_EQ(frmLogin::FailedLogins, 0);
    for (const fake::Box& b : dialogs->boxes)
        EXPECT_NE(b.title, u"错误"_s) << b.text.left(200).toStdString();

    // A password kept as text by a database made elsewhere: its hash goes to that row, not to
    // the row of "bob".
    addUser(u"bob"_s, u"bob-pw"_s);
    exec(u"insert into JR_user(B_user,B_password) values(' bob','text-pw')"_s);
    const auto password = [&](const QString& user) { return userField("B_password", user); };
    const QString bobHash = password(u"bob"_s);
    ASSERT_NE(useLogin(u"' bob"_s, u"text-pw"_s), nullptr);
    EXPECT_EQ(Module1::UserName, u" bob"_s);
    EXPECT_EQ(password(u"bob"_s), bobHash);
    EXPECT_TRUE(accounts::isHash(password(u" bob"_s)));
    EXPECT_EQ(everything(), untouched);
}

// dayvault.conf as people write it, and as they get it wrong: a clear refusal naming the file,
// never a quiet fall back to another engine.
TEST(SettingsFile, ReadsWhatPeopleWriteAndRefusesTheRest) {
    QTemporaryDir dir;
    const QString file = dir.filePath(u"dayvault.conf"_s);
    struct Case {
        QByteArray text;
        bool server;
        QString path, connection, refusal;
    };
    const Case cases[] = {
        {"# comment\n[database]\nengine=sqlite\npath=diary.mdb\n",
         false,
         dir.filePath(u"diary.mdb"_s),
         {},
         {}},
        {"\xEF\xBB\xBF[Database]\r\nEngine = PostgreSQL\r\nconnection=host=a dbname=b "
         "sslmode=x\r\n",
         true,
         {},
         u"host=a dbname=b sslmode=x"_s,
         {}},
        {"[database]\nengine=postgresql\n", false, {}, {}, u"需要 connection="_s},
        {"[database]\nengine=mysql\n", false, {}, {}, u"不认识的 engine=mysql"_s},
        {"[database]\nengine\n", false, {}, {}, u"第 2 行"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.text);
        f.close();
        try {
            const ado::Settings s = ado::readSettingsFile(file);
            EXPECT_TRUE(c.refusal.isEmpty());
            EXPECT_EQ(s.server, c.server);
            EXPECT_EQ(s.path, c.path);
            EXPECT_EQ(s.connection, c.connection);
        } catch (const ado::Error& e) {
            EXPECT_TRUE(!c.refusal.isEmpty() && e.userText().contains(c.refusal) &&
                        e.userText().contains(file))
                << e.userText().toStdString();
        }
    }
}
