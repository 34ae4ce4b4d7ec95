// The writing window: its start, the date label, the save and where its buttons lead.
#include "DiaryApp.h"

#include "base/Module1.h"

#include <QDir>
#include <QFile>
#include <QTest>

using Write = DiaryApp;

TEST_F(Write, StartsEmptyForTheLoggedInWriterAndItsDateFollowsTheClock) {
    logIn(QStringLiteral("小明"));
    setNow(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59)));
    frmWrite* w = openWrite();
    EXPECT_EQ(w->B_Title_text->text(), QStringLiteral("标题"));
    EXPECT_EQ(w->B_Weather_Combo->currentText(), QStringLiteral("晴"));
    EXPECT_EQ(w->B_Weather_Combo->findText(QStringLiteral("晴")), -1);
    EXPECT_TRUE(w->B_Content_text->toPlainText().isEmpty());
    EXPECT_EQ(w->B_Writer_text->text(), QStringLiteral("小明"));
    EXPECT_EQ(w->focusWidget(), w->B_Content_text);
    EXPECT_EQ(w->Label5->text(), QStringLiteral("2024/12/31"));
    setNow(QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0)));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return w->Label5->text() == QStringLiteral("2025/1/1"); }, 2500));

    // A click in the title selects the placeholder, so typing replaces it.
    click(w->B_Title_text);
    EXPECT_EQ(w->B_Title_text->selectedText(), QStringLiteral("标题"));
    type(w->B_Title_text, QStringLiteral("spring"));
    EXPECT_EQ(w->B_Title_text->text(), QStringLiteral("spring"));
}

TEST_F(Write, EmptyTextIsRefusedAndNothingIsWritten) {
    frmWrite* w = openWrite();
    click(w->saveComm);
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, QStringLiteral("请先编写日记内容"));
    EXPECT_EQ(dialogs->last().title, QStringLiteral("diary pad"));
    EXPECT_EQ(dialogs->last().icon, app::Icon::None);
    settle();
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 0);
    EXPECT_EQ(app::loaded(app::FormId::Write), w);
}

TEST_F(Write, TextsAreStoredExactlyByTheUserAndReadBackByTheBrowser) {
    QString big;
    for (int i = 0; big.size() < (1 << 20); ++i)
        big += QStringLiteral("第%1行：今天天气不错，it's fine.\n").arg(i);
    struct Case {
        QString title, weather, content;
    };
    const Case cases[] = {
        {QStringLiteral("标题"), QStringLiteral("小雨转晴"),
         QStringLiteral("第一行\n\n\t第三行\n")},
        {QStringLiteral("O'Neil's ''day'"), QStringLiteral("it's 'wet'"), QStringLiteral("' '' '")},
        {QString(), QString(), QStringLiteral("   ")},
        {QStringLiteral("😀 𝄞"), QStringLiteral("☀"), QStringLiteral("𠀋 😀🎉 a\u00a0b")},
        {QStringLiteral("big"), QStringLiteral("雪"), big},
    };
    logIn(QStringLiteral("bob"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        frmWrite* w = openWrite();
        retype(w->B_Title_text, c.title);
        retype(w->B_Weather_Combo->lineEdit(), c.weather);
        type(w->B_Writer_text, QStringLiteral("mallory")); // locked: ignored
        w->B_Content_text->setPlainText(c.content);
        click(w->saveComm);
        EXPECT_EQ(dialogs->last().text, QStringLiteral("添加完成！"));
        settle();
        EXPECT_EQ(scalar(QStringLiteral("select B_content from JR_content order by ID desc")),
                  c.content);
        auto* look = qobject_cast<frmLook*>(app::loaded(app::FormId::Look));
        ASSERT_NE(look, nullptr);
        search(look, 2);
        click(look->MovelastComm);
        EXPECT_EQ(look->txt_title->text(), c.title);
        EXPECT_EQ(look->txt_weather->text(), c.weather);
        EXPECT_EQ(look->txt_writer->text(), QStringLiteral("bob"));
        EXPECT_EQ(diary::plainText(look->txt_content), c.content);
        app::unload(look);
        settle();
    }
}

TEST_F(Write, AfterASaveTheBrowserIsTheOnlyWindow) {
    frmWrite* w = openWrite();
    w->B_Content_text->setPlainText(QStringLiteral("hello"));
    bool writeOpenAtBox = false;
    dialogs->onBox = [&](const fake::Box&) { writeOpenAtBox = app::loaded(app::FormId::Write); };
    click(w->saveComm);
    EXPECT_TRUE(writeOpenAtBox);
    EXPECT_EQ(dialogs->last().title, QStringLiteral("警告"));
    EXPECT_EQ(dialogs->last().icon, app::Icon::Exclamation);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    ASSERT_NE(app::loaded(app::FormId::Look), nullptr);
    EXPECT_TRUE(app::loaded(app::FormId::Look)->isVisible());
    EXPECT_EQ(endedCount, 0);
}

TEST_F(Write, AFailedSaveKeepsEveryTextAndWritesNothing) {
    frmWrite* w = openWrite();
    w->B_Title_text->setText(QStringLiteral("my title"));
    w->B_Weather_Combo->setEditText(QStringLiteral("大风"));
    w->B_Content_text->setPlainText(QStringLiteral("precious\ntext"));
    const auto expectKept = [&] {
        settle();
        EXPECT_EQ(app::loaded(app::FormId::Write), w);
        EXPECT_EQ(w->B_Title_text->text(), QStringLiteral("my title"));
        EXPECT_EQ(w->B_Weather_Combo->currentText(), QStringLiteral("大风"));
        EXPECT_EQ(w->B_Content_text->toPlainText(), QStringLiteral("precious\ntext"));
        EXPECT_EQ(takeTexts().size(), 1);
        EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 0);
    };
    // The engine refuses the row, as with a full disk or a locked file.
    exec(QStringLiteral("create trigger refuse before insert on JR_content "
                        "begin select raise(abort, 'disk I/O error'); end"));
    click(w->saveComm);
    EXPECT_EQ(dialogs->last().title, QStringLiteral("错误"));
    expectKept();
    exec(QStringLiteral("drop trigger refuse"));
    // The file is gone.
    ASSERT_TRUE(QFile::rename(dbPath(), dbPath() + QStringLiteral(".away")));
    click(w->saveComm);
    EXPECT_TRUE(dialogs->last().text.contains(QDir::toNativeSeparators(dbPath())));
    ASSERT_TRUE(QFile::rename(dbPath() + QStringLiteral(".away"), dbPath()));
    expectKept();
    // Back again: saved once.
    click(w->saveComm);
    EXPECT_EQ(dialogs->last().text, QStringLiteral("添加完成！"));
    EXPECT_EQ(scalar(QStringLiteral("select B_weather from JR_content")), QStringLiteral("大风"));
}

TEST_F(Write, ButtonsLeadToTheBrowserTheManualAndTheLogin) {
    frmWrite* w = openWrite();
    w->B_Content_text->setPlainText(QStringLiteral("never saved"));
    click(w->findNoteComm);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    EXPECT_NE(app::loaded(app::FormId::Look), nullptr);
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 0);

    w = qobject_cast<frmWrite*>(app::go(app::loaded(app::FormId::Look), app::FormId::Write));
    EXPECT_TRUE(w->B_Content_text->toPlainText().isEmpty());
    bool manualBeforeBoxClosed = false;
    dialogs->onBox = [&](const fake::Box&) { manualBeforeBoxClosed = !desktop->opened.empty(); };
    click(w->helpComm);
    EXPECT_EQ(dialogs->last().title, QStringLiteral("关于"));
    EXPECT_EQ(dialogs->last().icon, app::Icon::Information);
    EXPECT_FALSE(manualBeforeBoxClosed);
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(QStringLiteral("/manual.html")));

    click(w->reLoginComm);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    EXPECT_NE(app::loaded(app::FormId::Login), nullptr);
}
