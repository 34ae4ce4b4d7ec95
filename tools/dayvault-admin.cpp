// Administers a DayVault database: create or upgrade it, list and add users, grant or revoke
// the administrator key, set a forgotten password, export entries, make a backup.
#include "accounts/Password.h"
#include "accounts/Session.h"
#include "admin/AdminIo.h"
#include "data/Vault.h"
#include "data/ado.h"
#include "data/statements.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <unistd.h>

namespace {

int usage() {
    std::fputs(
        "用法（密码从标准输入读取，每行一个；--as ADMIN 时先读 ADMIN 的密码）：\n"
        "  dayvault-admin init DB --recovery-key-file FILE   创建数据库，把恢复密钥写入 FILE\n"
        "  dayvault-admin upgrade DB --recovery-key-file FILE  为旧版数据库加上密钥\n"
        "  dayvault-admin users DB                           列出用户及其权限值\n"
        "  dayvault-admin adduser DB NAME                    添加用户（密码从标准输入读取）\n"
        "  dayvault-admin grant DB NAME (--recovery-key-file FILE | --as ADMIN)\n"
        "                                                    让用户成为管理员（权限值 1）\n"
        "  dayvault-admin revoke DB NAME                     收回管理员权限和密钥\n"
        "  dayvault-admin passwd DB NAME (--recovery-key-file FILE | --as ADMIN)\n"
        "                                                    为忘记密码的用户设置新密码\n"
        "  dayvault-admin export DB [NAME] [--format json|markdown]\n"
        "                       [--recovery-key-file FILE | --as ADMIN] [--output FILE]\n"
        "                                     导出日记（到新文件 FILE，权限 0600，不覆盖）\n"
        "  dayvault-admin backup DB OUT                      在线备份数据库（不覆盖已有文件）\n"
        "  dayvault-admin fix-modes DIR    （root）设置共享文件夹及其中文件的属主和权限\n",
        stderr);
    return 2;
}

void say(FILE* f, const QString& text) {
    std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), f);
}

using admin::createPrivate;
using admin::Refused;

void open(ado::Connection& c, const QString& path) {
    c.ConnectionString = QStringLiteral("data source=") + path;
    c.Open();
}

// One password from standard input.
QString readLine(const QString& prompt = QStringLiteral("密码：")) {
    return accounts::normalise(admin::readPassword(prompt.toUtf8().constData()));
}

// Options after the positional arguments.
struct Args {
    QStringList plain;
    QString recoveryFile, as, output, format = QStringLiteral("json");
};

std::optional<Args> parse(const QStringList& in) {
    Args a;
    for (qsizetype i = 0; i < in.size(); ++i) {
        const QString& s = in[i];
        QString* target = s == QLatin1String("--recovery-key-file") ? &a.recoveryFile
                          : s == QLatin1String("--as")              ? &a.as
                          : s == QLatin1String("--format")          ? &a.format
                          : s == QLatin1String("--output")          ? &a.output
                                                                    : nullptr;
        if (!target) {
            if (s.startsWith(QLatin1String("--")))
                return std::nullopt;
            a.plain << s;
            continue;
        }
        if (++i >= in.size())
            return std::nullopt;
        *target = in[i];
    }
    return a;
}

void writeAll(int fd, const QByteArray& bytes, const QString& path) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n <= 0) {
            ::close(fd);
            throw Refused{QStringLiteral("无法写入文件：%1").arg(path)};
        }
        done += n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        throw Refused{QStringLiteral("无法写入文件：%1").arg(path)};
}

vault::Secret recoveryAdminKey(sqlite3* db, const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw Refused{QStringLiteral("无法读取恢复密钥文件：%1").arg(file)};
    auto key = vault::adminKeyFromRecovery(db, f.read(4096));
    if (!key)
        throw Refused{QStringLiteral("恢复密钥不属于这个数据库")};
    return std::move(*key);
}

// The data key of `name` opened by the password on standard input.
vault::Secret keyByPassword(ado::Connection& c, const QString& name) {
    const QString password = readLine(QStringLiteral("%1 的密码：").arg(name));
    ado::Recordset rs;
    rs.Open(sql::userQuery(name), c);
    const bool found = !rs.eof();
    const QString stored = found ? rs.Fields(QStringLiteral("B_password")).toString() : QString();
    const accounts::Unlocked check = accounts::unlock(password, stored, found);
    if (!check.ok)
        throw Refused{QStringLiteral("无此用户或者密码不正确：%1").arg(name)};
    auto key = accounts::dataKeyOf(c, name, check);
    if (!key)
        throw Refused{QStringLiteral("%1 还没有密钥：请先用程序登录一次").arg(name)};
    return std::move(*key);
}

// The administrator secret key from the recovery key file or from ADMIN's password.
vault::Secret adminKey(ado::Connection& c, const Args& a) {
    if (!a.recoveryFile.isEmpty())
        return recoveryAdminKey(c.handle(), a.recoveryFile);
    if (a.as.isEmpty())
        throw Refused{
            QStringLiteral("需要管理员密钥：请给出 --recovery-key-file FILE 或 --as ADMIN")};
    const QString admin = accounts::normalise(a.as);
    const vault::Secret key = keyByPassword(c, admin);
    auto sk = vault::adminKeyOf(c.handle(), admin, key);
    if (!sk)
        throw Refused{QStringLiteral("%1 没有管理员密钥").arg(admin)};
    return std::move(*sk);
}

vault::Secret escrowed(ado::Connection& c, const QString& name, const vault::Secret& admin) {
    auto key = vault::escrowedKey(c.handle(), name, admin);
    if (!key)
        throw Refused{QStringLiteral("%1 还没有密钥：请先用程序登录一次").arg(name)};
    return std::move(*key);
}

bool userExists(ado::Connection& c, const QString& name) {
    ado::Recordset rs;
    rs.Open(sql::userQuery(name), c);
    return !rs.eof();
}

void inTransaction(ado::Connection& c, const std::function<void()>& work) {
    c.Execute(QStringLiteral("begin immediate"));
    try {
        work();
        c.Execute(QStringLiteral("commit"));
    } catch (...) {
        c.Execute(QStringLiteral("rollback"));
        throw;
    }
}

int setAdmin(ado::Connection& c, const QString& name, const Args& a, bool grant) {
    if (!userExists(c, name))
        throw Refused{QStringLiteral("没有这个用户：%1").arg(name)};
    std::optional<vault::Secret> admin, key;
    if (grant) {
        admin = adminKey(c, a);
        key = escrowed(c, name, *admin);
    }
    inTransaction(c, [&] {
        c.Execute(QStringLiteral("update JR_user set popedom=%1 where B_user='%2'")
                      .arg(grant ? 1 : 0)
                      .arg(name));
        if (grant)
            vault::grantAdmin(c.handle(), name, *key, *admin);
        else
            vault::revokeAdmin(c.handle(), name);
    });
    say(stdout, grant ? QStringLiteral("%1 现在是管理员（权限值 1）").arg(name)
                      : QStringLiteral("%1 不再是管理员（权限值 0）").arg(name));
    return 0;
}

int exportEntries(ado::Connection& c, const QString& name, const Args& a, FILE* out) {
    if (a.format != QLatin1String("json") && a.format != QLatin1String("markdown"))
        throw Refused{QStringLiteral("未知的格式：%1").arg(a.format)};
    sqlite3* db = c.handle();
    vault::forget();
    if (!a.recoveryFile.isEmpty() || !a.as.isEmpty()) {
        vault::keepAdminKey(db, adminKey(c, a));
    } else {
        if (name.isEmpty())
            throw Refused{QStringLiteral("请给出用户名，或者 --recovery-key-file / --as")};
        vault::keepUserKey(db, name, keyByPassword(c, name));
    }
    const char* sql =
        "select ID, dv_open(B_title,B_writer,'B_title'), dv_open(B_weather,B_writer,'B_weather'),"
        " dv_open(B_content,B_writer,'B_content'), B_writer, B_time,"
        " dv_state(B_title,B_writer,'B_title') + dv_state(B_weather,B_writer,'B_weather') +"
        " dv_state(B_content,B_writer,'B_content') from JR_content"
        " where ?1 is null or B_writer=?1 order by ID";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
        c.fail(sqlite3_errcode(db), QString());
    const QByteArray who = name.toUtf8();
    if (!name.isEmpty())
        sqlite3_bind_text(st, 1, who.constData(), int(who.size()), SQLITE_TRANSIENT);
    const auto text = [&](int i) {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                 sqlite3_column_bytes(st, i));
    };
    int skipped = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (sqlite3_column_int(st, 6) != 0) {
            ++skipped;
            continue;
        }
        if (a.format == QLatin1String("json")) {
            QJsonObject o;
            o[QStringLiteral("id")] = qint64(sqlite3_column_int64(st, 0));
            const char* keys[] = {"title", "weather", "content", "writer", "time"};
            for (int i = 0; i < 5; ++i)
                o[QString::fromLatin1(keys[i])] = sqlite3_column_type(st, i + 1) == SQLITE_NULL
                                                      ? QJsonValue()
                                                      : QJsonValue(text(i + 1));
            std::fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).constData(), out);
            std::fputc('\n', out);
        } else {
            say(out, QStringLiteral(
                         "## %1\n\n- 编号：%2\n- 作者：%3\n- 天气：%4\n- 添加时间：%5\n\n%6\n")
                         .arg(text(1), QString::number(sqlite3_column_int64(st, 0)), text(4),
                              text(2), text(5), text(3)));
        }
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE)
        c.fail(rc, QString());
    vault::forget();
    if (skipped)
        say(stderr, QStringLiteral("有 %1 篇日记无法解密，未导出").arg(skipped));
    return 0;
}

int backup(const QString& path, const QString& out) {
    if (!QFileInfo::exists(path))
        throw Refused{QStringLiteral("数据库不存在：%1").arg(path)};
    ::close(createPrivate(out));
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    int rc =
        sqlite3_open_v2(QFile::encodeName(path).constData(), &src, SQLITE_OPEN_READONLY, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_open_v2(QFile::encodeName(out).constData(), &dst, SQLITE_OPEN_READWRITE,
                             nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(src, 5000);
        sqlite3_backup* b = sqlite3_backup_init(dst, "main", src, "main");
        if (!b) {
            rc = sqlite3_errcode(dst);
        } else {
            while ((rc = sqlite3_backup_step(b, 256)) == SQLITE_OK || rc == SQLITE_BUSY ||
                   rc == SQLITE_LOCKED)
                sqlite3_sleep(rc == SQLITE_OK ? 0 : 50);
            sqlite3_backup_finish(b);
        }
    }
    const QString msg = QString::fromUtf8(sqlite3_errstr(rc));
    sqlite3_close(src);
    sqlite3_close(dst);
    if (rc != SQLITE_DONE) {
        QFile::remove(out);
        throw ado::Error(msg, rc, path);
    }
    say(stdout, QStringLiteral("已备份到：%1").arg(out));
    return 0;
}

// init and upgrade: the key file first, so nothing is made when it is refused.
int makeKeys(const QString& path, const Args& a, bool create) {
    if (a.recoveryFile.isEmpty())
        throw Refused{QStringLiteral("请用 --recovery-key-file FILE 指定恢复密钥文件")};
    if (create && QFileInfo::exists(path))
        throw Refused{QStringLiteral("文件已存在，不会覆盖：%1").arg(path)};
    QByteArray recovery;
    std::optional<ado::Connection> c;
    if (!create) {
        c.emplace();
        open(*c, path);
        if (vault::enabled(c->handle()) && vault::schemaVersion(c->handle()) >= 2) {
            say(stdout, QStringLiteral("数据库已是最新版本：%1").arg(path));
            return 0;
        }
    }
    const int fd = createPrivate(a.recoveryFile);
    try {
        if (create) {
            const admin::OwnerOnly mask; // the package sets the group's mode after
            recovery = ado::createDatabase(path);
        } else {
            inTransaction(*c, [&] { recovery = vault::upgrade(c->handle()); });
        }
        writeAll(fd, recovery, a.recoveryFile);
    } catch (...) {
        QFile::remove(a.recoveryFile);
        throw;
    }
    say(stdout, create ? QStringLiteral("已创建数据库：%1\n恢复密钥已写入：%2（请妥善保管）")
                             .arg(path, a.recoveryFile)
                       : QStringLiteral("已升级数据库：%1\n恢复密钥已写入：%2（请妥善保管）")
                             .arg(path, a.recoveryFile));
    return 0;
}

int run(const QStringList& raw) {
    const auto parsed = parse(raw);
    if (!parsed || parsed->plain.size() < 2)
        return usage();
    const Args& a = *parsed;
    const QString cmd = a.plain[0];
    const QString path = a.plain[1];
    const qsizetype n = a.plain.size();
    const QString name = n > 2 ? accounts::normalise(a.plain[2]) : QString();
    if ((cmd == QLatin1String("init") || cmd == QLatin1String("upgrade")) && n == 2)
        return makeKeys(path, a, cmd == QLatin1String("init"));
    if (cmd == QLatin1String("backup") && n == 3)
        return backup(path, a.plain[2]);
    if (cmd == QLatin1String("fix-modes") && n == 2)
        return admin::fixModes(path);
    ado::Connection c;
    if (cmd == QLatin1String("users") && n == 2) {
        open(c, path);
        ado::Recordset rs;
        rs.Open(QStringLiteral("select B_user, popedom from JR_user order by B_user"), c);
        for (; !rs.eof(); rs.MoveNext())
            say(stdout,
                QStringLiteral("%1\t%2").arg(rs.Fields(QStringLiteral("B_user")).toString(),
                                             rs.Fields(QStringLiteral("popedom")).toString()));
        return 0;
    }
    if (cmd == QLatin1String("adduser") && n == 4)
        throw Refused{QStringLiteral("密码不能写在命令行上（会留在进程列表和命令历史里）：请用 "
                                     "echo 密码 | dayvault-admin adduser DB NAME，或在提示时输入")};
    if (cmd == QLatin1String("adduser") && n == 3) {
        if (name.isEmpty())
            throw Refused{QStringLiteral("用户名不能为空")};
        open(c, path);
        if (userExists(c, name))
            throw Refused{QStringLiteral("此用户已经存在：%1").arg(name)};
        accounts::addUser(c, name, readLine(QStringLiteral("%1 的密码：").arg(name)));
        say(stdout, QStringLiteral("已添加用户：%1").arg(name));
        return 0;
    }
    if ((cmd == QLatin1String("grant") || cmd == QLatin1String("revoke")) && n == 3) {
        open(c, path);
        return setAdmin(c, name, a, cmd == QLatin1String("grant"));
    }
    if (cmd == QLatin1String("passwd") && n == 3) {
        open(c, path);
        if (!userExists(c, name))
            throw Refused{QStringLiteral("没有这个用户：%1").arg(name)};
        const vault::Secret admin = adminKey(c, a);
        const auto key = vault::escrowedKey(c.handle(), name, admin);
        // A new password without the key would leave the entries behind for good.
        if (!key && vault::hasUserKey(c.handle(), name))
            throw Refused{QStringLiteral("无法取得 %1 的密钥，密码没有修改").arg(name)};
        accounts::setPassword(c, name, readLine(QStringLiteral("%1 的新密码：").arg(name)),
                              key ? &*key : nullptr);
        say(stdout, QStringLiteral("已为 %1 设置新密码").arg(name));
        return 0;
    }
    if (cmd == QLatin1String("export") && (n == 2 || n == 3)) {
        open(c, path);
        admin::Output out(a.output);
        exportEntries(c, name, a, out.file());
        out.finish();
        return 0;
    }
    return usage();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    try {
        return run(args);
    } catch (const Refused& r) {
        say(stderr, r.text);
        return 1;
    } catch (const ado::Error& e) {
        say(stderr, QStringLiteral("错误：%1\n文件：%2").arg(e.userText(), e.file()));
        return 1;
    } catch (const std::exception& e) {
        say(stderr, QStringLiteral("错误：%1").arg(QString::fromLocal8Bit(e.what())));
        return 1;
    }
}
