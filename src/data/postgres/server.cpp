#include "data/postgres/internal.h"
#include "data/postgres/postgres.h"
#include "data/postgres/schema.h"

#include <QCryptographicHash>
#include <QProcess>
#include <cstring>
#include <initializer_list>
#include <libpq-fe.h>

// The server's own statements: the accounts, the schema, and the functions a diary user
// writes through.
namespace ado::postgres {
namespace {

void call(Engine& e, const QString& text, std::initializer_list<QVariant> values) {
    const auto st = e.prepare(text);
    int i = 0;
    for (const QVariant& v : values)
        st->bind(++i, v);
    st->step();
}

} // namespace

QString roleOf(const QString& name) {
    QByteArray folded = name.toUtf8();
    for (char& ch : folded)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch - 'A' + 'a');
    return QStringLiteral("dv_") +
           QString::fromLatin1(QCryptographicHash::hash(folded, QCryptographicHash::Md5).toHex());
}

QString Session::text(Text which) const {
    // A diary user writes his rows through the schema's functions; the owner writes tables.
    const bool user = diaryUser_;
    switch (which) {
    case Text::HasTable:
        return QStringLiteral("select 1 from pg_catalog.pg_tables "
                              "where schemaname='public' and tablename=$1");
    case Text::PutSetting:
        return QStringLiteral("insert into JR_vault(name,value) values($1,$2) "
                              "on conflict (name) do update set value=excluded.value");
    case Text::PutUserKey:
        return user ? QStringLiteral("select dv_put_key($1,$2,$3)")
                    : QStringLiteral("insert into JR_key(B_user,wrapped,escrow) values($1,$2,$3) "
                                     "on conflict (B_user) do update set "
                                     "wrapped=excluded.wrapped,escrow=excluded.escrow");
    case Text::PutEscrow:
        return user ? QStringLiteral("select dv_put_escrow($1,$2)")
                    : QStringLiteral("update JR_key set escrow=$2 where B_user=$1");
    case Text::PutAdminKey:
        return user ? QStringLiteral("select dv_put_admin_key($1,$2)")
                    : QStringLiteral("insert into JR_admin(B_user,wrapped) values($1,$2) "
                                     "on conflict (B_user) do update set wrapped=excluded.wrapped");
    case Text::RemoveAdminKey:
        return user ? QStringLiteral("select dv_remove_admin_key($1)")
                    : QStringLiteral("delete from JR_admin where B_user=$1");
    case Text::PutPlainSignature:
        return QStringLiteral("insert into JR_plain(ID,signature) values($1,$2) "
                              "on conflict (ID) do update set signature=excluded.signature");
    case Text::PutPendingKey:
        return user ? QStringLiteral("select dv_put_rekey($1,$2,$3)")
                    : QStringLiteral("insert into JR_rekey(B_user,wrapped,escrow) values($1,$2,$3) "
                                     "on conflict (B_user) do update set "
                                     "wrapped=excluded.wrapped,escrow=excluded.escrow");
    case Text::RemovePendingKey:
        return user ? QStringLiteral("select dv_drop_rekey($1)")
                    : QStringLiteral("delete from JR_rekey where B_user=$1");
    case Text::PutDraft:
        return user ? QStringLiteral("select dv_put_draft($1,$2,$3,$4,$5)")
                    : QStringLiteral("insert into JR_draft(B_user,kind,entry,made,sealed) "
                                     "values($1,$2,$3,$4,$5) on conflict (B_user,kind) do update "
                                     "set entry=excluded.entry,made=excluded.made,"
                                     "sealed=excluded.sealed");
    case Text::RemoveDraft:
        return user ? QStringLiteral("select dv_drop_draft($1,$2)")
                    : QStringLiteral("delete from JR_draft where B_user=$1 and kind=$2");
    case Text::ReserveId:
        return QStringLiteral("select dv_ticket()");
    case Text::AddEntry:
        return QStringLiteral("select id,next from dv_add_entry($1,$2,$3,$4,$5,$6)");
    case Text::UpdateEntry:
        return QStringLiteral("select dv_update_entry($1,$2,$3,$4,$5,$6)");
    case Text::DeleteEntry:
        return QStringLiteral("select dv_delete_entry($1)");
    case Text::MarkCurrent:
        return QString(); // the server's schema tells its version
    case Text::NextEntryId:
        return user ? QString()
                    : QStringLiteral("select nextval(pg_get_serial_sequence('jr_content','id'))");
    }
    return QString();
}

void Session::registerUser(const QString& name, const QString& publicRecord,
                           const QByteArray& password, const QByteArray& wrapped,
                           const QByteArray& escrow) {
    const QByteArray v = verifier(roleOf(name), password);
    call(*this, QStringLiteral("select dv_register($1,$2,$3,$4,$5)"),
         {name, publicRecord, QString::fromLatin1(v), wrapped, escrow});
}

void Session::setPassword(const QString& name, const QString& publicRecord,
                          const QByteArray& password, bool asUser) {
    const QString role = roleOf(name);
    const QByteArray v = verifier(role, password);
    if (asUser) {
        call(*this, QStringLiteral("select dv_set_password($1,$2)"),
             {publicRecord, QString::fromLatin1(v)});
        return;
    }
    // The schema's owner, for the admin tool: it makes no role itself.
    call(*this, QStringLiteral("update JR_user set B_password=$1 where B_user=$2"),
         {publicRecord, name});
    call(*this, QStringLiteral("select dayvault_roles.set_password($1,$2)"),
         {role, QString::fromLatin1(v)});
    keepVerifier(name, v);
}

void Session::keepVerifier(const QString& name, const QByteArray& verifier) {
    // What a restore needs to make the role again: its verifier, never the password.
    call(*this,
         QStringLiteral("insert into JR_role(B_user,verifier) values($1,$2) on conflict "
                        "(B_user) do update set verifier=excluded.verifier"),
         {name, QString::fromLatin1(verifier)});
}

void Session::addRole(const QString& name, const QByteArray& password) {
    const QByteArray v = verifier(roleOf(name), password);
    call(*this, QStringLiteral("select dayvault_roles.make_role($1,$2)"),
         {roleOf(name), QString::fromLatin1(v)});
    keepVerifier(name, v);
}

void Session::setAdmin(const QString& name, bool admin) {
    call(*this,
         (admin ? QStringLiteral("grant dayvault_admins to %1")
                : QStringLiteral("revoke dayvault_admins from %1"))
             .arg(roleOf(name)),
         {});
}

void Session::runSchema(const char* text) {
    PGresult* r = PQexec(pg_, text);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    const QString why = QString::fromUtf8(PQresultErrorMessage(r)).trimmed();
    PQclear(r);
    if (!ok)
        throw Error(QStringLiteral("数据库服务器无法建立数据表（%1）").arg(why), kServerError,
                    file_);
}

void Session::createTables() {
    const auto st = prepare(text(Text::HasTable));
    st->bind(1, QStringLiteral("jr_vault"));
    if (st->step())
        throw Error(QStringLiteral("数据库中已经有日记的数据表，不会再建一次"), kRefused, file_);
    runSchema(kServerSchemaSql);
}

bool Session::upgrade() {
    const SchemaReport schema = inspectSchema();
    if (!schema.keyTables)
        throw Error(QStringLiteral("数据库中没有日记的数据表：请先运行 dayvault-admin init"),
                    kRefused, file_);
    if (!schema.outdated)
        return false;
    runSchema(std::strstr(kServerSchemaSql, "-- From here on applied again"));
    return true;
}

void Session::backup(const QString& out) {
    // pg_dump's custom format: the sealed columns as they are, never a plain key. Large
    // objects are no part of the diary, and one it may not read would stop the dump.
    QProcess dump;
    dump.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    dump.start(QStringLiteral("pg_dump"),
               {QStringLiteral("--format=custom"), QStringLiteral("--no-blobs"),
                QStringLiteral("--file=") + out, QStringLiteral("--dbname=") + conninfo_});
    if (!dump.waitForFinished(-1) || dump.exitStatus() != QProcess::NormalExit ||
        dump.exitCode() != 0)
        throw Error(QStringLiteral("pg_dump 没有完成备份"), kServerError, file_);
}

} // namespace ado::postgres
