// "修改", "保存" and "删除" on the entry shown.
#include "DiaryApp.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

class EditFixture : public DiaryApp {
protected:
    QString col(const char* name, int id) {
        return scalar(QStringLiteral("select %1 from JR_content where ID=%2")
                          .arg(QString::fromLatin1(name))
                          .arg(id))
            .toString();
    }
    bool exists(int id) {
        return count(QStringLiteral("select count(*) from JR_content where ID=%1").arg(id)) == 1;
    }
    // Types into a box as a user does: select all, then the new text.
    static void retype(QLineEdit* box, const QString& text) {
        box->setFocus();
        box->selectAll();
        type(box, text);
    }
};

TEST_F(EditFixture, ModifyThenSaveWritesTheShownTextsBackToEntryN) {
    addEntry(QStringLiteral("other"), QStringLiteral("bob"), QStringLiteral("2024-3-1 8:00:00"));
    const int id = addEntry(QStringLiteral("old title"), QStringLiteral("alice"),
                            QStringLiteral("2024-3-2 8:00:00"), QStringLiteral("old text"),
                            QStringLiteral("雨"), 17);
    frmLook* look = openLook();
    searchAll(look);
    ASSERT_EQ(look->B_id, 17);

    click(look->modifyComm);
    EXPECT_TRUE(look->saveComm->isEnabled());
    EXPECT_TRUE(look->modifyComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly());
    EXPECT_FALSE(look->txt_content->isReadOnly());
    EXPECT_TRUE(look->txt_writer->isReadOnly());
    EXPECT_TRUE(look->txt_weather->isReadOnly());
    EXPECT_TRUE(look->txt_time->isReadOnly());
    EXPECT_TRUE(dialogs->boxes.empty());

    retype(look->txt_title, QStringLiteral("Tom's \"new\" title"));
    look->txt_content->setPlainText(QStringLiteral("new\n'text'\u00a0😀"));

    // "No" first: nothing changes and the boxes stay editable.
    dialogs->askAnswers = {false};
    click(look->saveComm);
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().kind, fake::Box::Ask);
    EXPECT_EQ(dialogs->last().text, QStringLiteral("真的要修改吗?"));
    EXPECT_EQ(dialogs->last().title, QStringLiteral("diary pad"));
    EXPECT_EQ(col("B_title", id), QStringLiteral("old title"));
    EXPECT_TRUE(look->saveComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly());

    dialogs->boxes.clear();
    click(look->saveComm);
    ASSERT_EQ(dialogs->boxes.size(), 2u);
    EXPECT_EQ(dialogs->boxes[1].text, QStringLiteral("成功修改了记录号为17的日记"));
    EXPECT_EQ(dialogs->boxes[1].title, QStringLiteral("diary pad"));
    EXPECT_EQ(dialogs->boxes[1].icon, app::Icon::None);
    EXPECT_EQ(col("B_title", id), QStringLiteral("Tom's \"new\" title"));
    EXPECT_EQ(col("B_content", id), QStringLiteral("new\n'text'\u00a0😀"));
    // Weather and writer are written back as shown, the time never.
    EXPECT_EQ(col("B_weather", id), QStringLiteral("雨"));
    EXPECT_EQ(col("B_writer", id), QStringLiteral("alice"));
    EXPECT_EQ(col("B_time", id), QStringLiteral("2024-3-2 8:00:00"));
    EXPECT_EQ(col("B_title", 1), QStringLiteral("other"));

    EXPECT_FALSE(look->saveComm->isEnabled());
    EXPECT_TRUE(look->modifyComm->isEnabled());
    EXPECT_TRUE(look->txt_title->isReadOnly());
    EXPECT_TRUE(look->txt_writer->isReadOnly());
    EXPECT_TRUE(look->txt_content->isReadOnly());
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("Tom's \"new\" title"));
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数：1"));
}

TEST_F(EditFixture, SavingAfterMovingUpdatesTheEntryNowShown) {
    const int a = addEntry(QStringLiteral("a"), QStringLiteral("alice"),
                           QStringLiteral("2024-3-1 8:00:00"), QStringLiteral("A"));
    const int b = addEntry(QStringLiteral("b"), QStringLiteral("alice"),
                           QStringLiteral("2024-3-2 8:00:00"), QStringLiteral("B"));
    frmLook* look = openLook();
    searchAll(look);
    click(look->modifyComm);
    retype(look->txt_title, QStringLiteral("typed on a"));
    click(look->commNext);
    // Still editable after the move; the typed title was replaced by entry b's.
    EXPECT_FALSE(look->txt_title->isReadOnly());
    EXPECT_TRUE(look->saveComm->isEnabled());
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("b"));
    retype(look->txt_title, QStringLiteral("b edited"));
    click(look->saveComm);
    EXPECT_EQ(dialogs->texts().last(), QStringLiteral("成功修改了记录号为%1的日记").arg(b));
    EXPECT_EQ(col("B_title", a), QStringLiteral("a"));
    EXPECT_EQ(col("B_title", b), QStringLiteral("b edited"));
    EXPECT_EQ(col("B_content", b), QStringLiteral("B"));
}

TEST_F(EditFixture, DeletingTheOnlyEntryLeavesItsTextsButNothingToActOn) {
    const int id = addEntry(QStringLiteral("only"), QStringLiteral("alice"),
                            QStringLiteral("2024-3-1 8:00:00"));
    frmLook* look = openLook();
    searchAll(look);
    dialogs->askAnswers = {false};
    click(look->DelComm);
    EXPECT_TRUE(exists(id));
    EXPECT_EQ(dialogs->texts(), QStringList{QStringLiteral("删除后无法恢复！！真的删除吗?")});
    EXPECT_EQ(dialogs->last().title, QStringLiteral("diary pad"));

    dialogs->boxes.clear();
    click(look->DelComm);
    EXPECT_FALSE(exists(id));
    EXPECT_EQ(look->Label6->text(), QStringLiteral("没有找到记录数"));
    ASSERT_EQ(dialogs->boxes.size(), 2u);
    EXPECT_EQ(dialogs->boxes[1].text, QStringLiteral("没有查找满足条件的数据！"));
    EXPECT_EQ(dialogs->boxes[1].title, QStringLiteral("提示"));
    EXPECT_FALSE(look->modifyComm->isEnabled());
    EXPECT_FALSE(look->DelComm->isEnabled());
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("only"));
    EXPECT_EQ(look->B_id, id);
}

TEST_F(EditFixture, DeletingOneOfSeveralShowsTheFirstOfTheNewResult) {
    const int a =
        addEntry(QStringLiteral("a"), QStringLiteral("alice"), QStringLiteral("2024-3-1 8:00:00"));
    const int b =
        addEntry(QStringLiteral("b"), QStringLiteral("alice"), QStringLiteral("2024-3-2 8:00:00"));
    const int c =
        addEntry(QStringLiteral("c"), QStringLiteral("alice"), QStringLiteral("2024-3-3 8:00:00"));
    frmLook* look = openLook();
    searchAll(look);
    click(look->commNext);
    ASSERT_EQ(look->B_id, b);
    click(look->DelComm);
    EXPECT_TRUE(exists(a));
    EXPECT_FALSE(exists(b));
    EXPECT_TRUE(exists(c));
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数：2"));
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("a"));
    EXPECT_EQ(look->B_id, a);
    EXPECT_TRUE(look->DelComm->isEnabled());
    EXPECT_TRUE(look->modifyComm->isEnabled());
    // Only the question: a search with rows says nothing.
    EXPECT_EQ(dialogs->boxes.size(), 1u);
}

TEST_F(EditFixture, TheSearchAfterADeletionUsesTheFrameAsItIsNow) {
    const int a = addEntry(QStringLiteral("keep a"), QStringLiteral("alice"),
                           QStringLiteral("2024-3-1 8:00:00"));
    addEntry(QStringLiteral("keep b"), QStringLiteral("alice"), QStringLiteral("2024-3-2 8:00:00"));
    const int c = addEntry(QStringLiteral("drop"), QStringLiteral("alice"),
                           QStringLiteral("2024-3-3 8:00:00"));
    frmLook* look = openLook();
    searchTitle(look, QStringLiteral("drop"));
    ASSERT_EQ(look->B_id, c);

    // The title box emptied since: the entry goes, the search stops at its message.
    look->txtQuerytitle->clear();
    dialogs->boxes.clear();
    click(look->DelComm);
    EXPECT_FALSE(exists(c));
    EXPECT_EQ(dialogs->texts(), (QStringList{QStringLiteral("删除后无法恢复！！真的删除吗?"),
                                             QStringLiteral("请输入标题!!")}));
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("drop"));
    EXPECT_EQ(look->B_id, c);
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数：1"));

    // Pressed again: nothing to delete, the search runs with what the frame holds now.
    searchAll(look);
    look->txtQuerytitle->setText(QStringLiteral("keep"));
    click(look->txtQuerytitle);
    ASSERT_EQ(look->B_id, a);
    click(look->DelComm);
    EXPECT_FALSE(exists(a));
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数：1"));
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("keep b"));
}

TEST_F(EditFixture, SavingAnEntryThatIsGoneSaysSoAndKeepsTheTypedTexts) {
    const int id = addEntry(QStringLiteral("only"), QStringLiteral("alice"),
                            QStringLiteral("2024-3-1 8:00:00"));
    frmLook* look = openLook();
    searchAll(look);
    click(look->modifyComm);
    click(look->DelComm);
    // The deletion leaves "保存" and the editable boxes as they were.
    EXPECT_TRUE(look->saveComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly());
    retype(look->txt_title, QStringLiteral("typed after"));
    dialogs->boxes.clear();
    click(look->saveComm);
    ASSERT_EQ(dialogs->boxes.size(), 2u);
    EXPECT_EQ(dialogs->boxes[1].text,
              QStringLiteral("记录号为%1的日记已不存在，修改未保存").arg(id));
    EXPECT_EQ(dialogs->boxes[1].title, QStringLiteral("diary pad"));
    EXPECT_EQ(dialogs->boxes[1].icon, app::Icon::Exclamation);
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 0);
    EXPECT_TRUE(look->saveComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly());
    EXPECT_FALSE(look->txt_content->isReadOnly());
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("typed after"));
}

TEST_F(EditFixture, AnEntryDeletedByAnotherCopyIsNotReportedAsSaved) {
    const int id = addEntry(QStringLiteral("mine"), QStringLiteral("alice"),
                            QStringLiteral("2024-3-1 8:00:00"));
    frmLook* look = openLook();
    searchAll(look);
    click(look->modifyComm);
    exec(QStringLiteral("delete from JR_content where ID=%1").arg(id));
    click(look->saveComm);
    EXPECT_EQ(dialogs->texts().last(),
              QStringLiteral("记录号为%1的日记已不存在，修改未保存").arg(id));
    EXPECT_TRUE(look->saveComm->isEnabled());
}

TEST_F(EditFixture, AFailedSaveKeepsTheBoxesEditable) {
    const int id = addEntry(QStringLiteral("mine"), QStringLiteral("alice"),
                            QStringLiteral("2024-3-1 8:00:00"));
    frmLook* look = openLook();
    searchAll(look);
    click(look->modifyComm);
    retype(look->txt_title, QStringLiteral("unsaved"));
    exec(QStringLiteral("create trigger refuse before update on JR_content "
                        "begin select raise(abort, 'database is locked'); end"));
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().title, QStringLiteral("错误"));
    EXPECT_EQ(col("B_title", id), QStringLiteral("mine"));
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("unsaved"));
    EXPECT_FALSE(look->txt_title->isReadOnly());
    EXPECT_TRUE(look->saveComm->isEnabled());
}
