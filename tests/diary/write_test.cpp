// The writing window: what it starts with, the save, and where its buttons lead.
#include "DiaryApp.h"

#include "app/Module1.h"
#include "app/Navigation.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
using Write = DiaryApp;

struct Typed {
    QString title, weather, content;
};
} // namespace

TEST_F(Write, StartsWithTheDesignedContentsAndTheLoggedInWriter) {
    logIn(QStringLiteral("小明"));
    frmWrite* w = openWrite();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("编写日记窗口"));
    EXPECT_EQ(child<QLineEdit>(w, "B_Title_text")->text(), QStringLiteral("标题"));
    EXPECT_TRUE(child<QPlainTextEdit>(w, "B_Content_text")->toPlainText().isEmpty());
    auto* writer = child<QLineEdit>(w, "B_Writer_text");
    EXPECT_EQ(writer->text(), QStringLiteral("小明"));
    EXPECT_TRUE(writer->isReadOnly());
    auto* weather = child<QComboBox>(w, "B_Weather_Combo");
    EXPECT_TRUE(weather->isEditable());
    EXPECT_EQ(weather->currentText(), QStringLiteral("晴"));
    QStringList items;
    for (int i = 0; i < weather->count(); ++i)
        items << weather->itemText(i);
    EXPECT_EQ(items, (QStringList{QStringLiteral("阴天"), QStringLiteral("多云"),
                                  QStringLiteral("雨"), QStringLiteral("雪")}));
    EXPECT_EQ(child<QLabel>(w, "Label5")->text(), QStringLiteral("2024/3/7"));
    EXPECT_EQ(tabOrder(w->B_Content_text),
              names({"B_Content_text", "B_Title_text", "B_Writer_text", "B_Weather_Combo",
                     "saveComm", "findNoteComm", "helpComm", "hfComm", "reLoginComm"}));
    EXPECT_EQ(w->focusWidget(), w->B_Content_text);
}

TEST_F(Write, DateLabelFollowsTheClockAcrossMidnight) {
    setNow(QDateTime(QDate(2024, 3, 7), QTime(23, 59, 59)));
    frmWrite* w = openWrite();
    auto* label = child<QLabel>(w, "Label5");
    EXPECT_EQ(label->text(), QStringLiteral("2024/3/7"));
    setNow(QDateTime(QDate(2024, 3, 8), QTime(0, 0, 0)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return label->text() == QStringLiteral("2024/3/8"); }, 3000));
    // December 31st into January 1st changes every part.
    setNow(QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return label->text() == QStringLiteral("2025/1/1"); }, 3000));
}

TEST_F(Write, ClickInTheTitleSelectsItSoTypingReplacesThePlaceholder) {
    frmWrite* w = openWrite();
    click(w->B_Title_text);
    EXPECT_EQ(w->focusWidget(), w->B_Title_text);
    EXPECT_EQ(w->B_Title_text->selectedText(), QStringLiteral("标题"));
    type(w->B_Title_text, QStringLiteral("spring"));
    EXPECT_EQ(w->B_Title_text->text(), QStringLiteral("spring"));
}

TEST_F(Write, EmptyTextIsRefusedAndNothingIsWritten) {
    frmWrite* w = openWrite();
    w->B_Title_text->setText(QStringLiteral("kept"));
    click(w->saveComm);
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().text, QStringLiteral("请先编写日记内容"));
    EXPECT_EQ(dialogs->last().title, QStringLiteral("diary pad"));
    EXPECT_EQ(dialogs->last().icon, app::Icon::None);
    settle();
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 0);
    EXPECT_EQ(app::loaded(app::FormId::Write), w);
    EXPECT_EQ(w->B_Title_text->text(), QStringLiteral("kept"));
}

TEST_F(Write, SavedTextsAreStoredExactlyAndReadBackByTheBrowser) {
    QString big;
    big.reserve(1 << 20);
    for (int i = 0; big.size() < (1 << 20); ++i)
        big += QStringLiteral("第%1行：今天天气不错，it's fine.\n").arg(i);
    const std::vector<Typed> cases = {
        {QStringLiteral("标题"), QStringLiteral("晴"), QStringLiteral("title left as it was")},
        {QStringLiteral("O'Neil's ''day'"), QStringLiteral("it's 'wet'"),
         QStringLiteral("don't ' '' ''' stop")},
        {QStringLiteral("lines"), QStringLiteral("小雨转晴"),
         QStringLiteral("第一行\n第二行\n\n\t第四行\n")},
        {QString(), QString(), QStringLiteral("   ")},
        {QStringLiteral("😀 emoji 𝄞"), QStringLiteral("☀️"),
         QStringLiteral("𠀋𠀌 outside the BMP 😀🎉, a\u00a0no-break space")},
        {QStringLiteral("big"), QStringLiteral("雪"), big},
    };
    for (const Typed& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        frmWrite* w = openWrite();
        w->B_Title_text->setText(c.title);
        // Typed by hand, as a user would: not one of the listed items.
        auto* weather = w->B_Weather_Combo->lineEdit();
        weather->selectAll();
        weather->del();
        if (c.title == QStringLiteral("lines"))
            type(weather, c.weather);
        else
            weather->insert(c.weather);
        w->B_Content_text->setPlainText(c.content);
        click(w->saveComm);
        ASSERT_FALSE(dialogs->boxes.empty());
        EXPECT_EQ(dialogs->last().text, QStringLiteral("添加完成！"));
        settle();

        EXPECT_EQ(scalar(QStringLiteral("select B_content from JR_content order by ID desc")),
                  c.content);
        auto* look = qobject_cast<frmLook*>(app::loaded(app::FormId::Look));
        ASSERT_NE(look, nullptr);
        searchAll(look);
        click(look->MovelastComm);
        EXPECT_EQ(look->txt_title->text(), c.title);
        EXPECT_EQ(look->txt_weather->text(), c.weather);
        EXPECT_EQ(look->txt_writer->text(), QStringLiteral("alice"));
        EXPECT_EQ(diary::plainText(look->txt_content), c.content);
        app::unload(look);
        settle();
    }
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), int(cases.size()));
}

TEST_F(Write, WriterIsAlwaysTheLoggedInUser) {
    logIn(QStringLiteral("bob"));
    frmWrite* w = openWrite();
    w->B_Writer_text->setFocus();
    type(w->B_Writer_text, QStringLiteral("mallory"));
    EXPECT_EQ(w->B_Writer_text->text(), QStringLiteral("bob"));
    w->B_Content_text->setPlainText(QStringLiteral("x"));
    click(w->saveComm);
    EXPECT_EQ(scalar(QStringLiteral("select B_writer from JR_content")), QStringLiteral("bob"));
}

TEST_F(Write, AfterASaveTheBrowserIsTheOnlyWindowAndAStartsEmptyAgain) {
    frmWrite* w = openWrite();
    w->B_Content_text->setPlainText(QStringLiteral("hello"));
    // The confirmation comes while the writing window is still there.
    bool writeOpenAtBox = false;
    dialogs->onBox = [&](const fake::Box&) {
        writeOpenAtBox = app::loaded(app::FormId::Write) != nullptr;
    };
    click(w->saveComm);
    EXPECT_TRUE(writeOpenAtBox);
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().title, QStringLiteral("警告"));
    EXPECT_EQ(dialogs->last().icon, app::Icon::Exclamation);
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    auto* look = qobject_cast<frmLook*>(app::loaded(app::FormId::Look));
    ASSERT_NE(look, nullptr);
    EXPECT_TRUE(look->isVisible());
    EXPECT_EQ(endedCount, 0);

    click(look->writeNoteComm);
    settle();
    auto* again = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->B_Content_text->toPlainText().isEmpty());
    EXPECT_EQ(again->B_Title_text->text(), QStringLiteral("标题"));
    EXPECT_EQ(app::loadedCount(), 1);
}

TEST_F(Write, AFailedSaveKeepsEveryTextAndWritesNothing) {
    frmWrite* w = openWrite();
    w->B_Title_text->setText(QStringLiteral("my title"));
    w->B_Weather_Combo->setEditText(QStringLiteral("大风"));
    w->B_Content_text->setPlainText(QStringLiteral("precious\ntext"));
    const auto unchanged = [&] {
        settle();
        EXPECT_EQ(app::loaded(app::FormId::Write), w);
        EXPECT_EQ(app::loaded(app::FormId::Look), nullptr);
        EXPECT_EQ(w->B_Title_text->text(), QStringLiteral("my title"));
        EXPECT_EQ(w->B_Weather_Combo->currentText(), QStringLiteral("大风"));
        EXPECT_EQ(w->B_Content_text->toPlainText(), QStringLiteral("precious\ntext"));
        ASSERT_FALSE(dialogs->boxes.empty());
        EXPECT_EQ(dialogs->last().title, QStringLiteral("错误"));
        EXPECT_EQ(dialogs->last().icon, app::Icon::Critical);
        EXPECT_FALSE(dialogs->texts().contains(QStringLiteral("添加完成！")));
    };

    // The engine refuses the row (as with a full disk or a locked file).
    exec(QStringLiteral("create trigger refuse before insert on JR_content "
                        "begin select raise(abort, 'disk I/O error'); end"));
    click(w->saveComm);
    unchanged();
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 0);

    // The file is gone.
    exec(QStringLiteral("drop trigger refuse"));
    const QString moved = dbPath() + QStringLiteral(".away");
    ASSERT_TRUE(QFile::rename(dbPath(), moved));
    dialogs->boxes.clear();
    click(w->saveComm);
    unchanged();
    EXPECT_TRUE(dialogs->last().text.contains(QDir::toNativeSeparators(dbPath())));

    // Once the file is back the same texts are saved, once.
    ASSERT_TRUE(QFile::rename(moved, dbPath()));
    dialogs->boxes.clear();
    click(w->saveComm);
    EXPECT_EQ(dialogs->last().text, QStringLiteral("添加完成！"));
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 1);
    EXPECT_EQ(scalar(QStringLiteral("select B_weather from JR_content")), QStringLiteral("大风"));
}

TEST_F(Write, ButtonsLeadToTheBrowserTheLoginAndTheManual) {
    frmWrite* w = openWrite();
    w->B_Content_text->setPlainText(QStringLiteral("never saved"));
    click(w->findNoteComm);
    settle();
    EXPECT_EQ(app::loaded(app::FormId::Write), nullptr);
    ASSERT_NE(app::loaded(app::FormId::Look), nullptr);
    EXPECT_EQ(app::loadedCount(), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 0);
    EXPECT_TRUE(dialogs->boxes.empty());

    app::go(app::loaded(app::FormId::Look), app::FormId::Write);
    settle();
    w = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
    ASSERT_NE(w, nullptr);
    bool manualOpenedBeforeBoxClosed = true;
    dialogs->onBox = [&](const fake::Box&) {
        manualOpenedBeforeBoxClosed = !desktop->opened.empty();
    };
    click(w->helpComm);
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().title, QStringLiteral("关于"));
    EXPECT_EQ(dialogs->last().icon, app::Icon::Information);
    EXPECT_FALSE(dialogs->last().text.isEmpty());
    EXPECT_FALSE(manualOpenedBeforeBoxClosed);
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(QStringLiteral("/manual.html")));

    click(w->reLoginComm);
    settle();
    EXPECT_EQ(app::loaded(app::FormId::Write), nullptr);
    EXPECT_NE(app::loaded(app::FormId::Login), nullptr);
    EXPECT_EQ(app::loadedCount(), 1);
    EXPECT_EQ(Module1::UserName, QStringLiteral("alice"));
}
