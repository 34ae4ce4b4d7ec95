#include "forms/SkinnedForm.h"

#include "base/Module1.h"
#include "base/Twips.h"
#include "caption/JSCAPTION.h"
#include "forms/FormUtil.h"
#include "skin/JSBORDER.h"

#include <QDir>
#include <QEvent>
#include <QFontDatabase>
#include <QRegion>
#include <QResizeEvent>
#include <cmath>

namespace diary {

using app::Twips;

namespace {
// Halves to even.
int roundEven(double v) {
    return int(std::nearbyint(v));
}
} // namespace

SkinnedForm::SkinnedForm(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    readAsWindow(this);
    JSCAPTION1 = new JSCAPTION(this);
    JSCAPTION1->setObjectName(QStringLiteral("JSCAPTION1"));
    JSCAPTION1->ReadProperties(
        {{QStringLiteral("Font"), captionFont()}, {QStringLiteral("BackColor"), 0x00DC7E5Au}});
    JSBORDER* borders[] = {nullptr, nullptr, nullptr};
    for (int i = 0; i < 3; ++i) {
        borders[i] = new JSBORDER(this);
        borders[i]->setObjectName(QStringLiteral("JSBORDER%1").arg(i + 1));
        borders[i]->setBORDERTYPE(i + 1);
    }
    JSBORDER1 = borders[0];
    JSBORDER2 = borders[1];
    JSBORDER3 = borders[2];
}

QFont SkinnedForm::captionFont() {
    QFont f(QStringLiteral("宋体"));
    f.setPointSize(9);
    f.setWeight(QFont::Normal);
    if (!QFontDatabase::hasFamily(f.family())) {
        for (const char* face :
             {"SimSun", "NSimSun", "Noto Serif CJK SC", "Noto Sans CJK SC", "Source Han Serif SC",
              "AR PL UMing CN", "WenQuanYi Micro Hei", "WenQuanYi Zen Hei"}) {
            if (QFontDatabase::hasFamily(QString::fromLatin1(face))) {
                f.setFamily(QString::fromLatin1(face));
                break;
            }
        }
    }
    return f;
}

void SkinnedForm::applyCurrentSkin() {
    // The frame lies over the form's controls: a window made smaller than designed keeps
    // its buttons and borders in reach.
    for (QWidget* piece : {static_cast<QWidget*>(JSCAPTION1), static_cast<QWidget*>(JSBORDER1),
                           static_cast<QWidget*>(JSBORDER2), static_cast<QWidget*>(JSBORDER3)})
        piece->raise();
    if (!Module1::SkinPath.isEmpty())
        applySkin(Module1::SkinPath, true);
    else
        applySkin(QDir(app::appFolder()).filePath(QStringLiteral("16.jss")), false);
}

void SkinnedForm::applySkin(const QString& path, bool redraw) {
    JSCAPTION1->setPath(path);
    JSBORDER1->setPath(path);
    JSBORDER2->setPath(path);
    JSBORDER3->setPath(path);
    if (redraw)
        JSCAPTION1->REDRAW();
}

void SkinnedForm::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Form_Resize();
    layOutGrowingBox();
}

void SkinnedForm::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    // Minimising and coming back change the caption bar's state without a new size.
    if (e->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void SkinnedForm::Form_Resize() {
    const bool maximised = JSCAPTION1->Style2() == 1;
    for (JSBORDER* b : {JSBORDER1, JSBORDER2, JSBORDER3})
        b->setVisible(!maximised);
    ApplyWindowShape();
    if (JSCAPTION1->Style2() != 2) {
        setMinimumSize(0, 0);
        return;
    }
    // Each resize comes back through here, and finds the size it set.
    if (Twips::fromPxX(width()) <= kMinWidth)
        resize(Twips::toPxX(kMinWidth), height());
    if (Twips::fromPxY(height()) <= kMinHeight)
        resize(width(), Twips::toPxY(kMinHeight));
    // Sizing by a border stops at the minimum too, so the edge across stays where it is.
    setMinimumSize(Twips::toPxX(kMinWidth), Twips::toPxY(kMinHeight));
}

QPolygon SkinnedForm::windowOutline(int widthTwips, int heightTwips, double perPixelX,
                                    double perPixelY) {
    const int W = roundEven(widthTwips / perPixelX);
    const int H = roundEven(heightTwips / perPixelY);
    const int R = roundEven((widthTwips - 3 * perPixelX) / perPixelX);
    // Pixel edges, not pixel centres: a region from these points covers columns 0 to W - 1
    // and rows 0 to H - 1, the whole window but for the two top corners.
    return QPolygon({QPoint(0, H), QPoint(0, 3), QPoint(3, 0), QPoint(R, 0), QPoint(W, 4),
                     QPoint(W, H), QPoint(0, H)});
}

void SkinnedForm::ApplyWindowShape() {
    if (JSCAPTION1->Style2() != 2) {
        clearMask();
        return;
    }
    const QPolygon outline = windowOutline(Twips::fromPxX(width()), Twips::fromPxY(height()),
                                           Twips::perPixelX(), Twips::perPixelY());
    setMask(QRegion(outline, Qt::WindingFill));
}

void SkinnedForm::growWithWindow(QWidget* box) {
    m_growing = box;
    m_growDesigned = box->size();
    m_growMargin =
        QSize(width() - box->geometry().right() - 1, height() - box->geometry().bottom() - 1);
}

void SkinnedForm::layOutGrowingBox() {
    if (!m_growing)
        return;
    const QPoint at = m_growing->pos();
    const QSize room(width() - m_growMargin.width() - at.x(),
                     height() - m_growMargin.height() - at.y());
    m_growing->resize(room.expandedTo(m_growDesigned));
}

} // namespace diary
