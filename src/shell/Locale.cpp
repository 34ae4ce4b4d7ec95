#include "shell/Locale.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace app {

void installChinese(QApplication& app) {
    const QLocale zh(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(zh);
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* tr = new QTranslator(&app);
    if (tr->load(QStringLiteral("qtbase_zh_CN"), dir))
        app.installTranslator(tr);
    else
        delete tr;
}

} // namespace app
