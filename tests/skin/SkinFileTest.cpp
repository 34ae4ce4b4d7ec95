#include "skin/SkinFile.h"
#include "TestSkins.h"
#include "skin/SkinCache.h"
#include "skin/clsBitmap.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skin;

namespace {

void putU32(QByteArray& b, qsizetype at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xff);
}

// A bag of two small entries, laid out by hand so offsets are known.
PropertyBag smallBag() {
    PropertyBag bag;
    bag.writeInteger(u"XOFFSET"_qs, 7);
    bag.writePicture(u"CLOSE"_qs, testskin::png(QSize(3, 2), Qt::blue));
    bag.writeColour(u"BackColor"_qs, 0x00DC7E5A);
    return bag;
}

} // namespace

TEST(SkinFile, ReadsEachKindBackFromAFile) {
    QTemporaryDir dir;
    PropertyBag bag;
    bag.writePicture(u"LEFTTOP"_qs, testskin::png(QSize(5, 9), Qt::red));
    bag.writePicture(u"LEFTMID"_qs, testskin::bmp(QSize(4, 2), Qt::green));
    bag.writeInteger(u"XOFFSET"_qs, -32768);
    bag.writeInteger(u"FROMTOP"_qs, 32767);
    bag.writeColour(u"FORECOLOR"_qs, 0x00DC7E5A);
    bag.writeColour(u"PARENTBACKCOLOR"_qs, 0x8000000F);
    const QString path = testskin::write(dir.filePath(u"a.jss"_qs), bag);

    const PropertyBag read = ReadSkinFile(path);
    ASSERT_EQ(read.count(), 6);
    const auto top = read.readPicture(u"LEFTTOP"_qs);
    ASSERT_TRUE(top);
    EXPECT_EQ(top->size(), QSize(5, 9));
    EXPECT_EQ(QColor(top->pixel(0, 0)), QColor(Qt::red));
    const auto mid = read.readPicture(u"LEFTMID"_qs);
    ASSERT_TRUE(mid);
    EXPECT_EQ(mid->size(), QSize(4, 2));
    EXPECT_EQ(read.readInteger(u"XOFFSET"_qs), qint16(-32768));
    EXPECT_EQ(read.readInteger(u"FROMTOP"_qs), qint16(32767));
    EXPECT_EQ(read.readColour(u"FORECOLOR"_qs), 0x00DC7E5Au);
    EXPECT_EQ(read.readColour(u"PARENTBACKCOLOR"_qs), 0x8000000Fu);
    // Written again, the file is the same bytes.
    EXPECT_EQ(serializeSkin(read), serializeSkin(bag));
}

TEST(SkinFile, KeysIgnoreCaseAndMissingOrMistypedReadsFail) {
    const PropertyBag bag = parseSkin(serializeSkin(smallBag()));
    ASSERT_EQ(bag.count(), 3);
    EXPECT_EQ(bag.readColour(u"backcolor"_qs), 0x00DC7E5Au);
    EXPECT_EQ(bag.readColour(u"BACKCOLOR"_qs), 0x00DC7E5Au);
    EXPECT_EQ(bag.readInteger(u"xOffSet"_qs), qint16(7));
    EXPECT_TRUE(bag.readPicture(u"close"_qs));

    EXPECT_FALSE(bag.readInteger(u"YOFFSET"_qs));
    EXPECT_FALSE(bag.readPicture(u"CLOSE2"_qs));
    EXPECT_FALSE(bag.readColour(u"XOFFSET"_qs)); // integer, not a colour
    EXPECT_FALSE(bag.readInteger(u"CLOSE"_qs));  // picture, not an integer
    EXPECT_FALSE(bag.readPicture(u"BackColor"_qs));

    // The caller's pattern: a failed read leaves the previous value alone.
    qint16 yoffset = 42;
    if (const auto v = bag.readInteger(u"YOFFSET"_qs))
        yoffset = *v;
    EXPECT_EQ(yoffset, 42);

    // Writing a key in another case replaces the entry in place.
    PropertyBag w = bag;
    w.writeColour(u"BACKCOLOR"_qs, 1);
    EXPECT_EQ(w.count(), 3);
    EXPECT_EQ(w.readColour(u"backcolor"_qs), 1u);
    EXPECT_EQ(w.entries().back().key, u"BACKCOLOR"_qs);
}

TEST(SkinFile, PicturesMustBeDecodablePngOrBmpOfSaneSize) {
    PropertyBag bag;
    bag.writePicture(u"A"_qs, QByteArray("not a picture at all"));
    bag.writePicture(u"B"_qs, testskin::png(QSize(3, 3), Qt::red).left(30)); // cut short
    bag.writePicture(u"C"_qs, QByteArray());
    // A BMP header claiming 100000 x 100000 pixels over a few bytes of data.
    QByteArray huge = testskin::bmp(QSize(1, 1), Qt::red);
    putU32(huge, 18, 100000);
    putU32(huge, 22, 100000);
    bag.writePicture(u"D"_qs, huge);
    const PropertyBag read = parseSkin(serializeSkin(bag));
    ASSERT_EQ(read.count(), 4);
    for (const char* k : {"A", "B", "C", "D"}) {
        EXPECT_TRUE(read.readPictureBytes(QString::fromLatin1(k))) << k;
        EXPECT_FALSE(read.readPicture(QString::fromLatin1(k))) << k;
    }
}

TEST(SkinFile, EveryTruncationReadsAsNothing) {
    const QByteArray file = serializeSkin(testskin::completeBag());
    ASSERT_GT(file.size(), 2048);
    std::vector<qsizetype> cuts;
    for (qsizetype n = 0; n < 2048; ++n)
        cuts.push_back(n);
    for (qsizetype n = 2048; n < file.size(); n += 97)
        cuts.push_back(n);
    cuts.push_back(file.size() - 1);
    for (qsizetype n : cuts) {
        EXPECT_TRUE(parseSkin(file.left(n)).isEmpty()) << "cut at " << n;
        // The same cut inside a wrapper that agrees with it: the bag itself is incomplete.
        const QByteArray inner = file.mid(12, std::max<qsizetype>(0, n - 12));
        EXPECT_TRUE(parseSkin(wrapVariant(inner)).isEmpty()) << "bag cut at " << n;
    }
    EXPECT_EQ(parseSkin(file).count(), 33);
}

TEST(SkinFile, LengthsAndCountsBeyondTheFileAndOtherDamageReadAsNothing) {
    const QByteArray good = serializeSkin(smallBag());
    ASSERT_EQ(parseSkin(good).count(), 3);
    // Layout: wrapper 12 bytes, "JSSB" at 12, version 16, count 18, first key length 20.
    const qsizetype firstEntry = 20;
    auto damaged = [&](auto change) {
        QByteArray b = good;
        change(b);
        return parseSkin(b);
    };
    EXPECT_TRUE(damaged([](QByteArray& b) { putU32(b, 4, 0xffffffffu); }).isEmpty());
    EXPECT_TRUE(damaged([](QByteArray& b) { b[0] = 0x08; }).isEmpty()); // a string variant
    EXPECT_TRUE(damaged([](QByteArray& b) { b[2] = 2; }).isEmpty());    // two dimensions
    EXPECT_TRUE(damaged([](QByteArray& b) { b[8] = 1; }).isEmpty());    // lower bound 1
    EXPECT_TRUE(damaged([](QByteArray& b) { b[12] = 'X'; }).isEmpty()); // magic
    EXPECT_TRUE(damaged([](QByteArray& b) { b[16] = 2; }).isEmpty());   // version
    EXPECT_TRUE(damaged([](QByteArray& b) {
                    b[18] = char(0xff);
                    b[19] = char(0xff);
                }).isEmpty());
    EXPECT_TRUE(damaged([](QByteArray& b) { b[18] = 2; }).isEmpty()); // trailing entry
    EXPECT_TRUE(damaged([&](QByteArray& b) {
                    b[firstEntry] = char(0xff);
                    b[firstEntry + 1] = char(0xff);
                }).isEmpty());
    EXPECT_TRUE(damaged([&](QByteArray& b) { b[firstEntry] = 0; }).isEmpty()); // empty key
    // "XOFFSET" then kind: make it an unknown kind.
    EXPECT_TRUE(damaged([&](QByteArray& b) { b[firstEntry + 2 + 7] = 9; }).isEmpty());
    // Second entry "CLOSE": picture length at 20+2+7+1+2 + 2+5+1.
    const qsizetype picLen = firstEntry + 12 + 8;
    EXPECT_TRUE(damaged([&](QByteArray& b) { putU32(b, picLen, 0xfffffff0u); }).isEmpty());
    // A key that is not UTF-8.
    EXPECT_TRUE(damaged([&](QByteArray& b) { b[firstEntry + 2] = char(0xC3); }).isEmpty());
    // Two keys equal but for case.
    PropertyBag dup;
    dup.writeInteger(u"A"_qs, 1);
    dup.writeInteger(u"B"_qs, 2);
    QByteArray d = serializeSkin(dup);
    d[12 + 8 + 2] = 'a';
    d[12 + 8 + 2 + 1 + 1 + 2 + 2] = 'A';
    EXPECT_TRUE(parseSkin(d).isEmpty());
    // Bytes after the one stored variant are not the bag's business.
    EXPECT_EQ(parseSkin(good + QByteArray(100, 'z')).count(), 3);
}

TEST(SkinFile, ReadingMissingOrOddFilesGivesAnEmptyBag) {
    QTemporaryDir dir;
    EXPECT_TRUE(ReadSkinFile(QString()).isEmpty());
    EXPECT_TRUE(ReadSkinFile(dir.filePath(u"absent.jss"_qs)).isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath(u"absent.jss"_qs))); // never created
    EXPECT_TRUE(ReadSkinFile(dir.path()).isEmpty());             // a folder
    QFile empty(dir.filePath(u"empty.jss"_qs));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_TRUE(ReadSkinFile(empty.fileName()).isEmpty());
}

TEST(SkinColours, RgbAndSystemColours) {
    EXPECT_EQ(toQColor(0x00DC7E5A), QColor(90, 126, 220));
    EXPECT_EQ(fromQColor(QColor(90, 126, 220)), 0x00DC7E5Au);
    QPalette pal;
    pal.setColor(QPalette::Active, QPalette::Button, QColor(1, 2, 3));
    pal.setColor(QPalette::Active, QPalette::Highlight, QColor(4, 5, 6));
    pal.setColor(QPalette::Active, QPalette::Base, QColor(7, 8, 9));
    EXPECT_EQ(toQColor(0x8000000F, pal), QColor(1, 2, 3)); // button face
    EXPECT_EQ(toQColor(0x8000000D, pal), QColor(4, 5, 6)); // highlight
    EXPECT_EQ(toQColor(0x80000005, pal), QColor(7, 8, 9)); // window
    EXPECT_FALSE(toQColor(0x800000FF, pal).isValid());
    EXPECT_FALSE(toQColor(0x80000019, pal).isValid()); // index 25 was never assigned
}

// ---- clsBitmap ----

TEST(clsBitmap, EmptyHolderReportsZerosAndDrawsNothing) {
    clsBitmap b;
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 0);
    EXPECT_EQ(b.hdc(), 0u);
    QImage target(4, 4, QImage::Format_ARGB32);
    target.fill(Qt::red);
    QPainter p(&target);
    b.Paint(p, 0, 0);
    p.end();
    EXPECT_EQ(target.pixelColor(0, 0), QColor(Qt::red));

    EXPECT_FALSE(b.LoadResource(QPixmap()));
    EXPECT_FALSE(b.LoadResource(QImage()));
    EXPECT_EQ(b.hdc(), 0u);
    EXPECT_EQ(b.Width(), 0);
}

TEST(clsBitmap, AdoptingReleasesThePreviousBitmapAndFreeKeepsTheSize) {
    QPixmap first(5, 3);
    first.fill(Qt::green);
    clsBitmap b;
    ASSERT_TRUE(b.LoadResource(first));
    EXPECT_FALSE(first.isDetached()); // shared with the holder
    const quintptr h1 = b.hdc();
    EXPECT_NE(h1, 0u);
    EXPECT_EQ(b.Width(), 5);
    EXPECT_EQ(b.Height(), 3);

    QImage second(7, 2, QImage::Format_RGB32);
    second.fill(Qt::blue);
    ASSERT_TRUE(b.LoadResource(second));
    EXPECT_TRUE(first.isDetached()); // the holder let go of it
    EXPECT_NE(b.hdc(), 0u);
    EXPECT_NE(b.hdc(), h1);
    EXPECT_EQ(b.Width(), 7);

    b.FreeBitmap();
    EXPECT_EQ(b.hdc(), 0u);
    EXPECT_EQ(b.Width(), 7);
    EXPECT_EQ(b.Height(), 2);
    b.FreeBitmap(); // twice is harmless

    // A failed load first frees what was held.
    ASSERT_TRUE(b.LoadResource(first));
    EXPECT_FALSE(b.LoadResource(QPixmap()));
    EXPECT_EQ(b.hdc(), 0u);
    EXPECT_TRUE(first.isDetached());
}

TEST(clsBitmap, PaintCopiesTheWholePieceUnscaledAndUnblended) {
    QImage piece(3, 2, QImage::Format_ARGB32);
    piece.fill(QColor(0, 0, 255, 128));
    piece.setPixelColor(2, 1, QColor(0, 255, 0));
    clsBitmap b;
    ASSERT_TRUE(b.LoadResource(piece));
    QImage target(6, 6, QImage::Format_ARGB32);
    target.fill(Qt::red);
    QPainter p(&target);
    b.Paint(p, 2, 3);
    b.Paint(p, 5, 5); // clipped at the edge
    p.end();
    EXPECT_EQ(target.pixelColor(1, 3), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(2, 3), QColor(0, 0, 255, 128)); // copied, not blended
    EXPECT_EQ(target.pixelColor(4, 4), QColor(0, 255, 0));
    EXPECT_EQ(target.pixelColor(5, 3), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(2, 5), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(5, 5), QColor(0, 0, 255, 128));
}

TEST(clsBitmap, LoadFileTakesPngAndBmpAndRefusesTheRest) {
    QTemporaryDir dir;
    auto put = [&](const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    clsBitmap b;
    EXPECT_TRUE(b.LoadFile(put(u"a.png"_qs, testskin::png(QSize(8, 4), Qt::red))));
    EXPECT_EQ(b.Width(), 8);
    EXPECT_TRUE(b.LoadFile(put(u"b.bmp"_qs, testskin::bmp(QSize(2, 9), Qt::red))));
    EXPECT_EQ(b.Height(), 9);
    EXPECT_FALSE(b.LoadFile(put(u"c.png"_qs, "hello")));
    EXPECT_EQ(b.hdc(), 0u);
    EXPECT_FALSE(b.LoadFile(dir.filePath(u"missing.bmp"_qs)));
    EXPECT_FALSE(b.LoadFile(QString()));
}

// ---- the shared cache of decoded skins ----

class SkinCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        SkinCache::setEnabled(true);
        SkinCache::clear();
        path = testskin::write(dir.filePath(u"s.jss"_qs), testskin::completeBag());
    }
    void TearDown() override { SkinCache::setEnabled(true); }
    QTemporaryDir dir;
    QString path;
};

TEST_F(SkinCacheTest, SameFileIsReadOnceAndChangedFileAtOnce) {
    const int reads = SkinCache::fileReads();
    const auto a = SkinCache::load(path);
    const auto b = SkinCache::load(path);
    EXPECT_EQ(a, b);
    EXPECT_EQ(SkinCache::fileReads(), reads + 1);
    ASSERT_TRUE(a->picture(u"TOPLEFT"_qs));
    EXPECT_EQ(a->picture(u"topleft"_qs)->cacheKey(), a->picture(u"TOPLEFT"_qs)->cacheKey());

    // Another size: read again.
    PropertyBag bag = testskin::completeBag();
    bag.writeInteger(u"XOFFSET"_qs, 99);
    bag.writeInteger(u"EXTRA"_qs, 1);
    testskin::write(path, bag);
    const auto c = SkinCache::load(path);
    EXPECT_EQ(c->integer(u"XOFFSET"_qs), qint16(99));

    // Same size, new time: read again.
    bag.writeInteger(u"XOFFSET"_qs, 98);
    testskin::write(path, bag);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    f.close();
    EXPECT_EQ(SkinCache::load(path)->integer(u"XOFFSET"_qs), qint16(98));

    // Removed: nothing there.
    QFile::remove(path);
    EXPECT_TRUE(SkinCache::load(path)->isEmpty());
}

TEST_F(SkinCacheTest, DisabledCacheReadsEveryTimeAndBadFilesGiveEmptySkins) {
    SkinCache::setEnabled(false);
    const int reads = SkinCache::fileReads();
    const auto a = SkinCache::load(path);
    const auto b = SkinCache::load(path);
    EXPECT_NE(a, b);
    EXPECT_EQ(SkinCache::fileReads(), reads + 2);

    EXPECT_TRUE(SkinCache::load(QString())->isEmpty());
    EXPECT_TRUE(SkinCache::load(dir.filePath(u"none.jss"_qs))->isEmpty());
    const auto s = SkinCache::load(path);
    EXPECT_FALSE(s->picture(u"NOPE"_qs));
    EXPECT_FALSE(s->color(u"XOFFSET"_qs));
    EXPECT_EQ(s->color(u"FORECOLOR"_qs), toQColor(*s->colour(u"FORECOLOR"_qs)));
}
