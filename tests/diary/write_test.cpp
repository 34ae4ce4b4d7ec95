// The writing window: the writer and date it starts with, a refused or failed save that keeps
// the typed texts, and where its buttons lead.
#include "support/Apps.h"

using Write = DiaryApp;

TEST_F(Write, StartsForTheLoggedInWriterWithADateThatFollowsTheClock) {
    logIn(u"小明"_s);
    setNow(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59)));
    frmWrite* w = openWrite();
    type(w->B_Writer_text, u"mallory"_s); // locked
    EXPECT_EQ(w->B_Writer_text->text(), u"小明"_s);
    EXPECT_EQ(w->Label5->text(), u"2024/12/31"_s);
    setNow(QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0)));
    w->Timer1_Timer();
    EXPECT_EQ(w->Label5->text(), u"2025/1/1"_s);
    // A click in the title selects all of it, so typing replaces the placeholder.
    click(w->B_Title_text);
    type(w->B_Title_text, u"spring"_s);
    EXPECT_EQ(w->B_Title_text->text(), u"spring"_s);
}

TEST_F(Write, ARefusedOrFailedSaveKeepsEveryTextAndWritesNothing) {
    frmWrite* w = openWrite();
    click(w->saveComm);
    EXPECT_EQ(dialogs->last().text, u"请先编写日记内容"_s);
    w->B_Title_text->setText(u"my title"_s);
    w->B_Weather_Combo->setEditText(u"大风"_s);
    w->B_Content_text->setPlainText(u"precious\ntext"_s);
    // The engine refuses the row, as with a full disk.
    exec(u"create trigger refuse before insert on JR_content "
         "begin select raise(abort, 'disk I/O error'); end"_s);
    click(w->saveComm);
    EXPECT_EQ(dialogs->last().title, u"错误"_s);
    settle();
    EXPECT_EQ(app::loaded(app::FormId::Write), w);
    EXPECT_EQ(w->B_Title_text->text() + w->B_Weather_Combo->currentText() +
                  w->B_Content_text->toPlainText(),
              u"my title大风precious\ntext"_s);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 0);
    exec(u"drop trigger refuse"_s);

    // Back again: saved once, the message shown while the window is still open, then only the
    // browser is left.
    bool writeOpenAtBox = false;
    dialogs->onBox = [&](const fake::Box&) { writeOpenAtBox = app::loaded(app::FormId::Write); };
    click(w->saveComm);
    EXPECT_TRUE(writeOpenAtBox);
    EXPECT_EQ(scalar(u"select B_weather from JR_content"_s), u"大风"_s);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    ASSERT_NE(look(), nullptr);
    EXPECT_TRUE(look()->isVisible());
    EXPECT_EQ(endedCount, 0);
}

TEST_F(Write, ButtonsLeadToTheBrowserTheManualAndTheLoginWithoutSaving) {
    frmWrite* w = openWrite();
    w->B_Content_text->setPlainText(u"never saved"_s);
    bool manualBeforeBoxClosed = false;
    dialogs->onBox = [&](const fake::Box&) { manualBeforeBoxClosed = !desktop->opened.empty(); };
    click(w->helpComm);
    EXPECT_FALSE(manualBeforeBoxClosed);
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(u"/manual.html"_s));
    click(w->findNoteComm);
    settle();
    ASSERT_NE(look(), nullptr);
    click(qobject_cast<frmWrite*>(app::go(look(), app::FormId::Write))->reLoginComm);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    EXPECT_NE(app::loaded(app::FormId::Login), nullptr);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 0);
}
