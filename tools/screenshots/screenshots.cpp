// dayvault-screenshots APPDIR OUTDIR: shows each window of the list below with the skins
// staged in APPDIR and saves it as OUTDIR/<name>.png. To add a window, add one entry to
// shots(): a file name and a function that builds the window (shown and grabbed afterwards).
#include "app/Module1.h"
#include "caption/JSCAPTION.h"
#include "skin/JSBORDER.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdio>
#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct Shot {
    QString file;
    std::function<QWidget*()> make;
    // Runs after the window is shown, before it is grabbed (pointer positions and such).
    std::function<void(QWidget*)> prepare = {};
};

QString skinFile(const QString& name) {
    return QDir(app::appFolder()).filePath(name);
}

QIcon diaryIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0xC0, 0x50, 0x40));
    p.setPen(QPen(QColor(0x70, 0x20, 0x18), 1.5));
    p.drawRoundedRect(QRectF(5, 3, 22, 26), 3, 3);
    p.setBrush(QColor(0xF8, 0xF0, 0xE0));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(10, 7, 14, 18));
    p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
    for (int y = 11; y <= 21; y += 4)
        p.drawLine(12, y, 22, y);
    return QIcon(pm);
}

// A frameless window dressed as the skinned windows are: the caption bar and three borders.
QWidget* skinnedWindow(const QString& skin, const QString& title) {
    auto* w = new QWidget(nullptr, Qt::FramelessWindowHint);
    w->setWindowTitle(title);
    w->setWindowIcon(diaryIcon());
    w->setGeometry(40, 40, 560, 340);
    auto* caption = new JSCAPTION(w);
    caption->setObjectName(u"JSCAPTION1"_s);
    QFont songTi(u"宋体"_s);
    songTi.setPointSize(9);
    caption->ReadProperties({{u"Font"_s, songTi}, {u"BackColor"_s, 0x00DC7E5Au}});
    JSBORDER* borders[3];
    for (int i = 0; i < 3; ++i) {
        borders[i] = new JSBORDER(w);
        borders[i]->setObjectName(u"JSBORDER%1"_s.arg(i + 1));
        borders[i]->setBORDERTYPE(i + 1);
    }
    caption->setPath(skin);
    for (JSBORDER* b : borders)
        b->setPath(skin);
    caption->REDRAW();

    auto* body = new QLabel(u"窗口的其余部分由各窗体自己布置。\n"
                            u"标题栏和三条边框都从皮肤文件绘制。"_s,
                            w);
    body->setObjectName(u"body"_s);
    body->setAlignment(Qt::AlignCenter);
    body->setGeometry(40, 90, 480, 120);
    return w;
}

QList<Shot> shots() {
    return {
        {u"caption-default"_s, [] { return skinnedWindow(skinFile(u"16.jss"_s), u"写日记"_s); }},
        {u"caption-hover-close"_s, [] { return skinnedWindow(skinFile(u"16.jss"_s), u"写日记"_s); },
         [](QWidget* w) {
             auto* bar = w->findChild<JSCAPTION*>(u"JSCAPTION1"_s);
             const QPoint c = bar->buttonRect(JSCAPTION::CloseButton).center();
             bar->UserControl_MouseMove(0, 0, float(c.x()), float(c.y()));
         }},
        {u"caption-ontop-silver"_s,
         [] {
             QWidget* w = skinnedWindow(skinFile(u"silver.jss"_s), u"浏览日记"_s);
             auto* bar = w->findChild<JSCAPTION*>(u"JSCAPTION1"_s);
             bar->setSHOWONTOP(true);
             bar->setPath(bar->Path());
             return w;
         }},
    };
}

// Lets the window system catch up: the window shown and exposed, pending paints done.
bool settle(QWidget* w, int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (t.elapsed() > ms / 2 && w->windowHandle() && w->windowHandle()->isExposed())
            return true;
    }
    return w->windowHandle() && w->windowHandle()->isExposed();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: dayvault-screenshots APPDIR OUTDIR\n");
        return 2;
    }
    app::setAppFolder(QString::fromLocal8Bit(argv[1]));
    const QDir out(QString::fromLocal8Bit(argv[2]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[2]);
        return 1;
    }
    int failed = 0;
    for (const Shot& shot : shots()) {
        std::unique_ptr<QWidget> w(shot.make());
        w->show();
        if (!settle(w.get(), 3000))
            std::fprintf(stderr, "%s: window not exposed\n", qPrintable(shot.file));
        if (shot.prepare)
            shot.prepare(w.get());
        settle(w.get(), 200);
        const QString path = out.filePath(shot.file + u".png"_s);
        if (w->grab().save(path)) {
            std::printf("%s\n", qPrintable(path));
        } else {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failed;
        }
    }
    return failed ? 1 : 0;
}
