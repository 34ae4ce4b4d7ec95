// Administers a DayVault database: create or upgrade it, list and add users, grant or revoke
// the administrator key, set a forgotten password, export entries, make a backup and restore
// a server's.
#include "accounts/Password.h"
#include "accounts/Session.h"
#include "admin/AdminIo.h"
#include "admin/Migrate.h"
#include "admin/Restore.h"
#include "data/ado.h"
#include "data/settings.h"
#include "data/statements.h"
#include "vault/KeyRing.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"
#include "vault/Login.h"
#include "vault/Pinned.h"

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
#include <string>
#include <unistd.h>

namespace {

// Asked for, the usage goes to standard output and is no failure.
int usage(FILE* to = stderr) {
    std::fputs(
        "用法（密码从标准输入读取，每行一个；--as ADMIN 时先读 ADMIN 的密码）：\n"
        "  dayvault-admin init DB --recovery-key-file FILE   创建数据库，把恢复密钥写入 FILE，\n"
        "                                                    管理员公钥写入 DB 旁的 admin.pub\n"
        "  dayvault-admin upgrade DB --recovery-key-file FILE  为旧版数据库加上密钥，或用已有的\n"
        "                                                    恢复密钥固定管理员公钥\n"
        "  dayvault-admin check DB                           列出数据库中不对的地方\n"
        "  dayvault-admin users DB                           列出用户及其权限值\n"
        "  dayvault-admin adduser DB NAME                    添加用户（密码从标准输入读取）\n"
        "  dayvault-admin grant DB NAME (--recovery-key-file FILE | --as ADMIN)\n"
        "                       让用户成为管理员（权限值 1）；读 NAME 本人的密码\n"
        "  dayvault-admin revoke DB NAME --recovery-key-file FILE\n"
        "                       收回管理员权限，并换用新的管理员密钥对\n"
        "  dayvault-admin passwd DB NAME (--recovery-key-file FILE | --as ADMIN)\n"
        "                       为忘记密码的用户设置新密码（读新密码）\n"
        "  dayvault-admin export DB [NAME] [--format json|markdown]\n"
        "                       [--recovery-key-file FILE | --as ADMIN] [--output FILE]\n"
        "                                     导出日记（到新文件 FILE，权限 0600，不覆盖）\n"
        "  dayvault-admin backup DB OUT                      在线备份数据库（不覆盖已有文件）\n"
        "  dayvault-admin migrate CONF SQLITE_FILE           把单机数据库迁移到服务器上的空数据库\n"
        "  dayvault-admin restore CONF DUMP --recovery-key-file FILE\n"
        "                       把服务器的备份（backup 所做）恢复到新建的空数据库\n"
        "  DB 也可以是 dayvault.conf：此时对其中的 PostgreSQL 服务器操作\n",
        to);
    return to == stderr ? 2 : 0;
}

void say(FILE* f, const QString& text) {
    std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), f);
}

using admin::createPrivate;
using admin::printable;
using admin::Refused;

// DB is the database file, or a settings file (dayvault.conf) naming a server: the tool then
// connects as the schema's owner, with its [admin] connection.
bool isSettings(const QString& path) {
    return path.endsWith(QLatin1String(".conf"));
}

void open(ado::Connection& c, const QString& path) {
    if (isSettings(path)) {
        const ado::Settings s = ado::readSettingsFile(path);
        c.ConnectionString = ado::connectionString(s, true);
    } else {
        c.ConnectionString = QStringLiteral("data source=") + path;
    }
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

QByteArray readRecovery(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw Refused{QStringLiteral("无法读取恢复密钥文件：%1").arg(file)};
    return f.read(4096);
}

vault::Secret recoveryAdminKey(ado::Connection& c, const QString& file) {
    auto key = vault::adminKeyFromRecovery(c.keyStore(), readRecovery(file));
    if (!key)
        throw Refused{QStringLiteral("恢复密钥不属于这个数据库")};
    return std::move(*key);
}

struct UserKey {
    vault::Unwrapped key;
    vault::Secret wrap;
};

// The data key of `name` opened by the password on standard input.
UserKey keyByPassword(ado::Connection& c, const QString& name) {
    const QString password = readLine(QStringLiteral("%1 的密码：").arg(printable(name)));
    ado::Recordset rs;
    rs.Open(sql::userQuery(name), c);
    const bool found = !rs.eof();
    const QString stored = found ? rs.Fields(QStringLiteral("B_password")).toString() : QString();
    accounts::Unlocked check = accounts::unlock(password, stored, found);
    if (!check.ok)
        throw Refused{QStringLiteral("无此用户或者密码不正确：%1").arg(printable(name))};
    auto key = accounts::dataKeyOf(c, name, check);
    // On a server only the key row tells a wrong password: the check value is the server's.
    if (!key && accounts::isPublicRecord(stored))
        throw Refused{QStringLiteral("无此用户或者密码不正确：%1").arg(printable(name))};
    if (!key)
        throw Refused{QStringLiteral("%1 还没有密钥：请先用程序登录一次").arg(printable(name))};
    return {std::move(*key), std::move(check.wrap)};
}

// A copy away from its pinned key (a backup, say): a key its owner's password opened names the
// installation it was made in, which vouches for the copy's administrator key.
void vouchByKey(ado::Connection& c, const vault::Unwrapped& key) {
    if (c.adminPublic().empty() && !c.vouchFor(key.adminPublic))
        throw Refused{QStringLiteral("这份数据库中的管理员公钥与密码打开的密钥不符，无法读取")};
}

// The administrator secret key from the recovery key file or from ADMIN's password.
vault::Secret adminKey(ado::Connection& c, const Args& a) {
    if (!a.recoveryFile.isEmpty())
        return recoveryAdminKey(c, a.recoveryFile);
    if (a.as.isEmpty())
        throw Refused{
            QStringLiteral("需要管理员密钥：请给出 --recovery-key-file FILE 或 --as ADMIN")};
    const QString admin = accounts::normalise(a.as);
    const UserKey key = keyByPassword(c, admin);
    vouchByKey(c, key.key);
    auto sk = vault::adminKeyOf(c, admin, key.key.key);
    if (!sk)
        throw Refused{QStringLiteral("%1 没有管理员密钥").arg(printable(admin))};
    return std::move(*sk);
}

QString storedRecord(ado::Connection& c, const QString& name) {
    ado::Recordset rs;
    rs.Open(sql::userQuery(name), c);
    if (rs.eof())
        throw Refused{QStringLiteral("没有这个用户：%1").arg(printable(name))};
    return rs.Fields(QStringLiteral("B_password")).toString();
}

bool userExists(ado::Connection& c, const QString& name) {
    ado::Recordset rs;
    rs.Open(sql::userQuery(name), c);
    return !rs.eof();
}

// NAME's own password vouches for the key the escrow holds: a forged escrow would hand the
// administrator key to whoever made it.
int grant(ado::Connection& c, const QString& name, const Args& a) {
    storedRecord(c, name);
    const vault::Secret admin = adminKey(c, a);
    UserKey own = keyByPassword(c, name);
    const auto record = c.keyStore().userKey(name);
    const auto escrowed =
        record ? vault::openEscrow(record->escrow, vault::fold(name), admin) : std::nullopt;
    if (!escrowed || !(*escrowed == own.key.key))
        throw Refused{
            QStringLiteral("托管密钥与用户本人的密钥不符：%1，没有授权").arg(printable(name))};
    const vault::Secret key = vault::currentKey(c, name, std::move(own.key), own.wrap, nullptr);
    accounts::inTransaction(c, [&] {
        c.Execute(sql::setPopedom(name, 1));
        c.setServerAdmin(name, true);
        vault::grantAdmin(c.keyStore(), name, key, admin);
    });
    say(stdout, QStringLiteral("%1 现在是管理员（权限值 1）").arg(printable(name)));
    return 0;
}

// A new administrator key pair, so a copy of the old one opens nothing written from now on.
int revoke(ado::Connection& c, const QString& name, const Args& a) {
    storedRecord(c, name);
    if (a.recoveryFile.isEmpty())
        throw Refused{QStringLiteral("收回管理员密钥要换用新的管理员密钥对，需要恢复密钥："
                                     "请给出 --recovery-key-file FILE")};
    const QByteArray recovery = readRecovery(a.recoveryFile);
    const vault::Secret old = recoveryAdminKey(c, a.recoveryFile);
    int unopened = 0;
    QStringList others;
    accounts::inTransaction(c, [&] {
        c.Execute(sql::setPopedom(name, 0));
        c.setServerAdmin(name, false);
        const vault::Bytes pk = vault::replaceAdminKeyPair(c.keyStore(), old, recovery, &unopened);
        for (const auto& row : c.rows({QStringLiteral("select B_user from JR_user where "
                                                      "popedom=1 order by B_user"),
                                       {}}))
            others << printable(row[0].toString());
        // Pinned before the file commits: without the pin the file would be refused.
        vault::writePinned(vault::adminPubPath(c.file()), pk);
    });
    say(stdout, QStringLiteral("%1 不再是管理员（权限值 0）；已换用新的管理员密钥对，"
                               "每位用户下次登录时换用新的数据密钥")
                    .arg(printable(name)));
    if (!others.isEmpty())
        say(stdout, QStringLiteral("以下管理员需要重新授权（grant）：%1")
                        .arg(others.join(QStringLiteral("、"))));
    if (unopened)
        say(stderr,
            QStringLiteral("有 %1 位用户的托管密钥无法打开，未能换用新的管理员公钥").arg(unopened));
    return 0;
}

// A forgotten password, set with a new data key: the entries the escrowed key opens are sealed
// again with it, the others stay as they are. The escrow is never installed: anyone can seal
// one to the public key, so it only vouches for the rows it opens, and one that opens none of
// them is refused.
int passwd(ado::Connection& c, const QString& name, const Args& a) {
    const QString stored = storedRecord(c, name);
    const vault::Secret admin = adminKey(c, a);
    const auto record = c.keyStore().userKey(name);
    std::optional<vault::Unwrapped> key;
    vault::Opened opened;
    // The next key of a re-key cut off: the entries already sealed with it are his too.
    const auto pending = vault::pendingKeyByEscrow(c, name, admin);
    if (record) {
        auto escrowed = vault::openEscrow(record->escrow, vault::fold(name), admin);
        if (!escrowed)
            throw Refused{QStringLiteral("无法取得 %1 的密钥，密码没有修改").arg(printable(name))};
        opened = vault::openedBy(c, name, *escrowed, admin::progressOn(QStringLiteral("检查")));
        if (pending) {
            const long long moved = vault::openedBy(c, name, *pending).opened;
            opened.opened += moved;
            opened.unopened -= moved;
        }
        if (opened.unopened > 0 && opened.opened == 0)
            throw Refused{QStringLiteral("托管密钥打不开 %1 的日记（可能被人改动过），密码没有修改")
                              .arg(printable(name))};
        key = vault::Unwrapped{std::move(*escrowed), vault::Bytes()};
    } else if (accounts::isRecord(stored) || accounts::isPublicRecord(stored)) {
        throw Refused{QStringLiteral("找不到 %1 的密钥记录，密码没有修改").arg(printable(name))};
    }
    accounts::setPassword(c, name, readLine(QStringLiteral("%1 的新密码：").arg(printable(name))),
                          key, stored, pending ? &*pending : nullptr,
                          admin::progressOn(QStringLiteral("重新加密")));
    say(stdout, QStringLiteral("已为 %1 设置新密码").arg(printable(name)));
    if (opened.unopened > 0)
        say(stderr,
            QStringLiteral("%1 的 %2 篇日记托管密钥打不开（可能被人改动过），仍显示为已损坏")
                .arg(printable(name))
                .arg(opened.unopened));
    return 0;
}

int exportEntries(ado::Connection& c, const QString& name, const Args& a, FILE* out) {
    if (a.format != QLatin1String("json") && a.format != QLatin1String("markdown"))
        throw Refused{QStringLiteral("未知的格式：%1").arg(a.format)};
    vault::KeyRing ring;
    c.keys = &ring;
    if (!a.recoveryFile.isEmpty() || !a.as.isEmpty()) {
        vault::Secret sk = adminKey(c, a);
        // A copy away from its pinned key: the administrator key that opened vouches for it.
        if (c.adminPublic().empty())
            c.vouchFor(vault::publicOf(sk));
        ring.bindTo(c.adminPublic());
        if (!ring.keepAdminKey(std::move(sk)))
            throw Refused{QStringLiteral("管理员密钥与固定的管理员公钥不符")};
    } else {
        if (name.isEmpty())
            throw Refused{QStringLiteral("请给出用户名，或者 --recovery-key-file / --as")};
        UserKey key = keyByPassword(c, name);
        vouchByKey(c, key.key);
        ring.bindTo(c.adminPublic());
        ring.keepUserKey(name, key.key.key.copy());
    }
    sql::Statement query{QStringLiteral("select ID from JR_content") +
                             (name.isEmpty() ? QString() : QStringLiteral(" where B_writer=?")) +
                             QStringLiteral(" order by ID"),
                         {}};
    if (!name.isEmpty())
        query.params.append({QStringLiteral("B_writer"), name});
    query.keysOf = QStringLiteral("JR_content");
    ado::Recordset rs;
    rs.Open(query, c);
    int skipped = 0;
    for (; !rs.eof(); rs.MoveNext()) {
        if (!rs.opened()) {
            ++skipped;
            continue;
        }
        const auto text = [&](const char* column) {
            return rs.Fields(QLatin1String(column)).toString();
        };
        if (a.format == QLatin1String("json")) {
            QJsonObject o;
            o[QStringLiteral("id")] = rs.Fields(QStringLiteral("ID")).toLongLong();
            const std::pair<const char*, const char*> keys[] = {{"title", "B_title"},
                                                                {"weather", "B_weather"},
                                                                {"content", "B_content"},
                                                                {"writer", "B_writer"},
                                                                {"time", "B_time"}};
            for (const auto& [key, column] : keys) {
                const QVariant v = rs.Fields(QLatin1String(column));
                o[QLatin1String(key)] = v.isNull() ? QJsonValue() : QJsonValue(v.toString());
            }
            std::fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).constData(), out);
            std::fputc('\n', out);
        } else {
            say(out, QStringLiteral(
                         "## %1\n\n- 编号：%2\n- 作者：%3\n- 天气：%4\n- 添加时间：%5\n\n%6\n")
                         .arg(text("B_title"), text("ID"), text("B_writer"), text("B_weather"),
                              text("B_time"), text("B_content")));
        }
    }
    rs.Close();
    ring.clear();
    if (skipped)
        say(stderr, QStringLiteral("有 %1 篇日记无法解密，未导出").arg(skipped));
    return 0;
}

int backup(const QString& path, const QString& out) {
    ado::Connection c;
    if (isSettings(path))
        open(c, path);
    else if (!QFileInfo::exists(path))
        throw Refused{QStringLiteral("数据库不存在：%1").arg(path)};
    ::close(createPrivate(out));
    try {
        if (c.server())
            ado::backupServer(c, out);
        else
            ado::backupDatabase(path, out);
    } catch (...) {
        QFile::remove(out);
        throw;
    }
    say(stdout, QStringLiteral("已备份到：%1").arg(out));
    return 0;
}

// Everything that keeps the program from opening the file, or a user from logging in.
int check(const QString& path) {
    ado::Connection c;
    c.requirePinnedKey = false;
    c.refuseUnknownObjects = false;
    open(c, path);
    QStringList problems = c.problems();
    if (c.sealed())
        for (const auto& row :
             c.rows({QStringLiteral("select B_user,B_password from JR_user order by B_user"), {}}))
            if ((accounts::isRecord(row[1].toString()) ||
                 accounts::isPublicRecord(row[1].toString())) &&
                !c.keyStore().userKey(row[0].toString()))
                problems
                    << QStringLiteral("用户 %1 的密钥记录不见了").arg(printable(row[0].toString()));
    for (const QString& p : problems)
        say(stdout, p);
    if (problems.isEmpty())
        say(stdout, QStringLiteral("没有发现问题：%1").arg(path));
    return problems.isEmpty() ? 0 : 1;
}

// A file with keys is pinned only when its recovery key proves the stored public key; an old
// plain file gets a fresh key pair, whatever a planted JR_vault holds, and its plain rows
// signed so that rows planted later are told apart from them.
int upgrade(const QString& path, const Args& a) {
    ado::Connection c;
    c.requirePinnedKey = false;
    open(c, path);
    if (c.server()) {
        say(stdout, ado::upgradeServer(c)
                        ? QStringLiteral("服务器上的日记已升级；请再运行一次 server-setup")
                        : QStringLiteral("数据库已是最新版本：%1").arg(path));
        return 0;
    }
    vault::KeyStore& store = c.keyStore();
    const QString adminPub = vault::adminPubPath(path);
    if (QFileInfo::exists(a.recoveryFile)) {
        const vault::Secret sk = recoveryAdminKey(c, a.recoveryFile);
        const vault::Bytes pk = vault::publicOf(sk);
        const bool pinned = vault::readPinned(adminPub, vault::kPublicBytes) == pk;
        if (pinned && !c.adminPublic().empty()) {
            say(stdout, QStringLiteral("数据库已是最新版本：%1").arg(path));
            return 0;
        }
        accounts::inTransaction(c, [&] {
            // First pinned now: what plain rows the file holds were left by the program.
            if (!QFileInfo::exists(adminPub) && !QFileInfo::exists(vault::upgradePubPath(path))) {
                const vault::KeyPair signing = vault::newSigningKeyPair();
                vault::signPlainRows(c, signing.secretKey);
                vault::writePinned(vault::upgradePubPath(path), signing.publicKey);
            }
            c.markCurrent();
            vault::writePinned(adminPub, pk);
        });
        say(stdout, QStringLiteral("已固定管理员公钥：%1").arg(adminPub));
        return 0;
    }
    if ((c.hasTable(QStringLiteral("jr_key")) || c.hasTable(QStringLiteral("jr_admin"))) &&
        !c.rows({QStringLiteral("select 1 from JR_key union all select 1 from JR_admin"), {}})
             .empty())
        throw Refused{
            QStringLiteral("数据库已有密钥：请用 --recovery-key-file 给出它的恢复密钥文件")};
    const int fd = createPrivate(a.recoveryFile);
    try {
        accounts::inTransaction(c, [&] {
            const vault::Installation keys = vault::newInstallation(store);
            if (keys.recoveryText.size() != qsizetype(2 * vault::kKeyBytes + 1))
                throw Refused{QStringLiteral("恢复密钥生成失败")};
            const vault::KeyPair signing = vault::newSigningKeyPair();
            vault::signPlainRows(c, signing.secretKey);
            c.markCurrent();
            writeAll(fd, keys.recoveryText, a.recoveryFile);
            vault::writePinned(vault::upgradePubPath(path), signing.publicKey);
            vault::writePinned(adminPub, keys.adminPublic);
        });
    } catch (...) {
        QFile::remove(a.recoveryFile);
        throw;
    }
    say(stdout, QStringLiteral("已升级数据库：%1\n恢复密钥已写入：%2（请妥善保管）")
                    .arg(path, a.recoveryFile));
    return 0;
}

// The recovery key `make` returns, written to a new private file; none is left when it fails.
void writeRecovery(const QString& file, const std::function<QByteArray()>& make) {
    const int fd = createPrivate(file);
    try {
        writeAll(fd, make(), file);
    } catch (...) {
        QFile::remove(file);
        throw;
    }
}

int initServer(const QString& path, const Args& a) {
    ado::Connection c;
    c.requirePinnedKey = false;
    open(c, path);
    writeRecovery(a.recoveryFile, [&] { return ado::initServer(c); });
    say(stdout, QStringLiteral("已在服务器上建立日记：%1\n管理员公钥已写入：%2（复制到每台电脑）\n"
                               "恢复密钥已写入：%3（请妥善保管）")
                    .arg(c.file(), vault::adminPubPath(c.file()), a.recoveryFile));
    return 0;
}

int init(const QString& path, const Args& a) {
    if (isSettings(path))
        return initServer(path, a);
    if (QFileInfo::exists(path))
        throw Refused{QStringLiteral("文件已存在，不会覆盖：%1").arg(path)};
    writeRecovery(a.recoveryFile, [&] { return ado::createDatabase(path); });
    say(stdout, QStringLiteral("已创建数据库：%1\n恢复密钥已写入：%2（请妥善保管）")
                    .arg(path, a.recoveryFile));
    return 0;
}

int run(const QStringList& raw) {
    if (raw.size() == 1 && (raw[0] == QLatin1String("--help") || raw[0] == QLatin1String("-h")))
        return usage(stdout);
    const auto parsed = parse(raw);
    if (!parsed || parsed->plain.size() < 2)
        return usage();
    const Args& a = *parsed;
    const QString cmd = a.plain[0];
    const QString path = a.plain[1];
    const qsizetype n = a.plain.size();
    const QString name = n > 2 ? accounts::normalise(a.plain[2]) : QString();
    if ((cmd == QLatin1String("init") || cmd == QLatin1String("upgrade")) && n == 2) {
        if (a.recoveryFile.isEmpty())
            throw Refused{QStringLiteral("请用 --recovery-key-file FILE 指定恢复密钥文件")};
        return cmd == QLatin1String("init") ? init(path, a) : upgrade(path, a);
    }
    if (cmd == QLatin1String("backup") && n == 3)
        return backup(path, a.plain[2]);
    if (cmd == QLatin1String("check") && n == 2)
        return check(path);
    if (cmd == QLatin1String("migrate") && n == 3) {
        if (!isSettings(path))
            throw Refused{QStringLiteral("迁移的目标是服务器：请给出它的 dayvault.conf")};
        ado::Connection from, to;
        open(from, a.plain[2]);
        to.requirePinnedKey = false;
        open(to, path);
        admin::migrate(from, to);
        return 0;
    }
    if (cmd == QLatin1String("restore") && n == 3) {
        if (!isSettings(path))
            throw Refused{QStringLiteral("恢复的目标是服务器：请给出它的 dayvault.conf")};
        if (a.recoveryFile.isEmpty())
            throw Refused{
                QStringLiteral("请用 --recovery-key-file FILE 给出这个日记的恢复密钥文件")};
        const QByteArray recovery = readRecovery(a.recoveryFile);
        ado::Connection to;
        to.requirePinnedKey = false;
        open(to, path);
        admin::restore(to, a.plain[2], recovery);
        return 0;
    }
    ado::Connection c;
    if (cmd == QLatin1String("users") && n == 2) {
        c.requirePinnedKey = false; // names only: a copy away from its pin lists them too
        open(c, path);
        ado::Recordset rs;
        rs.Open({QStringLiteral("select B_user, popedom from JR_user order by B_user")}, c);
        for (; !rs.eof(); rs.MoveNext())
            say(stdout, QStringLiteral("%1\t%2").arg(
                            printable(rs.Fields(QStringLiteral("B_user")).toString()),
                            rs.Fields(QStringLiteral("popedom")).toString()));
        return 0;
    }
    if (cmd == QLatin1String("adduser") && n == 4)
        throw Refused{QStringLiteral("密码不能写在命令行上（会留在进程列表和命令历史里）：请用 "
                                     "echo 密码 | dayvault-admin adduser DB NAME，或在提示时输入")};
    if (cmd == QLatin1String("adduser") && n == 3) {
        if (name.isEmpty())
            throw Refused{QStringLiteral("用户名不能为空")};
        if (const QString why = accounts::nameRefusal(name); !why.isEmpty())
            throw Refused{why};
        open(c, path);
        if (userExists(c, name))
            throw Refused{QStringLiteral("此用户已经存在：%1").arg(printable(name))};
        accounts::addUser(c, name, readLine(QStringLiteral("%1 的密码：").arg(printable(name))));
        say(stdout, QStringLiteral("已添加用户：%1").arg(printable(name)));
        return 0;
    }
    if (cmd == QLatin1String("grant") && n == 3)
        return open(c, path), grant(c, name, a);
    if (cmd == QLatin1String("revoke") && n == 3)
        return open(c, path), revoke(c, name, a);
    if (cmd == QLatin1String("passwd") && n == 3)
        return open(c, path), passwd(c, name, a);
    if (cmd == QLatin1String("export") && (n == 2 || n == 3)) {
        // A backup is read where it lies: what opens it proves it, not a pinned file beside it.
        c.requirePinnedKey = false;
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
