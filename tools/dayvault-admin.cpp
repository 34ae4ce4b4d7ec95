// Administers a DayVault database: create it, list users, grant or revoke the permission
// to see every writer's entries, add a user.
#include "accounts/Password.h"
#include "data/ado.h"
#include "data/statements.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

namespace {

int usage() {
    std::fputs("用法：\n"
               "  dayvault-admin init PATH                创建新的日记数据库（不覆盖已有文件）\n"
               "  dayvault-admin users PATH               列出用户及其权限值\n"
               "  dayvault-admin adduser PATH NAME PASSWORD  添加用户\n"
               "  dayvault-admin grant PATH NAME          让用户可以查看所有人的日记（权限值 1）\n"
               "  dayvault-admin revoke PATH NAME         收回该权限（权限值 0）\n",
               stderr);
    return 2;
}

void say(FILE* f, const QString& text) {
    std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), f);
}

void open(ado::Connection& c, const QString& path) {
    c.ConnectionString = QStringLiteral("data source=") + path;
    c.Open();
}

bool userExists(ado::Connection& c, const QString& name) {
    ado::Recordset rs;
    rs.Open(sql::userQuery(name), c);
    return !rs.eof();
}

int setPopedom(const QString& path, const QString& rawName, int value) {
    const QString name = accounts::normalise(rawName);
    ado::Connection c;
    open(c, path);
    const long long n = c.Execute(
        QStringLiteral("update JR_user set popedom=%1 where B_user='%2'").arg(value).arg(name));
    if (n == 0) {
        say(stderr, QStringLiteral("没有这个用户：%1").arg(name));
        return 1;
    }
    say(stdout, QStringLiteral("%1 的权限值现在是 %2").arg(name).arg(value));
    return 0;
}

int run(const QStringList& args) {
    if (args.size() < 2)
        return usage();
    const QString cmd = args[0];
    const QString path = args[1];
    if (cmd == QLatin1String("init") && args.size() == 2) {
        if (QFileInfo::exists(path)) {
            say(stderr, QStringLiteral("文件已存在，不会覆盖：%1").arg(path));
            return 1;
        }
        ado::createDatabase(path);
        say(stdout, QStringLiteral("已创建数据库：%1").arg(path));
        return 0;
    }
    if (cmd == QLatin1String("users") && args.size() == 2) {
        ado::Connection c;
        open(c, path);
        ado::Recordset rs;
        rs.Open(QStringLiteral("select B_user, popedom from JR_user order by B_user"), c);
        for (; !rs.eof(); rs.MoveNext())
            say(stdout,
                QStringLiteral("%1\t%2").arg(rs.Fields(QStringLiteral("B_user")).toString(),
                                             rs.Fields(QStringLiteral("popedom")).toString()));
        return 0;
    }
    if (cmd == QLatin1String("adduser") && args.size() == 4) {
        const QString name = accounts::normalise(args[2]);
        if (name.isEmpty()) {
            say(stderr, QStringLiteral("用户名不能为空"));
            return 1;
        }
        ado::Connection c;
        open(c, path);
        if (userExists(c, name)) {
            say(stderr, QStringLiteral("此用户已经存在：%1").arg(name));
            return 1;
        }
        c.Execute(sql::insertUser(name, accounts::hashPassword(accounts::normalise(args[3]))));
        say(stdout, QStringLiteral("已添加用户：%1").arg(name));
        return 0;
    }
    if (cmd == QLatin1String("grant") && args.size() == 3)
        return setPopedom(path, args[2], 1);
    if (cmd == QLatin1String("revoke") && args.size() == 3)
        return setPopedom(path, args[2], 0);
    return usage();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    try {
        return run(args);
    } catch (const ado::Error& e) {
        say(stderr, QStringLiteral("错误：%1\n文件：%2").arg(e.userText(), e.file()));
        return 1;
    } catch (const std::exception& e) {
        say(stderr, QStringLiteral("错误：%1").arg(QString::fromLocal8Bit(e.what())));
        return 1;
    }
}
