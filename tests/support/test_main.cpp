// Starts Qt offscreen in Chinese, with the scripted dialogs and desktop installed.
#include "shell/Locale.h"
#include "support/Support.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {
QtMessageHandler previousHandler = nullptr;

// The offscreen platform can neither shape windows nor pass on a minimum size, and says so
// each time; both are read back from the widget instead.
void quietAboutMasks(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QLatin1String("does not support setting window masks")) ||
        text.contains(QLatin1String("does not support propagateSizeHints")))
        return;
    if (previousHandler)
        previousHandler(type, context, text);
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    previousHandler = qInstallMessageHandler(quietAboutMasks);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    app::installChinese(app);
    return RUN_ALL_TESTS();
}
