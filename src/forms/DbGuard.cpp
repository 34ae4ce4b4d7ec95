#include "forms/DbGuard.h"

#include "data/ado.h"
#include "shell/Dialogs.h"

#include <QDir>
#include <new>

namespace app {
namespace {
void failed(QWidget* parent, const QString& what) {
    Dialogs::instance().message(parent, what + QStringLiteral("\n窗口中的内容保持不变。"),
                                QStringLiteral("错误"), Icon::Critical);
}
} // namespace

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
    } catch (const std::bad_alloc&) {
        failed(parent, QStringLiteral("内存不足，操作没有完成。"));
        return false;
    } catch (...) {
        // What an exception says may quote what was typed: the box keeps to its own words.
        failed(parent, QStringLiteral("操作没有完成：程序内部出错。"));
        return false;
    }
}

} // namespace app
