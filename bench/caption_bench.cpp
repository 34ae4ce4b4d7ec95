// One resize step of a skinned window 1920 pixels wide: the caption bar applies its skin and
// the window repaints with its three borders; with the shared skin cache and without it.
#include "base/Module1.h"
#include "caption/JSCAPTION.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"

#include "Report.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Stats {
    double median, p95;
};

Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)]};
}

// Widths of 1920 and just below it, so every step really changes the size.
double step(QWidget& window, int i) {
    QElapsedTimer t;
    t.start();
    window.resize(1920 - (i % 2), 1000 + (i % 3));
    window.repaint();
    return double(t.nsecsElapsed()) / 1e6;
}

std::vector<double> run(QWidget& window, int steps) {
    std::vector<double> out;
    out.reserve(size_t(steps));
    for (int i = 0; i < steps; ++i)
        out.push_back(step(window, i));
    return out;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    const QString path =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(DV_DEFAULT_SKIN);
    if (!QFileInfo(path).isFile()) {
        std::fprintf(stderr, "no skin file %s\n", qPrintable(path));
        return 1;
    }
    const int steps = 300;

    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.setWindowTitle(QStringLiteral("写日记"));
    window.resize(1920, 1000);
    auto* bar = new JSCAPTION(&window);
    bar->ReadProperties({});
    JSBORDER* borders[3];
    for (int i = 0; i < 3; ++i) {
        borders[i] = new JSBORDER(&window);
        borders[i]->setBORDERTYPE(i + 1);
    }
    bar->setPath(path);
    for (JSBORDER* b : borders)
        b->setPath(path);
    window.show();
    QApplication::processEvents();

    skin::SkinCache::setEnabled(true);
    run(window, 20); // warm up
    int reads = skin::SkinCache::fileReads();
    const Stats cached = stats(run(window, steps));
    const int cachedReads = skin::SkinCache::fileReads() - reads;

    skin::SkinCache::setEnabled(false);
    run(window, 5);
    reads = skin::SkinCache::fileReads();
    const Stats uncached = stats(run(window, steps));
    const int uncachedReads = skin::SkinCache::fileReads() - reads;
    skin::SkinCache::setEnabled(true);

    bench::report(QStringLiteral("caption bar + 3 borders, resize step at 1920 px, skin cache on "
                                 "(median of %1, p95 %2 ms)")
                      .arg(steps)
                      .arg(cached.p95, 0, 'f', 3),
                  cached.median, "ms", QStringLiteral("< 2"),
                  {QStringLiteral("skin cache off"), uncached.median});
    bench::report(QStringLiteral("skin file reads per resize step, cache on"),
                  double(cachedReads) / steps, "reads", QStringLiteral("0"),
                  {QStringLiteral("skin cache off"), double(uncachedReads) / steps});
    return 0;
}
