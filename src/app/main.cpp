#include "app/FormRegistry.h"
#include "data/myClass.h"
#include "shell/Locale.h"
#include "shell/Navigation.h"
#include "vault/KeyRing.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace {

// Qt's xcb plugin aborts inside QApplication's constructor when it finds no X server, with a
// message that names neither DISPLAY nor xvfb-run; so look first, while we can still leave.
bool usesXcb(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "-platform") || !std::strcmp(argv[i], "--platform") ||
            !std::strcmp(argv[i], "-display") || !std::strcmp(argv[i], "--display"))
            return false;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return !platform || !*platform || !std::strcmp(platform, "xcb");
}

bool set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Tries DISPLAY through libxcb, loaded only here so nothing new is linked; when it cannot be
// loaded Qt will tell for itself.
bool xServerAnswers() {
    void* xcb = ::dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (!xcb)
        return true;
    using Connect = void* (*)(const char*, int*);
    using Check = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<Check>(::dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    bool ok = true;
    if (connect && hasError && disconnect) {
        void* c = connect(nullptr, nullptr);
        ok = c && hasError(c) == 0;
        disconnect(c);
    }
    ::dlclose(xcb);
    return ok;
}

// Says on stderr why no window can be shown; false when one can.
bool noDisplay(int argc, char** argv) {
    if (!usesXcb(argc, argv))
        return false;
    if (!set("DISPLAY")) {
        if (set("WAYLAND_DISPLAY"))
            return false;
        std::fputs("dayvault: 没有设置 DISPLAY / DISPLAY is not set\n", stderr);
        return true;
    }
    if (xServerAnswers())
        return false;
    std::fprintf(stderr, "dayvault: 无法连接 DISPLAY=%s / cannot connect to DISPLAY=%s\n",
                 std::getenv("DISPLAY"), std::getenv("DISPLAY"));
    return true;
}

// Without a login session (su, a console) there is no XDG_RUNTIME_DIR; Qt makes its own
// private folder and says so at every start, which tells the user nothing he can act on.
QtMessageHandler qtHandler = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    qtHandler(type, context, text);
}

} // namespace

int main(int argc, char** argv) {
    if (noDisplay(argc, argv)) {
        std::fputs("没有可用的图形显示。从没有桌面的计算机使用时，请用 ssh -X 从有桌面的计算机登录"
                   "后再启动；xvfb-run -a（软件包 xvfb）只用于测试和截图，窗口谁也看不到。\n"
                   "No display to show the windows on. From a computer without a desktop, log in "
                   "with ssh -X from one that has a desktop and start the program there; "
                   "xvfb-run -a (package xvfb) is for tests and screenshots: nobody sees its "
                   "windows.\n",
                   stderr);
        return 1;
    }
    qtHandler = qInstallMessageHandler(quietHandler);
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("DayVault"));
    // The process ends when no window is loaded after an event, not when one closes.
    QApplication::setQuitOnLastWindowClosed(false);
    app::installChinese(qapp);
    // The session's keys: wiped at each new login and when the program ends.
    vault::KeyRing keys;
    myClass::useKeys(&keys);
    app::registerForms();
    app::show(app::load(app::FormId::Login));
    const int rc = QApplication::exec();
    myClass::useKeys(nullptr);
    return rc;
}
