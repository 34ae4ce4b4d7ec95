// The caption bar's own maximise, restore and minimise, with a fake work area.
#include "CaptionSkin.h"

#include "app/Module1.h"
#include "app/Twips.h"

#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;
using B = JSCAPTION;
using Entry = JSCAPTION::Entry;

class CaptionStates : public CaptionFixture {
protected:
    // Pixels of the bar's top-left corner that are not the left end piece: printed text.
    int inkInCorner() const {
        const QImage img = bar->surface().toImage();
        int ink = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 10; ++x)
                ink += capskin::keyOf(img.pixelColor(x, y)) != u"TOPLEFT"_s;
        return ink;
    }
    int inkInRows(int top, int bottom) const {
        const QImage img = bar->surface().toImage();
        const QImage clean = reference.toImage();
        int ink = 0;
        for (int y = top; y < bottom && y < img.height(); ++y)
            for (int x = 0; x < 150; ++x)
                ink += img.pixel(x, y) != clean.pixel(x, y);
        return ink;
    }
    QPixmap reference;
};

// Work areas as left, top, right, bottom; where the window ends up, in pixels.
TEST_F(CaptionStates, WorkAreaPlacementFollowsWhereTheTaskbarLeavesRoom) {
    struct Case {
        int L, T, R, B;
        QRect expected;
        QRect twips; // Left, Top, Width, Height after maximising
    };
    const Case cases[] = {
        {0, 0, 1024, 738, {0, 0, 1024, 738}, {0, 0, 15360, 11070}},
        {60, 0, 1024, 768, {60, 0, 964, 768}, {900, 0, 14460, 11520}},
        {0, 30, 1024, 768, {0, 30, 1024, 738}, {0, 450, 15360, 11070}},
        // Room at the left and at the top: sized where it stands.
        {60, 30, 1024, 768, {50, 40, 964, 738}, {750, 600, 14460, 11070}},
    };
    makeWindow();
    for (Entry entry : {Entry::Click, Entry::DoubleClick}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.L << "," << c.T << "," << c.R << "," << c.B);
            desktop->area = QRect(QPoint(c.L, c.T), QPoint(c.R - 1, c.B - 1));
            bar->MaximizeToWorkArea(entry);
            EXPECT_EQ(window->geometry(), c.expected);
            EXPECT_EQ(app::Twips::fromPxX(window->x()), c.twips.x());
            EXPECT_EQ(app::Twips::fromPxY(window->y()), c.twips.y());
            EXPECT_EQ(app::Twips::fromPxX(window->width()), c.twips.width());
            EXPECT_EQ(app::Twips::fromPxY(window->height()), c.twips.height());
            EXPECT_EQ(bar->RestoreRect(), QRect(750, 600, 6000, 4500));
            bar->RestoreFromMaximized(entry);
            EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
        }
    }
}

TEST_F(CaptionStates, MaximiseAndRestoreRoundTripKeepsTheExactRectangle) {
    for (double factor : {15.0, 12.0, 1440.0 / 110.0}) {
        SCOPED_TRACE(factor);
        app::Twips::setFactors(factor, factor);
        makeWindow();
        window->setGeometry(123, 77, 431, 289);
        for (Entry entry : {Entry::Click, Entry::DoubleClick}) {
            bar->MaximizeToWorkArea(entry);
            EXPECT_EQ(bar->MaxState(), 1);
            EXPECT_EQ(bar->Style2(), 1);
            EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1040));
            bar->RestoreFromMaximized(entry);
            EXPECT_EQ(bar->MaxState(), 0);
            EXPECT_EQ(bar->Style2(), 2);
            EXPECT_EQ(window->geometry(), QRect(123, 77, 431, 289));
        }
    }
}

TEST_F(CaptionStates, MinimisingAMaximisedWindowKeepsItMaximisedWhenShownAgain) {
    makeWindow();
    bar->MaximizeToWorkArea(Entry::Click);
    ASSERT_EQ(atButton(B::MaxButton), u"RES1"_s);
    bar->MinimizeParent();
    EXPECT_TRUE(window->isMinimized());
    EXPECT_EQ(bar->Style2(), 0);
    EXPECT_EQ(bar->MaxState(), 1);
    EXPECT_EQ(bar->RestoreRect(), QRect(750, 600, 6000, 4500));

    window->setWindowState(Qt::WindowNoState);
    EXPECT_EQ(bar->Style2(), 1);
    EXPECT_EQ(atButton(B::MaxButton), u"RES1"_s);
    EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1040));
    EXPECT_FALSE(Module1::ResizeEnabled);
}

TEST_F(CaptionStates, WindowOpenedMaximisedIsTakenOverByTheBar) {
    window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    window->setGeometry(50, 40, 400, 300);
    window->setWindowState(Qt::WindowMaximized);
    bar = new JSCAPTION(window.get());
    bar->ReadProperties({});
    Module1::ResizeEnabled = true;
    bar->setPath(skinPath);
    EXPECT_FALSE(window->isMaximized());
    EXPECT_EQ(bar->MaxState(), 1);
    EXPECT_EQ(bar->Style2(), 1);
    EXPECT_FALSE(Module1::ResizeEnabled);
    EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1040));
    EXPECT_EQ(bar->RestoreRect(), QRect(750, 600, 6000, 4500));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(atButton(B::MaxButton), u"RES1"_s);
    bar->RestoreFromMaximized(Entry::DoubleClick);
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
}

TEST_F(CaptionStates, FailedWorkAreaQueryIsPrintedOnTheBarFromAGesture) {
    makeWindow();
    reference = bar->surface();
    desktop->area.reset();
    bar->MaximizeToWorkArea(Entry::Click);
    EXPECT_EQ(bar->MaxState(), 1); // already changed, no retry
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
    const int lineHeight = QFontMetrics(bar->Font()).height();
    EXPECT_GT(inkInRows(0, lineHeight), 20);
    EXPECT_EQ(inkInRows(lineHeight, 2 * lineHeight), 0);
    // The next failure prints one line further down.
    bar->MaximizeToWorkArea(Entry::DoubleClick);
    EXPECT_GT(inkInRows(lineHeight, 2 * lineHeight), 20);

    // A restore click queries too, and leaves the window as it is when that fails.
    bar->RestoreFromMaximized(Entry::Click);
    EXPECT_EQ(bar->MaxState(), 0);
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
}

TEST_F(CaptionStates, RestoreByDoubleClickNeedsNoWorkArea) {
    makeWindow();
    bar->MaximizeToWorkArea(Entry::DoubleClick);
    desktop->area.reset();
    bar->RestoreFromMaximized(Entry::DoubleClick);
    EXPECT_EQ(window->geometry(), QRect(50, 40, 400, 300));
    EXPECT_EQ(inkInCorner(), 0);
}

TEST_F(CaptionStates, FailedQueryAtStartUpIsSilent) {
    desktop->area.reset();
    window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    window->setGeometry(50, 40, 400, 300);
    window->setWindowState(Qt::WindowMaximized);
    bar = new JSCAPTION(window.get());
    bar->ReadProperties({});
    bar->setPath(skinPath);
    EXPECT_EQ(bar->MaxState(), 1);
    EXPECT_EQ(bar->Style2(), 1);
    EXPECT_FALSE(window->isMaximized());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(inkInCorner(), 0);
}

TEST_F(CaptionStates, ResizeFlagFollowsTheStateAndStyleOfTheBarThatResizedLast) {
    struct Case {
        bool maximised;
        int style;
        bool before, after;
    };
    const Case cases[] = {
        {false, 1, false, true}, {false, 1, true, true}, {false, 2, false, false},
        {false, 0, true, true},  {true, 1, true, false}, {true, 4, true, false},
    };
    makeWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.maximised << " " << c.style << " " << c.before);
        if (c.maximised)
            bar->MaximizeToWorkArea(Entry::Click);
        bar->setStyle(c.style);
        Module1::ResizeEnabled = c.before;
        bar->UpdateResizeEnabled();
        EXPECT_EQ(Module1::ResizeEnabled, c.after);
        // A size change of the window runs the same update first.
        Module1::ResizeEnabled = c.before;
        window->resize(window->width(), window->height() + 1);
        EXPECT_EQ(Module1::ResizeEnabled, c.after);
        if (c.maximised)
            bar->RestoreFromMaximized(Entry::Click);
    }
}

namespace {
// Records the order in which the window is moved and sized.
struct GeometryLog : QObject {
    QStringList steps;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Move)
            steps << u"move"_s;
        else if (e->type() == QEvent::Resize)
            steps << u"size"_s;
        return false;
    }
};
} // namespace

TEST_F(CaptionStates, ButtonSizesBeforePlacingWhileDoubleClickPlacesFirst) {
    makeWindow();
    desktop->area = QRect(60, 0, 964, 768);
    GeometryLog log;
    window->installEventFilter(&log);
    bar->MaximizeToWorkArea(Entry::Click);
    EXPECT_EQ(log.steps, (QStringList{u"size"_s, u"move"_s}));
    log.steps.clear();
    bar->RestoreFromMaximized(Entry::Click);
    EXPECT_EQ(log.steps, (QStringList{u"size"_s, u"move"_s}));
    log.steps.clear();
    bar->MaximizeToWorkArea(Entry::DoubleClick);
    EXPECT_EQ(log.steps, (QStringList{u"move"_s, u"size"_s}));
}
