// The program's windows on a real X server that has no window manager (run-xvfb starts one):
// the window system refuses to move or size them, so the caption bar and the borders do it
// by hand; what the screen shows is read back from the server.
#include "accounts/frmLogin.h"
#include "app/FormRegistry.h"
#include "base/Module1.h"
#include "caption/JSCAPTION.h"
#include "diary/frmLook.h"
#include "diary/frmWrite.h"
#include "shell/Locale.h"
#include "shell/Navigation.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"
#include "support/TempApp.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cstdio>
#include <functional>

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(10);
    }
    return true;
}

// What the X server shows at a point of the screen.
QColor onScreen(QPoint p) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, p.x(), p.y(), 1, 1)
        .toImage()
        .pixelColor(0, 0);
}

bool isRoot(QColor c) {
    return c == QColor(Qt::black);
}

// Shown, exposed, and painted on the server.
bool settled(QWidget* w) {
    if (!QTest::qWaitForWindowExposed(w))
        return false;
    QTest::qWait(150);
    return waitFor([w] { return !isRoot(onScreen(w->geometry().center())); });
}

// The real platform calls, counting the ones the window system turned down.
class WatchedDesktop : public app::QtDesktop {
public:
    int refusedMoves = 0;
    int refusedResizes = 0;
    bool startMove(QWidget* w) override {
        const bool taken = QtDesktop::startMove(w);
        refusedMoves += !taken;
        return taken;
    }
    bool startResize(QWidget* w, Qt::Edges edges) override {
        const bool taken = QtDesktop::startResize(w, edges);
        refusedResizes += !taken;
        return taken;
    }
};

} // namespace

class OnXvfb : public TempApp {
protected:
    void SetUp() override {
        TempApp::SetUp();
        app::registerForms();
        // The real platform calls: this is what the test is about.
        platform = new WatchedDesktop;
        app::Desktop::install(platform);
        skin::SkinCache::clear();
        ASSERT_TRUE(QFile::copy(QStringLiteral(DV_APP_DIR "/16.jss"), dir.filePath(u"16.jss"_s)));
        addUser(u"alice"_s, u"secret"_s);
        // The server's own pointer out of the way: a window moved or sized over it would get
        // crossing events with no button held, which end a drag the test is making.
        QCursor::setPos(0, 0);
    }
    void TearDown() override {
        TempApp::TearDown();
        frmLogin::resetRun();
    }

    WatchedDesktop* platform = nullptr;

    // Press, move in two steps and release, as a hand on the mouse does. The pointer moves
    // on the screen while the widget under it may move too.
    static void drag(QWidget* w, QPoint from, QPoint by) {
        const QPoint start = w->mapToGlobal(from);
        QTest::mouseMove(w, from - QPoint(1, 0));
        QTest::mouseMove(w, from);
        QTest::mousePress(w, Qt::LeftButton, {}, from);
        QTest::mouseMove(w, w->mapFromGlobal(start + by / 2));
        QTest::mouseMove(w, w->mapFromGlobal(start + by));
        QTest::mouseRelease(w, Qt::LeftButton, {}, w->mapFromGlobal(start + by));
    }
};

TEST_F(OnXvfb, LogInWriteBrowseThenMoveSizeAndCloseByHand) {
    QWidget* login = app::load(app::FormId::Login);
    app::show(login);
    ASSERT_TRUE(settled(login));
    QTest::keyClicks(login->findChild<QLineEdit*>(u"txtUserName"_s), u"alice"_s);
    QTest::keyClicks(login->findChild<QLineEdit*>(u"txtPassword"_s), u"secret"_s);
    QTest::mouseClick(login->findChild<QPushButton*>(u"cmdOK"_s), Qt::LeftButton);

    auto* write = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
    ASSERT_NE(write, nullptr);
    ASSERT_TRUE(settled(write));
    // The cut top corners are cut on the screen too; the bottom ones are not.
    const QRect w = write->geometry();
    EXPECT_TRUE(isRoot(onScreen(w.topLeft())));
    EXPECT_TRUE(isRoot(onScreen(w.topRight())));
    EXPECT_FALSE(isRoot(onScreen(w.topLeft() + QPoint(3, 3))));
    EXPECT_FALSE(isRoot(onScreen(w.bottomLeft())));
    EXPECT_FALSE(isRoot(onScreen(w.bottomRight())));

    QTest::keyClicks(write->B_Content_text, u"on a bare X server"_s);
    QTest::mouseClick(write->saveComm, Qt::LeftButton);
    auto* look = qobject_cast<frmLook*>(app::loaded(app::FormId::Look));
    ASSERT_NE(look, nullptr);
    ASSERT_TRUE(settled(look));
    QTest::mouseClick(look->queryComm, Qt::LeftButton);
    EXPECT_EQ(look->txt_content->toPlainText(), u"on a bare X server"_s);

    // Moving by the caption bar: the old top-left corner area shows the screen again.
    const QRect before = look->geometry();
    JSCAPTION* bar = look->JSCAPTION1;
    drag(bar, QPoint(bar->width() / 2, bar->height() / 2), QPoint(60, 40));
    EXPECT_EQ(platform->refusedMoves, 1);
    EXPECT_EQ(look->pos(), before.topLeft() + QPoint(60, 40));
    EXPECT_TRUE(waitFor([&] { return isRoot(onScreen(before.topLeft() + QPoint(20, 20))); }));
    EXPECT_TRUE(waitFor([&] { return !isRoot(onScreen(before.topLeft() + QPoint(80, 60))); }));

    // Sizing by the right border: the window reaches further right on the screen.
    const QRect moved = look->geometry();
    JSBORDER* right = look->JSBORDER2;
    ASSERT_TRUE(Module1::ResizeEnabled);
    drag(right, QPoint(right->width() / 2, right->height() / 2), QPoint(70, 0));
    EXPECT_EQ(platform->refusedResizes, 1);
    EXPECT_EQ(look->geometry(), moved.adjusted(0, 0, 70, 0));
    const QPoint beyond(moved.right() + 40, moved.center().y());
    EXPECT_TRUE(waitFor([&] { return !isRoot(onScreen(beyond)); }));
    // The text box followed the border.
    EXPECT_EQ(look->txt_content->geometry().right(), look->width() - 11);

    // Closing with the caption bar's button ends the run: it was the only window.
    look->JSCAPTION1->pressButton(JSCAPTION::CloseButton);
    TempApp::settle();
    EXPECT_EQ(app::loadedCount(), 0);
    EXPECT_EQ(endedCount, 1);
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
    app::installChinese(qapp);
    return RUN_ALL_TESTS();
}
