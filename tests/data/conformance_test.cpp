// The data layer as the windows use it, the same on either engine: the title and text
// searches' LIKE, and a sealed field moved in the store. Run on the file, and on a server by ctest
// -L postgres.
#include "data/statements.h"
#include "support/PgServer.h"
#include "support/Support.h"
#include "vault/Titles.h"

#include <QFile>
#include <string_view>

using Conformance = DiaryApp;

// SQLite's LIKE on the opened titles: ASCII letters in either case and no other, `%` and `_`
// as wildcards, an apostrophe as itself.
TEST_F(Conformance, TitleSearchFoldsAsciiLettersOnly) {
    const QStringList titles = {u"Ärger"_s, u"ärger"_s,  u"Ａbc"_s, u"ａbc"_s, u"Apple"_s,
                                u"aPPLE"_s, u"50%off"_s, u"a_b"_s,  u"axb"_s,  u"o'neil"_s};
    // The text searched for, then the titles it finds.
    const QStringList searches = {
        u"Ä Ärger"_s,     u"ä ärger"_s,           u"Ａ Ａbc"_s,
        u"ａ ａbc"_s,     u"apple Apple aPPLE"_s, u"0%F 50%off"_s,
        u"A_B a_b axb"_s, u"O'N o'neil"_s,        u"_ "_s + titles.join(u' ')};
    for (const QString& t : titles)
        addEntry(t);
    ado::Connection c;
    vault::KeyRing ring;
    openAsAdministrator(c, ring);
    for (const QString& search : searches) {
        const QString text = search.section(u' ', 0, 0);
        const QStringList want = search.section(u' ', 1).split(u' ');
        SCOPED_TRACE(text.toStdString());
        QStringList got;
        ado::Recordset rs;
        for (rs.Open(sql::allEntriesByTitle(text), c); !rs.eof(); rs.MoveNext())
            got << rs.Fields(u"B_title"_s).toString();
        EXPECT_EQ(QSet<QString>(got.begin(), got.end()), QSet<QString>(want.begin(), want.end()));
        for (const QString& t : titles)
            EXPECT_EQ(ado::like(u'%' + text + u'%', t), want.contains(t)) << t.toStdString();
    }
}

// The text search: the title search's LIKE over the entries' texts, in a writer's scope or
// everyone's, from the texts kept opened, from texts opened a batch at a time past the cap, and
// on a plain file by the engine's own LIKE. What the session saves, changes and deletes shows.
TEST_F(Conformance, TextSearchMatchesAsTheTitleSearchInEveryStore) {
    const QStringList texts = {u"海边的灯塔"_s, u"第一行\n第二行"_s, u"五成%的人"_s,  u"a_b"_s,
                               u"axb"_s,        u"It's fine"_s,      u"Hello World"_s};
    // Typed, then alice's entries it finds, then how many of everyone's.
    const std::tuple<QString, QString, int> cases[] = {
        {u"灯塔"_s, u"海边的灯塔"_s, 2},   {u"行\n第"_s, u"第一行\n第二行"_s, 1},
        {u"边%塔"_s, u"海边的灯塔"_s, 1},  {u"成%"_s, u"五成%的人"_s, 1},
        {u"a_b"_s, u"a_b|axb"_s, 2},       {u"'s"_s, u"It's fine"_s, 1},
        {u"WORLD"_s, u"Hello World"_s, 1}, {u"没有"_s, QString(), 0}};
    const auto check = [&](ado::Connection& c) {
        for (const auto& [typed, own, all] : cases) {
            SCOPED_TRACE(typed.toStdString());
            QStringList got;
            ado::Recordset rs;
            for (rs.Open(sql::entriesByContent(u"alice"_s, typed), c); !rs.eof(); rs.MoveNext())
                got << rs.Fields(u"B_content"_s).toString();
            EXPECT_EQ(got.join(u'|'), own);
            rs.Close();
            rs.Open(sql::allEntriesByContent(typed), c);
            EXPECT_EQ(rs.RecordCount(), all);
        }
    };
    for (const QString& t : texts)
        addEntry(u"标题"_s, u"alice"_s, u"2024-3-1 8:00:00"_s, t);
    addEntry(u"标题"_s, u"bob"_s, u"2024-3-1 8:00:00"_s, u"远方有灯塔"_s);
    // Two texts of 3 MB: more than one batch to open.
    for (int i = 0; i < 2; ++i)
        addEntry(u"长"_s, u"alice"_s, u"2024-3-1 8:00:00"_s, QString(1000000, u'字') + u"巨"_s);
    for (const std::size_t cap : {std::size_t(64) << 20, std::size_t(0)}) {
        SCOPED_TRACE(cap);
        ado::Connection c;
        vault::KeyRing ring;
        openAsAdministrator(c, ring);
        ring.contents().cap = cap;
        const auto alices = [&](const QString& text) {
            ado::Recordset rs;
            rs.Open(sql::entriesByContent(u"alice"_s, text), c);
            return rs.RecordCount();
        };
        check(c);
        EXPECT_EQ(alices(u"字巨"_s), 2);
        EXPECT_EQ(ring.contents().empty(), cap == 0);
        EXPECT_TRUE(ring.titles().empty()); // a text search opens no title
        const auto lighthouses = [&] { return alices(u"灯塔"_s); };
        c.Execute(sql::insertEntry(u"新"_s, u"晴"_s, u"新灯塔"_s, u"alice"_s));
        const int id = count(u"select max(ID) from JR_content"_s);
        EXPECT_EQ(lighthouses(), 2);
        c.Execute(sql::updateEntry(u"新"_s, u"晴"_s, u"改了"_s, u"alice"_s, id));
        EXPECT_EQ(lighthouses(), 1);
        c.Execute(sql::updateEntry(u"新"_s, u"晴"_s, u"灯塔又来"_s, u"alice"_s, id));
        EXPECT_EQ(lighthouses(), 2);
        c.Execute(sql::deleteEntry(id));
        EXPECT_EQ(lighthouses(), 1);
    }
    if (pgtest::enabled())
        return;
    // A file from before keys: plain texts, as they were written.
    exec(u"delete from JR_content; drop table JR_vault; drop table JR_key; drop table JR_admin; "
         "drop table JR_plain; pragma user_version=1"_s);
    QFile::remove(dir.filePath(u"data/admin.pub"_s));
    for (const QString& t : texts + QStringList{u"远方有灯塔"_s})
        exec(u"insert into JR_content(B_title,B_weather,B_content,B_writer) values('t','晴','%1',"
             "'%2')"_s.arg(sql::quote(t), t.startsWith(u"远"_s) ? u"bob"_s : u"alice"_s));
    ado::Connection plain;
    plain.ConnectionString = u"data source="_s + dbPath();
    plain.Open();
    ASSERT_FALSE(plain.sealed());
    check(plain);
}

// Each move changes one thing of the place a field was sealed for: what it moved reads as
// damaged, the rest as written.
TEST_F(Conformance, AFieldMovedInTheStoreOpensNothing) {
    addUser(u"alicf"_s, u"pw"_s);
    const QString time = u"2024-3-1 8:00:00"_s;
    // What moves, the fields it damages, the move: %1 the entry, %2 another of its writer and time.
    const std::tuple<const char*, QString, QString> moves[] = {
        {"writer", u"B_title B_weather B_content"_s,
         u"update JR_content set B_writer='alicf' where ID=%1"_s},
        {"column", u"B_weather"_s, u"update JR_content set B_weather=B_content where ID=%1"_s},
        {"ID", u"B_title"_s,
         u"update JR_content set B_title=(select B_title from JR_content where ID=%2) "
         "where ID=%1"_s},
        {"time", u"B_title B_weather B_content"_s,
         u"update JR_content set B_time='2024-3-1 8:00:01' where ID=%1"_s}};
    for (const auto& [what, damaged, move] : moves) {
        SCOPED_TRACE(what);
        const int other = addEntry(u"另一篇"_s, u"alice"_s, time, u"另一篇的正文"_s);
        const int id = addEntry(u"标题"_s, u"alice"_s, time, u"正文"_s);
        exec(QString(move).replace(u"%2"_s, QString::number(other)).arg(id));
        readEntries(id, [&](ado::Recordset& rs) {
            for (const char* col : {"B_title", "B_weather", "B_content"})
                EXPECT_EQ(rs.Fields(QLatin1String(col)).toString() == vault::damagedText(),
                          damaged.contains(QLatin1String(col)))
                    << col;
        });
    }
}

// A save takes an ID no entry ever had, deleted ones included, and the local time now in the
// form the date search reads.
TEST_F(Conformance, ASaveTakesAFreshIdAndTheTimeNow) {
    addEntry(u"一"_s);
    const int last = addEntry(u"二"_s);
    exec(u"delete from JR_content where ID=%1"_s.arg(last));
    ado::Connection c;
    vault::KeyRing ring;
    openAsAdministrator(c, ring);
    const QDateTime before = QDateTime::currentDateTime();
    c.Execute(sql::insertEntry(u"三"_s, u"晴"_s, u"正文"_s, u"alice"_s));
    const int id = count(u"select max(ID) from JR_content"_s);
    EXPECT_GT(id, last);
    const QString time = scalar(u"select B_time from JR_content where ID=%1"_s.arg(id)).toString();
    const QDateTime stored = QDateTime::fromString(time, u"yyyy-M-d H:mm:ss"_s);
    EXPECT_TRUE(stored.isValid()) << time.toStdString();
    EXPECT_LE(std::abs(before.secsTo(stored)), 5) << time.toStdString();
    readEntries(id,
                [](ado::Recordset& rs) { EXPECT_EQ(rs.Fields(u"B_title"_s).toString(), u"三"_s); });
}

// The search's matcher on UTF-8 bytes gives LIKE's answer, character for character.
TEST(TitleMatch, BytesAnswerAsTheEngineLikeDoes) {
    // Pattern, title, LIKE's answer.
    const std::tuple<QString, QString, bool> cases[] = {{u"%Ä%"_s, u"Ärger"_s, true},
                                                        {u"%ä%"_s, u"Ärger"_s, false},
                                                        {u"%ａ%"_s, u"Ａbc"_s, false},
                                                        {u"%APPLE%"_s, u"aPPle"_s, true},
                                                        {u"%0%o%"_s, u"50%off"_s, true},
                                                        {u"50%"_s, u"5%0"_s, false},
                                                        {u"_"_s, u"灯"_s, true},
                                                        {u"__"_s, u"灯"_s, false},
                                                        {u"%_塔"_s, u"灯灯塔"_s, true},
                                                        {u"a_b"_s, u"a灯b"_s, true},
                                                        {u"%'n%"_s, u"o'neil"_s, true},
                                                        {u"%'%"_s, u"oneil"_s, false},
                                                        {QString(), QString(), true},
                                                        {QString(), u"a"_s, false},
                                                        {u"%"_s, QString(), true},
                                                        {u"a\0z"_s, u"a"_s, true},
                                                        {u"%z%"_s, u"a\0z"_s, false},
                                                        {u"%a%b"_s, u"aab"_s, true},
                                                        {u"a%b%c"_s, u"abxbc"_s, true},
                                                        {u"%ab"_s, u"abac"_s, false},
                                                        {u"%灯塔%"_s, u"远方的灯塔"_s, true},
                                                        {u"%灯塔%"_s, u"灯火塔"_s, false}};
    for (const auto& [pattern, title, like] : cases) {
        SCOPED_TRACE((pattern + u" / "_s + title).toStdString());
        EXPECT_EQ(ado::like(pattern, title), like);
        EXPECT_EQ(vault::likeUtf8(vault::view(pattern.toUtf8()), vault::view(title.toUtf8())),
                  like);
    }
}

// The titles a session opened stay right through its own saves, edits and deletions and
// through rows another connection adds or deletes; back at the login window they are gone.
TEST_F(Conformance, OpenedTitlesFollowEveryChange) {
    logIn(u"alice"_s, 1); // an administrator: everyone's entries are his to search
    myClass window;
    window.OpenData();
    ado::Connection& session = window.ocn();
    std::map<QString, int> id;
    for (const QString& t : {u"标一"_s, u"其他"_s})
        id[t] = addEntry(t, u"alice"_s);
    id[u"标二"_s] = addEntry(u"标二"_s, u"bob"_s);
    const auto own = [&](const sql::Statement& s) { session.Execute(s); };
    const auto ownSave = [&](const QString& t) {
        own(sql::insertEntry(t, u"晴"_s, u"内容"_s, u"alice"_s));
        id[t] = scalar(u"select max(ID) from JR_content"_s).toInt();
    };
    // A change, then what "标" finds among everyone's entries and among alice's.
    const std::tuple<const char*, std::function<void()>, QString, QString> steps[] = {
        {"as stored", [] {}, u"标一 标二"_s, u"标一"_s},
        {"own save", [&] { ownSave(u"标三"_s); }, u"标一 标二 标三"_s, u"标一 标三"_s},
        {"own edit",
         [&] { own(sql::updateEntry(u"改一"_s, u"晴"_s, u"内容"_s, u"alice"_s, id[u"标一"_s])); },
         u"标二 标三"_s, u"标三"_s},
        {"own delete", [&] { own(sql::deleteEntry(id[u"标二"_s])); }, u"标三"_s, u"标三"_s},
        {"another adds", [&] { id[u"标四"_s] = addEntry(u"标四"_s, u"bob"_s); }, u"标三 标四"_s,
         u"标三"_s},
        {"another deletes",
         [&] { exec(u"delete from JR_content where ID=%1"_s.arg(id[u"标三"_s])); }, u"标四"_s,
         QString()},
        {"another deletes and adds",
         [&] {
             exec(u"delete from JR_content where ID=%1"_s.arg(id[u"标四"_s]));
             id[u"标五"_s] = addEntry(u"标五"_s, u"alice"_s);
         },
         u"标五"_s, u"标五"_s},
        // Same count, same largest ID, another title: only the file's identity tells.
        {"the file put back from a copy taken before an own edit",
         [&] {
             const QString copy = dir.filePath(u"copy.mdb"_s);
             exec(u"vacuum into '%1'"_s.arg(copy));
             own(sql::updateEntry(u"改五"_s, u"晴"_s, u"内容"_s, u"alice"_s, id[u"标五"_s]));
             for (const char* suffix : {"", "-wal", "-shm"})
                 QFile::remove(dbPath() + QLatin1String(suffix));
             QFile::rename(copy, dbPath());
         },
         u"标五"_s, u"标五"_s}};
    for (const auto& [what, change, everyone, alices] : steps) {
        SCOPED_TRACE(what);
        if (pgtest::enabled() && std::string_view(what).starts_with("the file"))
            continue;
        change();
        for (const auto& [search, want] :
             {std::pair{sql::allEntriesByTitle(u"标"_s), everyone},
              std::pair{sql::entriesByTitle(u"alice"_s, u"标"_s), alices}}) {
            QStringList got;
            ado::Recordset rs;
            for (rs.Open(search, session); !rs.eof(); rs.MoveNext())
                got << rs.Fields(u"B_title"_s).toString();
            EXPECT_EQ(got.join(u' '), want);
        }
    }
    EXPECT_FALSE(keys.titles().empty());
    app::load(app::FormId::Login);
    EXPECT_TRUE(keys.titles().empty());
}
