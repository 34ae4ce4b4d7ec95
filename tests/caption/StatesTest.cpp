// The caption bar's own maximise, restore and minimise, with a fake work area.
#include "support/Skins.h"

#include "base/Module1.h"
#include "base/Twips.h"

#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;
using B = JSCAPTION;
using Entry = JSCAPTION::Entry;

namespace {
// Records whether the window was moved (m) or sized (s), in order.
struct GeometryLog : QObject {
    QString steps;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Move)
            steps += u'm';
        else if (e->type() == QEvent::Resize)
            steps += u's';
        return false;
    }
};
} // namespace

class CaptionStates : public CaptionFixture {
protected:
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

TEST_F(CaptionStates, MaximiseFillsTheWorkAreaAndRestoreGivesBackTheExactRectangle) {
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
    for (double factor : {15.0, 12.0, 1440.0 / 110.0}) {
        app::Twips::setFactors(factor, factor);
        makeWindow();
        window->setGeometry(123, 77, 431, 289);
        GeometryLog log;
        window->installEventFilter(&log);
        for (Entry entry : {Entry::Click, Entry::DoubleClick}) {
            for (const Case& c : cases) {
                SCOPED_TRACE(testing::Message() << factor << " " << int(entry) << " " << c.area.x()
                                                << "," << c.area.y());
                // Sized before placed, except that a double-click maximises by placing first.
                const bool moves = c.expected.topLeft() != QPoint(123, 77);
                const QString order = !moves ? u"s"_s : entry == Entry::Click ? u"sm"_s : u"ms"_s;
                desktop->area = c.area;
                log.steps.clear();
                bar->MaximizeToWorkArea(entry);
                EXPECT_EQ(log.steps, order);
                EXPECT_EQ(bar->MaxState(), 1);
                EXPECT_EQ(bar->Style2(), 1);
                EXPECT_EQ(window->geometry(), c.expected);
                if (factor == 15.0) {
                    EXPECT_EQ(bar->RestoreRect(), QRect(1845, 1155, 6465, 4335)); // twips
                }
                log.steps.clear();
                bar->RestoreFromMaximized(entry);
                EXPECT_EQ(log.steps, moves ? u"sm"_s : u"s"_s);
                EXPECT_EQ(bar->MaxState(), 0);
                EXPECT_EQ(bar->Style2(), 2);
                EXPECT_EQ(window->geometry(), QRect(123, 77, 431, 289));
            }
        }
    }
}

TEST_F(CaptionStates, WindowOpenedMaximisedIsTakenOverByTheBarAndStaysSoAfterMinimising) {
    for (bool areaKnown : {true, false}) {
        SCOPED_TRACE(areaKnown);
        if (!areaKnown)
            desktop->area.reset();
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
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        EXPECT_EQ(ink(0, 30), 0);
        if (areaKnown) {
            EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1040));
            EXPECT_EQ(bar->RestoreRect(), QRect(750, 600, 6000, 4500));
            EXPECT_EQ(atButton(B::MaxButton), u"RES1"_s);
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
    }
}

TEST_F(CaptionStates, FailedWorkAreaQueryIsPrintedOnTheBarFromAGesture) {
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
        // A size change of the window runs the update first.
        Module1::ResizeEnabled = c.before;
        window->resize(window->width(), window->height() + 1);
        EXPECT_EQ(Module1::ResizeEnabled, c.after);
        if (c.maximised)
            bar->RestoreFromMaximized(Entry::Click);
    }
}
