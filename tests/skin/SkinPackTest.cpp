#include "skinpack/SkinPack.h"
#include "TestSkins.h"
#include "skin/SkinFile.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>

using namespace skinpack;

namespace {

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void putFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

struct ToolRun {
    int code;
    QString out, err;
};

ToolRun tool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(DV_SKIN_TOOL), args);
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

const QStringList kShipped = {QStringLiteral("16"), QStringLiteral("silver")};

QString shipped(const QString& name) {
    return QStringLiteral(DV_SKINS_DIR "/") + name;
}

// A complete skin folder made from the test bag.
void makeFolder(const QString& dir) {
    QDir().mkpath(dir);
    skin::PropertyBag bag = testskin::completeBag();
    for (const auto& e : bag.entries())
        if (e.kind == skin::Kind::Picture)
            putFile(dir + u'/' + e.key + u".png"_qs, e.picture);
    putFile(dir + u"/skin.ini"_qs, formatIni(bag).toUtf8());
}

} // namespace

TEST(SkinPack, PackListUnpackRoundTripIsByteForByte) {
    QTemporaryDir tmp;
    for (const QString& name : kShipped) {
        SCOPED_TRACE(name.toStdString());
        const QString a = tmp.filePath(name + u"-a.jss"_qs);
        const QString b = tmp.filePath(name + u"-b.jss"_qs);
        const QString out = tmp.filePath(name + u"-out"_qs);
        ToolRun r = tool({u"pack"_qs, shipped(name), a});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        r = tool({u"list"_qs, a});
        ASSERT_EQ(r.code, 0);
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 33);
        EXPECT_TRUE(lines[0].startsWith(u"LEFTTOP\tpicture\t"_qs)) << lines[0].toStdString();
        EXPECT_EQ(lines[24], u"XOFFSET\tinteger\t12"_qs);
        EXPECT_TRUE(lines[31].startsWith(u"BackColor\tcolour\t#"_qs));

        r = tool({u"unpack"_qs, a, out});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QStringList pngs = QDir(shipped(name)).entryList({u"*.png"_qs}, QDir::Files);
        ASSERT_EQ(pngs.size(), 24);
        for (const QString& png : pngs)
            EXPECT_EQ(bytesOf(out + u'/' + png), bytesOf(shipped(name) + u'/' + png))
                << png.toStdString();
        r = tool({u"pack"_qs, out, b});
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(bytesOf(a), bytesOf(b));
    }
}

// What the controls assume of a skin's pieces, checked on the skins we ship.
TEST(SkinPack, ShippedSkinsAreCompleteAndFitTogether) {
    for (const QString& name : kShipped) {
        SCOPED_TRACE(name.toStdString());
        QTemporaryDir tmp;
        ASSERT_TRUE(pack(shipped(name), tmp.filePath(u"s.jss"_qs)).ok);
        const skin::PropertyBag bag = skin::ReadSkinFile(tmp.filePath(u"s.jss"_qs));
        ASSERT_EQ(bag.count(), 33);
        auto size = [&](const char* key) {
            const auto img = bag.readPicture(QString::fromLatin1(key));
            EXPECT_TRUE(img) << key;
            if (img) {
                EXPECT_FALSE(img->hasAlphaChannel()) << key << " must be opaque";
            }
            return img ? img->size() : QSize();
        };
        const int caption = size("TOPLEFT").height();
        EXPECT_GE(caption, 24);
        EXPECT_LE(caption, 36);
        EXPECT_EQ(size("TOPMID").height(), caption);
        EXPECT_EQ(size("TOPRIGHT").height(), caption);
        const QSize button = size("CLOSE");
        for (const char* k : {"CLOSE2", "CLOSE3", "MAX", "MAX2", "MAX3", "RES1", "RES2", "RES3",
                              "MIN", "MIN2", "MIN3", "ONTOP1", "ONTOP3"})
            EXPECT_EQ(size(k), button) << k;
        EXPECT_LE(*bag.readInteger(u"FROMTOP"_qs) + button.height(), caption);
        const int side = size("LEFTTOP").width();
        EXPECT_GT(side, 0);
        EXPECT_EQ(size("LEFTMID").width(), side);
        EXPECT_EQ(size("RIGHTTOP").width(), side);
        EXPECT_EQ(size("RIGHTMID").width(), side);
        EXPECT_EQ(size("LEFTBOT").height(), size("BOTTOM").height());
        EXPECT_EQ(size("RIGHTBOT").height(), size("BOTTOM").height());
        // The normal, hover and pressed images differ from one another.
        for (const auto& trio :
             {std::array{"CLOSE", "CLOSE2", "CLOSE3"}, std::array{"MAX", "MAX2", "MAX3"},
              std::array{"RES1", "RES2", "RES3"}, std::array{"MIN", "MIN2", "MIN3"}}) {
            const auto a = bag.readPicture(QString::fromLatin1(trio[0]));
            const auto b = bag.readPicture(QString::fromLatin1(trio[1]));
            const auto c = bag.readPicture(QString::fromLatin1(trio[2]));
            EXPECT_NE(*a, *b);
            EXPECT_NE(*b, *c);
            EXPECT_NE(*a, *c);
        }
        EXPECT_NE(*bag.readPicture(u"ONTOP1"_qs), *bag.readPicture(u"ONTOP3"_qs));
    }
}

TEST(SkinPack, RefusesIncompleteOrWrongFoldersNamingWhatIsWrong) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(u"s"_qs);
    makeFolder(dir);
    const QString out = tmp.filePath(u"o.jss"_qs);
    ASSERT_TRUE(pack(dir, out).ok);

    QFile::remove(dir + u"/RES3.png"_qs);
    QFile::remove(dir + u"/ONTOP1.png"_qs);
    Result r = pack(dir, tmp.filePath(u"x.jss"_qs));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(u"RES3, ONTOP1"_qs)) << r.error.toStdString();
    EXPECT_FALSE(QFile::exists(tmp.filePath(u"x.jss"_qs)));
    const ToolRun run = tool({u"pack"_qs, dir, tmp.filePath(u"x.jss"_qs)});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains(u"RES3"_qs));

    makeFolder(dir);
    auto iniWith = [&](const QString& extra) {
        putFile(dir + u"/skin.ini"_qs, (formatIni(testskin::completeBag()) + extra).toUtf8());
        return pack(dir, out);
    };
    EXPECT_TRUE(iniWith(u"[more]\n; fine\nEXTRA = -5\nTINT = system:15\n"_qs).ok);
    for (const QString& bad :
         {u"XOFFSET = 3\n"_qs, u"backcolor = #000000\n"_qs, u"A = 40000\n"_qs, u"A = #12345\n"_qs,
          u"A = system:300\n"_qs, u"A = blue\n"_qs, u"just words\n"_qs, u"../x = 1\n"_qs}) {
        r = iniWith(bad);
        EXPECT_FALSE(r.ok) << bad.toStdString();
        EXPECT_TRUE(r.error.contains(u"line"_qs)) << r.error.toStdString();
    }
    // A key of the wrong kind.
    putFile(dir + u"/skin.ini"_qs, formatIni(testskin::completeBag()).toUtf8());
    putFile(dir + u"/FROMTOP.png"_qs, testskin::png(QSize(2, 2), Qt::red));
    r = pack(dir, out);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(u"FROMTOP"_qs));
    QFile::remove(dir + u"/FROMTOP.png"_qs);
    // A picture that is not one.
    putFile(dir + u"/CLOSE.png"_qs, "nope");
    r = pack(dir, out);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(u"CLOSE.png"_qs));
    EXPECT_FALSE(pack(tmp.filePath(u"nowhere"_qs), out).ok);
}

TEST(SkinPack, UnpackAndListRefuseBadFilesAndUnsafeKeys) {
    QTemporaryDir tmp;
    putFile(tmp.filePath(u"junk.jss"_qs), "definitely not a skin");
    ToolRun r = tool({u"list"_qs, tmp.filePath(u"junk.jss"_qs)});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u"not a skin file"_qs)) << r.err.toStdString();
    r = tool({u"unpack"_qs, tmp.filePath(u"missing.jss"_qs), tmp.filePath(u"d"_qs)});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(QDir(tmp.filePath(u"d"_qs)).exists());
    EXPECT_EQ(tool({}).code, 2);
    EXPECT_EQ(tool({u"pack"_qs, u"onlyone"_qs}).code, 2);
    EXPECT_EQ(tool({u"explode"_qs, u"a"_qs, u"b"_qs}).code, 2);

    // A key that would climb out of the target folder.
    skin::PropertyBag bag;
    bag.writePicture(u"../../escape"_qs, testskin::png(QSize(2, 2), Qt::red));
    skin::WriteSkinFile(tmp.filePath(u"evil.jss"_qs), bag);
    const Result u = unpack(tmp.filePath(u"evil.jss"_qs), tmp.filePath(u"a/b"_qs));
    EXPECT_FALSE(u.ok);
    EXPECT_TRUE(u.error.contains(u"escape"_qs));
    EXPECT_FALSE(QFile::exists(tmp.filePath(u"escape.png"_qs)));

    // Pictures stored as BMP come back out as BMP.
    skin::PropertyBag b2;
    b2.writePicture(u"X"_qs, testskin::bmp(QSize(3, 3), Qt::red));
    b2.writeColour(u"C"_qs, skin::kSystemColour | 15);
    skin::WriteSkinFile(tmp.filePath(u"b.jss"_qs), b2);
    ASSERT_TRUE(unpack(tmp.filePath(u"b.jss"_qs), tmp.filePath(u"u"_qs)).ok);
    EXPECT_EQ(bytesOf(tmp.filePath(u"u/X.bmp"_qs)), testskin::bmp(QSize(3, 3), Qt::red));
    EXPECT_TRUE(
        QString::fromUtf8(bytesOf(tmp.filePath(u"u/skin.ini"_qs))).contains(u"C = system:15"_qs));
}
