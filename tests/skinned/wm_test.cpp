// The skinned windows under a real window manager (run-xvfb-wm starts Xvfb and openbox). The
// pointer is the X server's own, driven through XTEST, so the window manager sees the presses
// and takes moving and sizing over as it does for a hand on the mouse.
#include "app/FormRegistry.h"
#include "base/Module1.h"
#include "base/Twips.h"
#include "caption/JSCAPTION.h"
#include "diary/frmWrite.h"
#include "shell/Desktop.h"
#include "shell/Navigation.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"
#include "support/Skins.h"
#include "support/TempApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <cstdio>
#include <functional>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 5000) {
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

QColor onScreen(QPoint p) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, p.x(), p.y(), 1, 1)
        .toImage()
        .pixelColor(0, 0);
}

// The server's pointer, from a connection of the test's own. Each call returns once the
// server has acted on it.
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

// The real platform calls, counting the moves and sizings the window manager took.
struct WatchedDesktop : app::QtDesktop {
    int taken = 0, asked = 0;
    bool count(bool ok) { return ++asked, taken += ok, ok; }
    bool startMove(QWidget* w) override { return count(QtDesktop::startMove(w)); }
    bool startResize(QWidget* w, Qt::Edges e) override {
        return count(QtDesktop::startResize(w, e));
    }
};

} // namespace

class UnderWm : public TempApp, public QObject {
protected:
    void SetUp() override {
        TempApp::SetUp();
        app::registerForms();
        platform = new WatchedDesktop;
        app::Desktop::install(platform);
        skin::SkinCache::clear();
        // Frame pieces in one colour, each button image in one of its own.
        skin::PropertyBag bag = testskin::completeBag();
        int hue = 0;
        const std::pair<const char*, QSize> frame[] = {
            {"TOPLEFT", {10, 30}}, {"TOPMID", {10, 30}}, {"TOPRIGHT", {10, 30}},
            {"LEFTTOP", {6, 12}},  {"LEFTMID", {6, 12}}, {"RIGHTTOP", {6, 12}},
            {"RIGHTMID", {6, 12}}, {"LEFTBOT", {12, 6}}, {"RIGHTBOT", {12, 6}},
            {"BOTTOM", {12, 6}}};
        for (const auto& [key, size] : frame)
            bag.writePicture(QString::fromLatin1(key), testskin::png(size, {0x20, 0x40, 0xC0}));
        for (const char* key : {"CLOSE", "CLOSE2", "CLOSE3", "MAX", "MAX2", "MAX3", "RES1", "RES2",
                                "RES3", "MIN", "MIN2", "MIN3", "ONTOP1", "ONTOP3"})
            bag.writePicture(QString::fromLatin1(key),
                             testskin::png({20, 20}, QColor::fromHsv(hue += 24, 220, 230)));
        const std::pair<const char*, qint16> metrics[] = {
            {"XOFFSET", 12}, {"YOFFSET", 6}, {"FROMRIGHT", 6}, {"FROMTOP", 5}, {"ICONSPACE", 2}};
        for (const auto& [key, value] : metrics)
            bag.writeInteger(QString::fromLatin1(key), value);
        testskin::write(dir.filePath(u"16.jss"_s), bag);
        qApp->installEventFilter(this);

        Module1::UserName = u"alice"_s;
        form = qobject_cast<frmWrite*>(app::load(app::FormId::Write));
        app::show(form);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
        ASSERT_TRUE(waitFor([&] { return onScreen(form->geometry().center()) != Qt::black; }));
        bar = form->JSCAPTION1;
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
        // Motion the server sends before the window manager holds the pointer is lost to
        // it: the pointer moves on until the window follows.
        const bool ok = waitFor([&] { return platform->taken > before; }) && waitFor([&] {
                            pointer.moveTo(from + by / 2);
                            pointer.moveTo(from + by);
                            return waitFor(arrived, 200);
                        });
        pointer.release();
        return ok && platform->taken == platform->asked;
    }
    bool cutCorners() const {
        const QRect g = form->geometry();
        return onScreen(g.topLeft()) == Qt::black && onScreen(g.topRight()) == Qt::black &&
               onScreen(g.bottomLeft()) != Qt::black;
    }
    QColor maxButtonOnScreen() const {
        return onScreen(bar->mapToGlobal(bar->buttonRect(JSCAPTION::MaxButton).center()));
    }

    Pointer pointer;
    WatchedDesktop* platform = nullptr;
    frmWrite* form = nullptr;
    JSCAPTION* bar = nullptr;
    QPoint seen;
};

TEST_F(UnderWm, CaptionMovesTheWindowAndItsButtonsActAtOnceAfterwards) {
    EXPECT_TRUE(waitFor([&] { return cutCorners(); }));
    const QRect start = form->geometry();
    const QPoint grip = bar->mapToGlobal(
        QPoint(bar->buttonRect(JSCAPTION::MinButton).left() - 40, bar->height() / 2));
    const QPoint target = start.topLeft() + QPoint(60, 40);
    ASSERT_TRUE(dragByWm(grip, {60, 40}, [&] { return pointer.origin(form) == target; }))
        << "at " << pointer.origin(form).x() << "," << pointer.origin(form).y();
    ASSERT_TRUE(waitFor([&] { return form->pos() == target; }));
    const QRect moved = form->geometry();

    // One click maximises, with no outline and no borders.
    const QColor maxImage = maxButtonOnScreen();
    click(JSCAPTION::MaxButton);
    ASSERT_TRUE(waitFor([&] { return bar->MaxState() == 1; }, 3000))
        << "the click after a move did nothing";
    EXPECT_TRUE(waitFor([&] { return form->geometry() == *platform->workArea(form); }));
    EXPECT_TRUE(waitFor([&] { return onScreen(form->geometry().topLeft()) != Qt::black; }));
    EXPECT_FALSE(form->JSBORDER2->isVisible());
    const QColor restoreImage = maxButtonOnScreen();
    EXPECT_NE(restoreImage, maxImage);

    // Minimised and shown again, it is still maximised and shows the restore image.
    click(JSCAPTION::MinButton);
    ASSERT_TRUE(waitFor([&] { return form->isMinimized(); }));
    EXPECT_EQ(bar->Style2(), 0);
    form->showNormal();
    ASSERT_TRUE(waitFor([&] { return !form->isMinimized() && form->isVisible(); }));
    EXPECT_TRUE(waitFor([&] { return bar->Style2() == 1; }));
    EXPECT_EQ(bar->MaxState(), 1);
    EXPECT_TRUE(waitFor([&] { return maxButtonOnScreen() == restoreImage; }));

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
