#pragma once
// One bitmap ready to be copied whole and unscaled onto a surface.
#include <QPixmap>
#include <QString>
#include <QtGlobal>

class QImage;
class QPainter;

class clsBitmap {
public:
    clsBitmap() = default;
    ~clsBitmap() { FreeBitmap(); }
    clsBitmap(const clsBitmap&) = delete;
    clsBitmap& operator=(const clsBitmap&) = delete;

    // Releases what was held, then loads a PNG or BMP file; false when it cannot be read.
    bool LoadFile(const QString& fileName);
    // Releases what was held, then adopts a picture read from a skin; false for a null one.
    bool LoadResource(const QPixmap& picture);
    bool LoadResource(const QImage& picture);

    // Size of the last bitmap held; kept after FreeBitmap, zero until something is loaded.
    int Width() const { return m_Width; }
    int Height() const { return m_Height; }
    // Non-zero exactly while a bitmap is held; a fresh value for each bitmap adopted.
    quintptr hdc() const { return m_hDC; }
    const QPixmap& pixmap() const { return m_hBitmap; }

    // Copies the whole bitmap with its top-left corner at (x, y); nothing when empty.
    void Paint(QPainter& dest, int x, int y) const;

    // Lets the bitmap go; width and height stay as they were.
    void FreeBitmap();

private:
    bool adopt(QPixmap pixmap);
    QPixmap m_hBitmap;
    quintptr m_hDC = 0;
    int m_Width = 0;
    int m_Height = 0;
};
