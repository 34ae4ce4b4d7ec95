#include "admin/Restore.h"

#include "accounts/Session.h"
#include "admin/AdminIo.h"
#include "data/ado.h"
#include "vault/Cipher.h"
#include "vault/Keys.h"
#include "vault/Pinned.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace admin {
namespace {

// The diary's own tables, a re-key under way and drafts among them. Tickets and sign-up times
// belong to their moment, not to the diary.
const char* const kTables[] = {"jr_user",  "jr_role",    "jr_vault", "jr_key",  "jr_admin",
                               "jr_plain", "jr_content", "jr_rekey", "jr_draft"};

// A row of sealed fields at their largest (4 MiB each, in hex) fits; a longer line is no dump
// of ours.
constexpr qsizetype kLongestLine = 64 << 20;
// Rows sent in one statement, up to this many bytes: a round trip per row would make a large
// diary's restore slow.
constexpr int kBatchRows = 200;
constexpr qsizetype kBatchBytes = 16 << 20;

// The data of the dump's schema public as pg_restore writes it out (COPY blocks and the
// sequences' values), read through a pipe: the dump never sits in memory whole.
class DumpText {
public:
    explicit DumpText(const QString& dump) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw Refused{QStringLiteral("无法启动 pg_restore")};
        const QByteArray path = QFile::encodeName(QFileInfo(dump).absoluteFilePath());
        posix_spawn_file_actions_t io;
        posix_spawn_file_actions_init(&io);
        posix_spawn_file_actions_adddup2(&io, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&io, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const char* const argv[] = {"pg_restore", "--data-only",    "--schema=public",
                                    "--file=-",   path.constData(), nullptr};
        const int rc = ::posix_spawnp(&pid_, "pg_restore", &io, nullptr,
                                      const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&io);
        ::close(fds[1]);
        if (rc != 0) {
            ::close(fds[0]);
            pid_ = -1;
            throw Refused{QStringLiteral(
                "找不到 pg_restore：请安装 PostgreSQL 15 的客户端程序（postgresql-client-15）")};
        }
        in_ = ::fdopen(fds[0], "r");
        if (!in_) {
            ::close(fds[0]);
            stop();
            throw Refused{QStringLiteral("无法读取 pg_restore 的输出")};
        }
    }
    ~DumpText() {
        if (in_)
            std::fclose(in_);
        stop();
    }
    DumpText(const DumpText&) = delete;
    DumpText& operator=(const DumpText&) = delete;

    // The next line without its end; false after the last.
    bool next(QByteArray& line) {
        line.clear();
        char chunk[1 << 16];
        while (std::fgets(chunk, sizeof chunk, in_)) {
            line.append(chunk, qsizetype(std::strlen(chunk)));
            if (line.endsWith('\n')) {
                line.chop(1);
                return true;
            }
            if (line.size() > kLongestLine)
                throw Refused{QStringLiteral("备份文件中有一行长得不合常理，没有恢复")};
        }
        return !line.isEmpty();
    }

    // Throws unless pg_restore read the whole dump.
    void finish(const QString& dump) {
        std::fclose(in_);
        in_ = nullptr;
        int status = 0;
        const bool waited = ::waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw Refused{QStringLiteral("pg_restore 没有读完备份文件：%1，没有恢复").arg(dump)};
    }

private:
    void stop() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    pid_t pid_ = -1;
    FILE* in_ = nullptr;
};

int hexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// One field of COPY's text format; nullopt for \N.
std::optional<QByteArray> unescape(QByteArrayView f) {
    static constexpr std::pair<char, char> kNamed[] = {{'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                                       {'r', '\r'}, {'t', '\t'}, {'v', '\v'}};
    if (f == "\\N")
        return std::nullopt;
    QByteArray out;
    out.reserve(f.size());
    for (qsizetype i = 0; i < f.size(); ++i) {
        const char c = f[i];
        if (c != '\\' || i + 1 == f.size()) {
            out += c;
            continue;
        }
        const char e = f[++i];
        const auto more = [&](auto is) { return i + 1 < f.size() && is(f[i + 1]); };
        const auto octal = [](char d) { return d >= '0' && d <= '7'; };
        const auto hex = [](char d) { return std::isxdigit(static_cast<unsigned char>(d)) != 0; };
        const auto named = std::find_if(std::begin(kNamed), std::end(kNamed),
                                        [&](const auto& n) { return n.first == e; });
        if (named != std::end(kNamed)) {
            out += named->second;
        } else if (e == 'x' && more(hex)) {
            int v = hexValue(f[++i]);
            if (more(hex))
                v = v * 16 + hexValue(f[++i]);
            out += char(v);
        } else if (octal(e)) {
            int v = e - '0';
            for (int k = 0; k < 2 && more(octal); ++k)
                v = v * 8 + (f[++i] - '0');
            out += char(v);
        } else {
            out += e;
        }
    }
    return out;
}

// The rows of one table, sent in batches.
struct Target {
    QString table, insert, row;
    std::vector<bool> bytea;
    QList<sql::Value> params;
    int pending = 0;
    qsizetype bytes = 0;
    long long rows = 0;
};

class Loader {
public:
    explicit Loader(ado::Connection& c) : c_(c) {}

    // COPY public.TABLE (COLUMNS) FROM stdin; for one of ours, the columns the new schema has.
    std::optional<Target> target(const QString& header) {
        static const QRegularExpression copy(
            QStringLiteral("^COPY public\\.([a-z_]+) \\(([a-z0-9_, ]+)\\) FROM stdin;$"));
        const auto m = copy.match(header);
        if (!m.hasMatch() ||
            std::none_of(std::begin(kTables), std::end(kTables),
                         [&](const char* t) { return m.captured(1) == QLatin1String(t); }))
            return std::nullopt;
        Target t;
        t.table = m.captured(1);
        std::map<QString, QString> types;
        for (const auto& row :
             c_.rows({QStringLiteral("select column_name::text, data_type::text "
                                     "from information_schema.columns where "
                                     "table_schema = 'public' and table_name = ?"),
                      {{QString(), t.table}}}))
            types[row[0].toString()] = row[1].toString();
        const QStringList columns = m.captured(2).split(QStringLiteral(", "));
        for (const QString& column : columns) {
            if (!types.count(column))
                throw Refused{QStringLiteral("备份中 %1 表的列 %2 是本程序不认识的，没有恢复")
                                  .arg(t.table, column)};
            t.bytea.push_back(types[column] == QLatin1String("bytea"));
        }
        t.insert = QStringLiteral("insert into %1 (%2) values ").arg(t.table, columns.join(u','));
        t.row = QStringLiteral("(?") + QStringLiteral(",?").repeated(columns.size() - 1) +
                QLatin1Char(')');
        return t;
    }

    void add(Target& t, const QByteArray& line) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != qsizetype(t.bytea.size()))
            throw Refused{QStringLiteral("备份中 %1 表有一行格式不对，没有恢复").arg(t.table)};
        for (qsizetype i = 0; i < fields.size(); ++i) {
            const std::optional<QByteArray> v = unescape(fields[i]);
            QVariant value;
            if (v && t.bytea[std::size_t(i)] && v->startsWith("\\x"))
                value = QByteArray::fromHex(v->mid(2));
            else if (v)
                value = QString::fromUtf8(*v);
            t.params.append({QString(), value});
            t.bytes += fields[i].size();
        }
        ++t.rows;
        if (++t.pending >= kBatchRows || t.bytes >= kBatchBytes)
            flush(t);
    }

    void flush(Target& t) {
        if (t.pending == 0)
            return;
        QString text = t.insert;
        for (int i = 0; i < t.pending; ++i)
            text += (i ? QStringLiteral(",") : QString()) + t.row;
        c_.Execute({text, t.params});
        t.params.clear();
        t.pending = 0;
        t.bytes = 0;
    }

private:
    ado::Connection& c_;
};

// Loads the diary's rows; returns the entry number the dump would have given next (0 when it
// says none) and counts the rows of each table in `rows`.
long long load(ado::Connection& c, const QString& dump, std::map<QString, long long>& rows) {
    static const QRegularExpression setval(QStringLiteral(
        "^SELECT pg_catalog\\.setval\\('public\\.jr_content_id_seq', ([0-9]+), (true|false)\\);$"));
    DumpText text(dump);
    Loader loader(c);
    std::optional<Target> into;
    bool copying = false;
    long long next = 0;
    QByteArray line;
    while (text.next(line)) {
        if (copying) {
            if (line == "\\.") {
                if (into) {
                    loader.flush(*into);
                    rows[into->table] += into->rows;
                }
                copying = false;
                into.reset();
            } else if (into) {
                loader.add(*into, line);
            }
            continue;
        }
        if (line.startsWith("COPY ")) {
            copying = true; // another table's rows are read past
            into = loader.target(QString::fromUtf8(line));
        } else if (const auto m = setval.match(QString::fromUtf8(line)); m.hasMatch()) {
            next = m.captured(1).toLongLong() + (m.captured(2) == QLatin1String("true") ? 1 : 0);
        }
    }
    text.finish(dump);
    if (copying)
        throw Refused{QStringLiteral("备份文件不完整，没有恢复")};
    return next;
}

} // namespace

void restore(ado::Connection& to, const QString& dump, const QByteArray& recoveryText) {
    if (!QFileInfo(dump).isFile() || !QFileInfo(dump).isReadable())
        throw Refused{QStringLiteral("无法读取备份文件：%1").arg(dump)};
    const auto tables = to.rows({QStringLiteral("select tablename::text from pg_tables where "
                                                "schemaname = 'public' order by 1"),
                                 {}});
    if (!tables.empty()) {
        QStringList names;
        for (const auto& row : tables)
            names << printable(row[0].toString());
        throw Refused{QStringLiteral("数据库中已经有数据表（%1），不会覆盖：请恢复到 server-setup "
                                     "新建的空数据库")
                          .arg(names.join(QStringLiteral("、")))};
    }

    std::map<QString, long long> rows;
    qint64 restored = 0;
    // The tables, the rows and the roles in one transaction: a failure leaves nothing.
    accounts::inTransaction(to, [&] {
        ado::createServerTables(to);
        const long long next = load(to, dump, rows);
        // Tickets handed out before the backup are above every stored ID: none comes again.
        to.Execute({QStringLiteral("select setval(pg_get_serial_sequence('public.jr_content', "
                                   "'id'), greatest(?, (select coalesce(max(ID), 0) + 1 from "
                                   "JR_content)), false)"),
                    {{QString(), QVariant::fromValue<qint64>(std::max(next, 1LL))}}});

        const auto admin = vault::adminKeyFromRecovery(to.keyStore(), recoveryText);
        const vault::Bytes pk = admin ? vault::publicOf(*admin) : vault::Bytes();
        if (!admin || !to.vouchFor(pk))
            throw Refused{QStringLiteral("恢复密钥打不开这个备份中的管理员密钥（备份不是这个恢复"
                                         "密钥的日记），没有恢复")};

        const auto users = to.rows({QStringLiteral("select u.B_user::text, r.verifier, u.popedom "
                                                   "from JR_user u left join JR_role r on "
                                                   "r.B_user = u.B_user order by u.B_user"),
                                    {}});
        QStringList missing;
        for (const auto& u : users)
            if (u[1].isNull())
                missing << printable(u[0].toString());
        if (!missing.isEmpty())
            throw Refused{QStringLiteral("备份中没有以下用户的登录校验值，无法重建他们的登录，"
                                         "没有恢复：%1")
                              .arg(missing.join(QStringLiteral("、")))};
        for (const auto& u : users) {
            const QString name = u[0].toString();
            // A role left by a database dropped on this server is its user's: it takes the
            // dump's verifier.
            const bool kept = !to.rows({QStringLiteral("select 1 from pg_roles where rolname = "
                                                       "dv_role(?)"),
                                        {{QString(), name}}})
                                   .empty();
            to.Execute({kept ? QStringLiteral("select dayvault_roles.set_password(dv_role(?), ?)")
                             : QStringLiteral("select dayvault_roles.make_role(dv_role(?), ?)"),
                        {{QString(), name}, {QString(), u[1]}}});
            if (u[2].toInt() == 1 || kept)
                to.setServerAdmin(name, u[2].toInt() == 1);
        }
        // Pinned before the rows commit: without the pin the server would be refused.
        vault::writePinned(vault::adminPubPath(to.file()), pk);
        restored = qint64(users.size());
    });
    std::fprintf(stdout, "%s\n",
                 QStringLiteral("已从 %1 恢复 %2 位用户、%3 篇日记\n管理员公钥已写入：%4"
                                "（复制到每台电脑）")
                     .arg(dump)
                     .arg(restored)
                     .arg(rows[QStringLiteral("jr_content")])
                     .arg(vault::adminPubPath(to.file()))
                     .toUtf8()
                     .constData());
}

} // namespace admin
