// Stored settings, change reports and the on-top handling of the caption bar.
#include "support/Skins.h"

#include "base/Module1.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
QFont songTi9() {
    QFont f(u"宋体"_s);
    f.setPointSizeF(9);
    return f;
}
} // namespace

class CaptionSettings : public CaptionFixture {};

// A form stores only a font and BackColor; the rest keeps its defaults, left out when saved.
TEST_F(CaptionSettings, LoadSetReportRepaintAndSaveAllButStyle2) {
    Module1::ResizeEnabled = true;
    makeWindow({{u"Font"_s, songTi9()}, {u"BackColor"_s, 0x00DC7E5Au}}, false);
    EXPECT_EQ(bar->WriteProperties().keys(), (QStringList{u"BackColor"_s, u"Font"_s, u"Path"_s}));
    EXPECT_EQ(bar->WriteProperties().value(u"BackColor"_s), 0x00DC7E5Au);
    EXPECT_FALSE(Module1::ResizeEnabled);
    ASSERT_FALSE(desktop->topMost.empty());
    EXPECT_EQ(desktop->topMost.front(), std::make_pair(window.get(), false));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    QSignalSpy spy(bar, &JSCAPTION::PropertyChanged);
    const qint64 before = bar->surface().cacheKey();
    bar->setControlBox(false);
    bar->setMovable(false);
    bar->setShowIcon(false);
    bar->setSHOWONTOP(true);
    bar->setStyle(0);
    bar->setStyle2(1);
    EXPECT_EQ(bar->surface().cacheKey(), before);
    EXPECT_EQ(atButton(JSCAPTION::MaxButton), u"MAX"_s);
    bar->setPath(skinPath);
    EXPECT_EQ(atButton(JSCAPTION::MaxButton), u"TOPMID"_s); // Style 0 draws no maximise
    const qint64 afterPath = bar->surface().cacheKey();
    bar->setFont(QFont(u"宋体"_s, 12));
    EXPECT_NE(bar->surface().cacheKey(), afterPath);
    bar->setONTOP(true);
    bar->setForeColor(0x000000FFu);
    bar->setBackColor(0x8000000Fu);
    QStringList names;
    for (const auto& args : spy)
        names << args.at(0).toString();
    EXPECT_EQ(names, (QStringList{u"ControlBox"_s, u"Movable"_s, u"ShowIcon"_s, u"SHOWONTOP"_s,
                                  u"Style"_s, u"Style2"_s, u"Path"_s, u"Font"_s, u"ONTOP"_s,
                                  u"ForeColor"_s, u"BackColor"_s}));

    const QVariantMap saved = bar->WriteProperties();
    EXPECT_EQ(saved.size(), 10);
    EXPECT_FALSE(saved.contains(u"Style2"_s));
    QWidget other;
    JSCAPTION copy(&other);
    copy.ReadProperties(saved);
    EXPECT_EQ(copy.WriteProperties(), saved);
    EXPECT_EQ(copy.Style2(), 0);
    // A stored ONTOP puts the holding window on top at once.
    EXPECT_EQ(desktop->topMost.back(), std::make_pair(&other, true));
}

TEST_F(CaptionSettings, UnusableStoredValuesFallBackToTheirDefaults) {
    makeWindow({{u"Style"_s, u"abc"_s},
                {u"Movable"_s, u"vielleicht"_s},
                {u"ControlBox"_s, QVariant()},
                {u"ForeColor"_s, u"white"_s},
                {u"Font"_s, 17},
                // stored as a signed 32-bit value
                {u"BackColor"_s, qint32(0x80000012u)}},
               false);
    EXPECT_EQ(bar->Style(), 1);
    EXPECT_TRUE(bar->Movable());
    EXPECT_TRUE(bar->ControlBox());
    EXPECT_EQ(bar->ForeColor(), 0x00FFFFFFu);
    EXPECT_EQ(bar->BackColor(), 0x80000012u);
    EXPECT_EQ(bar->Font(), window->font());
}

TEST_F(CaptionSettings, ScreenReadersFindAndPressTheButtons) {
    makeWindow();
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(bar);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::TitleBar);
    auto find = [iface](const QString& name) -> QAccessibleInterface* {
        for (int i = 0; i < iface->childCount(); ++i)
            if (QAccessibleInterface* c = iface->child(i); c && c->text(QAccessible::Name) == name)
                return c;
        return nullptr;
    };
    QAccessibleInterface* max = find(u"最大化"_s);
    ASSERT_NE(max, nullptr);
    EXPECT_EQ(max->role(), QAccessible::Button);
    EXPECT_EQ(max->rect().size(), bar->buttonRect(JSCAPTION::MaxButton).size());
    max->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(bar->MaxState(), 1);
    EXPECT_EQ(max->text(QAccessible::Name), u"还原"_s);
    // The on-top button is hidden unless shown; inert buttons are disabled.
    QAccessibleInterface* onTop = find(u"总在最前"_s);
    ASSERT_NE(onTop, nullptr);
    EXPECT_TRUE(onTop->state().invisible);
    bar->setStyle(4);
    QAccessibleInterface* close = find(u"关闭"_s);
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(close->state().disabled);
    close->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    TempApp::settle();
    EXPECT_TRUE(window->isVisible());
}
