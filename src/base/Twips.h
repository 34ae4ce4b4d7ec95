#pragma once
// Designed geometry is in twips (1440 per inch); widgets work in pixels.
#include <QRect>

namespace app {

class Twips {
public:
    // Twips per pixel of the primary screen (15 at 96 DPI), horizontal and vertical.
    static double perPixelX();
    static double perPixelY();
    // Tests fix the factors; 0 returns to the screen's.
    static void setFactors(double x, double y);

    static int toPxX(int twips);
    static int toPxY(int twips);
    static int fromPxX(int px);
    static int fromPxY(int px);
    static QRect rect(int left, int top, int width, int height);
};

} // namespace app
