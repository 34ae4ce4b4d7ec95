#include "shell/Desktop.h"

#include "base/Module1.h"
#include "shell/Dialogs.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <memory>

namespace app {
namespace {
std::unique_ptr<Desktop>& slot() {
    static std::unique_ptr<Desktop> d;
    return d;
}
} // namespace

Desktop& Desktop::instance() {
    if (!slot())
        slot() = std::make_unique<QtDesktop>();
    return *slot();
}

void Desktop::install(Desktop* desktop) {
    slot().reset(desktop);
}

bool QtDesktop::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

void QtDesktop::setTopMost(QWidget* window, bool on) {
    if (!window)
        return;
    // Changing window flags re-creates the native window; keep the geometry exactly.
    const bool wasTop = window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    if (wasTop == on)
        return;
    const QRect geom = window->geometry();
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    window->setGeometry(geom);
    if (visible)
        window->show();
}

namespace {
// The window manager now owns the press and may never send its release (X11 without
// XInput 2): Qt is told the button is up, so the moves and the press that follow go to the
// control under the pointer, not to the one that was pressed.
bool handedOver(QWindow* w, bool taken) {
    if (taken) {
        const QPointF global = QCursor::pos();
        QCoreApplication::postEvent(
            w, new QMouseEvent(QEvent::MouseButtonRelease, w->mapFromGlobal(global), global,
                               Qt::LeftButton, Qt::NoButton, QGuiApplication::keyboardModifiers()));
    }
    return taken;
}
} // namespace

bool QtDesktop::startMove(QWidget* window) {
    QWindow* w = window ? window->windowHandle() : nullptr;
    return w && handedOver(w, w->startSystemMove());
}

bool QtDesktop::startResize(QWidget* window, Qt::Edges edges) {
    QWindow* w = window ? window->windowHandle() : nullptr;
    return w && handedOver(w, w->startSystemResize(edges));
}

std::optional<QRect> QtDesktop::workArea(QWidget* window) {
    QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    return screen->availableGeometry();
}

QUrl manualUrl() {
    return QUrl::fromLocalFile(QDir(appFolder()).filePath(QStringLiteral("manual.html")));
}

void openManual(QWidget* parent) {
    const QUrl url = manualUrl();
    if (Desktop::instance().openUrl(url))
        return;
    // A computer without a web launcher: the reader can still open the file by hand.
    Dialogs::instance().message(
        parent,
        QStringLiteral("无法打开使用手册：这台计算机上没有打开网页的程序（软件包 xdg-utils）。\n"
                       "使用手册在：%1")
            .arg(url.toLocalFile()),
        QStringLiteral("使用手册"), Icon::Information);
}

} // namespace app
