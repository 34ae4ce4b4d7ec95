// "修改", "保存" and "删除" on the entry shown.
#include "DiaryApp.h"

using Edit = DiaryApp;

TEST_F(Edit, ModifyThenSaveWritesTheShownTextsBackToEntryN) {
    addEntry(QStringLiteral("other"), QStringLiteral("bob"));
    const int id = addEntry(QStringLiteral("old"), QStringLiteral("alice"),
                            QStringLiteral("2024-3-2 8:00:00"), QStringLiteral("old text"), 17);
    frmLook* look = openLook();
    search(look, 2);
    click(look->modifyComm);
    EXPECT_TRUE(look->saveComm->isEnabled() && look->modifyComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly() || look->txt_content->isReadOnly());
    EXPECT_TRUE(look->txt_writer->isReadOnly() && look->txt_weather->isReadOnly() &&
                look->txt_time->isReadOnly());
    retype(look->txt_title, QStringLiteral("Tom's \"new\" 标题"));
    look->txt_content->setPlainText(QStringLiteral("new\n'text'\u00a0😀"));

    dialogs->askAnswers = {false};
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().kind, fake::Box::Ask);
    EXPECT_EQ(dialogs->last().text, QStringLiteral("真的要修改吗?"));
    EXPECT_EQ(column("B_title", id), QStringLiteral("old"));
    EXPECT_TRUE(look->saveComm->isEnabled());

    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text, QStringLiteral("成功修改了记录号为17的日记"));
    EXPECT_EQ(dialogs->last().title, QStringLiteral("diary pad"));
    EXPECT_EQ(column("B_title", id), QStringLiteral("Tom's \"new\" 标题"));
    EXPECT_EQ(column("B_content", id), QStringLiteral("new\n'text'\u00a0😀"));
    EXPECT_EQ(column("B_weather", id) + column("B_writer", id) + column("B_time", id),
              QStringLiteral("晴alice2024-3-2 8:00:00"));
    EXPECT_EQ(column("B_title", 1), QStringLiteral("other"));
    EXPECT_FALSE(look->saveComm->isEnabled());
    EXPECT_TRUE(look->modifyComm->isEnabled());
    EXPECT_TRUE(look->txt_title->isReadOnly() && look->txt_content->isReadOnly());
}

TEST_F(Edit, SavingAfterMovingUpdatesTheEntryNowShown) {
    const int a = addEntry(QStringLiteral("a"));
    const int b = addEntry(QStringLiteral("b"));
    frmLook* look = openLook();
    search(look, 2);
    click(look->modifyComm);
    retype(look->txt_title, QStringLiteral("typed on a"));
    click(look->commNext);
    EXPECT_FALSE(look->txt_title->isReadOnly());
    retype(look->txt_title, QStringLiteral("b edited"));
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text, QStringLiteral("成功修改了记录号为%1的日记").arg(b));
    EXPECT_EQ(column("B_title", a) + column("B_title", b), QStringLiteral("ab edited"));
}

TEST_F(Edit, DeletingOneOfSeveralAndThenTheOnlyEntry) {
    const int a = addEntry(QStringLiteral("a"));
    const int b = addEntry(QStringLiteral("b"));
    frmLook* look = openLook();
    search(look, 2);
    click(look->commNext);
    dialogs->askAnswers = {false};
    click(look->DelComm);
    EXPECT_EQ(dialogs->last().text, QStringLiteral("删除后无法恢复！！真的删除吗?"));
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 2);

    click(look->DelComm);
    EXPECT_EQ(column("B_title", b), QString());
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数：1"));
    EXPECT_EQ(look->B_id, a);
    EXPECT_TRUE(look->DelComm->isEnabled());
    EXPECT_EQ(takeTexts().size(), 2); // the two questions

    click(look->DelComm);
    EXPECT_EQ(count(QStringLiteral("select count(*) from JR_content")), 0);
    EXPECT_EQ(look->Label6->text(), QStringLiteral("没有找到记录数"));
    EXPECT_EQ(dialogs->last().text, QStringLiteral("没有查找满足条件的数据！"));
    EXPECT_EQ(dialogs->last().title, QStringLiteral("提示"));
    EXPECT_FALSE(look->modifyComm->isEnabled() || look->DelComm->isEnabled());
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("a"));
}

TEST_F(Edit, TheSearchAfterADeletionUsesTheFrameAsItIsNow) {
    const int keep = addEntry(QStringLiteral("keep"));
    const int drop = addEntry(QStringLiteral("drop"));
    frmLook* look = openLook();
    search(look, 3, QStringLiteral("drop"));
    look->txtQuerytitle->clear();
    click(look->DelComm);
    EXPECT_EQ(column("B_title", drop), QString());
    EXPECT_EQ(dialogs->last().text, QStringLiteral("请输入标题!!"));
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("drop"));
    EXPECT_EQ(look->B_id, drop);

    // Again: nothing left to delete; the search runs with the text now in the box.
    look->txtQuerytitle->setText(QStringLiteral("ee"));
    click(look->DelComm);
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数：1"));
    EXPECT_EQ(look->B_id, keep);
}

TEST_F(Edit, SavingAnEntryThatIsGoneSaysSoAndKeepsTheTypedTexts) {
    const int mine = addEntry(QStringLiteral("mine"));
    const int other = addEntry(QStringLiteral("other"));
    frmLook* look = openLook();
    search(look, 3, QStringLiteral("mine"));
    click(look->modifyComm);
    click(look->DelComm); // the only entry found: "保存" stays on, the boxes editable
    retype(look->txt_title, QStringLiteral("typed after"));
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text,
              QStringLiteral("记录号为%1的日记已不存在，修改未保存").arg(mine));
    EXPECT_EQ(dialogs->last().title, QStringLiteral("diary pad"));
    EXPECT_EQ(dialogs->last().icon, app::Icon::Exclamation);
    EXPECT_TRUE(look->saveComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly());
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("typed after"));

    // Deleted by another running copy: the same.
    search(look, 3, QStringLiteral("other"));
    click(look->modifyComm);
    exec(QStringLiteral("delete from JR_content where ID=%1").arg(other));
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text,
              QStringLiteral("记录号为%1的日记已不存在，修改未保存").arg(other));

    // A save the engine refuses keeps the boxes editable too.
    const int third = addEntry(QStringLiteral("third"));
    search(look, 3, QStringLiteral("third"));
    click(look->modifyComm);
    exec(QStringLiteral("create trigger refuse before update on JR_content "
                        "begin select raise(abort, 'database is locked'); end"));
    retype(look->txt_title, QStringLiteral("unsaved"));
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().title, QStringLiteral("错误"));
    EXPECT_EQ(column("B_title", third), QStringLiteral("third"));
    EXPECT_TRUE(look->saveComm->isEnabled());
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("unsaved"));
}
