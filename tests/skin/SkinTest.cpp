// Skin files and their damage, the border control, the on-top helper, and the skin tool on
// the skins we ship.
#include "base/Module1.h"
#include "skin/Dock.h"
#include "skin/JSBORDER.h"
#include "skin/clsOnTop.h"
#include "skinpack/SkinPack.h"
#include "support/Support.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QTest>

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
QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
} // namespace

class SkinFiles : public TempApp {};

TEST_F(SkinFiles, FileReadsEachKindBackAndNothingFromOddFiles) {
    PropertyBag bag;
    bag.writePicture(u"LEFTTOP"_s, testskin::png(QSize(5, 9), Qt::red));
    bag.writePicture(u"LEFTMID"_s, testskin::bmp(QSize(4, 2), Qt::green));
    bag.writeInteger(u"XOFFSET"_s, -32768);
    bag.writeInteger(u"FROMTOP"_s, 32767);
    bag.writeColour(u"PARENTBACKCOLOR"_s, 0x8000000F);
    const PropertyBag read = ReadSkinFile(testskin::write(dir.filePath(u"a.jss"_s), bag));
    ASSERT_EQ(read.count(), 5);
    EXPECT_EQ(read.readPicture(u"LEFTTOP"_s).value_or(QImage()).pixelColor(4, 8), QColor(Qt::red));
    EXPECT_EQ(read.readInteger(u"XOFFSET"_s), qint16(-32768));
    EXPECT_EQ(read.readColour(u"PARENTBACKCOLOR"_s), 0x8000000Fu);
    EXPECT_EQ(serializeSkin(read), serializeSkin(bag));
    // Keys match whatever their case; a missing key or one of another kind reads nothing.
    EXPECT_EQ(read.readInteger(u"fromTop"_s), qint16(32767));
    EXPECT_FALSE(read.readInteger(u"YOFFSET"_s));
    EXPECT_FALSE(read.readColour(u"XOFFSET"_s));
    EXPECT_FALSE(read.readPicture(u"parentbackcolor"_s));
    PropertyBag other = read;
    other.writeInteger(u"xoffset"_s, 1); // replaces in place
    EXPECT_EQ(other.count(), 5);
    EXPECT_EQ(other.readInteger(u"XOFFSET"_s), qint16(1));

    writeFile(dir.filePath(u"empty.jss"_s), {});
    EXPECT_TRUE(ReadSkinFile(dir.filePath(u"empty.jss"_s)).isEmpty());
}

TEST_F(SkinFiles, UndecodableOrHugePicturesFailTheirRead) {
    // A BMP header claiming 100000 x 100000 pixels over a few bytes.
    QByteArray huge = testskin::bmp(QSize(1, 1), Qt::red);
    huge.replace(18, 8, QByteArray("\xa0\x86\x01\0\xa0\x86\x01\0", 8));
    const QByteArray pictures[] = {
        "not a picture at all", testskin::png(QSize(3, 3), Qt::red).left(30), {}, huge};
    PropertyBag bag;
    for (const QByteArray& p : pictures)
        bag.writePicture(QString::number(bag.count()), p);
    const PropertyBag read = parseSkin(serializeSkin(bag));
    ASSERT_EQ(read.count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(read.readPictureBytes(QString::number(i))) << i;
        EXPECT_FALSE(read.readPicture(QString::number(i))) << i;
    }
}

TEST_F(SkinFiles, EveryTruncationAndDamageReadsAsNothing) {
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

    const QByteArray good = serializeSkin(smallBag());
    ASSERT_EQ(parseSkin(good).count(), 3);
    // Wrapper: type 0, dimensions 2, length 4, lower bound 8. Bag: magic 12, version 16,
    // count 18, then "XOFFSET" (length 20, first letter 22, where 0xc3 is not UTF-8, kind 29)
    // and "CLOSE" (picture length 40).
    const std::pair<int, QByteArray> damage[] = {{4, "\xff\xff\xff\xff"},
                                                 {0, "\x08"},
                                                 {2, "\x02"},
                                                 {8, "\x01"},
                                                 {12, "X"},
                                                 {16, "\x02"},
                                                 {18, "\xff\xff"},
                                                 {18, "\x02"},
                                                 {20, "\xff\xff"},
                                                 {20, QByteArray(1, 0)},
                                                 {29, "\x09"},
                                                 {40, "\xf0\xff\xff\xff"},
                                                 {22, "\xc3"}};
    for (const auto& [at, bytes] : damage) {
        QByteArray b = good;
        EXPECT_TRUE(parseSkin(b.replace(at, bytes.size(), bytes)).isEmpty()) << at;
    }
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

TEST_F(SkinFiles, ColoursAreRgbOrTheSystemsOwn) {
    EXPECT_EQ(toQColor(0x00DC7E5A), QColor(90, 126, 220));
    QPalette pal;
    pal.setColor(QPalette::Active, QPalette::Button, QColor(1, 2, 3));
    EXPECT_EQ(toQColor(0x8000000F, pal), QColor(1, 2, 3)); // button face
    EXPECT_FALSE(toQColor(0x800000FF, pal).isValid());
    EXPECT_FALSE(toQColor(0x80000019, pal).isValid()); // index 25 was never assigned
}

// On top and back through the platform: the window neither moves nor resizes nor hides.
TEST_F(SkinFiles, OnTopNeitherMovesNorResizesTheWindow) {
    app::Desktop::install(nullptr);
    QWidget w;
    w.setGeometry(120, 130, 320, 240);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    clsOnTop top;
    top.MakeTopMost(nullptr);
    for (bool on : {true, true, false}) {
        on ? top.MakeTopMost(new QWidget(&w)) : top.MakeNormal(&w); // a child stands for its window
        EXPECT_EQ(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint), on);
        EXPECT_EQ(w.geometry(), QRect(120, 130, 320, 240));
        EXPECT_TRUE(w.isVisible());
    }
}

namespace {
const QColor kLeftTop(200, 0, 0), kLeftMid(0, 200, 0), kRightMid(200, 200, 0),
    kLeftBot(0, 200, 200), kRightBot(200, 0, 200), kBottom(90, 90, 90);

// Left, right and bottom borders on a 300 x 200 window.
class Border : public TempApp {
protected:
    void SetUp() override {
        TempApp::SetUp();
        bag = testskin::completeBag();
        for (const auto& [key, size, colour] : {std::tuple{"LEFTTOP", QSize(6, 20), kLeftTop},
                                                {"LEFTMID", QSize(6, 4), kLeftMid},
                                                {"RIGHTTOP", QSize(5, 20), QColor(0, 0, 200)},
                                                {"RIGHTMID", QSize(5, 3), kRightMid},
                                                {"LEFTBOT", QSize(12, 7), kLeftBot},
                                                {"RIGHTBOT", QSize(12, 7), kRightBot},
                                                {"BOTTOM", QSize(3, 7), kBottom}})
            bag.writePicture(QLatin1String(key), testskin::png(size, colour));
        skinPath = testskin::write(dir.filePath(u"t.jss"_s), bag);
        window = std::make_unique<QWidget>();
        window->setGeometry(100, 100, 300, 200);
        for (int i = 0; i < 3; ++i) {
            border[i] = new JSBORDER(window.get());
            border[i]->setBORDERTYPE(i + 1);
        }
    }
    void TearDown() override {
        window.reset();
        TempApp::TearDown();
    }
    void skinAll(const QString& path) {
        for (JSBORDER* b : border)
            b->setPath(path);
    }
    void showSkinnedAndSizable() {
        skinAll(skinPath);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        Module1::ResizeEnabled = true;
    }
    // Straight to the control, so points on and past its far bounds can be tried.
    static void send(JSBORDER* b, QEvent::Type type, QPoint local,
                     Qt::MouseButton button = Qt::NoButton) {
        const Qt::MouseButtons buttons =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent e(type, QPointF(local), QPointF(b->mapToGlobal(local)), button, buttons,
                      Qt::NoModifier);
        QApplication::sendEvent(b, &e);
    }
    skin::PropertyBag bag;
    QString skinPath;
    std::unique_ptr<QWidget> window;
    JSBORDER* border[3] = {};
};
} // namespace

TEST_F(Border, SkinGivesThicknessAndTiledPiecesDockingGivesLength) {
    showSkinnedAndSizable();
    EXPECT_EQ(border[0]->geometry(), QRect(0, 0, 6, 193));
    EXPECT_EQ(border[1]->geometry(), QRect(295, 0, 5, 193));
    EXPECT_EQ(border[2]->geometry(), QRect(0, 193, 300, 7));
    const QImage left = border[0]->surface().toImage(), bottom = border[2]->surface().toImage();
    for (const auto& [img, x, y, colour] : {std::tuple{left, 5, 19, kLeftTop},
                                            {left, 5, 20, kLeftMid},
                                            {bottom, 11, 6, kLeftBot},
                                            {border[1]->surface().toImage(), 4, 192, kRightMid},
                                            {bottom, 12, 3, kBottom},
                                            {bottom, 288, 0, kRightBot}})
        EXPECT_EQ(img.pixelColor(x, y), colour) << x << "," << y;
    // No type: only the background, size kept.
    auto* none = new JSBORDER(window.get());
    none->setGeometry(50, 50, 9, 9);
    none->setPath(skinPath);
    EXPECT_EQ(none->size(), QSize(9, 9));
    EXPECT_EQ(none->surface().toImage().pixelColor(4, 4), JSBORDER::designColour());
    EXPECT_NE(border[0]->accessibleName(), border[2]->accessibleName());

    // Missing pieces: zero thickness.
    skin::PropertyBag partial;
    for (const auto& e : bag.entries())
        if (e.kind == skin::Kind::Picture && e.key != u"LEFTTOP"_s && e.key != u"BOTTOM"_s)
            partial.writePicture(e.key, e.picture);
    skinAll(testskin::write(dir.filePath(u"m.jss"_s), partial));
    EXPECT_EQ(border[0]->width(), 0);
    EXPECT_EQ(border[1]->width(), 5);
    EXPECT_EQ(border[2]->height(), 0);
}

// Where the pointer is on each border: zone, cursor, hit-test code, and what a press starts.
TEST_F(Border, ZonesCursorsAndHitTestCodes) {
    showSkinnedAndSizable();
    const int H = border[0]->height(), W = border[2]->width();
    const std::tuple<JSBORDER*, QPoint, int, Qt::CursorShape, int> cases[] = {
        {border[0], {3, H - 11}, 1, Qt::SizeHorCursor, 10},
        {border[0], {3, H - 10}, 0, Qt::SizeBDiagCursor, 16},
        {border[0], {3, H + 1}, 1, Qt::SizeHorCursor, 10},
        {border[1], {2, H - 11}, 1, Qt::SizeHorCursor, 11},
        {border[1], {2, H}, 2, Qt::SizeFDiagCursor, 17},
        {border[2], {10, 3}, 0, Qt::SizeBDiagCursor, 16},
        {border[2], {11, 3}, 1, Qt::SizeVerCursor, 15},
        {border[2], {W - 11, 3}, 1, Qt::SizeVerCursor, 15},
        {border[2], {W - 10, 3}, 2, Qt::SizeFDiagCursor, 17},
        {border[2], {-1, 3}, 1, Qt::SizeVerCursor, 15},
    };
    for (const auto& [b, at, zone, cursor, code] : cases) {
        SCOPED_TRACE(testing::Message() << b->BORDERTYPE() << " at " << at.x() << "," << at.y());
        send(b, QEvent::MouseMove, at);
        EXPECT_EQ(b->zone(), zone);
        EXPECT_EQ(b->cursor().shape(), cursor);
        EXPECT_EQ(b->hitTestCode(), code);
        desktop->resizes.clear();
        send(b, QEvent::MouseButtonPress, at, Qt::RightButton); // any button
        send(b, QEvent::MouseButtonRelease, at, Qt::RightButton);
        ASSERT_EQ(desktop->resizes.size(), code ? 1u : 0u);
        if (code) {
            EXPECT_EQ(desktop->resizes[0], std::make_pair(window.get(), JSBORDER::edgesFor(code)));
        }
    }
}

TEST_F(Border, PressUsesTheLastZoneAndNothingWhileSizingIsOff) {
    showSkinnedAndSizable();
    // Real clicks with no move first; the right border's zone 0 starts nothing.
    QTest::mouseClick(border[0], Qt::LeftButton, {}, QPoint(3, 30));
    QTest::mouseClick(border[1], Qt::LeftButton, {}, QPoint(2, 30));
    QTest::mouseMove(border[2], QPoint(295, 3));
    QTest::mouseMove(border[0], QPoint(3, 3));
    send(border[2], QEvent::MouseButtonPress, {150, 3}, Qt::LeftButton);
    ASSERT_EQ(desktop->resizes.size(), 2u);
    EXPECT_EQ(desktop->resizes[0].second, Qt::BottomEdge | Qt::LeftEdge);
    EXPECT_EQ(desktop->resizes[1].second, Qt::BottomEdge | Qt::RightEdge);

    desktop->resizes.clear();
    Module1::ResizeEnabled = false;
    send(border[2], QEvent::MouseMove, {150, 3});
    EXPECT_EQ(border[2]->zone(), 2); // no tracking
    send(border[2], QEvent::MouseButtonPress, {150, 3}, Qt::LeftButton);
    send(border[2], QEvent::MouseButtonRelease, {150, 3}, Qt::LeftButton);
    QTest::mouseClick(border[0], Qt::LeftButton, {}, QPoint(3, 190));
    EXPECT_TRUE(desktop->resizes.empty());
    EXPECT_EQ(window->geometry(), QRect(100, 100, 300, 200));
}

TEST_F(SkinFiles, ToolPacksListsAndUnpacksTheShippedSkinsByteForByte) {
    for (const QString& name : {u"16"_s, u"silver"_s}) {
        SCOPED_TRACE(name.toStdString());
        const QString a = dir.filePath(name + u"-a.jss"_s), b = dir.filePath(name + u"-b.jss"_s);
        const QString out = dir.filePath(name + u"-out"_s);
        const ToolRun r = tool({u"pack"_s, kSkins + name, a});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(tool({u"list"_s, a}).out.count(u'\n'), 33);
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

TEST_F(SkinFiles, PackRefusesIncompleteOrWrongFoldersNamingWhatIsWrong) {
    const QString folder = dir.filePath(u"s"_s), out = dir.filePath(u"o.jss"_s);
    auto makeFolder = [&](const QString& extraIni) {
        QDir().mkpath(folder);
        const PropertyBag bag = testskin::completeBag();
        for (const auto& e : bag.entries())
            if (e.kind == Kind::Picture)
                writeFile(folder + u'/' + e.key + u".png"_s, e.picture);
        writeFile(folder + u"/skin.ini"_s, (skinpack::formatIni(bag) + extraIni).toUtf8());
        return skinpack::pack(folder, out);
    };
    ASSERT_TRUE(makeFolder({}).ok);
    QFile::remove(folder + u"/RES3.png"_s);
    QFile::remove(folder + u"/ONTOP1.png"_s);
    skinpack::Result r = skinpack::pack(folder, dir.filePath(u"x.jss"_s));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(u"RES3, ONTOP1"_s)) << r.error.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath(u"x.jss"_s)));

    EXPECT_TRUE(makeFolder(u"[more]\n; fine\nEXTRA = -5\nTINT = system:15\n"_s).ok);
    for (const QString& bad :
         {u"XOFFSET = 3\n"_s, u"backcolor = #000000\n"_s, u"A = 40000\n"_s, u"A = #12345\n"_s,
          u"A = system:300\n"_s, u"A = blue\n"_s, u"just words\n"_s, u"../x = 1\n"_s}) {
        r = makeFolder(bad);
        EXPECT_FALSE(r.ok) << bad.toStdString();
        EXPECT_TRUE(r.error.contains(u"line"_s)) << r.error.toStdString();
    }
    EXPECT_FALSE(skinpack::pack(dir.filePath(u"nowhere"_s), out).ok);
}

TEST_F(SkinFiles, UnpackAndListRefuseBadFilesAndUnsafeKeys) {
    writeFile(dir.filePath(u"junk.jss"_s), "definitely not a skin");
    ToolRun r = tool({u"list"_s, dir.filePath(u"junk.jss"_s)});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u"not a skin file"_s)) << r.err.toStdString();
    r = tool({u"unpack"_s, dir.filePath(u"missing.jss"_s), dir.filePath(u"d"_s)});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(QDir(dir.filePath(u"d"_s)).exists());
    for (const QStringList& args :
         {QStringList{}, {u"pack"_s, u"onlyone"_s}, {u"explode"_s, u"a"_s, u"b"_s}})
        EXPECT_EQ(tool(args).code, 2) << args.join(u' ').toStdString();

    // A key that would climb out of the target folder.
    PropertyBag bag;
    bag.writePicture(u"../../escape"_s, testskin::png(QSize(2, 2), Qt::red));
    WriteSkinFile(dir.filePath(u"evil.jss"_s), bag);
    const skinpack::Result u =
        skinpack::unpack(dir.filePath(u"evil.jss"_s), dir.filePath(u"a/b"_s));
    EXPECT_FALSE(u.ok);
    EXPECT_TRUE(u.error.contains(u"escape"_s));
    EXPECT_FALSE(QFile::exists(dir.filePath(u"escape.png"_s)));
}
