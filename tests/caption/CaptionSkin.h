#pragma once
// A test skin of solid-colour pieces, so one pixel tells which piece lies there.
#include "caption/JSCAPTION.h"
#include "skin/SkinFile.h"
#include "support/TempApp.h"

#include <QColor>
#include <QMap>
#include <QSize>
#include <QString>
#include <QWidget>
#include <memory>

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

skin::PropertyBag bag();
QByteArray png(QSize size, const QColor& colour);

} // namespace capskin

// A 400 x 300 frameless window at (50, 40) carrying the bar with the test skin; 15 twips/px.
class CaptionFixture : public TempApp {
protected:
    void SetUp() override;
    void TearDown() override;

    QString writeSkin(const skin::PropertyBag& b, const QString& name = QStringLiteral("t.jss"));
    void makeWindow(const QVariantMap& settings = {}, bool show = true);
    // The piece drawn at (x, y) of the bar's backing image, or at a button's centre.
    QString at(int x, int y) const;
    QString atButton(JSCAPTION::Button b) const;
    QPoint centre(JSCAPTION::Button b) const;
    void moveTo(QPoint p);
    void moveTo(JSCAPTION::Button b) { moveTo(centre(b)); }

    QString skinPath;
    std::unique_ptr<QWidget> window;
    JSCAPTION* bar = nullptr;
};
