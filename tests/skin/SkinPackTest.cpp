#include "skinpack/SkinPack.h"
#include "skin/SkinFile.h"
#include "support/Skins.h"

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
const QStringList kShipped = {u"16"_s, u"silver"_s};

void makeFolder(const QString& dir) {
    QDir().mkpath(dir);
    skin::PropertyBag bag = testskin::completeBag();
    for (const auto& e : bag.entries())
        if (e.kind == skin::Kind::Picture)
            putFile(dir + u'/' + e.key + u".png"_s, e.picture);
    putFile(dir + u"/skin.ini"_s, formatIni(bag).toUtf8());
}

} // namespace

TEST(SkinPack, PackListUnpackRoundTripIsByteForByte) {
    QTemporaryDir tmp;
    for (const QString& name : kShipped) {
        SCOPED_TRACE(name.toStdString());
        const QString a = tmp.filePath(name + u"-a.jss"_s);
        const QString b = tmp.filePath(name + u"-b.jss"_s);
        const QString out = tmp.filePath(name + u"-out"_s);
        ToolRun r = tool({u"pack"_s, kSkins + name, a});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QStringList lines = tool({u"list"_s, a}).out.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 33);
        EXPECT_TRUE(lines[0].startsWith(u"LEFTTOP\tpicture\t"_s)) << lines[0].toStdString();
        EXPECT_EQ(lines[24], u"XOFFSET\tinteger\t12"_s);
        EXPECT_TRUE(lines[31].startsWith(u"BackColor\tcolour\t#"_s));

        ASSERT_EQ(tool({u"unpack"_s, a, out}).code, 0);
        const QStringList pngs = QDir(kSkins + name).entryList({u"*.png"_s}, QDir::Files);
        ASSERT_EQ(pngs.size(), 24);
        for (const QString& png : pngs)
            EXPECT_EQ(bytesOf(out + u'/' + png), bytesOf(kSkins + name + u'/' + png))
                << png.toStdString();
        ASSERT_EQ(tool({u"pack"_s, out, b}).code, 0);
        EXPECT_EQ(bytesOf(a), bytesOf(b));
    }
}

// What the controls assume of a skin's pieces, checked on the skins we ship.
TEST(SkinPack, ShippedSkinsAreCompleteAndFitTogether) {
    for (const QString& name : kShipped) {
        SCOPED_TRACE(name.toStdString());
        QTemporaryDir tmp;
        ASSERT_TRUE(pack(kSkins + name, tmp.filePath(u"s.jss"_s)).ok);
        const skin::PropertyBag bag = skin::ReadSkinFile(tmp.filePath(u"s.jss"_s));
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
        const int caption = sameSize({u"TOPLEFT"_s, u"TOPMID"_s, u"TOPRIGHT"_s}, h);
        EXPECT_GE(caption, 24);
        EXPECT_LE(caption, 36);
        const QStringList buttons = {u"CLOSE"_s, u"CLOSE2"_s, u"CLOSE3"_s, u"MAX"_s,
                                     u"MAX2"_s,  u"MAX3"_s,   u"RES1"_s,   u"RES2"_s,
                                     u"RES3"_s,  u"MIN"_s,    u"MIN2"_s,   u"MIN3"_s};
        const QSize button = sameSize(buttons + QStringList{u"ONTOP1"_s, u"ONTOP3"_s}, wh);
        EXPECT_LE(*bag.readInteger(u"FROMTOP"_s) + button.height(), caption);
        EXPECT_GT(sameSize({u"LEFTTOP"_s, u"LEFTMID"_s, u"RIGHTTOP"_s, u"RIGHTMID"_s}, w), 0);
        sameSize({u"BOTTOM"_s, u"LEFTBOT"_s, u"RIGHTBOT"_s}, h);
        // Normal, hover and pressed images differ from one another.
        for (qsizetype i = 0; i < buttons.size(); i += 3) {
            EXPECT_NE(pic(buttons[i]), pic(buttons[i + 1])) << buttons[i].toStdString();
            EXPECT_NE(pic(buttons[i + 1]), pic(buttons[i + 2])) << buttons[i].toStdString();
            EXPECT_NE(pic(buttons[i]), pic(buttons[i + 2])) << buttons[i].toStdString();
        }
        EXPECT_NE(pic(u"ONTOP1"_s), pic(u"ONTOP3"_s));
    }
}

TEST(SkinPack, RefusesIncompleteOrWrongFoldersNamingWhatIsWrong) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(u"s"_s);
    const QString out = tmp.filePath(u"o.jss"_s);
    makeFolder(dir);
    ASSERT_TRUE(pack(dir, out).ok);

    QFile::remove(dir + u"/RES3.png"_s);
    QFile::remove(dir + u"/ONTOP1.png"_s);
    Result r = pack(dir, tmp.filePath(u"x.jss"_s));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(u"RES3, ONTOP1"_s)) << r.error.toStdString();
    EXPECT_FALSE(QFile::exists(tmp.filePath(u"x.jss"_s)));
    const ToolRun run = tool({u"pack"_s, dir, tmp.filePath(u"x.jss"_s)});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains(u"RES3"_s));

    makeFolder(dir);
    auto iniWith = [&](const QString& extra) {
        putFile(dir + u"/skin.ini"_s, (formatIni(testskin::completeBag()) + extra).toUtf8());
        return pack(dir, out);
    };
    EXPECT_TRUE(iniWith(u"[more]\n; fine\nEXTRA = -5\nTINT = system:15\n"_s).ok);
    for (const QString& bad :
         {u"XOFFSET = 3\n"_s, u"backcolor = #000000\n"_s, u"A = 40000\n"_s, u"A = #12345\n"_s,
          u"A = system:300\n"_s, u"A = blue\n"_s, u"just words\n"_s, u"../x = 1\n"_s}) {
        r = iniWith(bad);
        EXPECT_FALSE(r.ok) << bad.toStdString();
        EXPECT_TRUE(r.error.contains(u"line"_s)) << r.error.toStdString();
    }
    // A key of the wrong kind.
    iniWith({});
    putFile(dir + u"/FROMTOP.png"_s, testskin::png(QSize(2, 2), Qt::red));
    r = pack(dir, out);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(u"FROMTOP"_s));
    QFile::remove(dir + u"/FROMTOP.png"_s);
    putFile(dir + u"/CLOSE.png"_s, "nope");
    r = pack(dir, out);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(u"CLOSE.png"_s));
    EXPECT_FALSE(pack(tmp.filePath(u"nowhere"_s), out).ok);
}

TEST(SkinPack, UnpackAndListRefuseBadFilesAndUnsafeKeys) {
    QTemporaryDir tmp;
    putFile(tmp.filePath(u"junk.jss"_s), "definitely not a skin");
    ToolRun r = tool({u"list"_s, tmp.filePath(u"junk.jss"_s)});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u"not a skin file"_s)) << r.err.toStdString();
    r = tool({u"unpack"_s, tmp.filePath(u"missing.jss"_s), tmp.filePath(u"d"_s)});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(QDir(tmp.filePath(u"d"_s)).exists());
    EXPECT_EQ(tool({}).code, 2);
    EXPECT_EQ(tool({u"pack"_s, u"onlyone"_s}).code, 2);
    EXPECT_EQ(tool({u"explode"_s, u"a"_s, u"b"_s}).code, 2);

    // A key that would climb out of the target folder.
    skin::PropertyBag bag;
    bag.writePicture(u"../../escape"_s, testskin::png(QSize(2, 2), Qt::red));
    skin::WriteSkinFile(tmp.filePath(u"evil.jss"_s), bag);
    const Result u = unpack(tmp.filePath(u"evil.jss"_s), tmp.filePath(u"a/b"_s));
    EXPECT_FALSE(u.ok);
    EXPECT_TRUE(u.error.contains(u"escape"_s));
    EXPECT_FALSE(QFile::exists(tmp.filePath(u"escape.png"_s)));

    // BMP pictures come back out as BMP; system colours keep their form.
    skin::PropertyBag b2;
    b2.writePicture(u"X"_s, testskin::bmp(QSize(3, 3), Qt::red));
    b2.writeColour(u"C"_s, skin::kSystemColour | 15);
    skin::WriteSkinFile(tmp.filePath(u"b.jss"_s), b2);
    ASSERT_TRUE(unpack(tmp.filePath(u"b.jss"_s), tmp.filePath(u"u"_s)).ok);
    EXPECT_EQ(bytesOf(tmp.filePath(u"u/X.bmp"_s)), testskin::bmp(QSize(3, 3), Qt::red));
    EXPECT_TRUE(
        QString::fromUtf8(bytesOf(tmp.filePath(u"u/skin.ini"_s))).contains(u"C = system:15"_s));
}
