// The skinned writing window on a real X server. Bare (run-xvfb), the window system refuses to
// move or size it, so the caption bar and the borders do it by hand. Under a window manager
// (run-xvfb-wm, DV_UNDER_WM), the X server's own pointer is driven through XTEST, so the
// manager sees the presses and takes moving and sizing over as for a hand on the mouse.
#include "app/FormRegistry.h"
#include "base/Twips.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"
#include "support/Support.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScreen>
#include <cstdio>
#ifdef DV_UNDER_WM
#include <xcb/xcb.h>
#include <xcb/xtest.h>
#endif

namespace {

// Under load a state may come late: the bound only ends a wait that a fault made endless.
constexpr int kPatience = 30000;
bool waitFor(const std::function<bool()>& done, int ms = kPatience) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

// What the X server shows at a point of the screen; the bare root is black.
QColor onScreen(QPoint p) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, p.x(), p.y(), 1, 1)
        .toImage()
        .pixelColor(0, 0);
}
bool isRoot(QPoint p) {
    return onScreen(p) == QColor(Qt::black);
}

// The real platform calls, counting the moves and sizings the window system took.
struct WatchedDesktop : app::QtDesktop {
    int taken = 0, asked = 0;
    bool count(bool ok) { return ++asked, taken += ok, ok; }
    bool startMove(QWidget* w) override { return count(QtDesktop::startMove(w)); }
    bool startResize(QWidget* w, Qt::Edges e) override {
        return count(QtDesktop::startResize(w, e));
    }
};

#ifdef DV_UNDER_WM
// The server's pointer, from a connection of the test's own; each call returns once done.
class Pointer {
public:
    Pointer() : c(xcb_connect(nullptr, nullptr)) {
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~Pointer() { xcb_disconnect(c); }
    void moveTo(QPoint p) { fake(XCB_MOTION_NOTIFY, 0, p); }
    void press() { fake(XCB_BUTTON_PRESS, 1); }
    void release() { fake(XCB_BUTTON_RELEASE, 1); }
    // Where the server has a window now; the program may hear of a move only at its end.
    QPoint origin(const QWidget* w) {
        auto* r = xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, xcb_window_t(w->winId()), root, 0, 0), nullptr);
        const QPoint at = r ? QPoint(r->dst_x, r->dst_y) : QPoint();
        free(r);
        return at;
    }

private:
    void fake(uint8_t type, uint8_t detail, QPoint p = {}) {
        xcb_test_fake_input(c, type, detail, XCB_CURRENT_TIME,
                            type == XCB_MOTION_NOTIFY ? root : XCB_NONE, int16_t(p.x()),
                            int16_t(p.y()), 0);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    xcb_connection_t* c;
    xcb_window_t root;
};
#endif

} // namespace

class OnX : public TempApp, public QObject {
protected:
    void SetUp() override {
        TempApp::SetUp();
        app::registerForms();
        platform = new WatchedDesktop;
        app::Desktop::install(platform);
        skin::SkinCache::clear();
        // The caption's pieces each in a colour of its own, the borders 6 px wide.
        skin::PropertyBag bag = capskin::bag(testskin::completeBag());
        testskin::borders(bag, 6, {0x20, 0x40, 0xC0});
        testskin::write(dir.filePath(u"16.jss"_s), bag);
        qApp->installEventFilter(this);
#ifndef DV_UNDER_WM
        // The pointer out of the way: a window moved over it would get crossing events.
        QCursor::setPos(0, 0);
#endif

        Module1::UserName = u"alice"_s;
        form = qobject_cast<frmWrite*>(app::load(app::FormId::Write));
        app::show(form);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form, kPatience));
        ASSERT_TRUE(waitFor([&] { return !isRoot(form->geometry().center()); }));
        bar = form->JSCAPTION1;
        grip = QPoint(bar->buttonRect(JSCAPTION::MinButton).left() - 40, bar->height() / 2);
    }
    void TearDown() override {
        qApp->removeEventFilter(this);
        TempApp::TearDown();
    }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::MouseMove)
            seen = static_cast<QMouseEvent*>(e)->globalPosition().toPoint();
        return false;
    }
    bool cutCorners() const {
        const QRect g = form->geometry();
        return isRoot(g.topLeft()) && isRoot(g.topRight()) && !isRoot(g.bottomLeft()) &&
               !isRoot(g.bottomRight());
    }

    WatchedDesktop* platform = nullptr;
    frmWrite* form = nullptr;
    JSCAPTION* bar = nullptr;
    QPoint grip, seen;
};

#ifndef DV_UNDER_WM
// Press, move in two steps and release, as a hand does; the widget may move under the pointer.
static void drag(QWidget* w, QPoint from, QPoint by, const QPoint& seen) {
    const QPoint start = w->mapToGlobal(from);
    QCursor::setPos(start - QPoint(1, 0));
    QCursor::setPos(start);
    ASSERT_TRUE(waitFor([&] { return seen == start; })) << "pointer not seen at the start";
    QTest::mousePress(w, Qt::LeftButton, {}, from);
    QTest::mouseMove(w, w->mapFromGlobal(start + by / 2));
    QTest::mouseMove(w, w->mapFromGlobal(start + by));
    QTest::mouseRelease(w, Qt::LeftButton, {}, w->mapFromGlobal(start + by));
}

TEST_F(OnX, WithoutAWindowManagerTheCaptionMovesAndTheBordersSizeByHand) {
    EXPECT_TRUE(waitFor([&] { return cutCorners(); }));
    const QRect before = form->geometry();
    drag(bar, grip, QPoint(60, 40), seen);
    EXPECT_EQ(platform->asked, 1);
    EXPECT_EQ(platform->taken, 0);
    EXPECT_EQ(form->pos(), before.topLeft() + QPoint(60, 40));
    EXPECT_TRUE(waitFor([&] { return isRoot(before.topLeft() + QPoint(20, 20)); }));

    const QRect moved = form->geometry();
    JSBORDER* right = form->JSBORDER2;
    ASSERT_TRUE(Module1::ResizeEnabled);
    drag(right, right->rect().center(), QPoint(70, 0), seen);
    EXPECT_EQ(platform->asked, 2);
    EXPECT_EQ(platform->taken, 0);
    EXPECT_EQ(form->geometry(), moved.adjusted(0, 0, 70, 0));
    EXPECT_TRUE(waitFor([&] { return !isRoot({moved.right() + 40, moved.center().y()}); }));
}
#else
class UnderWm : public OnX {
protected:
    // The pointer over a point of the screen, once the program has seen it there.
    void hover(QPoint p) {
        EXPECT_TRUE(waitFor([&] {
            pointer.moveTo(p + QPoint(1, 1));
            pointer.moveTo(p);
            return waitFor([&] { return seen == p; }, 200);
        })) << "pointer not seen at "
            << p.x() << "," << p.y();
    }
    void click(JSCAPTION::Button b) {
        hover(bar->mapToGlobal(bar->buttonRect(b).center()));
        pointer.press();
        pointer.release();
    }
    // Pressed at `from`, the window manager takes the drag over; the pointer goes `by` and
    // the button stays down until `arrived`, or until the time is up.
    bool dragByWm(QPoint from, QPoint by, const std::function<bool()>& arrived) {
        hover(from);
        const int before = platform->taken;
        pointer.press();
        // Motion sent before the window manager holds the pointer is lost to it: the pointer
        // moves on until the window follows.
        const bool ok = waitFor([&] { return platform->taken > before; }) && waitFor([&] {
                            pointer.moveTo(from + by / 2);
                            pointer.moveTo(from + by);
                            return waitFor(arrived, 200);
                        });
        pointer.release();
        return ok && platform->taken == platform->asked;
    }
    bool maxButtonShows(const char* piece) const {
        const QPoint at = bar->mapToGlobal(bar->buttonRect(JSCAPTION::MaxButton).center());
        return capskin::keyOf(onScreen(at)) == QLatin1String(piece);
    }

    Pointer pointer;
};

TEST_F(UnderWm, CaptionMovesTheWindowAndItsButtonsActAtOnceAfterwards) {
    EXPECT_TRUE(waitFor([&] { return cutCorners(); }));
    const QPoint target = form->pos() + QPoint(60, 40);
    ASSERT_TRUE(
        dragByWm(bar->mapToGlobal(grip), {60, 40}, [&] { return pointer.origin(form) == target; }))
        << "at " << pointer.origin(form).x() << "," << pointer.origin(form).y();
    ASSERT_TRUE(waitFor([&] { return form->pos() == target; }));
    const QRect moved = form->geometry();

    // One click maximises, with no outline and no borders.
    click(JSCAPTION::MaxButton);
    ASSERT_TRUE(waitFor([&] { return bar->MaxState() == 1; }))
        << "the click after a move did nothing";
    EXPECT_TRUE(waitFor([&] { return form->geometry() == *platform->workArea(form); }));
    EXPECT_TRUE(waitFor([&] { return !isRoot(form->geometry().topLeft()); }));
    EXPECT_FALSE(form->JSBORDER2->isVisible());
    EXPECT_TRUE(waitFor([&] { return maxButtonShows("RES1"); }));

    // Minimised and shown again, it is still maximised and shows the restore image. Each step
    // waits until the window manager has acted: a step that overtook it would be undone.
    click(JSCAPTION::MinButton);
    ASSERT_TRUE(waitFor([&] { return form->isMinimized() && isRoot(form->geometry().center()); }));
    EXPECT_EQ(bar->Style2(), 0);
    form->showNormal();
    ASSERT_TRUE(waitFor([&] { return !form->isMinimized() && form->isActiveWindow(); }));
    EXPECT_TRUE(waitFor([&] { return bar->Style2() == 1; }));
    EXPECT_EQ(bar->MaxState(), 1);
    EXPECT_TRUE(waitFor([&] { return maxButtonShows("RES1"); }));

    // Restoring puts the moved window back, outline and all.
    click(JSCAPTION::MaxButton);
    EXPECT_TRUE(waitFor([&] { return form->geometry() == moved; }));
    EXPECT_TRUE(waitFor([&] { return cutCorners(); }));
}

TEST_F(UnderWm, BordersHandSizingToTheWindowManagerDownToTheMinimum) {
    ASSERT_TRUE(Module1::ResizeEnabled);
    const QRect start = form->geometry();
    JSBORDER* right = form->JSBORDER2;
    EXPECT_TRUE(dragByWm(right->mapToGlobal(right->rect().center()), {50, 0}, [&] {
        return form->width() == start.width() + 50;
    })) << form->width();
    EXPECT_EQ(form->geometry().topLeft(), start.topLeft());

    // The lower-right corner pulled past the top-left stops at the smallest size.
    const QSize smallest(app::Twips::toPxX(diary::SkinnedForm::kMinWidth),
                         app::Twips::toPxY(diary::SkinnedForm::kMinHeight));
    JSBORDER* bottom = form->JSBORDER3;
    const QPoint corner = bottom->mapToGlobal(QPoint(bottom->width() - 3, bottom->height() / 2));
    EXPECT_TRUE(
        dragByWm(corner, start.topLeft() - corner, [&] { return form->size() == smallest; }))
        << form->width() << "x" << form->height();
    EXPECT_EQ(form->geometry().topLeft(), start.topLeft());
}
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("no X display: skipped");
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb"));
    QApplication qapp(argc, argv);
    qapp.setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
