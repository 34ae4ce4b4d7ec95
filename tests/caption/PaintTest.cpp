// What the caption bar draws from a skin, and when it reads the skin file.
#include "support/Skins.h"

#include "base/Twips.h"
#include "skin/SkinCache.h"

#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QTest>

using namespace Qt::StringLiterals;
using B = JSCAPTION;

namespace {
// Left edges of the buttons on a bar `w` pixels wide (normal state).
struct Row {
    int close, max, min, ontop;
};
Row rowFor(int w) {
    const int close = w - 16 - capskin::kFromRight;
    const int max = close - capskin::kIconSpace - 15;
    const int min = max - capskin::kIconSpace - 13;
    return {close, max, min, min - capskin::kIconSpace - 11};
}
} // namespace

class CaptionPaint : public CaptionFixture {
protected:
    // The piece fills `r` exactly: its corners inside, the pixels just beyond them not.
    void expectPiece(const char* key, QRect r) const {
        const QString k = QLatin1String(key);
        EXPECT_EQ(at(r.left(), r.top()), k);
        EXPECT_EQ(at(r.right(), r.bottom()), k);
        EXPECT_NE(at(r.left() - 1, r.top()), k);
        EXPECT_NE(at(r.left(), r.top() - 1), k);
        EXPECT_NE(at(r.right() + 1, r.bottom()), k);
        EXPECT_NE(at(r.right(), r.bottom() + 1), k);
    }
};

TEST_F(CaptionPaint, FrameAndButtonsLieWhereTheSkinPutsThemAtSeveralWidths) {
    makeWindow();
    for (int w : {200, 333, 640}) {
        SCOPED_TRACE(w);
        window->resize(w, window->height());
        ASSERT_EQ(bar->width(), w);
        EXPECT_EQ(bar->height(), 30);
        expectPiece("TOPLEFT", {0, 0, 10, 30});
        expectPiece("TOPRIGHT", {w - 12, 0, 12, 30});
        EXPECT_EQ(at(10, 0), u"TOPMID"_s);
        EXPECT_EQ(at(w - 13, 29), u"TOPMID"_s);
        const Row r = rowFor(w);
        expectPiece("CLOSE", {r.close, capskin::kFromTop, 16, 14});
        expectPiece("MAX", {r.max, capskin::kFromTop, 15, 14});
        expectPiece("MIN", {r.min, capskin::kFromTop, 13, 14});
    }
}

TEST_F(CaptionPaint, ButtonsDrawnFollowControlBoxStyleAndShowOnTop) {
    makeWindow();
    const Row r = rowFor(400);
    const int y = capskin::kFromTop + 3;
    for (bool controlBox : {true, false})
        for (int style : {0, 1, 2, 3, 4})
            for (bool showOnTop : {false, true}) {
                SCOPED_TRACE(testing::Message() << controlBox << style << showOnTop);
                bar->setControlBox(controlBox);
                bar->setStyle(style);
                bar->setSHOWONTOP(showOnTop);
                bar->setPath(skinPath);
                EXPECT_EQ(at(r.close + 2, y) == u"CLOSE"_s, controlBox);
                EXPECT_EQ(at(r.max + 2, y) == u"MAX"_s, controlBox && style != 0);
                EXPECT_EQ(at(r.min + 2, y) == u"MIN"_s, controlBox && style != 0);
                // Room for the two middle buttons is kept even when they are not drawn.
                EXPECT_EQ(at(r.ontop + 2, y) == u"ONTOP1"_s, showOnTop);
                if (showOnTop) {
                    EXPECT_EQ(bar->buttonRect(B::OnTopButton).x(), r.ontop);
                }
            }
}

TEST_F(CaptionPaint, NoReadableSkinMeansNoHeightAndNothingDrawn) {
    makeWindow();
    QFile garbage(dir.filePath(u"garbage.jss"_s));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("\x11\x20\x01\x00\xff\xff\xff\x7f not a skin");
    garbage.close();
    const QString missing = dir.filePath(u"missing.jss"_s);
    for (const QString& path : {QString(), missing, garbage.fileName(), dir.path()}) {
        SCOPED_TRACE(path.toStdString());
        bar->setPath(skinPath);
        ASSERT_EQ(bar->height(), 30);
        bar->setPath(path);
        EXPECT_EQ(bar->height(), 0);
        EXPECT_TRUE(bar->surface().isNull());
        EXPECT_TRUE(bar->buttonRect(B::CloseButton).isEmpty());
    }
    EXPECT_FALSE(QFile::exists(missing));
    // The mouse where the buttons were must not reach a missing piece.
    bar->UserControl_MouseMove(0, 0, 380, 10);
    bar->UserControl_MouseDown(1, 0, 380, 10);
    bar->UserControl_MouseUp(1, 0, 380, 10);
    bar->UserControl_Click();
}

TEST_F(CaptionPaint, MissingPiecesLeaveTheBarsColourAndTheRestDrawn) {
    skin::PropertyBag b;
    for (const auto& p : capskin::pieces())
        if (qstrcmp(p.key, "TOPMID") != 0 && qstrcmp(p.key, "MIN") != 0)
            b.writePicture(QString::fromLatin1(p.key), testskin::png(p.size, p.colour));
    skinPath = testskin::write(dir.filePath(u"partial.jss"_s), b);
    makeWindow();
    EXPECT_EQ(at(0, 0), u"TOPLEFT"_s);
    EXPECT_EQ(at(399, 29), u"TOPRIGHT"_s);
    // No metrics in this skin: buttons at the right edge, top row.
    EXPECT_EQ(at(400 - 16, 0), u"CLOSE"_s);
    EXPECT_EQ(at(400 - 16 - 15, 0), u"MAX"_s);
    EXPECT_TRUE(bar->buttonRect(B::MinButton).isEmpty());
    // Without colours in the skin the bar keeps its own background where nothing lies.
    EXPECT_EQ(bar->surface().toImage().pixelColor(200, 20), QColor(90, 126, 220));
}

TEST_F(CaptionPaint, TitleLabelsIconAndWindowColourComeFromTheSkin) {
    makeWindow({{u"ShowIcon"_s, false}});
    QPixmap icon(32, 32);
    icon.fill(Qt::red);
    window->setWindowIcon(QIcon(icon));
    window->setWindowTitle(u"浏览日记"_s);
    bar->setPath(skinPath);
    EXPECT_TRUE(bar->Image1->pixmap().isNull());
    bar->setShowIcon(true);
    bar->setPath(skinPath);
    bar->REDRAW();
    EXPECT_EQ(bar->Label1->pos(), QPoint(capskin::kXOffset + 17, capskin::kYOffset));
    EXPECT_EQ(bar->Label2->pos(), QPoint(capskin::kXOffset + 16, capskin::kYOffset - 1));
    EXPECT_EQ(bar->Label1->text(), u"浏览日记"_s);
    EXPECT_EQ(bar->Label2->text(), u"浏览日记"_s);
    EXPECT_EQ(bar->Label1->palette().color(QPalette::WindowText), QColor(0x33, 0x22, 0x11));
    EXPECT_EQ(bar->Label2->palette().color(QPalette::WindowText), QColor(0x66, 0x55, 0x44));
    EXPECT_EQ(bar->ForeColor(), capskin::kForeColor);
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(0x99, 0x88, 0x77));
    EXPECT_EQ(bar->Image1->pos(), QPoint(capskin::kXOffset2, capskin::kYOffset + 2));
    ASSERT_FALSE(bar->Image1->pixmap().isNull());
    EXPECT_EQ(bar->Image1->pixmap().toImage().pixelColor(5, 5), QColor(Qt::red));

    window->setWindowTitle(u"写日记"_s);
    bar->REDRAW();
    EXPECT_EQ(bar->Label2->text(), u"写日记"_s);
    // Turned off again, the icon box keeps what it had.
    bar->setShowIcon(false);
    window->setWindowIcon(QIcon());
    bar->setPath(skinPath);
    EXPECT_FALSE(bar->Image1->pixmap().isNull());
}

TEST_F(CaptionPaint, MinimisedWindowGetsStyle2ZeroAndNoMaximiseImage) {
    makeWindow();
    window->setWindowState(Qt::WindowMinimized);
    bar->setPath(skinPath);
    EXPECT_EQ(bar->Style2(), 0);
    EXPECT_TRUE(bar->buttonRect(B::MaxButton).isEmpty());
    // The minimise button moves right into the empty holder's place.
    EXPECT_EQ(bar->buttonRect(B::MinButton).x(), 400 - 16 - 3 - 2 - 0 - 2 - 13);
}

TEST_F(CaptionPaint, CachedSkinServesResizesWhileAChangedFileIsReadAtOnce) {
    makeWindow();
    const int reads = skin::SkinCache::fileReads();
    for (int w = 300; w <= 700; w += 50)
        window->resize(w, 200 + w / 10);
    EXPECT_EQ(skin::SkinCache::fileReads(), reads);
    EXPECT_EQ(at(700 - 12, 0), u"TOPRIGHT"_s);

    skin::PropertyBag b = capskin::bag();
    b.writePicture(u"TOPLEFT"_s, testskin::png(QSize(10, 22), capskin::pieces().front().colour));
    testskin::write(skinPath, b); // the same file, rewritten
    window->resize(650, 300);
    EXPECT_EQ(skin::SkinCache::fileReads(), reads + 1);
    // The height comes from the left end piece; docked controls start below it.
    EXPECT_EQ(bar->geometry(), QRect(0, 0, 650, 22));
}
