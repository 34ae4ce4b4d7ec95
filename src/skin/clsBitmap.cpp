#include "skin/clsBitmap.h"

#include "skin/SkinFile.h"

#include <QFile>
#include <QImage>
#include <QPainter>

namespace {
quintptr nextHandle() {
    static quintptr counter = 0;
    if (++counter == 0)
        ++counter;
    return counter;
}
} // namespace

bool clsBitmap::adopt(QPixmap pixmap) {
    if (pixmap.isNull())
        return false;
    // Skin pieces are drawn one image pixel per device-independent pixel.
    pixmap.setDevicePixelRatio(1.0);
    m_hBitmap = std::move(pixmap);
    m_hDC = nextHandle();
    m_Width = m_hBitmap.width();
    m_Height = m_hBitmap.height();
    return true;
}

bool clsBitmap::LoadFile(const QString& fileName) {
    FreeBitmap();
    QFile f(fileName);
    if (fileName.isEmpty() || !f.open(QIODevice::ReadOnly))
        return false;
    const QImage img = skin::decodePicture(f.readAll());
    return !img.isNull() && adopt(QPixmap::fromImage(img));
}

bool clsBitmap::LoadResource(const QPixmap& picture) {
    FreeBitmap();
    return adopt(picture);
}

bool clsBitmap::LoadResource(const QImage& picture) {
    FreeBitmap();
    return !picture.isNull() && adopt(QPixmap::fromImage(picture));
}

void clsBitmap::Paint(QPainter& dest, int x, int y) const {
    if (m_hDC == 0)
        return;
    // A block copy: the piece replaces what lies under it, alpha included.
    const auto mode = dest.compositionMode();
    dest.setCompositionMode(QPainter::CompositionMode_Source);
    dest.drawPixmap(x, y, m_hBitmap);
    dest.setCompositionMode(mode);
}

void clsBitmap::FreeBitmap() {
    if (m_hDC == 0)
        return;
    m_hBitmap = QPixmap();
    m_hDC = 0;
}
