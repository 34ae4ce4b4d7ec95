// The caption bar under real mouse events: button images, clicks, dragging, double-click.
#include "CaptionSkin.h"

#include "app/Module1.h"

#include <QLabel>
#include <QTest>

using namespace Qt::StringLiterals;
using B = JSCAPTION;

class CaptionMouse : public CaptionFixture {
protected:
    void press(QPoint p) {
        moveTo(p);
        QTest::mousePress(bar, Qt::LeftButton, {}, p);
    }
    void release(QPoint p) { QTest::mouseRelease(bar, Qt::LeftButton, {}, p); }
    void click(QPoint p) {
        moveTo(p);
        QTest::mouseClick(bar, Qt::LeftButton, {}, p);
    }
    void doubleClick(QPoint p) {
        moveTo(p);
        QTest::mouseDClick(bar, Qt::LeftButton, {}, p);
    }
    // A point in the button band away from every button and from the title.
    QPoint blank() const { return {310, capskin::kFromTop + 5}; }
};

// Hover, leave, press, release and click of each button, with the images read back.
TEST_F(CaptionMouse, EachButtonLightsUpPressesAndReturnsToNormal) {
    struct Case {
        B::Button button;
        const char *normal, *hover, *pressed;
    };
    const Case cases[] = {{B::CloseButton, "CLOSE", "CLOSE3", "CLOSE2"},
                          {B::MaxButton, "MAX", "MAX3", "MAX2"},
                          {B::MinButton, "MIN", "MIN3", "MIN2"}};
    makeWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.normal);
        moveTo(c.button);
        EXPECT_EQ(atButton(c.button), QLatin1String(c.hover));
        EXPECT_TRUE(bar->OverButton());
        EXPECT_EQ(bar->HotButton(), int(c.button));
        moveTo(blank());
        EXPECT_EQ(atButton(c.button), QLatin1String(c.normal));
        EXPECT_FALSE(bar->OverButton());
        EXPECT_EQ(bar->HotButton(), int(c.button)); // kept after leaving

        press(centre(c.button));
        EXPECT_EQ(atButton(c.button), QLatin1String(c.pressed));
        EXPECT_TRUE(desktop->moves.empty());
        // Releasing outside the bar gives the normal image and no click.
        release(QPoint(-5, -5));
        EXPECT_EQ(atButton(c.button), QLatin1String(c.normal));
        EXPECT_TRUE(bar->OverButton());
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(bar->MaxState(), 0);
    }
}

TEST_F(CaptionMouse, HoverBandIsStrictAndMovesOutsideItChangeNothing) {
    makeWindow();
    const QRect close = bar->buttonRect(B::CloseButton);
    // The top and bottom rows of the band and the left column do not count.
    for (QPoint p : {QPoint(close.center().x(), capskin::kFromTop),
                     QPoint(close.center().x(), capskin::kFromTop + 14),
                     QPoint(close.left(), close.center().y())}) {
        moveTo(p);
        EXPECT_FALSE(bar->OverButton()) << p.x() << "," << p.y();
        EXPECT_EQ(atButton(B::CloseButton), u"CLOSE"_s);
    }
    moveTo(QPoint(close.left() + 1, capskin::kFromTop + 1));
    EXPECT_EQ(atButton(B::CloseButton), u"CLOSE3"_s);
    // Below the band: the lit button stays lit.
    moveTo(QPoint(200, 25));
    EXPECT_EQ(atButton(B::CloseButton), u"CLOSE3"_s);
    EXPECT_TRUE(bar->OverButton());
    // Straight from one button to the next: the first is not restored.
    moveTo(B::MaxButton);
    EXPECT_EQ(atButton(B::CloseButton), u"CLOSE3"_s);
    EXPECT_EQ(atButton(B::MaxButton), u"MAX3"_s);
    EXPECT_EQ(bar->HotButton(), int(B::MaxButton));
}

TEST_F(CaptionMouse, ClicksCloseMinimiseMaximiseAndRestore) {
    makeWindow();
    click(centre(B::MaxButton));
    EXPECT_EQ(bar->MaxState(), 1);
    EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1040));
    EXPECT_EQ(bar->Style2(), 1);
    EXPECT_FALSE(Module1::ResizeEnabled);
    // The resize that followed shows the restore image.
    EXPECT_EQ(atButton(B::MaxButton), u"RES1"_s);
    moveTo(B::MaxButton);
    EXPECT_EQ(atButton(B::MaxButton), u"RES2"_s);
    press(centre(B::MaxButton));
    EXPECT_EQ(atButton(B::MaxButton), u"RES3"_s);
    release(QPoint(-5, -5));
    EXPECT_EQ(atButton(B::MaxButton), u"MAX"_s); // until the restore's resize redraws the bar

    click(centre(B::MaxButton));
    EXPECT_EQ(bar->MaxState(), 0);
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
    EXPECT_EQ(bar->Style2(), 2);
    EXPECT_TRUE(Module1::ResizeEnabled);

    click(centre(B::MinButton));
    EXPECT_TRUE(window->isMinimized());
    EXPECT_EQ(bar->Style2(), 0);

    window->setWindowState(Qt::WindowNoState);
    click(centre(B::CloseButton));
    TempApp::settle();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(CaptionMouse, Style4DrawsCloseButLeavesItInert) {
    makeWindow({{u"Style"_s, 4}});
    moveTo(B::MaxButton);
    // Straight from the lit maximise onto the inert close: neither stays lit nor acts.
    moveTo(B::CloseButton);
    EXPECT_EQ(atButton(B::CloseButton), u"CLOSE"_s);
    EXPECT_EQ(atButton(B::MaxButton), u"MAX"_s);
    EXPECT_FALSE(bar->OverButton());
    click(centre(B::CloseButton));
    TempApp::settle();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(bar->MaxState(), 0);
    // Maximise and double-click still work.
    click(centre(B::MaxButton));
    EXPECT_EQ(bar->MaxState(), 1);
    doubleClick(blank());
    EXPECT_EQ(bar->MaxState(), 0);
}

TEST_F(CaptionMouse, Style3LeavesMaximiseInertAndIgnoresDoubleClicks) {
    makeWindow({{u"Style"_s, 3}});
    moveTo(B::MaxButton);
    EXPECT_EQ(atButton(B::MaxButton), u"MAX"_s);
    click(centre(B::MaxButton));
    doubleClick(blank());
    EXPECT_EQ(bar->MaxState(), 0);
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
    moveTo(B::MinButton);
    EXPECT_EQ(atButton(B::MinButton), u"MIN3"_s);
}

TEST_F(CaptionMouse, WithoutControlBoxNothingReactsButDragAndDoubleClickRemain) {
    makeWindow({{u"ControlBox"_s, false}});
    const QPoint where = bar->buttonRect(B::CloseButton).center();
    moveTo(where);
    EXPECT_FALSE(bar->OverButton());
    press(where);
    release(where);
    ASSERT_EQ(desktop->moves.size(), 1u);
    EXPECT_EQ(desktop->moves[0], window.get());
    doubleClick(blank());
    EXPECT_EQ(bar->MaxState(), 1);
}

TEST_F(CaptionMouse, OnTopButtonTogglesTheBandAndItsImageButHasNoHover) {
    makeWindow({{u"SHOWONTOP"_s, true}});
    desktop->topMost.clear();
    EXPECT_EQ(atButton(B::OnTopButton), u"ONTOP1"_s);
    moveTo(B::OnTopButton);
    EXPECT_EQ(atButton(B::OnTopButton), u"ONTOP1"_s);
    EXPECT_EQ(bar->HotButton(), int(B::OnTopButton));
    click(centre(B::OnTopButton));
    EXPECT_TRUE(bar->ONTOP());
    EXPECT_EQ(atButton(B::OnTopButton), u"ONTOP3"_s);
    click(centre(B::OnTopButton));
    EXPECT_FALSE(bar->ONTOP());
    EXPECT_EQ(atButton(B::OnTopButton), u"ONTOP1"_s);
    ASSERT_EQ(desktop->topMost.size(), 2u);
    EXPECT_EQ(desktop->topMost[0], std::make_pair(window.get(), true));
    EXPECT_EQ(desktop->topMost[1], std::make_pair(window.get(), false));
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
}

TEST_F(CaptionMouse, DoubleClickOnTheBarMaximisesAndRestores) {
    makeWindow();
    Module1::ResizeEnabled = true;
    doubleClick(blank());
    EXPECT_EQ(bar->MaxState(), 1);
    EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1040));
    EXPECT_FALSE(Module1::ResizeEnabled);
    doubleClick(blank());
    EXPECT_EQ(bar->MaxState(), 0);
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
    // Not while a button is lit, and never with Style 0.
    moveTo(B::MinButton);
    doubleClick(centre(B::MinButton));
    EXPECT_EQ(bar->MaxState(), 0);
    bar->setStyle(0);
    moveTo(blank());
    doubleClick(blank());
    EXPECT_EQ(bar->MaxState(), 0);
}

TEST_F(CaptionMouse, PressOnTheBarAsksTheWindowSystemToMoveTheWindow) {
    makeWindow();
    press(blank());
    ASSERT_EQ(desktop->moves.size(), 1u);
    EXPECT_EQ(desktop->moves[0], window.get());
    // The window system had the press: its release is no click.
    release(blank());
    EXPECT_EQ(bar->MaxState(), 0);

    bar->setMovable(false);
    press(blank());
    release(blank());
    EXPECT_EQ(desktop->moves.size(), 1u);
}

TEST_F(CaptionMouse, RefusedMoveIsDoneByHandButNeverOnABarMaximisedWindow) {
    makeWindow();
    desktop->acceptMove = false;
    auto drag = [this] {
        press(blank());
        QTest::mouseMove(bar, blank() + QPoint(30, 20));
        release(blank() + QPoint(30, 20));
    };
    drag();
    EXPECT_EQ(window->pos(), QPoint(80, 60));
    // After the drag the bar behaves as before.
    moveTo(B::CloseButton);
    EXPECT_EQ(atButton(B::CloseButton), u"CLOSE3"_s);

    doubleClick(blank());
    ASSERT_EQ(bar->MaxState(), 1);
    desktop->moves.clear();
    drag();
    EXPECT_TRUE(desktop->moves.empty());
    EXPECT_EQ(window->pos(), QPoint(0, 0));
}

TEST_F(CaptionMouse, TitleForwardsItsMouseAsIfAtTheBarsCorner) {
    makeWindow();
    moveTo(B::CloseButton);
    ASSERT_TRUE(bar->OverButton());
    // Moving over the title counts as a move to (1, 1): outside the band, nothing changes.
    QTest::mouseMove(bar->Label1, QPoint(40, 12));
    EXPECT_TRUE(bar->OverButton());
    bar->UserControl_MouseMove(0, 0, 200, capskin::kFromTop + 5);
    ASSERT_FALSE(bar->OverButton());
    // A press on the title drags the window; a double-click maximises.
    QTest::mousePress(bar->Label1, Qt::LeftButton, {}, QPoint(40, 12));
    QTest::mouseRelease(bar->Label1, Qt::LeftButton, {}, QPoint(40, 12));
    ASSERT_EQ(desktop->moves.size(), 1u);
    QTest::mouseDClick(bar->Label1, Qt::LeftButton, {}, QPoint(40, 12));
    EXPECT_EQ(bar->MaxState(), 1);
}

TEST_F(CaptionMouse, OnANarrowWindowTheTitleStopsShortOfTheButtons) {
    makeWindow({{u"SHOWONTOP"_s, true}});
    window->setWindowTitle(u"一个很长很长很长很长很长很长很长很长的窗口标题"_s);
    window->resize(296, 200); // the smallest normal width of a skinned window
    bar->REDRAW();
    for (QLabel* l : {bar->Label1, bar->Label2})
        EXPECT_LE(l->geometry().right(), bar->buttonRect(B::OnTopButton).left());
    click(centre(B::CloseButton));
    TempApp::settle();
    EXPECT_FALSE(window->isVisible());
}
