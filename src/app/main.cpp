#include "app/FormRegistry.h"
#include "data/KeyRing.h"
#include "data/myClass.h"
#include "shell/Locale.h"
#include "shell/Navigation.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("DayVault"));
    // The process ends when no window is loaded after an event, not when one closes.
    QApplication::setQuitOnLastWindowClosed(false);
    app::installChinese(qapp);
    // The session's keys: wiped at each new login and when the program ends.
    vault::KeyRing keys;
    myClass::useKeys(&keys);
    app::registerForms();
    app::show(app::load(app::FormId::Login));
    const int rc = QApplication::exec();
    myClass::useKeys(nullptr);
    return rc;
}
