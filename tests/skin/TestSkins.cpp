#include "TestSkins.h"

#include <QBuffer>
#include <QImage>

namespace testskin {
namespace {
QByteArray encode(QSize size, QColor colour, const char* format) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(colour);
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, format);
    return out;
}
} // namespace

QByteArray png(QSize size, QColor colour) {
    return encode(size, colour, "PNG");
}
QByteArray bmp(QSize size, QColor colour) {
    return encode(size, colour, "BMP");
}

skin::PropertyBag completeBag() {
    skin::PropertyBag bag;
    int n = 0;
    for (const auto& k : skin::skinKeys()) {
        const QString key = QString::fromLatin1(k.name);
        if (k.kind == skin::Kind::Picture)
            bag.writePicture(key, png(QSize(4 + n, 6 + n), QColor(10 * n, 100, 200)));
        else if (k.kind == skin::Kind::Integer)
            bag.writeInteger(key, qint16(n));
        else
            bag.writeColour(key, 0x00102030u + quint32(n));
        ++n;
    }
    return bag;
}

QString write(const QString& path, const skin::PropertyBag& bag) {
    skin::WriteSkinFile(path, bag);
    return path;
}

} // namespace testskin
