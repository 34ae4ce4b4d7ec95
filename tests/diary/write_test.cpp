// The writing window: its start, the date label, the save and where its buttons lead.
#include "support/Apps.h"

#include "base/Module1.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using Write = DiaryApp;

TEST_F(Write, StartsEmptyForTheLoggedInWriterAndItsDateFollowsTheClock) {
    logIn(u"小明"_s);
    setNow(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59)));
    frmWrite* w = openWrite();
    EXPECT_EQ(w->B_Title_text->text(), u"标题"_s);
    EXPECT_EQ(w->B_Weather_Combo->currentText(), u"晴"_s);
    EXPECT_EQ(w->B_Weather_Combo->findText(u"晴"_s), -1);
    EXPECT_TRUE(w->B_Content_text->toPlainText().isEmpty());
    EXPECT_EQ(w->B_Writer_text->text(), u"小明"_s);
    EXPECT_EQ(w->focusWidget(), w->B_Content_text);
    EXPECT_EQ(w->Label5->text(), u"2024/12/31"_s);
    type(w->B_Writer_text, u"mallory"_s); // locked
    EXPECT_EQ(w->B_Writer_text->text(), u"小明"_s);
    setNow(QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0)));
    w->Timer1_Timer();
    EXPECT_EQ(w->Label5->text(), u"2025/1/1"_s);

    // A click in the title selects the placeholder, so typing replaces it.
    click(w->B_Title_text);
    EXPECT_EQ(w->B_Title_text->selectedText(), u"标题"_s);
    type(w->B_Title_text, u"spring"_s);
    EXPECT_EQ(w->B_Title_text->text(), u"spring"_s);
}

TEST_F(Write, EmptyTextIsRefusedAndNothingIsWritten) {
    frmWrite* w = openWrite();
    click(w->saveComm);
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, u"请先编写日记内容"_s);
    EXPECT_EQ(dialogs->last().title, u"diary pad"_s);
    EXPECT_EQ(dialogs->last().icon, app::Icon::None);
    settle();
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 0);
    EXPECT_EQ(app::loaded(app::FormId::Write), w);
}

TEST_F(Write, AfterASaveTheBrowserIsTheOnlyWindow) {
    frmWrite* w = openWrite();
    w->B_Content_text->setPlainText(u"hello"_s);
    bool writeOpenAtBox = false;
    dialogs->onBox = [&](const fake::Box&) { writeOpenAtBox = app::loaded(app::FormId::Write); };
    click(w->saveComm);
    EXPECT_TRUE(writeOpenAtBox);
    EXPECT_EQ(dialogs->last().title, u"警告"_s);
    EXPECT_EQ(dialogs->last().icon, app::Icon::Exclamation);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    ASSERT_NE(app::loaded(app::FormId::Look), nullptr);
    EXPECT_TRUE(app::loaded(app::FormId::Look)->isVisible());
    EXPECT_EQ(endedCount, 0);
}

TEST_F(Write, AFailedSaveKeepsEveryTextAndWritesNothing) {
    frmWrite* w = openWrite();
    w->B_Title_text->setText(u"my title"_s);
    w->B_Weather_Combo->setEditText(u"大风"_s);
    w->B_Content_text->setPlainText(u"precious\ntext"_s);
    const auto expectKept = [&] {
        settle();
        EXPECT_EQ(app::loaded(app::FormId::Write), w);
        EXPECT_EQ(w->B_Title_text->text(), u"my title"_s);
        EXPECT_EQ(w->B_Weather_Combo->currentText(), u"大风"_s);
        EXPECT_EQ(w->B_Content_text->toPlainText(), u"precious\ntext"_s);
        EXPECT_EQ(takeTexts().size(), 1);
        EXPECT_EQ(count(u"select count(*) from JR_content"_s), 0);
    };
    // The engine refuses the row, as with a full disk or a locked file.
    exec(u"create trigger refuse before insert on JR_content "
         "begin select raise(abort, 'disk I/O error'); end"_s);
    click(w->saveComm);
    EXPECT_EQ(dialogs->last().title, u"错误"_s);
    expectKept();
    exec(u"drop trigger refuse"_s);
    // The file is gone.
    ASSERT_TRUE(QFile::rename(dbPath(), dbPath() + u".away"_s));
    click(w->saveComm);
    EXPECT_TRUE(dialogs->last().text.contains(QDir::toNativeSeparators(dbPath())));
    ASSERT_TRUE(QFile::rename(dbPath() + u".away"_s, dbPath()));
    expectKept();
    // Back again: saved once.
    click(w->saveComm);
    EXPECT_EQ(dialogs->last().text, u"添加完成！"_s);
    EXPECT_EQ(scalar(u"select B_weather from JR_content"_s), u"大风"_s);
    // New rows get the time the database gives them, without leading zeros.
    EXPECT_TRUE(QRegularExpression(u"^\\d{4}-[1-9]\\d?-[1-9]\\d? \\d{1,2}:\\d\\d:\\d\\d$"_s)
                    .match(scalar(u"select B_time from JR_content"_s).toString())
                    .hasMatch());
}

TEST_F(Write, ButtonsLeadToTheBrowserTheManualAndTheLogin) {
    frmWrite* w = openWrite();
    w->B_Content_text->setPlainText(u"never saved"_s);
    click(w->findNoteComm);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    EXPECT_NE(app::loaded(app::FormId::Look), nullptr);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 0);

    w = qobject_cast<frmWrite*>(app::go(app::loaded(app::FormId::Look), app::FormId::Write));
    EXPECT_TRUE(w->B_Content_text->toPlainText().isEmpty());
    bool manualBeforeBoxClosed = false;
    dialogs->onBox = [&](const fake::Box&) { manualBeforeBoxClosed = !desktop->opened.empty(); };
    click(w->helpComm);
    EXPECT_EQ(dialogs->last().title, u"关于"_s);
    EXPECT_EQ(dialogs->last().icon, app::Icon::Information);
    EXPECT_FALSE(manualBeforeBoxClosed);
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(u"/manual.html"_s));

    click(w->reLoginComm);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    EXPECT_NE(app::loaded(app::FormId::Login), nullptr);
}
