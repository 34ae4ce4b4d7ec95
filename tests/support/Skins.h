#pragma once
// Test skins: a complete bag of every key, and the caption bar's solid-colour pieces, so one
// pixel tells which piece lies there.
#include "caption/JSCAPTION.h"
#include "skin/SkinFile.h"
#include "support/TempApp.h"

#include <QColor>
#include <QSize>
#include <QWidget>
#include <memory>

namespace testskin {
QByteArray png(QSize size, QColor colour);
QByteArray bmp(QSize size, QColor colour);
// Every key of a complete skin; picture sizes can be changed per key afterwards.
skin::PropertyBag completeBag();
// Solid border pieces `width` px thick.
void borders(skin::PropertyBag& bag, int width, QColor colour);
// Writes the bag as a skin file and returns its path.
QString write(const QString& path, const skin::PropertyBag& bag);
} // namespace testskin

namespace capskin {
struct Piece {
    const char* key;
    QSize size;
    QColor colour;
};
// TOPLEFT first; button widths differ so positions show mistakes.
const QList<Piece>& pieces();
QString keyOf(const QColor& c); // "" for none

inline constexpr qint16 kXOffset = 5, kXOffset2 = 4, kYOffset = 6, kFromRight = 3, kFromTop = 5,
                        kIconSpace = 2;
inline constexpr quint32 kForeColor = 0x00112233u;  // shadow: RGB(0x33,0x22,0x11)
inline constexpr quint32 kBackColor = 0x00445566u;  // title: RGB(0x66,0x55,0x44)
inline constexpr quint32 kParentBack = 0x00778899u; // window: RGB(0x99,0x88,0x77)

// The pieces, metrics and colours over `base`.
skin::PropertyBag bag(skin::PropertyBag base = {});
} // namespace capskin

// A 400 x 300 frameless window at (50, 40) carrying the bar with the test skin; 15 twips/px.
class CaptionFixture : public TempApp {
protected:
    void SetUp() override;
    void TearDown() override;

    void makeWindow(const QVariantMap& settings = {}, bool show = true);
    // The piece drawn at (x, y) of the bar's backing image, or at a button's centre.
    QString at(int x, int y) const;
    QString atButton(JSCAPTION::Button b) const { return at(centre(b).x(), centre(b).y()); }
    QPoint centre(JSCAPTION::Button b) const { return bar->buttonRect(b).center(); }
    void moveTo(QPoint p);
    void moveTo(JSCAPTION::Button b) { moveTo(centre(b)); }

    QString skinPath;
    std::unique_ptr<QWidget> window;
    JSCAPTION* bar = nullptr;
};
