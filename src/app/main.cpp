#include "app/FormRegistry.h"
#include "shell/Locale.h"
#include "shell/Navigation.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("DayVault"));
    // The process ends when no window is loaded after an event, not when one closes.
    QApplication::setQuitOnLastWindowClosed(false);
    app::installChinese(qapp);
    app::registerForms();
    app::show(app::load(app::FormId::Login));
    return QApplication::exec();
}
