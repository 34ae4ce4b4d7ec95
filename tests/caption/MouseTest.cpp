// The caption bar under real mouse events: button images, clicks, dragging, double-click.
#include "support/Skins.h"

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

// Hover, leave, press and a release outside (no click) of each button, images read back.
TEST_F(CaptionMouse, EachButtonLightsUpPressesAndReturnsToNormal) {
    struct Case {
        B::Button button;
        bool maximised;
        const char *normal, *hover, *pressed, *released;
    };
    const Case cases[] = {{B::CloseButton, false, "CLOSE", "CLOSE3", "CLOSE2", "CLOSE"},
                          {B::MaxButton, false, "MAX", "MAX3", "MAX2", "MAX"},
                          {B::MinButton, false, "MIN", "MIN3", "MIN2", "MIN"},
                          // Until the restore's resize redraws the bar, a release shows MAX.
                          {B::MaxButton, true, "RES1", "RES2", "RES3", "MAX"}};
    makeWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hover);
        if (c.maximised)
            bar->MaximizeToWorkArea(JSCAPTION::Entry::Click);
        EXPECT_EQ(atButton(c.button), QLatin1String(c.normal));
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
        release(QPoint(-5, -5));
        EXPECT_EQ(atButton(c.button), QLatin1String(c.released));
        EXPECT_TRUE(bar->OverButton());
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(bar->MaxState(), int(c.maximised));
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

// Which buttons light up and act, and whether a double-click maximises, by Style and ControlBox.
TEST_F(CaptionMouse, StyleAndControlBoxDecideWhatActs) {
    struct Case {
        int style;
        bool controlBox;
        bool maxActs, doubleClickActs, minActs, closeActs;
    };
    const Case cases[] = {{1, true, true, true, true, true},
                          {0, true, false, false, false, true},
                          {3, true, false, false, true, true},
                          {4, true, true, true, true, false},
                          {1, false, false, true, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.style << c.controlBox);
        makeWindow({{u"Style"_s, c.style}, {u"ControlBox"_s, c.controlBox}});
        desktop->moves.clear();
        moveTo(B::MaxButton);
        EXPECT_EQ(bar->OverButton(), c.maxActs);
        click(centre(B::MaxButton));
        EXPECT_EQ(bar->MaxState(), int(c.maxActs));
        EXPECT_EQ(window->geometry(),
                  c.maxActs ? QRect(0, 0, 1920, 1040) : QRect(50, 40, 400, 300));
        // A press on an inert button drags the window.
        EXPECT_EQ(desktop->moves.size(), c.maxActs ? 0u : 1u);
        if (c.maxActs)
            click(centre(B::MaxButton));
        ASSERT_EQ(bar->MaxState(), 0);

        doubleClick(blank());
        EXPECT_EQ(bar->MaxState(), int(c.doubleClickActs));
        if (c.doubleClickActs)
            doubleClick(blank());
        ASSERT_EQ(bar->MaxState(), 0);

        click(centre(B::MinButton));
        EXPECT_EQ(window->isMinimized(), c.minActs);
        window->setWindowState(Qt::WindowNoState);

        // Straight from a lit button onto close: an inert close runs nobody's action.
        moveTo(B::MinButton);
        moveTo(B::CloseButton);
        EXPECT_EQ(bar->OverButton(), c.closeActs);
        click(centre(B::CloseButton));
        TempApp::settle();
        EXPECT_FALSE(window->isMinimized());
        EXPECT_EQ(window->isVisible(), !c.closeActs);
    }
}

TEST_F(CaptionMouse, OnTopButtonTogglesTheBandAndItsImageButHasNoHover) {
    makeWindow({{u"SHOWONTOP"_s, true}});
    desktop->topMost.clear();
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

TEST_F(CaptionMouse, DoubleClickOnALitButtonDoesNotMaximise) {
    makeWindow();
    moveTo(B::MinButton);
    doubleClick(centre(B::MinButton));
    EXPECT_EQ(bar->MaxState(), 0);
}

TEST_F(CaptionMouse, PressOnTheBarMovesTheWindowByTheWindowSystemOrByHand) {
    makeWindow();
    auto drag = [this] {
        press(blank());
        QTest::mouseMove(bar, blank() + QPoint(30, 20));
        release(blank() + QPoint(30, 20));
    };
    press(blank());
    ASSERT_EQ(desktop->moves.size(), 1u);
    EXPECT_EQ(desktop->moves[0], window.get());
    release(blank());
    // A refused request is done by hand; afterwards the bar behaves as before.
    desktop->acceptMove = false;
    drag();
    EXPECT_EQ(window->pos(), QPoint(80, 60));
    moveTo(B::CloseButton);
    EXPECT_EQ(atButton(B::CloseButton), u"CLOSE3"_s);
    // Neither when not Movable nor on a window the bar maximised.
    desktop->moves.clear();
    bar->setMovable(false);
    drag();
    EXPECT_EQ(window->pos(), QPoint(80, 60));
    bar->setMovable(true);
    doubleClick(blank());
    ASSERT_EQ(bar->MaxState(), 1);
    drag();
    EXPECT_TRUE(desktop->moves.empty());
    EXPECT_EQ(window->pos(), QPoint(0, 0));
}

TEST_F(CaptionMouse, TitleStopsShortOfTheButtonsAndForwardsItsMouseAsIfAtTheBarsCorner) {
    makeWindow({{u"SHOWONTOP"_s, true}});
    window->setWindowTitle(u"一个很长很长很长很长很长很长很长很长的窗口标题"_s);
    window->resize(296, 200); // the smallest normal width of a skinned window
    bar->REDRAW();
    for (QLabel* l : {bar->Label1, bar->Label2})
        EXPECT_LE(l->geometry().right(), bar->buttonRect(B::OnTopButton).left());

    moveTo(B::CloseButton);
    ASSERT_TRUE(bar->OverButton());
    // A move over the title counts as one to (1, 1): outside the band, nothing changes.
    QTest::mouseMove(bar->Label1, QPoint(40, 12));
    EXPECT_TRUE(bar->OverButton());
    bar->UserControl_MouseMove(0, 0, 150, capskin::kFromTop + 5);
    ASSERT_FALSE(bar->OverButton());
    // A press on the title drags the window; a double-click maximises.
    QTest::mousePress(bar->Label1, Qt::LeftButton, {}, QPoint(40, 12));
    QTest::mouseRelease(bar->Label1, Qt::LeftButton, {}, QPoint(40, 12));
    ASSERT_EQ(desktop->moves.size(), 1u);
    QTest::mouseDClick(bar->Label1, Qt::LeftButton, {}, QPoint(40, 12));
    EXPECT_EQ(bar->MaxState(), 1);
}
