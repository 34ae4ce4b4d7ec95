#include "skin/SkinFile.h"
#include "skin/SkinCache.h"
#include "skin/clsBitmap.h"
#include "support/Skins.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skin;

namespace {

// Entries in a known order, so the damage test can address their bytes.
PropertyBag smallBag() {
    PropertyBag bag;
    bag.writeInteger(u"XOFFSET"_s, 7);
    bag.writePicture(u"CLOSE"_s, testskin::png(QSize(3, 2), Qt::blue));
    bag.writeColour(u"BackColor"_s, 0x00DC7E5A);
    return bag;
}

} // namespace

TEST(SkinFile, ReadsEachKindBackFromAFileAndNothingFromOddFiles) {
    QTemporaryDir dir;
    PropertyBag bag;
    bag.writePicture(u"LEFTTOP"_s, testskin::png(QSize(5, 9), Qt::red));
    bag.writePicture(u"LEFTMID"_s, testskin::bmp(QSize(4, 2), Qt::green));
    bag.writeInteger(u"XOFFSET"_s, -32768);
    bag.writeInteger(u"FROMTOP"_s, 32767);
    bag.writeColour(u"PARENTBACKCOLOR"_s, 0x8000000F);
    const PropertyBag read = ReadSkinFile(testskin::write(dir.filePath(u"a.jss"_s), bag));
    ASSERT_EQ(read.count(), 5);
    const auto top = read.readPicture(u"LEFTTOP"_s);
    ASSERT_TRUE(top);
    EXPECT_EQ(top->size(), QSize(5, 9));
    EXPECT_EQ(QColor(top->pixel(0, 0)), QColor(Qt::red));
    EXPECT_EQ(read.readPicture(u"LEFTMID"_s).value_or(QImage()).size(), QSize(4, 2));
    EXPECT_EQ(read.readInteger(u"XOFFSET"_s), qint16(-32768));
    EXPECT_EQ(read.readInteger(u"FROMTOP"_s), qint16(32767));
    EXPECT_EQ(read.readColour(u"PARENTBACKCOLOR"_s), 0x8000000Fu);
    EXPECT_EQ(serializeSkin(read), serializeSkin(bag));

    // Missing or odd files: empty, and nothing created.
    const QString absent = dir.filePath(u"absent.jss"_s);
    EXPECT_TRUE(ReadSkinFile(absent).isEmpty());
    EXPECT_FALSE(QFile::exists(absent));
    EXPECT_TRUE(ReadSkinFile(QString()).isEmpty());
    EXPECT_TRUE(ReadSkinFile(dir.path()).isEmpty());
    ASSERT_TRUE(QFile(absent).open(QIODevice::WriteOnly));
    EXPECT_TRUE(ReadSkinFile(absent).isEmpty());
}

TEST(SkinFile, KeysIgnoreCaseAndMissingOrMistypedReadsFail) {
    PropertyBag bag = parseSkin(serializeSkin(smallBag()));
    ASSERT_EQ(bag.count(), 3);
    EXPECT_EQ(bag.readColour(u"backcolor"_s), 0x00DC7E5Au);
    EXPECT_EQ(bag.readInteger(u"xOffSet"_s), qint16(7));
    EXPECT_TRUE(bag.readPicture(u"close"_s));

    EXPECT_FALSE(bag.readInteger(u"YOFFSET"_s));
    EXPECT_FALSE(bag.readColour(u"XOFFSET"_s));
    EXPECT_FALSE(bag.readInteger(u"CLOSE"_s));
    EXPECT_FALSE(bag.readPicture(u"BackColor"_s));

    // Another case replaces the entry in place instead of adding one.
    bag.writeColour(u"BACKCOLOR"_s, 1);
    EXPECT_EQ(bag.count(), 3);
    EXPECT_EQ(bag.readColour(u"backcolor"_s), 1u);
    EXPECT_EQ(bag.entries().back().key, u"BACKCOLOR"_s);
}

TEST(SkinFile, UndecodableOrHugePicturesFailTheirRead) {
    PropertyBag bag;
    bag.writePicture(u"A"_s, QByteArray("not a picture at all"));
    bag.writePicture(u"B"_s, testskin::png(QSize(3, 3), Qt::red).left(30));
    bag.writePicture(u"C"_s, QByteArray());
    // A BMP header claiming 100000 x 100000 pixels over a few bytes.
    QByteArray huge = testskin::bmp(QSize(1, 1), Qt::red);
    huge.replace(18, 8, QByteArray("\xa0\x86\x01\0\xa0\x86\x01\0", 8));
    bag.writePicture(u"D"_s, huge);
    const PropertyBag read = parseSkin(serializeSkin(bag));
    ASSERT_EQ(read.count(), 4);
    for (const QString& k : {u"A"_s, u"B"_s, u"C"_s, u"D"_s}) {
        EXPECT_TRUE(read.readPictureBytes(k)) << k.toStdString();
        EXPECT_FALSE(read.readPicture(k)) << k.toStdString();
    }
}

TEST(SkinFile, EveryTruncationReadsAsNothing) {
    const QByteArray file = serializeSkin(testskin::completeBag());
    ASSERT_GT(file.size(), 2048);
    for (qsizetype n = 0; n < file.size(); n += n < 2048 ? 1 : 97) {
        EXPECT_TRUE(parseSkin(file.left(n)).isEmpty()) << "cut at " << n;
        // A wrapper that agrees with the cut: the bag itself is incomplete.
        const QByteArray inner = file.mid(12, std::max<qsizetype>(0, n - 12));
        EXPECT_TRUE(parseSkin(wrapVariant(inner)).isEmpty()) << "bag cut at " << n;
    }
    EXPECT_TRUE(parseSkin(file.left(file.size() - 1)).isEmpty());
    EXPECT_EQ(parseSkin(file).count(), 33);
}

TEST(SkinFile, LengthsAndCountsBeyondTheFileAndOtherDamageReadAsNothing) {
    const QByteArray good = serializeSkin(smallBag());
    ASSERT_EQ(parseSkin(good).count(), 3);
    // Wrapper: type 0, dimensions 2, length 4, lower bound 8. Bag: magic 12, version 16,
    // count 18, then "XOFFSET" (length 20, kind 29) and "CLOSE" (picture length 40).
    auto damaged = [&](qsizetype at, QByteArray bytes) {
        QByteArray b = good;
        b.replace(at, bytes.size(), bytes);
        return parseSkin(b).isEmpty();
    };
    EXPECT_TRUE(damaged(4, "\xff\xff\xff\xff"));
    EXPECT_TRUE(damaged(0, "\x08") && damaged(2, "\x02") && damaged(8, "\x01"));
    EXPECT_TRUE(damaged(12, "X") && damaged(16, "\x02"));
    EXPECT_TRUE(damaged(18, "\xff\xff") && damaged(18, "\x02"));
    EXPECT_TRUE(damaged(20, "\xff\xff") && damaged(20, QByteArray(1, 0)));
    EXPECT_TRUE(damaged(29, "\x09") && damaged(40, "\xf0\xff\xff\xff"));
    EXPECT_TRUE(damaged(22, "\xc3")); // a key that is not UTF-8
    // Two keys equal but for case.
    PropertyBag dup;
    dup.writeInteger(u"A"_s, 1);
    dup.writeInteger(u"B"_s, 2);
    QByteArray d = serializeSkin(dup);
    d[22] = 'a';
    d[28] = 'A';
    EXPECT_TRUE(parseSkin(d).isEmpty());
    // Bytes after the stored variant are not the bag's business.
    EXPECT_EQ(parseSkin(good + QByteArray(100, 'z')).count(), 3);
}

TEST(SkinColours, RgbAndSystemColours) {
    EXPECT_EQ(toQColor(0x00DC7E5A), QColor(90, 126, 220));
    EXPECT_EQ(fromQColor(QColor(90, 126, 220)), 0x00DC7E5Au);
    QPalette pal;
    pal.setColor(QPalette::Active, QPalette::Button, QColor(1, 2, 3));
    pal.setColor(QPalette::Active, QPalette::Base, QColor(7, 8, 9));
    EXPECT_EQ(toQColor(0x8000000F, pal), QColor(1, 2, 3)); // button face
    EXPECT_EQ(toQColor(0x80000005, pal), QColor(7, 8, 9)); // window
    EXPECT_FALSE(toQColor(0x800000FF, pal).isValid());
    EXPECT_FALSE(toQColor(0x80000019, pal).isValid()); // index 25 was never assigned
}

TEST(clsBitmap, HoldsOneBitmapAtATimeAndFreeKeepsTheSize) {
    clsBitmap b;
    EXPECT_FALSE(b.LoadResource(QPixmap()));
    EXPECT_FALSE(b.LoadResource(QImage()));
    EXPECT_EQ(b.hdc(), 0u);
    EXPECT_EQ(b.Width(), 0);

    QPixmap first(5, 3);
    first.fill(Qt::green);
    ASSERT_TRUE(b.LoadResource(first));
    EXPECT_FALSE(first.isDetached()); // shared with the holder
    const quintptr h1 = b.hdc();
    EXPECT_NE(h1, 0u);
    EXPECT_EQ(b.Height(), 3);
    ASSERT_TRUE(b.LoadResource(QImage(7, 2, QImage::Format_RGB32)));
    EXPECT_TRUE(first.isDetached()); // released
    EXPECT_NE(b.hdc(), 0u);
    EXPECT_NE(b.hdc(), h1);
    b.FreeBitmap();
    EXPECT_EQ(b.hdc(), 0u);
    EXPECT_EQ(b.Width(), 7);
    EXPECT_EQ(b.Height(), 2);
    b.FreeBitmap();

    // A failed load first frees what was held.
    ASSERT_TRUE(b.LoadResource(first));
    EXPECT_FALSE(b.LoadResource(QPixmap()));
    EXPECT_EQ(b.hdc(), 0u);
    EXPECT_TRUE(first.isDetached());

    QTemporaryDir dir;
    auto put = [&](const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    EXPECT_TRUE(b.LoadFile(put(u"a.png"_s, testskin::png(QSize(8, 4), Qt::red))));
    EXPECT_EQ(b.Width(), 8);
    EXPECT_TRUE(b.LoadFile(put(u"b.bmp"_s, testskin::bmp(QSize(2, 9), Qt::red))));
    EXPECT_EQ(b.Height(), 9);
    EXPECT_FALSE(b.LoadFile(put(u"c.png"_s, "hello")));
    EXPECT_EQ(b.hdc(), 0u);
    EXPECT_FALSE(b.LoadFile(dir.filePath(u"missing.bmp"_s)));
}

TEST(clsBitmap, PaintCopiesTheWholePieceUnscaledAndUnblended) {
    QImage piece(3, 2, QImage::Format_ARGB32);
    piece.fill(QColor(0, 0, 255, 128));
    piece.setPixelColor(2, 1, QColor(0, 255, 0));
    clsBitmap empty, b;
    ASSERT_TRUE(b.LoadResource(piece));
    QImage target(6, 6, QImage::Format_ARGB32);
    target.fill(Qt::red);
    QPainter p(&target);
    empty.Paint(p, 0, 0);
    b.Paint(p, 2, 3);
    b.Paint(p, 5, 5); // clipped at the edge
    p.end();
    EXPECT_EQ(target.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(1, 3), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(2, 3), QColor(0, 0, 255, 128)); // copied, not blended
    EXPECT_EQ(target.pixelColor(4, 4), QColor(0, 255, 0));
    EXPECT_EQ(target.pixelColor(5, 3), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(2, 5), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(5, 5), QColor(0, 0, 255, 128));
}

TEST(SkinCache, SameFileIsReadOnceAndChangedFileAtOnce) {
    QTemporaryDir dir;
    const QString path = testskin::write(dir.filePath(u"s.jss"_s), testskin::completeBag());
    SkinCache::clear();
    const int reads = SkinCache::fileReads();
    const auto a = SkinCache::load(path);
    EXPECT_EQ(SkinCache::load(path), a);
    EXPECT_EQ(SkinCache::fileReads(), reads + 1);
    ASSERT_TRUE(a->picture(u"TOPLEFT"_s));
    EXPECT_EQ(a->picture(u"topleft"_s)->cacheKey(), a->picture(u"TOPLEFT"_s)->cacheKey());

    // Rewritten at the same size: the new time alone makes it read again.
    PropertyBag bag = testskin::completeBag();
    bag.writeInteger(u"XOFFSET"_s, 98);
    testskin::write(path, bag);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    f.close();
    EXPECT_EQ(SkinCache::load(path)->integer(u"XOFFSET"_s), qint16(98));
    EXPECT_FALSE(SkinCache::load(path)->color(u"XOFFSET"_s));

    // Off: every load reads the file.
    SkinCache::setEnabled(false);
    EXPECT_NE(SkinCache::load(path), SkinCache::load(path));
    EXPECT_EQ(SkinCache::fileReads(), reads + 4);
    SkinCache::setEnabled(true);

    QFile::remove(path);
    EXPECT_TRUE(SkinCache::load(path)->isEmpty());
    EXPECT_TRUE(SkinCache::load(QString())->isEmpty());
}
