#include "base/Error.h"

#include <utility>

namespace ado {
namespace {

Failure ownKind(int code) {
    static const std::pair<int, Failure> kinds[] = {{kSuspiciousLink, Failure::SuspiciousLink},
                                                    {kFileReplaced, Failure::FileReplaced},
                                                    {kUnknownObject, Failure::ForeignObject},
                                                    {kUntrustedKeyFile, Failure::UntrustedKeyFile},
                                                    {kKeyMismatch, Failure::KeyMismatch},
                                                    {kRefused, Failure::Refused},
                                                    {kBadSettings, Failure::BadSettings},
                                                    {kSharedFile, Failure::SharedFile},
                                                    {kServerDown, Failure::ServerDown},
                                                    {kServerLost, Failure::ServerLost},
                                                    {kServerRefused, Failure::ServerRefused},
                                                    {kServerAuth, Failure::RefusedLogin},
                                                    {kServerTls, Failure::Tls},
                                                    {kServerError, Failure::ServerError},
                                                    {kServerBusy, Failure::ServerBusy},
                                                    {kServerTicket, Failure::Ticket},
                                                    {kServerLimit, Failure::ServerLimit}};
    for (const auto& [own, kind] : kinds)
        if (own == code)
            return kind;
    return Failure::Other;
}

} // namespace

Error::Error(const QString& message, int code, const QString& file)
    : Error(ownKind(code), message, code, file) {}

Error::Error(Failure kind, const QString& message, int code, const QString& file,
             const QString& state)
    : std::runtime_error(message.toStdString()), kind_(kind), message_(message), code_(code),
      file_(file), state_(state) {}

QString Error::userText() const {
    QString what;
    switch (kind_) {
    case Failure::CannotOpen:
        what = QStringLiteral("无法打开数据库文件（文件不存在或没有访问权限）");
        break;
    case Failure::FolderShut:
        what = QStringLiteral("数据库文件所在的文件夹不可写，无法使用数据库");
        break;
    case Failure::NotADatabase:
        what = QStringLiteral("文件不是有效的数据库");
        break;
    case Failure::Corrupt:
        what = QStringLiteral("数据库文件已损坏");
        break;
    case Failure::ReadOnly:
        what = QStringLiteral("数据库文件是只读的，无法保存更改");
        break;
    case Failure::Busy:
        what = QStringLiteral("数据库正被其他程序占用，请稍后再试");
        break;
    case Failure::Full:
        what = QStringLiteral("磁盘已满，无法保存");
        break;
    case Failure::Io:
        what = QStringLiteral("读写数据库文件时出错");
        break;
    case Failure::NoSuchTable:
        what = QStringLiteral("数据库中缺少数据表");
        break;
    case Failure::TooComplex:
        what = QStringLiteral("查询内容太长，请缩短后再试");
        break;
    case Failure::Other:
    case Failure::Misuse:
    case Failure::Constraint:
    case Failure::Duplicate:
        what = QStringLiteral("数据库无法执行该操作");
        break;
    default:
        return message_; // the layer's own words
    }
    return QStringLiteral("%1（%2）").arg(what, message_);
}

} // namespace ado
