// Starts Qt offscreen in Chinese, with the scripted dialogs and desktop installed.
#include "shell/Locale.h"
#include "support/Fakes.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    app::installChinese(app);
    return RUN_ALL_TESTS();
}
