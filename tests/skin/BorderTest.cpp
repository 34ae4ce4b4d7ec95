#include "base/Module1.h"
#include "skin/Dock.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"
#include "skin/clsOnTop.h"
#include "support/Fakes.h"
#include "support/Skins.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QColor kLeftTop(200, 0, 0), kLeftMid(0, 200, 0), kRightTop(0, 0, 200), kRightMid(200, 200, 0),
    kLeftBot(0, 200, 200), kRightBot(200, 0, 200), kBottom(90, 90, 90);

// Three borders on a 300 x 200 window.
class BorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        Module1::reset();
        desktop = &fake::installDesktop();
        skin::SkinCache::clear();
        bag = testskin::completeBag();
        bag.writePicture(u"LEFTTOP"_s, testskin::png(QSize(6, 20), kLeftTop));
        bag.writePicture(u"LEFTMID"_s, testskin::png(QSize(6, 4), kLeftMid));
        bag.writePicture(u"RIGHTTOP"_s, testskin::png(QSize(5, 20), kRightTop));
        bag.writePicture(u"RIGHTMID"_s, testskin::png(QSize(5, 3), kRightMid));
        bag.writePicture(u"LEFTBOT"_s, testskin::png(QSize(12, 7), kLeftBot));
        bag.writePicture(u"RIGHTBOT"_s, testskin::png(QSize(12, 7), kRightBot));
        bag.writePicture(u"BOTTOM"_s, testskin::png(QSize(3, 7), kBottom));
        skinPath = testskin::write(dir.filePath(u"t.jss"_s), bag);

        window = std::make_unique<QWidget>();
        window->setGeometry(100, 100, 300, 200);
        for (int i = 0; i < 3; ++i) {
            border[i] = new JSBORDER(window.get());
            border[i]->setBORDERTYPE(i + 1);
        }
    }
    void TearDown() override {
        window.reset();
        app::Desktop::install(nullptr);
        Module1::reset();
    }
    void skinAll(const QString& path) {
        for (JSBORDER* b : border)
            b->setPath(path);
    }
    void showWindow() {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void showSkinnedAndSizable() {
        skinAll(skinPath);
        showWindow();
        Module1::ResizeEnabled = true;
    }
    // Straight to the control, so points on and past its far bounds can be tried.
    static void send(JSBORDER* b, QEvent::Type type, QPoint local,
                     Qt::MouseButton button = Qt::NoButton) {
        const Qt::MouseButtons buttons =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent e(type, QPointF(local), QPointF(b->mapToGlobal(local)), button, buttons,
                      Qt::NoModifier);
        QApplication::sendEvent(b, &e);
    }

    QTemporaryDir dir;
    skin::PropertyBag bag;
    QString skinPath;
    fake::Desktop* desktop = nullptr;
    std::unique_ptr<QWidget> window;
    JSBORDER* border[3] = {};
};

TEST_F(BorderTest, SkinGivesThicknessAndTiledPiecesDockingGivesLength) {
    skinAll(skinPath);
    showWindow();
    EXPECT_EQ(border[0]->geometry(), QRect(0, 0, 6, 193));
    EXPECT_EQ(border[1]->geometry(), QRect(295, 0, 5, 193));
    EXPECT_EQ(border[2]->geometry(), QRect(0, 193, 300, 7));
    const QImage left = border[0]->surface().toImage();
    ASSERT_EQ(left.size(), QSize(6, 193));
    EXPECT_EQ(left.pixelColor(5, 19), kLeftTop);
    EXPECT_EQ(left.pixelColor(5, 20), kLeftMid);
    EXPECT_EQ(left.pixelColor(0, 192), kLeftMid);
    EXPECT_EQ(border[1]->surface().toImage().pixelColor(4, 192), kRightMid);
    const QImage bottom = border[2]->surface().toImage();
    ASSERT_EQ(bottom.size(), QSize(300, 7));
    EXPECT_EQ(bottom.pixelColor(0, 0), kLeftBot);
    EXPECT_EQ(bottom.pixelColor(11, 6), kLeftBot);
    EXPECT_EQ(bottom.pixelColor(12, 3), kBottom);
    EXPECT_EQ(bottom.pixelColor(287, 3), kBottom);
    EXPECT_EQ(bottom.pixelColor(288, 0), kRightBot);
    EXPECT_EQ(bottom.pixelColor(299, 6), kRightBot);
    // No type: only the background, size kept.
    auto* none = new JSBORDER(window.get());
    none->setGeometry(50, 50, 9, 9);
    none->setPath(skinPath);
    EXPECT_EQ(none->size(), QSize(9, 9));
    EXPECT_EQ(none->surface().toImage().pixelColor(4, 4), JSBORDER::designColour());

    window->resize(400, 250);
    EXPECT_EQ(border[1]->geometry(), QRect(395, 0, 5, 243));
    EXPECT_EQ(border[2]->geometry(), QRect(0, 243, 400, 7));
    border[2]->hide();
    EXPECT_EQ(border[0]->height(), 250);

    // Missing pieces: zero thickness.
    skin::PropertyBag partial;
    for (const auto& e : bag.entries())
        if (e.kind == skin::Kind::Picture && e.key != u"LEFTTOP"_s && e.key != u"BOTTOM"_s)
            partial.writePicture(e.key, e.picture);
    border[2]->show();
    skinAll(testskin::write(dir.filePath(u"m.jss"_s), partial));
    EXPECT_EQ(border[0]->width(), 0);
    EXPECT_EQ(border[1]->width(), 5);
    EXPECT_EQ(border[2]->height(), 0);
}

TEST_F(BorderTest, PropertiesRepaintReportAndPersist) {
    showWindow();
    JSBORDER* b = border[0];
    QSignalSpy changed(b, &JSBORDER::PropertyChanged);
    const int before = b->skinPaints();
    b->setBORDERTYPE(1);
    EXPECT_EQ(b->skinPaints(), before);
    b->setPath(skinPath);
    EXPECT_EQ(b->skinPaints(), before + 1);
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed[0][0].toString(), u"BORDERTYPE"_s);
    EXPECT_EQ(changed[1][0].toString(), u"Path"_s);

    QApplication::processEvents();
    const int settled = b->skinPaints();
    EXPECT_FALSE(b->REDRAW().isValid());
    EXPECT_EQ(b->skinPaints(), settled + 1);
    b->repaint(); // unchanged: only copies what was drawn
    EXPECT_EQ(b->skinPaints(), settled + 1);

    // Stored settings: exact keys, defaults left out, loading neither docks nor paints.
    EXPECT_TRUE(JSBORDER().WriteProperties().isEmpty());
    EXPECT_EQ(border[2]->WriteProperties(), (QVariantMap{{u"BORDERTYPE"_s, 3}}));
    EXPECT_EQ(b->WriteProperties(), (QVariantMap{{u"BORDERTYPE"_s, 1}, {u"Path"_s, skinPath}}));

    auto* loaded = new JSBORDER(window.get());
    loaded->ReadProperties({{u"BORDERTYPE"_s, 2}, {u"Path"_s, skinPath}});
    EXPECT_EQ(loaded->BORDERTYPE(), 2);
    EXPECT_EQ(loaded->Path(), skinPath);
    EXPECT_EQ(loaded->skinPaints(), 0);
    EXPECT_EQ(skin::align(loaded), skin::AlignNone);
    loaded->ReadProperties({});
    EXPECT_EQ(loaded->BORDERTYPE(), 0);
    EXPECT_TRUE(loaded->Path().isEmpty());

    EXPECT_FALSE(border[0]->accessibleName().isEmpty());
    EXPECT_NE(border[0]->accessibleName(), border[2]->accessibleName());
}

TEST_F(BorderTest, ZonesCursorsAndHitTestCodes) {
    showSkinnedAndSizable();
    auto* none = new JSBORDER(window.get());
    none->setGeometry(100, 100, 6, 50);
    none->show();
    const int H = border[0]->height(); // 193
    const int W = border[2]->width();  // 300
    const std::tuple<JSBORDER*, QPoint, int, Qt::CursorShape, int> cases[] = {
        {border[0], {3, H - 11}, 1, Qt::SizeHorCursor, 10},
        {border[0], {3, H - 10}, 0, Qt::SizeBDiagCursor, 16},
        {border[0], {3, H}, 0, Qt::SizeBDiagCursor, 16},
        {border[0], {3, H + 1}, 1, Qt::SizeHorCursor, 10},
        {border[1], {2, H - 11}, 1, Qt::SizeHorCursor, 11},
        {border[1], {2, H - 10}, 2, Qt::SizeFDiagCursor, 17},
        {border[1], {2, H}, 2, Qt::SizeFDiagCursor, 17},
        {border[2], {0, 3}, 0, Qt::SizeBDiagCursor, 16},
        {border[2], {10, 3}, 0, Qt::SizeBDiagCursor, 16},
        {border[2], {11, 3}, 1, Qt::SizeVerCursor, 15},
        {border[2], {W - 11, 3}, 1, Qt::SizeVerCursor, 15},
        {border[2], {W - 10, 3}, 2, Qt::SizeFDiagCursor, 17},
        {border[2], {W, 3}, 2, Qt::SizeFDiagCursor, 17},
        {border[2], {-1, 3}, 1, Qt::SizeVerCursor, 15},
        {none, {3, 45}, 1, Qt::SizeHorCursor, 0},
    };
    for (const auto& [b, at, zone, cursor, code] : cases) {
        SCOPED_TRACE(testing::Message() << b->BORDERTYPE() << " at " << at.x() << "," << at.y());
        send(b, QEvent::MouseMove, at);
        EXPECT_EQ(b->zone(), zone);
        EXPECT_EQ(b->cursor().shape(), cursor);
        EXPECT_EQ(b->hitTestCode(), code);
        desktop->resizes.clear();
        send(b, QEvent::MouseButtonPress, at, Qt::RightButton); // any button
        send(b, QEvent::MouseButtonRelease, at, Qt::RightButton);
        ASSERT_EQ(desktop->resizes.size(), code ? 1u : 0u);
        if (code) {
            EXPECT_EQ(desktop->resizes[0], std::make_pair(window.get(), JSBORDER::edgesFor(code)));
        }
    }
    // A narrow bottom border: a point in both end zones is the lower-left corner.
    JSBORDER narrow;
    narrow.setBORDERTYPE(3);
    narrow.resize(15, 7);
    send(&narrow, QEvent::MouseMove, {20, 2});
    ASSERT_EQ(narrow.zone(), 1);
    send(&narrow, QEvent::MouseMove, {8, 2});
    EXPECT_EQ(narrow.zone(), 0);
}

TEST_F(BorderTest, PressUsesTheLastZoneAndNothingWhileSizingIsOff) {
    showSkinnedAndSizable();
    // Real clicks with no move first.
    QTest::mouseClick(border[0], Qt::LeftButton, {}, QPoint(3, 30));
    QTest::mouseClick(border[1], Qt::LeftButton, {}, QPoint(2, 30));
    QTest::mouseClick(border[2], Qt::LeftButton, {}, QPoint(150, 3));
    ASSERT_EQ(desktop->resizes.size(), 2u); // the right border's zone 0 starts nothing
    EXPECT_EQ(desktop->resizes[0].second, Qt::BottomEdge | Qt::LeftEdge);
    EXPECT_EQ(desktop->resizes[1].second, Qt::BottomEdge | Qt::LeftEdge);

    desktop->resizes.clear();
    QTest::mouseMove(border[2], QPoint(295, 3));
    QTest::mouseMove(border[0], QPoint(3, 3));
    send(border[2], QEvent::MouseButtonPress, {150, 3}, Qt::LeftButton);
    ASSERT_EQ(desktop->resizes.size(), 1u);
    EXPECT_EQ(desktop->resizes[0].second, Qt::BottomEdge | Qt::RightEdge);

    // While sizing is off: no tracking, no sizing.
    desktop->resizes.clear();
    Module1::ResizeEnabled = false;
    send(border[2], QEvent::MouseMove, {150, 3});
    EXPECT_EQ(border[2]->zone(), 2);
    EXPECT_EQ(border[2]->cursor().shape(), Qt::SizeFDiagCursor);
    send(border[2], QEvent::MouseButtonPress, {150, 3}, Qt::LeftButton);
    send(border[2], QEvent::MouseButtonRelease, {150, 3}, Qt::LeftButton);
    QTest::mouseClick(border[0], Qt::LeftButton, {}, QPoint(3, 190));
    EXPECT_TRUE(desktop->resizes.empty());
    EXPECT_EQ(window->geometry(), QRect(100, 100, 300, 200));
}

TEST_F(BorderTest, SizesTheWindowByHandWhenThePlatformRefuses) {
    showSkinnedAndSizable();
    desktop->acceptResize = false;
    window->setMinimumSize(120, 80);
    const QRect start = window->geometry();

    send(border[2], QEvent::MouseMove, {295, 3}); // lower-right corner
    send(border[2], QEvent::MouseButtonPress, {295, 3}, Qt::LeftButton);
    send(border[2], QEvent::MouseMove, {315, 33}, Qt::LeftButton);
    EXPECT_EQ(border[2]->zone(), 2); // dragging does not re-track the zone
    send(border[2], QEvent::MouseButtonRelease, {315, 33}, Qt::LeftButton);
    EXPECT_EQ(window->geometry(), QRect(start.topLeft(), QSize(320, 230)));
    ASSERT_EQ(desktop->resizes.size(), 1u); // the window system was asked first

    // The left edge moves, the right edge stays; the minimum size holds.
    const QRect g = window->geometry();
    send(border[0], QEvent::MouseMove, {3, 30});
    send(border[0], QEvent::MouseButtonPress, {3, 30}, Qt::LeftButton);
    QPoint far = border[0]->mapFromGlobal(border[0]->mapToGlobal(QPoint(3, 30)) + QPoint(500, 0));
    send(border[0], QEvent::MouseMove, far, Qt::LeftButton);
    send(border[0], QEvent::MouseButtonRelease, far, Qt::LeftButton);
    EXPECT_EQ(window->geometry().right(), g.right());
    EXPECT_EQ(window->width(), 120);
    EXPECT_EQ(window->height(), g.height());
    send(border[0], QEvent::MouseMove, {3, 40}); // released: only tracks
    EXPECT_EQ(window->width(), 120);
}

TEST(clsOnTop, GoesThroughTheDesktopAndNeitherMovesNorResizes) {
    auto& fakeDesktop = fake::installDesktop();
    QWidget w;
    clsOnTop top;
    top.MakeTopMost(&w);
    top.MakeNormal(new QWidget(&w));
    top.MakeTopMost(nullptr);
    ASSERT_EQ(fakeDesktop.topMost.size(), 2u);
    EXPECT_EQ(fakeDesktop.topMost[0], std::make_pair(&w, true));
    EXPECT_EQ(fakeDesktop.topMost[1], std::make_pair(&w, false));

    app::Desktop::install(nullptr);
    w.setGeometry(120, 130, 320, 240);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QRect g = w.geometry();
    for (bool on : {true, true, false, false}) {
        on ? top.MakeTopMost(&w) : top.MakeNormal(&w);
        EXPECT_EQ(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint), on);
        EXPECT_EQ(w.geometry(), g);
        EXPECT_TRUE(w.isVisible());
    }
}

} // namespace
