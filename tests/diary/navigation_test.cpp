// "<<", "<", ">" and ">>": every cursor place against every button over a result of three.
#include "DiaryApp.h"

#include "data/ado.h"

#include <QLabel>
#include <QPushButton>

namespace {
using Navigation = DiaryApp;

constexpr int BOF = ado::adPosBOF;
constexpr int EOF_ = ado::adPosEOF;
const QString kUnchanged = QStringLiteral("(unchanged)");

enum Button { Next, Prev, First, Last };

struct Step {
    int from;      // cursor before: BOF, 1..3 or EOF_
    Button button; // pressed
    int shown;     // row then shown, 0 when the boxes keep what they had
    bool prevOn;   // "<" afterwards
    bool nextOn;   // ">" afterwards
    int to;        // cursor afterwards
};

// Before pressing, the pressed button is on and the other of "<" / ">" is in the state that
// makes a change visible.
struct Start {
    bool prevOn, nextOn;
};
Start startFor(Button b) {
    switch (b) {
    case Next:
        return {false, true};
    case Prev:
    case First:
        return {true, false};
    case Last:
        return {false, false};
    }
    return {};
}

void placeCursor(ado::Recordset& rs, int at) {
    rs.MoveFirst();
    if (at == BOF)
        rs.MovePrevious();
    else if (at == EOF_) {
        rs.MoveLast();
        rs.MoveNext();
    } else {
        for (int i = 1; i < at; ++i)
            rs.MoveNext();
    }
}

const char* name(Button b) {
    static const char* names[] = {">", "<", "<<", ">>"};
    return names[b];
}
} // namespace

TEST_F(Navigation, EveryCursorPlaceAgainstEveryButton) {
    for (int i = 1; i <= 3; ++i)
        addEntry(QStringLiteral("row%1").arg(i), QStringLiteral("alice"),
                 QStringLiteral("2024-3-%1 8:00:00").arg(i), QStringLiteral("content %1").arg(i));
    const Step table[] = {
        // ">"
        {BOF, Next, 1, true, true, 1},
        {1, Next, 2, true, true, 2},
        {2, Next, 3, true, true, 3},
        {3, Next, 0, true, true, EOF_},
        {EOF_, Next, 0, false, false, EOF_},
        // "<"
        {BOF, Prev, 0, false, false, BOF},
        {1, Prev, 0, true, true, BOF},
        {2, Prev, 1, true, true, 1},
        {3, Prev, 2, true, true, 2},
        {EOF_, Prev, 3, true, true, 3},
        // "<<"
        {BOF, First, 0, true, false, BOF},
        {1, First, 1, false, true, 1},
        {2, First, 1, false, true, 1},
        {3, First, 1, false, true, 1},
        {EOF_, First, 1, false, true, 1},
        // ">>"
        {BOF, Last, 3, true, false, 3},
        {1, Last, 3, true, false, 3},
        {2, Last, 3, true, false, 3},
        {3, Last, 3, true, false, 3},
        {EOF_, Last, 0, false, false, EOF_},
    };
    frmLook* look = openLook();
    searchAll(look);
    ASSERT_EQ(look->Label6->text(), QStringLiteral("共有记录数：3"));
    const std::array<QPushButton*, 4> buttons = {look->commNext, look->commPrevious,
                                                 look->MovefirstComm, look->MovelastComm};
    for (const Step& s : table) {
        SCOPED_TRACE(::testing::Message() << "from " << s.from << " press " << name(s.button));
        placeCursor(look->myrs.rs(), s.from);
        const Start start = startFor(s.button);
        look->commPrevious->setEnabled(start.prevOn);
        look->commNext->setEnabled(start.nextOn);
        buttons[s.button]->setEnabled(true);
        look->txt_title->setText(kUnchanged);
        look->Label6->setText(kUnchanged);

        click(buttons[s.button]);

        if (s.shown) {
            EXPECT_EQ(look->txt_title->text(), QStringLiteral("row%1").arg(s.shown));
            EXPECT_EQ(look->txt_content->toPlainText(), QStringLiteral("content %1").arg(s.shown));
            EXPECT_EQ(look->Label6->text(), QStringLiteral("当前记录：%1").arg(s.shown));
        } else {
            EXPECT_EQ(look->txt_title->text(), kUnchanged);
            EXPECT_EQ(look->Label6->text(), kUnchanged);
        }
        EXPECT_EQ(look->commPrevious->isEnabled(), s.prevOn);
        EXPECT_EQ(look->commNext->isEnabled(), s.nextOn);
        EXPECT_EQ(look->myrs.rs().AbsolutePosition(), s.to);
        // Moving never touches editing or the locks.
        EXPECT_TRUE(look->modifyComm->isEnabled());
        EXPECT_TRUE(look->DelComm->isEnabled());
        EXPECT_FALSE(look->saveComm->isEnabled());
        EXPECT_TRUE(look->txt_title->isReadOnly());
    }
    EXPECT_TRUE(dialogs->boxes.empty());
}

TEST_F(Navigation, TheDesignedWalkThroughThreeEntries) {
    for (int i = 1; i <= 3; ++i)
        addEntry(QStringLiteral("row%1").arg(i), QStringLiteral("alice"),
                 QStringLiteral("2024-3-%1 8:00:00").arg(i));
    frmLook* look = openLook();
    searchAll(look);
    click(look->commNext);
    EXPECT_EQ(look->Label6->text(), QStringLiteral("当前记录：2"));
    click(look->commNext);
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("row3"));
    click(look->commNext);
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("row3"));
    EXPECT_EQ(look->Label6->text(), QStringLiteral("当前记录：3"));
    EXPECT_TRUE(look->commNext->isEnabled());
    click(look->commNext);
    EXPECT_FALSE(look->commNext->isEnabled());
    click(look->commPrevious);
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("row3"));
    EXPECT_EQ(look->Label6->text(), QStringLiteral("当前记录：3"));
    EXPECT_TRUE(look->commNext->isEnabled());
}

TEST_F(Navigation, AnEmptyResultAndNoSearchAtAll) {
    frmLook* look = openLook();
    // Before the first search nothing happens, whatever is pressed.
    for (QPushButton* b :
         {look->MovefirstComm, look->commPrevious, look->commNext, look->MovelastComm}) {
        click(b);
        EXPECT_TRUE(b->isEnabled());
    }
    EXPECT_EQ(look->Label6->text(), QStringLiteral("共有记录数："));
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("Text1"));
    EXPECT_FALSE(look->myrs.hasOcn());

    searchAll(look);
    ASSERT_EQ(look->Label6->text(), QStringLiteral("没有找到记录数"));
    click(look->MovefirstComm);
    click(look->MovelastComm);
    EXPECT_TRUE(look->commPrevious->isEnabled());
    EXPECT_TRUE(look->commNext->isEnabled());
    click(look->commPrevious);
    EXPECT_FALSE(look->commPrevious->isEnabled());
    EXPECT_TRUE(look->commNext->isEnabled());
    click(look->commNext);
    EXPECT_FALSE(look->commNext->isEnabled());
    EXPECT_EQ(look->Label6->text(), QStringLiteral("没有找到记录数"));
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("Text1"));
}

TEST_F(Navigation, AnEntryChangedSinceTheSearchShowsItsCurrentTexts) {
    addEntry(QStringLiteral("one"), QStringLiteral("alice"), QStringLiteral("2024-3-1 8:00:00"));
    const int two = addEntry(QStringLiteral("two"), QStringLiteral("alice"),
                             QStringLiteral("2024-3-2 8:00:00"));
    frmLook* look = openLook();
    searchAll(look);
    exec(QStringLiteral("update JR_content set B_title='two, edited elsewhere' where ID=%1")
             .arg(two));
    click(look->commNext);
    EXPECT_EQ(look->txt_title->text(), QStringLiteral("two, edited elsewhere"));
    EXPECT_EQ(look->B_id, two);
}
