// Skin reading and border painting: what a window resize costs with and without the
// shared cache of decoded skins.
#include "base/Module1.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"

#include "Report.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Reading the file and decoding every piece, as a fresh skin costs.
double decodeOnce(const QString& path) {
    QElapsedTimer t;
    t.start();
    const auto skin = skin::SkinCache::load(path);
    for (const auto& e : skin->bag().entries())
        if (e.kind == skin::Kind::Picture)
            (void)skin->picture(e.key);
    return double(t.nsecsElapsed()) / 1e3;
}

// One resize step of a skinned window: every border repaints from the skin.
double resizeOnce(QWidget& window, JSBORDER* const (&borders)[3], int step) {
    QElapsedTimer t;
    t.start();
    window.resize(600 + step % 200, 400 + step % 150);
    for (JSBORDER* b : borders)
        b->REDRAW();
    return double(t.nsecsElapsed()) / 1e3;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    const QString path =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(DV_DEFAULT_SKIN);
    const int runs = 200;

    skin::SkinCache::setEnabled(false);
    std::vector<double> decode;
    for (int i = 0; i < runs; ++i)
        decode.push_back(decodeOnce(path));
    bench::report(QStringLiteral("skin file read and decoded (16.jss, median of 200)"),
                  bench::median(decode), "us");

    QWidget window;
    window.resize(600, 400);
    JSBORDER* borders[3];
    for (int i = 0; i < 3; ++i) {
        borders[i] = new JSBORDER(&window);
        borders[i]->setBORDERTYPE(i + 1);
        borders[i]->setPath(path);
    }
    window.show();
    QApplication::processEvents();
    Module1::ResizeEnabled = true;

    std::vector<double> cold, warm;
    int reads = skin::SkinCache::fileReads();
    for (int i = 0; i < runs; ++i)
        cold.push_back(resizeOnce(window, borders, i));
    const int coldReads = skin::SkinCache::fileReads() - reads;

    skin::SkinCache::setEnabled(true);
    resizeOnce(window, borders, 0);
    reads = skin::SkinCache::fileReads();
    for (int i = 0; i < runs; ++i)
        warm.push_back(resizeOnce(window, borders, i));
    const int warmReads = skin::SkinCache::fileReads() - reads;

    bench::report(QStringLiteral("window resize, three borders repainted, cached (median of 200)"),
                  bench::median(warm), "us", QStringLiteral("-"),
                  {QStringLiteral("uncached"), bench::median(cold)});
    bench::report(QStringLiteral("skin file reads during 200 resizes, cached"), warmReads, "reads",
                  QStringLiteral("0"), {QStringLiteral("uncached"), double(coldReads)});
    return 0;
}
