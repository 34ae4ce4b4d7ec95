#include "CaptionSkin.h"

#include "base/Twips.h"
#include "skin/SkinCache.h"

#include <QBuffer>
#include <QImage>
#include <QTest>

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
            return QString::fromLatin1(p.key);
    return {};
}

QByteArray png(QSize size, const QColor& colour) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(colour);
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return out;
}

skin::PropertyBag bag() {
    skin::PropertyBag b;
    for (const Piece& p : pieces())
        b.writePicture(QString::fromLatin1(p.key), png(p.size, p.colour));
    b.writeInteger(QStringLiteral("XOFFSET"), kXOffset);
    b.writeInteger(QStringLiteral("XOFFSET2"), kXOffset2);
    b.writeInteger(QStringLiteral("YOFFSET"), kYOffset);
    b.writeInteger(QStringLiteral("FROMRIGHT"), kFromRight);
    b.writeInteger(QStringLiteral("FROMTOP"), kFromTop);
    b.writeInteger(QStringLiteral("ICONSPACE"), kIconSpace);
    b.writeColour(QStringLiteral("FORECOLOR"), kForeColor);
    b.writeColour(QStringLiteral("BackColor"), kBackColor);
    b.writeColour(QStringLiteral("PARENTBACKCOLOR"), kParentBack);
    return b;
}

} // namespace capskin

void CaptionFixture::SetUp() {
    TempApp::SetUp();
    app::Twips::setFactors(15, 15);
    skin::SkinCache::clear();
    skinPath = writeSkin(capskin::bag());
}

void CaptionFixture::TearDown() {
    window.reset();
    app::Twips::setFactors(0, 0);
    TempApp::TearDown();
}

QString CaptionFixture::writeSkin(const skin::PropertyBag& b, const QString& name) {
    const QString path = dir.filePath(name);
    EXPECT_TRUE(skin::WriteSkinFile(path, b));
    return path;
}

void CaptionFixture::makeWindow(const QVariantMap& settings, bool show) {
    window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    window->setWindowTitle(QStringLiteral("写日记"));
    window->setGeometry(50, 40, 400, 300);
    bar = new JSCAPTION(window.get());
    bar->setObjectName(QStringLiteral("JSCAPTION1"));
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
        return QStringLiteral("<outside>");
    return capskin::keyOf(img.pixelColor(x, y));
}

QPoint CaptionFixture::centre(JSCAPTION::Button b) const {
    return bar->buttonRect(b).center();
}

QString CaptionFixture::atButton(JSCAPTION::Button b) const {
    const QPoint c = centre(b);
    return at(c.x(), c.y());
}

void CaptionFixture::moveTo(QPoint p) {
    // Qt drops a move to where the pointer already is; step through the row below the band.
    QTest::mouseMove(bar, QPoint(p.x(), bar->height() - 1));
    QTest::mouseMove(bar, p);
}
