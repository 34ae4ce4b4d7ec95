// The caption bar: stored settings, what it draws from a skin, the mouse, and the window states
// it keeps with a fake work area.
#include "support/Support.h"

#include "base/Module1.h"

#include <QAccessible>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QTest>

using B = JSCAPTION;
using Entry = JSCAPTION::Entry;

class Caption : public CaptionFixture {
protected:
    // Press, release, click or double-click at `p`, the pointer brought there first.
    void mouse(QTest::MouseAction action, QPoint p) {
        if (action != QTest::MouseRelease)
            moveTo(p);
        QTest::mouseEvent(action, bar, Qt::LeftButton, {}, p);
    }
    void click(QPoint p) { mouse(QTest::MouseClick, p); }
    void doubleClick(QPoint p) { mouse(QTest::MouseDClick, p); }
    // A point in the button band away from every button and from the title.
    QPoint blank() const { return {310, capskin::kFromTop + 5}; }
    // Pixels left of the buttons that belong to no piece: printed text.
    int ink(int top, int bottom) const {
        const QImage img = bar->surface().toImage();
        int n = 0;
        for (int y = top; y < bottom && y < img.height(); ++y)
            for (int x = 0; x < 150; ++x)
                n += capskin::keyOf(img.pixelColor(x, y)).isEmpty();
        return n;
    }
};

// A form stores only a font and BackColor; the rest keeps its defaults, left out when saved.
// All that is set is saved but Style2; unusable stored values fall back to their defaults.
TEST_F(Caption, SettingsAreSavedButStyle2AndUnusableOnesFallBack) {
    Module1::ResizeEnabled = true;
    makeWindow({{u"Font"_s, QFont(u"宋体"_s, 9)}, {u"BackColor"_s, 0x00DC7E5Au}}, false);
    EXPECT_EQ(bar->WriteProperties().keys(), (QStringList{u"BackColor"_s, u"Font"_s, u"Path"_s}));
    EXPECT_FALSE(Module1::ResizeEnabled);
    bar->setControlBox(false);
    bar->setMovable(false);
    bar->setShowIcon(false);
    bar->setSHOWONTOP(true);
    bar->setStyle(0);
    bar->setStyle2(1);
    bar->setPath(skinPath);
    bar->setFont(QFont(u"宋体"_s, 12));
    bar->setONTOP(true);
    bar->setForeColor(0x000000FFu);
    bar->setBackColor(0x8000000Fu);
    const QVariantMap saved = bar->WriteProperties();
    EXPECT_EQ(saved.size(), 10);
    EXPECT_FALSE(saved.contains(u"Style2"_s));
    QWidget other;
    JSCAPTION copy(&other);
    copy.ReadProperties(saved);
    EXPECT_EQ(copy.WriteProperties(), saved);
    // A stored ONTOP puts the holding window on top at once.
    EXPECT_EQ(desktop->topMost.back(), std::make_pair(&other, true));
    copy.ReadProperties({{u"Style"_s, u"abc"_s},
                         {u"Movable"_s, u"vielleicht"_s},
                         {u"ControlBox"_s, QVariant()},
                         {u"ForeColor"_s, u"white"_s},
                         {u"Font"_s, 17},
                         {u"BackColor"_s, qint32(0x80000012u)}}); // stored as a signed 32-bit value
    EXPECT_TRUE(copy.Style() == 1 && copy.Movable() && copy.ControlBox());
    EXPECT_EQ(copy.ForeColor(), 0x00FFFFFFu);
    EXPECT_EQ(copy.BackColor(), 0x80000012u);
    EXPECT_EQ(copy.Font(), other.font());
}

TEST_F(Caption, ScreenReadersFindAndPressTheButtons) {
    makeWindow();
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(bar);
    ASSERT_NE(iface, nullptr);
    auto find = [iface](const QString& name) -> QAccessibleInterface* {
        for (int i = 0; i < iface->childCount(); ++i)
            if (QAccessibleInterface* c = iface->child(i); c && c->text(QAccessible::Name) == name)
                return c;
        return nullptr;
    };
    QAccessibleInterface* max = find(u"最大化"_s);
    ASSERT_NE(max, nullptr);
    EXPECT_EQ(max->rect().size(), bar->buttonRect(B::MaxButton).size());
    max->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(bar->MaxState(), 1);
    EXPECT_EQ(max->text(QAccessible::Name), u"还原"_s);
    // The on-top button is hidden unless shown; inert buttons are disabled.
    EXPECT_TRUE(find(u"总在最前"_s)->state().invisible);
    bar->setStyle(4);
    QAccessibleInterface* close = find(u"关闭"_s);
    EXPECT_TRUE(close->state().disabled);
    close->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    TempApp::settle();
    EXPECT_TRUE(window->isVisible());
}

// Buttons sit from the right by the skin's measures; ControlBox, Style and SHOWONTOP decide
// which are drawn, and room for the two middle ones is kept when they are not.
TEST_F(Caption, FrameAndButtonsLieWhereTheSkinPutsThem) {
    makeWindow();
    window->resize(640, window->height());
    const int close = 640 - 16 - capskin::kFromRight, max = close - capskin::kIconSpace - 15,
              min = max - capskin::kIconSpace - 13, ontop = min - capskin::kIconSpace - 11;
    EXPECT_EQ(bar->height(), 30);
    EXPECT_EQ(at(9, 29) + at(10, 0) + at(640 - 13, 29) + at(640 - 12, 0),
              u"TOPLEFTTOPMIDTOPMIDTOPRIGHT"_s);
    EXPECT_EQ(bar->buttonRect(B::CloseButton), QRect(close, capskin::kFromTop, 16, 14));
    EXPECT_EQ(bar->buttonRect(B::MinButton), QRect(min, capskin::kFromTop, 13, 14));
    // ControlBox, Style, SHOWONTOP; then close and the middle two drawn.
    const std::tuple<bool, int, bool, bool, bool> cases[] = {{true, 1, false, true, true},
                                                             {true, 0, true, true, false},
                                                             {true, 4, true, true, true},
                                                             {false, 2, true, false, false}};
    const int y = capskin::kFromTop + 3;
    for (const auto& [controlBox, style, showOnTop, closeDrawn, middleDrawn] : cases) {
        SCOPED_TRACE(testing::Message() << controlBox << style << showOnTop);
        bar->setControlBox(controlBox);
        bar->setStyle(style);
        bar->setSHOWONTOP(showOnTop);
        bar->setPath(skinPath);
        Module1::ResizeEnabled = false;
        window->resize(640, window->height() + 1); // a size change lets Style 1 alone be sized
        EXPECT_EQ(Module1::ResizeEnabled, style == 1);
        EXPECT_EQ(at(close + 2, y) == u"CLOSE"_s, closeDrawn);
        EXPECT_EQ(at(max + 2, y) == u"MAX"_s, middleDrawn);
        EXPECT_EQ(at(min + 2, y) == u"MIN"_s, middleDrawn);
        EXPECT_EQ(at(ontop + 2, y) == u"ONTOP1"_s, showOnTop);
    }
}

TEST_F(Caption, UnreadableSkinDrawsNothingAndMissingPiecesLeaveTheBarsColour) {
    makeWindow();
    const QString garbage = dir.filePath(u"garbage.jss"_s);
    writeFile(garbage, QByteArray("\x11\x20\x01\x00\xff\xff\xff\x7f not a skin"));
    const QString missing = dir.filePath(u"missing.jss"_s);
    for (const QString& path : {QString(), missing, garbage, dir.path()}) {
        SCOPED_TRACE(path.toStdString());
        bar->setPath(skinPath);
        ASSERT_EQ(bar->height(), 30);
        bar->setPath(path);
        EXPECT_EQ(bar->height(), 0);
        EXPECT_TRUE(bar->surface().isNull());
        EXPECT_TRUE(bar->buttonRect(B::CloseButton).isEmpty());
    }
    EXPECT_FALSE(QFile::exists(missing));
    // The mouse where the buttons were must not reach a missing piece.
    bar->UserControl_MouseMove(0, 0, 380, 10);
    bar->UserControl_MouseDown(1, 0, 380, 10);
    bar->UserControl_MouseUp(1, 0, 380, 10);
    bar->UserControl_Click();

    skin::PropertyBag b;
    for (const auto& p : capskin::pieces())
        if (qstrcmp(p.key, "TOPMID") != 0 && qstrcmp(p.key, "MIN") != 0)
            b.writePicture(QString::fromLatin1(p.key), testskin::png(p.size, p.colour));
    skinPath = testskin::write(dir.filePath(u"partial.jss"_s), b);
    makeWindow();
    EXPECT_EQ(at(0, 0) + at(399, 29), u"TOPLEFTTOPRIGHT"_s);
    // No metrics in this skin: buttons at the right edge, top row.
    EXPECT_EQ(at(400 - 16, 0) + at(400 - 16 - 15, 0), u"CLOSEMAX"_s);
    EXPECT_TRUE(bar->buttonRect(B::MinButton).isEmpty());
    EXPECT_EQ(bar->surface().toImage().pixelColor(200, 20), QColor(90, 126, 220));
}

TEST_F(Caption, TitleIconAndWindowColourComeFromTheWindowAndTheSkin) {
    makeWindow({{u"ShowIcon"_s, false}});
    QPixmap icon(32, 32);
    icon.fill(Qt::red);
    window->setWindowIcon(QIcon(icon));
    bar->setPath(skinPath);
    EXPECT_TRUE(bar->Image1->pixmap().isNull());
    EXPECT_EQ(bar->Label1->text() + bar->Label2->text(), u"写日记写日记"_s);
    EXPECT_EQ(bar->Label2->palette().color(QPalette::WindowText), QColor(0x66, 0x55, 0x44));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(0x99, 0x88, 0x77));
    bar->setShowIcon(true);
    bar->setPath(skinPath);
    EXPECT_EQ(bar->Image1->pixmap().toImage().pixelColor(5, 5), QColor(Qt::red));
}

// The images of a button at rest, lit, at rest again when left, pressed, and after a release
// outside it, which is no click.
TEST_F(Caption, EachButtonLightsUpPressesAndReturnsToNormal) {
    const std::tuple<B::Button, bool, QString> cases[] = {
        {B::CloseButton, false, u"CLOSE CLOSE3 CLOSE CLOSE2 CLOSE"_s},
        {B::MinButton, false, u"MIN MIN3 MIN MIN2 MIN"_s},
        // Until the restore's resize redraws the bar, a release shows MAX.
        {B::MaxButton, true, u"RES1 RES2 RES1 RES3 MAX"_s}};
    makeWindow();
    for (const auto& [button, maximised, images] : cases) {
        SCOPED_TRACE(images.toStdString());
        if (maximised)
            bar->MaximizeToWorkArea(Entry::Click);
        QStringList seen{atButton(button)};
        moveTo(button);
        seen << atButton(button);
        EXPECT_EQ(bar->HotButton(), int(button));
        moveTo(blank());
        seen << atButton(button);
        EXPECT_FALSE(bar->OverButton());
        mouse(QTest::MousePress, centre(button));
        seen << atButton(button);
        mouse(QTest::MouseRelease, QPoint(-5, -5));
        seen << atButton(button);
        EXPECT_EQ(seen.join(u' '), images);
        EXPECT_TRUE(desktop->moves.empty());
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(bar->MaxState(), int(maximised));
    }
}

// Which buttons light up and act, and whether a double-click maximises, by Style and ControlBox.
TEST_F(Caption, StyleAndControlBoxDecideWhatActs) {
    // Style, ControlBox; then whether maximise, a double-click, minimise and close act.
    const std::tuple<int, bool, bool, bool, bool, bool> cases[] = {
        {1, true, true, true, true, true},
        {0, true, false, false, false, true},
        {3, true, false, false, true, true},
        {4, true, true, true, true, false},
        {1, false, false, true, false, false}};
    for (const auto& [style, controlBox, maxActs, doubleClickActs, minActs, closeActs] : cases) {
        SCOPED_TRACE(testing::Message() << style << controlBox);
        makeWindow({{u"Style"_s, style}, {u"ControlBox"_s, controlBox}});
        desktop->moves.clear();
        moveTo(B::MaxButton);
        EXPECT_EQ(bar->OverButton(), maxActs);
        click(centre(B::MaxButton));
        EXPECT_EQ(bar->MaxState(), int(maxActs));
        EXPECT_EQ(window->geometry(), maxActs ? QRect(0, 0, 1920, 1040) : QRect(50, 40, 400, 300));
        // A press on an inert button drags the window.
        EXPECT_EQ(desktop->moves.size(), maxActs ? 0u : 1u);
        if (maxActs)
            click(centre(B::MaxButton));
        ASSERT_EQ(bar->MaxState(), 0);

        doubleClick(blank());
        EXPECT_EQ(bar->MaxState(), int(doubleClickActs));
        if (doubleClickActs)
            doubleClick(blank());
        ASSERT_EQ(bar->MaxState(), 0);

        click(centre(B::MinButton));
        EXPECT_EQ(window->isMinimized(), minActs);
        window->setWindowState(Qt::WindowNoState);

        // Straight from a lit button onto close: an inert close runs nobody's action.
        moveTo(B::MinButton);
        moveTo(B::CloseButton);
        EXPECT_EQ(bar->OverButton(), closeActs);
        click(centre(B::CloseButton));
        TempApp::settle();
        EXPECT_FALSE(window->isMinimized());
        EXPECT_EQ(window->isVisible(), !closeActs);
    }
}

TEST_F(Caption, OnTopButtonTogglesTheBandAndItsImageButHasNoHover) {
    makeWindow({{u"SHOWONTOP"_s, true}});
    desktop->topMost.clear();
    QStringList seen;
    for (int i = 0; i < 2; ++i) {
        moveTo(B::OnTopButton);
        seen << atButton(B::OnTopButton);
        click(centre(B::OnTopButton));
        seen << atButton(B::OnTopButton);
    }
    EXPECT_EQ(seen.join(u' '), u"ONTOP1 ONTOP3 ONTOP3 ONTOP1"_s);
    EXPECT_FALSE(bar->ONTOP());
    EXPECT_EQ(desktop->topMost, (std::vector<std::pair<QWidget*, bool>>{{window.get(), true},
                                                                        {window.get(), false}}));
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
}

TEST_F(Caption, PressOnTheBarMovesTheWindowByTheWindowSystemOrByHand) {
    makeWindow();
    auto drag = [this] {
        mouse(QTest::MousePress, blank());
        QTest::mouseMove(bar, blank() + QPoint(30, 20));
        mouse(QTest::MouseRelease, blank() + QPoint(30, 20));
    };
    // The window system took the move and sent no release: the next click still acts.
    mouse(QTest::MousePress, blank());
    ASSERT_EQ(desktop->moves.size(), 1u);
    EXPECT_EQ(desktop->moves[0], window.get());
    click(centre(B::MaxButton));
    EXPECT_EQ(bar->MaxState(), 1);
    click(centre(B::MaxButton));
    ASSERT_EQ(bar->MaxState(), 0);
    // A double-click on a lit button does not maximise.
    moveTo(B::MinButton);
    doubleClick(centre(B::MinButton));
    EXPECT_EQ(bar->MaxState(), 0);
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

TEST_F(Caption, TitleStopsShortOfTheButtonsAndForwardsItsMouseAsIfAtTheBarsCorner) {
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

TEST_F(Caption, MaximiseFillsTheWorkAreaAndRestoreGivesBackTheExactRectangle) {
    struct Case {
        QRect area, expected;
    };
    const Case cases[] = {
        {{0, 0, 1024, 738}, {0, 0, 1024, 738}},
        {{60, 0, 964, 768}, {60, 0, 964, 768}},
        {{0, 30, 1024, 738}, {0, 30, 1024, 738}},
        // Room at the left and at the top: sized where it stands.
        {{60, 30, 964, 738}, {123, 77, 964, 738}},
    };
    makeWindow();
    window->setGeometry(123, 77, 431, 289);
    for (Entry entry : {Entry::Click, Entry::DoubleClick})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << int(entry) << " " << c.area.x() << "," << c.area.y());
            desktop->area = c.area;
            bar->MaximizeToWorkArea(entry);
            EXPECT_EQ(bar->MaxState(), 1);
            EXPECT_EQ(bar->Style2(), 1);
            EXPECT_EQ(window->geometry(), c.expected);
            EXPECT_EQ(bar->RestoreRect(), QRect(1845, 1155, 6465, 4335)); // twips
            bar->RestoreFromMaximized(entry);
            EXPECT_EQ(bar->MaxState(), 0);
            EXPECT_EQ(bar->Style2(), 2);
            EXPECT_EQ(window->geometry(), QRect(123, 77, 431, 289));
        }
}

TEST_F(Caption, WindowOpenedMaximisedIsTakenOverByTheBarAndStaysSoAfterMinimising) {
    window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    window->setGeometry(50, 40, 400, 300);
    window->setWindowState(Qt::WindowMaximized);
    bar = new JSCAPTION(window.get());
    bar->ReadProperties({});
    Module1::ResizeEnabled = true;
    bar->setPath(skinPath);
    EXPECT_FALSE(window->isMaximized());
    EXPECT_EQ(bar->Style2(), 1);
    EXPECT_FALSE(Module1::ResizeEnabled);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1040));
    EXPECT_EQ(bar->RestoreRect(), QRect(750, 600, 6000, 4500));
    // Minimised and shown again, it is still maximised by the bar.
    bar->MinimizeParent();
    EXPECT_TRUE(window->isMinimized());
    EXPECT_EQ(bar->Style2(), 0);
    EXPECT_EQ(bar->MaxState(), 1);
    window->setWindowState(Qt::WindowNoState);
    EXPECT_EQ(bar->Style2(), 1);
    EXPECT_EQ(atButton(B::MaxButton), u"RES1"_s);
    EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1040));
    EXPECT_FALSE(Module1::ResizeEnabled);
    bar->RestoreFromMaximized(Entry::DoubleClick);
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
}

TEST_F(Caption, FailedWorkAreaQueryIsPrintedOnTheBarFromAGesture) {
    makeWindow();
    desktop->area.reset();
    bar->MaximizeToWorkArea(Entry::Click);
    EXPECT_EQ(bar->MaxState(), 1); // already changed, no retry
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
    const int line = QFontMetrics(bar->Font()).height();
    EXPECT_GT(ink(0, line), 20);
    EXPECT_EQ(ink(line, 2 * line), 0);
    // The next failure prints one line further down.
    bar->MaximizeToWorkArea(Entry::DoubleClick);
    EXPECT_GT(ink(line, 2 * line), 20);
    // A restore click queries too, and leaves the window as it is when that fails.
    bar->RestoreFromMaximized(Entry::Click);
    EXPECT_EQ(bar->MaxState(), 0);
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
    // A restore by double-click needs no work area.
    desktop->area = QRect(0, 0, 1920, 1040);
    bar->MaximizeToWorkArea(Entry::DoubleClick);
    desktop->area.reset();
    bar->RestoreFromMaximized(Entry::DoubleClick);
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
    EXPECT_EQ(ink(0, 30), 0);
}
