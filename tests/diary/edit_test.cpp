// "修改", "保存" and "删除" on the entry shown.
#include "support/Apps.h"

using Edit = DiaryApp;

TEST_F(Edit, ModifyThenSaveWritesTheShownTextsBackToEntryN) {
    addEntry(u"other"_s, u"bob"_s);
    const int id = addEntry(u"old"_s, u"alice"_s, u"2024-3-2 8:00:00"_s, u"old text"_s, 17);
    frmLook* look = openLook();
    search(look, 2);
    click(look->modifyComm);
    EXPECT_TRUE(look->saveComm->isEnabled() && look->modifyComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly() || look->txt_content->isReadOnly());
    EXPECT_TRUE(look->txt_writer->isReadOnly() && look->txt_weather->isReadOnly() &&
                look->txt_time->isReadOnly());
    retype(look->txt_title, u"Tom's \"new\" 标题"_s);
    look->txt_content->setPlainText(u"new\n'text'\u00a0😀"_s);

    dialogs->askAnswers = {false};
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().kind, fake::Box::Ask);
    EXPECT_EQ(dialogs->last().text, u"真的要修改吗?"_s);
    EXPECT_EQ(column("B_title", id), u"old"_s);
    EXPECT_TRUE(look->saveComm->isEnabled());

    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text, u"成功修改了记录号为17的日记"_s);
    EXPECT_EQ(dialogs->last().title, u"diary pad"_s);
    EXPECT_EQ(column("B_title", id), u"Tom's \"new\" 标题"_s);
    EXPECT_EQ(column("B_content", id), u"new\n'text'\u00a0😀"_s);
    EXPECT_EQ(column("B_weather", id) + column("B_writer", id) + column("B_time", id),
              u"晴alice2024-3-2 8:00:00"_s);
    EXPECT_EQ(column("B_title", 1), u"other"_s);
    EXPECT_FALSE(look->saveComm->isEnabled());
    EXPECT_TRUE(look->modifyComm->isEnabled());
    EXPECT_TRUE(look->txt_title->isReadOnly() && look->txt_content->isReadOnly());
}

TEST_F(Edit, SavingAfterMovingUpdatesTheEntryNowShown) {
    const int a = addEntry(u"a"_s);
    const int b = addEntry(u"b"_s);
    frmLook* look = openLook();
    search(look, 2);
    click(look->modifyComm);
    retype(look->txt_title, u"typed on a"_s);
    click(look->commNext);
    EXPECT_FALSE(look->txt_title->isReadOnly());
    retype(look->txt_title, u"b edited"_s);
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text, u"成功修改了记录号为%1的日记"_s.arg(b));
    EXPECT_EQ(column("B_title", a) + column("B_title", b), u"ab edited"_s);
}

TEST_F(Edit, DeletingOneOfSeveralAndThenTheOnlyEntry) {
    const int a = addEntry(u"a"_s);
    const int b = addEntry(u"b"_s);
    frmLook* look = openLook();
    search(look, 2);
    click(look->commNext);
    dialogs->askAnswers = {false};
    click(look->DelComm);
    EXPECT_EQ(dialogs->last().text, u"删除后无法恢复！！真的删除吗?"_s);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 2);

    click(look->DelComm);
    EXPECT_EQ(column("B_title", b), QString());
    EXPECT_EQ(look->Label6->text(), u"共有记录数：1"_s);
    EXPECT_EQ(look->B_id, a);
    EXPECT_TRUE(look->DelComm->isEnabled());
    EXPECT_EQ(takeTexts().size(), 2); // the two questions

    click(look->DelComm);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 0);
    EXPECT_EQ(look->Label6->text(), u"没有找到记录数"_s);
    EXPECT_EQ(dialogs->last().text, u"没有查找满足条件的数据！"_s);
    EXPECT_EQ(dialogs->last().title, u"提示"_s);
    EXPECT_FALSE(look->modifyComm->isEnabled() || look->DelComm->isEnabled());
    EXPECT_EQ(look->txt_title->text(), u"a"_s);
}

TEST_F(Edit, TheSearchAfterADeletionUsesTheFrameAsItIsNow) {
    const int keep = addEntry(u"keep"_s);
    const int drop = addEntry(u"drop"_s);
    frmLook* look = openLook();
    search(look, 3, u"drop"_s);
    look->txtQuerytitle->clear();
    click(look->DelComm);
    EXPECT_EQ(column("B_title", drop), QString());
    EXPECT_EQ(dialogs->last().text, u"请输入标题!!"_s);
    EXPECT_EQ(look->txt_title->text(), u"drop"_s);
    EXPECT_EQ(look->B_id, drop);

    // Again: nothing left to delete; the search runs with the text now in the box.
    look->txtQuerytitle->setText(u"ee"_s);
    click(look->DelComm);
    EXPECT_EQ(look->Label6->text(), u"共有记录数：1"_s);
    EXPECT_EQ(look->B_id, keep);
}

TEST_F(Edit, SavingAnEntryThatIsGoneSaysSoAndKeepsTheTypedTexts) {
    const int mine = addEntry(u"mine"_s);
    const int other = addEntry(u"other"_s);
    frmLook* look = openLook();
    search(look, 3, u"mine"_s);
    click(look->modifyComm);
    click(look->DelComm); // the only entry found: "保存" stays on, the boxes editable
    retype(look->txt_title, u"typed after"_s);
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text, u"记录号为%1的日记已不存在，修改未保存"_s.arg(mine));
    EXPECT_EQ(dialogs->last().title, u"diary pad"_s);
    EXPECT_EQ(dialogs->last().icon, app::Icon::Exclamation);
    EXPECT_TRUE(look->saveComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly());
    EXPECT_EQ(look->txt_title->text(), u"typed after"_s);

    // Deleted by another running copy: the same.
    search(look, 3, u"other"_s);
    click(look->modifyComm);
    exec(u"delete from JR_content where ID=%1"_s.arg(other));
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text, u"记录号为%1的日记已不存在，修改未保存"_s.arg(other));

    // A save the engine refuses keeps the boxes editable too.
    const int third = addEntry(u"third"_s);
    search(look, 3, u"third"_s);
    click(look->modifyComm);
    exec(u"create trigger refuse before update on JR_content "
         "begin select raise(abort, 'database is locked'); end"_s);
    retype(look->txt_title, u"unsaved"_s);
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().title, u"错误"_s);
    EXPECT_EQ(column("B_title", third), u"third"_s);
    EXPECT_TRUE(look->saveComm->isEnabled());
    EXPECT_EQ(look->txt_title->text(), u"unsaved"_s);
}
