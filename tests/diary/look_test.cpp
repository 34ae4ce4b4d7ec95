// The browsing window: its start state, the entry shown, and what leaving it releases.
#include "support/Apps.h"

#include <QPointer>

using Look = DiaryApp;

namespace {
void expectStartState(frmLook* look) {
    EXPECT_EQ(look->txtQuerytime->text(), u"2024-3-7"_s); // no leading zeros
    EXPECT_TRUE(look->optQueryType[2]->isChecked());
    EXPECT_FALSE(look->modifyComm->isEnabled() || look->saveComm->isEnabled() ||
                 look->DelComm->isEnabled());
    EXPECT_TRUE(look->txt_title->isReadOnly() && look->txt_content->isReadOnly());
    EXPECT_FALSE(look->myrs.hasOcn()); // no search on opening
}
} // namespace

TEST_F(Look, ShowsAnEntrySelectsTheLockedTitleAndReleasesAllOnLeaving) {
    const int id = addEntry(u"春天 first"_s, u"alice"_s, u"2024-3-7 9:05:00"_s, u"一\n二"_s, 42);
    frmLook* look = openLook();
    expectStartState(look);
    search(look, 2);
    EXPECT_EQ(look->txt_content->toPlainText(), u"一\n二"_s);
    EXPECT_EQ(look->B_id, id);
    click(look->txt_title);
    EXPECT_EQ(look->txt_title->selectedText(), u"春天 first"_s);
    type(look->txt_title, u"x"_s);
    EXPECT_EQ(look->txt_title->text(), u"春天 first"_s);

    QPointer<frmLook> old = look;
    click(look->writeNoteComm);
    ASSERT_FALSE(old.isNull()); // destroyed only when the event loop runs
    EXPECT_FALSE(old->myrs.hasOcn() || old->myrs.hasRs());
    settle();
    click(qobject_cast<frmWrite*>(app::loaded(app::FormId::Write))->findNoteComm);
    settle();
    ASSERT_NE(this->look(), nullptr);
    expectStartState(this->look());

    // Closed by its frame: the same clean-up, and the run ends with the last window.
    look = this->look();
    search(look, 2);
    look->close();
    EXPECT_FALSE(look->myrs.hasOcn() || look->myrs.hasRs());
    settle();
    EXPECT_EQ(endedCount, 1);
}
