#include "app/DbGuard.h"

#include "app/Dialogs.h"
#include "data/ado.h"

#include <QDir>

namespace app {

bool guarded(QWidget* parent, const std::function<void()>& work) {
    try {
        work();
        return true;
    } catch (const ado::Error& e) {
        if (e.code() == ado::kFileReplaced) {
            Dialogs::instance().message(parent, e.message(), kAppTitle, Icon::Exclamation);
            return false;
        }
        QString text = QStringLiteral("数据库操作失败：%1").arg(e.userText());
        if (!e.file().isEmpty())
            text += QStringLiteral("\n数据库文件：%1").arg(QDir::toNativeSeparators(e.file()));
        Dialogs::instance().message(parent, text, QStringLiteral("错误"), Icon::Critical);
        return false;
    }
}

} // namespace app
