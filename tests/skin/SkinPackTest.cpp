#include "skinpack/SkinPack.h"
#include "TestSkins.h"
#include "skin/SkinFile.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
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

const QString kSkins = QStringLiteral(DV_SKINS_DIR "/");
const QStringList kShipped = {QStringLiteral("16"), QStringLiteral("silver")};

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
        ToolRun r = tool({u"pack"_qs, kSkins + name, a});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QStringList lines = tool({u"list"_qs, a}).out.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 33);
        EXPECT_TRUE(lines[0].startsWith(u"LEFTTOP\tpicture\t"_qs)) << lines[0].toStdString();
        EXPECT_EQ(lines[24], u"XOFFSET\tinteger\t12"_qs);
        EXPECT_TRUE(lines[31].startsWith(u"BackColor\tcolour\t#"_qs));

        ASSERT_EQ(tool({u"unpack"_qs, a, out}).code, 0);
        const QStringList pngs = QDir(kSkins + name).entryList({u"*.png"_qs}, QDir::Files);
        ASSERT_EQ(pngs.size(), 24);
        for (const QString& png : pngs)
            EXPECT_EQ(bytesOf(out + u'/' + png), bytesOf(kSkins + name + u'/' + png))
                << png.toStdString();
        ASSERT_EQ(tool({u"pack"_qs, out, b}).code, 0);
        EXPECT_EQ(bytesOf(a), bytesOf(b));
    }
}

// What the controls assume of a skin's pieces, checked on the skins we ship.
TEST(SkinPack, ShippedSkinsAreCompleteAndFitTogether) {
    for (const QString& name : kShipped) {
        SCOPED_TRACE(name.toStdString());
        QTemporaryDir tmp;
        ASSERT_TRUE(pack(kSkins + name, tmp.filePath(u"s.jss"_qs)).ok);
        const skin::PropertyBag bag = skin::ReadSkinFile(tmp.filePath(u"s.jss"_qs));
        ASSERT_EQ(bag.count(), 33);
        auto pic = [&](const QString& key) {
            const QImage img = bag.readPicture(key).value_or(QImage());
            EXPECT_FALSE(img.isNull()) << key.toStdString();
            EXPECT_FALSE(img.hasAlphaChannel()) << key.toStdString() << " must be opaque";
            return img;
        };
        auto sameSize = [&](const QStringList& keys, auto part) {
            for (const QString& k : keys)
                EXPECT_EQ(part(pic(k).size()), part(pic(keys[0]).size())) << k.toStdString();
            return part(pic(keys[0]).size());
        };
        const auto w = [](QSize s) { return s.width(); };
        const auto h = [](QSize s) { return s.height(); };
        const auto wh = [](QSize s) { return s; };
        const int caption = sameSize({u"TOPLEFT"_qs, u"TOPMID"_qs, u"TOPRIGHT"_qs}, h);
        EXPECT_GE(caption, 24);
        EXPECT_LE(caption, 36);
        const QStringList buttons = {u"CLOSE"_qs, u"CLOSE2"_qs, u"CLOSE3"_qs, u"MAX"_qs,
                                     u"MAX2"_qs,  u"MAX3"_qs,   u"RES1"_qs,   u"RES2"_qs,
                                     u"RES3"_qs,  u"MIN"_qs,    u"MIN2"_qs,   u"MIN3"_qs};
        const QSize button = sameSize(buttons + QStringList{u"ONTOP1"_qs, u"ONTOP3"_qs}, wh);
        EXPECT_LE(*bag.readInteger(u"FROMTOP"_qs) + button.height(), caption);
        EXPECT_GT(sameSize({u"LEFTTOP"_qs, u"LEFTMID"_qs, u"RIGHTTOP"_qs, u"RIGHTMID"_qs}, w), 0);
        sameSize({u"BOTTOM"_qs, u"LEFTBOT"_qs, u"RIGHTBOT"_qs}, h);
        // Normal, hover and pressed images differ from one another.
        for (qsizetype i = 0; i < buttons.size(); i += 3) {
            EXPECT_NE(pic(buttons[i]), pic(buttons[i + 1])) << buttons[i].toStdString();
            EXPECT_NE(pic(buttons[i + 1]), pic(buttons[i + 2])) << buttons[i].toStdString();
            EXPECT_NE(pic(buttons[i]), pic(buttons[i + 2])) << buttons[i].toStdString();
        }
        EXPECT_NE(pic(u"ONTOP1"_qs), pic(u"ONTOP3"_qs));
    }
}

TEST(SkinPack, RefusesIncompleteOrWrongFoldersNamingWhatIsWrong) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(u"s"_qs);
    const QString out = tmp.filePath(u"o.jss"_qs);
    makeFolder(dir);
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
    iniWith({});
    putFile(dir + u"/FROMTOP.png"_qs, testskin::png(QSize(2, 2), Qt::red));
    r = pack(dir, out);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(u"FROMTOP"_qs));
    QFile::remove(dir + u"/FROMTOP.png"_qs);
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

    // BMP pictures come back out as BMP; system colours keep their form.
    skin::PropertyBag b2;
    b2.writePicture(u"X"_qs, testskin::bmp(QSize(3, 3), Qt::red));
    b2.writeColour(u"C"_qs, skin::kSystemColour | 15);
    skin::WriteSkinFile(tmp.filePath(u"b.jss"_qs), b2);
    ASSERT_TRUE(unpack(tmp.filePath(u"b.jss"_qs), tmp.filePath(u"u"_qs)).ok);
    EXPECT_EQ(bytesOf(tmp.filePath(u"u/X.bmp"_qs)), testskin::bmp(QSize(3, 3), Qt::red));
    EXPECT_TRUE(
        QString::fromUtf8(bytesOf(tmp.filePath(u"u/skin.ini"_qs))).contains(u"C = system:15"_qs));
}
