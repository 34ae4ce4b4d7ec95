#include "data/postgres/internal.h"

// The server's SQLSTATEs and connection failures as the kinds of failure they are.
namespace ado::postgres {

Error connectFailure(const QString& why, const QString& file) {
    if (why.contains(QLatin1String("authentication failed")))
        return Error(QStringLiteral("数据库服务器拒绝了登录（%1）").arg(why), kServerAuth, file);
    if (why.contains(QLatin1String("certificate")) || why.contains(QLatin1String("SSL")))
        return Error(
            QStringLiteral("数据库服务器的证书无法验证，已拒绝连接，什么也没有发送（%1）").arg(why),
            kServerTls, file);
    return Error(QStringLiteral("无法连接数据库服务器，请检查网络或稍后再试（%1）").arg(why),
                 kServerDown, file);
}

void Session::fail(const char* sqlstate, const QString& primary) {
    const QByteArray state(sqlstate ? sqlstate : "");
    const QString& file = file_;
    if (state == "23505")
        throw Error(Failure::Duplicate,
                    QStringLiteral("UNIQUE constraint failed (%1)").arg(primary), kServerError,
                    file, QString::fromLatin1(state));
    if (state == "40001" || state == "40P01")
        throw Error(Failure::Busy, primary, kServerError, file, QString::fromLatin1(state));
    // A lock another session holds, or a statement the server stopped at its timeout.
    if (state == "55P03" || state == "57014")
        throw Error(QStringLiteral("数据库服务器正忙，请稍后再试（%1）").arg(primary), kServerBusy,
                    file);
    if (state == "53100")
        throw Error(Failure::Full, primary, kServerError, file, QString::fromLatin1(state));
    if (state == "DV001")
        throw Error(primary, kServerTicket, file);
    if (state == "DV002")
        throw Error(QStringLiteral("刚才注册的人太多，请过一分钟再试（%1）").arg(primary),
                    kServerLimit, file);
    if (state == "54000" || state == "53400")
        throw Error(QStringLiteral("内容太长，数据库服务器不接受（%1）").arg(primary), kServerLimit,
                    file);
    if (state == "53300")
        throw Error(QStringLiteral("数据库服务器的连接数已满，请稍后再试（%1）").arg(primary),
                    kServerBusy, file);
    if (lost() || state.startsWith("08") || state.startsWith("57"))
        throw Error(QStringLiteral("与数据库服务器的连接已断开，请稍后再试（%1）").arg(primary),
                    kServerLost, file);
    if (state == "42501")
        throw Error(QStringLiteral("数据库服务器拒绝了该操作：没有权限（%1）").arg(primary),
                    kServerRefused, file);
    if (state == "42P01")
        throw Error(Failure::NoSuchTable, QStringLiteral("no such table (%1)").arg(primary),
                    kServerError, file, QString::fromLatin1(state));
    throw Error(QStringLiteral("数据库服务器无法执行该操作（%1）").arg(primary), kServerError,
                file);
}

} // namespace ado::postgres
