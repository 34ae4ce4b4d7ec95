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
    for (const char* name : {"qtbase_zh_CN"}) {
        auto* tr = new QTranslator(&app);
        if (tr->load(QString::fromLatin1(name), dir))
            app.installTranslator(tr);
        else
            delete tr;
    }
}

} // namespace app
