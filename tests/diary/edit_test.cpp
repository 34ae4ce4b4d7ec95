// "修改", "保存" and "删除" on the entry shown.
#include "support/Apps.h"

using Edit = DiaryApp;

TEST_F(Edit, ModifyThenSaveWritesTheShownTextsBackToTheEntryNowShown) {
    const int a = addEntry(u"a"_s);
    const int id = addEntry(u"old"_s, u"alice"_s, u"2024-3-2 8:00:00"_s, u"old text"_s, 17);
    frmLook* look = openLook();
    search(look, 2);
    click(look->modifyComm);
    retype(look->txt_title, u"typed on a"_s);
    click(look->commNext); // still editable on the next entry, which is the one saved
    EXPECT_TRUE(look->txt_writer->isReadOnly() && look->txt_time->isReadOnly());
    retype(look->txt_title, u"Tom's \"new\" 标题"_s);
    look->txt_content->setPlainText(u"new\n'text'\u00a0😀"_s);

    dialogs->askAnswers = {false};
    click(look->saveComm);
    EXPECT_EQ(column("B_title", id), u"old"_s);
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text, u"成功修改了记录号为17的日记"_s);
    EXPECT_EQ(column("B_title", id) + column("B_content", id),
              u"Tom's \"new\" 标题new\n'text'\u00a0😀"_s);
    EXPECT_EQ(column("B_writer", id) + column("B_time", id), u"alice2024-3-2 8:00:00"_s);
    EXPECT_EQ(column("B_title", a), u"a"_s);
    EXPECT_FALSE(look->saveComm->isEnabled());
    EXPECT_TRUE(look->txt_title->isReadOnly() && look->txt_content->isReadOnly());
}

TEST_F(Edit, DeletingOneOfSeveralThenTheOnlyEntry) {
    const int a = addEntry(u"a"_s);
    const int b = addEntry(u"b"_s);
    frmLook* look = openLook();
    search(look, 2);
    click(look->commNext);
    dialogs->askAnswers = {false};
    click(look->DelComm);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 2);
    click(look->DelComm);
    EXPECT_EQ(column("B_title", b), QString());
    EXPECT_EQ(look->B_id, a);
    click(look->DelComm);
    EXPECT_EQ(count(u"select count(*) from JR_content"_s), 0);
    EXPECT_EQ(look->Label6->text(), u"没有找到记录数"_s);
    EXPECT_FALSE(look->modifyComm->isEnabled() || look->DelComm->isEnabled());
}

TEST_F(Edit, TheSearchAfterADeletionUsesTheBoxesAsTheyAreNow) {
    const int keep = addEntry(u"keep"_s);
    const int drop = addEntry(u"drop"_s);
    frmLook* look = openLook();
    search(look, 3, u"drop"_s);
    look->txtQuerytitle->clear();
    click(look->DelComm);
    EXPECT_EQ(column("B_title", drop), QString());
    EXPECT_EQ(dialogs->last().text, u"请输入标题!!"_s);
    EXPECT_EQ(look->B_id, drop);
    look->txtQuerytitle->setText(u"ee"_s);
    click(look->DelComm);
    EXPECT_EQ(look->B_id, keep);
}

TEST_F(Edit, ASaveOverADeletedEntrySaysSoAndKeepsTheTypedTexts) {
    const int mine = addEntry(u"mine"_s);
    frmLook* look = openLook();
    search(look, 3, u"mine"_s);
    click(look->modifyComm);
    click(look->DelComm); // the only entry found
    retype(look->txt_title, u"typed after"_s);
    click(look->saveComm);
    EXPECT_EQ(dialogs->last().text, u"记录号为%1的日记已不存在，修改未保存"_s.arg(mine));
    EXPECT_TRUE(look->saveComm->isEnabled());
    EXPECT_FALSE(look->txt_title->isReadOnly());
    EXPECT_EQ(look->txt_title->text(), u"typed after"_s);
}
