#include "base/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace app {
namespace {
double gX = 0, gY = 0;

double screenFactor(bool horizontal) {
    QScreen* s = QGuiApplication::primaryScreen();
    const double dpi =
        s ? (horizontal ? s->logicalDotsPerInchX() : s->logicalDotsPerInchY()) : 96.0;
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}
} // namespace

double Twips::perPixelX() {
    return gX > 0 ? gX : screenFactor(true);
}
double Twips::perPixelY() {
    return gY > 0 ? gY : screenFactor(false);
}

void Twips::setFactors(double x, double y) {
    gX = x;
    gY = y;
}

int Twips::toPxX(int twips) {
    return int(std::lround(twips / perPixelX()));
}
int Twips::toPxY(int twips) {
    return int(std::lround(twips / perPixelY()));
}
int Twips::fromPxX(int px) {
    return int(std::lround(px * perPixelX()));
}
int Twips::fromPxY(int px) {
    return int(std::lround(px * perPixelY()));
}

QRect Twips::rect(int left, int top, int width, int height) {
    return QRect(toPxX(left), toPxY(top), toPxX(width), toPxY(height));
}

} // namespace app
