// The writing and browsing windows wearing the skin: the frame over the controls, skin choice,
// outline, minimum size and the growing text boxes; maximising is left to the X-server tests.
#include "support/Support.h"

#include "base/Twips.h"
#include "caption/JSCAPTION.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"

#include <QDir>
#include <QFile>

using diary::SkinnedForm;

TEST_F(SkinnedApp, TheFrameLiesOverTheControlsOfANarrowedWindow) {
    for (SkinnedForm* form : openBoth()) {
        SCOPED_TRACE(form->objectName().toStdString());
        EXPECT_EQ(skinOf(form), u"16"_s);
        form->resize(400, 300);
        EXPECT_EQ(form->childAt(397, 150), form->JSBORDER2);
        EXPECT_EQ(form->childAt(200, 297), form->JSBORDER3);
        EXPECT_EQ(form->childAt(2, 280), form->JSBORDER1);
    }
}

TEST_F(SkinnedApp, AChosenSkinHoldsForTheRunAnOpenBrowserKeepsItsOwnAndBadChoicesChangeNothing) {
    frmLook* openBrowser = openLook();
    frmWrite* write = openWrite();
    QFile junk(dir.filePath(u"junk.jss"_s));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write("not a skin") > 0);
    junk.close();
    // The fake cancels the first dialog.
    for (const QString& bad : {QString(), junk.fileName(), dir.filePath(u"gone.jss"_s)}) {
        if (!bad.isEmpty())
            dialogs->fileAnswers.push_back(bad);
        click(write->hfComm);
        EXPECT_EQ(skinOf(write), u"16"_s);
        EXPECT_TRUE(Module1::SkinPath.isEmpty());
        if (!bad.isEmpty()) {
            EXPECT_TRUE(dialogs->last().text.contains(QDir::toNativeSeparators(bad)));
        }
    }
    dialogs->fileAnswers.push_back(otherSkin);
    click(write->hfComm);
    EXPECT_EQ(skinOf(write), u"other"_s);
    EXPECT_EQ(skinOf(openBrowser), u"16"_s);

    app::unload(openBrowser);
    click(write->findNoteComm);
    ASSERT_NE(look(), nullptr);
    EXPECT_EQ(skinOf(look()), u"other"_s);
    // A new run starts from 16.jss again.
    app::unload(look());
    Module1::reset();
    for (SkinnedForm* form : openBoth())
        EXPECT_EQ(skinOf(form), u"16"_s);
}

TEST_F(SkinnedApp, WithoutTheDefaultSkinTheWindowsStillWork) {
    ASSERT_TRUE(QFile::remove(defaultSkin));
    skin::SkinCache::clear();
    frmWrite* write = openWrite();
    EXPECT_TRUE(write->isVisible());
    type(write->B_Content_text, u"没有皮肤也能写"_s);
    click(write->saveComm);
    ASSERT_NE(look(), nullptr);
    search(look(), 2);
    EXPECT_EQ(look()->txt_content->toPlainText(), u"没有皮肤也能写"_s);
}

// At 15 twips per pixel the smallest window is 296 x 148 px.
TEST_F(SkinnedApp, TheMinimumSizeHoldsPerDimensionInTheNormalStateOnly) {
    const std::pair<QSize, QSize> cases[] = {
        {{200, 500}, {296, 500}}, {{500, 100}, {500, 148}}, {{297, 149}, {297, 149}}};
    eachAlone([&](SkinnedForm* form) {
        for (const auto& [asked, expected] : cases) {
            form->resize(asked);
            EXPECT_EQ(form->size(), expected) << asked.width() << "x" << asked.height();
        }
        // Dragging the left border past the minimum leaves the right edge where it was.
        desktop->acceptResize = false;
        form->setGeometry(200, 100, 500, 400);
        JSBORDER* left = form->JSBORDER1;
        // Qt drops a move to where the pointer already is: one step beside it first.
        QTest::mouseMove(left, QPoint(3, 50));
        QTest::mouseMove(left, QPoint(2, 50));
        QTest::mousePress(left, Qt::LeftButton, {}, QPoint(2, 50));
        QTest::mouseMove(left, QPoint(2, 52));
        QTest::mouseMove(left,
                         left->mapFromGlobal(left->mapToGlobal(QPoint(2, 52)) + QPoint(400, 0)));
        QTest::mouseRelease(left, Qt::LeftButton);
        QTest::mouseMove(left, QPoint(2, 60)); // released: only tracks
        EXPECT_EQ(form->geometry(), QRect(404, 100, 296, 400));

        for (JSCAPTION::Button b : {JSCAPTION::MaxButton, JSCAPTION::MinButton}) {
            form->resize(800, 600);
            form->JSCAPTION1->pressButton(b);
            form->resize(100, 50);
            EXPECT_EQ(form->size(), QSize(100, 50));
            if (b == JSCAPTION::MaxButton)
                form->JSCAPTION1->pressButton(b);
        }
        form->setWindowState(Qt::WindowNoState);
        EXPECT_EQ(form->size(), QSize(296, 148));
    });
}

TEST_F(SkinnedApp, TheOutlineCutsTheTopCornersOfTheNormalWindowAtAnyDpi) {
    const QPolygon expected({{0, 400}, {0, 3}, {3, 0}, {597, 0}, {600, 4}, {600, 400}, {0, 400}});
    for (int tw : {15, 12, 10})
        EXPECT_EQ(SkinnedForm::windowOutline(600 * tw, 400 * tw, tw, tw), expected) << tw;
    frmWrite* form = openWrite();
    form->resize(600, 400);
    EXPECT_EQ(form->mask(), QRegion(expected));
}

TEST_F(SkinnedApp, OnlyTheTextBoxesGrowWithTheWindow) {
    for (SkinnedForm* form : openBoth()) {
        SCOPED_TRACE(form->objectName().toStdString());
        auto* box = form->findChild<QPlainTextEdit*>();
        const auto others = [&] {
            QList<QRect> at;
            for (QWidget* c : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (c != box && !c->objectName().isEmpty() && !qobject_cast<JSCAPTION*>(c) &&
                    !qobject_cast<JSBORDER*>(c))
                    at << c->geometry();
            return at;
        };
        const QList<QRect> fixed = others();
        const QSize window = form->size();
        const QRect designed = box->geometry();
        for (const auto& [by, grown] : {std::pair{QSize(130, 70), QSize(130, 70)},
                                        {QSize(-200, -100), QSize(0, 0)},
                                        {QSize(-50, 40), QSize(0, 40)}}) {
            form->resize(window + by);
            EXPECT_EQ(box->geometry(), designed.adjusted(0, 0, grown.width(), grown.height()));
        }
        EXPECT_EQ(others(), fixed);
    }
}
