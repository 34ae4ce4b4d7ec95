// "<<", "<", ">" and ">>": every cursor place against every button over a result of three.
#include "support/Apps.h"

using Navigation = DiaryApp;

namespace {
constexpr int BOF = ado::adPosBOF, END = ado::adPosEOF;

void placeCursor(ado::Recordset& rs, int at) {
    rs.MoveFirst();
    if (at == BOF)
        rs.MovePrevious();
    for (int i = 1; at != BOF && i < (at == END ? 4 : at); ++i)
        rs.MoveNext();
}
} // namespace

TEST_F(Navigation, EveryCursorPlaceAgainstEveryButton) {
    for (int i = 1; i <= 3; ++i)
        addEntry(u"row%1"_s.arg(i));
    frmLook* look = openLook();
    search(look, 2);
    ASSERT_EQ(found(look), 3);
    QPushButton *next = look->commNext, *prev = look->commPrevious, *first = look->MovefirstComm,
                *last = look->MovelastComm;
    struct Step {
        int from;
        QPushButton* pressed;
        int shown;           // row then shown; 0: boxes and Label6 keep their texts
        bool prevOn, nextOn; // afterwards
        int to;
    };
    // Before each press "<" and ">" are set so that any change they undergo is visible.
    const Step table[] = {
        {BOF, next, 1, true, true, 1},     {1, next, 2, true, true, 2},
        {2, next, 3, true, true, 3},       {3, next, 0, true, true, END},
        {END, next, 0, false, false, END}, {BOF, prev, 0, false, false, BOF},
        {1, prev, 0, true, true, BOF},     {2, prev, 1, true, true, 1},
        {3, prev, 2, true, true, 2},       {END, prev, 3, true, true, 3},
        {BOF, first, 0, true, false, BOF}, {1, first, 1, false, true, 1},
        {3, first, 1, false, true, 1},     {END, first, 1, false, true, 1},
        {BOF, last, 3, true, false, 3},    {2, last, 3, true, false, 3},
        {3, last, 3, true, false, 3},      {END, last, 0, false, false, END},
    };
    for (const Step& s : table) {
        SCOPED_TRACE(::testing::Message() << s.from << s.pressed->text().toStdString());
        placeCursor(look->myrs.rs(), s.from);
        prev->setEnabled(s.pressed == prev || s.pressed == first);
        next->setEnabled(s.pressed == next);
        s.pressed->setEnabled(true);
        look->txt_title->setText(u"-"_s);
        look->Label6->setText(u"-"_s);
        click(s.pressed);
        EXPECT_EQ(look->txt_title->text() + look->Label6->text(),
                  s.shown ? u"row%1当前记录：%1"_s.arg(s.shown) : u"--"_s);
        EXPECT_EQ(prev->isEnabled(), s.prevOn);
        EXPECT_EQ(next->isEnabled(), s.nextOn);
        EXPECT_EQ(look->myrs.rs().AbsolutePosition(), s.to);
        EXPECT_TRUE(look->modifyComm->isEnabled() && look->DelComm->isEnabled());
        EXPECT_FALSE(look->saveComm->isEnabled());
    }
    EXPECT_TRUE(dialogs->boxes.empty());
}

TEST_F(Navigation, ButtonsBeforeTheFirstSearchAndOnAnEmptyResultChangeNothing) {
    frmLook* look = openLook();
    QPushButton* all[] = {look->MovefirstComm, look->commPrevious, look->commNext,
                          look->MovelastComm};
    for (bool searched : {false, true}) {
        if (searched)
            search(look, 2);
        for (QPushButton* b : all)
            click(b);
        EXPECT_EQ(look->Label6->text(), searched ? u"没有找到记录数"_s : u"共有记录数："_s);
        EXPECT_EQ(look->txt_title->text(), u"Text1"_s);
    }
    EXPECT_FALSE(look->commPrevious->isEnabled() || look->commNext->isEnabled());
}
