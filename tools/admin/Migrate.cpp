#include "admin/Migrate.h"

#include "accounts/Password.h"
#include "accounts/Session.h"
#include "admin/AdminIo.h"
#include "data/ado.h"
#include "vault/Pinned.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <cstdio>
#include <functional>

namespace admin {
namespace {

struct Table {
    const char* name;
    const char* columns; // the key first
};

// JR_user apart: its records lose their check value on the way.
const Table kTables[] = {{"JR_vault", "name,value"},
                         {"JR_key", "B_user,wrapped,escrow"},
                         {"JR_admin", "B_user,wrapped"},
                         {"JR_plain", "ID,signature"},
                         {"JR_content", "ID,B_title,B_weather,B_content,B_writer,B_time"}};

using Rows = std::vector<std::vector<QVariant>>;

// The rows of a table by its key, a page at a time: a large diary is never held whole.
void eachBatch(ado::Connection& c, const Table& t, const std::function<void(const Rows&)>& f) {
    constexpr int kPage = 500;
    const QString key = QString::fromLatin1(t.columns).section(QLatin1Char(','), 0, 0);
    const QString select =
        QStringLiteral("select %1 from %2").arg(QLatin1String(t.columns), QLatin1String(t.name));
    const QString order = QStringLiteral(" order by %1 limit %2").arg(key).arg(kPage);
    QVariant last;
    for (;;) {
        const Rows rows =
            last.isNull()
                ? c.rows({select + order, {}})
                : c.rows({select + QStringLiteral(" where %1>?").arg(key) + order, {{key, last}}});
        if (!rows.empty())
            f(rows);
        if (rows.size() < std::size_t(kPage))
            return;
        last = rows.back()[0];
    }
}

Rows users(ado::Connection& c, bool server) {
    Rows out = c.rows(
        {QStringLiteral("select B_user,B_password,popedom from JR_user order by lower(B_user)"),
         {}});
    if (!server)
        for (auto& row : out)
            row[1] = accounts::publicRecord(row[1].toString());
    return out;
}

// The same bytes for the same row on either engine: blobs and texts told apart.
void digest(QCryptographicHash& h, const Rows& rows) {
    for (const auto& row : rows)
        for (const QVariant& v : row) {
            QByteArray b;
            char tag = 'n';
            if (v.typeId() == QMetaType::QByteArray)
                tag = 'b', b = v.toByteArray();
            else if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int)
                tag = 'i', b = QByteArray::number(v.toLongLong());
            else if (!v.isNull())
                tag = 't', b = v.toString().toUtf8();
            h.addData(QByteArray(1, tag) + QByteArray::number(b.size()) + ':' + b);
        }
}

QByteArray fingerprint(ado::Connection& c, bool server, long long* count) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    Rows u = users(c, server);
    *count = qint64(u.size());
    digest(h, u);
    for (const Table& t : kTables)
        eachBatch(c, t, [&](const Rows& rows) {
            *count += qint64(rows.size());
            digest(h, rows);
        });
    return h.result().toHex();
}

} // namespace

void migrate(ado::Connection& from, ado::Connection& to) {
    if (!from.sealed() || from.adminPublic().empty())
        throw Refused{QStringLiteral("这个数据库还没有密钥：请先运行 dayvault-admin upgrade")};
    const auto plain =
        from.rows({QStringLiteral("select count(*) from JR_content where typeof(B_title)='text' or "
                                  "typeof(B_weather)='text' or typeof(B_content)='text'"),
                   {}});
    if (plain[0][0].toLongLong() > 0)
        throw Refused{QStringLiteral("有 %1 篇日记还没有密封：请它们的作者先在本机登录一次")
                          .arg(plain[0][0].toLongLong())};
    if (from.hasTable(QStringLiteral("jr_rekey")) &&
        !from.rows({QStringLiteral("select 1 from JR_rekey limit 1"), {}}).empty())
        throw Refused{QStringLiteral("有用户换用新密钥的工作还没有完成：请他们先在本机登录一次")};
    QStringList old;
    const Rows people =
        from.rows({QStringLiteral("select B_user,B_password,popedom from JR_user"), {}});
    for (const auto& row : people)
        if (!accounts::isRecord(row[1].toString()))
            old << printable(row[0].toString());
    if (!old.isEmpty())
        throw Refused{QStringLiteral("以下用户的密码记录是旧格式，请他们先在本机登录一次：%1")
                          .arg(old.join(QStringLiteral("、")))};

    // The tables and the roles too go with the rows: a failed migration leaves nothing.
    long long n = 0, m = 0;
    QByteArray a;
    const auto progress = progressOn(QStringLiteral("迁移"));
    const long long total = from.entryCount(QString(), false);
    long long copied = 0;
    accounts::inTransaction(to, [&] {
        ado::createServerTables(to);
        for (const auto& row : people) {
            const QString name = row[0].toString(), record = row[1].toString();
            to.addServerRole(name, accounts::serverPassword(record));
            to.Execute(
                {QStringLiteral("insert into JR_user(B_user,B_password,popedom) values(?,?,?)"),
                 {{QStringLiteral("B_user"), name},
                  {QStringLiteral("B_password"), accounts::publicRecord(record)},
                  {QStringLiteral("popedom"), row[2]}}});
            if (row[2].toInt() == 1)
                to.setServerAdmin(name, true);
        }
        for (const Table& t : kTables) {
            const QStringList cols = QString::fromLatin1(t.columns).split(QLatin1Char(','));
            const QString one =
                QStringLiteral("(?%1)").arg(QStringLiteral(",?").repeated(cols.size() - 1));
            // A page in one statement: one round trip to the server, not one a row.
            eachBatch(from, t, [&](const Rows& rows) {
                sql::Statement s{QStringLiteral("insert into %1(%2) values")
                                     .arg(QLatin1String(t.name), QLatin1String(t.columns)),
                                 {}};
                for (std::size_t r = 0; r < rows.size(); ++r) {
                    s.text += (r ? QStringLiteral(",") : QString()) + one;
                    for (qsizetype i = 0; i < cols.size(); ++i)
                        s.params.append({cols[i], rows[r][std::size_t(i)]});
                }
                to.Execute(s);
                if (QLatin1String(t.name) == QLatin1String("JR_content") && progress)
                    progress(copied += qint64(rows.size()), total);
            });
        }
        // What a program that died left unsaved is its writer's still: two a user at most.
        if (from.hasTable(QStringLiteral("jr_draft")))
            for (const auto& row : from.rows(
                     {QStringLiteral("select B_user,kind,entry,made,sealed from JR_draft"), {}}))
                to.Execute({QStringLiteral("insert into JR_draft(B_user,kind,entry,made,sealed) "
                                           "values(?,?,?,?,?)"),
                            {{QString(), row[0]},
                             {QString(), row[1]},
                             {QString(), row[2]},
                             {QString(), row[3]},
                             {QString(), row[4]}}});
        to.Execute(QStringLiteral("select setval(pg_get_serial_sequence('jr_content','id'), "
                                  "coalesce(max(ID), 0) + 1, false) from JR_content"));
        a = fingerprint(from, false, &n);
        const QByteArray b = fingerprint(to, true, &m);
        if (a != b || n != m)
            throw Refused{QStringLiteral("复制后的数据与原来的不一致（%1 行对 %2 行），没有迁移")
                              .arg(n)
                              .arg(m)};
        // Pinned before the rows commit: without the pin the server would be refused.
        vault::writePinned(vault::adminPubPath(to.file()), from.adminPublic());
        if (!from.signingPublic().empty())
            vault::writePinned(vault::upgradePubPath(to.file()), from.signingPublic());
    });
    std::fprintf(stdout, "%s\n",
                 QStringLiteral("已迁移 %1 行，摘要 %2 两边一致")
                     .arg(n)
                     .arg(QString::fromLatin1(a.left(16)))
                     .toUtf8()
                     .constData());
}

} // namespace admin
