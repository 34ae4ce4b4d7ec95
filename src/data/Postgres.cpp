#include "data/Postgres.h"

#include "data/schema.h"
#include "vault/KeyRing.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"
#include "vault/Pinned.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTimeZone>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <libpq-fe.h>
#include <poll.h>
#include <sodium.h>
#include <vector>

namespace ado {

const char* const kGuestRole = "dayvault_guest";
const char* const kGuestPassword = "dayvault_guest";

namespace {

constexpr Oid kBytea = 17;

// The embedded engine's statement text as the server takes it.
QString serverText(const QString& text, bool& noop, bool& returnsId) {
    QString t = text.trimmed();
    if (t.endsWith(QLatin1Char(';')))
        t.chop(1);
    const QString lower = t.toLower();
    noop = lower.startsWith(QLatin1String("pragma"));
    returnsId = lower.startsWith(QLatin1String("insert into jr_content"));
    if (lower == QLatin1String("begin immediate"))
        return QStringLiteral("begin");
    QString out;
    int n = 0;
    bool quoted = false;
    for (const QChar ch : t) {
        if (ch == QLatin1Char('\''))
            quoted = !quoted;
        if (ch == QLatin1Char('?') && !quoted)
            out += QLatin1Char('$') + QString::number(++n);
        else
            out += ch;
    }
    if (returnsId)
        out += QStringLiteral(" returning ID");
    return out;
}

class PgCursor : public Cursor {
public:
    PgCursor(PgSession& s, const QString& text) : s_(s) {
        text_ = serverText(text, noop_, returnsId_).toUtf8();
    }
    ~PgCursor() override {
        PQclear(res_);
        for (QByteArray& v : values_)
            sodium_memzero(v.data(), std::size_t(v.size()));
    }

    void bind(int i, const QVariant& v) override {
        const std::size_t at = std::size_t(i - 1);
        if (values_.size() <= at) {
            values_.resize(at + 1);
            nulls_.resize(at + 1, true);
            types_.resize(at + 1, 0);
            formats_.resize(at + 1, 0);
        }
        nulls_[at] = v.isNull() && v.typeId() != QMetaType::QByteArray;
        types_[at] = 0;
        formats_[at] = 0;
        switch (v.typeId()) {
        case QMetaType::UnknownType:
            nulls_[at] = true;
            break;
        case QMetaType::QByteArray:
            values_[at] = v.toByteArray();
            types_[at] = kBytea;
            formats_[at] = 1;
            nulls_[at] = false;
            break;
        case QMetaType::Bool:
            values_[at] = v.toBool() ? "1" : "0";
            break;
        default: {
            const QString text = v.toString();
            // libpq sends a text up to its first NUL: "bo\0b" would be taken for "bo".
            if (text.contains(QChar(0)))
                throw Error(QStringLiteral("文字中含有空字符（U+0000），数据库服务器无法保存"),
                            kServerError, s_.file());
            values_[at] = text.toUtf8();
        }
        }
    }
    bool step() override {
        run();
        ++row_;
        return row_ < PQntuples(res_);
    }
    int columns() const override {
        const_cast<PgCursor*>(this)->run();
        return PQnfields(res_);
    }
    QString name(int i) const override {
        const_cast<PgCursor*>(this)->run();
        return QString::fromUtf8(PQfname(res_, i));
    }
    QVariant value(int i) const override {
        if (row_ < 0 || row_ >= PQntuples(res_) || PQgetisnull(res_, row_, i))
            return QVariant();
        const char* v = PQgetvalue(res_, row_, i);
        switch (PQftype(res_, i)) {
        case 16: // bool
            return QVariant::fromValue<qint64>(v[0] == 't' ? 1 : 0);
        case 20: // int8
        case 21: // int2
        case 23: // int4
            return QVariant::fromValue<qint64>(std::strtoll(v, nullptr, 10));
        case kBytea: {
            std::size_t n = 0;
            unsigned char* b = PQunescapeBytea(reinterpret_cast<const unsigned char*>(v), &n);
            QByteArray out(reinterpret_cast<const char*>(b), qsizetype(n));
            PQfreemem(b);
            return out;
        }
        default:
            return QString::fromUtf8(v, PQgetlength(res_, row_, i));
        }
    }

private:
    void run() {
        if (ran_)
            return;
        ran_ = true;
        if (noop_) {
            res_ = PQmakeEmptyPGresult(s_.raw(), PGRES_COMMAND_OK);
            s_.changes_ = 0;
            return;
        }
        std::vector<const char*> values;
        std::vector<int> lengths;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            values.push_back(nulls_[i] ? nullptr : values_[i].constData());
            lengths.push_back(int(values_[i].size()));
        }
        res_ = s_.exec(text_.constData(), int(values.size()), types_.data(), values.data(),
                       lengths.data(), formats_.data());
        const ExecStatusType st = PQresultStatus(res_);
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
            const char* state = res_ ? PQresultErrorField(res_, PG_DIAG_SQLSTATE) : nullptr;
            const char* primary =
                res_ ? PQresultErrorField(res_, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
            s_.fail(state, QString::fromUtf8(primary ? primary : PQerrorMessage(s_.raw())));
        }
        s_.changes_ = std::strtoll(PQcmdTuples(res_), nullptr, 10);
        if (returnsId_ && PQntuples(res_) > 0)
            s_.lastId_ = std::strtoll(PQgetvalue(res_, 0, 0), nullptr, 10);
    }

    PgSession& s_;
    QByteArray text_;
    bool noop_ = false, returnsId_ = false, ran_ = false;
    std::vector<QByteArray> values_;
    std::vector<bool> nulls_;
    std::vector<Oid> types_;
    std::vector<int> formats_;
    PGresult* res_ = nullptr;
    int row_ = -1;
};

// True when any host of the connection string is reached over the network.
bool overTcp(const QByteArray& conninfo) {
    char* err = nullptr;
    PQconninfoOption* opts = PQconninfoParse(conninfo.constData(), &err);
    PQfreemem(err);
    bool tcp = false;
    for (PQconninfoOption* o = opts; o && o->keyword; ++o) {
        const QByteArray key(o->keyword), value(o->val ? o->val : "");
        if (key == "hostaddr" && !value.isEmpty())
            tcp = true;
        if (key == "host")
            for (const QByteArray& h : value.split(','))
                tcp = tcp || (!h.isEmpty() && !h.startsWith('/') && !h.startsWith('@'));
    }
    PQconninfoFree(opts);
    return tcp;
}

} // namespace

PgSession::PgSession(Connection& c, const QString& conninfo, const QString& user,
                     const QByteArray& password)
    : conn_(c) {
    const QByteArray info = conninfo.toUtf8(), role = user.toUtf8();
    // Later keywords override what the connection string says.
    std::vector<const char*> keys = {"connect_timeout", "dbname"};
    std::vector<const char*> values = {"5", info.constData()};
    if (!user.isEmpty()) {
        keys.insert(keys.end(), {"user", "password"});
        values.insert(values.end(), {role.constData(), password.constData()});
    }
    // Over the network the password goes only to the server whose certificate verifies.
    if (overTcp(info)) {
        keys.push_back("sslmode");
        values.push_back("verify-full");
    }
    // Set at the start, not by statements more: a login waits for every round trip. No wait
    // is without end: a lock, a statement, and over the network a peer that stopped answering.
    // B_time is the writing computer's local time, as in the embedded file.
    QByteArray zone = QTimeZone::systemTimeZoneId();
    zone.replace('\\', "\\\\").replace(' ', "\\ ");
    // The admin tool's connection (no user of ours) runs the long jobs.
    statementMs_ = user.isEmpty() ? 600000 : std::max(2 * busyTimeout(), 5000);
    const QByteArray options = "-c search_path=public,pg_temp -c TimeZone=" + zone +
                               " -c lock_timeout=" + QByteArray::number(busyTimeout()) +
                               " -c statement_timeout=" + QByteArray::number(statementMs_);
    const QByteArray userTimeout = QByteArray::number(statementMs_ + 2000);
    keys.insert(keys.end(),
                {"client_encoding", "application_name", "options", "keepalives", "keepalives_idle",
                 "keepalives_interval", "keepalives_count", "tcp_user_timeout", nullptr});
    values.insert(values.end(), {"UTF8", "dayvault", options.constData(), "1", "10", "3", "3",
                                 userTimeout.constData(), nullptr});
    pg_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (PQstatus(pg_) != CONNECTION_OK) {
        const QString why = QString::fromUtf8(PQerrorMessage(pg_)).trimmed();
        PQfinish(pg_);
        pg_ = nullptr;
        if (why.contains(QLatin1String("authentication failed")))
            throw Error(QStringLiteral("数据库服务器拒绝了登录（%1）").arg(why), kServerAuth,
                        c.file());
        if (why.contains(QLatin1String("certificate")) || why.contains(QLatin1String("SSL")))
            throw Error(
                QStringLiteral("数据库服务器的证书无法验证，已拒绝连接，什么也没有发送（%1）")
                    .arg(why),
                kServerTls, c.file());
        throw Error(QStringLiteral("无法连接数据库服务器，请检查网络或稍后再试（%1）").arg(why),
                    kServerDown, c.file());
    }
    // The server's notices (a shutdown, say) are for its log, not our stderr.
    PQsetNoticeProcessor(
        pg_, [](void*, const char*) {}, nullptr);
}

PgSession::~PgSession() {
    PQfinish(pg_);
}

PGresult* PgSession::exec(const char* text, int n, const Oid* types, const char* const* values,
                          const int* lengths, const int* formats) {
    // The server cancels a statement after its own timeout and says so; one that says
    // nothing at all (stopped, or gone without a word) is given up a little later.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(statementMs_ + 2000);
    if (!pg_ || !PQsendQueryParams(pg_, text, n, types, values, lengths, formats, 0))
        return nullptr;
    PGresult* last = nullptr;
    const auto abandon = [&] {
        PQclear(last);
        PQfinish(pg_);
        pg_ = nullptr;
        throw Error(QStringLiteral("数据库服务器没有回应，请稍后再试；输入的内容仍在窗口中"),
                    kServerBusy, conn_.file());
    };
    const auto wait = [&](short events) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{PQsocket(pg_), events, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) == 0)
            abandon();
    };
    for (int r; (r = PQflush(pg_)) != 0;) {
        if (r < 0)
            return nullptr;
        wait(POLLIN | POLLOUT);
        PQconsumeInput(pg_);
    }
    for (;;) {
        while (PQisBusy(pg_)) {
            wait(POLLIN);
            if (!PQconsumeInput(pg_)) {
                PQclear(last);
                return nullptr;
            }
        }
        PGresult* r = PQgetResult(pg_);
        if (!r)
            return last;
        // The first failure is the one that tells why.
        if (last && PQresultStatus(last) != PGRES_COMMAND_OK &&
            PQresultStatus(last) != PGRES_TUPLES_OK) {
            PQclear(r);
            continue;
        }
        PQclear(last);
        last = r;
    }
}

std::unique_ptr<Cursor> PgSession::prepare(const QString& text) {
    return std::make_unique<PgCursor>(*this, text);
}

bool PgSession::inTransaction() const {
    const PGTransactionStatusType t = PQtransactionStatus(pg_);
    return t == PQTRANS_INTRANS || t == PQTRANS_INERROR || t == PQTRANS_ACTIVE;
}

bool PgSession::lost() const {
    // A server that went away while we were idle has said so, or closed the socket: reading
    // what is pending tells, without waiting.
    // The first read may take only its farewell message, the second finds the socket closed.
    for (int i = 0;
         pg_ && i < 2 && PQtransactionStatus(pg_) == PQTRANS_IDLE && PQstatus(pg_) == CONNECTION_OK;
         ++i)
        PQconsumeInput(pg_);
    return !pg_ || PQstatus(pg_) != CONNECTION_OK;
}

QByteArray PgSession::verifier(const QString& role, const QByteArray& password) {
    char* v = PQencryptPasswordConn(pg_, password.constData(), role.toUtf8().constData(),
                                    "scram-sha-256");
    if (!v)
        fail(nullptr, QString::fromUtf8(PQerrorMessage(pg_)));
    QByteArray out(v);
    PQfreemem(v);
    return out;
}

void PgSession::fail(const char* sqlstate, const QString& primary) {
    const QByteArray state(sqlstate ? sqlstate : "");
    const QString file = conn_.file();
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

QString roleOf(const QString& name) {
    QByteArray folded = name.toUtf8();
    for (char& ch : folded)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch - 'A' + 'a');
    return QStringLiteral("dv_") +
           QString::fromLatin1(QCryptographicHash::hash(folded, QCryptographicHash::Md5).toHex());
}

SchemaReport inspectServerSchema(Connection& c, Handle* h) {
    SchemaReport report;
    bool ticketTable = false;
    Stmt tables(c, h,
                QStringLiteral("select tablename from pg_catalog.pg_tables "
                               "where schemaname='public' and tablename like 'jr\\_%'"));
    while (tables.step()) {
        const QString name = tables.value(0).toString();
        ++report.tables;
        report.keyTables = report.keyTables || name == QLatin1String("jr_vault") ||
                           name == QLatin1String("jr_key");
        report.vaultTable = report.vaultTable || name == QLatin1String("jr_vault");
        ticketTable = ticketTable || name == QLatin1String("jr_ticket");
    }
    // Its writers still hold table rights and no function to save through.
    report.outdated = report.keyTables && !ticketTable;
    // Only the owner can add these; a trigger or a rule would still run as whoever writes.
    Stmt extra(c, h,
               QStringLiteral("select t.tgname from pg_catalog.pg_trigger t "
                              "join pg_catalog.pg_class r on r.oid=t.tgrelid "
                              "join pg_catalog.pg_namespace n on n.oid=r.relnamespace "
                              "where n.nspname='public' and not t.tgisinternal "
                              "union all select rulename from pg_catalog.pg_rules "
                              "where schemaname='public'"));
    while (extra.step())
        report.unknown << extra.value(0).toString();
    return report;
}

// ---- Connection on a server ----

namespace {

struct ServerTarget {
    QString pins, conninfo;
    bool owner = false;
};

ServerTarget serverTarget(const QString& connectionString) {
    ServerTarget t;
    QString rest = connectionString;
    while (!rest.isEmpty()) {
        if (rest.startsWith(QLatin1String("conninfo="))) {
            t.conninfo = rest.mid(9);
            break;
        }
        const qsizetype semi = rest.indexOf(QLatin1Char(';'));
        const QString part = rest.left(semi);
        if (part.startsWith(QLatin1String("pins=")))
            t.pins = part.mid(5);
        if (part == QLatin1String("as=owner"))
            t.owner = true;
        if (semi < 0)
            break;
        rest = rest.mid(semi + 1);
    }
    return t;
}

QByteArray secretText(const vault::Secret& s) {
    return QByteArray(reinterpret_cast<const char*>(s.data()), qsizetype(s.size()));
}

} // namespace

void Connection::openServer(bool sameServer) {
    const ServerTarget target = serverTarget(ConnectionString);
    path_ = target.pins + QStringLiteral("/dayvault.conf");
    conninfo_ = target.conninfo;
    QString user;
    QByteArray password;
    if (!loginName_.isEmpty()) {
        user = roleOf(loginName_);
        password = secretText(loginPassword_);
    } else if (keys && !keys->serverName().isEmpty()) {
        user = roleOf(keys->serverName());
        password = secretText(keys->serverPassword());
    } else if (!target.owner) {
        user = QString::fromLatin1(kGuestRole);
        password = kGuestPassword;
    }
    auto session = std::make_unique<PgSession>(*this, conninfo_, user, password);
    sodium_memzero(password.data(), std::size_t(password.size()));
    pg_ = session.get();
    handle_ = std::move(session);
    // A login connects again to the server the guest's connection checked a moment ago.
    const bool checked = sameServer && !adminPublic_.empty() && pin_ == pinNow();
    try {
        if (!checked)
            checkFile(nullptr);
    } catch (...) {
        dropHandle();
        throw;
    }
    stale_ = false;
}

void Connection::logIn(const QString& name, const vault::Secret& password) {
    if (!server_)
        return;
    loginName_ = name;
    loginPassword_ = password.copy();
    dropHandle();
    try {
        openServer(true);
    } catch (...) {
        // Back to the guest, so the next try starts where this one did.
        loginName_.clear();
        loginPassword_ = vault::Secret();
        try {
            openServer();
        } catch (const Error&) {
        }
        throw;
    }
}

void Connection::registerUser(const QString& name, const QString& publicRecord,
                              const vault::Secret& password, const vault::UserKeyRecord& record) {
    usable();
    const QByteArray v = pg_->verifier(roleOf(name), secretText(password));
    Execute({QStringLiteral("select dv_register(?,?,?,?,?)"),
             {{QStringLiteral("B_user"), name},
              {QStringLiteral("B_password"), publicRecord},
              {QString(), QString::fromLatin1(v)},
              {QString(), vault::qbytes(record.wrapped)},
              {QString(), vault::qbytes(record.escrow)}}});
}

void Connection::setServerPassword(const QString& name, const QString& publicRecord,
                                   const vault::Secret& password) {
    usable();
    const QString role = roleOf(name);
    const QByteArray v = pg_->verifier(role, secretText(password));
    const bool asUser = !loginName_.isEmpty() || (keys && !keys->serverName().isEmpty());
    if (asUser) {
        Execute(
            {QStringLiteral("select dv_set_password(?,?)"),
             {{QStringLiteral("B_password"), publicRecord}, {QString(), QString::fromLatin1(v)}}});
        return;
    }
    // The schema's owner, for the admin tool: it makes no role itself.
    Execute({QStringLiteral("update JR_user set B_password=? where B_user=?"),
             {{QStringLiteral("B_password"), publicRecord}, {QStringLiteral("B_user"), name}}});
    Execute({QStringLiteral("select dayvault_roles.set_password(?,?)"),
             {{QString(), role}, {QString(), QString::fromLatin1(v)}}});
    keepVerifier(name, v);
}

void Connection::keepVerifier(const QString& name, const QByteArray& verifier) {
    // What a restore needs to make the role again: its verifier, never the password.
    Execute({QStringLiteral("insert into JR_role(B_user,verifier) values(?,?) on conflict "
                            "(B_user) do update set verifier=excluded.verifier"),
             {{QStringLiteral("B_user"), name}, {QString(), QString::fromLatin1(verifier)}}});
}

namespace {

// One text of several statements: the server runs it as one transaction.
void runSchema(PgSession& owner, const char* text) {
    PGresult* r = PQexec(owner.raw(), text);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    const QString why = QString::fromUtf8(PQresultErrorMessage(r)).trimmed();
    PQclear(r);
    if (!ok)
        throw Error(QStringLiteral("数据库服务器无法建立数据表（%1）").arg(why), kServerError,
                    owner.file());
}

} // namespace

void createServerTables(Connection& owner) {
    owner.usable();
    if (owner.keyStore().hasKeyTables())
        throw Error(QStringLiteral("数据库中已经有日记的数据表，不会再建一次"), kRefused,
                    owner.file());
    runSchema(*owner.pg_, kServerSchemaSql);
}

bool upgradeServer(Connection& owner) {
    owner.usable();
    const SchemaReport schema = inspectServerSchema(owner, owner.pg_);
    if (!schema.keyTables)
        throw Error(QStringLiteral("数据库中没有日记的数据表：请先运行 dayvault-admin init"),
                    kRefused, owner.file());
    if (!schema.outdated)
        return false;
    runSchema(*owner.pg_, std::strstr(kServerSchemaSql, "-- From here on applied again"));
    return true;
}

void Connection::addServerRole(const QString& name, const vault::Secret& password) {
    usable();
    const QByteArray v = pg_->verifier(roleOf(name), secretText(password));
    Execute({QStringLiteral("select dayvault_roles.make_role(?,?)"),
             {{QString(), roleOf(name)}, {QString(), QString::fromLatin1(v)}}});
    keepVerifier(name, v);
}

void Connection::setServerAdmin(const QString& name, bool admin) {
    if (!server_)
        return;
    Execute((admin ? QStringLiteral("grant dayvault_admins to %1")
                   : QStringLiteral("revoke dayvault_admins from %1"))
                .arg(roleOf(name)));
}

QByteArray initServer(Connection& owner) {
    createServerTables(owner);
    owner.Execute(QStringLiteral("begin"));
    vault::Installation keys;
    try {
        keys = vault::newInstallation(owner.keyStore());
        owner.Execute(QStringLiteral("commit"));
    } catch (...) {
        owner.Execute(QStringLiteral("rollback"));
        throw;
    }
    vault::writePinned(vault::adminPubPath(owner.file()), keys.adminPublic);
    return keys.recoveryText;
}

void backupServer(Connection& owner, const QString& out) {
    // pg_dump's custom format: the sealed columns as they are, never a plain key. Large
    // objects are no part of the diary, and one it may not read would stop the dump.
    QProcess dump;
    dump.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    dump.start(QStringLiteral("pg_dump"),
               {QStringLiteral("--format=custom"), QStringLiteral("--no-blobs"),
                QStringLiteral("--file=") + out, QStringLiteral("--dbname=") + owner.conninfo_});
    if (!dump.waitForFinished(-1) || dump.exitStatus() != QProcess::NormalExit ||
        dump.exitCode() != 0)
        throw Error(QStringLiteral("pg_dump 没有完成备份"), kServerError, owner.file());
}

} // namespace ado
