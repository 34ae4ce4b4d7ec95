// The writing and browsing windows wearing the skin: frame controls, skin choice, outline,
// minimum size, maximised state and the growing text boxes.
#include "support/Apps.h"

#include "base/Module1.h"
#include "base/Twips.h"
#include "caption/JSCAPTION.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"

#include <QDir>
#include <QFile>
#include <QTest>

using app::Twips;
using diary::SkinnedForm;

namespace {
QString nameOf(const QWidget* w) {
    return w->objectName();
}
} // namespace

TEST_F(SkinnedApp, BothWindowsWearTheDefaultSkinAroundTheirDesignedControls) {
    for (SkinnedForm* form : openBoth()) {
        SCOPED_TRACE(nameOf(form).toStdString());
        EXPECT_TRUE(form->windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_EQ(skinOf(form), u"16"_s);
        EXPECT_EQ(form->JSCAPTION1->Path(), QDir(dir.path()).filePath(u"16.jss"_s));
        EXPECT_EQ(form->JSCAPTION1->font().pointSize(), 9);
        EXPECT_EQ(form->JSCAPTION1->Style2(), 2);

        const int W = form->width(), H = form->height();
        EXPECT_EQ(form->JSCAPTION1->geometry(), QRect(0, 0, W, 30));
        EXPECT_EQ(form->JSBORDER3->geometry(), QRect(0, H - 5, W, 5));
        EXPECT_EQ(form->JSBORDER1->geometry(), QRect(0, 30, 5, H - 35));
        EXPECT_EQ(form->JSBORDER2->geometry(), QRect(W - 5, 30, 5, H - 35));

        // Every other control lies inside the frame, at its designed place.
        const QRect inside(5, 30, W - 10, H - 35);
        int controls = 0;
        for (QWidget* c : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (qobject_cast<JSCAPTION*>(c) || qobject_cast<JSBORDER*>(c))
                continue;
            ++controls;
            EXPECT_TRUE(inside.contains(c->geometry())) << nameOf(c).toStdString();
        }
        EXPECT_GE(controls, 10);

        // Narrower than designed, the controls run under the frame, not over it.
        form->resize(400, 300);
        EXPECT_EQ(form->childAt(397, 150), form->JSBORDER2);
        EXPECT_EQ(form->childAt(200, 297), form->JSBORDER3);
        EXPECT_EQ(form->childAt(2, 280), form->JSBORDER1);
    }
}

TEST_F(SkinnedApp, AChosenSkinHoldsForTheRestOfTheRunAndAnOpenBrowserKeepsItsOwn) {
    frmLook* openBrowser = openLook();
    frmWrite* write = openWrite();
    dialogs->fileAnswers.push_back(otherSkin);
    click(write->hfComm);
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().kind, fake::Box::OpenFile);
    EXPECT_EQ(dialogs->last().text, u"皮肤(*.jss)|*.jss"_s);
    EXPECT_EQ(skinOf(write), u"other"_s);
    EXPECT_EQ(Module1::SkinPath, otherSkin);
    EXPECT_EQ(skinOf(openBrowser), u"16"_s);

    app::unload(openBrowser);
    click(write->findNoteComm);
    auto* look = qobject_cast<frmLook*>(app::loaded(app::FormId::Look));
    ASSERT_NE(look, nullptr);
    EXPECT_EQ(skinOf(look), u"other"_s);
    click(look->writeNoteComm);
    auto* again = qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(skinOf(again), u"other"_s);

    // A new run starts from 16.jss again.
    app::unload(again);
    Module1::reset();
    for (SkinnedForm* form : openBoth())
        EXPECT_EQ(skinOf(form), u"16"_s);
}

TEST_F(SkinnedApp, ACancelledOrUnusableChoiceChangesNothing) {
    frmWrite* write = openWrite();
    click(write->hfComm); // the fake cancels
    EXPECT_EQ(skinOf(write), u"16"_s);
    EXPECT_TRUE(Module1::SkinPath.isEmpty());
    ASSERT_EQ(dialogs->boxes.size(), 1u);
    EXPECT_EQ(dialogs->last().kind, fake::Box::OpenFile);
    dialogs->boxes.clear();

    QFile junk(dir.filePath(u"junk.jss"_s));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a skin");
    junk.close();
    for (const QString& bad : {junk.fileName(), dir.filePath(u"gone.jss"_s)}) {
        dialogs->fileAnswers.push_back(bad);
        click(write->hfComm);
        EXPECT_EQ(skinOf(write), u"16"_s);
        EXPECT_TRUE(Module1::SkinPath.isEmpty());
        ASSERT_EQ(dialogs->boxes.size(), 2u);
        EXPECT_EQ(dialogs->last().kind, fake::Box::Message);
        EXPECT_TRUE(dialogs->last().text.contains(QDir::toNativeSeparators(bad)));
        dialogs->boxes.clear();
    }
}

TEST_F(SkinnedApp, WithoutTheDefaultSkinTheWindowsStillWork) {
    ASSERT_TRUE(QFile::remove(defaultSkin));
    skin::SkinCache::clear();
    frmWrite* write = openWrite();
    EXPECT_TRUE(write->isVisible());
    EXPECT_EQ(write->JSCAPTION1->height(), 0);
    type(write->B_Content_text, u"没有皮肤也能写"_s);
    click(write->saveComm);
    EXPECT_EQ(takeTexts(), QStringList{u"添加完成！"_s});
    auto* look = qobject_cast<frmLook*>(app::loaded(app::FormId::Look));
    ASSERT_NE(look, nullptr);
    search(look, 2);
    EXPECT_EQ(found(look), 1);
    EXPECT_EQ(look->txt_content->toPlainText(), u"没有皮肤也能写"_s);
}

// Sizes in pixels at 15 twips per pixel: 4444 twips is 296 px, 2222 twips 148 px.
TEST_F(SkinnedApp, TheMinimumSizeHoldsPerDimensionInTheNormalStateOnly) {
    struct Case {
        QSize asked, expected;
    };
    const Case cases[] = {
        {{200, 500}, {296, 500}}, {{500, 100}, {500, 148}}, {{10, 10}, {296, 148}},
        {{296, 148}, {296, 148}}, {{297, 149}, {297, 149}}, {{800, 600}, {800, 600}},
    };
    eachAlone([&](SkinnedForm* form) {
        for (const Case& c : cases) {
            form->resize(c.asked);
            EXPECT_EQ(form->size(), c.expected) << c.asked.width() << "x" << c.asked.height();
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
        EXPECT_EQ(form->geometry(), QRect(404, 100, 296, 400));
        form->resize(800, 600);

        form->JSCAPTION1->pressButton(JSCAPTION::MaxButton);
        ASSERT_EQ(form->JSCAPTION1->Style2(), 1);
        form->resize(100, 50);
        EXPECT_EQ(form->size(), QSize(100, 50));
        form->JSCAPTION1->pressButton(JSCAPTION::MaxButton);
        EXPECT_EQ(form->size(), QSize(800, 600));

        form->JSCAPTION1->pressButton(JSCAPTION::MinButton);
        ASSERT_EQ(form->JSCAPTION1->Style2(), 0);
        form->resize(100, 50);
        EXPECT_EQ(form->size(), QSize(100, 50));
        EXPECT_TRUE(form->mask().isEmpty());
        form->setWindowState(Qt::WindowNoState);
        EXPECT_EQ(form->JSCAPTION1->Style2(), 2);
        EXPECT_EQ(form->size(), QSize(296, 148));
        EXPECT_FALSE(form->mask().isEmpty());
    });
}

TEST_F(SkinnedApp, OutlineCutsTheTopCornersOfTheNormalWindow) {
    const QPolygon expected({{0, 400}, {0, 3}, {3, 0}, {597, 0}, {600, 4}, {600, 400}, {0, 400}});
    EXPECT_EQ(SkinnedForm::windowOutline(9000, 6000, 15, 15), expected);
    // The same window measured at 120 and at 144 DPI.
    EXPECT_EQ(SkinnedForm::windowOutline(7200, 4800, 12, 12), expected);
    EXPECT_EQ(SkinnedForm::windowOutline(6000, 4000, 10, 10), expected);

    for (double factor : {15.0, 12.0}) {
        Twips::setFactors(factor, factor);
        frmWrite* form = openWrite();
        form->resize(600, 400);
        const QRegion shape = form->mask();
        SCOPED_TRACE(factor);
        EXPECT_EQ(shape.boundingRect(), QRect(0, 0, 600, 400));
        // Top left: three pixels cut from the first row, two from the second, one from the third.
        for (QPoint out : {QPoint(0, 0), QPoint(2, 0), QPoint(1, 1), QPoint(0, 2)})
            EXPECT_FALSE(shape.contains(out)) << out.x() << "," << out.y();
        for (QPoint in : {QPoint(3, 0), QPoint(2, 1), QPoint(1, 2), QPoint(0, 3)})
            EXPECT_TRUE(shape.contains(in)) << in.x() << "," << in.y();
        // Top right: the edge runs from (597, 0) to (600, 4).
        for (QPoint out : {QPoint(597, 0), QPoint(599, 0), QPoint(598, 1), QPoint(599, 2)})
            EXPECT_FALSE(shape.contains(out)) << out.x() << "," << out.y();
        for (QPoint in : {QPoint(596, 0), QPoint(597, 1), QPoint(598, 2), QPoint(599, 3)})
            EXPECT_TRUE(shape.contains(in)) << in.x() << "," << in.y();
        // Square bottom corners, the last row and column included.
        for (QPoint in : {QPoint(0, 399), QPoint(599, 399), QPoint(599, 4), QPoint(300, 200)})
            EXPECT_TRUE(shape.contains(in)) << in.x() << "," << in.y();
        app::unload(form);
    }
}

TEST_F(SkinnedApp, MaximisingHidesTheBordersAndTheOutlineRestoringBringsThemBack) {
    eachAlone([](SkinnedForm* form) {
        form->setGeometry(100, 80, 640, 480);
        JSCAPTION* bar = form->JSCAPTION1;
        const auto clickMax = [bar] {
            // A real pointer passes over the button before it presses there.
            const QPoint at = bar->buttonRect(JSCAPTION::MaxButton).center();
            QTest::mouseMove(bar, QPoint(at.x(), bar->height() - 1));
            QTest::mouseMove(bar, at);
            QTest::mouseClick(bar, Qt::LeftButton, {}, at);
        };
        clickMax();
        ASSERT_EQ(bar->Style2(), 1);
        EXPECT_EQ(form->geometry(), QRect(0, 0, 1920, 1040));
        EXPECT_TRUE(form->mask().isEmpty());
        for (JSBORDER* b : {form->JSBORDER1, form->JSBORDER2, form->JSBORDER3})
            EXPECT_TRUE(b->isHidden());
        // Without the borders the bar is the only docked control left.
        EXPECT_EQ(bar->geometry(), QRect(0, 0, 1920, 30));

        clickMax();
        ASSERT_EQ(bar->Style2(), 2);
        EXPECT_EQ(form->geometry(), QRect(100, 80, 640, 480));
        EXPECT_EQ(form->mask().boundingRect(), QRect(0, 0, 640, 480));
        EXPECT_FALSE(form->mask().contains(QPoint(0, 0)));
        for (JSBORDER* b : {form->JSBORDER1, form->JSBORDER2, form->JSBORDER3})
            EXPECT_TRUE(b->isVisible());
        EXPECT_EQ(form->JSBORDER2->geometry(), QRect(635, 30, 5, 445));
    });
}

TEST_F(SkinnedApp, OnlyTheTextBoxesGrowWithTheWindow) {
    frmWrite* write = openWrite();
    frmLook* look = openLook();
    struct Box {
        SkinnedForm* form;
        QWidget* box;
        QRect designed;
    };
    const Box boxes[] = {{write, write->B_Content_text, Twips::rect(90, 2190, 10575, 6375)},
                         {look, look->txt_content, Twips::rect(100, 4800, 11720, 4575)}};
    for (const Box& b : boxes) {
        SCOPED_TRACE(nameOf(b.form).toStdString());
        const QSize designedWindow = b.form->size();
        EXPECT_EQ(b.box->geometry(), b.designed);
        QMap<QString, QRect> others;
        for (QWidget* c : b.form->findChildren<QWidget*>())
            if (c != b.box && !c->objectName().isEmpty() && !qobject_cast<JSCAPTION*>(c) &&
                !qobject_cast<JSBORDER*>(c) && c->parent() == b.form)
                others.insert(c->objectName(), c->geometry());

        b.form->resize(designedWindow + QSize(130, 70));
        EXPECT_EQ(b.box->geometry(), b.designed.adjusted(0, 0, 130, 70));
        b.form->resize(designedWindow - QSize(200, 100));
        EXPECT_EQ(b.box->geometry(), b.designed);
        b.form->resize(designedWindow + QSize(-50, 40));
        EXPECT_EQ(b.box->geometry(), b.designed.adjusted(0, 0, 0, 40));
        b.form->resize(designedWindow);
        EXPECT_EQ(b.box->geometry(), b.designed);

        b.form->resize(designedWindow + QSize(300, 300));
        for (auto it = others.cbegin(); it != others.cend(); ++it)
            EXPECT_EQ(b.form->findChild<QWidget*>(it.key())->geometry(), it.value())
                << it.key().toStdString();
    }
}
