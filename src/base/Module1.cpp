#include "base/Module1.h"

#include <QCoreApplication>

namespace Module1 {
void reset() {
    SkinPath.clear();
    UserName.clear();
    UserPopedom = 0;
    ResizeEnabled = false;
}
} // namespace Module1

namespace app {
namespace {
QString& folderOverride() {
    static QString folder;
    return folder;
}
std::function<QDateTime()>& clockFn() {
    static std::function<QDateTime()> fn;
    return fn;
}
} // namespace

QString appFolder() {
    if (!folderOverride().isEmpty())
        return folderOverride();
    return QCoreApplication::applicationDirPath();
}

void setAppFolder(const QString& folder) {
    folderOverride() = folder;
}

QDateTime now() {
    return clockFn() ? clockFn()() : QDateTime::currentDateTime();
}

void setClock(std::function<QDateTime()> clock) {
    clockFn() = std::move(clock);
}
} // namespace app
