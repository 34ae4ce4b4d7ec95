#pragma once
// What the writing and browsing windows share: no system frame, a caption bar and three
// borders drawn from the current skin, the cut-corner outline and the minimum size in the
// normal state, the borders hidden while the caption bar keeps the window maximised.
#include <QPointer>
#include <QPolygon>
#include <QRect>
#include <QSize>
#include <QWidget>

class JSBORDER;
class JSCAPTION;

namespace diary {

class SkinnedForm : public QWidget {
    Q_OBJECT
public:
    // Smallest outer size in the normal state, in twips.
    static constexpr int kMinWidth = 4444;
    static constexpr int kMinHeight = 2222;

    JSCAPTION* JSCAPTION1 = nullptr;
    JSBORDER* JSBORDER1 = nullptr; // left
    JSBORDER* JSBORDER2 = nullptr; // right
    JSBORDER* JSBORDER3 = nullptr; // bottom

    // The normal-state outline of a window whose outer size is given in twips, as points in
    // its pixels, with `perPixelX` / `perPixelY` twips to a pixel.
    static QPolygon windowOutline(int widthTwips, int heightTwips, double perPixelX,
                                  double perPixelY);
    // The font the caption bar is stored with: 宋体 9 pt, or an installed Chinese face of that
    // size where 宋体 is absent.
    static QFont captionFont();

protected:
    explicit SkinnedForm(QWidget* parent = nullptr);

    // The skin chosen in this run, or 16.jss in the application folder; only a chosen skin
    // is redrawn on top.
    void applyCurrentSkin();
    // The four Paths in order, then the caption bar's REDRAW when asked.
    void applySkin(const QString& path, bool redraw);
    // Size-changed handling: borders, outline, minimum size.
    void Form_Resize();
    // The box keeps its designed distance to the right and bottom edges as the window
    // grows; it never gets smaller than designed. Call once the designed size is set.
    void growWithWindow(QWidget* box);

    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void ApplyWindowShape();
    void layOutGrowingBox();

    QPointer<QWidget> m_growing;
    QSize m_growDesigned; // the box's designed size
    QSize m_growMargin;   // from its right and bottom edges to the window's
};

} // namespace diary
