#include "SkinnedApp.h"

#include "TestSkins.h"
#include "base/Twips.h"
#include "caption/JSCAPTION.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"

#include <QImage>
#include <QTest>

namespace {
QtMessageHandler previousHandler = nullptr;

// The offscreen platform can neither shape windows nor pass on a minimum size, and says so
// each time; both are read back from the widget instead.
void quietAboutMasks(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QStringLiteral("does not support setting window masks")) ||
        text.contains(QStringLiteral("does not support propagateSizeHints")))
        return;
    if (previousHandler)
        previousHandler(type, context, text);
}
} // namespace

void SkinnedApp::SetUp() {
    previousHandler = qInstallMessageHandler(quietAboutMasks);
    DiaryApp::SetUp();
    app::Twips::setFactors(15, 15);
    skin::SkinCache::clear();
    defaultSkin = writeSkin(QStringLiteral("16.jss"), kDefault);
    otherSkin = writeSkin(QStringLiteral("other.jss"), kOther);
}

void SkinnedApp::TearDown() {
    DiaryApp::TearDown();
    app::Twips::setFactors(0, 0);
    qInstallMessageHandler(previousHandler);
}

QString SkinnedApp::writeSkin(const QString& name, const SkinLook& look) {
    skin::PropertyBag bag = testskin::completeBag();
    const auto piece = [&](const char* key, int w, int h) {
        bag.writePicture(QString::fromLatin1(key), testskin::png(QSize(w, h), look.colour));
    };
    for (const char* key : {"TOPLEFT", "TOPMID", "TOPRIGHT"})
        piece(key, 10, look.caption);
    for (const char* key : {"LEFTTOP", "LEFTMID", "RIGHTTOP", "RIGHTMID"})
        piece(key, look.border, 12);
    for (const char* key : {"LEFTBOT", "RIGHTBOT", "BOTTOM"})
        piece(key, 12, look.border);
    // Buttons and metrics of a usable bar, as the shipped skins have them.
    for (const char* key : {"CLOSE", "CLOSE2", "CLOSE3", "MAX", "MAX2", "MAX3", "RES1", "RES2",
                            "RES3", "MIN", "MIN2", "MIN3", "ONTOP1", "ONTOP3"})
        piece(key, 20, look.caption - 10);
    const std::pair<const char*, qint16> metrics[] = {{"XOFFSET", 12}, {"XOFFSET2", 8},
                                                      {"YOFFSET", 6},  {"FROMRIGHT", 6},
                                                      {"FROMTOP", 5},  {"ICONSPACE", 2}};
    for (const auto& [key, value] : metrics)
        bag.writeInteger(QString::fromLatin1(key), value);
    return testskin::write(dir.filePath(name), bag);
}

std::vector<diary::SkinnedForm*> SkinnedApp::openBoth() {
    std::vector<diary::SkinnedForm*> forms{openWrite(), openLook()};
    for (QWidget* w : forms)
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    return forms;
}

void SkinnedApp::eachAlone(const std::function<void(diary::SkinnedForm*)>& test) {
    for (app::FormId id : {app::FormId::Write, app::FormId::Look}) {
        auto* form = qobject_cast<diary::SkinnedForm*>(app::load(id));
        app::show(form);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
        SCOPED_TRACE(form->objectName().toStdString());
        test(form);
        app::unload(form);
        settle();
    }
}

QString SkinnedApp::skinOf(diary::SkinnedForm* form) const {
    const QString path = form->JSCAPTION1->Path();
    for (const JSBORDER* b : {form->JSBORDER1, form->JSBORDER2, form->JSBORDER3})
        if (b->Path() != path)
            return QStringLiteral("mixed");
    // What is drawn must agree with the paths.
    const SkinLook& look = path == defaultSkin ? kDefault : kOther;
    const QImage left = form->JSBORDER1->surface().toImage();
    if (form->JSCAPTION1->height() != look.caption || form->JSBORDER1->width() != look.border ||
        left.isNull() || left.pixelColor(0, 0) != look.colour)
        return QStringLiteral("mixed");
    return path == defaultSkin ? QStringLiteral("16")
           : path == otherSkin ? QStringLiteral("other")
                               : QStringLiteral("mixed");
}
