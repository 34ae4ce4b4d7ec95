#pragma once
// A caption-bar test skin of solid-colour pieces with known sizes and colours, so a test can
// tell from one pixel which piece lies there; plus a fixture with a frameless test window.
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
// Every picture of the test skin. Button widths differ so positions show mistakes.
const QList<Piece>& pieces();
QSize sizeOf(const QString& key);
QColor colourOf(const QString& key);
// Which piece has this colour ("" for none).
QString keyOf(const QColor& c);

inline constexpr qint16 kXOffset = 5, kXOffset2 = 4, kYOffset = 6, kFromRight = 3, kFromTop = 5,
                        kIconSpace = 2;
inline constexpr quint32 kForeColor = 0x00112233u;  // shadow: RGB(0x33,0x22,0x11)
inline constexpr quint32 kBackColor = 0x00445566u;  // title: RGB(0x66,0x55,0x44)
inline constexpr quint32 kParentBack = 0x00778899u; // window: RGB(0x99,0x88,0x77)

skin::PropertyBag bag();
QByteArray png(QSize size, const QColor& colour);

} // namespace capskin

// A shown 400 x 300 frameless window at (50, 40) carrying JSCAPTION1 with stored defaults and
// the test skin; 15 twips per pixel; fake desktop and dialogs.
class CaptionFixture : public TempApp {
protected:
    void SetUp() override;
    void TearDown() override;

    QString writeSkin(const skin::PropertyBag& b, const QString& name = QStringLiteral("t.jss"));
    // Creates the window; `settings` are the bar's stored settings.
    void makeWindow(const QVariantMap& settings = {}, bool show = true);
    // The piece drawn at (x, y) of the bar's backing image.
    QString at(int x, int y) const;
    // The piece drawn at the middle of a button's place.
    QString atButton(JSCAPTION::Button b) const;
    QPoint centre(JSCAPTION::Button b) const;
    void moveTo(QPoint p);
    void moveTo(JSCAPTION::Button b) { moveTo(centre(b)); }

    QString skinPath;
    std::unique_ptr<QWidget> window;
    JSCAPTION* bar = nullptr;
};
