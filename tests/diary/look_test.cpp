// The browsing window: its start state, the entry shown, and what leaving it releases.
#include "support/Apps.h"

#include <QPointer>

using Look = DiaryApp;

namespace {
void expectStartState(frmLook* look) {
    const QString shown = look->txt_title->text() + look->txt_writer->text() +
                          look->txt_weather->text() + look->txt_content->toPlainText() +
                          look->txt_time->text();
    EXPECT_EQ(shown, u"Text1Text2Text3Text4Text5"_s);
    EXPECT_EQ(look->Label6->text(), u"共有记录数："_s);
    EXPECT_TRUE(look->optQueryType[2]->isChecked());
    EXPECT_FALSE(look->optQueryType[0]->isChecked() || look->optQueryType[3]->isChecked());
    EXPECT_FALSE(look->modifyComm->isEnabled() || look->saveComm->isEnabled() ||
                 look->DelComm->isEnabled());
    EXPECT_TRUE(look->commPrevious->isEnabled() && look->commNext->isEnabled());
    EXPECT_TRUE(look->txt_title->isReadOnly() && look->txt_content->isReadOnly());
    EXPECT_EQ(look->B_id, 0);
    EXPECT_FALSE(look->myrs.hasOcn()); // no search on opening
}
} // namespace

TEST_F(Look, OpensInItsStartStateWithTodayWithoutLeadingZeros) {
    frmLook* look = openLook();
    EXPECT_EQ(look->txtQuerytime->text(), u"2024-3-7"_s);
    expectStartState(look);
    EXPECT_TRUE(dialogs->boxes.empty());
}

TEST_F(Look, ShowsAnEntryAndSelectsTheLockedTitleOnClick) {
    const int id = addEntry(u"春天 first"_s, u"alice"_s, u"2024-3-7 9:05:00"_s, u"一\n二"_s, 42);
    frmLook* look = openLook();
    search(look, 2);
    EXPECT_EQ(look->txt_time->text(), u"2024-3-7 9:05:00"_s);
    EXPECT_EQ(look->txt_content->toPlainText(), u"一\n二"_s);
    EXPECT_EQ(look->B_id, id);
    click(look->txt_title);
    EXPECT_EQ(look->focusWidget(), look->txt_title);
    EXPECT_EQ(look->txt_title->selectedText(), u"春天 first"_s);
    type(look->txt_title, u"x"_s);
    EXPECT_EQ(look->txt_title->text(), u"春天 first"_s);
}

TEST_F(Look, LeavingReleasesTheConnectionAndResultAndTheNextOpeningStartsFresh) {
    addEntry(u"t"_s);
    frmLook* look = openLook();
    search(look, 2);
    QPointer<frmLook> old = look;
    click(look->writeNoteComm);
    ASSERT_FALSE(old.isNull()); // destroyed only when the event loop runs
    EXPECT_FALSE(old->myrs.hasOcn());
    EXPECT_FALSE(old->myrs.hasRs());
    settle();
    EXPECT_EQ(app::loadedCount(), 1);
    auto* w = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
    ASSERT_NE(w, nullptr);
    click(w->findNoteComm);
    settle();
    look = qobject_cast<frmLook*>(app::loaded(app::FormId::Look));
    ASSERT_NE(look, nullptr);
    expectStartState(look);

    // Closed by its frame: the same clean-up, and the run ends with the last window.
    search(look, 2);
    look->close();
    EXPECT_FALSE(look->myrs.hasOcn() || look->myrs.hasRs());
    settle();
    EXPECT_EQ(endedCount, 1);
}

TEST_F(Look, HelpOpensTheManual) {
    click(openLook()->helpComm);
    ASSERT_EQ(desktop->opened.size(), 1u);
    EXPECT_TRUE(desktop->opened[0].toLocalFile().endsWith(u"/manual.html"_s));
}
