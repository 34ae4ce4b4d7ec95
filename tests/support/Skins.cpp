#include "support/Skins.h"

#include "base/Twips.h"
#include "skin/SkinCache.h"

#include <QBuffer>
#include <QImage>
#include <QTest>

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
        const QString key = QLatin1String(k.name);
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

void borders(skin::PropertyBag& bag, int width, QColor colour) {
    for (const char* key : {"LEFTTOP", "LEFTMID", "RIGHTTOP", "RIGHTMID"})
        bag.writePicture(QLatin1String(key), png(QSize(width, 12), colour));
    for (const char* key : {"LEFTBOT", "RIGHTBOT", "BOTTOM"})
        bag.writePicture(QLatin1String(key), png(QSize(12, width), colour));
}

QString write(const QString& path, const skin::PropertyBag& bag) {
    EXPECT_TRUE(skin::WriteSkinFile(path, bag));
    return path;
}
} // namespace testskin

namespace capskin {
const QList<Piece>& pieces() {
    static const QList<Piece> list = [] {
        const QList<std::pair<const char*, QSize>> sizes = {
            {"TOPLEFT", {10, 30}}, {"TOPMID", {7, 30}},  {"TOPRIGHT", {12, 30}},
            {"CLOSE", {16, 14}},   {"CLOSE2", {16, 14}}, {"CLOSE3", {16, 14}},
            {"MAX", {15, 14}},     {"MAX2", {15, 14}},   {"MAX3", {15, 14}},
            {"RES1", {17, 14}},    {"RES2", {17, 14}},   {"RES3", {17, 14}},
            {"MIN", {13, 14}},     {"MIN2", {13, 14}},   {"MIN3", {13, 14}},
            {"ONTOP1", {11, 14}},  {"ONTOP3", {11, 14}},
        };
        QList<Piece> out;
        int i = 0;
        for (const auto& [key, size] : sizes) {
            out.append({key, size, QColor(20 + 9 * i, 230 - 7 * i, (60 + 31 * i) % 256)});
            ++i;
        }
        return out;
    }();
    return list;
}

QString keyOf(const QColor& c) {
    for (const Piece& p : pieces())
        if (p.colour.rgb() == c.rgb())
            return QLatin1String(p.key);
    return {};
}

skin::PropertyBag bag(skin::PropertyBag b) {
    for (const Piece& p : pieces())
        b.writePicture(QLatin1String(p.key), testskin::png(p.size, p.colour));
    const std::pair<const char*, qint16> metrics[] = {
        {"XOFFSET", kXOffset},     {"XOFFSET2", kXOffset2}, {"YOFFSET", kYOffset},
        {"FROMRIGHT", kFromRight}, {"FROMTOP", kFromTop},   {"ICONSPACE", kIconSpace}};
    for (const auto& [key, value] : metrics)
        b.writeInteger(QLatin1String(key), value);
    b.writeColour(u"FORECOLOR"_s, kForeColor);
    b.writeColour(u"BackColor"_s, kBackColor);
    b.writeColour(u"PARENTBACKCOLOR"_s, kParentBack);
    return b;
}
} // namespace capskin

void CaptionFixture::SetUp() {
    TempApp::SetUp();
    app::Twips::setFactors(15, 15);
    skinPath = testskin::write(dir.filePath(u"t.jss"_s), capskin::bag());
}

void CaptionFixture::TearDown() {
    window.reset();
    TempApp::TearDown();
}

void CaptionFixture::makeWindow(const QVariantMap& settings, bool show) {
    window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    window->setWindowTitle(u"写日记"_s);
    window->setGeometry(50, 40, 400, 300);
    bar = new JSCAPTION(window.get());
    bar->setObjectName(u"JSCAPTION1"_s);
    bar->ReadProperties(settings);
    bar->setPath(skinPath);
    if (show) {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
}

QString CaptionFixture::at(int x, int y) const {
    const QImage img = bar->surface().toImage();
    if (!img.rect().contains(x, y))
        return u"<outside>"_s;
    return capskin::keyOf(img.pixelColor(x, y));
}

void CaptionFixture::moveTo(QPoint p) {
    // Qt drops a move to where the pointer already is; step through the row below the band.
    QTest::mouseMove(bar, QPoint(p.x(), bar->height() - 1));
    QTest::mouseMove(bar, p);
}
