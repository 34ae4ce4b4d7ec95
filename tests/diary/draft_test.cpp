// Drafts: what the writing window and an edit in the browser held comes back at the next
// login after the program died, sealed in the store meanwhile; 否, a save and "删除" remove it;
// nobody else is asked about it; one that does not open is dropped with a message; a store
// that fails a write is tried again while the boxes keep their text.
#include "diary/DraftKeeper.h"
#include "support/PgServer.h"
#include "support/Support.h"

#include <QFile>
#include <QSignalSpy>
#include <QThreadPool>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Drafts : public DiaryApp {
protected:
    void SetUp() override {
        DiaryApp::SetUp();
        diary::DraftKeeper::quietMs = 20;
        diary::DraftKeeper::retryMs = 50;
    }
    void TearDown() override {
        DiaryApp::TearDown();
        diary::DraftKeeper::quietMs = 2000;
        diary::DraftKeeper::retryMs = 5000;
    }
    // Waits for the keeper's next write; its result.
    static bool written(diary::DraftKeeper* keeper) {
        QSignalSpy spy(keeper, &diary::DraftKeeper::wrote);
        return spy.wait(10000) && spy.front().front().toBool();
    }
    int drafts(const QString& user) {
        return count(u"select count(*) from JR_draft where B_user='%1'"_s.arg(user));
    }
    // Logs in through the login window; the questions asked.
    QStringList logInAgain(const QString& name, std::deque<bool> answers = {}) {
        dialogs->askAnswers = std::move(answers);
        dialogs->boxes.clear();
        useLogin(name, name + u"-pw"_s);
        QStringList asked;
        for (const fake::Box& b : dialogs->boxes)
            asked << b.text;
        return asked;
    }

    const QString title = u"标题 it's 😀"_s, weather = u"小雨'"_s,
                  content = u"第一行\n第二行 O'Neil 😀\n\n末行"_s;
    const QString question = u"发现未保存的日记（2024-03-07 10:30:00），是否恢复？"_s;
};

} // namespace

TEST_F(Drafts, AKilledProgramsTextComesBackAtItsWritersNextLoginOnly) {
    logIn(u"carol"_s, 1);
    logIn(u"bob"_s);
    logIn(u"alice"_s);
    // The program typed into, its draft written, then killed. Threads Qt's painting left
    // behind in this process are let go first: the child would wait for them.
    for (QThreadPool* pool : qApp->findChildren<QThreadPool*>())
        pool->waitForDone();
    QThreadPool::globalInstance()->waitForDone();
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(60);
        frmWrite* w = openWrite();
        w->B_Title_text->setText(title);
        w->B_Weather_Combo->setEditText(weather);
        w->B_Content_text->setPlainText(content);
        if (written(w->draftKeeper()))
            ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    // Sealed: no text of it where a thief would look.
    const QByteArray stored = fileBytes();
    for (const QString& t : {title, u"O'Neil 😀"_s, weather})
        EXPECT_FALSE(stored.contains(t.toUtf8())) << t.toStdString();
    // Neither another writer nor an administrator is asked; the draft stays.
    EXPECT_EQ(logInAgain(u"bob"_s), QStringList());
    EXPECT_EQ(logInAgain(u"carol"_s), QStringList());
    EXPECT_EQ(drafts(u"alice"_s), 1);
    // 是: the exact texts; left unsaved again, it is kept again.
    EXPECT_EQ(logInAgain(u"alice"_s), QStringList{question});
    auto* w = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->B_Title_text->text(), title);
    EXPECT_EQ(w->B_Weather_Combo->currentText(), weather);
    EXPECT_EQ(w->B_Content_text->toPlainText(), content);
    // 否 removes it: the login after asks nothing.
    EXPECT_EQ(logInAgain(u"alice"_s, {false}), QStringList{question});
    EXPECT_EQ(drafts(u"alice"_s), 0);
    EXPECT_EQ(logInAgain(u"alice"_s), QStringList());
}

// A save of the writing window, and a save or "删除" of the entry an edit is of, remove its
// draft; an edit left unsaved comes back in the browser, on its entry, in edit mode.
TEST_F(Drafts, ASaveOrADeleteRemovesTheDraftAndAnEditComesBackOnItsEntry) {
    frmWrite* w = openWrite();
    w->B_Content_text->setPlainText(content);
    ASSERT_TRUE(written(w->draftKeeper()));
    EXPECT_EQ(drafts(u"alice"_s), 1);
    click(w->saveComm);
    settle();
    EXPECT_EQ(drafts(u"alice"_s), 0);

    addEntry(u"别的"_s, u"alice"_s, u"2024-3-2 9:00:00"_s);
    const int id = addEntry(u"原来"_s, u"alice"_s, u"2024-3-5 9:00:00"_s, u"原来的正文"_s);
    for (const bool remove : {false, true}) {
        SCOPED_TRACE(remove ? "删除" : "保存");
        frmLook* l = openLook();
        search(l, 2);
        while (l->B_id != id)
            click(l->commNext);
        click(l->modifyComm);
        paste(l->txt_content, content);
        app::unload(l); // closed unsaved: kept as it closes
        settle();
        EXPECT_EQ(logInAgain(u"alice"_s), QStringList{question});
        l = look();
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->B_id, id);
        EXPECT_EQ(l->txt_content->toPlainText(), content);
        EXPECT_TRUE(l->saveComm->isEnabled());
        EXPECT_FALSE(l->txt_content->isReadOnly());
        click(remove ? l->DelComm : l->saveComm);
        app::unload(l); // waits for the write in flight
        settle();
        EXPECT_EQ(drafts(u"alice"_s), 0);
    }
    EXPECT_EQ(entries().count(u"原来"_s), 0u);
}

// Moved to another writer, kind or time, or damaged, a draft no longer opens: it is dropped
// with a message and its bytes are never shown.
TEST_F(Drafts, ADraftThatDoesNotOpenIsDroppedWithAMessage) {
    logIn(u"bob"_s);
    const char* const moves[] = {
        "update JR_draft set made='2024-03-07 10:30:01'",
        "update JR_draft set kind=2",
        "update JR_draft set B_user='bob'",
    };
    for (const char* move : moves) {
        SCOPED_TRACE(move);
        logIn(u"alice"_s);
        frmWrite* w = openWrite();
        w->B_Content_text->setPlainText(content);
        ASSERT_TRUE(written(w->draftKeeper()));
        app::unload(w);
        settle();
        exec(QString::fromLatin1(move));
        const QString who = QString::fromLatin1(move).contains(u"bob"_s) ? u"bob"_s : u"alice"_s;
        const QStringList said = logInAgain(who);
        ASSERT_EQ(said.size(), 1);
        EXPECT_TRUE(said[0].contains(u"无法打开"_s)) << said[0].toStdString();
        EXPECT_EQ(count(u"select count(*) from JR_draft"_s), 0);
    }
}

// A store that cannot be written shows nothing and keeps the boxes; the write is tried again
// until the store is back.
TEST_F(Drafts, AFailedWriteIsTriedAgainAndTheBoxesKeepTheirText) {
    frmWrite* w = openWrite();
    const QString away = dbPath() + u".away"_s;
    const QString put = u"function dv_put_draft(text, integer, integer, text, bytea)"_s;
    const auto fail = [&](bool on) {
        if (pgtest::enabled())
            exec((on ? u"revoke execute on %1 from dayvault_users"_s
                     : u"grant execute on %1 to dayvault_users"_s)
                     .arg(put));
        else
            ASSERT_TRUE(on ? QFile::rename(dbPath(), away) : QFile::rename(away, dbPath()));
    };
    fail(true);
    w->B_Content_text->setPlainText(content);
    EXPECT_FALSE(written(w->draftKeeper()));
    EXPECT_FALSE(written(w->draftKeeper())); // and again
    EXPECT_TRUE(dialogs->boxes.empty());
    EXPECT_EQ(w->B_Content_text->toPlainText(), content);
    fail(false);
    EXPECT_TRUE(written(w->draftKeeper()));
    EXPECT_EQ(drafts(u"alice"_s), 1);
}

// A password change gives the user a new key: his draft is sealed again with it.
TEST_F(Drafts, ADraftFollowsAPasswordChange) {
    frmWrite* w = openWrite();
    w->B_Content_text->setPlainText(content);
    app::unload(w);
    settle();
    dialogs->inputAnswers.push_back(u"new-pw"_s);
    useLogin(u"alice"_s, u"alice-pw"_s, &frmLogin::modifyComm);
    dialogs->boxes.clear();
    w = useLogin(u"alice"_s, u"new-pw"_s);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(dialogs->texts(), QStringList{question});
    EXPECT_EQ(w->B_Content_text->toPlainText(), content);
}
